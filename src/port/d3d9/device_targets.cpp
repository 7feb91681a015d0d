// Render targets, depth-stencil surfaces and the framebuffer objects behind them.
#include "port/d3d9/device.h"

#include <cstring>

#include "port/d3d9/device_helpers.h"
#include "port/win32/portlog.h"

using namespace d3d9;

HRESULT PortDevice::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (swapChain != 0 || index >= m_params.BackBufferCount) return D3DERR_INVALIDCALL;
    m_backBuffer->AddRef();
    *surface = m_backBuffer;
    return D3D_OK;
}

HRESULT PortDevice::SetRenderTarget(DWORD index, IDirect3DSurface9* target) {
    if (index != 0) return D3DERR_INVALIDCALL;
    auto* s = static_cast<PortSurface*>(target);
    if (!s) return D3DERR_INVALIDCALL;
    if (!IsColorTarget(s)) return D3DERR_INVALIDCALL;
    // The same target again, with the whole of it as viewport and scissor
    // already (cameras set theirs every frame), changes nothing.
    const D3DVIEWPORT9 whole{0, 0, s->Width(), s->Height(), 0.0f, 1.0f};
    if (s == m_renderTarget && std::memcmp(&m_viewport, &whole, sizeof(whole)) == 0 && m_scissor.left == 0 &&
        m_scissor.top == 0 && m_scissor.right == static_cast<LONG>(s->Width()) &&
        m_scissor.bottom == static_cast<LONG>(s->Height()))
        return D3D_OK;
    m_renderTarget = s;
    // A new target resets the viewport and scissor rectangle to the whole target.
    m_viewport = D3DVIEWPORT9{0, 0, s->Width(), s->Height(), 0.0f, 1.0f};
    m_scissor = RECT{0, 0, static_cast<LONG>(s->Width()), static_cast<LONG>(s->Height())};
    m_dirty |= DIRTY_FBO | DIRTY_VIEWPORT | DIRTY_SCISSOR | DIRTY_RASTER;
    BumpGeneration(PORT_UG_SCREEN);
    BumpGeneration(PORT_UG_MISC);
    return D3D_OK;
}

HRESULT PortDevice::GetRenderTarget(DWORD index, IDirect3DSurface9** target) {
    if (!target) return D3DERR_INVALIDCALL;
    *target = nullptr;
    if (index >= 4) return D3DERR_INVALIDCALL;
    if (index > 0) return D3DERR_NOTFOUND;
    PortSurface* s = m_renderTarget ? m_renderTarget : m_backBuffer;
    s->AddRef();
    *target = s;
    return D3D_OK;
}

HRESULT PortDevice::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    auto* s = static_cast<PortSurface*>(surface);
    if (s && !s->IsDepth()) return D3DERR_INVALIDCALL;
    if (s == m_depthStencil) return D3D_OK;
    m_depthStencil = s;
    m_dirty |= DIRTY_FBO | DIRTY_DEPTH | DIRTY_STENCIL | DIRTY_RASTER;
    return D3D_OK;
}

HRESULT PortDevice::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (!m_depthStencil) return D3DERR_NOTFOUND;
    m_depthStencil->AddRef();
    *surface = m_depthStencil;
    return D3D_OK;
}

void PortDevice::SurfaceDestroyed(PortSurface* surface) {
    if (m_batchCount && MakeCurrent()) FlushBatch();  // waiting draws may target it
    if (m_boundColor == surface) m_boundColor = nullptr;
    for (size_t i = 0; i < m_fbos.size();) {
        if (m_fbos[i].color == surface || m_fbos[i].depth == surface) {
            if (Activate()) glDeleteFramebuffers(1, &m_fbos[i].fbo);
            m_fbos.erase(m_fbos.begin() + static_cast<long>(i));
            m_dirty |= DIRTY_FBO;
        } else {
            ++i;
        }
    }
    if (m_renderTarget == surface && surface != m_backBuffer) {
        m_renderTarget = m_backBuffer;
        m_dirty |= DIRTY_FBO | DIRTY_VIEWPORT | DIRTY_SCISSOR | DIRTY_RASTER;
    }
    if (m_depthStencil == surface && surface != m_autoDepth) {
        m_depthStencil = nullptr;
        m_dirty |= DIRTY_FBO | DIRTY_DEPTH | DIRTY_STENCIL;
    }
}

GLuint PortDevice::FramebufferFor(PortSurface* color, PortSurface* depth, bool& depthAttached) {
    if (m_windowFramebuffer && (color == m_backBuffer || (depth && depth == m_autoDepth))) {
        if (color == m_backBuffer && (!depth || depth == m_autoDepth)) {
            depthAttached = depth != nullptr;
            return 0;  // the window's own framebuffer
        }
        LeaveWindowFramebuffer();
    }
    for (const FboEntry& e : m_fbos) {
        if (e.color == color && e.depth == depth) {
            depthAttached = e.depthAttached;
            return e.fbo;
        }
    }
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    if (color->SurfaceKind() == PortSurface::Kind::TextureLevel)
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color->Texture()->Name(),
                               static_cast<GLint>(color->Level()));
    else
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color->Renderbuffer());
    depthAttached = false;
    if (depth) {
        const PortFormatInfo* info = PortFindFormat(depth->Format());
        GLenum attachment = info && info->stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT;
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, depth->Renderbuffer());
        depthAttached = true;
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            // Mismatched sample counts: draw without the depth buffer rather than not at all.
            PortLog(PortLogLevel::Warning, "depth buffer does not fit the render target; drawing without depth");
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, 0);
            depthAttached = false;
        }
    }
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        PortLog(PortLogLevel::Warning, "render target framebuffer is incomplete");
    m_fbos.push_back(FboEntry{color, depth, fbo, depthAttached});
    return fbo;
}

void PortDevice::BindFramebuffer() {
    PortSurface* color = m_renderTarget ? m_renderTarget : m_backBuffer;
    bool depthAttached = false;
    GLuint fbo = FramebufferFor(color, m_depthStencil, depthAttached);
    // Drawing into a texture is complete before anything else is drawn or
    // read: Mesa's threaded software rasteriser was seen, now and then under
    // load, to sample such a texture, or read the back buffer, as it was
    // before the texture was drawn into. One wait per render-to-texture.
    if (m_boundColor && m_boundColor != color && m_boundColor->SurfaceKind() == PortSurface::Kind::TextureLevel)
        glFinish();
    m_boundColor = color;
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    const bool flipped = color->SurfaceKind() != PortSurface::Kind::BackBuffer;
    if (flipped != m_flipped) {
        m_flipped = flipped;
        BumpGeneration(PORT_UG_SCREEN);
    }
    m_targetWidth = color->Width();
    m_targetHeight = color->Height();
    m_hasDepth = depthAttached;
    const PortFormatInfo* info = depthAttached ? PortFindFormat(m_depthStencil->Format()) : nullptr;
    m_hasStencil = info && info->stencil;
    // Sprite coordinates start at the top of the image on every target.
    glPointParameteri(GL_POINT_SPRITE_COORD_ORIGIN, m_flipped ? GL_LOWER_LEFT : GL_UPPER_LEFT);
    if (color->SurfaceKind() == PortSurface::Kind::TextureLevel) color->Texture()->MarkRendered();
}

void PortDevice::ToGLRect(LONG x, LONG y, LONG w, LONG h, GLint out[4]) const {
    out[0] = x;
    out[1] = m_flipped ? y : static_cast<GLint>(m_targetHeight) - (y + h);
    out[2] = w;
    out[3] = h;
}
