// Buffers, textures, surfaces and queries of the device.
#include <cairo.h>

#include <algorithm>
#include <cstring>

#include "port/d3d9/device.h"
#include "port/d3dx9/wingdi.h"
#include "port/win32/portlog.h"

UINT PortFvfSize(DWORD fvf) {
    UINT size = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
    case 0: break;
    case D3DFVF_XYZ: size = 12; break;
    case D3DFVF_XYZRHW: size = 16; break;
    case D3DFVF_XYZW: size = 16; break;
    case D3DFVF_XYZB1: size = 16; break;
    case D3DFVF_XYZB2: size = 20; break;
    case D3DFVF_XYZB3: size = 24; break;
    case D3DFVF_XYZB4: size = 28; break;
    case D3DFVF_XYZB5: size = 32; break;
    default: return 0;
    }
    if (fvf & D3DFVF_NORMAL) size += 12;
    if (fvf & D3DFVF_PSIZE) size += 4;
    if (fvf & D3DFVF_DIFFUSE) size += 4;
    if (fvf & D3DFVF_SPECULAR) size += 4;
    const UINT count = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (count > 8) return 0;
    for (UINT i = 0; i < count; ++i) {
        switch ((fvf >> (16 + 2 * i)) & 3) {
        case D3DFVF_TEXTUREFORMAT1: size += 4; break;
        case D3DFVF_TEXTUREFORMAT2: size += 8; break;
        case D3DFVF_TEXTUREFORMAT3: size += 12; break;
        default: size += 16; break;
        }
    }
    return size;
}

