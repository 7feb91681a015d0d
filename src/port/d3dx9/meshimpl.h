// Internal mesh objects shared by the D3DX mesh, progressive-mesh and .x code.
#pragma once

#include "port/d3dx9/d3dx9mesh.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

namespace d3dx {

inline constexpr DWORD kNoNeighbour = 0xFFFFFFFFu;
inline constexpr uint64_t kMaxBufferBytes = 1ull << 30;

// Reference counting shared by every D3DX object.
template <class Interface>
class ComObject : public Interface {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ~ComObject() override = default;

private:
    std::atomic<ULONG> refs_{1};
};

class Buffer final : public ComObject<ID3DXBuffer> {
public:
    explicit Buffer(size_t size) : data_(size) {}
    LPVOID GetBufferPointer() override { return data_.empty() ? nullptr : data_.data(); }
    DWORD GetBufferSize() override { return (DWORD)data_.size(); }

private:
    std::vector<uint8_t> data_;
};

// Makes a buffer holding a copy of the given DWORDs (null on failure).
ID3DXBuffer* makeDwordBuffer(const DWORD* values, size_t count);

// Byte offsets of the elements of one flexible-vertex-format vertex;
// npos marks an element the format lacks.
struct FvfLayout {
    static constexpr UINT npos = 0xFFFFFFFFu;
    DWORD fvf = 0;
    UINT stride = 0;
    UINT positionSize = 0; // bytes of position plus blend weights
    UINT normal = npos;
    UINT psize = npos;
    UINT diffuse = npos;
    UINT specular = npos;
    UINT texCount = 0;
    UINT tex[8] = {};
    UINT texFloats[8] = {};

    // False for a format D3DX cannot describe (no position, bad texture count).
    bool parse(DWORD format);
};

// The CPU copy of a mesh: vertices in their FVF layout, indices in their
// stored width, one attribute id per face and the attribute table.
struct MeshData {
    DWORD fvf = 0;
    FvfLayout layout;
    bool index32 = false;
    DWORD numFaces = 0;
    DWORD numVertices = 0;
    std::vector<uint8_t> vertices;
    std::vector<uint8_t> indices;
    std::vector<DWORD> attributes;
    std::vector<D3DXATTRIBUTERANGE> attribTable;

    UINT indexSize() const { return index32 ? 4u : 2u; }
    DWORD index(size_t i) const {
        if (index32) {
            uint32_t v;
            std::memcpy(&v, indices.data() + i * 4, 4);
            return v;
        }
        uint16_t v;
        std::memcpy(&v, indices.data() + i * 2, 2);
        return v;
    }
    void setIndex(size_t i, DWORD v) {
        if (index32) {
            const uint32_t w = v;
            std::memcpy(indices.data() + i * 4, &w, 4);
        } else {
            const uint16_t w = (uint16_t)v;
            std::memcpy(indices.data() + i * 2, &w, 2);
        }
    }
    std::vector<uint32_t> indices32() const;
    void setIndices32(const std::vector<uint32_t>& all);
    uint8_t* vertex(DWORD v) { return vertices.data() + (size_t)v * layout.stride; }
    const uint8_t* vertex(DWORD v) const { return vertices.data() + (size_t)v * layout.stride; }
    D3DXVECTOR3 position(DWORD v) const {
        D3DXVECTOR3 p;
        std::memcpy(&p, vertex(v), sizeof p);
        return p;
    }
    void setPosition(DWORD v, const D3DXVECTOR3& p) { std::memcpy(vertex(v), &p, sizeof p); }

    // Allocates storage; false (nothing changed) when the sizes are not representable.
    bool allocate(DWORD faces, DWORD verts, DWORD format, bool wide);
    // Copies the vertices into a different format, matching elements by meaning.
    void convertVertices(const MeshData& from);
};

// Checks what D3DXCreateMesh accepts.
HRESULT validateMeshArgs(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf);

class Mesh final : public ComObject<ID3DXMesh> {
public:
    Mesh(IDirect3DDevice9* device, DWORD options);

    MeshData& data() { return data_; }
    const MeshData& data() const { return data_; }
    // Call after the CPU copy changed outside the lock calls.
    void markDirty() {
        vertsDirty_ = true;
        indicesDirty_ = true;
        runsDirty_ = true;
    }

