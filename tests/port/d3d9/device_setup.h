// What device tests and benchmarks share without a test framework: the
// presentation they start from and the matrices they draw with.
#pragma once

#include "port/d3d9/d3d9.h"

// A windowed A8R8G8B8 back buffer with a D24S8 depth buffer, presented at once.
inline D3DPRESENT_PARAMETERS WindowedParams(UINT width, UINT height) {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    p.BackBufferFormat = D3DFMT_A8R8G8B8;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    return p;
}

inline D3DMATRIX IdentityMatrix() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

// Left-handed orthographic projection: one world unit per pixel when w and h
// are the back-buffer size.
inline D3DMATRIX OrthoLH(float w, float h, float zn, float zf) {
    D3DMATRIX m{};
    m._11 = 2.0f / w;
    m._22 = 2.0f / h;
    m._33 = 1.0f / (zf - zn);
    m._43 = zn / (zn - zf);
    m._44 = 1.0f;
    return m;
}
