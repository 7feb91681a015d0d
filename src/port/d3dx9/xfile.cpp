// .x files: every mesh of the file (with its frame transforms applied) merged
// into one D3DX mesh whose subsets are the materials.
#include "port/d3dx9/meshimpl.h"
#include "port/d3dx9/xparser.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

using namespace d3dx;

namespace {

ID3DXBuffer* materialBuffer(const std::vector<const xfile::Material*>& mats) {
    size_t bytes = mats.size() * sizeof(D3DXMATERIAL);
    for (const xfile::Material* m : mats)
        if (!m->texture.empty()) bytes += m->texture.size() + 1;
    auto* buf = new Buffer(bytes);
    auto* out = static_cast<D3DXMATERIAL*>(buf->GetBufferPointer());
    char* strings = reinterpret_cast<char*>(out + mats.size());
    for (size_t i = 0; i < mats.size(); ++i) {
        out[i].MatD3D = mats[i]->mat;
        out[i].pTextureFilename = nullptr;
        if (!mats[i]->texture.empty()) {
            std::memcpy(strings, mats[i]->texture.c_str(), mats[i]->texture.size() + 1);
            out[i].pTextureFilename = strings;
            strings += mats[i]->texture.size() + 1;
        }
    }
    return buf;
}

} // namespace

HRESULT D3DXLoadMeshFromXInMemory(LPCVOID memory, DWORD sizeOfMemory, DWORD options, IDirect3DDevice9* device,
                                  ID3DXBuffer** adjacency, ID3DXBuffer** materials, ID3DXBuffer** effectInstances,
                                  DWORD* numMaterials, ID3DXMesh** meshOut) {
    if (adjacency) *adjacency = nullptr;
    if (materials) *materials = nullptr;
    if (effectInstances) *effectInstances = nullptr;
    if (!memory || !sizeOfMemory || !device || !meshOut) return D3DERR_INVALIDCALL;
    *meshOut = nullptr;

    Mesh* mesh = nullptr;
    ID3DXBuffer* adjBuf = nullptr;
    ID3DXBuffer* matBuf = nullptr;
    ID3DXBuffer* fxBuf = nullptr;
    try {
        xfile::Scene scene;
        HRESULT hr = xfile::parse(memory, sizeOfMemory, scene);
        if (FAILED(hr)) return hr;

        uint64_t totalV = 0, totalF = 0;
        bool hasNormals = false, hasUV = false, hasColors = false;
        std::vector<const xfile::Material*> mats;
        for (const xfile::Mesh& m : scene.meshes) {
            totalV += m.positions.size();
            totalF += m.indices.size() / 3;
            hasNormals |= !m.normals.empty();
            hasUV |= !m.texcoords.empty();
            hasColors |= !m.colors.empty();
            for (const xfile::Material& mat : m.materials) mats.push_back(&mat);
        }
        if (totalF == 0 || totalV == 0) return D3DXERR_LOADEDMESHASNODATA;
        if (totalF > 0xFFFFFFFFull / 3 || totalV > 0xFFFFFFFFull) return E_OUTOFMEMORY;

        DWORD fvf = D3DFVF_XYZ;
        if (hasNormals) fvf |= D3DFVF_NORMAL;
        if (hasColors) fvf |= D3DFVF_DIFFUSE;
        if (hasUV) fvf |= D3DFVF_TEX1;
        // More vertices than 16-bit indices reach: the mesh needs 32-bit ones.
        if (totalV > 0x10000u) options |= D3DXMESH_32BIT;
        hr = createMesh((DWORD)totalF, (DWORD)totalV, options, fvf, device, &mesh);
        if (FAILED(hr)) return hr;
        MeshData& d = mesh->data();
        const FvfLayout& l = d.layout;

        std::vector<uint32_t> idx;
        idx.reserve((size_t)totalF * 3);
        DWORD base = 0, face = 0, matBase = 0;
        for (const xfile::Mesh& m : scene.meshes) {
            for (size_t v = 0; v < m.positions.size(); ++v) {
                uint8_t* out = d.vertex(base + (DWORD)v);
                std::memcpy(out, &m.positions[v], 12);
                if (!m.normals.empty()) std::memcpy(out + l.normal, &m.normals[v], 12);
                if (hasColors) {
                    const DWORD c = m.colors.empty() ? 0xFFFFFFFFu : m.colors[v];
                    std::memcpy(out + l.diffuse, &c, 4);
                }
                if (!m.texcoords.empty()) std::memcpy(out + l.tex[0], &m.texcoords[v], 8);
            }
            for (uint32_t i : m.indices) idx.push_back(base + i);
            for (DWORD a : m.faceMaterial) d.attributes[face++] = matBase + a;
            base += (DWORD)m.positions.size();
            matBase += (DWORD)m.materials.size();
        }
        d.setIndices32(idx);

        // Subsets grouped by material, as the loaded meshes of D3DX are.
        hr = optimizeMeshData(d, D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr);
        if (FAILED(hr)) {
            mesh->Release();
            return hr;
        }
        mesh->markDirty();

        if (adjacency) {
            std::vector<DWORD> adj((size_t)d.numFaces * 3);
            mesh->GenerateAdjacency(0.0f, adj.data());
            adjBuf = makeDwordBuffer(adj.data(), adj.size());
            if (!adjBuf) throw std::bad_alloc();
        }
        if (materials) matBuf = materialBuffer(mats);
        if (effectInstances) fxBuf = new Buffer(mats.size() * sizeof(D3DXEFFECTINSTANCE));
        if (numMaterials) *numMaterials = (DWORD)mats.size();
    } catch (const std::bad_alloc&) {
        if (mesh) mesh->Release();
        if (adjBuf) adjBuf->Release();
        if (matBuf) matBuf->Release();
        return E_OUTOFMEMORY;
    }
    if (adjacency) *adjacency = adjBuf;
    if (materials) *materials = matBuf;
    if (effectInstances) *effectInstances = fxBuf;
    *meshOut = mesh;
    return D3D_OK;
}
