// Sectioned terrain meshes: vertex-buffer sections over an 8-bit map with
// their shared index buffer, progressive sections over the 16-bit map with
// their detail levels, single terrain blocks with a skirt, and the five-step
// level-of-detail mesh.

#include "Render/Terrain/TerrainFixture.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <set>

#include "Render/Resources/D3DXMESH9_LOD.h"
#include "Render/Resources/SceneFiles.h"
#include "Render/Terrain/C_D3DXMESH9_TERRAIN.h"
#include "Render/Terrain/C_TerrainSection2.h"
#include "Render/Terrain/TerrainVertex.h"

namespace {

std::vector<C_TerrainVertex> Vertices(ID3DXBaseMesh* mesh)
{
    std::vector<C_TerrainVertex> out;
    void* data = nullptr;
    if (!mesh || FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data))) return out;
    const auto* v = static_cast<const C_TerrainVertex*>(data);
    out.assign(v, v + mesh->GetNumVertices());
    mesh->UnlockVertexBuffer();
    return out;
}

float Length(float x, float y, float z) { return std::sqrt(x * x + y * y + z * z); }

// The folder name of the program folder, for files named relative to its
// parent ("\..\" paths).
std::string FolderName(const ScratchFolder& folder) { return folder.path().filename().string(); }

} // namespace

// ---------------------------------------------------------------------------
// Vertex-buffer sections

class TerrainSectionTest : public TerrainTest {
protected:
    C_TerrainSection* Section(const wchar_t* name, const std::string& value)
    {
        return Make<C_TerrainSection>(L"C_TerrainSection", name, std::wstring(value.begin(), value.end()).c_str());
    }
    static std::vector<C_TerrainVertex> BufferVertices(const C_TerrainSection& section)
    {
        const auto* buffer = static_cast<const testdev::Buffer9*>(section.VertexBuffer);
        const auto* v = reinterpret_cast<const C_TerrainVertex*>(buffer->bytes.data());
        return std::vector<C_TerrainVertex>(v, v + section.VertexCount);
    }
};

TEST_F(TerrainSectionTest, SectionsLayTheirSamplesAroundTheirCentreAndShareOneIndexBuffer)
{
    // A 9 × 9 map rising by 20 per column; two sections per side: n = 5.
    WriteMap8("map8.raw", 9, [](int col, int row) { return col * 20 + row; });
    const std::string file = FolderName(dir) + "\\map8.raw";
    C_TerrainSection* left = Section(L"left", file + "; 0; 1; 2; 100; 10");
    C_TerrainSection* right = Section(L"right", file + "; 1; 1; 2; 100; 10");
    ASSERT_NE(left->VertexBuffer, nullptr);
    ASSERT_NE(right->VertexBuffer, nullptr);
    EXPECT_EQ(left->VertexCount, 25u);
    EXPECT_EQ(left->TriangleCount, 32u);
    EXPECT_EQ(C_TerrainSection::RawData().Side, 9u);

    const std::vector<C_TerrainVertex> vertices = BufferVertices(*right);
    float farthest = 0.0f;
    for (uint32_t b = 0; b < 5; ++b)
        for (uint32_t a = 0; a < 5; ++a) {
            const C_TerrainVertex& v = vertices[b * 5 + a];
            const int col = 4 + int(a), row = 4 + int(b);
            EXPECT_FLOAT_EQ(v.x, (a / 4.0f - 0.5f) * 100.0f);
            EXPECT_FLOAT_EQ(v.y, (b / 4.0f - 0.5f) * 100.0f);
            const float h = (col == 0 || row == 0 || col >= 9 || row >= 9) ? 0.5f : float(col * 20 + row) / 255.0f;
            EXPECT_FLOAT_EQ(v.z, 10.0f * (h - 0.5f)) << a << "," << b;
            EXPECT_NEAR(Length(v.nx, v.ny, v.nz), 1.0f, 1e-5f);
            farthest = std::max(farthest, Length(v.x, v.y, v.z));
        }
    // Inside the map the ground rises with X: the normals lean back along X.
    const C_TerrainVertex& middle = vertices[2 * 5 + 2];
    EXPECT_LT(middle.nx, -0.01f);
    EXPECT_GT(middle.nz, 0.9f);
    EXPECT_NEAR(middle.ny, middle.nx / 20.0f, 1e-3f) << "one twentieth of the slope along Y";
    EXPECT_FLOAT_EQ(right->Radius, farthest);
    EXPECT_GE(right->Radius, std::sqrt(100.0f * 100.0f / 2.0f));

    // One index buffer for both, written for 4 × 4 cells.
    auto* shared = dynamic_cast<C_IndexTerrain*>(Managers().GetResource(L"IndexSliceTerrain", L"C_IndexTerrain", false));
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(left->IndexBuffer, shared);
    EXPECT_EQ(right->IndexBuffer, shared);
    EXPECT_EQ(shared->Cells, 4u);
    EXPECT_EQ(shared->TriangleCount, 32u);
    const auto& bytes = static_cast<const testdev::Index9*>(shared->IndexBuffer)->bytes;
    ASSERT_EQ(bytes.size(), 32u * 6);
    const auto* indices = reinterpret_cast<const uint16_t*>(bytes.data());
    // Cell (x, y) = (1, 2): v = 1 + 5 × 2, the 9th cell in row order.
    const uint16_t cell[6] = {11, 12, 17, 11, 17, 16};
    EXPECT_TRUE(std::equal(cell, cell + 6, indices + 9 * 6));

    // Drawing selects the shared indices and draws all vertices and triangles.
    right->Draw(&device);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].numVertices, 25u);
    EXPECT_EQ(device.draws[0].primCount, 32u);
    EXPECT_EQ(device.draws[0].ib, shared->IndexBuffer);
    EXPECT_EQ(device.draws[0].stride, 32u);
    EXPECT_EQ(device.fvf, TerrainVertexFVF);
}

