-- The axes. The program gives each command a start and a finish time and
-- each axis a start and a finish value; in between the axis moves linearly
-- with the frame time. The value goes into the global named by the third
-- field of the object's script attribute.

local function Interpolate(id)
  local startTime, finishTime = GetStartTime(), GetFinishTime()
  local share = 1
  if finishTime > startTime then
    share = (GetCurrentTime() - startTime) / (finishTime - startTime)
    if share < 0 then share = 0 elseif share > 1 then share = 1 end
  end
  local from = GetStartPoint(id)
  return from + (GetFinishPoint(id) - from) * share
end

function AxisX(id) ValueX = Interpolate(id) end
function AxisY(id) ValueY = Interpolate(id) end
function AxisZ(id) ValueZ = Interpolate(id) end
