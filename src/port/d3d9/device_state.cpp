// Device state: render, stage and sampler states, transforms, viewport,
// material, lights, scissor rectangle and vertex input, with their checks
// and defaults.
#include "port/d3d9/device.h"

#include <algorithm>
#include <cstring>

#include "port/d3d9/device_helpers.h"
#include "port/win32/portlog.h"

using namespace d3d9;

void PortDevice::ResetStates() {
    std::memset(m_rs, 0, sizeof(m_rs));
    auto f = AsDword;
    m_rs[D3DRS_ZENABLE] = m_params.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    m_rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    m_rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    m_rs[D3DRS_ZWRITEENABLE] = TRUE;
    m_rs[D3DRS_LASTPIXEL] = TRUE;
    m_rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    m_rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    m_rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    m_rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    m_rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    m_rs[D3DRS_FOGSTART] = f(0.0f);
    m_rs[D3DRS_FOGEND] = f(1.0f);
    m_rs[D3DRS_FOGDENSITY] = f(1.0f);
    m_rs[D3DRS_STENCILFAIL] = m_rs[D3DRS_STENCILZFAIL] = m_rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    m_rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    m_rs[D3DRS_STENCILMASK] = m_rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    m_rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    m_rs[D3DRS_CLIPPING] = TRUE;
    m_rs[D3DRS_LIGHTING] = TRUE;
    m_rs[D3DRS_COLORVERTEX] = TRUE;
    m_rs[D3DRS_LOCALVIEWER] = TRUE;
    m_rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    m_rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    m_rs[D3DRS_POINTSIZE] = f(1.0f);
    m_rs[D3DRS_POINTSIZE_MIN] = f(1.0f);
    m_rs[D3DRS_POINTSCALE_A] = f(1.0f);
    m_rs[D3DRS_POINTSCALE_B] = f(0.0f);
    m_rs[D3DRS_POINTSCALE_C] = f(0.0f);
    m_rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    m_rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    m_rs[D3DRS_DEBUGMONITORTOKEN] = 0xbaadcafe;
    m_rs[D3DRS_POINTSIZE_MAX] = f(64.0f);
    m_rs[D3DRS_COLORWRITEENABLE] = m_rs[D3DRS_COLORWRITEENABLE1] = m_rs[D3DRS_COLORWRITEENABLE2] =
        m_rs[D3DRS_COLORWRITEENABLE3] = 0xF;
    m_rs[D3DRS_TWEENFACTOR] = f(0.0f);
    m_rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    m_rs[D3DRS_POSITIONDEGREE] = 3;
    m_rs[D3DRS_NORMALDEGREE] = 1;
    m_rs[D3DRS_MINTESSELLATIONLEVEL] = f(1.0f);
    m_rs[D3DRS_MAXTESSELLATIONLEVEL] = f(1.0f);
    m_rs[D3DRS_ADAPTIVETESS_Z] = f(1.0f);
    m_rs[D3DRS_CCW_STENCILFAIL] = m_rs[D3DRS_CCW_STENCILZFAIL] = m_rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    m_rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    m_rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    m_rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    m_rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    m_rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;

    std::memset(m_tss, 0, sizeof(m_tss));
    for (DWORD s = 0; s < 8; ++s) {
        m_tss[s][D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        m_tss[s][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        m_tss[s][D3DTSS_COLORARG2] = D3DTA_CURRENT;
        m_tss[s][D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        m_tss[s][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        m_tss[s][D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        m_tss[s][D3DTSS_TEXCOORDINDEX] = s;
        m_tss[s][D3DTSS_COLORARG0] = m_tss[s][D3DTSS_ALPHAARG0] = m_tss[s][D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }
    for (auto& sampler : m_samp) {
        std::memset(sampler, 0, sizeof(sampler));
        sampler[D3DSAMP_ADDRESSU] = sampler[D3DSAMP_ADDRESSV] = sampler[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_MAGFILTER] = sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        sampler[D3DSAMP_MAXANISOTROPY] = 1;
    }
    m_view = m_proj = Identity();
    for (auto& m : m_texTransform) m = Identity();
    std::fill(m_world.begin(), m_world.end(), Identity());
    m_material = D3DMATERIAL9{};
    m_lights.clear();
    m_activeLights.clear();
    for (auto& t : m_textures) t = nullptr;
    m_fvf = 0;
    for (auto& s : m_streams) s = Stream{};
    m_indices = nullptr;
    m_renderTarget = m_backBuffer;
    m_depthStencil = m_autoDepth;
    m_viewport = D3DVIEWPORT9{0, 0, m_backBuffer->Width(), m_backBuffer->Height(), 0.0f, 1.0f};
    m_scissor = RECT{0, 0, static_cast<LONG>(m_backBuffer->Width()), static_cast<LONG>(m_backBuffer->Height())};
    m_dirty = DIRTY_ALL;
    m_textureDirty = m_samplerDirty = 0xFF;
    m_ffpDirty = true;
    m_attribFvf = 0xFFFFFFFF;
    for (int g = 0; g < PORT_UG_COUNT; ++g) BumpGeneration(static_cast<PortUniformGroup>(g));
}

HRESULT PortDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix) return D3DERR_INVALIDCALL;
    const DWORD s = static_cast<DWORD>(state);
    // Cameras set their view and projection every frame: unchanged ones
    // send nothing again (lights are lit in camera space and follow the view).
    if (s == D3DTS_VIEW) {
        if (std::memcmp(&m_view, matrix, sizeof(D3DMATRIX)) == 0) return D3D_OK;
        m_view = *matrix;
        BumpGeneration(PORT_UG_TRANSFORM);
        BumpGeneration(PORT_UG_LIGHTS);
    } else if (s == D3DTS_PROJECTION) {
        if (std::memcmp(&m_proj, matrix, sizeof(D3DMATRIX)) == 0) return D3D_OK;
        m_proj = *matrix;
        BumpGeneration(PORT_UG_TRANSFORM);
    } else if (s >= D3DTS_TEXTURE0 && s <= D3DTS_TEXTURE7) {
        m_texTransform[s - D3DTS_TEXTURE0] = *matrix;
    } else if (s >= 256 && s < 512) {
        m_world[s - 256] = *matrix;
        if (s == 256) BumpGeneration(PORT_UG_TRANSFORM);
    } else {
        return D3DERR_INVALIDCALL;
    }
    return D3D_OK;
}

HRESULT PortDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix) return D3DERR_INVALIDCALL;
    const DWORD s = static_cast<DWORD>(state);
    if (s == D3DTS_VIEW) *matrix = m_view;
    else if (s == D3DTS_PROJECTION) *matrix = m_proj;
    else if (s >= D3DTS_TEXTURE0 && s <= D3DTS_TEXTURE7) *matrix = m_texTransform[s - D3DTS_TEXTURE0];
    else if (s >= 256 && s < 512) *matrix = m_world[s - 256];
    else return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT PortDevice::MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix) return D3DERR_INVALIDCALL;
    D3DMATRIX current;
    if (HRESULT hr = GetTransform(state, &current); FAILED(hr)) return hr;
    D3DMATRIX product = Multiply(*matrix, current);
    return SetTransform(state, &product);
}

HRESULT PortDevice::SetViewport(const D3DVIEWPORT9* vp) {
    if (!vp) return D3DERR_INVALIDCALL;
    PortSurface* target = m_renderTarget ? m_renderTarget : m_backBuffer;
    if (vp->Width == 0 || vp->Height == 0 || static_cast<uint64_t>(vp->X) + vp->Width > target->Width() ||
        static_cast<uint64_t>(vp->Y) + vp->Height > target->Height())
        return D3DERR_INVALIDCALL;
    if (!(vp->MinZ >= 0.0f && vp->MinZ <= 1.0f && vp->MaxZ >= 0.0f && vp->MaxZ <= 1.0f)) return D3DERR_INVALIDCALL;
    if (std::memcmp(&m_viewport, vp, sizeof(D3DVIEWPORT9)) == 0) return D3D_OK;
    m_viewport = *vp;
    m_dirty |= DIRTY_VIEWPORT;
    BumpGeneration(PORT_UG_SCREEN);
    BumpGeneration(PORT_UG_MISC);
    return D3D_OK;
}

HRESULT PortDevice::GetViewport(D3DVIEWPORT9* vp) {
    if (!vp) return D3DERR_INVALIDCALL;
    *vp = m_viewport;
    return D3D_OK;
}

HRESULT PortDevice::SetMaterial(const D3DMATERIAL9* material) {
    if (!material) return D3DERR_INVALIDCALL;
    if (std::memcmp(material, &m_material, sizeof(D3DMATERIAL9)) == 0) return D3D_OK;
    m_material = *material;
    BumpGeneration(PORT_UG_MATERIAL);
    return D3D_OK;
}

HRESULT PortDevice::GetMaterial(D3DMATERIAL9* material) {
    if (!material) return D3DERR_INVALIDCALL;
    *material = m_material;
    return D3D_OK;
}

HRESULT PortDevice::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (!light) return D3DERR_INVALIDCALL;
    if (light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL) return D3DERR_INVALIDCALL;
    if (light->Type != D3DLIGHT_DIRECTIONAL && !(light->Range >= 0.0f)) return D3DERR_INVALIDCALL;
    if (light->Type != D3DLIGHT_POINT) {
        const D3DVECTOR& d = light->Direction;
        if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) return D3DERR_INVALIDCALL;
    }
    if (light->Type == D3DLIGHT_SPOT && (light->Theta < 0.0f || light->Phi < 0.0f || light->Theta > light->Phi))
        return D3DERR_INVALIDCALL;
    LightSlot& slot = m_lights[index];
    // Light objects set their light every frame; the same light sends nothing.
    if (std::memcmp(&slot.light, light, sizeof(D3DLIGHT9)) == 0) return D3D_OK;
    const bool typeChanged = slot.light.Type != light->Type;
    slot.light = *light;
    if (slot.enabled) {
        BumpGeneration(PORT_UG_LIGHTS);
        if (typeChanged) m_ffpDirty = true;
    }
    return D3D_OK;
}

