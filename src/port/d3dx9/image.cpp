#include "port/d3dx9/image.h"

#include <stb/stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace d3dx::image {

namespace {

bool startsWith(const uint8_t* p, size_t size, const char* magic, size_t n) {
    return size >= n && std::memcmp(p, magic, n) == 0;
}

// ---------------------------------------------------------------------------
// DDS
// ---------------------------------------------------------------------------
constexpr uint32_t DDSD_MIPMAPCOUNT = 0x20000;
constexpr uint32_t DDPF_ALPHAPIXELS = 0x1;
constexpr uint32_t DDPF_ALPHA = 0x2;
constexpr uint32_t DDPF_FOURCC = 0x4;
constexpr uint32_t DDPF_RGB = 0x40;
constexpr uint32_t DDPF_LUMINANCE = 0x20000;
constexpr uint32_t DDSCAPS2_CUBEMAP = 0x200;
constexpr uint32_t DDSCAPS2_VOLUME = 0x200000;

struct DdsHeader {
    uint32_t size, flags, height, width, pitch, depth, mipCount;
    uint32_t reserved1[11];
    uint32_t pfSize, pfFlags, fourCC, bitCount, rMask, gMask, bMask, aMask;
    uint32_t caps, caps2, caps3, caps4, reserved2;
};
static_assert(sizeof(DdsHeader) == 124);

struct DdsLayout {
    DdsHeader h;
    D3DFORMAT format = D3DFMT_UNKNOWN; // as D3DX reports it
    bool block = false;                // DXT
    UINT blockBytes = 0;               // 8 or 16
    UINT bytesPerPixel = 0;            // uncompressed
    UINT levels = 1;
};

size_t levelBytes(const DdsLayout& l, UINT w, UINT h) {
    if (l.block) return (size_t)((w + 3) / 4) * ((h + 3) / 4) * l.blockBytes;
    return (size_t)w * h * l.bytesPerPixel;
}

HRESULT ddsLayout(const uint8_t* p, size_t size, DdsLayout& l) {
    if (size < 4 + sizeof(DdsHeader)) return D3DXERR_INVALIDDATA;
    std::memcpy(&l.h, p + 4, sizeof l.h);
    const DdsHeader& h = l.h;
    if (h.size != 124 || h.width == 0 || h.height == 0) return D3DXERR_INVALIDDATA;
    if (h.caps2 & (DDSCAPS2_CUBEMAP | DDSCAPS2_VOLUME)) return D3DXERR_INVALIDDATA; // not a 2D texture
    if (h.pfFlags & DDPF_FOURCC) {
        switch (h.fourCC) {
        case MAKEFOURCC('D', 'X', 'T', '1'): l.format = D3DFMT_DXT1; l.blockBytes = 8; break;
        case MAKEFOURCC('D', 'X', 'T', '2'): l.format = D3DFMT_DXT2; l.blockBytes = 16; break;
        case MAKEFOURCC('D', 'X', 'T', '3'): l.format = D3DFMT_DXT3; l.blockBytes = 16; break;
        case MAKEFOURCC('D', 'X', 'T', '4'): l.format = D3DFMT_DXT4; l.blockBytes = 16; break;
        case MAKEFOURCC('D', 'X', 'T', '5'): l.format = D3DFMT_DXT5; l.blockBytes = 16; break;
        default: return D3DXERR_INVALIDDATA;
        }
        l.block = true;
    } else if (h.pfFlags & (DDPF_RGB | DDPF_LUMINANCE | DDPF_ALPHA)) {
        if (h.bitCount != 8 && h.bitCount != 16 && h.bitCount != 24 && h.bitCount != 32) return D3DXERR_INVALIDDATA;
        l.bytesPerPixel = h.bitCount / 8;
        const bool alpha = (h.pfFlags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) && h.aMask;
        if (h.pfFlags & DDPF_RGB) {
            if (h.bitCount == 32) l.format = alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
            else if (h.bitCount == 24) l.format = D3DFMT_R8G8B8;
            else if (h.bitCount == 16 && h.gMask == 0x07E0) l.format = D3DFMT_R5G6B5;
            else if (h.bitCount == 16 && h.aMask == 0xF000) l.format = D3DFMT_A4R4G4B4;
            else if (h.bitCount == 16) l.format = alpha ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;
            else l.format = D3DFMT_R3G3B2;
        } else if (h.pfFlags & DDPF_LUMINANCE) {
            l.format = h.bitCount == 16 ? D3DFMT_A8L8 : D3DFMT_L8;
        } else {
            l.format = D3DFMT_A8;
        }
    } else {
        return D3DXERR_INVALIDDATA;
    }
    l.levels = (h.flags & DDSD_MIPMAPCOUNT) && h.mipCount > 1 ? std::min<uint32_t>(h.mipCount, 32) : 1;
    return D3D_OK;
}

// Scales a masked channel to 8 bits; a zero mask gives the fallback value.
inline uint32_t channel(uint32_t v, uint32_t mask, uint32_t fallback) {
    if (!mask) return fallback;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const uint32_t bits = mask >> shift;
    const uint32_t raw = (v & mask) >> shift;
    return (uint32_t)((raw * 255u + bits / 2) / bits);
}

uint32_t rgb565(uint16_t c) {
    const uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return ((r << 3) | (r >> 2)) << 16 | ((g << 2) | (g >> 4)) << 8 | ((b << 3) | (b >> 2));
}

uint32_t mix(uint32_t a, uint32_t b, int wa, int wb, int div) {
    uint32_t out = 0;
    for (int s = 0; s < 24; s += 8) {
        const int ca = (a >> s) & 0xFF, cb = (b >> s) & 0xFF;
        out |= (uint32_t)((ca * wa + cb * wb + div / 2) / div) << s;
    }
    return out;
}

void colorBlock(const uint8_t* p, bool allowTransparent, uint32_t out[16]) {
    uint16_t c0, c1;
    std::memcpy(&c0, p, 2);
    std::memcpy(&c1, p + 2, 2);
    uint32_t pal[4];
    pal[0] = rgb565(c0) | 0xFF000000u;
    pal[1] = rgb565(c1) | 0xFF000000u;
    if (c0 > c1 || !allowTransparent) {
        pal[2] = mix(pal[0], pal[1], 2, 1, 3) | 0xFF000000u;
        pal[3] = mix(pal[0], pal[1], 1, 2, 3) | 0xFF000000u;
    } else {
        pal[2] = mix(pal[0], pal[1], 1, 1, 2) | 0xFF000000u;
        pal[3] = 0; // transparent black
    }
    uint32_t bits;
    std::memcpy(&bits, p + 4, 4);
    for (int i = 0; i < 16; ++i) out[i] = pal[(bits >> (2 * i)) & 3];
}

HRESULT decodeDds(const uint8_t* p, size_t size, UINT maxSize, Decoded& out) {
    DdsLayout l;
    HRESULT hr = ddsLayout(p, size, l);
    if (FAILED(hr)) return hr;
    if (l.h.width > maxSize || l.h.height > maxSize) return D3DERR_INVALIDCALL;
    const uint8_t* data = p + 4 + sizeof(DdsHeader);
    size_t left = size - 4 - sizeof(DdsHeader);
    // The top level must be complete; a truncated mip tail is dropped.
    if (levelBytes(l, l.h.width, l.h.height) > left) return D3DXERR_INVALIDDATA;
    UINT w = l.h.width, h = l.h.height;
    for (UINT level = 0; level < l.levels; ++level) {
        const size_t bytes = levelBytes(l, w, h);
        if (bytes > left) break;
        Image img;
        img.width = w;
        img.height = h;
        img.texels.resize((size_t)w * h);
        if (l.block) {
            const UINT bw = (w + 3) / 4, bh = (h + 3) / 4;
            for (UINT by = 0; by < bh; ++by)
                for (UINT bx = 0; bx < bw; ++bx) {
                    uint32_t block[16];
                    decodeDxtBlock(l.format, data + ((size_t)by * bw + bx) * l.blockBytes, block);
                    for (UINT y = 0; y < 4; ++y)
                        for (UINT x = 0; x < 4; ++x) {
                            const UINT px = bx * 4 + x, py = by * 4 + y;
                            if (px < w && py < h) img.texels[(size_t)py * w + px] = block[y * 4 + x];
                        }
                }
        } else {
            const DdsHeader& hd = l.h;
            const bool lum = hd.pfFlags & DDPF_LUMINANCE;
            const bool alphaOnly = !(hd.pfFlags & (DDPF_RGB | DDPF_LUMINANCE));
            const bool hasAlpha = (hd.pfFlags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) && hd.aMask;
            for (size_t i = 0; i < img.texels.size(); ++i) {
                uint32_t v = 0;
                std::memcpy(&v, data + i * l.bytesPerPixel, l.bytesPerPixel);
                const uint32_t a = hasAlpha ? channel(v, hd.aMask, 255) : 255;
                uint32_t r, g, b;
                if (alphaOnly) {
                    r = g = b = 0;
                } else if (lum) {
                    r = g = b = channel(v, hd.rMask ? hd.rMask : 0xFF, 0);
                } else {
                    r = channel(v, hd.rMask, 0);
                    g = channel(v, hd.gMask, 0);
                    b = channel(v, hd.bMask, 0);
                }
                img.texels[i] = a << 24 | r << 16 | g << 8 | b;
            }
        }
        out.levels.push_back(std::move(img));
        data += bytes;
        left -= bytes;
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    return D3D_OK;
}

// stb reads these; D3DX knows only BMP, JPG, PNG and TGA of them.
bool foreignMagic(const uint8_t* p, size_t size) {
    return startsWith(p, size, "GIF8", 4) || startsWith(p, size, "8BPS", 4) || startsWith(p, size, "#?", 2) ||
           startsWith(p, size, "\x53\x80\xF6\x34", 4) || (size >= 2 && p[0] == 'P' && p[1] >= '1' && p[1] <= '7');
}

D3DXIMAGE_FILEFORMAT fileFormat(const uint8_t* p, size_t size) {
    if (startsWith(p, size, "BM", 2)) return D3DXIFF_BMP;
    if (startsWith(p, size, "\x89PNG", 4)) return D3DXIFF_PNG;
    if (startsWith(p, size, "\xFF\xD8", 2)) return D3DXIFF_JPG;
    return D3DXIFF_TGA;
}

} // namespace

void decodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint32_t out[16]) {
    if (format == D3DFMT_DXT1) {
        colorBlock(block, true, out);
        return;
    }
    colorBlock(block + 8, false, out);
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        for (int i = 0; i < 16; ++i) {
            const uint32_t a4 = (block[i / 2] >> ((i & 1) * 4)) & 0xF;
            out[i] = (out[i] & 0x00FFFFFFu) | (a4 * 17) << 24;
        }
        return;
    }
    const uint32_t a0 = block[0], a1 = block[1];
    uint32_t pal[8] = {a0, a1};
    if (a0 > a1) {
        for (int i = 1; i <= 6; ++i) pal[i + 1] = ((7 - i) * a0 + i * a1 + 3) / 7;
    } else {
        for (int i = 1; i <= 4; ++i) pal[i + 1] = ((5 - i) * a0 + i * a1 + 2) / 5;
        pal[6] = 0;
        pal[7] = 255;
    }
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= (uint64_t)block[2 + i] << (8 * i);
    for (int i = 0; i < 16; ++i) out[i] = (out[i] & 0x00FFFFFFu) | pal[(bits >> (3 * i)) & 7] << 24;
}

