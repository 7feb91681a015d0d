#include "Render/GUI/BaseGUIObject.h"

#include "Logger/Logger.h"

TW_REGISTER_CLASS(C_BaseGUIObject)
TW_REGISTER_CLASS(C_GUIMouseMove)

// ---------------------------------------------------------------------------
// C_BaseGUIObject

C_BaseGUIObject::C_BaseGUIObject() { ResourceLevel = 2; }
C_BaseGUIObject::~C_BaseGUIObject() = default;

float C_BaseGUIObject::LayoutFactor()
{
    const int32_t height = CommonData().ScreenHeight;
    if (height <= 0) {
        // A factor of 0 would fold every element into a point and make
        // dragging divide by zero.
        LOG_WARNING(L"Высота экрана не задана (" << height << L"): элементы интерфейса не масштабируются");
        return 1.0f;
    }
    return static_cast<float>(height) / 600.0f;
}

void C_BaseGUIObject::ClearDistances()
{
    Distances.clear();
    Near = true;
}

void C_BaseGUIObject::Load(IDirect3DDevice9* device)
{
    C_TiedPositionObject::Load(device);
    ScreenFactor = 1.0f;
    if (!GetParent()) {
        ScreenFactor = LayoutFactor();
        X *= ScreenFactor;
        Y *= ScreenFactor;
        Z *= ScreenFactor;
    }
    HoverScale = ScaleX;
    // Placed as the first update will place it, so bounds and picking are
    // right before it.
    ScaleX = ScaleY = ScaleZ = ScreenFactor;
    ComposeWorldMatrix();
    ComputeTiedMatrix();
}

void C_BaseGUIObject::SetLocalPosition(const D3DXVECTOR3& position)
{
    D3DXVECTOR3 scaled = position;
    if (!GetParent()) {
        const float factor = LayoutFactor();
        scaled = D3DXVECTOR3(position.x * factor, position.y * factor, position.z * factor);
    }
    C_TiedPositionObject::SetLocalPosition(scaled);
}

D3DXVECTOR3 C_BaseGUIObject::GetLocalPosition()
{
    if (GetParent()) return D3DXVECTOR3(X, Y, Z);
    const float factor = LayoutFactor();
    return D3DXVECTOR3(X / factor, Y / factor, Z / factor);
}

void C_BaseGUIObject::Update()
{
    // Only resting under the cursor grows the element: pressed (2, 3) or
    // away (0) it keeps the screen's scale.
    const float scale = CursorStatus.Value == 1 ? ScreenFactor * HoverScale : ScreenFactor;
    ScaleX = ScaleY = ScaleZ = scale;
    ComposeWorldMatrix();
    C_TiedPositionObject::Update();
}

void C_BaseGUIObject::Draw(IDirect3DDevice9* device)
{
    if (CommonData().RenderPass != 0) return;
    C_TiedPositionObject::Draw(device);
}

// ---------------------------------------------------------------------------
// C_GUIMouseMove

C_GUIMouseMove::C_GUIMouseMove() = default;
C_GUIMouseMove::~C_GUIMouseMove() = default;

void C_GUIMouseMove::Update()
{
    const C_CommonData& common = CommonData();
    if (FirstUpdate) {
        LastMouseX = common.MouseX;
        LastMouseY = common.MouseY;
        FirstUpdate = false;
    }
    if (CursorStatus.Value == 2 && (common.MouseX != LastMouseX || common.MouseY != LastMouseY)) {
        // Under a GUI camera a pixel is a world unit; screen y grows
        // downward and world y upward.
        D3DXVECTOR3 step(static_cast<float>(int64_t(common.MouseX) - LastMouseX),
                         -static_cast<float>(int64_t(common.MouseY) - LastMouseY), 0.0f);
        // A tied element moves in its parent's frame, which may be scaled
        // (the parent's screen factor) or turned: the step is carried back
        // into that frame so the element stays under the cursor.
        if (C_TiedPositionObject* parent = GetParent()) {
            D3DXMATRIX inverse;
            if (D3DXMatrixInverse(&inverse, nullptr, &parent->TiedWorld)) {
                D3DXVECTOR3 local;
                D3DXVec3TransformNormal(&local, &step, &inverse);
                step = local;
            }
        }
        X += step.x;
        Y += step.y;
        Z += step.z;
        ComposeWorldMatrix();
    }
    LastMouseX = common.MouseX;
    LastMouseY = common.MouseY;
    C_BaseGUIObject::Update();
}

void C_GUIMouseMove::Unload()
{
    // After a reload the cursor is measured afresh, not from where it was
    // before.
    FirstUpdate = true;
    Mesh = nullptr;
    C_BaseGUIObject::Unload();
}
