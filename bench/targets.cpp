// Frames of Tarnwick itself (800 × 600, headless) on two scenes of 1,000
// positioned objects, with the program's own statistics (TARNWICK_STATS) as
// counters:
// - a demo-style street: rows of houses, trees and balls behind walls and
//   each other, seen by a walking camera and an orbit camera side by side,
//   with the occlusion pre-pass switched off (0) and on (1);
// - a field of 1,000 spheres in view, drawn with the fixed-function pipeline
//   (0) and through an effect (1).
// Both are run for the given number of frames; TW_BENCH_KEEP=1 keeps the
// program folders.

#include <benchmark/benchmark.h>

#include "tarnwick_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr int kObjects = 1000;

void Write(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

using benchrun::Number;

// The street: a wall in front of every second row hides much of what is
// behind it from the walking camera; the orbit camera sees it from above.
void Street(bool occlusion, std::string& text, std::string& scene)
{
    text = "BenchLeft = 0; 0; 0.5; 1\nBenchRight = 0.5; 0; 1; 1\nBenchNearFar = 0.5; 2000\n"
           "BenchWalkAt = 0; 140; 6\nBenchWalkAngles = 1.62; 0; 0\n"
           "BenchOrbitAt = 0; 0; 160\nBenchOrbitAngles = -2.5; -2.5; 0\n"
           "BenchHouse = 6; 6; 6\nBenchTree = 1; 3; 8; 12\nBenchBall = 1.5; 16\nBenchWall = 90; 1; 12\n"
           "BenchGround = 400; 400; 1\nBenchGroundAt = 0; 0; -0.5\n";
    if (occlusion) text += "OcclusionCulling = true\n";
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<scene name=\"Street\" class=\"C_BaseModule\">\n"
        << "  <c name=\"Walk\" class=\"C_FirstFaceCamera\" value=\"BenchLeft; 0.9; 0xFF304860; BenchWalkAt; "
           "BenchWalkAngles; BenchNearFar;\"/>\n"
        << "  <c name=\"Orbit\" class=\"C_OperatedMouseCamera\" value=\"BenchRight; 0.9; 0xFF304860; BenchOrbitAt; "
           "BenchOrbitAngles; BenchNearFar;\"/>\n"
        << "  <l name=\"Sun\" class=\"C_D3DLIGHT9_DIRECTIONAL\" value=\"0xFFF0E8D8; 0; 0; 0.5; -0.6; -0.62; 1000;\"/>\n"
        << "  <x name=\"White\" class=\"C_D3DMATERIAL9\" value=\"0xFFFFFFFF; 0xFFFFFFFF; 0; 0; 0;\"/>\n"
        << "  <x name=\"Red\" class=\"C_D3DMATERIAL9\" value=\"0xFFE03020; 0xFFE03020; 0; 0; 0;\"/>\n"
        << "  <x name=\"Green\" class=\"C_D3DMATERIAL9\" value=\"0xFF30C050; 0xFF30C050; 0; 0; 0;\"/>\n"
        << "  <p name=\"Ground\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; BenchGround; BenchGroundAt;\""
           " extra=\"White\"/>\n";
    const char* const kinds[3][3] = {{"C_D3DXMESH9_BOX", "BenchHouse", "Red"},
                                     {"C_D3DXMESH9_CYLINDER", "BenchTree", "Green"},
                                     {"C_D3DXMESH9_SPHERE", "BenchBall", "White"}};
    for (int i = 0; i < kObjects; ++i) {
        const int column = i % 40, row = i / 40;
        const std::string at = "BenchP" + std::to_string(i);
        text += at + " = " + std::to_string(column * 9 - 176) + "; " + std::to_string(100 - row * 9) + "; 3\n";
        const auto& kind = kinds[i % 3];
        out << "  <p name=\"O" << i << "\" class=\"C_PositionObject\" value=\"" << kind[0] << "; " << kind[1] << "; "
            << at << ";\" extra=\"" << kind[2] << "\"/>\n";
    }
    for (int wall = 0; wall < 13; ++wall) {
        const std::string at = "BenchWallAt" + std::to_string(wall);
        text += at + " = " + std::to_string((wall % 4) * 95 - 142) + "; " + std::to_string(105 - (wall / 4) * 30) +
                "; 6\n";
        out << "  <p name=\"W" << wall << "\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; BenchWall; " << at
            << ";\" extra=\"White\"/>\n";
    }
    out << "</scene>\n";
    scene = out.str();
}

// The field: every sphere in view of one camera, each through the effect or
// not.
void Field(bool effect, std::string& text, std::string& scene)
{
    text = "FolderEffect = effects\nBenchFull = 0; 0; 1; 1\nBenchNearFar = 0.5; 2000\n"
           "BenchAt = 0; 130; 60\nBenchAngles = 2.2; 0; 0\nBenchBall = 1.5; 16\n";
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<scene name=\"Field\" class=\"C_BaseModule\">\n"
        << "  <c name=\"Cam\" class=\"C_FirstFaceCamera\" value=\"BenchFull; 0.9; 0xFF304860; BenchAt; BenchAngles; "
           "BenchNearFar;\"/>\n"
        << "  <l name=\"Sun\" class=\"C_D3DLIGHT9_DIRECTIONAL\" value=\"0xFFF0E8D8; 0; 0; 0.5; -0.6; -0.62; 1000;\"/>\n"
        << "  <x name=\"White\" class=\"C_D3DMATERIAL9\" value=\"0xFFFFFFFF; 0xFFFFFFFF; 0; 0; 0;\"/>\n"
        << "  <e name=\"Fx\" class=\"C_D3DXEFFECT\" value=\"pulse.fx\"/>\n";
    for (int i = 0; i < kObjects; ++i) {
        const std::string at = "BenchP" + std::to_string(i);
        text += at + " = " + std::to_string((i % 40) * 4 - 78) + "; " + std::to_string(48 - (i / 40) * 4) + "; 1.5\n";
        out << "  <p name=\"O" << i << "\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_SPHERE; BenchBall; " << at
            << ";\" extra=\"White\"" << (effect ? " effect=\"Fx; 10000; Pulse\"" : "") << "/>\n";
    }
    out << "</scene>\n";
    scene = out.str();
}

void RunTarnwick(benchmark::State& state, const std::string& name, const std::string& text, const std::string& scene)
{
    const fs::path bench = fs::read_symlink("/proc/self/exe").parent_path();
    const fs::path program = bench / "Tarnwick";
    if (!fs::exists(program)) {
        state.SkipWithError("Tarnwick is not built next to this benchmark");
        return;
    }
    const fs::path folder = fs::temp_directory_path() / ("tw_bench_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    Write(folder / "text.ini", text);
    Write(folder / "MainModule.xml", scene);
    const fs::path effect = fs::path(TW_SOURCE_DIR) / "demo" / "effects" / "pulse.fx";
    if (fs::exists(effect)) {
        fs::create_directories(folder / "effects");
        fs::copy_file(effect, folder / "effects" / "pulse.fx", fs::copy_options::overwrite_existing);
    }
    fs::copy_file(program, folder / "Tarnwick", fs::copy_options::overwrite_existing);
    const int frames = static_cast<int>(state.range(1));
    for (auto _ : state) {
        std::string json;
        if (!benchrun::RunTarnwick(folder, frames, "TARNWICK_STEP_MS=16 " + benchrun::Screenshot(folder), "", json)) {
            state.SkipWithError("Tarnwick did not finish the run");
            break;
        }
        const double mean = Number(json, "mean");
        state.SetIterationTime(mean / 1000.0);
        state.counters["frame_ms_mean"] = mean;
        state.counters["frame_ms_median"] = benchrun::SceneMedian(json);
        state.counters["frame_ms_p99"] = Number(json, "p99");
        state.counters["draw_calls_per_frame"] = Number(json, "draw_calls_per_frame");
        state.counters["triangles_per_frame"] = Number(json, "triangles_per_frame");
    }
    if (!std::getenv("TW_BENCH_KEEP")) fs::remove_all(folder);
}

// Argument 0: the pre-pass off (0) or on (1); argument 1: frames.
void StreetWithOcclusionPrePass(benchmark::State& state)
{
    std::string text, scene;
    Street(state.range(0) != 0, text, scene);
    RunTarnwick(state, "street" + std::to_string(state.range(0)), text, scene);
}
BENCHMARK(StreetWithOcclusionPrePass)
    ->Args({0, 300})
    ->Args({1, 300})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Argument 0: fixed-function (0) or through the effect (1); argument 1: frames.
void FieldThroughAnEffect(benchmark::State& state)
{
    std::string text, scene;
    Field(state.range(0) != 0, text, scene);
    RunTarnwick(state, "field" + std::to_string(state.range(0)), text, scene);
}
BENCHMARK(FieldThroughAnEffect)->Args({0, 300})->Args({1, 300})->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
