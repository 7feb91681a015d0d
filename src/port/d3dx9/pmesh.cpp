// Progressive meshes: a chain of simplified index sets built once with
// meshoptimizer, from the full mesh down to the requested minimum. Vertices
// are ordered so that every level uses a prefix of them, all levels share one
// index buffer, and choosing a level only changes which range is drawn.
#include "port/d3dx9/meshimpl.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cfloat>
#include <new>
#include <numeric>

namespace d3dx {

namespace {

struct Level {
    DWORD firstIndex = 0;
    DWORD faces = 0;
    DWORD vertices = 0;
    std::vector<D3DXATTRIBUTERANGE> table; // FaceStart relative to the level
};

class PMesh final : public ComObject<ID3DXPMesh> {
public:
    PMesh(IDirect3DDevice9* device, DWORD options) : device_(device), options_(options) {
        if (device_) device_->AddRef();
    }

    // Builds the levels from a full mesh; attributes given per face.
    HRESULT build(const MeshData& src, const std::vector<uint32_t>& indices, DWORD minValue, DWORD simpOptions,
                  bool lockBorder);

    HRESULT DrawSubset(DWORD attribId) override;
    DWORD GetNumFaces() override { return level().faces; }
    DWORD GetNumVertices() override { return level().vertices; }
    DWORD GetFVF() override { return data_.fvf; }
    DWORD GetNumBytesPerVertex() override { return data_.layout.stride; }
    DWORD GetOptions() override { return options_; }
    HRESULT GetDevice(IDirect3DDevice9** device) override {
        if (!device) return D3DERR_INVALIDCALL;
        *device = device_;
        if (device_) device_->AddRef();
        return D3D_OK;
    }
    HRESULT CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** cloneMesh) override;
    HRESULT LockVertexBuffer(DWORD flags, LPVOID* data) override {
        if (!data) return D3DERR_INVALIDCALL;
        *data = data_.vertices.data();
        ++vbLocks_;
        if (!(flags & D3DLOCK_READONLY)) vbWrite_ = true;
        return D3D_OK;
    }
    HRESULT UnlockVertexBuffer() override {
        if (vbLocks_ == 0) return D3DERR_INVALIDCALL;
        if (--vbLocks_ == 0 && vbWrite_) {
            vertsDirty_ = true;
            vbWrite_ = false;
        }
        return D3D_OK;
    }
    HRESULT LockIndexBuffer(DWORD flags, LPVOID* data) override {
        if (!data) return D3DERR_INVALIDCALL;
        *data = data_.indices.data() + (size_t)level().firstIndex * data_.indexSize();
        ++ibLocks_;
        if (!(flags & D3DLOCK_READONLY)) ibWrite_ = true;
        return D3D_OK;
    }
    HRESULT UnlockIndexBuffer() override {
        if (ibLocks_ == 0) return D3DERR_INVALIDCALL;
        if (--ibLocks_ == 0 && ibWrite_) {
            indicesDirty_ = true;
            ibWrite_ = false;
        }
        return D3D_OK;
    }
    HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* attribTable, DWORD* attribTableSize) override {
        if (!attribTableSize) return D3DERR_INVALIDCALL;
        const auto& t = level().table;
        if (attribTable) {
            const DWORD n = std::min<DWORD>((DWORD)t.size(), *attribTableSize);
            std::copy_n(t.begin(), n, attribTable);
        }
        *attribTableSize = (DWORD)t.size();
        return D3D_OK;
    }
    HRESULT ConvertPointRepsToAdjacency(const DWORD* pointReps, DWORD* adjacency) override {
        if (!adjacency) return D3DERR_INVALIDCALL;
        std::vector<DWORD> reps(data_.numVertices);
        if (pointReps)
            std::copy_n(pointReps, data_.numVertices, reps.begin());
        else
            std::iota(reps.begin(), reps.end(), 0u);
        adjacencyFromPointReps(levelIndices(), level().faces, reps.data(), adjacency);
        return D3D_OK;
    }
    HRESULT ConvertAdjacencyToPointReps(const DWORD* adjacency, DWORD* pointReps) override {
        if (!adjacency || !pointReps) return D3DERR_INVALIDCALL;
        const auto reps = pointRepsFromAdjacency(levelIndices(), level().faces, level().vertices, adjacency);
        std::copy(reps.begin(), reps.end(), pointReps);
        return D3D_OK;
    }
    HRESULT GenerateAdjacency(FLOAT epsilon, DWORD* adjacency) override {
        if (!adjacency) return D3DERR_INVALIDCALL;
        const auto reps = pointRepsFromPositions(data_, epsilon);
        adjacencyFromPointReps(levelIndices(), level().faces, reps.data(), adjacency);
        return D3D_OK;
    }

