// Object model speed: reading and loading a module of 10,000 plain objects,
// and one frame's Update + AddToRenderQueue pass over 10,000 objects.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BaseClasses/BaseModule.h"
#include "Common/FilePath.h"
#include "ResourceManager/FromFactory.h"
#include "ResourceManager/ResManager.h"

// A plain scene object as modules list them.
class BenchObject : public C_BaseResource, public ContainedInModule {
    TW_POOLED_CLASS(BenchObject)
public:
    BenchObject() { ResourceLevel = 2; }
};

namespace {

std::size_t g_Queued = 0;
void CountQueued(C_BaseObject*) { ++g_Queued; }

// The module file, written once into a temporary folder.
const std::wstring& ModuleFile(int objects)
{
    static std::wstring path;
    if (path.empty()) {
        std::string folder = (std::filesystem::temp_directory_path() / "tw_bench_XXXXXX").string();
        if (!::mkdtemp(folder.data())) std::abort();
        const std::filesystem::path file = std::filesystem::path(folder) / "bench.xml";
        std::ofstream out(file, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<scene name='Scene' class='C_BaseModule'>\n";
        for (int i = 0; i < objects; ++i)
            out << "  <object name='Object" << i << "' class='BenchObject' value='" << i
                << "; 0.0; 0.0; box' status='visible'/>\n";
        out << "</scene>\n";
        out.close();
        path = VORTALEX::PathToWide(file);
        std::atexit([] { std::error_code e; std::filesystem::remove_all(std::filesystem::path(VORTALEX::MapPath(path)).parent_path(), e); });
    }
    return path;
}

C_BaseModule* LoadScene(int objects)
{
    C_ResManager& managers = C_ResManager::Instance();
    auto* top = static_cast<C_BaseModule*>(managers.AddResource(L"C_BaseModule", L"top", L""));
    *top << ModuleFile(objects);
    while (managers.Load(nullptr)) {}
    return static_cast<C_BaseModule*>(managers.GetResource(L"Scene", L"C_BaseModule", false));
}

void BM_LoadModuleFile(benchmark::State& state)
{
    const int objects = static_cast<int>(state.range(0));
    ModuleFile(objects);
    for (auto _ : state) {
        C_BaseModule* scene = LoadScene(objects);
        if (!scene || scene->size() != std::size_t(objects)) state.SkipWithError("scene not loaded");
        state.PauseTiming();
        C_ResManager::Instance().Clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * objects);
}
BENCHMARK(BM_LoadModuleFile)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_UpdateAndQueue(benchmark::State& state)
{
    const int objects = static_cast<int>(state.range(0));
    C_BaseModule* scene = LoadScene(objects);
    if (!scene) { state.SkipWithError("scene not loaded"); return; }
    int i = 0;
    for (C_BaseObject* object : *scene) {
        object->Position = D3DXVECTOR3(float(i % 100), 0.0f, float(i / 100));
        object->Radius = 1.0f;
        ++i;
    }
    auto& planes = C_BaseObject::CommonData().FrustumPlanes;
    for (D3DXPLANE& plane : planes) plane = D3DXPLANE(0, 0, 0, 0);
    planes[0] = D3DXPLANE(1, 0, 0, -50);   // half the objects are outside
    C_BaseObject::RenderQueueInsert = &CountQueued;
    C_BaseObject::ScriptCall = nullptr;
    for (auto _ : state) {
        g_Queued = 0;
        scene->Update();
        scene->AddToRenderQueue();
        benchmark::DoNotOptimize(g_Queued);
    }
    state.counters["queued"] = double(g_Queued);
    state.SetItemsProcessed(state.iterations() * objects);
    C_BaseObject::RenderQueueInsert = nullptr;
    C_ResManager::Instance().Clear();
}
BENCHMARK(BM_UpdateAndQueue)->Arg(10000)->Unit(benchmark::kMicrosecond);

} // namespace

TW_REGISTER_CLASS(BenchObject)

BENCHMARK_MAIN();
