// Port-internal input services: the scan-code table and hooks that let tests
// drive the DirectInput devices without a keyboard or mouse.
#pragma once

#include "port/dinput8/dinput.h"

// DIK code of an SDL scan code (a USB HID keyboard usage); 0 when none.
BYTE PortDikFromScancode(int scancode);
// Holds a key down (or releases it) in addition to the real keyboard.
void PortInputInjectKey(BYTE dik, bool down);
// Holds a mouse button (0 left, 1 right, 2 middle, 3 fourth) down or releases it.
void PortInputInjectMouseButton(int button, bool down);
// Adds relative motion and wheel movement (WHEEL_DELTA units) as if the mouse moved.
void PortInputInjectMouseMotion(LONG dx, LONG dy, LONG wheel);
// Releases every injected key and button.
void PortInputClearInjected();
// Behaves as if a window of the program lost the input focus.
void PortInputSimulateFocusLoss();
