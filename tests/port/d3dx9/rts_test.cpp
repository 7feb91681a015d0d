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
