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

#include "port/d3d9/device_helpers.h"
#include "port/win32/portlog.h"
#include "port/win32/runoptions.h"

using namespace d3d9;

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
