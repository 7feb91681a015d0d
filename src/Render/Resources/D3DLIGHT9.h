#pragma once
// Lights. They are queued like drawable objects but always sort first, and
// each camera gets exactly the lights of the modules it belongs to: during
// the update every enabled light registers with every camera of its module,
// and the first light drawn for a camera installs that camera's whole list
// and disables the slots left over from before.

#include <cstdint>
#include <map>
#include <vector>

#include "BaseClasses/BaseModule.h"
#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"
#include "port/d3d9/d3d9.h"

class C_D3DLIGHT9 : public C_BaseResource, public ContainedInModule {
public:
    // The lights registered per camera during this frame's update, and what
    // the device was last given.
    struct C_LightLists {
        std::map<C_BaseObject*, std::vector<C_D3DLIGHT9*>> PerCamera;
        C_BaseObject* LastCamera = nullptr;
        uint32_t EnabledCount = 0;
    };
    static C_LightLists& Lists();

    C_D3DLIGHT9();

    void AddToRenderQueue() override;                 // 10
    void ClearDistances() override;                   // 11
    void CalcDistance(C_BaseObject* other) override;  // 12
    float GetDistance(C_BaseObject* other) override;  // 13
    ~C_D3DLIGHT9() override;                          // 14
    void Draw(IDirect3DDevice9* device) override;     // 16

    D3DLIGHT9 Light{};

protected:
    // Fields 0 to 6: diffuse, specular, ambient, three coordinates (position
    // or direction, as the kind says), range.
    void ReadFields(D3DVECTOR& vector);
};

class C_D3DLIGHT9_POINT : public C_D3DLIGHT9 {
    TW_POOLED_CLASS(C_D3DLIGHT9_POINT)

public:
    C_D3DLIGHT9_POINT();
    void Load(IDirect3DDevice9* device) override;     // 21
};

class C_D3DLIGHT9_DIRECTIONAL : public C_D3DLIGHT9 {
    TW_POOLED_CLASS(C_D3DLIGHT9_DIRECTIONAL)

public:
    C_D3DLIGHT9_DIRECTIONAL();
    void Load(IDirect3DDevice9* device) override;     // 21
};
