// The render queue's occlusion pre-pass on the real device, and surfaces,
// effects and the pre-pass across a lost and reset device.

#include "Render/Targets/TargetsFixture.h"

namespace {

// A wide white wall near the camera, a box in front of it, one hidden
// behind it and one peeking out at its right edge.
const std::string kWallScene =
    "  <p name=\"Wall\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; TG_Wall; TG_Front;\""
    " extra=\"White; NoTexture\"/>\n"
    "  <p name=\"Nearest\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; TG_Small; TG_Nearest;\""
    " extra=\"Red; NoTexture\"/>\n"
    "  <p name=\"Hidden\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; RT_Away;\""
    " extra=\"Red; NoTexture\"/>\n"
    "  <p name=\"Peek\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; TG_Peek;\""
    " extra=\"Red; NoTexture\"/>\n";

} // namespace

TEST_F(TargetsTest, TheOcclusionPassSkipsHiddenObjectsAndLeavesThePictureAsItWas)
{
    Load(kWallScene);
    EXPECT_EQ(C_QueueRendering::Instance().OcclusionSurface, nullptr);
    Frame();
    const std::vector<uint32_t> without = Frame();
    EXPECT_TRUE(Queued(L"Hidden"));
    C_QueueRendering::Instance().Unload();
    Managers().Clear();

    SetOcclusionCulling(true);
    Load(kWallScene);
    auto* surface = dynamic_cast<C_Surface9*>(C_QueueRendering::Instance().OcclusionSurface);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->Name, L"OcclusionSurface");
    EXPECT_EQ(surface->Value, L"320; 240;");
    ASSERT_NE(surface->OcclusionQuery, nullptr);
    Frame();
    const std::vector<uint32_t> with = Frame();
    EXPECT_FALSE(Queued(L"Hidden")) << "dropped by the pre-pass";
    for (const wchar_t* name : {L"Wall", L"Nearest", L"Peek", L"Sun"}) EXPECT_TRUE(Queued(name)) << name;
    // The picture: the wall, the red box before it, the edge of the box
    // behind it at the right, the background at the left.
    EXPECT_TRUE(IsRed(At(with, 80, 60)));
    EXPECT_TRUE(IsRed(At(with, 155, 60)));
    EXPECT_TRUE(IsGreen(At(with, 3, 60)));
    EXPECT_GT(Red(At(with, 50, 60)) + Green(At(with, 50, 60)) + Blue(At(with, 50, 60)), 600) << "the wall";
    int differing = 0;
    for (std::size_t i = 0; i < with.size(); ++i) differing += with[i] != without[i];
    EXPECT_EQ(differing, 0);
}

TEST_F(TargetsTest, WithoutQueriesOrWithASurfaceThatFailedEveryObjectIsDrawn)
{
    SetOcclusionCulling(true);
    PortDeviceSetOcclusionQueries(real, false);
    Load(kWallScene);
    auto* surface = dynamic_cast<C_Surface9*>(C_QueueRendering::Instance().OcclusionSurface);
    ASSERT_NE(surface, nullptr);
    EXPECT_NE(surface->RenderToSurface, nullptr);
    EXPECT_EQ(surface->OcclusionQuery, nullptr) << "the device has none";
    Frame();
    EXPECT_TRUE(Queued(L"Hidden"));
    C_QueueRendering::Instance().Unload();
    Managers().Clear();
    PortDeviceSetOcclusionQueries(real, true);

    // An absurd screen height makes a surface no texture can back.
    auto& common = C_BaseObject::CommonData();
    common.ScreenHeight = 2000000;
    Load(kWallScene);
    common.ScreenHeight = Height;
    surface = dynamic_cast<C_Surface9*>(C_QueueRendering::Instance().OcclusionSurface);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->RenderToSurface, nullptr);
    EXPECT_TRUE(Logged(L"Текстура не загружена"));
    const std::vector<uint32_t> pixels = Frame();
    EXPECT_TRUE(Queued(L"Hidden"));
    EXPECT_TRUE(IsRed(At(pixels, 80, 60)));

    // A script deleting the surface turns the pass off as well.
    C_QueueRendering::Instance().Unload();
    Managers().Clear();
    Load(kWallScene);
    ASSERT_NE(C_QueueRendering::Instance().OcclusionSurface, nullptr);
    C_BaseObject::DeleteObject(C_BaseObject::ToID(C_QueueRendering::Instance().OcclusionSurface));
    Frame();
    EXPECT_EQ(C_QueueRendering::Instance().OcclusionSurface, nullptr);
    EXPECT_TRUE(Queued(L"Hidden"));
}