    HRESULT ClonePMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXPMesh** cloneMesh) override;
    HRESULT SetNumFaces(DWORD faces) override {
        // The coarsest level that still has at least the asked number of faces.
        size_t pick = 0;
        while (pick + 1 < levels_.size() && levels_[pick + 1].faces >= faces) ++pick;
        current_ = pick;
        return D3D_OK;
    }
    HRESULT SetNumVertices(DWORD vertices) override {
        size_t pick = 0;
        while (pick + 1 < levels_.size() && levels_[pick + 1].vertices >= vertices) ++pick;
        current_ = pick;
        return D3D_OK;
    }
    DWORD GetMaxFaces() override { return levels_.front().faces; }
    DWORD GetMinFaces() override { return levels_.back().faces; }
    DWORD GetMaxVertices() override { return levels_.front().vertices; }
    DWORD GetMinVertices() override { return levels_.back().vertices; }

    size_t levelCount() const { return levels_.size(); }

private:
    ~PMesh() override {
        buffers_.release();
        if (device_) device_->Release();
    }
    const Level& level() const { return levels_[current_]; }
    std::vector<uint32_t> levelIndices() const {
        std::vector<uint32_t> out((size_t)level().faces * 3);
        for (size_t i = 0; i < out.size(); ++i) out[i] = data_.index(level().firstIndex + i);
        return out;
    }

    IDirect3DDevice9* device_;
    DWORD options_;
    MeshData data_; // vertices coarse-first; indices of every level back to back
    std::vector<Level> levels_;
    size_t current_ = 0;
    DeviceBuffers buffers_;
    bool vertsDirty_ = true, indicesDirty_ = true;
    int vbLocks_ = 0, ibLocks_ = 0;
    bool vbWrite_ = false, ibWrite_ = false;
};

