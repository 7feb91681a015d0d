#pragma once
// Keyboard and mouse state of the current frame, embedded in the per-process
// frame record, read once per frame from the DirectInput devices; and the
// picking of the object under the cursor.

#include <cstdint>
#include <string>
#include <vector>

#include "port/d3dx9/d3dx9math.h"
#include "port/win32/wintypes.h"

struct IDirectInput8W;
struct IDirectInputDevice8W;
class C_BaseObject;
class C_BaseModule;
class C_BaseCamera;

class C_BaseInput {
public:
    struct MouseState {          // the layout of DIMOUSESTATE
        int32_t lX = 0;          // relative motion
        int32_t lY = 0;
        int32_t lZ = 0;
        uint8_t rgbButtons[4] = {0, 0, 0, 0};   // high bit set = button down
    };

    C_BaseInput() = default;
    C_BaseInput(const C_BaseInput&) = delete;
    C_BaseInput& operator=(const C_BaseInput&) = delete;
    // Unacquires and releases the devices, then DirectInput.
    virtual ~C_BaseInput();

    // Creates and acquires the keyboard and the mouse for `window`
    // (non-exclusive, background). Any failure leaves InitResult negative
    // and the states all zero; devices made so far are kept until destruction.
    void Initialise(HWND window);
    // Read the devices into the states; with a negative InitResult nothing.
    // Lost input is acquired again and read within the same call.
    void ReadKeyboard();
    void ReadMouse();
    // Releases the devices and DirectInput; InitResult becomes E_FAIL.
    void Release();

    // Button 0 is the left button, 1 the right one.
    bool MouseButtonDown(int button) const
    {
        return button >= 0 && button < 4 && (Mouse.rgbButtons[button] & 0x80) != 0;
    }
    bool KeyDown(int scanCode) const
    {
        return scanCode >= 0 && scanCode < 256 && (Keyboard[scanCode] & 0x80) != 0;
    }

    // The object of the module under the cursor as seen through the camera,
    // or null. Installed as the modules' picking function.
    static C_BaseObject* PickObject(C_BaseModule* module, C_BaseCamera* camera);
    // Picking against a ray: among the objects of non-zero radius that the ray
    // hits (sphere, or box for box-bound objects), the one whose position is
    // nearest to the ray's origin; the earlier one on equal distances.
    static C_BaseObject* PickObject(const std::vector<C_BaseObject*>& objects, const D3DXVECTOR3& origin,
                                    const D3DXVECTOR3& direction);

    std::wstring Name = L"BaseInput";
    IDirectInput8W* DirectInput = nullptr;
    IDirectInputDevice8W* KeyboardDevice = nullptr;
    uint8_t Keyboard[256] = {};
    IDirectInputDevice8W* MouseDevice = nullptr;
    MouseState Mouse;
    int32_t InitResult = int32_t(0x80004005);   // E_FAIL until the devices are acquired
};
