// Internal: the Direct3D 9 device over OpenGL and its resources. The device's
// members are defined by concern in device.cpp and device_*.cpp, which share
// the helpers of device_helpers.h; the resource classes are in resources.cpp.
#pragma once

#include <SDL.h>

#include <array>
#include <chrono>
#include <memory>
#include <unordered_map>
#include <vector>

#include "port/d3d9/d3d9.h"
#include "port/d3d9/ffp.h"
#include "port/d3d9/formats.h"
#include "port/d3d9/gl.h"
#include "port/d3d9/glcaps.h"

class PortDevice;

void PortFillCaps(const PortGLCaps& gl, UINT adapter, D3DDEVTYPE type, D3DCAPS9& caps);
HRESULT PortCreateDevice(IDirect3D9* d3d, UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD flags,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device);

// Reference counting shared by every object. Objects owned by a container
// (texture levels, implicit surfaces) forward their counts to it.
template <class Interface>
class PortUnknown : public Interface {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override {
        if (m_container) return m_container->AddRef();
        return ++m_refs;
    }
    ULONG Release() override {
        if (m_container) return m_container->Release();
        if (m_refs == 0) return 0;
        ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }

protected:
    PortUnknown() = default;
    ~PortUnknown() override = default;
    ULONG m_refs = 1;
    IUnknown* m_container = nullptr;
};

// Size in bytes of one vertex of a flexible vertex format; 0 when invalid.
UINT PortFvfSize(DWORD fvf);

// A buffer kept in memory and in OpenGL; locks hand out the memory copy and
// Unlock uploads the locked range.
class PortBufferCore {
public:
    PortBufferCore(PortDevice* device, UINT size, DWORD usage, D3DPOOL pool);
    virtual ~PortBufferCore();
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT Unlock();
    GLuint Name() const { return m_name; }
    UINT Size() const { return m_size; }
    const uint8_t* Data() const { return m_data.data(); }
    bool Valid() const { return m_name != 0 || m_pool == D3DPOOL_SYSTEMMEM || m_pool == D3DPOOL_SCRATCH; }
    // Called after an upload with the dirty byte range.
    virtual void OnUploaded(UINT, UINT) {}

protected:
    PortDevice* m_device;
    UINT m_size;
    DWORD m_usage;
    D3DPOOL m_pool;
    GLuint m_name = 0;
    std::vector<uint8_t> m_data;
    int m_locks = 0;
    uint32_t m_version = 0;  // counts locks: the memory copy may have changed
    UINT m_dirtyBegin = 0, m_dirtyEnd = 0;
    bool m_discard = false;
    bool m_noOverwrite = false;
};

class PortVertexBuffer final : public PortUnknown<IDirect3DVertexBuffer9>, public PortBufferCore {
public:
    PortVertexBuffer(PortDevice* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    ~PortVertexBuffer() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return PortBufferCore::Lock(offset, size, data, flags);
    }
    HRESULT Unlock() override { return PortBufferCore::Unlock(); }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

private:
    DWORD m_fvf;
};

class PortIndexBuffer final : public PortUnknown<IDirect3DIndexBuffer9>, public PortBufferCore {
public:
    PortIndexBuffer(PortDevice* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~PortIndexBuffer() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return PortBufferCore::Lock(offset, size, data, flags);
    }
    HRESULT Unlock() override { return PortBufferCore::Unlock(); }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;

    D3DFORMAT Format() const { return m_format; }
    UINT IndexSize() const { return m_format == D3DFMT_INDEX32 ? 4 : 2; }
    UINT Count() const { return m_size / IndexSize(); }
    // Smallest and largest index in [first, first + count).
    void Range(UINT first, UINT count, uint32_t& lowest, uint32_t& highest) const;
    void OnUploaded(UINT begin, UINT end) override;

private:
    static constexpr UINT kBlock = 256;
    uint32_t IndexAt(UINT i) const;
    D3DFORMAT m_format;
    std::vector<uint32_t> m_blockMin, m_blockMax;
    // Ranges asked for lately: a mesh draws the same subsets every frame.
    struct CachedRange {
        UINT first = 0, count = 0;
        uint32_t version = 0, lowest = 0, highest = 0;
        bool valid = false;
    };
    mutable CachedRange m_ranges[8];
    mutable UINT m_nextRange = 0;
};

