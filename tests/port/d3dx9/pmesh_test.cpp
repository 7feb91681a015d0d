#include "fake_device.h"
#include "port/d3dx9/d3dx9mesh.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class PMeshTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(D3DXCreateSphere(device, 2.0f, 40, 30, &sphere, nullptr), D3D_OK);
        adj.resize(sphere->GetNumFaces() * 3);
        sphere->GenerateAdjacency(0.001f, adj.data());
    }
    void TearDown() override {
        if (sphere) sphere->Release();
        device->Release();
    }
    UINT drawnFaces(ID3DXBaseMesh* m, DWORD subsets = 1) {
        device->draws.clear();
        for (DWORD s = 0; s < subsets; ++s) EXPECT_EQ(m->DrawSubset(s), D3D_OK);
        UINT n = 0;
        for (const auto& d : device->draws) {
            n += d.primCount;
            // Every drawn index stays inside the range the draw announced.
            const bool wide = d.ib->format == D3DFMT_INDEX32;
            for (UINT i = 0; i < d.primCount * 3; ++i) {
                UINT v = 0;
                std::memcpy(&v, d.ib->bytes.data() + (size_t)(d.startIndex + i) * (wide ? 4 : 2), wide ? 4 : 2);
                EXPECT_GE(v, d.minIndex);
                EXPECT_LT(v, d.minIndex + d.numVertices);
            }
        }
        return n;
    }
    testdev::Device9* device = new testdev::Device9;
    ID3DXMesh* sphere = nullptr;
    std::vector<DWORD> adj;
};

} // namespace

TEST_F(PMeshTest, LevelsFromFullToMinimum) {
    ID3DXPMesh* pm = nullptr;
    ASSERT_EQ(D3DXGeneratePMesh(sphere, adj.data(), nullptr, nullptr, 12, D3DXMESHSIMP_FACE, &pm), D3D_OK);
    const DWORD full = sphere->GetNumFaces();
    EXPECT_EQ(pm->GetMaxFaces(), full);
    EXPECT_EQ(pm->GetMaxVertices(), sphere->GetNumVertices());
    EXPECT_LE(pm->GetMinFaces(), 24u); // a closed surface gets close to the minimum
    EXPECT_GE(pm->GetMinFaces(), 4u);
    EXPECT_EQ(pm->GetNumFaces(), full); // generated at full detail

    // 100 %: everything.
    pm->SetNumFaces(full);
    EXPECT_EQ(pm->GetNumFaces(), full);
    EXPECT_EQ(drawnFaces(pm), full);

    // 50 %: the coarsest level that still has at least half the faces.
    pm->SetNumFaces(full / 2);
    const DWORD half = pm->GetNumFaces();
    EXPECT_GE(half, full / 2);
    EXPECT_LE(half, full / 2 + full / 4); // levels are close together
    EXPECT_EQ(drawnFaces(pm), half);
    EXPECT_LT(pm->GetNumVertices(), pm->GetMaxVertices());

    // Minimum, and requests outside the range clamp.
    pm->SetNumFaces(0);
    EXPECT_EQ(pm->GetNumFaces(), pm->GetMinFaces());
    EXPECT_EQ(drawnFaces(pm), pm->GetMinFaces());
    EXPECT_EQ(pm->GetNumVertices(), pm->GetMinVertices());
    pm->SetNumFaces(1000000);
    EXPECT_EQ(pm->GetNumFaces(), full);

    // Vertex requests pick by vertex count the same way.
    pm->SetNumVertices(pm->GetMaxVertices() / 3);
    EXPECT_GE(pm->GetNumVertices(), pm->GetMaxVertices() / 3);
    EXPECT_LT(pm->GetNumFaces(), full);
    pm->Release();
}

TEST_F(PMeshTest, EveryLevelUsesAPrefixOfTheVertices) {
    ID3DXPMesh* pm = nullptr;
    ASSERT_EQ(D3DXGeneratePMesh(sphere, adj.data(), nullptr, nullptr, 12, D3DXMESHSIMP_FACE, &pm), D3D_OK);
    for (DWORD want = pm->GetMaxFaces(); want > pm->GetMinFaces(); want = want * 3 / 4) {
        pm->SetNumFaces(want);
        uint16_t* ib = nullptr;
        ASSERT_EQ(pm->LockIndexBuffer(D3DLOCK_READONLY, (void**)&ib), D3D_OK);
        DWORD highest = 0;
        for (DWORD i = 0; i < pm->GetNumFaces() * 3; ++i) highest = std::max<DWORD>(highest, ib[i]);
        pm->UnlockIndexBuffer();
        EXPECT_EQ(highest + 1, pm->GetNumVertices()) << "at " << pm->GetNumFaces() << " faces";
    }
    pm->Release();
}