HRESULT PMesh::build(const MeshData& src, const std::vector<uint32_t>& indices, DWORD minValue, DWORD simpOptions,
                     bool lockBorder) {
    const DWORD V = src.numVertices;
    const size_t stride = src.layout.stride;
    // Positions as meshoptimizer reads them: the first 12 bytes of every vertex.
    const float* positions = reinterpret_cast<const float*>(src.vertices.data());

    // Attribute of each vertex (of the first face using it): simplified faces
    // take the attribute most of their corners carry.
    std::vector<DWORD> vertexAttr(V, 0);
    std::vector<char> seen(V, 0);
    for (size_t f = 0; f < src.numFaces; ++f)
        for (int k = 0; k < 3; ++k) {
            const uint32_t v = indices[f * 3 + k];
            if (!seen[v]) {
                seen[v] = 1;
                vertexAttr[v] = src.attributes[f];
            }
        }

    std::vector<std::vector<uint32_t>> chain;
    std::vector<std::vector<DWORD>> chainAttr;
    chain.push_back(indices);
    chainAttr.push_back(src.attributes);
    auto countVertices = [&](const std::vector<uint32_t>& idx) {
        std::vector<char> used(V, 0);
        DWORD n = 0;
        for (uint32_t v : idx)
            if (!used[v]) {
                used[v] = 1;
                ++n;
            }
        return n;
    };
    auto reached = [&](const std::vector<uint32_t>& idx) {
        if (simpOptions == D3DXMESHSIMP_VERTEX) return countVertices(idx) <= minValue;
        return idx.size() / 3 <= minValue;
    };
    const unsigned meshoptFlags = lockBorder ? meshopt_SimplifyLockBorder : 0;
    while (!reached(chain.back()) && chain.back().size() > 3) {
        const std::vector<uint32_t>& prev = chain.back();
        const size_t prevFaces = prev.size() / 3;
        // Steps of a fifth keep neighbouring levels close to each other.
        size_t targetFaces = prevFaces - std::max<size_t>(1, prevFaces / 5);
        if (simpOptions == D3DXMESHSIMP_FACE) targetFaces = std::max<size_t>(targetFaces, minValue);
        std::vector<uint32_t> next(prev.size());
        size_t n = meshopt_simplify(next.data(), prev.data(), prev.size(), positions, V, stride, targetFaces * 3,
                                    FLT_MAX, meshoptFlags, nullptr);
        if (n >= prev.size()) {
            // No progress at this step size: one harder try, then stop.
            n = meshopt_simplify(next.data(), prev.data(), prev.size(), positions, V, stride, targetFaces * 3 / 2,
                                 FLT_MAX, meshoptFlags, nullptr);
            if (n >= prev.size() || n == 0) break;
        }
        if (n == 0) break;
        next.resize(n);
        std::vector<DWORD> attr(n / 3);
        for (size_t f = 0; f < attr.size(); ++f) {
            const DWORD a = vertexAttr[next[f * 3]], b = vertexAttr[next[f * 3 + 1]], c = vertexAttr[next[f * 3 + 2]];
            attr[f] = (b == c) ? b : a;
        }
        chain.push_back(std::move(next));
        chainAttr.push_back(std::move(attr));
    }

    // Coarsest level each vertex appears in; levels are nested, so sorting
    // vertices by it (descending) makes every level use a prefix.
    std::vector<int> coarsest(V, -1);
    for (size_t L = 0; L < chain.size(); ++L)
        for (uint32_t v : chain[L]) coarsest[v] = std::max(coarsest[v], (int)L);
    std::vector<DWORD> order(V);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](DWORD a, DWORD b) { return coarsest[a] > coarsest[b]; });
    std::vector<DWORD> newIndexOf(V);
    for (DWORD n = 0; n < V; ++n) newIndexOf[order[n]] = n;

    size_t totalIndices = 0;
    for (const auto& c : chain) totalIndices += c.size();
    const bool wide = (options_ & D3DXMESH_32BIT) != 0;
    if (!data_.allocate((DWORD)(totalIndices / 3), V, src.fvf, wide)) return E_OUTOFMEMORY;
    for (DWORD n = 0; n < V; ++n) std::memcpy(data_.vertex(n), src.vertex(order[n]), stride);

    levels_.clear();
    DWORD at = 0;
    for (size_t L = 0; L < chain.size(); ++L) {
        Level lv;
        lv.firstIndex = at;
        lv.faces = (DWORD)(chain[L].size() / 3);
        lv.vertices = 0;
        for (DWORD n = 0; n < V; ++n)
            if (coarsest[order[n]] >= (int)L) lv.vertices = n + 1;
        // Faces of the level sorted by attribute, one range per attribute.
        std::vector<DWORD> faceOrder(lv.faces);
        std::iota(faceOrder.begin(), faceOrder.end(), 0u);
        const auto& attr = chainAttr[L];
        std::stable_sort(faceOrder.begin(), faceOrder.end(), [&](DWORD a, DWORD b) { return attr[a] < attr[b]; });
        for (DWORD i = 0; i < lv.faces; ++i) {
            const DWORD f = faceOrder[i];
            const DWORD id = attr[f];
            if (lv.table.empty() || lv.table.back().AttribId != id)
                lv.table.push_back(D3DXATTRIBUTERANGE{id, i, 0, 0xFFFFFFFFu, 0});
            D3DXATTRIBUTERANGE& r = lv.table.back();
            ++r.FaceCount;
            for (int k = 0; k < 3; ++k) {
                const DWORD v = newIndexOf[chain[L][(size_t)f * 3 + k]];
                data_.setIndex((size_t)at + (size_t)i * 3 + k, v);
                const DWORD end = r.VertexCount ? r.VertexStart + r.VertexCount : 0;
                const DWORD lo = std::min(r.VertexStart, v), hi = std::max(end, v + 1);
                r.VertexStart = lo;
                r.VertexCount = hi - lo;
            }
        }
        at += lv.faces * 3;
        levels_.push_back(std::move(lv));
    }
    data_.attributes.clear();
    current_ = 0;
    return D3D_OK;
}

HRESULT PMesh::DrawSubset(DWORD attribId) {
    if (!device_ || vbLocks_ || ibLocks_) return D3DERR_INVALIDCALL;
    if (vertsDirty_) {
        HRESULT hr = buffers_.uploadVertices(device_, data_.vertices.data(), data_.vertices.size(), data_.fvf);
        if (FAILED(hr)) return hr;
        vertsDirty_ = false;
    }
    if (indicesDirty_) {
        HRESULT hr = buffers_.uploadIndices(device_, data_.indices.data(), data_.indices.size(), data_.index32);
        if (FAILED(hr)) return hr;
        indicesDirty_ = false;
    }
    device_->SetFVF(data_.fvf);
    device_->SetStreamSource(0, buffers_.vb, 0, data_.layout.stride);
    device_->SetIndices(buffers_.ib);
    const Level& lv = level();
    for (const D3DXATTRIBUTERANGE& r : lv.table) {
        if (r.AttribId != attribId || r.FaceCount == 0) continue;
        HRESULT hr = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, r.VertexStart, r.VertexCount,
                                                   lv.firstIndex + r.FaceStart * 3, r.FaceCount);
        if (FAILED(hr)) return hr;
    }
    return D3D_OK;
}

