// Starts the real Tarnwick program headless on program folders made here and
// checks what it leaves behind: exit code, settings file, log and screenshot.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "TestProgram/ProgramOutput.h"

#include "Common/CodePage.h"
#include "Common/ScratchFolder.h"
#include "Wrappers/XMLParser/XMLSettings.h"
#include "Common/FilePath.h"

namespace {

const char* const kTextIni =
    "FolderFont = fonts\n"
    "LoadScreen = Loading\n"
    "LoadScreenFont = DejaVu Sans; 40; 700\n"
    "Full = 0; 0; 1; 1\n"
    "Word = HELLO\n"
    "WordFlags = DT_CENTER; DT_VCENTER; DT_SINGLELINE\n"
    "WordRect = 0.0; 0.0; 1.0; 1.0\n"
    "WordColour = 0xFFFFFFFF\n"
    "WordFont = DejaVu Sans; 120; 700\n"
    "LowRect = 0.0; 0.8; 1.0; 1.0\n"
    "SmallFont = DejaVu Sans; 30; 400\n";

std::string Scene(const char* name, const char* colour)
{
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<scene name=\"") + name +
           "\" class=\"C_BaseModule\">\n"
           "  <c name=\"Cam\" class=\"C_GUICamera\" value=\"Full; 0.5235988; " + colour + ";\"/>\n"
           "  <t name=\"Hello\" class=\"C_BaseText2D\" value=\"Word; WordFlags; WordRect; WordColour; WordFont\"/>\n"
           "  <m name=\"inner.xml\" class=\"C_BaseModule\"/>\n"
           "</scene>\n";
}

using tw_test::Image;
using tw_test::ReadAll;
using tw_test::ReadPng;

}  // namespace

class TarnwickRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = dir.path() / "program";
        std::filesystem::create_directories(program);
        std::filesystem::copy_file(std::filesystem::path(TW_BINARY_DIR) / "Tarnwick", program / "Tarnwick");
        ScratchFolder::Write(program / "text.ini", kTextIni);
        ScratchFolder::Write(program / "inner.xml",
                             "<i name=\"Inner\" class=\"C_BaseModule\"><x name=\"Small\" class=\"C_BaseText2D\" "
                             "value=\"Word; WordFlags; LowRect; WordColour; SmallFont\"/></i>");
    }

    // Runs the program for `frames` frames of 16 ms; the exit code.
    int Run(int frames, const std::string& arguments = "")
    {
        return tw_test::RunHeadless(program, dir.path(), frames,
                                    "TARNWICK_STEP_MS=16 TARNWICK_STATS='" + (dir / "stats.json").string() + "'",
                                    arguments);
    }
    std::string Log() const { return tw_test::HtmlLogs(dir.path()); }
    static std::string Cp1251(const std::wstring& text) { return VORTALEX::codepage::ToCp1251(text); }
    int Video(const wchar_t* key) const
    {
        VORTALEX::XMLSettings file(L"Video", VORTALEX::PathToWide(program / "settings.xml").c_str());
        return file.GetParameterInt(key);
    }

    ScratchFolder dir;
    std::filesystem::path program;
};

TEST_F(TarnwickRun, ASceneRunsForItsFramesAndLeavesSettingsLogAndScreenshot)
{
    ScratchFolder::Write(program / "MainModule.xml", Scene("First", "0xFF336699"));
    ASSERT_EQ(Run(20), 0) << ReadAll(dir / "out.txt");

    // Settings written at exit with the defaults of a first run.
    const wchar_t* keys[] = {L"BackBufferWidth", L"BackBufferHeight", L"BackBufferFormat", L"BackBufferCount",
                             L"SwapEffect", L"Windowed", L"EnableAutoDepthStencil", L"AutoDepthStencilFormat",
                             L"Flags", L"FullScreen_RefreshRateInHz", L"PresentationInterval", L"Adapter"};
    const int expected[] = {800, 600, 21, 3, 1, 1, 1, 75, 6, 0, -2147483648, 0};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(Video(keys[i]), expected[i]) << std::string(keys[i], keys[i] + 8);
    EXPECT_GE(Video(L"MultiSampleType"), 0);

    // The log went to the folder beside the program folder.
    const std::string log = Log();
    EXPECT_NE(log.find(Cp1251(L"Запуск программы")), std::string::npos);
    EXPECT_NE(log.find(Cp1251(L"Оптимизация: D3DX_")), std::string::npos);

    // The camera's clear colour fills the frame.
    const Image shot = ReadPng(dir / "shot.png");
    ASSERT_EQ(shot.width, 800);
    ASSERT_EQ(shot.height, 600);
    EXPECT_EQ(shot.Pixel(3, 3), 0x336699u);
    EXPECT_EQ(shot.Pixel(796, 596), 0x336699u);

    const std::string stats = ReadAll(dir / "stats.json");
    EXPECT_NE(stats.find("\"frames\": 20"), std::string::npos) << stats;
    // The scene's own frames: without the load screen's and without the
    // one that ends the load, whose pause would pass for a slow frame.
    std::smatch count, times;
    ASSERT_TRUE(std::regex_search(stats, count, std::regex("\"scene_frames\": ([0-9]+)"))) << stats;
    const int sceneFrames = std::stoi(count[1]);
    EXPECT_GT(sceneFrames, 0) << stats;
    EXPECT_LT(sceneFrames, 19) << stats;
    ASSERT_TRUE(std::regex_search(stats, times, std::regex("\"scene_frame_time_ms\": \\{\"mean\": ([0-9.]+), "
                                                           "\"median\": ([0-9.]+), \"p99\": ([0-9.]+)\\}")))
        << stats;
    EXPECT_GT(std::stod(times[2]), 0.0);
}

