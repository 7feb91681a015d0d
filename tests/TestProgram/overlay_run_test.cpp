// The overlays and GUI elements as a user sees them: the real program run
// headless on the shipped demo and on small scenes, read back from its
// screenshot.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "TestProgram/ProgramOutput.h"

#include "Common/CodePage.h"
#include "Common/ScratchFolder.h"

namespace {

using tw_test::Image;
using tw_test::ReadAll;
using tw_test::ReadPng;

int Channel(unsigned pixel, int shift) { return int((pixel >> shift) & 0xFF); }

// True when the pixel is within `tolerance` of 0xRRGGBB in every channel.
bool Near(unsigned pixel, unsigned colour, int tolerance = 3)
{
    for (int shift : {16, 8, 0})
        if (std::abs(Channel(pixel, shift) - Channel(colour, shift)) > tolerance) return false;
    return true;
}

// A self-lit colour as the fixed-function pipeline shows it: each channel
// is byte / 256 of full brightness.
unsigned Emissive(unsigned colour)
{
    unsigned out = 0;
    for (int shift : {16, 8, 0}) out |= unsigned(Channel(colour, shift) * 255 / 256) << shift;
    return out;
}

}  // namespace

class OverlayRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = dir.path() / "program";
        std::filesystem::create_directories(program);
        std::filesystem::copy_file(std::filesystem::path(TW_BINARY_DIR) / "Tarnwick", program / "Tarnwick");
    }

    int Run(int frames, int stepMs)
    {
        return tw_test::RunHeadless(program, dir.path(), frames, "TARNWICK_STEP_MS=" + std::to_string(stepMs));
    }
    std::string Log() const { return tw_test::HtmlLogs(dir.path()); }
    static std::string Cp1251(const std::wstring& text) { return VORTALEX::codepage::ToCp1251(text); }
    // A whole "Video" section (a missing key makes the program start from
    // its defaults) for a windowed back buffer of that size.
    static std::string Settings(int width, int height)
    {
        const std::pair<const char*, std::string> keys[] = {
            {"Adapter", "0"}, {"AdapterType", "1"}, {"CreateDeviceFlag", "64"}, {"TextureFilterType", "2"},
            {"BackBufferWidth", std::to_string(width)}, {"BackBufferHeight", std::to_string(height)},
            {"BackBufferFormat", "21"}, {"BackBufferCount", "1"}, {"MultiSampleType", "0"},
            {"MultiSampleQuality", "0"}, {"SwapEffect", "1"}, {"Windowed", "1"}, {"EnableAutoDepthStencil", "1"},
            {"AutoDepthStencilFormat", "75"}, {"Flags", "0"}, {"FullScreen_RefreshRateInHz", "0"},
            {"PresentationInterval", "-2147483648"}};
        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><entity name=\"Video\">";
        for (const auto& [key, value] : keys)
            text += std::string("<entity name=\"") + key + "\" value=\"" + value + "\"/>";
        return text + "</entity>";
    }

    ScratchFolder dir;
    std::filesystem::path program;
};

