// The D3DX mesh object: a CPU copy of vertices, indices and attributes that
// is uploaded into device buffers when drawn.
#include "port/d3dx9/meshimpl.h"

#include <algorithm>
#include <new>

namespace d3dx {

ID3DXBuffer* makeDwordBuffer(const DWORD* values, size_t count) {
    try {
        auto* b = new Buffer(count * sizeof(DWORD));
        if (count) std::memcpy(b->GetBufferPointer(), values, count * sizeof(DWORD));
        return b;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool FvfLayout::parse(DWORD format) {
    *this = FvfLayout{};
    fvf = format;
    switch (format & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ: positionSize = 12; break;
    case D3DFVF_XYZRHW: positionSize = 16; break;
    case D3DFVF_XYZW: positionSize = 16; break;
    case D3DFVF_XYZB1: positionSize = 16; break;
    case D3DFVF_XYZB2: positionSize = 20; break;
    case D3DFVF_XYZB3: positionSize = 24; break;
    case D3DFVF_XYZB4: positionSize = 28; break;
    case D3DFVF_XYZB5: positionSize = 32; break;
    default: return false;
    }
    UINT off = positionSize;
    if (format & D3DFVF_NORMAL) { normal = off; off += 12; }
    if (format & D3DFVF_PSIZE) { psize = off; off += 4; }
    if (format & D3DFVF_DIFFUSE) { diffuse = off; off += 4; }
    if (format & D3DFVF_SPECULAR) { specular = off; off += 4; }
    texCount = (format & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (texCount > 8) return false;
    for (UINT i = 0; i < texCount; ++i) {
        static const UINT floatsByCode[4] = {2, 3, 4, 1};
        texFloats[i] = floatsByCode[(format >> (16 + 2 * i)) & 3];
        tex[i] = off;
        off += texFloats[i] * 4;
    }
    stride = off;
    return true;
}

std::vector<uint32_t> MeshData::indices32() const {
    std::vector<uint32_t> out((size_t)numFaces * 3);
    if (index32) {
        std::memcpy(out.data(), indices.data(), out.size() * 4);
    } else {
        const uint16_t* s = reinterpret_cast<const uint16_t*>(indices.data());
        for (size_t i = 0; i < out.size(); ++i) out[i] = s[i];
    }
    return out;
}

void MeshData::setIndices32(const std::vector<uint32_t>& all) {
    if (index32) {
        std::memcpy(indices.data(), all.data(), all.size() * 4);
    } else {
        uint16_t* d = reinterpret_cast<uint16_t*>(indices.data());
        for (size_t i = 0; i < all.size(); ++i) d[i] = (uint16_t)all[i];
    }
}

bool MeshData::allocate(DWORD faces, DWORD verts, DWORD format, bool wide) {
    FvfLayout l;
    if (!l.parse(format)) return false;
    const uint64_t vbytes = (uint64_t)verts * l.stride;
    const uint64_t ibytes = (uint64_t)faces * 3 * (wide ? 4 : 2);
    // Refuse sizes no device buffer could hold; hostile files name absurd counts.
    if (vbytes > kMaxBufferBytes || ibytes > kMaxBufferBytes) return false;
    vertices.assign((size_t)vbytes, 0);
    indices.assign((size_t)ibytes, 0);
    attributes.assign(faces, 0);
    attribTable.clear();
    fvf = format;
    layout = l;
    index32 = wide;
    numFaces = faces;
    numVertices = verts;
    return true;
}

namespace {

void copyElement(uint8_t* dst, UINT dstOff, UINT dstSize, const uint8_t* src, UINT srcOff, UINT srcSize) {
    if (dstOff == FvfLayout::npos || srcOff == FvfLayout::npos) return;
    std::memcpy(dst + dstOff, src + srcOff, std::min(dstSize, srcSize));
}

} // namespace

void MeshData::convertVertices(const MeshData& from) {
    const FvfLayout& s = from.layout;
    const FvfLayout& d = layout;
    if (s.fvf == d.fvf) {
        std::memcpy(vertices.data(), from.vertices.data(), std::min(vertices.size(), from.vertices.size()));
        return;
    }
    const DWORD n = std::min(numVertices, from.numVertices);
    for (DWORD v = 0; v < n; ++v) {
        const uint8_t* src = from.vertex(v);
        uint8_t* dst = vertex(v);
        std::memcpy(dst, src, std::min(s.positionSize, d.positionSize));
        copyElement(dst, d.normal, 12, src, s.normal, 12);
        copyElement(dst, d.psize, 4, src, s.psize, 4);
        copyElement(dst, d.diffuse, 4, src, s.diffuse, 4);
        copyElement(dst, d.specular, 4, src, s.specular, 4);
        for (UINT t = 0; t < d.texCount && t < s.texCount; ++t)
            copyElement(dst, d.tex[t], d.texFloats[t] * 4, src, s.tex[t], s.texFloats[t] * 4);
    }
}

HRESULT validateMeshArgs(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf) {
    if (numFaces == 0 || numVertices == 0) return D3DERR_INVALIDCALL;
    if (options & (D3DXMESH_VB_SHARE | D3DXMESH_USEHWONLY | ~0x1FFFFu)) return D3DERR_INVALIDCALL;
    FvfLayout l;
    if (!l.parse(fvf)) return D3DERR_INVALIDCALL;
    // 16-bit indices reach vertex 65535 at most.
    if (!(options & D3DXMESH_32BIT) && numVertices > 0x10000u) return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT createMesh(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                   Mesh** out) {
    *out = nullptr;
    if (!device) return D3DERR_INVALIDCALL;
    HRESULT hr = validateMeshArgs(numFaces, numVertices, options, fvf);
    if (FAILED(hr)) return hr;
    Mesh* m = nullptr;
    try {
        m = new Mesh(device, options);
        if (!m->data().allocate(numFaces, numVertices, fvf, (options & D3DXMESH_32BIT) != 0)) {
            m->Release();
            return E_OUTOFMEMORY;
        }
    } catch (const std::bad_alloc&) {
        if (m) m->Release();
        return E_OUTOFMEMORY;
    }
    *out = m;
    return D3D_OK;
}

Mesh* toImpl(ID3DXBaseMesh* mesh) { return dynamic_cast<Mesh*>(mesh); }

// ---------------------------------------------------------------------------
// Device buffers
// ---------------------------------------------------------------------------
void DeviceBuffers::release() {
    if (vb) vb->Release();
    if (ib) ib->Release();
    vb = nullptr;
    ib = nullptr;
    vbBytes = ibBytes = 0;
}

HRESULT DeviceBuffers::uploadVertices(IDirect3DDevice9* device, const uint8_t* data, size_t bytes, DWORD fvf) {
    if (bytes == 0) return D3D_OK;
    if (!vb || vbBytes < bytes) {
        if (vb) vb->Release();
        vb = nullptr;
        vbBytes = 0;
        // Managed: the buffers outlive a device reset like the mesh itself.
        HRESULT hr = device->CreateVertexBuffer((UINT)bytes, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED, &vb, nullptr);
        if (FAILED(hr)) return hr;
        vbBytes = bytes;
    }
    void* p = nullptr;
    HRESULT hr = vb->Lock(0, (UINT)bytes, &p, 0);
    if (FAILED(hr)) return hr;
    std::memcpy(p, data, bytes);
    return vb->Unlock();
}

HRESULT DeviceBuffers::uploadIndices(IDirect3DDevice9* device, const uint8_t* data, size_t bytes, bool wide) {
    if (bytes == 0) return D3D_OK;
    if (!ib || ibBytes < bytes) {
        if (ib) ib->Release();
        ib = nullptr;
        ibBytes = 0;
        HRESULT hr = device->CreateIndexBuffer((UINT)bytes, D3DUSAGE_WRITEONLY, wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                               D3DPOOL_MANAGED, &ib, nullptr);
        if (FAILED(hr)) return hr;
        ibBytes = bytes;
    }
    void* p = nullptr;
    HRESULT hr = ib->Lock(0, (UINT)bytes, &p, 0);
    if (FAILED(hr)) return hr;
    std::memcpy(p, data, bytes);
    return ib->Unlock();
}

// ---------------------------------------------------------------------------
// Mesh
// ---------------------------------------------------------------------------
Mesh::Mesh(IDirect3DDevice9* device, DWORD options) : device_(device), options_(options) {
    if (device_) device_->AddRef();
}

Mesh::~Mesh() {
    if (vb_) vb_->Release();
    if (ib_) ib_->Release();
    if (device_) device_->Release();
}

HRESULT Mesh::GetDevice(IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    *device = device_;
    if (device_) device_->AddRef();
    return D3D_OK;
}

HRESULT Mesh::uploadBuffers() {
    DeviceBuffers b{vb_, ib_, vbBytes_, ibBytes_};
    HRESULT hr = D3D_OK;
    if (vertsDirty_) {
        hr = b.uploadVertices(device_, data_.vertices.data(), data_.vertices.size(), data_.fvf);
        if (SUCCEEDED(hr)) vertsDirty_ = false;
    }
    if (SUCCEEDED(hr) && indicesDirty_) {
        hr = b.uploadIndices(device_, data_.indices.data(), data_.indices.size(), data_.index32);
        if (SUCCEEDED(hr)) indicesDirty_ = false;
    }
    vb_ = b.vb;
    ib_ = b.ib;
    vbBytes_ = b.vbBytes;
    ibBytes_ = b.ibBytes;
    return hr;
}

void Mesh::rebuildRuns() {
    runs_.clear();
    DWORD f = 0;
    while (f < data_.numFaces) {
        const DWORD id = data_.attributes[f];
        D3DXATTRIBUTERANGE r{id, f, 0, 0xFFFFFFFFu, 0};
        DWORD lo = 0xFFFFFFFFu, hi = 0;
        while (f < data_.numFaces && data_.attributes[f] == id) {
            for (int k = 0; k < 3; ++k) {
                const DWORD v = data_.index((size_t)f * 3 + k);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            ++f;
            ++r.FaceCount;
        }
        r.VertexStart = lo;
        r.VertexCount = hi >= lo ? hi - lo + 1 : 0;
        runs_.push_back(r);
    }
    std::stable_sort(runs_.begin(), runs_.end(),
                     [](const D3DXATTRIBUTERANGE& a, const D3DXATTRIBUTERANGE& b) { return a.AttribId < b.AttribId; });
    runsDirty_ = false;
}

HRESULT Mesh::DrawSubset(DWORD attribId) {
    if (!device_) return D3DERR_INVALIDCALL;
    if (vbLocks_ || ibLocks_) return D3DERR_INVALIDCALL;
    HRESULT hr = uploadBuffers();
    if (FAILED(hr)) return hr;
    const std::vector<D3DXATTRIBUTERANGE>* ranges = &data_.attribTable;
    if (ranges->empty()) {
        if (runsDirty_) rebuildRuns();
        ranges = &runs_;
    }
    device_->SetFVF(data_.fvf);
    device_->SetStreamSource(0, vb_, 0, data_.layout.stride);
    device_->SetIndices(ib_);
    for (const D3DXATTRIBUTERANGE& r : *ranges) {
        if (r.AttribId != attribId || r.FaceCount == 0) continue;
        hr = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, r.VertexStart, r.VertexCount, r.FaceStart * 3,
                                           r.FaceCount);
        if (FAILED(hr)) return hr;
    }
    return D3D_OK;
}

HRESULT Mesh::CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** cloneMesh) {
    if (!cloneMesh) return D3DERR_INVALIDCALL;
    *cloneMesh = nullptr;
    Mesh* m = nullptr;
    HRESULT hr = createMesh(data_.numFaces, data_.numVertices, options, fvf, device, &m);
    if (FAILED(hr)) return hr;
    MeshData& d = m->data();
    if (d.index32 == data_.index32)
        d.indices = data_.indices;
    else
        d.setIndices32(data_.indices32());
    d.attributes = data_.attributes;
    d.attribTable = data_.attribTable;
    d.convertVertices(data_);
    *cloneMesh = m;
    return D3D_OK;
}

HRESULT Mesh::LockVertexBuffer(DWORD flags, LPVOID* data) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = data_.vertices.data();
    ++vbLocks_;
    if (!(flags & D3DLOCK_READONLY)) vbWrite_ = true;
    return D3D_OK;
}

HRESULT Mesh::UnlockVertexBuffer() {
    if (vbLocks_ == 0) return D3DERR_INVALIDCALL;
    if (--vbLocks_ == 0 && vbWrite_) {
        vertsDirty_ = true;
        vbWrite_ = false;
    }
    return D3D_OK;
}

HRESULT Mesh::LockIndexBuffer(DWORD flags, LPVOID* data) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = data_.indices.data();
    ++ibLocks_;
    if (!(flags & D3DLOCK_READONLY)) ibWrite_ = true;
    return D3D_OK;
}

HRESULT Mesh::UnlockIndexBuffer() {
    if (ibLocks_ == 0) return D3DERR_INVALIDCALL;
    if (--ibLocks_ == 0 && ibWrite_) {
        indicesDirty_ = true;
        runsDirty_ = true;
        ibWrite_ = false;
    }
    return D3D_OK;
}

HRESULT Mesh::LockAttributeBuffer(DWORD flags, DWORD** data) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = data_.attributes.data();
    ++attrLocks_;
    if (!(flags & D3DLOCK_READONLY)) attrWrite_ = true;
    return D3D_OK;
}

HRESULT Mesh::UnlockAttributeBuffer() {
    if (attrLocks_ == 0) return D3DERR_INVALIDCALL;
    if (--attrLocks_ == 0 && attrWrite_) {
        runsDirty_ = true;
        attrWrite_ = false;
    }
    return D3D_OK;
}

HRESULT Mesh::GetAttributeTable(D3DXATTRIBUTERANGE* attribTable, DWORD* attribTableSize) {
    if (!attribTableSize) return D3DERR_INVALIDCALL;
    const DWORD count = (DWORD)data_.attribTable.size();
    if (attribTable) {
        // The size is the capacity of the caller's array on the way in.
        const DWORD n = std::min(count, *attribTableSize);
        std::copy_n(data_.attribTable.begin(), n, attribTable);
    }
    *attribTableSize = count;
    return D3D_OK;
}

HRESULT Mesh::SetAttributeTable(const D3DXATTRIBUTERANGE* attribTable, DWORD attribTableSize) {
    if (attribTableSize && !attribTable) return D3DERR_INVALIDCALL;
    for (DWORD i = 0; i < attribTableSize; ++i) {
        const D3DXATTRIBUTERANGE& r = attribTable[i];
        if ((uint64_t)r.FaceStart + r.FaceCount > data_.numFaces ||
            (uint64_t)r.VertexStart + r.VertexCount > data_.numVertices)
            return D3DERR_INVALIDCALL;
    }
    data_.attribTable.assign(attribTable, attribTable + attribTableSize);
    return D3D_OK;
}

HRESULT Mesh::ConvertPointRepsToAdjacency(const DWORD* pointReps, DWORD* adjacency) {
    if (!adjacency) return D3DERR_INVALIDCALL;
    std::vector<DWORD> identity;
    if (!pointReps) {
        identity.resize(data_.numVertices);
        for (DWORD i = 0; i < data_.numVertices; ++i) identity[i] = i;
        pointReps = identity.data();
    }
    adjacencyFromPointReps(data_.indices32(), data_.numFaces, pointReps, adjacency);
    return D3D_OK;
}

HRESULT Mesh::ConvertAdjacencyToPointReps(const DWORD* adjacency, DWORD* pointReps) {
    if (!adjacency || !pointReps) return D3DERR_INVALIDCALL;
    const std::vector<DWORD> reps =
        pointRepsFromAdjacency(data_.indices32(), data_.numFaces, data_.numVertices, adjacency);
    std::copy(reps.begin(), reps.end(), pointReps);
    return D3D_OK;
}

HRESULT Mesh::GenerateAdjacency(FLOAT epsilon, DWORD* adjacency) {
    if (!adjacency) return D3DERR_INVALIDCALL;
    const std::vector<DWORD> reps = pointRepsFromPositions(data_, epsilon);
    adjacencyFromPointReps(data_.indices32(), data_.numFaces, reps.data(), adjacency);
    return D3D_OK;
}

HRESULT Mesh::OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                              ID3DXBuffer** vertexRemap) {
    if (vbLocks_ || ibLocks_ || attrLocks_) return D3DERR_INVALIDCALL;
    if (vertexRemap) *vertexRemap = nullptr;
    std::vector<DWORD> remap;
    HRESULT hr = optimizeMeshData(data_, flags, adjacencyIn, adjacencyOut, faceRemap, vertexRemap ? &remap : nullptr);
    if (FAILED(hr)) return hr;
    markDirty();
    if (vertexRemap) {
        *vertexRemap = makeDwordBuffer(remap.data(), remap.size());
        if (!*vertexRemap) return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT Mesh::Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                       ID3DXBuffer** vertexRemap, ID3DXMesh** optMesh) {
    if (!optMesh) return D3DERR_INVALIDCALL;
    *optMesh = nullptr;
    ID3DXMesh* clone = nullptr;
    // The clone keeps this mesh's options; the optimisation flags carry none.
    HRESULT hr = CloneMeshFVF(options_, data_.fvf, device_, &clone);
    if (FAILED(hr)) return hr;
    hr = clone->OptimizeInplace(flags, adjacencyIn, adjacencyOut, faceRemap, vertexRemap);
    if (FAILED(hr)) {
        clone->Release();
        return hr;
    }
    *optMesh = clone;
    return D3D_OK;
}

} // namespace d3dx

using namespace d3dx;

HRESULT D3DXCreateBuffer(DWORD numBytes, ID3DXBuffer** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    try {
        *buffer = new Buffer(numBytes);
    } catch (const std::bad_alloc&) {
        *buffer = nullptr;
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

UINT D3DXGetFVFVertexSize(DWORD fvf) {
    FvfLayout l;
    return l.parse(fvf) ? l.stride : 0;
}

HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                          ID3DXMesh** mesh) {
    if (!mesh) return D3DERR_INVALIDCALL;
    Mesh* m = nullptr;
    HRESULT hr = createMesh(numFaces, numVertices, options, fvf, device, &m);
    *mesh = m;
    return hr;
}
