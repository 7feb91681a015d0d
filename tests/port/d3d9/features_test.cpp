// Point sprites, fog, drawing contexts on surfaces, dynamic buffers, and a lit
// textured scene saved as a picture.
#include <cairo.h>
#include <stb/stb_image_write.h>

#include <cstring>

#include "box.h"
#include "device_fixture.h"
#include "port/d3dx9/wingdi.h"

namespace {

inline DWORD F2D(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

struct PointVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
};

}  // namespace

TEST_F(DeviceTest, PointsTakeTheirSizeAndSpritesSpanTheTexture) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_POINTSIZE, F2D(8.0f)), D3D_OK);
    PointVertex p{40, 40, 0.5f, 1, 0xFFFFFFFF};
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &p, sizeof(p)), D3D_OK);
    auto pixels = ReadBack();
    int covered = 0;
    for (UINT y = 30; y < 50; ++y)
        for (UINT x = 30; x < 50; ++x) covered += Red(Pixel(pixels, x, y)) == 255;
    EXPECT_EQ(covered, 64);

    // A sprite maps the whole texture over the point: top half red, bottom half green.
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    auto* texels = static_cast<uint32_t*>(locked.pBits);
    texels[0] = texels[1] = 0x00FF0000;
    auto* row1 = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + locked.Pitch);
    row1[0] = row1[1] = 0x0000FF00;
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    ASSERT_EQ(device->SetTexture(0, texture), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_POINTSIZE, F2D(16.0f)), D3D_OK);
    PointVertex sprite{100, 60, 0.5f, 1, 0xFFFFFFFF};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &sprite, sizeof(sprite)), D3D_OK);
    pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 100, 55), 255, 0, 0, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, 100, 65), 0, 255, 0, 0);
    ASSERT_EQ(device->SetTexture(0, nullptr), D3D_OK);
    texture->Release();
}

TEST_F(DeviceTest, LinearVertexFogBlendsTowardsTheFogColour) {
    D3DMATRIX proj = OrthoLH(kWidth / 10.0f, kHeight / 10.0f, 0.0f, 100.0f), id = IdentityMatrix();
    device->SetTransform(D3DTS_PROJECTION, &proj);
    device->SetTransform(D3DTS_VIEW, &id);
    device->SetTransform(D3DTS_WORLD, &id);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_FOGCOLOR, D3DCOLOR_XRGB(0, 0, 255));
    device->SetRenderState(D3DRS_FOGSTART, F2D(10.0f));
    device->SetRenderState(D3DRS_FOGEND, F2D(30.0f));
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    struct V {
        float x, y, z;
        D3DCOLOR c;
    };
    // At depth 25: fog factor (30 - 25) / (30 - 10) = 0.25 of the object's colour.
    V quad[4] = {{-2, 2, 25, 0xFFFF0000}, {2, 2, 25, 0xFFFF0000}, {-2, -2, 25, 0xFFFF0000}, {2, -2, 25, 0xFFFF0000}};
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V)), D3D_OK);
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), kWidth / 2, kHeight / 2), 64, 0, 191, 2);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V)), D3D_OK);
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), kWidth / 2, kHeight / 2), 255, 0, 0, 0);
}

