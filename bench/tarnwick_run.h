#pragma once
// Runs the Tarnwick built beside a benchmark in a program folder, headless,
// and reads back the statistics it writes at exit (TARNWICK_STATS), so the
// whole-program benchmarks time the real program the same way.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace benchrun {

// A number of the statistics file, -1 when the key is missing.
inline double Number(const std::string& json, const std::string& key)
{
    const std::regex pattern("\"" + key + "\": ([-0-9.]+)");
    std::smatch match;
    return std::regex_search(json, match, pattern) ? std::stod(match[1]) : -1.0;
}

// The median frame time of the scene's own frames (the load screen's and
// the pause that ends the load left out); the median of all frames when the
// run showed no scene frame.
inline double SceneMedian(const std::string& json)
{
    const std::regex pattern("\"scene_frame_time_ms\": \\{\"mean\": [-0-9.]+, \"median\": ([-0-9.]+)");
    std::smatch match;
    if (Number(json, "scene_frames") > 0 && std::regex_search(json, match, pattern)) return std::stod(match[1]);
    return Number(json, "median");
}

// env: further variables ("NAME='value' ..."); args: Tarnwick's command line.
// False when Tarnwick did not end with exit code 0 (its output is in
// out.txt of the folder).
inline bool RunTarnwick(const std::filesystem::path& folder, int frames, const std::string& env,
                        const std::string& args, std::string& json)
{
    const std::filesystem::path stats = folder / "stats.json";
    const std::string command = "cd '" + folder.string() + "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=" +
                                std::to_string(frames) + " TARNWICK_STATS='" + stats.string() + "' " + env +
                                " ./Tarnwick " + args + " > out.txt 2>&1";
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    std::ifstream in(stats);
    json.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The variable that makes Tarnwick save its last frame into the folder.
inline std::string Screenshot(const std::filesystem::path& folder)
{
    return "TARNWICK_SCREENSHOT='" + (folder / "shot.png").string() + "'";
}

}  // namespace benchrun