TEST_F(TerrainSectionTest, MissingFilesAndSectionsBeyond16BitIndicesBuildNothing)
{
    C_TerrainSection* missing = Section(L"missing", FolderName(dir) + "\\nothing.raw; 0; 0; 1; 10; 0");
    EXPECT_EQ(missing->VertexBuffer, nullptr);
    EXPECT_TRUE(Logged(L"Не удалось прочитать содержимое файла "));
    EXPECT_TRUE(Logged(L"nothing.raw"));
    EXPECT_TRUE(Logged(L"Недопустимое значение NumVerticesAxis для missing"));
    missing->Draw(&device);
    EXPECT_TRUE(device.draws.empty());

    // 300 × 300 samples in one section: 301 vertices per side.
    WriteMap8("big8.raw", 300, [](int col, int) { return col; });
    C_TerrainSection* big = Section(L"big", FolderName(dir) + "\\big8.raw; 0; 0; 1; 10; 0");
    EXPECT_EQ(big->VertexBuffer, nullptr);
    EXPECT_TRUE(Logged(L"Секция ландшафта big: 301 вершин на сторону не адресуются 16-битными индексами"));
    // The same map in two sections fits.
    C_TerrainSection* half = Section(L"half", FolderName(dir) + "\\big8.raw; 1; 1; 2; 10; 0");
    EXPECT_NE(half->VertexBuffer, nullptr);
    EXPECT_EQ(half->VertexCount, 151u * 151u);
}

// ---------------------------------------------------------------------------
// Progressive sections

class TerrainSection2Test : public TerrainTest {
protected:
    C_TerrainSection2* Section2(const wchar_t* name, const std::wstring& value)
    {
        return Make<C_TerrainSection2>(L"C_TerrainSection2", name, value.c_str());
    }
};

TEST_F(TerrainSection2Test, A1025MapInFourSectionsBuilds257By257SectionsWith32BitIndices)
{
    WriteMap16("s1025.raw", 1025, [](int col, int row) { return Hills(col / 4, row / 4); });
    C_TerrainSection2* section = Section2(L"big", L"s1025.raw; 2; 1; 4; 250; 100");
    ASSERT_NE(section->PMesh, nullptr);
    EXPECT_EQ(section->Mesh, nullptr) << "only the progressive mesh is kept";
    EXPECT_EQ(section->PMesh->GetMaxFaces(), 131072u);
    EXPECT_EQ(section->PMesh->GetMaxVertices(), 66049u);
    EXPECT_NE(section->PMesh->GetOptions() & D3DXMESH_32BIT, 0u);
    EXPECT_LE(section->PMesh->GetMinFaces(), 131072u / 36 * 2);
    EXPECT_EQ(section->Adjacency.size(), 131072u * 3);

    // The vertices of the last rows are there: each corner of the section
    // stands where its sample says.
    const std::vector<C_TerrainVertex> vertices = Vertices(section->PMesh);
    std::map<std::pair<int, int>, float> corners;
    for (const C_TerrainVertex& v : vertices)
        if (std::fabs(std::fabs(v.x) - 125.0f) < 1e-3f && std::fabs(std::fabs(v.y) - 125.0f) < 1e-3f)
            corners[{v.x > 0 ? 256 : 0, v.y > 0 ? 256 : 0}] = v.z;
    ASSERT_EQ(corners.size(), 4u);
    for (const auto& [at, z] : corners)
        EXPECT_NEAR(z, 100.0f * C_TerrainHeightMap::CentredHeight(512 + at.first, 256 + at.second), 1e-3f);
}

