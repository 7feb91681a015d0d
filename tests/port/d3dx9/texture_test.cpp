#include "fake_device.h"
#include "fuzz_rounds.h"
#include "port/d3dx9/d3dx9tex.h"
#include "port/d3dx9/image.h"

#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

void appendBytes(void* ctx, void* data, int size) {
    static_cast<std::string*>(ctx)->append(static_cast<const char*>(data), (size_t)size);
}

// An image file from RGBA bytes through stb's writers.
std::string writeImage(const char* kind, int w, int h, int comp, const std::vector<uint8_t>& pixels) {
    std::string out;
    if (std::string(kind) == "png") stbi_write_png_to_func(appendBytes, &out, w, h, comp, pixels.data(), w * comp);
    if (std::string(kind) == "bmp") stbi_write_bmp_to_func(appendBytes, &out, w, h, comp, pixels.data());
    if (std::string(kind) == "tga") stbi_write_tga_to_func(appendBytes, &out, w, h, comp, pixels.data());
    return out;
}

struct DdsHeader {
    uint32_t magic = 0x20534444, size = 124, flags = 0x1007, height, width, pitch = 0, depth = 0, mipCount = 0;
    uint32_t reserved1[11] = {};
    uint32_t pfSize = 32, pfFlags, fourCC = 0, bitCount = 0, rMask = 0, gMask = 0, bMask = 0, aMask = 0;
    uint32_t caps = 0x1000, caps2 = 0, caps3 = 0, caps4 = 0, reserved2 = 0;
};

std::string dds(const DdsHeader& h, const std::vector<uint8_t>& payload) {
    std::string out(reinterpret_cast<const char*>(&h), sizeof h);
    out.append(reinterpret_cast<const char*>(payload.data()), payload.size());
    return out;
}

class Textures : public ::testing::Test {
protected:
    void TearDown() override { device->Release(); }
    testdev::Texture9* load(const std::string& file, HRESULT* result = nullptr, D3DCOLOR key = 0,
                            UINT w = D3DX_DEFAULT, UINT h = D3DX_DEFAULT, D3DFORMAT fmt = D3DFMT_UNKNOWN,
                            UINT mips = D3DX_DEFAULT) {
        IDirect3DTexture9* t = nullptr;
        const HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(device, file.data(), (UINT)file.size(), w, h, mips, 0,
                                                               fmt, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, key,
                                                               &info, nullptr, &t);
        if (result) *result = hr;
        if (FAILED(hr)) {
            EXPECT_EQ(t, nullptr);
        }
        return static_cast<testdev::Texture9*>(t);
    }
    testdev::Device9* device = new testdev::Device9;
    D3DXIMAGE_INFO info{};
};

} // namespace

TEST_F(Textures, PngDecodesToKnownTexels) {
    std::vector<uint8_t> px(4 * 4 * 4);
    for (int i = 0; i < 16; ++i) {
        px[i * 4] = (uint8_t)(i * 16);      // r
        px[i * 4 + 1] = (uint8_t)(255 - i); // g
        px[i * 4 + 2] = (uint8_t)(i * 3);   // b
        px[i * 4 + 3] = (uint8_t)(i == 5 ? 0x40 : 0xFF);
    }
    auto* tex = load(writeImage("png", 4, 4, 4, px));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_PNG);
    EXPECT_EQ(info.Width, 4u);
    EXPECT_EQ(tex->format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(tex->GetLevelCount(), 3u); // 4x4, 2x2, 1x1
    for (int i = 0; i < 16; ++i) {
        const DWORD want = (DWORD)px[i * 4 + 3] << 24 | (DWORD)px[i * 4] << 16 | (DWORD)px[i * 4 + 1] << 8 | px[i * 4 + 2];
        EXPECT_EQ(tex->texel(0, i % 4, i / 4), want) << "texel " << i;
    }
    // The 2x2 level averages 2x2 blocks.
    const DWORD r00 = (0 + 16 + 64 + 80 + 2) / 4;
    EXPECT_EQ((tex->texel(1, 0, 0) >> 16) & 0xFF, r00);
    tex->Release();
}

TEST_F(Textures, DdsUncompressedWithMipChain) {
    DdsHeader h;
    h.width = 4;
    h.height = 2;
    h.flags |= 0x20000;
    h.mipCount = 3;
    h.pfFlags = 0x41; // RGB with alpha
    h.bitCount = 32;
    h.rMask = 0x00FF0000;
    h.gMask = 0x0000FF00;
    h.bMask = 0x000000FF;
    h.aMask = 0xFF000000;
    std::vector<uint8_t> payload;
    auto put = [&](uint32_t v) { payload.insert(payload.end(), (uint8_t*)&v, (uint8_t*)&v + 4); };
    for (uint32_t i = 0; i < 8; ++i) put(0x80000000u | i * 0x00102030u);
    put(0xFF112233u); // 2x1
    put(0xFF445566u);
    put(0xFFABCDEFu); // 1x1
    auto* tex = load(dds(h, payload), nullptr, 0, D3DX_DEFAULT, D3DX_DEFAULT, D3DFMT_UNKNOWN, D3DX_FROM_FILE);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);
    EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(info.MipLevels, 3u);
    ASSERT_EQ(tex->GetLevelCount(), 3u);
    EXPECT_EQ(tex->texel(0, 3, 1), 0x80000000u | 7 * 0x00102030u);
    EXPECT_EQ(tex->texel(1, 1, 0), 0xFF445566u); // the file's own mips, not recomputed
    EXPECT_EQ(tex->texel(2, 0, 0), 0xFFABCDEFu);
    tex->Release();

    // 16-bit 565 without alpha: channels widen to 8 bits.
    DdsHeader h565 = h;
    h565.flags &= ~0x20000u;
    h565.width = h565.height = 1;
    h565.pfFlags = 0x40;
    h565.bitCount = 16;
    h565.rMask = 0xF800;
    h565.gMask = 0x07E0;
    h565.bMask = 0x001F;
    h565.aMask = 0;
    tex = load(dds(h565, {0x00, 0xF8})); // pure red
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_R5G6B5);
    EXPECT_EQ(tex->texel(0, 0, 0), 0xFFFF0000u);
    tex->Release();
}