TEST_F(PMeshTest, CloneAtCurrentLevelAndSimplifiedShapeStaysClose) {
    ID3DXPMesh* pm = nullptr;
    ASSERT_EQ(D3DXGeneratePMesh(sphere, adj.data(), nullptr, nullptr, 12, D3DXMESHSIMP_FACE, &pm), D3D_OK);
    pm->SetNumFaces(pm->GetMaxFaces() / 4);
    ID3DXMesh* clone = nullptr;
    ASSERT_EQ(pm->CloneMeshFVF(D3DXMESH_SYSTEMMEM, pm->GetFVF(), device, &clone), D3D_OK);
    EXPECT_EQ(clone->GetNumFaces(), pm->GetNumFaces());
    EXPECT_EQ(clone->GetNumVertices(), pm->GetNumVertices());
    EXPECT_EQ(D3DXValidMesh(clone, nullptr, nullptr), D3D_OK);
    // Collapses only move vertices onto existing ones: all stay on the sphere.
    float* v = nullptr;
    clone->LockVertexBuffer(D3DLOCK_READONLY, (void**)&v);
    for (DWORD i = 0; i < clone->GetNumVertices(); ++i) {
        const D3DXVECTOR3 p(v + i * 6);
        EXPECT_NEAR(D3DXVec3Length(&p), 2.0f, 1e-4f);
    }
    clone->UnlockVertexBuffer();
    EXPECT_EQ(drawnFaces(clone), clone->GetNumFaces());

    ID3DXPMesh* copy = nullptr;
    ASSERT_EQ(pm->ClonePMeshFVF(D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, device, &copy), D3D_OK);
    EXPECT_EQ(copy->GetNumFaces(), pm->GetNumFaces());
    EXPECT_EQ(copy->GetMaxFaces(), pm->GetMaxFaces());
    EXPECT_EQ(copy->GetNumBytesPerVertex(), 32u);
    copy->SetNumFaces(0);
    EXPECT_EQ(drawnFaces(copy), copy->GetMinFaces());
    copy->Release();
    clone->Release();
    pm->Release();
}

TEST_F(PMeshTest, SubsetsSurviveSimplification) {
    // Two hemispheres with different attributes.
    DWORD* attr = nullptr;
    sphere->LockAttributeBuffer(0, &attr);
    for (DWORD f = 0; f < sphere->GetNumFaces(); ++f) attr[f] = f < sphere->GetNumFaces() / 2 ? 0 : 1;
    sphere->UnlockAttributeBuffer();
    sphere->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr);
    ID3DXPMesh* pm = nullptr;
    ASSERT_EQ(D3DXGeneratePMesh(sphere, adj.data(), nullptr, nullptr, 100, D3DXMESHSIMP_FACE, &pm), D3D_OK);
    pm->SetNumFaces(pm->GetMaxFaces() / 3);
    DWORD n = 0;
    pm->GetAttributeTable(nullptr, &n);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(drawnFaces(pm, 2), pm->GetNumFaces());
    device->draws.clear();
    pm->DrawSubset(1);
    ASSERT_FALSE(device->draws.empty());
    EXPECT_GT(device->draws[0].primCount, 0u);
    EXPECT_LT(device->draws[0].primCount, pm->GetNumFaces());
    pm->Release();
}

TEST_F(PMeshTest, VertexTargetAndBadArguments) {
    ID3DXPMesh* pm = nullptr;
    EXPECT_EQ(D3DXGeneratePMesh(sphere, adj.data(), nullptr, nullptr, 12, 0, &pm), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXGeneratePMesh(nullptr, adj.data(), nullptr, nullptr, 12, D3DXMESHSIMP_FACE, &pm),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(pm, nullptr);
    ASSERT_EQ(D3DXGeneratePMesh(sphere, adj.data(), nullptr, nullptr, 100, D3DXMESHSIMP_VERTEX, &pm), D3D_OK);
    EXPECT_LE(pm->GetMinVertices(), 100u);
    EXPECT_GT(pm->GetMinVertices(), 20u); // stops near the vertex target, not at the bottom
    pm->Release();
}
