// Present and read-back: presenting the back buffer, GetRenderTargetData,
// surface reads, and the screenshot and statistics written at the end of a run.
#include "port/d3d9/device.h"

#include <stb/stb_image_write.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "port/d3d9/device_gl.h"
#include "port/d3d9/device_helpers.h"
#include "port/win32/portlog.h"
#include "port/win32/runoptions.h"

using namespace d3d9;

namespace {

struct FrameTimeSummary {
    double mean = 0, median = 0, p99 = 0;
};

FrameTimeSummary Summarise(std::vector<double> times) {
    FrameTimeSummary out;
    if (times.empty()) return out;
    std::sort(times.begin(), times.end());
    for (double t : times) out.mean += t;
    out.mean /= static_cast<double>(times.size());
    const size_t n = times.size();
    out.median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2.0;
    const size_t index = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n))) - 1;
    out.p99 = times[std::min(index, n - 1)];
    return out;
}

}  // namespace

// Only while the window may be drawn into directly: exactly the back buffer's
// size, eight bits per colour channel and alpha (the back buffer keeps alpha
// whatever its format says), and the depth and stencil bits of a D24S8
// depth buffer when there is one.
bool PortDevice::WindowFramebufferFits() const {
    if (m_samples > 0 || !PortWindowFramebufferAllowed()) return false;
    const D3DPRESENT_PARAMETERS& p = m_params;
    const PortFormatInfo* color = PortFindFormat(p.BackBufferFormat);
    if (!color || color->internalFormat != GL_RGBA8) return false;
    if (p.EnableAutoDepthStencil && p.AutoDepthStencilFormat != D3DFMT_D24S8) return false;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(m_sdlWindow, &w, &h);
    if (w != static_cast<int>(p.BackBufferWidth) || h != static_cast<int>(p.BackBufferHeight)) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    auto bits = [](GLenum attachment, GLenum what) {
        GLint value = 0;
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, attachment, what, &value);
        return value;
    };
    const bool fits = bits(GL_BACK_LEFT, GL_FRAMEBUFFER_ATTACHMENT_RED_SIZE) == 8 &&
                      bits(GL_BACK_LEFT, GL_FRAMEBUFFER_ATTACHMENT_GREEN_SIZE) == 8 &&
                      bits(GL_BACK_LEFT, GL_FRAMEBUFFER_ATTACHMENT_BLUE_SIZE) == 8 &&
                      bits(GL_BACK_LEFT, GL_FRAMEBUFFER_ATTACHMENT_ALPHA_SIZE) == 8 &&
                      (!p.EnableAutoDepthStencil || (bits(GL_DEPTH, GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE) == 24 &&
                                                     bits(GL_STENCIL, GL_FRAMEBUFFER_ATTACHMENT_STENCIL_SIZE) == 8));
    while (glGetError() != GL_NO_ERROR) {
    }
    return fits;
}

// The back buffer moves into framebuffer objects of its own, with what was
// drawn so far: the window's buffers cannot be combined with other surfaces
// (a depth buffer of the application's with the back buffer, the automatic
// depth buffer with a render target), and a resized window no longer fits.
void PortDevice::LeaveWindowFramebuffer() {
    if (!m_windowFramebuffer) return;
    m_windowFramebuffer = false;
    if (!m_backBuffer->CreateStorage() || (m_autoDepth && !m_autoDepth->CreateStorage())) {
        PortLog(PortLogLevel::Warning, "back buffer could not be moved off the window");
        return;
    }
    bool depthAttached = false;
    const GLuint fbo = FramebufferFor(m_backBuffer, m_autoDepth, depthAttached);
    const GLint w = static_cast<GLint>(m_backBuffer->Width()), h = static_cast<GLint>(m_backBuffer->Height());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);
    glDisable(GL_SCISSOR_TEST);
    glBlitFramebuffer(0, 0, w, h, 0, 0, w, h,
                      GL_COLOR_BUFFER_BIT | (depthAttached ? GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT : 0), GL_NEAREST);
    while (glGetError() != GL_NO_ERROR) {
    }
    m_dirty |= DIRTY_FBO | DIRTY_SCISSOR;
}

