// D3DX texture creation: sizes, mip chains and formats resolved as D3DX
// does, texels written level by level through LockRect.
#include "Common/CodePage.h"
#include "Common/FilePath.h"
#include "port/d3d9/device_gl.h"
#include "port/d3dx9/d3dx9mesh.h"
#include "port/d3dx9/d3dx9tex.h"
#include "port/d3dx9/image.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <new>
#include <string>

using namespace d3dx;

namespace {

struct Caps {
    UINT maxWidth = 4096, maxHeight = 4096;
    bool pow2 = false;
};

Caps deviceCaps(IDirect3DDevice9* device) {
    Caps c;
    D3DCAPS9 caps{};
    if (SUCCEEDED(device->GetDeviceCaps(&caps))) {
        if (caps.MaxTextureWidth) c.maxWidth = caps.MaxTextureWidth;
        if (caps.MaxTextureHeight) c.maxHeight = caps.MaxTextureHeight;
        c.pow2 = (caps.TextureCaps & D3DPTEXTURECAPS_POW2) != 0;
    }
    return c;
}

UINT nextPow2(UINT v) {
    UINT p = 1;
    while (p < v && p < 0x80000000u) p <<= 1;
    return p;
}

UINT fullChain(UINT w, UINT h) {
    UINT levels = 1;
    while (w > 1 || h > 1) {
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
        ++levels;
    }
    return levels;
}

UINT resolveLevels(UINT requested, UINT w, UINT h) {
    const UINT full = fullChain(w, h);
    if (requested == 0 || requested == D3DX_DEFAULT || requested == D3DX_FROM_FILE) return full;
    return std::min(requested, full);
}

// One texture dimension as D3DX chooses it: 0 and D3DX_DEFAULT take the
// file's size rounded up to a power of two; D3DX_DEFAULT_NONPOW2 and
// D3DX_FROM_FILE keep the file's size where the device allows it; anything
// larger than the device can hold is scaled down to its limit.
UINT resolveSize(UINT requested, UINT fromFile, bool devicePow2, UINT limit) {
    UINT size = requested;
    bool round = devicePow2;
    if (requested == 0 || requested == D3DX_DEFAULT) {
        size = fromFile;
        round = true;
    } else if (requested == D3DX_DEFAULT_NONPOW2 || requested == D3DX_FROM_FILE) {
        size = fromFile;
    }
    if (round) size = nextPow2(size);
    return std::clamp(size, 1u, limit);
}

// Formats this layer can write; the rest fall back to 32-bit ARGB.
D3DFORMAT writableFormat(D3DFORMAT f, bool alpha) {
    if (f == D3DFMT_UNKNOWN || f == (D3DFORMAT)D3DX_DEFAULT || f == D3DFMT_FROM_FILE)
        return alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    if (f == D3DFMT_R8G8B8) return D3DFMT_X8R8G8B8; // 24-bit textures are not offered by devices
    if (image::bytesPerTexel(f) == 0) return D3DFMT_A8R8G8B8;
    return f;
}

bool hasAlpha(D3DFORMAT f) {
    switch (f) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_A8L8:
    case D3DFMT_A4L4:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_A8R3G3B2:
    case D3DFMT_A2R10G10B10:
    case D3DFMT_A2B10G10R10:
    case D3DFMT_A8:
    case D3DFMT_DXT1:
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
    case D3DFMT_DXT4:
    case D3DFMT_DXT5: return true;
    default: return false;
    }
}

// Creates the texture; a format the device refuses falls back to A8R8G8B8.
HRESULT createTexture(IDirect3DDevice9* device, UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT& format,
                      D3DPOOL pool, IDirect3DTexture9** out) {
    HRESULT hr = device->CreateTexture(w, h, levels, usage, format, pool, out, nullptr);
    if (FAILED(hr) && format != D3DFMT_A8R8G8B8) {
        format = D3DFMT_A8R8G8B8;
        hr = device->CreateTexture(w, h, levels, usage, format, pool, out, nullptr);
    }
    return hr;
}

HRESULT writeLevel(IDirect3DTexture9* tex, UINT level, const image::Image& img, D3DFORMAT format) {
    D3DLOCKED_RECT lr{};
    // Render targets cannot be locked; D3DX fills them through a copy in
    // system memory, which the port writes directly.
    D3DSURFACE_DESC desc{};
    const bool target = SUCCEEDED(tex->GetLevelDesc(level, &desc)) && (desc.Usage & D3DUSAGE_RENDERTARGET);
    HRESULT hr = target ? PortTextureLockLevel(tex, level, &lr) : tex->LockRect(level, &lr, nullptr, 0);
    if (FAILED(hr)) return hr;
    for (UINT y = 0; y < img.height; ++y)
        image::convertRow(img.texels.data() + (size_t)y * img.width, img.width, format,
                          static_cast<uint8_t*>(lr.pBits) + (ptrdiff_t)y * lr.Pitch);
    return tex->UnlockRect(level);
}

