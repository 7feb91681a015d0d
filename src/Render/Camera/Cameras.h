#pragma once
// The concrete cameras: a first-person walking camera, an orbit camera
// driven by the mouse, a pixel-exact camera for flat layouts, and the marker
// object drawn first in every queue.

#include <cstdint>

#include "Render/Camera/BaseCamera.h"
#include "Render/Position/PositionObject.h"
#include "ResourceManager/FromFactory.h"

// Walks with W, A, S, D (Shift ten times faster) and looks around while the
// right mouse button is held. Z is up.
class C_FirstFaceCamera : public C_BaseCamera {
    TW_POOLED_CLASS(C_FirstFaceCamera)

public:
    void Update() override;
    void Load(IDirect3DDevice9* device) override;

    float Speed = 10.0f;   // units per second

private:
    // View = inverse(RotationX(A) x RotationZ(C)) placed at (X, Y, Z).
    void PlaceView();

    // Each camera keeps its own clock and mouse, so several walking cameras
    // in one scene all move.
    bool m_Started = false;
    uint32_t m_PreviousTick = 0;
    int32_t m_PreviousX = 0, m_PreviousY = 0;
};

// Orbits with the right button, pans with the left one, zooms with the wheel.
class C_OperatedMouseCamera : public C_BaseCamera {
    TW_POOLED_CLASS(C_OperatedMouseCamera)

public:
    C_OperatedMouseCamera();
    void Update() override;
    void Load(IDirect3DDevice9* device) override;

    int32_t PreviousMouseX = 0, PreviousMouseY = 0;

private:
    // The view is the placement itself: yaw 0, pitch B, roll A at (X, Y, Z).
    void PlaceView();
};

// One world unit on the plane z = 0 covers one pixel.
class C_GUICamera : public C_BaseCamera {
    TW_POOLED_CLASS(C_GUICamera)

public:
    void Load(IDirect3DDevice9* device) override;
};

// A marker that is always drawn before everything else of its queue. It
// loads and draws as a mesh object and sets no world transform of its own.
class C_CameraPositionObject : public C_PositionObject {
    TW_POOLED_CLASS(C_CameraPositionObject)

public:
    float GetDistance(C_BaseObject* other) override;
    void Draw(IDirect3DDevice9* device) override;
    void Load(IDirect3DDevice9* device) override;
};