HRESULT PortDevice::GetLight(DWORD index, D3DLIGHT9* light) {
    if (!light) return D3DERR_INVALIDCALL;
    auto it = m_lights.find(index);
    if (it == m_lights.end()) return D3DERR_INVALIDCALL;
    *light = it->second.light;
    return D3D_OK;
}

HRESULT PortDevice::LightEnable(DWORD index, BOOL enable) {
    auto it = m_lights.find(index);
    if (it == m_lights.end()) {
        if (!enable) return D3D_OK;
        // Enabling a light that was never set creates Direct3D's default light.
        LightSlot slot;
        slot.light = D3DLIGHT9{};
        slot.light.Type = D3DLIGHT_DIRECTIONAL;
        slot.light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
        slot.light.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
        it = m_lights.emplace(index, slot).first;
    }
    const bool on = enable != FALSE;
    if (it->second.enabled == on) return D3D_OK;
    it->second.enabled = on;
    if (on) {
        m_activeLights.push_back(index);
        if (m_activeLights.size() > m_caps.MaxActiveLights)
            PortLog(PortLogLevel::Warning, "more than 8 lights enabled; only the first 8 are used");
    } else {
        m_activeLights.erase(std::find(m_activeLights.begin(), m_activeLights.end(), index));
    }
    m_ffpDirty = true;
    BumpGeneration(PORT_UG_LIGHTS);
    return D3D_OK;
}

