// Mesh operations: adjacency, optimisation, welding, cleaning, validation,
// normals and bounds.
#include "port/d3dx9/meshimpl.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>
#include <string>
#include <unordered_map>

namespace d3dx {

// ---------------------------------------------------------------------------
// Point representatives and adjacency
// ---------------------------------------------------------------------------
std::vector<DWORD> pointRepsFromPositions(const MeshData& mesh, float epsilon) {
    const DWORD n = mesh.numVertices;
    std::vector<DWORD> reps(n);
    std::iota(reps.begin(), reps.end(), 0u);
    if (epsilon < 0.0f || n == 0) return reps;

    if (epsilon == 0.0f) {
        // Bit-identical positions: sort by the position bytes, then give each
        // group its lowest index.
        std::vector<DWORD> order(n);
        std::iota(order.begin(), order.end(), 0u);
        auto key = [&](DWORD v) {
            struct K { uint32_t x, y, z; } k;
            std::memcpy(&k, mesh.vertex(v), 12);
            return std::tuple<uint32_t, uint32_t, uint32_t>(k.x, k.y, k.z);
        };
        std::stable_sort(order.begin(), order.end(), [&](DWORD a, DWORD b) { return key(a) < key(b); });
        for (size_t i = 0; i < order.size();) {
            size_t j = i;
            const auto k = key(order[i]);
            while (j < order.size() && key(order[j]) == k) ++j;
            // stable sort keeps indices ascending inside a group
            for (size_t t = i; t < j; ++t) reps[order[t]] = order[i];
            i = j;
        }
        return reps;
    }

    // Closer than epsilon: a uniform grid with cells of epsilon, so only the
    // 27 surrounding cells can hold a match. Vertices are sorted by cell and
    // an open-addressing table maps each cell to its run of vertices.
    auto cellOf = [&](float c) -> int64_t {
        const double q = std::floor((double)c / epsilon);
        if (!(q > -1e15)) return (int64_t)-1e15; // NaN and huge values share an end cell
        if (q > 1e15) return (int64_t)1e15;
        return (int64_t)q;
    };
    auto cellKey = [](int64_t x, int64_t y, int64_t z) -> uint64_t {
        uint64_t h = (uint64_t)x * 0x9E3779B97F4A7C15ull;
        h ^= (uint64_t)y * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
        h ^= (uint64_t)z * 0x165667B19E3779F9ull + (h << 6) + (h >> 2);
        return h;
    };
    struct Entry {
        uint64_t key;
        DWORD vertex;
    };
    std::vector<Entry> sorted(n);
    std::vector<D3DXVECTOR3> pos(n);
    for (DWORD v = 0; v < n; ++v) {
        pos[v] = mesh.position(v);
        sorted[v] = {cellKey(cellOf(pos[v].x), cellOf(pos[v].y), cellOf(pos[v].z)), v};
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const Entry& a, const Entry& b) { return a.key != b.key ? a.key < b.key : a.vertex < b.vertex; });
    size_t cap = 16;
    while (cap < (size_t)n * 2) cap <<= 1;
    struct Slot {
        uint64_t key;
        uint32_t start, count; // count 0: empty
    };
    std::vector<Slot> table(cap, Slot{0, 0, 0});
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        while (j < sorted.size() && sorted[j].key == sorted[i].key) ++j;
        size_t at = (size_t)(sorted[i].key * 0xFF51AFD7ED558CCDull >> 17) & (cap - 1);
        while (table[at].count) at = (at + 1) & (cap - 1);
        table[at] = {sorted[i].key, (uint32_t)i, (uint32_t)(j - i)};
        i = j;
    }
    auto find = [&](uint64_t key) -> const Slot* {
        size_t at = (size_t)(key * 0xFF51AFD7ED558CCDull >> 17) & (cap - 1);
        while (table[at].count) {
            if (table[at].key == key) return &table[at];
            at = (at + 1) & (cap - 1);
        }
        return nullptr;
    };
    std::vector<char> assigned(n, 0);
    const float eps2 = epsilon * epsilon;
    for (DWORD v = 0; v < n; ++v) {
        if (assigned[v]) continue;
        assigned[v] = 1;
        const D3DXVECTOR3 p = pos[v];
        const int64_t cx = cellOf(p.x), cy = cellOf(p.y), cz = cellOf(p.z);
        for (int64_t dx = -1; dx <= 1; ++dx)
            for (int64_t dy = -1; dy <= 1; ++dy)
                for (int64_t dz = -1; dz <= 1; ++dz) {
                    const Slot* s = find(cellKey(cx + dx, cy + dy, cz + dz));
                    if (!s) continue;
                    for (uint32_t k = s->start; k < s->start + s->count; ++k) {
                        const DWORD w = sorted[k].vertex;
                        if (w <= v || assigned[w]) continue;
                        const D3DXVECTOR3 q = pos[w] - p;
                        if (D3DXVec3LengthSq(&q) < eps2) {
                            reps[w] = v;
                            assigned[w] = 1;
                        }
                    }
                }
    }
    return reps;
}

