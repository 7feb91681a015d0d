#include "fake_device.h"
#include "port/d3dx9/d3dx9mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

using Tri = std::array<float, 9>;

// Triangles as drawn, each rotated to start at its smallest vertex, sorted:
// two meshes draw the same geometry when these lists are equal.
std::vector<Tri> canonical(const std::vector<float>& flat) {
    std::vector<Tri> tris;
    for (size_t i = 0; i + 9 <= flat.size(); i += 9) {
        std::array<std::array<float, 3>, 3> v;
        for (int k = 0; k < 3; ++k) v[k] = {flat[i + 3 * k], flat[i + 3 * k + 1], flat[i + 3 * k + 2]};
        const int s = (int)(std::min_element(v.begin(), v.end()) - v.begin());
        Tri t;
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c) t[k * 3 + c] = v[(s + k) % 3][c];
        tris.push_back(t);
    }
    std::sort(tris.begin(), tris.end());
    return tris;
}

std::vector<Tri> drawAll(testdev::Device9* dev, ID3DXMesh* mesh, DWORD subsets) {
    dev->draws.clear();
    for (DWORD s = 0; s < subsets; ++s) EXPECT_EQ(mesh->DrawSubset(s), D3D_OK);
    return canonical(dev->drawnTriangles());
}

struct V {
    float x, y, z, nx, ny, nz, u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

// A grid of (n-1)^2 quads in the z = 0 plane with attribute = column parity,
// every quad using its own four vertices (so welding has work to do).
ID3DXMesh* makeGrid(IDirect3DDevice9* dev, int n) {
    const int quads = (n - 1) * (n - 1);
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateMeshFVF(quads * 2, quads * 4, D3DXMESH_SYSTEMMEM, kFvf, dev, &mesh), D3D_OK);
    V* vb = nullptr;
    uint16_t* ib = nullptr;
    DWORD* attr = nullptr;
    mesh->LockVertexBuffer(0, (void**)&vb);
    mesh->LockIndexBuffer(0, (void**)&ib);
    mesh->LockAttributeBuffer(0, &attr);
    int q = 0;
    for (int r = 0; r + 1 < n; ++r)
        for (int c = 0; c + 1 < n; ++c, ++q) {
            const float x0 = (float)c, y0 = (float)r;
            vb[q * 4 + 0] = {x0, y0, 0, 0, 0, -1, 0, 0};
            vb[q * 4 + 1] = {x0, y0 + 1, 0, 0, 0, -1, 0, 1};
            vb[q * 4 + 2] = {x0 + 1, y0 + 1, 0, 0, 0, -1, 1, 1};
            vb[q * 4 + 3] = {x0 + 1, y0, 0, 0, 0, -1, 1, 0};
            const uint16_t b = (uint16_t)(q * 4);
            const uint16_t face[6] = {b, (uint16_t)(b + 1), (uint16_t)(b + 2), b, (uint16_t)(b + 2), (uint16_t)(b + 3)};
            std::memcpy(ib + q * 6, face, sizeof face);
            attr[q * 2] = attr[q * 2 + 1] = (DWORD)(c % 2);
        }
    mesh->UnlockAttributeBuffer();
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    return mesh;
}

class MeshOps : public ::testing::Test {
protected:
    void TearDown() override { device->Release(); }
    testdev::Device9* device = new testdev::Device9;
};

} // namespace