TEST_F(TargetsTest, SurfacesEffectsAndThePrePassComeBackAfterADeviceReset)
{
    auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
    for (const wchar_t* line : {L"TG_Shield = 30; 30; 2;", L"TG_ShieldAt = 40; 0; -60;", L"TG_HiddenAt = 60; 0; 50;"})
        texts.AddLine(line);
    Put("effects/tint.fx", "parameter mat4 MatrixWorld;\nparameter mat4 MatrixView;\nparameter mat4 MatrixProjection;\n"
                           "parameter float CurrentTime;\n"
                           "technique Tint {\n  pass P {\n"
                           "    vertex <<< void main() { gl_Position = PortFinishPosition(MatrixProjection * "
                           "MatrixView * MatrixWorld * vec4(a_position.xyz, 1.0)); } >>>\n"
                           "    fragment <<< out vec4 c; void main() { c = vec4(fract(CurrentTime), 1.0, 1.0, 1.0); } >>>\n"
                           "  }\n}\n");
    SetOcclusionCulling(true);
    LoadScene(TargetScene(
        "  <x name=\"Surf\" class=\"C_Surface9\" value=\"64; 64;\"/>\n"
        "  <x name=\"Begin\" class=\"C_SurfaceBegin\" value=\"Surf\"/>\n"
        "  <x name=\"End\" class=\"C_SurfaceEnd\" value=\"Surf\"/>\n"
        "  <e name=\"Fx\" class=\"C_D3DXEFFECT\" value=\"tint.fx\"/>\n"
        "  <p name=\"Screen\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Plate; RT_Left;\""
        " extra=\"White; Surf\"/>\n"
        "  <p name=\"FxBox\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; TG_Small; RT_Origin;\""
        " extra=\"Red; NoTexture\" effect=\"Fx; 1000; Tint\"/>\n"
        "  <p name=\"Shield\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; TG_Shield; TG_ShieldAt;\""
        " extra=\"White; NoTexture\"/>\n"
        "  <p name=\"Hidden\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; TG_Small; TG_HiddenAt;\""
        " extra=\"Red; NoTexture\"/>\n",
        "Begin; CapCam; RedBox; End"));
    NextFrameAt(2250);
    const std::vector<uint32_t> before = Frame();
    EXPECT_FALSE(Queued(L"Hidden"));
    EXPECT_TRUE(IsRed(At(before, 40, 60))) << "the capture on the plate";
    EXPECT_NEAR(Red(At(before, 80, 60)), 64, 2) << "the effect at 2.25 s";
    EXPECT_EQ(Blue(At(before, 80, 60)), 255);

    ASSERT_EQ(LoseAndResetDevice(), D3D_OK) << "every video-memory object was let go before Reset";
    auto* surface = dynamic_cast<C_Surface9*>(Managers().GetResource(L"Surf", L"C_Surface9", false));
    ASSERT_NE(surface, nullptr);
    EXPECT_NE(surface->RenderToSurface, nullptr);
    auto* occlusion = dynamic_cast<C_Surface9*>(C_QueueRendering::Instance().OcclusionSurface);
    ASSERT_NE(occlusion, nullptr) << "the pre-pass is on again";
    EXPECT_NE(occlusion->OcclusionQuery, nullptr);
    auto* effect = dynamic_cast<C_D3DXEFFECT*>(Managers().GetResource(L"Fx", L"C_D3DXEFFECT", false));
    ASSERT_NE(effect, nullptr);
    EXPECT_NE(effect->D3DXEffect, nullptr);

    NextFrameAt(2250);
    const std::vector<uint32_t> after = Frame();
    EXPECT_FALSE(Queued(L"Hidden"));
    int differing = 0;
    for (std::size_t i = 0; i < after.size(); ++i) differing += after[i] != before[i];
    EXPECT_EQ(differing, 0);
}
