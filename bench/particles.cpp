// Particles at their largest preset: 2,048 live particles updated and drawn
// per frame. The update and the filling of the vertex buffer are timed on
// the CPU alone (the buffer of a memory-only device), then the same drawing
// on the real device, and whole frames (clear, update, draw, present) at
// 800 x 600.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "../tests/port/d3d9/device_setup.h"
#include "../tests/port/d3dx9/fake_device.h"
#include "Render/Position/Particles.h"
#include "port/d3d9/d3d9.h"
#include "port/win32/afxwin.h"

namespace {

// Preset 2 running at its maximum: releases outpace deaths, so after six
// seconds of 60 frames a second the 2,048 places stay full (a batch that
// dies is replaced within one release interval).
void Fill(CParticleSystem& system)
{
    std::srand(1);
    system.ApplyPreset(2);
    system.NumToRelease = 40;
    for (int frame = 0; frame < 6 * 60; ++frame) system.Update(1.0f / 60.0f);
}

struct RealDevice {
    std::unique_ptr<CWnd> window;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;

    RealDevice(UINT width, UINT height)
    {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        window = std::make_unique<CWnd>();
        RECT r{0, 0, LONG(width), LONG(height)};
        window->CreateEx(0, L"", L"particles", WS_POPUP | WS_CAPTION, r, nullptr, 0);
        D3DPRESENT_PARAMETERS p = WindowedParams(width, height);
        if (d3d) d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device);
        if (!device) return;
        // The emitter 10 units ahead of the camera; additive, unlit, no depth writes.
        D3DXMATRIX view, projection, world;
        const D3DXVECTOR3 eye(0, 0, -10), at(0, 0, 0), up(0, 1, 0);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 0.9f, float(width) / float(height), 0.5f, 100.0f);
        D3DXMatrixIdentity(&world);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    }
    ~RealDevice()
    {
        if (device) device->Release();
        if (d3d) d3d->Release();
        window->DestroyWindow();
    }
};

void BM_ParticleUpdate2048(benchmark::State& state)
{
    CParticleSystem system;
    Fill(system);
    if (system.ActiveCount < 2000) return state.SkipWithError("the system did not fill");
    double live = 0.0;
    for (auto _ : state) {
        system.Update(1.0f / 60.0f);
        live += system.ActiveCount;
        benchmark::DoNotOptimize(system.ActiveList->Position);
    }
    state.counters["live"] = live / double(state.iterations());
}
BENCHMARK(BM_ParticleUpdate2048)->Unit(benchmark::kMicrosecond);

// Four flush-size batches written into a buffer in memory: the CPU cost of
// the locks, the vertices and the calls, without a driver.
void BM_ParticleFillBuffer2048(benchmark::State& state)
{
    auto* device = new testdev::Device9;
    CParticleSystem system;
    Fill(system);
    if (FAILED(system.Init(device))) return state.SkipWithError("no buffer");
    for (auto _ : state) benchmark::DoNotOptimize(system.Render(device));
    state.SetItemsProcessed(state.iterations() * system.ActiveCount);
    system.ReleaseDeviceObjects();
    device->Release();
}
BENCHMARK(BM_ParticleFillBuffer2048)->Unit(benchmark::kMicrosecond);

// The same drawing on the real device: batches uploaded with discard and
// no-overwrite and drawn as point sprites (presented every 16 draws so the
// rasteriser's queue stays short).
void BM_ParticleDrawDevice2048(benchmark::State& state)
{
    RealDevice real(800, 600);
    if (!real.device) return state.SkipWithError("no device");
    CParticleSystem system;
    Fill(system);
    if (FAILED(system.Init(real.device))) return state.SkipWithError("no buffer");
    int n = 0;
    for (auto _ : state) {
        system.Render(real.device);
        if (++n % 16 == 0) real.device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    state.SetItemsProcessed(state.iterations() * system.ActiveCount);
}
BENCHMARK(BM_ParticleDrawDevice2048)->Unit(benchmark::kMicrosecond);

// Whole frames: clear, update, draw 2,048 sprites, present; wall time,
// since the software rasteriser works on threads of its own.
void BM_ParticleFrame2048(benchmark::State& state)
{
    RealDevice real(800, 600);
    if (!real.device) return state.SkipWithError("no device");
    CParticleSystem system;
    Fill(system);
    if (FAILED(system.Init(real.device))) return state.SkipWithError("no buffer");
    for (auto _ : state) {
        real.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000020, 1.0f, 0);
        real.device->BeginScene();
        system.Update(1.0f / 60.0f);
        system.Render(real.device);
        real.device->EndScene();
        real.device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    state.SetItemsProcessed(state.iterations() * system.ActiveCount);
}
BENCHMARK(BM_ParticleFrame2048)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
