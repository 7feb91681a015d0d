// Merged draws. A scene draws the same mesh for many objects, each with its
// own world transform and otherwise the same state. Every draw of vertices
// that are not pre-transformed takes its transforms from an instance entry
// (world-view-projection, world-view and normal matrix, see ffp.h), so a draw
// that repeats the previous one with nothing but the world transform changed
// only adds an entry; the entries go to OpenGL as one instanced draw when
// anything else is about to happen: another draw, a state that reaches
// OpenGL, a clear, a query, an upload, a read-back, EndScene or Present
// (everything that touches OpenGL activates the context first, and
// activating sends the waiting draws). Instances are drawn in order, so the
// picture, the depth buffer and occlusion counts are those of the separate
// draws.
#include "port/d3d9/device.h"

#include <algorithm>
#include <cstring>

#include "port/d3d9/device_helpers.h"

using namespace d3d9;

namespace {

// Uniform groups whose change ends a merged draw; transforms travel per instance.
constexpr PortUniformGroup kSharedGroups[] = {PORT_UG_LIGHTS, PORT_UG_MATERIAL, PORT_UG_MISC, PORT_UG_SCREEN};

constexpr UINT kInstanceBytes = PORT_INSTANCE_VEC4S * 16;

}  // namespace

void PortDevice::SetBatching(bool enabled) {
    if (m_batchCount && MakeCurrent()) FlushBatch();
    m_batching = enabled;
}

bool PortDevice::ContinuesBatch(const PendingDraw& d) const {
    const PendingDraw& b = m_batch;
    if (!m_batching || m_programOverride || m_ffpDirty) return false;
    if (m_batchCount >= static_cast<UINT>(PortInstanceCapacity())) return false;
    if ((m_dirty & ~static_cast<uint32_t>(DIRTY_VERTEX)) || m_textureDirty || m_samplerDirty) return false;
    if (d.indexed != b.indexed || d.type != b.type || d.count != b.count || d.first != b.first ||
        d.startIndex != b.startIndex || d.baseVertex != b.baseVertex || d.indices != b.indices ||
        d.vertices != b.vertices || d.offset != b.offset || d.stride != b.stride || d.fvf != b.fvf)
        return false;
    for (PortUniformGroup g : kSharedGroups)
        if (m_generation[g] != m_batchGeneration[g]) return false;
    return true;
}

void PortDevice::AppendInstance() {
    WorldViewProj();
    const size_t floats = PORT_INSTANCE_VEC4S * 4;
    if (m_instanceData.size() < static_cast<size_t>(PortInstanceCapacity()) * floats)
        m_instanceData.resize(static_cast<size_t>(PortInstanceCapacity()) * floats);
    float* entry = m_instanceData.data() + static_cast<size_t>(m_batchCount) * floats;
    // Row-vector matrices as they are: read as columns, M * v equals v * M.
    std::memcpy(entry, &m_wvp._11, 64);
    std::memcpy(entry + 16, &m_wv._11, 64);
    for (int column = 0; column < 3; ++column) {
        std::memcpy(entry + 32 + column * 4, m_normalMatrix + column * 3, 12);
        entry[32 + column * 4 + 3] = 0.0f;
    }
    ++m_batchCount;
}

HRESULT PortDevice::DrawWithInstances(const PendingDraw& draw) {
    if (!MakeCurrent()) return D3D_OK;
    if (m_batchCount) {
        if (ContinuesBatch(draw)) {
            AppendInstance();
            CountDraw(draw.type, draw.primitives);
            return D3D_OK;
        }
        FlushBatch();
    }
    const GLuint buffer = draw.vertices->Name();
    if (HRESULT hr = PrepareDraw(draw.type, draw.fvf, buffer, draw.offset, draw.stride); FAILED(hr)) return hr;
    if (!m_program || !m_program->instanced) return D3DERR_DRIVERINTERNALERROR;
    m_batch = draw;
    for (PortUniformGroup g : kSharedGroups) m_batchGeneration[g] = m_generation[g];
    AppendInstance();
    CountDraw(draw.type, draw.primitives);
    if (!m_batching) FlushBatch();
    return D3D_OK;
}

