#include "ResourceManager/BaseResManager.h"

#include <algorithm>

#include "Logger/Logger.h"
#include "ResourceManager/FromFactory.h"
#include "ResourceManager/ResManager.h"

const std::wstring& GetNameValue(C_BaseResource* const& resource)
{
    return resource->Name;
}

C_BaseResManager::C_BaseResManager(const std::wstring& className)
    : ClassName(className)
{
}

C_BaseResource* C_BaseResManager::AddResource(const wchar_t* name, const wchar_t* value)
{
    const std::wstring key = name ? name : L"";
    if (Search(key)) return (*this)[GetPosition()];
    if (!m_PendingByName.empty()) {
        const auto waiting = m_PendingByName.find(key);
        if (waiting != m_PendingByName.end()) return waiting->second;
    }
    const std::size_t position = GetPosition();
    const std::size_t count = size();

    C_BaseObject* object = C_FromFactory(ClassName.c_str()).Create();
    C_BaseResource* resource = dynamic_cast<C_BaseResource*>(object);
    if (!resource) {
        // An object that is not a resource cannot be owned here; give its
        // slot back instead of leaking it.
        if (object) object->ReleaseToPool();
        LOG_WARNING(L"не создан объект ресурса: " << key);
        return nullptr;
    }
    if (empty() && m_Pending.empty()) m_Level = resource->ResourceLevel;
    resource->SetName(key.c_str());
    resource->SetValue(value ? value : L"");
    if (C_ResManager::AddingInBulk()) {
        m_Pending.push_back(resource);
        m_PendingByName.emplace(key, resource);
        return resource;
    }
    // The search above found the place, unless making the object changed
    // the list meanwhile.
    if (size() == count && resource->Name == key)
        insert(begin() + static_cast<std::ptrdiff_t>(position), resource);
    else
        Insert(resource);
    return resource;
}

C_BaseResource* C_BaseResManager::Find(const std::wstring& name)
{
    if (C_BaseResource* found = Lookup(name)) return found;
    if (m_PendingByName.empty()) return nullptr;
    const auto waiting = m_PendingByName.find(name);
    return waiting == m_PendingByName.end() ? nullptr : waiting->second;
}

void C_BaseResManager::MergePending()
{
    if (m_Pending.empty()) return;
    // Names are unique, so the order among the new objects is their names';
    // a stable sort keeps the order of making for names changed meanwhile.
    std::stable_sort(m_Pending.begin(), m_Pending.end(),
                     [](C_BaseResource* a, C_BaseResource* b) { return a->Name < b->Name; });
    const std::size_t middle = size();
    insert(end(), m_Pending.begin(), m_Pending.end());
    std::inplace_merge(begin(), begin() + static_cast<std::ptrdiff_t>(middle), end(),
                       [](C_BaseResource* a, C_BaseResource* b) { return a->Name < b->Name; });
    m_Pending.clear();
    m_PendingByName.clear();
}

bool C_BaseResManager::DeleteObject(C_BaseResource* resource)
{
    if (!resource) return false;
    const auto waiting = std::find(m_Pending.begin(), m_Pending.end(), resource);
    if (waiting != m_Pending.end()) {
        m_Pending.erase(waiting);
        for (auto it = m_PendingByName.begin(); it != m_PendingByName.end(); ++it)
            if (it->second == resource) {
                m_PendingByName.erase(it);
                break;
            }
        resource->Unload();
        resource->ReleaseToPool();
        return true;
    }
    if (Search(resource->Name) && (*this)[GetPosition()] == resource) {
        RemoveAt(GetPosition());
        resource->Unload();
        resource->ReleaseToPool();
        return true;
    }
    LOG_WARNING(L"Удаление объекта " << resource->Name << L" не удалось...");
    return false;
}

int32_t C_BaseResManager::GetLevel() const
{
    if (!empty()) return front()->ResourceLevel;
    return m_Pending.empty() ? m_Level : m_Pending.front()->ResourceLevel;
}
