#include "Render/SkyBox/SemitransparentSphere.h"

#include <algorithm>
#include <string>

#include "Logger/Logger.h"
#include "port/d3d9/d3d9.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_SemitransparentSphere)

C_SemitransparentSphere::C_SemitransparentSphere()
{
    ResourceLevel = 2;
}

C_SemitransparentSphere::~C_SemitransparentSphere() = default;

void C_SemitransparentSphere::Draw(IDirect3DDevice9* device)
{
    if (!device || CommonData().RenderPass != 0) {
        C_MeshObject::Draw(device);
        return;
    }
    DWORD fillMode = D3DFILL_SOLID, alphaTest = FALSE;
    device->GetRenderState(D3DRS_FILLMODE, &fillMode);
    device->GetRenderState(D3DRS_ALPHATESTENABLE, &alphaTest);
    C_MeshObject::Draw(device);
    device->SetRenderState(D3DRS_FILLMODE, fillMode);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, alphaTest);
}

void C_SemitransparentSphere::Load(IDirect3DDevice9* device)
{
    struct Part {
        const wchar_t* ClassName;
        const wchar_t* Suffix;
        const wchar_t* Value;
    };
    static const Part parts[] = {
        {L"C_D3DMATERIAL9", L".Material", L"0x2FFFFFFF; 0x2FFFFFFF; 0x2FFFFFFF; 0x2FFFFFFF; 30.0;"},
        {L"C_D3DTEXTURE9", L".Texture", L"null; 0;"},
        {L"C_RenderState", L".FillMode", L"D3DRS_FILLMODE; D3DFILL_SOLID;"},
        {L"C_RenderState", L".AlphaTest", L"D3DRS_ALPHATESTENABLE; FALSE;"},
    };
    C_ResManager& managers = C_ResManager::Instance();
    std::wstring extra;
    for (const Part& part : parts) {
        const std::wstring name = Name + part.Suffix;
        const bool existed = managers.GetResource(name.c_str(), part.ClassName, false) != nullptr;
        C_BaseResource* resource = managers.AddResource(part.ClassName, name.c_str(), part.Value);
        if (!resource) {
            LOG_WARNING(L"Не создан объект класса: " << part.ClassName);
            continue;
        }
        if (!existed && !managers.LoadsLater(resource)) resource->Load(device);
        // Loaded again after a device reset, the sphere still holds its
        // parts: each is attached once.
        if (std::find(ExtraObjects.begin(), ExtraObjects.end(), resource) == ExtraObjects.end())
            extra += name + L"; ";
    }
    // Extra objects named in the scene file come after the sphere's own.
    SetExtra((extra + Extra).c_str());
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"SemitransparentSphere = 1.0; 20;");
    SetValue(L"C_D3DXMESH9_SPHERE; SemitransparentSphere;");
    C_MeshObject::Load(device);
}