HRESULT PortDevice::GetLightEnable(DWORD index, BOOL* enable) {
    if (!enable) return D3DERR_INVALIDCALL;
    auto it = m_lights.find(index);
    if (it == m_lights.end()) return D3DERR_INVALIDCALL;
    *enable = it->second.enabled ? 128 : FALSE;  // Direct3D reports enabled lights as 128
    return D3D_OK;
}

void PortDevice::MarkRenderState(D3DRENDERSTATETYPE state) {
    switch (state) {
    case D3DRS_ZENABLE:
    case D3DRS_ZWRITEENABLE:
    case D3DRS_ZFUNC: m_dirty |= DIRTY_DEPTH; break;
    case D3DRS_FILLMODE:
    case D3DRS_CULLMODE:
    case D3DRS_DEPTHBIAS:
    case D3DRS_SLOPESCALEDEPTHBIAS:
    case D3DRS_MULTISAMPLEANTIALIAS: m_dirty |= DIRTY_RASTER; break;
    case D3DRS_ALPHABLENDENABLE:
    case D3DRS_SRCBLEND:
    case D3DRS_DESTBLEND:
    case D3DRS_BLENDOP:
    case D3DRS_SEPARATEALPHABLENDENABLE:
    case D3DRS_SRCBLENDALPHA:
    case D3DRS_DESTBLENDALPHA:
    case D3DRS_BLENDOPALPHA:
    case D3DRS_BLENDFACTOR: m_dirty |= DIRTY_BLEND; break;
    case D3DRS_STENCILENABLE:
    case D3DRS_STENCILFAIL:
    case D3DRS_STENCILZFAIL:
    case D3DRS_STENCILPASS:
    case D3DRS_STENCILFUNC:
    case D3DRS_STENCILREF:
    case D3DRS_STENCILMASK:
    case D3DRS_STENCILWRITEMASK:
    case D3DRS_TWOSIDEDSTENCILMODE:
    case D3DRS_CCW_STENCILFAIL:
    case D3DRS_CCW_STENCILZFAIL:
    case D3DRS_CCW_STENCILPASS:
    case D3DRS_CCW_STENCILFUNC: m_dirty |= DIRTY_STENCIL; break;
    case D3DRS_COLORWRITEENABLE: m_dirty |= DIRTY_COLORMASK; break;
    case D3DRS_SCISSORTESTENABLE: m_dirty |= DIRTY_SCISSOR; break;
    case D3DRS_LIGHTING:
    case D3DRS_SPECULARENABLE:
    case D3DRS_LOCALVIEWER:
    case D3DRS_NORMALIZENORMALS:
    case D3DRS_COLORVERTEX:
    case D3DRS_DIFFUSEMATERIALSOURCE:
    case D3DRS_SPECULARMATERIALSOURCE:
    case D3DRS_AMBIENTMATERIALSOURCE:
    case D3DRS_EMISSIVEMATERIALSOURCE:
    case D3DRS_FOGENABLE:
    case D3DRS_FOGTABLEMODE:
    case D3DRS_FOGVERTEXMODE:
    case D3DRS_RANGEFOGENABLE:
    case D3DRS_ALPHATESTENABLE:
    case D3DRS_ALPHAFUNC:
    case D3DRS_POINTSPRITEENABLE:
    case D3DRS_POINTSCALEENABLE:
    case D3DRS_SHADEMODE: m_ffpDirty = true; break;
    case D3DRS_AMBIENT: BumpGeneration(PORT_UG_MATERIAL); break;
    case D3DRS_TEXTUREFACTOR:
    case D3DRS_ALPHAREF:
    case D3DRS_FOGCOLOR:
    case D3DRS_FOGSTART:
    case D3DRS_FOGEND:
    case D3DRS_FOGDENSITY:
    case D3DRS_POINTSIZE:
    case D3DRS_POINTSIZE_MIN:
    case D3DRS_POINTSIZE_MAX:
    case D3DRS_POINTSCALE_A:
    case D3DRS_POINTSCALE_B:
    case D3DRS_POINTSCALE_C: BumpGeneration(PORT_UG_MISC); break;
    default: break;
    }
}

