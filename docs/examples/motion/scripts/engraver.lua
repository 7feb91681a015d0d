-- The machine's module script: loads the motion program once when the
-- module loads, then every frame shows the line being executed.

LoadProgramm("programs\\engrave.nc")

local shown = nil

function ShowLine(id)
  local line = GetNumCommand()
  if line ~= shown then
    shown = line
    local text = GetStringCommand(line)
    if text == "" then text = "G-code" end
    SetString(GetObjectID("Line"), string.format("%3d  %s", line + 1, text))
  end
end
