#include "Render/Position/MeshObject.h"

#include <unordered_set>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "Render/Resources/D3DXMESH9.h"
#include "ResourceManager/ResManager.h"

namespace {

// Every mesh object alive; never destroyed, so objects torn down late at
// exit can still sign off.
std::unordered_set<C_MeshObject*>& MeshObjects()
{
    static auto* objects = new std::unordered_set<C_MeshObject*>;
    return *objects;
}

} // namespace

C_MeshObject::C_MeshObject()
{
    MeshObjects().insert(this);
}

C_MeshObject::~C_MeshObject()
{
    MeshObjects().erase(this);
}

void C_MeshObject::ForgetMesh(const C_BaseResource* mesh)
{
    if (!mesh) return;
    for (C_MeshObject* object : MeshObjects())
        if (object->Mesh == mesh) object->Mesh = nullptr;
}

float C_MeshObject::GetRadius()
{
    return Mesh ? Mesh->GetRadius() : 0.0f;
}

D3DXVECTOR3 C_MeshObject::GetBoxMax()
{
    return Mesh ? GetPosition() + Mesh->GetBoxMax() : GetPosition();
}

D3DXVECTOR3 C_MeshObject::GetBoxMin()
{
    return Mesh ? GetPosition() + Mesh->GetBoxMin() : GetPosition();
}

void C_MeshObject::CalcDistance(C_BaseObject* other)
{
    C_BaseResource::CalcDistance(other);
    if (Mesh) Mesh->CalcDistance(other);
}

void C_MeshObject::Draw(IDirect3DDevice9* device)
{
    C_BaseResource::Draw(device);
    if (Mesh) Mesh->Draw(device);
}

void C_MeshObject::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    const std::wstring className = GetField(0);
    if (className.empty()) return;
    C_ResManager& managers = C_ResManager::Instance();
    const std::wstring text = managers.GetText(GetField(1));
    Mesh = RequestResource(className.c_str(), text, text, device);
    if (!Mesh) LOG_WARNING(L"Не создан объект класса: " << className);
}

void C_MeshObject::Unload()
{
    Mesh = nullptr;
    C_BaseResource::Unload();
}