HRESULT PortDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!ValidRenderState(static_cast<DWORD>(state))) return D3DERR_INVALIDCALL;
    if (m_rs[state] == value) return D3D_OK;  // unchanged states cost nothing
    m_rs[state] = value;
    MarkRenderState(state);
    return D3D_OK;
}

HRESULT PortDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || !ValidRenderState(static_cast<DWORD>(state))) return D3DERR_INVALIDCALL;
    *value = m_rs[state];
    return D3D_OK;
}

HRESULT PortDevice::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    int slot = SamplerSlot(stage);
    if (slot < 0) return D3DERR_INVALIDCALL;
    if (m_textures[slot]) {
        m_textures[slot]->AddRef();
        *texture = m_textures[slot];
    }
    return D3D_OK;
}

HRESULT PortDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    int slot = SamplerSlot(stage);
    if (slot < 0) return D3DERR_INVALIDCALL;
    if (m_textures[slot] == texture) return D3D_OK;
    if ((m_textures[slot] == nullptr) != (texture == nullptr) && slot < 8) m_ffpDirty = true;
    m_textures[slot] = texture;
    if (slot < 8) m_textureDirty |= 1u << slot;
    return D3D_OK;
}

HRESULT PortDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (!value || stage >= 8 || !ValidStageState(static_cast<DWORD>(type))) return D3DERR_INVALIDCALL;
    *value = m_tss[stage][type];
    return D3D_OK;
}

