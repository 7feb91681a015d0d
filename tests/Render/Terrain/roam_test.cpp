// The shared terrain mesh: sections register when drawn, the first section
// draw of the next frame rebuilds it from them and draws it, each section in
// its own range of the shared buffers at its place in the world.

#include "Render/Terrain/TerrainFixture.h"

#include "Render/Terrain/C_TerrainRoam.h"
#include "Render/Terrain/TerrainVertex.h"

namespace {

using Shared = C_TerrainRoam::C_Terrain;

float Length3(const C_TerrainVertex& v) { return std::sqrt(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz); }

std::vector<C_TerrainVertex> SharedVertices(DWORD first, DWORD count)
{
    std::vector<C_TerrainVertex> out;
    ID3DXMesh* mesh = C_TerrainRoam::SharedTerrain().Mesh;
    void* data = nullptr;
    if (!mesh || FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data))) return out;
    const auto* v = static_cast<const C_TerrainVertex*>(data) + first;
    out.assign(v, v + count);
    mesh->UnlockVertexBuffer();
    return out;
}

std::vector<uint32_t> SharedIndices(DWORD first, DWORD count)
{
    std::vector<uint32_t> out;
    ID3DXMesh* mesh = C_TerrainRoam::SharedTerrain().Mesh;
    void* data = nullptr;
    if (!mesh || FAILED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data))) return out;
    const auto* i = static_cast<const uint32_t*>(data) + first;
    out.assign(i, i + count);
    mesh->UnlockIndexBuffer();
    return out;
}

} // namespace

class TerrainRoamTest : public TerrainTest {
protected:
    C_TerrainRoam* Roam(const std::wstring& name, const std::wstring& value)
    {
        return Make<C_TerrainRoam>(L"C_TerrainRoam", name.c_str(), value.c_str());
    }
    // One frame: the clock moves on, then the sections draw in order.
    void Frame(std::initializer_list<C_TerrainRoam*> sections, int pass = 0)
    {
        C_BaseObject::CommonData().Time += 20;
        C_BaseObject::CommonData().RenderPass = pass;
        for (C_TerrainRoam* section : sections) section->Draw(&device);
        C_BaseObject::CommonData().RenderPass = 0;
    }
    static Shared& Terrain() { return C_TerrainRoam::SharedTerrain(); }
};

TEST_F(TerrainRoamTest, TheSharedMeshHoldsAFixedBudgetAndGoesWithTheLastSection)
{
    WriteMap16("r33.raw", 33, [](int col, int row) { return Hills(col, row); });
    C_TerrainRoam* section = Roam(L"a", L"r33.raw; 0; 0; 2; 50; 20");
    ASSERT_NE(Terrain().Mesh, nullptr);
    EXPECT_EQ(Terrain().Name, L"CommonRoamTerrain");
    EXPECT_EQ(Terrain().Mesh->GetNumFaces(), 65536u);
    EXPECT_EQ(Terrain().Mesh->GetNumVertices(), 196608u);
    EXPECT_EQ(Terrain().Mesh->GetOptions(), DWORD(D3DXMESH_32BIT | D3DXMESH_DYNAMIC | D3DXMESH_SYSTEMMEM));
    EXPECT_EQ(Terrain().Mesh->GetFVF(), TerrainVertexFVF);
    EXPECT_EQ(section->ResourceLevel, 1);
    EXPECT_TRUE(section->Fits);

    // A second section shares it; it is let go (and the device with it)
    // when the last one unloads.
    C_TerrainRoam* other = Roam(L"b", L"r33.raw; 1; 0; 2; 50; 20");
    ID3DXMesh* mesh = Terrain().Mesh;
    EXPECT_EQ(Terrain().LoadedSections, 2);
    section->Unload();
    EXPECT_EQ(Terrain().Mesh, mesh);
    other->Unload();
    EXPECT_EQ(Terrain().Mesh, nullptr);
    EXPECT_EQ(Terrain().LoadedSections, 0);
}

