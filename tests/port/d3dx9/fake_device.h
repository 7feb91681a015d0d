// A CPU-only device for the D3DX tests: buffers and textures are plain
// memory, and indexed draws are recorded so tests can check what was drawn.
#pragma once

#include "port/d3d9/d3d9.h"

#include <cstring>
#include <vector>

namespace testdev {

template <class I>
class Ref : public I {
public:
    HRESULT QueryInterface(REFIID, void** o) override {
        if (o) *o = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        const ULONG r = --refs;
        if (r == 0) delete this;
        return r;
    }
    ULONG refs = 1;
};

class Buffer9 : public Ref<IDirect3DVertexBuffer9> {
public:
    explicit Buffer9(UINT n) : bytes(n) {}
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT off, UINT, void** p, DWORD) override {
        *p = bytes.data() + off;
        return D3D_OK;
    }
    HRESULT Unlock() override { return D3D_OK; }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC*) override { return E_NOTIMPL; }
    std::vector<unsigned char> bytes;
};

class Index9 : public Ref<IDirect3DIndexBuffer9> {
public:
    Index9(UINT n, D3DFORMAT f) : bytes(n), format(f) {}
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT Lock(UINT off, UINT, void** p, DWORD) override {
        *p = bytes.data() + off;
        return D3D_OK;
    }
    HRESULT Unlock() override { return D3D_OK; }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC*) override { return E_NOTIMPL; }
    std::vector<unsigned char> bytes;
    D3DFORMAT format;
};

inline UINT bytesPerTexel(D3DFORMAT f) {
    switch (f) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8: return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: return 2;
    case D3DFMT_R8G8B8: return 3;
    case D3DFMT_A8:
    case D3DFMT_L8: return 1;
    default: return 0;
    }
}

// Bytes of one 4 x 4 block of a block-compressed format (0: not one).
inline UINT bytesPerBlock(D3DFORMAT f) {
    if (f == D3DFMT_DXT1) return 8;
    if (f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 || f == D3DFMT_DXT5) return 16;
    return 0;
}

// Bytes of one row of texels (or of 4 x 4 blocks) of a level.
inline UINT levelPitch(D3DFORMAT f, UINT w) {
    return bytesPerBlock(f) ? (w + 3) / 4 * bytesPerBlock(f) : w * bytesPerTexel(f);
}

class Texture9 : public Ref<IDirect3DTexture9> {
public:
    struct Level {
        UINT w, h;
        std::vector<unsigned char> bytes;
    };
    // Bytes held by all textures alive.
    static inline size_t liveBytes = 0;
    Texture9(UINT w, UINT h, UINT levels, DWORD u, D3DFORMAT f, D3DPOOL p) : usage(u), format(f), pool(p) {
        for (UINT i = 0; i < levels; ++i) {
            Level l{w, h, {}};
            l.bytes.resize((size_t)levelPitch(f, w) * (bytesPerBlock(f) ? (h + 3) / 4 : h));
            liveBytes += l.bytes.size();
            this->levels.push_back(std::move(l));
            if (w == 1 && h == 1) break;
            w = w > 1 ? w / 2 : 1;
            h = h > 1 ? h / 2 : 1;
        }
    }
    ~Texture9() override {
        for (const Level& l : levels) liveBytes -= l.bytes.size();
    }
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return (DWORD)levels.size(); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* d) override {
        if (level >= levels.size()) return D3DERR_INVALIDCALL;
        std::memset(d, 0, sizeof *d);
        d->Format = format;
        d->Type = D3DRTYPE_SURFACE;
        d->Usage = usage;
        d->Pool = pool;
        d->Width = levels[level].w;
        d->Height = levels[level].h;
        return D3D_OK;
    }
    HRESULT GetSurfaceLevel(UINT, IDirect3DSurface9**) override { return E_NOTIMPL; }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* r, const RECT*, DWORD) override {
        if (level >= levels.size()) return D3DERR_INVALIDCALL;
        r->Pitch = (INT)levelPitch(format, levels[level].w);
        r->pBits = levels[level].bytes.data();
        return D3D_OK;
    }
    HRESULT UnlockRect(UINT) override { return D3D_OK; }
    // Texel (x, y) of a level as 32-bit ARGB (A8R8G8B8/X8R8G8B8 only).
    DWORD texel(UINT level, UINT x, UINT y) const {
        DWORD v;
        std::memcpy(&v, levels[level].bytes.data() + ((size_t)y * levels[level].w + x) * 4, 4);
        return v;
    }
    DWORD usage;
    D3DFORMAT format;
    D3DPOOL pool;
    std::vector<Level> levels;
};

