// A window with a device on it, and helpers to draw and read pixels.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "port/d3d9/d3d9.h"
#include "port/d3d9/device_gl.h"
#include "port/d3d9/device_setup.h"
#include "port/win32/afxwin.h"

struct ScreenVertex {  // D3DFVF_XYZRHW | D3DFVF_DIFFUSE
    float x, y, z, rhw;
    D3DCOLOR color;
};
constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

struct LitVertex {  // D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR color;
    float u, v;
};
constexpr DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

inline D3DMATRIX PerspectiveFovLH(float fovy, float aspect, float zn, float zf) {
    D3DMATRIX m{};
    const float ys = 1.0f / std::tan(fovy / 2.0f);
    m._11 = ys / aspect;
    m._22 = ys;
    m._33 = zf / (zf - zn);
    m._34 = 1.0f;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

inline int Red(uint32_t argb) { return static_cast<int>((argb >> 16) & 0xFF); }
inline int Green(uint32_t argb) { return static_cast<int>((argb >> 8) & 0xFF); }
inline int Blue(uint32_t argb) { return static_cast<int>(argb & 0xFF); }
inline int Alpha(uint32_t argb) { return static_cast<int>(argb >> 24); }

class DeviceTest : public ::testing::Test {
protected:
    static constexpr UINT kWidth = 160;
    static constexpr UINT kHeight = 120;

    void SetUp() override {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        window = std::make_unique<CWnd>();
        RECT r{0, 0, static_cast<LONG>(kWidth), static_cast<LONG>(kHeight)};
        ASSERT_TRUE(window->CreateEx(0, L"", L"device test", WS_POPUP | WS_CAPTION, r, nullptr, 0));
        params = DefaultParams();
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window->m_hWnd,
                                    D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device),
                  D3D_OK);
        ASSERT_NE(device, nullptr);
    }

    void TearDown() override {
        if (device) {
            EXPECT_EQ(device->Release(), 0u);
        }
        if (d3d) d3d->Release();
        if (window) window->DestroyWindow();
    }

    D3DPRESENT_PARAMETERS DefaultParams() const { return WindowedParams(kWidth, kHeight); }

    std::vector<uint32_t> ReadBack() {
        std::vector<uint32_t> pixels;
        UINT w = 0, h = 0;
        EXPECT_TRUE(PortDeviceReadBackBuffer(device, pixels, w, h));
        EXPECT_EQ(w, kWidth);
        EXPECT_EQ(h, kHeight);
        return pixels;
    }

    uint32_t Pixel(const std::vector<uint32_t>& pixels, UINT x, UINT y) { return pixels[y * kWidth + x]; }

    // A screen-space rectangle in one colour.
    void DrawRect(float x0, float y0, float x1, float y1, D3DCOLOR color, float z = 0.5f) {
        ScreenVertex v[4] = {{x0, y0, z, 1, color}, {x1, y0, z, 1, color}, {x0, y1, z, 1, color}, {x1, y1, z, 1, color}};
        ASSERT_EQ(device->SetFVF(kScreenFvf), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex)), D3D_OK);
    }

    IDirect3D9* d3d = nullptr;
    std::unique_ptr<CWnd> window;
    D3DPRESENT_PARAMETERS params{};
    IDirect3DDevice9* device = nullptr;
};

// Reads a render target through a system-memory surface, as applications do.
inline std::vector<uint32_t> ReadTarget(IDirect3DDevice9* device, IDirect3DSurface9* target, UINT w, UINT h) {
    std::vector<uint32_t> out;
    IDirect3DSurface9* copy = nullptr;
    // The copy has the target's format (A8R8G8B8 or X8R8G8B8), as Direct3D requires.
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(target->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(device->CreateOffscreenPlainSurface(w, h, desc.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr), D3D_OK);
    if (!copy) return out;
    EXPECT_EQ(device->GetRenderTargetData(target, copy), D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    if (!locked.pBits) {
        copy->Release();
        return out;
    }
    out.resize(static_cast<size_t>(w) * h);
    for (UINT y = 0; y < h; ++y)
        std::memcpy(&out[y * w], static_cast<uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch, w * 4);
    copy->UnlockRect();
    copy->Release();
    return out;
}

#define EXPECT_NEAR_COLOR(pixel, r, g, b, tolerance)    \
    do {                                                \
        const uint32_t p_ = (pixel);                    \
        EXPECT_NEAR(Red(p_), (r), (tolerance));         \
        EXPECT_NEAR(Green(p_), (g), (tolerance));       \
        EXPECT_NEAR(Blue(p_), (b), (tolerance));        \
    } while (0)