TEST_F(MeshOps, CreateMeshFVFValidatesArguments) {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateMeshFVF(0, 3, 0, kFvf, device, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateMeshFVF(1, 0, 0, kFvf, device, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateMeshFVF(1, 3, 0, kFvf, nullptr, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_VB_SHARE, kFvf, device, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateMeshFVF(1, 3, 0x20000, kFvf, device, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateMeshFVF(1, 3, 0, D3DFVF_NORMAL, device, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateMeshFVF(1, 70000, D3DXMESH_SYSTEMMEM, kFvf, device, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateMeshFVF(0x7FFFFFFF, 3, D3DXMESH_32BIT, kFvf, device, &mesh), E_OUTOFMEMORY);
    EXPECT_EQ(mesh, nullptr);
    // 65536 vertices is the most 16-bit indices reach, as a 256 x 256 height field needs.
    ASSERT_EQ(D3DXCreateMeshFVF(130050, 65536, D3DXMESH_SYSTEMMEM, kFvf, device, &mesh), D3D_OK);
    EXPECT_EQ(mesh->GetNumBytesPerVertex(), 32u);
    EXPECT_EQ(D3DXGetFVFVertexSize(kFvf), 32u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(1)), 40u);
    mesh->Release();
}

TEST_F(MeshOps, CloneAddsTexcoordsAndKeepsData) {
    ID3DXMesh* box = nullptr;
    ASSERT_EQ(D3DXCreateBox(device, 2, 4, 6, &box, nullptr), D3D_OK);
    ID3DXMesh* clone = nullptr;
    ASSERT_EQ(box->CloneMeshFVF(D3DXMESH_SYSTEMMEM | D3DXMESH_32BIT, kFvf, device, &clone), D3D_OK);
    EXPECT_EQ(clone->GetFVF(), kFvf);
    EXPECT_EQ(clone->GetNumVertices(), 24u);
    V* v = nullptr;
    ASSERT_EQ(clone->LockVertexBuffer(0, (void**)&v), D3D_OK);
    EXPECT_FLOAT_EQ(v[5].x, -1.0f);
    EXPECT_FLOAT_EQ(v[5].y, 2.0f);
    EXPECT_FLOAT_EQ(v[5].z, 3.0f);
    EXPECT_FLOAT_EQ(v[5].ny, 1.0f);
    EXPECT_EQ(v[5].u, 0.0f);
    clone->UnlockVertexBuffer();
    uint32_t* idx = nullptr;
    ASSERT_EQ(clone->LockIndexBuffer(D3DLOCK_READONLY, (void**)&idx), D3D_OK);
    EXPECT_EQ(idx[34], 23u); // 32-bit copy of the last face (22 23 20)
    clone->UnlockIndexBuffer();
    EXPECT_EQ(drawAll(device, box, 1), drawAll(device, clone, 1));
    clone->Release();
    box->Release();
}

TEST_F(MeshOps, DrawSubsetDrawsOnlyThatAttribute) {
    ID3DXMesh* grid = makeGrid(device, 4); // 9 quads, columns 0 and 2 -> attr 0
    device->draws.clear();
    ASSERT_EQ(grid->DrawSubset(1), D3D_OK);
    UINT faces = 0;
    for (const auto& d : device->draws) faces += d.primCount;
    EXPECT_EQ(faces, 6u);
    EXPECT_EQ(device->fvf, kFvf);
    EXPECT_EQ(device->stride, 32u);
    device->draws.clear();
    ASSERT_EQ(grid->DrawSubset(7), D3D_OK); // no such subset: nothing drawn
    EXPECT_TRUE(device->draws.empty());
    grid->Release();
}

TEST_F(MeshOps, OptimizeInplaceSortsAttributesAndKeepsGeometry) {
    ID3DXMesh* grid = makeGrid(device, 6);
    const auto before = drawAll(device, grid, 2);
    const DWORD F = grid->GetNumFaces();
    std::vector<DWORD> adj(F * 3), adjOut(F * 3), faceRemap(F);
    ASSERT_EQ(grid->GenerateAdjacency(0.001f, adj.data()), D3D_OK);
    EXPECT_EQ(grid->OptimizeInplace(0, adj.data(), nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(grid->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER, adj.data(), nullptr,
                                    nullptr, nullptr),
              D3DERR_INVALIDCALL);
    ID3DXBuffer* vremap = nullptr;
    ASSERT_EQ(grid->OptimizeInplace(D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE, adj.data(),
                                    adjOut.data(), faceRemap.data(), &vremap),
              D3D_OK);
    EXPECT_EQ(drawAll(device, grid, 2), before);

    DWORD n = 0;
    ASSERT_EQ(grid->GetAttributeTable(nullptr, &n), D3D_OK);
    ASSERT_EQ(n, 2u);
    D3DXATTRIBUTERANGE table[2];
    ASSERT_EQ(grid->GetAttributeTable(table, &n), D3D_OK);
    EXPECT_EQ(table[0].AttribId, 0u);
    EXPECT_EQ(table[0].FaceStart, 0u);
    EXPECT_EQ(table[0].FaceCount, 30u); // columns 0, 2, 4 of 5
    EXPECT_EQ(table[1].FaceStart, 30u);
    EXPECT_EQ(table[1].FaceCount, 20u);
    DWORD* attr = nullptr;
    grid->LockAttributeBuffer(D3DLOCK_READONLY, &attr);
    EXPECT_TRUE(std::is_sorted(attr, attr + F));
    grid->UnlockAttributeBuffer();

    // The face remap is a permutation and moves adjacency with the faces.
    std::vector<DWORD> seen(faceRemap);
    std::sort(seen.begin(), seen.end());
    for (DWORD f = 0; f < F; ++f) EXPECT_EQ(seen[f], f);
    for (DWORD f = 0; f < F; ++f)
        for (int k = 0; k < 3; ++k) {
            const DWORD old = adj[f * 3 + k];
            EXPECT_EQ(adjOut[faceRemap[f] * 3 + k], old == 0xFFFFFFFFu ? old : faceRemap[old]);
        }
    ASSERT_NE(vremap, nullptr);
    EXPECT_EQ(vremap->GetBufferSize(), 100u * sizeof(DWORD));
    vremap->Release();
    grid->Release();
}

TEST_F(MeshOps, CompactDropsUnusedVerticesInOrder) {
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(1, 5, D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device, &mesh), D3D_OK);
    float* v = nullptr;
    mesh->LockVertexBuffer(0, (void**)&v);
    for (int i = 0; i < 15; ++i) v[i] = (float)i;
    mesh->UnlockVertexBuffer();
    uint16_t* ib = nullptr;
    mesh->LockIndexBuffer(0, (void**)&ib);
    ib[0] = 4;
    ib[1] = 1;
    ib[2] = 3;
    mesh->UnlockIndexBuffer();
    ID3DXBuffer* remap = nullptr;
    ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_COMPACT, nullptr, nullptr, nullptr, &remap), D3D_OK);
    EXPECT_EQ(mesh->GetNumVertices(), 3u);
    const DWORD* r = static_cast<const DWORD*>(remap->GetBufferPointer());
    EXPECT_EQ(r[0], 1u);
    EXPECT_EQ(r[1], 3u);
    EXPECT_EQ(r[2], 4u);
    EXPECT_EQ(r[3], 0xFFFFFFFFu);
    mesh->LockIndexBuffer(D3DLOCK_READONLY, (void**)&ib);
    EXPECT_EQ(ib[0], 2);
    EXPECT_EQ(ib[1], 0);
    EXPECT_EQ(ib[2], 1);
    mesh->UnlockIndexBuffer();
    remap->Release();
    mesh->Release();
}

TEST_F(MeshOps, GenerateAdjacencyEpsilonRules) {
    // Two triangles sharing an edge by position only (separate vertices).
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(2, 6, D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device, &mesh), D3D_OK);
    const float pos[18] = {0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 0.0005f, 0, 0, 1, 0, 1, 1, 0};
    float* v = nullptr;
    mesh->LockVertexBuffer(0, (void**)&v);
    std::memcpy(v, pos, sizeof pos);
    mesh->UnlockVertexBuffer();
    uint16_t* ib = nullptr;
    mesh->LockIndexBuffer(0, (void**)&ib);
    const uint16_t idx[6] = {0, 1, 2, 3, 4, 5};
    std::memcpy(ib, idx, sizeof idx);
    mesh->UnlockIndexBuffer();
    DWORD adj[6];
    ASSERT_EQ(mesh->GenerateAdjacency(-1.0f, adj), D3D_OK);
    EXPECT_EQ(adj[1], 0xFFFFFFFFu); // shared indices only: none
    ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adj), D3D_OK);
    EXPECT_EQ(adj[1], 0xFFFFFFFFu); // (1,0.0005) differs from (1,0) bitwise
    ASSERT_EQ(mesh->GenerateAdjacency(0.001f, adj), D3D_OK);
    EXPECT_EQ(adj[1], 1u); // edge 1->2 of face 0 meets edge 3->4 of face 1
    EXPECT_EQ(adj[3], 0u);
    ASSERT_EQ(mesh->GenerateAdjacency(0.0004f, adj), D3D_OK);
    EXPECT_EQ(adj[1], 0xFFFFFFFFu);
    mesh->Release();
}

