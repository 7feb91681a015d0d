// Internal: SDL video start-up shared by windows, message boxes and the device.
#pragma once

#include <SDL.h>

#include "port/win32/wintypes.h"

// Starts SDL's video subsystem once, with the OpenGL attributes every window
// is created with. False (and logged) when no video driver can start.
bool PortEnsureVideo();
// Creates an SDL window for OpenGL with the attributes every window shares;
// when the system has no configuration with depth and alpha buffers, every
// window from then on is made without them.
SDL_Window* PortCreateGLWindow(const char* title, int x, int y, int width, int height, Uint32 flags);
// True when SDL runs on its offscreen driver (nothing can be shown).
bool PortVideoIsOffscreen();
// The SDL window behind a window handle, or null.
SDL_Window* PortSdlWindow(HWND window);
// The window handle of an SDL window ID, or null.
HWND PortWindowFromSdlId(Uint32 id);
// Called with a window handle just before its SDL window is destroyed, while
// it is still valid, so whatever renders to it can move off it first.
using PortWindowDestroyListener = void (*)(HWND window);
void PortAddWindowDestroyListener(PortWindowDestroyListener listener);
