// Invalid calls are refused with D3DERR_INVALIDCALL and touch nothing.
#include <cstring>

#include "device_fixture.h"

TEST_F(DeviceTest, StateCallsRejectOutOfRangeArguments) {
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(0), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(210), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(100000), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetRenderState(D3DRS_ZENABLE, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_DISABLE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(12), 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(16, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(14), 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(D3DVERTEXTEXTURESAMPLER0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), D3D_OK);
    EXPECT_EQ(device->SetTexture(16, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(1), nullptr), D3DERR_INVALIDCALL);
    D3DMATRIX m = IdentityMatrix();
    EXPECT_EQ(device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(4), &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(512), &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetMaterial(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetViewport(nullptr), D3DERR_INVALIDCALL);
    D3DVIEWPORT9 tooBig{0, 0, kWidth + 1, kHeight, 0.0f, 1.0f};
    EXPECT_EQ(device->SetViewport(&tooBig), D3DERR_INVALIDCALL);
    D3DVIEWPORT9 shifted{10, 0, kWidth - 5, kHeight, 0.0f, 1.0f};
    EXPECT_EQ(device->SetViewport(&shifted), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetFVF(D3DFVF_TEX8 + D3DFVF_TEX1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetStreamSource(16, nullptr, 0, 0), D3DERR_INVALIDCALL);
    // Unchanged values keep what was stored.
    DWORD value = 0;
    ASSERT_EQ(device->GetSamplerState(0, D3DSAMP_MAGFILTER, &value), D3D_OK);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTEXF_POINT));
}

TEST_F(DeviceTest, LightsAreValidatedAndEnabledLightsReport128) {
    EXPECT_EQ(device->SetLight(0, nullptr), D3DERR_INVALIDCALL);
    D3DLIGHT9 light{};
    EXPECT_EQ(device->SetLight(0, &light), D3DERR_INVALIDCALL);  // type 0
    light.Type = D3DLIGHT_DIRECTIONAL;
    EXPECT_EQ(device->SetLight(0, &light), D3DERR_INVALIDCALL);  // no direction
    light.Type = D3DLIGHT_POINT;
    light.Range = -1.0f;
    EXPECT_EQ(device->SetLight(0, &light), D3DERR_INVALIDCALL);
    D3DLIGHT9 out{};
    EXPECT_EQ(device->GetLight(7, &out), D3DERR_INVALIDCALL);
    // Enabling a light never set creates the default white directional light.
    ASSERT_EQ(device->LightEnable(7, TRUE), D3D_OK);
    ASSERT_EQ(device->GetLight(7, &out), D3D_OK);
    EXPECT_EQ(out.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(out.Diffuse.r, 1.0f);
    EXPECT_EQ(out.Direction.z, 1.0f);
    BOOL enabled = FALSE;
    ASSERT_EQ(device->GetLightEnable(7, &enabled), D3D_OK);
    EXPECT_EQ(enabled, 128);
    ASSERT_EQ(device->LightEnable(7, FALSE), D3D_OK);
    ASSERT_EQ(device->GetLightEnable(7, &enabled), D3D_OK);
    EXPECT_EQ(enabled, FALSE);
}

TEST_F(DeviceTest, BufferLocksStayInsideTheBuffer) {
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(100, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    void* data = nullptr;
    EXPECT_EQ(vb->Lock(101, 0, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(vb->Lock(50, 51, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0, 10, nullptr, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(vb->Lock(90, 0, &data, 0), D3D_OK);  // size 0: to the end
    std::memset(data, 0xAB, 10);
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    D3DVERTEXBUFFER_DESC desc{};
    ASSERT_EQ(vb->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Size, 100u);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    vb->Release();

    IDirect3DIndexBuffer9* ib = nullptr;
    EXPECT_EQ(device->CreateIndexBuffer(12, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &ib, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(0, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(16, 0, 0, D3DPOOL_MANAGED, nullptr, nullptr), D3DERR_INVALIDCALL);

    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(16, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 5u);  // 16x8, 8x4, 4x2, 2x1, 1x1
    D3DLOCKED_RECT locked{};
    RECT outside{0, 0, 17, 8};
    EXPECT_EQ(texture->LockRect(0, &locked, &outside, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->LockRect(5, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    RECT inside{4, 2, 8, 4};
    ASSERT_EQ(texture->LockRect(0, &locked, &inside, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 64);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
    D3DSURFACE_DESC desc2{};
    ASSERT_EQ(texture->GetLevelDesc(3, &desc2), D3D_OK);
    EXPECT_EQ(desc2.Width, 2u);
    EXPECT_EQ(desc2.Height, 1u);
    texture->Release();
}

TEST_F(DeviceTest, DrawsPastTheEndOfABufferAreRefused) {
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(3 * sizeof(ScreenVertex), 0, kScreenFvf, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateIndexBuffer(6 * 2, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);
    const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};  // index 3 is past the three vertices
    std::memcpy(data, indices, sizeof(indices));
    ASSERT_EQ(ib->Unlock(), D3D_OK);
    ASSERT_EQ(device->SetFVF(kScreenFvf), D3D_OK);

    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // no stream yet
    ASSERT_EQ(device->SetStreamSource(0, vb, 0, sizeof(ScreenVertex)), D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(0), 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0xFFFFFFF0u, 1), D3DERR_INVALIDCALL);

    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1), D3DERR_INVALIDCALL);  // no indices
    ASSERT_EQ(device->SetIndices(ib), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3DERR_INVALIDCALL);  // reaches vertex 3
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 3, 0, 1), D3DERR_INVALIDCALL);  // base moves past
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -1, 0, 3, 0, 1), D3DERR_INVALIDCALL);  // before vertex 0
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 4, 1), D3DERR_INVALIDCALL);  // past the indices

    ScreenVertex v[3] = {};
    const uint16_t wild[3] = {0, 1, 9};
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, wild, D3DFMT_INDEX16, v, sizeof(ScreenVertex)),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, nullptr, sizeof(ScreenVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, 0), D3DERR_INVALIDCALL);
    const uint16_t good[3] = {0, 1, 2};
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, good, D3DFMT_INDEX16, v, sizeof(ScreenVertex)),
              D3D_OK);
    // A draw from user memory unbinds stream 0 and the indices, as Direct3D does.
    IDirect3DVertexBuffer9* bound = vb;
    UINT offset = 1, stride = 1;
    ASSERT_EQ(device->GetStreamSource(0, &bound, &offset, &stride), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    ib->Release();
    vb->Release();
    // Released buffers are no longer bound.
    IDirect3DIndexBuffer9* indicesNow = ib;
    ASSERT_EQ(device->GetIndices(&indicesNow), D3D_OK);
    EXPECT_EQ(indicesNow, nullptr);
}

TEST_F(DeviceTest, CreationFailuresReturnResults) {
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    IDirect3DDevice9* other = nullptr;
    D3DPRESENT_PARAMETERS p = DefaultParams();
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &p, &other), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, window->m_hWnd, 0, &p, &other), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CreateDevice(5, D3DDEVTYPE_HAL, window->m_hWnd, 0, &p, &other), D3DERR_INVALIDCALL);
    p.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(17);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, 0, &p, &other), D3DERR_INVALIDCALL);
    p = DefaultParams();
    p.BackBufferFormat = D3DFMT_DXT1;
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, 0, &p, &other), D3DERR_NOTAVAILABLE);
    p = DefaultParams();
    p.AutoDepthStencilFormat = D3DFMT_A8R8G8B8;
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, 0, &p, &other), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(other, nullptr);
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(0, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(8, 8, 5, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, &texture, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
}

// A surface wider than the texture limit would have a row pitch past 32 bits:
// 0x40000001 pixels of 4 bytes wrap round to a pitch of 4 and a lock would
// hand out far less memory than the caller writes.
TEST_F(DeviceTest, SurfacesBeyondTheSizeLimitAreRefused) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(device->CreateOffscreenPlainSurface(0x40000001u, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &surface, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateOffscreenPlainSurface(1, caps.MaxTextureHeight + 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                                  &surface, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateRenderTarget(caps.MaxTextureWidth + 1, 8, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                         &surface, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateDepthStencilSurface(8, caps.MaxTextureHeight + 1, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0,
                                                FALSE, &surface, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(surface, nullptr);

    // The limit itself is allowed, and a lock covers every row at full pitch.
    ASSERT_EQ(device->CreateOffscreenPlainSurface(caps.MaxTextureWidth, 2, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &surface,
                                                  nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(surface->LockRect(&locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(static_cast<UINT>(locked.Pitch), caps.MaxTextureWidth * 4);
    std::memset(locked.pBits, 0x5A, static_cast<size_t>(locked.Pitch) * 2);
    EXPECT_EQ(surface->UnlockRect(), D3D_OK);
    surface->Release();
}

TEST_F(DeviceTest, AdapterReportsModesCapsAndSampleCounts) {
    EXPECT_GE(d3d->GetAdapterCount(), 1u);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &mode), D3D_OK);
    EXPECT_GT(mode.Width, 0u);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(9, &mode), D3DERR_INVALIDCALL);
    const UINT modes = d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8);
    EXPECT_GE(modes, 1u);
    EXPECT_EQ(d3d->GetAdapterModeCount(0, D3DFMT_A8R8G8B8), 0u);  // not a display format
    EXPECT_EQ(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, modes, &mode), D3DERR_INVALIDCALL);
    D3DCAPS9 caps{};
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    EXPECT_EQ(caps.MaxActiveLights, 8u);
    EXPECT_GE(caps.MaxTextureWidth, 2048u);
    EXPECT_GE(caps.MaxPointSize, 1.0f);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, TRUE, D3DMULTISAMPLE_NONE, nullptr), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, TRUE, D3DMULTISAMPLE_16_SAMPLES, nullptr) ==
                  D3D_OK,
              d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_D24S8, TRUE, D3DMULTISAMPLE_16_SAMPLES, nullptr) ==
                  D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8),
              D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                     D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, TRUE), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, TRUE), D3DERR_NOTAVAILABLE);
}

