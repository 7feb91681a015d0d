// Per-vertex lighting against values worked out by hand from Direct3D's
// lighting formulas.
#include <cstring>

#include "box.h"
#include "device_fixture.h"

namespace {

struct NormalVertex {
    float x, y, z, nx, ny, nz;
};
constexpr DWORD kNormalFvf = D3DFVF_XYZ | D3DFVF_NORMAL;

D3DCOLORVALUE Rgba(float r, float g, float b, float a = 1.0f) { return D3DCOLORVALUE{r, g, b, a}; }

class LightingTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        // 10 pixels per world unit, camera at the origin looking along +z.
        D3DMATRIX proj = OrthoLH(kWidth / 10.0f, kHeight / 10.0f, 1.0f, 100.0f);
        D3DMATRIX id = IdentityMatrix();
        ASSERT_EQ(device->SetTransform(D3DTS_PROJECTION, &proj), D3D_OK);
        ASSERT_EQ(device->SetTransform(D3DTS_VIEW, &id), D3D_OK);
        ASSERT_EQ(device->SetTransform(D3DTS_WORLD, &id), D3D_OK);
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    }

    // A 2x2 quad at depth z facing the camera (normal -z).
    void DrawFacingQuad(float z) {
        NormalVertex v[4] = {{-1, 1, z, 0, 0, -1}, {1, 1, z, 0, 0, -1}, {-1, -1, z, 0, 0, -1}, {1, -1, z, 0, 0, -1}};
        ASSERT_EQ(device->SetFVF(kNormalFvf), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(NormalVertex)), D3D_OK);
    }

    uint32_t Centre() { return Pixel(ReadBack(), kWidth / 2, kHeight / 2); }
};

}  // namespace

TEST_F(LightingTest, DirectionalLightOnABoxFollowsTheDiffuseFormula) {
    const D3DCOLOR white[6] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_TRUE(BindBox(device, 2.0f, white, &vb, &ib));
    D3DMATRIX world = IdentityMatrix();
    world._43 = 10.0f;
    ASSERT_EQ(device->SetTransform(D3DTS_WORLD, &world), D3D_OK);
    // Material from the material, not from the vertex colour.
    ASSERT_EQ(device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL), D3D_OK);
    D3DMATERIAL9 material{};
    material.Diffuse = Rgba(1, 1, 1);
    material.Ambient = Rgba(0.5f, 0.5f, 0.5f);
    ASSERT_EQ(device->SetMaterial(&material), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_AMBIENT, 0x00404040), D3D_OK);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = Rgba(0.5f, 1.0f, 0.25f);
    light.Direction = D3DVECTOR{0.6f, 0.0f, 0.8f};
    ASSERT_EQ(device->SetLight(0, &light), D3D_OK);
    ASSERT_EQ(device->LightEnable(0, TRUE), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 24, 0, 12), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    // Front face: N = (0,0,-1), L = -(0.6,0,0.8): N.L = 0.8.
    // colour = Ca * Ga + Cd * Ld * N.L = 0.5 * 64/255 + (0.4, 0.8, 0.2).
    const double ambient = 0.5 * 64.0 / 255.0;
    EXPECT_NEAR_COLOR(Centre(), (0.4 + ambient) * 255, (0.8 + ambient) * 255, (0.2 + ambient) * 255, 2);

    // With the default colour source the vertex colour takes the material's place.
    ASSERT_EQ(device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    const D3DCOLOR red[6] = {0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000};
    IDirect3DVertexBuffer9* redVb = nullptr;
    IDirect3DIndexBuffer9* redIb = nullptr;
    ASSERT_TRUE(BindBox(device, 2.0f, red, &redVb, &redIb));
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 24, 0, 12), D3D_OK);
    EXPECT_NEAR_COLOR(Centre(), (0.4 + ambient) * 255, ambient * 255, ambient * 255, 2);
    redVb->Release();
    redIb->Release();
    vb->Release();
    ib->Release();
}

