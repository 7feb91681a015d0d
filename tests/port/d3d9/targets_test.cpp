// Render-target textures, occlusion queries and the device-loss sequence.
#include <cstring>

#include "device_fixture.h"
#include "port/d3dx9/wingdi.h"

namespace {

struct TexturedVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};

}  // namespace

TEST_F(DeviceTest, RenderTargetTextureRowZeroIsItsTop) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(64, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
    IDirect3DSurface9* backBuffer = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &backBuffer), D3D_OK);
    IDirect3DSurface9* depth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&depth), D3D_OK);

    ASSERT_EQ(device->SetRenderTarget(0, surface), D3D_OK);
    ASSERT_EQ(device->SetDepthStencilSurface(nullptr), D3D_OK);
    D3DVIEWPORT9 vp{};
    ASSERT_EQ(device->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.Width, 64u);  // a new target resets the viewport to its size
    EXPECT_EQ(vp.Height, 32u);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 0, 0), 1.0f, 0), D3D_OK);
    D3DRECT top{0, 0, 64, 8};
    ASSERT_EQ(device->Clear(1, &top, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 255, 0), 1.0f, 0), D3D_OK);
    DrawRect(0, 16, 8, 24, D3DCOLOR_XRGB(0, 0, 255));
    // Clockwise triangles survive the default culling in a texture as well.
    ScreenVertex tri[3] = {{40, 12, 0.5f, 1, 0xFFFFFF00}, {60, 12, 0.5f, 1, 0xFFFFFF00}, {40, 30, 0.5f, 1, 0xFFFFFF00}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ScreenVertex)), D3D_OK);

    auto pixels = ReadTarget(device, surface, 64, 32);
    ASSERT_EQ(pixels.size(), 64u * 32u);
    EXPECT_NEAR_COLOR(pixels[0], 0, 255, 0, 0);            // row 0: the cleared top band
    EXPECT_NEAR_COLOR(pixels[7 * 64 + 63], 0, 255, 0, 0);
    EXPECT_NEAR_COLOR(pixels[8 * 64], 255, 0, 0, 0);
    EXPECT_NEAR_COLOR(pixels[20 * 64 + 4], 0, 0, 255, 0);   // drawn at y 16..23
    EXPECT_NEAR_COLOR(pixels[14 * 64 + 42], 255, 255, 0, 0);

    // Sampled with v = 0 at the top, the texture shows the same way up.
    ASSERT_EQ(device->SetRenderTarget(0, backBuffer), D3D_OK);
    ASSERT_EQ(device->SetDepthStencilSurface(depth), D3D_OK);
    ASSERT_EQ(device->SetTexture(0, texture), D3D_OK);
    const float w = static_cast<float>(kWidth), h = static_cast<float>(kHeight);
    TexturedVertex quad[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0}, {w, 0, 0.5f, 1, 0xFFFFFFFF, 1, 0},
                              {0, h, 0.5f, 1, 0xFFFFFFFF, 0, 1}, {w, h, 0.5f, 1, 0xFFFFFFFF, 1, 1}};
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TexturedVertex)), D3D_OK);
    auto screen = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(screen, 5, 5), 0, 255, 0, 0);
    EXPECT_NEAR_COLOR(Pixel(screen, 5, kHeight / 2 - 10), 255, 0, 0, 0);
    EXPECT_NEAR_COLOR(Pixel(screen, 5, kHeight * 20 / 32), 0, 0, 255, 0);

    ASSERT_EQ(device->SetTexture(0, nullptr), D3D_OK);
    depth->Release();
    backBuffer->Release();
    surface->Release();
    texture->Release();
}

TEST_F(DeviceTest, RenderTargetsRefuseWrongSurfaces) {
    IDirect3DTexture9* plain = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &plain, nullptr), D3D_OK);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(plain->GetSurfaceLevel(0, &level), D3D_OK);
    EXPECT_EQ(device->SetRenderTarget(0, level), D3DERR_INVALIDCALL);  // not a render target
    EXPECT_EQ(device->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderTarget(1, level), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetDepthStencilSurface(level), D3DERR_INVALIDCALL);
    IDirect3DSurface9* none = nullptr;
    EXPECT_EQ(device->GetRenderTarget(1, &none), D3DERR_NOTFOUND);
    // Video-memory textures cannot be locked.
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(target->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    IDirect3DTexture9* refused = nullptr;
    EXPECT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &refused, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(refused, nullptr);
    target->Release();
    level->Release();
    plain->Release();
}

