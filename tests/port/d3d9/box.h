// A box built as D3DX builds its faces: 24 vertices, 36 indices, front faces
// clockwise as seen from outside.
#pragma once

#include <cstring>
#include <vector>

#include "port/d3d9/d3d9.h"

struct BoxVertex {  // D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR color;
    float u, v;
};
constexpr DWORD kBoxFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Faces in the order -z, +z, +x, -x, +y, -y; each gets its colour.
inline void BuildBox(float half, const D3DCOLOR colors[6], std::vector<BoxVertex>& vertices,
                     std::vector<uint16_t>& indices) {
    struct Face {
        float n[3], u[3], v[3];
    };
    // u x v points into the box, so (TL, TR, BR) runs clockwise seen from outside.
    const Face faces[6] = {
        {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, 1}, {-1, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}}, {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, -1}},
    };
    const float corners[4][2] = {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}};
    const float uvs[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    vertices.clear();
    indices.clear();
    for (int f = 0; f < 6; ++f) {
        const Face& face = faces[f];
        const uint16_t base = static_cast<uint16_t>(vertices.size());
        for (int c = 0; c < 4; ++c) {
            BoxVertex v{};
            v.x = half * (face.n[0] + corners[c][0] * face.u[0] + corners[c][1] * face.v[0]);
            v.y = half * (face.n[1] + corners[c][0] * face.u[1] + corners[c][1] * face.v[1]);
            v.z = half * (face.n[2] + corners[c][0] * face.u[2] + corners[c][1] * face.v[2]);
            v.nx = face.n[0];
            v.ny = face.n[1];
            v.nz = face.n[2];
            v.color = colors[f];
            v.u = uvs[c][0];
            v.v = uvs[c][1];
            vertices.push_back(v);
        }
        const uint16_t quad[6] = {0, 1, 2, 0, 2, 3};
        for (uint16_t q : quad) indices.push_back(static_cast<uint16_t>(base + q));
    }
}

// Puts the box into a vertex and an index buffer and binds both.
inline bool BindBox(IDirect3DDevice9* device, float half, const D3DCOLOR colors[6], IDirect3DVertexBuffer9** vb,
                    IDirect3DIndexBuffer9** ib) {
    std::vector<BoxVertex> vertices;
    std::vector<uint16_t> indices;
    BuildBox(half, colors, vertices, indices);
    const UINT vbytes = static_cast<UINT>(vertices.size() * sizeof(BoxVertex));
    const UINT ibytes = static_cast<UINT>(indices.size() * sizeof(uint16_t));
    if (FAILED(device->CreateVertexBuffer(vbytes, D3DUSAGE_WRITEONLY, kBoxFvf, D3DPOOL_MANAGED, vb, nullptr))) return false;
    if (FAILED(device->CreateIndexBuffer(ibytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, ib, nullptr)))
        return false;
    void* data = nullptr;
    if (FAILED((*vb)->Lock(0, 0, &data, 0))) return false;
    std::memcpy(data, vertices.data(), vbytes);
    (*vb)->Unlock();
    if (FAILED((*ib)->Lock(0, 0, &data, 0))) return false;
    std::memcpy(data, indices.data(), ibytes);
    (*ib)->Unlock();
    device->SetStreamSource(0, *vb, 0, sizeof(BoxVertex));
    device->SetIndices(*ib);
    device->SetFVF(kBoxFvf);
    return true;
}
