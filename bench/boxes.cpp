// Frame time of the box scene: N positioned boxes of 3 x 3 x 3 sharing one
// mesh and one material under one directional light, one object per box, in
// a square grid seen from above at 45 degrees, drawn by the Tarnwick program
// itself at 800 x 600 headless, with multisampling off and 4x. Counters: the
// median and mean frame time, the draws the engine asked the device for per
// frame and the OpenGL draw calls they became.
//
//   bench_boxes                           the benchmarks (offscreen driver)
//   bench_boxes --write DIR BOXES SAMPLES writes a program folder with Tarnwick
//                                         and the scene and exits (for the
//                                         side-by-side comparison script)

#include <benchmark/benchmark.h>

#include "tarnwick_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// The video settings Tarnwick would probe, with the multisampling asked for.
std::string Settings(int samples)
{
    const std::pair<const char*, long long> keys[] = {
        {"Adapter", 0},          {"AdapterType", 1},        {"CreateDeviceFlag", 64},
        {"TextureFilterType", 2}, {"BackBufferWidth", 800},  {"BackBufferHeight", 600},
        {"BackBufferFormat", 21}, {"BackBufferCount", 1},    {"MultiSampleType", samples},
        {"MultiSampleQuality", 0}, {"SwapEffect", 1},         {"Windowed", 1},
        {"EnableAutoDepthStencil", 1}, {"AutoDepthStencilFormat", 75}, {"Flags", 0},
        {"FullScreen_RefreshRateInHz", 0}, {"PresentationInterval", -2147483648LL}};
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<entity name=\"Video\">\n";
    for (const auto& [key, value] : keys)
        out += "  <entity name=\"" + std::string(key) + "\" value=\"" + std::to_string(value) + "\"/>\n";
    return out + "</entity>\n";
}

// A square grid of boxes on the plane z = 0, four units apart, centred on
// the origin; the camera looks at the centre from above the +Y side.
void WriteScene(const fs::path& folder, int boxes, int samples)
{
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(boxes))));
    const float reach = static_cast<float>(side) * 2.0f;
    std::ostringstream texts;
    texts << "FolderMesh = meshes\nFolderTexture = textures\n"
          << "BoxView = 0; 0; 1; 1\nBoxNearFar = 0.5; " << reach * 8.0f << "\n"
          << "BoxAt = 0; " << reach * 1.9f << "; " << reach * 1.9f << "\nBoxAngles = 2.3561945; 0; 0\n"
          << "BoxMesh = 3; 3; 3\n";
    std::ostringstream scene;
    scene << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<scene name=\"Boxes\" class=\"C_BaseModule\">\n"
          << "  <c name=\"Cam\" class=\"C_FirstFaceCamera\" value=\"BoxView; 0.9; 0xFF202830; BoxAt; BoxAngles; "
             "BoxNearFar;\"/>\n"
          << "  <l name=\"Sun\" class=\"C_D3DLIGHT9_DIRECTIONAL\" value=\"0xFFF0F0F0; 0; 0; 0.4; -0.5; -0.7; 1000;\"/>\n"
          << "  <x name=\"M\" class=\"C_D3DMATERIAL9\" value=\"0xFFFFFFFF; 0xFF404040; 0; 0; 0;\"/>\n";
    for (int i = 0; i < boxes; ++i) {
        const int column = i % side, row = i / side;
        texts << "P" << i << " = " << column * 4.0f - (side - 1) * 2.0f << "; " << row * 4.0f - (side - 1) * 2.0f
              << "; 1.5\n";
        scene << "  <p name=\"B" << i << "\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; BoxMesh; P" << i
              << ";\" extra=\"M\"/>\n";
    }
    scene << "</scene>\n";
    Write(folder / "MainModule.xml", scene.str());
    Write(folder / "text.ini", texts.str());
    Write(folder / "settings.xml", Settings(samples));
}

fs::path TarnwickBinary()
{
    return fs::read_symlink("/proc/self/exe").parent_path() / "Tarnwick";
}

bool MakeProgramFolder(const fs::path& folder, int boxes, int samples)
{
    const fs::path program = TarnwickBinary();
    if (!fs::exists(program)) return false;
    fs::remove_all(folder);
    WriteScene(folder, boxes, samples);
    fs::copy_file(program, folder / "Tarnwick", fs::copy_options::overwrite_existing);
    return true;
}

using benchrun::Number;

// Arguments: boxes, samples.
void TarnwickBoxes(benchmark::State& state)
{
    const int boxes = static_cast<int>(state.range(0));
    const int samples = static_cast<int>(state.range(1));
    const fs::path folder = fs::temp_directory_path() / ("tw_bench_boxes_" + std::to_string(::getpid()));
    if (!MakeProgramFolder(folder, boxes, samples)) {
        state.SkipWithError("Tarnwick is not built next to this benchmark");
        return;
    }
    const int frames = boxes >= 10000 ? 80 : 200;
    for (auto _ : state) {
        std::string json;
        if (!benchrun::RunTarnwick(folder, frames, "", "", json)) {
            state.SkipWithError("Tarnwick did not finish the run");
            break;
        }
        const double median = benchrun::SceneMedian(json);
        state.SetIterationTime(median / 1000.0);
        state.counters["frame_ms_median"] = median;
        state.counters["frame_ms_mean"] = Number(json, "mean");
        state.counters["draws_asked"] = Number(json, "draw_calls");
        state.counters["gl_draw_calls"] = Number(json, "gl_draw_calls");
    }
    if (!std::getenv("TW_BENCH_KEEP")) fs::remove_all(folder);
}
BENCHMARK(TarnwickBoxes)
    ->ArgNames({"boxes", "samples"})
    ->Args({1000, 0})
    ->Args({1000, 4})
    ->Args({10000, 0})
    ->Args({10000, 4})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--write") {
        if (!MakeProgramFolder(argv[2], std::atoi(argv[3]), std::atoi(argv[4]))) {
            std::fprintf(stderr, "Tarnwick is not built next to this program\n");
            return 1;
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
