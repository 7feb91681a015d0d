-- Keeps objects on the terrain with GetTerraineHeight(x, y).

-- The ball rolls round a circle, resting on the ground (radius 3).
function RollBall(id)
  local t = GetCurrentTime() / 1000
  local x = 45 * math.cos(t * 0.5)
  local y = 45 * math.sin(t * 0.5)
  SetPositionX(id, x)
  SetPositionY(id, y)
  SetPositionZ(id, GetTerraineHeight(x, y) + 3)
end

-- A tree (a cone 10 high around its middle) stands wherever it is put.
function StandOnGround(id)
  SetPositionZ(id, GetTerraineHeight(GetPositionX(id), GetPositionY(id)) + 5)
end