void adjacencyFromPointReps(const std::vector<uint32_t>& indices, DWORD numFaces, const DWORD* reps,
                            DWORD* adjacency) {
    // Every edge between two different representatives, keyed by its
    // undirected pair. An edge a -> b of one face is paired with an unpaired
    // edge b -> a of another face, in face order; each edge is paired at most
    // once, so the result is mutual even where more than two faces share an
    // edge (the extra faces see an open edge there), for duplicated faces and
    // for faces that fold onto themselves.
    struct Edge {
        uint64_t key;     // low rep << 32 | high rep
        uint32_t face;
        uint8_t corner;
        bool forward;     // runs from the low rep to the high one
    };
    std::fill(adjacency, adjacency + (size_t)numFaces * 3, kNoNeighbour);
    std::vector<Edge> edges;
    edges.reserve((size_t)numFaces * 3);
    for (DWORD f = 0; f < numFaces; ++f)
        for (int k = 0; k < 3; ++k) {
            const uint64_t a = reps[indices[f * 3 + k]], b = reps[indices[f * 3 + (k + 1) % 3]];
            if (a == b) continue; // a collapsed edge has no neighbour
            edges.push_back({a < b ? (a << 32 | b) : (b << 32 | a), f, (uint8_t)k, a < b});
        }
    std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
        return x.key != y.key ? x.key < y.key : x.face != y.face ? x.face < y.face : x.corner < y.corner;
    });
    std::vector<const Edge*> forward, backward;
    for (size_t i = 0; i < edges.size();) {
        size_t j = i;
        forward.clear();
        backward.clear();
        for (; j < edges.size() && edges[j].key == edges[i].key; ++j)
            (edges[j].forward ? forward : backward).push_back(&edges[j]);
        // Both lists are in face order; a face never becomes its own neighbour.
        size_t b = 0;
        for (size_t f = 0; f < forward.size() && b < backward.size(); ++f) {
            if (backward[b]->face == forward[f]->face) {
                if (b + 1 >= backward.size()) break;
                std::swap(backward[b], backward[b + 1]);
            }
            const Edge& x = *forward[f];
            const Edge& y = *backward[b++];
            adjacency[(size_t)x.face * 3 + x.corner] = y.face;
            adjacency[(size_t)y.face * 3 + y.corner] = x.face;
        }
        i = j;
    }
}

namespace {

DWORD findRoot(std::vector<DWORD>& parent, DWORD v) {
    while (parent[v] != v) {
        parent[v] = parent[parent[v]];
        v = parent[v];
    }
    return v;
}

void unite(std::vector<DWORD>& parent, DWORD a, DWORD b) {
    a = findRoot(parent, a);
    b = findRoot(parent, b);
    // The lowest index stays the representative.
    if (a < b)
        parent[b] = a;
    else if (b < a)
        parent[a] = b;
}

} // namespace

std::vector<DWORD> pointRepsFromAdjacency(const std::vector<uint32_t>& indices, DWORD numFaces,
                                          DWORD numVertices, const DWORD* adjacency) {
    std::vector<DWORD> parent(numVertices);
    std::iota(parent.begin(), parent.end(), 0u);
    for (DWORD f = 0; f < numFaces; ++f)
        for (int k = 0; k < 3; ++k) {
            const DWORD g = adjacency[f * 3 + k];
            if (g == kNoNeighbour || g >= numFaces || g == f) continue;
            // The neighbour's edge pointing back at f runs the other way.
            for (int j = 0; j < 3; ++j) {
                if (adjacency[g * 3 + j] != f) continue;
                const uint32_t fa = indices[f * 3 + k], fb = indices[f * 3 + (k + 1) % 3];
                const uint32_t ga = indices[g * 3 + j], gb = indices[g * 3 + (j + 1) % 3];
                if (fa < numVertices && gb < numVertices) unite(parent, fa, gb);
                if (fb < numVertices && ga < numVertices) unite(parent, fb, ga);
                break;
            }
        }
    std::vector<DWORD> reps(numVertices);
    for (DWORD v = 0; v < numVertices; ++v) reps[v] = findRoot(parent, v);
    return reps;
}

