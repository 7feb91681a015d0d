#include "port/d3dx9/image.h"

#include <stb/stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>


namespace d3dx::image {

namespace {

bool startsWith(const uint8_t* p, size_t size, const char* magic, size_t n) {
    return size >= n && std::memcmp(p, magic, n) == 0;
}

uint32_t le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t le16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
uint32_t be32(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

UINT fullChain(UINT w, UINT h) {
    UINT levels = 1;
    while (w > 1 || h > 1) {
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
        ++levels;
    }
    return levels;
}

// ---------------------------------------------------------------------------
// DDS
// ---------------------------------------------------------------------------
constexpr uint32_t DDSD_MIPMAPCOUNT = 0x20000;
constexpr uint32_t DDSD_DEPTH = 0x800000;
constexpr uint32_t DDPF_ALPHAPIXELS = 0x1;
constexpr uint32_t DDPF_ALPHA = 0x2;
constexpr uint32_t DDPF_FOURCC = 0x4;
constexpr uint32_t DDPF_RGB = 0x40;
constexpr uint32_t DDPF_LUMINANCE = 0x20000;
constexpr uint32_t DDSCAPS2_CUBEMAP = 0x200;
constexpr uint32_t DDSCAPS2_VOLUME = 0x200000;
constexpr uint32_t kDx10MiscCube = 0x4;

struct DdsHeader {
    uint32_t size, flags, height, width, pitch, depth, mipCount;
    uint32_t reserved1[11];
    uint32_t pfSize, pfFlags, fourCC, bitCount, rMask, gMask, bMask, aMask;
    uint32_t caps, caps2, caps3, caps4, reserved2;
};
static_assert(sizeof(DdsHeader) == 124);

// Where the pixels of a DDS file are and how to read them.
struct DdsLayout {
    UINT width = 0, height = 0, depth = 1, levels = 1;
    D3DFORMAT format = D3DFMT_UNKNOWN; // as D3DX reports it
    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
    size_t dataOffset = 0;
    // Block-compressed: the decoder to use and the block size.
    D3DFORMAT block = D3DFMT_UNKNOWN;
    UINT blockBytes = 0;
    // Uncompressed: texel size and channel masks.
    UINT bytesPerPixel = 0;
    uint32_t rMask = 0, gMask = 0, bMask = 0, aMask = 0;
    bool luminance = false, alphaOnly = false;
};

size_t levelBytes(const DdsLayout& l, UINT w, UINT h) {
    if (l.block != D3DFMT_UNKNOWN) return (size_t)((w + 3) / 4) * ((h + 3) / 4) * l.blockBytes;
    return (size_t)w * h * l.bytesPerPixel;
}

void masked(DdsLayout& l, UINT bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a, D3DFORMAT f) {
    l.bytesPerPixel = bits / 8;
    l.rMask = r;
    l.gMask = g;
    l.bMask = b;
    l.aMask = a;
    l.format = f;
}

// The formats of the extended header that map onto Direct3D 9 ones (as the
// DirectX texture tools convert them: R8 is L8, R8G8 is A8L8).
bool dx10Format(uint32_t dxgi, DdsLayout& l) {
    switch (dxgi) {
    case 70: case 71: case 72: l.block = D3DFMT_DXT1; l.blockBytes = 8; l.format = D3DFMT_DXT1; return true;
    case 73: case 74: case 75: l.block = D3DFMT_DXT3; l.blockBytes = 16; l.format = D3DFMT_DXT3; return true;
    case 76: case 77: case 78: l.block = D3DFMT_DXT5; l.blockBytes = 16; l.format = D3DFMT_DXT5; return true;
    case 79: case 80:
        l.block = l.format = (D3DFORMAT)MAKEFOURCC('A', 'T', 'I', '1');
        l.blockBytes = 8;
        return true;
    case 82: case 83:
        l.block = l.format = (D3DFORMAT)MAKEFOURCC('A', 'T', 'I', '2');
        l.blockBytes = 16;
        return true;
    case 27: case 28: case 29: masked(l, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, D3DFMT_A8B8G8R8); return true;
    case 87: case 90: case 91: masked(l, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, D3DFMT_A8R8G8B8); return true;
    case 88: case 92: case 93: masked(l, 32, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_X8R8G8B8); return true;
    case 24: masked(l, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, D3DFMT_A2B10G10R10); return true;
    case 35: masked(l, 32, 0xFFFF, 0xFFFF0000, 0, 0, D3DFMT_G16R16); return true;
    case 85: masked(l, 16, 0xF800, 0x07E0, 0x001F, 0, D3DFMT_R5G6B5); return true;
    case 86: masked(l, 16, 0x7C00, 0x03E0, 0x001F, 0x8000, D3DFMT_A1R5G5B5); return true;
    case 115: masked(l, 16, 0x0F00, 0x00F0, 0x000F, 0xF000, D3DFMT_A4R4G4B4); return true;
    case 60: case 61:
        masked(l, 8, 0xFF, 0, 0, 0, D3DFMT_L8);
        l.luminance = true;
        return true;
    case 48: case 49:
        masked(l, 16, 0xFF, 0, 0, 0xFF00, D3DFMT_A8L8);
        l.luminance = true;
        return true;
    case 56:
        masked(l, 16, 0xFFFF, 0, 0, 0, D3DFMT_L16);
        l.luminance = true;
        return true;
    case 65:
        masked(l, 8, 0, 0, 0, 0xFF, D3DFMT_A8);
        l.alphaOnly = true;
        return true;
    default: return false;
    }
}

// The Direct3D 9 format of a masked pixel format, as D3DX names it.
D3DFORMAT legacyFormat(const DdsHeader& h, bool alpha) {
    const uint32_t r = h.rMask, g = h.gMask, b = h.bMask, a = alpha ? h.aMask : 0;
    if (h.pfFlags & DDPF_LUMINANCE) {
        if (h.bitCount == 8) return a ? D3DFMT_A4L4 : D3DFMT_L8;
        return a ? D3DFMT_A8L8 : D3DFMT_L16;
    }
    if (!(h.pfFlags & DDPF_RGB)) return D3DFMT_A8;
    switch (h.bitCount) {
    case 32:
        if (r == 0xFF && g == 0xFF00 && b == 0xFF0000) return a ? D3DFMT_A8B8G8R8 : D3DFMT_X8B8G8R8;
        if (r == 0x3FF00000 && g == 0xFFC00 && b == 0x3FF) return D3DFMT_A2R10G10B10;
        if (r == 0x3FF && g == 0xFFC00 && b == 0x3FF00000) return D3DFMT_A2B10G10R10;
        if (r == 0xFFFF && g == 0xFFFF0000) return D3DFMT_G16R16;
        return a ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    case 24: return D3DFMT_R8G8B8;
    case 16:
        if (g == 0x07E0) return D3DFMT_R5G6B5;
        if (g == 0x00F0) return a ? D3DFMT_A4R4G4B4 : D3DFMT_X4R4G4B4;
        if (g == 0x001C) return D3DFMT_A8R3G3B2;
        return a ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;
    default:
        // One 8-bit channel in the red mask is luminance whatever the flag says.
        if (r == 0xFF && !g && !b) return D3DFMT_L8;
        return D3DFMT_R3G3B2;
    }
}

HRESULT ddsLayout(const uint8_t* p, size_t size, DdsLayout& l) {
    if (size < 4 + sizeof(DdsHeader)) return D3DXERR_INVALIDDATA;
    DdsHeader h;
    std::memcpy(&h, p + 4, sizeof h);
    if (h.size != 124 || h.width == 0 || h.height == 0) return D3DXERR_INVALIDDATA;
    l.width = h.width;
    l.height = h.height;
    l.dataOffset = 4 + sizeof(DdsHeader);
    if ((h.caps2 & DDSCAPS2_VOLUME) && (h.flags & DDSD_DEPTH) && h.depth > 1) {
        l.type = D3DRTYPE_VOLUMETEXTURE;
        l.depth = h.depth;
    } else if (h.caps2 & DDSCAPS2_CUBEMAP) {
        l.type = D3DRTYPE_CUBETEXTURE;
    }
    if ((h.pfFlags & DDPF_FOURCC) && h.fourCC == MAKEFOURCC('D', 'X', '1', '0')) {
        if (size < l.dataOffset + 20) return D3DXERR_INVALIDDATA;
        const uint32_t dxgi = le32(p + l.dataOffset), dimension = le32(p + l.dataOffset + 4),
                       misc = le32(p + l.dataOffset + 8);
        l.dataOffset += 20;
        if (!dx10Format(dxgi, l)) return D3DXERR_INVALIDDATA;
        l.type = D3DRTYPE_TEXTURE;
        l.depth = 1;
        if (dimension == 4) { // TEXTURE3D
            l.type = D3DRTYPE_VOLUMETEXTURE;
            l.depth = std::max<uint32_t>(1, h.depth);
        } else if (dimension == 2) { // TEXTURE1D
            l.height = 1;
        } else if (dimension != 3) {
            return D3DXERR_INVALIDDATA;
        }
        if (misc & kDx10MiscCube) l.type = D3DRTYPE_CUBETEXTURE;
    } else if (h.pfFlags & DDPF_FOURCC) {
        switch (h.fourCC) {
        case MAKEFOURCC('D', 'X', 'T', '1'): l.block = D3DFMT_DXT1; l.blockBytes = 8; break;
        case MAKEFOURCC('D', 'X', 'T', '2'): l.block = D3DFMT_DXT2; l.blockBytes = 16; break;
        case MAKEFOURCC('D', 'X', 'T', '3'): l.block = D3DFMT_DXT3; l.blockBytes = 16; break;
        case MAKEFOURCC('D', 'X', 'T', '4'): l.block = D3DFMT_DXT4; l.blockBytes = 16; break;
        case MAKEFOURCC('D', 'X', 'T', '5'): l.block = D3DFMT_DXT5; l.blockBytes = 16; break;
        case MAKEFOURCC('A', 'T', 'I', '1'):
        case MAKEFOURCC('B', 'C', '4', 'U'):
            l.block = (D3DFORMAT)MAKEFOURCC('A', 'T', 'I', '1');
            l.blockBytes = 8;
            break;
        case MAKEFOURCC('A', 'T', 'I', '2'):
        case MAKEFOURCC('B', 'C', '5', 'U'):
            l.block = (D3DFORMAT)MAKEFOURCC('A', 'T', 'I', '2');
            l.blockBytes = 16;
            break;
        default: return D3DXERR_INVALIDDATA;
        }
        l.format = l.block;
    } else if (h.pfFlags & (DDPF_RGB | DDPF_LUMINANCE | DDPF_ALPHA)) {
        if (h.bitCount != 8 && h.bitCount != 16 && h.bitCount != 24 && h.bitCount != 32) return D3DXERR_INVALIDDATA;
        const bool alpha = (h.pfFlags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) && h.aMask;
        l.format = legacyFormat(h, alpha);
        l.bytesPerPixel = h.bitCount / 8;
        l.aMask = alpha ? h.aMask : 0;
        if (h.pfFlags & (DDPF_RGB | DDPF_LUMINANCE)) {
            l.luminance = (h.pfFlags & DDPF_LUMINANCE) || l.format == D3DFMT_L8;
            l.rMask = h.rMask ? h.rMask : (l.luminance ? (h.bitCount == 8 ? 0xFFu : 0xFFFFu) : 0u);
            l.gMask = l.luminance ? 0 : h.gMask;
            l.bMask = l.luminance ? 0 : h.bMask;
            // Luminance with alpha in one byte: the low nibble unless masked otherwise.
            if (l.luminance && l.format == D3DFMT_A4L4 && !h.rMask) l.rMask = 0x0F;
            if (l.luminance && l.format == D3DFMT_A8L8 && l.rMask == 0xFFFF) l.rMask = 0xFF;
        } else {
            l.alphaOnly = true;
            if (!l.aMask) l.aMask = h.bitCount == 8 ? 0xFFu : 0xFFFFu;
        }
    } else {
        return D3DXERR_INVALIDDATA;
    }
    // Some writers claim more levels than the size allows.
    l.levels = (h.flags & DDSD_MIPMAPCOUNT) && h.mipCount > 1 ? std::min<UINT>(h.mipCount, fullChain(l.width, l.height))
                                                              : 1;
    return D3D_OK;
}

// Offset of level `level`'s first face (or slice) from the start of the data.
size_t levelOffset(const DdsLayout& l, UINT level) {
    size_t at = 0;
    UINT w = l.width, h = l.height, d = l.depth;
    for (UINT i = 0; i < level; ++i) {
        at += levelBytes(l, w, h) * d;
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
        d = std::max(1u, d / 2);
    }
    return at;
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
    const uint16_t c0 = le16(p), c1 = le16(p + 2);
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
    const uint32_t bits = le32(p + 4);
    for (int i = 0; i < 16; ++i) out[i] = pal[(bits >> (2 * i)) & 3];
}

// An interpolated 8-bit channel block (DXT5 alpha, BC4 and both BC5 halves).
void channelBlock(const uint8_t* block, uint8_t out[16]) {
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
    for (int i = 0; i < 16; ++i) out[i] = (uint8_t)pal[(bits >> (3 * i)) & 7];
}

// Scales a masked channel to 8 bits through a table (masks up to 16 bits)
// or arithmetic (wider ones).
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    std::vector<uint8_t> table;
    explicit Channel(uint32_t m) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        max = m >> shift;
        if (max <= 0xFFFF) {
            table.resize((size_t)max + 1);
            for (uint32_t v = 0; v <= max; ++v) table[v] = (uint8_t)(((uint64_t)v * 255 + max / 2) / max);
        }
    }
    uint32_t operator()(uint32_t v, uint32_t fallback) const {
        if (!mask) return fallback;
        const uint32_t raw = (v & mask) >> shift;
        return table.empty() ? (uint32_t)(((uint64_t)raw * 255 + max / 2) / max) : table[raw];
    }
};

void decodeMasked(const DdsLayout& l, const uint8_t* data, Image& img) {
    const size_t n = img.texels.size();
    uint32_t* out = img.texels.data();
    const UINT bpp = l.bytesPerPixel;
    // The common layouts in one pass without per-channel work.
    if (bpp == 4 && !l.luminance && l.rMask == 0xFF0000 && l.gMask == 0xFF00 && l.bMask == 0xFF &&
        (l.aMask == 0 || l.aMask == 0xFF000000u)) {
        std::memcpy(out, data, n * 4);
        if (!l.aMask)
            for (size_t i = 0; i < n; ++i) out[i] |= 0xFF000000u;
        return;
    }
    if (bpp == 4 && !l.luminance && l.rMask == 0xFF && l.gMask == 0xFF00 && l.bMask == 0xFF0000 &&
        (l.aMask == 0 || l.aMask == 0xFF000000u)) {
        const uint32_t alpha = l.aMask ? 0 : 0xFF000000u;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t v = le32(data + i * 4);
            out[i] = ((v & 0xFF) << 16 | (v & 0xFF00FF00u) | (v >> 16 & 0xFF)) | alpha;
        }
        return;
    }
    if (bpp == 3 && l.rMask == 0xFF0000 && l.gMask == 0xFF00 && l.bMask == 0xFF) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* s = data + i * 3;
            out[i] = 0xFF000000u | (uint32_t)s[2] << 16 | (uint32_t)s[1] << 8 | s[0];
        }
        return;
    }
    const Channel r(l.rMask), g(l.gMask), b(l.bMask), a(l.aMask);
    for (size_t i = 0; i < n; ++i) {
        uint32_t v = 0;
        std::memcpy(&v, data + i * bpp, bpp);
        const uint32_t alpha = a(v, 255);
        uint32_t cr, cg, cb;
        if (l.alphaOnly) {
            cr = cg = cb = 0;
        } else if (l.luminance) {
            cr = cg = cb = r(v, 0);
        } else {
            cr = r(v, 0);
            cg = g(v, 0);
            cb = b(v, 0);
        }
        out[i] = alpha << 24 | cr << 16 | cg << 8 | cb;
    }
}

