// Supplied programs (effects) draw with the device's states and targets and
// land the same way up as fixed-function drawing.
#include <cstring>
#include <string>

#include "device_fixture.h"

namespace {

struct ClipVertex {
    float x, y, z;
};

}  // namespace

TEST_F(DeviceTest, SuppliedProgramDrawsUprightIntoTexturesAndTheBackBuffer) {
    const std::string vs = std::string("#version 330 core\n") + PortVertexEpilogueGLSL() +
                           "in vec3 a_position;\n"
                           "void main() { gl_Position = PortFinishPosition(vec4(a_position, 1.0)); }\n";
    const std::string fs = "#version 330 core\nuniform vec4 u_colour;\nout vec4 o;\nvoid main() { o = vec4(1.0, 0.5, 0.0, 1.0); }\n";
    std::string log;
    const unsigned program = PortDeviceLinkProgram(device, vs, fs, log);
    ASSERT_NE(program, 0u) << log;
    std::string badLog;
    EXPECT_EQ(PortDeviceLinkProgram(device, "#version 330 core\nvoid main() { nonsense; }\n", fs, badLog), 0u);
    EXPECT_FALSE(badLog.empty());

    // The upper half of clip space.
    ClipVertex quad[4] = {{-1, 1, 0.5f}, {1, 1, 0.5f}, {-1, 0, 0.5f}, {1, 0, 0.5f}};
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZ), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), D3D_OK);
    PortDeviceSetProgram(device, program);

    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ClipVertex)), D3D_OK);
    auto screen = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(screen, 10, 10), 255, 128, 0, 1);
    EXPECT_NEAR_COLOR(Pixel(screen, 10, kHeight - 10), 0, 0, 0, 0);

    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
    ASSERT_EQ(device->SetRenderTarget(0, surface), D3D_OK);
    ASSERT_EQ(device->SetDepthStencilSurface(nullptr), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ClipVertex)), D3D_OK);
    auto pixels = ReadTarget(device, surface, 32, 32);
    ASSERT_EQ(pixels.size(), 32u * 32u);
    EXPECT_NEAR_COLOR(pixels[2 * 32 + 2], 255, 128, 0, 1);   // row 2: top
    EXPECT_NEAR_COLOR(pixels[29 * 32 + 2], 0, 0, 0, 0);      // row 29: bottom

    PortDeviceSetProgram(device, 0);
    PortDeviceDeleteProgram(device, program);
    surface->Release();
    texture->Release();
}
