#include "Render/Resources/D3DLIGHT9.h"

#include <algorithm>

#include "BaseClasses/ParameterString.h"
#include "Render/Resources/D3DMATERIAL9.h"

TW_REGISTER_CLASS(C_D3DLIGHT9_POINT)
TW_REGISTER_CLASS(C_D3DLIGHT9_DIRECTIONAL)

C_D3DLIGHT9::C_LightLists& C_D3DLIGHT9::Lists()
{
    // Never destroyed: pooled lights may be torn down after static
    // destruction has begun, and they still sign off from the lists.
    static auto* lists = new C_LightLists;
    return *lists;
}

C_D3DLIGHT9::C_D3DLIGHT9()
{
    Light.Type = static_cast<D3DLIGHTTYPE>(0x7FFFFFFF);   // no kind until a subclass sets one
}

C_D3DLIGHT9::~C_D3DLIGHT9()
{
    // A light deleted between the update and the drawing must not be
    // installed from a list afterwards.
    for (auto& [camera, lights] : Lists().PerCamera) std::erase(lights, this);
}

void C_D3DLIGHT9::AddToRenderQueue()
{
    if (RenderQueueInsert) RenderQueueInsert(this);
}

void C_D3DLIGHT9::ClearDistances()
{
    Distances.clear();
    Near = true;   // lights are updated every frame, wherever they are
}

void C_D3DLIGHT9::CalcDistance(C_BaseObject* other)
{
    if (!other || GetStatus() != Visible) return;
    std::vector<C_D3DLIGHT9*>& lights = Lists().PerCamera[other];
    // A camera whose queue is never drawn never empties its list; listing a
    // light once keeps that list from growing frame after frame.
    if (std::find(lights.begin(), lights.end(), this) == lights.end()) lights.push_back(this);
}

float C_D3DLIGHT9::GetDistance(C_BaseObject*)
{
    return 1e37f;
}

void C_D3DLIGHT9::Draw(IDirect3DDevice9* device)
{
    C_CommonData& common = CommonData();
    if (common.RenderPass != 0 || !device) return;
    C_LightLists& lists = Lists();
    C_BaseObject* camera = common.CurrentCamera;
    std::vector<C_D3DLIGHT9*>& lights = lists.PerCamera[camera];
    if (lights.empty() && camera == lists.LastCamera) return;

    lists.LastCamera = camera;
    const auto count = static_cast<uint32_t>(lights.size());
    for (uint32_t i = 0; i < count; ++i) {
        device->SetLight(i, &lights[i]->Light);
        device->LightEnable(i, TRUE);
    }
    for (uint32_t i = count; i < lists.EnabledCount; ++i) device->LightEnable(i, FALSE);
    lists.EnabledCount = count;
    lights.clear();
}

void C_D3DLIGHT9::ReadFields(D3DVECTOR& vector)
{
    Light.Diffuse = ColorText::Read(GetField(0));
    Light.Specular = ColorText::Read(GetField(1));
    Light.Ambient = ColorText::Read(GetField(2));
    vector.x = ParameterString::ReadFloat(GetField(3));
    vector.y = ParameterString::ReadFloat(GetField(4));
    vector.z = ParameterString::ReadFloat(GetField(5));
    Light.Range = ParameterString::ReadFloat(GetField(6));
}

C_D3DLIGHT9_POINT::C_D3DLIGHT9_POINT()
{
    Light.Type = D3DLIGHT_POINT;
    Light.Attenuation1 = 0.05f;
}

void C_D3DLIGHT9_POINT::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    ReadFields(Light.Position);
}

C_D3DLIGHT9_DIRECTIONAL::C_D3DLIGHT9_DIRECTIONAL()
{
    Light.Type = D3DLIGHT_DIRECTIONAL;
    Light.Direction = {1.0f, 0.0f, 0.0f};
}

void C_D3DLIGHT9_DIRECTIONAL::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    ReadFields(Light.Direction);
}