HRESULT PortDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= 8 || !ValidStageState(static_cast<DWORD>(type))) return D3DERR_INVALIDCALL;
    if (m_tss[stage][type] == value) return D3D_OK;
    m_tss[stage][type] = value;
    if (type == D3DTSS_CONSTANT) BumpGeneration(PORT_UG_MISC);
    else m_ffpDirty = true;
    return D3D_OK;
}

HRESULT PortDevice::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    int slot = SamplerSlot(sampler);
    if (!value || slot < 0 || type < D3DSAMP_ADDRESSU || type > D3DSAMP_DMAPOFFSET) return D3DERR_INVALIDCALL;
    *value = m_samp[slot][type];
    return D3D_OK;
}

HRESULT PortDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    int slot = SamplerSlot(sampler);
    if (slot < 0 || type < D3DSAMP_ADDRESSU || type > D3DSAMP_DMAPOFFSET) return D3DERR_INVALIDCALL;
    if (m_samp[slot][type] == value) return D3D_OK;
    m_samp[slot][type] = value;
    if (slot < 8) m_samplerDirty |= 1u << slot;
    return D3D_OK;
}

HRESULT PortDevice::SetScissorRect(const RECT* rect) {
    if (!rect) return D3DERR_INVALIDCALL;
    if (std::memcmp(&m_scissor, rect, sizeof(RECT)) == 0) return D3D_OK;
    m_scissor = *rect;
    m_dirty |= DIRTY_SCISSOR;
    return D3D_OK;
}

HRESULT PortDevice::GetScissorRect(RECT* rect) {
    if (!rect) return D3DERR_INVALIDCALL;
    *rect = m_scissor;
    return D3D_OK;
}

HRESULT PortDevice::SetFVF(DWORD fvf) {
    if (fvf && PortFvfSize(fvf) == 0) return D3DERR_INVALIDCALL;
    m_fvf = fvf;
    return D3D_OK;
}

HRESULT PortDevice::GetFVF(DWORD* fvf) {
    if (!fvf) return D3DERR_INVALIDCALL;
    *fvf = m_fvf;
    return D3D_OK;
}

HRESULT PortDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
    if (stream >= 16) return D3DERR_INVALIDCALL;
    auto* vb = static_cast<PortVertexBuffer*>(buffer);
    if (vb && offset >= vb->Size()) return D3DERR_INVALIDCALL;
    m_streams[stream] = Stream{vb, vb ? offset : 0, vb ? stride : 0};
    return D3D_OK;
}

HRESULT PortDevice::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) {
    if (stream >= 16 || !buffer || !offset || !stride) return D3DERR_INVALIDCALL;
    const Stream& s = m_streams[stream];
    *buffer = s.buffer;
    if (s.buffer) s.buffer->AddRef();
    *offset = s.offset;
    *stride = s.stride;
    return D3D_OK;
}

HRESULT PortDevice::SetIndices(IDirect3DIndexBuffer9* buffer) {
    m_indices = static_cast<PortIndexBuffer*>(buffer);
    return D3D_OK;
}

HRESULT PortDevice::GetIndices(IDirect3DIndexBuffer9** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = m_indices;
    if (m_indices) m_indices->AddRef();
    return D3D_OK;
}