TEST_F(DeviceTest, DrawingContextOfASurfaceUploadsOnRelease) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(32, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
    HDC dc = nullptr;
    ASSERT_EQ(surface->GetDC(&dc), D3D_OK);
    HDC second = nullptr;
    EXPECT_EQ(surface->GetDC(&second), D3DERR_INVALIDCALL);  // one context at a time
    cairo_t* cr = cairo_create(reinterpret_cast<cairo_surface_t*>(dc));
    cairo_set_source_rgba(cr, 1, 1, 0, 1);
    cairo_paint(cr);
    cairo_set_source_rgba(cr, 0, 0, 1, 1);
    cairo_rectangle(cr, 0, 0, 32, 8);  // top band
    cairo_fill(cr);
    cairo_destroy(cr);
    // GDI calls draw into the context too while it is out.
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    RECT band{0, 24, 32, 32};
    EXPECT_EQ(FillRect(dc, &band, green), 1);
    EXPECT_EQ(GetPixel(dc, 3, 30), RGB(0, 255, 0));
    ASSERT_EQ(surface->ReleaseDC(dc), D3D_OK);
    EXPECT_EQ(surface->ReleaseDC(dc), D3DERR_INVALIDCALL);
    EXPECT_EQ(FillRect(dc, &band, green), 0);  // a released context draws nothing
    DeleteObject(green);

    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->SetTexture(0, texture), D3D_OK);
    struct V {
        float x, y, z, rhw;
        D3DCOLOR c;
        float u, v;
    } quad[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0}, {32, 0, 0.5f, 1, 0xFFFFFFFF, 1, 0},
                 {0, 32, 0.5f, 1, 0xFFFFFFFF, 0, 1}, {32, 32, 0.5f, 1, 0xFFFFFFFF, 1, 1}};
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V)), D3D_OK);
    auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 16, 2), 0, 0, 255, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, 16, 20), 255, 255, 0, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, 16, 29), 0, 255, 0, 0);
    ASSERT_EQ(device->SetTexture(0, nullptr), D3D_OK);
    surface->Release();
    texture->Release();
}

TEST_F(DeviceTest, DynamicBuffersHonourDiscardAndNoOverwrite) {
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(8 * sizeof(ScreenVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kScreenFvf,
                                         D3DPOOL_DEFAULT, &vb, nullptr),
              D3D_OK);
    auto quad = [](ScreenVertex* v, float x0, D3DCOLOR c) {
        const ScreenVertex q[4] = {{x0, 0, 0.5f, 1, c}, {x0 + 40, 0, 0.5f, 1, c}, {x0, 40, 0.5f, 1, c}, {x0 + 40, 40, 0.5f, 1, c}};
        std::memcpy(v, q, sizeof(q));
    };
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->SetFVF(kScreenFvf), D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, vb, 0, sizeof(ScreenVertex)), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(vb->Lock(0, 4 * sizeof(ScreenVertex), &data, D3DLOCK_DISCARD), D3D_OK);
    quad(static_cast<ScreenVertex*>(data), 0, 0xFFFF0000);
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    // Appending behind data in use: only the new range is written.
    ASSERT_EQ(vb->Lock(4 * sizeof(ScreenVertex), 4 * sizeof(ScreenVertex), &data, D3DLOCK_NOOVERWRITE), D3D_OK);
    quad(static_cast<ScreenVertex*>(data), 60, 0xFF00FF00);
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 4, 2), D3D_OK);
    auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 20, 20), 255, 0, 0, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, 80, 20), 0, 255, 0, 0);
    vb->Release();
}

