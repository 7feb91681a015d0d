// The real Tarnwick program, headless, on program folders that go wrong the
// way users' folders do: scripts that end the program or delete objects in
// the middle of a frame, failing scripts, extra objects that draw each
// other, settings and module files nested 100,000 deep or cut short, stale
// temporaries of a killed run, a main module inside a storage archive. Every
// run must end with exit code 0 and, in the sanitizer build, without a
// sanitizer report.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Common/CodePage.h"
#include "Common/FilePath.h"
#include "Common/ScratchFolder.h"
#include "TestProgram/ProgramOutput.h"
#include "VirtualFileSystem/ArchiveWriter.h"
#include "Wrappers/XMLParser/XMLSettings.h"

namespace {

namespace fs = std::filesystem;

using tw_test::Image;
using tw_test::ReadAll;
using tw_test::ReadPng;

const char* const kText =
    "FolderScript = scripts\n"
    "FolderFont = fonts\n"
    "LoadScreen = Loading\n"
    "LoadScreenFont = DejaVu Sans; 40; 700\n"
    "Full = 0; 0; 1; 1\n"
    "View = 0.0; 0.0; 1.0; 1.0\n"
    "NearFar = 0.5; 1000\n"
    "EyeAt = 0; 30; 12\n"
    "EyeAngles = 1.75; 0; 0\n"
    "Cube = 6; 6; 6\n"
    "LeftAt = -8; 0; 3\n"
    "MiddleAt = 0; 0; 3\n"
    "RightAt = 8; 0; 3\n"
    "Word = HELLO\n"
    "WordFlags = DT_CENTER; DT_VCENTER; DT_SINGLELINE\n"
    "WordRect = 0.0; 0.0; 1.0; 0.2\n"
    "WordColour = 0xFFFFFFFF\n"
    "WordFont = DejaVu Sans; 40; 700\n";

// A module with a camera clearing to `colour`, a red material that glows
// without lights (emissive) and whatever `more` adds.
std::string Scene(const std::string& name, const std::string& colour, const std::string& more)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<scene name=\"" + name +
           "\" class=\"C_BaseModule\">\n"
           "  <camera name=\"Eye\" class=\"C_FirstFaceCamera\" value=\"View; 0.9; " + colour +
           "; EyeAt; EyeAngles; NearFar; 10;\"/>\n"
           "  <material name=\"Red\" class=\"C_D3DMATERIAL9\" value=\"0xFFFF0000; 0xFFFF0000; 0; 0xFFFF0000; 0;\"/>\n" +
           more + "</scene>\n";
}

struct RunResult {
    int exitCode = -1;
    std::string output;   // standard output and error
    std::string log;      // the HTML logs, as written (Windows-1251)
    std::string stats;
    Image shot;
    int frames = -1;      // frames presented
};

std::string Cp1251(const std::wstring& text) { return VORTALEX::codepage::ToCp1251(text); }

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// An address sanitizer, undefined behaviour sanitizer or leak report.
bool SanitizerReport(const std::string& output)
{
    return output.find("Sanitizer") != std::string::npos || output.find("runtime error:") != std::string::npos;
}

// Pixels of a colour (within 8 per channel).
int CountColour(const Image& shot, unsigned colour)
{
    int n = 0;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
            const unsigned p = shot.Pixel(x, y);
            bool near = true;
            for (int s = 0; s < 24; s += 8) {
                const int d = int((p >> s) & 0xFF) - int((colour >> s) & 0xFF);
                near = near && d < 8 && d > -8;
            }
            n += near;
        }
    return n;
}

}  // namespace

