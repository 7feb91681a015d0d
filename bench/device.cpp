// Cost of the Direct3D 9 device over OpenGL: draw submission with and without
// state changes, fixed-function program cache hits, and whole frames of 10,000
// boxes next to a plain OpenGL renderer of the same boxes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "../tests/port/d3d9/box.h"
#include "../tests/port/d3d9/device_setup.h"
#include "port/d3d9/d3d9.h"
#include "port/d3d9/device_gl.h"
#include "port/d3d9/reference_renderer.h"
#include "port/win32/afxwin.h"

namespace {

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

D3DMATRIX Ortho(float w, float h) { return OrthoLH(w, h, 0.0f, 100.0f); }

struct Scene {
    std::unique_ptr<CWnd> window;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    std::vector<BoxVertex> vertices;
    std::vector<uint16_t> indices;

    Scene(UINT width, UINT height) {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        window = std::make_unique<CWnd>();
        RECT r{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
        window->CreateEx(0, L"", L"bench", WS_POPUP | WS_CAPTION, r, nullptr, 0);
        D3DPRESENT_PARAMETERS p = WindowedParams(width, height);
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device);
        const D3DCOLOR colors[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
        BuildBox(0.4f, colors, vertices, indices);
        BindBox(device, 0.4f, colors, &vb, &ib);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
    }
    ~Scene() {
        if (vb) vb->Release();
        if (ib) ib->Release();
        if (device) device->Release();
        if (d3d) d3d->Release();
        window->DestroyWindow();
    }
    bool Ok() const { return device && vb && ib; }
};

// Draws in small batches so the software rasteriser's queue stays short.
void Submit(benchmark::State& state, Scene& scene, void (*between)(Scene&, int)) {
    D3DMATRIX proj = Ortho(8, 8), world = IdentityMatrix();
    scene.device->SetTransform(D3DTS_PROJECTION, &proj);
    scene.device->SetTransform(D3DTS_WORLD, &world);
    int i = 0;
    for (auto _ : state) {
        if (between) between(scene, i);
        scene.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 24, 0, 12);
        if (++i % 1000 == 0) scene.device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DrawIndexedUnchangedState(benchmark::State& state) {
    Scene scene(64, 64);
    if (!scene.Ok()) return state.SkipWithError("no device");
    Submit(state, scene, nullptr);
}
BENCHMARK(BM_DrawIndexedUnchangedState);

void BM_DrawIndexedTextureChange(benchmark::State& state) {
    Scene scene(64, 64);
    if (!scene.Ok()) return state.SkipWithError("no device");
    static IDirect3DTexture9* textures[2];
    for (auto& t : textures) scene.device->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr);
    Submit(state, scene, [](Scene& s, int i) { s.device->SetTexture(0, textures[i & 1]); });
    scene.device->SetTexture(0, nullptr);
    for (auto& t : textures) t->Release();
}
BENCHMARK(BM_DrawIndexedTextureChange);

void BM_DrawIndexedMaterialChange(benchmark::State& state) {
    Scene scene(64, 64);
    if (!scene.Ok()) return state.SkipWithError("no device");
    scene.device->SetRenderState(D3DRS_LIGHTING, TRUE);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
    light.Direction = D3DVECTOR{0, 0, 1};
    scene.device->SetLight(0, &light);
    scene.device->LightEnable(0, TRUE);
    scene.device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    Submit(state, scene, [](Scene& s, int i) {
        D3DMATERIAL9 m{};
        m.Diffuse = (i & 1) ? D3DCOLORVALUE{1, 0, 0, 1} : D3DCOLORVALUE{0, 1, 0, 1};
        s.device->SetMaterial(&m);
    });
}
BENCHMARK(BM_DrawIndexedMaterialChange);

void BM_DrawIndexedWorldChange(benchmark::State& state) {
    Scene scene(64, 64);
    if (!scene.Ok()) return state.SkipWithError("no device");
    Submit(state, scene, [](Scene& s, int i) {
        D3DMATRIX world = IdentityMatrix();
        world._41 = static_cast<float>(i & 3) * 0.1f;
        s.device->SetTransform(D3DTS_WORLD, &world);
    });
}
BENCHMARK(BM_DrawIndexedWorldChange);

// Two state combinations drawn in turn: every draw looks its program up in the cache.
void BM_ProgramCacheHit(benchmark::State& state) {
    Scene scene(64, 64);
    if (!scene.Ok()) return state.SkipWithError("no device");
    scene.device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    Submit(state, scene, [](Scene& s, int i) { s.device->SetRenderState(D3DRS_ALPHATESTENABLE, i & 1); });
    state.counters["programs"] = static_cast<double>(PortDeviceProgramCount(scene.device));
}
BENCHMARK(BM_ProgramCacheHit);

constexpr int kBoxes = 10000;

std::vector<D3DMATRIX> BoxWorlds() {
    std::vector<D3DMATRIX> worlds;
    for (int i = 0; i < kBoxes; ++i) {
        D3DMATRIX w = IdentityMatrix();
        w._41 = static_cast<float>(i % 100) - 49.5f;
        w._42 = static_cast<float>(i / 100) - 49.5f;
        w._43 = 10.0f;
        worlds.push_back(w);
    }
    return worlds;
}

void BM_Frame10000BoxesDevice(benchmark::State& state) {
    Scene scene(800, 600);
    if (!scene.Ok()) return state.SkipWithError("no device");
    const auto worlds = BoxWorlds();
    D3DMATRIX proj = Ortho(100, 100), view = IdentityMatrix();
    scene.device->SetTransform(D3DTS_PROJECTION, &proj);
    scene.device->SetTransform(D3DTS_VIEW, &view);
    for (auto _ : state) {
        scene.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202040, 1.0f, 0);
        scene.device->BeginScene();
        for (const D3DMATRIX& w : worlds) {
            scene.device->SetTransform(D3DTS_WORLD, &w);
            scene.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 24, 0, 12);
        }
        scene.device->EndScene();
        scene.device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Frame10000BoxesDevice)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_Frame10000BoxesPlainGL(benchmark::State& state) {
    Scene scene(800, 600);
    if (!scene.Ok()) return state.SkipWithError("no device");
    PortReferenceBoxes reference(scene.device, scene.vertices.data(), static_cast<UINT>(scene.vertices.size()),
                                 scene.indices.data(), static_cast<UINT>(scene.indices.size()));
    if (!reference.Valid()) return state.SkipWithError("reference program failed");
    const auto worlds = BoxWorlds();
    const D3DMATRIX proj = Ortho(100, 100);
    std::vector<D3DMATRIX> wvp;
    for (const D3DMATRIX& w : worlds) wvp.push_back(Multiply(w, proj));
    for (auto _ : state) {
        reference.DrawFrame(wvp.data(), static_cast<UINT>(wvp.size()), 0xFF202040);
        scene.device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Frame10000BoxesPlainGL)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("SDL_VIDEODRIVER")) setenv("SDL_VIDEODRIVER", "offscreen", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
