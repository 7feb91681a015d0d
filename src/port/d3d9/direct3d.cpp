// The Direct3D object: adapters and display modes from SDL, capabilities and
// format support from the probed OpenGL, device creation.
#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "port/d3d9/d3d9.h"
#include "port/d3d9/device.h"
#include "port/d3d9/formats.h"
#include "port/d3d9/gl.h"
#include "port/d3d9/glcaps.h"
#include "port/win32/portlog.h"
#include "port/win32/sdlvideo.h"

void PortReadGLCaps(PortGLCaps& caps) {
    caps.available = true;
    auto str = [](GLenum e) {
        const GLubyte* s = glGetString(e);
        return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
    };
    caps.vendor = str(GL_VENDOR);
    caps.renderer = str(GL_RENDERER);
    caps.version = str(GL_VERSION);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &caps.maxTextureSize);
    glGetIntegerv(GL_MAX_SAMPLES, &caps.maxSamples);
    GLfloat range[2] = {1.0f, 1.0f};
    glGetFloatv(GL_POINT_SIZE_RANGE, range);
    caps.maxPointSize = range[1];
    caps.clipControl = epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_ARB_clip_control");
    caps.s3tc = epoxy_has_gl_extension("GL_EXT_texture_compression_s3tc");
    caps.mirrorClamp = epoxy_gl_version() >= 44 || epoxy_has_gl_extension("GL_ARB_texture_mirror_clamp_to_edge");
    if (epoxy_gl_version() >= 46 || epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic") ||
        epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic")) {
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &caps.maxAnisotropy);
    }
    auto counts = [&](GLenum internal) {
        std::vector<int> out;
        if (epoxy_gl_version() >= 42 || epoxy_has_gl_extension("GL_ARB_internalformat_query")) {
            GLint n = 0;
            glGetInternalformativ(GL_RENDERBUFFER, internal, GL_NUM_SAMPLE_COUNTS, 1, &n);
            if (n > 0) {
                std::vector<GLint> samples(static_cast<size_t>(n));
                glGetInternalformativ(GL_RENDERBUFFER, internal, GL_SAMPLES, n, samples.data());
                out.assign(samples.begin(), samples.end());
            }
        } else {
            for (int s = 2; s <= caps.maxSamples; s *= 2) out.push_back(s);
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    caps.baseInstance = epoxy_gl_version() >= 42 || epoxy_has_gl_extension("GL_ARB_base_instance");
    glGetIntegerv(GL_MAX_UNIFORM_BLOCK_SIZE, &caps.maxUniformBlockSize);
    glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &caps.uniformBufferAlignment);
    if (caps.maxUniformBlockSize < 16384) caps.maxUniformBlockSize = 16384;   // the OpenGL 3.3 minimum
    if (caps.uniformBufferAlignment < 1) caps.uniformBufferAlignment = 256;
    caps.colorSampleCounts = counts(GL_RGBA8);
    caps.depthSampleCounts = counts(GL_DEPTH24_STENCIL8);
    while (glGetError() != GL_NO_ERROR) {
    }
}

const PortGLCaps& PortGetGLCaps() {
    static PortGLCaps caps;
    static bool probed = false;
    if (probed) return caps;
    probed = true;
    if (!PortEnsureVideo()) return caps;
    SDL_Window* window = PortCreateGLWindow("probe", 0, 0, 16, 16, SDL_WINDOW_HIDDEN);
    if (!window) {
        PortLog(PortLogLevel::Error, std::string("OpenGL probe window failed: ") + SDL_GetError());
        return caps;
    }
    SDL_GLContext previous = SDL_GL_GetCurrentContext();
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) {
        PortLog(PortLogLevel::Error, std::string("OpenGL 3.3 core context unavailable: ") + SDL_GetError());
    } else {
        PortReadGLCaps(caps);
        SDL_GL_DeleteContext(context);
    }
    SDL_DestroyWindow(window);
    if (previous) SDL_GL_MakeCurrent(previousWindow, previous);
    return caps;
}

namespace {

D3DFORMAT FormatOfBpp(int bpp) {
    if (bpp == 16) return D3DFMT_R5G6B5;
    if (bpp == 15) return D3DFMT_X1R5G5B5;
    if (bpp == 30) return D3DFMT_A2R10G10B10;
    return D3DFMT_X8R8G8B8;
}

bool SamplesSupported(const std::vector<int>& counts, int samples) {
    return std::find(counts.begin(), counts.end(), samples) != counts.end();
}

class PortDirect3D final : public IDirect3D9 {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }

