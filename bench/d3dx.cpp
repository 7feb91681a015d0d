// D3DX speed: loading a 100,000-face .x file, the clean-up chain every loaded
// mesh goes through, building a progressive mesh from it and switching its
// levels, and matrix products with and without the SIMD path.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_device.h"
#include "../tests/port/d3d9/device_setup.h"
#include "port/d3d9/d3d9.h"
#include "port/d3dx9/d3dx9font.h"
#include "port/d3dx9/d3dx9mesh.h"
#include "port/win32/afxwin.h"

namespace {

// A wavy height field of 225 x 225 samples: 100,352 triangles with normals
// and texture coordinates, written as a text .x file.
std::string MakeXFile() {
    const int n = 225;
    std::string s = "xof 0302txt 0032\nMesh Field {\n";
    char buf[160];
    s += std::to_string(n * n) + ";\n";
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            std::snprintf(buf, sizeof buf, "%.4f;%.4f;%.4f;%s\n", c * 0.1f, r * 0.1f,
                          0.3f * std::sin(c * 0.2f) * std::cos(r * 0.15f), (r == n - 1 && c == n - 1) ? ";" : ",");
            s += buf;
        }
    const int faces = 2 * (n - 1) * (n - 1);
    s += std::to_string(faces) + ";\n";
    for (int r = 0; r + 1 < n; ++r)
        for (int c = 0; c + 1 < n; ++c) {
            const int a = r * n + c, b = (r + 1) * n + c;
            const bool last = r == n - 2 && c == n - 2;
            std::snprintf(buf, sizeof buf, "3;%d,%d,%d;,\n3;%d,%d,%d;%s\n", a, b, b + 1, a, b + 1, a + 1,
                          last ? ";" : ",");
            s += buf;
        }
    s += "MeshNormals {\n1;\n0.0;0.0;-1.0;;\n" + std::to_string(faces) + ";\n";
    for (int f = 0; f < faces; ++f) s += f + 1 == faces ? "3;0,0,0;;\n" : "3;0,0,0;,\n";
    s += "}\nMeshTextureCoords {\n" + std::to_string(n * n) + ";\n";
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            std::snprintf(buf, sizeof buf, "%.4f;%.4f;%s\n", c / (n - 1.0f), r / (n - 1.0f),
                          (r == n - 1 && c == n - 1) ? ";" : ",");
            s += buf;
        }
    s += "}\nMeshMaterialList {\n1;\n1;\n0;;\nMaterial {\n1.0;1.0;1.0;1.0;;\n10.0;\n0.0;0.0;0.0;;\n0.0;0.0;0.0;;\n"
         "TextureFilename { \"ground.bmp\"; }\n}\n}\n}\n";
    return s;
}



const std::string& XFile() {
    static const std::string file = MakeXFile();
    return file;
}

ID3DXMesh* Load() {
    ID3DXMesh* mesh = nullptr;
    D3DXLoadMeshFromXInMemory(XFile().data(), (DWORD)XFile().size(), D3DXMESH_SYSTEMMEM, Dev().device, nullptr,
                              nullptr, nullptr, nullptr, &mesh);
    return mesh;
}

void BM_LoadX100kFaces(benchmark::State& state) {
    if (!Dev().device) return state.SkipWithError("no device");
    for (auto _ : state) {
        ID3DXMesh* mesh = nullptr;
        ID3DXBuffer* mats = nullptr;
        DWORD count = 0;
        if (FAILED(D3DXLoadMeshFromXInMemory(XFile().data(), (DWORD)XFile().size(), D3DXMESH_SYSTEMMEM, Dev().device,
                                             nullptr, &mats, nullptr, &count, &mesh)))
            return state.SkipWithError("load failed");
        benchmark::DoNotOptimize(mesh->GetNumFaces());
        mats->Release();
        mesh->Release();
    }
    state.counters["faces"] = 100352;
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)XFile().size());
}
BENCHMARK(BM_LoadX100kFaces)->Unit(benchmark::kMillisecond);