struct DrawCall {
    INT baseVertex;
    UINT minIndex, numVertices, startIndex, primCount;
    DWORD fvf;
    UINT stride;
    const Buffer9* vb;
    const Index9* ib;
};

class Device9 : public Ref<IDirect3DDevice9> {
public:
    HRESULT TestCooperativeLevel() override { return D3D_OK; }
    UINT GetAvailableTextureMem() override { return 1u << 30; }
    HRESULT GetDirect3D(IDirect3D9**) override { return E_NOTIMPL; }
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override {
        std::memset(caps, 0, sizeof *caps);
        caps->MaxTextureWidth = maxTexture;
        caps->MaxTextureHeight = maxTexture;
        caps->TextureCaps = textureCaps;
        return D3D_OK;
    }
    HRESULT GetDisplayMode(UINT, D3DDISPLAYMODE*) override { return E_NOTIMPL; }
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS*) override { return E_NOTIMPL; }
    HRESULT Reset(D3DPRESENT_PARAMETERS*) override { return E_NOTIMPL; }
    HRESULT Present(const RECT*, const RECT*, HWND, const RGNDATA*) override { return D3D_OK; }
    HRESULT GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9**) override { return E_NOTIMPL; }
    HRESULT CreateTexture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** t, HANDLE*) override {
        const bool known = bytesPerTexel(format) != 0 || (blockFormats && bytesPerBlock(format) != 0);
        if (!t || w == 0 || h == 0 || w > maxTexture || h > maxTexture || !known) return D3DERR_INVALIDCALL;
        if (levels == 0) {
            levels = 1;
            for (UINT s = w > h ? w : h; s > 1; s /= 2) ++levels;
        }
        *t = new Texture9(w, h, levels, usage, format, pool);
        ++texturesCreated;
        return D3D_OK;
    }
    HRESULT CreateVertexBuffer(UINT length, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9** vb, HANDLE*) override {
        *vb = new Buffer9(length);
        return D3D_OK;
    }
    HRESULT CreateIndexBuffer(UINT length, DWORD, D3DFORMAT format, D3DPOOL, IDirect3DIndexBuffer9** ib,
                              HANDLE*) override {
        *ib = new Index9(length, format);
        return D3D_OK;
    }
    HRESULT CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**,
                               HANDLE*) override {
        return E_NOTIMPL;
    }
    HRESULT CreateDepthStencilSurface(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**,
                                      HANDLE*) override {
        return E_NOTIMPL;
    }
    HRESULT CreateOffscreenPlainSurface(UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9**, HANDLE*) override {
        return E_NOTIMPL;
    }
    HRESULT CreateQuery(D3DQUERYTYPE, IDirect3DQuery9**) override { return E_NOTIMPL; }
    HRESULT GetRenderTargetData(IDirect3DSurface9*, IDirect3DSurface9*) override { return E_NOTIMPL; }
    HRESULT SetRenderTarget(DWORD, IDirect3DSurface9*) override { return E_NOTIMPL; }
    HRESULT GetRenderTarget(DWORD, IDirect3DSurface9**) override { return E_NOTIMPL; }
    HRESULT SetDepthStencilSurface(IDirect3DSurface9*) override { return E_NOTIMPL; }
    HRESULT GetDepthStencilSurface(IDirect3DSurface9**) override { return E_NOTIMPL; }
    HRESULT BeginScene() override { return D3D_OK; }
    HRESULT EndScene() override { return D3D_OK; }
    HRESULT Clear(DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD) override { return D3D_OK; }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return D3D_OK; }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE, D3DMATRIX*) override { return E_NOTIMPL; }
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return E_NOTIMPL; }
    HRESULT SetViewport(const D3DVIEWPORT9*) override { return D3D_OK; }
    HRESULT GetViewport(D3DVIEWPORT9*) override { return E_NOTIMPL; }
    HRESULT SetMaterial(const D3DMATERIAL9*) override { return D3D_OK; }
    HRESULT GetMaterial(D3DMATERIAL9*) override { return E_NOTIMPL; }
    HRESULT SetLight(DWORD, const D3DLIGHT9*) override { return D3D_OK; }
    HRESULT GetLight(DWORD, D3DLIGHT9*) override { return E_NOTIMPL; }
    HRESULT LightEnable(DWORD, BOOL) override { return D3D_OK; }
    HRESULT GetLightEnable(DWORD, BOOL*) override { return E_NOTIMPL; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE, DWORD) override { return D3D_OK; }
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD*) override { return E_NOTIMPL; }
    HRESULT GetTexture(DWORD, IDirect3DBaseTexture9**) override { return E_NOTIMPL; }
    HRESULT SetTexture(DWORD, IDirect3DBaseTexture9*) override { return D3D_OK; }
    HRESULT GetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD*) override { return E_NOTIMPL; }
    HRESULT SetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD) override { return D3D_OK; }
    HRESULT GetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD*) override { return E_NOTIMPL; }
    HRESULT SetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD) override { return D3D_OK; }
    HRESULT SetScissorRect(const RECT*) override { return D3D_OK; }
    HRESULT GetScissorRect(RECT*) override { return E_NOTIMPL; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return D3D_OK; }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT numVertices,
                                 UINT startIndex, UINT primCount) override {
        if (type != D3DPT_TRIANGLELIST || !stream || !indices) return D3DERR_INVALIDCALL;
        draws.push_back({baseVertex, minIndex, numVertices, startIndex, primCount, fvf, stride, stream, indices});
        return D3D_OK;
    }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return D3D_OK; }
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE, UINT, UINT, UINT, const void*, D3DFORMAT, const void*,
                                   UINT) override {
        return D3D_OK;
    }
    HRESULT SetFVF(DWORD f) override {
        fvf = f;
        return D3D_OK;
    }
    HRESULT GetFVF(DWORD* f) override {
        *f = fvf;
        return D3D_OK;
    }
    HRESULT SetStreamSource(UINT, IDirect3DVertexBuffer9* vb, UINT, UINT s) override {
        stream = static_cast<Buffer9*>(vb);
        stride = s;
        return D3D_OK;
    }
    HRESULT GetStreamSource(UINT, IDirect3DVertexBuffer9**, UINT*, UINT*) override { return E_NOTIMPL; }
    HRESULT SetIndices(IDirect3DIndexBuffer9* ib) override {
        indices = static_cast<Index9*>(ib);
        return D3D_OK;
    }
    HRESULT GetIndices(IDirect3DIndexBuffer9**) override { return E_NOTIMPL; }

    // Triangles (as vertex positions) of every recorded draw, read back from
    // the device buffers, so tests can compare drawn geometry.
    std::vector<float> drawnTriangles() const {
        std::vector<float> out;
        for (const DrawCall& d : draws) {
            const bool wide = d.ib->format == D3DFMT_INDEX32;
            for (UINT i = 0; i < d.primCount * 3; ++i) {
                const size_t at = (size_t)(d.startIndex + i) * (wide ? 4 : 2);
                UINT idx = 0;
                std::memcpy(&idx, d.ib->bytes.data() + at, wide ? 4 : 2);
                float p[3];
                std::memcpy(p, d.vb->bytes.data() + (size_t)(idx + d.baseVertex) * d.stride, sizeof p);
                out.insert(out.end(), p, p + 3);
            }
        }
        return out;
    }

    UINT maxTexture = 4096;
    DWORD textureCaps = 0;      // D3DPTEXTURECAPS_*
    bool blockFormats = false;  // whether DXT textures can be created
    int texturesCreated = 0;
    DWORD fvf = 0;
    UINT stride = 0;
    Buffer9* stream = nullptr;
    Index9* indices = nullptr;
    std::vector<DrawCall> draws;
};

} // namespace testdev