// The run ended before the frame limit it announced: the last frame shown is
// taken from the back buffer as the swap left it (the window's, which Mesa's
// software paths keep, or the device's own framebuffer). Front buffers of
// software-rendered X windows read back empty, so they are not used.
void PortDevice::CaptureShownFrame() {
    const GLint w = static_cast<GLint>(m_backBuffer->Width()), h = static_cast<GLint>(m_backBuffer->Height());
    while (glGetError() != GL_NO_ERROR) {
    }
    glDisable(GL_SCISSOR_TEST);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_resolveFbo);
    if (m_windowFramebuffer) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glReadBuffer(GL_BACK);
    } else {
        bool depthAttached = false;
        glBindFramebuffer(GL_READ_FRAMEBUFFER, FramebufferFor(m_backBuffer, nullptr, depthAttached));
    }
    glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    m_captured = glGetError() == GL_NO_ERROR;
    m_dirty |= DIRTY_FBO | DIRTY_SCISSOR;
}

bool PortDevice::CapturesFrame() const {
    const PortRunOptions& o = PortRun();
    if (o.screenshot.empty() || !m_resolveFbo) return false;
    // With a frame limit only the last frames can be the one written; without
    // one every frame may be the last.
    return o.frames < 0 || PortPresentedFrames() + 1 >= static_cast<uint64_t>(o.frames);
}

HRESULT PortDevice::Present(const RECT*, const RECT*, HWND, const RGNDATA*) {
    if (m_windowGone) return D3DERR_DEVICELOST;
    if (m_inScene) return D3DERR_INVALIDCALL;
    if (!m_params.Windowed && IsIconic(m_window)) m_lostState = 1;
    if (m_lostState) return D3DERR_DEVICELOST;
    Activate();
    const GLint w = static_cast<GLint>(m_backBuffer->Width()), h = static_cast<GLint>(m_backBuffer->Height());
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(m_sdlWindow, &dw, &dh);
    if (m_windowFramebuffer && (dw != w || dh != h)) LeaveWindowFramebuffer();
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    const bool capture = CapturesFrame();
    if (m_windowFramebuffer) {
        // Drawn into the window already; the swap shows it.
        if (capture) {
            glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
            glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_resolveFbo);
            glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        }
    } else {
        bool depthAttached = false;
        GLuint source = FramebufferFor(m_backBuffer, nullptr, depthAttached);
        const bool sameSize = dw == w && dh == h;
        if (m_resolveFbo && (capture || !sameSize || m_noWindowResolve)) {
            // Resolved (or copied) once into the kept image, which is then shown.
            glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
            glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_resolveFbo);
            glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
            source = m_resolveFbo;
        }
        glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        while (glGetError() != GL_NO_ERROR) {
        }
        glBlitFramebuffer(0, 0, w, h, 0, 0, dw, dh, GL_COLOR_BUFFER_BIT, sameSize ? GL_NEAREST : GL_LINEAR);
        if (glGetError() != GL_NO_ERROR && source != m_resolveFbo && m_resolveFbo) {
            // The driver cannot resolve into the window's format: through the
            // kept image from now on.
            m_noWindowResolve = true;
            glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_resolveFbo);
            glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
            glBindFramebuffer(GL_READ_FRAMEBUFFER, m_resolveFbo);
            glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
            glBlitFramebuffer(0, 0, w, h, 0, 0, dw, dh, GL_COLOR_BUFFER_BIT, sameSize ? GL_NEAREST : GL_LINEAR);
        }
    }
    if (capture) m_captured = true;
    SDL_GL_SwapWindow(m_sdlWindow);
    m_dirty |= DIRTY_FBO | DIRTY_SCISSOR | DIRTY_COLORMASK;
    m_hasPresented = true;

    const auto now = std::chrono::steady_clock::now();
    if (m_lastPresent.time_since_epoch().count() != 0) {
        const double ms = std::chrono::duration<double, std::milli>(now - m_lastPresent).count();
        m_frameTimes.push_back(ms);
        if (PortPresentingSceneFrame()) m_sceneFrameTimes.push_back(ms);
    }
    m_lastPresent = now;
    m_drawsPerFrame.push_back(m_frameDraws);
    m_glDrawsPerFrame.push_back(m_frameGLDraws);
    m_trianglesPerFrame.push_back(m_frameTriangles);
    m_frameDraws = m_frameGLDraws = m_frameTriangles = 0;
    PortFramePresented(m_window);
    // A lost device on demand, as a minimised full-screen window gives one:
    // headless runs exercise the program's reset path with it.
    if (PortLoseDeviceAfter(PortPresentedFrames())) ForceLoss();
    return D3D_OK;
}

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
    glReadBuffer(fbo == 0 ? GL_BACK : GL_COLOR_ATTACHMENT0);
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