class Robustness : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = dir.path() / "program";
        fs::create_directories(program / "scripts");
        fs::copy_file(fs::path(TW_BINARY_DIR) / "Tarnwick", program / "Tarnwick");
        ScratchFolder::Write(program / "text.ini", kText);
    }

    RunResult Run(int frames, const std::string& arguments = "", const std::string& environment = "")
    {
        fs::remove(dir / "shot.png");
        fs::remove(dir / "stats.json");
        fs::remove_all(dir / "log");
        const std::string command = "cd '" + program.string() + "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=" +
                                    std::to_string(frames) + " TARNWICK_STEP_MS=16 TARNWICK_SCREENSHOT='" +
                                    (dir / "shot.png").string() + "' TARNWICK_STATS='" +
                                    (dir / "stats.json").string() + "' " + environment + " timeout 120 ./Tarnwick " +
                                    arguments + " > '" + (dir / "out.txt").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        RunResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.output = ReadAll(dir / "out.txt");
        result.stats = ReadAll(dir / "stats.json");
        result.shot = ReadPng(dir / "shot.png");
        const std::size_t at = result.stats.find("\"frames\": ");
        if (at != std::string::npos) result.frames = std::atoi(result.stats.c_str() + at + 10);
        if (fs::exists(dir / "log"))
            for (const auto& entry : fs::directory_iterator(dir / "log"))
                if (entry.path().extension() == ".html") result.log += ReadAll(entry.path());
        return result;
    }
    void Script(const std::string& name, const std::string& code) const
    {
        ScratchFolder::Write(program / "scripts" / name, code);
    }
    int Video(const wchar_t* key) const
    {
        VORTALEX::XMLSettings file(L"Video", VORTALEX::PathToWide(program / "settings.xml").c_str());
        return file.GetParameterInt(key);
    }

    ScratchFolder dir;
    fs::path program;
};

// ---------------------------------------------------------------------------
// Scripts that end the program or release objects

TEST_F(Robustness, ExitFromALoadTimeScriptEndsTheProgramCleanly)
{
    Script("bye.lua", "Exit()\n");
    ScratchFolder::Write(program / "MainModule.xml",
                         Scene("Bye", "0xFF336699",
                               "  <text name=\"Hello\" class=\"C_BaseText2D\" script=\"bye.lua\""
                               " value=\"Word; WordFlags; WordRect; WordColour; WordFont\"/>\n"));
    const RunResult run = Run(300);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(SanitizerReport(run.output)) << run.output;
    EXPECT_GE(run.frames, 1);
    EXPECT_LT(run.frames, 100) << "Exit ended the program long before its frame count";
    EXPECT_EQ(Video(L"BackBufferWidth"), 800) << "the settings were written at exit";
}

TEST_F(Robustness, ExitFromAPerFrameFunctionEndsTheProgramCleanly)
{
    Script("tick.lua",
           "local ticks = 0\n"
           "function Tick(id)\n"
           "  ticks = ticks + 1\n"
           "  SetPositionX(id, ticks / 100)\n"
           "  if ticks == 5 then Exit() end\n"
           "end\n");
    ScratchFolder::Write(program / "MainModule.xml",
                         Scene("Tick", "0xFF336699",
                               "  <box name=\"Box\" class=\"C_PositionObject\" script=\"tick.lua; Tick\""
                               " value=\"C_D3DXMESH9_BOX; Cube; MiddleAt;\" extra=\"Red\"/>\n"));
    const RunResult run = Run(300);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(SanitizerReport(run.output)) << run.output;
    EXPECT_LT(run.frames, 100);
    // The frame that asked to close was drawn to its end: the box is there.
    EXPECT_GT(CountColour(run.shot, 0xFF0000), 500);
}