TEST_F(DeviceTest, OcclusionQueryCountsCoveredPixels) {
    IDirect3DQuery9* query = nullptr;
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_OCCLUSION, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_OCCLUSION, &query), D3D_OK);
    EXPECT_EQ(query->GetDataSize(), sizeof(DWORD));
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    auto count = [&](auto draw) -> DWORD {
        EXPECT_EQ(query->Issue(D3DISSUE_BEGIN), D3D_OK);
        draw();
        EXPECT_EQ(query->Issue(D3DISSUE_END), D3D_OK);
        DWORD samples = 0xFFFFFFFF;
        HRESULT hr;
        while ((hr = query->GetData(&samples, sizeof(samples), D3DGETDATA_FLUSH)) == S_FALSE) {
        }
        EXPECT_EQ(hr, S_OK);
        return samples;
    };
    EXPECT_EQ(count([&] { DrawRect(10, 20, 110, 70, 0xFFFFFFFF, 0.5f); }), 5000u);

    // A triangle whose edges pass through no pixel centre: every centre
    // (x, y) with x >= 1, y >= 1 and 80x + 100y < 8054 is covered.
    DWORD expected = 0;
    for (int y = 1; y < 81; ++y)
        for (int x = 1; x < 101; ++x)
            if (80 * x + 100 * y < 8054) ++expected;
    ScreenVertex tri[3] = {{0.3f, 0.3f, 0.2f, 1, 0xFFFFFFFF}, {100.3f, 0.3f, 0.2f, 1, 0xFFFFFFFF},
                           {0.3f, 80.3f, 0.2f, 1, 0xFFFFFFFF}};
    EXPECT_EQ(count([&] { device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ScreenVertex)); }), expected);

    // Hidden behind what is already drawn: nothing passes.
    EXPECT_EQ(count([&] { DrawRect(20, 30, 60, 60, 0xFFFFFFFF, 0.9f); }), 0u);
    query->Release();
    EXPECT_EQ(device->CreateQuery(D3DQUERYTYPE_VCACHE, &query), D3DERR_NOTAVAILABLE);
}

TEST_F(DeviceTest, DeviceLossRunsLostThenNotResetThenReset) {
    ASSERT_EQ(device->TestCooperativeLevel(), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_LIGHTING, FALSE), D3D_OK);
    IDirect3DVertexBuffer9* videoMemory = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &videoMemory, nullptr), D3D_OK);
    IDirect3DVertexBuffer9* managed = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &managed, nullptr), D3D_OK);

    PortDeviceForceLoss(device);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    // Drawing while lost is accepted and does nothing.
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);

    // Video-memory resources must go before Reset can succeed.
    D3DPRESENT_PARAMETERS p = DefaultParams();
    EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    videoMemory->Release();
    p.BackBufferWidth = 80;
    p.BackBufferHeight = 60;
    ASSERT_EQ(device->Reset(&p), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);

    // Reset brings every state back to its default and sizes the new back buffer.
    DWORD lighting = 0;
    ASSERT_EQ(device->GetRenderState(D3DRS_LIGHTING, &lighting), D3D_OK);
    EXPECT_EQ(lighting, static_cast<DWORD>(TRUE));
    D3DVIEWPORT9 vp{};
    ASSERT_EQ(device->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.Width, 80u);
    EXPECT_EQ(vp.Height, 60u);
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(back->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 80u);
    back->Release();
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    managed->Release();
}

TEST_F(DeviceTest, MinimisedFullScreenWindowLosesTheDevice) {
    // Full screen is requested; under the offscreen driver the window stays a window.
    ASSERT_EQ(device->Release(), 0u);
    device = nullptr;
    D3DPRESENT_PARAMETERS p = DefaultParams();
    p.Windowed = FALSE;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device),
              D3D_OK);
    window->ShowWindow(SW_MINIMIZE);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    window->ShowWindow(SW_RESTORE);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    ASSERT_EQ(device->Reset(&p), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
}

TEST_F(DeviceTest, AContextOnARenderTargetLevelHoldsItsPictureAndUploadsOnRelease) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
    IDirect3DSurface9* backBuffer = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &backBuffer), D3D_OK);
    ASSERT_EQ(device->SetRenderTarget(0, surface), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 255, 0), 1.0f, 0), D3D_OK);
    DrawRect(0, 0, 32, 8, D3DCOLOR_XRGB(255, 0, 0));
    ASSERT_EQ(device->SetRenderTarget(0, backBuffer), D3D_OK);

    // The context starts with what was drawn, rows top first.
    HDC dc = nullptr;
    ASSERT_EQ(surface->GetDC(&dc), D3D_OK);
    EXPECT_EQ(GetPixel(dc, 16, 2), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(dc, 16, 20), RGB(0, 255, 0));
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    RECT band{0, 24, 32, 32};  // bottom band
    EXPECT_EQ(FillRect(dc, &band, blue), 1);
    DeleteObject(blue);
    ASSERT_EQ(surface->ReleaseDC(dc), D3D_OK);

    const auto pixels = ReadTarget(device, surface, 32, 32);
    ASSERT_EQ(pixels.size(), 32u * 32u);
    EXPECT_NEAR_COLOR(pixels[2 * 32 + 16], 255, 0, 0, 0);
    EXPECT_NEAR_COLOR(pixels[16 * 32 + 16], 0, 255, 0, 0);
    EXPECT_NEAR_COLOR(pixels[28 * 32 + 16], 0, 0, 255, 0);
    // Still a render target, and still not lockable as one.
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(surface->LockRect(&locked, nullptr, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->SetRenderTarget(0, surface), D3D_OK);
    DrawRect(0, 8, 32, 24, D3DCOLOR_XRGB(255, 255, 0));
    ASSERT_EQ(device->SetRenderTarget(0, backBuffer), D3D_OK);
    EXPECT_NEAR_COLOR(ReadTarget(device, surface, 32, 32)[16 * 32 + 16], 255, 255, 0, 0);
    // The back buffer is a render target that was not made lockable.
    EXPECT_EQ(backBuffer->GetDC(&dc), D3DERR_INVALIDCALL);

    backBuffer->Release();
    surface->Release();
    texture->Release();
}
