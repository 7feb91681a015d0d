#pragma once
// Keyboard and mouse state of the current frame, embedded in the per-process
// frame record. This holds the state only; reading the devices belongs to the
// input code, which fills these fields once per frame.

#include <cstdint>
#include <string>

class C_BaseInput {
public:
    struct MouseState {
        int32_t lX = 0;          // relative motion
        int32_t lY = 0;
        int32_t lZ = 0;
        uint8_t rgbButtons[4] = {0, 0, 0, 0};   // high bit set = button down
    };

    C_BaseInput() = default;
    C_BaseInput(const C_BaseInput&) = delete;
    C_BaseInput& operator=(const C_BaseInput&) = delete;
    virtual ~C_BaseInput() = default;

    // Button 0 is the left button, 1 the right one.
    bool MouseButtonDown(int button) const
    {
        return button >= 0 && button < 4 && (Mouse.rgbButtons[button] & 0x80) != 0;
    }
    bool KeyDown(int scanCode) const
    {
        return scanCode >= 0 && scanCode < 256 && (Keyboard[scanCode] & 0x80) != 0;
    }

    std::wstring Name = L"BaseInput";
    uint8_t Keyboard[256] = {};
    MouseState Mouse;
    int32_t InitResult = int32_t(0x80004005);   // E_FAIL until the devices are acquired
};