TEST_F(Robustness, ExitFromAnAxisScriptOfTheMillingDemoEndsTheProgramCleanly)
{
    fs::copy(fs::path(TW_SOURCE_DIR) / "demo", program,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    // The Z axis of the machine closes the program in the middle of the cut.
    const std::string axis = ReadAll(program / "scripts" / "mill_axis.lua");
    Script("mill_axis.lua", axis +
                                "local zCalls = 0\n"
                                "local moveZ = AxisZ\n"
                                "function AxisZ(id)\n"
                                "  moveZ(id)\n"
                                "  zCalls = zCalls + 1\n"
                                "  if zCalls == 40 then Exit() end\n"
                                "end\n");
    const RunResult run = Run(400, "modules/Milling.xml");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(SanitizerReport(run.output)) << run.output;
    EXPECT_GT(run.frames, 40);
    EXPECT_LT(run.frames, 200);
}

TEST_F(Robustness, ScriptsDeletingObjectsAndSwitchingModulesLeaveARunningProgram)
{
    // At load, the right box deletes a material that nothing holds but that
    // the boxes draw as an extra object, and then itself. Every frame, the
    // text deletes the middle box, then the left one (twice), and at last
    // switches to another module and deletes itself; the other module's
    // load deletes again.
    Script("loadtime.lua",
           "DeleteObject(GetObjectID('Spare'))\n"
           "DeleteObject(GetObjectID('Right'))\n");
    Script("frame.lua",
           "local frames = 0\n"
           "function Frame(id)\n"
           "  frames = frames + 1\n"
           "  if frames == 3 then DeleteObject(GetObjectID('Middle')) end\n"
           "  if frames == 4 then DeleteObject(GetObjectID('Left')); DeleteObject(GetObjectID('Left')) end\n"
           "  if frames == 6 then LoadMainModule('second.xml'); DeleteObject(id) end\n"
           "end\n");
    Script("second.lua", "DeleteObject(GetObjectID('Gone'))\n");
    ScratchFolder::Write(
        program / "MainModule.xml",
        Scene("Deleting", "0xFF336699",
              "  <material name=\"Spare\" class=\"C_D3DMATERIAL9\" value=\"0xFF00FF00; 0xFF00FF00; 0; 0xFF00FF00; 0;\"/>\n"
              "  <box name=\"Left\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; Cube; LeftAt;\""
              " extra=\"Spare; Red\"/>\n"
              "  <box name=\"Middle\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; Cube; MiddleAt;\""
              " extra=\"Red\"/>\n"
              "  <box name=\"Right\" class=\"C_PositionObject\" script=\"loadtime.lua\""
              " value=\"C_D3DXMESH9_BOX; Cube; RightAt;\" extra=\"Spare; Red\"/>\n"
              "  <text name=\"Hello\" class=\"C_BaseText2D\" script=\"frame.lua; Frame\""
              " value=\"Word; WordFlags; WordRect; WordColour; WordFont\"/>\n"));
    ScratchFolder::Write(program / "second.xml",
                         Scene("Second", "0xFF802010",
                               "  <material name=\"Gone\" class=\"C_D3DMATERIAL9\" value=\"0xFF0000FF; 0; 0; 0xFF0000FF; 0;\"/>\n"
                               "  <box name=\"Only\" class=\"C_PositionObject\" script=\"second.lua\""
                               " value=\"C_D3DXMESH9_BOX; Cube; MiddleAt;\" extra=\"Red; Gone\"/>\n"));
    const RunResult run = Run(80);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(SanitizerReport(run.output)) << run.output;
    EXPECT_EQ(run.frames, 80);
    // The second module runs: its background and its box, red since the
    // blue material it was to take last is gone.
    EXPECT_GT(CountColour(run.shot, 0x802010), 100000);
    EXPECT_GT(CountColour(run.shot, 0xFF0000), 500);
    EXPECT_EQ(CountColour(run.shot, 0x0000FF), 0);
}

TEST_F(Robustness, PerFrameFunctionsThatRewriteTheirOwnObjectsLeaveARunningProgram)
{
    // Every frame the text's function adds an object to the module whose
    // update is running it and deletes the one it added the frame before,
    // takes the red material off the box and puts it back, and empties its
    // own extra objects; at frame 5 it replaces its own script while it
    // runs, and the new function clears its own script at its third call.
    Script("frame.lua",
           "local frames = 0\n"
           "function Frame(id)\n"
           "  frames = frames + 1\n"
           "  local module, box, red = GetObjectID('Busy'), GetObjectID('Box'), GetObjectID('Red')\n"
           "  CreateObject(module, 'C_PositionObject', 'Made' .. frames, 'C_D3DXMESH9_BOX; Cube; LeftAt;', '', 'false', 'Red')\n"
           "  DeleteObject(GetObjectID('Made' .. (frames - 1)))\n"
           "  DeleteExtraObject(box, red)\n"
           "  AddExtraObject(box, red)\n"
           "  AddExtraObject(id, red)\n"
           "  ClearExtraObjects(id)\n"
           "  if frames == 5 then SetAnotherScript(id, 'other.lua; Other') end\n"
           "end\n");
    Script("other.lua",
           "local calls = 0\n"
           "function Other(id)\n"
           "  calls = calls + 1\n"
           "  SetString(id, 'CALL ' .. calls)\n"
           "  if calls == 3 then ClearScript(id) end\n"
           "end\n");
    ScratchFolder::Write(program / "MainModule.xml",
                         Scene("Busy", "0xFF336699",
                               "  <box name=\"Box\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; Cube; RightAt;\""
                               " extra=\"Red\"/>\n"
                               "  <text name=\"Hello\" class=\"C_BaseText2D\" script=\"frame.lua; Frame\""
                               " value=\"Word; WordFlags; WordRect; WordColour; WordFont\"/>\n"));
    const RunResult run = Run(30);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(SanitizerReport(run.output)) << run.output;
    EXPECT_EQ(run.frames, 30);
    EXPECT_EQ(run.log.find(Cp1251(L"Ошибка скрипта")), std::string::npos) << run.log;
    // The box on the right and the last box the script made on the left,
    // both red.
    int left = 0, right = 0;
    for (int y = 0; y < run.shot.height; ++y)
        for (int x = 0; x < run.shot.width; ++x)
            if ((run.shot.Pixel(x, y) & 0xF8F8F8u) == 0xF80000u) (x < run.shot.width / 2 ? left : right)++;
    EXPECT_GT(left, 500);
    EXPECT_GT(right, 500);
}

TEST_F(Robustness, ScriptErrorsOfThreeScriptsAreAllLoggedOnceUnderTheDefaultSettings)
{
    Script("syntax.lua", "this is not lua\n");
    Script("raises.lua", "error('raised while loading')\n");
    Script("frame.lua", "function Fails(id) error('fails every frame') end\n");
    ScratchFolder::Write(program / "MainModule.xml",
                         Scene("Errors", "0xFF336699",
                               "  <box name=\"A\" class=\"C_PositionObject\" script=\"syntax.lua\""
                               " value=\"C_D3DXMESH9_BOX; Cube; LeftAt;\"/>\n"
                               "  <box name=\"B\" class=\"C_PositionObject\" script=\"raises.lua\""
                               " value=\"C_D3DXMESH9_BOX; Cube; RightAt;\"/>\n"
                               "  <box name=\"C\" class=\"C_PositionObject\" script=\"frame.lua; Fails\""
                               " value=\"C_D3DXMESH9_BOX; Cube; MiddleAt;\"/>\n"));
    const RunResult run = Run(40);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.frames, 40);
    EXPECT_EQ(Count(run.log, "'=' expected"), 1u) << run.log;
    EXPECT_EQ(Count(run.log, "raised while loading"), 1u);
    EXPECT_EQ(Count(run.log, "fails every frame"), 1u) << "logged once though it fails every frame";
}