// ---------------------------------------------------------------------------
// Optimisation
// ---------------------------------------------------------------------------
std::vector<D3DXATTRIBUTERANGE> buildAttributeTable(const MeshData& mesh) {
    std::vector<D3DXATTRIBUTERANGE> table;
    DWORD f = 0;
    while (f < mesh.numFaces) {
        const DWORD id = mesh.attributes[f];
        D3DXATTRIBUTERANGE r{id, f, 0, 0, 0};
        DWORD lo = 0xFFFFFFFFu, hi = 0;
        while (f < mesh.numFaces && mesh.attributes[f] == id) {
            for (int k = 0; k < 3; ++k) {
                const DWORD v = mesh.index((size_t)f * 3 + k);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            ++r.FaceCount;
            ++f;
        }
        r.VertexStart = lo;
        r.VertexCount = hi - lo + 1;
        table.push_back(r);
    }
    return table;
}

namespace {

// Reorders the faces of [begin, end) of order for the post-transform cache.
void cacheOrder(const std::vector<uint32_t>& indices, DWORD numVertices, std::vector<DWORD>& order, size_t begin,
                size_t end) {
    const size_t count = end - begin;
    if (count < 2) return;
    std::vector<uint32_t> src(count * 3), dst(count * 3);
    for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k) src[i * 3 + k] = indices[(size_t)order[begin + i] * 3 + k];
    meshopt_optimizeVertexCache(dst.data(), src.data(), src.size(), numVertices);
    // meshoptimizer emits the same triangles, reordered: find each one again.
    struct Tri {
        uint32_t a, b, c;
        bool operator==(const Tri& o) const { return a == o.a && b == o.b && c == o.c; }
    };
    struct TriHash {
        size_t operator()(const Tri& t) const {
            return (size_t)(t.a * 2654435761u) ^ (size_t)(t.b * 40503u) ^ ((size_t)t.c << 16);
        }
    };
    std::unordered_multimap<Tri, DWORD, TriHash> lookup;
    lookup.reserve(count);
    for (size_t i = 0; i < count; ++i) lookup.emplace(Tri{src[i * 3], src[i * 3 + 1], src[i * 3 + 2]}, order[begin + i]);
    std::vector<DWORD> reordered;
    reordered.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        // A triangle may come back rotated; try its three rotations.
        const uint32_t a = dst[i * 3], b = dst[i * 3 + 1], c = dst[i * 3 + 2];
        const Tri rots[3] = {{a, b, c}, {b, c, a}, {c, a, b}};
        bool found = false;
        for (const Tri& t : rots) {
            auto it = lookup.find(t);
            if (it != lookup.end()) {
                reordered.push_back(it->second);
                lookup.erase(it);
                found = true;
                break;
            }
        }
        if (!found) return; // never expected; keep the previous order
    }
    std::copy(reordered.begin(), reordered.end(), order.begin() + (ptrdiff_t)begin);
}

} // namespace

