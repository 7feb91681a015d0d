#include "Render/Resources/SceneFixture.h"

#include <cmath>
#include <set>

#include "Render/Resources/D3DXMESH9.h"

using scenetest::FakeQuery;

namespace {

struct Vertex32 {
    float x, y, z, nx, ny, nz, u, v;
};

std::vector<Vertex32> Vertices(ID3DXMesh* mesh)
{
    std::vector<Vertex32> out;
    EXPECT_EQ(mesh->GetNumBytesPerVertex(), 32u);
    void* data = nullptr;
    if (FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data))) return out;
    const auto* v = static_cast<const Vertex32*>(data);
    out.assign(v, v + mesh->GetNumVertices());
    mesh->UnlockVertexBuffer();
    return out;
}

} // namespace

class MeshTest : public SceneResourceTest {};

TEST_F(MeshTest, BoxFacesEachShowTheWholeTexture)
{
    auto* box = Make<C_D3DXMESH9>(L"C_D3DXMESH9_BOX", L"box", L"2; 4; 6;");
    ASSERT_NE(box->Mesh, nullptr);
    EXPECT_EQ(box->ResourceLevel, 1);
    EXPECT_EQ(box->Mesh->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    EXPECT_EQ(box->Mesh->GetNumFaces(), 12u);
    const std::vector<Vertex32> vertices = Vertices(box->Mesh);
    ASSERT_EQ(vertices.size(), 24u);

    // Whatever order the clean-up left the vertices in, each face (one normal)
    // carries the four corners of the texture once.
    std::map<std::tuple<int, int, int>, std::set<std::pair<float, float>>> perFace;
    for (const Vertex32& v : vertices)
        perFace[{int(std::lround(v.nx)), int(std::lround(v.ny)), int(std::lround(v.nz))}].insert({v.u, v.v});
    ASSERT_EQ(perFace.size(), 6u);
    const std::set<std::pair<float, float>> corners = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
    for (const auto& [normal, uvs] : perFace) EXPECT_EQ(uvs, corners);

    // On the -X face the corners follow the face's vertex order: (-y, -z) is
    // the first vertex (0, 1), (-y, +z) the second (0, 0), (+y, +z) the third.
    for (const Vertex32& v : vertices) {
        if (std::lround(v.nx) != -1) continue;
        if (v.y < 0 && v.z < 0) {
            EXPECT_EQ(std::make_pair(v.u, v.v), std::make_pair(0.0f, 1.0f));
        }
        if (v.y < 0 && v.z > 0) {
            EXPECT_EQ(std::make_pair(v.u, v.v), std::make_pair(0.0f, 0.0f));
        }
        if (v.y > 0 && v.z > 0) {
            EXPECT_EQ(std::make_pair(v.u, v.v), std::make_pair(1.0f, 0.0f));
        }
        if (v.y > 0 && v.z < 0) {
            EXPECT_EQ(std::make_pair(v.u, v.v), std::make_pair(1.0f, 1.0f));
        }
    }

    // Bounds: the corners of the box and the sphere through them.
    EXPECT_NEAR(box->GetRadius(), std::sqrt(1.0f + 4.0f + 9.0f), 1e-3f);
    EXPECT_NEAR(box->GetBoxMax().z, 3.0f, 1e-5f);
    EXPECT_NEAR(box->GetBoxMin().y, -2.0f, 1e-5f);
    box->Unload();   // released, built again by the next Load
    EXPECT_EQ(box->Mesh, nullptr);
}

TEST_F(MeshTest, CylinderStacksFollowTheSliceCountAndCarryTextureCoordinates)
{
    // 20 slices: 20 / 5 + 1 = 5 stacks, so 2 × 20 × (5 + 1) triangles;
    // 10 slices: 3 stacks, 2 × 10 × (3 + 1) triangles.
    auto* twenty = Make<C_D3DXMESH9_CYLINDER>(L"C_D3DXMESH9_CYLINDER", L"c20", L"1; 0.5; 4; 20;");
    ASSERT_NE(twenty->Mesh, nullptr);
    EXPECT_EQ(twenty->Mesh->GetNumFaces(), 240u);
    EXPECT_EQ(twenty->Slices, 20);
    auto* ten = Make<C_D3DXMESH9_CYLINDER>(L"C_D3DXMESH9_CYLINDER", L"c10", L"1; 1; 2; 10;");
    ASSERT_NE(ten->Mesh, nullptr);
    EXPECT_EQ(ten->Mesh->GetNumFaces(), 80u);

    bool sawBottomRim = false, sawTopRim = false, sawSide = false;
    for (const Vertex32& v : Vertices(twenty->Mesh)) {
        EXPECT_TRUE(std::isfinite(v.u) && std::isfinite(v.v));
        if (v.nz < -0.99f && std::fabs(v.x - 1.0f) < 1e-4f) {   // -Z cap rim at +x
            EXPECT_NEAR(v.u, 0.0f, 1e-5f);
            EXPECT_NEAR(v.v, -0.5f, 1e-5f);
            sawBottomRim = true;
        }
        if (v.nz > 0.99f && std::fabs(v.x - 0.5f) < 1e-4f) {    // +Z cap rim at +x, radius 0.5
            EXPECT_NEAR(v.u, 0.0f, 1e-5f);
            sawTopRim = true;
        }
        if (std::fabs(v.nz) < 0.5f && std::fabs(v.z - 2.0f) < 1e-4f) {   // side, top ring: v = -(1 + 0.5)
            EXPECT_NEAR(v.v, -1.0f, 1e-5f);
            sawSide = true;
        }
    }
    EXPECT_TRUE(sawBottomRim);
    EXPECT_TRUE(sawTopRim);
    EXPECT_TRUE(sawSide);

    // A cone: radius 0 at the top gives finite coordinates, not NaNs.
    auto* cone = Make<C_D3DXMESH9_CYLINDER>(L"C_D3DXMESH9_CYLINDER", L"cone", L"1; 0; 2; 8;");
    ASSERT_NE(cone->Mesh, nullptr);
    for (const Vertex32& v : Vertices(cone->Mesh)) EXPECT_TRUE(std::isfinite(v.u) && std::isfinite(v.v));

    // A sphere takes its one count as both slices and stacks.
    auto* sphere = Make<C_D3DXMESH9>(L"C_D3DXMESH9_SPHERE", L"sphere", L"1.5; 16;");
    ASSERT_NE(sphere->Mesh, nullptr);
    EXPECT_EQ(sphere->Mesh->GetNumFaces(), 2u * 16u * 15u);
    EXPECT_NEAR(sphere->GetRadius(), 1.5f, 0.02f);
}

TEST_F(MeshTest, BadShapeParametersLeaveTheMeshOutAndDrawNothing)
{
    const std::pair<const wchar_t*, const wchar_t*> bad[] = {
        {L"C_D3DXMESH9_CYLINDER", L"1; 1; 1; 0;"},
        {L"C_D3DXMESH9_CYLINDER", L"1; 1; 1; -7;"},
        {L"C_D3DXMESH9_CYLINDER", L"1; 1; 1; 100000;"},
        {L"C_D3DXMESH9_SPHERE", L"1; 100000;"},
        {L"C_D3DXMESH9_SPHERE", L"1; 0;"},
        {L"C_D3DXMESH9_SPHERE", L"1; -3;"},
        {L"C_D3DXMESH9_BOX", L"-1; 1; 1;"},
    };
    int n = 0;
    for (const auto& [cls, value] : bad) {
        auto* mesh = Make<C_D3DXMESH9>(cls, (L"bad" + std::to_wstring(n++)).c_str(), value);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->Mesh, nullptr) << testing::PrintToString(std::wstring(value));
        EXPECT_EQ(mesh->GetRadius(), 0.0f);
        mesh->Draw(&device);
    }
    EXPECT_TRUE(device.draws.empty());
}

