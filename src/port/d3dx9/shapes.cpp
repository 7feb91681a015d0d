// Box, cylinder and sphere with D3DX's vertex order, normals and winding.
#include "port/d3dx9/meshimpl.h"

#include <cmath>
#include <vector>

using namespace d3dx;

namespace {

struct PosNormal {
    D3DXVECTOR3 p, n;
};

// Fills a new XYZ|NORMAL managed mesh and hands out adjacency on request.
HRESULT finishShape(IDirect3DDevice9* device, const std::vector<PosNormal>& verts, const std::vector<uint32_t>& idx,
                    ID3DXMesh** mesh, ID3DXBuffer** adjacency) {
    const DWORD faces = (DWORD)(idx.size() / 3), nverts = (DWORD)verts.size();
    DWORD options = D3DXMESH_MANAGED;
    if (nverts > 0x10000u) options |= D3DXMESH_32BIT; // 16-bit indices cannot reach further
    Mesh* m = nullptr;
    HRESULT hr = createMesh(faces, nverts, options, D3DFVF_XYZ | D3DFVF_NORMAL, device, &m);
    if (FAILED(hr)) return hr;
    MeshData& d = m->data();
    std::memcpy(d.vertices.data(), verts.data(), verts.size() * sizeof(PosNormal));
    d.setIndices32(idx);
    d.attribTable.push_back(D3DXATTRIBUTERANGE{0, 0, faces, 0, nverts});
    if (adjacency) {
        std::vector<DWORD> adj((size_t)faces * 3);
        m->GenerateAdjacency(0.0f, adj.data());
        *adjacency = makeDwordBuffer(adj.data(), adj.size());
        if (!*adjacency) {
            m->Release();
            return E_OUTOFMEMORY;
        }
    }
    *mesh = m;
    return D3D_OK;
}

// sin/cos of the slice angles, stepped incrementally in float as D3DX does:
// slice 0 lies on +Y and the slices advance toward +X.
void sliceTable(UINT slices, std::vector<float>& s, std::vector<float>& c) {
    s.resize(slices);
    c.resize(slices);
    const float step = -2.0f * D3DX_PI / (float)slices;
    float angle = D3DX_PI / 2.0f;
    for (UINT i = 0; i < slices; ++i) {
        s[i] = std::sin(angle);
        c[i] = std::cos(angle);
        angle += step;
    }
}

} // namespace