class PortTexture;

class PortSurface final : public PortUnknown<IDirect3DSurface9> {
public:
    enum class Kind { TextureLevel, BackBuffer, RenderTarget, DepthStencil, OffscreenPlain };
    PortSurface(PortDevice* device, Kind kind, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, DWORD usage,
                D3DMULTISAMPLE_TYPE samples, IUnknown* container);
    ~PortSurface() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;
    HRESULT GetDC(HDC* hdc) override;
    HRESULT ReleaseDC(HDC hdc) override;

    Kind SurfaceKind() const { return m_kind; }
    UINT Width() const { return m_width; }
    UINT Height() const { return m_height; }
    D3DFORMAT Format() const { return m_format; }
    int Samples() const { return m_samples; }
    GLuint Renderbuffer() const { return m_renderbuffer; }
    PortTexture* Texture() const { return m_texture; }
    UINT Level() const { return m_level; }
    bool IsDepth() const { return m_kind == Kind::DepthStencil; }
    std::vector<uint8_t>& Memory() { return m_memory; }
    UINT Pitch() const;
    void Detach() { m_device = nullptr; }

    // Creates the OpenGL storage of render-target and depth surfaces.
    bool CreateStorage();

private:
    friend class PortTexture;
    PortDevice* m_device;
    Kind m_kind;
    UINT m_width, m_height;
    D3DFORMAT m_format;
    D3DPOOL m_pool;
    DWORD m_usage;
    int m_samples;
    GLuint m_renderbuffer = 0;
    PortTexture* m_texture = nullptr;
    UINT m_level = 0;
    std::vector<uint8_t> m_memory;  // offscreen plain surfaces
    bool m_locked = false;
    void* m_dc = nullptr;  // cairo surface while GetDC is out
};

class PortTexture final : public PortUnknown<IDirect3DTexture9> {
public:
    PortTexture(PortDevice* device, UINT width, UINT height, UINT levels, DWORD usage, const PortFormatInfo& format,
                D3DPOOL pool);
    ~PortTexture() override;
    bool Create();

    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return static_cast<DWORD>(m_levels.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    // LockRect; with anyPool, video-memory levels too (render targets read
    // back first), for the port's own writers.
    HRESULT LockLevel(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags, bool anyPool);

    GLuint Name() const { return m_name; }
    const PortFormatInfo& Info() const { return *m_info; }
    UINT LevelWidth(UINT level) const { return m_levels[level].width; }
    UINT LevelHeight(UINT level) const { return m_levels[level].height; }
    DWORD Usage() const { return m_usage; }
    D3DPOOL Pool() const { return m_pool; }
    bool IsRenderTarget() const { return (m_usage & D3DUSAGE_RENDERTARGET) != 0; }
    UINT LevelPitch(UINT level) const { return PortRowPitch(*m_info, m_levels[level].width); }
    // Memory copy of a level, read back from OpenGL for render targets.
    std::vector<uint8_t>& LevelMemory(UINT level);
    void MarkRendered() { m_rendered = true; }

private:
    struct Level {
        UINT width, height;
        std::vector<uint8_t> memory;
        bool locked = false;
        RECT lockRect{};
        bool readOnly = false;
        PortSurface* surface = nullptr;
    };
    void Upload(UINT level, const RECT& rect);
    PortDevice* m_device;
    const PortFormatInfo* m_info;
    DWORD m_usage;
    D3DPOOL m_pool;
    GLuint m_name = 0;
    std::vector<Level> m_levels;
    bool m_rendered = false;
};

class PortQuery final : public PortUnknown<IDirect3DQuery9> {
public:
    PortQuery(PortDevice* device, D3DQUERYTYPE type);
    ~PortQuery() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DQUERYTYPE GetType() override { return m_type; }
    DWORD GetDataSize() override;
    HRESULT Issue(DWORD flags) override;
    HRESULT GetData(void* data, DWORD size, DWORD flags) override;

private:
    PortDevice* m_device;
    D3DQUERYTYPE m_type;
    GLuint m_name = 0;
    GLsync m_fence = nullptr;
    enum class State { Signaled, Building, Issued } m_state = State::Signaled;
    DWORD m_result = 0;
};

class PortDevice final : public IDirect3DDevice9 {
public:
    PortDevice(IDirect3D9* d3d, UINT adapter, D3DDEVTYPE type, HWND window, DWORD flags);
    ~PortDevice() override;
    HRESULT Initialize(D3DPRESENT_PARAMETERS& params);