TEST_F(MeshTest, OcclusionPassDrawsBetweenQueryBeginAndEndAndWaitsForTheCount)
{
    auto* box = Make<C_D3DXMESH9>(L"C_D3DXMESH9_BOX", L"box", L"1; 1; 1;");
    FakeQuery query;
    query.Pending = 3;
    query.Pixels = 1234;
    auto& common = C_BaseObject::CommonData();
    common.RenderPass = 1;
    common.OcclusionQuery = &query;
    common.VisiblePixels = 10000;
    box->Draw(&device);
    common.OcclusionQuery = nullptr;
    EXPECT_EQ(query.Issued, (std::vector<DWORD>{D3DISSUE_BEGIN, D3DISSUE_END}));
    EXPECT_EQ(query.Polls, 4);
    EXPECT_EQ(query.LastFlags, DWORD(D3DGETDATA_FLUSH));
    EXPECT_EQ(common.VisiblePixels, 1234u);
    EXPECT_EQ(device.draws.size(), 1u);

    // Without a query the occlusion pass draws nothing; the main pass draws.
    box->Draw(&device);
    EXPECT_EQ(device.draws.size(), 1u);
    common.RenderPass = 0;
    box->Draw(&device);
    EXPECT_EQ(device.draws.size(), 2u);
    EXPECT_EQ(device.draws.back().primCount, 12u);
}

