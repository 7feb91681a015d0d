#pragma once
// An object that a resource manager owns and loads onto the device: a load
// level, attached (extra) objects drawn together with it, and the common load
// steps (script, effect, extra objects).

#include <cstdint>
#include <string>

#include "BaseClasses/BaseObject.h"
#include "Common/vector.h"

class C_BaseResource : public C_BaseObject {
public:
    C_BaseResource();
    ~C_BaseResource() override;

    // Draws the extra objects in list order during the main pass.
    void Draw(IDirect3DDevice9* device) override;               // 16
    virtual void Load(IDirect3DDevice9* device);                 // 21
    // Frees the object's device objects and, unless a device release is in
    // progress (C_DeviceRelease), forgets the scene part as well: name,
    // reference count, technique and extra objects.
    virtual void Unload();                                       // 22

    // Field `index` of `source`, or of the object's own value string when
    // `source` is empty.
    std::wstring GetField(int index, const std::wstring& source = std::wstring()) const;

    void LoadScript();
    void LoadEffect();
    void LoadExtraObjects(const std::wstring& names);

    // Script operations on extra objects, scripts and effects (IDs as in
    // C_BaseObject).
    static double AddExtraObject(double id, double extraId);
    static double DeleteExtraObject(double id, double extraId);
    static double ClearExtraObjects(double id);
    static double SetAnotherScript(double id, const std::string& script);
    static double ClearScript(double id);
    static double SetAnotherEffect(double id, const std::string& effect);
    static double ClearEffect(double id);

    // The effect code installs these: finding an effect resource by name and
    // asking it whether a technique works on this device. Without them no
    // effect is ever found.
    struct C_EffectSupport {
        C_D3DXEFFECT* (*Find)(const std::wstring& name) = nullptr;
        bool (*ValidateTechnique)(C_D3DXEFFECT* effect, const std::wstring& technique) = nullptr;
    };
    static C_EffectSupport EffectSupport;

    // Runs a script file's text once as a chunk named by its path; the Lua
    // host by default. Null: a script file is read and nothing is run.
    using RunScriptFunction = void (*)(const std::string& code, const std::wstring& chunkName);
    static RunScriptFunction RunScript;

    // While one of these lives, Unload frees only what lives on the device:
    // a device reset is followed by a load run that must find every name,
    // extra object and module child again. Nests.
    class C_DeviceRelease {
    public:
        C_DeviceRelease() { ++s_DeviceReleaseDepth; }
        ~C_DeviceRelease() { --s_DeviceReleaseDepth; }
        C_DeviceRelease(const C_DeviceRelease&) = delete;
        C_DeviceRelease& operator=(const C_DeviceRelease&) = delete;
    };
    // True inside a C_DeviceRelease: Unload keeps the scene.
    static bool ReleasingDeviceObjectsOnly() { return s_DeviceReleaseDepth > 0; }

    int32_t ResourceLevel = 0;                       // load order (higher loads first)
    VORTALEX::vector<C_BaseResource*, 100> ExtraObjects;   // not owned

private:
    void LoadExtraObjects(const std::wstring& names, int depth);

    static inline int s_DeviceReleaseDepth = 0;
};
