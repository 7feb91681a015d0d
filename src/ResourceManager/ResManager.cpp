#include "ResourceManager/ResManager.h"

#include <new>
#include <unordered_set>

#include "Logger/Logger.h"
#include "Render/Resources/D3DXSTRING.h"

IDirect3DDevice9* C_ResManager::CurrentDevice = nullptr;

int GetResourceLevel(C_BaseResManager* const& manager)
{
    return 0x10000 - manager->GetLevel();
}

C_ResManager& C_ResManager::Instance()
{
    static C_ResManager manager;
    return manager;
}

C_ResManager::~C_ResManager()
{
    // Objects live in their class pools, which may already be gone at exit;
    // only the managers themselves go with the manager pool.
}

C_BaseResource* C_ResManager::AddResource(const wchar_t* className, const wchar_t* name,
                                          const wchar_t* value)
{
    std::wstring objectName = name ? name : L"";
    if (objectName.empty() || objectName == L"Unknown") objectName = GenerateName();

    C_BaseResManager*& entry = m_ClassMap[className ? className : L""];
    if (entry) return entry->AddResource(objectName.c_str(), value);

    C_BaseResManager* manager = nullptr;
    try {
        manager = m_ManagerPool.Allocate(className ? className : L"");
    } catch (const std::bad_alloc&) {
        manager = nullptr;
    }
    if (!manager) {
        LOG_WARNING(L"Не удалось создать новый pBaseResManager");
        return nullptr;
    }
    C_BaseResource* resource = manager->AddResource(objectName.c_str(), value);
    if (!resource) {
        // A class that makes no object gets no manager; its slot goes back
        // so that unknown class names cannot pile up managers.
        m_ClassMap.erase(className ? className : L"");
        m_ManagerPool.Release(manager);
        return nullptr;
    }
    Insert(manager);
    entry = manager;
    return resource;
}

std::wstring C_ResManager::GenerateName()
{
    return L"Unknown" + std::to_wstring(s_UnknownCounter++);
}

C_BaseResManager* C_ResManager::GetManager(const std::wstring& className) const
{
    const auto found = m_ClassMap.find(className);
    return found == m_ClassMap.end() ? nullptr : found->second;
}

C_BaseResource* C_ResManager::GetResource(const wchar_t* name, const wchar_t* className, bool warn)
{
    if (!name || !className) return nullptr;
    if (C_BaseResManager* manager = GetManager(className)) return manager->Find(name);
    if (warn) LOG_WARNING(L"Запрос типа ресурса, которых не было добавлено: " << name << L"\r\n");
    return nullptr;
}

C_BaseResource* C_ResManager::GetResource(const wchar_t* name)
{
    const std::wstring key = name ? name : L"";
    for (C_BaseResManager* manager : *this)
        if (C_BaseResource* found = manager->Find(key)) return found;
    LOG_WARNING(L"Запрос ресурса, которого не было добавлено: " << key << L"\r\n");
    return nullptr;
}

std::wstring C_ResManager::GetText(const std::wstring& key)
{
    // An empty key names nothing; asking for it must not invent an
    // "Unknown" object on every call.
    if (key.empty()) return std::wstring();
    C_BaseResource* resource = AddResource(L"C_D3DXSTRING", key.c_str(), L"");
    C_D3DXSTRING* text = dynamic_cast<C_D3DXSTRING*>(resource);
    return text ? text->GetText() : std::wstring();
}

bool C_ResManager::DeleteObject(C_BaseResource* resource)
{
    if (!resource) return false;
    C_BaseResManager* manager = GetManager(resource->GetClassName());
    if (!manager) {
        LOG_WARNING(L"Удаление объекта " << resource->Name << L" не удалось...");
        return false;
    }
    if (!manager->DeleteObject(resource)) return false;
    // Other objects may still list it as an extra object; they must not
    // draw freed memory.
    for (C_BaseResManager* other : *this)
        for (C_BaseResource* object : *other) {
            auto& extras = object->ExtraObjects;
            std::erase(extras, resource);
        }
    return true;
}

void C_ResManager::LoadManager(C_BaseResManager* manager, IDirect3DDevice9* device)
{
    // Loading may add objects to this very manager (a module creating a
    // module); those are loaded too, each object once, in name order.
    std::unordered_set<C_BaseResource*> loaded;
    std::size_t index = 0;
    while (index < manager->size()) {
        C_BaseResource* resource = (*manager)[index];
        if (loaded.insert(resource).second) {
            const std::size_t before = manager->size();
            resource->Load(device);
            if (manager->size() != before) {
                index = 0;   // the list moved under us: look again from the start
                continue;
            }
        }
        ++index;
    }
}

bool C_ResManager::Load(IDirect3DDevice9* device)
{
    if (LoadIndex < 0 || static_cast<std::size_t>(LoadIndex) >= size()) {
        CurrentDevice = device;
        LoadIndex = 0;
        return false;
    }
    C_BaseResManager* manager = (*this)[static_cast<std::size_t>(LoadIndex)];
    if (!manager->empty()) {
        const int32_t level = manager->front()->ResourceLevel;
        const std::size_t before = size();
        LoadManager(manager, device);
        LoadingClass = manager->empty() ? manager->ClassName
                                        : std::wstring(manager->front()->GetClassName());
        if (level < 0) LoadIndex += static_cast<int32_t>(size() - before);
    } else {
        LOG_WARNING(L"Попытка загрузки пустого менеджера");
    }
    ++LoadIndex;
    return true;
}

bool C_ResManager::LoadsLater(C_BaseResource* resource) const
{
    if (!resource || CurrentDevice) return false;
    C_BaseResManager* manager = GetManager(resource->GetClassName());
    if (!manager) return false;
    for (std::size_t i = 0; i < size(); ++i)
        if ((*this)[i] == manager) return static_cast<int64_t>(i) >= static_cast<int64_t>(LoadIndex);
    return false;
}

std::wstring C_ResManager::Progress() const
{
    int percent = 0;
    if (LoadingClass != L"C_PureResource" && !empty()) {
        percent = static_cast<int>(int64_t(LoadIndex) * 100 / int64_t(size()));
        if (percent > 100) percent = 100;
        if (percent < 0) percent = 0;
    }
    return std::to_wstring(percent) + L"%";
}

void C_ResManager::ReleaseDeviceObjects()
{
    C_BaseResource::C_DeviceRelease deviceOnly;
    UnloadAll();
}

void C_ResManager::UnloadAll()
{
    for (C_BaseResManager* manager : *this)
        for (std::size_t i = 0; i < manager->size(); ++i) (*manager)[i]->Unload();
    CurrentDevice = nullptr;
}

void C_ResManager::Clear()
{
    // Everything is destroyed next: the full release, scene included.
    UnloadAll();
    m_ClassMap.clear();
    for (C_BaseResManager* manager : *this) {
        for (std::size_t i = 0; i < manager->size(); ++i) (*manager)[i]->ReleaseToPool();
        manager->clear();
        m_ManagerPool.Release(manager);
    }
    m_ManagerPool.Clear();
    clear();
    // A run that was interrupted must not resume in the next scene.
    LoadIndex = 0;
    LoadingClass.clear();
}