TEST_F(MeshOps, WeldMergesMatchingVerticesAndKeepsGeometry) {
    ID3DXMesh* grid = makeGrid(device, 5); // 16 quads, 64 vertices
    const auto before = drawAll(device, grid, 2);
    const DWORD F = grid->GetNumFaces();
    std::vector<DWORD> adj(F * 3);
    ASSERT_EQ(grid->GenerateAdjacency(0.001f, adj.data()), D3D_OK);
    D3DXWELDEPSILONS eps{};
    eps.Position = 0.1f;
    eps.Normal = 0.0f;
    eps.Texcoord[0] = 1.0f; // texture seams may weld too
    ASSERT_EQ(D3DXWeldVertices(grid, D3DXWELDEPSILONS_WELDPARTIALMATCHES | D3DXWELDEPSILONS_DONOTSPLIT, &eps,
                               adj.data(), adj.data(), nullptr, nullptr),
              D3D_OK);
    EXPECT_EQ(grid->GetNumVertices(), 25u); // a 5 x 5 lattice
    EXPECT_EQ(drawAll(device, grid, 2), before);
    grid->Release();
}

TEST_F(MeshOps, WeldPartialMatchKeepsVerticesWithDifferentNormals) {
    ID3DXMesh* box = nullptr;
    ASSERT_EQ(D3DXCreateBox(device, 1, 1, 1, &box, nullptr), D3D_OK);
    std::vector<DWORD> adj(36);
    box->GenerateAdjacency(0.001f, adj.data());
    D3DXWELDEPSILONS eps{};
    eps.Position = 0.1f;
    ASSERT_EQ(D3DXWeldVertices(box, D3DXWELDEPSILONS_WELDPARTIALMATCHES, &eps, adj.data(), adj.data(), nullptr,
                               nullptr),
              D3D_OK);
    EXPECT_EQ(box->GetNumVertices(), 24u); // corners differ in normal: nothing merges
    ASSERT_EQ(D3DXWeldVertices(box, D3DXWELDEPSILONS_WELDALL, nullptr, adj.data(), nullptr, nullptr, nullptr),
              D3D_OK);
    EXPECT_EQ(box->GetNumVertices(), 8u);
    box->Release();
}

