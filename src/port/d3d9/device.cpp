// IDirect3DDevice9 over OpenGL 3.3 core: creation, destruction, the OpenGL
// context and simple queries. The other concerns are in device_*.cpp.
#include "port/d3d9/device.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

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

PortDevice::~PortDevice() {
    LiveDevices().erase(this);
    if (!m_context) {
        m_d3d->Release();
        return;
    }
    WriteRunOutputs();
    if (Activate()) {
        DestroyBatchResources();
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

bool PortDevice::MakeCurrent() {
    if (!m_contextUsable) {
        if (g_current == this) g_current = nullptr;
        return false;
    }
    if (g_current == this) return true;
    SDL_GL_MakeCurrent(m_sdlWindow, m_context);
    g_current = this;
    return true;
}

bool PortDevice::Activate() {
    if (!MakeCurrent()) return false;
    // Whoever activates the context is about to use OpenGL directly: merged
    // draws waiting so far go first, with the state they were made in.
    if (m_batchCount) FlushBatch();
    return true;
}

// ---------------------------------------------------------------------------
// Simple queries
// ---------------------------------------------------------------------------
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
