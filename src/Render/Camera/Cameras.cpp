#include "Render/Camera/Cameras.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "BaseClasses/ParameterString.h"

TW_REGISTER_CLASS(C_FirstFaceCamera)
TW_REGISTER_CLASS(C_OperatedMouseCamera)
TW_REGISTER_CLASS(C_GUICamera)
TW_REGISTER_CLASS(C_CameraPositionObject)

namespace {

constexpr int kKeyW = 0x11, kKeyS = 0x1F, kKeyA = 0x1E, kKeyD = 0x20, kKeyLeftShift = 0x2A;
constexpr float kQuarterTurn = 1.5707964f;

}  // namespace

// ---------------------------------------------------------------------------
// First person

void C_FirstFaceCamera::Load(IDirect3DDevice9* device)
{
    C_BaseCamera::Load(device);
    const std::wstring speed = GetField(6);
    Speed = speed.empty() ? 10.0f : ParameterString::ReadFloat(speed);
    // The first frames measure distances before any movement has rebuilt
    // the view: it must already stand where the value string put it.
    PlaceView();
}

void C_FirstFaceCamera::PlaceView()
{
    D3DXMATRIX rotationX, rotationZ, world;
    D3DXMatrixRotationX(&rotationX, A);
    D3DXMatrixRotationZ(&rotationZ, C);
    D3DXMatrixMultiply(&world, &rotationX, &rotationZ);
    world._41 = X;
    world._42 = Y;
    world._43 = Z;
    if (!D3DXMatrixInverse(&View, nullptr, &world)) D3DXMatrixIdentity(&View);
}

void C_FirstFaceCamera::Update()
{
    const C_CommonData& common = CommonData();
    if (!m_Started) {
        m_Started = true;
        m_PreviousTick = common.Time;
        m_PreviousX = common.MouseX;
        m_PreviousY = common.MouseY;
    }
    if (common.Time == m_PreviousTick) {
        // Nothing moved, but a script may have set the coordinates.
        PlaceView();
        PickStep();
        return;
    }
    const C_BaseInput& input = common.Input;
    float step = Speed * static_cast<float>(common.Time - m_PreviousTick) / 1000.0f;
    m_PreviousTick = common.Time;
    if (input.KeyDown(kKeyLeftShift)) step *= 10.0f;

    if (input.MouseButtonDown(1)) {
        C += static_cast<float>(common.MouseX - m_PreviousX) * 0.005f;
        A += static_cast<float>(common.MouseY - m_PreviousY) * 0.005f;
        A = std::clamp(A, 0.0f, 3.1415927f);
    }
    m_PreviousX = common.MouseX;
    m_PreviousY = common.MouseY;

    auto walk = [this](float angle, float distance) {
        X += std::sin(angle) * distance;
        Y -= std::cos(angle) * distance;
    };
    if (input.KeyDown(kKeyW)) walk(C, step);
    if (input.KeyDown(kKeyS)) walk(C, -step);
    if (input.KeyDown(kKeyA)) walk(C - kQuarterTurn, step);
    if (input.KeyDown(kKeyD)) walk(C + kQuarterTurn, step);

    PickStep();
    PlaceView();
}

// ---------------------------------------------------------------------------
// Orbit

C_OperatedMouseCamera::C_OperatedMouseCamera()
{
    X = 0.0f;
    Y = 0.0f;
    Z = 50.0f;
    A = -2.3f;
    B = -2.3f;
    C = 0.0f;
    PreviousMouseX = CommonData().MouseX;
    PreviousMouseY = CommonData().MouseY;
}

void C_OperatedMouseCamera::Update()
{
    const C_CommonData& common = CommonData();
    const C_BaseInput& input = common.Input;
    const int32_t dx = common.MouseX - PreviousMouseX;
    const int32_t dy = common.MouseY - PreviousMouseY;

    // A jump of 10 pixels or more is the pointer entering the window, not a
    // drag, so it does not pan.
    if (input.MouseButtonDown(0) && std::abs(dx) < 10 && std::abs(dy) < 10) {
        X += static_cast<float>(dx) * Z * 0.001f;
        Y -= static_cast<float>(dy) * Z * 0.001f;
    }
    const float a = static_cast<float>(5000 - common.MouseWheel) * Z;
    if (a <= -5000.0f || a >= 5000.0f) Z = a * 0.0002f;
    if (input.MouseButtonDown(1)) {
        A -= static_cast<float>(dx) * 0.005f;
        B -= static_cast<float>(dy) * 0.005f;
    }
    PreviousMouseX = common.MouseX;
    PreviousMouseY = common.MouseY;
    PickStep();
    PlaceView();
}

void C_OperatedMouseCamera::Load(IDirect3DDevice9* device)
{
    C_BaseCamera::Load(device);
    // Like the walking camera: placed before its first update measures.
    PlaceView();
}

void C_OperatedMouseCamera::PlaceView()
{
    D3DXMatrixRotationYawPitchRoll(&View, 0.0f, B, A);
    View._41 = X;
    View._42 = Y;
    View._43 = Z;
}

// ---------------------------------------------------------------------------
// Flat layouts

void C_GUICamera::Load(IDirect3DDevice9* device)
{
    C_BaseCamera::Load(device);
    const float d = static_cast<float>(Viewport.Height) / (2.0f * std::tan(FieldOfView / 2.0f));
    D3DXMatrixIdentity(&View);
    View._43 = d;
    NearPlane = d - 5000.0f;
    if (NearPlane < 0.0f) NearPlane = 0.1f;
    FarPlane = d + 5000.0f;
    UpdateProjection();
}

// ---------------------------------------------------------------------------
// Marker

float C_CameraPositionObject::GetDistance(C_BaseObject*) { return 1e37f; }
void C_CameraPositionObject::Draw(IDirect3DDevice9* device) { C_MeshObject::Draw(device); }
void C_CameraPositionObject::Load(IDirect3DDevice9* device) { C_MeshObject::Load(device); }