TEST_F(Textures, DdsBlockCompressedFormats) {
    DdsHeader h;
    h.width = h.height = 4;
    h.pfFlags = 0x4;
    // DXT1: red and blue endpoints; rows use indices 0,1,2,3.
    h.fourCC = MAKEFOURCC('D', 'X', 'T', '1');
    const uint16_t red = 0xF800, blue = 0x001F;
    std::vector<uint8_t> block = {(uint8_t)(red & 0xFF), (uint8_t)(red >> 8), (uint8_t)(blue & 0xFF),
                                  (uint8_t)(blue >> 8), 0x00, 0x55, 0xAA, 0xFF};
    auto* tex = load(dds(h, block));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_DXT1);
    EXPECT_EQ(tex->texel(0, 2, 0), 0xFFFF0000u); // index 0: red
    EXPECT_EQ(tex->texel(0, 0, 1), 0xFF0000FFu); // index 1: blue
    EXPECT_EQ(tex->texel(0, 0, 2), 0xFFAA0055u); // 2/3 red + 1/3 blue
    EXPECT_EQ(tex->texel(0, 3, 3), 0xFF5500AAu);
    tex->Release();

    // DXT1 with c0 <= c1: index 3 is transparent black.
    uint32_t out[16];
    const uint8_t punch[8] = {(uint8_t)(blue & 0xFF), (uint8_t)(blue >> 8), (uint8_t)(red & 0xFF), (uint8_t)(red >> 8),
                              0xFF, 0xFF, 0xFF, 0xFF};
    d3dx::image::decodeDxtBlock(D3DFMT_DXT1, punch, out);
    EXPECT_EQ(out[0], 0u);

    // DXT3: explicit 4-bit alpha; DXT5: interpolated alpha.
    uint8_t dxt3[16] = {0x0F, 0xF0};
    std::memcpy(dxt3 + 8, block.data(), 8);
    d3dx::image::decodeDxtBlock(D3DFMT_DXT3, dxt3, out);
    EXPECT_EQ(out[0] >> 24, 0xFFu);
    EXPECT_EQ(out[1] >> 24, 0x00u);
    EXPECT_EQ(out[3] >> 24, 0xFFu);
    uint8_t dxt5[16] = {200, 100, 0x08, 0, 0, 0, 0, 0}; // texel 0: index 0, texel 1: index 1
    std::memcpy(dxt5 + 8, block.data(), 8);
    d3dx::image::decodeDxtBlock(D3DFMT_DXT5, dxt5, out);
    EXPECT_EQ(out[0] >> 24, 200u);
    EXPECT_EQ(out[1] >> 24, 100u);
    EXPECT_EQ(out[2] >> 24, 200u);
    h.fourCC = MAKEFOURCC('D', 'X', 'T', '5');
    tex = load(dds(h, std::vector<uint8_t>(dxt5, dxt5 + 16)));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(tex->texel(0, 1, 0) >> 24, 100u);
    tex->Release();
}

TEST_F(Textures, ColourKeyBecomesTransparentBlack) {
    std::vector<uint8_t> px = {255, 0, 255, 10, 20, 30, 40, 50, 60, 255, 0, 255}; // 2x2 RGB, two magenta
    px.resize(12);
    std::vector<uint8_t> rgb = {255, 0, 255, 10, 20, 30, 40, 50, 60, 255, 0, 255};
    auto* tex = load(writeImage("bmp", 2, 2, 3, rgb), nullptr, 0xFFFF00FFu);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
    EXPECT_EQ(tex->format, D3DFMT_A8R8G8B8); // keyed images need alpha
    EXPECT_EQ(tex->texel(0, 0, 0), 0x00000000u);
    EXPECT_EQ(tex->texel(0, 1, 0), 0xFF0A141Eu);
    EXPECT_EQ(tex->texel(0, 1, 1), 0x00000000u);
    tex->Release();
    // Without a key the same file is opaque.
    tex = load(writeImage("bmp", 2, 2, 3, rgb));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(tex->texel(0, 0, 0), 0xFFFF00FFu);
    tex->Release();
}

TEST_F(Textures, SizesFormatsAndLevelsAsRequested) {
    std::vector<uint8_t> rgb(3 * 2 * 3, 200);
    const std::string tga = writeImage("tga", 3, 2, 3, rgb);
    auto* tex = load(tga); // default: rounded up to powers of two
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_TGA);
    EXPECT_EQ(tex->levels[0].w, 4u);
    EXPECT_EQ(tex->levels[0].h, 2u);
    EXPECT_EQ(tex->texel(0, 3, 1), 0xFFC8C8C8u);
    tex->Release();
    tex = load(tga, nullptr, 0, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->levels[0].w, 3u);
    tex->Release();
    tex = load(tga, nullptr, 0, 16, 8, D3DFMT_R5G6B5, 1);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->levels[0].w, 16u);
    EXPECT_EQ(tex->GetLevelCount(), 1u);
    ASSERT_EQ(tex->format, D3DFMT_R5G6B5);
    uint16_t v;
    std::memcpy(&v, tex->levels[0].bytes.data(), 2);
    EXPECT_EQ(v, (uint16_t)(24 << 11 | 49 << 5 | 24)); // 200/255 of 31, 63, 31, rounded
    tex->Release();
}

