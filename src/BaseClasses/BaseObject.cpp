#include "BaseClasses/BaseObject.h"

#include <cmath>
#include <unordered_set>
#include <vector>

#include "BaseClasses/BaseModule.h"
#include "BaseClasses/BaseResource.h"
#include "BaseClasses/LiveObjects.h"
#include "Common/CodePage.h"
#include "Common/Environment.h"
#include "Logger/Logger.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"
#include "Script/LuaScriptBase.h"
#include "BaseClasses/ParameterString.h"
#include "port/win32/wintypes.h"

namespace {

void CallWithLua(const std::wstring& function, double id)
{
    if (C_LuaScriptBase::GetState()) C_LuaScriptBase::CallFunction(std::wstring_view(function), id);
}

// Every engine object alive right now. Never destroyed, so objects torn down
// during static destruction can still sign off.
std::unordered_set<const C_BaseObject*>& LiveObjects()
{
    static auto* objects = new std::unordered_set<const C_BaseObject*>;
    return *objects;
}

} // namespace

C_BaseObject::RenderQueueInsertFunction C_BaseObject::RenderQueueInsert = nullptr;
C_BaseObject::ScriptCallFunction C_BaseObject::ScriptCall = &CallWithLua;

std::wstring ScriptTextToWide(const std::string& text)
{
    return VORTALEX::codepage::DecodeText(text);
}

std::string WideToScriptText(const std::wstring& text)
{
    return VORTALEX::codepage::ToUtf8(text);
}

// ---------------------------------------------------------------------------
// Frame record

C_BaseObject::C_CommonData::C_CommonData()
    : Time(GetTickCount())
{
    for (D3DXPLANE& plane : FrustumPlanes) plane = D3DXPLANE(0.0f, 0.0f, 0.0f, 0.0f);
}

C_BaseObject::C_CommonData& C_BaseObject::CommonData()
{
    static C_CommonData data;
    return data;
}

// ---------------------------------------------------------------------------
// Life and identity

C_BaseObject::C_BaseObject()
{
    LiveObjects().insert(this);
}

C_BaseObject::~C_BaseObject()
{
    LiveObjects().erase(this);
}

double C_BaseObject::ToID(const C_BaseObject* object)
{
    return static_cast<double>(reinterpret_cast<std::uintptr_t>(object));
}

C_BaseObject* C_BaseObject::FromID(double id)
{
    // Addresses are below 2^53 and so exact as doubles; anything that is not
    // a whole number in that range names no object.
    if (!(id > 0.0) || id >= 9007199254740992.0 || std::floor(id) != id) return nullptr;
    auto* object = reinterpret_cast<C_BaseObject*>(static_cast<std::uintptr_t>(id));
    return LiveObjects().count(object) ? object : nullptr;
}

bool C_BaseObject::IsLive(const C_BaseObject* object)
{
    return object && LiveObjects().count(object) != 0;
}

std::size_t C_BaseObject::LiveCount()
{
    return LiveObjects().size();
}

void ForEachLiveObject(const std::function<void(C_BaseObject*)>& visit)
{
    // A copy: the visitor may create or destroy objects.
    const std::vector<const C_BaseObject*> objects(LiveObjects().begin(), LiveObjects().end());
    for (const C_BaseObject* object : objects)
        if (LiveObjects().count(object)) visit(const_cast<C_BaseObject*>(object));
}

// ---------------------------------------------------------------------------
// Virtual interface

void C_BaseObject::SetName(const wchar_t* name) { Name = name ? name : L""; }
void C_BaseObject::SetStatus(StatusObject status) { Status = status; }
C_BaseObject::StatusObject C_BaseObject::GetStatus() { return Status; }
void C_BaseObject::SetValue(const wchar_t* value) { Value = value ? value : L""; }
void C_BaseObject::SetExtra(const wchar_t* extra) { Extra = extra ? extra : L""; }
D3DXVECTOR3 C_BaseObject::GetPosition() { return Position; }
void C_BaseObject::SetPosition(const D3DXVECTOR3& position) { Position = position; }
float C_BaseObject::GetRadius() { return Radius; }
D3DXVECTOR3 C_BaseObject::GetBoxMax() { return GetPosition() + BoxMaxOffset; }
D3DXVECTOR3 C_BaseObject::GetBoxMin() { return GetPosition() + BoxMinOffset; }

float C_BaseObject::FrustumTest(const D3DXVECTOR3& centre, float radius)
{
    if (radius == 0.0f) return 0.0f;
    const D3DXPLANE* planes = CommonData().FrustumPlanes;
    float distance = 0.0f;
    for (int i = 0; i < 6; ++i) {
        distance = planes[i].a * centre.x + planes[i].b * centre.y + planes[i].c * centre.z + planes[i].d;
        if (-radius >= distance) return -1.0f;
    }
    return radius + distance;
}

void C_BaseObject::AddToRenderQueue()
{
    if (GetStatus() != Visible) return;
    if (FrustumTest(GetPosition(), GetRadius()) < 0.0f) return;
    if (RenderQueueInsert) RenderQueueInsert(this);
}

void C_BaseObject::ClearDistances()
{
    Distances.clear();
    Near = false;
}

