// Reader of .x files (text, binary and MSZIP-compressed) into plain arrays.
// Every count and index is checked against the data actually present, so a
// damaged or hostile file fails cleanly instead of reserving memory it names.
#pragma once

#include "port/d3dx9/d3dx9mesh.h"

#include <cstdint>
#include <string>
#include <vector>

namespace d3dx::xfile {

struct Material {
    D3DMATERIAL9 mat{};
    std::string texture; // as written in the file; empty when none
};

// One mesh of the file with its frame transform applied; faces are triangles
// (polygons split as fans) and corners index into the vertex arrays.
struct Mesh {
    std::vector<D3DXVECTOR3> positions;
    std::vector<D3DXVECTOR3> normals;   // empty, or one per position
    std::vector<D3DXVECTOR2> texcoords; // empty, or one per position
    std::vector<DWORD> colors;          // empty, or one per position (ARGB)
    std::vector<uint32_t> indices;      // 3 per face
    std::vector<DWORD> faceMaterial;    // index into materials, per face
    std::vector<Material> materials;    // at least one
};

struct Scene {
    std::vector<Mesh> meshes;
};

// D3D_OK, D3DXERR_INVALIDDATA or E_OUTOFMEMORY.
HRESULT parse(const void* data, size_t size, Scene& scene);

} // namespace d3dx::xfile
