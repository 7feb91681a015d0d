// Script speed: the per-frame call of 10,000 objects into their Lua
// functions (cost per call), and reading a motion program of 100,000 lines
// (time and memory) and stepping through it.

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BaseClasses/BaseResource.h"
#include "Render/Position/AxisMoveObject.h"
#include "Script/LuaScriptBase.h"

namespace {

constexpr int ObjectCount = 10000;

void PrepareScript()
{
    static const bool ready = C_LuaScriptBase::RunScript(
        "moved = 0\n"
        "function OnFrame(id) moved = moved + 1 end\n"
        "function Interpolate(id)\n"
        "  local t0, t1 = GetStartTime(), GetFinishTime()\n"
        "  local k = t1 > t0 and (GetCurrentTime() - t0) / (t1 - t0) or 1\n"
        "  value = GetStartPoint(id) + (GetFinishPoint(id) - GetStartPoint(id)) * k\n"
        "end\n",
        std::string_view("bench.lua"));
    if (!ready) std::abort();
}

// One frame: every object's Update calls its script function with its ID.
void BM_PerFrameScriptCall(benchmark::State& state)
{
    PrepareScript();
    std::vector<std::unique_ptr<C_BaseResource>> objects;
    for (int i = 0; i < ObjectCount; ++i) {
        objects.push_back(std::make_unique<C_BaseResource>());
        objects.back()->ScriptFunction = L"OnFrame";
    }
    for (auto _ : state) {
        for (auto& object : objects) object->Update();
    }
    state.SetItemsProcessed(state.iterations() * ObjectCount);
}
BENCHMARK(BM_PerFrameScriptCall)->Unit(benchmark::kMillisecond);

// The same with the axis interpolation the demo runs: five engine calls
// back from Lua per object.
void BM_PerFrameInterpolation(benchmark::State& state)
{
    PrepareScript();
    std::vector<std::unique_ptr<C_BaseResource>> objects;
    for (int i = 0; i < ObjectCount; ++i) {
        objects.push_back(std::make_unique<C_BaseResource>());
        objects.back()->ScriptFunction = L"Interpolate";
    }
    for (auto _ : state) {
        for (auto& object : objects) object->Update();
    }
    state.SetItemsProcessed(state.iterations() * ObjectCount);
}
BENCHMARK(BM_PerFrameInterpolation)->Unit(benchmark::kMillisecond);

// The axis value read every frame.
void BM_GlobalNumberRead(benchmark::State& state)
{
    PrepareScript();
    const std::wstring name = L"moved";
    for (auto _ : state) benchmark::DoNotOptimize(C_LuaScriptBase::GetGlobalNumber(std::wstring_view(name)));
}
BENCHMARK(BM_GlobalNumberRead);

// A program of 100,000 lines: moves, arcs, feeds and comments.
const std::wstring& ProgramFile()
{
    static std::wstring path;
    if (path.empty()) {
        std::string folder = (std::filesystem::temp_directory_path() / "tw_bench_XXXXXX").string();
        if (!::mkdtemp(folder.data())) std::abort();
        const std::filesystem::path file = std::filesystem::path(folder) / "program.nc";
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; i < 100000; ++i) {
            switch (i % 5) {
            case 0: out << "G00 X" << i % 50 << " Y" << i % 30 << " Z5\r\n"; break;
            case 1: out << "G01 Z-1 F300\r\n"; break;
            case 2: out << "G01 X" << (i % 50) + 10 << " Y" << i % 30 << " F600\r\n"; break;
            case 3: out << "G03 X" << (i % 50) + 10 << " Y" << (i % 30) + 4 << " I0 J2\r\n"; break;
            default: out << "; comment line " << i << "\r\n"; break;
            }
        }
        out.close();
        path = file.wstring();
        std::atexit([] { std::error_code e; std::filesystem::remove_all(std::filesystem::path(path).parent_path(), e); });
    }
    return path;
}

void BM_LoadProgramm100k(benchmark::State& state)
{
    const std::wstring& file = ProgramFile();
    auto& programm = C_AxisDrive::Programm();
    double bytes = 0;
    for (auto _ : state) {
        programm.Reset();  // frees the previous lines, so the heap starts level
        const std::size_t before = mallinfo2().uordblks;
        programm.LoadProgramm(file);
        bytes = static_cast<double>(mallinfo2().uordblks) - static_cast<double>(before);
    }
    state.counters["lines"] = static_cast<double>(programm.GetLines().size());
    state.counters["heap_bytes"] = bytes;
    state.counters["bytes_per_line"] = bytes / static_cast<double>(programm.GetLines().size());
}
BENCHMARK(BM_LoadProgramm100k)->Unit(benchmark::kMillisecond);

// Running the whole program with no axes: the cost of the step itself,
// arcs included.
void BM_StepThroughProgramm100k(benchmark::State& state)
{
    auto& programm = C_AxisDrive::Programm();
    std::size_t steps = 0;
    for (auto _ : state) {
        state.PauseTiming();
        programm.LoadProgramm(ProgramFile());
        state.ResumeTiming();
        steps = 0;
        std::uint32_t now = 1000;
        while (true) {
            now = programm.GetFinishTime() + 1;
            if (!programm.Step(now)) break;
            ++steps;
        }
    }
    state.counters["commands"] = static_cast<double>(steps);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(steps));
}
BENCHMARK(BM_StepThroughProgramm100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
