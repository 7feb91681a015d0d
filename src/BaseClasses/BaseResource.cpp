#include "BaseClasses/BaseResource.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "BaseClasses/DataFile.h"
#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"
#include "Script/LuaScriptBase.h"

namespace {

void RunWithLua(const std::string& code, const std::wstring& chunkName)
{
    if (C_LuaScriptBase::GetState()) C_LuaScriptBase::RunScript(code, std::wstring_view(chunkName));
}

// Named texts may refer to each other; a chain deeper than this is a loop.
constexpr int MaxExtraNesting = 32;

C_BaseResource* ResourceFromID(double id)
{
    return dynamic_cast<C_BaseResource*>(C_BaseObject::FromID(id));
}

// Whether `target` is `from` or is drawn, directly or further down, as one of
// its extra objects. Iterative, with a visited set, so a loop that got in
// some other way cannot hang the walk.
bool DrawsAsExtra(C_BaseResource* from, const C_BaseResource* target)
{
    std::vector<C_BaseResource*> pending{from};
    std::unordered_set<const C_BaseResource*> visited{from};
    while (!pending.empty()) {
        C_BaseResource* current = pending.back();
        pending.pop_back();
        if (current == target) return true;
        for (C_BaseResource* extra : current->ExtraObjects)
            if (visited.insert(extra).second) pending.push_back(extra);
    }
    return false;
}

// Attaching `extra` to `object` must not close a loop: drawing it would draw
// the object again, and again, until the stack runs out.
bool AttachWithoutLoop(C_BaseResource* object, C_BaseResource* extra)
{
    if (DrawsAsExtra(extra, object)) {
        // Each refused pair is its own news: told apart by the text, or with
        // repetitions folded (as the program runs) only the first would show.
        if (logger::Logger::WouldCommit(logger::Warning)) {
            logger::Logger::Message message(logger::Warning, "warning", __LINE__, __FILE__, __PRETTY_FUNCTION__);
            message << L"Объект " << extra->Name << L" не добавлен к дополнительным объектам " << object->Name
                    << L": он сам рисует " << object->Name << L" (замкнутый круг)";
            message.DistinctByText().Commit();
        }
        return false;
    }
    object->ExtraObjects.push_back(extra);
    return true;
}

// The objects whose Draw is running, outermost first.
std::vector<const C_BaseResource*>& DrawingNow()
{
    static std::vector<const C_BaseResource*> drawing;
    return drawing;
}

class DrawingGuard {
public:
    explicit DrawingGuard(const C_BaseResource* object) { DrawingNow().push_back(object); }
    ~DrawingGuard() { DrawingNow().pop_back(); }
    DrawingGuard(const DrawingGuard&) = delete;
    DrawingGuard& operator=(const DrawingGuard&) = delete;
};

} // namespace

C_BaseResource::C_EffectSupport C_BaseResource::EffectSupport;
C_BaseResource::RunScriptFunction C_BaseResource::RunScript = &RunWithLua;

C_BaseResource::C_BaseResource() = default;
C_BaseResource::~C_BaseResource() = default;

void C_BaseResource::Draw(IDirect3DDevice9* device)
{
    if (CommonData().RenderPass != 0) return;
    DrawPrefetch = ExtraObjects.empty() ? nullptr : ExtraObjects.data();
    // Loops are refused where extra objects are attached; should one exist
    // all the same, an object met again inside its own drawing is skipped.
    const auto& drawing = DrawingNow();
    if (std::find(drawing.begin(), drawing.end(), this) != drawing.end()) return;
    const DrawingGuard guard(this);
    // Index loop: an extra object's Draw may not change this list, but a
    // script run meanwhile might.
    for (std::size_t i = 0; i < ExtraObjects.size(); ++i) ExtraObjects[i]->Draw(device);
}

void C_BaseResource::Load(IDirect3DDevice9*)
{
    LoadScript();
    LoadEffect();
    const std::wstring extra = Extra;
    LoadExtraObjects(extra);
    SetExtra(L"");
}

void C_BaseResource::Unload()
{
    // The base holds no device object; before a device reset there is
    // nothing of its own to free.
    if (ReleasingDeviceObjectsOnly()) return;
    SetName(L"");
    ReferenceCount = 0;
    Technique.clear();
    ExtraObjects.clear();
}

std::wstring C_BaseResource::GetField(int index, const std::wstring& source) const
{
    if (index < 0) return std::wstring();
    return ParameterString::GetField(source.empty() ? Value : source, static_cast<std::size_t>(index));
}