TEST_F(TerrainRoamTest, TheFirstDrawOnlyRegistersThePrePassDoesNothingAndOneRebuildServesTheFrame)
{
    WriteMap16("r65.raw", 65, [](int col, int row) { return Hills(col, row); });
    C_TerrainRoam* a = Roam(L"a", L"r65.raw; 0; 0; 4; 100; 40");
    C_TerrainRoam* b = Roam(L"b", L"r65.raw; 1; 0; 4; 100; 40");

    // The occlusion pre-pass neither registers, rebuilds nor draws.
    Frame({a, b}, 1);
    EXPECT_TRUE(Terrain().Sections.empty());
    EXPECT_TRUE(device.draws.empty());

    // The first draw ever starts the clock: the sections only register.
    Frame({a, b});
    EXPECT_EQ(Terrain().Sections.size(), 2u);
    EXPECT_TRUE(device.draws.empty());
    EXPECT_EQ(Terrain().UsedVertices, 0u);

    // Next frame: the first draw rebuilds from both and draws once; both
    // register again for the frame after.
    Frame({a, b, a});
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].primCount, 2u * 2 * 16 * 16);
    EXPECT_EQ(Terrain().UsedVertices, 2u * 17 * 17);
    EXPECT_EQ(Terrain().Sections.size(), 2u) << "no duplicates";

    // The pre-pass of a later frame changes nothing either.
    Frame({a}, 1);
    EXPECT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(Terrain().Sections.size(), 2u);

    // After an unload the list is empty: the first draw of a frame finds
    // nothing to rebuild, draws what the buffers hold and registers.
    a->Unload();
    a->Load(&device);
    EXPECT_TRUE(Terrain().Sections.empty());
    Frame({b});
    ASSERT_EQ(device.draws.size(), 2u);
    EXPECT_EQ(device.draws[1].primCount, 2u * 2 * 16 * 16) << "the two sections of before";
    EXPECT_EQ(Terrain().Sections.size(), 1u);
    Frame({b});
    EXPECT_EQ(Terrain().UsedVertices, 17u * 17);
    EXPECT_EQ(device.draws.back().primCount, 2u * 16 * 16);
}

TEST_F(TerrainRoamTest, EverySectionHasItsOwnRangeAtItsPlaceInTheWorldWithNormals)
{
    WriteMap16("r129.raw", 129, [](int col, int row) { return Hills(col, row); });
    // 4 × 4 sections of 100 units: n = 33, the terrain spans −200 … 200.
    C_TerrainRoam* a = Roam(L"a", L"r129.raw; 0; 0; 4; 100; 40");
    C_TerrainRoam* b = Roam(L"b", L"r129.raw; 3; 2; 4; 100; 40");
    EXPECT_EQ(b->OriginColumn, 96);
    EXPECT_EQ(b->OriginRow, 64);
    Frame({a, b});
    Frame({a, b});

    const uint32_t n = 33;
    const std::vector<C_TerrainVertex> vertices = SharedVertices(0, 2 * n * n);
    ASSERT_EQ(vertices.size(), 2u * n * n);
    for (int s = 0; s < 2; ++s) {
        const int originColumn = s == 0 ? 0 : 96, originRow = s == 0 ? 0 : 64;
        const float left = s == 0 ? -200.0f : 100.0f, bottom = s == 0 ? -200.0f : 0.0f;
        for (uint32_t f = 0; f < n * n; ++f) {
            const C_TerrainVertex& v = vertices[s * n * n + f];
            const uint32_t column = f % n, row = f / n;
            EXPECT_NEAR(v.x, left + column * 100.0f / 32.0f, 1e-3f);
            EXPECT_NEAR(v.y, bottom + row * 100.0f / 32.0f, 1e-3f);
            const float raw = C_TerrainHeightMap::RawData().GetHeight(originColumn + column, originRow + row);
            EXPECT_FLOAT_EQ(v.z, 40.0f * (raw - 0.5f));
            // Where scripts ask, the drawn ground is.
            EXPECT_NEAR(v.z, C_TerrainHeightMap::GetTerraineHeight(v.x, v.y), 2e-3f);
            EXPECT_FLOAT_EQ(v.u, column / 33.0f);
            EXPECT_FLOAT_EQ(v.v, row / 33.0f);
            EXPECT_NEAR(Length3(v), 1.0f, 1e-4f);
            EXPECT_GT(v.nz, 0.0f);
        }
    }
    // Somewhere on the hills the normals lean.
    float leaning = 0.0f;
    for (const C_TerrainVertex& v : vertices) leaning = std::max(leaning, std::fabs(v.nx));
    EXPECT_GT(leaning, 0.1f);

    // Cells column by column: the first cell of each section, then the
    // cell above it.
    const std::vector<uint32_t> first = SharedIndices(0, 12);
    const std::vector<uint32_t> firstExpected = {0, 1, n + 1, 0, n + 1, n, n, n + 1, 2 * n + 1, n, 2 * n + 1, 2 * n};
    EXPECT_EQ(first, firstExpected);
    const uint32_t base = n * n;
    const std::vector<uint32_t> second = SharedIndices(6 * 32 * 32, 6);
    const std::vector<uint32_t> secondExpected = {base, base + 1, base + n + 1, base, base + n + 1, base + n};
    EXPECT_EQ(second, secondExpected);

    // One draw of both ranges with the identity world matrix.
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].primCount, 2u * 2 * 32 * 32);
    EXPECT_EQ(device.World._11, 1.0f);
    EXPECT_EQ(device.World._41, 0.0f);
    EXPECT_EQ(device.World._42, 0.0f);

    // A frame with fewer sections leaves nothing of the larger one behind.
    Frame({b});
    Frame({b});
    EXPECT_EQ(device.draws.back().primCount, 2u * 32 * 32);
    const std::vector<uint32_t> stale = SharedIndices(6 * 32 * 32, 6 * 32 * 32);
    EXPECT_TRUE(std::all_of(stale.begin(), stale.end(), [](uint32_t i) { return i == 0; }));
}