// A DXT file whose stored levels already are what was asked for becomes a
// texture of its own format with the blocks copied as they are, as D3DX
// keeps the file's format. Null when that is not possible.
IDirect3DTexture9* keepBlocks(IDirect3DDevice9* device, LPCVOID data, UINT size, UINT width, UINT height,
                              UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, D3DCOLOR colorKey,
                              const Caps& caps) {
    if (colorKey != 0 || (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) ||
        (format != D3DFMT_UNKNOWN && format != D3DFMT_FROM_FILE && format != (D3DFORMAT)D3DX_DEFAULT))
        return nullptr;
    D3DFORMAT blockFormat;
    std::vector<image::BlockLevel> stored;
    if (!image::blockLevels(data, size, blockFormat, stored)) return nullptr;
    const UINT w = resolveSize(width, stored[0].width, caps.pow2, caps.maxWidth);
    const UINT h = resolveSize(height, stored[0].height, caps.pow2, caps.maxHeight);
    if (w != stored[0].width || h != stored[0].height) return nullptr;
    const UINT levels = resolveLevels(mipLevels == D3DX_FROM_FILE ? (UINT)stored.size() : mipLevels, w, h);
    if (levels > stored.size()) return nullptr;
    IDirect3DTexture9* tex = nullptr;
    if (FAILED(device->CreateTexture(w, h, levels, usage, blockFormat, pool, &tex, nullptr))) return nullptr;
    for (UINT level = 0; level < levels; ++level) {
        const image::BlockLevel& b = stored[level];
        D3DLOCKED_RECT lr{};
        if (FAILED(tex->LockRect(level, &lr, nullptr, 0))) {
            tex->Release();
            return nullptr;
        }
        for (size_t row = 0; row < b.rows; ++row)
            std::memcpy(static_cast<uint8_t*>(lr.pBits) + (ptrdiff_t)row * lr.Pitch, b.data + row * b.rowBytes,
                        b.rowBytes);
        tex->UnlockRect(level);
    }
    return tex;
}

bool readWholeFile(const std::wstring& name, std::string& bytes) {
    std::ifstream in(VORTALEX::MapPath(name), std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad() && bytes.size() <= 0x7FFFFFFFu;
}

} // namespace

HRESULT D3DXGetImageInfoFromFileInMemory(LPCVOID data, UINT size, D3DXIMAGE_INFO* info) {
    if (!data || !size || !info) return D3DERR_INVALIDCALL;
    return image::probe(data, size, *info);
}

HRESULT D3DXGetImageInfoFromFileW(LPCWSTR file, D3DXIMAGE_INFO* info) {
    if (!file || !info) return D3DERR_INVALIDCALL;
    std::string bytes;
    if (!readWholeFile(file, bytes) || bytes.empty()) return D3DXERR_INVALIDDATA;
    return D3DXGetImageInfoFromFileInMemory(bytes.data(), (UINT)bytes.size(), info);
}

HRESULT D3DXGetImageInfoFromFileA(LPCSTR file, D3DXIMAGE_INFO* info) {
    if (!file) return D3DERR_INVALIDCALL;
    return D3DXGetImageInfoFromFileW(VORTALEX::codepage::DecodeText(file).c_str(), info);
}

