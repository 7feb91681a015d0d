// IDirect3DDevice9 over OpenGL 3.3 core: state tracking, the fixed-function
// pipeline, draws, targets, presentation and device loss.
#include "port/d3d9/device.h"

#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "port/d3d9/device_helpers.h"
#include "port/win32/portlog.h"
#include "port/win32/runoptions.h"
#include "port/win32/sdlvideo.h"

using namespace d3d9;

PortDevice* d3d9::g_current = nullptr;

namespace {

std::set<PortDevice*>& LiveDevices() {
    // Never destroyed: windows destroyed during exit still ask it for devices.
    static auto* devices = new std::set<PortDevice*>;
    return *devices;
}

void DevicesOnDestroyedWindow(HWND window) {
    // Copied: moving a context never creates or deletes devices, but keep the
    // walk independent of the set anyway.
    std::vector<PortDevice*> devices(LiveDevices().begin(), LiveDevices().end());
    for (PortDevice* device : devices)
        if (device->Window() == window) device->WindowDestroying();
}

void WriteOutputsAtExit() {
    for (PortDevice* device : LiveDevices()) device->WriteRunOutputs();
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and destruction
// ---------------------------------------------------------------------------
HRESULT PortCreateDevice(IDirect3D9* d3d, UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD flags,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** out) {
    HWND window = params->hDeviceWindow ? params->hDeviceWindow : focusWindow;
    if (!window || !PortSdlWindow(window)) return D3DERR_INVALIDCALL;
    auto* device = new PortDevice(d3d, adapter, type, window, flags);
    HRESULT hr = device->Initialize(*params);
    if (FAILED(hr)) {
        device->Release();
        return hr;
    }
    *out = device;
    return D3D_OK;
}

PortDevice::PortDevice(IDirect3D9* d3d, UINT adapter, D3DDEVTYPE type, HWND window, DWORD flags)
    : m_d3d(d3d), m_adapter(adapter), m_type(type), m_window(window), m_flags(flags) {
    m_d3d->AddRef();
    m_world.assign(256, Identity());
    LiveDevices().insert(this);
    PortAddWindowDestroyListener(DevicesOnDestroyedWindow);
}

HRESULT PortDevice::ValidateParams(const D3DPRESENT_PARAMETERS& p) {
    const PortGLCaps& gl = PortGetGLCaps();
    if (p.BackBufferCount > 3) return D3DERR_INVALIDCALL;
    if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY) return D3DERR_INVALIDCALL;
    if (!p.Windowed && (p.BackBufferWidth == 0 || p.BackBufferHeight == 0)) return D3DERR_INVALIDCALL;
    if (p.BackBufferFormat != D3DFMT_UNKNOWN && !PortIsBackBufferFormat(p.BackBufferFormat)) return D3DERR_NOTAVAILABLE;
    if (!p.Windowed && p.BackBufferFormat == D3DFMT_UNKNOWN) return D3DERR_INVALIDCALL;
    if (static_cast<DWORD>(p.MultiSampleType) > 16) return D3DERR_INVALIDCALL;
    if (p.MultiSampleType != D3DMULTISAMPLE_NONE && p.SwapEffect != D3DSWAPEFFECT_DISCARD) return D3DERR_INVALIDCALL;
    if (p.MultiSampleType == D3DMULTISAMPLE_NONMASKABLE) {
        if (p.MultiSampleQuality >= gl.colorSampleCounts.size()) return D3DERR_INVALIDCALL;
    } else if (p.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES) {
        if (std::find(gl.colorSampleCounts.begin(), gl.colorSampleCounts.end(), static_cast<int>(p.MultiSampleType)) ==
            gl.colorSampleCounts.end())
            return D3DERR_NOTAVAILABLE;
        if (p.MultiSampleQuality != 0) return D3DERR_INVALIDCALL;
    }
    if (p.EnableAutoDepthStencil) {
        const PortFormatInfo* info = PortFindFormat(p.AutoDepthStencilFormat);
        if (!info || !info->depth) return D3DERR_NOTAVAILABLE;
    }
    const UINT interval = p.PresentationInterval;
    if (interval != D3DPRESENT_INTERVAL_DEFAULT && interval != D3DPRESENT_INTERVAL_ONE &&
        interval != D3DPRESENT_INTERVAL_IMMEDIATE) {
        if (p.Windowed) return D3DERR_INVALIDCALL;
        if (interval != D3DPRESENT_INTERVAL_TWO && interval != D3DPRESENT_INTERVAL_THREE &&
            interval != D3DPRESENT_INTERVAL_FOUR)
            return D3DERR_INVALIDCALL;
    }
    const UINT maxSize = static_cast<UINT>(gl.maxTextureSize > 0 ? gl.maxTextureSize : 8192);
    if (p.BackBufferWidth > maxSize || p.BackBufferHeight > maxSize) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT PortDevice::Initialize(D3DPRESENT_PARAMETERS& requested) {
    m_sdlWindow = PortSdlWindow(m_window);
    if (!m_sdlWindow) return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS params = requested;
    if (HRESULT hr = ValidateParams(params); FAILED(hr)) return hr;
    m_context = SDL_GL_CreateContext(m_sdlWindow);
    if (!m_context) {
        PortLog(PortLogLevel::Warning, std::string("device context could not be created: ") + SDL_GetError());
        return D3DERR_NOTAVAILABLE;
    }
    g_current = nullptr;
    Activate();
    PortFillCaps(PortGetGLCaps(), m_adapter, m_type, m_caps);

    glGenVertexArrays(1, &m_vao);
    glBindVertexArray(m_vao);
    glGenSamplers(8, m_samplers);
    for (GLuint i = 0; i < 8; ++i) glBindSampler(i, m_samplers[i]);
    glGenBuffers(1, &m_stream);
    glGenBuffers(1, &m_streamIndex);
    glEnable(GL_PROGRAM_POINT_SIZE);
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);  // flat shading takes the first vertex, as Direct3D does
    if (PortGetGLCaps().clipControl) glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

    m_params = params;
    HRESULT hr = CreateSwapChainResources();
    if (FAILED(hr)) return hr;
    ApplyPresentation();
    ResetStates();
    if (!PortRun().screenshot.empty() || !PortRun().stats.empty()) {
        static bool registered = false;
        if (!registered) {
            registered = true;
            std::atexit(WriteOutputsAtExit);
        }
    }
    requested = m_params;
    return D3D_OK;
}

HRESULT PortDevice::CreateSwapChainResources() {
    D3DPRESENT_PARAMETERS& p = m_params;
    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) {
        int w = 0, h = 0;
        SDL_GetWindowSize(m_sdlWindow, &w, &h);
        if (p.BackBufferWidth == 0) p.BackBufferWidth = static_cast<UINT>(std::max(1, w));
        if (p.BackBufferHeight == 0) p.BackBufferHeight = static_cast<UINT>(std::max(1, h));
    }
    if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = D3DFMT_X8R8G8B8;
    if (p.BackBufferCount == 0) p.BackBufferCount = 1;
    const PortGLCaps& gl = PortGetGLCaps();
    m_samples = 0;
    if (p.MultiSampleType == D3DMULTISAMPLE_NONMASKABLE) m_samples = gl.colorSampleCounts[p.MultiSampleQuality];
    else if (p.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES) m_samples = static_cast<int>(p.MultiSampleType);

    m_backBuffer = new PortSurface(this, PortSurface::Kind::BackBuffer, p.BackBufferWidth, p.BackBufferHeight,
                                   p.BackBufferFormat, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET,
                                   static_cast<D3DMULTISAMPLE_TYPE>(m_samples), this);
    if (!m_backBuffer->CreateStorage()) {
        PortLog(PortLogLevel::Warning, "back buffer could not be created");
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    if (p.EnableAutoDepthStencil) {
        m_autoDepth = new PortSurface(this, PortSurface::Kind::DepthStencil, p.BackBufferWidth, p.BackBufferHeight,
                                      p.AutoDepthStencilFormat, D3DPOOL_DEFAULT, D3DUSAGE_DEPTHSTENCIL,
                                      static_cast<D3DMULTISAMPLE_TYPE>(m_samples), this);
        if (!m_autoDepth->CreateStorage()) {
            PortLog(PortLogLevel::Warning, "depth buffer could not be created");
            return D3DERR_OUTOFVIDEOMEMORY;
        }
    }
    // A single-sample copy of the presented image: resolves multisampling and
    // keeps the last frame for the screenshot.
    if (m_samples > 0 || !PortRun().screenshot.empty()) {
        glGenRenderbuffers(1, &m_resolveColor);
        glBindRenderbuffer(GL_RENDERBUFFER, m_resolveColor);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, static_cast<GLsizei>(p.BackBufferWidth),
                              static_cast<GLsizei>(p.BackBufferHeight));
        glGenFramebuffers(1, &m_resolveFbo);
        glBindFramebuffer(GL_FRAMEBUFFER, m_resolveFbo);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_resolveColor);
    }
    m_renderTarget = m_backBuffer;
    m_depthStencil = m_autoDepth;
    m_dirty = DIRTY_ALL;
    // Start from black, as a fresh swap chain does.
    bool depthAttached = false;
    glBindFramebuffer(GL_FRAMEBUFFER, FramebufferFor(m_backBuffer, m_autoDepth, depthAttached));
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFFFFFFFF);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | (depthAttached ? GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT : 0));
    return D3D_OK;
}

