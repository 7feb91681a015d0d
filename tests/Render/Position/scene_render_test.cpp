// Scenes loaded from module files through the resource managers and drawn
// by the render queue on the real device (headless, Mesa); the pixels read
// back show what the objects did.

#include "Render/Resources/SceneRenderFixture.h"

#include <fstream>

#include "Common/CodePage.h"
#include "Render/Position/PositionObject.h"
#include "Render/Resources/D3DXMESH9_XFILE.h"

TEST_F(SceneRenderTest, LitRedBoxInFrontOfTheClearColour)
{
    Load("  <p name=\"Box\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; RT_Origin;\" extra=\"Red\"/>\n");
    std::vector<uint32_t> pixels = Frame();
    pixels = Frame();
    const uint32_t centre = At(pixels, 80, 60);
    EXPECT_GT(Red(centre), 240);
    EXPECT_LT(Green(centre) + Blue(centre), 10);
    const uint32_t corner = At(pixels, 5, 5);
    EXPECT_EQ(Red(corner), 0);
    EXPECT_EQ(Green(corner), 255);
    // 40 units of the plane z = 0 are 40 pixels; the front face sits nearer.
    EXPECT_GT(Red(At(pixels, 80 - 18, 60)), 240);
    EXPECT_EQ(Green(At(pixels, 80 - 30, 60)), 255);
}

TEST_F(SceneRenderTest, TextureColoursLandOnTheirCornersOfTheBoxFace)
{
    Put("textures/quarters.bmp", scenetest::Bmp(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}));
    Load("  <x name=\"Quarters\" class=\"C_D3DTEXTURE9\" value=\"Quarters.bmp; 0;\"/>\n"
         "  <p name=\"Box\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; RT_Origin;\""
         " extra=\"White; Quarters\"/>\n");
    const std::vector<uint32_t> pixels = Frame();
    const uint32_t topLeft = At(pixels, 80 - 10, 60 - 10), topRight = At(pixels, 80 + 10, 60 - 10);
    const uint32_t bottomLeft = At(pixels, 80 - 10, 60 + 10), bottomRight = At(pixels, 80 + 10, 60 + 10);
    EXPECT_GT(Red(topLeft), 200);
    EXPECT_LT(Green(topLeft) + Blue(topLeft), 40);
    EXPECT_GT(Green(topRight), 200);
    EXPECT_LT(Red(topRight) + Blue(topRight), 40);
    EXPECT_GT(Blue(bottomLeft), 200);
    EXPECT_LT(Red(bottomLeft) + Green(bottomLeft), 40);
    EXPECT_GT(Red(bottomRight) + Green(bottomRight) + Blue(bottomRight), 600);
}

TEST_F(SceneRenderTest, WireframeFillLeavesTheInteriorClear)
{
    Load("  <x name=\"Wire\" class=\"C_RenderState\" value=\"D3DRS_FILLMODE; D3DFILL_WIREFRAME;\"/>\n"
         "  <p name=\"Box\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; RT_Origin;\""
         " extra=\"Wire; Red\"/>\n");
    const std::vector<uint32_t> pixels = Frame();
    // Off the face's diagonal the interior shows the clear colour ...
    EXPECT_EQ(Green(At(pixels, 80 + 8, 60 - 4)), 255);
    EXPECT_EQ(Red(At(pixels, 80 + 8, 60 - 4)), 0);
    // ... while the outline is drawn.
    int redPixels = 0;
    for (uint32_t p : pixels) redPixels += Red(p) > 200;
    EXPECT_GT(redPixels, 80);
    EXPECT_LT(redPixels, 1000);
}

TEST_F(SceneRenderTest, DirectionalLightShadingFallsOffWithTheAngle)
{
    Load("  <p name=\"Facing\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Plate; RT_Left;\" extra=\"Red\"/>\n"
         "  <p name=\"Turned\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Plate; RT_Right; RT_Turned;\""
         " extra=\"Red\"/>\n");
    const std::vector<uint32_t> pixels = Frame();
    const int facing = Red(At(pixels, 80 - 40, 60));
    const int turned = Red(At(pixels, 80 + 40, 60));
    EXPECT_GT(facing, 240);
    // Turned by 60°: cos 60° = one half of the light.
    EXPECT_NEAR(double(turned) / facing, 0.5, 0.06);
}

TEST_F(SceneRenderTest, ObjectsOutsideTheFrustumAreNotQueued)
{
    Load("  <p name=\"Inside\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; RT_Origin;\" extra=\"Red\"/>\n"
         "  <p name=\"Outside\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; RT_Outside;\""
         " extra=\"Blue\"/>\n");
    const std::vector<uint32_t> pixels = Frame();
    C_BaseObject* inside = Object(L"Inside");
    C_BaseObject* outside = Object(L"Outside");
    ASSERT_NE(outside, nullptr);
    EXPECT_NE(std::find(lastQueued.begin(), lastQueued.end(), inside), lastQueued.end());
    EXPECT_EQ(std::find(lastQueued.begin(), lastQueued.end(), outside), lastQueued.end());
    EXPECT_EQ(outside->GetStatus(), C_BaseObject::NotRender);
    EXPECT_GT(Red(At(pixels, 80, 60)), 240);
    int blue = 0;
    for (uint32_t p : pixels) blue += Blue(p) > 100;
    EXPECT_EQ(blue, 0);
}

