// Point sizes and sprites of the fixed-function pipeline measured in pixels
// against Direct3D's formulas, and dynamic vertex buffers filled in batches
// with discard and no-overwrite locks.
#include <algorithm>
#include <cstring>

#include "device_fixture.h"

namespace {

DWORD F2D(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

struct EyeVertex {  // D3DFVF_XYZ | D3DFVF_DIFFUSE
    float x, y, z;
    D3DCOLOR color;
};
constexpr DWORD kEyeFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

// The box around every pixel whose red channel is lit.
struct Extent {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int Width() const { return right < left ? 0 : right - left + 1; }
    int Height() const { return bottom < top ? 0 : bottom - top + 1; }
};

}  // namespace

class PointTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        // Camera at the origin looking along +Z; points are given in eye space.
        const D3DMATRIX id = IdentityMatrix();
        const D3DMATRIX proj = PerspectiveFovLH(1.2f, float(kWidth) / float(kHeight), 0.5f, 500.0f);
        device->SetTransform(D3DTS_WORLD, &id);
        device->SetTransform(D3DTS_VIEW, &id);
        device->SetTransform(D3DTS_PROJECTION, &proj);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device->SetFVF(kEyeFvf);
    }

    void Scale(float a, float b, float c) {
        ASSERT_EQ(device->SetRenderState(D3DRS_POINTSCALEENABLE, TRUE), D3D_OK);
        device->SetRenderState(D3DRS_POINTSCALE_A, F2D(a));
        device->SetRenderState(D3DRS_POINTSCALE_B, F2D(b));
        device->SetRenderState(D3DRS_POINTSCALE_C, F2D(c));
    }

    // Draws one white point at an eye-space position on a cleared target
    // and measures it.
    Extent Point(float x, float y, float z) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        EyeVertex v{x, y, z, 0xFFFFFFFF};
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &v, sizeof v), D3D_OK);
        return Measure(ReadBack(), 0, kWidth);
    }

    Extent Measure(const std::vector<uint32_t>& pixels, UINT fromX, UINT toX) {
        Extent e;
        for (UINT y = 0; y < kHeight; ++y)
            for (UINT x = fromX; x < toX; ++x)
                if (Red(Pixel(pixels, x, y)) > 128) {
                    e.left = std::min(e.left, int(x));
                    e.right = std::max(e.right, int(x));
                    e.top = std::min(e.top, int(y));
                    e.bottom = std::max(e.bottom, int(y));
                }
        return e;
    }
};

TEST_F(PointTest, ScaledSizeFollowsTheDistanceFormulaTimesTheViewportHeight) {
    // Ss = Vh * Si * sqrt(1 / (A + B * De + C * De^2)), Vh = 120.
    device->SetRenderState(D3DRS_POINTSIZE, F2D(1.0f));
    Scale(0.0f, 0.0f, 1.0f);
    Extent e = Point(0, 0, 10);   // 120 / 10
    EXPECT_NEAR(e.Width(), 12, 1);
    EXPECT_NEAR(e.Height(), 12, 1);
    e = Point(0, 0, 20);
    EXPECT_NEAR(e.Width(), 6, 1);
    // De is the whole eye-space distance, not the depth alone.
    e = Point(6, 0, 8);
    EXPECT_NEAR(e.Width(), 12, 1);

    Scale(0.0f, 1.0f, 0.0f);      // 120 / sqrt(16)
    e = Point(0, 0, 16);
    EXPECT_NEAR(e.Width(), 30, 1);

    // A = 1 alone: the size no longer depends on the distance.
    Scale(1.0f, 0.0f, 0.0f);
    device->SetRenderState(D3DRS_POINTSIZE, F2D(0.1f));
    EXPECT_NEAR(Point(0, 0, 5).Width(), 12, 1);
    EXPECT_NEAR(Point(0, 0, 40).Width(), 12, 1);

    // Without scaling the size is in pixels.
    device->SetRenderState(D3DRS_POINTSCALEENABLE, FALSE);
    device->SetRenderState(D3DRS_POINTSIZE, F2D(7.0f));
    EXPECT_NEAR(Point(0, 0, 5).Width(), 7, 1);
    EXPECT_NEAR(Point(0, 0, 50).Width(), 7, 1);
}