TEST_F(MeshTest, PlainBuffersBindAndDrawWithTheirCounts)
{
    C_D3DXVERTEXBUFFER9 vertices;
    vertices.VertexCount = 4;
    vertices.TriangleCount = 2;
    vertices.Load(&device);
    ASSERT_NE(vertices.VertexBuffer, nullptr);
    C_D3DXINDEXBUFFER9 indices;
    indices.TriangleCount = 2;
    indices.Load(&device);
    ASSERT_NE(indices.IndexBuffer, nullptr);
    EXPECT_EQ(static_cast<testdev::Buffer9*>(vertices.VertexBuffer)->bytes.size(), 128u);

    indices.Draw(&device);
    vertices.Draw(&device);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].numVertices, 4u);
    EXPECT_EQ(device.draws[0].primCount, 2u);
    EXPECT_EQ(device.draws[0].stride, 32u);
    EXPECT_EQ(device.fvf, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));

}

TEST_F(MeshTest, TextMeshesAreCentredScaledAndTakeDefaultWeightAndDepth)
{
    auto* text = Make<C_D3DXMESH9>(L"C_D3DXMESH9_TEXT", L"t0", L"Hi; DejaVu Sans; 2; 0; 0;");
    ASSERT_NE(text->Mesh, nullptr);
    EXPECT_EQ(text->ResourceLevel, 1);
    EXPECT_EQ(text->Position, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    // Depth 0 means 0.1, scaled by 2; the box is centred on the origin.
    const D3DXVECTOR3 high = text->GetBoxMax(), low = text->GetBoxMin();
    EXPECT_NEAR(high.z - low.z, 0.2f, 1e-3f);
    EXPECT_NEAR(high.x + low.x, 0.0f, 1e-3f);
    EXPECT_NEAR(high.y + low.y, 0.0f, 1e-3f);
    EXPECT_GT(high.x - low.x, high.y - low.y);   // two letters are wider than tall

    // Every vertex lies within the radius around the origin.
    void* data = nullptr;
    ASSERT_EQ(text->Mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    const DWORD stride = text->Mesh->GetNumBytesPerVertex();
    for (DWORD i = 0; i < text->Mesh->GetNumVertices(); ++i) {
        const auto* p = reinterpret_cast<const D3DXVECTOR3*>(static_cast<const char*>(data) + i * stride);
        EXPECT_LE(std::sqrt(p->x * p->x + p->y * p->y + p->z * p->z), text->GetRadius() + 1e-4f);
    }
    text->Mesh->UnlockVertexBuffer();

    // Weight 0 is weight 500: the same outlines; a heavy weight differs.
    auto* medium = Make<C_D3DXMESH9>(L"C_D3DXMESH9_TEXT", L"t500", L"Hi; DejaVu Sans; 2; 500; 0.1;");
    ASSERT_NE(medium->Mesh, nullptr);
    EXPECT_EQ(medium->Mesh->GetNumVertices(), text->Mesh->GetNumVertices());
    EXPECT_NEAR(medium->GetBoxMax().x, high.x, 1e-4f);
    auto* deep = Make<C_D3DXMESH9>(L"C_D3DXMESH9_TEXT", L"deep", L"Hi; DejaVu Sans; 1; 0; 3;");
    ASSERT_NE(deep->Mesh, nullptr);
    EXPECT_NEAR(deep->GetBoxMax().z - deep->GetBoxMin().z, 3.0f, 1e-3f);

    // Nothing to extrude: no crash, nothing drawn beyond what exists.
    auto* empty = Make<C_D3DXMESH9>(L"C_D3DXMESH9_TEXT", L"empty", L"; DejaVu Sans; 1;");
    EXPECT_TRUE(std::isfinite(empty->GetRadius()));
    empty->Draw(&device);
}