void PortDevice::WriteRunOutputs() {
    if (m_outputsWritten) return;
    m_outputsWritten = true;
    const PortRunOptions& o = PortRun();
    if (!o.screenshot.empty()) {
        if (m_hasPresented && m_resolveFbo && !m_captured && Activate()) CaptureShownFrame();
        if (!m_hasPresented || !m_resolveFbo || !m_captured) {
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
        const FrameTimeSummary all = Summarise(m_frameTimes), scene = Summarise(m_sceneFrameTimes);
        double draws = 0, glDraws = 0, triangles = 0;
        for (uint64_t d : m_drawsPerFrame) draws += static_cast<double>(d);
        for (uint64_t d : m_glDrawsPerFrame) glDraws += static_cast<double>(d);
        for (uint64_t t : m_trianglesPerFrame) triangles += static_cast<double>(t);
        const double frames = static_cast<double>(m_drawsPerFrame.size());
        if (frames > 0) {
            draws /= frames;
            glDraws /= frames;
            triangles /= frames;
        }
        FILE* file = std::fopen(o.stats.c_str(), "w");
        if (!file) {
            PortLog(PortLogLevel::Warning, "statistics could not be written to " + o.stats);
        } else {
            // Draw calls: those the program asked for, and the OpenGL draw
            // calls they became once merged.
            // The scene's frames leave out the load screen's and the pause
            // that ends a load: those are what a frame rate of the scene means.
            std::fprintf(file,
                         "{\n  \"frames\": %zu,\n  \"frame_time_ms\": {\"mean\": %.4f, \"median\": %.4f, \"p99\": %.4f},\n"
                         "  \"scene_frames\": %zu,\n"
                         "  \"scene_frame_time_ms\": {\"mean\": %.4f, \"median\": %.4f, \"p99\": %.4f},\n"
                         "  \"draw_calls_per_frame\": %.2f,\n  \"gl_draw_calls_per_frame\": %.2f,\n"
                         "  \"triangles_per_frame\": %.2f,\n"
                         "  \"last_frame\": {\"draw_calls\": %llu, \"gl_draw_calls\": %llu, \"triangles\": %llu}\n}\n",
                         m_drawsPerFrame.size(), all.mean, all.median, all.p99, m_sceneFrameTimes.size(), scene.mean,
                         scene.median, scene.p99, draws, glDraws, triangles,
                         static_cast<unsigned long long>(m_drawsPerFrame.empty() ? 0 : m_drawsPerFrame.back()),
                         static_cast<unsigned long long>(m_glDrawsPerFrame.empty() ? 0 : m_glDrawsPerFrame.back()),
                         static_cast<unsigned long long>(m_trianglesPerFrame.empty() ? 0 : m_trianglesPerFrame.back()));
            std::fclose(file);
        }
    }
}
