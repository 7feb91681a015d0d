// Render-to-surface on the real device: what is drawn between BeginScene
// and EndScene lands in the texture, and the back buffer is left alone.
#include "port/d3d9/device_fixture.h"
#include "port/d3dx9/d3dx9rts.h"
#include "port/d3dx9/d3dx9tex.h"

using RenderToSurfaceTest = DeviceTest;

TEST_F(RenderToSurfaceTest, DrawsIntoTheTextureAndRestoresTheTarget) {
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device, 64, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &tex),
              D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(tex->GetSurfaceLevel(0, &surface), D3D_OK);
    ID3DXRenderToSurface* rts = nullptr;
    ASSERT_EQ(D3DXCreateRenderToSurface(device, 64, 32, D3DFMT_X8R8G8B8, TRUE, D3DFMT_D16, &rts), D3D_OK);
    D3DXRTS_DESC desc{};
    rts->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 64u);
    EXPECT_EQ(desc.DepthStencilFormat, D3DFMT_D16);

    D3DVIEWPORT9 before{};
    device->GetViewport(&before);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FFu, 1.0f, 0);
    D3DVIEWPORT9 vp{0, 0, 64, 32, 0.0f, 1.0f};
    ASSERT_EQ(rts->BeginScene(surface, &vp), D3D_OK);
    EXPECT_EQ(rts->BeginScene(surface, &vp), D3DERR_INVALIDCALL); // no nesting
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF00FF00u, 1.0f, 0);
    DrawRect(0, 0, 32, 32, 0xFFFF0000u);
    ASSERT_EQ(rts->EndScene(0), D3D_OK);
    EXPECT_EQ(rts->EndScene(0), D3DERR_INVALIDCALL);

    D3DVIEWPORT9 after{};
    device->GetViewport(&after);
    EXPECT_EQ(after.Width, before.Width);
    EXPECT_EQ(after.Height, before.Height);
    // The back buffer kept its own clear colour.
    const auto back = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(back, 100, 100), 0, 0, 255, 1);

    // The texture shows what was drawn: draw it over the whole back buffer.
    struct V {
        float x, y, z, rhw, u, v;
    };
    const V quad[4] = {{0, 0, 0.5f, 1, 0, 0}, {(float)kWidth, 0, 0.5f, 1, 1, 0}, {0, (float)kHeight, 0.5f, 1, 0, 1},
                       {(float)kWidth, (float)kHeight, 0.5f, 1, 1, 1}};
    device->BeginScene();
    device->SetTexture(0, tex);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V));
    device->EndScene();
    const auto shown = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(shown, kWidth / 4, kHeight / 2), 255, 0, 0, 2);
    EXPECT_NEAR_COLOR(Pixel(shown, 3 * kWidth / 4, kHeight / 2), 0, 255, 0, 2);
    device->SetTexture(0, nullptr);

    // A surface of another size is refused.
    IDirect3DTexture9* other = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device, 16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &other),
              D3D_OK);
    IDirect3DSurface9* otherSurface = nullptr;
    other->GetSurfaceLevel(0, &otherSurface);
    EXPECT_EQ(rts->BeginScene(otherSurface, nullptr), D3DERR_INVALIDCALL);
    otherSurface->Release();
    other->Release();
    rts->Release();
    surface->Release();
    tex->Release();
}

namespace {

// A render-target texture of 64 x 32 and its level 0.
struct Target {
    IDirect3DTexture9* texture = nullptr;
    IDirect3DSurface9* surface = nullptr;
    explicit Target(IDirect3DDevice9* device) {
        EXPECT_EQ(D3DXCreateTexture(device, 64, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                    &texture),
                  D3D_OK);
        if (texture) texture->GetSurfaceLevel(0, &surface);
    }
    ~Target() {
        if (surface) surface->Release();
        if (texture) texture->Release();
    }
};

} // namespace