void PortDevice::DestroySwapChainResources() {
    if (!m_context) return;
    Activate();
    for (FboEntry& e : m_fbos) glDeleteFramebuffers(1, &e.fbo);
    m_fbos.clear();
    delete m_backBuffer;
    delete m_autoDepth;
    m_backBuffer = m_autoDepth = nullptr;
    if (m_resolveFbo) glDeleteFramebuffers(1, &m_resolveFbo);
    if (m_resolveColor) glDeleteRenderbuffers(1, &m_resolveColor);
    m_resolveFbo = m_resolveColor = 0;
    m_renderTarget = nullptr;
    m_depthStencil = nullptr;
}

void PortDevice::ApplyPresentation() {
    if (!m_params.Windowed) {
        SDL_DisplayMode mode{};
        mode.w = static_cast<int>(m_params.BackBufferWidth);
        mode.h = static_cast<int>(m_params.BackBufferHeight);
        mode.refresh_rate = static_cast<int>(m_params.FullScreen_RefreshRateInHz);
        SDL_DisplayMode closest{};
        if (SDL_GetClosestDisplayMode(static_cast<int>(m_adapter), &mode, &closest)) SDL_SetWindowDisplayMode(m_sdlWindow, &closest);
        if (SDL_SetWindowFullscreen(m_sdlWindow, SDL_WINDOW_FULLSCREEN) != 0)
            PortLog(PortLogLevel::Warning, std::string("full screen mode unavailable: ") + SDL_GetError());
    } else if (SDL_GetWindowFlags(m_sdlWindow) & SDL_WINDOW_FULLSCREEN) {
        SDL_SetWindowFullscreen(m_sdlWindow, 0);
    }
    const bool immediate = m_params.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE || PortIsHeadless();
    if (SDL_GL_SetSwapInterval(immediate ? 0 : 1) != 0 && !immediate) SDL_GL_SetSwapInterval(0);
}

PortDevice::~PortDevice() {
    LiveDevices().erase(this);
    if (!m_context) {
        m_d3d->Release();
        return;
    }
    WriteRunOutputs();
    if (Activate()) {
        for (auto& entry : m_programs) glDeleteProgram(entry.second.program);
        DestroySwapChainResources();
        glDeleteVertexArrays(1, &m_vao);
        glDeleteSamplers(8, m_samplers);
        glDeleteBuffers(1, &m_stream);
        glDeleteBuffers(1, &m_streamIndex);
        SDL_GL_MakeCurrent(m_sdlWindow, nullptr);
    }
    m_programs.clear();
    // Without a current context the objects die with the context itself.
    SDL_GL_DeleteContext(m_context);
    if (m_fallbackWindow) SDL_DestroyWindow(m_fallbackWindow);
    g_current = nullptr;
    m_d3d->Release();
}

HRESULT PortDevice::QueryInterface(REFIID, void** object) {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
}

ULONG PortDevice::Release() {
    if (m_refs == 0) return 0;
    ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
}

bool PortDevice::Activate() {
    if (!m_contextUsable) {
        if (g_current == this) g_current = nullptr;
        return false;
    }
    if (g_current == this) return true;
    SDL_GL_MakeCurrent(m_sdlWindow, m_context);
    g_current = this;
    return true;
}

void PortDevice::WindowDestroying() {
    if (m_windowGone) return;
    m_windowGone = true;
    m_lostState = 1;
    m_inScene = false;
    if (!m_context) return;
    // The context itself does not belong to the window: any surface of the
    // same configuration can carry it, so resources released later still
    // have a context to delete their objects in.
    m_fallbackWindow = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1, 1,
                                        SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (m_fallbackWindow && SDL_GL_MakeCurrent(m_fallbackWindow, m_context) == 0) {
        m_sdlWindow = m_fallbackWindow;
        g_current = this;
    } else {
        PortLog(PortLogLevel::Warning,
                std::string("device window destroyed and no hidden surface for its context: ") + SDL_GetError());
        if (g_current == this) SDL_GL_MakeCurrent(m_sdlWindow, nullptr);
        if (m_fallbackWindow) SDL_DestroyWindow(m_fallbackWindow);
        m_fallbackWindow = nullptr;
        m_sdlWindow = nullptr;
        m_contextUsable = false;
        g_current = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Simple queries
// ---------------------------------------------------------------------------
HRESULT PortDevice::TestCooperativeLevel() {
    if (m_windowGone) return D3DERR_DEVICELOST;  // nothing to reset onto
    if (!m_params.Windowed && IsIconic(m_window)) {
        m_lostState = 1;
        return D3DERR_DEVICELOST;
    }
    if (m_lostState == 1) {
        m_lostState = 2;
        return D3DERR_DEVICELOST;
    }
    if (m_lostState == 2) return D3DERR_DEVICENOTRESET;
    return D3D_OK;
}

UINT PortDevice::GetAvailableTextureMem() {
    // Memory is shared with the system here; report half of it, rounded to MB.
    uint64_t mb = static_cast<uint64_t>(SDL_GetSystemRAM()) / 2;
    uint64_t bytes = std::min<uint64_t>(mb * 1024ull * 1024ull, 0xFFF00000ull);
    return static_cast<UINT>(bytes);
}

HRESULT PortDevice::GetDirect3D(IDirect3D9** d3d9) {
    if (!d3d9) return D3DERR_INVALIDCALL;
    m_d3d->AddRef();
    *d3d9 = m_d3d;
    return D3D_OK;
}

HRESULT PortDevice::GetDeviceCaps(D3DCAPS9* caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    *caps = m_caps;
    return D3D_OK;
}

HRESULT PortDevice::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (!mode || swapChain != 0) return D3DERR_INVALIDCALL;
    if (!m_params.Windowed) {
        *mode = D3DDISPLAYMODE{m_params.BackBufferWidth, m_params.BackBufferHeight, m_params.FullScreen_RefreshRateInHz,
                               m_params.BackBufferFormat == D3DFMT_A8R8G8B8 ? D3DFMT_X8R8G8B8 : m_params.BackBufferFormat};
        return D3D_OK;
    }
    return m_d3d->GetAdapterDisplayMode(m_adapter, mode);
}

HRESULT PortDevice::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* p) {
    if (!p) return D3DERR_INVALIDCALL;
    *p = D3DDEVICE_CREATION_PARAMETERS{m_adapter, m_type, m_window, m_flags};
    return D3D_OK;
}

HRESULT PortDevice::Reset(D3DPRESENT_PARAMETERS* params) {
    if (!params) return D3DERR_INVALIDCALL;
    if (m_windowGone) return D3DERR_DEVICELOST;
    if (m_defaultResources > 0) {
        PortLog(PortLogLevel::Warning, "Reset: " + std::to_string(m_defaultResources) +
                                           " video-memory (D3DPOOL_DEFAULT) resources are still alive");
        return D3DERR_INVALIDCALL;
    }
    D3DPRESENT_PARAMETERS p = *params;
    if (HRESULT hr = ValidateParams(p); FAILED(hr)) return hr;
    if (m_inScene) m_inScene = false;
    DestroySwapChainResources();
    m_params = p;
    if (HRESULT hr = CreateSwapChainResources(); FAILED(hr)) {
        m_lostState = 2;
        return hr;
    }
    ApplyPresentation();
    ResetStates();
    m_lostState = 0;
    m_forcedLoss = false;
    *params = m_params;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Read-back
// ---------------------------------------------------------------------------
HRESULT PortDevice::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) {
    auto* src = static_cast<PortSurface*>(renderTarget);
    auto* dst = static_cast<PortSurface*>(destSurface);
    if (!src || !dst) return D3DERR_INVALIDCALL;
    if (!IsColorTarget(src) || dst->SurfaceKind() != PortSurface::Kind::OffscreenPlain) return D3DERR_INVALIDCALL;
    if (src->Width() != dst->Width() || src->Height() != dst->Height() || src->Format() != dst->Format())
        return D3DERR_INVALIDCALL;
    const PortFormatInfo* info = PortFindFormat(dst->Format());
    if (!info) return D3DERR_INVALIDCALL;
    std::vector<uint8_t>& memory = dst->Memory();
    memory.resize(static_cast<size_t>(dst->Pitch()) * dst->Height());
    return ReadSurface(src, memory, dst->Pitch()) ? D3D_OK : D3DERR_DRIVERINTERNALERROR;
}

