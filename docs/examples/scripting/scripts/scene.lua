-- The scene module's script: run once when the module loads, then
-- SceneFrame is called every frame with the module's id.

local radius = 26      -- the camera's distance from the centre
local height = 9

function SceneFrame(id)
  local t = GetCurrentTime() / 1000            -- seconds
  local eye = GetObjectID("Eye")
  -- Walk the camera around the centre: heading C turns it (radians), X and
  -- Y place it on a circle, so that it always looks at the centre.
  local heading = math.pi + 0.15 * t
  SetCameraCoord(eye, "C", heading)
  SetCameraCoord(eye, "X", -radius * math.sin(heading))
  SetCameraCoord(eye, "Y", radius * math.cos(heading))
  SetCameraCoord(eye, "Z", height)
  SetString(GetObjectID("Clock"), string.format("t = %.1f s", t))
end
