#include "BaseClasses/BaseInput.h"

#include <cmath>

#include "BaseClasses/BaseModule.h"
#include "Render/Camera/BaseCamera.h"
#include "port/dinput8/dinput.h"

static_assert(sizeof(C_BaseInput::MouseState) == sizeof(DIMOUSESTATE));

namespace {

// The modules pick through this input code once it is linked in.
[[maybe_unused]] const bool g_PickInstalled = [] {
    C_BaseModule::PickObject = static_cast<C_BaseObject* (*)(C_BaseModule*, C_BaseCamera*)>(&C_BaseInput::PickObject);
    return true;
}();

// Indices of the hits of the last pick, reused between calls.
std::vector<int32_t>& Hits()
{
    static auto* hits = new std::vector<int32_t>;
    return *hits;
}

void ReleaseDevice(IDirectInputDevice8W*& device)
{
    if (!device) return;
    device->Unacquire();
    device->Release();
    device = nullptr;
}

} // namespace

C_BaseInput::~C_BaseInput()
{
    Release();
}

void C_BaseInput::Release()
{
    ReleaseDevice(KeyboardDevice);
    ReleaseDevice(MouseDevice);
    if (DirectInput) DirectInput->Release();
    DirectInput = nullptr;
    InitResult = E_FAIL;
}

void C_BaseInput::Initialise(HWND window)
{
    InitResult = E_FAIL;
    // A second call starts over instead of leaking the first devices.
    Release();
    void* created = nullptr;
    if (FAILED(DirectInput8Create(GetModuleHandleW(nullptr), 0x0800, IID_IDirectInput8W, &created, nullptr)) ||
        !created)
        return;
    DirectInput = static_cast<IDirectInput8W*>(created);
    if (FAILED(DirectInput->CreateDevice(GUID_SysKeyboard, &KeyboardDevice, nullptr))) return;
    if (FAILED(DirectInput->CreateDevice(GUID_SysMouse, &MouseDevice, nullptr))) return;
    const DWORD level = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
    if (FAILED(KeyboardDevice->SetDataFormat(&c_dfDIKeyboard))) return;
    if (FAILED(KeyboardDevice->SetCooperativeLevel(window, level))) return;
    if (FAILED(KeyboardDevice->Acquire())) return;
    if (FAILED(MouseDevice->SetDataFormat(&c_dfDIMouse))) return;
    if (FAILED(MouseDevice->SetCooperativeLevel(window, level))) return;
    if (FAILED(MouseDevice->Acquire())) return;
    InitResult = 0;
}

void C_BaseInput::ReadKeyboard()
{
    if (InitResult < 0 || !KeyboardDevice) return;
    HRESULT result = KeyboardDevice->GetDeviceState(sizeof Keyboard, Keyboard);
    while (result == DIERR_INPUTLOST) {
        if (FAILED(KeyboardDevice->Acquire())) return;
        result = KeyboardDevice->GetDeviceState(sizeof Keyboard, Keyboard);
    }
}

void C_BaseInput::ReadMouse()
{
    if (InitResult < 0 || !MouseDevice) return;
    MouseDevice->Poll();
    HRESULT result = MouseDevice->GetDeviceState(sizeof Mouse, &Mouse);
    while (result == DIERR_INPUTLOST || result == DIERR_NOTACQUIRED) {
        if (FAILED(MouseDevice->Acquire())) return;
        MouseDevice->Poll();
        result = MouseDevice->GetDeviceState(sizeof Mouse, &Mouse);
    }
}

namespace {

// False only when the line through `origin` along `direction` passes clearly
// outside the sphere around a box (centre, half extent): such a box cannot be
// hit, and the test costs less than the box probe. Anything near the sphere
// goes on to the exact probe.
bool LineNearSphere(const D3DXVECTOR3& centre, const D3DXVECTOR3& half, const D3DXVECTOR3& origin,
                    const D3DXVECTOR3& direction)
{
    const double dx = direction.x, dy = direction.y, dz = direction.z;
    const double length2 = dx * dx + dy * dy + dz * dz;
    const double radius2 = static_cast<double>(half.x) * half.x + static_cast<double>(half.y) * half.y +
                           static_cast<double>(half.z) * half.z;
    if (!(length2 > 0.0) || !std::isfinite(length2) || !std::isfinite(radius2)) return true;
    const double cx = static_cast<double>(centre.x) - origin.x, cy = static_cast<double>(centre.y) - origin.y,
                 cz = static_cast<double>(centre.z) - origin.z;
    // Squared distance from the centre to the line.
    const double along = (cx * dx + cy * dy + cz * dz) / length2;
    const double px = cx - along * dx, py = cy - along * dy, pz = cz - along * dz;
    const double distance2 = px * px + py * py + pz * pz;
    if (!std::isfinite(distance2)) return true;
    return distance2 <= radius2 * 1.0001 + 1e-6;
}

} // namespace

C_BaseObject* C_BaseInput::PickObject(C_BaseModule* module, C_BaseCamera* camera)
{
    if (!module || !camera) return nullptr;
    return PickObject(*module, camera->GetPosition(), camera->PickDirection);
}

C_BaseObject* C_BaseInput::PickObject(const std::vector<C_BaseObject*>& objects, const D3DXVECTOR3& origin,
                                      const D3DXVECTOR3& direction)
{
    std::vector<int32_t>& hits = Hits();
    hits.clear();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        C_BaseObject* object = objects[i];
        const float radius = object->GetRadius();
        if (radius == 0.0f) continue;
        bool hit;
        if (object->SphereBound) {
            const D3DXVECTOR3 centre = object->GetPosition();
            hit = D3DXSphereBoundProbe(&centre, radius, &origin, &direction) != FALSE;
        } else {
            const D3DXVECTOR3 low = object->GetBoxMin(), high = object->GetBoxMax();
            hit = LineNearSphere((low + high) * 0.5f, (high - low) * 0.5f, origin, direction) &&
                  D3DXBoxBoundProbe(&low, &high, &origin, &direction) != FALSE;
        }
        if (hit) hits.push_back(static_cast<int32_t>(i));
    }
    if (hits.empty()) return nullptr;
    C_BaseObject* nearest = objects[static_cast<std::size_t>(hits[0])];
    if (hits.size() == 1) return nearest;
    auto squared = [&origin](C_BaseObject* object) {
        const D3DXVECTOR3 d = object->GetPosition() - origin;
        return d.x * d.x + d.y * d.y + d.z * d.z;
    };
    float best = squared(nearest);
    for (std::size_t k = 1; k < hits.size(); ++k) {
        C_BaseObject* object = objects[static_cast<std::size_t>(hits[k])];
        const float distance = squared(object);
        if (distance < best) {
            best = distance;
            nearest = object;
        }
    }
    return nearest;
}