TEST_F(Textures, CreateTextureDefaultsAndLimits) {
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device, 0, 0, 0, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, &t), D3D_OK);
    auto* tex = static_cast<testdev::Texture9*>(t);
    EXPECT_EQ(tex->levels[0].w, 256u);
    EXPECT_EQ(tex->GetLevelCount(), 9u);
    EXPECT_EQ(tex->format, D3DFMT_A8R8G8B8);
    t->Release();
    ASSERT_EQ(D3DXCreateTexture(device, 640, 480, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &t),
              D3D_OK);
    tex = static_cast<testdev::Texture9*>(t);
    EXPECT_EQ(tex->levels[0].w, 640u);
    EXPECT_EQ(tex->usage, (DWORD)D3DUSAGE_RENDERTARGET);
    EXPECT_EQ(tex->pool, D3DPOOL_DEFAULT);
    t->Release();
    EXPECT_EQ(D3DXCreateTexture(device, 8192, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3DERR_INVALIDCALL);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(D3DXCreateTexture(nullptr, 16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3DERR_INVALIDCALL);
}

TEST_F(Textures, BadFilesFailWithoutLargeAllocations) {
    HRESULT hr = D3D_OK;
    EXPECT_EQ(load("this is not an image at all", &hr), nullptr);
    EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
    EXPECT_EQ(load("GIF89a.......................", &hr), nullptr);
    EXPECT_EQ(hr, D3DXERR_INVALIDDATA);

    // A PNG header claiming 5000 x 5000: more texels than the largest
    // texture holds, refused before decoding.
    std::vector<uint8_t> px(4, 255);
    std::string png = writeImage("png", 1, 1, 4, px);
    const uint8_t big[8] = {0, 0, 0x13, 0x88, 0, 0, 0x13, 0x88};
    std::memcpy(png.data() + 16, big, 8);
    EXPECT_EQ(load(png, &hr), nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);

    // A tiny BMP claiming 4000 x 4000 pixels: refused before decoding.
    std::string bmp = writeImage("bmp", 1, 1, 3, {1, 2, 3});
    const int32_t side = 4000;
    std::memcpy(bmp.data() + 18, &side, 4);
    std::memcpy(bmp.data() + 22, &side, 4);
    EXPECT_EQ(load(bmp, &hr), nullptr);
    EXPECT_TRUE(FAILED(hr));

    // A DDS whose top level is cut short, and one with an absurd size.
    DdsHeader h;
    h.width = h.height = 64;
    h.pfFlags = 0x4;
    h.fourCC = MAKEFOURCC('D', 'X', 'T', '1');
    EXPECT_EQ(load(dds(h, std::vector<uint8_t>(100)), &hr), nullptr);
    EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
    h.width = h.height = 0x7FFFFFFF;
    EXPECT_EQ(load(dds(h, std::vector<uint8_t>(8)), &hr), nullptr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(device->texturesCreated, 0);
}

TEST_F(Textures, SurviveRandomMutations) {
    std::vector<uint8_t> px(8 * 8 * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = (uint8_t)(i * 7);
    DdsHeader h;
    h.width = h.height = 8;
    h.pfFlags = 0x4;
    h.fourCC = MAKEFOURCC('D', 'X', 'T', '5');
    const std::vector<std::string> bases = {writeImage("png", 8, 8, 4, px), writeImage("bmp", 8, 8, 4, px),
                                            writeImage("tga", 8, 8, 4, px), dds(h, std::vector<uint8_t>(64, 0x5A))};
    std::mt19937 rng(77);
    int loaded = 0;
    for (const std::string& base : bases)
        for (int round = 0; round < 400; ++round) {
            std::string s = base;
            for (int e = 1 + (int)(rng() % 4); e > 0; --e) {
                const size_t at = rng() % s.size();
                if (rng() % 3)
                    s[at] = (char)rng();
                else
                    s.erase(at, 1 + rng() % 8);
                if (s.empty()) s = base;
            }
            HRESULT hr;
            auto* tex = load(s, &hr);
            if (tex) {
                ++loaded;
                EXPECT_LE(tex->levels[0].w, device->maxTexture);
                tex->Release();
            }
        }
    EXPECT_GT(loaded, 50);
}

// ---------------------------------------------------------------------------
// Image files as other tools write them
// ---------------------------------------------------------------------------
namespace {

std::string be32(uint32_t v) {
    const char b[4] = {(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v};
    return std::string(b, 4);
}

std::string pngChunk(const char* type, const std::string& data) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), (uInt)data.size());
    return be32((uint32_t)data.size()) + type + data + be32((uint32_t)crc);
}

// A PNG of 8-bit samples with optional PLTE and tRNS chunks, the way image
// editors write grey, colour and palette pictures with a transparent colour.
std::string pngFile(uint32_t w, uint32_t h, int colorType, const std::vector<uint8_t>& samples,
                    const std::string& plte = "", const std::string& trns = "") {
    const int channels = colorType == 0 ? 1 : colorType == 2 ? 3 : colorType == 3 ? 1 : colorType == 4 ? 2 : 4;
    std::string raw;
    const size_t row = (size_t)w * channels;
    for (uint32_t y = 0; y < h && (y + 1) * row <= samples.size(); ++y) {
        raw += '\0'; // no filter
        raw.append(reinterpret_cast<const char*>(samples.data() + y * row), row);
    }
    std::string packed(compressBound((uLong)raw.size()), '\0');
    uLongf packedSize = (uLongf)packed.size();
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
              (uLong)raw.size(), 9);
    packed.resize(packedSize);
    std::string ihdr = be32(w) + be32(h);
    ihdr += (char)8;
    ihdr += (char)colorType;
    ihdr += std::string(3, '\0');
    std::string out = "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", ihdr);
    if (!plte.empty()) out += pngChunk("PLTE", plte);
    if (!trns.empty()) out += pngChunk("tRNS", trns);
    return out + pngChunk("IDAT", packed) + pngChunk("IEND", "");
}