HRESULT PMesh::CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** cloneMesh) {
    if (!cloneMesh) return D3DERR_INVALIDCALL;
    *cloneMesh = nullptr;
    const Level& lv = level();
    Mesh* m = nullptr;
    HRESULT hr = createMesh(lv.faces, lv.vertices, options, fvf, device, &m);
    if (FAILED(hr)) return hr;
    MeshData& d = m->data();
    // The level's vertices are a prefix of this mesh's.
    MeshData prefix;
    prefix.fvf = data_.fvf;
    prefix.layout = data_.layout;
    prefix.numVertices = lv.vertices;
    prefix.vertices.assign(data_.vertices.begin(), data_.vertices.begin() + (ptrdiff_t)lv.vertices * data_.layout.stride);
    d.convertVertices(prefix);
    for (size_t i = 0; i < (size_t)lv.faces * 3; ++i) d.setIndex(i, data_.index(lv.firstIndex + i));
    for (const D3DXATTRIBUTERANGE& r : lv.table)
        for (DWORD f = 0; f < r.FaceCount; ++f) d.attributes[r.FaceStart + f] = r.AttribId;
    d.attribTable = lv.table;
    m->markDirty();
    *cloneMesh = m;
    return D3D_OK;
}

HRESULT PMesh::ClonePMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXPMesh** cloneMesh) {
    if (!cloneMesh) return D3DERR_INVALIDCALL;
    *cloneMesh = nullptr;
    if (!device) return D3DERR_INVALIDCALL;
    HRESULT hr = validateMeshArgs(std::max<DWORD>(1, data_.numFaces), data_.numVertices, options, fvf);
    if (FAILED(hr)) return hr;
    PMesh* p = nullptr;
    try {
        p = new PMesh(device, options);
        if (!p->data_.allocate(data_.numFaces, data_.numVertices, fvf, (options & D3DXMESH_32BIT) != 0)) {
            p->Release();
            return E_OUTOFMEMORY;
        }
        p->data_.convertVertices(data_);
        for (size_t i = 0; i < (size_t)data_.numFaces * 3; ++i) p->data_.setIndex(i, data_.index(i));
        p->data_.attributes.clear();
        p->levels_ = levels_;
        p->current_ = current_;
    } catch (const std::bad_alloc&) {
        if (p) p->Release();
        return E_OUTOFMEMORY;
    }
    *cloneMesh = p;
    return D3D_OK;
}

} // namespace

} // namespace d3dx

using namespace d3dx;

HRESULT D3DXGeneratePMesh(ID3DXMesh* meshIn, const DWORD* adjacency, const D3DXATTRIBUTEWEIGHTS* vertexAttributeWeights,
                          const FLOAT* vertexWeights, DWORD minValue, DWORD options, ID3DXPMesh** pmesh) {
    (void)adjacency;     // meshoptimizer finds shared edges from positions itself
    (void)vertexWeights; // meshoptimizer 0.18 has no per-vertex weights
    if (!pmesh) return D3DERR_INVALIDCALL;
    *pmesh = nullptr;
    Mesh* src = meshIn ? toImpl(meshIn) : nullptr;
    if (!src || (options != D3DXMESHSIMP_VERTEX && options != D3DXMESHSIMP_FACE)) return D3DERR_INVALIDCALL;
    const MeshData& d = src->data();
    IDirect3DDevice9* device = nullptr;
    src->GetDevice(&device);
    PMesh* p = nullptr;
    HRESULT hr = D3D_OK;
    try {
        const std::vector<uint32_t> idx = d.indices32();
        for (uint32_t i : idx)
            if (i >= d.numVertices) {
                if (device) device->Release();
                return D3DERR_INVALIDCALL;
            }
        // Only the first record counts (one weight set for all vertices); a
        // boundary weight above the default keeps open borders in place.
        const bool lockBorder = vertexAttributeWeights && vertexAttributeWeights->Boundary > 1.0f;
        p = new PMesh(device, src->GetOptions());
        hr = p->build(d, idx, minValue, options, lockBorder);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (device) device->Release();
    if (FAILED(hr)) {
        if (p) p->Release();
        return hr;
    }
    *pmesh = p;
    return D3D_OK;
}
