// Draws that differ only in their world transform are merged into instanced
// draws. Every scene here is drawn twice, merged and one draw at a time, and
// must come out the same to the last pixel and occlusion sample, while the
// merged run makes fewer OpenGL draw calls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "box.h"
#include "device_fixture.h"
#include "port/d3d9/ffp.h"

namespace {

D3DMATRIX Translation(float x, float y, float z) {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    m._41 = x;
    m._42 = y;
    m._43 = z;
    return m;
}

// A turn about Y, so that every box shows two lit faces.
D3DMATRIX Placed(float x, float y, float z, float angle) {
    D3DMATRIX m = Translation(x, y, z);
    m._11 = std::cos(angle);
    m._13 = -std::sin(angle);
    m._31 = std::sin(angle);
    m._33 = std::cos(angle);
    return m;
}

D3DMATERIAL9 Material(float r, float g, float b, float a) {
    D3DMATERIAL9 m{};
    m.Diffuse = {r, g, b, a};
    m.Ambient = {r * 0.3f, g * 0.3f, b * 0.3f, a};
    return m;
}

struct Frame {
    std::vector<uint32_t> pixels;
    std::vector<DWORD> samples;  // occlusion query results
    uint64_t asked = 0, gl = 0;  // draw calls during the frame
};

class BatchingTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        const D3DCOLOR white[6] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        ASSERT_TRUE(BindBox(device, 0.5f, white, &vb, &ib));
        ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        FillTexture(0xFFFF8020, 0xFF2040FF);
    }

    void FillTexture(uint32_t odd, uint32_t even) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                static_cast<uint32_t*>(locked.pBits)[y * locked.Pitch / 4 + x] = ((x + y) & 1) ? odd : even;
        texture->UnlockRect(0);
    }

    // Scales the box's vertices in X and Y, in place.
    void ScaleBox(float scale) {
        void* data = nullptr;
        ASSERT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
        auto* vertices = static_cast<BoxVertex*>(data);
        for (int v = 0; v < 24; ++v) {
            vertices[v].x = vertices[v].x < 0 ? -0.5f * scale : 0.5f * scale;
            vertices[v].y = vertices[v].y < 0 ? -0.5f * scale : 0.5f * scale;
        }
        vb->Unlock();
    }
    void TearDown() override {
        if (texture) texture->Release();
        if (vb) vb->Release();
        if (ib) ib->Release();
        DeviceTest::TearDown();
    }

    void Camera() {
        const D3DMATRIX view = Translation(0.0f, 0.0f, 12.0f);
        const D3DMATRIX proj = PerspectiveFovLH(0.8f, static_cast<float>(kWidth) / kHeight, 1.0f, 50.0f);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &proj);
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
        light.Direction = {0.3f, -0.4f, 0.85f};
        device->SetLight(0, &light);
        device->LightEnable(0, TRUE);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_AMBIENT, 0xFF303030);
        device->SetRenderState(D3DRS_COLORVERTEX, FALSE);
    }

    // The box at grid cell `i` (8 across), drawn indexed.
    void Box(int i, float z = 0.0f) {
        const D3DMATRIX world = Placed(-5.25f + 1.5f * (i % 8), 3.0f - 1.5f * (i / 8), z, 0.4f + 0.1f * i);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetStreamSource(0, vb, 0, sizeof(BoxVertex));
        device->SetIndices(ib);
        device->SetFVF(kBoxFvf);
        ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 24, 0, 12), D3D_OK);
    }

    // Draws a scene both ways and hands back both frames.
    void Both(const std::function<void(Frame&)>& scene, Frame& merged, Frame& single) {
        for (Frame* frame : {&merged, &single}) {
            PortDeviceSetBatching(device, frame == &merged);
            uint64_t asked = 0, triangles = 0;
            PortDeviceCounters(device, asked, triangles);
            const uint64_t gl = PortDeviceGLDrawCalls(device);
            ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF102030, 1.0f, 0),
                      D3D_OK);
            ASSERT_EQ(device->BeginScene(), D3D_OK);
            Camera();
            scene(*frame);
            ASSERT_EQ(device->EndScene(), D3D_OK);
            frame->pixels = ReadBack();
            uint64_t askedAfter = 0;
            PortDeviceCounters(device, askedAfter, triangles);
            frame->asked = askedAfter - asked;
            frame->gl = PortDeviceGLDrawCalls(device) - gl;
        }
        PortDeviceSetBatching(device, true);
    }

    static size_t Differences(const Frame& a, const Frame& b) {
        size_t n = 0;
        for (size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i) n += a.pixels[i] != b.pixels[i];
        return n + (a.pixels.size() != b.pixels.size() ? 1 : 0);
    }

    DWORD Occlusion(IDirect3DQuery9* query) {
        DWORD samples = 0;
        while (query->GetData(&samples, sizeof(samples), D3DGETDATA_FLUSH) == S_FALSE) {
        }
        return samples;
    }

    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    IDirect3DTexture9* texture = nullptr;
};

}  // namespace

