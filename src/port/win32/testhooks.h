// Port-internal hooks that feed system events to the event queue, as a user
// moving the mouse would; the message loop translates them as usual.
#pragma once

#include "port/win32/wintypes.h"

BOOL PortSimulateMouseMove(HWND window, int x, int y, int dx, int dy);
BOOL PortSimulateMouseWheel(HWND window, int notches);
BOOL PortSimulateFocusLoss(HWND window);
