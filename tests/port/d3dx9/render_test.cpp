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

// The device reports Direct3D 9-class texture limits, so D3DX scales wider
// images down as on such hardware, and an image of more texels than the
// largest texture is refused from its header instead of being decoded.
TEST_F(D3DXRender, ImagesBeyondTheTextureLimitsAreScaledOrRefused) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_LE(caps.MaxTextureWidth, 8192u);
    EXPECT_LE(caps.MaxTextureHeight, 8192u);
    EXPECT_GE(caps.MaxTextureWidth, 2048u);

    const int w = (int)caps.MaxTextureWidth * 2;
    std::vector<uint8_t> grey((size_t)w * 2, 0x80);
    std::string wide;
    stbi_write_png_to_func(append, &wide, w, 2, 1, grey.data(), w);
    IDirect3DTexture9* tex = nullptr;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device, wide.data(), (UINT)wide.size(), D3DX_DEFAULT, D3DX_DEFAULT,
                                                  1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                  &info, nullptr, &tex),
              D3D_OK);
    EXPECT_EQ(info.Width, (UINT)w);
    D3DSURFACE_DESC desc{};
    tex->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, caps.MaxTextureWidth);
    EXPECT_EQ(desc.Height, 2u);
    tex->Release();

    // 16,384 x 16,384 grey pixels claimed by a small file.
    std::string bomb;
    stbi_write_png_to_func(append, &bomb, 2, 2, 1, grey.data(), 2);
    const uint8_t side[4] = {0, 0, 0x40, 0};
    std::memcpy(&bomb[16], side, 4);
    std::memcpy(&bomb[20], side, 4);
    tex = nullptr;
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(device, bomb.data(), (UINT)bomb.size(), &tex), E_OUTOFMEMORY);
    EXPECT_EQ(tex, nullptr);
}

// A DXT1 file with its whole mip chain becomes a DXT1 texture with the
// blocks as stored, and draws their colour.
TEST_F(D3DXRender, CompressedFileWithItsMipsStaysCompressed) {
    uint32_t head[32] = {0x20534444, 124, 0x21007, 8, 8, 0, 0, 4};
    head[19] = 32;
    head[20] = 0x4;
    head[21] = MAKEFOURCC('D', 'X', 'T', '1');
    head[27] = 0x401008;
    std::string dds(reinterpret_cast<const char*>(head), sizeof head);
    const uint8_t green[8] = {0xE0, 0x07, 0xE0, 0x07, 0, 0, 0, 0}; // 565 green, both ends
    for (int block = 0; block < 4 + 1 + 1 + 1; ++block) dds.append(reinterpret_cast<const char*>(green), 8);
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemory(device, dds.data(), (UINT)dds.size(), &tex), D3D_OK);
    D3DSURFACE_DESC desc{};
    tex->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_DXT1);
    EXPECT_EQ(tex->GetLevelCount(), 4u);

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
    EXPECT_NEAR_COLOR(Pixel(pixels, kWidth / 2, kHeight / 2), 0, 255, 0, 2);
    device->SetTexture(0, nullptr);
    tex->Release();
}