// ---------------------------------------------------------------------------
// Extra objects that would draw each other for ever

TEST_F(Robustness, ExtraObjectsThatWouldDrawThemselvesAreRefusedWithAWarning)
{
    // Self, mutual and a loop of three, written in the module file, and one
    // that a script closes at load.
    Script("link.lua", "AddExtraObject(GetObjectID('Right'), GetObjectID('Middle'))\n");
    ScratchFolder::Write(program / "MainModule.xml",
                         Scene("Loops", "0xFF336699",
                               "  <box name=\"Left\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; Cube; LeftAt;\""
                               " extra=\"Red; Left\"/>\n"
                               "  <box name=\"Middle\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; Cube; MiddleAt;\""
                               " extra=\"Red; Right\"/>\n"
                               "  <box name=\"Right\" class=\"C_PositionObject\" script=\"link.lua\""
                               " value=\"C_D3DXMESH9_BOX; Cube; RightAt;\" extra=\"Red; Middle\"/>\n"
                               "  <m name=\"LoopA\" class=\"C_D3DMATERIAL9\" value=\"0xFFFF0000; 0; 0; 0; 0;\" extra=\"LoopB\"/>\n"
                               "  <m name=\"LoopB\" class=\"C_D3DMATERIAL9\" value=\"0xFFFF0000; 0; 0; 0; 0;\" extra=\"LoopC\"/>\n"
                               "  <m name=\"LoopC\" class=\"C_D3DMATERIAL9\" value=\"0xFFFF0000; 0; 0; 0; 0;\" extra=\"LoopA\"/>\n"));
    const RunResult run = Run(30);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(SanitizerReport(run.output)) << run.output;
    EXPECT_EQ(run.frames, 30) << "the program runs on";
    const std::string warning = Cp1251(L"замкнутый круг");
    // Left on itself; Middle on Right, which loads after it and lists it
    // (and links it by script: the same refusal, written once); the last
    // of the loop of three.
    EXPECT_EQ(Count(run.log, warning), 3u) << run.log;
    EXPECT_NE(run.log.find(Cp1251(L"Объект Left не добавлен к дополнительным объектам Left")), std::string::npos);
    EXPECT_NE(run.log.find(Cp1251(L"Объект Middle не добавлен к дополнительным объектам Right")), std::string::npos);
    EXPECT_NE(run.log.find(Cp1251(L"Объект LoopA не добавлен к дополнительным объектам LoopC")), std::string::npos);
    // The boxes are drawn (Middle draws Right as its extra object, and
    // with it Right's place).
    EXPECT_GT(CountColour(run.shot, 0xFF0000), 2 * 2000);
}

