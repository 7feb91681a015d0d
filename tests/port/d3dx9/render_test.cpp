// D3DX meshes and textures on the real device: pixels of drawn frames.
#include "port/d3d9/device_fixture.h"
#include "port/d3dx9/d3dx9mesh.h"
#include "port/d3dx9/d3dx9tex.h"

#include <stb/stb_image_write.h>

#include <string>
#include <vector>

namespace {

class D3DXRender : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        if (!device) return;
        D3DXMATRIX world, view, proj;
        D3DXMatrixIdentity(&world);
        D3DXVECTOR3 eye(1.5f, 2.0f, -4.0f), at(0, 0, 0), up(0, 1, 0);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&proj, D3DX_PI / 4, (float)kWidth / kHeight, 0.1f, 100.0f);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &proj);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {1, 1, 1, 1};
        light.Direction = {-0.3f, -0.5f, 0.8f};
        device->SetLight(0, &light);
        device->LightEnable(0, TRUE);
        D3DMATERIAL9 mat{};
        mat.Diffuse = {1, 0.8f, 0.6f, 1};
        device->SetMaterial(&mat);
    }

    std::vector<uint32_t> frame(ID3DXBaseMesh* mesh, DWORD subsets = 1) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        for (DWORD s = 0; s < subsets; ++s) EXPECT_EQ(mesh->DrawSubset(s), D3D_OK);
        device->EndScene();
        return ReadBack();
    }

    static size_t lit(const std::vector<uint32_t>& px) {
        size_t n = 0;
        for (uint32_t p : px) n += (p & 0xFFFFFF) != 0;
        return n;
    }
};

} // namespace

TEST_F(D3DXRender, CleanUpChainKeepsTheSamePicture) {
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateCylinder(device, 1.0f, 0.6f, 2.0f, 20, 5, &mesh, nullptr), D3D_OK);
    const auto before = frame(mesh);
    EXPECT_GT(lit(before), 1000u);

    // The chain every loaded mesh goes through.
    std::vector<DWORD> adj(mesh->GetNumFaces() * 3);
    ASSERT_EQ(mesh->GenerateAdjacency(0.001f, adj.data()), D3D_OK);
    D3DXWELDEPSILONS eps{};
    eps.Position = 0.1f;
    ASSERT_EQ(D3DXWeldVertices(mesh, D3DXWELDEPSILONS_WELDPARTIALMATCHES, &eps, adj.data(), adj.data(), nullptr,
                               nullptr),
              D3D_OK);
    ID3DXMesh* clean = nullptr;
    ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_BACKFACING, mesh, adj.data(), &clean, adj.data(), nullptr), D3D_OK);
    mesh->Release();
    mesh = clean;
    D3DXValidMesh(mesh, adj.data(), nullptr);
    ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE, adj.data(),
                                    nullptr, nullptr, nullptr),
              D3D_OK);
    EXPECT_EQ(frame(mesh), before);

    // A progressive mesh at full detail draws the same picture; coarser
    // levels cover less of it.
    ID3DXPMesh* pm = nullptr;
    ASSERT_EQ(D3DXGeneratePMesh(mesh, adj.data(), nullptr, nullptr, 12, D3DXMESHSIMP_FACE, &pm), D3D_OK);
    EXPECT_EQ(frame(pm), before);
    pm->SetNumFaces(pm->GetMinFaces());
    const auto coarse = frame(pm);
    EXPECT_NE(coarse, before);
    EXPECT_GT(lit(coarse), 0u);
    pm->Release();
    mesh->Release();
}

namespace {
void append(void* ctx, void* data, int size) {
    static_cast<std::string*>(ctx)->append(static_cast<const char*>(data), (size_t)size);
}
} // namespace

TEST_F(D3DXRender, TextureFromPngShowsItsTexels) {
    // Left half red, right half blue, 2 x 2.
    const uint8_t px[16] = {255, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255};
    std::string png;
    stbi_write_png_to_func(append, &png, 2, 2, 4, px, 8);
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemory(device, png.data(), (UINT)png.size(), &tex), D3D_OK);

    struct V {
        float x, y, z, rhw, u, v;
    };
    const V quad[4] = {{0, 0, 0.5f, 1, 0, 0}, {(float)kWidth, 0, 0.5f, 1, 1, 0}, {0, (float)kHeight, 0.5f, 1, 0, 1},
                       {(float)kWidth, (float)kHeight, 0.5f, 1, 1, 1}};
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    device->BeginScene();
    device->SetTexture(0, tex);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V)), D3D_OK);
    device->EndScene();
    const auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, kWidth / 4, kHeight / 2), 255, 0, 0, 2);
    EXPECT_NEAR_COLOR(Pixel(pixels, 3 * kWidth / 4, kHeight / 2), 0, 0, 255, 2);
    device->SetTexture(0, nullptr);
    tex->Release();
}
