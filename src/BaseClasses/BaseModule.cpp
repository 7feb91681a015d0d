#include "BaseClasses/BaseModule.h"

#include <cmath>
#include <cctype>
#include <cstdio>

#include "BaseClasses/DataFile.h"
#include "BaseClasses/ParameterString.h"
#include "Common/CodePage.h"
#include "Common/XmlText.h"
#include "Logger/Logger.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_BaseModule)

C_BaseModule::C_CameraSupport C_BaseModule::CameraSupport;
C_BaseModule::PickObjectFunction C_BaseModule::PickObject = nullptr;

namespace {

// Module files nested (inline or by file) deeper than this are refused: a
// deeper tree is either broken or hostile, and each level costs stack.
constexpr int MaxModuleNesting = 64;
// Element nesting that TinyXML is allowed to parse (its parser recurses).
constexpr int MaxXmlNesting = VORTALEX::xml::MaxElementNesting;

std::wstring Attribute(const TiXmlElement* element, const char* name)
{
    const char* value = element->Attribute(name);
    return value ? VORTALEX::codepage::FromUtf8(value) : std::wstring();
}

bool HasAttribute(const TiXmlElement* element, const char* name)
{
    return element->Attribute(name) != nullptr;
}

void AddText(const char* utf8)
{
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(VORTALEX::codepage::FromUtf8(utf8));
}

C_BaseObject::StatusObject StatusFromAttribute(const TiXmlElement* element)
{
    const std::wstring status = ParameterString::ToLower(Attribute(element, "status"));
    if (status == L"notrender") return C_BaseObject::NotRender;
    if (status == L"disabled") return C_BaseObject::Disabled;
    return C_BaseObject::Visible;
}

void ApplyStatus(C_BaseObject* object, const TiXmlElement* element)
{
    object->SetStatus(C_BaseObject::Visible);
    const C_BaseObject::StatusObject status = StatusFromAttribute(element);
    if (status != C_BaseObject::Visible) object->SetStatus(status);
}

void LogParseError(const std::wstring& path, const std::wstring& description, int row, int column)
{
    LOG_WARNING(L"\r\nНе загружен файл: " << path << L"\r\nDescription: " << description
                << L"\r\nErrorRow: " << row << L"\r\nErrorCol: " << column << L"\r\n");
}

} // namespace

C_BaseModule::C_BaseModule()
{
    ResourceLevel = 9998;
}

C_BaseModule::~C_BaseModule() = default;

// ---------------------------------------------------------------------------
// Membership

bool C_BaseModule::Contains(const C_BaseModule* module) const
{
    if (!module) return false;
    // Iterative walk with a visited set, so even a tree that someone else
    // managed to tie into a loop cannot hang the test.
    std::vector<const C_BaseModule*> pending{this};
    std::unordered_set<const C_BaseModule*> visited{this};
    while (!pending.empty()) {
        const C_BaseModule* current = pending.back();
        pending.pop_back();
        if (current == module) return true;
        for (C_BaseObject* object : *current)
            if (const auto* child = dynamic_cast<const C_BaseModule*>(object))
                if (visited.insert(child).second) pending.push_back(child);
    }
    return false;
}

bool C_BaseModule::AddToModule(C_BaseObject* object)
{
    if (!object) return false;
    if (auto* module = dynamic_cast<C_BaseModule*>(object); module && module->Contains(this)) {
        LOG_WARNING(L"Модуль " << module->Name << L" не добавлен в модуль " << Name
                               << L": модуль не может содержать сам себя");
        return false;
    }
    if (C_BaseCamera* camera = CameraSupport.AsCamera ? CameraSupport.AsCamera(object) : nullptr) {
        Cameras.push_back(camera);
    } else {
        if (!m_Members.insert(object).second) return true;
        push_back(object);
        if (!object->Static) Static = false;
        BoundsComputed = false;
    }
    ++object->ReferenceCount;
    return true;
}

C_BaseObject* C_BaseModule::CameraObject(C_BaseCamera* camera) const
{
    return camera && CameraSupport.CameraObject ? CameraSupport.CameraObject(camera) : nullptr;
}

// ---------------------------------------------------------------------------
// Reading module files

C_BaseModule& C_BaseModule::operator<<(const std::wstring& path)
{
    LoadFile(path, 0);
    return *this;
}

