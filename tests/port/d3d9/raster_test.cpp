// Texture stages, alpha test and blending, culling, fill mode and depth.
#include <cstring>

#include "box.h"
#include "device_fixture.h"

namespace {

struct TexturedVertex {  // D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};
constexpr DWORD kTexturedFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class RasterTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0),
                  D3D_OK);
    }

    // 2x2 texture: red, green over blue, white; alpha 0x80 on the white texel.
    IDirect3DTexture9* MakeTexture() {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        if (!texture) return nullptr;
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        auto* row0 = static_cast<uint32_t*>(locked.pBits);
        auto* row1 = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + locked.Pitch);
        row0[0] = 0xFFFF0000;
        row0[1] = 0xFF00FF00;
        row1[0] = 0xFF0000FF;
        row1[1] = 0x80FFFFFF;
        EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
        return texture;
    }

    void DrawTexturedScreen(D3DCOLOR color) {
        const float w = static_cast<float>(kWidth), h = static_cast<float>(kHeight);
        TexturedVertex v[4] = {{0, 0, 0.5f, 1, color, 0, 0}, {w, 0, 0.5f, 1, color, 1, 0},
                               {0, h, 0.5f, 1, color, 0, 1}, {w, h, 0.5f, 1, color, 1, 1}};
        ASSERT_EQ(device->SetFVF(kTexturedFvf), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TexturedVertex)), D3D_OK);
    }

    void DrawTriangle(float x0, float y0, float x1, float y1, float x2, float y2, D3DCOLOR color) {
        ScreenVertex v[3] = {{x0, y0, 0.5f, 1, color}, {x1, y1, 0.5f, 1, color}, {x2, y2, 0.5f, 1, color}};
        ASSERT_EQ(device->SetFVF(kScreenFvf), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(ScreenVertex)), D3D_OK);
    }
};

}  // namespace

TEST_F(RasterTest, TextureRowZeroIsTheTopAndModulateMultiplies) {
    IDirect3DTexture9* texture = MakeTexture();
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(device->SetTexture(0, texture), D3D_OK);
    // Default stage 0: colour = texture * diffuse, alpha = texture.
    DrawTexturedScreen(D3DCOLOR_ARGB(255, 128, 255, 255));
    auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 10, 10), 128, 0, 0, 1);
    EXPECT_NEAR_COLOR(Pixel(pixels, kWidth - 10, 10), 0, 255, 0, 1);
    EXPECT_NEAR_COLOR(Pixel(pixels, 10, kHeight - 10), 0, 0, 255, 1);
    EXPECT_NEAR_COLOR(Pixel(pixels, kWidth - 10, kHeight - 10), 128, 255, 255, 1);

    // SELECTARG1 with the texture: the texel alone.
    ASSERT_EQ(device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1), D3D_OK);
    DrawTexturedScreen(D3DCOLOR_ARGB(255, 128, 255, 255));
    pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 10, 10), 255, 0, 0, 0);

    // SELECTARG1 of the diffuse colour ignores the texture.
    ASSERT_EQ(device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE), D3D_OK);
    DrawTexturedScreen(D3DCOLOR_ARGB(255, 10, 20, 30));
    pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 10, 10), 10, 20, 30, 0);
    ASSERT_EQ(device->SetTexture(0, nullptr), D3D_OK);
    texture->Release();
}

TEST_F(RasterTest, StagesReadingAMissingTexturePassTheDiffuseColourOn) {
    DrawTexturedScreen(D3DCOLOR_ARGB(255, 40, 80, 120));  // MODULATE(TEXTURE, CURRENT), no texture
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), 50, 50), 40, 80, 120, 0);
    ASSERT_EQ(device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1), D3D_OK);
    DrawTexturedScreen(D3DCOLOR_ARGB(255, 60, 70, 90));
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), 50, 50), 60, 70, 90, 0);
    // A second stage adding the texture factor.
    ASSERT_EQ(device->SetRenderState(D3DRS_TEXTUREFACTOR, D3DCOLOR_ARGB(255, 100, 0, 10)), D3D_OK);
    ASSERT_EQ(device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD), D3D_OK);
    ASSERT_EQ(device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT), D3D_OK);
    ASSERT_EQ(device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR), D3D_OK);
    DrawTexturedScreen(D3DCOLOR_ARGB(255, 60, 70, 90));
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), 50, 50), 160, 70, 100, 1);
}

TEST_F(RasterTest, AlphaTestDiscardsAndBlendingMixes) {
    ASSERT_EQ(device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_ALPHAREF, 0x80), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER), D3D_OK);
    DrawRect(0, 0, 80, 120, D3DCOLOR_ARGB(0x80, 255, 0, 0));  // equal: fails GREATER
    DrawRect(80, 0, 160, 120, D3DCOLOR_ARGB(0x81, 255, 0, 0));
    auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 40, 60), 0, 0, 255, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, 120, 60), 255, 0, 0, 0);

    ASSERT_EQ(device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA), D3D_OK);
    DrawRect(0, 0, 80, 120, D3DCOLOR_ARGB(0x40, 255, 255, 0));
    pixels = ReadBack();
    // 0x40/255 of yellow over blue.
    const double a = 0x40 / 255.0;
    EXPECT_NEAR_COLOR(Pixel(pixels, 40, 60), a * 255, a * 255, (1 - a) * 255, 1);
    // Additive blending.
    ASSERT_EQ(device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE), D3D_OK);
    DrawRect(80, 0, 160, 120, D3DCOLOR_ARGB(0xFF, 0, 100, 0));
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), 120, 60), 255, 100, 0, 0);
}

