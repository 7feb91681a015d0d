#pragma once
// A Direct3D object and device that draw nothing and record what the engine
// asks of them, so that frame, queue, camera and text logic can be checked
// without a display.

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "port/d3d9/d3d9.h"

template <class Interface>
struct FakeUnknown : Interface {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
};

struct FakeDevice;

// Render target 0 with a fixed size.
struct FakeSurface : FakeUnknown<IDirect3DSurface9> {
    UINT width = 0, height = 0;
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_FAIL; }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override
    {
        std::memset(desc, 0, sizeof *desc);
        desc->Width = width;
        desc->Height = height;
        desc->Format = D3DFMT_A8R8G8B8;
        return S_OK;
    }
    HRESULT LockRect(D3DLOCKED_RECT*, const RECT*, DWORD) override { return E_FAIL; }
    HRESULT UnlockRect() override { return E_FAIL; }
    HRESULT GetDC(HDC*) override { return E_FAIL; }
    HRESULT ReleaseDC(HDC) override { return E_FAIL; }
};

struct FakeDevice : FakeUnknown<IDirect3DDevice9> {
    struct ClearCall {
        DWORD flags;
        D3DCOLOR color;
        float z;
        DWORD stencil;
        D3DVIEWPORT9 viewport;
    };

    // Behaviour.
    HRESULT cooperativeLevel = S_OK;
    HRESULT resetResult = S_OK;
    HRESULT beginSceneResult = S_OK;
    FakeSurface* renderTarget = nullptr;   // null: GetRenderTarget fails

    // What was asked.
    std::vector<std::string> calls;
    std::vector<ClearCall> clears;
    std::map<int, D3DMATRIX> transforms;
    std::map<int, DWORD> renderStates;
    std::vector<std::pair<int, DWORD>> renderStateOrder;
    std::map<std::pair<int, int>, DWORD> samplerStates;
    std::vector<std::pair<DWORD, IDirect3DBaseTexture9*>> textures;
    D3DVIEWPORT9 viewport{0, 0, 800, 600, 0.0f, 1.0f};
    int presents = 0;
    int resets = 0;
    int scenes = 0;
    bool inScene = false;

    void Note(const std::string& what) { calls.push_back(what); }
    int Count(const std::string& what) const
    {
        int n = 0;
        for (const auto& c : calls) n += c == what;
        return n;
    }

    HRESULT TestCooperativeLevel() override { return cooperativeLevel; }
    UINT GetAvailableTextureMem() override { return 0; }
    HRESULT GetDirect3D(IDirect3D9**) override { return E_FAIL; }
    HRESULT GetDeviceCaps(D3DCAPS9*) override { return E_FAIL; }
    HRESULT GetDisplayMode(UINT, D3DDISPLAYMODE*) override { return E_FAIL; }
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS*) override { return E_FAIL; }
    HRESULT Reset(D3DPRESENT_PARAMETERS*) override
    {
        Note("Reset");
        ++resets;
        if (SUCCEEDED(resetResult)) cooperativeLevel = S_OK;
        return resetResult;
    }
    HRESULT Present(const RECT*, const RECT*, HWND, const RGNDATA*) override
    {
        Note("Present");
        ++presents;
        return S_OK;
    }
    HRESULT GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9**) override { return E_FAIL; }
    HRESULT CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9**, HANDLE*) override
    {
        return E_FAIL;
    }
    HRESULT CreateVertexBuffer(UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9**, HANDLE*) override
    {
        return E_FAIL;
    }
    HRESULT CreateIndexBuffer(UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9**, HANDLE*) override
    {
        return E_FAIL;
    }
    HRESULT CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**,
                               HANDLE*) override
    {
        return E_FAIL;
    }
    HRESULT CreateDepthStencilSurface(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**,
                                      HANDLE*) override
    {
        return E_FAIL;
    }
    HRESULT CreateOffscreenPlainSurface(UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9**, HANDLE*) override
    {
        return E_FAIL;
    }
    HRESULT GetRenderTargetData(IDirect3DSurface9*, IDirect3DSurface9*) override { return E_FAIL; }
    HRESULT CreateQuery(D3DQUERYTYPE, IDirect3DQuery9**) override { return D3DERR_NOTAVAILABLE; }
    HRESULT SetRenderTarget(DWORD, IDirect3DSurface9*) override { return S_OK; }
    HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** target) override
    {
        if (index != 0 || !renderTarget) {
            *target = nullptr;
            return D3DERR_NOTFOUND;
        }
        renderTarget->AddRef();
        *target = renderTarget;
        return S_OK;
    }
    HRESULT SetDepthStencilSurface(IDirect3DSurface9*) override { return S_OK; }
    HRESULT GetDepthStencilSurface(IDirect3DSurface9**) override { return E_FAIL; }
    HRESULT BeginScene() override
    {
        Note("BeginScene");
        if (SUCCEEDED(beginSceneResult)) {
            inScene = true;
            ++scenes;
        }
        return beginSceneResult;
    }
    HRESULT EndScene() override
    {
        Note("EndScene");
        inScene = false;
        return S_OK;
    }
    HRESULT Clear(DWORD, const D3DRECT*, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override
    {
        Note("Clear");
        clears.push_back({flags, color, z, stencil, viewport});
        return S_OK;
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override
    {
        transforms[state] = *matrix;
        return S_OK;
    }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override
    {
        *matrix = transforms[state];
        return S_OK;
    }
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return S_OK; }
    HRESULT SetViewport(const D3DVIEWPORT9* v) override
    {
        Note("SetViewport");
        viewport = *v;
        return S_OK;
    }
    HRESULT GetViewport(D3DVIEWPORT9* v) override
    {
        *v = viewport;
        return S_OK;
    }
    HRESULT SetMaterial(const D3DMATERIAL9*) override { return S_OK; }
    HRESULT GetMaterial(D3DMATERIAL9*) override { return S_OK; }
    HRESULT SetLight(DWORD, const D3DLIGHT9*) override { return S_OK; }
    HRESULT GetLight(DWORD, D3DLIGHT9*) override { return S_OK; }
    HRESULT LightEnable(DWORD, BOOL) override { return S_OK; }
    HRESULT GetLightEnable(DWORD, BOOL*) override { return S_OK; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override
    {
        renderStates[state] = value;
        renderStateOrder.emplace_back(state, value);
        return S_OK;
    }
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override
    {
        *value = renderStates[state];
        return S_OK;
    }
    HRESULT GetTexture(DWORD, IDirect3DBaseTexture9**) override { return E_FAIL; }
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override
    {
        textures.emplace_back(stage, texture);
        return S_OK;
    }
    HRESULT GetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD*) override { return S_OK; }
    HRESULT SetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD) override { return S_OK; }
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override
    {
        *value = samplerStates[{int(sampler), int(type)}];
        return S_OK;
    }
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override
    {
        Note("SetSamplerState " + std::to_string(sampler) + " " + std::to_string(type));
        samplerStates[{int(sampler), int(type)}] = value;
        return S_OK;
    }
    HRESULT SetScissorRect(const RECT*) override { return S_OK; }
    HRESULT GetScissorRect(RECT*) override { return S_OK; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return S_OK; }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) override { return S_OK; }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return S_OK; }
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE, UINT, UINT, UINT, const void*, D3DFORMAT, const void*,
                                   UINT) override
    {
        return S_OK;
    }
    HRESULT SetFVF(DWORD) override { return S_OK; }
    HRESULT GetFVF(DWORD*) override { return S_OK; }
    HRESULT SetStreamSource(UINT, IDirect3DVertexBuffer9*, UINT, UINT) override { return S_OK; }
    HRESULT GetStreamSource(UINT, IDirect3DVertexBuffer9**, UINT*, UINT*) override { return S_OK; }
    HRESULT SetIndices(IDirect3DIndexBuffer9*) override { return S_OK; }
    HRESULT GetIndices(IDirect3DIndexBuffer9**) override { return S_OK; }
};