TEST_F(TerrainSection2Test, VerticesStandOnTheMapAndMatchTheGroundHeightOfScripts)
{
    WriteMap16("s129.raw", 129, [](int col, int row) { return Hills(col, row); });
    C_TerrainSection2* section = Section2(L"s", L"s129.raw; 1; 2; 4; 80; 30");
    ASSERT_NE(section->PMesh, nullptr);
    EXPECT_EQ(section->PMesh->GetMaxFaces(), 2u * 32 * 32);
    EXPECT_EQ(section->PMesh->GetMaxVertices(), 33u * 33);
    EXPECT_EQ(section->PMesh->GetOptions() & D3DXMESH_32BIT, 0u) << "16-bit indices while they reach";
    EXPECT_EQ(section->ResourceLevel, 1);

    // The holder of section (1, 2) of a 4 × 4 terrain of 80-unit sections
    // stands at its centre; every vertex placed by it is on the ground
    // that GetTerraineHeight reports.
    const float centreX = 1.5f * 80.0f - 160.0f, centreY = 2.5f * 80.0f - 160.0f;
    std::set<std::pair<int, int>> seen;
    for (const C_TerrainVertex& v : Vertices(section->PMesh)) {
        const int a = int(std::lround((v.x / 80.0f + 0.5f) * 32.0f));
        const int b = int(std::lround((v.y / 80.0f + 0.5f) * 32.0f));
        seen.insert({a, b});
        EXPECT_NEAR(v.z, 30.0f * C_TerrainHeightMap::CentredHeight(32 + a, 64 + b), 1e-4f);
        EXPECT_NEAR(v.z, C_TerrainHeightMap::GetTerraineHeight(centreX + v.x, centreY + v.y), 2e-3f)
            << "vertex " << a << "," << b;
        EXPECT_NEAR(Length(v.nx, v.ny, v.nz), 1.0f, 1e-4f);
        EXPECT_GT(v.nz, 0.0f);
        EXPECT_FLOAT_EQ(v.u, a / 32.0f);
        EXPECT_FLOAT_EQ(v.v, b / 32.0f);
    }
    EXPECT_EQ(seen.size(), 33u * 33);
    // The holder culls with the radius around the section's centre: it
    // reaches every vertex.
    float farthest = 0.0f;
    for (const C_TerrainVertex& v : Vertices(section->PMesh)) farthest = std::max(farthest, Length(v.x, v.y, v.z));
    EXPECT_GE(section->Radius, farthest);
}

