#include "Render/Terrain/C_TerrainSection2.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "Logger/Logger.h"
#include "Render/Terrain/TerrainVertex.h"

TW_REGISTER_CLASS(C_TerrainSection2)

C_TerrainSection2::C_TerrainSection2() { ResourceLevel = 1; }

C_TerrainSection2::~C_TerrainSection2()
{
    Release();
}

void C_TerrainSection2::Release()
{
    if (PMesh) PMesh->Release();
    PMesh = nullptr;
    Adjacency.clear();
    Adjacency.shrink_to_fit();
    LevelApplied = -1;
}

void C_TerrainSection2::Load(IDirect3DDevice9* device)
{
    Release();
    SetMesh(nullptr);
    LoadHeightMap(GetField(0));
    C_TerrainMesh9::Load(device);
    if (!Accepted) return;
    if (Layout.NumVerticesAxis > MaxVerticesAxis) {
        LOG_WARNING(L"Секция ландшафта " << Name << L" слишком велика: " << Layout.NumVerticesAxis
                                         << L" вершин на сторону, допустимо не больше " << MaxVerticesAxis);
        return;
    }
    const auto vertices = static_cast<DWORD>(Layout.Vertices());
    const auto faces = static_cast<DWORD>(Layout.Triangles());
    // 16-bit indices reach 65,536 vertices (256 per side); a 1025-sample map
    // in four sections has 257, so larger sections take 32-bit indices
    // instead of losing their last rows.
    DWORD options = D3DXMESH_DYNAMIC | D3DXMESH_SYSTEMMEM;
    if (vertices > 0x10000u) options |= D3DXMESH_32BIT;
    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXCreateMeshFVF(faces, vertices, options, TerrainVertexFVF, device, &mesh)) || !mesh) {
        LOG_WARNING(L"Не создана сетка секции ландшафта " << Name);
        return;
    }
    SetMesh(mesh);
    FillVertices();
    FillIndices();
    ComputeBounds();
    // The holder culls with this radius around its own position, the
    // section's centre, not around the centre of the vertices.
    Radius = std::max(Radius, FarthestVertex());
    CreateProgressiveMesh(device);
    SetMesh(nullptr);   // only the progressive mesh is drawn
}

void C_TerrainSection2::FillVertices()
{
    if (!Mesh) return;
    void* data = nullptr;
    if (FAILED(Mesh->LockVertexBuffer(D3DLOCK_DISCARD, &data)) || !data) return;
    auto* vertices = static_cast<C_TerrainVertex*>(data);
    FillTerrainGrid(vertices, Layout, &C_TerrainHeightMap::CentredHeight);
    Mesh->UnlockVertexBuffer();
}

float C_TerrainSection2::FarthestVertex()
{
    float farthest = 0.0f;
    void* data = nullptr;
    if (!Mesh || FAILED(Mesh->LockVertexBuffer(D3DLOCK_READONLY, &data)) || !data) return farthest;
    const auto* vertices = static_cast<const C_TerrainVertex*>(data);
    for (DWORD i = 0, count = Mesh->GetNumVertices(); i < count; ++i) {
        const C_TerrainVertex& v = vertices[i];
        farthest = std::max(farthest, v.x * v.x + v.y * v.y + v.z * v.z);
    }
    Mesh->UnlockVertexBuffer();
    return std::sqrt(farthest);
}

void C_TerrainSection2::FillIndices()
{
    if (!Mesh) return;
    void* data = nullptr;
    if (FAILED(Mesh->LockIndexBuffer(D3DLOCK_DISCARD, &data)) || !data) return;
    const bool wide = (Mesh->GetOptions() & D3DXMESH_32BIT) != 0;
    const uint32_t n = Layout.NumVerticesAxis;
    const uint32_t m = Layout.NumCellsAxis;
    std::size_t at = 0;
    auto put = [&](uint32_t index) {
        if (wide)
            static_cast<uint32_t*>(data)[at++] = index;
        else
            static_cast<uint16_t*>(data)[at++] = static_cast<uint16_t>(index);
    };
    for (uint32_t y = 0; y < m; ++y)
        for (uint32_t x = 0; x < m; ++x) {
            const uint32_t v = x + n * y;
            put(v);
            put(v + 1);
            put(v + n + 1);
            put(v);
            put(v + n + 1);
            put(v + n);
        }
    Mesh->UnlockIndexBuffer();
}

void C_TerrainSection2::CreateProgressiveMesh(IDirect3DDevice9*)
{
    if (!Mesh) return;
    const DWORD faces = Mesh->GetNumFaces();
    try {
        Adjacency.assign(static_cast<std::size_t>(faces) * 3, 0);
    } catch (const std::bad_alloc&) {
        LOG_WARNING(L"Не выделена память для m_pAdjacencyInfo " << Name);
        return;
    }
    if (FAILED(Mesh->GenerateAdjacency(0.001f, Adjacency.data()))) {
        LOG_WARNING(L"Не построена смежность граней секции ландшафта " << Name);
        return;
    }
    ID3DXMesh* cleaned = nullptr;
    if (SUCCEEDED(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, Mesh, Adjacency.data(), &cleaned, Adjacency.data(),
                                nullptr)) &&
        cleaned)
        SetMesh(cleaned);

    // The outline of a section stays whole at every level, so neighbouring
    // sections keep meeting without gaps whatever their detail.
    D3DXATTRIBUTEWEIGHTS weights{};
    weights.Position = 1.0f;
    weights.Boundary = 100000.0f;
    weights.Normal = 1.0f;
    ID3DXPMesh* progressive = nullptr;
    if (FAILED(D3DXGeneratePMesh(Mesh, Adjacency.data(), &weights, nullptr, faces / 36, D3DXMESHSIMP_FACE,
                                 &progressive)) ||
        !progressive) {
        LOG_WARNING(L"Не создана прогрессивная сетка секции ландшафта " << Name);
        return;
    }
    PMesh = progressive;
    LevelApplied = -1;
}

float C_TerrainSection2::CalcLevelOfDetail(C_BaseObject* owner)
{
    if (!PMesh) return 0.0f;
    const float d = owner ? owner->GetDistance(nullptr) : GetDistance(nullptr);
    const float steps = d / (3.0f * Layout.SliceSize);
    // Two steps or more (also NaN and infinite distances) give a level of 64
    // or more: not drawn.
    if (!(steps < 2.0f)) return 0.0f;
    const int32_t k = static_cast<int32_t>(steps < 0.0f ? 0.0f : steps) * 4;
    const int32_t level = k * k;
    LevelOfDetail = level;
    if (level >= 36) return 0.0f;
    if (level == LevelApplied) return 1.0f;
    PMesh->SetNumFaces(PMesh->GetMaxFaces() / static_cast<DWORD>(level + 1));
    LevelApplied = level;
    return 1.0f;
}

void C_TerrainSection2::Draw(IDirect3DDevice9*)
{
    if (PMesh && CommonData().RenderPass == 0) PMesh->DrawSubset(0);
}

void C_TerrainSection2::Unload()
{
    Release();
    C_TerrainMesh9::Unload();
}