TEST_F(PointTest, SizesAreClampedToTheMinimumAndTheMaximum) {
    Scale(0.0f, 0.0f, 1.0f);
    device->SetRenderState(D3DRS_POINTSIZE, F2D(1.0f));
    device->SetRenderState(D3DRS_POINTSIZE_MIN, F2D(6.0f));
    EXPECT_NEAR(Point(0, 0, 100).Width(), 6, 1);     // 1.2 computed
    device->SetRenderState(D3DRS_POINTSIZE_MIN, F2D(1.0f));
    device->SetRenderState(D3DRS_POINTSIZE_MAX, F2D(16.0f));
    EXPECT_NEAR(Point(0, 0, 2).Width(), 16, 1);      // 60 computed
    // The limits hold for unscaled points too.
    device->SetRenderState(D3DRS_POINTSCALEENABLE, FALSE);
    device->SetRenderState(D3DRS_POINTSIZE, F2D(40.0f));
    EXPECT_NEAR(Point(0, 0, 10).Width(), 16, 1);
    device->SetRenderState(D3DRS_POINTSIZE, F2D(2.0f));
    device->SetRenderState(D3DRS_POINTSIZE_MIN, F2D(5.0f));
    EXPECT_NEAR(Point(0, 0, 10).Width(), 5, 1);
}

TEST_F(PointTest, PreTransformedPointsKeepTheirPixelSize) {
    Scale(0.0f, 0.0f, 1.0f);
    device->SetRenderState(D3DRS_POINTSIZE, F2D(8.0f));
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ScreenVertex v{80, 60, 0.5f, 0.01f, 0xFFFFFFFF};   // rhw 0.01: "far away"
    ASSERT_EQ(device->SetFVF(kScreenFvf), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &v, sizeof v), D3D_OK);
    const Extent e = Measure(ReadBack(), 0, kWidth);
    EXPECT_EQ(e.Width(), 8);
    EXPECT_EQ(e.Height(), 8);
}

TEST_F(PointTest, NearerSpritesAreLargerWithScalingAndTheirTextureSpansThem) {
    // Left column of the texture red, right column green.
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int row = 0; row < 2; ++row) {
        auto* texels = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + row * locked.Pitch);
        texels[0] = 0x00FF0000;
        texels[1] = 0x0000FF00;
    }
    texture->UnlockRect(0);
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_POINTSIZE, F2D(2.0f));
    Scale(0.0f, 0.0f, 1.0f);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    // The near one left of centre, the far one right of it.
    const EyeVertex points[2] = {{-4, 0, 10, 0xFFFFFFFF}, {8, 0, 40, 0xFFFFFFFF}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 2, points, sizeof(EyeVertex)), D3D_OK);
    const auto pixels = ReadBack();
    // Red marks each sprite's left half: twice the red run is its width.
    const Extent nearSprite = Measure(pixels, 0, kWidth / 2), farSprite = Measure(pixels, kWidth / 2, kWidth);
    EXPECT_NEAR(nearSprite.Height(), 24, 1);   // 120 * 2 / 10
    EXPECT_NEAR(farSprite.Height(), 6, 1);     // 120 * 2 / 40
    EXPECT_NEAR(nearSprite.Width(), 12, 1);
    const int middleRow = (nearSprite.top + nearSprite.bottom) / 2;
    EXPECT_NEAR_COLOR(Pixel(pixels, nearSprite.left + 2, middleRow), 255, 0, 0, 0);
    EXPECT_NEAR_COLOR(Pixel(pixels, nearSprite.right + 3, middleRow), 0, 255, 0, 0);
    device->SetTexture(0, nullptr);
    texture->Release();
}

TEST_F(PointTest, WithoutSpritesThePointTakesItsVertexTextureCoordinate) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    auto* top = static_cast<uint32_t*>(locked.pBits);
    auto* bottom = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + locked.Pitch);
    top[0] = top[1] = 0x00FF0000;
    bottom[0] = bottom[1] = 0x000000FF;
    texture->UnlockRect(0);
    device->SetTexture(0, texture);
    struct V {
        float x, y, z, rhw;
        D3DCOLOR c;
        float u, v;
    } point{40, 40, 0.5f, 1, 0xFFFFFFFF, 0.5f, 0.75f};
    device->SetRenderState(D3DRS_POINTSIZE, F2D(10.0f));
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &point, sizeof point), D3D_OK);
    const auto pixels = ReadBack();
    for (UINT y = 36; y < 44; ++y)
        for (UINT x = 36; x < 44; ++x) EXPECT_NEAR_COLOR(Pixel(pixels, x, y), 0, 0, 255, 0);
    device->SetTexture(0, nullptr);
    texture->Release();
}

