#include "port/d3dx9/d3dx9rts.h"
#include "port/d3dx9/meshimpl.h"

#include <new>

using namespace d3dx;

namespace {

class RenderToSurface final : public ComObject<ID3DXRenderToSurface> {
public:
    RenderToSurface(IDirect3DDevice9* device, const D3DXRTS_DESC& desc) : device_(device), desc_(desc) {
        device_->AddRef();
    }

    HRESULT GetDevice(IDirect3DDevice9** device) override {
        if (!device) return D3DERR_INVALIDCALL;
        *device = device_;
        device_->AddRef();
        return D3D_OK;
    }
    HRESULT GetDesc(D3DXRTS_DESC* desc) override {
        if (!desc) return D3DERR_INVALIDCALL;
        *desc = desc_;
        return D3D_OK;
    }

    HRESULT BeginScene(IDirect3DSurface9* surface, const D3DVIEWPORT9* viewport) override {
        if (!surface || active_) return D3DERR_INVALIDCALL;
        D3DSURFACE_DESC sd{};
        if (FAILED(surface->GetDesc(&sd)) || sd.Width != desc_.Width || sd.Height != desc_.Height)
            return D3DERR_INVALIDCALL;
        if (desc_.DepthStencil && !depth_) {
            HRESULT hr = device_->CreateDepthStencilSurface(desc_.Width, desc_.Height, desc_.DepthStencilFormat,
                                                            D3DMULTISAMPLE_NONE, 0, TRUE, &depth_, nullptr);
            if (FAILED(hr)) return hr;
        }
        // Remember what the scene replaces.
        device_->GetRenderTarget(0, &savedTarget_);
        device_->GetDepthStencilSurface(&savedDepth_);
        device_->GetViewport(&savedViewport_);
        HRESULT hr = device_->SetRenderTarget(0, surface);
        if (SUCCEEDED(hr)) hr = device_->SetDepthStencilSurface(depth_);
        D3DVIEWPORT9 vp{0, 0, desc_.Width, desc_.Height, 0.0f, 1.0f};
        if (SUCCEEDED(hr)) hr = device_->SetViewport(viewport ? viewport : &vp);
        if (SUCCEEDED(hr)) hr = device_->BeginScene();
        if (FAILED(hr)) {
            restore();
            return hr;
        }
        active_ = true;
        return D3D_OK;
    }

    HRESULT EndScene(DWORD mipFilter) override {
        (void)mipFilter; // the render targets made here have one level
        if (!active_) return D3DERR_INVALIDCALL;
        active_ = false;
        const HRESULT hr = device_->EndScene();
        restore();
        return hr;
    }

    HRESULT OnLostDevice() override {
        if (active_) EndScene(0);
        if (depth_) depth_->Release();
        depth_ = nullptr;
        return D3D_OK;
    }
    HRESULT OnResetDevice() override { return D3D_OK; }

private:
    ~RenderToSurface() override {
        OnLostDevice();
        device_->Release();
    }
    void restore() {
        if (savedTarget_) {
            device_->SetRenderTarget(0, savedTarget_);
            savedTarget_->Release();
            savedTarget_ = nullptr;
        }
        device_->SetDepthStencilSurface(savedDepth_);
        if (savedDepth_) savedDepth_->Release();
        savedDepth_ = nullptr;
        device_->SetViewport(&savedViewport_);
    }

    IDirect3DDevice9* device_;
    D3DXRTS_DESC desc_;
    IDirect3DSurface9* depth_ = nullptr;
    IDirect3DSurface9* savedTarget_ = nullptr;
    IDirect3DSurface9* savedDepth_ = nullptr;
    D3DVIEWPORT9 savedViewport_{};
    bool active_ = false;
};

} // namespace

HRESULT D3DXCreateRenderToSurface(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                                  BOOL depthStencil, D3DFORMAT depthStencilFormat,
                                  ID3DXRenderToSurface** renderToSurface) {
    if (!device || !renderToSurface || width == 0 || height == 0) return D3DERR_INVALIDCALL;
    *renderToSurface = nullptr;
    try {
        *renderToSurface = new RenderToSurface(device, {width, height, format, depthStencil, depthStencilFormat});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}
