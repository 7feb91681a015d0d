// Presenting without copies: a single-sampled device draws straight into its
// window's framebuffer when that matches the back buffer, a multisampled one
// resolves into the window, and everything the application can observe (the
// picture read back, depth and stencil, render targets, loss and reset, the
// screenshot) is the same as through a back buffer of the device's own.
#include <stb/stb_image.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "device_fixture.h"
#include "port/win32/afxwin.h"
#include "port/win32/runoptions.h"

namespace {

class PresentTest : public DeviceTest {
protected:
    void TearDown() override {
        DeviceTest::TearDown();
        PortAllowWindowFramebuffer(true);
    }

    // A fresh device on the fixture's window.
    void Recreate(bool windowAllowed, D3DMULTISAMPLE_TYPE samples = D3DMULTISAMPLE_NONE) {
        if (device) {
            ASSERT_EQ(device->Release(), 0u);
        }
        device = nullptr;
        PortAllowWindowFramebuffer(windowAllowed);
        D3DPRESENT_PARAMETERS p = DefaultParams();
        p.MultiSampleType = samples;
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device),
                  D3D_OK);
    }

    // Overlapping rectangles through the depth test and the stencil test:
    // the green one writes 1 into the stencil where it lands, the blue one
    // is nearer but drawn only where the stencil holds 1, the red one is
    // farther than the green one and stays hidden behind it.
    void DepthAndStencilScene() {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF203040, 1.0f, 0),
                  D3D_OK);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        device->SetRenderState(D3DRS_ZENABLE, TRUE);
        device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
        device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
        device->SetRenderState(D3DRS_STENCILREF, 1);
        DrawRect(20, 20, 100, 80, 0xFF00FF00, 0.4f);
        device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
        device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
        DrawRect(60, 40, 140, 110, 0xFF0000FF, 0.2f);
        device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
        DrawRect(0, 0, 60, 60, 0xFFFF0000, 0.6f);
        ASSERT_EQ(device->EndScene(), D3D_OK);
    }
};

}  // namespace

TEST_F(PresentTest, TheWindowsOwnFramebufferShowsWhatADeviceFramebufferWould) {
    Recreate(true);
    EXPECT_TRUE(PortDeviceDrawsIntoWindow(device)) << "a single-sampled A8R8G8B8 + D24S8 device on a fitting window";
    DepthAndStencilScene();
    const std::vector<uint32_t> direct = ReadBack();
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    Recreate(false);
    EXPECT_FALSE(PortDeviceDrawsIntoWindow(device));
    DepthAndStencilScene();
    const std::vector<uint32_t> copied = ReadBack();
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    EXPECT_EQ(direct, copied);
    // Row 0 is the top: the green rectangle's corner, the blue one only
    // inside the green one, the red one behind.
    EXPECT_EQ(Pixel(direct, 30, 30) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(Pixel(direct, 90, 70) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(Pixel(direct, 120, 100) & 0xFFFFFF, 0x203040u);
    EXPECT_EQ(Pixel(direct, 10, 10) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(Alpha(Pixel(direct, 150, 5)), 0xFF);

    // Without a depth buffer of its own the device draws without depth,
    // though the window has one.
    ASSERT_EQ(device->Release(), 0u);
    device = nullptr;
    PortAllowWindowFramebuffer(true);
    D3DPRESENT_PARAMETERS p = DefaultParams();
    p.EnableAutoDepthStencil = FALSE;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device), D3D_OK);
    EXPECT_TRUE(PortDeviceDrawsIntoWindow(device));
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    DrawRect(0, 0, 80, 80, 0xFF00FF00, 0.2f);
    DrawRect(40, 40, 120, 120, 0xFFFF0000, 0.9f);  // farther, drawn over anyway
    EXPECT_EQ(Pixel(ReadBack(), 60, 60) & 0xFFFFFF, 0xFF0000u);
}

TEST_F(PresentTest, PairingTheDepthBufferWithATargetMovesTheBackBufferOffTheWindowKeepingItsPicture) {
    Recreate(true);
    ASSERT_TRUE(PortDeviceDrawsIntoWindow(device));
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000080, 1.0f, 0), D3D_OK);
    DrawRect(10, 10, 70, 70, 0xFF00FF00, 0.3f);

    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(kWidth, kHeight, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture,
                                    nullptr),
              D3D_OK);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &level), D3D_OK);
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &back), D3D_OK);
    // The automatic depth buffer stays with the texture: the window's depth
    // buffer cannot be paired with another colour buffer.
    ASSERT_EQ(device->SetRenderTarget(0, level), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);
    EXPECT_FALSE(PortDeviceDrawsIntoWindow(device));
    // Across the middle rows (the same rows whichever way up the target is
    // counted), partly behind the green rectangle's depth.
    DrawRect(0, 40, 30, 80, 0xFFFF0000, 0.9f);
    ASSERT_EQ(device->SetRenderTarget(0, back), D3D_OK);

    // What was drawn before is still there, depth included.
    DrawRect(40, 40, 100, 100, 0xFFFF00FF, 0.5f);
    const std::vector<uint32_t> pixels = ReadBack();
    EXPECT_EQ(Pixel(pixels, 20, 20) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(Pixel(pixels, 50, 50) & 0xFFFFFF, 0x00FF00u) << "the magenta one is behind the green one";
    EXPECT_EQ(Pixel(pixels, 90, 90) & 0xFFFFFF, 0xFF00FFu);
    EXPECT_EQ(Pixel(pixels, 150, 110) & 0xFFFFFF, 0x000080u);
    const std::vector<uint32_t> target = ReadTarget(device, level, kWidth, kHeight);
    ASSERT_FALSE(target.empty());
    EXPECT_EQ(target[60 * kWidth + 25] & 0xFFFFFF, 0xFFFFFFu) << "depth test against the green rectangle";
    EXPECT_EQ(target[60 * kWidth + 5] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    back->Release();
    level->Release();
    texture->Release();
    // A reset starts on the window again.
    D3DPRESENT_PARAMETERS p = DefaultParams();
    ASSERT_EQ(device->Reset(&p), D3D_OK);
    EXPECT_TRUE(PortDeviceDrawsIntoWindow(device));
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF112233, 1.0f, 0), D3D_OK);
    EXPECT_EQ(Pixel(ReadBack(), 80, 60) & 0xFFFFFF, 0x112233u);
}

