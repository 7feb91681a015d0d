#include "Render/Resources/D3DXMESH9_XFILE.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "BaseClasses/DataFile.h"
#include "BaseClasses/ParameterString.h"
#include "Common/CodePage.h"
#include "Logger/Logger.h"
#include "Render/Resources/BaseTexture9.h"
#include "Render/Resources/D3DMATERIAL9.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_D3DXMESH9_XFILE)
TW_REGISTER_CLASS(C_D3DXPMESH9_XFILE)

// ---------------------------------------------------------------------------
// C_D3DXMESH9_XFILE

namespace {

std::unordered_set<C_D3DXMESH9_XFILE*>& XFileMeshes()
{
    static auto* meshes = new std::unordered_set<C_D3DXMESH9_XFILE*>;
    return *meshes;
}

} // namespace

C_D3DXMESH9_XFILE::C_D3DXMESH9_XFILE()
{
    ResourceLevel = 1;
    XFileMeshes().insert(this);
}

C_D3DXMESH9_XFILE::~C_D3DXMESH9_XFILE()
{
    XFileMeshes().erase(this);
}

void C_D3DXMESH9_XFILE::ForgetResource(const C_BaseResource* resource)
{
    if (!resource) return;
    for (C_D3DXMESH9_XFILE* mesh : XFileMeshes()) {
        for (C_D3DMATERIAL9*& material : mesh->Materials)
            if (material == resource) material = nullptr;
        for (C_BaseTexture9*& texture : mesh->Textures)
            if (texture == resource) texture = nullptr;
    }
}

void C_D3DXMESH9_XFILE::Load(IDirect3DDevice9* device)
{
    Materials.clear();
    Textures.clear();
    MaterialCount = 0;
    SetMesh(nullptr);

    const std::wstring folder = C_ResManager::Instance().GetText(L"FolderMesh");
    const std::wstring path = folder + L"\\" + GetField(0);
    std::string bytes;
    if (!ReadDataFile(path, bytes) || bytes.empty()) return;

    ID3DXBuffer* materialBuffer = nullptr;
    DWORD count = 0;
    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXLoadMeshFromXInMemory(bytes.data(), static_cast<DWORD>(bytes.size()), D3DXMESH_SYSTEMMEM, device,
                                         nullptr, &materialBuffer, nullptr, &count, &mesh)) ||
        !mesh) {
        if (materialBuffer) materialBuffer->Release();
        return;
    }
    SetMesh(mesh);

    if (!(Mesh->GetFVF() & D3DFVF_NORMAL)) {
        ID3DXMesh* withNormals = nullptr;
        if (SUCCEEDED(Mesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, Mesh->GetFVF() | D3DFVF_NORMAL, device, &withNormals)) &&
            withNormals) {
            D3DXComputeNormals(withNormals, nullptr);
            SetMesh(withNormals);
        }
    }

    const auto* materials =
        materialBuffer ? static_cast<const D3DXMATERIAL*>(materialBuffer->GetBufferPointer()) : nullptr;
    if (!materials) count = 0;
    for (DWORD i = 0; i < count; ++i) {
        // Named by its own colours, so equal materials of any file share one
        // resource.
        const std::wstring value = ColorText::MaterialValue(materials[i].MatD3D);
        Materials.push_back(
            dynamic_cast<C_D3DMATERIAL9*>(RequestResource(L"C_D3DMATERIAL9", value, value, device)));
        C_BaseTexture9* texture = nullptr;
        if (materials[i].pTextureFilename && materials[i].pTextureFilename[0]) {
            const std::wstring file = VORTALEX::codepage::DecodeText(materials[i].pTextureFilename);
            texture = dynamic_cast<C_BaseTexture9*>(RequestResource(L"C_D3DTEXTURE9", file, file, device));
        }
        Textures.push_back(texture);
    }
    MaterialCount = count;
    if (materialBuffer) materialBuffer->Release();
    C_D3DXMESH9::Load(device);
}

ID3DXBaseMesh* C_D3DXMESH9_XFILE::DrawnMesh()
{
    return Mesh;
}

void C_D3DXMESH9_XFILE::DrawSubsets(IDirect3DDevice9* device)
{
    ID3DXBaseMesh* mesh = DrawnMesh();
    if (!mesh) return;
    const C_CommonData& common = CommonData();
    if (common.RenderPass == 1) {
        if (common.OcclusionQuery) DrawWithQuery(mesh, MaterialCount);
        return;
    }
    if (common.RenderPass != 0) return;
    for (uint32_t i = 0; i < MaterialCount; ++i) {
        if (i < Materials.size() && Materials[i]) {
            Materials[i]->SetTransparency(1.0f);
            Materials[i]->Draw(device);
        }
        if (i < Textures.size() && Textures[i]) Textures[i]->Draw(device);
        mesh->DrawSubset(i);
    }
}

void C_D3DXMESH9_XFILE::Draw(IDirect3DDevice9* device)
{
    DrawSubsets(device);
}

