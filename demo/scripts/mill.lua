-- The machine module: loads the motion program once and shows the line
-- being executed.

LoadProgramm("programs\\mill.nc")

local shown = nil

function MillFrame(id)
  local line = GetNumCommand()
  if line ~= shown then
    shown = line
    local text = GetStringCommand(line)
    if text == "" then text = "G-code" end
    SetString(GetObjectID("MillCommandText"), string.format("%4d  %s", line + 1, text))
  end
end