TEST_F(RasterTest, CullModesFollowScreenWinding) {
    // Clockwise on screen (y grows downward) on the left, counter-clockwise on the right.
    auto draw = [&] {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
        DrawTriangle(10, 10, 60, 10, 10, 60, D3DCOLOR_XRGB(255, 0, 0));
        DrawTriangle(90, 10, 90, 60, 140, 10, D3DCOLOR_XRGB(0, 255, 0));
    };
    draw();  // default D3DCULL_CCW keeps clockwise triangles
    auto pixels = ReadBack();
    EXPECT_EQ(Red(Pixel(pixels, 20, 20)), 255);
    EXPECT_EQ(Green(Pixel(pixels, 100, 20)), 0);
    ASSERT_EQ(device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW), D3D_OK);
    draw();
    pixels = ReadBack();
    EXPECT_EQ(Red(Pixel(pixels, 20, 20)), 0);
    EXPECT_EQ(Green(Pixel(pixels, 100, 20)), 255);
    ASSERT_EQ(device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), D3D_OK);
    draw();
    pixels = ReadBack();
    EXPECT_EQ(Red(Pixel(pixels, 20, 20)), 255);
    EXPECT_EQ(Green(Pixel(pixels, 100, 20)), 255);
}

TEST_F(RasterTest, BoxFrontFacesAreClockwiseAsInD3DX) {
    const D3DCOLOR colors[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF};
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_TRUE(BindBox(device, 1.0f, colors, &vb, &ib));
    D3DMATRIX world = IdentityMatrix(), view = IdentityMatrix();
    world._43 = 5.0f;
    D3DMATRIX proj = PerspectiveFovLH(1.0f, static_cast<float>(kWidth) / kHeight, 0.5f, 50.0f);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &proj);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);  // only culling decides
    auto centre = [&] {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 24, 0, 12), D3D_OK);
        return Pixel(ReadBack(), kWidth / 2, kHeight / 2);
    };
    EXPECT_NEAR_COLOR(centre(), 255, 0, 0, 0);  // the near (-z) face
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    EXPECT_NEAR_COLOR(centre(), 0, 255, 0, 0);  // only the far face's inside is left
    vb->Release();
    ib->Release();
}

TEST_F(RasterTest, WireframeDrawsOnlyEdges) {
    ASSERT_EQ(device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME), D3D_OK);
    DrawRect(20, 20, 140, 100, D3DCOLOR_XRGB(255, 255, 255));
    auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 60, 40), 0, 0, 255, 0);  // inside, away from the diagonal, stays clear
    bool edge = false;
    for (UINT y = 19; y <= 21; ++y) edge = edge || Red(Pixel(pixels, 80, y)) == 255;
    EXPECT_TRUE(edge);
    ASSERT_EQ(device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID), D3D_OK);
    DrawRect(20, 20, 140, 100, D3DCOLOR_XRGB(255, 255, 255));
    EXPECT_EQ(Red(Pixel(ReadBack(), 60, 40)), 255);
}

TEST_F(RasterTest, DepthTestAndDepthWrites) {
    DrawRect(0, 0, 160, 120, D3DCOLOR_XRGB(255, 0, 0), 0.3f);
    DrawRect(0, 0, 80, 120, D3DCOLOR_XRGB(0, 255, 0), 0.6f);  // behind: rejected
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), 40, 60), 255, 0, 0, 0);

    ASSERT_EQ(device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE), D3D_OK);
    DrawRect(0, 0, 80, 120, D3DCOLOR_XRGB(0, 255, 0), 0.6f);
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), 40, 60), 0, 255, 0, 0);

    // Without depth writes a near surface leaves the depth buffer alone.
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE), D3D_OK);
    DrawRect(0, 0, 160, 120, D3DCOLOR_XRGB(255, 0, 0), 0.3f);
    ASSERT_EQ(device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE), D3D_OK);
    DrawRect(0, 0, 80, 120, D3DCOLOR_XRGB(0, 255, 0), 0.6f);
    auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 40, 60), 0, 255, 0, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, 120, 60), 255, 0, 0, 0);
}

TEST_F(RasterTest, ProgramsAreCompiledOncePerStateCombination) {
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    DrawRect(0, 0, 10, 10, 0xFFFFFFFF);
    const size_t programs = PortDeviceProgramCount(device);
    for (int i = 0; i < 20; ++i) {
        device->SetRenderState(D3DRS_ALPHATESTENABLE, i % 2);
        DrawRect(0, 0, 10, 10, 0xFFFFFFFF);
    }
    EXPECT_EQ(PortDeviceProgramCount(device), programs + 1);
}