HRESULT D3DXCreateTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture) {
    if (!device || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    const Caps caps = deviceCaps(device);
    if (width == 0 || width == D3DX_DEFAULT) width = 256;
    if (height == 0 || height == D3DX_DEFAULT) height = 256;
    if (caps.pow2) {
        width = nextPow2(width);
        height = nextPow2(height);
    }
    if (width > caps.maxWidth || height > caps.maxHeight) return D3DERR_INVALIDCALL;
    if (format == D3DFMT_UNKNOWN || format == (D3DFORMAT)D3DX_DEFAULT) format = D3DFMT_A8R8G8B8;
    const UINT levels = (usage & D3DUSAGE_AUTOGENMIPMAP) ? 0 : resolveLevels(mipLevels, width, height);
    HRESULT hr = device->CreateTexture(width, height, levels, usage, format, pool, texture, nullptr);
    if (FAILED(hr) && format != D3DFMT_A8R8G8B8 && !(usage & D3DUSAGE_DEPTHSTENCIL)) {
        // The nearest format the device has.
        hr = device->CreateTexture(width, height, levels, usage, D3DFMT_A8R8G8B8, pool, texture, nullptr);
    }
    return hr;
}

HRESULT D3DXCreateTextureFromFileInMemory(IDirect3DDevice9* device, LPCVOID data, UINT size,
                                          IDirect3DTexture9** texture) {
    return D3DXCreateTextureFromFileInMemoryEx(device, data, size, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                               D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                               nullptr, nullptr, texture);
}

HRESULT D3DXCreateTextureFromFileW(IDirect3DDevice9* device, LPCWSTR file, IDirect3DTexture9** texture) {
    if (texture) *texture = nullptr;
    if (!device || !file || !texture) return D3DERR_INVALIDCALL;
    std::string bytes;
    if (!readWholeFile(file, bytes) || bytes.empty()) return D3DXERR_INVALIDDATA;
    return D3DXCreateTextureFromFileInMemory(device, bytes.data(), (UINT)bytes.size(), texture);
}

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, LPCSTR file, IDirect3DTexture9** texture) {
    if (texture) *texture = nullptr;
    if (!file) return D3DERR_INVALIDCALL;
    return D3DXCreateTextureFromFileW(device, VORTALEX::codepage::DecodeText(file).c_str(), texture);
}

HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* device, LPCVOID data, UINT size, UINT width,
                                            UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                            DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                            IDirect3DTexture9** texture) {
    (void)filter;    // resampling is always area/linear filtered
    (void)mipFilter; // mip levels are always box filtered
    (void)palette;   // no palettised formats are produced
    if (!device || !data || !size || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    const Caps caps = deviceCaps(device);
    try {
        // Default-pool textures are only writable when dynamic; D3DX would go
        // through a system-memory copy, which this device does not need.
        if (pool == D3DPOOL_DEFAULT && !(usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)))
            usage |= D3DUSAGE_DYNAMIC;
        if (IDirect3DTexture9* kept =
                keepBlocks(device, data, size, width, height, mipLevels, usage, format, pool, colorKey, caps)) {
            if (srcInfo) image::probe(data, size, *srcInfo);
            *texture = kept;
            return D3D_OK;
        }

        // Nothing bigger than the device's largest texture is decoded: D3DX
        // would scale it down to that size anyway.
        image::Decoded img;
        HRESULT hr = image::decode(data, size, (uint64_t)caps.maxWidth * caps.maxHeight, img);
        if (FAILED(hr)) return hr;
        if (srcInfo) *srcInfo = img.info;

        // Colour key: matching texels become transparent black.
        const bool keyed = colorKey != 0;
        if (keyed)
            for (image::Image& level : img.levels)
                for (uint32_t& t : level.texels)
                    if (t == colorKey) t = 0;

        const image::Image& top = img.levels[0];
        const UINT w = resolveSize(width, top.width, caps.pow2, caps.maxWidth);
        const UINT h = resolveSize(height, top.height, caps.pow2, caps.maxHeight);
        D3DFORMAT fmt = writableFormat(format, keyed || hasAlpha(img.info.Format));
        const UINT levels = resolveLevels(mipLevels == D3DX_FROM_FILE ? img.info.MipLevels : mipLevels, w, h);
        IDirect3DTexture9* tex = nullptr;
        hr = createTexture(device, w, h, levels, usage, fmt, pool, &tex);
        if (FAILED(hr)) return hr;
        if (image::bytesPerTexel(fmt) == 0) fmt = D3DFMT_A8R8G8B8;

        // Level 0 from the file (resampled when the size differs); each next
        // level is the file's own when it has one of that size, else the
        // previous one halved.
        const bool fileSize = top.width == w && top.height == h;
        image::Image scaled;
        if (!fileSize) scaled = image::resize(top, w, h);
        const image::Image* current = fileSize ? &top : &scaled;
        image::Image made;
        const UINT count = tex->GetLevelCount();
        for (UINT level = 0; level < count; ++level) {
            if (level > 0) {
                if (fileSize && level < img.levels.size()) {
                    current = &img.levels[level];
                } else {
                    made = image::halve(*current);
                    current = &made;
                }
            }
            hr = writeLevel(tex, level, *current, fmt);
            if (FAILED(hr)) {
                tex->Release();
                return hr;
            }
        }
        *texture = tex;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}
