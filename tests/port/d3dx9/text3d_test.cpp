#include "fake_device.h"
#include "port/d3dx9/d3dx9mesh.h"
#include "port/d3dx9/wingdi.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct PN {
    D3DXVECTOR3 p, n;
};

class Text3D : public ::testing::Test {
protected:
    void SetUp() override {
        dc = CreateCompatibleDC(nullptr);
        font = CreateFontW(10, 0, 0, 0, 500, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"Arial");
        ASSERT_NE(SelectObject(dc, font), HGDI_ERROR);
    }
    void TearDown() override {
        DeleteDC(dc);
        DeleteObject(font);
        device->Release();
    }
    std::vector<PN> vertices(ID3DXMesh* m) {
        std::vector<PN> v(m->GetNumVertices());
        void* p = nullptr;
        m->LockVertexBuffer(D3DLOCK_READONLY, &p);
        std::memcpy(v.data(), p, v.size() * sizeof(PN));
        m->UnlockVertexBuffer();
        return v;
    }
    std::vector<uint32_t> indices(ID3DXMesh* m) {
        std::vector<uint32_t> out(m->GetNumFaces() * 3);
        void* p = nullptr;
        m->LockIndexBuffer(D3DLOCK_READONLY, &p);
        const bool wide = m->GetOptions() & D3DXMESH_32BIT;
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = wide ? static_cast<uint32_t*>(p)[i] : static_cast<uint16_t*>(p)[i];
        m->UnlockIndexBuffer();
        return out;
    }
    testdev::Device9* device = new testdev::Device9;
    HDC dc = nullptr;
    HFONT font = nullptr;
};

} // namespace

TEST_F(Text3D, ExtrudedLetterInEmUnitsWithFacesPointingOut) {
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* adj = nullptr;
    ASSERT_EQ(D3DXCreateTextW(device, dc, L"O", 0.001f, 0.5f, &mesh, &adj, nullptr), D3D_OK);
    EXPECT_EQ(mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL));
    const auto v = vertices(mesh);
    const auto idx = indices(mesh);
    D3DXVECTOR3 lo, hi;
    D3DXComputeBoundingBox(&v[0].p, (DWORD)v.size(), sizeof(PN), &lo, &hi);
    EXPECT_NEAR(lo.z, -0.5f, 1e-6f);
    EXPECT_NEAR(hi.z, 0.0f, 1e-6f);
    EXPECT_GT(lo.y, -0.05f); // sits on the baseline
    EXPECT_GT(hi.y, 0.6f);   // a capital is most of an em tall
    EXPECT_LT(hi.y, 0.9f);
    EXPECT_GT(hi.x - lo.x, 0.5f);
    EXPECT_LT(hi.x - lo.x, 1.0f);

    // Every triangle faces where its vertices' normals point: caps along z,
    // sides outward, so the default culling shows the outside.
    int front = 0, back = 0;
    for (size_t f = 0; f < idx.size(); f += 3) {
        const PN &a = v[idx[f]], &b = v[idx[f + 1]], &c = v[idx[f + 2]];
        D3DXVECTOR3 e1 = b.p - a.p, e2 = c.p - a.p, n;
        D3DXVec3Cross(&n, &e1, &e2);
        if (D3DXVec3Length(&n) < 1e-9f) continue;
        D3DXVECTOR3 avg = a.n + b.n + c.n;
        EXPECT_GT(D3DXVec3Dot(&n, &avg), 0.0f) << "triangle " << f / 3;
        if (a.n.z == 1.0f && b.n.z == 1.0f && c.n.z == 1.0f) {
            ++front;
            EXPECT_EQ(a.p.z, 0.0f);
        }
        if (a.n.z == -1.0f && b.n.z == -1.0f && c.n.z == -1.0f) {
            ++back;
            EXPECT_EQ(a.p.z, -0.5f);
        }
    }
    EXPECT_GT(front, 8);
    EXPECT_EQ(front, back);

    // The surface is closed: every edge meets a neighbour.
    const DWORD* a = static_cast<const DWORD*>(adj->GetBufferPointer());
    int open = 0;
    for (DWORD i = 0; i < mesh->GetNumFaces() * 3; ++i) open += a[i] == 0xFFFFFFFFu;
    EXPECT_EQ(open, 0);
    adj->Release();
    mesh->Release();
}