TEST_F(SceneRenderTest, TheNearerOfTwoOverlappingObjectsCoversTheFartherAndIsPicked)
{
    for (int order = 0; order < 2; ++order) {
        const std::string nearBox =
            "  <p name=\"Near\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; RT_Origin;\" extra=\"Red\"/>\n";
        const std::string farBox =
            "  <p name=\"Far\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Big; RT_Away;\" extra=\"Blue\"/>\n";
        Managers().Clear();
        Load(order == 0 ? nearBox + farBox : farBox + nearBox);
        auto& common = C_BaseObject::CommonData();
        common.MouseX = 80;
        common.MouseY = 60;
        std::vector<uint32_t> pixels = Frame();
        pixels = Frame();
        EXPECT_GT(Red(At(pixels, 80, 60)), 240) << "order " << order;
        EXPECT_EQ(Blue(At(pixels, 80, 60)), 0) << "order " << order;
        // The farther, bigger box shows around the nearer one.
        EXPECT_GT(Blue(At(pixels, 80 - 26, 60)), 200) << "order " << order;
        EXPECT_EQ(Object(L"Near")->CursorStatus.Value, 1);
        EXPECT_EQ(Object(L"Far")->CursorStatus.Value, 0);
        common.MouseX = common.MouseY = -100;
    }
}

TEST_F(SceneRenderTest, TheDemoSceneLoadsEveryObjectAndFillsBothViews)
{
    const std::filesystem::path demo = std::filesystem::path(TW_SOURCE_DIR) / "demo";
    for (const char* folder : {"meshes", "textures"})
        std::filesystem::copy(demo / folder, dir / folder, std::filesystem::copy_options::recursive);
    std::ifstream ini(demo / "text.ini");
    for (std::string line; std::getline(ini, line);)
        if (!line.empty() && line[0] != ';' && line.find('=') != std::string::npos)
            C_D3DXSTRING::C_AllStrings::Instance().AddLine(VORTALEX::codepage::DecodeText(line));
    Put("scene.xml", ScratchFolder::Read(demo / "modules" / "Scene.xml"));
    module = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"Root", L""));
    *module << Path("scene.xml");
    int steps = 0;
    while (Managers().Load(real) && ++steps < 100) {}

    EXPECT_FALSE(Logged(L"Не создан объект класса"));
    EXPECT_FALSE(Logged(L"Попытка привязаться"));
    auto* house = dynamic_cast<C_TiedPositionObject*>(Object(L"SceneHouse"));
    ASSERT_NE(house, nullptr);
    auto* houseMesh = dynamic_cast<C_D3DXMESH9_XFILE*>(house->Mesh);
    ASSERT_NE(houseMesh, nullptr);
    ASSERT_NE(houseMesh->Mesh, nullptr);
    EXPECT_EQ(houseMesh->MaterialCount, 2u);
    ASSERT_NE(houseMesh->Textures[0], nullptr);
    EXPECT_NE(houseMesh->Textures[0]->Texture, nullptr);
    auto* chimney = dynamic_cast<C_TiedPositionObject*>(Object(L"SceneChimney"));
    ASSERT_NE(chimney, nullptr);
    EXPECT_EQ(chimney->GetParent(), house);
    for (const wchar_t* name : {L"SceneBall1", L"SceneBall5"}) {
        auto* ball = dynamic_cast<C_PositionObject*>(Object(name));
        ASSERT_NE(ball, nullptr);
        auto* mesh = dynamic_cast<C_D3DXPMESH9_XFILE*>(ball->Mesh);
        ASSERT_NE(mesh, nullptr);
        EXPECT_NE(mesh->PMesh, nullptr);
    }

    // The walking camera takes its place from its view of the frame before.
    std::vector<uint32_t> pixels = Frame();
    pixels = Frame();
    pixels = Frame();
    // Both views show something besides the empty background in their lower
    // halves (the floor at least).
    for (int x0 : {0, int(Width) / 2}) {
        int drawn = 0;
        for (int y = int(Height) * 2 / 3; y < int(Height); ++y)
            for (int x = x0; x < x0 + int(Width) / 2; ++x) drawn += (At(pixels, x, y) & 0xFFFFFF) != 0;
        EXPECT_GT(drawn, int(Width) * int(Height) / 12) << "view at " << x0;
    }
    // The far balls have less detail than the near one as the walking camera
    // sees them.
    auto* nearBall = dynamic_cast<C_PositionObject*>(Object(L"SceneBall1"));
    auto* farBall = dynamic_cast<C_PositionObject*>(Object(L"SceneBall4"));
    C_BaseObject* walker = Object(L"SceneWalk");
    C_BaseObject::CommonData().CurrentCamera = walker;
    const float nearDetail = nearBall->Mesh->CalcLevelOfDetail(nearBall);
    const float farDetail = farBall->Mesh->CalcLevelOfDetail(farBall);
    EXPECT_EQ(nearDetail, 1.0f);
    EXPECT_LT(farDetail, 0.5f);
    EXPECT_GT(farDetail, 0.01f);
}
