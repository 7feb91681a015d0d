// Headless and deterministic runs: the TARNWICK_* environment variables that
// every program on the port layer honours, and the frame counter they share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "port/win32/wintypes.h"

struct PortRunOptions {
    long long frames = -1;      // TARNWICK_FRAMES: close the main window after this many frames
    long long stepMs = -1;      // TARNWICK_STEP_MS: deterministic clock step per frame
    std::string screenshot;     // TARNWICK_SCREENSHOT: PNG of the last presented frame
    std::string stats;          // TARNWICK_STATS: JSON frame statistics
    long long loseDeviceAt = -1;  // TARNWICK_LOSE_DEVICE: lose the device after this many frames
    std::vector<long long> loseDeviceAfter;  // every frame count listed there ("10,12,40")
    bool offscreenDriver = false;  // SDL_VIDEODRIVER=offscreen
};

const PortRunOptions& PortRun();
// Reads the environment again and restarts the frame count (tests use this).
void PortRunReload();
// True when nothing may block on a user: no dialogs, only log lines.
bool PortIsHeadless();
// Frames presented so far in this process.
uint64_t PortPresentedFrames();
// Whether TARNWICK_LOSE_DEVICE asks for a lost device after this many frames.
bool PortLoseDeviceAfter(uint64_t frames);
// The frames that show the program's scene, for the frame statistics: the
// program says when a load begins and when it has ended. Frames shown while
// loading are not the scene's, nor is the frame that ends the load (it holds
// the pause before the scene appears).
void PortSceneLoading();
void PortSceneLoaded();
// Whether the frame being presented now is one of the scene's.
bool PortPresentingSceneFrame();
// Called by the device after each presented frame: advances the deterministic
// clock and, when the frame limit is reached, posts WM_CLOSE to the main window
// (or to the given device window when the program has no main window).
void PortFramePresented(HWND deviceWindow);