void C_BaseModule::LoadFile(const std::wstring& path, int depth)
{
    std::string bytes;
    if (!ReadDataFile(path, bytes)) return;
    if (bytes.empty()) {
        // The file manager says so itself for files it reads; a file named
        // by its full path is read here.
        if (!path.empty() && path.front() == L'/') LOG_WARNING(L"Файл пуст: " << path);
        return;
    }

    const std::string text = VORTALEX::xml::ToUtf8Document(bytes);
    std::size_t where = 0;
    if (VORTALEX::xml::ElementNesting(text, MaxXmlNesting, where) > MaxXmlNesting) {
        int row = 1, column = 1;
        for (std::size_t i = 0; i < where; ++i) {
            if (text[i] == '\n') { ++row; column = 1; } else ++column;
        }
        LogParseError(path, L"Elements nested too deeply.", row + 1, column + 1);
        return;
    }

    // Parse into a fresh document: a broken file leaves the module, and the
    // elements still waiting in it, as they were.
    // Without a tab size TinyXML skips tracking rows and columns, which
    // costs more than the parse itself; a broken file is parsed again with
    // tracking so that the message can say where the error is.
    auto document = std::make_shared<TiXmlDocument>();
    document->SetTabSize(0);
    document->Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (document->Error()) {
        TiXmlDocument located;
        located.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
        LogParseError(path, VORTALEX::codepage::FromUtf8(located.ErrorDesc() ? located.ErrorDesc() : ""),
                      located.ErrorRow() + 1, located.ErrorCol() + 1);
        return;
    }
    if (Name.empty()) {
        const TiXmlElement* first = document->FirstChildElement();
        SetName(first ? Attribute(first, "name").c_str() : L"");
    }
    Document = document;
    // The file's texts join the table in one step when the outermost file
    // is done, rather than one insertion into the sorted table each.
    C_D3DXSTRING::C_AllStrings::C_Batch texts(C_D3DXSTRING::C_AllStrings::Instance());
    CreateObjectsFromXML(this, this, document.get(), depth);
}

void C_BaseModule::CreateObjectsFromXML(C_BaseModule* root, C_BaseModule* parent, TiXmlNode* node)
{
    CreateObjectsFromXML(root, parent, node, 0);
}

void C_BaseModule::CreateObjectsFromXML(C_BaseModule* root, C_BaseModule* parent, TiXmlNode* node, int depth)
{
    if (!parent || !node) return;
    if (depth > MaxModuleNesting) {
        LOG_WARNING(L"Слишком глубокая вложенность модулей: " << parent->Name);
        return;
    }
    // The document the elements belong to must outlive the parent's
    // deferred elements, whichever module's document it is.
    std::shared_ptr<TiXmlDocument> document;
    if (node->GetDocument() == Document.get()) document = Document;

    C_ResManager& manager = C_ResManager::Instance();
    for (TiXmlElement* element = node->FirstChildElement(); element; element = element->NextSiblingElement()) {
        bool objectChild = false;
        for (TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) {
            if (const char* text = child->Attribute("text")) AddText(text);
            else objectChild = true;
        }
        if (const char* text = element->Attribute("text")) {
            AddText(text);
            continue;
        }

        const std::wstring name = Attribute(element, "name");
        const std::wstring className = Attribute(element, "class");
        const std::size_t xml = name.find(L".xml");
        if (!objectChild && xml == std::wstring::npos) {
            parent->DeferredElements.push_back(element);
            if (document && (parent->m_RetainedDocuments.empty() || parent->m_RetainedDocuments.back() != document))
                parent->m_RetainedDocuments.push_back(document);
            continue;
        }

        if (HasAttribute(element, "class") && HasAttribute(element, "name")) {
            if (auto* shared = dynamic_cast<C_BaseModule*>(manager.GetResource(name.c_str(), className.c_str(), false))) {
                parent->AddToModule(shared);
                continue;
            }
        }
        C_BaseResource* resource = manager.AddResource(className.c_str(), name.c_str(), Attribute(element, "value").c_str());
        auto* module = dynamic_cast<C_BaseModule*>(resource);
        if (!module) {
            LOG_WARNING(L"Не модуль содержит вложенные объекты: " << name);
            continue;
        }
        module->ScriptFunction.clear();
        module->ScriptDescription = Attribute(element, "script");
        module->SphereBound = Attribute(element, "bound") != L"box";
        ApplyStatus(module, element);
        if (!parent->AddToModule(module)) continue;

        if (xml != std::wstring::npos && xml + 4 == name.size()) module->LoadFile(name, depth + 1);
        else CreateObjectsFromXML(root, module, element, depth + 1);
    }
}

// ---------------------------------------------------------------------------
// Loading

void C_BaseModule::Load(IDirect3DDevice9* device)
{
    C_ResManager& manager = C_ResManager::Instance();
    {
        // A module of many objects: the managers take them in one merge each.
        C_ResManager::C_BulkAdd bulk;
        for (std::size_t i = 0; i < DeferredElements.size(); ++i) {
            const TiXmlElement* element = DeferredElements[i];
            const std::wstring name = Attribute(element, "name");
            const std::wstring className = Attribute(element, "class");
            C_BaseResource* object = manager.GetResource(name.c_str(), className.c_str(), false);
            if (!object) {
                object = manager.AddResource(className.c_str(), name.c_str(), Attribute(element, "value").c_str());
                if (!object) continue;
                object->EffectDescription = Attribute(element, "effect");
                object->ScriptFunction.clear();
                object->ScriptDescription = Attribute(element, "script");
                object->SphereBound = Attribute(element, "bound") != L"box";
                ApplyStatus(object, element);
                object->SetExtra(Attribute(element, "extra").c_str());
            }
            if (dynamic_cast<ContainedInModule*>(object)) AddToModule(object);
        }
    }
    DeferredElements.clear();
    m_RetainedDocuments.clear();
    C_BaseResource::Load(device);
}

