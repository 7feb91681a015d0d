// The first real scene under load: 1,000 positioned objects sharing five
// meshes (box, sphere, cylinder, an .x mesh and a progressive .x mesh), lit by
// three lights, with two textures, drawn by the Tarnwick program itself at
// 800 × 600 headless. The program's own statistics (TARNWICK_STATS) give the
// frame time mean and 99th percentile and the draw calls per frame; the
// benchmark reports them as counters. A second benchmark measures the
// engine's side of such a frame alone (update, distances, culling, sorting,
// picking) without drawing.

#include <benchmark/benchmark.h>

#include "tarnwick_run.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "BaseClasses/BaseModule.h"
#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/BaseCamera.h"
#include "Render/Position/PositionObject.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"
#include "../tests/Render/Resources/SceneFiles.h"
#include "../tests/port/d3dx9/fake_device.h"

namespace {

namespace fs = std::filesystem;

constexpr int kObjects = 1000;

const char* const kMeshes[5][2] = {
    {"C_D3DXMESH9_BOX", "BenchBox"},
    {"C_D3DXMESH9_SPHERE", "BenchSphere"},
    {"C_D3DXMESH9_CYLINDER", "BenchCylinder"},
    {"C_D3DXMESH9_XFILE", "BenchQuads"},
    {"C_D3DXPMESH9_XFILE", "BenchBall"},
};

std::string TextIni()
{
    return "FolderMesh = meshes\nFolderTexture = textures\n"
           "BenchView = 0; 0; 1; 1\nBenchNearFar = 0.5; 2000\n"
           "BenchAt = 0; 110; 40\nBenchAngles = 1.95; 0; 0\n"
           "BenchBox = 3; 3; 3\nBenchSphere = 1.8; 16\nBenchCylinder = 1.2; 1.2; 4; 20\n"
           "BenchQuads = quads.x\nBenchBall = ball.x\n";
}

// A grid of objects on the plane z = 0, 40 across and 25 deep, four units
// apart, each naming its position text.
std::string Scene(std::string& texts)
{
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<scene name=\"Bench\" class=\"C_BaseModule\">\n"
        << "  <c name=\"Cam\" class=\"C_FirstFaceCamera\" value=\"BenchView; 0.9; 0xFF202830; BenchAt; BenchAngles; "
           "BenchNearFar;\"/>\n"
        << "  <l name=\"L1\" class=\"C_D3DLIGHT9_DIRECTIONAL\" value=\"0xFFF0F0F0; 0; 0; 0.4; -0.5; -0.7; 1000;\"/>\n"
        << "  <l name=\"L2\" class=\"C_D3DLIGHT9_DIRECTIONAL\" value=\"0xFF404860; 0; 0; -0.5; 0.4; -0.3; 1000;\"/>\n"
        << "  <l name=\"L3\" class=\"C_D3DLIGHT9_POINT\" value=\"0xFFFFD080; 0; 0; 0; 0; 10; 60;\"/>\n"
        << "  <x name=\"M\" class=\"C_D3DMATERIAL9\" value=\"0xFFFFFFFF; 0xFFFFFFFF; 0; 0; 0;\"/>\n"
        << "  <x name=\"T0\" class=\"C_D3DTEXTURE9\" value=\"checker.bmp; 0;\"/>\n"
        << "  <x name=\"T1\" class=\"C_D3DTEXTURE9\" value=\"brick.bmp; 0;\"/>\n";
    for (int i = 0; i < kObjects; ++i) {
        const int column = i % 40, row = i / 40;
        const std::string position = "BenchP" + std::to_string(i);
        texts += position + " = " + std::to_string(column * 4 - 78) + "; " + std::to_string(row * 4 - 48) + "; 1.5\n";
        const auto& mesh = kMeshes[i % 5];
        out << "  <p name=\"O" << i << "\" class=\"C_PositionObject\" value=\"" << mesh[0] << "; " << mesh[1] << "; "
            << position << "; ; 0.8;\" extra=\"M; T" << (i / 5) % 2 << "\"/>\n";
    }
    out << "</scene>\n";
    return out.str();
}

void Write(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

fs::path MakeProgramFolder()
{
    const fs::path folder = fs::temp_directory_path() / ("tw_bench_scene_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    std::string texts = TextIni();
    Write(folder / "MainModule.xml", Scene(texts));
    Write(folder / "text.ini", texts);
    Write(folder / "meshes" / "quads.x", scenetest::XThreeMaterials());
    Write(folder / "meshes" / "ball.x", scenetest::XGridSphere(32));
    std::vector<uint32_t> checker(64 * 64), brick(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            checker[size_t(y * 64 + x)] = ((x / 8 + y / 8) % 2) ? 0xC8C8C8 : 0x505860;
            brick[size_t(y * 64 + x)] = (y % 16 == 0 || (x + (y / 16 % 2) * 16) % 32 == 0) ? 0xD8D0C0 : 0x9A3A22;
        }
    Write(folder / "textures" / "checker.bmp", scenetest::Bmp(64, 64, checker));
    Write(folder / "textures" / "brick.bmp", scenetest::Bmp(64, 64, brick));
    return folder;
}

using benchrun::Number;

// Tarnwick runs the scene for the given number of frames; its statistics
// become the counters.
void TarnwickScene(benchmark::State& state)
{
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "Tarnwick";
    if (!fs::exists(program)) {
        state.SkipWithError("Tarnwick is not built next to this benchmark");
        return;
    }
    const fs::path folder = MakeProgramFolder();
    fs::copy_file(program, folder / "Tarnwick", fs::copy_options::overwrite_existing);
    const int frames = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::string json;
        if (!benchrun::RunTarnwick(folder, frames, benchrun::Screenshot(folder), "", json)) {
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
        state.counters["last_frame_draw_calls"] = Number(json, "draw_calls");
    }
    if (!std::getenv("TW_BENCH_KEEP")) fs::remove_all(folder);
}
BENCHMARK(TarnwickScene)->Arg(300)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The engine's share of a frame for 1,000 positioned objects on a device
// that draws nothing (buffers in plain memory): module update with the
// distances to the camera, culling and sorting into the queue, picking under
// the cursor, and both passes of the queue with states, lights, materials,
// textures and mesh subsets.
void EngineSideOfTheFrame(benchmark::State& state)
{
    testdev::Device9 device;
    C_BaseCamera::InstallModuleSupport();
    C_QueueRendering::InstallInsert();
    C_ResManager& managers = C_ResManager::Instance();
    auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
    for (const wchar_t* line : {L"BenchView = 0; 0; 1; 1", L"BenchAt = 0; 110; 40", L"BenchAngles = 1.95; 0; 0",
                                L"BenchBox = 3; 3; 3", L"BenchSphere = 1.8; 16", L"BenchCylinder = 1.2; 1.2; 4; 20"})
        texts.AddLine(line);
    auto* module = static_cast<C_BaseModule*>(managers.AddResource(L"C_BaseModule", L"BenchRoot", L""));
    auto* camera = static_cast<C_BaseCamera*>(
        managers.AddResource(L"C_FirstFaceCamera", L"BenchCam", L"BenchView; 0.9; ; BenchAt; BenchAngles;"));
    module->AddToModule(camera);
    const wchar_t* lights[3][2] = {{L"C_D3DLIGHT9_DIRECTIONAL", L"0xFFF0F0F0; 0; 0; 0.4; -0.5; -0.7; 1000;"},
                                   {L"C_D3DLIGHT9_DIRECTIONAL", L"0xFF404860; 0; 0; -0.5; 0.4; -0.3; 1000;"},
                                   {L"C_D3DLIGHT9_POINT", L"0xFFFFD080; 0; 0; 0; 0; 10; 60;"}};
    for (int i = 0; i < 3; ++i)
        module->AddToModule(managers.AddResource(lights[i][0], (L"BenchL" + std::to_wstring(i)).c_str(), lights[i][1]));
    managers.AddResource(L"C_D3DMATERIAL9", L"BenchM", L"0xFFFFFFFF; 0xFFFFFFFF; 0; 0; 0;");
    const wchar_t* meshes[3][2] = {{L"C_D3DXMESH9_BOX", L"BenchBox"},
                                   {L"C_D3DXMESH9_SPHERE", L"BenchSphere"},
                                   {L"C_D3DXMESH9_CYLINDER", L"BenchCylinder"}};
    for (int i = 0; i < kObjects; ++i) {
        const std::wstring position = L"BenchP" + std::to_wstring(i);
        texts.AddLine(position + L" = " + std::to_wstring(i % 40 * 4 - 78) + L"; " + std::to_wstring(i / 40 * 4 - 48) +
                      L"; 1.5");
        const std::wstring value = std::wstring(meshes[i % 3][0]) + L"; " + meshes[i % 3][1] + L"; " + position + L";";
        C_BaseResource* object =
            managers.AddResource(L"C_PositionObject", (L"BenchO" + std::to_wstring(i)).c_str(), value.c_str());
        object->SetExtra(L"BenchM");
        module->AddToModule(object);
    }
    int steps = 0;
    while (managers.Load(&device) && ++steps < 100) {}

    C_BaseObject::C_CommonData& common = C_BaseObject::CommonData();
    common.ScreenWidth = 800;
    common.ScreenHeight = 600;
    common.MouseX = 400;
    common.MouseY = 300;
    C_QueueRendering& queue = C_QueueRendering::Instance();
    std::size_t drawn = 0;
    for (auto _ : state) {
        common.Time += 16;
        module->Update();
        module->AddToRenderQueue();
        common.RenderPass = 1;
        queue.Draw(&device);
        common.RenderPass = 0;
        queue.Draw(&device);
        queue.ClearQueues();
        drawn = device.draws.size();
        device.draws.clear();
    }
    state.counters["draws_per_frame"] = static_cast<double>(drawn);
    state.SetItemsProcessed(state.iterations() * kObjects);
    managers.Clear();
}
BENCHMARK(EngineSideOfTheFrame)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