void decodeBlocks(const DdsLayout& l, const uint8_t* data, Image& img) {
    const UINT w = img.width, h = img.height, bw = (w + 3) / 4, bh = (h + 3) / 4;
    uint32_t block[16];
    for (UINT by = 0; by < bh; ++by)
        for (UINT bx = 0; bx < bw; ++bx) {
            decodeDxtBlock(l.block, data + ((size_t)by * bw + bx) * l.blockBytes, block);
            const UINT cols = std::min(4u, w - bx * 4), rows = std::min(4u, h - by * 4);
            for (UINT y = 0; y < rows; ++y)
                std::memcpy(&img.texels[(size_t)(by * 4 + y) * w + bx * 4], block + y * 4, cols * 4);
        }
}

HRESULT decodeDds(const uint8_t* p, size_t size, uint64_t maxPixels, Decoded& out) {
    DdsLayout l;
    HRESULT hr = ddsLayout(p, size, l);
    if (FAILED(hr)) return hr;
    if ((uint64_t)l.width * l.height > maxPixels) return E_OUTOFMEMORY;
    const uint8_t* data = p + l.dataOffset;
    const size_t left = size - l.dataOffset;
    // The top level must be complete; a truncated mip tail is dropped.
    if (levelBytes(l, l.width, l.height) > left) return D3DXERR_INVALIDDATA;
    UINT w = l.width, h = l.height;
    for (UINT level = 0; level < l.levels; ++level) {
        const size_t at = levelOffset(l, level), bytes = levelBytes(l, w, h);
        if (at > left || bytes > left - at) break;
        Image img;
        img.width = w;
        img.height = h;
        img.texels.resize((size_t)w * h);
        if (l.block != D3DFMT_UNKNOWN)
            decodeBlocks(l, data + at, img);
        else
            decodeMasked(l, data + at, img);
        out.levels.push_back(std::move(img));
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// BMP with run-length encoding (stb reads every other kind)
// ---------------------------------------------------------------------------
struct RleBmp {
    int32_t width = 0, height = 0;
    bool topDown = false;
    UINT bits = 0; // 8 (BI_RLE8) or 4 (BI_RLE4)
    uint32_t palette[256] = {};
    size_t data = 0;
};

bool rleBmp(const uint8_t* p, size_t size, RleBmp& b) {
    if (size < 54 || p[0] != 'B' || p[1] != 'M') return false;
    const uint32_t headerSize = le32(p + 14);
    if (headerSize < 40 || 14 + (uint64_t)headerSize > size) return false;
    const uint32_t compression = le32(p + 30);
    const uint16_t bitCount = le16(p + 28);
    if (!((compression == 1 && bitCount == 8) || (compression == 2 && bitCount == 4))) return false;
    int32_t w, h;
    std::memcpy(&w, p + 18, 4);
    std::memcpy(&h, p + 22, 4);
    if (w <= 0 || h == 0 || h == INT32_MIN) return false;
    b.width = w;
    b.topDown = h < 0;
    b.height = h < 0 ? -h : h;
    b.bits = bitCount;
    const uint32_t maxColours = 1u << bitCount;
    uint32_t colours = le32(p + 46);
    if (colours == 0 || colours > maxColours) colours = maxColours;
    const size_t palAt = 14 + headerSize;
    if (palAt + (size_t)colours * 4 > size) return false;
    for (uint32_t i = 0; i < colours; ++i) {
        const uint8_t* e = p + palAt + i * 4;
        b.palette[i] = 0xFF000000u | (uint32_t)e[2] << 16 | (uint32_t)e[1] << 8 | e[0];
    }
    for (uint32_t i = colours; i < 256; ++i) b.palette[i] = 0xFF000000u;
    b.data = le32(p + 10);
    return b.data < size;
}

// Codes: (n, v) draws n pixels of v (RLE4: alternating nibbles); (0, 0) ends
// the line, (0, 1) the bitmap, (0, 2, dx, dy) moves; (0, n >= 3) is followed
// by n literal pixels padded to a 16-bit boundary. Pixels never drawn keep
// colour 0; codes running off the image are clipped, and data ending early
// leaves the rest of the image as it is.
void decodeRle(const uint8_t* p, size_t size, const RleBmp& b, Image& img) {
    const UINT w = (UINT)b.width, h = (UINT)b.height;
    std::fill(img.texels.begin(), img.texels.end(), b.palette[0]);
    const uint8_t* s = p + b.data;
    const uint8_t* end = p + size;
    UINT x = 0, line = 0; // line 0 is the bottom row unless top-down
    auto put = [&](uint32_t index) {
        if (x < w && line < h) {
            const UINT row = b.topDown ? line : h - 1 - line;
            img.texels[(size_t)row * w + x] = b.palette[index & 0xFF];
        }
        ++x;
    };
    while (end - s >= 2 && line < h) {
        const uint8_t n = s[0], v = s[1];
        s += 2;
        if (n > 0) {
            for (UINT i = 0; i < n && x < w; ++i) put(b.bits == 8 ? v : (i & 1) ? (v & 0xF) : (v >> 4));
            continue;
        }
        if (v == 0) {
            x = 0;
            ++line;
        } else if (v == 1) {
            break;
        } else if (v == 2) {
            if (end - s < 2) break;
            x += s[0];
            line += s[1];
            s += 2;
        } else {
            const size_t bytes = b.bits == 8 ? v : (v + 1u) / 2;
            if ((size_t)(end - s) < bytes) break;
            for (UINT i = 0; i < v; ++i) put(b.bits == 8 ? s[i] : (i & 1) ? (s[i / 2] & 0xF) : (s[i / 2] >> 4));
            s += (bytes + 1) & ~(size_t)1;
        }
    }
}

// ---------------------------------------------------------------------------
// PNG, JPEG and the rest through stb
// ---------------------------------------------------------------------------
// A grey or colour PNG whose tRNS chunk makes one colour transparent: stb's
// header scan stops before that chunk, so the chunks are walked here.
bool pngHasTransparency(const uint8_t* p, size_t size) {
    size_t at = 8;
    while (at + 12 <= size) {
        const uint32_t len = be32(p + at);
        const uint8_t* type = p + at + 4;
        if (!std::memcmp(type, "tRNS", 4)) return true;
        if (!std::memcmp(type, "IDAT", 4) || !std::memcmp(type, "IEND", 4)) return false;
        if (len > size - at - 12) return false;
        at += 12 + (size_t)len;
    }
    return false;
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

struct StbFree {
    void operator()(stbi_uc* p) const { stbi_image_free(p); }
};
using StbPixels = std::unique_ptr<stbi_uc, StbFree>;

StbPixels stbDecode(const uint8_t* p, size_t size, int& w, int& h) {
    int comp = 0;
    return StbPixels(stbi_load_from_memory(p, (int)size, &w, &h, &comp, 4));
}

// Where the entropy-coded data of a JPEG's first scan begins (0: none).
size_t jpegScanStart(const uint8_t* p, size_t size) {
    size_t at = 2;
    while (at + 4 <= size) {
        if (p[at] != 0xFF) return 0;
        const uint8_t marker = p[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const size_t len = (size_t)p[at + 2] << 8 | p[at + 3];
        if (len < 2 || at + 2 + len > size) return 0;
        if (marker == 0xDA) return at + 2 + len;
        at += 2 + len;
    }
    return 0;
}

// A JPEG damaged inside its coded data (a byte lost, a few bytes garbled)
// stops stb's decoder. The longest prefix that still decodes, closed with
// an end marker, gives the picture as far as the data goes; the rest stays
// flat, as other decoders show such files.
// Each try decodes the whole picture, so only pictures of texture size are
// searched this way; a damaged photograph of hundreds of megapixels is
// refused rather than decoded twenty times.
constexpr uint64_t kMaxRepairPixels = 1u << 22;

StbPixels decodeDamagedJpeg(const uint8_t* p, size_t size, uint64_t pixels, int& w, int& h) {
    const size_t scan = jpegScanStart(p, size);
    if (!scan || pixels > kMaxRepairPixels) return nullptr;
    std::vector<uint8_t> buf;
    auto attempt = [&](size_t keep, int& aw, int& ah) {
        buf.assign(p, p + keep);
        buf.push_back(0xFF);
        buf.push_back(0xD9);
        return stbDecode(buf.data(), buf.size(), aw, ah);
    };
    StbPixels best = attempt(scan, w, h);
    if (!best) return nullptr; // the headers themselves are broken
    size_t lo = scan, hi = size; // lo decodes, hi does not
    while (hi - lo > 16) { // a few bytes more or less change a block or two
        const size_t mid = lo + (hi - lo) / 2;
        int mw = 0, mh = 0;
        StbPixels got = attempt(mid, mw, mh);
        if (got) {
            best = std::move(got);
            w = mw;
            h = mh;
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return best;
}

HRESULT decodeBmpRle(const uint8_t* p, size_t size, uint64_t maxPixels, Decoded& out) {
    RleBmp b;
    if (!rleBmp(p, size, b)) return D3DXERR_INVALIDDATA;
    const uint64_t pixels = (uint64_t)b.width * (uint64_t)b.height;
    if (pixels > maxPixels) return E_OUTOFMEMORY;
    // A run of 255 pixels takes two bytes and a move up to 65025: anything
    // claiming far more is damaged.
    if (pixels > (uint64_t)size * 65536) return D3DXERR_INVALIDDATA;
    Image img;
    img.width = (UINT)b.width;
    img.height = (UINT)b.height;
    img.texels.resize((size_t)pixels);
    decodeRle(p, size, b, img);
    out.levels.push_back(std::move(img));
    return D3D_OK;
}

} // namespace

void decodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint32_t out[16]) {
    uint8_t channel[16], second[16];
    switch (format) {
    case D3DFMT_DXT1: colorBlock(block, true, out); return;
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
        colorBlock(block + 8, false, out);
        for (int i = 0; i < 16; ++i) {
            const uint32_t a4 = (block[i / 2] >> ((i & 1) * 4)) & 0xF;
            out[i] = (out[i] & 0x00FFFFFFu) | (a4 * 17) << 24;
        }
        return;
    case D3DFMT_DXT4:
    case D3DFMT_DXT5:
        colorBlock(block + 8, false, out);
        channelBlock(block, channel);
        for (int i = 0; i < 16; ++i) out[i] = (out[i] & 0x00FFFFFFu) | (uint32_t)channel[i] << 24;
        return;
    default:
        if (format == (D3DFORMAT)MAKEFOURCC('A', 'T', 'I', '1')) { // one channel, shown as grey
            channelBlock(block, channel);
            for (int i = 0; i < 16; ++i) out[i] = 0xFF000000u | channel[i] * 0x010101u;
        } else { // ATI2 / BC5: red and green
            channelBlock(block, channel);
            channelBlock(block + 8, second);
            for (int i = 0; i < 16; ++i) out[i] = 0xFF000000u | (uint32_t)channel[i] << 16 | (uint32_t)second[i] << 8;
        }
        return;
    }
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
        info.Width = l.width;
        info.Height = l.height;
        info.Depth = l.depth;
        info.MipLevels = l.levels;
        info.Format = l.format;
        info.ResourceType = l.type;
        info.ImageFileFormat = D3DXIFF_DDS;
        return D3D_OK;
    }
    RleBmp bmp;
    if (rleBmp(p, size, bmp)) {
        info.Width = (UINT)bmp.width;
        info.Height = (UINT)bmp.height;
        info.MipLevels = 1;
        info.Format = D3DFMT_R8G8B8; // as every palette bitmap is described here
        info.ImageFileFormat = D3DXIFF_BMP;
        return D3D_OK;
    }
    if (foreignMagic(p, size) || size > 0x7FFFFFFF) return D3DXERR_INVALIDDATA;
    int w = 0, h = 0, comp = 0;
    if (!stbi_info_from_memory(p, (int)size, &w, &h, &comp) || w <= 0 || h <= 0) return D3DXERR_INVALIDDATA;
    info.Width = (UINT)w;
    info.Height = (UINT)h;
    info.MipLevels = 1;
    info.ImageFileFormat = fileFormat(p, size);
    const bool trns = info.ImageFileFormat == D3DXIFF_PNG && (comp == 1 || comp == 3) && pngHasTransparency(p, size);
    switch (comp) {
    case 1: info.Format = trns ? D3DFMT_A8L8 : D3DFMT_L8; break;
    case 2: info.Format = D3DFMT_A8L8; break;
    case 4: info.Format = D3DFMT_A8R8G8B8; break;
    default:
        info.Format = trns ? D3DFMT_A8R8G8B8 : info.ImageFileFormat == D3DXIFF_JPG ? D3DFMT_X8R8G8B8 : D3DFMT_R8G8B8;
        break;
    }
    return D3D_OK;
}

HRESULT decode(const void* data, size_t size, uint64_t maxPixels, Decoded& out) {
    out = Decoded{};
    HRESULT hr = probe(data, size, out.info);
    if (FAILED(hr)) return hr;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    try {
        if (out.info.ImageFileFormat == D3DXIFF_DDS) return decodeDds(p, size, maxPixels, out);
        RleBmp bmp;
        if (rleBmp(p, size, bmp)) return decodeBmpRle(p, size, maxPixels, out);
        const uint64_t pixels = (uint64_t)out.info.Width * out.info.Height;
        // More texels than the device could hold: refused before the decoder
        // reserves memory for them.
        if (pixels > maxPixels) return E_OUTOFMEMORY;
        // Every format here stores at least one byte per 16384 texels even at
        // its best compression: a bigger claim is a damaged header.
        if (pixels > (uint64_t)size * 16384 + (1u << 20)) return D3DXERR_INVALIDDATA;
        int w = 0, h = 0;
        StbPixels rgba = stbDecode(p, size, w, h);
        if (!rgba && out.info.ImageFileFormat == D3DXIFF_JPG) rgba = decodeDamagedJpeg(p, size, pixels, w, h);
        if (!rgba || (UINT)w != out.info.Width || (UINT)h != out.info.Height) return D3DXERR_INVALIDDATA;
        Image img;
        img.width = (UINT)w;
        img.height = (UINT)h;
        img.texels.resize((size_t)w * h);
        const stbi_uc* s = rgba.get();
        for (size_t i = 0; i < img.texels.size(); ++i, s += 4)
            img.texels[i] = (uint32_t)s[3] << 24 | (uint32_t)s[0] << 16 | (uint32_t)s[1] << 8 | s[2];
        out.levels.push_back(std::move(img));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

bool blockLevels(const void* data, size_t size, D3DFORMAT& format, std::vector<BlockLevel>& levels) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    levels.clear();
    DdsLayout l;
    if (!p || !startsWith(p, size, "DDS ", 4) || FAILED(ddsLayout(p, size, l))) return false;
    if (l.type != D3DRTYPE_TEXTURE && l.type != D3DRTYPE_CUBETEXTURE) return false;
    if (l.block != D3DFMT_DXT1 && l.block != D3DFMT_DXT2 && l.block != D3DFMT_DXT3 && l.block != D3DFMT_DXT4 &&
        l.block != D3DFMT_DXT5)
        return false;
    format = l.block;
    const size_t left = size - l.dataOffset;
    UINT w = l.width, h = l.height;
    for (UINT level = 0; level < l.levels; ++level) {
        const size_t at = levelOffset(l, level), bytes = levelBytes(l, w, h);
        if (at > left || bytes > left - at) break;
        BlockLevel b;
        b.width = w;
        b.height = h;
        b.data = p + l.dataOffset + at;
        b.rowBytes = (size_t)((w + 3) / 4) * l.blockBytes;
        b.rows = (h + 3) / 4;
        levels.push_back(b);
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    return !levels.empty();
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
    if (format == D3DFMT_A8R8G8B8) {
        std::memcpy(out, argb, (size_t)count * 4);
        return;
    }
    if (format == D3DFMT_X8R8G8B8) {
        for (UINT i = 0; i < count; ++i) {
            const uint32_t x = argb[i] | 0xFF000000u;
            std::memcpy(out + (size_t)i * 4, &x, 4);
        }
        return;
    }
    auto q = [](uint32_t v, uint32_t bits) { return (v * ((1u << bits) - 1) + 127) / 255; };
    for (UINT i = 0; i < count; ++i) {
        const uint32_t v = argb[i];
        const uint32_t a = v >> 24, r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
        switch (format) {
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