TEST_F(OverlayRun, TheDemoShowsItsCounterGUIBarPanelAndInformation)
{
    std::filesystem::copy(std::filesystem::path(TW_SOURCE_DIR) / "demo", program,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(Run(60, 20), 0) << ReadAll(dir / "out.txt");
    const Image shot = ReadPng(dir / "shot.png");
    ASSERT_EQ(shot.width, 800);
    ASSERT_EQ(shot.height, 600);
    auto count = [&shot](int x0, int y0, int x1, int y1, auto&& wanted) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += wanted(shot.Pixel(x, y)) ? 1 : 0;
        return n;
    };

    // The counter: red letters at the top left, on the background.
    EXPECT_GT(count(0, 0, 160, 40, [](unsigned p) { return p == 0xFF0000u; }), 40) << "FPS in red";
    EXPECT_EQ(count(0, 60, 800, 600, [](unsigned p) { return p == 0xFF0000u; }), 0) << "nowhere else";
    EXPECT_EQ(shot.Pixel(3, 3), 0x1E3C5Au);

    // The GUI bar at the bottom left: the middle of each button in its
    // self-lit colour (window pixel = (400 + x, 300 - y) for 600 lines).
    const int buttonX[] = {-352, -288, -224, -160};
    const unsigned colours[] = {0xE0503Cu, 0x48C060u, 0x4878E0u, 0xB060D0u};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(Near(shot.Pixel(400 + buttonX[i], 300 + 266), Emissive(colours[i])))
            << i << ": " << std::hex << shot.Pixel(400 + buttonX[i], 300 + 266);
        // 56 x 28: whole at 25 pixels from the middle, gone at 31.
        EXPECT_TRUE(Near(shot.Pixel(400 + buttonX[i] + 25, 300 + 266 - 12), Emissive(colours[i]))) << i;
        EXPECT_FALSE(Near(shot.Pixel(400 + buttonX[i] + 31, 300 + 266), Emissive(colours[i]))) << i;
    }
    // The panel at the top right of the right view (clear of the fountain),
    // with its knob 48 units to the right.
    EXPECT_TRUE(Near(shot.Pixel(700 - 40, 220), Emissive(0xC8D4E4u))) << std::hex << shot.Pixel(660, 220);
    EXPECT_TRUE(Near(shot.Pixel(700 + 48, 220), Emissive(0x283C64u))) << std::hex << shot.Pixel(748, 220);

    // The HTML panel above the GUI bar (a 256 x 160 surface shown 1:1 at 8..263,
    // 376..535): the card in its self-lit colour, the heading in the default
    // sheet's orange, the table's bluish gradient and the blue link; around
    // the card the margin kept the corner's colour, so the scene shows there.
    const unsigned card = Emissive(0xFFF8E4u);
    EXPECT_GT(count(8, 376, 264, 536, [card](unsigned p) { return Near(p, card); }), 12000) << "the card";
    EXPECT_GT(count(8, 376, 264, 420, [](unsigned p) { return Near(p, 0xFF9900u, 24); }), 40) << "the heading";
    auto bluish = [](unsigned p) { return Channel(p, 0) > 150 && Channel(p, 0) > Channel(p, 16) + 40; };
    EXPECT_GT(count(8, 376, 264, 536, bluish), 3000) << "the table";
    auto link = [](unsigned p) { return Channel(p, 0) > 180 && Channel(p, 16) < 120 && Channel(p, 8) < 120; };
    EXPECT_GT(count(8, 490, 264, 536, link), 15) << "the link";
    for (const auto& [x0, y0, x1, y1] : {std::array<int, 4>{8, 376, 264, 379}, std::array<int, 4>{8, 522, 264, 536},
                                         std::array<int, 4>{8, 376, 11, 536}}) {
        EXPECT_EQ(count(x0, y0, x1, y1, [card](unsigned p) { return Near(p, card, 12); }), 0) << y0;
        EXPECT_EQ(count(x0, y0, x1, y1, [](unsigned p) { return p == 0u; }), 0) << "not opaque black, " << y0;
    }

    // The information text: white letters at the bottom right of the window.
    EXPECT_GT(count(400, 560, 800, 600, [](unsigned p) { return p == 0xFFFFFFu; }), 30);

    // The window has a main window to name: no warning about it.
    EXPECT_EQ(Log().find(Cp1251(L"Нет главного окна")), std::string::npos);
}

TEST_F(OverlayRun, AnUntiedElementIsStretchedWithATallerWindow)
{
    ScratchFolder::Write(program / "text.ini",
                         "Whole = 0; 0; 1; 1\nBoxSize = 40; 20; 4\nBoxAt = 50; -30; 0\n");
    ScratchFolder::Write(program / "MainModule.xml",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<scene name=\"Tall\" class=\"C_BaseModule\">\n"
                         "  <c name=\"Cam\" class=\"C_GUICamera\" value=\"Whole; 0.5235988; 0xFF000000;\"/>\n"
                         "  <m name=\"White\" class=\"C_D3DMATERIAL9\" value=\"0; 0; 0; 0xFFFFFFFF; 0;\"/>\n"
                         "  <b name=\"Box\" class=\"C_BaseGUIObject\" value=\"C_D3DXMESH9_BOX; BoxSize; BoxAt;\""
                         " extra=\"White\"/>\n"
                         "</scene>\n");
    // The white box's extent along the row and the column through its middle.
    auto extent = [](const Image& shot, int cx, int cy, int& width, int& height) {
        auto lit = [&shot](int x, int y) { return Channel(shot.Pixel(x, y), 8) > 128; };
        width = height = 0;
        for (int x = 0; x < shot.width; ++x) width += lit(x, cy);
        for (int y = 0; y < shot.height; ++y) height += lit(cx, y);
    };
    for (const int height : {600, 1200}) {
        SCOPED_TRACE(height);
        ScratchFolder::Write(program / "settings.xml", Settings(320, height));
        ASSERT_EQ(Run(30, 16), 0) << ReadAll(dir / "out.txt");
        const Image shot = ReadPng(dir / "shot.png");
        ASSERT_EQ(shot.height, height);
        const int factor = height / 600;
        // Where the middle of the box lands: (50, -30) laid out for 600 lines.
        const int cx = 160 + 50 * factor, cy = height / 2 + 30 * factor;
        int w = 0, h = 0;
        extent(shot, cx, cy, w, h);
        EXPECT_NEAR(w, 40 * factor, 2);
        EXPECT_NEAR(h, 20 * factor, 2);
        EXPECT_GT(Channel(shot.Pixel(cx, cy), 8), 200);
        EXPECT_LT(Channel(shot.Pixel(cx - 24 * factor, cy), 8), 20) << "left of it is the clear colour";
    }
}
