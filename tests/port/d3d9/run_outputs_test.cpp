// Headless runs: the screenshot of the last presented frame and the frame
// statistics are written when the device goes away.
#include <stb/stb_image.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "device_fixture.h"
#include "port/win32/runoptions.h"

namespace {

class RunOutputsTest : public DeviceTest {
protected:
    void SetUp() override {
        const std::string dir = std::string(TW_BINARY_DIR) + "/";
        png = dir + "port_run_outputs.png";
        json = dir + "port_run_outputs.json";
        std::remove(png.c_str());
        std::remove(json.c_str());
        setenv("TARNWICK_SCREENSHOT", png.c_str(), 1);
        setenv("TARNWICK_STATS", json.c_str(), 1);
        PortRunReload();
        DeviceTest::SetUp();
    }
    void TearDown() override {
        DeviceTest::TearDown();
        unsetenv("TARNWICK_SCREENSHOT");
        unsetenv("TARNWICK_STATS");
        PortRunReload();
    }
    std::string png, json;
};

}  // namespace

TEST_F(RunOutputsTest, LastPresentedFrameAndStatisticsAreWritten) {
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 80 * frame), 1.0f, 0),
                  D3D_OK);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        DrawRect(0, 0, 20, 10, D3DCOLOR_XRGB(255, 0, 0));  // top-left corner
        DrawRect(0, 50, 20, 60, D3DCOLOR_XRGB(0, 255, 0));
        ASSERT_EQ(device->EndScene(), D3D_OK);
        ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }
    // Drawn after the last Present: not part of the screenshot.
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 255, 255), 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->Release(), 0u);
    device = nullptr;

    int w = 0, h = 0, channels = 0;
    unsigned char* pixels = stbi_load(png.c_str(), &w, &h, &channels, 3);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, static_cast<int>(kWidth));
    EXPECT_EQ(h, static_cast<int>(kHeight));
    auto at = [&](int x, int y) { return pixels + (static_cast<size_t>(y) * w + x) * 3; };
    EXPECT_EQ(at(5, 5)[0], 255);  // the PNG runs top-down
    EXPECT_EQ(at(5, 55)[1], 255);
    EXPECT_EQ(at(100, 100)[2], 160);
    stbi_image_free(pixels);

    std::ifstream in(json);
    ASSERT_TRUE(in.good());
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    EXPECT_NE(s.find("\"frames\": 3"), std::string::npos) << s;
    EXPECT_NE(s.find("\"draw_calls_per_frame\": 2.00"), std::string::npos) << s;
    EXPECT_NE(s.find("\"triangles_per_frame\": 4.00"), std::string::npos) << s;
    EXPECT_NE(s.find("\"p99\""), std::string::npos);
}