// A run-length encoded bitmap (BI_RLE8 or BI_RLE4) as paint programs save it.
std::string bmpRle(int32_t w, int32_t h, uint16_t bits, const std::vector<uint32_t>& palette,
                   const std::vector<uint8_t>& stream) {
    std::string out = "BM";
    auto u32 = [&](uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t offBits = 14 + 40 + (uint32_t)palette.size() * 4;
    u32(offBits + (uint32_t)stream.size());
    u32(0);
    u32(offBits);
    u32(40);
    u32((uint32_t)w);
    u32((uint32_t)h);
    u16(1);
    u16(bits);
    u32(bits == 8 ? 1 : 2);
    u32((uint32_t)stream.size());
    u32(2835);
    u32(2835);
    u32((uint32_t)palette.size());
    u32(0);
    for (uint32_t c : palette) u32(c & 0xFFFFFF); // B, G, R, 0 in memory
    out.append(reinterpret_cast<const char*>(stream.data()), stream.size());
    return out;
}

// A DDS with the extended (DX10) header.
std::string ddsDx10(uint32_t w, uint32_t h, uint32_t dxgi, const std::vector<uint8_t>& payload, uint32_t misc = 0,
                    uint32_t dimension = 3) {
    DdsHeader hd;
    hd.width = w;
    hd.height = h;
    hd.pfFlags = 0x4;
    hd.fourCC = MAKEFOURCC('D', 'X', '1', '0');
    std::string out(reinterpret_cast<const char*>(&hd), sizeof hd);
    const uint32_t ext[5] = {dxgi, dimension, misc, 1, 0};
    out.append(reinterpret_cast<const char*>(ext), sizeof ext);
    out.append(reinterpret_cast<const char*>(payload.data()), payload.size());
    return out;
}

const std::vector<uint8_t> kRedBlueBlock = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x55, 0xAA, 0xFF}; // DXT1: rows 0-3 index 0-3

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(Textures, DdsWithTheExtendedHeader) {
    struct Case {
        uint32_t dxgi;
        D3DFORMAT info;
        std::vector<uint8_t> payload; // 4 x 4 for blocks, else 2 x 2
        uint32_t x;
        DWORD texel;
    };
    const std::vector<uint8_t> bc2Alpha = {0x0F, 0xF0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> bc3Alpha = {200, 100, 0x08, 0, 0, 0, 0, 0};
    auto fill = [](int n, std::vector<uint8_t> texel) {
        std::vector<uint8_t> out;
        for (int i = 0; i < n; ++i) out = out + texel;
        return out;
    };
    const Case cases[] = {
        {71, D3DFMT_DXT1, kRedBlueBlock, 2, 0xFFFF0000u},             // BC1_UNORM
        {72, D3DFMT_DXT1, kRedBlueBlock, 2, 0xFFFF0000u},             // BC1_UNORM_SRGB
        {74, D3DFMT_DXT3, bc2Alpha + kRedBlueBlock, 1, 0x00FF0000u},  // BC2_UNORM: texel 1 has alpha 0
        {75, D3DFMT_DXT3, bc2Alpha + kRedBlueBlock, 3, 0xFFFF0000u},  // BC2_UNORM_SRGB
        {77, D3DFMT_DXT5, bc3Alpha + kRedBlueBlock, 1, 0x64FF0000u},  // BC3_UNORM: alpha 100
        {78, D3DFMT_DXT5, bc3Alpha + kRedBlueBlock, 0, 0xC8FF0000u},  // BC3_UNORM_SRGB: alpha 200
        {28, D3DFMT_A8B8G8R8, fill(4, {0x10, 0x20, 0x30, 0x40}), 1, 0x40102030u}, // R8G8B8A8_UNORM
        {29, D3DFMT_A8B8G8R8, fill(4, {0x10, 0x20, 0x30, 0x40}), 1, 0x40102030u}, // R8G8B8A8_UNORM_SRGB
        {87, D3DFMT_A8R8G8B8, fill(4, {0x30, 0x20, 0x10, 0x40}), 1, 0x40102030u}, // B8G8R8A8_UNORM
        {91, D3DFMT_A8R8G8B8, fill(4, {0x30, 0x20, 0x10, 0x40}), 1, 0x40102030u}, // B8G8R8A8_UNORM_SRGB
        {61, D3DFMT_L8, fill(4, {0x80}), 1, 0xFF808080u},                         // R8_UNORM: grey
        {49, D3DFMT_A8L8, fill(4, {0x80, 0x40}), 1, 0x40808080u},                 // R8G8_UNORM: grey and alpha
        {65, D3DFMT_A8, fill(4, {0x40}), 1, 0x40000000u},                         // A8_UNORM
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "DXGI format " << c.dxgi);
        const bool block = c.info == D3DFMT_DXT1 || c.info == D3DFMT_DXT3 || c.info == D3DFMT_DXT5;
        auto* tex = load(ddsDx10(block ? 4 : 2, block ? 4 : 2, c.dxgi, c.payload));
        ASSERT_NE(tex, nullptr);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);
        EXPECT_EQ(info.Format, c.info);
        EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
        EXPECT_EQ(tex->texel(0, c.x, 0), c.texel);
        tex->Release();
    }
    // Formats without a Direct3D 9 counterpart, and a cut extended header.
    HRESULT hr = D3D_OK;
    EXPECT_EQ(load(ddsDx10(2, 2, 2 /* R32G32B32A32_FLOAT */, std::vector<uint8_t>(64)), &hr), nullptr);
    EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
    EXPECT_EQ(load(ddsDx10(2, 2, 28, {}).substr(0, 140), &hr), nullptr);
    EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
}

