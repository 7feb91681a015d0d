#include "Render/Camera/BaseCamera.h"

#include <cmath>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "QueueRendering/QueueRendering.h"
#include "ResourceManager/ResManager.h"

namespace {

[[maybe_unused]] const bool g_installed = [] {
    C_BaseCamera::InstallModuleSupport();
    return true;
}();

// A fraction times a size, truncated; negative or absurd products give 0.
DWORD Pixels(float fraction, UINT size)
{
    const double value = static_cast<double>(fraction) * size;
    if (!(value > 0.0)) return 0;
    if (value >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<DWORD>(value);
}

C_BaseCamera* CameraFromID(double id) { return dynamic_cast<C_BaseCamera*>(C_BaseObject::FromID(id)); }

}  // namespace

void C_BaseCamera::InstallModuleSupport()
{
    C_BaseModule::C_CameraSupport& support = C_BaseModule::CameraSupport;
    support.AsCamera = [](C_BaseObject* object) { return dynamic_cast<C_BaseCamera*>(object); };
    support.CameraObject = [](C_BaseCamera* camera) -> C_BaseObject* { return camera; };
    support.ViewportContains = [](C_BaseCamera* camera, int32_t x, int32_t y) {
        return camera->ViewportContains(x, y);
    };
    support.SetObjectUnderCursor = [](C_BaseCamera* camera, C_BaseObject* object) {
        camera->ObjectUnderCursor = object;
    };
}

C_BaseCamera::C_BaseCamera()
{
    SetName(L"Camera");
    D3DXMatrixIdentity(&View);
    D3DXMatrixIdentity(&Projection);
}

C_BaseCamera::~C_BaseCamera() = default;

std::wstring C_BaseCamera::Descriptor(int index) const
{
    const std::wstring name = GetField(index);
    if (name.empty()) return std::wstring();
    return C_ResManager::Instance().GetText(name);
}

void C_BaseCamera::ReadValue()
{
    using ParameterString::GetField;
    using ParameterString::ReadFloat;

    ViewportLeft = 0.0f;
    ViewportTop = 0.0f;
    ViewportRight = 1.0f;
    ViewportBottom = 1.0f;
    if (const std::wstring text = Descriptor(0); !text.empty()) {
        ViewportLeft = ReadFloat(GetField(text, 0));
        ViewportTop = ReadFloat(GetField(text, 1));
        ViewportRight = ReadFloat(GetField(text, 2));
        ViewportBottom = ReadFloat(GetField(text, 3));
    }
    const std::wstring fov = C_BaseResource::GetField(1);
    FieldOfView = fov.empty() ? 0.5235988f : ReadFloat(fov);
    const std::wstring colour = C_BaseResource::GetField(2);
    ClearTarget = !colour.empty();
    if (ClearTarget) ClearColor = ParameterString::ReadColor(colour);
    if (const std::wstring text = Descriptor(3); !text.empty()) {
        X = ReadFloat(GetField(text, 0));
        Y = ReadFloat(GetField(text, 1));
        Z = ReadFloat(GetField(text, 2));
    }
    if (const std::wstring text = Descriptor(4); !text.empty()) {
        A = ReadFloat(GetField(text, 0));
        B = ReadFloat(GetField(text, 1));
        C = ReadFloat(GetField(text, 2));
    }
    NearPlane = 0.1f;
    FarPlane = 10000.0f;
    if (const std::wstring text = Descriptor(5); !text.empty()) {
        NearPlane = ReadFloat(GetField(text, 0));
        FarPlane = ReadFloat(GetField(text, 1));
    }
}

void C_BaseCamera::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    ReadValue();
    UpdateViewport(device);
}

void C_BaseCamera::UpdateViewport(IDirect3DDevice9* device)
{
    UINT width = static_cast<UINT>(std::max(CommonData().ScreenWidth, 0));
    UINT height = static_cast<UINT>(std::max(CommonData().ScreenHeight, 0));
    IDirect3DSurface9* target = nullptr;
    if (device && SUCCEEDED(device->GetRenderTarget(0, &target)) && target) {
        D3DSURFACE_DESC desc{};
        if (SUCCEEDED(target->GetDesc(&desc))) {
            width = desc.Width;
            height = desc.Height;
        }
        target->Release();
    }
    Viewport.X = Pixels(ViewportLeft, width);
    Viewport.Y = Pixels(ViewportTop, height);
    Viewport.Width = Pixels(ViewportRight - ViewportLeft, width);
    Viewport.Height = Pixels(ViewportBottom - ViewportTop, height);
    Viewport.MinZ = 0.0f;
    Viewport.MaxZ = 1.0f;
    UpdateProjection();
    if (device) device->SetViewport(&Viewport);
}

void C_BaseCamera::UpdateProjection()
{
    if (static_cast<uint64_t>(Viewport.Width) * Viewport.Height != 0)
        AspectRatio = static_cast<float>(Viewport.Width) / static_cast<float>(Viewport.Height);
    D3DXMatrixPerspectiveFovLH(&Projection, FieldOfView, AspectRatio, NearPlane, FarPlane);
}

