// Presentation parameters, swap-chain resources, device loss, Reset and the
// device's window going away.
#include "port/d3d9/device.h"

#include <algorithm>
#include <string>

#include "port/d3d9/device_helpers.h"
#include "port/win32/portlog.h"
#include "port/win32/runoptions.h"
#include "port/win32/sdlvideo.h"

using namespace d3d9;

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

    // Single-sampled, the back buffer is the window's own framebuffer when it
    // fits: no copy at Present.
    m_windowFramebuffer = WindowFramebufferFits();
    m_backBuffer = new PortSurface(this, PortSurface::Kind::BackBuffer, p.BackBufferWidth, p.BackBufferHeight,
                                   p.BackBufferFormat, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET,
                                   static_cast<D3DMULTISAMPLE_TYPE>(m_samples), this);
    if (!m_windowFramebuffer && !m_backBuffer->CreateStorage()) {
        PortLog(PortLogLevel::Warning, "back buffer could not be created");
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    if (p.EnableAutoDepthStencil) {
        m_autoDepth = new PortSurface(this, PortSurface::Kind::DepthStencil, p.BackBufferWidth, p.BackBufferHeight,
                                      p.AutoDepthStencilFormat, D3DPOOL_DEFAULT, D3DUSAGE_DEPTHSTENCIL,
                                      static_cast<D3DMULTISAMPLE_TYPE>(m_samples), this);
        if (!m_windowFramebuffer && !m_autoDepth->CreateStorage()) {
            PortLog(PortLogLevel::Warning, "depth buffer could not be created");
            return D3DERR_OUTOFVIDEOMEMORY;
        }
    }
    // A single-sample image for the screenshot, which multisampled frames
    // are also resolved into when they cannot be resolved into the window.
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
    m_windowFramebuffer = false;
    m_captured = false;
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

void PortDevice::WindowDestroying() {
    if (m_windowGone) return;
    m_windowGone = true;
    m_lostState = 1;
    m_inScene = false;
    if (!m_context) return;
    // The context itself does not belong to the window: any surface of the
    // same configuration can carry it, so resources released later still
    // have a context to delete their objects in.
    m_fallbackWindow = PortCreateGLWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1, 1, SDL_WINDOW_HIDDEN);
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
