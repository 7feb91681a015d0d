// D3DX render-to-surface: drawing into a surface (usually level 0 of a
// render-target texture) with its own depth buffer and viewport.
#pragma once

#include "port/d3d9/d3d9.h"

struct D3DXRTS_DESC {
    UINT Width;
    UINT Height;
    D3DFORMAT Format;
    BOOL DepthStencil;
    D3DFORMAT DepthStencilFormat;
};

struct ID3DXRenderToSurface : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetDesc(D3DXRTS_DESC* desc) = 0;
    // Makes surface the render target (with this object's depth buffer and
    // the viewport, or the whole surface when null) and begins a scene.
    virtual HRESULT BeginScene(IDirect3DSurface9* surface, const D3DVIEWPORT9* viewport) = 0;
    // Ends the scene and puts the previous target, depth buffer and viewport back.
    virtual HRESULT EndScene(DWORD mipFilter) = 0;
    virtual HRESULT OnLostDevice() = 0;
    virtual HRESULT OnResetDevice() = 0;
};
typedef ID3DXRenderToSurface* LPD3DXRENDERTOSURFACE;

HRESULT D3DXCreateRenderToSurface(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                                  BOOL depthStencil, D3DFORMAT depthStencilFormat,
                                  ID3DXRenderToSurface** renderToSurface);
