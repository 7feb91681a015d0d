#pragma once
// A fixed test arrangement: a tilted box, a cylinder and a wide plate, each
// in its own material.

#include "BaseClasses/BaseModule.h"
#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"

class C_D3DMATERIAL9;

class C_TestCGS : public C_BaseResource, public ContainedInModule {
    TW_POOLED_CLASS(C_TestCGS)

public:
    C_TestCGS();
    ~C_TestCGS() override;

    void Draw(IDirect3DDevice9* device) override;     // 16
    // Makes its three materials and three meshes; each is named by its own
    // value string, so equal ones are shared.
    void Load(IDirect3DDevice9* device) override;     // 21
    void Unload() override;                           // 22

    C_D3DMATERIAL9* Yellow = nullptr;      // not owned
    C_D3DMATERIAL9* Magenta = nullptr;
    C_D3DMATERIAL9* Green = nullptr;
    C_BaseResource* Box = nullptr;
    C_BaseResource* Cylinder = nullptr;
    C_BaseResource* Plate = nullptr;
};