bool PortDevice::ReadSurface(PortSurface* surface, std::vector<uint8_t>& out, UINT pitch) {
    const PortFormatInfo* info = PortFindFormat(surface->Format());
    if (!info || info->compressed || info->depth) return false;
    Activate();
    bool depthAttached = false;
    GLuint fbo = FramebufferFor(surface, nullptr, depthAttached);
    GLuint tempFbo = 0, tempRb = 0;
    const GLsizei w = static_cast<GLsizei>(surface->Width()), h = static_cast<GLsizei>(surface->Height());
    glDisable(GL_SCISSOR_TEST);
    if (surface->Samples() > 0) {
        glGenRenderbuffers(1, &tempRb);
        glBindRenderbuffer(GL_RENDERBUFFER, tempRb);
        glRenderbufferStorage(GL_RENDERBUFFER, info->internalFormat, w, h);
        glGenFramebuffers(1, &tempFbo);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, tempFbo);
        glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, tempRb);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
        glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        fbo = tempFbo;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, static_cast<GLint>(pitch / info->bytesPerPixel));
    if (out.size() < static_cast<size_t>(pitch) * surface->Height()) out.resize(static_cast<size_t>(pitch) * surface->Height());
    glReadPixels(0, 0, w, h, info->glFormat, info->glType, out.data());
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    if (tempFbo) glDeleteFramebuffers(1, &tempFbo);
    if (tempRb) glDeleteRenderbuffers(1, &tempRb);
    if (surface->SurfaceKind() == PortSurface::Kind::BackBuffer) {
        // The back buffer is stored bottom-up; Direct3D rows run top-down.
        std::vector<uint8_t> row(pitch);
        for (UINT y = 0; y < surface->Height() / 2; ++y) {
            uint8_t* a = out.data() + static_cast<size_t>(y) * pitch;
            uint8_t* b = out.data() + static_cast<size_t>(surface->Height() - 1 - y) * pitch;
            std::memcpy(row.data(), a, pitch);
            std::memcpy(a, b, pitch);
            std::memcpy(b, row.data(), pitch);
        }
    }
    m_dirty |= DIRTY_FBO | DIRTY_SCISSOR;
    return glGetError() == GL_NO_ERROR;
}

bool PortDevice::ReadBackBuffer(std::vector<uint32_t>& argb, UINT& width, UINT& height) {
    width = m_backBuffer->Width();
    height = m_backBuffer->Height();
    std::vector<uint8_t> bytes;
    if (m_backBuffer->Format() != D3DFMT_A8R8G8B8 && m_backBuffer->Format() != D3DFMT_X8R8G8B8) return false;
    if (!ReadSurface(m_backBuffer, bytes, width * 4)) return false;
    argb.resize(static_cast<size_t>(width) * height);
    std::memcpy(argb.data(), bytes.data(), argb.size() * 4);
    return true;
}

// ---------------------------------------------------------------------------
// Scenes, clearing and presentation
// ---------------------------------------------------------------------------
HRESULT PortDevice::BeginScene() {
    if (m_inScene) return D3DERR_INVALIDCALL;
    m_inScene = true;
    return D3D_OK;
}

HRESULT PortDevice::EndScene() {
    if (!m_inScene) return D3DERR_INVALIDCALL;
    m_inScene = false;
    return D3D_OK;
}

HRESULT PortDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    if (flags == 0 || (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))) return D3DERR_INVALIDCALL;
    if (count && !rects) return D3DERR_INVALIDCALL;
    Activate();
    if (m_dirty & DIRTY_FBO) {
        BindFramebuffer();
        m_dirty &= ~static_cast<uint32_t>(DIRTY_FBO);
    }
    if ((flags & D3DCLEAR_ZBUFFER) && !m_hasDepth) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_STENCIL) && !m_hasStencil) return D3DERR_INVALIDCALL;
    if (m_lostState) return D3D_OK;
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
        float c[4];
        ColorToFloats(color, c);
        glClearColor(c[0], c[1], c[2], c[3]);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);  // the write mask state does not limit Clear
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        glClearDepth(std::clamp(z, 0.0f, 1.0f));
        glDepthMask(GL_TRUE);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_STENCIL) {
        glClearStencil(static_cast<GLint>(stencil & 0xFF));
        glStencilMask(0xFFFFFFFF);
        mask |= GL_STENCIL_BUFFER_BIT;
    }
    glEnable(GL_SCISSOR_TEST);
    const LONG vx0 = static_cast<LONG>(m_viewport.X), vy0 = static_cast<LONG>(m_viewport.Y);
    const LONG vx1 = vx0 + static_cast<LONG>(m_viewport.Width), vy1 = vy0 + static_cast<LONG>(m_viewport.Height);
    auto clearRect = [&](LONG x0, LONG y0, LONG x1, LONG y1) {
        // Never outside the viewport.
        x0 = std::max(x0, vx0);
        y0 = std::max(y0, vy0);
        x1 = std::min(x1, vx1);
        y1 = std::min(y1, vy1);
        if (x1 <= x0 || y1 <= y0) return;
        GLint r[4];
        ToGLRect(x0, y0, x1 - x0, y1 - y0, r);
        glScissor(r[0], r[1], r[2], r[3]);
        glClear(mask);
    };
    if (count == 0) {
        clearRect(vx0, vy0, vx1, vy1);
    } else {
        for (DWORD i = 0; i < count; ++i) clearRect(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    }
    m_dirty |= DIRTY_COLORMASK | DIRTY_DEPTH | DIRTY_STENCIL | DIRTY_SCISSOR;
    return D3D_OK;
}

HRESULT PortDevice::Present(const RECT*, const RECT*, HWND, const RGNDATA*) {
    if (m_windowGone) return D3DERR_DEVICELOST;
    if (m_inScene) return D3DERR_INVALIDCALL;
    if (!m_params.Windowed && IsIconic(m_window)) m_lostState = 1;
    if (m_lostState) return D3DERR_DEVICELOST;
    Activate();
    bool depthAttached = false;
    GLuint source = FramebufferFor(m_backBuffer, nullptr, depthAttached);
    const GLint w = static_cast<GLint>(m_backBuffer->Width()), h = static_cast<GLint>(m_backBuffer->Height());
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    if (m_resolveFbo) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_resolveFbo);
        glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        source = m_resolveFbo;
    }
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(m_sdlWindow, &dw, &dh);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBlitFramebuffer(0, 0, w, h, 0, 0, dw, dh, GL_COLOR_BUFFER_BIT, (dw == w && dh == h) ? GL_NEAREST : GL_LINEAR);
    SDL_GL_SwapWindow(m_sdlWindow);
    m_dirty |= DIRTY_FBO | DIRTY_SCISSOR | DIRTY_COLORMASK;
    m_hasPresented = true;

    const auto now = std::chrono::steady_clock::now();
    if (m_lastPresent.time_since_epoch().count() != 0)
        m_frameTimes.push_back(std::chrono::duration<double, std::milli>(now - m_lastPresent).count());
    m_lastPresent = now;
    m_drawsPerFrame.push_back(m_frameDraws);
    m_trianglesPerFrame.push_back(m_frameTriangles);
    m_frameDraws = m_frameTriangles = 0;
    PortFramePresented(m_window);
    // A lost device on demand, as a minimised full-screen window gives one:
    // headless runs exercise the program's reset path with it.
    const long long loseAt = PortRun().loseDeviceAt;
    if (loseAt > 0 && PortPresentedFrames() == static_cast<uint64_t>(loseAt)) ForceLoss();
    return D3D_OK;
}