TEST_F(Textures, EightBitDdsWithOneMaskIsLuminance) {
    DdsHeader h;
    h.width = 2;
    h.height = 1;
    h.bitCount = 8;
    h.rMask = 0xFF;
    const std::vector<uint8_t> grey = {0x20, 0xE0};
    for (uint32_t flags : {0x40u /* RGB, as some converters write grey */, 0x20000u /* LUMINANCE */}) {
        h.pfFlags = flags;
        auto* tex = load(dds(h, grey));
        ASSERT_NE(tex, nullptr) << flags;
        EXPECT_EQ(info.Format, D3DFMT_L8) << flags;
        EXPECT_EQ(tex->texel(0, 0, 0), 0xFF202020u);
        EXPECT_EQ(tex->texel(0, 1, 0), 0xFFE0E0E0u);
        tex->Release();
    }
    // Three masks in one byte are still R3G3B2.
    h.pfFlags = 0x40;
    h.rMask = 0xE0;
    h.gMask = 0x1C;
    h.bMask = 0x03;
    auto* tex = load(dds(h, {0xE0, 0x03}));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_R3G3B2);
    EXPECT_EQ(tex->texel(0, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(tex->texel(0, 1, 0), 0xFF0000FFu);
    tex->Release();
    // 16-bit luminance without alpha, and 4-bit luminance with 4-bit alpha.
    h.pfFlags = 0x20000;
    h.bitCount = 16;
    h.rMask = 0xFFFF;
    h.gMask = h.bMask = 0;
    tex = load(dds(h, {0xFF, 0xFF, 0x00, 0x80}));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_L16);
    EXPECT_EQ(tex->texel(0, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(tex->texel(0, 1, 0), 0xFF808080u);
    tex->Release();
    h.pfFlags = 0x20001;
    h.bitCount = 8;
    h.rMask = 0x0F;
    h.aMask = 0xF0;
    tex = load(dds(h, {0xF0, 0x0F}));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_A4L4);
    EXPECT_EQ(tex->texel(0, 0, 0), 0xFF000000u);
    EXPECT_EQ(tex->texel(0, 1, 0), 0x00FFFFFFu);
    tex->Release();
}

TEST_F(Textures, CubeMapsAndVolumesGiveTheirFirstFaceOrSlice) {
    // Six faces of 2 x 2 with a 1 x 1 mip each, every face its own colour.
    DdsHeader h;
    h.width = h.height = 2;
    h.flags |= 0x20000;
    h.mipCount = 2;
    h.pfFlags = 0x41;
    h.bitCount = 32;
    h.rMask = 0xFF0000;
    h.gMask = 0xFF00;
    h.bMask = 0xFF;
    h.aMask = 0xFF000000;
    h.caps = 0x401008;
    h.caps2 = 0x200 | 0xFC00;
    std::vector<uint8_t> faces;
    auto put = [&](uint32_t v) { faces.insert(faces.end(), (uint8_t*)&v, (uint8_t*)&v + 4); };
    for (uint32_t f = 0; f < 6; ++f) {
        for (int i = 0; i < 4; ++i) put(0xFF000000u | (f + 1) << 20);
        put(0xFF0000FFu | (f + 1) << 8);
    }
    const std::string cube = dds(h, faces);

    // Through files on disk, as D3DXCreateTextureFromFile reads them.
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tw_cube_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path file = dir / "sky cube.dds";
    std::ofstream(file, std::ios::binary).write(cube.data(), (std::streamsize)cube.size());
    D3DXIMAGE_INFO fileInfo{};
    ASSERT_EQ(D3DXGetImageInfoFromFile(file.wstring().c_str(), &fileInfo), D3D_OK);
    EXPECT_EQ(fileInfo.ResourceType, D3DRTYPE_CUBETEXTURE);
    EXPECT_EQ(fileInfo.Width, 2u);
    EXPECT_EQ(fileInfo.MipLevels, 2u);
    EXPECT_EQ(fileInfo.Format, D3DFMT_A8R8G8B8);
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFile(device, file.wstring().c_str(), &t), D3D_OK);
    auto* tex = static_cast<testdev::Texture9*>(t);
    ASSERT_EQ(tex->GetLevelCount(), 2u);
    EXPECT_EQ(tex->texel(0, 1, 1), 0xFF100000u); // the positive-X face
    EXPECT_EQ(tex->texel(1, 0, 0), 0xFF0001FFu); // and its own mip level
    t->Release();
    EXPECT_EQ(D3DXCreateTextureFromFile(device, (dir / "missing.dds").wstring().c_str(), &t), D3DXERR_INVALIDDATA);
    EXPECT_EQ(t, nullptr);
    std::filesystem::remove_all(dir);

    // The extended header marks cube maps with a flag.
    const std::vector<uint8_t> blue = {0x1F, 0x00, 0x1F, 0x00, 0, 0, 0, 0};
    tex = load(ddsDx10(4, 4, 71, kRedBlueBlock + blue + blue + blue + blue + blue, 0x4));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_CUBETEXTURE);
    EXPECT_EQ(tex->texel(0, 0, 0), 0xFFFF0000u);
    tex->Release();

    // A volume of two 2 x 2 slices gives the first slice.
    DdsHeader v;
    v.width = v.height = 2;
    v.depth = 2;
    v.flags |= 0x800000;
    v.pfFlags = 0x20000;
    v.bitCount = 8;
    v.rMask = 0xFF;
    v.caps2 = 0x200000;
    tex = load(dds(v, {10, 20, 30, 40, 50, 60, 70, 80}));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_VOLUMETEXTURE);
    EXPECT_EQ(info.Depth, 2u);
    EXPECT_EQ(tex->texel(0, 1, 1), 0xFF282828u);
    tex->Release();
}

