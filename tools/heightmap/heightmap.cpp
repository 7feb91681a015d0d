// Makes the files of a terrain: a raw height map of hills around a winding
// valley, and a tileable grass texture. Everything comes from integer hashes
// of the seed, so the same arguments always give the same bytes.
//
//   heightmap [--side N] [--bits 16|8] [--seed S] OUT.raw
//       N × N samples (default 1025), row-major, no header; 16-bit samples
//       are little-endian. The outermost ring is the middle height, which
//       the engine reads as 0 there anyway.
//   heightmap --grass [--size N] [--seed S] OUT.bmp
//       an N × N (default 512) 24-bit BMP of grass that repeats seamlessly.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr double Pi = 3.14159265358979323846;

uint32_t Hash(int32_t x, int32_t y, uint32_t seed)
{
    uint32_t h = seed * 0x9E3779B1u;
    h ^= static_cast<uint32_t>(x) * 0x85EBCA77u;
    h = (h << 13) | (h >> 19);
    h ^= static_cast<uint32_t>(y) * 0xC2B2AE3Du;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

double Lattice(int32_t x, int32_t y, uint32_t seed)
{
    return static_cast<double>(Hash(x, y, seed) >> 8) / static_cast<double>(1u << 24);
}

double Smooth(double t) { return t * t * (3.0 - 2.0 * t); }

// Value noise in [0, 1) with lattice cells of size 1; `period` > 0 wraps the
// lattice so the noise repeats every `period` cells.
double ValueNoise(double x, double y, uint32_t seed, int32_t period)
{
    const double fx = std::floor(x), fy = std::floor(y);
    auto wrap = [period](int32_t i) { return period > 0 ? ((i % period) + period) % period : i; };
    const int32_t x0 = wrap(static_cast<int32_t>(fx)), x1 = wrap(static_cast<int32_t>(fx) + 1);
    const int32_t y0 = wrap(static_cast<int32_t>(fy)), y1 = wrap(static_cast<int32_t>(fy) + 1);
    const double tx = Smooth(x - fx), ty = Smooth(y - fy);
    const double a = Lattice(x0, y0, seed), b = Lattice(x1, y0, seed);
    const double c = Lattice(x0, y1, seed), d = Lattice(x1, y1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Octaves of value noise, about [-0.5, 0.5).
double Fractal(double x, double y, uint32_t seed, int octaves, int32_t period)
{
    double sum = 0.0, amplitude = 0.5, total = 0.0;
    for (int i = 0; i < octaves; ++i) {
        sum += (ValueNoise(x, y, seed + static_cast<uint32_t>(i) * 101u, period) - 0.5) * amplitude;
        total += amplitude;
        x *= 2.0;
        y *= 2.0;
        if (period > 0) period *= 2;
        amplitude *= 0.5;
    }
    return sum / total;
}

// Normalised height at (u, v) of the unit square.
double Terrain(double u, double v, uint32_t seed)
{
    struct Hill {
        double u, v, radius, height;
    };
    static const Hill hills[] = {
        {0.22, 0.30, 0.13, 0.30}, {0.78, 0.25, 0.16, 0.36}, {0.70, 0.72, 0.12, 0.26},
        {0.25, 0.78, 0.15, 0.32}, {0.50, 0.12, 0.08, 0.14}, {0.88, 0.52, 0.07, 0.16},
        {0.12, 0.52, 0.07, 0.12}, {0.48, 0.88, 0.09, 0.18},
    };
    double relief = 0.0;
    for (const Hill& hill : hills) {
        const double du = (u - hill.u) / hill.radius, dv = (v - hill.v) / hill.radius;
        relief += hill.height * std::exp(-(du * du + dv * dv));
    }
    // A valley winding from south to north through the middle.
    const double river = 0.5 + 0.09 * std::sin(2.0 * Pi * 1.2 * v) + 0.03 * std::sin(2.0 * Pi * 3.1 * v + 1.0);
    const double across = (u - river) / 0.07;
    relief -= 0.16 * std::exp(-across * across);
    relief += 0.05 * Fractal(u * 12.0, v * 12.0, seed, 5, 0);
    // Down to the middle height at the border.
    const double margin = 0.06;
    const double edge = std::min(std::min(u, 1.0 - u), std::min(v, 1.0 - v)) / margin;
    const double fade = edge >= 1.0 ? 1.0 : (edge <= 0.0 ? 0.0 : Smooth(edge));
    return std::clamp(0.5 + 0.55 * relief * fade, 0.0, 1.0);
}

bool WriteFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<unsigned char> HeightMap(int side, int bits, uint32_t seed)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(static_cast<std::size_t>(side) * side * (bits / 8));
    const double last = side > 1 ? side - 1 : 1;
    for (int row = 0; row < side; ++row)
        for (int col = 0; col < side; ++col) {
            const bool border = row == 0 || col == 0 || row == side - 1 || col == side - 1;
            const double h = border ? 0.5 : Terrain(col / last, row / last, seed);
            if (bits == 8) {
                bytes.push_back(static_cast<unsigned char>(std::lround(h * 255.0)));
            } else {
                const auto sample = static_cast<uint16_t>(std::lround(h * 65535.0));
                bytes.push_back(static_cast<unsigned char>(sample & 0xFF));
                bytes.push_back(static_cast<unsigned char>(sample >> 8));
            }
        }
    return bytes;
}

void Put32(std::vector<unsigned char>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::vector<unsigned char> Grass(int size, uint32_t seed)
{
    const int rowBytes = (size * 3 + 3) & ~3;
    std::vector<unsigned char> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, static_cast<uint32_t>(54 + rowBytes * size));
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(size));
    Put32(out, static_cast<uint32_t>(size));
    out.push_back(1);
    out.push_back(0);
    out.push_back(24);
    out.push_back(0);
    Put32(out, 0);
    Put32(out, static_cast<uint32_t>(rowBytes * size));
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    const int cells = 8;   // lattice cells across the texture: it repeats
    for (int y = size - 1; y >= 0; --y) {   // bottom-up rows
        std::size_t written = 0;
        for (int x = 0; x < size; ++x) {
            const double u = static_cast<double>(x) / size * cells, v = static_cast<double>(y) / size * cells;
            const double patches = Fractal(u, v, seed, 4, cells) + 0.5;              // light and dark patches
            const double dry = Fractal(u * 0.5, v * 0.5, seed + 7, 2, cells / 2) + 0.5;  // yellowish spots
            const double blade = Lattice(x, y, seed + 13) - 0.5;                    // single blades
            const double light = std::clamp(0.55 + 0.55 * (patches - 0.5) + 0.35 * blade, 0.15, 1.0);
            const double yellow = std::clamp((dry - 0.55) * 2.5, 0.0, 1.0);
            const double r = (46 + 70 * yellow) * light * 1.4;
            const double g = (120 + 30 * yellow) * light * 1.4;
            const double b = (36 + 6 * yellow) * light * 1.4;
            out.push_back(static_cast<unsigned char>(std::clamp(b, 0.0, 255.0)));
            out.push_back(static_cast<unsigned char>(std::clamp(g, 0.0, 255.0)));
            out.push_back(static_cast<unsigned char>(std::clamp(r, 0.0, 255.0)));
            written += 3;
        }
        for (; written < static_cast<std::size_t>(rowBytes); ++written) out.push_back(0);
    }
    return out;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: heightmap [--side N] [--bits 16|8] [--seed S] OUT.raw\n"
                 "       heightmap --grass [--size N] [--seed S] OUT.bmp\n");
    return 2;
}

