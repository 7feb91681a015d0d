// Texture creation from image files in memory, as C_D3DTEXTURE9 creates its
// textures: default size (rounded up to powers of two), a full mip chain and
// the file's format, on a real device. Images are 256 x 256, 1280 x 720
// (which becomes 2048 x 1024 with 12 levels) and 2048 x 2048, as PNG, as DXT1
// and DXT5 DDS and as uncompressed 32-bit DDS.

#include <benchmark/benchmark.h>
#include <stb/stb_image_write.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_device.h"
#include "../tests/port/d3d9/device_setup.h"
#include "port/d3d9/d3d9.h"
#include "port/d3dx9/d3dx9tex.h"
#include "port/win32/afxwin.h"

namespace {



// A photograph-like picture: smooth gradients with some fine detail, so PNG
// compresses it about as well as real textures.
std::vector<uint8_t> Picture(int w, int h) {
    std::vector<uint8_t> rgba((size_t)w * h * 4);
    uint32_t noise = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int n = (int)(noise >> 29);
            uint8_t* p = &rgba[((size_t)y * w + x) * 4];
            p[0] = (uint8_t)((x * 255 / w + n) & 0xFF);
            p[1] = (uint8_t)((y * 255 / h + n) & 0xFF);
            p[2] = (uint8_t)(128 + 100 * std::sin(x * 0.05) * std::cos(y * 0.03));
            p[3] = 255;
        }
    return rgba;
}

void Append(void* ctx, void* data, int size) { static_cast<std::string*>(ctx)->append((const char*)data, size); }

std::string Png(int w, int h) {
    const std::vector<uint8_t> rgba = Picture(w, h);
    std::string out;
    stbi_write_png_to_func(Append, &out, w, h, 4, rgba.data(), w * 4);
    return out;
}

std::string DdsHeader(int w, int h, uint32_t pfFlags, uint32_t fourCC, uint32_t bits, uint32_t r, uint32_t g,
                      uint32_t b, uint32_t a) {
    uint32_t head[32] = {};
    head[0] = 0x20534444; // "DDS "
    head[1] = 124;
    head[2] = 0x1007;
    head[3] = (uint32_t)h;
    head[4] = (uint32_t)w;
    head[19] = 32;
    head[20] = pfFlags;
    head[21] = fourCC;
    head[22] = bits;
    head[23] = r;
    head[24] = g;
    head[25] = b;
    head[26] = a;
    head[27] = 0x1000;
    return std::string(reinterpret_cast<const char*>(head), sizeof head);
}

std::string DdsArgb(int w, int h) {
    const std::vector<uint8_t> rgba = Picture(w, h);
    std::string out = DdsHeader(w, h, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const uint8_t bgra[4] = {rgba[i + 2], rgba[i + 1], rgba[i], rgba[i + 3]};
        out.append(reinterpret_cast<const char*>(bgra), 4);
    }
    return out;
}

// Block-compressed data: each block's colours follow the picture; indices vary.
std::string DdsDxt(int w, int h, bool dxt5) {
    std::string out = DdsHeader(w, h, 0x4, dxt5 ? 0x35545844 : 0x31545844, 0, 0, 0, 0, 0);
    uint32_t noise = 777;
    for (int by = 0; by < (h + 3) / 4; ++by)
        for (int bx = 0; bx < (w + 3) / 4; ++bx) {
            noise = noise * 1664525u + 1013904223u;
            if (dxt5) {
                const uint8_t alpha[8] = {255, 0, (uint8_t)noise, (uint8_t)(noise >> 8), (uint8_t)(noise >> 16),
                                          (uint8_t)(noise >> 24), 0x55, 0xAA};
                out.append(reinterpret_cast<const char*>(alpha), 8);
            }
            const uint16_t c0 = (uint16_t)((bx * 31 / ((w + 3) / 4)) << 11 | (by * 63 / ((h + 3) / 4)) << 5 | 16);
            const uint16_t c1 = (uint16_t)(c0 ^ 0x0841);
            out.append(reinterpret_cast<const char*>(&c0), 2);
            out.append(reinterpret_cast<const char*>(&c1), 2);
            out.append(reinterpret_cast<const char*>(&noise), 4);
        }
    return out;
}

enum Kind { kPng, kDxt1, kDxt5, kArgb };

const std::string& File(Kind kind, int w, int h) {
    static std::map<std::tuple<int, int, int>, std::string> cache;
    std::string& f = cache[{kind, w, h}];
    if (f.empty()) {
        switch (kind) {
        case kPng: f = Png(w, h); break;
        case kDxt1: f = DdsDxt(w, h, false); break;
        case kDxt5: f = DdsDxt(w, h, true); break;
        case kArgb: f = DdsArgb(w, h); break;
        }
    }
    return f;
}

void Create(benchmark::State& state, Kind kind) {
    if (!Dev().device) return state.SkipWithError("no device");
    const int w = (int)state.range(0), h = (int)state.range(1);
    const std::string& file = File(kind, w, h);
    UINT levels = 0, width = 0, height = 0;
    for (auto _ : state) {
        IDirect3DTexture9* tex = nullptr;
        if (FAILED(D3DXCreateTextureFromFileInMemory(Dev().device, file.data(), (UINT)file.size(), &tex)))
            return state.SkipWithError("texture creation failed");
        levels = tex->GetLevelCount();
        D3DSURFACE_DESC desc{};
        tex->GetLevelDesc(0, &desc);
        width = desc.Width;
        height = desc.Height;
        tex->Release();
    }
    state.counters["levels"] = levels;
    state.counters["tex_w"] = width;
    state.counters["tex_h"] = height;
    state.counters["file_kB"] = (double)file.size() / 1024.0;
}

void BM_TexturePng(benchmark::State& state) { Create(state, kPng); }
void BM_TextureDxt1(benchmark::State& state) { Create(state, kDxt1); }
void BM_TextureDxt5(benchmark::State& state) { Create(state, kDxt5); }
void BM_TextureDdsArgb(benchmark::State& state) { Create(state, kArgb); }

void Sizes(benchmark::internal::Benchmark* b) {
    b->Args({256, 256})->Args({1280, 720})->Args({2048, 2048})->ArgNames({"w", "h"});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(BM_TexturePng)->Apply(Sizes);
BENCHMARK(BM_TextureDxt1)->Apply(Sizes);
BENCHMARK(BM_TextureDxt5)->Apply(Sizes);
BENCHMARK(BM_TextureDdsArgb)->Apply(Sizes);

} // namespace

BENCHMARK_MAIN();
