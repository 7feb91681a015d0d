// D3DX texture creation: sizes, mip chains and formats resolved as D3DX
// does, texels written level by level through LockRect.
#include "port/d3d9/device_gl.h"
#include "port/d3dx9/d3dx9mesh.h"
#include "port/d3dx9/d3dx9tex.h"
#include "port/d3dx9/image.h"

#include <algorithm>
#include <new>

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

// Formats this layer can write; the rest fall back to 32-bit ARGB.
D3DFORMAT writableFormat(D3DFORMAT f, bool alpha) {
    if (f == D3DFMT_UNKNOWN || f == (D3DFORMAT)D3DX_DEFAULT || f == D3DFMT_FROM_FILE)
        return alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    if (f == D3DFMT_R8G8B8) return D3DFMT_X8R8G8B8; // 24-bit textures are not offered by devices
    if (image::bytesPerTexel(f) == 0) return D3DFMT_A8R8G8B8;
    return f;
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

} // namespace

HRESULT D3DXGetImageInfoFromFileInMemory(LPCVOID data, UINT size, D3DXIMAGE_INFO* info) {
    if (!data || !size || !info) return D3DERR_INVALIDCALL;
    return image::probe(data, size, *info);
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
    image::Decoded img;
    try {
        HRESULT hr = image::decode(data, size, std::max(caps.maxWidth, caps.maxHeight), img);
        if (FAILED(hr)) return hr;
        if (img.info.Width > caps.maxWidth || img.info.Height > caps.maxHeight) return D3DERR_INVALIDCALL;
        if (srcInfo) *srcInfo = img.info;

        // Colour key: matching texels become transparent black.
        const bool keyed = colorKey != 0;
        if (keyed)
            for (image::Image& level : img.levels)
                for (uint32_t& t : level.texels)
                    if (t == colorKey) t = 0;

        // Size: the file's, rounded up to powers of two unless asked otherwise.
        UINT w = width, h = height;
        const bool keepFileSize = width == D3DX_DEFAULT_NONPOW2 || width == D3DX_FROM_FILE;
        if (w == 0 || w == D3DX_DEFAULT || w == D3DX_DEFAULT_NONPOW2 || w == D3DX_FROM_FILE) w = img.info.Width;
        if (h == 0 || h == D3DX_DEFAULT || h == D3DX_DEFAULT_NONPOW2 || h == D3DX_FROM_FILE) h = img.info.Height;
        if (caps.pow2 || (!keepFileSize && (width == 0 || width == D3DX_DEFAULT))) {
            w = nextPow2(w);
            h = nextPow2(h);
        }
        if (w > caps.maxWidth || h > caps.maxHeight) return D3DERR_INVALIDCALL;

        const bool alpha = keyed || img.info.Format == D3DFMT_A8R8G8B8 || img.info.Format == D3DFMT_A8L8 ||
                           img.info.Format == D3DFMT_A1R5G5B5 || img.info.Format == D3DFMT_A4R4G4B4 ||
                           img.info.Format == D3DFMT_A8 || img.info.Format == D3DFMT_DXT1 ||
                           img.info.Format == D3DFMT_DXT2 || img.info.Format == D3DFMT_DXT3 ||
                           img.info.Format == D3DFMT_DXT4 || img.info.Format == D3DFMT_DXT5;
        D3DFORMAT fmt = writableFormat(format, alpha);
        const UINT levels = resolveLevels(mipLevels == D3DX_FROM_FILE ? img.info.MipLevels : mipLevels, w, h);
        // Default-pool textures are only writable when dynamic; D3DX would go
        // through a system-memory copy, which this device does not need.
        if (pool == D3DPOOL_DEFAULT && !(usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)))
            usage |= D3DUSAGE_DYNAMIC;
        IDirect3DTexture9* tex = nullptr;
        hr = createTexture(device, w, h, levels, usage, fmt, pool, &tex);
        if (FAILED(hr)) return hr;
        if (image::bytesPerTexel(fmt) == 0) fmt = D3DFMT_A8R8G8B8;

        image::Image current = image::resize(img.levels[0], w, h);
        const UINT made = tex->GetLevelCount();
        for (UINT level = 0; level < made; ++level) {
            if (level > 0) {
                // The file's own mip level when it matches, else a filtered one.
                if (level < img.levels.size() && img.levels[0].width == w && img.levels[0].height == h)
                    current = img.levels[level];
                else
                    current = image::halve(current);
            }
            hr = writeLevel(tex, level, current, fmt);
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
