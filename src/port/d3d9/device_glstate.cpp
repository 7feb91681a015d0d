// The recorded Direct3D state applied to OpenGL: render states, samplers,
// vertex attributes and the cache of current bindings.
#include "port/d3d9/device.h"

#include <algorithm>

#include "port/d3d9/device_helpers.h"

using namespace d3d9;

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
        m_instancePointers &= ~(1u << index);
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
    m_vertexAttribs = wanted;  // enabled by SyncAttributes
    m_attribFvf = fvf;
    m_attribBuffer = buffer;
    m_attribOffset = offset;
    m_attribStride = stride;
}

void PortDevice::SyncAttributes(uint32_t instanceMask, const int* instanceLocations) {
    const uint32_t enabled = m_vertexAttribs | instanceMask;
    if (enabled == m_enabledAttribs && instanceMask == m_divisors && (m_instancePointers & instanceMask) == instanceMask)
        return;
    // Entries of merged draws: one value per instance, read from the
    // instance buffer (draws start at their first entry).
    if (instanceMask & ~m_instancePointers) {
        EnsureInstanceBuffer();
        BindArrayBuffer(m_instanceBuffer);
        for (int k = 0; k < PORT_INSTANCE_VEC4S; ++k) {
            const int location = instanceLocations[k];
            if (location < 0 || (m_instancePointers & (1u << location))) continue;
            glVertexAttribPointer(static_cast<GLuint>(location), 4, GL_FLOAT, GL_FALSE, PORT_INSTANCE_VEC4S * 16,
                                  reinterpret_cast<const void*>(static_cast<uintptr_t>(k) * 16));
            m_instancePointers |= 1u << location;
        }
        // The vertex pointers of this buffer binding are set already; the
        // array binding itself is only a cache of what was bound last.
    }
    const uint32_t divisorChanged = instanceMask ^ m_divisors;
    const uint32_t enableChanged = enabled ^ m_enabledAttribs;
    for (GLuint i = 0; i < 16; ++i) {
        if (divisorChanged & (1u << i)) glVertexAttribDivisor(i, (instanceMask & (1u << i)) ? 1 : 0);
        if (enableChanged & (1u << i)) {
            if (enabled & (1u << i)) glEnableVertexAttribArray(i);
            else glDisableVertexAttribArray(i);
        }
    }
    m_divisors = instanceMask;
    m_enabledAttribs = enabled;
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
    m_enabledAttribs = m_vertexAttribs = m_instancePointers = m_divisors = 0;
    for (GLuint i = 0; i < 16; ++i) {
        glDisableVertexAttribArray(i);
        glVertexAttribDivisor(i, 0);
    }
    for (GLuint i = 0; i < 8; ++i) glBindSampler(i, m_samplers[i]);
}