TEST_F(PointTest, SpriteRowsKeepTheirOrderInARenderTargetTexture) {
    IDirect3DTexture9* picture = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &picture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(picture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    auto* top = static_cast<uint32_t*>(locked.pBits);
    auto* bottom = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + locked.Pitch);
    top[0] = top[1] = 0x00FF0000;
    bottom[0] = bottom[1] = 0x0000FF00;
    picture->UnlockRect(0);

    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
              D3D_OK);
    IDirect3DSurface9 *surface = nullptr, *backBuffer = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &surface), D3D_OK);
    ASSERT_EQ(device->GetRenderTarget(0, &backBuffer), D3D_OK);
    ASSERT_EQ(device->SetRenderTarget(0, surface), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    device->SetTexture(0, picture);
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_POINTSIZE, F2D(16.0f));
    ScreenVertex sprite{32, 32, 0.5f, 1, 0xFFFFFFFF};
    ASSERT_EQ(device->SetFVF(kScreenFvf), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &sprite, sizeof sprite), D3D_OK);
    const std::vector<uint32_t> pixels = ReadTarget(device, surface, 64, 64);
    ASSERT_EQ(pixels.size(), 64u * 64u);
    EXPECT_NEAR_COLOR(pixels[27 * 64 + 32], 255, 0, 0, 0);   // upper half: the texture's top row
    EXPECT_NEAR_COLOR(pixels[37 * 64 + 32], 0, 255, 0, 0);
    device->SetRenderTarget(0, backBuffer);
    device->SetTexture(0, nullptr);
    backBuffer->Release();
    surface->Release();
    target->Release();
    picture->Release();
}

// 2048 points in four batches of 512, as a particle system writes them: the
// first lock of the buffer discards, the following ones append without
// overwriting what earlier draws still read. Only the locked ranges travel.
TEST_F(PointTest, BatchesOfADynamicBufferSendOnlyTheirOwnRange) {
    constexpr UINT kCount = 2048, kFlush = 512;
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(kCount * sizeof(ScreenVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY | D3DUSAGE_POINTS,
                                         kScreenFvf, D3DPOOL_DEFAULT, &buffer, nullptr),
              D3D_OK);
    device->SetFVF(kScreenFvf);
    device->SetStreamSource(0, buffer, 0, sizeof(ScreenVertex));
    device->SetRenderState(D3DRS_POINTSIZE, F2D(1.0f));
    const D3DCOLOR colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
    // Point i sits at (i % 64 * 2 + 8, i / 64 * 2 + 20): one pixel each.
    auto fill = [&](UINT base, UINT count, D3DCOLOR colour, DWORD flags) {
        void* data = nullptr;
        ASSERT_EQ(buffer->Lock(base * sizeof(ScreenVertex), count * sizeof(ScreenVertex), &data, flags), D3D_OK);
        auto* v = static_cast<ScreenVertex*>(data);
        for (UINT i = 0; i < count; ++i) {
            const UINT n = base + i;
            v[i] = {float(n % 64 * 2 + 8), float(n / 64 * 2 + 20), 0.5f, 1.0f, colour};
        }
        ASSERT_EQ(buffer->Unlock(), D3D_OK);
        ASSERT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, base, count), D3D_OK);
    };
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    uint64_t uploadsBefore = 0, bytesBefore = 0, uploads = 0, bytes = 0;
    PortDeviceBufferUploads(device, uploadsBefore, bytesBefore);
    for (UINT batch = 0; batch < kCount / kFlush; ++batch)
        fill(batch * kFlush, kFlush, colours[batch], batch == 0 ? D3DLOCK_DISCARD : D3DLOCK_NOOVERWRITE);
    PortDeviceBufferUploads(device, uploads, bytes);
    EXPECT_EQ(uploads - uploadsBefore, 4u);
    EXPECT_EQ(bytes - bytesBefore, uint64_t(kCount) * sizeof(ScreenVertex));
    auto pixels = ReadBack();
    for (UINT n = 0; n < kCount; n += 37) {
        const uint32_t expected = colours[n / kFlush];
        EXPECT_EQ(Pixel(pixels, n % 64 * 2 + 8, n / 64 * 2 + 20) & 0xFFFFFF, expected & 0xFFFFFF) << "point " << n;
    }

    // The next frame starts the buffer over with discard; a short batch
    // sends just its points.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    PortDeviceBufferUploads(device, uploadsBefore, bytesBefore);
    fill(0, 100, 0xFFFFFFFF, D3DLOCK_DISCARD);
    PortDeviceBufferUploads(device, uploads, bytes);
    EXPECT_EQ(bytes - bytesBefore, 100u * sizeof(ScreenVertex));
    pixels = ReadBack();
    EXPECT_EQ(Pixel(pixels, 99 % 64 * 2 + 8, 99 / 64 * 2 + 20) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(Pixel(pixels, 100 % 64 * 2 + 8, 100 / 64 * 2 + 20) & 0xFFFFFF, 0u);
    buffer->Release();
}