HRESULT D3DXCreateBox(IDirect3DDevice9* device, FLOAT width, FLOAT height, FLOAT depth, ID3DXMesh** mesh,
                      ID3DXBuffer** adjacency) {
    if (!device || !mesh || width < 0.0f || height < 0.0f || depth < 0.0f) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    if (adjacency) *adjacency = nullptr;
    static const float unit[24][3] = {
        {-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1},  {-1, 1, -1},  // -X
        {-1, 1, -1},  {-1, 1, 1},  {1, 1, 1},   {1, 1, -1},   // +Y
        {1, 1, -1},   {1, 1, 1},   {1, -1, 1},  {1, -1, -1},  // +X
        {-1, -1, 1},  {-1, -1, -1}, {1, -1, -1}, {1, -1, 1},  // -Y
        {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},   {-1, 1, 1},   // +Z
        {-1, -1, -1}, {-1, 1, -1}, {1, 1, -1},  {1, -1, -1},  // -Z
    };
    static const float normals[6][3] = {{-1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    std::vector<PosNormal> verts(24);
    for (int i = 0; i < 24; ++i) {
        verts[i].p = D3DXVECTOR3(unit[i][0] * width / 2, unit[i][1] * height / 2, unit[i][2] * depth / 2);
        verts[i].n = D3DXVECTOR3(normals[i / 4][0], normals[i / 4][1], normals[i / 4][2]);
    }
    std::vector<uint32_t> idx;
    for (uint32_t k = 0; k < 6; ++k) {
        const uint32_t b = 4 * k;
        idx.insert(idx.end(), {b, b + 1, b + 2, b + 2, b + 3, b});
    }
    return finishShape(device, verts, idx, mesh, adjacency);
}

HRESULT D3DXCreateCylinder(IDirect3DDevice9* device, FLOAT radius1, FLOAT radius2, FLOAT length, UINT slices,
                           UINT stacks, ID3DXMesh** mesh, ID3DXBuffer** adjacency) {
    if (!device || !mesh || radius1 < 0.0f || radius2 < 0.0f || length < 0.0f || slices < 2 || stacks < 1)
        return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    if (adjacency) *adjacency = nullptr;
    const uint64_t nv = 2 + (uint64_t)slices * (stacks + 3);
    const uint64_t nf = 2 * (uint64_t)slices * (stacks + 1);
    if (nv > (1u << 24) || nf > (1u << 25)) return E_OUTOFMEMORY;
    try {
        std::vector<float> sn, cs;
        sliceTable(slices, sn, cs);
        const UINT n = slices, m = stacks;
        auto vi = [n](UINT s, UINT k) -> uint32_t { return k * n + s + 1; };
        std::vector<PosNormal> verts((size_t)nv);
        const float z0 = -length / 2;
        verts[0] = {D3DXVECTOR3(0, 0, z0), D3DXVECTOR3(0, 0, -1)};
        for (UINT s = 0; s < n; ++s)
            verts[vi(s, 0)] = {D3DXVECTOR3(radius1 * cs[s], radius1 * sn[s], z0), D3DXVECTOR3(0, 0, -1)};
        float dz = (radius1 - radius2) / length;
        if (std::isnan(dz)) dz = 0.0f;
        for (UINT k = 1; k <= m + 1; ++k) {
            const float r = radius1 - (float)(k - 1) * (radius1 - radius2) / (float)m;
            const float z = z0 + (float)(k - 1) * length / (float)m;
            for (UINT s = 0; s < n; ++s) {
                D3DXVECTOR3 nrm(cs[s], sn[s], dz);
                if (std::isinf(dz)) nrm = D3DXVECTOR3(0, 0, dz > 0 ? 1.0f : -1.0f); // flat ring
                D3DXVec3Normalize(&nrm, &nrm);
                verts[vi(s, k)] = {D3DXVECTOR3(r * cs[s], r * sn[s], z), nrm};
            }
        }
        for (UINT s = 0; s < n; ++s)
            verts[vi(s, m + 2)] = {D3DXVECTOR3(radius2 * cs[s], radius2 * sn[s], -z0), D3DXVECTOR3(0, 0, 1)};
        const uint32_t last = (uint32_t)nv - 1;
        verts[last] = {D3DXVECTOR3(0, 0, -z0), D3DXVECTOR3(0, 0, 1)};

        std::vector<uint32_t> idx;
        idx.reserve((size_t)nf * 3);
        for (UINT s = 1; s < n; ++s) idx.insert(idx.end(), {0u, s, s + 1});
        idx.insert(idx.end(), {0u, n, 1u});
        for (UINT k = 2; k <= m + 1; ++k) {
            for (UINT s = 1; s < n; ++s) {
                idx.insert(idx.end(), {vi(s - 1, k - 1), vi(s - 1, k), vi(s, k - 1)});
                idx.insert(idx.end(), {vi(s, k - 1), vi(s - 1, k), vi(s, k)});
            }
            idx.insert(idx.end(), {vi(n - 1, k - 1), vi(n - 1, k), vi(0, k - 1)});
            idx.insert(idx.end(), {vi(0, k - 1), vi(n - 1, k), vi(0, k)});
        }
        const UINT t = m + 2;
        for (UINT s = 1; s < n; ++s) idx.insert(idx.end(), {vi(s - 1, t), last, vi(s, t)});
        idx.insert(idx.end(), {vi(n - 1, t), last, vi(0, t)});
        return finishShape(device, verts, idx, mesh, adjacency);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT D3DXCreateSphere(IDirect3DDevice9* device, FLOAT radius, UINT slices, UINT stacks, ID3DXMesh** mesh,
                         ID3DXBuffer** adjacency) {
    if (!device || !mesh || radius < 0.0f || slices < 2 || stacks < 2) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    if (adjacency) *adjacency = nullptr;
    const uint64_t nv = 2 + (uint64_t)slices * (stacks - 1);
    const uint64_t nf = 2 * (uint64_t)slices * (stacks - 1);
    if (nv > (1u << 24) || nf > (1u << 25)) return E_OUTOFMEMORY;
    try {
        std::vector<float> sn, cs;
        sliceTable(slices, sn, cs);
        const UINT n = slices, m = stacks;
        auto vi = [n](UINT s, UINT j) -> uint32_t { return j * n + s + 1; };
        std::vector<PosNormal> verts((size_t)nv);
        verts[0] = {D3DXVECTOR3(0, 0, radius), D3DXVECTOR3(0, 0, 1)};
        const float stackStep = D3DX_PI / (float)m;
        float theta = stackStep;
        for (UINT j = 0; j + 1 < m; ++j) {
            const float st = std::sin(theta), ct = std::cos(theta);
            for (UINT s = 0; s < n; ++s) {
                const D3DXVECTOR3 nrm(st * cs[s], st * sn[s], ct);
                verts[vi(s, j)] = {nrm * radius, nrm};
            }
            theta += stackStep;
        }
        const uint32_t last = (uint32_t)nv - 1;
        verts[last] = {D3DXVECTOR3(0, 0, -radius), D3DXVECTOR3(0, 0, -1)};

        std::vector<uint32_t> idx;
        idx.reserve((size_t)nf * 3);
        for (UINT s = 1; s < n; ++s) idx.insert(idx.end(), {0u, s + 1, s});
        idx.insert(idx.end(), {0u, 1u, n});
        for (UINT j = 1; j + 1 < m; ++j) {
            for (UINT s = 1; s < n; ++s) {
                idx.insert(idx.end(), {vi(s - 1, j - 1), vi(s, j - 1), vi(s - 1, j)});
                idx.insert(idx.end(), {vi(s, j - 1), vi(s, j), vi(s - 1, j)});
            }
            idx.insert(idx.end(), {vi(n - 1, j - 1), vi(0, j - 1), vi(n - 1, j)});
            idx.insert(idx.end(), {vi(0, j - 1), vi(0, j), vi(n - 1, j)});
        }
        const UINT q = m - 2;
        for (UINT s = 1; s < n; ++s) idx.insert(idx.end(), {vi(s - 1, q), vi(s, q), last});
        idx.insert(idx.end(), {vi(n - 1, q), vi(0, q), last});
        return finishShape(device, verts, idx, mesh, adjacency);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