HRESULT optimizeMeshData(MeshData& mesh, DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut,
                         DWORD* faceRemap, std::vector<DWORD>* vertexRemap) {
    if (flags == 0) return D3DERR_INVALIDCALL;
    if ((flags & D3DXMESHOPT_VERTEXCACHE) && (flags & D3DXMESHOPT_STRIPREORDER)) return D3DERR_INVALIDCALL;
    const DWORD F = mesh.numFaces, V = mesh.numVertices;
    try {
        const std::vector<uint32_t> indices = mesh.indices32();
        for (uint32_t i : indices)
            if (i >= V) return D3DERR_INVALIDCALL;
        std::vector<DWORD> adjIn;
        if (adjacencyIn) adjIn.assign(adjacencyIn, adjacencyIn + (size_t)F * 3);

        // New face order (new -> old).
        std::vector<DWORD> order(F);
        std::iota(order.begin(), order.end(), 0u);
        const bool reorderFaces = (flags & (D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER)) != 0;
        if (reorderFaces) {
            std::stable_sort(order.begin(), order.end(),
                             [&](DWORD a, DWORD b) { return mesh.attributes[a] < mesh.attributes[b]; });
            if (flags & (D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER)) {
                size_t s = 0;
                while (s < F) {
                    size_t e = s;
                    while (e < F && mesh.attributes[order[e]] == mesh.attributes[order[s]]) ++e;
                    cacheOrder(indices, V, order, s, e);
                    s = e;
                }
            }
        }
        std::vector<DWORD> oldToNewFace(F);
        for (DWORD n = 0; n < F; ++n) oldToNewFace[order[n]] = n;

        std::vector<uint32_t> newIndices((size_t)F * 3);
        std::vector<DWORD> newAttr(F);
        for (DWORD n = 0; n < F; ++n) {
            for (int k = 0; k < 3; ++k) newIndices[(size_t)n * 3 + k] = indices[(size_t)order[n] * 3 + k];
            newAttr[n] = mesh.attributes[order[n]];
        }

        // Vertex order (new -> old).
        std::vector<DWORD> vOrder;
        DWORD newV = V;
        if ((flags & D3DXMESHOPT_COMPACT) && !(flags & D3DXMESHOPT_IGNOREVERTS)) {
            std::vector<DWORD> oldToNew(V, kNoNeighbour);
            if (reorderFaces && (flags & D3DXMESHOPT_VERTEXCACHE)) {
                // First use in the new face order keeps fetches sequential.
                for (uint32_t v : newIndices)
                    if (oldToNew[v] == kNoNeighbour) {
                        oldToNew[v] = (DWORD)vOrder.size();
                        vOrder.push_back(v);
                    }
            } else {
                std::vector<char> used(V, 0);
                for (uint32_t v : newIndices) used[v] = 1;
                for (DWORD v = 0; v < V; ++v)
                    if (used[v]) {
                        oldToNew[v] = (DWORD)vOrder.size();
                        vOrder.push_back(v);
                    }
            }
            newV = (DWORD)vOrder.size();
            for (uint32_t& v : newIndices) v = oldToNew[v];
            if (newV == 0) newV = 0;
        }

        if (!vOrder.empty() || newV != V) {
            std::vector<uint8_t> verts((size_t)newV * mesh.layout.stride);
            for (DWORD n = 0; n < newV; ++n)
                std::memcpy(verts.data() + (size_t)n * mesh.layout.stride, mesh.vertex(vOrder[n]), mesh.layout.stride);
            mesh.vertices.swap(verts);
            mesh.numVertices = newV;
        }
        mesh.setIndices32(newIndices);
        mesh.attributes.swap(newAttr);
        if (reorderFaces) mesh.attribTable = buildAttributeTable(mesh);

        if (adjacencyOut) {
            for (DWORD n = 0; n < F; ++n)
                for (int k = 0; k < 3; ++k) {
                    DWORD g = adjacencyIn ? adjIn[(size_t)order[n] * 3 + k] : kNoNeighbour;
                    adjacencyOut[(size_t)n * 3 + k] = (g < F) ? oldToNewFace[g] : kNoNeighbour;
                }
        }
        if (faceRemap)
            for (DWORD f = 0; f < F; ++f) faceRemap[f] = oldToNewFace[f];
        if (vertexRemap) {
            vertexRemap->assign(V, kNoNeighbour);
            if (vOrder.empty() && newV == V)
                std::iota(vertexRemap->begin(), vertexRemap->end(), 0u);
            else
                std::copy(vOrder.begin(), vOrder.end(), vertexRemap->begin());
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

} // namespace d3dx

using namespace d3dx;

// ---------------------------------------------------------------------------
// Bounds
// ---------------------------------------------------------------------------
HRESULT D3DXComputeBoundingBox(const D3DXVECTOR3* firstPosition, DWORD numVertices, DWORD stride,
                               D3DXVECTOR3* min, D3DXVECTOR3* max) {
    if (!firstPosition || !min || !max || numVertices == 0) return D3DERR_INVALIDCALL;
    const uint8_t* base = reinterpret_cast<const uint8_t*>(firstPosition);
    D3DXVECTOR3 lo, hi;
    std::memcpy(&lo, base, sizeof lo);
    hi = lo;
    for (DWORD i = 1; i < numVertices; ++i) {
        D3DXVECTOR3 p;
        std::memcpy(&p, base + (size_t)i * stride, sizeof p);
        D3DXVec3Minimize(&lo, &lo, &p);
        D3DXVec3Maximize(&hi, &hi, &p);
    }
    *min = lo;
    *max = hi;
    return D3D_OK;
}

HRESULT D3DXComputeBoundingSphere(const D3DXVECTOR3* firstPosition, DWORD numVertices, DWORD stride,
                                  D3DXVECTOR3* center, FLOAT* radius) {
    if (!firstPosition || !center || !radius || numVertices == 0) return D3DERR_INVALIDCALL;
    const uint8_t* base = reinterpret_cast<const uint8_t*>(firstPosition);
    D3DXVECTOR3 sum(0, 0, 0);
    for (DWORD i = 0; i < numVertices; ++i) {
        D3DXVECTOR3 p;
        std::memcpy(&p, base + (size_t)i * stride, sizeof p);
        sum += p;
    }
    const D3DXVECTOR3 c = sum / (float)numVertices;
    float r2 = 0.0f;
    for (DWORD i = 0; i < numVertices; ++i) {
        D3DXVECTOR3 p;
        std::memcpy(&p, base + (size_t)i * stride, sizeof p);
        const D3DXVECTOR3 d = p - c;
        r2 = std::max(r2, D3DXVec3LengthSq(&d));
    }
    *center = c;
    *radius = std::sqrt(r2);
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Normals
// ---------------------------------------------------------------------------
HRESULT D3DXComputeNormals(ID3DXBaseMesh* baseMesh, const DWORD* adjacency) {
    Mesh* mesh = baseMesh ? toImpl(baseMesh) : nullptr;
    if (!mesh) return D3DERR_INVALIDCALL;
    MeshData& d = mesh->data();
    if (d.layout.normal == FvfLayout::npos) return D3DERR_INVALIDCALL;
    try {
        const std::vector<uint32_t> idx = d.indices32();
        for (uint32_t i : idx)
            if (i >= d.numVertices) return D3DERR_INVALIDCALL;
        std::vector<DWORD> reps;
        if (adjacency)
            reps = pointRepsFromAdjacency(idx, d.numFaces, d.numVertices, adjacency);
        else {
            reps.resize(d.numVertices);
            std::iota(reps.begin(), reps.end(), 0u);
        }
        std::vector<D3DXVECTOR3> acc(d.numVertices, D3DXVECTOR3(0, 0, 0));
        for (DWORD f = 0; f < d.numFaces; ++f) {
            const uint32_t v[3] = {idx[f * 3], idx[f * 3 + 1], idx[f * 3 + 2]};
            const D3DXVECTOR3 p[3] = {d.position(v[0]), d.position(v[1]), d.position(v[2])};
            D3DXVECTOR3 e1 = p[1] - p[0], e2 = p[2] - p[0], n;
            D3DXVec3Cross(&n, &e1, &e2);
            D3DXVec3Normalize(&n, &n);
            for (int k = 0; k < 3; ++k) {
                // Weight by the triangle's interior angle at this corner.
                D3DXVECTOR3 a = p[(k + 1) % 3] - p[k], b = p[(k + 2) % 3] - p[k];
                D3DXVec3Normalize(&a, &a);
                D3DXVec3Normalize(&b, &b);
                const float c = std::clamp(D3DXVec3Dot(&a, &b), -1.0f, 1.0f);
                const float w = std::acos(c);
                if (std::isfinite(w)) acc[reps[v[k]]] += n * w;
            }
        }
        for (DWORD v = 0; v < d.numVertices; ++v) {
            D3DXVECTOR3 n;
            D3DXVec3Normalize(&n, &acc[reps[v]]);
            std::memcpy(d.vertex(v) + d.layout.normal, &n, sizeof n);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    mesh->markDirty();
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Welding
// ---------------------------------------------------------------------------
namespace {

// Compares one element; within epsilon it takes the representative's value.
bool weldFloats(uint8_t* v, const uint8_t* r, UINT off, UINT count, float eps, bool partial) {
    if (off == FvfLayout::npos) return true;
    float a[4], b[4];
    std::memcpy(a, v + off, count * 4);
    std::memcpy(b, r + off, count * 4);
    for (UINT i = 0; i < count; ++i)
        if (!(std::fabs(a[i] - b[i]) <= eps)) return false;
    if (partial) std::memcpy(v + off, r + off, count * 4);
    return true;
}

bool weldColor(uint8_t* v, const uint8_t* r, UINT off, float eps, bool partial) {
    if (off == FvfLayout::npos) return true;
    for (int i = 0; i < 4; ++i)
        if (!(std::fabs((float)v[off + i] - (float)r[off + i]) <= eps * 255.0f)) return false;
    if (partial) std::memcpy(v + off, r + off, 4);
    return true;
}

} // namespace

HRESULT D3DXWeldVertices(ID3DXMesh* meshIn, DWORD flags, const D3DXWELDEPSILONS* epsilons, const DWORD* adjacencyIn,
                         DWORD* adjacencyOut, DWORD* faceRemap, ID3DXBuffer** vertexRemap) {
    Mesh* mesh = meshIn ? toImpl(meshIn) : nullptr;
    if (!mesh) return D3DERR_INVALIDCALL;
    if (vertexRemap) *vertexRemap = nullptr;
    if (flags == 0) flags = D3DXWELDEPSILONS_WELDPARTIALMATCHES;
    D3DXWELDEPSILONS eps;
    if (epsilons) {
        eps = *epsilons;
    } else {
        FLOAT* all = &eps.Position;
        for (size_t i = 0; i < sizeof eps / sizeof(FLOAT); ++i) all[i] = 1.0e-6f;
    }
    MeshData& d = mesh->data();
    const FvfLayout& l = d.layout;
    const DWORD F = d.numFaces;
    try {
        std::vector<uint32_t> idx = d.indices32();
        for (uint32_t i : idx)
            if (i >= d.numVertices) return D3DERR_INVALIDCALL;
        std::vector<DWORD> adj((size_t)F * 3);
        if (adjacencyIn) {
            std::copy(adjacencyIn, adjacencyIn + adj.size(), adj.begin());
        } else {
            const std::vector<DWORD> r = pointRepsFromPositions(d, 1.0e-6f);
            adjacencyFromPointReps(idx, F, r.data(), adj.data());
        }
        const std::vector<DWORD> reps = pointRepsFromAdjacency(idx, F, d.numVertices, adj.data());

        // Attribute of the first face using each vertex, for the split rule.
        std::vector<DWORD> vertexAttr(d.numVertices, kNoNeighbour);
        for (DWORD f = 0; f < F; ++f)
            for (int k = 0; k < 3; ++k)
                if (vertexAttr[idx[f * 3 + k]] == kNoNeighbour) vertexAttr[idx[f * 3 + k]] = d.attributes[f];

        const bool weldAll = (flags & D3DXWELDEPSILONS_WELDALL) != 0;
        const bool partial = (flags & D3DXWELDEPSILONS_WELDPARTIALMATCHES) != 0;
        const bool keepVerts = (flags & D3DXWELDEPSILONS_DONOTREMOVEVERTICES) != 0;
        const bool noSplit = (flags & D3DXWELDEPSILONS_DONOTSPLIT) != 0;
        const UINT blendFloats = (l.positionSize - 12) / 4;
        for (DWORD f = 0; f < F; ++f)
            for (int k = 0; k < 3; ++k) {
                uint32_t& corner = idx[f * 3 + k];
                const DWORD rep = reps[corner];
                if (rep == corner) continue;
                bool match = true;
                if (!weldAll) {
                    uint8_t* v = d.vertex(corner);
                    const uint8_t* r = d.vertex(rep);
                    // Every element is compared (and, for partial matches, copied) on its own.
                    match &= weldFloats(v, r, 0, 3, eps.Position, partial);
                    match &= weldFloats(v, r, 12, blendFloats, eps.BlendWeights, partial);
                    match &= weldFloats(v, r, l.normal, 3, eps.Normal, partial);
                    match &= weldFloats(v, r, l.psize, 1, eps.PSize, partial);
                    match &= weldColor(v, r, l.diffuse, eps.Diffuse, partial);
                    match &= weldColor(v, r, l.specular, eps.Specular, partial);
                    for (UINT t = 0; t < l.texCount; ++t)
                        match &= weldFloats(v, r, l.tex[t], l.texFloats[t], eps.Texcoord[t], partial);
                }
                if (match && !keepVerts && (noSplit || vertexAttr[rep] == d.attributes[f])) corner = rep;
            }
        d.setIndices32(idx);
        mesh->markDirty();

        std::vector<DWORD> remap;
        HRESULT hr = optimizeMeshData(d, D3DXMESHOPT_COMPACT, nullptr, nullptr, nullptr, &remap);
        if (FAILED(hr)) return hr;
        if (adjacencyOut) std::copy(adj.begin(), adj.end(), adjacencyOut);
        if (faceRemap) std::iota(faceRemap, faceRemap + F, 0u);
        if (vertexRemap) {
            *vertexRemap = makeDwordBuffer(remap.data(), remap.size());
            if (!*vertexRemap) return E_OUTOFMEMORY;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Cleaning and validation
// ---------------------------------------------------------------------------
namespace {

ID3DXBuffer* textBuffer(const std::string& text) {
    try {
        auto* b = new Buffer(text.size() + 1);
        std::memcpy(b->GetBufferPointer(), text.c_str(), text.size() + 1);
        return b;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Faces around every vertex, stored flat: vertex v's faces are
// faces[start[v] .. start[v + 1]).
struct VertexFaces {
    std::vector<uint32_t> start, faces;
};

VertexFaces facesPerVertex(const std::vector<uint32_t>& idx, DWORD F, DWORD V) {
    VertexFaces out;
    out.start.assign((size_t)V + 1, 0);
    for (DWORD f = 0; f < F; ++f)
        for (int k = 0; k < 3; ++k) {
            const uint32_t v = idx[f * 3 + k];
            // A face naming the vertex twice is listed once.
            if (v < V && (k == 0 || (idx[f * 3] != v && (k == 1 || idx[f * 3 + 1] != v)))) ++out.start[v + 1];
        }
    for (DWORD v = 0; v < V; ++v) out.start[v + 1] += out.start[v];
    out.faces.resize(out.start[V]);
    std::vector<uint32_t> fill(out.start.begin(), out.start.end() - 1);
    for (DWORD f = 0; f < F; ++f)
        for (int k = 0; k < 3; ++k) {
            const uint32_t v = idx[f * 3 + k];
            if (v < V && (k == 0 || (idx[f * 3] != v && (k == 1 || idx[f * 3 + 1] != v)))) out.faces[fill[v]++] = f;
        }
    return out;
}

// Groups the faces around vertex v into fans (faces joined across edges
// through v); group[i] is the fan number of faces[i], fans numbered from 0
// in order of their first face. Returns the number of fans.
size_t fansAround(const std::vector<uint32_t>& idx, const uint32_t* faces, size_t count, const DWORD* adj, DWORD F,
                  uint32_t v, std::vector<DWORD>& parent, std::vector<DWORD>& group) {
    parent.resize(count);
    std::iota(parent.begin(), parent.end(), 0u);
    for (size_t i = 0; i < count; ++i) {
        const DWORD f = faces[i];
        for (int k = 0; k < 3; ++k) {
            const DWORD g = adj[f * 3 + k];
            if (g == kNoNeighbour || g >= F) continue;
            // Only edges through v join fans.
            if (idx[f * 3 + k] != v && idx[f * 3 + (k + 1) % 3] != v) continue;
            const uint32_t* at = std::find(faces, faces + count, g);
            if (at != faces + count) unite(parent, (DWORD)i, (DWORD)(at - faces));
        }
    }
    group.assign(count, kNoNeighbour);
    size_t fans = 0;
    std::vector<DWORD> number(count, kNoNeighbour);
    for (size_t i = 0; i < count; ++i) {
        const DWORD root = findRoot(parent, (DWORD)i);
        if (number[root] == kNoNeighbour) number[root] = (DWORD)fans++;
        group[i] = number[root];
    }
    return fans;
}

bool adjacencyValid(const DWORD* adj, DWORD F, std::string& why) {
    for (DWORD f = 0; f < F; ++f)
        for (int k = 0; k < 3; ++k) {
            const DWORD g = adj[f * 3 + k];
            if (g == kNoNeighbour) continue;
            if (g >= F) {
                why += "adjacency of face " + std::to_string(f) + " names a face out of range\n";
                return false;
            }
            if (adj[g * 3] != f && adj[g * 3 + 1] != f && adj[g * 3 + 2] != f) {
                why += "faces " + std::to_string(f) + " and " + std::to_string(g) + " are not mutually adjacent\n";
                return false;
            }
        }
    return true;
}

} // namespace

HRESULT D3DXCleanMesh(D3DXCLEANTYPE cleanType, ID3DXMesh* meshIn, const DWORD* adjacencyIn, ID3DXMesh** meshOut,
                      DWORD* adjacencyOut, ID3DXBuffer** errorsAndWarnings) {
    if (errorsAndWarnings) *errorsAndWarnings = nullptr;
    Mesh* src = meshIn ? toImpl(meshIn) : nullptr;
    if (!src || !meshOut) return D3DERR_INVALIDCALL;
    *meshOut = nullptr;
    const MeshData& s = src->data();
    const DWORD F = s.numFaces;
    try {
        std::vector<uint32_t> idx = s.indices32();
        for (uint32_t i : idx)
            if (i >= s.numVertices) {
                if (errorsAndWarnings) *errorsAndWarnings = textBuffer("index out of range\n");
                return D3DXERR_INVALIDMESH;
            }
        std::vector<DWORD> adj((size_t)F * 3);
        if (adjacencyIn) {
            std::copy(adjacencyIn, adjacencyIn + adj.size(), adj.begin());
            std::string why;
            if (!adjacencyValid(adj.data(), F, why)) {
                if (errorsAndWarnings) *errorsAndWarnings = textBuffer(why);
                return D3DXERR_INVALIDMESH;
            }
        } else {
            const std::vector<DWORD> r = pointRepsFromPositions(s, 0.0f);
            adjacencyFromPointReps(idx, F, r.data(), adj.data());
        }

        // New vertices are copies of old ones (dup[i] = source vertex).
        std::vector<DWORD> dup;
        const DWORD V = s.numVertices;
        auto addCopy = [&](uint32_t v) -> uint32_t {
            dup.push_back(v);
            return V + (uint32_t)dup.size() - 1;
        };

        if (cleanType & D3DXCLEAN_BACKFACING) {
            // Two faces over the same three vertices wound oppositely would share
            // every edge; give the later one its own vertices.
            // Faces sorted by their corner set: candidates are neighbours in that order.
            struct Key {
                uint32_t a, b, c;
                DWORD face;
            };
            std::vector<Key> keys;
            keys.reserve(F);
            for (DWORD f = 0; f < F; ++f) {
                uint32_t v[3] = {idx[f * 3], idx[f * 3 + 1], idx[f * 3 + 2]};
                if (v[0] == v[1] || v[1] == v[2] || v[0] == v[2]) continue;
                std::sort(v, v + 3);
                keys.push_back({v[0], v[1], v[2], f});
            }
            std::sort(keys.begin(), keys.end(), [](const Key& x, const Key& y) {
                return std::tie(x.a, x.b, x.c, x.face) < std::tie(y.a, y.b, y.c, y.face);
            });
            const std::vector<uint32_t> original = idx;
            auto opposite = [&](DWORD f, DWORD g) {
                for (int r = 0; r < 3; ++r)
                    if (original[g * 3] == original[f * 3 + r] && original[g * 3 + 1] == original[f * 3 + (r + 2) % 3] &&
                        original[g * 3 + 2] == original[f * 3 + (r + 1) % 3])
                        return true;
                return false;
            };
            for (size_t i = 0; i < keys.size();) {
                size_t j = i;
                while (j < keys.size() && keys[j].a == keys[i].a && keys[j].b == keys[i].b && keys[j].c == keys[i].c) ++j;
                // Within a group (in face order), a face facing against an earlier one gets its own vertices.
                for (size_t x = i + 1; x < j; ++x) {
                    const DWORD f = keys[x].face;
                    bool split = false;
                    for (size_t y = i; y < x; ++y) {
                        const DWORD g = keys[y].face;
                        if (!opposite(f, g)) continue;
                        split = true;
                        // The pair no longer shares edges.
                        for (int k = 0; k < 3; ++k) {
                            if (adj[f * 3 + k] == g) adj[f * 3 + k] = kNoNeighbour;
                            if (adj[g * 3 + k] == f) adj[g * 3 + k] = kNoNeighbour;
                        }
                    }
                    if (split)
                        for (int k = 0; k < 3; ++k) idx[f * 3 + k] = addCopy(idx[f * 3 + k]);
                }
                i = j;
            }
        }

        if (cleanType & D3DXCLEAN_BOWTIES) {
            const DWORD total = V + (DWORD)dup.size();
            const VertexFaces around = facesPerVertex(idx, F, total);
            std::vector<DWORD> parent, group;
            for (DWORD v = 0; v < total; ++v) {
                const size_t count = around.start[v + 1] - around.start[v];
                if (count < 2) continue;
                const uint32_t* faces = around.faces.data() + around.start[v];
                const size_t fans = fansAround(idx, faces, count, adj.data(), F, v, parent, group);
                // The first fan keeps the vertex; every further fan gets a copy.
                for (size_t fan = 1; fan < fans; ++fan) {
                    const uint32_t copy = addCopy(v < V ? v : dup[v - V]);
                    for (size_t i = 0; i < count; ++i) {
                        if (group[i] != fan) continue;
                        for (int k = 0; k < 3; ++k)
                            if (idx[faces[i] * 3 + k] == v) idx[faces[i] * 3 + k] = copy;
                    }
                }
            }
        }

        const DWORD newV = V + (DWORD)dup.size();
        DWORD options = src->GetOptions();
        if (newV > 0x10000u) options |= D3DXMESH_32BIT;
        IDirect3DDevice9* device = nullptr;
        src->GetDevice(&device);
        Mesh* out = nullptr;
        HRESULT hr = createMesh(F, newV, options, s.fvf, device, &out);
        if (device) device->Release();
        if (FAILED(hr)) return hr;
        MeshData& d = out->data();
        std::memcpy(d.vertices.data(), s.vertices.data(), s.vertices.size());
        for (size_t i = 0; i < dup.size(); ++i)
            std::memcpy(d.vertex(V + (DWORD)i), s.vertex(dup[i]), s.layout.stride);
        d.setIndices32(idx);
        d.attributes = s.attributes;
        d.attribTable = s.attribTable;
        for (D3DXATTRIBUTERANGE& r : d.attribTable) {
            // Split vertices lie past the old ranges; widen them to the end.
            if (!dup.empty()) r.VertexCount = newV - r.VertexStart;
        }
        if (adjacencyOut) std::copy(adj.begin(), adj.end(), adjacencyOut);
        *meshOut = out;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT D3DXValidMesh(ID3DXMesh* meshIn, const DWORD* adjacency, ID3DXBuffer** errorsAndWarnings) {
    if (errorsAndWarnings) *errorsAndWarnings = nullptr;
    Mesh* mesh = meshIn ? toImpl(meshIn) : nullptr;
    if (!mesh) return D3DERR_INVALIDCALL;
    const MeshData& d = mesh->data();
    std::string why;
    try {
        const std::vector<uint32_t> idx = d.indices32();
        for (size_t i = 0; i < idx.size(); ++i)
            if (idx[i] >= d.numVertices) {
                why += "face " + std::to_string(i / 3) + " uses a vertex out of range\n";
                break;
            }
        if (why.empty() && adjacency) {
            if (adjacencyValid(adjacency, d.numFaces, why)) {
                const VertexFaces around = facesPerVertex(idx, d.numFaces, d.numVertices);
                std::vector<DWORD> parent, group;
                for (DWORD v = 0; v < d.numVertices; ++v) {
                    const size_t count = around.start[v + 1] - around.start[v];
                    if (count < 2) continue;
                    if (fansAround(idx, around.faces.data() + around.start[v], count, adjacency, d.numFaces, v, parent,
                                   group) > 1) {
                        why += "bowtie at vertex " + std::to_string(v) + "\n";
                        break;
                    }
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (why.empty()) return D3D_OK;
    if (errorsAndWarnings) *errorsAndWarnings = textBuffer(why);
    return D3DXERR_INVALIDMESH;
}