TEST_F(Textures, PngTransparencyIsKept) {
    // Grey with a transparent grey level (tRNS), as GIMP writes it.
    auto* tex = load(pngFile(2, 2, 0, {0, 128, 255, 128}, "", std::string("\0\x80", 2)));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_A8L8);
    EXPECT_EQ(tex->format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(tex->texel(0, 0, 0), 0xFF000000u);
    EXPECT_EQ(tex->texel(0, 1, 0) >> 24, 0u);
    EXPECT_EQ(tex->texel(0, 0, 1), 0xFFFFFFFFu);
    tex->Release();

    // Colour with a transparent colour.
    tex = load(pngFile(2, 1, 2, {255, 0, 255, 10, 20, 30}, "", std::string("\0\xFF\0\0\0\xFF", 6)));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(tex->texel(0, 0, 0) >> 24, 0u);
    EXPECT_EQ(tex->texel(0, 1, 0), 0xFF0A141Eu);
    tex->Release();

    // A palette with per-entry alpha.
    tex = load(pngFile(2, 1, 3, {0, 1}, std::string("\xFF\0\0\0\0\xFF", 6), std::string("\x40", 1)));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(tex->texel(0, 0, 0), 0x40FF0000u);
    EXPECT_EQ(tex->texel(0, 1, 0), 0xFF0000FFu);
    tex->Release();

    // Grey with an alpha channel.
    tex = load(pngFile(2, 1, 4, {100, 0, 200, 255}));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_A8L8);
    EXPECT_EQ(tex->texel(0, 0, 0), 0x00646464u);
    EXPECT_EQ(tex->texel(0, 1, 0), 0xFFC8C8C8u);
    tex->Release();

    // Plain grey stays opaque.
    tex = load(pngFile(2, 1, 0, {100, 200}));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Format, D3DFMT_L8);
    EXPECT_EQ(tex->format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(tex->texel(0, 0, 0), 0xFF646464u);
    tex->Release();
}

TEST_F(Textures, RunLengthEncodedBitmaps) {
    const std::vector<uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    // Bottom line: a run of four; then four literal pixels (padded); then a
    // move right by two and a run of two; then the end of the bitmap.
    const std::vector<uint8_t> rle8 = {4, 1, 0, 0, 0, 3, 2, 3, 2, 0, 1, 0, 0, 0, 0, 2, 2, 0, 2, 3, 0, 1};
    auto* tex = load(bmpRle(4, 3, 8, palette, rle8), nullptr, 0, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
    EXPECT_EQ(info.Width, 4u);
    EXPECT_EQ(info.Height, 3u);
    const DWORD k = 0xFF000000u, r = 0xFFFF0000u, g = 0xFF00FF00u, b = 0xFF0000FFu;
    const DWORD want8[3][4] = {{k, k, b, b}, {g, b, g, k}, {r, r, r, r}};
    for (UINT y = 0; y < 3; ++y)
        for (UINT x = 0; x < 4; ++x) EXPECT_EQ(tex->texel(0, x, y), want8[y][x]) << x << "," << y;
    tex->Release();

    // RLE4: a run alternating two nibbles, then five literal nibbles.
    const std::vector<uint8_t> rle4 = {5, 0x12, 0, 0, 0, 5, 0x32, 0x10, 0x30, 0, 0, 1};
    tex = load(bmpRle(5, 2, 4, palette, rle4), nullptr, 0, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2);
    ASSERT_NE(tex, nullptr);
    const DWORD want4[2][5] = {{b, g, r, k, b}, {r, g, r, g, r}};
    for (UINT y = 0; y < 2; ++y)
        for (UINT x = 0; x < 5; ++x) EXPECT_EQ(tex->texel(0, x, y), want4[y][x]) << x << "," << y;
    tex->Release();

    // Damaged streams: cut short, runs past the row end, moves off the image.
    for (const std::vector<uint8_t>& bad : {std::vector<uint8_t>{4, 1, 0}, std::vector<uint8_t>{200, 1, 0, 0, 9, 2},
                                            std::vector<uint8_t>{0, 2, 250, 250, 3, 3, 0, 5, 1, 2}}) {
        tex = load(bmpRle(4, 3, 8, palette, bad));
        ASSERT_NE(tex, nullptr);
        EXPECT_EQ(tex->levels[0].w, 4u);
        tex->Release();
    }
}

TEST_F(Textures, DamagedJpegDecodesAsFarAsTheDataGoes) {
    const int w = 64, h = 64;
    std::vector<uint8_t> rgb((size_t)w * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgb[((size_t)y * w + x) * 3];
            p[0] = (uint8_t)(x * 4);
            p[1] = (uint8_t)(y * 4);
            p[2] = (uint8_t)((x ^ y) * 4);
        }
    std::string jpg;
    stbi_write_jpg_to_func(appendBytes, &jpg, w, h, 3, rgb.data(), 95);
    const size_t scan = jpg.find("\xFF\xDA");
    ASSERT_NE(scan, std::string::npos);
    // A byte lost late in the coded data, where stb's decoder gives up.
    std::string damaged;
    for (size_t at = jpg.size() - 40; at > scan + 200 && damaged.empty(); at -= 7) {
        std::string cut = jpg;
        cut.erase(at, 1);
        int cw, ch, cc;
        stbi_uc* px = stbi_load_from_memory((const stbi_uc*)cut.data(), (int)cut.size(), &cw, &ch, &cc, 4);
        if (px) stbi_image_free(px);
        else damaged = cut;
    }
    ASSERT_FALSE(damaged.empty()) << "no damage that stops the plain decoder";

    auto* whole = load(jpg);
    ASSERT_NE(whole, nullptr);
    HRESULT hr = E_FAIL;
    auto* tex = load(damaged, &hr);
    ASSERT_EQ(hr, D3D_OK);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_JPG);
    EXPECT_EQ(tex->levels[0].w, 64u);
    // The first rows, coded before the damage, match the intact file.
    for (UINT y = 0; y < 8; ++y)
        for (UINT x = 0; x < 64; x += 5) {
            const DWORD a = whole->texel(0, x, y), c = tex->texel(0, x, y);
            for (int s = 0; s < 24; s += 8) EXPECT_NEAR((int)(a >> s & 0xFF), (int)(c >> s & 0xFF), 2);
        }
    whole->Release();
    tex->Release();

    // Damage in the headers is a clear refusal.
    std::string badHeader = jpg;
    badHeader.erase(4, 30);
    EXPECT_EQ(load(badHeader, &hr), nullptr);
    EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
}

