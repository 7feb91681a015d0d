-- Functions of single objects, called every frame with the object's id
-- while the object is near a camera of its module.

local ringMade = false

-- Makes eight crates on a circle, in the module Ring, once the scene has
-- loaded (objects are updated only after loading, so this is the time).
local function MakeRing()
  local ring = GetObjectID("Ring")
  for i = 1, 8 do
    local a = i * math.pi / 4
    -- A text for the position, then the crate that names it.
    CreateObject(0, "C_D3DXSTRING", "Crate" .. i .. "At",
                 string.format("%.2f; %.2f; 0.6", 9 * math.cos(a), 9 * math.sin(a)), "", "", "")
    CreateObject(ring, "C_PositionObject", "Crate" .. i,
                 "C_D3DXMESH9_BOX; CrateSize; Crate" .. i .. "At;", "", "true", "Yellow")
  end
end

-- 90 degrees a second about Z.
function Spin(id)
  if not ringMade then
    ringMade = true
    MakeRing()
  end
  SetPositionC(id, (GetCurrentTime() * 0.09) % 360)
end

-- Up and down once every two seconds.
function Bob(id)
  SetPositionZ(id, 2 + 1.5 * math.abs(math.sin(GetCurrentTime() * math.pi / 2000)))
end
