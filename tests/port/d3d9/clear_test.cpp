// Clearing the back buffer, limited to the viewport and to rectangles.
#include "device_fixture.h"

TEST_F(DeviceTest, ClearFillsTheWholeTarget) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(10, 200, 30), 1.0f, 0), D3D_OK);
    auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 0, 0), 10, 200, 30, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, kWidth - 1, kHeight - 1), 10, 200, 30, 0);
}

TEST_F(DeviceTest, ClearStaysInsideTheViewport) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0), D3D_OK);
    D3DVIEWPORT9 vp{20, 10, 40, 30, 0.0f, 1.0f};
    ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 0, 0), 1.0f, 0), D3D_OK);
    // A rectangle reaching outside the viewport is cut to it.
    D3DRECT rect{0, 0, 30, 15};
    ASSERT_EQ(device->Clear(1, &rect, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 255, 0), 1.0f, 0), D3D_OK);
    auto pixels = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(pixels, 19, 10), 0, 0, 255, 0);   // left of the viewport
    EXPECT_NEAR_COLOR(Pixel(pixels, 20, 9), 0, 0, 255, 0);    // above it
    EXPECT_NEAR_COLOR(Pixel(pixels, 20, 10), 0, 255, 0, 0);   // rectangle inside the viewport
    EXPECT_NEAR_COLOR(Pixel(pixels, 29, 14), 0, 255, 0, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, 30, 14), 255, 0, 0, 0);   // viewport, outside the rectangle
    EXPECT_NEAR_COLOR(Pixel(pixels, 59, 39), 255, 0, 0, 0);   // last viewport pixel
    EXPECT_NEAR_COLOR(Pixel(pixels, 60, 39), 0, 0, 255, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, 59, 40), 0, 0, 255, 0);
}

TEST_F(DeviceTest, ClearRejectsBadRequests) {
    EXPECT_EQ(device->Clear(0, nullptr, 0, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(2, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    // Without a depth buffer there is nothing to clear.
    ASSERT_EQ(device->SetDepthStencilSurface(nullptr), D3D_OK);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
}

TEST_F(DeviceTest, ScreenSpaceRectangleCoversExactPixels) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    DrawRect(10, 20, 30, 25, D3DCOLOR_XRGB(255, 255, 255));
    ASSERT_EQ(device->EndScene(), D3D_OK);
    auto pixels = ReadBack();
    // Direct3D 9 pixel centres are on integer coordinates: x 10..29, y 20..24.
    EXPECT_EQ(Red(Pixel(pixels, 10, 20)), 255);
    EXPECT_EQ(Red(Pixel(pixels, 29, 24)), 255);
    EXPECT_EQ(Red(Pixel(pixels, 9, 20)), 0);
    EXPECT_EQ(Red(Pixel(pixels, 30, 20)), 0);
    EXPECT_EQ(Red(Pixel(pixels, 10, 19)), 0);
    EXPECT_EQ(Red(Pixel(pixels, 10, 25)), 0);
}