    HRESULT DrawSubset(DWORD attribId) override;
    DWORD GetNumFaces() override { return data_.numFaces; }
    DWORD GetNumVertices() override { return data_.numVertices; }
    DWORD GetFVF() override { return data_.fvf; }
    DWORD GetNumBytesPerVertex() override { return data_.layout.stride; }
    DWORD GetOptions() override { return options_; }
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    HRESULT CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** cloneMesh) override;
    HRESULT LockVertexBuffer(DWORD flags, LPVOID* data) override;
    HRESULT UnlockVertexBuffer() override;
    HRESULT LockIndexBuffer(DWORD flags, LPVOID* data) override;
    HRESULT UnlockIndexBuffer() override;
    HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* attribTable, DWORD* attribTableSize) override;
    HRESULT ConvertPointRepsToAdjacency(const DWORD* pointReps, DWORD* adjacency) override;
    HRESULT ConvertAdjacencyToPointReps(const DWORD* adjacency, DWORD* pointReps) override;
    HRESULT GenerateAdjacency(FLOAT epsilon, DWORD* adjacency) override;

    HRESULT LockAttributeBuffer(DWORD flags, DWORD** data) override;
    HRESULT UnlockAttributeBuffer() override;
    HRESULT Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                     ID3DXBuffer** vertexRemap, ID3DXMesh** optMesh) override;
    HRESULT OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                            ID3DXBuffer** vertexRemap) override;
    HRESULT SetAttributeTable(const D3DXATTRIBUTERANGE* attribTable, DWORD attribTableSize) override;

private:
    ~Mesh() override;
    HRESULT uploadBuffers();
    void rebuildRuns();

    IDirect3DDevice9* device_;
    DWORD options_;
    MeshData data_;
    IDirect3DVertexBuffer9* vb_ = nullptr;
    IDirect3DIndexBuffer9* ib_ = nullptr;
    size_t vbBytes_ = 0, ibBytes_ = 0;
    bool vertsDirty_ = true, indicesDirty_ = true, runsDirty_ = true;
    int vbLocks_ = 0, ibLocks_ = 0, attrLocks_ = 0;
    bool vbWrite_ = false, ibWrite_ = false, attrWrite_ = false;
    // Drawing ranges per attribute when the mesh has no attribute table.
    std::vector<D3DXATTRIBUTERANGE> runs_;
};

// The implementation behind an interface pointer made by this library (null otherwise).
Mesh* toImpl(ID3DXBaseMesh* mesh);

// Creates a mesh object with allocated storage.
HRESULT createMesh(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                   Mesh** out);

// Draws ranges of a CPU mesh through device buffers kept by the caller.
struct DeviceBuffers {
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    size_t vbBytes = 0, ibBytes = 0;
    void release();
    // (Re)creates the buffers when too small and copies the given bytes in.
    HRESULT uploadVertices(IDirect3DDevice9* device, const uint8_t* data, size_t bytes, DWORD fvf);
    HRESULT uploadIndices(IDirect3DDevice9* device, const uint8_t* data, size_t bytes, bool wide);
};

// ---------------------------------------------------------------------------
// Topology helpers
// ---------------------------------------------------------------------------
// Point representatives: every vertex maps to the lowest-indexed vertex it
// coincides with (epsilon < 0: none, 0: identical positions, > 0: closer than epsilon).
std::vector<DWORD> pointRepsFromPositions(const MeshData& mesh, float epsilon);
// Adjacency from point representatives: faces sharing an edge with opposite winding.
void adjacencyFromPointReps(const std::vector<uint32_t>& indices, DWORD numFaces, const DWORD* reps,
                            DWORD* adjacency);
// Point representatives implied by an adjacency array.
std::vector<DWORD> pointRepsFromAdjacency(const std::vector<uint32_t>& indices, DWORD numFaces,
                                          DWORD numVertices, const DWORD* adjacency);
// Optimisation on raw arrays, shared by meshes and progressive meshes.
HRESULT optimizeMeshData(MeshData& mesh, DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut,
                         DWORD* faceRemap, std::vector<DWORD>* vertexRemap);
// Attribute ranges of a face-sorted mesh.
std::vector<D3DXATTRIBUTERANGE> buildAttributeTable(const MeshData& mesh);

} // namespace d3dx
