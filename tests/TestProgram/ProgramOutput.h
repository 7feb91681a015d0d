#pragma once
// Reading back what a headless Tarnwick run leaves behind: its screenshot
// and its text files (log, statistics, captured output).

#include <cstddef>
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

}  // namespace tw_test
