#include "Render/Resources/D3DXMESH9.h"

#include <cmath>
#include <new>
#include <vector>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "Render/Position/MeshObject.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_D3DXMESH9_BOX)
TW_REGISTER_CLASS(C_D3DXMESH9_CYLINDER)
TW_REGISTER_CLASS(C_D3DXMESH9_SPHERE)

namespace {

// Position, normal, one texture coordinate: the layout of every textured
// generated shape.
struct TexturedVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
static_assert(sizeof(TexturedVertex) == 32);

constexpr DWORD TexturedFVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

// a / b, or 0 where b is 0: a degenerate shape (a cone's point, a flat
// cylinder) gets finite texture coordinates instead of NaNs.
float Ratio(float a, float b)
{
    return b != 0.0f ? a / b : 0.0f;
}

} // namespace

C_BaseResource* RequestResource(const wchar_t* className, const std::wstring& name, const std::wstring& value,
                                IDirect3DDevice9* device)
{
    C_ResManager& managers = C_ResManager::Instance();
    const bool existed = !name.empty() && managers.GetResource(name.c_str(), className, false) != nullptr;
    C_BaseResource* resource = managers.AddResource(className, name.c_str(), value.c_str());
    if (resource && !existed && (C_ResManager::CurrentDevice || managers.LoadIndex == 0)) resource->Load(device);
    return resource;
}

// ---------------------------------------------------------------------------
// C_D3DXMESH9

C_D3DXMESH9::C_D3DXMESH9() = default;

C_D3DXMESH9::~C_D3DXMESH9()
{
    SetMesh(nullptr);
    C_MeshObject::ForgetMesh(this);
}

void C_D3DXMESH9::SetMesh(ID3DXMesh* mesh)
{
    if (Mesh == mesh) return;
    if (Mesh) Mesh->Release();
    Mesh = mesh;
}

void C_D3DXMESH9::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    if (!Mesh) return;
    CleanUp();
}

void C_D3DXMESH9::CleanUp()
{
    std::vector<DWORD> adjacency;
    try {
        adjacency.resize(static_cast<std::size_t>(Mesh->GetNumFaces()) * 3);
    } catch (const std::bad_alloc&) {
        LOG_WARNING(L"Не выделена память для adjacencyInfo " << Name);
        return;
    }
    if (FAILED(Mesh->GenerateAdjacency(0.001f, adjacency.data()))) return;

    D3DXWELDEPSILONS epsilons{};
    epsilons.Position = 0.1f;
    D3DXWeldVertices(Mesh, D3DXWELDEPSILONS_WELDPARTIALMATCHES, &epsilons, adjacency.data(), adjacency.data(),
                     nullptr, nullptr);

    ID3DXMesh* cleaned = nullptr;
    if (SUCCEEDED(D3DXCleanMesh(D3DXCLEAN_BACKFACING, Mesh, adjacency.data(), &cleaned, adjacency.data(), nullptr)) &&
        cleaned)
        SetMesh(cleaned);

    D3DXValidMesh(Mesh, adjacency.data(), nullptr);
    Mesh->OptimizeInplace(D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE, adjacency.data(),
                          nullptr, nullptr, nullptr);
    ComputeBounds();
}

void C_D3DXMESH9::ComputeBounds()
{
    if (!Mesh) return;
    void* data = nullptr;
    if (FAILED(Mesh->LockVertexBuffer(D3DLOCK_READONLY, &data)) || !data) return;
    const auto* first = static_cast<const D3DXVECTOR3*>(data);
    const DWORD count = Mesh->GetNumVertices();
    const DWORD stride = Mesh->GetNumBytesPerVertex();

    D3DXVECTOR3 minimum(0.0f, 0.0f, 0.0f), maximum(0.0f, 0.0f, 0.0f);
    D3DXComputeBoundingBox(first, count, stride, &minimum, &maximum);
    D3DXVECTOR3 centre = (minimum + maximum) * 0.5f;
    float radius = 0.0f;
    if (FAILED(D3DXComputeBoundingSphere(first, count, stride, &centre, &radius))) radius = 0.0f;
    Mesh->UnlockVertexBuffer();

    Position = centre;
    Radius = std::fabs(radius);
    BoxMaxOffset = maximum - centre;
    BoxMinOffset = minimum - centre;
}