TEST_F(RenderToSurfaceTest, ItsSixteenBitDepthBufferHidesWhatIsBehindAndQueriesCountItsPixels) {
    Target target(device);
    ASSERT_NE(target.surface, nullptr);
    ID3DXRenderToSurface* rts = nullptr;
    ASSERT_EQ(D3DXCreateRenderToSurface(device, 64, 32, D3DFMT_X8R8G8B8, TRUE, D3DFMT_D16, &rts), D3D_OK);
    IDirect3DSurface9* ownDepth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&ownDepth), D3D_OK);
    IDirect3DQuery9* query = nullptr;
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_OCCLUSION, &query), D3D_OK);
    auto count = [&](auto draw) -> DWORD {
        query->Issue(D3DISSUE_BEGIN);
        draw();
        query->Issue(D3DISSUE_END);
        DWORD samples = 0xFFFFFFFF;
        while (query->GetData(&samples, sizeof samples, D3DGETDATA_FLUSH) == S_FALSE) {
        }
        return samples;
    };

    ASSERT_EQ(rts->BeginScene(target.surface, nullptr), D3D_OK);
    IDirect3DSurface9* depth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&depth), D3D_OK);
    D3DSURFACE_DESC desc{};
    depth->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_D16);
    EXPECT_EQ(desc.Width, 64u);
    depth->Release();
    // No stencil in a D16 buffer: asking to clear one is refused whole.
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0), D3D_OK);
    DrawRect(0, 0, 32, 32, 0xFFFF0000u, 0.2f);                                   // near, left half
    EXPECT_EQ(count([&] { DrawRect(0, 0, 64, 32, 0xFF00FF00u, 0.8f); }), 32u * 32u);   // only the right half passes
    EXPECT_EQ(count([&] { DrawRect(40, 10, 50, 20, 0xFF0000FFu, 0.9f); }), 0u);         // behind the green
    EXPECT_EQ(count([&] { DrawRect(40, 10, 50, 20, 0xFF0000FFu, 0.1f); }), 100u);
    ASSERT_EQ(rts->EndScene(0), D3D_OK);

    IDirect3DSurface9* restored = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&restored), D3D_OK);
    EXPECT_EQ(restored, ownDepth);
    restored->Release();
    ownDepth->Release();
    const auto texels = ReadTarget(device, target.surface, 64, 32);
    ASSERT_EQ(texels.size(), 64u * 32u);
    EXPECT_NEAR_COLOR(texels[16 * 64 + 16], 255, 0, 0, 0);
    EXPECT_NEAR_COLOR(texels[5 * 64 + 60], 0, 255, 0, 0);
    EXPECT_NEAR_COLOR(texels[15 * 64 + 45], 0, 0, 255, 0);
    query->Release();
    rts->Release();
}

TEST_F(RenderToSurfaceTest, ALostDeviceTakesItsDepthBufferAndResetGivesItBack) {
    ID3DXRenderToSurface* rts = nullptr;
    ASSERT_EQ(D3DXCreateRenderToSurface(device, 64, 32, D3DFMT_X8R8G8B8, TRUE, D3DFMT_D16, &rts), D3D_OK);
    {
        Target target(device);
        ASSERT_EQ(rts->BeginScene(target.surface, nullptr), D3D_OK);
        ASSERT_EQ(rts->EndScene(0), D3D_OK);
    }
    PortDeviceForceLoss(device);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS p = DefaultParams();
    EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL) << "its depth buffer lives in video memory";
    ASSERT_EQ(rts->OnLostDevice(), D3D_OK);
    ASSERT_EQ(device->Reset(&p), D3D_OK);
    ASSERT_EQ(rts->OnResetDevice(), D3D_OK);

    Target target(device);
    ASSERT_EQ(rts->BeginScene(target.surface, nullptr), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF00FF00u, 1.0f, 0), D3D_OK);
    ASSERT_EQ(rts->EndScene(0), D3D_OK);
    EXPECT_NEAR_COLOR(ReadTarget(device, target.surface, 64, 32)[100], 0, 255, 0, 0);
    rts->Release();
}

TEST_F(RenderToSurfaceTest, AnImageFileCanStartARenderTarget) {
    // A 2 x 1 24-bit BMP (rows padded to 4 bytes), blue then red.
    const unsigned char bmp[] = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0,
                                 1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 255, 0, 0, 0, 0, 255, 0, 0};
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device, bmp, sizeof bmp, 2, 1, 1, D3DUSAGE_RENDERTARGET,
                                                  D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                  nullptr, nullptr, &texture),
              D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
    const auto texels = ReadTarget(device, surface, 2, 1);
    ASSERT_EQ(texels.size(), 2u);
    EXPECT_NEAR_COLOR(texels[0], 0, 0, 255, 0);
    EXPECT_NEAR_COLOR(texels[1], 255, 0, 0, 0);
    // And it is drawn into like any render target.
    ID3DXRenderToSurface* rts = nullptr;
    ASSERT_EQ(D3DXCreateRenderToSurface(device, 2, 1, D3DFMT_X8R8G8B8, TRUE, D3DFMT_D16, &rts), D3D_OK);
    ASSERT_EQ(rts->BeginScene(surface, nullptr), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    DrawRect(0, 0, 1, 1, 0xFF00FF00u);
    ASSERT_EQ(rts->EndScene(0), D3D_OK);
    const auto drawn = ReadTarget(device, surface, 2, 1);
    EXPECT_NEAR_COLOR(drawn[0], 0, 255, 0, 0);
    EXPECT_NEAR_COLOR(drawn[1], 255, 0, 0, 0);
    rts->Release();
    surface->Release();
    texture->Release();
}
