#include "Render/Terrain/C_TerrainRoam.h"

#include <algorithm>
#include <cmath>

#include "Logger/Logger.h"
#include "Render/Terrain/TerrainVertex.h"

TW_REGISTER_CLASS(C_TerrainRoam)

// ---------------------------------------------------------------------------
// The shared mesh

C_TerrainRoam::C_Terrain& C_TerrainRoam::SharedTerrain()
{
    // Never destroyed: sections torn down late at exit may still sign off.
    // Its mesh, and the device that mesh holds, go with the last section.
    static auto* terrain = new C_Terrain;
    return *terrain;
}

C_TerrainRoam::C_Terrain::C_Terrain()
{
    Name = L"CommonRoamTerrain";
}

C_TerrainRoam::C_Terrain::~C_Terrain() = default;

void C_TerrainRoam::C_Terrain::Load(IDirect3DDevice9* device)
{
    if (Mesh || !device) return;
    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXCreateMeshFVF(SharedFaces, SharedVertices, D3DXMESH_32BIT | D3DXMESH_DYNAMIC | D3DXMESH_SYSTEMMEM,
                                 TerrainVertexFVF, device, &mesh)) ||
        !mesh) {
        LOG_WARNING(L"Не создана общая сетка ландшафта " << Name);
        return;
    }
    SetMesh(mesh);
    // Nothing is drawn before the first rebuild.
    const D3DXATTRIBUTERANGE none{0, 0, 0, 0, 0};
    Mesh->SetAttributeTable(&none, 1);
    UsedVertices = 0;
    UsedIndices = 0;
}

void C_TerrainRoam::C_Terrain::Draw(IDirect3DDevice9* device)
{
    const C_CommonData& common = CommonData();
    if (!Mesh || common.RenderPass != 0) return;
    // The sections stand at their place in the world already.
    if (device) {
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        device->SetTransform(D3DTS_WORLD, &identity);
    }
    Mesh->DrawSubset(0);
    Drawn = true;
    LastDrawTime = common.Time;
    LastDrawCamera = common.CurrentCamera;
}

void C_TerrainRoam::C_Terrain::Register(C_TerrainRoam* section)
{
    if (std::find(Sections.begin(), Sections.end(), section) == Sections.end()) Sections.push_back(section);
}

void C_TerrainRoam::C_Terrain::Forget(C_TerrainRoam* section)
{
    Sections.erase(std::remove(Sections.begin(), Sections.end(), section), Sections.end());
}

void C_TerrainRoam::C_Terrain::Rebuild()
{
    if (!Mesh || Sections.empty()) return;
    void* vertexData = nullptr;
    void* indexData = nullptr;
    if (FAILED(Mesh->LockVertexBuffer(0, &vertexData)) || !vertexData) return;
    if (FAILED(Mesh->LockIndexBuffer(0, &indexData)) || !indexData) {
        Mesh->UnlockVertexBuffer();
        return;
    }
    auto* vertices = static_cast<C_TerrainVertex*>(vertexData);
    auto* indices = static_cast<uint32_t*>(indexData);
    C_TerrainHeightMap::C_TerrainRawData& map = C_TerrainHeightMap::RawData();

    DWORD vertexBase = 0, indexBase = 0;
    for (C_TerrainRoam* section : Sections) {
        const C_Layout& l = section->Layout;
        const uint32_t n = l.NumVerticesAxis;
        const uint32_t m = l.NumCellsAxis;
        const DWORD vertexCount = n * n;
        const DWORD indexCount = 6 * m * m;
        if (vertexBase + vertexCount > SharedVertices || indexBase + indexCount > SharedIndices) {
            if (!section->ToldNoRoom)
                LOG_WARNING(L"Секция " << section->Name
                                       << L" не поместилась в общую сетку ландшафта: в кадре заняты "
                                       << vertexBase << L" вершин и " << indexBase << L" индексов");
            section->ToldNoRoom = true;
            continue;
        }
        // The section's corner at the low X and Y of its square.
        const float half = 0.5f * l.SliceSize * static_cast<float>(l.NumSlicesAxis);
        const float left = static_cast<float>(l.Column) * l.SliceSize - half;
        const float bottom = static_cast<float>(l.Row) * l.SliceSize - half;
        const float perN = 1.0f / static_cast<float>(n);
        for (DWORD f = 0; f < vertexCount; ++f) {
            const uint32_t column = f % n, row = f / n;
            const long mapColumn = section->OriginColumn + static_cast<long>(column);
            const long mapRow = section->OriginRow + static_cast<long>(row);
            C_TerrainVertex& v = vertices[vertexBase + f];
            v.x = left + static_cast<float>(column) * l.CellSize;
            v.y = bottom + static_cast<float>(row) * l.CellSize;
            v.z = l.HeightScale * (map.GetHeight(static_cast<unsigned long>(mapColumn),
                                                 static_cast<unsigned long>(mapRow)) -
                                   0.5f);
            SampleNormal(&C_TerrainHeightMap::CentredHeight, mapColumn, mapRow, l.HeightScale, l.CellSize, v.nx, v.ny,
                         v.nz);
            v.u = static_cast<float>(column) * perN;
            v.v = static_cast<float>(row) * perN;
        }
        // Column by column of cells; u is the cell's far corner.
        DWORD at = indexBase;
        for (uint32_t c = 0; c < m; ++c)
            for (uint32_t r = 0; r < m; ++r) {
                const DWORD u = vertexBase + n + 1 + c + r * n;
                indices[at++] = u - n - 1;
                indices[at++] = u - n;
                indices[at++] = u;
                indices[at++] = u - n - 1;
                indices[at++] = u;
                indices[at++] = u - 1;
            }
        vertexBase += vertexCount;
        indexBase += indexCount;
    }
    // What an earlier, larger frame wrote past this one reads as nothing.
    if (UsedIndices > indexBase) std::fill(indices + indexBase, indices + UsedIndices, 0u);
    Mesh->UnlockIndexBuffer();
    Mesh->UnlockVertexBuffer();

    const D3DXATTRIBUTERANGE used{0, 0, indexBase / 3, 0, vertexBase};
    Mesh->SetAttributeTable(&used, 1);
    UsedVertices = vertexBase;
    UsedIndices = indexBase;
    Sections.clear();
}