// ---------------------------------------------------------------------------
// Buffers
// ---------------------------------------------------------------------------
PortBufferCore::PortBufferCore(PortDevice* device, UINT size, DWORD usage, D3DPOOL pool)
    : m_device(device), m_size(size), m_usage(usage), m_pool(pool), m_data(size, 0) {
    m_device->AddRef();
    m_device->ResourceCreated(pool);
    m_device->Activate();
    glGenBuffers(1, &m_name);
    glBindBuffer(GL_COPY_WRITE_BUFFER, m_name);
    glBufferData(GL_COPY_WRITE_BUFFER, size, m_data.data(), (usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    if (glGetError() == GL_OUT_OF_MEMORY) {
        glDeleteBuffers(1, &m_name);
        m_name = 0;
    }
}

PortBufferCore::~PortBufferCore() {
    if (m_name) {
        m_device->BufferDestroyed(m_name);
        if (m_device->Activate()) glDeleteBuffers(1, &m_name);
    }
    m_device->ResourceDestroyed(m_pool);
    m_device->Release();
}

HRESULT PortBufferCore::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (offset > m_size) return D3DERR_INVALIDCALL;
    if (size == 0) size = m_size - offset;
    if (size > m_size - offset) return D3DERR_INVALIDCALL;
    if (!(flags & D3DLOCK_READONLY)) {
        if (m_dirtyEnd == m_dirtyBegin) {
            m_dirtyBegin = offset;
            m_dirtyEnd = offset + size;
        } else {
            m_dirtyBegin = std::min(m_dirtyBegin, offset);
            m_dirtyEnd = std::max(m_dirtyEnd, offset + size);
        }
        // The two hints only apply to dynamic buffers, as in Direct3D.
        if (m_usage & D3DUSAGE_DYNAMIC) {
            if (flags & D3DLOCK_DISCARD) m_discard = true;
            else if (flags & D3DLOCK_NOOVERWRITE) m_noOverwrite = true;
        }
    }
    ++m_locks;
    ++m_version;
    *data = m_data.data() + offset;
    return D3D_OK;
}

HRESULT PortBufferCore::Unlock() {
    ++m_version;
    if (m_locks == 0) return D3D_OK;
    if (--m_locks > 0) return D3D_OK;
    if (m_dirtyEnd > m_dirtyBegin && m_name) {
        m_device->Activate();
        const UINT begin = m_dirtyBegin, length = m_dirtyEnd - m_dirtyBegin;
        glBindBuffer(GL_COPY_WRITE_BUFFER, m_name);
        if (m_discard) {
            // A fresh store: draws still reading the old one are not waited for.
            glBufferData(GL_COPY_WRITE_BUFFER, m_size, nullptr, GL_DYNAMIC_DRAW);
            glBufferSubData(GL_COPY_WRITE_BUFFER, begin, length, m_data.data() + begin);
        } else if (m_noOverwrite) {
            void* target = glMapBufferRange(GL_COPY_WRITE_BUFFER, begin, length,
                                            GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT | GL_MAP_INVALIDATE_RANGE_BIT);
            if (target) {
                std::memcpy(target, m_data.data() + begin, length);
                glUnmapBuffer(GL_COPY_WRITE_BUFFER);
            } else {
                glBufferSubData(GL_COPY_WRITE_BUFFER, begin, length, m_data.data() + begin);
            }
        } else {
            glBufferSubData(GL_COPY_WRITE_BUFFER, begin, length, m_data.data() + begin);
        }
        m_device->CountBufferUpload(length);
        OnUploaded(begin, begin + length);
    } else if (m_dirtyEnd > m_dirtyBegin) {
        OnUploaded(m_dirtyBegin, m_dirtyEnd);
    }
    m_dirtyBegin = m_dirtyEnd = 0;
    m_discard = m_noOverwrite = false;
    return D3D_OK;
}

PortVertexBuffer::PortVertexBuffer(PortDevice* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
    : PortBufferCore(device, length, usage, pool), m_fvf(fvf) {}

PortVertexBuffer::~PortVertexBuffer() = default;

HRESULT PortVertexBuffer::GetDevice(IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    m_device->AddRef();
    *device = m_device;
    return D3D_OK;
}

HRESULT PortVertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Format = D3DFMT_VERTEXDATA;
    desc->Type = D3DRTYPE_VERTEXBUFFER;
    desc->Usage = m_usage;
    desc->Pool = m_pool;
    desc->Size = m_size;
    desc->FVF = m_fvf;
    return D3D_OK;
}

PortIndexBuffer::PortIndexBuffer(PortDevice* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : PortBufferCore(device, length, usage, pool), m_format(format) {
    const UINT blocks = (Count() + kBlock - 1) / kBlock;
    m_blockMin.assign(blocks, 0);
    m_blockMax.assign(blocks, 0);
}

PortIndexBuffer::~PortIndexBuffer() = default;

HRESULT PortIndexBuffer::GetDevice(IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    m_device->AddRef();
    *device = m_device;
    return D3D_OK;
}

HRESULT PortIndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Format = m_format;
    desc->Type = D3DRTYPE_INDEXBUFFER;
    desc->Usage = m_usage;
    desc->Pool = m_pool;
    desc->Size = m_size;
    return D3D_OK;
}

uint32_t PortIndexBuffer::IndexAt(UINT i) const {
    if (m_format == D3DFMT_INDEX32) {
        uint32_t v;
        std::memcpy(&v, m_data.data() + static_cast<size_t>(i) * 4, 4);
        return v;
    }
    uint16_t v;
    std::memcpy(&v, m_data.data() + static_cast<size_t>(i) * 2, 2);
    return v;
}

void PortIndexBuffer::OnUploaded(UINT begin, UINT end) {
    const UINT size = IndexSize();
    const UINT first = begin / size, last = std::min(Count(), (end + size - 1) / size);
    for (UINT block = first / kBlock; block * kBlock < last; ++block) {
        uint32_t lo = 0xFFFFFFFFu, hi = 0;
        const UINT stop = std::min(Count(), (block + 1) * kBlock);
        for (UINT i = block * kBlock; i < stop; ++i) {
            uint32_t v = IndexAt(i);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        m_blockMin[block] = lo;
        m_blockMax[block] = hi;
    }
}

void PortIndexBuffer::Range(UINT first, UINT count, uint32_t& lowest, uint32_t& highest) const {
    for (const CachedRange& r : m_ranges) {
        if (r.valid && r.first == first && r.count == count && r.version == m_version) {
            lowest = r.lowest;
            highest = r.highest;
            return;
        }
    }
    lowest = 0xFFFFFFFFu;
    highest = 0;
    UINT i = first;
    const UINT end = first + count;
    while (i < end) {
        if (i % kBlock == 0 && i + kBlock <= end) {
            lowest = std::min(lowest, m_blockMin[i / kBlock]);
            highest = std::max(highest, m_blockMax[i / kBlock]);
            i += kBlock;
        } else {
            uint32_t v = IndexAt(i);
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
            ++i;
        }
    }
    if (count == 0) lowest = 0;
    CachedRange& slot = m_ranges[m_nextRange++ % 8];
    slot = CachedRange{first, count, m_version, lowest, highest, true};
}

// ---------------------------------------------------------------------------
// Textures
// ---------------------------------------------------------------------------
PortTexture::PortTexture(PortDevice* device, UINT width, UINT height, UINT levels, DWORD usage,
                         const PortFormatInfo& format, D3DPOOL pool)
    : m_device(device), m_info(&format), m_usage(usage), m_pool(pool) {
    UINT w = width, h = height;
    for (UINT i = 0; i < levels; ++i) {
        Level level;
        level.width = w;
        level.height = h;
        m_levels.push_back(std::move(level));
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    device->AddRef();
    device->ResourceCreated(pool);
}

bool PortTexture::Create() {
    m_device->Activate();
    glGenTextures(1, &m_name);
    m_device->BindTextureForUpload(m_name);
    UINT chain = static_cast<UINT>(m_levels.size());
    if (m_usage & D3DUSAGE_AUTOGENMIPMAP) {
        chain = 1;
        for (UINT w = m_levels[0].width, h = m_levels[0].height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2))
            ++chain;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(chain - 1));
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, m_info->swizzle);
    UINT w = m_levels[0].width, h = m_levels[0].height;
    for (UINT i = 0; i < chain; ++i) {
        if (m_info->compressed) {
            const UINT bytes = PortRowPitch(*m_info, w) * PortRowCount(*m_info, h);
            std::vector<uint8_t> zero(bytes, 0);
            glCompressedTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i), m_info->internalFormat, static_cast<GLsizei>(w),
                                   static_cast<GLsizei>(h), 0, static_cast<GLsizei>(bytes), zero.data());
        } else {
            glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i), static_cast<GLint>(m_info->internalFormat),
                         static_cast<GLsizei>(w), static_cast<GLsizei>(h), 0, m_info->glFormat, m_info->glType, nullptr);
        }
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        PortLog(PortLogLevel::Warning, "texture storage could not be created (GL error " + std::to_string(error) + ")");
        return false;
    }
    return true;
}