    // IUnknown
    HRESULT QueryInterface(REFIID, void** object) override;
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override;

    // IDirect3DDevice9
    HRESULT TestCooperativeLevel() override;
    UINT GetAvailableTextureMem() override;
    HRESULT GetDirect3D(IDirect3D9** d3d9) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const RGNDATA* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface9** surface) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE* sharedHandle) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) override;
    HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                               DWORD quality, BOOL lockable, IDirect3DSurface9** surface,
                               HANDLE* sharedHandle) override;
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                      DWORD quality, BOOL discard, IDirect3DSurface9** surface,
                                      HANDLE* sharedHandle) override;
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* sharedHandle) override;
    HRESULT CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) override;
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* renderTarget) override;
    HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** renderTarget) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT GetMaterial(D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT SetScissorRect(const RECT* rect) override;
    HRESULT GetScissorRect(RECT* rect) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT numVertices,
                                 UINT startIndex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* data, UINT stride) override;
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                   UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                   const void* vertexData, UINT stride) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9** buffer) override;

    // Port-internal services.
    // Makes the device's context current; false when it cannot be (its
    // window is gone and no stand-in surface could be made), in which case
    // GL objects are left to the driver instead of being deleted.
    bool Activate();
    // The device's window is about to be destroyed: move the context onto a
    // hidden stand-in surface and stay lost from now on.
    void WindowDestroying();
    HWND Window() const { return m_window; }
    void ResourceCreated(D3DPOOL pool) {
        if (pool == D3DPOOL_DEFAULT) ++m_defaultResources;
    }
    void ResourceDestroyed(D3DPOOL pool) {
        if (pool == D3DPOOL_DEFAULT) --m_defaultResources;
    }
    void SurfaceDestroyed(PortSurface* surface);
    void TextureDestroyed(PortTexture* texture);
    void BufferDestroyed(GLuint name);
    void ForceLoss() {
        if (m_batchCount && MakeCurrent()) FlushBatch();  // drawn before the loss
        m_lostState = 1;
    }
    void SetOcclusionQueriesAvailable(bool available) { m_noOcclusionQueries = !available; }
    bool ReadBackBuffer(std::vector<uint32_t>& argb, UINT& width, UINT& height);
    // Reads a render-target surface into memory laid out as Direct3D's rows.
    bool ReadSurface(PortSurface* surface, std::vector<uint8_t>& out, UINT pitch);
    void SetProgramOverride(GLuint program);
    GLuint ProgramOverride() const { return m_programOverride; }
    void BindArrayBuffer(GLuint name);
    void BindElementBuffer(GLuint name);
    void BindTextureForUpload(GLuint name);
    bool DeviceLost() const { return m_lostState != 0; }
    // Draw calls asked of the device, and the OpenGL draw calls they became.
    uint64_t DrawCalls() const { return m_totalDraws; }
    uint64_t GLDrawCalls() const { return m_totalGLDraws; }
    // Consecutive draws that differ only in their world transform are merged
    // into one instanced draw unless this is off (tests compare both).
    void SetBatching(bool enabled);
    // Sends the merged draws waiting so far to OpenGL.
    void FlushDraws() {
        if (m_batchCount) FlushBatch();
    }
    // Whether the back buffer is the window's own framebuffer.
    bool DrawsIntoWindow() const { return m_windowFramebuffer; }
    // Vertex and index data sent to OpenGL by buffer unlocks.
    void CountBufferUpload(UINT bytes) {
        ++m_bufferUploads;
        m_bufferUploadBytes += bytes;
    }
    uint64_t BufferUploads() const { return m_bufferUploads; }
    uint64_t BufferUploadBytes() const { return m_bufferUploadBytes; }
    uint64_t Triangles() const { return m_totalTriangles; }
    void WriteRunOutputs();
    size_t ProgramCount() const { return m_programs.size(); }
    // Raw OpenGL calls changed the context: every cached binding is re-issued.
    void ForgetGLState();