// Adjacency, weld, clean, validate and optimise, as every loaded mesh gets.
void BM_CleanUpChain100kFaces(benchmark::State& state) {
    if (!Dev().device) return state.SkipWithError("no device");
    for (auto _ : state) {
        state.PauseTiming();
        ID3DXMesh* mesh = Load();
        state.ResumeTiming();
        std::vector<DWORD> adj(mesh->GetNumFaces() * 3);
        mesh->GenerateAdjacency(0.001f, adj.data());
        D3DXWELDEPSILONS eps{};
        eps.Position = 0.1f;
        D3DXWeldVertices(mesh, D3DXWELDEPSILONS_WELDPARTIALMATCHES, &eps, adj.data(), adj.data(), nullptr, nullptr);
        ID3DXMesh* clean = nullptr;
        if (SUCCEEDED(D3DXCleanMesh(D3DXCLEAN_BACKFACING, mesh, adj.data(), &clean, adj.data(), nullptr))) {
            mesh->Release();
            mesh = clean;
        }
        D3DXValidMesh(mesh, adj.data(), nullptr);
        mesh->OptimizeInplace(D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE, adj.data(), nullptr,
                              nullptr, nullptr);
        benchmark::DoNotOptimize(mesh->GetNumVertices());
        mesh->Release();
    }
}
BENCHMARK(BM_CleanUpChain100kFaces)->Unit(benchmark::kMillisecond);

void BM_GeneratePMesh100kFaces(benchmark::State& state) {
    if (!Dev().device) return state.SkipWithError("no device");
    ID3DXMesh* mesh = Load();
    std::vector<DWORD> adj(mesh->GetNumFaces() * 3);
    mesh->GenerateAdjacency(0.001f, adj.data());
    DWORD levels = 0;
    for (auto _ : state) {
        ID3DXPMesh* pm = nullptr;
        if (FAILED(D3DXGeneratePMesh(mesh, adj.data(), nullptr, nullptr, 12, D3DXMESHSIMP_FACE, &pm)))
            return state.SkipWithError("generation failed");
        levels = pm->GetMinFaces();
        pm->Release();
    }
    state.counters["min_faces"] = levels;
    mesh->Release();
}
BENCHMARK(BM_GeneratePMesh100kFaces)->Unit(benchmark::kMillisecond);

// Choosing a level (as the level-of-detail code does every frame).
void BM_PMeshSwitchLevels(benchmark::State& state) {
    if (!Dev().device) return state.SkipWithError("no device");
    ID3DXMesh* mesh = Load();
    ID3DXPMesh* pm = nullptr;
    D3DXGeneratePMesh(mesh, nullptr, nullptr, nullptr, 12, D3DXMESHSIMP_FACE, &pm);
    const DWORD maxFaces = pm->GetMaxFaces();
    DWORD i = 0;
    for (auto _ : state) {
        pm->SetNumFaces(maxFaces / (1 + (i++ & 31)));
        benchmark::DoNotOptimize(pm->GetNumFaces());
    }
    pm->Release();
    mesh->Release();
}
BENCHMARK(BM_PMeshSwitchLevels);

// Switching the level and drawing it through the device.
void BM_PMeshSwitchAndDraw(benchmark::State& state) {
    if (!Dev().device) return state.SkipWithError("no device");
    ID3DXMesh* mesh = Load();
    ID3DXPMesh* pm = nullptr;
    D3DXGeneratePMesh(mesh, nullptr, nullptr, nullptr, 12, D3DXMESHSIMP_FACE, &pm);
    IDirect3DDevice9* dev = Dev().device;
    const DWORD maxFaces = pm->GetMaxFaces();
    DWORD i = 0;
    for (auto _ : state) {
        pm->SetNumFaces(maxFaces / (1 + (i++ & 7)));
        dev->BeginScene();
        pm->DrawSubset(0);
        dev->EndScene();
    }
    pm->Release();
    mesh->Release();
}
BENCHMARK(BM_PMeshSwitchAndDraw)->Unit(benchmark::kMicrosecond);