void PortDevice::WriteRunOutputs() {
    if (m_outputsWritten) return;
    m_outputsWritten = true;
    const PortRunOptions& o = PortRun();
    if (!o.screenshot.empty()) {
        if (!m_hasPresented || !m_resolveFbo) {
            PortLog(PortLogLevel::Warning, "screenshot: no frame was presented");
        } else {
            Activate();
            const int w = static_cast<int>(m_backBuffer->Width()), h = static_cast<int>(m_backBuffer->Height());
            std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
            glBindFramebuffer(GL_READ_FRAMEBUFFER, m_resolveFbo);
            glReadBuffer(GL_COLOR_ATTACHMENT0);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glPixelStorei(GL_PACK_ROW_LENGTH, 0);
            glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
            for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;  // the window shows no alpha
            // Rows come bottom-up from OpenGL; the PNG is written top-down.
            if (!stbi_write_png(o.screenshot.c_str(), w, h, 4, pixels.data() + static_cast<size_t>(w) * 4 * (h - 1), -w * 4))
                PortLog(PortLogLevel::Warning, "screenshot could not be written to " + o.screenshot);
            m_dirty |= DIRTY_FBO;
        }
    }
    if (!o.stats.empty()) {
        std::vector<double> times = m_frameTimes;
        std::sort(times.begin(), times.end());
        double mean = 0, median = 0, p99 = 0;
        if (!times.empty()) {
            for (double t : times) mean += t;
            mean /= static_cast<double>(times.size());
            median = times.size() % 2 ? times[times.size() / 2]
                                      : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2.0;
            size_t index = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(times.size()))) - 1;
            p99 = times[std::min(index, times.size() - 1)];
        }
        double draws = 0, triangles = 0;
        for (uint64_t d : m_drawsPerFrame) draws += static_cast<double>(d);
        for (uint64_t t : m_trianglesPerFrame) triangles += static_cast<double>(t);
        const double frames = static_cast<double>(m_drawsPerFrame.size());
        if (frames > 0) {
            draws /= frames;
            triangles /= frames;
        }
        FILE* file = std::fopen(o.stats.c_str(), "w");
        if (!file) {
            PortLog(PortLogLevel::Warning, "statistics could not be written to " + o.stats);
        } else {
            std::fprintf(file,
                         "{\n  \"frames\": %zu,\n  \"frame_time_ms\": {\"mean\": %.4f, \"median\": %.4f, \"p99\": %.4f},\n"
                         "  \"draw_calls_per_frame\": %.2f,\n  \"triangles_per_frame\": %.2f,\n"
                         "  \"last_frame\": {\"draw_calls\": %llu, \"triangles\": %llu}\n}\n",
                         m_drawsPerFrame.size(), mean, median, p99, draws, triangles,
                         static_cast<unsigned long long>(m_drawsPerFrame.empty() ? 0 : m_drawsPerFrame.back()),
                         static_cast<unsigned long long>(m_trianglesPerFrame.empty() ? 0 : m_trianglesPerFrame.back()));
            std::fclose(file);
        }
    }
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------
void PortDevice::BindArrayBuffer(GLuint name) {
    if (m_boundArray == name) return;
    glBindBuffer(GL_ARRAY_BUFFER, name);
    m_boundArray = name;
}

void PortDevice::BindElementBuffer(GLuint name) {
    if (m_boundElement == name) return;
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, name);
    m_boundElement = name;
}

void PortDevice::BindTextureForUpload(GLuint name) {
    glBindTexture(GL_TEXTURE_2D, name);
    if (m_activeUnit < 8) {
        m_boundTextures[m_activeUnit] = name;
        m_textureDirty |= 1u << m_activeUnit;
    }
}

void PortDevice::ApplySampler(DWORD stage) {
    const DWORD* s = m_samp[stage];
    const GLuint sampler = m_samplers[stage];
    const PortGLCaps& gl = PortGetGLCaps();
    const DWORD mag = s[D3DSAMP_MAGFILTER], min = s[D3DSAMP_MINFILTER], mip = s[D3DSAMP_MIPFILTER];
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, mag == D3DTEXF_POINT || mag == D3DTEXF_NONE ? GL_NEAREST : GL_LINEAR);
    const bool nearest = min == D3DTEXF_POINT || min == D3DTEXF_NONE;
    GLenum minFilter;
    if (mip == D3DTEXF_NONE) minFilter = nearest ? GL_NEAREST : GL_LINEAR;
    else if (mip == D3DTEXF_POINT) minFilter = nearest ? GL_NEAREST_MIPMAP_NEAREST : GL_LINEAR_MIPMAP_NEAREST;
    else minFilter = nearest ? GL_NEAREST_MIPMAP_LINEAR : GL_LINEAR_MIPMAP_LINEAR;
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(minFilter));
    if (gl.maxAnisotropy > 1.0f) {
        float aniso = (min == D3DTEXF_ANISOTROPIC || mag == D3DTEXF_ANISOTROPIC)
                          ? std::clamp(static_cast<float>(s[D3DSAMP_MAXANISOTROPY]), 1.0f, gl.maxAnisotropy)
                          : 1.0f;
        glSamplerParameterf(sampler, GL_TEXTURE_MAX_ANISOTROPY_EXT, aniso);
    }
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, static_cast<GLint>(GLAddress(s[D3DSAMP_ADDRESSU], gl.mirrorClamp)));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, static_cast<GLint>(GLAddress(s[D3DSAMP_ADDRESSV], gl.mirrorClamp)));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, static_cast<GLint>(GLAddress(s[D3DSAMP_ADDRESSW], gl.mirrorClamp)));
    float border[4];
    ColorToFloats(s[D3DSAMP_BORDERCOLOR], border);
    glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
    glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, AsFloat(s[D3DSAMP_MIPMAPLODBIAS]));
    glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, static_cast<float>(s[D3DSAMP_MAXMIPLEVEL]));
}