HRESULT probe(const void* data, size_t size, D3DXIMAGE_INFO& info) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    info = D3DXIMAGE_INFO{};
    info.Depth = 1;
    info.ResourceType = D3DRTYPE_TEXTURE;
    if (!p || size < 4) return D3DXERR_INVALIDDATA;
    if (startsWith(p, size, "DDS ", 4)) {
        DdsLayout l;
        HRESULT hr = ddsLayout(p, size, l);
        if (FAILED(hr)) return hr;
        info.Width = l.h.width;
        info.Height = l.h.height;
        info.MipLevels = l.levels;
        info.Format = l.format;
        info.ImageFileFormat = D3DXIFF_DDS;
        return D3D_OK;
    }
    if (foreignMagic(p, size) || size > 0x7FFFFFFF) return D3DXERR_INVALIDDATA;
    int w = 0, h = 0, comp = 0;
    if (!stbi_info_from_memory(p, (int)size, &w, &h, &comp) || w <= 0 || h <= 0) return D3DXERR_INVALIDDATA;
    info.Width = (UINT)w;
    info.Height = (UINT)h;
    info.MipLevels = 1;
    info.ImageFileFormat = fileFormat(p, size);
    switch (comp) {
    case 1: info.Format = D3DFMT_L8; break;
    case 2: info.Format = D3DFMT_A8L8; break;
    case 4: info.Format = D3DFMT_A8R8G8B8; break;
    default: info.Format = info.ImageFileFormat == D3DXIFF_JPG ? D3DFMT_X8R8G8B8 : D3DFMT_R8G8B8; break;
    }
    return D3D_OK;
}