TEST_F(MeshOps, CleanSplitsBackFacingPairsAndBowties) {
    // Faces 0 and 1 cover the same triangle both ways; faces 2 and 3 meet only at vertex 5.
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(4, 9, D3DXMESH_MANAGED, D3DFVF_XYZ, device, &mesh), D3D_OK);
    const float pos[27] = {0, 0, 0, 0, 1, 0, 1, 0, 0, 5, 5, 0, 5, 6, 0, 6, 6, 0, 6, 5, 0, 7, 7, 0, 7, 6, 0};
    const uint16_t idx[12] = {0, 1, 2, 0, 2, 1, 3, 4, 5, 5, 7, 8};
    float* v = nullptr;
    mesh->LockVertexBuffer(0, (void**)&v);
    std::memcpy(v, pos, sizeof pos);
    mesh->UnlockVertexBuffer();
    uint16_t* ib = nullptr;
    mesh->LockIndexBuffer(0, (void**)&ib);
    std::memcpy(ib, idx, sizeof idx);
    mesh->UnlockIndexBuffer();
    std::vector<DWORD> adj(12), adjOut(12);
    mesh->GenerateAdjacency(0.0f, adj.data());
    EXPECT_EQ(adj[0], 1u); // the back-to-back pair looks adjacent
    ID3DXBuffer* errors = nullptr;
    EXPECT_EQ(D3DXValidMesh(mesh, adj.data(), &errors), D3DXERR_INVALIDMESH);
    ASSERT_NE(errors, nullptr);
    EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("bowtie"), std::string::npos);
    errors->Release();

    ID3DXMesh* clean = nullptr;
    ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_BACKFACING, mesh, adj.data(), &clean, adjOut.data(), nullptr), D3D_OK);
    EXPECT_EQ(clean->GetNumVertices(), 12u); // three copies for face 1
    EXPECT_EQ(adjOut[0], 0xFFFFFFFFu);
    EXPECT_EQ(drawAll(device, clean, 1), drawAll(device, mesh, 1));
    clean->Release();

    ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, mesh, adj.data(), &clean, adjOut.data(), nullptr), D3D_OK);
    EXPECT_EQ(clean->GetNumVertices(), 13u); // and vertex 5 split between its two fans
    EXPECT_EQ(drawAll(device, clean, 1), drawAll(device, mesh, 1));
    EXPECT_EQ(D3DXValidMesh(clean, adjOut.data(), nullptr), D3D_OK);
    clean->Release();

    // One-sided adjacency is an error of its own.
    std::vector<DWORD> lies(adj);
    lies[6] = 3; // claim face 2 touches face 3 although face 3 does not agree
    EXPECT_EQ(D3DXValidMesh(mesh, lies.data(), &errors), D3DXERR_INVALIDMESH);
    ASSERT_NE(errors, nullptr);
    EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("adjacent"), std::string::npos);
    errors->Release();
    mesh->Release();
}

