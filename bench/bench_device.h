#pragma once
// One 320 x 240 device on an off-screen window, made once for a whole
// benchmark program (device creation is not what the benchmarks measure).

#include <cstdlib>
#include <memory>

#include "../tests/port/d3d9/device_setup.h"
#include "port/d3d9/d3d9.h"
#include "port/win32/afxwin.h"

struct BenchDevice {
    IDirect3D9* d3d = nullptr;
    std::unique_ptr<CWnd> window;
    IDirect3DDevice9* device = nullptr;
    BenchDevice() {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        if (!d3d) return;
        window = std::make_unique<CWnd>();
        RECT r{0, 0, 320, 240};
        if (!window->CreateEx(0, L"", L"bench", WS_POPUP, r, nullptr, 0)) return;
        D3DPRESENT_PARAMETERS p = WindowedParams(320, 240);
        d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window->m_hWnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p,
                          &device);
    }
};

inline BenchDevice& Dev() {
    static BenchDevice d;
    return d;
}