void C_BaseObject::CalcDistance(C_BaseObject* other)
{
    if (!other) return;
    const D3DXVECTOR3 d = GetPosition() - other->GetPosition();
    const float distance = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    Distances[other] = distance;
    if (distance < 100.0f) Near = true;
}

float C_BaseObject::GetDistance(C_BaseObject* other)
{
    if (!other) other = CommonData().CurrentCamera;
    return Distances[other];
}

void C_BaseObject::Update()
{
    CallScriptFunction();
}

void C_BaseObject::CallScriptFunction()
{
    if (!ScriptFunction.empty() && ScriptCall) ScriptCall(ScriptFunction, ToID(this));
}

void C_BaseObject::Draw(IDirect3DDevice9*) {}
float C_BaseObject::CalcLevelOfDetail(C_BaseObject*) { return 1.0f; }
const wchar_t* C_BaseObject::GetClassName() { return L""; }
void C_BaseObject::ReleaseToPool() {}
void C_BaseObject::ClearPool() {}

// ---------------------------------------------------------------------------
// Static operations

double C_BaseObject::ToLog(const std::string& text)
{
    // A script logs everything from this one line: with repetitions folded
    // (as the program runs), only a repeated text is left out, not every
    // line after the first.
    if (logger::Logger::WouldCommit(logger::Warning)) {
        logger::Logger::Message message(logger::Warning, "warning", __LINE__, __FILE__, __PRETTY_FUNCTION__);
        message << ScriptTextToWide(text);
        message.DistinctByText().Commit();
    }
    return 0.0;
}

double C_BaseObject::GetObjectID(const std::string& name)
{
    const std::wstring wide = ScriptTextToWide(name);
    return ToID(C_ResManager::Instance().GetResource(wide.c_str()));
}

double C_BaseObject::GetTime() { return CommonData().Time; }

double C_BaseObject::DisableObject(double id)
{
    if (C_BaseObject* object = FromID(id)) object->SetStatus(Disabled);
    return 0.0;
}

double C_BaseObject::NotRenderObject(double id)
{
    if (C_BaseObject* object = FromID(id)) object->SetStatus(NotRender);
    return 0.0;
}

double C_BaseObject::VisibleObject(double id)
{
    if (C_BaseObject* object = FromID(id)) object->SetStatus(Visible);
    return 0.0;
}

double C_BaseObject::DeleteObject(double id)
{
    C_BaseObject* object = FromID(id);
    if (!object) return 0.0;
    if (object->ReferenceCount > 0) {
        object->SetStatus(Deleted);
    } else if (auto* resource = dynamic_cast<C_BaseResource*>(object)) {
        C_ResManager::Instance().DeleteObject(resource);
    }
    return 0.0;
}

double C_BaseObject::GetScreenWidth() { return CommonData().ScreenWidth; }
double C_BaseObject::GetScreenHeight() { return CommonData().ScreenHeight; }
double C_BaseObject::GetMouseX() { return CommonData().MouseX; }
double C_BaseObject::GetMouseY() { return CommonData().MouseY; }

double C_BaseObject::GetCursorStatus(double id)
{
    C_BaseObject* object = FromID(id);
    return object ? object->CursorStatus.Value : 0.0;
}

double C_BaseObject::CreateObject(double moduleId, const std::string& className,
                                  const std::string& name, const std::string& value,
                                  const std::string& script, const std::string& isStatic,
                                  const std::string& extra)
{
    const std::wstring wideClass = ScriptTextToWide(className);
    const std::wstring wideName = ScriptTextToWide(name);
    const std::wstring wideValue = ScriptTextToWide(value);

    if (wideClass == L"C_D3DXSTRING") {
        C_D3DXSTRING::C_AllStrings::Instance().AddLine(
            wideName.find(L'=') != std::wstring::npos ? wideName : wideName + L" = " + wideValue);
        return 0.0;
    }

    // A module ID that names nothing live is refused before anything is made.
    C_BaseModule* module = nullptr;
    if (moduleId != 0.0) {
        module = dynamic_cast<C_BaseModule*>(FromID(moduleId));
        if (!module) return 0.0;
    }

    C_ResManager& manager = C_ResManager::Instance();
    C_BaseResource* resource = manager.AddResource(wideClass.c_str(), wideName.c_str(), wideValue.c_str());
    if (!resource) return 0.0;

    resource->ScriptFunction.clear();
    resource->ScriptDescription = ScriptTextToWide(script);
    resource->SetExtra(ScriptTextToWide(extra).c_str());
    resource->Static = ParameterString::ToLower(ScriptTextToWide(isStatic)) != L"false";
    resource->Load(C_ResManager::CurrentDevice);

    if (module) {
        const std::wstring moduleName = module->Name;
        C_BaseModule* found = dynamic_cast<C_BaseModule*>(manager.GetResource(moduleName.c_str()));
        if (found) found->AddToModule(resource);
        else LOG_WARNING(L"Не найден модуль: " << moduleName);
    }
    return 0.0;
}

std::string C_BaseObject::GetPathToProgram()
{
    const _VORTALEX::C_PathToProgram folder;
    return WideToScriptText(folder.GetText());
}
