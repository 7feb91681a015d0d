// Scenes, clears and draw calls: validation, per-draw set-up, user-memory
// streaming and draw statistics.
#include "port/d3d9/device.h"

#include <algorithm>
#include <cstring>

#include "port/d3d9/device_helpers.h"

using namespace d3d9;

HRESULT PortDevice::BeginScene() {
    if (m_inScene) return D3DERR_INVALIDCALL;
    m_inScene = true;
    return D3D_OK;
}

HRESULT PortDevice::EndScene() {
    if (!m_inScene) return D3DERR_INVALIDCALL;
    m_inScene = false;
    if (m_batchCount && MakeCurrent()) FlushBatch();
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
        SyncAttributes(0, nullptr);
        return D3D_OK;
    }
    ApplyFfp(type, fvf);
    if (!m_program) return D3DERR_DRIVERINTERNALERROR;
    SyncAttributes(m_program->instanceMask, m_program->instanceLocation);
    return D3D_OK;
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
    if (UsesInstances()) {
        PendingDraw draw;
        draw.type = type;
        draw.primitives = primitiveCount;
        draw.count = static_cast<GLsizei>(count);
        draw.first = static_cast<GLint>(startVertex);
        draw.vertices = s.buffer;
        draw.offset = s.offset;
        draw.stride = s.stride;
        draw.fvf = m_fvf;
        return DrawWithInstances(draw);
    }
    if (HRESULT hr = PrepareDraw(type, m_fvf, s.buffer->Name(), s.offset, s.stride); FAILED(hr)) return hr;
    glDrawArrays(mode, static_cast<GLint>(startVertex), static_cast<GLsizei>(count));
    CountDraw(type, primitiveCount);
    CountGLDraw();
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
    if (UsesInstances()) {
        PendingDraw draw;
        draw.indexed = true;
        draw.type = type;
        draw.primitives = primitiveCount;
        draw.count = static_cast<GLsizei>(count);
        draw.startIndex = startIndex;
        draw.baseVertex = baseVertexIndex;
        draw.indices = m_indices;
        draw.indexName = m_indices->Name();
        draw.indexSize = m_indices->IndexSize();
        draw.vertices = s.buffer;
        draw.offset = s.offset;
        draw.stride = s.stride;
        draw.fvf = m_fvf;
        return DrawWithInstances(draw);
    }
    if (HRESULT hr = PrepareDraw(type, m_fvf, s.buffer->Name(), s.offset, s.stride); FAILED(hr)) return hr;
    BindElementBuffer(m_indices->Name());
    const UINT size = m_indices->IndexSize();
    glDrawElementsBaseVertex(mode, static_cast<GLsizei>(count), size == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void*>(static_cast<uintptr_t>(startIndex) * size), baseVertexIndex);
    CountDraw(type, primitiveCount);
    CountGLDraw();
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
    const GLuint firstInstance = UsesInstances() ? UploadSingleInstance() : 0;
    if (UsesInstances() && !m_program->instanceBlock)
        glDrawArraysInstancedBaseInstance(mode, 0, static_cast<GLsizei>(count), 1, firstInstance);
    else
        glDrawArrays(mode, 0, static_cast<GLsizei>(count));
    CountDraw(type, primitiveCount);
    CountGLDraw();
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
    const GLuint firstInstance = UsesInstances() ? UploadSingleInstance() : 0;
    BindElementBuffer(m_streamIndex);
    const GLenum indexType = indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    const void* indexOffset = reinterpret_cast<const void*>(static_cast<uintptr_t>(indexAt));
    if (UsesInstances() && !m_program->instanceBlock)
        glDrawElementsInstancedBaseVertexBaseInstance(mode, static_cast<GLsizei>(count), indexType, indexOffset, 1,
                                                      -static_cast<GLint>(minVertexIndex), firstInstance);
    else
        glDrawElementsBaseVertex(mode, static_cast<GLsizei>(count), indexType, indexOffset, -static_cast<GLint>(minVertexIndex));
    CountDraw(type, primitiveCount);
    CountGLDraw();
    return D3D_OK;
}
