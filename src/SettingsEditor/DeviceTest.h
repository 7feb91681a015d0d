#pragma once
// The device test of the settings editor: with the chosen settings it opens
// a window "TestWindow" of its own (through the port layer, beside the
// dialog), creates the device as the engine does, fills a cube's vertex
// and index buffers, loads the compiled-in "Texture" and spins the
// textured cube for 4.5 seconds of the tick counter. Every step announces
// itself in the log and adds "Удачно." when it succeeds; the first failing
// step ends the test after everything made so far is released.

#include <functional>
#include <string>

#include "BaseClasses/Direct3D9SettingsBase.h"

struct C_DeviceTestResult {
    bool success = false;
    int frames = 0;              // frames presented while the cube spun
    std::wstring failure;        // why the failing step failed, for the log
};

class C_DeviceTest {
public:
    // Receives each piece of log text as soon as it is written.
    using Output = std::function<void(const std::wstring& text)>;
    // Called between frames, so that a dialog stays painted.
    using Idle = std::function<void()>;

    // How long the cube spins, in milliseconds of GetTickCount.
    static constexpr unsigned SceneMilliseconds = 4501;

    static C_DeviceTestResult RunDeviceTest(const C_Direct3D9SettingsBase& settings, const Output& output,
                                            const Idle& idle = {});
};

// A Direct3D result as its name ("D3DERR_NOTAVAILABLE") or in hexadecimal.
std::wstring DescribeResult(HRESULT result);