// One frame of 100 distinct 2D texts. With `changing` every text differs from
// the previous frame's, so each is laid out and uploaded again; otherwise all
// 100 come from the font's cache and cost one textured quad each.
void DrawHundredTexts(benchmark::State& state, bool changing) {
    if (!Dev().device) return state.SkipWithError("no device");
    IDirect3DDevice9* dev = Dev().device;
    ID3DXFont* font = nullptr;
    if (FAILED(D3DXCreateFontW(dev, 14, 0, FW_NORMAL, 0, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, FF_SWISS, L"Arial", &font)))
        return state.SkipWithError("no font");
    unsigned frame = 0;
    wchar_t text[64];
    for (auto _ : state) {
        dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        dev->BeginScene();
        for (int i = 0; i < 100; ++i) {
            swprintf(text, 64, L"Текст %d: %u", i, changing ? frame : 0u);
            RECT r{(i % 4) * 80, (i / 4) * 9, (i % 4) * 80 + 80, (i / 4) * 9 + 16};
            font->DrawTextW(nullptr, text, -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP, 0xFFFFFFFF);
        }
        dev->EndScene();
        dev->Present(nullptr, nullptr, nullptr, nullptr);
        ++frame;
    }
    font->Release();
    state.counters["texts_per_s"] = benchmark::Counter(100.0 * state.iterations(), benchmark::Counter::kIsRate);
}
void BM_HundredTextsCached(benchmark::State& state) { DrawHundredTexts(state, false); }
void BM_HundredTextsChangingEveryFrame(benchmark::State& state) { DrawHundredTexts(state, true); }
BENCHMARK(BM_HundredTextsCached)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HundredTextsChangingEveryFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// A load-screen frame with a font of the given pixel height whose text
// changes every frame (the percentage), as a text.ini with an absurd font
// size makes it.
void BM_LoadScreenFontFrame(benchmark::State& state) {
    if (!Dev().device) return state.SkipWithError("no device");
    IDirect3DDevice9* dev = Dev().device;
    ID3DXFont* font = nullptr;
    if (FAILED(D3DXCreateFontW(dev, -(int)state.range(0), 0, FW_NORMAL, 0, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, FF_SWISS, L"Arial", &font)))
        return state.SkipWithError("no font");
    unsigned frame = 0;
    wchar_t text[64];
    for (auto _ : state) {
        dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        dev->BeginScene();
        swprintf(text, 64, L"Загрузка %u%%", frame % 100);
        RECT r{0, 0, 320, 240};
        font->DrawTextW(nullptr, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE, 0xFFFFFFFF);
        dev->EndScene();
        dev->Present(nullptr, nullptr, nullptr, nullptr);
        ++frame;
    }
    font->Release();
}
BENCHMARK(BM_LoadScreenFontFrame)->Arg(48)->Arg(512)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MatrixMultiply(benchmark::State& state) {
    D3DXCpuOptimizations(state.range(0) != 0);
    D3DXMATRIX a, b, r;
    D3DXMatrixRotationYawPitchRoll(&a, 0.1f, 0.2f, 0.3f);
    D3DXMatrixTranslation(&b, 1, 2, 3);
    for (auto _ : state) {
        D3DXMatrixMultiply(&r, &a, &b);
        benchmark::DoNotOptimize(r);
        a._41 += r._41 * 1e-9f;
    }
    D3DXCpuOptimizations(TRUE);
    state.SetLabel(state.range(0) ? "simd" : "scalar");
}
BENCHMARK(BM_MatrixMultiply)->Arg(0)->Arg(1);

void BM_TransformCoordArray(benchmark::State& state) {
    D3DXCpuOptimizations(state.range(0) != 0);
    std::vector<D3DXVECTOR3> in(10000, D3DXVECTOR3(1, 2, 3)), out(10000);
    D3DXMATRIX m;
    D3DXMatrixPerspectiveFovLH(&m, 0.8f, 1.3f, 0.1f, 100.0f);
    for (auto _ : state) {
        D3DXVec3TransformCoordArray(out.data(), sizeof(D3DXVECTOR3), in.data(), sizeof(D3DXVECTOR3), &m, 10000);
        benchmark::DoNotOptimize(out.data());
    }
    D3DXCpuOptimizations(TRUE);
    state.SetItemsProcessed(state.iterations() * 10000);
    state.SetLabel(state.range(0) ? "simd" : "scalar");
}
BENCHMARK(BM_TransformCoordArray)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
