// Start-up with large tables: a text.ini of 10^5 and 10^6 keys read into the
// named-text table, the whole Tarnwick program starting (and presenting one
// frame) with such a text.ini, and a module file of 10^5 objects made by the
// resource managers. Keys and names come in no order, with repeats, as a
// generated file has them.

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "BaseClasses/BaseModule.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Logger/Logger.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// `count` lines "Key<n> = <value>" in random order, one in twenty a repeat
// of an earlier key.
std::string TextIni(std::size_t count)
{
    std::mt19937 random(42);
    std::string text;
    text.reserve(count * 40);
    text += "FolderScript = scripts\nLoadScreen = Loading\nLoadScreenFont = DejaVu Sans; 40; 700\n";
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned key = random() % 20 == 0 ? random() % unsigned(i + 1) : unsigned(random());
        text += "Key" + std::to_string(key) + " = " + std::to_string(i) + "; 0.5; 0.25; text\n";
    }
    return text;
}

fs::path Scratch(const std::string& name)
{
    const fs::path folder = fs::temp_directory_path() / ("tw_bench_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// Reading text.ini into the table.
void TextIniIntoTheTable(benchmark::State& state)
{
    const fs::path folder = Scratch("textini");
    Write(folder / "text.ini", TextIni(static_cast<std::size_t>(state.range(0))));
    logger::Logger::Activate(logger::AllReports);
    std::size_t entries = 0;
    for (auto _ : state) {
        auto* table = new C_D3DXSTRING::C_AllStrings;
        table->LoadTextIni(VORTALEX::PathToWide(folder), nullptr);
        entries = table->size();
        state.PauseTiming();
        delete table;
        state.ResumeTiming();
    }
    state.counters["entries"] = static_cast<double>(entries);
    fs::remove_all(folder);
}
BENCHMARK(TextIniIntoTheTable)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The whole program: start, read text.ini, load a small scene, present one
// frame, write the settings and end.
void TarnwickStartUp(benchmark::State& state)
{
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "Tarnwick";
    if (!fs::exists(program)) {
        state.SkipWithError("Tarnwick is not built next to this benchmark");
        return;
    }
    const fs::path folder = Scratch("startup");
    fs::copy_file(program, folder / "Tarnwick");
    Write(folder / "text.ini", TextIni(static_cast<std::size_t>(state.range(0))));
    Write(folder / "MainModule.xml",
          "<scene name=\"Start\" class=\"C_BaseModule\"><c name=\"Cam\" class=\"C_GUICamera\""
          " value=\"Key1; 0.5; 0xFF203040;\"/></scene>\n");
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::string command = "cd '" + folder.string() +
                                    "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=1 ./Tarnwick > out.txt 2>&1";
        const int status = std::system(command.c_str());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("Tarnwick did not finish the run");
            break;
        }
        state.SetIterationTime(seconds);
    }
    fs::remove_all(folder);
}
BENCHMARK(TarnwickStartUp)->Arg(100000)->Arg(1000000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// A module file of many objects, made by their managers when the module
// loads: names in no order, so each would land in the middle of its
// manager's list.
void ModuleOfManyObjects(benchmark::State& state)
{
    const fs::path folder = Scratch("module");
    VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(folder));
    std::mt19937 random(7);
    std::string file = "<m name=\"Many\" class=\"C_BaseModule\">\n";
    const int count = static_cast<int>(state.range(0));
    for (int i = 0; i < count; ++i)
        file += "<o name=\"Object" + std::to_string(random()) + "\" class=\"C_D3DMATERIAL9\""
                " value=\"0xFFFFFFFF; 0xFFFFFFFF; 0; 0; 0;\"/>\n";
    file += "</m>\n";
    Write(folder / "many.xml", file);
    logger::Logger::Activate(logger::AllReports);
    C_ResManager& managers = C_ResManager::Instance();
    std::size_t made = 0;
    for (auto _ : state) {
        auto* root = static_cast<C_BaseModule*>(managers.AddResource(L"C_BaseModule", L"Root", L""));
        *root << std::wstring(L"many.xml");
        auto* many = static_cast<C_BaseModule*>(managers.GetResource(L"Many", L"C_BaseModule", false));
        many->Load(nullptr);
        made = managers.GetManager(L"C_D3DMATERIAL9")->size();
        state.PauseTiming();
        managers.Clear();
        state.ResumeTiming();
    }
    state.counters["objects"] = static_cast<double>(made);
    VORTALEX::OverrideProgramFolder(L"");
    fs::remove_all(folder);
}
BENCHMARK(ModuleOfManyObjects)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