PortTexture::~PortTexture() {
    for (Level& level : m_levels) {
        if (level.surface) {
            // Level surfaces live exactly as long as their texture.
            level.surface->m_container = nullptr;
            delete level.surface;
        }
    }
    m_device->TextureDestroyed(this);
    if (m_name && m_device->Activate()) glDeleteTextures(1, &m_name);
    m_device->ResourceDestroyed(m_pool);
    m_device->Release();
}

HRESULT PortTexture::GetDevice(IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    m_device->AddRef();
    *device = m_device;
    return D3D_OK;
}

HRESULT PortTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (!desc || level >= m_levels.size()) return D3DERR_INVALIDCALL;
    desc->Format = m_info->format;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = m_usage;
    desc->Pool = m_pool;
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->MultiSampleQuality = 0;
    desc->Width = m_levels[level].width;
    desc->Height = m_levels[level].height;
    return D3D_OK;
}

HRESULT PortTexture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (level >= m_levels.size()) return D3DERR_INVALIDCALL;
    Level& l = m_levels[level];
    if (!l.surface) {
        l.surface = new PortSurface(m_device, PortSurface::Kind::TextureLevel, l.width, l.height, m_info->format, m_pool,
                                    m_usage, D3DMULTISAMPLE_NONE, this);
        l.surface->m_texture = this;
        l.surface->m_level = level;
    }
    l.surface->AddRef();
    *surface = l.surface;
    return D3D_OK;
}

std::vector<uint8_t>& PortTexture::LevelMemory(UINT level) {
    Level& l = m_levels[level];
    const size_t bytes = static_cast<size_t>(LevelPitch(level)) * PortRowCount(*m_info, l.height);
    if (l.memory.size() != bytes) l.memory.assign(bytes, 0);
    if (IsRenderTarget() && l.surface && m_rendered) m_device->ReadSurface(l.surface, l.memory, LevelPitch(level));
    return l.memory;
}

HRESULT PortTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    return LockLevel(level, locked, rect, flags, false);
}