void C_BaseModule::Unload()
{
    // The lists are the scene, not device objects: a device reset keeps
    // them, since the children were made from the file once and the load
    // run after the reset does not list them again.
    if (!ReleasingDeviceObjectsOnly()) {
        Cameras.clear();
        clear();
        m_Members.clear();
    }
    BoundsComputed = false;
    C_BaseResource::Unload();
}

// ---------------------------------------------------------------------------
// The frame

void C_BaseModule::ClearDistances()
{
    Near = true;
    if (GetStatus() == Disabled || Cameras.empty()) return;
    for (std::size_t i = 0; i < size(); ++i) {
        if (i + PrefetchAhead < size()) Prefetch((*this)[i + PrefetchAhead]);
        (*this)[i]->ClearDistances();
    }
}

void C_BaseModule::CalcDistance(C_BaseObject* other)
{
    if (GetStatus() == Disabled) return;
    for (std::size_t i = 0; i < size(); ++i) {
        if (i + PrefetchAhead < size()) Prefetch((*this)[i + PrefetchAhead]);
        (*this)[i]->CalcDistance(other);
    }
}

void C_BaseModule::Update()
{
    CallScriptFunction();
    if (GetStatus() == Disabled) return;
    ClearDistances();

    for (std::size_t c = 0; c < Cameras.size(); ++c) {
        C_BaseObject* camera = CameraObject(Cameras[c]);
        if (!camera) continue;
        camera->Update();
        for (std::size_t i = 0; i < size(); ++i) {
            if (i + PrefetchAhead < size()) Prefetch((*this)[i + PrefetchAhead]);
            (*this)[i]->CalcDistance(camera);
        }
    }
    // Index loops throughout: scripts run by these updates may add objects.
    for (std::size_t i = 0; i < size(); ++i) {
        if (i + PrefetchAhead < size()) Prefetch((*this)[i + PrefetchAhead]);
        C_BaseObject* object = (*this)[i];
        if (object->Near && object->GetStatus() != Disabled) object->Update();
    }
    RemoveReleasedObjects();
    SetStatus(Visible);

    if (BoundsComputed && Static) return;
    BoundsComputed = true;
    CalcBoundingSphere();
}

void C_BaseModule::RemoveReleasedObjects()
{
    std::vector<C_BaseObject*> released;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < size(); ++i) {
        C_BaseObject* object = (*this)[i];
        if (object->GetStatus() == Deleted) released.push_back(object);
        else (*this)[kept++] = object;
    }
    if (released.empty()) return;
    resize(kept);
    BoundsComputed = false;
    for (C_BaseObject* object : released) {
        m_Members.erase(object);
        if (--object->ReferenceCount <= 0)
            if (auto* resource = dynamic_cast<C_BaseResource*>(object))
                C_ResManager::Instance().DeleteObject(resource);
    }
}

void C_BaseModule::CalcBoundingSphere()
{
    if (empty()) return;
    D3DXVECTOR3 sum(0.0f, 0.0f, 0.0f);
    for (C_BaseObject* object : *this) {
        if (object->GetRadius() == 0.0f) {
            Radius = 0.0f;   // always visible
            return;
        }
        sum += object->GetPosition();
    }
    const D3DXVECTOR3 centre = sum / static_cast<float>(size());
    float radius = 0.0f;
    for (C_BaseObject* object : *this) {
        const D3DXVECTOR3 d = object->GetPosition() - centre;
        const float reach = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z) + object->GetRadius();
        if (reach > radius) radius = reach;
    }
    Position = centre;
    Radius = radius;
}

void C_BaseModule::AddToRenderQueue()
{
    if (GetStatus() != Visible) return;
    if (Cameras.empty()) {
        if (FrustumTest(GetPosition(), GetRadius()) < 0.0f) return;
        for (std::size_t i = 0; i < size(); ++i) (*this)[i]->AddToRenderQueue();
        return;
    }

    for (C_BaseObject* object : *this) object->CursorStatus.Value = 0;

    const C_CommonData& common = CommonData();
    C_BaseCamera* underMouse = nullptr;
    if (CameraSupport.ViewportContains)
        for (C_BaseCamera* camera : Cameras)
            if (CameraSupport.ViewportContains(camera, common.MouseX, common.MouseY)) underMouse = camera;
    if (underMouse && PickObject) {
        if (C_BaseObject* picked = PickObject(this, underMouse)) {
            const C_BaseInput& input = common.Input;
            picked->CursorStatus.Value = input.MouseButtonDown(0) ? 2 : input.MouseButtonDown(1) ? 3 : 1;
            if (CameraSupport.SetObjectUnderCursor) CameraSupport.SetObjectUnderCursor(underMouse, picked);
        }
    }

    for (std::size_t c = 0; c < Cameras.size(); ++c) {
        C_BaseObject* camera = CameraObject(Cameras[c]);
        if (!camera) continue;
        camera->AddToRenderQueue();
        if (FrustumTest(GetPosition(), GetRadius()) < 0.0f) continue;
        for (std::size_t i = 0; i < size(); ++i) (*this)[i]->AddToRenderQueue();
    }
}
