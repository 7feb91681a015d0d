// Creation of textures, buffers, surfaces and queries, and the device's
// bookkeeping when they are released.
#include "port/d3d9/device.h"

#include <algorithm>

#include "port/d3d9/device_helpers.h"

using namespace d3d9;

HRESULT PortDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DTexture9** texture, HANDLE* sharedHandle) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (sharedHandle) return D3DERR_INVALIDCALL;
    if (width == 0 || height == 0 || width > m_caps.MaxTextureWidth || height > m_caps.MaxTextureHeight)
        return D3DERR_INVALIDCALL;
    const PortFormatInfo* info = PortFindFormat(format);
    if (!info || info->depth) return D3DERR_INVALIDCALL;
    if (info->compressed && !PortGetGLCaps().s3tc) return D3DERR_NOTAVAILABLE;
    if (pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DEPTHSTENCIL)) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_RENDERTARGET) && !info->renderTarget) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    UINT full = 1;
    for (UINT w = width, h = height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) ++full;
    if (usage & D3DUSAGE_AUTOGENMIPMAP) {
        if (levels > 1) return D3DERR_INVALIDCALL;
        levels = 1;
    }
    if (levels == 0) levels = full;
    if (levels > full) return D3DERR_INVALIDCALL;
    auto* t = new PortTexture(this, width, height, levels, usage, *info, pool);
    if (!t->Create()) {
        t->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *texture = t;
    return D3D_OK;
}

HRESULT PortDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                       IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (sharedHandle || length == 0 || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    if (fvf && PortFvfSize(fvf) == 0) return D3DERR_INVALIDCALL;
    if (fvf && length < PortFvfSize(fvf)) return D3DERR_INVALIDCALL;
    auto* vb = new PortVertexBuffer(this, length, usage, fvf, pool);
    if (!vb->Valid()) {
        vb->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *buffer = vb;
    return D3D_OK;
}

HRESULT PortDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (sharedHandle || length == 0 || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    auto* ib = new PortIndexBuffer(this, length, usage, format, pool);
    if (!ib->Valid()) {
        ib->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *buffer = ib;
    return D3D_OK;
}

// Surfaces are held to the texture size limit: beyond it their row pitch and
// memory size would no longer fit the 32-bit values Direct3D reports them in.
bool PortDevice::SurfaceSizeFits(UINT width, UINT height) const {
    return width > 0 && height > 0 && width <= m_caps.MaxTextureWidth && height <= m_caps.MaxTextureHeight;
}

HRESULT PortDevice::CreateTargetSurface(bool depth, UINT width, UINT height, D3DFORMAT format,
                                        D3DMULTISAMPLE_TYPE multiSample, DWORD quality, IDirect3DSurface9** surface,
                                        HANDLE* sharedHandle) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (sharedHandle || !SurfaceSizeFits(width, height)) return D3DERR_INVALIDCALL;
    const PortFormatInfo* info = PortFindFormat(format);
    if (!info || !(depth ? info->depth : info->renderTarget)) return D3DERR_INVALIDCALL;
    if (FAILED(m_d3d->CheckDeviceMultiSampleType(m_adapter, m_type, format, TRUE, multiSample, nullptr)) || quality > 0)
        return D3DERR_INVALIDCALL;
    auto* s = new PortSurface(this, depth ? PortSurface::Kind::DepthStencil : PortSurface::Kind::RenderTarget, width,
                              height, format, D3DPOOL_DEFAULT, depth ? D3DUSAGE_DEPTHSTENCIL : D3DUSAGE_RENDERTARGET,
                              multiSample, nullptr);
    if (!s->CreateStorage()) {
        s->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *surface = s;
    return D3D_OK;
}

HRESULT PortDevice::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                       DWORD quality, BOOL, IDirect3DSurface9** surface, HANDLE* sharedHandle) {
    return CreateTargetSurface(false, width, height, format, multiSample, quality, surface, sharedHandle);
}

HRESULT PortDevice::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                              D3DMULTISAMPLE_TYPE multiSample, DWORD quality, BOOL,
                                              IDirect3DSurface9** surface, HANDLE* sharedHandle) {
    return CreateTargetSurface(true, width, height, format, multiSample, quality, surface, sharedHandle);
}

HRESULT PortDevice::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DSurface9** surface, HANDLE* sharedHandle) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (sharedHandle || pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH || !SurfaceSizeFits(width, height))
        return D3DERR_INVALIDCALL;
    const PortFormatInfo* info = PortFindFormat(format);
    if (!info || info->depth) return D3DERR_INVALIDCALL;
    *surface = new PortSurface(this, PortSurface::Kind::OffscreenPlain, width, height, format, pool, 0,
                               D3DMULTISAMPLE_NONE, nullptr);
    return D3D_OK;
}

HRESULT PortDevice::CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) {
    if (type != D3DQUERYTYPE_OCCLUSION && type != D3DQUERYTYPE_EVENT) return D3DERR_NOTAVAILABLE;
    if (type == D3DQUERYTYPE_OCCLUSION && m_noOcclusionQueries) return D3DERR_NOTAVAILABLE;
    if (!query) return D3D_OK;  // a support check
    *query = new PortQuery(this, type);
    return D3D_OK;
}

void PortDevice::TextureDestroyed(PortTexture* texture) {
    if (m_batchCount && MakeCurrent()) FlushBatch();  // waiting draws may sample it
    for (int i = 0; i < 21; ++i) {
        if (m_textures[i] == texture) {
            m_textures[i] = nullptr;
            if (i < 8) m_textureDirty |= 1u << i;
            m_ffpDirty = true;
        }
    }
    for (GLuint& bound : m_boundTextures)
        if (bound == texture->Name()) bound = 0xFFFFFFFF;  // forces a rebind
}

void PortDevice::BufferDestroyed(GLuint name) {
    if (m_batchCount && MakeCurrent()) FlushBatch();  // waiting draws may read it
    for (Stream& s : m_streams)
        if (s.buffer && s.buffer->Name() == name) s = Stream{};
    if (m_indices && m_indices->Name() == name) m_indices = nullptr;
    if (m_boundArray == name) m_boundArray = 0;
    if (m_boundElement == name) m_boundElement = 0;
    if (m_attribBuffer == name) m_attribFvf = 0xFFFFFFFF;
}