TEST_F(BatchingTest, MixedMaterialsTexturesBlendingAndAQueryDrawTheSameMergedOrNot) {
    IDirect3DQuery9* query = nullptr;
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_OCCLUSION, &query), D3D_OK);
    const D3DMATERIAL9 red = Material(1.0f, 0.2f, 0.2f, 1.0f), green = Material(0.2f, 1.0f, 0.3f, 1.0f),
                       glass = Material(0.3f, 0.5f, 1.0f, 0.5f);
    Frame merged, single;
    Both(
        [&](Frame& frame) {
            device->SetMaterial(&red);
            for (int i = 0; i < 10; ++i) Box(i);
            device->SetMaterial(&green);
            for (int i = 10; i < 16; ++i) Box(i);
            device->SetTexture(0, texture);
            for (int i = 16; i < 22; ++i) Box(i);
            device->SetTexture(0, nullptr);
            // Half-transparent boxes in front of the others, blended in order.
            device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
            device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
            device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
            device->SetMaterial(&glass);
            for (int i = 2; i < 14; i += 3) Box(i, -1.0f);
            device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
            // A query between draws counts exactly the boxes inside it.
            device->SetMaterial(&red);
            ASSERT_EQ(query->Issue(D3DISSUE_BEGIN), D3D_OK);
            for (int i = 22; i < 26; ++i) Box(i, 0.5f);
            ASSERT_EQ(query->Issue(D3DISSUE_END), D3D_OK);
            for (int i = 26; i < 32; ++i) Box(i);
            frame.samples.push_back(Occlusion(query));
        },
        merged, single);
    query->Release();

    EXPECT_EQ(Differences(merged, single), 0u);
    EXPECT_EQ(merged.samples, single.samples);
    EXPECT_GT(merged.samples[0], 0u);
    EXPECT_EQ(merged.asked, 36u);
    EXPECT_EQ(single.gl, 36u);
    // Red, green, textured, glass, red inside the query, red after it.
    EXPECT_EQ(merged.gl, 6u);
    // The picture is not empty: the boxes are lit and the glass blends.
    const uint32_t background = 0xFF102030;
    size_t covered = 0;
    for (uint32_t p : merged.pixels) covered += p != background;
    EXPECT_GT(covered, merged.pixels.size() / 5);
}

TEST_F(BatchingTest, DataChangedBetweenDrawsReachesOnlyTheLaterDraws) {
    const D3DMATERIAL9 white = Material(1.0f, 1.0f, 1.0f, 1.0f);
    Frame merged, single;
    Both(
        [&](Frame&) {
            FillTexture(0xFFFF8020, 0xFF2040FF);
            ScaleBox(1.0f);
            device->SetMaterial(&white);
            device->SetTexture(0, texture);
            for (int i = 0; i < 8; ++i) Box(i);
            // New texels and a vertex buffer rewritten in place: the boxes
            // drawn before keep what they were drawn with.
            FillTexture(0xFF00FF00, 0xFF00FF00);
            for (int i = 8; i < 16; ++i) Box(i);
            ScaleBox(0.5f);
            for (int i = 16; i < 24; ++i) Box(i);
            // A read-back in the middle of the scene sees every box so far.
            std::vector<uint32_t> middle = ReadBack();
            size_t covered = 0;
            for (uint32_t p : middle) covered += p != 0xFF102030;
            EXPECT_GT(covered, middle.size() / 6);
        },
        merged, single);
    // Clears, the texture fills and the buffer rewrite are the same in both
    // runs; the draws between them are merged.
    EXPECT_EQ(Differences(merged, single), 0u);
    EXPECT_EQ(merged.gl, 3u);
    EXPECT_EQ(single.gl, 24u);
    ScaleBox(1.0f);
}

// Objects set their camera, light, material, target and scissor again and
// again; what is set to the value it has already changes nothing, so those
// draws still merge, while a real change between them still shows.
TEST_F(BatchingTest, StatesSetAgainUnchangedKeepAMergedDraw) {
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &back), D3D_OK);
    const D3DMATERIAL9 white = Material(1.0f, 1.0f, 1.0f, 1.0f), red = Material(1.0f, 0.1f, 0.1f, 1.0f);
    const RECT whole{0, 0, static_cast<LONG>(kWidth), static_cast<LONG>(kHeight)};
    D3DLIGHT9 light{};
    Frame merged, single;
    Both(
        [&](Frame&) {
            device->GetLight(0, &light);
            D3DVIEWPORT9 viewport{};
            device->GetViewport(&viewport);
            for (int i = 0; i < 12; ++i) {
                device->SetRenderTarget(0, back);
                device->SetViewport(&viewport);
                device->SetScissorRect(&whole);
                Camera();
                device->SetLight(0, &light);
                device->SetMaterial(&white);
                device->SetTexture(0, nullptr);
                Box(i);
            }
            // A narrower scissor, then the same again: one new run.
            const RECT part{0, 0, static_cast<LONG>(kWidth) / 2, static_cast<LONG>(kHeight)};
            device->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
            for (int i = 12; i < 18; ++i) {
                device->SetScissorRect(&part);
                Box(i);
            }
            device->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
            device->SetScissorRect(&whole);
            // A changed light colour between boxes is a new run too.
            for (int i = 18; i < 24; ++i) {
                light.Diffuse.r = i < 21 ? 1.0f : 0.2f;
                device->SetLight(0, &light);
                device->SetMaterial(&red);
                Box(i);
            }
        },
        merged, single);
    back->Release();
    EXPECT_EQ(Differences(merged, single), 0u);
    EXPECT_EQ(merged.asked, 24u);
    EXPECT_EQ(single.gl, 24u);
    // The first twelve, the scissored six, then red under each light colour.
    EXPECT_EQ(merged.gl, 4u);
}

