#pragma once
// The one place that owns every object made from a class name: one manager
// per class, kept in descending order of resource level, loaded onto the
// device one manager per step while the load screen shows the progress.

#include <cstdint>
#include <map>
#include <string>

#include "Common/memory_pool.h"
#include "ResourceManager/BaseResManager.h"

// 0x10000 - level, so that ascending keys mean descending levels.
int GetResourceLevel(C_BaseResManager* const& manager);

class C_ResManager : public C_VectorSort<C_BaseResManager*, int, &GetResourceLevel, 20> {
public:
    static C_ResManager& Instance();

    C_BaseResource* AddResource(const wchar_t* className, const wchar_t* name, const wchar_t* value);

    // "Unknown%i" with the process-wide counter that unnamed resources take
    // their names from (the counter moves on).
    static std::wstring GenerateName();

    // The object of that name in that class's manager; a class without a
    // manager warns when `warn` is set.
    C_BaseResource* GetResource(const wchar_t* name, const wchar_t* className, bool warn);
    // The first object of that name in any manager, managers in level order;
    // warns when there is none.
    C_BaseResource* GetResource(const wchar_t* name);

    // The text of the named-text resource `key` (made on demand).
    std::wstring GetText(const std::wstring& key);

    // Deletes through the manager of the resource's class.
    bool DeleteObject(C_BaseResource* resource);

    // One load step; false when the run is finished.
    bool Load(IDirect3DDevice9* device);
    // True while a load run is under way and the manager of `resource` has
    // not finished its step yet, so the run will still load the resource.
    // An object made late (by a script, or by an object of the same level
    // whose manager came first) gets false and must be loaded by its maker.
    bool LoadsLater(C_BaseResource* resource) const;
    std::wstring Progress() const;

    // Before a device reset: every resource lets go of its device objects
    // and keeps its place in the scene (name, links, lists), so that the
    // following load run restores the same scene.
    void ReleaseDeviceObjects();
    // Destroys every resource and manager (full Unload first).
    void Clear();

    C_BaseResManager* GetManager(const std::wstring& className) const;

    // The device with which the last complete load run finished.
    static IDirect3DDevice9* CurrentDevice;

    int32_t LoadIndex = 0;
    std::wstring LoadingClass;

private:
    C_ResManager() = default;
    ~C_ResManager();

    void LoadManager(C_BaseResManager* manager, IDirect3DDevice9* device);
    // Unload of every resource in manager order; current device = null.
    void UnloadAll();

    VORTALEX::memory_pool<C_BaseResManager, 32> m_ManagerPool;
    std::map<std::wstring, C_BaseResManager*> m_ClassMap;
    static inline int s_UnknownCounter = 0;
};