TEST_F(MeshOps, ValidMeshRejectsIndicesOutOfRange) {
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device, &mesh), D3D_OK);
    uint16_t* ib = nullptr;
    mesh->LockIndexBuffer(0, (void**)&ib);
    ib[2] = 9;
    mesh->UnlockIndexBuffer();
    EXPECT_EQ(D3DXValidMesh(mesh, nullptr, nullptr), D3DXERR_INVALIDMESH);
    ID3DXMesh* clean = nullptr;
    EXPECT_EQ(D3DXCleanMesh(D3DXCLEAN_BACKFACING, mesh, nullptr, &clean, nullptr, nullptr), D3DXERR_INVALIDMESH);
    EXPECT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_COMPACT, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXComputeNormals(mesh, nullptr), D3DERR_INVALIDCALL);
    mesh->Release();
}

TEST_F(MeshOps, ComputeNormalsWeightsByCornerAngle) {
    // A corner shared by a right-angle triangle in z = 0 and a 45-degree
    // corner of a triangle in x = 0: the angle weights are pi/2 and pi/4.
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(2, 5, D3DXMESH_SYSTEMMEM, D3DFVF_XYZ | D3DFVF_NORMAL, device, &mesh), D3D_OK);
    const float pos[5][3] = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 1}};
    float* v = nullptr;
    mesh->LockVertexBuffer(0, (void**)&v);
    for (int i = 0; i < 5; ++i) std::memcpy(v + i * 6, pos[i], 12);
    mesh->UnlockVertexBuffer();
    const uint16_t idx[6] = {0, 1, 2, 0, 4, 1};
    uint16_t* ib = nullptr;
    mesh->LockIndexBuffer(0, (void**)&ib);
    std::memcpy(ib, idx, sizeof idx);
    mesh->UnlockIndexBuffer();
    ASSERT_EQ(D3DXComputeNormals(mesh, nullptr), D3D_OK);
    mesh->LockVertexBuffer(D3DLOCK_READONLY, (void**)&v);
    // Face 0 normal: cross((0,1,0),(1,0,0)) = (0,0,-1); face 1: cross((0,1,1),(0,1,0)) = (-1,0,0).
    const double w0 = M_PI / 2, w1 = M_PI / 4, len = std::sqrt(w0 * w0 + w1 * w1);
    EXPECT_NEAR(v[3], -w1 / len, 1e-5);
    EXPECT_NEAR(v[4], 0.0, 1e-5);
    EXPECT_NEAR(v[5], -w0 / len, 1e-5);
    EXPECT_NEAR(v[2 * 6 + 5], -1.0, 1e-6); // vertex 2 only touches face 0
    mesh->UnlockVertexBuffer();
    ID3DXMesh* noNormals = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device, &noNormals), D3D_OK);
    EXPECT_EQ(D3DXComputeNormals(noNormals, nullptr), D3DERR_INVALIDCALL);
    noNormals->Release();
    mesh->Release();
}

TEST_F(MeshOps, ComputeNormalsWithAdjacencySmoothsAcrossCopies) {
    ID3DXMesh* box = nullptr;
    ASSERT_EQ(D3DXCreateBox(device, 2, 2, 2, &box, nullptr), D3D_OK);
    std::vector<DWORD> adj(36);
    box->GenerateAdjacency(0.001f, adj.data());
    ASSERT_EQ(D3DXComputeNormals(box, adj.data()), D3D_OK);
    float* v = nullptr;
    box->LockVertexBuffer(D3DLOCK_READONLY, (void**)&v);
    // Every corner copy gets the diagonal direction.
    for (int i = 0; i < 24; ++i)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(v[i * 6 + 3 + c], v[i * 6 + c] / std::sqrt(3.0f), 1e-5) << i;
    box->UnlockVertexBuffer();
    box->Release();
}

