#include "fake_device.h"
#include "port/d3dx9/d3dx9tex.h"
#include "port/d3dx9/image.h"

#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

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

    // A PNG header claiming 5000 x 5000 (over the device maximum).
    std::vector<uint8_t> px(4, 255);
    std::string png = writeImage("png", 1, 1, 4, px);
    const uint8_t big[8] = {0, 0, 0x13, 0x88, 0, 0, 0x13, 0x88};
    std::memcpy(png.data() + 16, big, 8);
    EXPECT_EQ(load(png, &hr), nullptr);
    EXPECT_EQ(hr, D3DERR_INVALIDCALL);

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