TEST_F(TerrainSection2Test, FullDetailNearASeventeenthFartherAndNothingBeyondSixSliceSizes)
{
    WriteMap16("lod.raw", 257, [](int col, int row) { return Hills(col, row); });
    C_PositionObject* holder =
        Holder(L"holder", L"C_TerrainSection2", L"lod.raw; 0; 0; 4; 100; 40", -150.0f, -150.0f);
    auto* section = dynamic_cast<C_TerrainSection2*>(holder->Mesh);
    ASSERT_NE(section, nullptr);
    ASSERT_NE(section->PMesh, nullptr);
    const DWORD full = section->PMesh->GetMaxFaces();

    SetCameraDistance(holder, 299.0f);
    EXPECT_EQ(section->CalcLevelOfDetail(holder), 1.0f);
    EXPECT_EQ(section->LevelOfDetail, 0);
    EXPECT_EQ(section->PMesh->GetNumFaces(), full);

    SetCameraDistance(holder, 300.0f);
    EXPECT_EQ(section->CalcLevelOfDetail(holder), 1.0f);
    EXPECT_EQ(section->LevelOfDetail, 16);
    const DWORD far = section->PMesh->GetNumFaces();
    EXPECT_GE(far, full / 17);
    EXPECT_LE(far, full / 17 * 5 / 4 + 2) << "the level closest to a seventeenth";
    SetCameraDistance(holder, 599.0f);
    EXPECT_EQ(section->CalcLevelOfDetail(holder), 1.0f);
    EXPECT_EQ(section->PMesh->GetNumFaces(), far);

    // Drawn through its holder: the faces of the level, main pass only.
    holder->Draw(&device);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].primCount, far);
    C_BaseObject::CommonData().RenderPass = 1;
    holder->Draw(&device);
    C_BaseObject::CommonData().RenderPass = 0;
    EXPECT_EQ(device.draws.size(), 1u);

    for (float beyond : {600.0f, 5000.0f, 1e30f, std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN()}) {
        SetCameraDistance(holder, beyond);
        EXPECT_EQ(section->CalcLevelOfDetail(holder), 0.0f) << beyond;
    }
    holder->Draw(&device);
    EXPECT_EQ(device.draws.size(), 1u) << "nothing drawn beyond six slice sizes";

    SetCameraDistance(holder, 10.0f);
    EXPECT_EQ(section->CalcLevelOfDetail(holder), 1.0f);
    EXPECT_EQ(section->PMesh->GetNumFaces(), full);

    section->Unload();
    EXPECT_EQ(section->PMesh, nullptr);
    EXPECT_TRUE(section->Adjacency.empty());
    EXPECT_EQ(section->CalcLevelOfDetail(holder), 0.0f);
}

TEST_F(TerrainSection2Test, AHighSectionIsCulledWithASphereAroundItsHolderThatHoldsItAll)
{
    // Flat ground 12 units up: the vertices' own sphere sits 12 units above
    // the holder, whose culling sphere must still reach the corners.
    WriteMap16("high.raw", 33, [](int, int) { return 58982; });
    C_PositionObject* holder = Holder(L"high", L"C_TerrainSection2", L"high.raw; 1; 1; 2; 80; 30", 40.0f, 40.0f);
    auto* section = dynamic_cast<C_TerrainSection2*>(holder->Mesh);
    ASSERT_NE(section, nullptr);
    ASSERT_NE(section->PMesh, nullptr);
    const float corner = std::sqrt(40.0f * 40.0f * 2.0f + 12.0f * 12.0f);
    EXPECT_NEAR(Vertices(section->PMesh)[0].z, 12.0f, 0.01f);
    EXPECT_GE(holder->GetRadius(), corner - 1e-3f);
}

TEST_F(TerrainSection2Test, RefusedParametersAndMissingMapsBuildNothing)
{
    C_TerrainSection2* missing = Section2(L"missing", L"none.raw; 0; 0; 4; 100; 0");
    EXPECT_TRUE(Logged(L"Не удалось прочитать карту высот none.raw"));
    EXPECT_EQ(missing->PMesh, nullptr);
    WriteMap16("r.raw", 33, [](int, int) { return 1000; });
    C_TerrainSection2* outside = Section2(L"outside", L"r.raw; 4; 0; 4; 100; 0");
    EXPECT_EQ(outside->PMesh, nullptr);
    EXPECT_TRUE(Logged(L"(поля 1 и 2) для outside"));
    outside->Draw(&device);
    EXPECT_TRUE(device.draws.empty());
}

// ---------------------------------------------------------------------------
// Terrain blocks

class TerrainBlockTest : public TerrainTest {
protected:
    C_D3DXMESH9_TERRAIN* Block(const wchar_t* name, const std::wstring& value)
    {
        return Make<C_D3DXMESH9_TERRAIN>(L"C_D3DXMESH9_TERRAIN", name, value.c_str());
    }
};

TEST_F(TerrainBlockTest, A65536ByteFileIsTheLargestBlockAndExtraBytesAreIgnored)
{
    for (std::size_t size : {std::size_t(65536), std::size_t(65537), std::size_t(66048)}) {
        WriteFile("block.raw", std::string(size, '\x40'));
        const std::wstring name = L"block" + std::to_wstring(size);
        C_D3DXMESH9_TERRAIN* block = Block(name.c_str(), L"50; block.raw");
        ASSERT_NE(block->Mesh, nullptr) << size;
        EXPECT_EQ(block->Mesh->GetNumVertices(), 65536u) << size;
        EXPECT_EQ(block->Mesh->GetNumFaces(), 130050u) << size;
        EXPECT_EQ(block->Bytes.size(), size);
        Managers().DeleteObject(block);
    }
}