HRESULT decode(const void* data, size_t size, UINT maxSize, Decoded& out) {
    out = Decoded{};
    HRESULT hr = probe(data, size, out.info);
    if (FAILED(hr)) return hr;
    if (out.info.Width > maxSize || out.info.Height > maxSize) return D3DERR_INVALIDCALL;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    try {
        if (out.info.ImageFileFormat == D3DXIFF_DDS) return decodeDds(p, size, maxSize, out);
        // Every format here stores at least one byte per 16384 texels even at
        // its best compression: a bigger claim is a damaged header, refused
        // before the decoder reserves memory for it.
        if ((uint64_t)out.info.Width * out.info.Height > (uint64_t)size * 16384 + (1u << 20))
            return D3DXERR_INVALIDDATA;
        int w = 0, h = 0, comp = 0;
        stbi_uc* rgba = stbi_load_from_memory(p, (int)size, &w, &h, &comp, 4);
        if (!rgba) return D3DXERR_INVALIDDATA;
        Image img;
        img.width = (UINT)w;
        img.height = (UINT)h;
        img.texels.resize((size_t)w * h);
        for (size_t i = 0; i < img.texels.size(); ++i) {
            const stbi_uc* s = rgba + i * 4;
            img.texels[i] = (uint32_t)s[3] << 24 | (uint32_t)s[0] << 16 | (uint32_t)s[1] << 8 | s[2];
        }
        stbi_image_free(rgba);
        out.levels.push_back(std::move(img));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Resampling
// ---------------------------------------------------------------------------
namespace {

struct Tap {
    UINT index;
    float weight;
};

// 1D filter taps per destination texel.
std::vector<std::vector<Tap>> taps(UINT src, UINT dst) {
    std::vector<std::vector<Tap>> out(dst);
    const double scale = (double)src / dst;
    for (UINT d = 0; d < dst; ++d) {
        if (scale >= 1.0) {
            // Area average over [d*scale, (d+1)*scale).
            const double a = d * scale, b = (d + 1) * scale;
            float total = 0;
            for (UINT s = (UINT)a; s < src && s < b; ++s) {
                const float w = (float)(std::min<double>(b, s + 1) - std::max<double>(a, s));
                if (w > 0) {
                    out[d].push_back({s, w});
                    total += w;
                }
            }
            for (Tap& t : out[d]) t.weight /= total;
        } else {
            // Linear between the two nearest texel centres.
            const double c = (d + 0.5) * scale - 0.5;
            const double f = std::floor(c);
            const double t = c - f;
            const UINT s0 = (UINT)std::clamp<double>(f, 0, src - 1), s1 = (UINT)std::clamp<double>(f + 1, 0, src - 1);
            out[d].push_back({s0, (float)(1 - t)});
            out[d].push_back({s1, (float)t});
        }
    }
    return out;
}

} // namespace

Image resize(const Image& src, UINT width, UINT height) {
    if (src.width == width && src.height == height) return src;
    const auto tx = taps(src.width, width), ty = taps(src.height, height);
    // Horizontal pass into floats, then vertical.
    std::vector<float> mid((size_t)width * src.height * 4);
    for (UINT y = 0; y < src.height; ++y)
        for (UINT x = 0; x < width; ++x) {
            float acc[4] = {0, 0, 0, 0};
            for (const Tap& t : tx[x]) {
                const uint32_t v = src.texels[(size_t)y * src.width + t.index];
                for (int c = 0; c < 4; ++c) acc[c] += t.weight * (float)((v >> (8 * c)) & 0xFF);
            }
            std::memcpy(&mid[((size_t)y * width + x) * 4], acc, sizeof acc);
        }
    Image out;
    out.width = width;
    out.height = height;
    out.texels.resize((size_t)width * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) {
            float acc[4] = {0, 0, 0, 0};
            for (const Tap& t : ty[y])
                for (int c = 0; c < 4; ++c) acc[c] += t.weight * mid[((size_t)t.index * width + x) * 4 + c];
            uint32_t v = 0;
            for (int c = 0; c < 4; ++c) v |= (uint32_t)std::clamp((int)std::lround(acc[c]), 0, 255) << (8 * c);
            out.texels[(size_t)y * width + x] = v;
        }
    return out;
}

Image halve(const Image& src) {
    Image out;
    out.width = std::max(1u, src.width / 2);
    out.height = std::max(1u, src.height / 2);
    out.texels.resize((size_t)out.width * out.height);
    for (UINT y = 0; y < out.height; ++y)
        for (UINT x = 0; x < out.width; ++x) {
            const UINT x0 = std::min(2 * x, src.width - 1), x1 = std::min(2 * x + 1, src.width - 1);
            const UINT y0 = std::min(2 * y, src.height - 1), y1 = std::min(2 * y + 1, src.height - 1);
            const uint32_t q[4] = {src.texels[(size_t)y0 * src.width + x0], src.texels[(size_t)y0 * src.width + x1],
                                   src.texels[(size_t)y1 * src.width + x0], src.texels[(size_t)y1 * src.width + x1]};
            uint32_t v = 0;
            for (int c = 0; c < 32; c += 8) {
                const uint32_t sum = ((q[0] >> c) & 0xFF) + ((q[1] >> c) & 0xFF) + ((q[2] >> c) & 0xFF) + ((q[3] >> c) & 0xFF);
                v |= ((sum + 2) / 4) << c;
            }
            out.texels[(size_t)y * out.width + x] = v;
        }
    return out;
}

// ---------------------------------------------------------------------------
// Formats
// ---------------------------------------------------------------------------
UINT bytesPerTexel(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8: return 4;
    case D3DFMT_R8G8B8: return 3;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A8L8: return 2;
    case D3DFMT_A8:
    case D3DFMT_L8: return 1;
    default: return 0;
    }
}

void convertRow(const uint32_t* argb, UINT count, D3DFORMAT format, uint8_t* out) {
    auto q = [](uint32_t v, uint32_t bits) { return (v * ((1u << bits) - 1) + 127) / 255; };
    for (UINT i = 0; i < count; ++i) {
        const uint32_t v = argb[i];
        const uint32_t a = v >> 24, r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
        switch (format) {
        case D3DFMT_A8R8G8B8: std::memcpy(out + i * 4, &v, 4); break;
        case D3DFMT_X8R8G8B8: {
            const uint32_t x = v | 0xFF000000u;
            std::memcpy(out + i * 4, &x, 4);
            break;
        }
        case D3DFMT_A8B8G8R8:
        case D3DFMT_X8B8G8R8: {
            const uint32_t x = (format == D3DFMT_X8B8G8R8 ? 0xFFu : a) << 24 | b << 16 | g << 8 | r;
            std::memcpy(out + i * 4, &x, 4);
            break;
        }
        case D3DFMT_R8G8B8:
            out[i * 3] = (uint8_t)b;
            out[i * 3 + 1] = (uint8_t)g;
            out[i * 3 + 2] = (uint8_t)r;
            break;
        case D3DFMT_R5G6B5: {
            const uint16_t x = (uint16_t)(q(r, 5) << 11 | q(g, 6) << 5 | q(b, 5));
            std::memcpy(out + i * 2, &x, 2);
            break;
        }
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5: {
            const uint32_t bit = format == D3DFMT_X1R5G5B5 ? 1u : (a >= 128 ? 1u : 0u);
            const uint16_t x = (uint16_t)(bit << 15 | q(r, 5) << 10 | q(g, 5) << 5 | q(b, 5));
            std::memcpy(out + i * 2, &x, 2);
            break;
        }
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4: {
            const uint32_t aa = format == D3DFMT_X4R4G4B4 ? 15u : q(a, 4);
            const uint16_t x = (uint16_t)(aa << 12 | q(r, 4) << 8 | q(g, 4) << 4 | q(b, 4));
            std::memcpy(out + i * 2, &x, 2);
            break;
        }
        case D3DFMT_A8: out[i] = (uint8_t)a; break;
        case D3DFMT_L8:
        case D3DFMT_A8L8: {
            const uint8_t l = (uint8_t)std::lround(0.2125 * r + 0.7154 * g + 0.0721 * b);
            if (format == D3DFMT_L8) {
                out[i] = l;
            } else {
                out[i * 2] = l;
                out[i * 2 + 1] = (uint8_t)a;
            }
            break;
        }
        default: break;
        }
    }
}

} // namespace d3dx::image