void PortDevice::EnsureInstanceBuffer() {
    if (m_instanceBuffer) return;
    const UINT block = static_cast<UINT>(PortInstanceCapacity()) * kInstanceBytes;
    glGenBuffers(1, &m_instanceBuffer);
    m_instanceBufferSize = std::max<UINT>(4u << 20, block * 4);
    glBindBuffer(GL_COPY_WRITE_BUFFER, m_instanceBuffer);
    glBufferData(GL_COPY_WRITE_BUFFER, m_instanceBufferSize, nullptr, GL_STREAM_DRAW);
    m_instancePos = 0;
}

GLuint PortDevice::UploadInstances(UINT instances, bool block) {
    // The entries go behind the previous ones in a ring that is replaced
    // when full, so nothing waits for draws still reading the old entries.
    EnsureInstanceBuffer();
    const UINT blockBytes = static_cast<UINT>(PortInstanceCapacity()) * kInstanceBytes;  // what the block declares
    const UINT bytes = instances * kInstanceBytes;
    // Attribute programs start at an entry; block ranges start where the
    // driver allows.
    const UINT align = block ? static_cast<UINT>(PortGetGLCaps().uniformBufferAlignment) : kInstanceBytes;
    m_instancePos = (m_instancePos + align - 1) / align * align;
    glBindBuffer(GL_COPY_WRITE_BUFFER, m_instanceBuffer);
    if (m_instancePos + (block ? blockBytes : bytes) > m_instanceBufferSize) {
        glBufferData(GL_COPY_WRITE_BUFFER, m_instanceBufferSize, nullptr, GL_STREAM_DRAW);
        m_instancePos = 0;
    }
    void* target = glMapBufferRange(GL_COPY_WRITE_BUFFER, m_instancePos, bytes,
                                    GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT | GL_MAP_INVALIDATE_RANGE_BIT);
    if (target) {
        std::memcpy(target, m_instanceData.data(), bytes);
        glUnmapBuffer(GL_COPY_WRITE_BUFFER);
    } else {
        glBufferSubData(GL_COPY_WRITE_BUFFER, m_instancePos, bytes, m_instanceData.data());
    }
    const UINT at = m_instancePos;
    m_instancePos += bytes;
    if (block) {
        glBindBufferRange(GL_UNIFORM_BUFFER, PORT_INSTANCE_BINDING, m_instanceBuffer, at, blockBytes);
        return 0;
    }
    return at / kInstanceBytes;
}

GLuint PortDevice::UploadSingleInstance() {
    m_batchCount = 0;
    AppendInstance();
    m_batchCount = 0;
    return UploadInstances(1, m_program->instanceBlock);
}

void PortDevice::FlushBatch() {
    const UINT instances = m_batchCount;
    m_batchCount = 0;
    if (!instances) return;
    // The program and everything else are still those of the first draw.
    const bool block = m_program->instanceBlock;
    const GLuint first = UploadInstances(instances, block);
    const PendingDraw& d = m_batch;
    const GLenum mode = GLMode(d.type);
    const GLsizei count = static_cast<GLsizei>(instances);
    if (d.indexed) {
        BindElementBuffer(d.indexName);
        const GLenum type = d.indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
        const void* offset = reinterpret_cast<const void*>(static_cast<uintptr_t>(d.startIndex) * d.indexSize);
        if (block) glDrawElementsInstancedBaseVertex(mode, d.count, type, offset, count, d.baseVertex);
        else glDrawElementsInstancedBaseVertexBaseInstance(mode, d.count, type, offset, count, d.baseVertex, first);
    } else {
        if (block) glDrawArraysInstanced(mode, d.first, d.count, count);
        else glDrawArraysInstancedBaseInstance(mode, d.first, d.count, count, first);
    }
    CountGLDraw();
}

void PortDevice::DestroyBatchResources() {
    m_batchCount = 0;
    m_instancePointers = 0;
    if (m_instanceBuffer) glDeleteBuffers(1, &m_instanceBuffer);
    m_instanceBuffer = 0;
    m_instanceBufferSize = m_instancePos = 0;
}