TEST_F(LightingTest, PointLightAttenuatesAndStopsAtItsRange) {
    D3DMATERIAL9 material{};
    material.Diffuse = Rgba(1, 1, 1);
    ASSERT_EQ(device->SetMaterial(&material), D3D_OK);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = Rgba(1, 1, 1);
    light.Position = D3DVECTOR{0, 0, 7};
    light.Attenuation1 = 0.5f;
    light.Range = 3.5f;
    ASSERT_EQ(device->SetLight(3, &light), D3D_OK);
    ASSERT_EQ(device->LightEnable(3, TRUE), D3D_OK);
    DrawFacingQuad(10.0f);
    // Every corner is sqrt(11) from the light: N.L = 3/sqrt(11), attenuation 1/(0.5 sqrt(11)).
    const double d = std::sqrt(11.0);
    const double expected = (3.0 / d) / (0.5 * d) * 255.0;
    EXPECT_NEAR_COLOR(Centre(), expected, expected, expected, 2);

    // Just out of range: nothing.
    light.Range = 3.3f;
    ASSERT_EQ(device->SetLight(3, &light), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202020, 1.0f, 0), D3D_OK);
    DrawFacingQuad(10.0f);
    EXPECT_NEAR_COLOR(Centre(), 0, 0, 0, 0);

    // Quadratic attenuation at the same distance: 1 / (0.1 * 11).
    light.Range = 10.0f;
    light.Attenuation1 = 0.0f;
    light.Attenuation2 = 0.1f;
    ASSERT_EQ(device->SetLight(3, &light), D3D_OK);
    DrawFacingQuad(10.0f);
    const double quadratic = (3.0 / d) / (0.1 * 11.0) * 255.0;
    EXPECT_NEAR_COLOR(Centre(), std::min(255.0, quadratic), std::min(255.0, quadratic), std::min(255.0, quadratic), 2);
}

TEST_F(LightingTest, SpecularIsAddedOnlyWhenEnabled) {
    D3DMATERIAL9 material{};
    material.Diffuse = Rgba(0.2f, 0.2f, 0.2f);
    material.Specular = Rgba(1, 1, 1);
    material.Power = 10.0f;
    ASSERT_EQ(device->SetMaterial(&material), D3D_OK);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = Rgba(1, 1, 1);
    light.Specular = Rgba(0.5f, 0.25f, 0.0f);
    light.Direction = D3DVECTOR{0, 0, 1};
    ASSERT_EQ(device->SetLight(0, &light), D3D_OK);
    ASSERT_EQ(device->LightEnable(0, TRUE), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_LOCALVIEWER, FALSE), D3D_OK);

    DrawFacingQuad(10.0f);
    EXPECT_NEAR_COLOR(Centre(), 51, 51, 51, 2);  // diffuse only: 0.2

    // Light and viewer straight on: N.H = 1, so the full specular colour is added.
    ASSERT_EQ(device->SetRenderState(D3DRS_SPECULARENABLE, TRUE), D3D_OK);
    DrawFacingQuad(10.0f);
    EXPECT_NEAR_COLOR(Centre(), (0.2 + 0.5) * 255, (0.2 + 0.25) * 255, 0.2 * 255, 2);

    ASSERT_EQ(device->SetRenderState(D3DRS_SPECULARENABLE, FALSE), D3D_OK);
    DrawFacingQuad(10.0f);
    EXPECT_NEAR_COLOR(Centre(), 51, 51, 51, 2);
}

TEST_F(LightingTest, EmissiveAndDisabledLighting) {
    D3DMATERIAL9 material{};
    material.Emissive = Rgba(0.0f, 0.5f, 0.0f);
    ASSERT_EQ(device->SetMaterial(&material), D3D_OK);
    DrawFacingQuad(10.0f);  // no lights at all: only the emissive colour
    EXPECT_NEAR_COLOR(Centre(), 0, 128, 0, 2);
    // Lighting off and no vertex colour: white.
    ASSERT_EQ(device->SetRenderState(D3DRS_LIGHTING, FALSE), D3D_OK);
    DrawFacingQuad(10.0f);
    EXPECT_NEAR_COLOR(Centre(), 255, 255, 255, 0);
}
