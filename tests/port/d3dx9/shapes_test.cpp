#include "fake_device.h"
#include "port/d3dx9/d3dx9mesh.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>
#include <vector>

namespace {

struct PN {
    float p[3], n[3];
};

std::vector<PN> vertices(ID3DXMesh* m) {
    std::vector<PN> out(m->GetNumVertices());
    void* data = nullptr;
    EXPECT_EQ(m->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    std::memcpy(out.data(), data, out.size() * sizeof(PN));
    m->UnlockVertexBuffer();
    return out;
}

std::vector<unsigned> indices(ID3DXMesh* m) {
    std::vector<unsigned> out(m->GetNumFaces() * 3);
    void* data = nullptr;
    EXPECT_EQ(m->LockIndexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    const bool wide = (m->GetOptions() & D3DXMESH_32BIT) != 0;
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = wide ? static_cast<const uint32_t*>(data)[i] : static_cast<const uint16_t*>(data)[i];
    m->UnlockIndexBuffer();
    return out;
}

void expectVertex(const PN& v, double x, double y, double z, double nx, double ny, double nz, const char* what,
                  size_t i) {
    const double eps = 1e-5;
    EXPECT_NEAR(v.p[0], x, eps) << what << " vertex " << i;
    EXPECT_NEAR(v.p[1], y, eps) << what << " vertex " << i;
    EXPECT_NEAR(v.p[2], z, eps) << what << " vertex " << i;
    EXPECT_NEAR(v.n[0], nx, eps) << what << " normal " << i;
    EXPECT_NEAR(v.n[1], ny, eps) << what << " normal " << i;
    EXPECT_NEAR(v.n[2], nz, eps) << what << " normal " << i;
}

class Shapes : public ::testing::Test {
protected:
    void TearDown() override { device->Release(); }
    testdev::Device9* device = new testdev::Device9;
};

} // namespace

TEST_F(Shapes, BoxMatchesPublishedTable) {
    static const int corner[24][3] = {{-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1},  {-1, 1, -1}, {-1, 1, -1}, {-1, 1, 1},
                                      {1, 1, 1},    {1, 1, -1},  {1, 1, -1},  {1, 1, 1},   {1, -1, 1},  {1, -1, -1},
                                      {-1, -1, 1},  {-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}, {1, -1, 1},
                                      {1, 1, 1},    {-1, 1, 1},  {-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}, {1, -1, -1}};
    static const int normal[6][3] = {{-1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    static const DWORD adjacency[36] = {6, 9, 1, 2, 10, 0, 1, 9, 3, 4, 10, 2, 3, 8, 5, 7, 11, 4,
                                        0, 11, 7, 5, 8, 6, 7, 4, 9, 2, 0, 8, 1, 3, 11, 5, 6, 10};
    for (const auto& size : std::vector<std::array<float, 3>>{{1, 1, 1}, {2, 3, 4}, {10, 0.3f, 0.3f}}) {
        ID3DXMesh* mesh = nullptr;
        ID3DXBuffer* adj = nullptr;
        ASSERT_EQ(D3DXCreateBox(device, size[0], size[1], size[2], &mesh, &adj), D3D_OK);
        EXPECT_EQ(mesh->GetNumVertices(), 24u);
        EXPECT_EQ(mesh->GetNumFaces(), 12u);
        EXPECT_EQ(mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL));
        EXPECT_EQ(mesh->GetNumBytesPerVertex(), 24u);
        EXPECT_EQ(mesh->GetOptions(), (DWORD)D3DXMESH_MANAGED);
        const auto v = vertices(mesh);
        for (size_t i = 0; i < 24; ++i)
            expectVertex(v[i], corner[i][0] * size[0] / 2, corner[i][1] * size[1] / 2, corner[i][2] * size[2] / 2,
                         normal[i / 4][0], normal[i / 4][1], normal[i / 4][2], "box", i);
        const auto idx = indices(mesh);
        for (unsigned k = 0; k < 6; ++k) {
            const std::vector<unsigned> want = {4 * k, 4 * k + 1, 4 * k + 2, 4 * k + 2, 4 * k + 3, 4 * k};
            EXPECT_EQ(std::vector<unsigned>(idx.begin() + 6 * k, idx.begin() + 6 * k + 6), want) << "face " << k;
        }
        ASSERT_NE(adj, nullptr);
        ASSERT_EQ(adj->GetBufferSize(), sizeof adjacency);
        EXPECT_EQ(std::memcmp(adj->GetBufferPointer(), adjacency, sizeof adjacency), 0);
        adj->Release();
        mesh->Release();
    }
}

TEST_F(Shapes, BoxFacesAreClockwiseSeenFromOutside) {
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateBox(device, 2, 2, 2, &mesh, nullptr), D3D_OK);
    const auto v = vertices(mesh);
    const auto idx = indices(mesh);
    for (size_t f = 0; f < 12; ++f) {
        D3DXVECTOR3 a(v[idx[f * 3]].p), b(v[idx[f * 3 + 1]].p), c(v[idx[f * 3 + 2]].p), n;
        D3DXVECTOR3 e1 = b - a, e2 = c - a;
        D3DXVec3Cross(&n, &e1, &e2);
        const D3DXVECTOR3 outward(v[idx[f * 3]].n);
        EXPECT_GT(D3DXVec3Dot(&n, &outward), 0.0f) << "face " << f;
    }
    mesh->Release();
}

TEST_F(Shapes, InvalidShapeArgumentsAreRejected) {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateBox(nullptr, 1, 1, 1, &mesh, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateBox(device, 1, 1, 1, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateBox(device, -1, 1, 1, &mesh, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateCylinder(device, 1, 1, 1, 1, 1, &mesh, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateCylinder(device, 1, 1, 1, 3, 0, &mesh, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateCylinder(device, -1, 1, 1, 3, 1, &mesh, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateSphere(device, 1, 2, 1, &mesh, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateSphere(device, -1, 3, 3, &mesh, nullptr), D3DERR_INVALIDCALL);
    // Absurd tessellations fail cleanly instead of exhausting memory.
    EXPECT_EQ(D3DXCreateSphere(device, 1, 100000, 100000, &mesh, nullptr), E_OUTOFMEMORY);
    EXPECT_EQ(mesh, nullptr);
    ASSERT_EQ(D3DXCreateBox(device, 0, 0, 0, &mesh, nullptr), D3D_OK); // zero sizes are allowed
    mesh->Release();
}

namespace {

// The published construction of the cylinder, evaluated independently in double.
void checkCylinder(ID3DXMesh* mesh, double r1, double r2, double len, unsigned n, unsigned m) {
    const auto v = vertices(mesh);
    ASSERT_EQ(v.size(), 2 + n * (m + 3));
    auto vi = [n](unsigned s, unsigned k) { return k * n + s + 1; };
    auto ang = [n](unsigned s) { return M_PI / 2 - 2 * M_PI * s / n; };
    expectVertex(v[0], 0, 0, -len / 2, 0, 0, -1, "cylinder", 0);
    for (unsigned s = 0; s < n; ++s) {
        const double c = std::cos(ang(s)), sn = std::sin(ang(s));
        expectVertex(v[vi(s, 0)], r1 * c, r1 * sn, -len / 2, 0, 0, -1, "cylinder", vi(s, 0));
        for (unsigned k = 1; k <= m + 1; ++k) {
            const double r = r1 - (k - 1) * (r1 - r2) / m;
            const double z = -len / 2 + (k - 1) * len / m;
            double nz = (r1 - r2) / len;
            if (std::isnan(nz)) nz = 0;
            const double l = std::sqrt(c * c + sn * sn + nz * nz);
            expectVertex(v[vi(s, k)], r * c, r * sn, z, c / l, sn / l, nz / l, "cylinder", vi(s, k));
        }
        expectVertex(v[vi(s, m + 2)], r2 * c, r2 * sn, len / 2, 0, 0, 1, "cylinder", vi(s, m + 2));
    }
    expectVertex(v.back(), 0, 0, len / 2, 0, 0, 1, "cylinder", v.size() - 1);

    std::vector<unsigned> want;
    const unsigned last = (unsigned)v.size() - 1;
    for (unsigned s = 1; s < n; ++s) want.insert(want.end(), {0, s, s + 1});
    want.insert(want.end(), {0, n, 1});
    for (unsigned k = 2; k <= m + 1; ++k) {
        for (unsigned s = 1; s < n; ++s) {
            want.insert(want.end(), {vi(s - 1, k - 1), vi(s - 1, k), vi(s, k - 1)});
            want.insert(want.end(), {vi(s, k - 1), vi(s - 1, k), vi(s, k)});
        }
        want.insert(want.end(), {vi(n - 1, k - 1), vi(n - 1, k), vi(0, k - 1)});
        want.insert(want.end(), {vi(0, k - 1), vi(n - 1, k), vi(0, k)});
    }
    for (unsigned s = 1; s < n; ++s) want.insert(want.end(), {vi(s - 1, m + 2), last, vi(s, m + 2)});
    want.insert(want.end(), {vi(n - 1, m + 2), last, vi(0, m + 2)});
    EXPECT_EQ(indices(mesh), want);
}

void checkSphere(ID3DXMesh* mesh, double R, unsigned n, unsigned m) {
    const auto v = vertices(mesh);
    ASSERT_EQ(v.size(), 2 + n * (m - 1));
    auto vi = [n](unsigned s, unsigned j) { return j * n + s + 1; };
    expectVertex(v[0], 0, 0, R, 0, 0, 1, "sphere", 0);
    for (unsigned j = 0; j + 1 < m; ++j) {
        const double t = (j + 1) * M_PI / m;
        for (unsigned s = 0; s < n; ++s) {
            const double a = M_PI / 2 - 2 * M_PI * s / n;
            const double x = std::sin(t) * std::cos(a), y = std::sin(t) * std::sin(a), z = std::cos(t);
            expectVertex(v[vi(s, j)], R * x, R * y, R * z, x, y, z, "sphere", vi(s, j));
        }
    }
    expectVertex(v.back(), 0, 0, -R, 0, 0, -1, "sphere", v.size() - 1);

    std::vector<unsigned> want;
    const unsigned last = (unsigned)v.size() - 1;
    for (unsigned s = 1; s < n; ++s) want.insert(want.end(), {0, s + 1, s});
    want.insert(want.end(), {0, 1, n});
    for (unsigned j = 1; j + 1 < m; ++j) {
        for (unsigned s = 1; s < n; ++s) {
            want.insert(want.end(), {vi(s - 1, j - 1), vi(s, j - 1), vi(s - 1, j)});
            want.insert(want.end(), {vi(s, j - 1), vi(s, j), vi(s - 1, j)});
        }
        want.insert(want.end(), {vi(n - 1, j - 1), vi(0, j - 1), vi(n - 1, j)});
        want.insert(want.end(), {vi(0, j - 1), vi(0, j), vi(n - 1, j)});
    }
    const unsigned q = m - 2;
    for (unsigned s = 1; s < n; ++s) want.insert(want.end(), {vi(s - 1, q), vi(s, q), last});
    want.insert(want.end(), {vi(n - 1, q), vi(0, q), last});
    EXPECT_EQ(indices(mesh), want);
}

} // namespace

TEST_F(Shapes, CylinderMatchesPublishedConstruction) {
    struct Case {
        float r1, r2, len;
        unsigned slices, stacks;
    };
    for (const Case& c : {Case{1, 1, 1, 3, 1}, Case{4, 4, 20, 30, 7}, Case{2, 0.5f, 3, 5, 2}, Case{1, 2, 0, 4, 1}}) {
        ID3DXMesh* mesh = nullptr;
        ASSERT_EQ(D3DXCreateCylinder(device, c.r1, c.r2, c.len, c.slices, c.stacks, &mesh, nullptr), D3D_OK);
        EXPECT_EQ(mesh->GetNumFaces(), 2 * c.slices * (c.stacks + 1));
        if (c.len > 0) checkCylinder(mesh, c.r1, c.r2, c.len, c.slices, c.stacks);
        mesh->Release();
    }
}

TEST_F(Shapes, SphereMatchesPublishedConstruction) {
    for (auto [r, n, m] : {std::tuple{1.0f, 3u, 2u}, std::tuple{2.5f, 8u, 5u}, std::tuple{1.0f, 20u, 20u}}) {
        ID3DXMesh* mesh = nullptr;
        ASSERT_EQ(D3DXCreateSphere(device, r, n, m, &mesh, nullptr), D3D_OK);
        EXPECT_EQ(mesh->GetNumFaces(), 2 * n * (m - 1));
        checkSphere(mesh, r, n, m);
        mesh->Release();
    }
}

TEST_F(Shapes, TwentySlicesFiveStacksCounts) {
    ID3DXMesh* cyl = nullptr;
    ASSERT_EQ(D3DXCreateCylinder(device, 1, 1, 2, 20, 20 / 5 + 1, &cyl, nullptr), D3D_OK);
    EXPECT_EQ(cyl->GetNumVertices(), 2u + 20u * (5 + 3));
    EXPECT_EQ(cyl->GetNumFaces(), 2u * 20u * (5 + 1));
    cyl->Release();
    ID3DXMesh* sph = nullptr;
    ASSERT_EQ(D3DXCreateSphere(device, 1, 20, 5, &sph, nullptr), D3D_OK);
    EXPECT_EQ(sph->GetNumVertices(), 2u + 20u * 4u);
    EXPECT_EQ(sph->GetNumFaces(), 2u * 20u * 4u);
    sph->Release();
}

TEST_F(Shapes, ShapeAdjacencyIsSymmetricAndClosed) {
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* adj = nullptr;
    ASSERT_EQ(D3DXCreateSphere(device, 1, 7, 4, &mesh, &adj), D3D_OK);
    const DWORD* a = static_cast<const DWORD*>(adj->GetBufferPointer());
    const DWORD F = mesh->GetNumFaces();
    for (DWORD f = 0; f < F; ++f)
        for (int k = 0; k < 3; ++k) {
            const DWORD g = a[f * 3 + k];
            ASSERT_LT(g, F) << "a sphere is closed: every edge has a neighbour";
            EXPECT_TRUE(a[g * 3] == f || a[g * 3 + 1] == f || a[g * 3 + 2] == f);
        }
    EXPECT_EQ(D3DXValidMesh(mesh, a, nullptr), D3D_OK);
    adj->Release();
    mesh->Release();
}