HRESULT PortTexture::LockLevel(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags, bool anyPool) {
    if (!locked || level >= m_levels.size()) return D3DERR_INVALIDCALL;
    locked->pBits = nullptr;
    locked->Pitch = 0;
    // Video-memory textures are lockable only when dynamic, as in Direct3D.
    if (!anyPool && m_pool == D3DPOOL_DEFAULT && !(m_usage & D3DUSAGE_DYNAMIC)) return D3DERR_INVALIDCALL;
    Level& l = m_levels[level];
    if (l.locked) return D3DERR_INVALIDCALL;
    RECT r = rect ? *rect : RECT{0, 0, static_cast<LONG>(l.width), static_cast<LONG>(l.height)};
    if (r.left < 0 || r.top < 0 || r.right > static_cast<LONG>(l.width) || r.bottom > static_cast<LONG>(l.height) ||
        r.left >= r.right || r.top >= r.bottom)
        return D3DERR_INVALIDCALL;
    if (m_info->compressed && ((r.left | r.top) & 3)) return D3DERR_INVALIDCALL;
    std::vector<uint8_t>& memory = LevelMemory(level);
    const UINT pitch = LevelPitch(level);
    size_t offset;
    if (m_info->compressed) offset = static_cast<size_t>(r.top / 4) * pitch + static_cast<size_t>(r.left / 4) * m_info->bytesPerPixel;
    else offset = static_cast<size_t>(r.top) * pitch + static_cast<size_t>(r.left) * m_info->bytesPerPixel;
    l.locked = true;
    l.lockRect = r;
    l.readOnly = (flags & D3DLOCK_READONLY) != 0;
    locked->Pitch = static_cast<INT>(pitch);
    locked->pBits = memory.data() + offset;
    return D3D_OK;
}

HRESULT PortTexture::UnlockRect(UINT level) {
    if (level >= m_levels.size() || !m_levels[level].locked) return D3DERR_INVALIDCALL;
    Level& l = m_levels[level];
    l.locked = false;
    if (!l.readOnly) Upload(level, l.lockRect);
    return D3D_OK;
}

void PortTexture::Upload(UINT level, const RECT& rect) {
    Level& l = m_levels[level];
    m_device->Activate();
    m_device->BindTextureForUpload(m_name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (m_info->compressed) {
        // Whole block rows of the level: block formats upload in 4x4 units.
        const UINT pitch = LevelPitch(level);
        const UINT bytes = pitch * PortRowCount(*m_info, l.height);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glCompressedTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), 0, 0, static_cast<GLsizei>(l.width),
                                  static_cast<GLsizei>(l.height), m_info->internalFormat, static_cast<GLsizei>(bytes),
                                  l.memory.data());
    } else {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(l.width));
        const size_t offset = static_cast<size_t>(rect.top) * LevelPitch(level) + static_cast<size_t>(rect.left) * m_info->bytesPerPixel;
        glTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), rect.left, rect.top, rect.right - rect.left,
                        rect.bottom - rect.top, m_info->glFormat, m_info->glType, l.memory.data() + offset);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    }
    if (level == 0 && (m_usage & D3DUSAGE_AUTOGENMIPMAP)) glGenerateMipmap(GL_TEXTURE_2D);
}

// ---------------------------------------------------------------------------
// Surfaces
// ---------------------------------------------------------------------------
PortSurface::PortSurface(PortDevice* device, Kind kind, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                         DWORD usage, D3DMULTISAMPLE_TYPE samples, IUnknown* container)
    : m_device(device), m_kind(kind), m_width(width), m_height(height), m_format(format), m_pool(pool),
      m_usage(usage), m_samples(samples >= 2 ? static_cast<int>(samples) : 0) {
    m_container = container;
    if (!container) {
        device->AddRef();
        device->ResourceCreated(pool);
    }
}

PortSurface::~PortSurface() {
    if (m_dc) {
        d3dx::gdi::detachSurface(reinterpret_cast<HDC>(m_dc));
        cairo_surface_destroy(static_cast<cairo_surface_t*>(m_dc));
    }
    if (m_device) {
        m_device->SurfaceDestroyed(this);
        if (m_renderbuffer && m_device->Activate()) glDeleteRenderbuffers(1, &m_renderbuffer);
        if (!m_container && m_kind != Kind::TextureLevel) {
            m_device->ResourceDestroyed(m_pool);
            m_device->Release();
        }
    }
}