TEST(MeshBounds, PublishedValues) {
    const D3DXVECTOR3 two[2] = {{1, 1, 1}, {9, 9, 9}};
    D3DXVECTOR3 lo, hi, c;
    float r = 0;
    ASSERT_EQ(D3DXComputeBoundingBox(two, 2, sizeof(D3DXVECTOR3), &lo, &hi), D3D_OK);
    EXPECT_EQ(lo, D3DXVECTOR3(1, 1, 1));
    EXPECT_EQ(hi, D3DXVECTOR3(9, 9, 9));
    ASSERT_EQ(D3DXComputeBoundingSphere(two, 2, sizeof(D3DXVECTOR3), &c, &r), D3D_OK);
    EXPECT_EQ(c, D3DXVECTOR3(5, 5, 5));
    EXPECT_NEAR(r, 6.928203f, 1e-5f);

    const D3DXVECTOR3 five[5] = {
        {2, 5.9f, -1.2f}, {-1.87f, 7.9f, 7.4f}, {7.43f, -0.9f, 11.9f}, {-6.92f, 6.3f, -3.8f}, {11.4f, -8.1f, 4.5f}};
    ASSERT_EQ(D3DXComputeBoundingSphere(five, 5, sizeof(D3DXVECTOR3), &c, &r), D3D_OK);
    EXPECT_NEAR(c.x, 2.408f, 1e-5f);
    EXPECT_NEAR(c.y, 2.22f, 1e-5f);
    EXPECT_NEAR(c.z, 3.76f, 1e-5f);
    EXPECT_NEAR(r, 13.707883f, 1e-5f);

    // Strided positions inside bigger vertices.
    const float strided[2][6] = {{-1, 2, 3, 9, 9, 9}, {4, -5, 6, 9, 9, 9}};
    ASSERT_EQ(D3DXComputeBoundingBox((const D3DXVECTOR3*)strided, 2, 24, &lo, &hi), D3D_OK);
    EXPECT_EQ(lo, D3DXVECTOR3(-1, -5, 3));
    EXPECT_EQ(hi, D3DXVECTOR3(4, 2, 6));

    EXPECT_EQ(D3DXComputeBoundingBox(nullptr, 2, 12, &lo, &hi), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXComputeBoundingSphere(two, 2, 12, nullptr, &r), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXComputeBoundingSphere(two, 0, 12, &c, &r), D3DERR_INVALIDCALL);
}