// The Direct3D object: one adapter, configurable capabilities and
// multisample support, devices handed out as FakeDevice.
struct FakeDirect3D : FakeUnknown<IDirect3D9> {
    UINT adapters = 1;
    DWORD devCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    HRESULT capsResult = S_OK;
    HRESULT displayModeResult = S_OK;
    HRESULT createResult = S_OK;
    int maxColourSamples = 4;      // highest type the back-buffer format supports
    int maxDepthSamples = 4;       // highest type the depth format supports
    std::vector<int> probed;       // multisample types asked, in order
    // Last creation.
    UINT createdAdapter = 99;
    D3DDEVTYPE createdType{};
    DWORD createdFlags = 0;
    HWND createdWindow = nullptr;
    D3DPRESENT_PARAMETERS createdParameters{};
    FakeDevice* device = nullptr;   // the device made last
    std::vector<std::unique_ptr<FakeDevice>> devices;   // every device made, freed with the fake

    FakeDirect3D() = default;
    FakeDirect3D(const FakeDirect3D&) = delete;
    FakeDirect3D& operator=(const FakeDirect3D&) = delete;

    UINT GetAdapterCount() override { return adapters; }
    HRESULT GetAdapterIdentifier(UINT, DWORD, D3DADAPTER_IDENTIFIER9*) override { return E_FAIL; }
    UINT GetAdapterModeCount(UINT, D3DFORMAT) override { return 0; }
    HRESULT EnumAdapterModes(UINT, D3DFORMAT, UINT, D3DDISPLAYMODE*) override { return E_FAIL; }
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override
    {
        if (adapter >= adapters) return D3DERR_INVALIDCALL;
        *mode = {1024, 768, 60, D3DFMT_X8R8G8B8};
        return displayModeResult;
    }
    HRESULT CheckDeviceType(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, BOOL) override { return S_OK; }
    HRESULT CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT) override
    {
        return S_OK;
    }
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE, D3DFORMAT format, BOOL, D3DMULTISAMPLE_TYPE type,
                                       DWORD* quality) override
    {
        if (adapter >= adapters || quality) return D3DERR_INVALIDCALL;
        const bool depth = format == D3DFMT_D24S8;
        if (!depth) probed.push_back(type);
        // Types 1 (non-maskable) and up to the maximum are supported.
        return int(type) <= (depth ? maxDepthSamples : maxColourSamples) ? S_OK : D3DERR_NOTAVAILABLE;
    }
    HRESULT CheckDepthStencilMatch(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, D3DFORMAT) override { return S_OK; }
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE, D3DCAPS9* caps) override
    {
        if (adapter >= adapters) return D3DERR_INVALIDCALL;
        std::memset(caps, 0, sizeof *caps);
        caps->DevCaps = devCaps;
        return capsResult;
    }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND window, DWORD flags,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** result) override
    {
        createdAdapter = adapter;
        createdType = type;
        createdFlags = flags;
        createdWindow = window;
        createdParameters = *parameters;
        if (FAILED(createResult)) {
            *result = nullptr;
            return createResult;
        }
        devices.push_back(std::make_unique<FakeDevice>());
        device = devices.back().get();
        device->viewport = {0, 0, parameters->BackBufferWidth, parameters->BackBufferHeight, 0.0f, 1.0f};
        device->refs = 2;   // one for the test, one for the caller
        *result = device;
        return S_OK;
    }
};