TEST_F(TarnwickRun, TheTextOfTheSceneIsDrawn)
{
    ScratchFolder::Write(program / "MainModule.xml", Scene("Text", "0xFF000000"));
    ASSERT_EQ(Run(20), 0);
    const Image shot = ReadPng(dir / "shot.png");
    ASSERT_EQ(shot.width, 800);
    int bright = 0;
    for (int y = 200; y < 400; ++y)
        for (int x = 100; x < 700; ++x) bright += shot.Pixel(x, y) == 0xFFFFFFu;
    EXPECT_GT(bright, 500) << "white letters in the middle of the frame";
    EXPECT_EQ(shot.Pixel(3, 3), 0u);
    int low = 0;
    for (int y = 480; y < 600; ++y)
        for (int x = 0; x < 800; ++x) low += shot.Pixel(x, y) != 0u;
    EXPECT_GT(low, 50) << "the nested module's text at the bottom";
    int between = 0;
    for (int y = 420; y < 470; ++y)
        for (int x = 0; x < 800; ++x) between += shot.Pixel(x, y) != 0u;
    EXPECT_EQ(between, 0);
}

TEST_F(TarnwickRun, TheCommandLineNamesTheMainModule)
{
    ScratchFolder::Write(program / "MainModule.xml", Scene("Default", "0xFF336699"));
    ScratchFolder::Write(program / "my scene.xml", Scene("Chosen", "0xFF802010"));
    ASSERT_EQ(Run(10, "my scene.xml"), 0);
    EXPECT_EQ(ReadPng(dir / "shot.png").Pixel(10, 10), 0x802010u);
}

TEST_F(TarnwickRun, AbsurdVideoSettingsStartWithSaneOnes)
{
    ScratchFolder::Write(program / "MainModule.xml", Scene("First", "0xFF336699"));
    ScratchFolder::Write(program / "settings.xml",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><entity name=\"Video\">"
                         "<entity name=\"Adapter\" value=\"-1\"/><entity name=\"AdapterType\" value=\"1\"/>"
                         "<entity name=\"CreateDeviceFlag\" value=\"64\"/>"
                         "<entity name=\"BackBufferWidth\" value=\"0\"/><entity name=\"BackBufferHeight\" value=\"100000\"/>"
                         "<entity name=\"BackBufferFormat\" value=\"12345\"/><entity name=\"Windowed\" value=\"1\"/>"
                         "<entity name=\"SwapEffect\" value=\"1\"/><entity name=\"EnableAutoDepthStencil\" value=\"1\"/>"
                         "<entity name=\"AutoDepthStencilFormat\" value=\"75\"/></entity>");
    ASSERT_EQ(Run(20), 0) << ReadAll(dir / "out.txt");
    EXPECT_EQ(Video(L"Adapter"), 0);
    EXPECT_EQ(Video(L"BackBufferWidth"), 800);
    EXPECT_EQ(Video(L"BackBufferHeight"), 600);
    EXPECT_EQ(Video(L"BackBufferFormat"), 21);
    EXPECT_NE(Log().find(Cp1251(L"Недопустимые значения в settings.xml заменены")), std::string::npos);
    EXPECT_EQ(ReadPng(dir / "shot.png").Pixel(3, 3), 0x336699u);
}