TEST_F(TerrainRoamTest, SectionsLargerThanTheSharedMeshAreRefusedAndAFullFrameLeavesTheRestOut)
{
    // 257 vertices per side would need 393,216 indices: refused at load.
    WriteMap16("r1025.raw", 1025, [](int, int) { return 30000; });
    C_TerrainRoam* big = Roam(L"big", L"r1025.raw; 0; 0; 4; 250; 0");
    EXPECT_TRUE(big->Accepted);
    EXPECT_FALSE(big->Fits);
    EXPECT_TRUE(Logged(L"Секция big больше общей сетки ландшафта: 66049 вершин и 393216 индексов"));
    // It still starts the frame's rebuild and draw for the sections that fit
    // (a section keeps the layout it was loaded with).
    C_TerrainRoam* small = Roam(L"small", L"r1025.raw; 0; 0; 32; 250; 0");
    EXPECT_TRUE(small->Fits);
    EXPECT_EQ(small->Layout.NumVerticesAxis, 33u);
    Frame({big, small});
    Frame({big, small});
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].primCount, 2u * 32 * 32);
    EXPECT_EQ(Terrain().Sections.size(), 1u);
    EXPECT_EQ(Terrain().Sections[0], small);
}

TEST_F(TerrainRoamTest, WhatNoLongerFitsInAFrameIsLeftOutWithOneWarning)
{
    // 65 vertices per side: 24,576 indices a section, eight fill the buffers.
    WriteMap16("r257.raw", 257, [](int col, int row) { return Hills(col, row); });
    std::vector<C_TerrainRoam*> sections;
    for (int i = 0; i < 9; ++i)
        sections.push_back(Roam(L"s" + std::to_wstring(i),
                                L"r257.raw; " + std::to_wstring(i % 4) + L"; " + std::to_wstring(i / 4) + L"; 4; 100; 40"));
    for (int frame = 0; frame < 3; ++frame) {
        C_BaseObject::CommonData().Time += 20;
        for (C_TerrainRoam* section : sections) section->Draw(&device);
    }
    EXPECT_EQ(Terrain().UsedIndices, 8u * 24576);
    EXPECT_EQ(Terrain().UsedVertices, 8u * 65 * 65);
    EXPECT_EQ(CountLogged(L"Секция s8 не поместилась в общую сетку ландшафта"), 1u);
    EXPECT_EQ(CountLogged(L"не поместилась"), 1u);
    ASSERT_EQ(device.draws.size(), 2u);
    EXPECT_EQ(device.draws[1].primCount, 8u * 8192);
}

TEST_F(TerrainRoamTest, EveryCameraOfAFrameDrawsTheTerrainOnce)
{
    WriteMap16("rcam.raw", 33, [](int col, int row) { return Hills(col, row); });
    C_TerrainRoam* a = Roam(L"a", L"rcam.raw; 0; 0; 2; 50; 20");
    C_TerrainRoam* b = Roam(L"b", L"rcam.raw; 1; 0; 2; 50; 20");
    TestObject left, right;
    auto& common = C_BaseObject::CommonData();
    for (int frame = 0; frame < 3; ++frame) {
        common.Time += 20;
        common.CurrentCamera = &left;
        a->Draw(&device);
        b->Draw(&device);
        common.CurrentCamera = &right;
        a->Draw(&device);
        b->Draw(&device);
    }
    // The first frame only registers; then two draws a frame, one rebuild.
    EXPECT_EQ(device.draws.size(), 4u);
    common.CurrentCamera = nullptr;
}

TEST_F(TerrainRoamTest, ADestroyedSectionLeavesTheList)
{
    WriteMap16("rdel.raw", 33, [](int col, int row) { return Hills(col, row); });
    C_TerrainRoam* a = Roam(L"a", L"rdel.raw; 0; 0; 2; 50; 20");
    // One made outside the managers, destroyed without an unload.
    auto* b = dynamic_cast<C_TerrainRoam*>(C_TerrainRoam::CreateFromPool());
    ASSERT_NE(b, nullptr);
    b->SetValue(L"rdel.raw; 1; 0; 2; 50; 20");
    b->Load(&device);
    Frame({a, b});
    ASSERT_EQ(Terrain().Sections.size(), 2u);
    b->ReleaseToPool();
    EXPECT_EQ(Terrain().Sections.size(), 1u);
    EXPECT_EQ(Terrain().Sections[0], a);
    EXPECT_EQ(Terrain().LoadedSections, 1);
    Frame({a});
    EXPECT_EQ(Terrain().UsedVertices, 17u * 17);
}