TEST_F(TerrainBlockTest, SamplesSpreadOverTheSizeWithASkirtAtTheBottom)
{
    // 8 × 8 samples: c = 4, w = 5; the samples 1 … 6 span the texture.
    std::string bytes(64, '\0');
    for (int i = 0; i < 64; ++i) bytes[std::size_t(i)] = char((i % 8) * 30 + (i / 8) * 3);
    WriteFile("block8.raw", bytes);
    C_D3DXMESH9_TERRAIN* block = Block(L"b", L"10; block8.raw");
    ASSERT_NE(block->Mesh, nullptr);
    EXPECT_EQ(block->ResourceLevel, 1);
    EXPECT_EQ(block->Mesh->GetFVF(), TerrainVertexFVF);
    const std::vector<C_TerrainVertex> vertices = Vertices(block->Mesh);
    ASSERT_EQ(vertices.size(), 64u);

    // The clean-up may reorder vertices: each is known by its texture
    // coordinates ((col − 1) / 5, (row − 1) / 5).
    std::map<std::pair<int, int>, C_TerrainVertex> at;
    for (const C_TerrainVertex& v : vertices) at[{int(std::lround(v.u * 5 + 1)), int(std::lround(v.v * 5 + 1))}] = v;
    ASSERT_EQ(at.size(), 64u);
    const float d = 10.0f / 8.0f;
    for (const auto& [cr, v] : at) {
        const auto [col, row] = cr;
        float x = (col - 4) * 10.0f / 5.0f, y = (row - 4) * 10.0f / 5.0f;
        float z = float(col * 30 + row * 3) / 255.0f * 10.0f - 5.0f;
        const bool edge = col == 0 || row == 0 || col == 7 || row == 7;
        if (col == 0) x += d;
        if (row == 0) y += d;
        if (col == 7) x -= d;
        if (row == 7) y -= d;
        if (edge) z = -5.0f;
        EXPECT_NEAR(v.x, x, 1e-4f) << col << "," << row;
        EXPECT_NEAR(v.y, y, 1e-4f) << col << "," << row;
        EXPECT_NEAR(v.z, z, 1e-4f) << col << "," << row;
        EXPECT_NEAR(Length(v.nx, v.ny, v.nz), 1.0f, 1e-4f);
        if (!edge) {
            EXPECT_GT(v.nz, 0.0f);
            EXPECT_LT(v.nx, 0.0f) << "the ground rises along X";
        }
    }

    // Two triangles per cell, (a, a+1, b+1) and (a, b+1, b), facing up.
    std::set<std::array<std::pair<int, int>, 3>> triangles;
    void* data = nullptr;
    ASSERT_TRUE(SUCCEEDED(block->Mesh->LockIndexBuffer(D3DLOCK_READONLY, &data)));
    const auto* indices = static_cast<const uint16_t*>(data);
    for (DWORD f = 0; f < block->Mesh->GetNumFaces(); ++f) {
        std::array<std::pair<int, int>, 3> t;
        for (int k = 0; k < 3; ++k) {
            const C_TerrainVertex& v = vertices[indices[f * 3 + k]];
            t[std::size_t(k)] = {int(std::lround(v.u * 5 + 1)), int(std::lround(v.v * 5 + 1))};
        }
        // Rotate so the smallest corner comes first; the order stays.
        std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        triangles.insert(t);
    }
    block->Mesh->UnlockIndexBuffer();
    EXPECT_EQ(block->Mesh->GetNumFaces(), 98u);
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 7; ++c) {
            const std::pair<int, int> a{c, r}, a1{c + 1, r}, b{c, r + 1}, b1{c + 1, r + 1};
            EXPECT_TRUE(triangles.count({a, a1, b1})) << c << "," << r;
            EXPECT_TRUE(triangles.count({a, b1, b})) << c << "," << r;
        }
}