TEST_F(DeviceTest, MultisampledBackBufferIsResolvedForReading) {
    DWORD levels = 0;
    if (d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, TRUE, D3DMULTISAMPLE_4_SAMPLES, &levels) != D3D_OK)
        GTEST_SKIP() << "no 4x multisampling here";
    ASSERT_EQ(device->Release(), 0u);
    device = nullptr;
    D3DPRESENT_PARAMETERS p = DefaultParams();
    p.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->m_hWnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0), D3D_OK);
    // Half-covered pixels along a diagonal edge come out mixed.
    ScreenVertex tri[3] = {{0, 0, 0.5f, 1, 0xFFFFFFFF}, {160, 0, 0.5f, 1, 0xFFFFFFFF}, {0, 160, 0.5f, 1, 0xFFFFFFFF}};
    ASSERT_EQ(device->SetFVF(kScreenFvf), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ScreenVertex)), D3D_OK);
    auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 10, 10), 255, 255, 255, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, 150, 110), 0, 0, 255, 0);
    // The edge x + y = 160 crosses the picture (kHeight rows) for x above 40.
    int mixed = 0;
    for (UINT x = 41; x < 120; ++x) {
        const int r = Red(Pixel(pixels, x, 160 - x));
        if (r > 0 && r < 255) ++mixed;
    }
    EXPECT_GT(mixed, 0);
}
