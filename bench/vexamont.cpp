// The settings editor as a user meets it: how long the dialog takes from the
// start of the program to its first picture, and how many frames the
// 4.5-second device test draws without a display (SDL's offscreen driver on
// Mesa). The dialog needs a display: run this under xvfb-run, e.g.
//     xvfb-run -a -s "-screen 0 1280x1024x24" build/bench_vexamont

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace fs = std::filesystem;

namespace {

// A copy of the demo folder with Vexamont in it.
fs::path MakeProgramFolder(const fs::path& binary)
{
    const fs::path folder = fs::temp_directory_path() / ("tw_bench_vexamont_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::copy(fs::path(binary.parent_path()) / "demo", folder, fs::copy_options::recursive);
    fs::copy_file(binary, folder / "Vexamont", fs::copy_options::overwrite_existing);
    fs::remove(folder / "settings.xml");
    return folder;
}

int Run(const fs::path& folder, const std::string& environment, const std::string& arguments)
{
    const std::string command = "cd '" + folder.string() + "' && env NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory " +
                                environment + " ./Vexamont " + arguments + " > out.txt 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(const struct timespec& t) { return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9; }

// From the start of the program to the moment its first picture of the
// dialog is on disk; the whole run (closing and saving included) as a
// counter.
void DialogStartUp(benchmark::State& state)
{
    const fs::path binary = fs::read_symlink("/proc/self/exe").parent_path() / "Vexamont";
    if (!fs::exists(binary) || !fs::exists(binary.parent_path() / "demo")) {
        state.SkipWithError("Vexamont and the demo folder are not built next to this benchmark");
        return;
    }
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("the dialog needs a display: run under xvfb-run");
        return;
    }
    const fs::path folder = MakeProgramFolder(binary);
    const fs::path shot = folder / "dialog.png";
    double total = 0;
    for (auto _ : state) {
        fs::remove(shot);
        struct timespec start {};
        clock_gettime(CLOCK_REALTIME, &start);
        const auto begin = std::chrono::steady_clock::now();
        const int code = Run(folder, "SDL_VIDEODRIVER=offscreen VEXAMONT_SCREENSHOT='" + shot.string() + "'", "");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        struct stat picture {};
        if (code != 0 || ::stat(shot.c_str(), &picture) != 0) {
            state.SkipWithError("Vexamont did not show its dialog");
            break;
        }
        state.SetIterationTime(Seconds(picture.st_mtim) - Seconds(start));
    }
    state.counters["whole_run_ms"] = 1000.0 * total / static_cast<double>(state.iterations());
    fs::remove_all(folder);
}
BENCHMARK(DialogStartUp)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// The device test of `Vexamont --check` with the demo's settings probed on
// this machine, headless: frames presented in its 4.5 seconds.
void DeviceTestFrames(benchmark::State& state)
{
    const fs::path binary = fs::read_symlink("/proc/self/exe").parent_path() / "Vexamont";
    if (!fs::exists(binary) || !fs::exists(binary.parent_path() / "demo")) {
        state.SkipWithError("Vexamont and the demo folder are not built next to this benchmark");
        return;
    }
    const fs::path folder = MakeProgramFolder(binary);
    const fs::path stats = folder / "stats.json";
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        if (Run(folder, "SDL_VIDEODRIVER=offscreen TARNWICK_STATS='" + stats.string() + "'", "--check") != 0) {
            state.SkipWithError("the device test failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
        std::ifstream in(stats);
        const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::smatch match;
        if (std::regex_search(json, match, std::regex("\"frames\": ([0-9]+)"))) state.counters["frames"] = std::stod(match[1]);
        if (std::regex_search(json, match, std::regex("\"mean\": ([-0-9.]+)")))
            state.counters["frame_ms_mean"] = std::stod(match[1]);
    }
    fs::remove_all(folder);
}
BENCHMARK(DeviceTestFrames)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