TEST_F(Textures, ResamplingAndSizeRules) {
    using d3dx::image::Image;
    Image line;
    line.width = 2;
    line.height = 1;
    line.texels = {0xFF000000u, 0xFFFFFFFFu};
    // Growing is linear between texel centres, clamped at the edges.
    const Image wide = d3dx::image::resize(line, 4, 1);
    ASSERT_EQ(wide.texels.size(), 4u);
    EXPECT_EQ(wide.texels[0] & 0xFF, 0u);
    EXPECT_EQ(wide.texels[1] & 0xFF, 64u);
    EXPECT_EQ(wide.texels[2] & 0xFF, 191u);
    EXPECT_EQ(wide.texels[3] & 0xFF, 255u);
    EXPECT_EQ(wide.texels[1] >> 24, 255u);
    // Shrinking averages the covered area: 3 -> 2 weighs the middle texel half.
    Image three;
    three.width = 3;
    three.height = 3;
    three.texels.assign(9, 0);
    for (int i = 0; i < 9; ++i) three.texels[i] = (uint32_t)((i % 3) * 90) << 16;
    const Image two = d3dx::image::resize(three, 2, 2);
    EXPECT_EQ(two.texels[0] >> 16 & 0xFF, 30u); // (0 * 1 + 90 * 0.5) / 1.5
    EXPECT_EQ(two.texels[1] >> 16 & 0xFF, 150u); // (90 * 0.5 + 180 * 1) / 1.5
    // A flat picture stays flat at any size (odd widths included).
    Image flat;
    flat.width = 37;
    flat.height = 11;
    flat.texels.assign(37 * 11, 0x80402010u);
    for (auto [w, h] : {std::pair{64u, 16u}, std::pair{13u, 5u}, std::pair{1u, 1u}, std::pair{100u, 3u}}) {
        const Image out = d3dx::image::resize(flat, w, h);
        for (uint32_t t : out.texels) ASSERT_EQ(t, 0x80402010u) << w << "x" << h;
    }
    // Odd sizes halve to the floor.
    const Image half = d3dx::image::halve(flat);
    EXPECT_EQ(half.width, 18u);
    EXPECT_EQ(half.height, 5u);

    // D3DX_DEFAULT rounds up to powers of two, D3DX_DEFAULT_NONPOW2 keeps the
    // file's size, unless the device only takes powers of two.
    const std::string png = writeImage("png", 3, 5, 3, std::vector<uint8_t>(45, 99));
    auto* tex = load(png);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->levels[0].w, 4u);
    EXPECT_EQ(tex->levels[0].h, 8u);
    tex->Release();
    tex = load(png, nullptr, 0, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->levels[0].w, 3u);
    EXPECT_EQ(tex->levels[0].h, 5u);
    tex->Release();
    device->textureCaps = D3DPTEXTURECAPS_POW2;
    tex = load(png, nullptr, 0, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->levels[0].w, 4u);
    tex->Release();
}

