#pragma once
// A camera: a scene object with a view matrix, a perspective projection, a
// viewport given as fractions of the render target and an optional clear
// colour. Each frame it writes the frustum planes used for culling, opens its
// own queue in the render queue, and when drawn sets the viewport and the
// transforms and clears its area. It also works out the direction from the
// camera through the mouse pointer for picking.

#include <string>

#include "BaseClasses/BaseModule.h"
#include "BaseClasses/BaseResource.h"
#include "port/d3d9/d3d9.h"

class C_BaseCamera : public C_BaseResource, public ContainedInModule {
public:
    C_BaseCamera();
    ~C_BaseCamera() override;

    void AddToRenderQueue() override;                 // 10
    void Update() override;                           // 15
    void Draw(IDirect3DDevice9* device) override;     // 16
    void Load(IDirect3DDevice9* device) override;     // 21
    virtual void UpdateProjection();

    // Pixel viewport from the fractions and the size of render target 0 (or
    // the screen), then the projection; sets the viewport on the device.
    void UpdateViewport(IDirect3DDevice9* device);

    // The common pick step: forgets the object under the cursor, works out
    // the pick direction and the camera position from the current view, and
    // runs the object's script.
    void PickStep();

    // True when the pixel (x, y) lies in the viewport, edges included.
    bool ViewportContains(int x, int y) const;

    // Tells modules which of their objects are cameras (done once at start).
    static void InstallModuleSupport();

    // Script access to X, Y, Z, A, B, C by name.
    static double SetCameraCoord(double id, const std::string& axis, double value);
    static double GetCameraCoord(double id, const std::string& axis);

    // The coordinate named by `axis`, or null for another name.
    float* Coordinate(const std::string& axis);

    C_BaseObject* ObjectUnderCursor = nullptr;
    D3DXVECTOR3 PickDirection{0.0f, 0.0f, 1.0f};
    float FarPlane = 10000.0f;
    float NearPlane = 0.1f;
    float X = 0.0f, Y = 0.0f, Z = -1.0f;
    float A = 1.5707964f, B = 0.0f, C = 0.0f;
    float ViewportLeft = 0.0f, ViewportTop = 0.0f, ViewportRight = 0.0f, ViewportBottom = 0.0f;
    D3DVIEWPORT9 Viewport{0, 0, 0, 0, 0.0f, 1.0f};
    D3DCOLOR ClearColor = 0;
    bool ClearTarget = false;
    D3DXMATRIX View;
    D3DXMATRIX Projection;
    float AspectRatio = 1.0f;
    float FieldOfView = 0.5235988f;

protected:
    // Reads value fields 0 to 5 (the kinds read their own after them).
    void ReadValue();
    // The floats of the text entry that field `index` names; empty when the
    // field or the entry is empty.
    std::wstring Descriptor(int index) const;
};