void C_D3DXMESH9::DrawWithQuery(ID3DXBaseMesh* mesh, uint32_t subsets)
{
    C_CommonData& common = CommonData();
    IDirect3DQuery9* query = common.OcclusionQuery;
    query->Issue(D3DISSUE_BEGIN);
    for (uint32_t i = 0; i < subsets; ++i) mesh->DrawSubset(i);
    query->Issue(D3DISSUE_END);
    common.VisiblePixels = 0;
    DWORD pixels = 0;
    HRESULT result;
    // S_FALSE: not counted yet. Anything else (the count, or a lost device)
    // ends the wait.
    while ((result = query->GetData(&pixels, sizeof pixels, D3DGETDATA_FLUSH)) == S_FALSE) {}
    if (result == S_OK) common.VisiblePixels = pixels;
}

void C_D3DXMESH9::Draw(IDirect3DDevice9*)
{
    if (!Mesh) return;
    const C_CommonData& common = CommonData();
    if (common.RenderPass == 1) {
        if (common.OcclusionQuery) DrawWithQuery(Mesh, 1);
    } else if (common.RenderPass == 0) {
        Mesh->DrawSubset(0);
    }
}

void C_D3DXMESH9::Unload()
{
    SetMesh(nullptr);
    C_BaseResource::Unload();
}

// ---------------------------------------------------------------------------
// Box

C_D3DXMESH9_BOX::C_D3DXMESH9_BOX() { ResourceLevel = 1; }

void C_D3DXMESH9_BOX::Load(IDirect3DDevice9* device)
{
    ID3DXMesh* mesh = nullptr;
    if (SUCCEEDED(D3DXCreateBox(device, ParameterString::ReadFloat(GetField(0)),
                                ParameterString::ReadFloat(GetField(1)), ParameterString::ReadFloat(GetField(2)),
                                &mesh, nullptr))) {
        SetMesh(mesh);
        ComputeTextureCoord(device);
    }
    C_D3DXMESH9::Load(device);
}

void C_D3DXMESH9_BOX::ComputeTextureCoord(IDirect3DDevice9* device)
{
    if (!Mesh) return;
    ID3DXMesh* textured = Mesh;
    if (!(Mesh->GetFVF() & D3DFVF_TEX1)) {
        textured = nullptr;
        if (FAILED(Mesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, Mesh->GetFVF() | D3DFVF_TEX1, device, &textured)) ||
            !textured) {
            LOG_WARNING(L"!pTempMesh");
            return;
        }
    }
    // The coordinates are the last two floats of each vertex.
    const DWORD stride = textured->GetNumBytesPerVertex();
    void* data = nullptr;
    if (SUCCEEDED(textured->LockVertexBuffer(0, &data)) && data) {
        static const float corner[4][2] = {{0.0f, 1.0f}, {0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}};
        auto* bytes = static_cast<unsigned char*>(data);
        const DWORD count = textured->GetNumVertices();
        for (DWORD i = 0; i < count; ++i) {
            auto* uv = reinterpret_cast<float*>(bytes + static_cast<std::size_t>(i) * stride + stride - 8);
            uv[0] = corner[i % 4][0];
            uv[1] = corner[i % 4][1];
        }
        textured->UnlockVertexBuffer();
    }
    SetMesh(textured);
}

// ---------------------------------------------------------------------------
// Cylinder

C_D3DXMESH9_CYLINDER::C_D3DXMESH9_CYLINDER() { ResourceLevel = 1; }

void C_D3DXMESH9_CYLINDER::Load(IDirect3DDevice9* device)
{
    Radius1 = ParameterString::ReadFloat(GetField(0));
    Radius2 = ParameterString::ReadFloat(GetField(1));
    Length = ParameterString::ReadFloat(GetField(2));
    Slices = ParameterString::ReadInt(GetField(3));

    ID3DXMesh* mesh = nullptr;
    // A negative count would wrap to a huge one: refuse it like a zero.
    if (Slices <= 0 || FAILED(D3DXCreateCylinder(device, Radius1, Radius2, Length, static_cast<UINT>(Slices),
                                                 static_cast<UINT>(Slices / 5 + 1), &mesh, nullptr)))
        return;
    SetMesh(mesh);
    ComputeTextureCoord(device);
    C_D3DXMESH9::Load(device);
}

