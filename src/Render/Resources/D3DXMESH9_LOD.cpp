#include "Render/Resources/D3DXMESH9_LOD.h"

#include "Logger/Logger.h"

TW_REGISTER_CLASS(C_D3DXMESH9_LOD)

C_D3DXMESH9_LOD::~C_D3DXMESH9_LOD()
{
    ReleaseSteps();
}

void C_D3DXMESH9_LOD::ReleaseSteps()
{
    for (ID3DXMesh* mesh : Steps)
        if (mesh) mesh->Release();
    Steps.clear();
    Current = 0;
}

void C_D3DXMESH9_LOD::Load(IDirect3DDevice9* device)
{
    ReleaseSteps();
    C_D3DXPMESH9_XFILE::Load(device);
    if (!PMesh) return;
    const DWORD faces = PMesh->GetMaxFaces();
    for (int i = 0; i < StepCount; ++i) {
        PMesh->SetNumFaces(faces * static_cast<DWORD>(StepCount - i) / StepCount);
        ID3DXMesh* step = nullptr;
        if (FAILED(PMesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, PMesh->GetFVF(), device, &step)) || !step) {
            // A missing step would shift the distances of the later ones.
            LOG_WARNING(L"Не создана ступень детализации " << i << L" сетки " << Name);
            ReleaseSteps();
            break;
        }
        Steps.push_back(step);
    }
    PMesh->Release();
    PMesh = nullptr;
}

float C_D3DXMESH9_LOD::CalcLevelOfDetail(C_BaseObject* owner)
{
    if (Steps.empty()) return 0.0f;
    const double distance = owner ? owner->GetDistance(nullptr) : GetDistance(nullptr);
    const double step = distance * static_cast<double>(Steps.size()) / static_cast<double>(MaxDetailDistance);
    // NaN and anything beyond the last step: not drawn.
    if (!(step < static_cast<double>(Steps.size()))) return 0.0f;
    Current = step > 0.0 ? static_cast<std::size_t>(step) : 0;
    return 1.0f;
}

ID3DXBaseMesh* C_D3DXMESH9_LOD::DrawnMesh()
{
    return Current < Steps.size() ? Steps[Current] : nullptr;
}

void C_D3DXMESH9_LOD::Draw(IDirect3DDevice9* device)
{
    DrawSubsets(device);
}

void C_D3DXMESH9_LOD::Unload()
{
    ReleaseSteps();
    C_D3DXPMESH9_XFILE::Unload();
}