bool ReadNumber(const char* text, long low, long high, long& value)
{
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end && *end == '\0' && end != text && value >= low && value <= high;
}

} // namespace

int main(int argc, char** argv)
{
    bool grass = false;
    long side = 1025, bits = 16, size = 512, seed = 1;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--grass") {
            grass = true;
        } else if (arg == "--side" && hasValue) {
            if (!ReadNumber(argv[++i], 2, 46340, side)) return Usage();
        } else if (arg == "--bits" && hasValue) {
            if (!ReadNumber(argv[++i], 8, 16, bits) || (bits != 8 && bits != 16)) return Usage();
        } else if (arg == "--size" && hasValue) {
            if (!ReadNumber(argv[++i], 8, 8192, size)) return Usage();
        } else if (arg == "--seed" && hasValue) {
            if (!ReadNumber(argv[++i], 0, 0x7FFFFFFF, seed)) return Usage();
        } else if (!arg.empty() && arg[0] != '-' && out.empty()) {
            out = arg;
        } else {
            return Usage();
        }
    }
    if (out.empty()) return Usage();
    const auto bytes = grass ? Grass(static_cast<int>(size), static_cast<uint32_t>(seed))
                             : HeightMap(static_cast<int>(side), static_cast<int>(bits), static_cast<uint32_t>(seed));
    if (!WriteFile(out, bytes)) {
        std::fprintf(stderr, "heightmap: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