TEST_F(DeviceTest, LitTexturedSceneIsSavedAsAPicture) {
    ASSERT_EQ(device->Release(), 0u);
    device = nullptr;
    window->DestroyWindow();
    RECT r{0, 0, 640, 480};
    ASSERT_TRUE(window->CreateEx(0, L"", L"scene", WS_POPUP | WS_CAPTION, r, nullptr, 0));
    D3DPRESENT_PARAMETERS p = DefaultParams();
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device), D3D_OK);

    // A checkerboard texture, 8x8 squares of 8 texels, with mipmaps filled per level.
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    for (UINT level = 0; level < texture->GetLevelCount(); ++level) {
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3D_OK);
        const UINT square = std::max(1u, desc.Width / 8);
        for (UINT y = 0; y < desc.Height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch);
            for (UINT x = 0; x < desc.Width; ++x) row[x] = ((x / square + y / square) & 1) ? 0xFFF0F0F0 : 0xFFC04020;
        }
        texture->UnlockRect(level);
    }
    const D3DCOLOR white[6] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_TRUE(BindBox(device, 1.0f, white, &vb, &ib));
    // Camera at (0, 2.5, -5) looking at the origin.
    D3DMATRIX view = IdentityMatrix();
    const float ey = 2.5f, ez = -5.0f, len = std::sqrt(ey * ey + ez * ez);
    const float zy = -ey / len, zz = -ez / len;  // forward
    view._11 = 1;
    view._22 = zz;
    view._23 = zy;
    view._32 = -zy;
    view._33 = zz;
    view._42 = -(ey * zz + ez * -zy);
    view._43 = -(ey * zy + ez * zz);
    D3DMATRIX proj = PerspectiveFovLH(0.8f, 640.0f / 480.0f, 0.5f, 50.0f);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &proj);
    const float angle = 0.6f;
    D3DMATRIX world = IdentityMatrix();
    world._11 = std::cos(angle);
    world._13 = -std::sin(angle);
    world._31 = std::sin(angle);
    world._33 = std::cos(angle);
    device->SetTransform(D3DTS_WORLD, &world);

    D3DMATERIAL9 material{};
    material.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
    material.Ambient = D3DCOLORVALUE{1, 1, 1, 1};
    material.Specular = D3DCOLORVALUE{1, 1, 1, 1};
    material.Power = 20;
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    device->SetRenderState(D3DRS_AMBIENT, 0x00303030);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    D3DLIGHT9 sun{};
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = D3DCOLORVALUE{0.9f, 0.85f, 0.7f, 1};
    sun.Specular = D3DCOLORVALUE{0.5f, 0.5f, 0.5f, 1};
    sun.Direction = D3DVECTOR{-0.5f, -1.0f, 0.7f};
    device->SetLight(0, &sun);
    device->LightEnable(0, TRUE);
    D3DLIGHT9 lamp{};
    lamp.Type = D3DLIGHT_POINT;
    lamp.Diffuse = D3DCOLORVALUE{0.2f, 0.4f, 1.0f, 1};
    lamp.Position = D3DVECTOR{-2.5f, 0.5f, -1.5f};
    lamp.Range = 6;
    lamp.Attenuation0 = 0.2f;
    lamp.Attenuation1 = 0.3f;
    device->SetLight(1, &lamp);
    device->LightEnable(1, TRUE);
    device->SetTexture(0, texture);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);

    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(24, 28, 40), 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 24, 0, 12), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    std::vector<uint32_t> pixels;
    UINT w = 0, h = 0;
    ASSERT_TRUE(PortDeviceReadBackBuffer(device, pixels, w, h));
    // The lit top face is brighter than the side facing away from the sun,
    // and the checkerboard shows on the front.
    auto lum = [&](UINT x, UINT y) {
        const uint32_t c = pixels[y * w + x];
        return Red(c) + Green(c) + Blue(c);
    };
    EXPECT_EQ(pixels[5 * w + 5], 0xFF181C28u);  // background
    int distinct = 0;
    int previous = -1;
    for (UINT x = 250; x < 390; x += 2) {
        const int l = lum(x, 300);
        if (previous >= 0 && std::abs(l - previous) > 60) ++distinct;
        previous = l;
    }
    EXPECT_GE(distinct, 2);  // edges between squares along a row of the box
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        rgb[i * 3] = static_cast<uint8_t>(Red(pixels[i]));
        rgb[i * 3 + 1] = static_cast<uint8_t>(Green(pixels[i]));
        rgb[i * 3 + 2] = static_cast<uint8_t>(Blue(pixels[i]));
    }
    EXPECT_NE(stbi_write_png("/tmp/port_lit_textured_scene.png", static_cast<int>(w), static_cast<int>(h), 3, rgb.data(),
                             static_cast<int>(w) * 3),
              0);
    device->SetTexture(0, nullptr);
    vb->Release();
    ib->Release();
    texture->Release();
}