TEST_F(PresentTest, MultisampledFramesAreResolvedAndTheScreenshotIsTheLastFrameOfTheRun) {
    DWORD levels = 0;
    if (d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, TRUE, D3DMULTISAMPLE_4_SAMPLES, &levels) != D3D_OK)
        GTEST_SKIP() << "no 4x multisampling here";
    const std::string png = std::string(TW_BINARY_DIR) + "/port_present_shot.png";
    // Three runs: a frame limit the run reaches, one it does not reach
    // (the run ends early), single-sampled and multisampled.
    struct Run {
        const char* frames;
        D3DMULTISAMPLE_TYPE samples;
    } runs[] = {{"3", D3DMULTISAMPLE_4_SAMPLES}, {"8", D3DMULTISAMPLE_4_SAMPLES}, {"8", D3DMULTISAMPLE_NONE},
                {"3", D3DMULTISAMPLE_NONE}};
    for (const Run& run : runs) {
        std::remove(png.c_str());
        setenv("TARNWICK_SCREENSHOT", png.c_str(), 1);
        setenv("TARNWICK_FRAMES", run.frames, 1);
        PortRunReload();
        Recreate(true, run.samples);
        EXPECT_EQ(PortDeviceDrawsIntoWindow(device), run.samples == D3DMULTISAMPLE_NONE);
        for (int frame = 0; frame < 3; ++frame) {
            ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(40 * frame, 200, 0), 1.0f, 0), D3D_OK);
            DrawRect(0, 0, 10, 10, 0xFFFFFFFF);
            ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        }
        ASSERT_EQ(device->Release(), 0u);
        device = nullptr;
        unsetenv("TARNWICK_SCREENSHOT");
        unsetenv("TARNWICK_FRAMES");
        PortRunReload();
        MSG message;  // the frame limit posted a close to the window
        while (PortPeekMessage(&message, TRUE)) {
        }

        int w = 0, h = 0, channels = 0;
        unsigned char* pixels = stbi_load(png.c_str(), &w, &h, &channels, 3);
        ASSERT_NE(pixels, nullptr) << run.frames << " frames, " << run.samples << " samples";
        EXPECT_EQ(pixels[(50 * w + 50) * 3 + 0], 80) << "the third frame";
        EXPECT_EQ(pixels[(50 * w + 50) * 3 + 1], 200);
        EXPECT_EQ(pixels[(5 * w + 5) * 3 + 2], 255) << "top rows first";
        stbi_image_free(pixels);
    }
}