void PortDevice::ApplyGLState() {
    if (m_dirty & DIRTY_FBO) {
        BindFramebuffer();
        m_dirty |= DIRTY_VIEWPORT | DIRTY_SCISSOR | DIRTY_RASTER | DIRTY_DEPTH | DIRTY_STENCIL;
    }
    if (m_dirty & DIRTY_VIEWPORT) {
        GLint r[4];
        ToGLRect(static_cast<LONG>(m_viewport.X), static_cast<LONG>(m_viewport.Y), static_cast<LONG>(m_viewport.Width),
                 static_cast<LONG>(m_viewport.Height), r);
        glViewport(r[0], r[1], r[2], r[3]);
        glDepthRange(m_viewport.MinZ, m_viewport.MaxZ);
    }
    if (m_dirty & DIRTY_SCISSOR) {
        if (m_rs[D3DRS_SCISSORTESTENABLE]) {
            glEnable(GL_SCISSOR_TEST);
            GLint r[4];
            ToGLRect(m_scissor.left, m_scissor.top, std::max<LONG>(0, m_scissor.right - m_scissor.left),
                     std::max<LONG>(0, m_scissor.bottom - m_scissor.top), r);
            glScissor(r[0], r[1], r[2], r[3]);
        } else {
            glDisable(GL_SCISSOR_TEST);
        }
    }
    if (m_dirty & DIRTY_BLEND) {
        if (m_rs[D3DRS_ALPHABLENDENABLE]) glEnable(GL_BLEND);
        else glDisable(GL_BLEND);
        GLenum s, d, sa, da;
        BlendPair(m_rs[D3DRS_SRCBLEND], m_rs[D3DRS_DESTBLEND], s, d);
        GLenum op = GLBlendOp(m_rs[D3DRS_BLENDOP]), opAlpha = op;
        if (m_rs[D3DRS_SEPARATEALPHABLENDENABLE]) {
            BlendPair(m_rs[D3DRS_SRCBLENDALPHA], m_rs[D3DRS_DESTBLENDALPHA], sa, da);
            opAlpha = GLBlendOp(m_rs[D3DRS_BLENDOPALPHA]);
        } else {
            sa = s;
            da = d;
        }
        glBlendFuncSeparate(s, d, sa, da);
        glBlendEquationSeparate(op, opAlpha);
        float c[4];
        ColorToFloats(m_rs[D3DRS_BLENDFACTOR], c);
        glBlendColor(c[0], c[1], c[2], c[3]);
    }
    if (m_dirty & DIRTY_DEPTH) {
        if (m_rs[D3DRS_ZENABLE] != D3DZB_FALSE && m_hasDepth) glEnable(GL_DEPTH_TEST);
        else glDisable(GL_DEPTH_TEST);
        glDepthFunc(GLCompare(m_rs[D3DRS_ZFUNC]));
        glDepthMask(m_rs[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
    }
    if (m_dirty & DIRTY_RASTER) {
        const DWORD cull = m_rs[D3DRS_CULLMODE];
        if (cull == D3DCULL_CW || cull == D3DCULL_CCW) {
            glEnable(GL_CULL_FACE);
            glCullFace(GL_BACK);
            // Windings count as seen on screen; rendering into textures is
            // mirrored vertically, which swaps them.
            bool cullClockwise = (cull == D3DCULL_CW) != m_flipped;
            glFrontFace(cullClockwise ? GL_CCW : GL_CW);
        } else {
            glDisable(GL_CULL_FACE);
        }
        const DWORD fill = m_rs[D3DRS_FILLMODE];
        glPolygonMode(GL_FRONT_AND_BACK, fill == D3DFILL_POINT ? GL_POINT : fill == D3DFILL_WIREFRAME ? GL_LINE : GL_FILL);
        const float bias = AsFloat(m_rs[D3DRS_DEPTHBIAS]), slope = AsFloat(m_rs[D3DRS_SLOPESCALEDEPTHBIAS]);
        if (bias != 0.0f || slope != 0.0f) {
            const float scale = (m_depthStencil && (m_depthStencil->Format() == D3DFMT_D16 ||
                                                    m_depthStencil->Format() == D3DFMT_D16_LOCKABLE))
                                    ? 65535.0f
                                    : 16777215.0f;
            glEnable(GL_POLYGON_OFFSET_FILL);
            glEnable(GL_POLYGON_OFFSET_LINE);
            glPolygonOffset(slope, bias * scale);
        } else {
            glDisable(GL_POLYGON_OFFSET_FILL);
            glDisable(GL_POLYGON_OFFSET_LINE);
        }
        if (m_rs[D3DRS_MULTISAMPLEANTIALIAS]) glEnable(GL_MULTISAMPLE);
        else glDisable(GL_MULTISAMPLE);
    }
    if (m_dirty & DIRTY_STENCIL) {
        if (m_rs[D3DRS_STENCILENABLE] && m_hasStencil) {
            glEnable(GL_STENCIL_TEST);
            const GLint ref = static_cast<GLint>(m_rs[D3DRS_STENCILREF]);
            const GLuint mask = m_rs[D3DRS_STENCILMASK];
            // Front faces are the ones not culled by the default mode.
            const GLenum front = GL_FRONT, back = GL_BACK;
            glStencilFuncSeparate(front, GLCompare(m_rs[D3DRS_STENCILFUNC]), ref, mask);
            glStencilOpSeparate(front, GLStencilOp(m_rs[D3DRS_STENCILFAIL]), GLStencilOp(m_rs[D3DRS_STENCILZFAIL]),
                                GLStencilOp(m_rs[D3DRS_STENCILPASS]));
            if (m_rs[D3DRS_TWOSIDEDSTENCILMODE]) {
                glStencilFuncSeparate(back, GLCompare(m_rs[D3DRS_CCW_STENCILFUNC]), ref, mask);
                glStencilOpSeparate(back, GLStencilOp(m_rs[D3DRS_CCW_STENCILFAIL]),
                                    GLStencilOp(m_rs[D3DRS_CCW_STENCILZFAIL]), GLStencilOp(m_rs[D3DRS_CCW_STENCILPASS]));
            } else {
                glStencilFuncSeparate(back, GLCompare(m_rs[D3DRS_STENCILFUNC]), ref, mask);
                glStencilOpSeparate(back, GLStencilOp(m_rs[D3DRS_STENCILFAIL]), GLStencilOp(m_rs[D3DRS_STENCILZFAIL]),
                                    GLStencilOp(m_rs[D3DRS_STENCILPASS]));
            }
            glStencilMask(m_rs[D3DRS_STENCILWRITEMASK]);
        } else {
            glDisable(GL_STENCIL_TEST);
        }
    }
    if (m_dirty & DIRTY_COLORMASK) {
        const DWORD m = m_rs[D3DRS_COLORWRITEENABLE];
        glColorMask((m & 1) ? GL_TRUE : GL_FALSE, (m & 2) ? GL_TRUE : GL_FALSE, (m & 4) ? GL_TRUE : GL_FALSE,
                    (m & 8) ? GL_TRUE : GL_FALSE);
    }
    m_dirty &= DIRTY_VERTEX;
}

void PortDevice::SetupVertexAttributes(DWORD fvf, GLuint buffer, UINT offset, UINT stride) {
    BindArrayBuffer(buffer);
    uint32_t wanted = 0;
    UINT at = offset;
    auto pointer = [&](GLuint index, GLint size, GLenum type, GLboolean normalized, UINT bytes) {
        glVertexAttribPointer(index, size, type, normalized, static_cast<GLsizei>(stride),
                              reinterpret_cast<const void*>(static_cast<uintptr_t>(at)));
        wanted |= 1u << index;
        at += bytes;
    };
    switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZRHW:
    case D3DFVF_XYZW: pointer(PORT_ATTRIB_POSITION, 4, GL_FLOAT, GL_FALSE, 16); break;
    case D3DFVF_XYZ: pointer(PORT_ATTRIB_POSITION, 3, GL_FLOAT, GL_FALSE, 12); break;
    case 0: break;
    default: {
        // Blend weights follow the position; vertex blending is not used.
        pointer(PORT_ATTRIB_POSITION, 3, GL_FLOAT, GL_FALSE, 12);
        const DWORD weights = ((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZB1) / 2 + 1;
        at += weights * 4;
        break;
    }
    }
    if (fvf & D3DFVF_NORMAL) pointer(PORT_ATTRIB_NORMAL, 3, GL_FLOAT, GL_FALSE, 12);
    if (fvf & D3DFVF_PSIZE) pointer(PORT_ATTRIB_PSIZE, 1, GL_FLOAT, GL_FALSE, 4);
    // D3DCOLOR is B, G, R, A in memory.
    if (fvf & D3DFVF_DIFFUSE) pointer(PORT_ATTRIB_DIFFUSE, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4);
    if (fvf & D3DFVF_SPECULAR) pointer(PORT_ATTRIB_SPECULAR, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4);
    const UINT count = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    for (UINT i = 0; i < count && i < 8; ++i) {
        GLint size;
        switch ((fvf >> (16 + 2 * i)) & 3) {
        case D3DFVF_TEXTUREFORMAT1: size = 1; break;
        case D3DFVF_TEXTUREFORMAT2: size = 2; break;
        case D3DFVF_TEXTUREFORMAT3: size = 3; break;
        default: size = 4; break;
        }
        pointer(PORT_ATTRIB_TEXCOORD0 + i, size, GL_FLOAT, GL_FALSE, static_cast<UINT>(size) * 4);
    }
    const uint32_t changed = wanted ^ m_enabledAttribs;
    for (GLuint i = 0; i < PORT_ATTRIB_COUNT; ++i) {
        if (!(changed & (1u << i))) continue;
        if (wanted & (1u << i)) glEnableVertexAttribArray(i);
        else glDisableVertexAttribArray(i);
    }
    m_enabledAttribs = wanted;
    m_attribFvf = fvf;
    m_attribBuffer = buffer;
    m_attribOffset = offset;
    m_attribStride = stride;
}

void PortDevice::BuildKey(PortFfpKey& key, D3DPRIMITIVETYPE type, DWORD fvf) {
    key = PortFfpKey{};
    const DWORD pos = fvf & D3DFVF_POSITION_MASK;
    key.posType = pos == D3DFVF_XYZRHW ? 1 : pos == D3DFVF_XYZW ? 2 : 0;
    const bool rhw = key.posType == 1;
    key.hasNormal = (fvf & D3DFVF_NORMAL) ? 1 : 0;
    key.hasPSize = (fvf & D3DFVF_PSIZE) ? 1 : 0;
    key.hasDiffuse = (fvf & D3DFVF_DIFFUSE) ? 1 : 0;
    key.hasSpecular = (fvf & D3DFVF_SPECULAR) ? 1 : 0;
    key.texCoordCount = static_cast<uint8_t>(std::min<DWORD>(8, (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT));
    key.lighting = (m_rs[D3DRS_LIGHTING] && !rhw) ? 1 : 0;
    key.specular = m_rs[D3DRS_SPECULARENABLE] ? 1 : 0;
    if (key.lighting) {
        size_t n = 0;
        for (DWORD index : m_activeLights) {
            if (n++ >= m_caps.MaxActiveLights) break;
            switch (m_lights[index].light.Type) {
            case D3DLIGHT_DIRECTIONAL: ++key.dirLights; break;
            case D3DLIGHT_POINT: ++key.pointLights; break;
            default: ++key.spotLights; break;
            }
        }
        key.localViewer = m_rs[D3DRS_LOCALVIEWER] ? 1 : 0;
        key.normalize = m_rs[D3DRS_NORMALIZENORMALS] ? 1 : 0;
        auto source = [&](D3DRENDERSTATETYPE s) -> uint8_t {
            if (!m_rs[D3DRS_COLORVERTEX]) return 0;
            const DWORD v = m_rs[s];
            if (v == D3DMCS_COLOR1 && key.hasDiffuse) return 1;
            if (v == D3DMCS_COLOR2 && key.hasSpecular) return 2;
            return 0;
        };
        key.diffuseSource = source(D3DRS_DIFFUSEMATERIALSOURCE);
        key.ambientSource = source(D3DRS_AMBIENTMATERIALSOURCE);
        key.specularSource = source(D3DRS_SPECULARMATERIALSOURCE);
        key.emissiveSource = source(D3DRS_EMISSIVEMATERIALSOURCE);
    }
    if (m_rs[D3DRS_FOGENABLE]) {
        const DWORD table = m_rs[D3DRS_FOGTABLEMODE], vertex = m_rs[D3DRS_FOGVERTEXMODE];
        if (table >= D3DFOG_EXP && table <= D3DFOG_LINEAR) {
            key.fogMode = 2;
            key.fogFunc = static_cast<uint8_t>(table);
        } else if (vertex >= D3DFOG_EXP && vertex <= D3DFOG_LINEAR && !rhw) {
            key.fogMode = 1;
            key.fogFunc = static_cast<uint8_t>(vertex);
        } else {
            key.fogMode = 3;
        }
        key.rangeFog = (m_rs[D3DRS_RANGEFOGENABLE] && key.fogMode == 1) ? 1 : 0;
    }
    key.points = type == D3DPT_POINTLIST ? 1 : 0;
    key.pointScale = (key.points && m_rs[D3DRS_POINTSCALEENABLE] && !rhw) ? 1 : 0;
    key.pointSprite = (key.points && m_rs[D3DRS_POINTSPRITEENABLE]) ? 1 : 0;
    if (m_rs[D3DRS_ALPHATESTENABLE]) {
        const DWORD f = m_rs[D3DRS_ALPHAFUNC];
        key.alphaFunc = (f >= D3DCMP_NEVER && f < D3DCMP_ALWAYS) ? static_cast<uint8_t>(f) : 0;
    }
    key.flatShade = m_rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT ? 1 : 0;
    key.clipControl = PortGetGLCaps().clipControl ? 1 : 0;
    int count = 0;
    for (int s = 0; s < 8; ++s) {
        const DWORD* t = m_tss[s];
        DWORD colorOp = t[D3DTSS_COLOROP];
        if (colorOp == D3DTOP_DISABLE || colorOp == 0 || colorOp > D3DTOP_LERP) break;
        PortFfpStage& st = key.stages[s];
        const bool bound = m_textures[s] != nullptr;
        DWORD alphaOp = t[D3DTSS_ALPHAOP];
        if (alphaOp == 0 || alphaOp > D3DTOP_LERP) alphaOp = D3DTOP_DISABLE;
        DWORD c0 = t[D3DTSS_COLORARG0], c1 = t[D3DTSS_COLORARG1], c2 = t[D3DTSS_COLORARG2];
        DWORD a0 = t[D3DTSS_ALPHAARG0], a1 = t[D3DTSS_ALPHAARG1], a2 = t[D3DTSS_ALPHAARG2];
        // A stage reading a texture that is not bound passes the previous result on.
        if (!bound && UsesTexture(static_cast<int>(colorOp), c0, c1, c2)) {
            colorOp = D3DTOP_SELECTARG1;
            c1 = D3DTA_CURRENT;
        }
        if (!bound && alphaOp != D3DTOP_DISABLE && UsesTexture(static_cast<int>(alphaOp), a0, a1, a2)) {
            alphaOp = D3DTOP_SELECTARG1;
            a1 = D3DTA_CURRENT;
        }
        st.colorOp = static_cast<uint8_t>(colorOp);
        st.colorArg0 = static_cast<uint8_t>(c0);
        st.colorArg1 = static_cast<uint8_t>(c1);
        st.colorArg2 = static_cast<uint8_t>(c2);
        st.alphaOp = static_cast<uint8_t>(alphaOp);
        st.alphaArg0 = static_cast<uint8_t>(a0);
        st.alphaArg1 = static_cast<uint8_t>(a1);
        st.alphaArg2 = static_cast<uint8_t>(a2);
        st.resultTemp = t[D3DTSS_RESULTARG] == D3DTA_TEMP ? 1 : 0;
        st.texCoord = static_cast<uint8_t>(std::min<DWORD>(7, t[D3DTSS_TEXCOORDINDEX] & 0xFFFF));
        st.hasTexture = bound ? 1 : 0;
        ++count;
    }
    key.stageCount = static_cast<uint8_t>(count);
}

const D3DMATRIX& PortDevice::WorldViewProj() {
    if (m_wvpGeneration != m_generation[PORT_UG_TRANSFORM]) {
        m_wv = Multiply(m_world[0], m_view);
        m_wvp = Multiply(m_wv, m_proj);
        // Normals take the inverse transpose of the world-view 3x3 part.
        const float a = m_wv._11, b = m_wv._12, c = m_wv._13;
        const float d = m_wv._21, e = m_wv._22, f = m_wv._23;
        const float g = m_wv._31, h = m_wv._32, i = m_wv._33;
        const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
        const float D = -(b * i - c * h), E = a * i - c * g, F = -(a * h - b * g);
        const float G = b * f - c * e, H = -(a * f - c * d), I = a * e - b * d;
        float det = a * A + b * B + c * C;
        if (std::fabs(det) < 1e-20f) det = 1.0f;
        const float inv = 1.0f / det;
        // inverse = adj^T / det; its transpose is the cofactor matrix / det.
        const float n[9] = {A * inv, B * inv, C * inv, D * inv, E * inv, F * inv, G * inv, H * inv, I * inv};
        std::memcpy(m_normalMatrix, n, sizeof(n));
        m_wvpGeneration = m_generation[PORT_UG_TRANSFORM];
    }
    return m_wvp;
}

void PortDevice::UploadScreen(GLint location) {
    const float vw = static_cast<float>(m_viewport.Width), vh = static_cast<float>(m_viewport.Height);
    // Half a pixel, less 1/128 so that edges through pixel centres are
    // decided by Direct3D's top-left rule rather than by a tie.
    const float shift = 63.0f / 64.0f;
    glUniform4f(location, shift / vw, shift / vh, m_flipped ? -1.0f : 1.0f, 0.0f);
}

void PortDevice::SetProgramOverride(GLuint program) {
    m_programOverride = program;
    m_ffpDirty = true;
    m_overrideScreen = -1;
    m_overrideScreenGeneration = 0;
    if (program) {
        Activate();
        m_overrideScreen = glGetUniformLocation(program, "u_screen");
    }
}

void PortDevice::UploadUniforms(PortFfpProgram& p) {
    if (p.generation[PORT_UG_TRANSFORM] != m_generation[PORT_UG_TRANSFORM]) {
        WorldViewProj();
        glUniformMatrix4fv(p.wvp, 1, GL_FALSE, &m_wvp._11);
        if (p.wv >= 0) glUniformMatrix4fv(p.wv, 1, GL_FALSE, &m_wv._11);
        if (p.nrm >= 0) glUniformMatrix3fv(p.nrm, 1, GL_FALSE, m_normalMatrix);
        p.generation[PORT_UG_TRANSFORM] = m_generation[PORT_UG_TRANSFORM];
    }
    if (p.generation[PORT_UG_SCREEN] != m_generation[PORT_UG_SCREEN]) {
        const float vw = static_cast<float>(m_viewport.Width), vh = static_cast<float>(m_viewport.Height);
        UploadScreen(p.screen);
        if (p.viewportRect >= 0)
            glUniform4f(p.viewportRect, static_cast<float>(m_viewport.X), static_cast<float>(m_viewport.Y), vw, vh);
        p.generation[PORT_UG_SCREEN] = m_generation[PORT_UG_SCREEN];
    }
    if (p.generation[PORT_UG_MATERIAL] != m_generation[PORT_UG_MATERIAL]) {
        // Locations a program does not use are -1, which OpenGL ignores.
        glUniform4fv(p.matDiffuse, 1, &m_material.Diffuse.r);
        glUniform4fv(p.matAmbient, 1, &m_material.Ambient.r);
        glUniform4fv(p.matSpecular, 1, &m_material.Specular.r);
        glUniform4fv(p.matEmissive, 1, &m_material.Emissive.r);
        glUniform1f(p.matPower, m_material.Power);
        float ambient[4];
        ColorToFloats(m_rs[D3DRS_AMBIENT], ambient);
        glUniform4fv(p.globalAmbient, 1, ambient);
        p.generation[PORT_UG_MATERIAL] = m_generation[PORT_UG_MATERIAL];
    }
    if (p.generation[PORT_UG_LIGHTS] != m_generation[PORT_UG_LIGHTS]) {
        if (p.lightDiffuse >= 0 || p.lightAmbient >= 0) {
            float pos[24] = {}, dir[24] = {}, diffuse[32] = {}, specular[32] = {}, ambient[32] = {}, att[32] = {},
                  spot[24] = {};
            int n = 0;
            for (int type : {D3DLIGHT_DIRECTIONAL, D3DLIGHT_POINT, D3DLIGHT_SPOT}) {
                size_t seen = 0;
                for (DWORD index : m_activeLights) {
                    if (seen++ >= m_caps.MaxActiveLights) break;
                    const D3DLIGHT9& l = m_lights[index].light;
                    if (static_cast<int>(l.Type) != type) continue;
                    const D3DMATRIX& v = m_view;
                    const D3DVECTOR& P = l.Position;
                    pos[n * 3 + 0] = P.x * v._11 + P.y * v._21 + P.z * v._31 + v._41;
                    pos[n * 3 + 1] = P.x * v._12 + P.y * v._22 + P.z * v._32 + v._42;
                    pos[n * 3 + 2] = P.x * v._13 + P.y * v._23 + P.z * v._33 + v._43;
                    const D3DVECTOR& D = l.Direction;
                    float dx = D.x * v._11 + D.y * v._21 + D.z * v._31;
                    float dy = D.x * v._12 + D.y * v._22 + D.z * v._32;
                    float dz = D.x * v._13 + D.y * v._23 + D.z * v._33;
                    float len = std::sqrt(dx * dx + dy * dy + dz * dz);
                    if (len > 0) {
                        dx /= len;
                        dy /= len;
                        dz /= len;
                    }
                    // Directional lights store the direction towards the light.
                    const float sign = type == D3DLIGHT_DIRECTIONAL ? -1.0f : 1.0f;
                    dir[n * 3 + 0] = sign * dx;
                    dir[n * 3 + 1] = sign * dy;
                    dir[n * 3 + 2] = sign * dz;
                    std::memcpy(&diffuse[n * 4], &l.Diffuse, 16);
                    std::memcpy(&specular[n * 4], &l.Specular, 16);
                    std::memcpy(&ambient[n * 4], &l.Ambient, 16);
                    att[n * 4 + 0] = l.Attenuation0;
                    att[n * 4 + 1] = l.Attenuation1;
                    att[n * 4 + 2] = l.Attenuation2;
                    att[n * 4 + 3] = l.Range;
                    spot[n * 3 + 0] = std::cos(l.Theta / 2.0f);
                    spot[n * 3 + 1] = std::cos(l.Phi / 2.0f);
                    spot[n * 3 + 2] = l.Falloff;
                    ++n;
                }
            }
            if (n > 0) {
                if (p.lightPos >= 0) glUniform3fv(p.lightPos, n, pos);
                if (p.lightDir >= 0) glUniform3fv(p.lightDir, n, dir);
                if (p.lightDiffuse >= 0) glUniform4fv(p.lightDiffuse, n, diffuse);
                if (p.lightSpecular >= 0) glUniform4fv(p.lightSpecular, n, specular);
                if (p.lightAmbient >= 0) glUniform4fv(p.lightAmbient, n, ambient);
                if (p.lightAtt >= 0) glUniform4fv(p.lightAtt, n, att);
                if (p.lightSpot >= 0) glUniform3fv(p.lightSpot, n, spot);
            }
        }
        p.generation[PORT_UG_LIGHTS] = m_generation[PORT_UG_LIGHTS];
    }
    if (p.generation[PORT_UG_MISC] != m_generation[PORT_UG_MISC]) {
        float c[4];
        if (p.tfactor >= 0) {
            ColorToFloats(m_rs[D3DRS_TEXTUREFACTOR], c);
            glUniform4fv(p.tfactor, 1, c);
        }
        if (p.stageConst >= 0) {
            float constants[32];
            for (int s = 0; s < 8; ++s) ColorToFloats(m_tss[s][D3DTSS_CONSTANT], &constants[s * 4]);
            glUniform4fv(p.stageConst, 8, constants);
        }
        if (p.alphaRef >= 0) glUniform1i(p.alphaRef, static_cast<GLint>(m_rs[D3DRS_ALPHAREF] & 0xFF));
        if (p.fogColor >= 0) {
            ColorToFloats(m_rs[D3DRS_FOGCOLOR], c);
            glUniform4fv(p.fogColor, 1, c);
        }
        if (p.fog >= 0)
            glUniform4f(p.fog, AsFloat(m_rs[D3DRS_FOGSTART]), AsFloat(m_rs[D3DRS_FOGEND]), AsFloat(m_rs[D3DRS_FOGDENSITY]), 0.0f);
        if (p.point >= 0) {
            const float maxSize = std::min(AsFloat(m_rs[D3DRS_POINTSIZE_MAX]), m_caps.MaxPointSize);
            glUniform4f(p.point, AsFloat(m_rs[D3DRS_POINTSIZE]), AsFloat(m_rs[D3DRS_POINTSIZE_MIN]), maxSize,
                        static_cast<float>(m_viewport.Height));
        }
        if (p.pointScale >= 0)
            glUniform3f(p.pointScale, AsFloat(m_rs[D3DRS_POINTSCALE_A]), AsFloat(m_rs[D3DRS_POINTSCALE_B]),
                        AsFloat(m_rs[D3DRS_POINTSCALE_C]));
        p.generation[PORT_UG_MISC] = m_generation[PORT_UG_MISC];
    }
}

void PortDevice::ApplyFfp(D3DPRIMITIVETYPE type, DWORD fvf) {
    const bool points = type == D3DPT_POINTLIST;
    if (m_ffpDirty || points != (m_lastPrimitive == D3DPT_POINTLIST) || fvf != m_programFvf || !m_program) {
        PortFfpKey key;
        BuildKey(key, type, fvf);
        auto it = m_programs.find(key);
        if (it == m_programs.end()) {
            PortFfpProgram program;
            std::string log;
            if (!PortBuildFfpProgram(key, program, log)) {
                PortLog(PortLogLevel::Error, "fixed-function program failed to build: " + log);
                m_program = nullptr;
                return;
            }
            m_boundProgram = program.program;  // building leaves it in use
            it = m_programs.emplace(key, program).first;
        }
        m_program = &it->second;
        m_ffpDirty = false;
        m_programFvf = fvf;
    }
    m_lastPrimitive = type;
    if (m_boundProgram != m_program->program) {
        glUseProgram(m_program->program);
        m_boundProgram = m_program->program;
    }
    UploadUniforms(*m_program);
}

HRESULT PortDevice::PrepareDraw(D3DPRIMITIVETYPE type, DWORD fvf, GLuint buffer, UINT offset, UINT stride) {
    Activate();
    if (m_dirty & ~static_cast<uint32_t>(DIRTY_VERTEX)) ApplyGLState();
    const uint32_t stages = m_textureDirty | m_samplerDirty;
    if (stages) {
        for (DWORD s = 0; s < 8; ++s) {
            if (!(stages & (1u << s))) continue;
            if (m_samplerDirty & (1u << s)) ApplySampler(s);
            auto* texture = static_cast<PortTexture*>(m_textures[s]);
            const GLuint name = texture ? texture->Name() : 0;
            if (m_boundTextures[s] != name) {
                if (m_activeUnit != s) {
                    glActiveTexture(GL_TEXTURE0 + s);
                    m_activeUnit = s;
                }
                glBindTexture(GL_TEXTURE_2D, name);
                m_boundTextures[s] = name;
            }
        }
        m_textureDirty = m_samplerDirty = 0;
    }
    if (fvf != m_attribFvf || buffer != m_attribBuffer || offset != m_attribOffset || stride != m_attribStride)
        SetupVertexAttributes(fvf, buffer, offset, stride);
    if (m_programOverride) {
        if (m_boundProgram != m_programOverride) {
            glUseProgram(m_programOverride);
            m_boundProgram = m_programOverride;
            m_overrideScreenGeneration = 0;
        }
        if (m_overrideScreen >= 0 && m_overrideScreenGeneration != m_generation[PORT_UG_SCREEN]) {
            UploadScreen(m_overrideScreen);
            m_overrideScreenGeneration = m_generation[PORT_UG_SCREEN];
        }
        return D3D_OK;
    }
    ApplyFfp(type, fvf);
    return m_program ? D3D_OK : D3DERR_DRIVERINTERNALERROR;
}

void PortDevice::CountDraw(D3DPRIMITIVETYPE type, UINT primitives) {
    ++m_frameDraws;
    ++m_totalDraws;
    if (type >= D3DPT_TRIANGLELIST) {
        m_frameTriangles += primitives;
        m_totalTriangles += primitives;
    }
}

HRESULT PortDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    const GLenum mode = GLMode(type);
    if (!ValidPrimitive(type) || primitiveCount > m_caps.MaxPrimitiveCount) return D3DERR_INVALIDCALL;
    const Stream& s = m_streams[0];
    const UINT vertexSize = PortFvfSize(m_fvf);
    if (!s.buffer || (!m_fvf && !m_programOverride) || s.stride == 0) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    const uint64_t count = VertexCount(type, primitiveCount);
    const uint64_t end = s.offset + (static_cast<uint64_t>(startVertex) + count - 1) * s.stride + std::max(vertexSize, 1u);
    if (end > s.buffer->Size()) return D3DERR_INVALIDCALL;
    if (m_lostState) return D3D_OK;
    if (HRESULT hr = PrepareDraw(type, m_fvf, s.buffer->Name(), s.offset, s.stride); FAILED(hr)) return hr;
    glDrawArrays(mode, static_cast<GLint>(startVertex), static_cast<GLsizei>(count));
    CountDraw(type, primitiveCount);
    return D3D_OK;
}

HRESULT PortDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT, UINT, UINT startIndex,
                                         UINT primitiveCount) {
    const GLenum mode = GLMode(type);
    if (!ValidPrimitive(type) || primitiveCount > m_caps.MaxPrimitiveCount) return D3DERR_INVALIDCALL;
    const Stream& s = m_streams[0];
    const UINT vertexSize = std::max(PortFvfSize(m_fvf), 1u);
    if (!s.buffer || !m_indices || (!m_fvf && !m_programOverride) || s.stride == 0) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    const uint64_t count = VertexCount(type, primitiveCount);
    if (static_cast<uint64_t>(startIndex) + count > m_indices->Count()) return D3DERR_INVALIDCALL;
    // Every vertex the indices reach must lie inside the vertex buffer.
    uint32_t lowest, highest;
    m_indices->Range(startIndex, static_cast<UINT>(count), lowest, highest);
    const uint64_t available =
        s.buffer->Size() < s.offset + vertexSize ? 0 : (s.buffer->Size() - s.offset - vertexSize) / s.stride + 1;
    const int64_t first = static_cast<int64_t>(baseVertexIndex) + lowest;
    const int64_t last = static_cast<int64_t>(baseVertexIndex) + highest;
    if (first < 0 || last >= static_cast<int64_t>(available)) return D3DERR_INVALIDCALL;
    if (m_lostState) return D3D_OK;
    if (HRESULT hr = PrepareDraw(type, m_fvf, s.buffer->Name(), s.offset, s.stride); FAILED(hr)) return hr;
    BindElementBuffer(m_indices->Name());
    const UINT size = m_indices->IndexSize();
    glDrawElementsBaseVertex(mode, static_cast<GLsizei>(count), size == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void*>(static_cast<uintptr_t>(startIndex) * size), baseVertexIndex);
    CountDraw(type, primitiveCount);
    return D3D_OK;
}

UINT PortDevice::StreamUpload(const void* data, UINT size, UINT) {
    // A ring of vertex data: writes go behind the previous ones without
    // waiting; when it is full a fresh store is started.
    m_streamPos = (m_streamPos + 15u) & ~15u;
    glBindBuffer(GL_COPY_WRITE_BUFFER, m_stream);
    if (size > m_streamSize) {
        m_streamSize = std::max<UINT>(size, std::max<UINT>(m_streamSize * 2, 1u << 20));
        glBufferData(GL_COPY_WRITE_BUFFER, m_streamSize, nullptr, GL_STREAM_DRAW);
        m_streamPos = 0;
    } else if (m_streamPos + size > m_streamSize) {
        glBufferData(GL_COPY_WRITE_BUFFER, m_streamSize, nullptr, GL_STREAM_DRAW);
        m_streamPos = 0;
    }
    const UINT at = m_streamPos;
    void* target = glMapBufferRange(GL_COPY_WRITE_BUFFER, at, size,
                                    GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT | GL_MAP_INVALIDATE_RANGE_BIT);
    if (target) {
        std::memcpy(target, data, size);
        glUnmapBuffer(GL_COPY_WRITE_BUFFER);
    } else {
        glBufferSubData(GL_COPY_WRITE_BUFFER, at, size, data);
    }
    m_streamPos += size;
    return at;
}

HRESULT PortDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* data, UINT stride) {
    const GLenum mode = GLMode(type);
    if (!ValidPrimitive(type) || !data || stride == 0 || primitiveCount > m_caps.MaxPrimitiveCount) return D3DERR_INVALIDCALL;
    if (!m_fvf && !m_programOverride) return D3DERR_INVALIDCALL;
    // Direct3D unbinds stream 0 after a draw from user memory.
    m_streams[0] = Stream{};
    if (primitiveCount == 0) return D3D_OK;
    if (m_lostState) return D3D_OK;
    const uint64_t count = VertexCount(type, primitiveCount);
    const uint64_t bytes = (count - 1) * stride + std::max(PortFvfSize(m_fvf), 1u);
    if (bytes > 0x7FFFFFFF) return D3DERR_INVALIDCALL;
    Activate();
    const UINT at = StreamUpload(data, static_cast<UINT>(bytes), 16);
    if (HRESULT hr = PrepareDraw(type, m_fvf, m_stream, at, stride); FAILED(hr)) return hr;
    glDrawArrays(mode, 0, static_cast<GLsizei>(count));
    CountDraw(type, primitiveCount);
    return D3D_OK;
}

