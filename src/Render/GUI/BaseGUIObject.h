#pragma once
// Flat screen elements laid out in pixels under a GUI camera. An element
// that is tied to no other is laid out for a screen 600 pixels high and
// stretched with the real one; it grows to its declared scale while the
// cursor rests on it. C_GUIMouseMove can also be dragged with the left
// mouse button.

#include <cstdint>

#include "Render/Position/PositionObject.h"
#include "ResourceManager/FromFactory.h"

class C_BaseGUIObject : public C_TiedPositionObject {
    TW_POOLED_CLASS(C_BaseGUIObject)

public:
    C_BaseGUIObject();
    ~C_BaseGUIObject() override;

    // Keeps the near flag: elements answer the cursor wherever they are.
    void ClearDistances() override;                               // 11
    void Update() override;                                       // 15
    // Drawn in the main pass only.
    void Draw(IDirect3DDevice9* device) override;                 // 16
    void Load(IDirect3DDevice9* device) override;                 // 21
    // Untied elements take the position for a 600-pixel-high screen.
    void SetLocalPosition(const D3DXVECTOR3& position) override;  // 23
    D3DXVECTOR3 GetLocalPosition() override;                      // 24

    // ScreenHeight / 600: how much larger the screen is than the one the
    // layout was made for. A screen of no height counts as that screen,
    // with a warning.
    static float LayoutFactor();

    float HoverScale = 1.0f;    // the declared scale, shown under the cursor
    float ScreenFactor = 1.0f;  // LayoutFactor for untied elements, else 1
};

class C_GUIMouseMove : public C_BaseGUIObject {
    TW_POOLED_CLASS(C_GUIMouseMove)

public:
    C_GUIMouseMove();
    ~C_GUIMouseMove() override;

    // Follows the cursor while the left button holds it.
    void Update() override;                                       // 15
    void Unload() override;                                       // 22

    bool FirstUpdate = true;
    int32_t LastMouseX = 0, LastMouseY = 0;
};