    UINT GetAdapterCount() override {
        int n = SDL_GetNumVideoDisplays();
        return n > 0 ? static_cast<UINT>(n) : 0;
    }

    HRESULT GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER9* id) override {
        if (!id || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
        std::memset(id, 0, sizeof(*id));
        const PortGLCaps& caps = PortGetGLCaps();
        std::string description = caps.renderer.empty() ? std::string("OpenGL") : caps.renderer;
        std::strncpy(id->Description, description.c_str(), sizeof(id->Description) - 1);
        std::string driver = caps.vendor + " " + caps.version;
        std::strncpy(id->Driver, driver.c_str(), sizeof(id->Driver) - 1);
        const char* display = SDL_GetDisplayName(static_cast<int>(adapter));
        std::string name = std::string("\\\\.\\DISPLAY") + std::to_string(adapter + 1);
        if (display && *display) name = display;
        std::strncpy(id->DeviceName, name.c_str(), sizeof(id->DeviceName) - 1);
        id->DeviceIdentifier.Data1 = 0x504F5254u + adapter;  // stable per adapter
        return D3D_OK;
    }

    UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override {
        return static_cast<UINT>(Modes(adapter, format).size());
    }

    HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) override {
        if (!out || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
        auto modes = Modes(adapter, format);
        if (mode >= modes.size()) return D3DERR_INVALIDCALL;
        *out = modes[mode];
        return D3D_OK;
    }

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* out) override {
        if (!out || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
        SDL_DisplayMode mode{};
        if (SDL_GetCurrentDisplayMode(static_cast<int>(adapter), &mode) != 0 &&
            SDL_GetDesktopDisplayMode(static_cast<int>(adapter), &mode) != 0)
            return D3DERR_NOTAVAILABLE;
        out->Width = static_cast<UINT>(mode.w);
        out->Height = static_cast<UINT>(mode.h);
        out->RefreshRate = static_cast<UINT>(mode.refresh_rate);
        out->Format = FormatOfBpp(SDL_BITSPERPIXEL(mode.format));
        return D3D_OK;
    }

    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL) override {
        if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
        if (HRESULT hr = CheckType(type); FAILED(hr)) return hr;
        if (!PortIsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
        if (backBufferFormat != D3DFMT_UNKNOWN && !PortIsBackBufferFormat(backBufferFormat))
            return D3DERR_NOTAVAILABLE;
        return D3D_OK;
    }

    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override {
        if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
        if (HRESULT hr = CheckType(type); FAILED(hr)) return hr;
        if (!PortIsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
        const PortFormatInfo* info = PortFindFormat(checkFormat);
        if (!info) return D3DERR_NOTAVAILABLE;
        if (info->compressed && !PortGetGLCaps().s3tc) return D3DERR_NOTAVAILABLE;
        if ((usage & D3DUSAGE_DEPTHSTENCIL) && !info->depth) return D3DERR_NOTAVAILABLE;
        if (info->depth && !(usage & D3DUSAGE_DEPTHSTENCIL) && resourceType != D3DRTYPE_SURFACE)
            return D3DERR_NOTAVAILABLE;
        if ((usage & D3DUSAGE_RENDERTARGET) && !info->renderTarget) return D3DERR_NOTAVAILABLE;
        if (resourceType != D3DRTYPE_SURFACE && resourceType != D3DRTYPE_TEXTURE) return D3DERR_NOTAVAILABLE;
        return D3D_OK;
    }

    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT format, BOOL,
                                       D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) override {
        if (qualityLevels) *qualityLevels = 0;
        if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
        if (HRESULT hr = CheckType(type); FAILED(hr)) return hr;
        const PortFormatInfo* info = PortFindFormat(format);
        if (!info || info->compressed) return D3DERR_NOTAVAILABLE;
        if (static_cast<DWORD>(multiSample) > 16) return D3DERR_INVALIDCALL;
        const PortGLCaps& caps = PortGetGLCaps();
        const std::vector<int>& counts = info->depth ? caps.depthSampleCounts : caps.colorSampleCounts;
        if (multiSample == D3DMULTISAMPLE_NONE) {
            if (qualityLevels) *qualityLevels = 1;
            return D3D_OK;
        }
        if (multiSample == D3DMULTISAMPLE_NONMASKABLE) {
            // One quality level per sample count the hardware offers.
            if (counts.empty()) return D3DERR_NOTAVAILABLE;
            if (qualityLevels) *qualityLevels = static_cast<DWORD>(counts.size());
            return D3D_OK;
        }
        if (!SamplesSupported(counts, static_cast<int>(multiSample))) return D3DERR_NOTAVAILABLE;
        if (qualityLevels) *qualityLevels = 1;
        return D3D_OK;
    }

    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT renderTarget,
                                   D3DFORMAT depthStencil) override {
        if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
        if (HRESULT hr = CheckType(type); FAILED(hr)) return hr;
        if (!PortIsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
        const PortFormatInfo* rt = PortFindFormat(renderTarget);
        const PortFormatInfo* ds = PortFindFormat(depthStencil);
        if (!rt || !rt->renderTarget || !ds || !ds->depth) return D3DERR_NOTAVAILABLE;
        return D3D_OK;
    }

    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override {
        if (!caps || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
        if (HRESULT hr = CheckType(type); FAILED(hr)) return hr;
        const PortGLCaps& gl = PortGetGLCaps();
        if (!gl.available) return D3DERR_NOTAVAILABLE;
        PortFillCaps(gl, adapter, type, *caps);
        return D3D_OK;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD flags,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override {
        if (!device || !params) return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
        if (HRESULT hr = CheckType(type); FAILED(hr)) return hr;
        if (!PortGetGLCaps().available) return D3DERR_NOTAVAILABLE;
        return PortCreateDevice(this, adapter, type, focusWindow, flags, params, device);
    }

private:
    ULONG m_refs = 1;

    static HRESULT CheckType(D3DDEVTYPE type) {
        // Only the hardware device exists: there is no reference rasteriser and
        // no registered software device.
        if (type == D3DDEVTYPE_HAL) return D3D_OK;
        if (type == D3DDEVTYPE_REF || type == D3DDEVTYPE_NULLREF) return D3DERR_NOTAVAILABLE;
        return D3DERR_INVALIDCALL;
    }

    std::vector<D3DDISPLAYMODE> Modes(UINT adapter, D3DFORMAT format) {
        std::vector<D3DDISPLAYMODE> out;
        if (adapter >= GetAdapterCount() || !PortIsDisplayFormat(format)) return out;
        int n = SDL_GetNumDisplayModes(static_cast<int>(adapter));
        for (int i = 0; i < n; ++i) {
            SDL_DisplayMode mode{};
            if (SDL_GetDisplayMode(static_cast<int>(adapter), i, &mode) != 0) continue;
            D3DFORMAT f = FormatOfBpp(SDL_BITSPERPIXEL(mode.format));
            if (f != format && !(format == D3DFMT_X8R8G8B8 && SDL_BITSPERPIXEL(mode.format) == 24)) continue;
            D3DDISPLAYMODE m{static_cast<UINT>(mode.w), static_cast<UINT>(mode.h),
                             static_cast<UINT>(mode.refresh_rate), format};
            bool duplicate = false;
            for (const auto& e : out)
                if (e.Width == m.Width && e.Height == m.Height && e.RefreshRate == m.RefreshRate) duplicate = true;
            if (!duplicate) out.push_back(m);
        }
        // Windows lists modes from the smallest up.
        std::sort(out.begin(), out.end(), [](const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
            if (a.Width != b.Width) return a.Width < b.Width;
            if (a.Height != b.Height) return a.Height < b.Height;
            return a.RefreshRate < b.RefreshRate;
        });
        return out;
    }
};

}  // namespace

constexpr DWORD kMaxTextureSize = 8192;

void PortFillCaps(const PortGLCaps& gl, UINT adapter, D3DDEVTYPE type, D3DCAPS9& caps) {
    std::memset(&caps, 0, sizeof(caps));
    caps.DeviceType = type;
    caps.AdapterOrdinal = adapter;
    caps.Caps2 = D3DCAPS2_CANAUTOGENMIPMAP | D3DCAPS2_DYNAMICTEXTURES | D3DCAPS2_FULLSCREENGAMMA;
    caps.Caps3 = D3DCAPS3_ALPHA_FULLSCREEN_FLIP_OR_DISCARD;
    caps.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    caps.CursorCaps = D3DCURSORCAPS_COLOR;
    caps.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_EXECUTEVIDEOMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                   D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_TEXTUREVIDEOMEMORY |
                   D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
                   D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION |
                   D3DDEVCAPS_PUREDEVICE;
    caps.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW |
                             D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP |
                             D3DPMISCCAPS_SEPARATEALPHABLEND;
    caps.RasterCaps = D3DPRASTERCAPS_DITHER | D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX |
                      D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_FOGRANGE |
                      D3DPRASTERCAPS_ZFOG | D3DPRASTERCAPS_SCISSORTEST | D3DPRASTERCAPS_SLOPESCALEDEPTHBIAS |
                      D3DPRASTERCAPS_DEPTHBIAS | D3DPRASTERCAPS_MULTISAMPLE_TOGGLE;
    if (gl.maxAnisotropy > 1.0f) caps.RasterCaps |= D3DPRASTERCAPS_ANISOTROPY;
    caps.ZCmpCaps = caps.AlphaCmpCaps = 0xFF;
    caps.SrcBlendCaps = caps.DestBlendCaps = 0x3FFF;
    caps.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB |
                     D3DPSHADECAPS_ALPHAGOURAUDBLEND | D3DPSHADECAPS_FOGGOURAUD;
    caps.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_PROJECTED |
                       D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_TEXREPEATNOTSCALEDBYSIZE;
    caps.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MIPFPOINT |
                             D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    if (gl.maxAnisotropy > 1.0f)
        caps.TextureFilterCaps |= D3DPTFILTERCAPS_MINFANISOTROPIC | D3DPTFILTERCAPS_MAGFANISOTROPIC;
    caps.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                              D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV;
    if (gl.mirrorClamp) caps.TextureAddressCaps |= D3DPTADDRESSCAPS_MIRRORONCE;
    caps.LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP |
                    D3DLINECAPS_FOG;
    // Direct3D 9-class limits even where GL allows more: D3DX then scales
    // larger images down on load, as on the hardware the engine was made
    // for, and no texture can claim gigabytes.
    const DWORD maxTexture = std::min<DWORD>(static_cast<DWORD>(gl.maxTextureSize), kMaxTextureSize);
    caps.MaxTextureWidth = caps.MaxTextureHeight = maxTexture;
    caps.MaxTextureRepeat = 8192;
    caps.MaxTextureAspectRatio = maxTexture;
    caps.MaxAnisotropy = static_cast<DWORD>(gl.maxAnisotropy);
    caps.MaxVertexW = 1e10f;
    caps.GuardBandLeft = caps.GuardBandTop = -32768.0f;
    caps.GuardBandRight = caps.GuardBandBottom = 32768.0f;
    caps.StencilCaps = 0x1FF;
    caps.FVFCaps = 8 | D3DFVFCAPS_PSIZE;
    caps.TextureOpCaps = 0x03FFFFFF & ~((1u << 21) | (1u << 22) | (1u << 23));  // no bump mapping
    caps.MaxTextureBlendStages = 8;
    caps.MaxSimultaneousTextures = 8;
    caps.VertexProcessingCaps = D3DVTXPCAPS_MATERIALSOURCE7 | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                                D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER;
    caps.MaxActiveLights = 8;
    caps.MaxPointSize = gl.maxPointSize;
    caps.MaxPrimitiveCount = 0x555555;
    caps.MaxVertexIndex = 0xFFFFFF;
    caps.MaxStreams = 1;
    caps.MaxStreamStride = 508;
    caps.VertexShaderVersion = D3DVS_VERSION(2, 0);
    caps.MaxVertexShaderConst = 256;
    caps.PixelShaderVersion = D3DPS_VERSION(2, 0);
    caps.PixelShader1xMaxValue = 8.0f;
    caps.MasterAdapterOrdinal = adapter;
    caps.NumberOfAdaptersInGroup = 1;
    caps.DeclTypes = D3DDTCAPS_UBYTE4 | D3DDTCAPS_UBYTE4N | D3DDTCAPS_SHORT2N | D3DDTCAPS_SHORT4N;
    caps.NumSimultaneousRTs = 1;
    caps.StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                                 D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
}

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) {
        PortLog(PortLogLevel::Warning, "Direct3DCreate9: SDK version " + std::to_string(sdkVersion) + " is not 32");
        return nullptr;
    }
    if (!PortEnsureVideo()) return nullptr;
    return new PortDirect3D;
}