// ---------------------------------------------------------------------------
// Settings and module files

TEST_F(Robustness, SettingsAndModuleFilesNestedAHundredThousandDeepAreRefusedWithAWarning)
{
    std::string deep;
    deep.reserve(100000 * 11);
    for (int i = 0; i < 100000; ++i) deep += "<entity>";
    for (int i = 0; i < 100000; ++i) deep += "</entity>";
    ScratchFolder::Write(program / "settings.xml", deep);
    ScratchFolder::Write(program / "MainModule.xml",
                         "<scene name=\"Deep\" class=\"C_BaseModule\">" + deep + "</scene>");
    const RunResult run = Run(10);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(SanitizerReport(run.output)) << run.output;
    EXPECT_EQ(run.frames, 10);
    EXPECT_NE(run.log.find(Cp1251(L"Файл настроек не прочитан")), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("nested too deeply"), std::string::npos);
    EXPECT_NE(run.log.find(Cp1251(L"Не загружен файл")), std::string::npos);
    // The unreadable settings are kept; the file now holds the defaults.
    EXPECT_EQ(ReadAll(program / "settings.xml.broken"), deep);
    EXPECT_EQ(Video(L"BackBufferWidth"), 800);
}

TEST_F(Robustness, AnUnparsableSettingsFileIsKeptBesideTheRewrittenOne)
{
    ScratchFolder::Write(program / "MainModule.xml", Scene("First", "0xFF336699", ""));
    // Cut short by a full disk: the user's logger section is in it.
    const std::string cut =
        "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\n<entity name=\"Logger\">\n"
        "\t<entity name=\"Filter\" value=\"3\"/>\n\t<entity name=\"Rolling\" value=\"50\"/>\n</entity>\n"
        "<entity name=\"Video\">\n\t<entity name=\"Adapter\" val";
    ScratchFolder::Write(program / "settings.xml", cut);
    RunResult run = Run(5);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(ReadAll(program / "settings.xml.broken"), cut);
    EXPECT_EQ(Video(L"BackBufferWidth"), 800);
    EXPECT_NE(run.log.find(Cp1251(L"settings.xml.broken")), std::string::npos) << run.log;

    // A later broken file replaces the older copy; a good one is left alone.
    ScratchFolder::Write(program / "settings.xml", "<entity name=\"Video\"><broken");
    run = Run(5);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(ReadAll(program / "settings.xml.broken"), "<entity name=\"Video\"><broken");
    run = Run(5);
    EXPECT_EQ(ReadAll(program / "settings.xml.broken"), "<entity name=\"Video\"><broken");
    EXPECT_EQ(run.log.find(Cp1251(L"settings.xml.broken")), std::string::npos);
}