private:
    struct LightSlot {
        D3DLIGHT9 light;
        bool enabled = false;
    };
    struct FboEntry {
        PortSurface* color;
        PortSurface* depth;
        GLuint fbo;
        bool depthAttached;
    };
    enum DirtyBits : uint32_t {
        DIRTY_BLEND = 1u << 0,
        DIRTY_DEPTH = 1u << 1,
        DIRTY_RASTER = 1u << 2,
        DIRTY_STENCIL = 1u << 3,
        DIRTY_COLORMASK = 1u << 4,
        DIRTY_SCISSOR = 1u << 5,
        DIRTY_VIEWPORT = 1u << 6,
        DIRTY_FBO = 1u << 7,
        DIRTY_VERTEX = 1u << 8,
        DIRTY_ALL = 0x1FF
    };

    // Swap chain and loss (device_loss.cpp).
    HRESULT ValidateParams(const D3DPRESENT_PARAMETERS& params);
    HRESULT CreateSwapChainResources();
    void DestroySwapChainResources();
    void ApplyPresentation();
    // State (device_state.cpp).
    void ResetStates();
    void MarkRenderState(D3DRENDERSTATETYPE state);
    void BumpGeneration(PortUniformGroup group) { m_generation[group] = ++m_generationCounter; }
    // Resources (device_resources.cpp).
    bool SurfaceSizeFits(UINT width, UINT height) const;
    // Render targets and depth-stencil surfaces share their checks and creation.
    HRESULT CreateTargetSurface(bool depth, UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                DWORD quality, IDirect3DSurface9** surface, HANDLE* sharedHandle);
    // Targets and framebuffers (device_targets.cpp).
    void BindFramebuffer();
    GLuint FramebufferFor(PortSurface* color, PortSurface* depth, bool& depthAttached);
    void ToGLRect(LONG x, LONG y, LONG w, LONG h, GLint out[4]) const;
    // Makes the context current without sending waiting draws (the draw path).
    bool MakeCurrent();
    // Merged draws (device_batch.cpp).
    struct PendingDraw {
        bool indexed = false;
        D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
        UINT primitives = 0;
        GLsizei count = 0;  // vertices or indices of one draw
        GLint first = 0;    // first vertex of a non-indexed draw
        UINT startIndex = 0;
        INT baseVertex = 0;
        PortIndexBuffer* indices = nullptr;  // compared only: the draw keeps its name and size
        GLuint indexName = 0;
        UINT indexSize = 2;
        PortVertexBuffer* vertices = nullptr;
        UINT offset = 0, stride = 0;
        DWORD fvf = 0;
    };
    HRESULT DrawWithInstances(const PendingDraw& draw);
    bool ContinuesBatch(const PendingDraw& draw) const;
    void AppendInstance();
    void EnsureInstanceBuffer();
    // Sends the entries; the result is the first instance of the draw that
    // reads them as attributes (uniform-block programs get their range bound).
    GLuint UploadInstances(UINT instances, bool block);
    // The transforms of a draw that is not merged (from user memory).
    GLuint UploadSingleInstance();
    void FlushBatch();
    void DestroyBatchResources();
    // The window's framebuffer as the back buffer (device_present.cpp).
    bool WindowFramebufferFits() const;
    void LeaveWindowFramebuffer();
    // Whether this frame is kept for the screenshot.
    bool CapturesFrame() const;
    void CaptureShownFrame();
    // State applied to OpenGL (device_glstate.cpp).
    void ApplyGLState();
    void ApplySampler(DWORD stage);
    void SetupVertexAttributes(DWORD fvf, GLuint buffer, UINT offset, UINT stride);
    // Enables the vertex format's arrays and the program's instance entries.
    void SyncAttributes(uint32_t instanceMask, const int* instanceLocations);
    // Fixed-function programs (device_ffp.cpp).
    void ApplyFfp(D3DPRIMITIVETYPE type, DWORD fvf);
    void BuildKey(PortFfpKey& key, D3DPRIMITIVETYPE type, DWORD fvf);
    void UploadUniforms(PortFfpProgram& program);
    void UploadScreen(GLint location);
    const D3DMATRIX& WorldViewProj();
    // Draws (device_draw.cpp).
    HRESULT PrepareDraw(D3DPRIMITIVETYPE type, DWORD fvf, GLuint buffer, UINT offset, UINT stride);
    void CountDraw(D3DPRIMITIVETYPE type, UINT primitives);
    void CountGLDraw() {
        ++m_frameGLDraws;
        ++m_totalGLDraws;
    }
    // Draws of vertices that are not pre-transformed go through the instance
    // entries of the generated programs (supplied programs draw directly).
    bool UsesInstances() const {
        return !m_programOverride && (m_fvf & D3DFVF_POSITION_MASK) != D3DFVF_XYZRHW;
    }
    UINT StreamUpload(const void* data, UINT size, UINT alignment);

    ULONG m_refs = 1;
    IDirect3D9* m_d3d;
    UINT m_adapter;
    D3DDEVTYPE m_type;
    HWND m_window;
    DWORD m_flags;
    D3DPRESENT_PARAMETERS m_params{};
    D3DCAPS9 m_caps{};
    SDL_GLContext m_context = nullptr;
    SDL_Window* m_sdlWindow = nullptr;
    // Hidden surface the context moves to when the device's window is destroyed.
    SDL_Window* m_fallbackWindow = nullptr;
    bool m_windowGone = false;
    bool m_contextUsable = true;
    bool m_inScene = false;
    int m_lostState = 0;  // 0 operational, 1 lost, 2 lost and restorable (not reset)
    bool m_forcedLoss = false;
    bool m_noOcclusionQueries = false;  // acts as a device without them (tests)
    int m_defaultResources = 0;

    // Swap chain.
    PortSurface* m_backBuffer = nullptr;
    PortSurface* m_autoDepth = nullptr;
    GLuint m_resolveFbo = 0, m_resolveColor = 0;
    int m_samples = 0;

    // Current targets (not reference-counted beyond the implicit ones: Direct3D
    // holds a reference to bound targets).
    PortSurface* m_renderTarget = nullptr;
    PortSurface* m_depthStencil = nullptr;
    std::vector<FboEntry> m_fbos;
    bool m_flipped = false;
    PortSurface* m_boundColor = nullptr;  // colour surface of the framebuffer bound last
    UINT m_targetWidth = 0, m_targetHeight = 0;
    bool m_hasDepth = false, m_hasStencil = false;

    // Direct3D state.
    DWORD m_rs[256] = {};
    DWORD m_tss[8][33] = {};
    DWORD m_samp[21][14] = {};
    D3DMATRIX m_view{}, m_proj{}, m_texTransform[8]{};
    std::vector<D3DMATRIX> m_world;
    D3DVIEWPORT9 m_viewport{};
    RECT m_scissor{};
    D3DMATERIAL9 m_material{};
    std::unordered_map<DWORD, LightSlot> m_lights;
    std::vector<DWORD> m_activeLights;
    IDirect3DBaseTexture9* m_textures[21] = {};
    DWORD m_fvf = 0;
    struct Stream {
        PortVertexBuffer* buffer = nullptr;
        UINT offset = 0;
        UINT stride = 0;
    } m_streams[16];
    PortIndexBuffer* m_indices = nullptr;

    // OpenGL side.
    GLuint m_vao = 0;
    GLuint m_samplers[8] = {};
    uint32_t m_samplerDirty = 0xFF;
    uint32_t m_textureDirty = 0xFF;
    uint32_t m_dirty = DIRTY_ALL;
    GLuint m_boundArray = 0, m_boundElement = 0, m_boundProgram = 0;
    GLuint m_boundTextures[8] = {};
    GLuint m_activeUnit = 0;
    // Vertex attribute set-up last issued.
    DWORD m_attribFvf = 0xFFFFFFFF;
    GLuint m_attribBuffer = 0;
    UINT m_attribOffset = 0, m_attribStride = 0;
    uint32_t m_enabledAttribs = 0;   // attribute arrays enabled (16 locations)
    uint32_t m_vertexAttribs = 0;    // ... of them for the vertex format
    uint32_t m_divisors = 0;         // locations with one value per instance
    uint32_t m_instancePointers = 0; // locations pointing at instance entries
    // Streaming buffer for DrawPrimitiveUP data.
    GLuint m_stream = 0, m_streamIndex = 0;
    UINT m_streamSize = 0, m_streamPos = 0, m_streamIndexSize = 0, m_streamIndexPos = 0;

    // Fixed-function programs.
    std::unordered_map<PortFfpKey, PortFfpProgram, PortFfpKeyHash> m_programs;
    PortFfpProgram* m_program = nullptr;
    bool m_ffpDirty = true;
    D3DPRIMITIVETYPE m_lastPrimitive = D3DPT_TRIANGLELIST;
    GLuint m_programOverride = 0;
    GLint m_overrideScreen = -1;
    uint64_t m_overrideScreenGeneration = 0;
    DWORD m_programFvf = 0xFFFFFFFF;
    uint64_t m_generation[PORT_UG_COUNT] = {1, 1, 1, 1, 1};
    uint64_t m_generationCounter = 1;
    D3DMATRIX m_wvp{}, m_wv{};
    float m_normalMatrix[9] = {};
    uint64_t m_wvpGeneration = 0;

    // Merged draws: the draw they repeat, its uniform generations, and one
    // instance entry per draw (at most PortInstanceCapacity()).
    PendingDraw m_batch{};
    uint64_t m_batchGeneration[PORT_UG_COUNT] = {};
    UINT m_batchCount = 0;
    bool m_batching = true;
    std::vector<float> m_instanceData;
    GLuint m_instanceBuffer = 0;
    UINT m_instanceBufferSize = 0, m_instancePos = 0;

    // The back buffer and its depth buffer are the window's own (single
    // sample, same size, matching formats): drawn into directly and shown
    // by the swap alone.
    bool m_windowFramebuffer = false;
    // Resolving a multisampled frame straight into the window failed once.
    bool m_noWindowResolve = false;
    // A presented frame was kept for the screenshot.
    bool m_captured = false;

    // Statistics and run outputs.
    uint64_t m_totalDraws = 0, m_totalTriangles = 0;
    uint64_t m_totalGLDraws = 0, m_frameGLDraws = 0;
    std::vector<uint64_t> m_glDrawsPerFrame;
    uint64_t m_bufferUploads = 0, m_bufferUploadBytes = 0;
    uint64_t m_frameDraws = 0, m_frameTriangles = 0;
    std::vector<double> m_frameTimes;
    std::vector<double> m_sceneFrameTimes;  // those of the frames that showed the loaded scene
    std::vector<uint64_t> m_drawsPerFrame, m_trianglesPerFrame;
    std::chrono::steady_clock::time_point m_lastPresent{};
    bool m_outputsWritten = false;
    bool m_hasPresented = false;
};
