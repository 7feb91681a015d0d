#include "ResourceManager/BaseResManager.h"

#include "Logger/Logger.h"
#include "ResourceManager/FromFactory.h"

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
    if (empty()) m_Level = resource->ResourceLevel;
    resource->SetName(key.c_str());
    resource->SetValue(value ? value : L"");
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
    return Lookup(name);
}

bool C_BaseResManager::DeleteObject(C_BaseResource* resource)
{
    if (!resource) return false;
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
    return empty() ? m_Level : front()->ResourceLevel;
}
