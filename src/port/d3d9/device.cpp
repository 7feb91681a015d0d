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
// Presentation and run outputs
// ---------------------------------------------------------------------------
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