TEST_F(TerrainBlockTest, BlocksOutsideFourTo256SamplesMissingFilesAndBadSizesBuildNothing)
{
    WriteFile("three.raw", std::string(9, '\x10'));
    EXPECT_EQ(Block(L"three", L"10; three.raw")->Mesh, nullptr);
    EXPECT_TRUE(Logged(L"Блок ландшафта three: 3 × 3 отсчётов"));
    WriteFile("wide.raw", std::string(300 * 300, '\x10'));
    EXPECT_EQ(Block(L"wide", L"10; wide.raw")->Mesh, nullptr);
    EXPECT_TRUE(Logged(L"Блок ландшафта wide: 300 × 300 отсчётов"));
    WriteFile("empty.raw", "");
    EXPECT_EQ(Block(L"empty", L"10; empty.raw")->Mesh, nullptr);
    EXPECT_TRUE(Logged(L"Блок ландшафта empty: 0 × 0 отсчётов"));
    C_D3DXMESH9_TERRAIN* missing = Block(L"missing", L"10; gone.raw");
    EXPECT_EQ(missing->Mesh, nullptr);
    EXPECT_TRUE(Logged(L"Не удалось прочитать содержимое файла "));
    EXPECT_TRUE(Logged(L"gone.raw"));
    WriteFile("ok.raw", std::string(16, '\x10'));
    EXPECT_EQ(Block(L"flat", L"0; ok.raw")->Mesh, nullptr);
    EXPECT_EQ(Block(L"nan", L"NaN; ok.raw")->Mesh, nullptr);
    EXPECT_TRUE(Logged(L"Блок ландшафта nan: недопустимый размер (поле 0)"));
    C_D3DXMESH9_TERRAIN* smallest = Block(L"smallest", L"10; ok.raw");
    ASSERT_NE(smallest->Mesh, nullptr);
    EXPECT_EQ(smallest->Mesh->GetNumFaces(), 18u);
    smallest->Draw(&device);
    EXPECT_EQ(device.draws.size(), 1u);
}

// ---------------------------------------------------------------------------
// Five-step level-of-detail meshes

TEST_F(TerrainTest, LevelOfDetailMeshesKeepFiveStepsChosenByDistanceUpTo200)
{
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"FolderMesh = meshes");
    std::filesystem::create_directories(dir / "meshes");
    WriteFile("meshes/lodball.x", scenetest::XGridSphere(24));
    auto* mesh = Make<C_D3DXMESH9_LOD>(L"C_D3DXMESH9_LOD", L"lodball.x", L"lodball.x");
    ASSERT_EQ(mesh->Steps.size(), 5u);
    EXPECT_EQ(mesh->PMesh, nullptr) << "the progressive mesh is let go";
    EXPECT_FLOAT_EQ(mesh->MaxDetailDistance, 200.0f);
    const DWORD full = mesh->Steps[0]->GetNumFaces();
    for (std::size_t i = 1; i < 5; ++i) {
        const DWORD target = full * DWORD(5 - i) / 5;
        EXPECT_GE(mesh->Steps[i]->GetNumFaces(), target) << i;
        EXPECT_LT(mesh->Steps[i]->GetNumFaces(), mesh->Steps[i - 1]->GetNumFaces()) << i;
    }

    const struct {
        float distance;
        float drawn;
        std::size_t step;
    } cases[] = {{0.0f, 1, 0}, {39.9f, 1, 0}, {40.0f, 1, 1}, {120.0f, 1, 3}, {199.9f, 1, 4}, {200.0f, 0, 4}};
    for (const auto& c : cases) {
        SetCameraDistance(mesh, c.distance);
        EXPECT_EQ(mesh->CalcLevelOfDetail(nullptr), c.drawn) << c.distance;
        if (c.drawn == 0) continue;
        EXPECT_EQ(mesh->Current, c.step) << c.distance;
        device.draws.clear();
        mesh->Draw(&device);
        DWORD drawn = 0;
        for (const auto& call : device.draws) drawn += call.primCount;
        EXPECT_EQ(drawn, mesh->Steps[c.step]->GetNumFaces()) << c.distance;
    }
    SetCameraDistance(mesh, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(mesh->CalcLevelOfDetail(nullptr), 0.0f);
    mesh->Unload();
    EXPECT_TRUE(mesh->Steps.empty());
    EXPECT_EQ(mesh->CalcLevelOfDetail(nullptr), 0.0f);
}