// Real meshes are rarely clean 2-manifolds: fins where three faces share an
// edge, faces written twice, faces collapsed to a line or a point, corners
// shared by two separate fans and vertices that differ by rounding. Adjacency
// must stay mutual, clean-up must repair what it can, and a progressive mesh
// must come out of the result.
TEST_F(MeshOps, NonManifoldMeshThroughAdjacencyCleanUpAndProgressiveMesh) {
    const std::vector<std::array<float, 3>> pos = {
        {0, 0, 0},      {0, 1, 0},   {1, 0.5f, 0}, {-1, 0.5f, 0}, {0, 0.5f, 1}, // 0-4: a fin on edge 0-1
        {5, 0, 0},      {6, 0, 0},   {7, 0, 0},                               // 5-7: collinear
        {10, 0, 0},     {11, 1, 0},  {9, 1, 0},    {11, -1, 0},   {9, -1, 0}, // 8-12: bowtie at 8
        {0.0004f, 0, 0}, {0, 1, 0.0003f}, {0.5f, -1, 0},                    // 13-15: near copies of 0 and 1
        {20, 0, 0},     {21, 0, 0},  {20, 1, 0},                              // 16-18: a back-to-back pair
    };
    const std::vector<std::array<uint16_t, 3>> faces = {
        {0, 1, 2},    {1, 0, 3},    {0, 1, 4}, // three faces on one edge
        {0, 1, 2},                              // written twice
        {5, 6, 7},    {5, 5, 6},                // collinear and index-degenerate
        {8, 9, 10},   {8, 11, 12},              // two fans meeting at vertex 8
        {14, 13, 15},                           // joins edge 0-1 through rounding
        {16, 17, 18}, {16, 18, 17},
    };
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF((DWORD)faces.size(), (DWORD)pos.size(), D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device, &mesh),
              D3D_OK);
    float* v = nullptr;
    mesh->LockVertexBuffer(0, (void**)&v);
    std::memcpy(v, pos.data(), pos.size() * sizeof pos[0]);
    mesh->UnlockVertexBuffer();
    uint16_t* ib = nullptr;
    mesh->LockIndexBuffer(0, (void**)&ib);
    std::memcpy(ib, faces.data(), faces.size() * sizeof faces[0]);
    mesh->UnlockIndexBuffer();
    const DWORD F = mesh->GetNumFaces();

    auto expectMutual = [](const std::vector<DWORD>& adj, DWORD faceCount) {
        for (DWORD f = 0; f < faceCount; ++f)
            for (int k = 0; k < 3; ++k) {
                const DWORD g = adj[f * 3 + k];
                if (g == 0xFFFFFFFFu) continue;
                ASSERT_LT(g, faceCount);
                EXPECT_NE(g, f);
                // As often as f names g, g names f.
                EXPECT_EQ(std::count(adj.begin() + f * 3, adj.begin() + f * 3 + 3, g),
                          std::count(adj.begin() + g * 3, adj.begin() + g * 3 + 3, f))
                    << "faces " << f << " and " << g;
            }
    };
    for (float epsilon : {0.001f, 0.0f, -1.0f}) {
        std::vector<DWORD> adj(F * 3);
        ASSERT_EQ(mesh->GenerateAdjacency(epsilon, adj.data()), D3D_OK);
        SCOPED_TRACE(epsilon);
        expectMutual(adj, F);
        EXPECT_EQ(adj[5 * 3 + 0], 0xFFFFFFFFu); // the collapsed edge of face 5 has no neighbour
    }
    std::vector<DWORD> adj(F * 3);
    mesh->GenerateAdjacency(0.001f, adj.data());
    // On the fin edge, faces pair in order: 0 with 1, then 2 with the face
    // that only meets the edge through rounding; the duplicate stays open.
    EXPECT_EQ(adj[0 * 3 + 0], 1u);
    EXPECT_EQ(adj[2 * 3 + 0], 8u);
    EXPECT_EQ(adj[3 * 3 + 0], 0xFFFFFFFFu);

    // The clean-up chain of every loaded mesh and the one of progressive meshes.
    std::vector<DWORD> welded(adj);
    D3DXWELDEPSILONS eps{};
    eps.Position = 0.1f;
    ID3DXMesh* copy = nullptr;
    ASSERT_EQ(mesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device, &copy), D3D_OK);
    ASSERT_EQ(D3DXWeldVertices(copy, D3DXWELDEPSILONS_WELDPARTIALMATCHES, &eps, welded.data(), welded.data(), nullptr,
                               nullptr),
              D3D_OK);
    ID3DXMesh* backfacing = nullptr;
    std::vector<DWORD> afterBackfacing(F * 3);
    ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_BACKFACING, copy, welded.data(), &backfacing, afterBackfacing.data(), nullptr),
              D3D_OK);
    expectMutual(afterBackfacing, F);
    backfacing->Release();
    copy->Release();

    ID3DXMesh* clean = nullptr;
    std::vector<DWORD> cleanAdj(F * 3);
    ID3DXBuffer* errors = nullptr;
    ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, mesh, adj.data(), &clean, cleanAdj.data(), &errors), D3D_OK);
    EXPECT_EQ(errors, nullptr);
    expectMutual(cleanAdj, F);
    EXPECT_EQ(D3DXValidMesh(clean, cleanAdj.data(), nullptr), D3D_OK); // no bowtie left
    EXPECT_GT(clean->GetNumVertices(), mesh->GetNumVertices());
    EXPECT_EQ(drawAll(device, clean, 1), drawAll(device, mesh, 1));

    std::vector<D3DXATTRIBUTEWEIGHTS> weights(clean->GetNumVertices());
    for (auto& w : weights) {
        w = {};
        w.Boundary = 1000.0f;
    }
    ID3DXPMesh* pm = nullptr;
    ASSERT_EQ(D3DXGeneratePMesh(clean, cleanAdj.data(), weights.data(), nullptr, 4, D3DXMESHSIMP_FACE, &pm), D3D_OK);
    EXPECT_EQ(pm->GetMaxFaces(), F);
    pm->SetNumFaces(pm->GetMaxFaces());
    device->draws.clear();
    EXPECT_EQ(pm->DrawSubset(0), D3D_OK);
    EXPECT_EQ(canonical(device->drawnTriangles()), drawAll(device, mesh, 1));
    pm->SetNumFaces(0);
    EXPECT_EQ(pm->GetNumFaces(), pm->GetMinFaces());
    pm->Release();
    clean->Release();
    mesh->Release();
}