// ---------------------------------------------------------------------------
// C_TerrainRoam

C_TerrainRoam::C_TerrainRoam()
{
    ResourceLevel = 1;
    ResetRoots();
}

C_TerrainRoam::~C_TerrainRoam()
{
    SharedTerrain().Forget(this);
    LeaveSharedMesh();
}

void C_TerrainRoam::LeaveSharedMesh()
{
    if (!m_HoldsSharedMesh) return;
    m_HoldsSharedMesh = false;
    C_Terrain& shared = SharedTerrain();
    if (--shared.LoadedSections > 0) return;
    shared.LoadedSections = 0;
    shared.Sections.clear();
    shared.SetMesh(nullptr);
    shared.UsedVertices = 0;
    shared.UsedIndices = 0;
    C_Terrain::RebuildTimeSet = false;
    C_Terrain::Drawn = false;
    C_Terrain::LastDrawCamera = nullptr;
}

void C_TerrainRoam::Load(IDirect3DDevice9* device)
{
    Fits = false;
    ToldNoRoom = false;
    SharedTerrain().Forget(this);
    LoadHeightMap(GetField(0));
    C_TerrainMesh9::Load(device);
    if (Accepted) {
        const uint64_t vertices = Layout.Vertices();
        const uint64_t indices = 3 * Layout.Triangles();
        if (vertices > SharedVertices || indices > SharedIndices) {
            LOG_WARNING(L"Секция " << Name << L" больше общей сетки ландшафта: " << vertices << L" вершин и "
                                   << indices << L" индексов, в сетке " << SharedVertices << L" и " << SharedIndices);
        } else {
            Fits = true;
            OriginColumn = static_cast<int32_t>(Layout.OriginColumn());
            OriginRow = static_cast<int32_t>(Layout.OriginRow());
            const long last = static_cast<long>(Layout.NumCellsAxis);
            C_TerrainRawData& map = RawData();
            auto height = [&](long a, long b) {
                return map.GetHeight(static_cast<unsigned long>(OriginColumn + a),
                                     static_cast<unsigned long>(OriginRow + b));
            };
            Corners[0] = height(0, 0);
            Corners[1] = height(last, 0);
            Corners[2] = height(last, last);
            Corners[3] = height(0, last);
            // The culling sphere also holds the section's hills.
            float top = 0.0f;
            for (long b = 0; b <= last; ++b)
                for (long a = 0; a <= last; ++a)
                    top = std::max(top, std::fabs(Layout.HeightScale * (height(a, b) - 0.5f)));
            Radius = std::sqrt(Radius * Radius + top * top);
        }
    }
    C_Terrain& shared = SharedTerrain();
    if (!m_HoldsSharedMesh) {
        m_HoldsSharedMesh = true;
        ++shared.LoadedSections;
    }
    shared.Load(device);
    ResetRoots();
}

void C_TerrainRoam::ResetRoots()
{
    Roots[0] = C_TriangleNode{};
    Roots[1] = C_TriangleNode{};
    Roots[0].BaseNeighbour = &Roots[1];
    Roots[1].BaseNeighbour = &Roots[0];
    Roots[0].Corner[0] = Corners[0];
    Roots[0].Corner[1] = Corners[1];
    Roots[1].Corner[0] = Corners[2];
    Roots[1].Corner[1] = Corners[3];
}

void C_TerrainRoam::Draw(IDirect3DDevice9* device)
{
    const C_CommonData& common = CommonData();
    if (common.RenderPass != 0) return;
    C_Terrain& shared = SharedTerrain();
    if (!C_Terrain::RebuildTimeSet) {
        C_Terrain::RebuildTimeSet = true;
        C_Terrain::LastRebuildTime = common.Time;
    } else if (common.Time != C_Terrain::LastRebuildTime) {
        C_Terrain::LastRebuildTime = common.Time;
        shared.Rebuild();
        shared.Draw(device);
    } else if (C_Terrain::Drawn && C_Terrain::LastDrawTime == common.Time &&
               C_Terrain::LastDrawCamera != common.CurrentCamera) {
        // Another view of the same frame shows the same terrain.
        shared.Draw(device);
    }
    ResetRoots();
    if (Fits) shared.Register(this);
}

void C_TerrainRoam::Unload()
{
    SharedTerrain().Sections.clear();
    LeaveSharedMesh();
    Fits = false;
    C_TerrainMesh9::Unload();
}