TEST_F(Robustness, StaleSettingsTemporariesOfAKilledRunAreRemovedAtTheNextStart)
{
    ScratchFolder::Write(program / "MainModule.xml", Scene("First", "0xFF336699", ""));
    // Process numbers beyond the kernel's limit never run; this test's own
    // process runs, and other names are not ours.
    const std::string alive = "settings.xml.tmp" + std::to_string(::getpid());
    for (const std::string name : {"settings.xml.tmp99999999", "settings.xml.tmp88888888", alive.c_str(),
                                   "settings.xml.tmpx1", "other.xml.tmp99999999"})
        ScratchFolder::Write(program / name, "left behind");
    const RunResult run = Run(3);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(fs::exists(program / "settings.xml.tmp99999999"));
    EXPECT_FALSE(fs::exists(program / "settings.xml.tmp88888888"));
    EXPECT_TRUE(fs::exists(program / alive));
    EXPECT_TRUE(fs::exists(program / "settings.xml.tmpx1"));
    EXPECT_TRUE(fs::exists(program / "other.xml.tmp99999999"));
    EXPECT_EQ(Video(L"BackBufferWidth"), 800);
}

TEST_F(Robustness, ASettingsSaveThatFailsAtExitLogsWhyAndEndsNormally)
{
    ScratchFolder::Write(program / "MainModule.xml", Scene("First", "0xFF336699", ""));
    // A folder where the file should be: nothing can be renamed over it.
    fs::create_directories(program / "settings.xml" / "inside");
    const RunResult run = Run(3);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(SanitizerReport(run.output)) << run.output;
    EXPECT_EQ(run.frames, 3);
    const std::size_t at = run.log.find(Cp1251(L"Файл настроек не записан: "));
    ASSERT_NE(at, std::string::npos) << run.log;
    const std::string line = run.log.substr(at, run.log.find('<', at) - at);
    EXPECT_NE(line.find("settings.xml"), std::string::npos) << line;
    EXPECT_NE(line.find("rename: Is a directory"), std::string::npos) << line;
    EXPECT_EQ(run.log.find("GetDescription"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(program / "settings.xml" / "inside"));
    for (const auto& entry : fs::directory_iterator(program))
        EXPECT_EQ(entry.path().filename().string().find("settings.xml.tmp"), std::string::npos) << entry.path();
}

TEST_F(Robustness, AMainModuleOnTheCommandLineIsFoundInsideAStorageArchive)
{
    {
        VORTALEX::ArchiveWriter writer(program / "media.vfs");
        const std::string scene = Scene("Packed", "0xFF802010", "");
        writer.Add(L"modules\\Packed.xml", scene.data(), scene.size());
        writer.Finish();
    }
    ScratchFolder::Write(program / "text.ini", std::string(kText) + "Storage0 = media.vfs\n");
    for (const char* name : {"modules/Packed.xml", "'modules\\packed.xml'"}) {
        const RunResult run = Run(20, name);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(run.shot.Pixel(5, 5), 0x802010u) << name;
        EXPECT_EQ(run.log.find(Cp1251(L"Не найден файл")), std::string::npos) << name;
    }
}

TEST_F(Robustness, AnEmptyModuleFileIsReportedAsEmptyNotAsMissing)
{
    ScratchFolder::Write(program / "MainModule.xml", "");
    const RunResult run = Run(5);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.frames, 5);
    EXPECT_NE(run.log.find(Cp1251(L"Файл пуст: MainModule.xml")), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find(Cp1251(L"Не найден файл: MainModule.xml")), std::string::npos);
}
