// A device whose window is destroyed first stays safe to use and to release:
// it reports itself lost and frees its objects without touching the window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "port/d3d9/d3d9.h"
#include "port/d3d9/device_gl.h"
#include "port/d3d9/device_setup.h"
#include "port/win32/afxwin.h"

namespace {

struct Objects {
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    IDirect3DTexture9* texture = nullptr;
    IDirect3DVertexBuffer9* buffer = nullptr;
    IDirect3DQuery9* query = nullptr;
};

// A window with a device on it, and a texture, a vertex buffer and an
// occlusion query in flight, so every kind of GL object is alive.
bool CreateAll(CWnd& window, Objects& o) {
    o.d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!o.d3d) return false;
    RECT r{0, 0, 64, 48};
    if (!window.CreateEx(0, L"", L"window gone", WS_POPUP | WS_CAPTION, r, nullptr, 0)) return false;
    D3DPRESENT_PARAMETERS p = WindowedParams(64, 48);
    if (o.d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window.m_hWnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p,
                            &o.device) != D3D_OK)
        return false;
    if (o.device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &o.texture, nullptr) != D3D_OK) return false;
    if (o.device->CreateVertexBuffer(256, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &o.buffer, nullptr) != D3D_OK)
        return false;
    if (o.device->CreateQuery(D3DQUERYTYPE_OCCLUSION, &o.query) != D3D_OK) return false;
    o.query->Issue(D3DISSUE_BEGIN);
    o.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 1.0f, 0);
    return o.device->Present(nullptr, nullptr, nullptr, nullptr) == D3D_OK;
}

// Exit codes say which step went wrong in the child process.
void WindowFirstThenRelease() {
    Objects o;
    CWnd window;
    if (!CreateAll(window, o)) std::_Exit(2);
    window.DestroyWindow();
    o.query->Issue(D3DISSUE_END);
    o.query->Release();
    o.buffer->Release();
    o.texture->Release();
    if (o.device->Release() != 0) std::_Exit(3);
    o.d3d->Release();
    std::_Exit(0);
}

}  // namespace

TEST(DeviceWindowGone, ReleasingAfterTheWindowIsDestroyedDoesNotCrash) {
    // In a child process, so a crash fails this test instead of the program.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(WindowFirstThenRelease(), ::testing::ExitedWithCode(0), "");
}

TEST(DeviceWindowGone, OrphanedDeviceIsLostForGoodAndLeavesOtherDevicesWorking) {
    Objects o;
    {
        CWnd window;
        ASSERT_TRUE(CreateAll(window, o));
        ASSERT_TRUE(window.DestroyWindow());
    }
    // Lost for good: no Reset brings it back without a window.
    EXPECT_EQ(o.device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(o.device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    D3DPRESENT_PARAMETERS p = WindowedParams(64, 48);
    EXPECT_TRUE(FAILED(o.device->Reset(&p)));
    EXPECT_EQ(o.device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);

    // Its managed resources still hold their data in memory.
    D3DLOCKED_RECT rect{};
    ASSERT_EQ(o.texture->LockRect(0, &rect, nullptr, 0), D3D_OK);
    static_cast<uint32_t*>(rect.pBits)[0] = 0xFF00FF00;
    EXPECT_EQ(o.texture->UnlockRect(0), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(o.buffer->Lock(0, 16, &data, 0), D3D_OK);
    std::memset(data, 0x5A, 16);
    EXPECT_EQ(o.buffer->Unlock(), D3D_OK);

    o.query->Release();
    o.buffer->Release();
    o.texture->Release();
    EXPECT_EQ(o.device->Release(), 0u);

    // A device made afterwards on a new window draws normally.
    Objects again;
    CWnd next;
    ASSERT_TRUE(CreateAll(next, again));
    std::vector<uint32_t> pixels;
    UINT w = 0, h = 0;
    ASSERT_TRUE(PortDeviceReadBackBuffer(again.device, pixels, w, h));
    ASSERT_EQ(pixels.size(), 64u * 48u);
    EXPECT_EQ(pixels[0] & 0xFFFFFF, 0x102030u);
    again.query->Issue(D3DISSUE_END);
    again.query->Release();
    again.buffer->Release();
    again.texture->Release();
    EXPECT_EQ(again.device->Release(), 0u);
    again.d3d->Release();
    next.DestroyWindow();
    o.d3d->Release();
}

TEST(DeviceWindowGone, DeviceReleasedBeforeItsWindowStillWorks) {
    Objects o;
    CWnd window;
    ASSERT_TRUE(CreateAll(window, o));
    EXPECT_EQ(o.device->TestCooperativeLevel(), D3D_OK);
    o.query->Issue(D3DISSUE_END);
    o.query->Release();
    o.buffer->Release();
    o.texture->Release();
    EXPECT_EQ(o.device->Release(), 0u);
    o.d3d->Release();
    EXPECT_TRUE(window.DestroyWindow());
}