TEST_F(Textures, ImagesBeyondTheDeviceLimits) {
    // Wider than the largest texture: scaled down to it, as D3DX does.
    device->maxTexture = 64;
    std::vector<uint8_t> px(128 * 4 * 3);
    for (size_t i = 0; i < px.size(); i += 3) px[i] = (uint8_t)((i / 3) % 2 ? 200 : 100); // red stripes
    auto* tex = load(writeImage("bmp", 128, 4, 3, px));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(info.Width, 128u);
    EXPECT_EQ(tex->levels[0].w, 64u);
    EXPECT_EQ(tex->levels[0].h, 4u);
    EXPECT_EQ(tex->texel(0, 10, 2), 0xFF960000u); // each pair of stripes averaged
    tex->Release();

    // More texels than the largest texture holds: refused from the header
    // alone, before anything is decoded or created.
    HRESULT hr = D3D_OK;
    const std::string bomb = pngFile(16384, 16384, 0, std::vector<uint8_t>(16384, 0));
    EXPECT_EQ(load(bomb, &hr), nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    D3DXIMAGE_INFO described{};
    ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(bomb.data(), (UINT)bomb.size(), &described), D3D_OK);
    EXPECT_EQ(described.Width, 16384u);
    DdsHeader h;
    h.width = h.height = 1024;
    h.pfFlags = 0x4;
    h.fourCC = MAKEFOURCC('D', 'X', 'T', '1');
    EXPECT_EQ(load(dds(h, std::vector<uint8_t>(1024 * 1024 / 2)), &hr), nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(load(bmpRle(4096, 4096, 8, {0}, {0, 1}), &hr), nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(device->texturesCreated, 1);
}

TEST_F(Textures, BlockCompressedFilesWithTheirMipsKeepTheirFormat) {
    device->blockFormats = true;
    DdsHeader h;
    h.width = h.height = 8;
    h.flags |= 0x20000;
    h.mipCount = 4;
    h.pfFlags = 0x4;
    h.fourCC = MAKEFOURCC('D', 'X', 'T', '1');
    std::vector<uint8_t> blocks;
    for (int i = 0; i < 4 + 1 + 1 + 1; ++i) blocks = blocks + kRedBlueBlock;
    blocks[8 * 4] = 0x55; // the 4 x 4 level differs, so a copy is told from a recomputation
    auto* tex = load(dds(h, blocks));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->format, D3DFMT_DXT1);
    ASSERT_EQ(tex->GetLevelCount(), 4u);
    EXPECT_EQ(tex->levels[0].bytes, std::vector<unsigned char>(blocks.begin(), blocks.begin() + 32));
    EXPECT_EQ(tex->levels[1].bytes, std::vector<unsigned char>(blocks.begin() + 32, blocks.begin() + 40));
    tex->Release();
    // Without the mip levels, with a colour key or another format asked for,
    // the texels are decoded.
    h.mipCount = 1;
    tex = load(dds(h, blocks));
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(tex->GetLevelCount(), 4u);
    tex->Release();
    h.mipCount = 4;
    tex = load(dds(h, blocks), nullptr, 0xFFFF0000u);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(tex->texel(0, 0, 0), 0u); // the red key became transparent
    tex->Release();
}

// Seeded random damage to every kind of image file the loaders read.
TEST_F(Textures, FuzzEveryVariantNeverCrashes) {
    std::vector<uint8_t> px(16 * 16 * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = (uint8_t)(i * 13);
    std::string jpg;
    stbi_write_jpg_to_func(appendBytes, &jpg, 16, 16, 3, px.data(), 80);
    DdsHeader cube;
    cube.width = cube.height = 4;
    cube.pfFlags = 0x4;
    cube.fourCC = MAKEFOURCC('D', 'X', 'T', '5');
    cube.caps2 = 0xFE00;
    DdsHeader lum;
    lum.width = lum.height = 8;
    lum.pfFlags = 0x20001;
    lum.bitCount = 16;
    lum.rMask = 0xFF;
    lum.aMask = 0xFF00;
    const std::vector<std::string> bases = {
        jpg,
        ddsDx10(8, 8, 77, std::vector<uint8_t>(64, 0x3C)),
        ddsDx10(4, 4, 28, std::vector<uint8_t>(64, 0x77)),
        dds(cube, std::vector<uint8_t>(96, 0xA5)),
        dds(lum, std::vector<uint8_t>(128, 0x42)),
        bmpRle(8, 8, 8, {0x102030, 0x405060}, {8, 1, 0, 0, 0, 4, 1, 0, 1, 0, 0, 2, 1, 1, 2, 1, 0, 1}),
        bmpRle(8, 4, 4, {0x102030, 0x405060}, {8, 0x10, 0, 0, 0, 6, 0x10, 0x10, 0x10, 0, 0, 1}),
        pngFile(8, 8, 0, std::vector<uint8_t>(64, 7), "", std::string("\0\x07", 2)),
        pngFile(4, 4, 3, std::vector<uint8_t>(16, 1), std::string(6, '\x33'), std::string("\x10", 1)),
    };
    std::mt19937 rng(testdev::fuzzSeed(4242));
    int loaded = 0;
    const int rounds = testdev::fuzzRounds(300);
    for (const std::string& base : bases)
        for (int round = 0; round < rounds; ++round) {
            std::string s = base;
            for (int e = 1 + (int)(rng() % 4); e > 0; --e) {
                const size_t at = rng() % s.size();
                switch (rng() % 3) {
                case 0: s[at] = (char)rng(); break;
                case 1: s.erase(at, 1 + rng() % 8); break;
                default: s.insert(at, std::string(1 + rng() % 4, (char)rng())); break;
                }
                if (s.empty()) s = base;
            }
            HRESULT hr;
            auto* tex = load(s, &hr);
            if (tex) {
                ++loaded;
                EXPECT_LE(tex->levels[0].w, device->maxTexture);
                tex->Release();
            }
            D3DXIMAGE_INFO probe{};
            D3DXGetImageInfoFromFileInMemory(s.data(), (UINT)s.size(), &probe);
        }
    EXPECT_GT(loaded, rounds); // small damage often leaves a loadable picture: both paths ran
}