TEST_F(Text3D, SizeOfTheFontDoesNotMatterAndDeviationSetsDetail) {
    ID3DXMesh* small = nullptr;
    ID3DXMesh* coarse = nullptr;
    ID3DXMesh* fine = nullptr;
    ASSERT_EQ(D3DXCreateTextW(device, dc, L"So", 0.01f, 0.1f, &small, nullptr, nullptr), D3D_OK);
    HFONT big = CreateFontW(-100, 0, 0, 0, 500, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"Arial");
    HGDIOBJ old = SelectObject(dc, big);
    EXPECT_EQ(old, (HGDIOBJ)font);
    ASSERT_EQ(D3DXCreateTextW(device, dc, L"So", 0.01f, 0.1f, &coarse, nullptr, nullptr), D3D_OK);
    auto bounds = [&](ID3DXMesh* m, D3DXVECTOR3& lo, D3DXVECTOR3& hi) {
        const auto v = vertices(m);
        D3DXComputeBoundingBox(&v[0].p, (DWORD)v.size(), sizeof(PN), &lo, &hi);
    };
    D3DXVECTOR3 lo1, hi1, lo2, hi2;
    bounds(small, lo1, hi1);
    bounds(coarse, lo2, hi2);
    EXPECT_NEAR(hi1.x, hi2.x, 0.02f);
    EXPECT_NEAR(hi1.y, hi2.y, 0.02f);
    ASSERT_EQ(D3DXCreateTextW(device, dc, L"So", 0.0f, 0.1f, &fine, nullptr, nullptr), D3D_OK);
    EXPECT_GT(fine->GetNumVertices(), coarse->GetNumVertices());
    // Two letters: the second starts after the first's advance.
    EXPECT_GT(hi1.x, 1.0f);
    SelectObject(dc, old);
    DeleteObject(big);
    small->Release();
    coarse->Release();
    fine->Release();
}

TEST_F(Text3D, InvalidCallsAndBlankText) {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateTextW(nullptr, dc, L"A", 0, 0.1f, &mesh, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextW(device, nullptr, L"A", 0, 0.1f, &mesh, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextW(device, dc, nullptr, 0, 0.1f, &mesh, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextW(device, dc, L"", 0, 0.1f, &mesh, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextW(device, dc, L"   ", 0, 0.1f, &mesh, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextW(device, dc, L"A", -1, 0.1f, &mesh, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextW(device, dc, L"A", 0, -0.1f, &mesh, nullptr, nullptr), D3DERR_INVALIDCALL);
    HDC bare = CreateCompatibleDC(nullptr);
    EXPECT_EQ(D3DXCreateTextW(device, bare, L"A", 0, 0.1f, &mesh, nullptr, nullptr), D3DERR_INVALIDCALL);
    DeleteDC(bare);
    EXPECT_EQ(mesh, nullptr);
    // Flat text: both caps face +z.
    ASSERT_EQ(D3DXCreateTextW(device, dc, L"I", 0, 0.0f, &mesh, nullptr, nullptr), D3D_OK);
    for (const PN& p : vertices(mesh))
        if (p.n.z != 0.0f) {
            EXPECT_EQ(p.n.z, 1.0f);
        }
    mesh->Release();
}

TEST(Gdi, FontsContextsAndExtents) {
    HDC dc = CreateCompatibleDC(nullptr);
    SIZE s{};
    HFONT f = CreateFontW(-20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"Verdana");
    EXPECT_EQ(SelectObject(dc, f), nullptr); // nothing was selected before
    ASSERT_TRUE(GetTextExtentPoint32W(dc, L"Привет", 6, &s));
    EXPECT_GT(s.cx, 40);
    EXPECT_GT(s.cy, 18);
    EXPECT_LT(s.cy, 40);
    SIZE half{};
    GetTextExtentPoint32W(dc, L"Привет", 3, &half);
    EXPECT_LT(half.cx, s.cx);
    EXPECT_GT(half.cx, 0);
    // Deleting a selected font keeps it usable until it is replaced.
    EXPECT_TRUE(DeleteObject(f));
    EXPECT_FALSE(DeleteObject(f));
    EXPECT_TRUE(GetTextExtentPoint32W(dc, L"x", 1, &s));
    EXPECT_EQ(SelectObject(dc, (HGDIOBJ)0x1234), HGDI_ERROR);
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));
}