bool PortSurface::CreateStorage() {
    const PortFormatInfo* info = PortFindFormat(m_format);
    if (!info) return false;
    m_device->Activate();
    glGenRenderbuffers(1, &m_renderbuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, m_renderbuffer);
    if (m_samples > 0)
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, m_samples, info->internalFormat, static_cast<GLsizei>(m_width),
                                         static_cast<GLsizei>(m_height));
    else
        glRenderbufferStorage(GL_RENDERBUFFER, info->internalFormat, static_cast<GLsizei>(m_width),
                              static_cast<GLsizei>(m_height));
    return glGetError() == GL_NO_ERROR;
}

HRESULT PortSurface::GetDevice(IDirect3DDevice9** device) {
    if (!device || !m_device) return D3DERR_INVALIDCALL;
    m_device->AddRef();
    *device = m_device;
    return D3D_OK;
}

HRESULT PortSurface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Format = m_format;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = m_usage;
    desc->Pool = m_pool;
    desc->MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(m_samples);
    desc->MultiSampleQuality = 0;
    desc->Width = m_width;
    desc->Height = m_height;
    return D3D_OK;
}

UINT PortSurface::Pitch() const {
    const PortFormatInfo* info = PortFindFormat(m_format);
    return info ? PortRowPitch(*info, m_width) : m_width * 4;
}

HRESULT PortSurface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    if (!locked) return D3DERR_INVALIDCALL;
    if (m_kind == Kind::TextureLevel) return m_texture->LockRect(m_level, locked, rect, flags);
    locked->pBits = nullptr;
    locked->Pitch = 0;
    // Render targets, the back buffer and depth buffers live only in video memory.
    if (m_kind != Kind::OffscreenPlain) return D3DERR_INVALIDCALL;
    if (m_locked) return D3DERR_INVALIDCALL;
    const PortFormatInfo* info = PortFindFormat(m_format);
    if (!info) return D3DERR_INVALIDCALL;
    RECT r = rect ? *rect : RECT{0, 0, static_cast<LONG>(m_width), static_cast<LONG>(m_height)};
    if (r.left < 0 || r.top < 0 || r.right > static_cast<LONG>(m_width) || r.bottom > static_cast<LONG>(m_height) ||
        r.left >= r.right || r.top >= r.bottom)
        return D3DERR_INVALIDCALL;
    const UINT pitch = Pitch();
    if (m_memory.size() != static_cast<size_t>(pitch) * PortRowCount(*info, m_height))
        m_memory.assign(static_cast<size_t>(pitch) * PortRowCount(*info, m_height), 0);
    size_t offset = info->compressed
                        ? static_cast<size_t>(r.top / 4) * pitch + static_cast<size_t>(r.left / 4) * info->bytesPerPixel
                        : static_cast<size_t>(r.top) * pitch + static_cast<size_t>(r.left) * info->bytesPerPixel;
    m_locked = true;
    locked->Pitch = static_cast<INT>(pitch);
    locked->pBits = m_memory.data() + offset;
    return D3D_OK;
}

HRESULT PortSurface::UnlockRect() {
    if (m_kind == Kind::TextureLevel) return m_texture->UnlockRect(m_level);
    if (!m_locked) return D3DERR_INVALIDCALL;
    m_locked = false;
    return D3D_OK;
}

HRESULT PortSurface::GetDC(HDC* hdc) {
    if (!hdc) return D3DERR_INVALIDCALL;
    *hdc = nullptr;
    if (m_dc) return D3DERR_INVALIDCALL;
    cairo_format_t format;
    if (m_format == D3DFMT_A8R8G8B8) format = CAIRO_FORMAT_ARGB32;
    else if (m_format == D3DFMT_X8R8G8B8) format = CAIRO_FORMAT_RGB24;
    else if (m_format == D3DFMT_R5G6B5) format = CAIRO_FORMAT_RGB16_565;
    else return D3DERR_INVALIDCALL;
    D3DLOCKED_RECT locked;
    // Render-target textures hand out their drawn picture too: GDI drawing
    // into off-screen surfaces (text panels) is what the engine uses them for.
    const bool targetLevel = m_kind == Kind::TextureLevel && m_texture->IsRenderTarget();
    HRESULT hr = targetLevel ? m_texture->LockLevel(m_level, &locked, nullptr, 0, true) : LockRect(&locked, nullptr, 0);
    if (FAILED(hr)) return hr;
    // Cairo's ARGB32 is the same 32-bit native-endian layout as A8R8G8B8.
    cairo_surface_t* surface = cairo_image_surface_create_for_data(static_cast<unsigned char*>(locked.pBits), format,
                                                                   static_cast<int>(m_width), static_cast<int>(m_height),
                                                                   locked.Pitch);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        UnlockRect();
        return D3DERR_INVALIDCALL;
    }
    m_dc = surface;
    // GDI calls draw into the context while it is out.
    *hdc = d3dx::gdi::attachSurface(surface);
    return D3D_OK;
}

