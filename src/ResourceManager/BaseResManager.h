#pragma once
// The owner of every object of one class: the objects sorted by name, with
// binary-search lookup, creation through the class registry and deletion
// back into the class pool.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/VectorSort.h"

// The key of a resource in its manager: its current name.
const std::wstring& GetNameValue(C_BaseResource* const& resource);

class C_BaseResManager
    : public C_VectorSort<C_BaseResource*, std::wstring, &GetNameValue, 100> {
public:
    explicit C_BaseResManager(const std::wstring& className = std::wstring());
    ~C_BaseResManager() override = default;

    // The existing object of that name (value not applied), or a new one of
    // the manager's class; null with a warning when the class makes none.
    C_BaseResource* AddResource(const wchar_t* name, const wchar_t* value);

    // The object of that name, or null.
    C_BaseResource* Find(const std::wstring& name);

    // Removes the object found by its current name, unloads it and returns
    // it to its pool; false with a warning when the name finds another
    // object (or none).
    bool DeleteObject(C_BaseResource* resource);

    // Resource level of the manager's objects (of the first one while it has
    // any, of the first one it ever held once it is empty).
    int32_t GetLevel() const;

    // Objects made while C_ResManager adds in bulk wait beside the sorted
    // list (found by name all the same) and join it here in one merge, so a
    // module of many objects is not built by one insertion into the middle
    // of the list per object.
    void MergePending();
    std::size_t PendingCount() const { return m_Pending.size(); }

    std::wstring ClassName;

private:
    int32_t m_Level = 0;
    std::vector<C_BaseResource*> m_Pending;
    std::unordered_map<std::wstring, C_BaseResource*> m_PendingByName;
};