void C_BaseResource::LoadScript()
{
    if (ScriptDescription.empty() || !ScriptFunction.empty()) return;
    const std::wstring folder = C_ResManager::Instance().GetText(L"FolderScript");
    const std::wstring file = GetField(0, ScriptDescription);
    if (file.empty()) return;
    const std::wstring path = folder + L"\\" + file;
    std::string code;
    if (!ReadDataFile(path, code)) return;
    // Without a script host the file is read and nothing runs.
    if (!RunScript) return;
    RunScript(code, path);
    ScriptFunction = GetField(1, ScriptDescription);
}

void C_BaseResource::LoadEffect()
{
    if (EffectDescription.empty()) return;
    const std::wstring name = GetField(0, EffectDescription);
    C_D3DXEFFECT* effect = EffectSupport.Find ? EffectSupport.Find(name) : nullptr;
    if (effect) Effect = effect;
    else LOG_WARNING(L"Объекту " << Name << L" установлен несуществующий эффект " << name);

    const float distance = ParameterString::ReadFloat(GetField(1, EffectDescription));
    if (distance > 0.0f) EffectDistance = distance;

    if (!Effect || !EffectSupport.ValidateTechnique) return;
    for (const std::wstring& technique : ParameterString::ReadList(EffectDescription, 2)) {
        if (EffectSupport.ValidateTechnique(Effect, technique)) {
            Technique = technique;
            return;
        }
    }
    // Without a technique the object is drawn as if it had no effect.
    LOG_WARNING(L"Объекту " << Name << L" не подошла ни одна техника эффекта " << name);
}

void C_BaseResource::LoadExtraObjects(const std::wstring& names)
{
    LoadExtraObjects(names, 0);
}

void C_BaseResource::LoadExtraObjects(const std::wstring& names, int depth)
{
    if (depth > MaxExtraNesting) {
        LOG_WARNING(L"Объекту " << Name << L" заданы дополнительные объекты с зацикленными ссылками: " << names);
        return;
    }
    C_D3DXSTRING::C_AllStrings& texts = C_D3DXSTRING::C_AllStrings::Instance();
    for (const std::wstring& field : ParameterString::ReadList(names, 0)) {
        const std::wstring text = texts.Lookup(field);
        if (!text.empty()) {
            LoadExtraObjects(text, depth + 1);
            continue;
        }
        if (C_BaseResource* object = C_ResManager::Instance().GetResource(field.c_str()))
            AttachWithoutLoop(this, object);
    }
}

// ---------------------------------------------------------------------------
// Static operations

double C_BaseResource::AddExtraObject(double id, double extraId)
{
    C_BaseResource* object = ResourceFromID(id);
    C_BaseResource* extra = ResourceFromID(extraId);
    if (!object || !extra) return 0.0;
    if (std::find(object->ExtraObjects.begin(), object->ExtraObjects.end(), extra) == object->ExtraObjects.end())
        AttachWithoutLoop(object, extra);
    return 0.0;
}

double C_BaseResource::DeleteExtraObject(double id, double extraId)
{
    C_BaseResource* object = ResourceFromID(id);
    C_BaseResource* extra = ResourceFromID(extraId);
    if (!object || !extra) return 0.0;
    const auto found = std::find(object->ExtraObjects.begin(), object->ExtraObjects.end(), extra);
    if (found != object->ExtraObjects.end()) object->ExtraObjects.erase(found);
    return 0.0;
}

double C_BaseResource::ClearExtraObjects(double id)
{
    if (C_BaseResource* object = ResourceFromID(id)) object->ExtraObjects.clear();
    return 0.0;
}

double C_BaseResource::SetAnotherScript(double id, const std::string& script)
{
    C_BaseResource* object = ResourceFromID(id);
    if (!object) return 0.0;
    object->ScriptFunction.clear();
    object->ScriptDescription = ScriptTextToWide(script);
    object->LoadScript();
    return 0.0;
}

double C_BaseResource::ClearScript(double id)
{
    C_BaseResource* object = ResourceFromID(id);
    if (!object) return 0.0;
    object->ScriptFunction.clear();
    object->ScriptDescription.clear();
    object->LoadScript();
    return 0.0;
}

double C_BaseResource::SetAnotherEffect(double id, const std::string& effect)
{
    C_BaseResource* object = ResourceFromID(id);
    if (!object) return 0.0;
    object->EffectDescription = ScriptTextToWide(effect);
    object->LoadEffect();
    return 0.0;
}

double C_BaseResource::ClearEffect(double id)
{
    C_BaseResource* object = ResourceFromID(id);
    if (!object) return 0.0;
    object->EffectDescription.clear();
    object->LoadEffect();
    return 0.0;
}
