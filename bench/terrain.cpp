// Terrain under load:
// - building the 16 progressive sections of 257 × 257 vertices that a
//   1025 × 1025 map in 4 × 4 sections gives (height map, vertices, indices,
//   adjacency, clean-up, progressive mesh), on a device that draws nothing;
//   the counter rss_mb is the memory the 16 sections hold;
// - one frame of the shared ROAM mesh for 16 sections (the largest that fit
//   it together: 46 × 46 vertices each), rebuild and upload;
// - the demo's terrain scene drawn by Tarnwick itself at 800 × 600 headless,
//   from its own frame statistics (TARNWICK_STATS).

#include <benchmark/benchmark.h>

#include "tarnwick_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Render/Terrain/C_TerrainHeightMap.h"
#include "Render/Terrain/C_TerrainRoam.h"
#include "Render/Terrain/C_TerrainSection2.h"
#include "ResourceManager/ResManager.h"
#include "../tests/port/d3dx9/fake_device.h"

namespace {

namespace fs = std::filesystem;

// A program folder with one 16-bit map of rolling hills, made once.
const fs::path& ProgramFolder(int side)
{
    static fs::path folder;
    static int made = 0;
    if (folder.empty()) {
        folder = fs::temp_directory_path() / ("tw_bench_terrain_" + std::to_string(::getpid()));
        fs::create_directories(folder);
        VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(folder));
    }
    if (made != side) {
        std::string bytes;
        bytes.reserve(std::size_t(side) * side * 2);
        for (int row = 0; row < side; ++row)
            for (int col = 0; col < side; ++col) {
                const double h = 0.5 + 0.2 * std::sin(col * 0.013) * std::cos(row * 0.017) + 0.05 * std::sin(col * 0.11 + row * 0.07);
                const auto sample = static_cast<uint16_t>(h * 65535.0);
                bytes.push_back(char(sample & 0xFF));
                bytes.push_back(char(sample >> 8));
            }
        std::ofstream(folder / ("map" + std::to_string(side) + ".raw"), std::ios::binary) << bytes;
        made = side;
    }
    return folder;
}

double ResidentMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0.0;
}

std::vector<C_BaseResource*> MakeSections(const wchar_t* className, int side, int slices, float slice,
                                          IDirect3DDevice9* device)
{
    std::vector<C_BaseResource*> sections;
    const std::wstring file = L"map" + std::to_wstring(side) + L".raw";
    for (int row = 0; row < slices; ++row)
        for (int col = 0; col < slices; ++col) {
            const std::wstring value = file + L"; " + std::to_wstring(col) + L"; " + std::to_wstring(row) + L"; " +
                                       std::to_wstring(slices) + L"; " + std::to_wstring(slice) + L"; 100";
            C_BaseResource* section = C_ResManager::Instance().AddResource(
                className, (L"Bench" + std::to_wstring(row * slices + col)).c_str(), value.c_str());
            section->Load(device);
            sections.push_back(section);
        }
    return sections;
}

void BuildSixteenSections(benchmark::State& state)
{
    ProgramFolder(1025);
    testdev::Device9 device;
    double held = -1.0;
    std::size_t built = 0;
    for (auto _ : state) {
        C_TerrainHeightMap::RawData().Reset();
        const double before = ResidentMegabytes();
        const std::vector<C_BaseResource*> sections = MakeSections(L"C_TerrainSection2", 1025, 4, 250.0f, &device);
        state.PauseTiming();
        // The first round measures memory: later rounds reuse what the
        // allocator kept.
        if (held < 0.0) held = ResidentMegabytes() - before;
        built = 0;
        for (C_BaseResource* section : sections) built += static_cast<C_TerrainSection2*>(section)->PMesh ? 1 : 0;
        C_ResManager::Instance().Clear();
        state.ResumeTiming();
    }
    state.counters["sections_built"] = static_cast<double>(built);
    state.counters["rss_mb"] = held;
}
BENCHMARK(BuildSixteenSections)->Iterations(3)->Unit(benchmark::kMillisecond);

void RoamRebuildSixteenSections(benchmark::State& state)
{
    ProgramFolder(181);
    testdev::Device9 device;
    C_TerrainHeightMap::RawData().Reset();
    const std::vector<C_BaseResource*> sections = MakeSections(L"C_TerrainRoam", 181, 4, 250.0f, &device);
    C_BaseObject::C_CommonData& common = C_BaseObject::CommonData();
    common.RenderPass = 0;
    auto frame = [&] {
        common.Time += 20;
        for (C_BaseResource* section : sections) section->Draw(&device);
        device.draws.clear();
    };
    frame();   // the clock starts, the sections register
    frame();
    for (auto _ : state) frame();
    const C_TerrainRoam::C_Terrain& shared = C_TerrainRoam::SharedTerrain();
    state.counters["vertices_per_frame"] = shared.UsedVertices;
    state.counters["triangles_per_frame"] = shared.UsedIndices / 3;
    state.SetItemsProcessed(state.iterations() * shared.UsedVertices);
    C_ResManager::Instance().Clear();
}
BENCHMARK(RoamRebuildSixteenSections)->Unit(benchmark::kMillisecond);

using benchrun::Number;

// The demo folder as the build leaves it (scene, generated map and grass,
// Tarnwick) runs the terrain scene; the first frames load it.
void TarnwickTerrainScene(benchmark::State& state)
{
    const fs::path demo = fs::read_symlink("/proc/self/exe").parent_path() / "demo";
    if (!fs::exists(demo / "Tarnwick") || !fs::exists(demo / "terrain" / "hills.raw")) {
        state.SkipWithError("build/demo with Tarnwick and the generated terrain is not there");
        return;
    }
    const fs::path folder = fs::temp_directory_path() / ("tw_bench_terrain_demo_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::copy(demo, folder, fs::copy_options::recursive);
    const int frames = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::string json;
        if (!benchrun::RunTarnwick(folder, frames, benchrun::Screenshot(folder), "'modules\\Terrain.xml'", json)) {
            state.SkipWithError("Tarnwick did not finish the run");
            break;
        }
        const double median = benchrun::SceneMedian(json);
        state.SetIterationTime(median / 1000.0);
        state.counters["frame_ms_mean"] = Number(json, "mean");
        state.counters["frame_ms_median"] = median;
        state.counters["frame_ms_p99"] = Number(json, "p99");
        state.counters["draw_calls_per_frame"] = Number(json, "draw_calls_per_frame");
        state.counters["triangles_last_frame"] = Number(json, "triangles");
    }
    if (!std::getenv("TW_BENCH_KEEP")) fs::remove_all(folder);
}
BENCHMARK(TarnwickTerrainScene)->Arg(80)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