void C_D3DXMESH9_CYLINDER::ComputeTextureCoord(IDirect3DDevice9* device)
{
    if (Mesh->GetFVF() & D3DFVF_TEX1) return;
    ID3DXMesh* textured = nullptr;
    if (FAILED(Mesh->CloneMeshFVF(D3DXMESH_MANAGED, TexturedFVF, device, &textured)) || !textured) return;

    void* data = nullptr;
    if (SUCCEEDED(textured->LockVertexBuffer(0, &data)) && data) {
        auto* vertices = static_cast<TexturedVertex*>(data);
        const DWORD count = textured->GetNumVertices();
        const DWORD ring = static_cast<DWORD>(Slices) + 1;   // cap centre and its ring
        for (DWORD i = 0; i < count; ++i) {
            TexturedVertex& v = vertices[i];
            if (i < ring) {
                v.u = (Ratio(v.x, Radius1) - 1.0f) * 0.5f;
                v.v = (Ratio(v.y, Radius1) - 1.0f) * 0.5f;
            } else if (i + ring >= count) {
                v.u = (Ratio(v.x, Radius2) - 1.0f) * 0.5f;
                v.v = (Ratio(v.y, Radius2) - 1.0f) * 0.5f;
            } else {
                const float len = std::sqrt(v.x * v.x + v.y * v.y);
                float angle = std::atan2(v.x, v.y);
                if (angle < 0.0f) angle += 6.2831855f;
                v.u = Ratio(angle * len, (Radius2 + Radius1) * 3.1415927f);
                v.v = -(Ratio(v.z, Length) + 0.5f);
            }
        }
        textured->UnlockVertexBuffer();
    }
    SetMesh(textured);
}

// ---------------------------------------------------------------------------
// Sphere

C_D3DXMESH9_SPHERE::C_D3DXMESH9_SPHERE() { ResourceLevel = 1; }

void C_D3DXMESH9_SPHERE::Load(IDirect3DDevice9* device)
{
    const float radius = ParameterString::ReadFloat(GetField(0));
    const int32_t slices = ParameterString::ReadInt(GetField(1));
    ID3DXMesh* mesh = nullptr;
    if (slices > 0 && SUCCEEDED(D3DXCreateSphere(device, radius, static_cast<UINT>(slices),
                                                  static_cast<UINT>(slices), &mesh, nullptr)))
        SetMesh(mesh);
    C_D3DXMESH9::Load(device);
}

// ---------------------------------------------------------------------------
// Plain buffers

C_D3DXVERTEXBUFFER9::~C_D3DXVERTEXBUFFER9()
{
    if (VertexBuffer) VertexBuffer->Release();
}

void C_D3DXVERTEXBUFFER9::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    if (VertexBuffer || !device || VertexCount == 0) return;
    // Sizes beyond what 32 bits can hold are refused rather than wrapped.
    const uint64_t bytes = uint64_t(VertexCount) * Stride;
    if (bytes > 0xFFFFFFFFull) return;
    if (FAILED(device->CreateVertexBuffer(static_cast<UINT>(bytes), 0, FVF, D3DPOOL_DEFAULT, &VertexBuffer, nullptr)))
        VertexBuffer = nullptr;
}

void C_D3DXVERTEXBUFFER9::Draw(IDirect3DDevice9* device)
{
    if (!VertexBuffer || !device) return;
    device->SetFVF(FVF);
    device->SetStreamSource(0, VertexBuffer, 0, Stride);
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, VertexCount, 0, TriangleCount);
}

void C_D3DXVERTEXBUFFER9::Unload()
{
    if (VertexBuffer) VertexBuffer->Release();
    VertexBuffer = nullptr;
    C_D3DXMESH9::Unload();
}

C_D3DXINDEXBUFFER9::~C_D3DXINDEXBUFFER9()
{
    if (IndexBuffer) IndexBuffer->Release();
}

void C_D3DXINDEXBUFFER9::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    if (IndexBuffer || !device || TriangleCount == 0) return;
    const uint64_t bytes = uint64_t(TriangleCount) * 6;
    if (bytes > 0xFFFFFFFFull) return;
    if (FAILED(device->CreateIndexBuffer(static_cast<UINT>(bytes), 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &IndexBuffer,
                                         nullptr)))
        IndexBuffer = nullptr;
}

void C_D3DXINDEXBUFFER9::Draw(IDirect3DDevice9* device)
{
    if (!IndexBuffer || !device) return;
    IDirect3DIndexBuffer9* current = nullptr;
    if (SUCCEEDED(device->GetIndices(&current)) && current) {
        current->Release();
        if (current == IndexBuffer) return;
    }
    device->SetIndices(IndexBuffer);
}

void C_D3DXINDEXBUFFER9::Unload()
{
    if (IndexBuffer) IndexBuffer->Release();
    IndexBuffer = nullptr;
    C_D3DXMESH9::Unload();
}