HRESULT PortDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                           UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                           const void* vertexData, UINT stride) {
    const GLenum mode = GLMode(type);
    if (!ValidPrimitive(type) || !indexData || !vertexData || stride == 0 || primitiveCount > m_caps.MaxPrimitiveCount)
        return D3DERR_INVALIDCALL;
    if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    if (!m_fvf && !m_programOverride) return D3DERR_INVALIDCALL;
    m_streams[0] = Stream{};
    m_indices = nullptr;
    if (primitiveCount == 0 || numVertices == 0) return D3D_OK;
    const uint64_t count = VertexCount(type, primitiveCount);
    const UINT indexSize = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    // The indices may only reach the vertices the caller declared.
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t v;
        if (indexSize == 4) std::memcpy(&v, static_cast<const uint8_t*>(indexData) + i * 4, 4);
        else {
            uint16_t v16;
            std::memcpy(&v16, static_cast<const uint8_t*>(indexData) + i * 2, 2);
            v = v16;
        }
        if (v < minVertexIndex || v >= static_cast<uint64_t>(minVertexIndex) + numVertices) return D3DERR_INVALIDCALL;
    }
    if (m_lostState) return D3D_OK;
    const uint64_t bytes = static_cast<uint64_t>(numVertices - 1) * stride + std::max(PortFvfSize(m_fvf), 1u);
    if (bytes > 0x7FFFFFFF || count * indexSize > 0x7FFFFFFF) return D3DERR_INVALIDCALL;
    Activate();
    const UINT at = StreamUpload(static_cast<const uint8_t*>(vertexData) + static_cast<size_t>(minVertexIndex) * stride,
                                 static_cast<UINT>(bytes), 16);
    // Indices go into their own ring.
    const UINT indexBytes = static_cast<UINT>(count * indexSize);
    m_streamIndexPos = (m_streamIndexPos + 3u) & ~3u;
    glBindBuffer(GL_COPY_WRITE_BUFFER, m_streamIndex);
    if (indexBytes > m_streamIndexSize || m_streamIndexPos + indexBytes > m_streamIndexSize) {
        m_streamIndexSize = std::max<UINT>(m_streamIndexSize, std::max<UINT>(indexBytes, 1u << 18));
        glBufferData(GL_COPY_WRITE_BUFFER, m_streamIndexSize, nullptr, GL_STREAM_DRAW);
        m_streamIndexPos = 0;
    }
    const UINT indexAt = m_streamIndexPos;
    glBufferSubData(GL_COPY_WRITE_BUFFER, indexAt, indexBytes, indexData);
    m_streamIndexPos += indexBytes;
    if (HRESULT hr = PrepareDraw(type, m_fvf, m_stream, at, stride); FAILED(hr)) return hr;
    BindElementBuffer(m_streamIndex);
    glDrawElementsBaseVertex(mode, static_cast<GLsizei>(count), indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void*>(static_cast<uintptr_t>(indexAt)),
                             -static_cast<GLint>(minVertexIndex));
    CountDraw(type, primitiveCount);
    return D3D_OK;
}

void PortDevice::ForgetGLState() {
    Activate();
    glBindVertexArray(m_vao);
    m_dirty = DIRTY_ALL;
    m_textureDirty = m_samplerDirty = 0xFF;
    m_boundArray = m_boundElement = m_boundProgram = 0;
    for (GLuint& t : m_boundTextures) t = 0xFFFFFFFF;
    glActiveTexture(GL_TEXTURE0);
    m_activeUnit = 0;
    m_attribFvf = 0xFFFFFFFF;
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    m_enabledAttribs = 0;
    for (GLuint i = 0; i < PORT_ATTRIB_COUNT; ++i) glDisableVertexAttribArray(i);
    for (GLuint i = 0; i < 8; ++i) glBindSampler(i, m_samplers[i]);
}