void C_BaseCamera::AddToRenderQueue()
{
    C_CommonData& common = CommonData();
    common.CurrentCamera = this;
    D3DXMATRIX m;
    D3DXMatrixMultiply(&m, &View, &Projection);
    // Column j of M as a plane (a, b, c, d).
    auto column = [&m](int j) { return D3DXPLANE(m.m[0][j], m.m[1][j], m.m[2][j], m.m[3][j]); };
    const D3DXPLANE c1 = column(0), c2 = column(1), c3 = column(2), c4 = column(3);
    auto sum = [](const D3DXPLANE& p, const D3DXPLANE& q, float sign) {
        return D3DXPLANE(p.a + sign * q.a, p.b + sign * q.b, p.c + sign * q.c, p.d + sign * q.d);
    };
    const D3DXPLANE planes[6] = {sum(c4, c1, -1.0f), sum(c4, c1, 1.0f), sum(c4, c2, 1.0f),
                                 sum(c4, c2, -1.0f), sum(c4, c3, -1.0f), sum(c4, c3, 1.0f)};
    for (int i = 0; i < 6; ++i) D3DXPlaneNormalize(&common.FrustumPlanes[i], &planes[i]);
    C_QueueRendering::Instance().Add(this);
}

void C_BaseCamera::Draw(IDirect3DDevice9* device)
{
    C_BaseResource::Draw(device);
    C_CommonData& common = CommonData();
    common.CurrentCamera = this;
    if (!device) return;
    if (common.RenderPass == 0) UpdateViewport(device);
    device->SetTransform(D3DTS_VIEW, &View);
    device->SetTransform(D3DTS_PROJECTION, &Projection);
    DWORD flags = D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL;
    if (ClearTarget) flags |= D3DCLEAR_TARGET;
    // Render surfaces have a 16-bit depth buffer without stencil, where
    // Direct3D refuses the whole clear; their depth must still be cleared.
    if (FAILED(device->Clear(0, nullptr, flags, ClearColor, 1.0f, 0)))
        device->Clear(0, nullptr, flags & ~static_cast<DWORD>(D3DCLEAR_STENCIL), ClearColor, 1.0f, 0);
}

void C_BaseCamera::PickStep()
{
    ObjectUnderCursor = nullptr;
    const C_CommonData& common = CommonData();
    const float width = static_cast<float>(Viewport.Width);
    const float height = static_cast<float>(Viewport.Height);
    const float mx = static_cast<float>(common.MouseX - static_cast<int64_t>(Viewport.X));
    const float my = static_cast<float>(common.MouseY - static_cast<int64_t>(Viewport.Y));
    const float tx = View._41, ty = View._42, tz = View._43;
    // An empty viewport has no pixels to aim through.
    const float s = height > 0.0f ? 2.0f * std::tan(FieldOfView / 2.0f) / height : 0.0f;

    D3DXMATRIX inverse;
    if (!D3DXMatrixInverse(&inverse, nullptr, &View)) D3DXMatrixIdentity(&inverse);
    const D3DXVECTOR3 position(inverse._41, inverse._42, inverse._43);
    const D3DXVECTOR3 p((mx - width / 2.0f) * tz * s - tx, -((my - height / 2.0f) * tz * s) - ty, 0.0f);
    D3DXVECTOR3 rotated;
    D3DXVec3TransformNormal(&rotated, &p, &inverse);
    PickDirection = rotated - position;
    SetPosition(position);
    C_BaseObject::Update();
}

void C_BaseCamera::Update() { PickStep(); }

bool C_BaseCamera::ViewportContains(int x, int y) const
{
    const int64_t left = Viewport.X, top = Viewport.Y;
    return x >= left && x <= left + Viewport.Width && y >= top && y <= top + Viewport.Height;
}

float* C_BaseCamera::Coordinate(const std::string& axis)
{
    if (axis == "X") return &X;
    if (axis == "Y") return &Y;
    if (axis == "Z") return &Z;
    if (axis == "A") return &A;
    if (axis == "B") return &B;
    if (axis == "C") return &C;
    return nullptr;
}

double C_BaseCamera::SetCameraCoord(double id, const std::string& axis, double value)
{
    C_BaseCamera* camera = CameraFromID(id);
    if (!camera) return 0.0;
    if (float* coordinate = camera->Coordinate(axis)) *coordinate = static_cast<float>(value);
    else LOG_WARNING(L"C_BaseCamera::SetCameraCoord(): неправильно задана ось");
    return 0.0;
}

double C_BaseCamera::GetCameraCoord(double id, const std::string& axis)
{
    C_BaseCamera* camera = CameraFromID(id);
    if (!camera) return 0.0;
    if (const float* coordinate = camera->Coordinate(axis)) return *coordinate;
    LOG_WARNING(L"C_BaseCamera::SetCameraCoord(): неправильно задана ось");
    return 0.0;
}