void C_D3DXMESH9_XFILE::Unload()
{
    Materials.clear();
    Textures.clear();
    MaterialCount = 0;
    C_D3DXMESH9::Unload();
}

// ---------------------------------------------------------------------------
// C_D3DXPMESH9_XFILE

C_D3DXPMESH9_XFILE::~C_D3DXPMESH9_XFILE()
{
    if (PMesh) PMesh->Release();
}

float C_D3DXPMESH9_XFILE::FastExp(float x)
{
    // The integer must fit: below about -709 the double would underflow and
    // the conversion overflow; NaN counts as 0.
    if (!(x < 0.0f)) x = 0.0f;   // e^x above 1 snaps to 1 anyway
    if (x < -700.0f) x = -700.0f;
    const auto high = static_cast<int32_t>(static_cast<double>(x) * 1512775.3951951857 + 1072632447.0);
    const uint64_t bits = static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return static_cast<float>(value);
}

float C_D3DXPMESH9_XFILE::CalcLevelOfDetail(C_BaseObject* owner)
{
    if (!owner) return 1.0f;
    const float d = owner->GetDistance(nullptr);
    const float r = owner->GetRadius();
    // A zero radius has nothing to show; a zero distance with it counts as
    // right in front of the camera.
    float x = -0.001f * d * d / r;
    if (std::isnan(x)) x = 0.0f;
    float f = FastExp(x);
    if (f > 0.8f) f = 1.0f;
    SetLOD(f);
    return f;
}

void C_D3DXPMESH9_XFILE::SetLOD(float factor)
{
    LevelOfDetail = factor;
    if (PMesh) PMesh->SetNumVertices(static_cast<DWORD>(factor * static_cast<float>(PMesh->GetMaxVertices())));
}

ID3DXBaseMesh* C_D3DXPMESH9_XFILE::DrawnMesh()
{
    return PMesh;
}

void C_D3DXPMESH9_XFILE::Draw(IDirect3DDevice9* device)
{
    if (!PMesh) return;
    if (CommonData().RenderPass == 1) {
        // The pre-pass only needs a rough outline.
        const float level = LevelOfDetail;
        SetLOD(level / 20.0f);
        DrawSubsets(device);
        SetLOD(level);
        return;
    }
    DrawSubsets(device);
}

void C_D3DXPMESH9_XFILE::Load(IDirect3DDevice9* device)
{
    if (PMesh) PMesh->Release();
    PMesh = nullptr;
    C_D3DXMESH9_XFILE::Load(device);
    if (!Mesh) return;

    std::vector<DWORD> adjacency;
    try {
        adjacency.resize(static_cast<std::size_t>(Mesh->GetNumFaces()) * 3);
    } catch (const std::bad_alloc&) {
        LOG_WARNING(L"Не выделена память для adjacencyInfo " << Name);
        return;
    }
    if (FAILED(Mesh->GenerateAdjacency(0.001f, adjacency.data()))) return;
    ID3DXMesh* cleaned = nullptr;
    if (SUCCEEDED(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, Mesh, adjacency.data(), &cleaned, adjacency.data(),
                                nullptr)) &&
        cleaned)
        SetMesh(cleaned);

    // Vertices far from the centre hold their place on the border longest.
    std::vector<D3DXATTRIBUTEWEIGHTS> weights(Mesh->GetNumVertices());
    void* data = nullptr;
    if (SUCCEEDED(Mesh->LockVertexBuffer(D3DLOCK_READONLY, &data)) && data) {
        const DWORD stride = Mesh->GetNumBytesPerVertex();
        for (std::size_t i = 0; i < weights.size(); ++i) {
            std::memset(&weights[i], 0, sizeof weights[i]);
            D3DXVECTOR3 p;
            std::memcpy(&p, static_cast<const unsigned char*>(data) + i * stride, sizeof p);
            weights[i].Boundary = 100000.0f * (p.x * p.x + p.y * p.y + p.z * p.z);
        }
        Mesh->UnlockVertexBuffer();
    }

    ID3DXPMesh* progressive = nullptr;
    if (FAILED(D3DXGeneratePMesh(Mesh, adjacency.data(), weights.empty() ? nullptr : weights.data(), nullptr, 12,
                                 D3DXMESHSIMP_FACE, &progressive)) ||
        !progressive)
        return;
    ID3DXPMesh* clone = nullptr;
    if (SUCCEEDED(progressive->ClonePMeshFVF(D3DXMESH_SYSTEMMEM, progressive->GetFVF(), device, &clone)) && clone) {
        progressive->Release();
        progressive = clone;
    }
    PMesh = progressive;
    SetMesh(nullptr);   // only the progressive mesh remains
    SetLOD(1.0f);
    const std::wstring parameter = GetField(1);
    if (!parameter.empty()) Parameter = ParameterString::ReadFloat(parameter);
}

void C_D3DXPMESH9_XFILE::Unload()
{
    if (PMesh) PMesh->Release();
    PMesh = nullptr;
    C_D3DXMESH9_XFILE::Unload();
}
