#pragma once
// A compiled effect file through which the render queue draws the objects
// that name it and are close enough to the camera: each pass of the
// object's technique draws the object once, with the frame's time, the
// camera's view and projection and the object's world matrix as parameters.

#include <cstdint>
#include <string>

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"
#include "port/d3dx9/d3dx9effect.h"

class C_D3DXEFFECT : public C_BaseResource {
    TW_POOLED_CLASS(C_D3DXEFFECT)

public:
    C_D3DXEFFECT();
    // Objects that use the effect forget it.
    ~C_D3DXEFFECT() override;                          // 14
    // Draws Object through the object's technique, every pass in order;
    // without a compiled effect or a technique the effect knows, the object
    // draws itself as it would without an effect.
    void Draw(IDirect3DDevice9* device) override;      // 16
    // Field 0: the effect file, relative to the "FolderEffect" folder.
    void Load(IDirect3DDevice9* device) override;      // 21
    // Releases the compiled effect, then the common release.
    void Unload() override;                            // 22

    // True when the compiled effect has a technique of that name that works
    // on the device.
    bool ValidateTechnique(const std::wstring& technique);
    // Sets a matrix parameter and sends it to the pass being drawn.
    void SetMatrixAndCommit(const char* parameter, const D3DXMATRIX& matrix);

    // "CurrentTime": the frame's tick count in seconds, millisecond steps,
    // wrapping with the 32-bit count.
    static float TimeInSeconds(uint32_t milliseconds);

    // Installs the object model's, the queue's and the positioned objects'
    // access to effects (done once at start).
    static void InstallSupport();

    ID3DXEffect* D3DXEffect = nullptr;
    C_BaseObject* Object = nullptr;    // drawn next; set by the render queue for one Draw, not owned

private:
    void ReleaseEffect();
    // Warns about the parameters the engine sets that the file declares
    // with another type.
    void CheckParameterTypes();
};