TEST_F(BatchingTest, TargetsClearsAndSuppliedProgramsEndAMergedDraw) {
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
              D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &surface), D3D_OK);
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &back), D3D_OK);
    IDirect3DSurface9* depth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&depth), D3D_OK);
    std::string log;
    const unsigned flat = PortDeviceLinkProgram(device,
                                                std::string("#version 330 core\n") + PortVertexEpilogueGLSL() +
                                                    "layout(location = 0) in vec3 a_position;\n"
                                                    "void main() { gl_Position = PortFinishPosition(vec4(a_position.xy * 0.2, 0.5, 1.0)); }\n",
                                                "#version 330 core\nout vec4 o;\nvoid main() { o = vec4(1.0, 1.0, 0.0, 1.0); }\n",
                                                log);
    ASSERT_NE(flat, 0u) << log;
    const D3DMATERIAL9 white = Material(1.0f, 1.0f, 1.0f, 1.0f);
    std::vector<uint32_t> targetPixels[2];
    Frame merged, single;
    Both(
        [&](Frame& frame) {
            device->SetMaterial(&white);
            for (int i = 0; i < 6; ++i) Box(i);
            // Into a texture and back: the viewport and target change.
            device->SetRenderTarget(0, surface);
            device->SetDepthStencilSurface(nullptr);
            device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
            for (int i = 6; i < 12; ++i) Box(i);
            device->SetRenderTarget(0, back);
            device->SetDepthStencilSurface(depth);
            for (int i = 12; i < 18; ++i) Box(i);
            // A clear of part of the screen between boxes.
            const D3DRECT band{0, 50, static_cast<LONG>(kWidth), 60};
            device->Clear(1, &band, D3DCLEAR_TARGET, 0xFFFF00FF, 1.0f, 0);
            for (int i = 18; i < 24; ++i) Box(i);
            // A supplied program in the middle.
            PortDeviceSetProgram(device, flat);
            Box(30);
            PortDeviceSetProgram(device, 0);
            for (int i = 24; i < 30; ++i) Box(i);
            targetPixels[&frame == &merged ? 0 : 1] = ReadTarget(device, surface, 64, 64);
        },
        merged, single);
    EXPECT_EQ(Differences(merged, single), 0u);
    EXPECT_EQ(targetPixels[0], targetPixels[1]);
    EXPECT_EQ(single.gl, 31u);
    EXPECT_EQ(merged.gl, 6u);   // five runs of boxes and the supplied program's draw
    PortDeviceDeleteProgram(device, flat);
    depth->Release();
    back->Release();
    surface->Release();
    target->Release();
}

TEST_F(BatchingTest, ManyDrawsGoOutInBoundedChunks) {
    const D3DMATERIAL9 white = Material(1.0f, 1.0f, 1.0f, 1.0f);
    const int draws = 3 * PortInstanceCapacity() + 7;
    Frame merged, single;
    Both(
        [&](Frame&) {
            device->SetMaterial(&white);
            for (int i = 0; i < draws; ++i) Box(i % 48, 0.001f * i);
        },
        merged, single);
    EXPECT_EQ(Differences(merged, single), 0u);
    EXPECT_EQ(merged.asked, static_cast<uint64_t>(draws));
    EXPECT_EQ(merged.gl, 4u);
    EXPECT_EQ(single.gl, static_cast<uint64_t>(draws));
}

TEST_F(BatchingTest, ALostDeviceDropsNothingThatWasDrawnBefore) {
    const D3DMATERIAL9 white = Material(1.0f, 1.0f, 1.0f, 1.0f);
    std::vector<uint32_t> shown[2];
    for (int run = 0; run < 2; ++run) {
        PortDeviceSetBatching(device, run == 0);
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0), D3D_OK);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        Camera();
        device->SetMaterial(&white);
        for (int i = 0; i < 5; ++i) Box(i);
        // Lost in the middle of the scene: the draws after it are dropped.
        PortDeviceForceLoss(device);
        for (int i = 5; i < 10; ++i) Box(i);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        shown[run] = ReadBack();
        EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
        EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
        EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
        D3DPRESENT_PARAMETERS p = DefaultParams();
        ASSERT_EQ(device->Reset(&p), D3D_OK);
        ASSERT_EQ(device->SetStreamSource(0, vb, 0, sizeof(BoxVertex)), D3D_OK);
    }
    PortDeviceSetBatching(device, true);
    EXPECT_EQ(shown[0], shown[1]);
}
