#pragma once
// Headless runs of the real Tarnwick and reading back what they leave
// behind: the screenshot and the text files (log, statistics, output).

#include <sys/wait.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stb/stb_image.h>

namespace tw_test {

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    unsigned Pixel(int x, int y) const
    {
        const unsigned char* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
        return (p[0] << 16) | (p[1] << 8) | p[2];
    }
};

inline Image ReadPng(const std::filesystem::path& file)
{
    Image image;
    int channels = 0;
    if (unsigned char* data = stbi_load(file.string().c_str(), &image.width, &image.height, &channels, 4)) {
        image.rgba.assign(data, data + static_cast<std::size_t>(image.width) * image.height * 4);
        stbi_image_free(data);
    }
    return image;
}

inline std::string ReadAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs the Tarnwick in `program` for `frames` frames with the offscreen video
// driver (stopped after 120 s): the last frame goes to dir/shot.png and the
// output to dir/out.txt; `env` holds further variables. The exit code, or -1
// when it did not exit.
inline int RunHeadless(const std::filesystem::path& program, const std::filesystem::path& dir, int frames,
                       const std::string& env, const std::string& arguments = "")
{
    const std::string command = "cd '" + program.string() + "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=" +
                                std::to_string(frames) + " TARNWICK_SCREENSHOT='" + (dir / "shot.png").string() +
                                "' " + env + " timeout 120 ./Tarnwick " + arguments + " > '" +
                                (dir / "out.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every HTML log file of the program folder, one after another.
inline std::string HtmlLogs(const std::filesystem::path& program)
{
    std::string all;
    if (std::filesystem::exists(program / "log"))
        for (const auto& entry : std::filesystem::directory_iterator(program / "log"))
            if (entry.path().extension() == ".html") all += ReadAll(entry.path());
    return all;
}

}  // namespace tw_test
