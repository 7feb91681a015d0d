// The real Tarnwick program, headless with a fixed 20 ms frame step, on a
// scene of axis-move objects whose scripts write the command number and the
// command times to the log with ToLog. The logged sequence must be the one
// the timing rules give. The module has no camera, so every object is
// updated every frame wherever it is.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "Common/ScratchFolder.h"

namespace {

constexpr long FrameStep = 20;

const char* const kTextIni =
    "FolderScript = scripts\n"
    "FolderFont = fonts\n"
    "LoadScreen = Loading\n"
    "LoadScreenFont = DejaVu Sans; 40; 700\n"
    "AxisBox = 2; 2; 2\n"
    "AxisStart = 0; 3; 0\n";

const char* const kScene =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<scene name=\"Machine\" class=\"C_BaseModule\" script=\"start.lua\">\n"
    "  <a name=\"AxisX\" class=\"C_AxisMoveObject\" value=\"C_D3DXMESH9_BOX; AxisBox; AxisStart; ; ; ; X\"\n"
    "     script=\"axis.lua; AxisX; ValueX\"/>\n"
    "  <a name=\"AxisY\" class=\"C_AxisMoveObject\" value=\";;;;;;Y\" script=\"axis.lua; AxisY; ValueY\"/>\n"
    "</scene>\n";

const char* const kAxisScript =
    "local function Interpolate(id)\n"
    "  local t0, t1 = GetStartTime(), GetFinishTime()\n"
    "  local k = 1\n"
    "  if t1 > t0 then k = math.min(1, (GetCurrentTime() - t0) / (t1 - t0)) end\n"
    "  return GetStartPoint(id) + (GetFinishPoint(id) - GetStartPoint(id)) * k\n"
    "end\n"
    "function AxisX(id)\n"
    "  local n = GetNumCommand()\n"
    "  if n ~= shown then\n"
    "    shown = n\n"
    "    ToLog(string.format('cmd %d %d %d', n, GetStartTime(), GetFinishTime()))\n"
    "  end\n"
    "  ValueX = Interpolate(id)\n"
    "  if n == 3 and GetCurrentTime() >= GetFinishTime() + 100 and not ended then\n"
    "    ended = true\n"
    "    ToLog(string.format('end %.3f %.3f', GetPositionX(id), GetPositionY(GetObjectID('AxisY'))))\n"
    "  end\n"
    "end\n"
    "function AxisY(id) ValueY = Interpolate(id) end\n";

std::string ReadAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(TarnwickMachine, LoggedCommandTimesFollowTheRules)
{
    ScratchFolder dir;
    const auto program = dir.path() / "program";
    std::filesystem::create_directories(program / "scripts");
    std::filesystem::copy_file(std::filesystem::path(TW_BINARY_DIR) / "Tarnwick", program / "Tarnwick");
    ScratchFolder::Write(program / "text.ini", kTextIni);
    ScratchFolder::Write(program / "MainModule.xml", kScene);
    ScratchFolder::Write(program / "scripts" / "axis.lua", kAxisScript);
    ScratchFolder::Write(program / "scripts" / "start.lua", "LoadProgramm('mill.nc')\n");
    ScratchFolder::Write(program / "mill.nc", "; test program\nG01 X10 F600\nG00 Y5\nM03\nG01 X0 Y0 F1200\n");

    const std::string command = "cd '" + program.string() +
                                "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=200 TARNWICK_STEP_MS=" +
                                std::to_string(FrameStep) + " timeout 120 ./Tarnwick > '" +
                                (dir / "out.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadAll(dir / "out.txt");

    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "log"))
        if (entry.path().extension() == ".html") log += ReadAll(entry.path());
    std::vector<std::tuple<long, long, long>> logged;
    const std::regex line("cmd (-?[0-9]+) ([0-9]+) ([0-9]+)");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it)
        logged.emplace_back(std::stol((*it)[1]), std::stol((*it)[2]), std::stol((*it)[3]));
    ASSERT_EQ(logged.size(), 5u) << log;

    // The first command starts at the first frame after loading, on the
    // program's clock (1000, then one step per frame); every later one at
    // the first frame after the previous one finished. Durations: length *
    // 60000 / feed, 10 ms without movement, the rapid feed 10000.
    const long first = std::get<1>(logged[1]);
    EXPECT_EQ((first - 1000) % FrameStep, 0) << first;
    const long durations[] = {1000, 30, 10, 559};   // the last: sqrt(125) at 1200
    std::vector<std::tuple<long, long, long>> expected = {{-1, 0, 0}};
    long start = first;
    long finish = 0;
    for (int n = 0; n < 4; ++n) {
        while (start <= finish) start += FrameStep;
        finish = start + durations[n];
        expected.emplace_back(n, start, finish);
    }
    EXPECT_EQ(logged, expected);

    // The axes followed their scripts back to the origin.
    EXPECT_NE(log.find("end 0.000 0.000"), std::string::npos) << log;
}
