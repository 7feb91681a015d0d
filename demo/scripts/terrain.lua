-- The terrain scene: the camera, the ball and the trees keep to the ground
-- through GetTerraineHeight.

-- The walking camera's eye stays this high above the ground.
local eye = 30

function WalkOnGround(id)
  local x = GetCameraCoord(id, "X")
  local y = GetCameraCoord(id, "Y")
  SetCameraCoord(id, "Z", GetTerraineHeight(x, y) + eye)
end

-- The ball rolls round a circle over the hills, resting on the ground.
function RollBall(id)
  local t = GetCurrentTime() / 1000
  local x = -20 + 80 * math.cos(t * 0.35)
  local y = -170 + 80 * math.sin(t * 0.35)
  SetPositionX(id, x)
  SetPositionY(id, y)
  SetPositionZ(id, GetTerraineHeight(x, y) + 4)
end

-- A tree (a cone 14 high around its middle) stands wherever it is put.
function StandOnGround(id)
  SetPositionZ(id, GetTerraineHeight(GetPositionX(id), GetPositionY(id)) + 7)
end