TEST_F(TarnwickRun, AMissingOrBrokenMainModuleStillRuns)
{
    ASSERT_EQ(Run(5), 0) << "no MainModule.xml at all";
    // While loading, only the load screen's camera clears, to black.
    EXPECT_EQ(ReadPng(dir / "shot.png").Pixel(3, 3), 0u);
    ScratchFolder::Write(program / "MainModule.xml", "<scene name=\"x\" class=\"C_BaseModule\"><broken></scene>");
    ASSERT_EQ(Run(5), 0);
    EXPECT_NE(Log().find(Cp1251(L"Не загружен файл")), std::string::npos);
    EXPECT_EQ(Video(L"BackBufferWidth"), 800);
}

TEST_F(TarnwickRun, AnUnreadableSettingsFileIsReplaced)
{
    ScratchFolder::Write(program / "MainModule.xml", Scene("First", "0xFF336699"));
    ScratchFolder::Write(program / "settings.xml", std::string("\x01\xff<<not xml", 11));
    ASSERT_EQ(Run(5), 0);
    EXPECT_EQ(Video(L"BackBufferWidth"), 800);
    EXPECT_EQ(Video(L"PresentationInterval"), -2147483648);
}

TEST_F(TarnwickRun, TheDemoShowsItsTextsOverTheBackgroundAboveTwoLitViews)
{
    // The shipped demo folder, run as a user runs it.
    std::filesystem::copy(std::filesystem::path(TW_SOURCE_DIR) / "demo", program,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(Run(60), 0) << ReadAll(dir / "out.txt");
    const Image shot = ReadPng(dir / "shot.png");
    ASSERT_EQ(shot.width, 800);
    ASSERT_EQ(shot.height, 600);
    auto count = [&shot](int x0, int y0, int x1, int y1, auto&& wanted) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += wanted(shot.Pixel(x, y)) ? 1 : 0;
        return n;
    };
    auto exactly = [](unsigned colour) { return [colour](unsigned pixel) { return pixel == colour; }; };

    // The band above the views (a tenth of the height below its top edge is
    // the title, then the subtitle, then the footer) shows the whole-window
    // background, and every text lies wholly inside it, in its own colour.
    EXPECT_EQ(shot.Pixel(3, 3), 0x1E3C5Au);
    EXPECT_EQ(shot.Pixel(3, 175), 0x1E3C5Au);
    EXPECT_EQ(shot.Pixel(796, 3), 0x1E3C5Au);
    EXPECT_GT(count(0, 0, 800, 90, exactly(0xFFD040u)), 1500) << "the title";
    EXPECT_GT(count(0, 84, 800, 138, exactly(0xE0E0E0u)), 400) << "the subtitle";
    EXPECT_GT(count(400, 138, 800, 180, exactly(0x80C0FFu)), 40) << "the footer";
    EXPECT_GT(count(0, 138, 400, 180, exactly(0xA0E0A0u)), 40) << "the help on the keys";
    EXPECT_EQ(count(0, 180, 800, 600, exactly(0xFFD040u)), 0) << "no title inside a 3D view";
    EXPECT_EQ(count(0, 180, 800, 600, exactly(0xE0E0E0u)), 0) << "no subtitle inside a 3D view";
    EXPECT_EQ(count(0, 180, 800, 600, exactly(0x80C0FFu)), 0) << "no footer inside a 3D view";

    // The walking view sees the sky above the horizon.
    auto skyBlue = [](unsigned pixel) { return (pixel & 0xFF) > 150 && (pixel & 0xFF) > ((pixel >> 16) & 0xFF) + 30; };
    EXPECT_GT(count(0, 180, 400, 330, skyBlue), 30000) << "the sky";
    // The fountain glows white on the floor of the orbit view.
    auto white = [](unsigned pixel) { return ((pixel >> 16) & 0xFF) > 200 && ((pixel >> 8) & 0xFF) > 200 && (pixel & 0xFF) > 200; };
    EXPECT_GT(count(540, 400, 640, 480, white), 15) << "the particles";

    // Both views keep their scene's lights: an unlit view (the lights of
    // another camera, or none) is far darker than these bounds. Below the
    // horizon of the walking view, warm lit surfaces (bricks, the red and
    // yellow boxes, the 3D title) stand out.
    auto warm = [](unsigned pixel) { return ((pixel >> 16) & 0xFF) > 150 && ((pixel >> 16) & 0xFF) > (pixel & 0xFF) + 40; };
    EXPECT_GT(count(0, 300, 400, 600, warm), 1000) << "the left view is lit";
    long sum = 0;
    for (int y = 180; y < 600; ++y)
        for (int x = 400; x < 800; ++x) {
            const unsigned p = shot.Pixel(x, y);
            sum += ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
        }
    EXPECT_GT(sum / (400L * 420L), 100) << "the right view is lit";
    EXPECT_EQ(Log().find(Cp1251(L"Попытка добавления объекта в очередь рендеринга до камеры")), std::string::npos);
}