HRESULT PortSurface::ReleaseDC(HDC hdc) {
    if (!m_dc || reinterpret_cast<void*>(hdc) != m_dc) return D3DERR_INVALIDCALL;
    cairo_surface_t* surface = static_cast<cairo_surface_t*>(m_dc);
    d3dx::gdi::detachSurface(hdc);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    m_dc = nullptr;
    return UnlockRect();
}

// ---------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------
PortQuery::PortQuery(PortDevice* device, D3DQUERYTYPE type) : m_device(device), m_type(type) {
    device->AddRef();
    if (type == D3DQUERYTYPE_OCCLUSION) {
        device->Activate();
        glGenQueries(1, &m_name);
    }
}

PortQuery::~PortQuery() {
    if (m_device->Activate()) {
        if (m_state == State::Building && m_name) glEndQuery(GL_SAMPLES_PASSED);
        if (m_name) glDeleteQueries(1, &m_name);
        if (m_fence) glDeleteSync(m_fence);
    }
    m_device->Release();
}

HRESULT PortQuery::GetDevice(IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    m_device->AddRef();
    *device = m_device;
    return D3D_OK;
}

DWORD PortQuery::GetDataSize() { return m_type == D3DQUERYTYPE_OCCLUSION ? sizeof(DWORD) : sizeof(BOOL); }

HRESULT PortQuery::Issue(DWORD flags) {
    m_device->Activate();
    if (m_type == D3DQUERYTYPE_OCCLUSION) {
        if (flags & D3DISSUE_BEGIN) {
            if (m_state == State::Building) glEndQuery(GL_SAMPLES_PASSED);
            glBeginQuery(GL_SAMPLES_PASSED, m_name);
            m_state = State::Building;
            return D3D_OK;
        }
        if (flags & D3DISSUE_END) {
            if (m_state == State::Building) {
                glEndQuery(GL_SAMPLES_PASSED);
                m_state = State::Issued;
            } else {
                // Ended without a beginning: nothing was counted.
                m_result = 0;
                m_state = State::Signaled;
            }
            return D3D_OK;
        }
        return D3DERR_INVALIDCALL;
    }
    if (flags & D3DISSUE_END) {
        if (m_fence) glDeleteSync(m_fence);
        m_fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        m_state = State::Issued;
        return D3D_OK;
    }
    return D3DERR_INVALIDCALL;
}

HRESULT PortQuery::GetData(void* data, DWORD size, DWORD flags) {
    if (size && !data) return D3DERR_INVALIDCALL;
    if (data && size < GetDataSize() && size != 0) return D3DERR_INVALIDCALL;
    if (m_device->DeviceLost()) return D3DERR_DEVICELOST;
    m_device->Activate();
    if (m_state == State::Building) return S_FALSE;
    if (m_state == State::Issued) {
        if (m_type == D3DQUERYTYPE_OCCLUSION) {
            GLuint available = 0;
            glGetQueryObjectuiv(m_name, GL_QUERY_RESULT_AVAILABLE, &available);
            if (!available) {
                if (flags & D3DGETDATA_FLUSH) glFlush();
                return S_FALSE;
            }
            GLuint samples = 0;
            glGetQueryObjectuiv(m_name, GL_QUERY_RESULT, &samples);
            m_result = samples;
        } else {
            GLenum status = glClientWaitSync(m_fence, (flags & D3DGETDATA_FLUSH) ? GL_SYNC_FLUSH_COMMANDS_BIT : 0, 0);
            if (status == GL_TIMEOUT_EXPIRED) return S_FALSE;
            m_result = TRUE;
        }
        m_state = State::Signaled;
    }
    if (data && size) std::memcpy(data, &m_result, sizeof(DWORD));
    return S_OK;
}
