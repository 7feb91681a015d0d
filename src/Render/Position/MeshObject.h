#pragma once
// An object of the scene bound to a shared mesh resource (a box, cylinder,
// sphere, .x mesh...). Every object whose mesh text is the same draws the same
// mesh resource.

#include <string>

#include "BaseClasses/BaseResource.h"

class C_MeshObject : public C_BaseResource {
public:
    C_MeshObject();
    ~C_MeshObject() override;

    float GetRadius() override;                            // 7
    D3DXVECTOR3 GetBoxMax() override;                      // 8
    D3DXVECTOR3 GetBoxMin() override;                      // 9
    void CalcDistance(C_BaseObject* other) override;       // 12
    void Draw(IDirect3DDevice9* device) override;          // 16
    // Field 0: the mesh class; field 1: the named text that is both the
    // mesh's name and its parameter string.
    void Load(IDirect3DDevice9* device) override;          // 21
    void Unload() override;                                // 22

    // Called when a resource is destroyed: every mesh object that drew it
    // lets go of it (a script may delete a shared mesh).
    static void ForgetMesh(const C_BaseResource* mesh);

    C_BaseResource* Mesh = nullptr;   // borrowed from the resource manager
};
