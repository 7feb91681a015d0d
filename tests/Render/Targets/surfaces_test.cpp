// Render surfaces, captures between C_SurfaceBegin and C_SurfaceEnd, and
// final render objects, in scenes drawn on the real device.

#include "Render/Targets/TargetsFixture.h"

namespace {

// A plate showing surface `surface` at `place`.
std::string Monitor(const std::string& name, const std::string& surface, const std::string& place)
{
    return "  <p name=\"" + name + "\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Plate; " + place +
           ";\" extra=\"White; " + surface + "\"/>\n";
}

const std::string kSurfaces = "  <x name=\"Surf\" class=\"C_Surface9\" value=\"64; 64;\"/>\n"
                              "  <x name=\"Begin\" class=\"C_SurfaceBegin\" value=\"Surf\"/>\n"
                              "  <x name=\"End\" class=\"C_SurfaceEnd\" value=\"Surf\"/>\n";

// Drawn last in the camera's queue: the holder in the rig and its extra
// objects, in order.
std::string Finally(const std::string& extra)
{
    return "  <rig2 name=\"Rig2\" class=\"C_BaseModule\" status=\"disabled\">\n"
           "    <p name=\"Holder\" class=\"C_PositionObject\" value=\";\" extra=\"" +
           extra +
           "\"/>\n"
           "  </rig2>\n"
           "  <f name=\"Last\" class=\"C_FinalRenderObject\" value=\"Holder\"/>\n";
}

} // namespace

TEST_F(TargetsTest, SurfaceSizesDefaultsAndTextureTemplates)
{
    Put("textures/pic.bmp", scenetest::Bmp(2, 2, {0x3366CC, 0x3366CC, 0x3366CC, 0x3366CC}));
    auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
    texts.AddLine(L"TG_WidthEmpty = pic.bmp; 0; ; 64;");
    texts.AddLine(L"TG_OnlyFile = pic.bmp; 0;");
    Load("  <x name=\"Plain\" class=\"C_Surface9\" value=\"\"/>\n"
         "  <x name=\"Zero\" class=\"C_Surface9\" value=\"0; 0;\"/>\n"
         "  <x name=\"Sized\" class=\"C_Surface9\" value=\"64; 32;\"/>\n"
         "  <x name=\"Image\" class=\"C_Surface9\" value=\"16; 8; C_D3DTextureEx9; TG_WidthEmpty\"/>\n"
         "  <x name=\"File\" class=\"C_Surface9\" value=\"16; 8; C_D3DTextureEx9; TG_OnlyFile\"/>\n");

    for (const wchar_t* name : {L"Plain", L"Zero"}) {
        C_Surface9* surface = Surface(name);
        ASSERT_NE(surface, nullptr);
        EXPECT_EQ(surface->Width, 320);
        EXPECT_EQ(surface->Height, 240);
        ASSERT_NE(surface->TextureObject, nullptr);
        EXPECT_STREQ(surface->TextureObject->GetClassName(), L"C_D3DTextureSize9");
        EXPECT_EQ(surface->TextureObject->Value, L"; 0; 320; 240; 1;");
        EXPECT_EQ(surface->TextureObject->Name.rfind(L"Unknown", 0), 0u) << "a generated name";
        ASSERT_NE(surface->TextureObject->Texture, nullptr);
        D3DSURFACE_DESC desc{};
        ASSERT_EQ(surface->TextureObject->Texture->GetLevelDesc(0, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, 320u);
        EXPECT_EQ(desc.Height, 240u);
        EXPECT_EQ(desc.Usage & D3DUSAGE_RENDERTARGET, DWORD(D3DUSAGE_RENDERTARGET));
        EXPECT_NE(surface->Surface, nullptr);
        EXPECT_NE(surface->RenderToSurface, nullptr);
        EXPECT_NE(surface->OcclusionQuery, nullptr);
        EXPECT_EQ(surface->Viewport.Width, 320u);
        EXPECT_EQ(surface->Viewport.Height, 240u);
        EXPECT_EQ(surface->Viewport.MaxZ, 1.0f);
    }
    ASSERT_NE(Surface(L"Sized"), nullptr);
    EXPECT_EQ(Surface(L"Sized")->TextureObject->Value, L"; 0; 64; 32; 1;");
    EXPECT_EQ(Surface(L"Sized")->Viewport.Width, 64u);
    EXPECT_EQ(Surface(L"Sized")->Viewport.Height, 32u);

    // The template's empty width takes the surface's; its own height stays;
    // the colour key and the usage follow.
    C_Surface9* image = Surface(L"Image");
    ASSERT_NE(image, nullptr);
    ASSERT_NE(image->TextureObject, nullptr);
    EXPECT_STREQ(image->TextureObject->GetClassName(), L"C_D3DTextureEx9");
    EXPECT_EQ(image->TextureObject->Value, L"pic.bmp; 0; 16; 64; 0x0; 1;");
    ASSERT_NE(image->RenderToSurface, nullptr) << "an image can start a render target";
    EXPECT_EQ(image->Viewport.Width, 16u);
    EXPECT_EQ(image->Viewport.Height, 64u);
    // It starts with the picture.
    const std::vector<uint32_t> texels = ReadTarget(image->Surface, 16, 64);
    ASSERT_EQ(texels.size(), 16u * 64u);
    EXPECT_NEAR(Red(texels[8 * 16 + 8]), 0x33, 2);
    EXPECT_NEAR(Green(texels[8 * 16 + 8]), 0x66, 2);
    EXPECT_NEAR(Blue(texels[8 * 16 + 8]), 0xCC, 2);
    ASSERT_NE(Surface(L"File"), nullptr);
    EXPECT_EQ(Surface(L"File")->TextureObject->Value, L"pic.bmp; 0; 16; 8; 0x0; 1;");
    EXPECT_FALSE(Logged(L"Текстура не загружена"));
}

TEST_F(TargetsTest, BadSurfacesWarnAndLeaveNoDeviceObjectsAcrossReloads)
{
    const std::string scene = "  <x name=\"Negative\" class=\"C_Surface9\" value=\"-5; 10;\"/>\n"
                              "  <x name=\"Huge\" class=\"C_Surface9\" value=\"100000; 100000;\"/>\n"
                              "  <x name=\"Material\" class=\"C_Surface9\" value=\"8; 8; C_D3DMATERIAL9;\"/>\n"
                              "  <x name=\"Nothing\" class=\"C_Surface9\" value=\"8; 8; C_NoSuchClass;\"/>\n"
                              "  <x name=\"Good\" class=\"C_Surface9\" value=\"32; 32;\"/>\n"
                              "  <x name=\"BeginBad\" class=\"C_SurfaceBegin\" value=\"Huge\"/>\n"
                              "  <x name=\"EndBad\" class=\"C_SurfaceEnd\" value=\"Huge\"/>\n"
                              "  <x name=\"BeginNone\" class=\"C_SurfaceBegin\" value=\"NoSuchSurface\"/>\n" +
                              Monitor("Screen", "Huge", "RT_Left") + Finally("BeginBad; RedBox; EndBad; BeginNone");
    C_QueueRendering::Instance();   // a process-wide object of its own
    const std::size_t liveBefore = C_BaseObject::LiveCount();
    for (int round = 0; round < 3; ++round) {
        Load(scene);
        EXPECT_EQ(CountLogged(L"Текстура не загружена: Unknown"), 2u * (round + 1)) << "negative and huge sizes";
        EXPECT_TRUE(Logged(L"Поверхности Material задан класс, не являющийся текстурой: C_D3DMATERIAL9"));
        EXPECT_TRUE(Logged(L"Поверхности Nothing задан класс, не являющийся текстурой: C_NoSuchClass"));
        EXPECT_TRUE(Logged(L"Объекту BeginNone задана несуществующая поверхность NoSuchSurface"));
        for (const wchar_t* name : {L"Negative", L"Huge", L"Material", L"Nothing"}) {
            C_Surface9* surface = Surface(name);
            ASSERT_NE(surface, nullptr);
            EXPECT_EQ(surface->RenderToSurface, nullptr);
            EXPECT_EQ(surface->OcclusionQuery, nullptr);
            EXPECT_FALSE(surface->BeginSurface());
        }
        EXPECT_NE(Surface(L"Good")->RenderToSurface, nullptr);
        // A capture into a surface that failed draws what is between the pair
        // where it would have gone anyway, and the frame ends on the screen.
        const std::vector<uint32_t> pixels = Frame();
        EXPECT_TRUE(IsRed(At(pixels, 80, 60)));
        EXPECT_TRUE(IsGreen(At(pixels, 5, 5)));
        EXPECT_EQ(C_Surface9::OpenCaptureCount(), 0u);
        C_QueueRendering::Instance().Unload();
        Managers().Clear();
        EXPECT_EQ(C_BaseObject::LiveCount(), liveBefore) << "texture objects went back with their surfaces";
        // Reset refuses while any video-memory object is alive.
        D3DPRESENT_PARAMETERS p = WindowedParams(Width, Height);
        EXPECT_EQ(real->Reset(&p), D3D_OK) << "round " << round;
    }
}

TEST_F(TargetsTest, DrawingBetweenBeginAndEndLandsOnTheSurfaceNotTheScreen)
{
    // Without the pair the red box is drawn last, in the middle of the screen.
    Load(kSurfaces + Monitor("Screen", "Surf", "RT_Left") + Finally("RedBox"));
    std::vector<uint32_t> pixels = Frame();
    EXPECT_TRUE(IsRed(At(pixels, 80, 60)));
    C_QueueRendering::Instance().Unload();
    Managers().Clear();

    // With it the box goes into the surface, which the plate on the left
    // shows from the next frame on: the capture camera's blue around the
    // red box.
    Load(kSurfaces + Monitor("Screen", "Surf", "RT_Left") + Finally("Begin; CapCam; RedBox; End"));
    Frame();
    pixels = Frame();
    EXPECT_TRUE(IsGreen(At(pixels, 80, 60))) << std::hex << At(pixels, 80, 60);
    EXPECT_TRUE(IsRed(At(pixels, 40, 60))) << std::hex << At(pixels, 40, 60);
    EXPECT_TRUE(IsBlue(At(pixels, 40 - 15, 60))) << std::hex << At(pixels, 40 - 15, 60);
    EXPECT_TRUE(IsBlue(At(pixels, 40, 60 + 15))) << std::hex << At(pixels, 40, 60 + 15);
    EXPECT_TRUE(IsGreen(At(pixels, 5, 5)));
    // The surface itself holds the picture the capture camera saw.
    C_Surface9* surface = Surface(L"Surf");
    ASSERT_NE(surface, nullptr);
    const std::vector<uint32_t> texels = ReadTarget(surface->Surface, 64, 64);
    ASSERT_EQ(texels.size(), 64u * 64u);
    EXPECT_TRUE(IsRed(texels[32 * 64 + 32]));
    EXPECT_TRUE(IsBlue(texels[2 * 64 + 2]));
    EXPECT_FALSE(Logged(L"C_SurfaceEnd"));
}

TEST_F(TargetsTest, ACaptureAmongTheCamerasExtraObjectsShowsInTheSameFrame)
{
    // The camera draws its extra objects before it sets its own view and
    // clears its area, so the capture is ready before anything else draws.
    LoadScene(TargetScene(kSurfaces + Monitor("Screen", "Surf", "RT_Left"), "Begin; CapCam; RedBox; End"));
    const std::vector<uint32_t> pixels = Frame();
    EXPECT_TRUE(IsRed(At(pixels, 40, 60))) << std::hex << At(pixels, 40, 60);
    EXPECT_TRUE(IsBlue(At(pixels, 40 - 15, 60)));
    EXPECT_TRUE(IsGreen(At(pixels, 80, 60)));
    EXPECT_TRUE(IsGreen(At(pixels, 150, 110)));
}

TEST_F(TargetsTest, UnbalancedCapturesStillEndEveryFrameOnTheScreen)
{
    const std::string two = kSurfaces + "  <x name=\"SurfB\" class=\"C_Surface9\" value=\"64; 64;\"/>\n"
                                        "  <x name=\"BeginB\" class=\"C_SurfaceBegin\" value=\"SurfB\"/>\n"
                                        "  <x name=\"EndB\" class=\"C_SurfaceEnd\" value=\"SurfB\"/>\n" +
                            Monitor("ScreenA", "Surf", "RT_Left") + Monitor("ScreenB", "SurfB", "RT_Right");
    struct Case {
        const char* extra;
        const wchar_t* warning;   // null: none
    };
    const Case cases[] = {
        {"Begin; CapCam; RedBox", L"Объект Begin начал отрисовку в поверхность без C_SurfaceEnd"},
        {"End; RedBox", L"Объект End завершает отрисовку в поверхность Surf, которая не начата"},
        {"Begin; CapCam; BeginB; CapCam; RedBox; End; EndB",
         L"Объект BeginB начал отрисовку в поверхность без C_SurfaceEnd"},
        {"Begin; CapCam; BeginB; CapCam; RedBox; EndB; End", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra);
        const std::size_t warningsBefore = CountLogged(L"отрисовку в поверхность");
        const std::size_t thisBefore = c.warning ? CountLogged(c.warning) : 0;
        Load(two + Finally(c.extra));
        std::vector<uint32_t> pixels = Frame();
        pixels = Frame();
        pixels = Frame();
        EXPECT_EQ(C_Surface9::OpenCaptureCount(), 0u);
        // The main view is intact: background, both plates lit where the
        // screen shows them.
        EXPECT_TRUE(IsGreen(At(pixels, 5, 5)));
        EXPECT_TRUE(IsGreen(At(pixels, 150, 110)));
        EXPECT_FALSE(IsGreen(At(pixels, 40, 60)));
        EXPECT_FALSE(IsGreen(At(pixels, 120, 60)));
        if (c.warning) EXPECT_EQ(CountLogged(c.warning), thisBefore + 1) << "once, not every frame";
        else EXPECT_EQ(CountLogged(L"отрисовку в поверхность"), warningsBefore) << "a nested pair is fine";
        C_QueueRendering::Instance().Unload();
        Managers().Clear();
    }
    // The properly nested pair: the inner capture saw the box, the outer
    // one only its camera's blue.
    Load(two + Finally("Begin; CapCam; BeginB; CapCam; RedBox; EndB; End"));
    Frame();
    const std::vector<uint32_t> pixels = Frame();
    EXPECT_TRUE(IsRed(At(pixels, 120, 60))) << std::hex << At(pixels, 120, 60);
    EXPECT_TRUE(IsBlue(At(pixels, 40, 60))) << std::hex << At(pixels, 40, 60);
}

TEST_F(TargetsTest, FinalRenderObjectsDrawTheirTargetLastOrNothing)
{
    // The red box sits behind the white one; drawn last without a depth
    // test it covers it.
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"TG_Behind = 0; 0; 30;");
    const std::string objects =
        "  <x name=\"NoDepth\" class=\"C_RenderState\" value=\"D3DRS_ZENABLE; FALSE;\"/>\n"
        "  <x name=\"Depth\" class=\"C_RenderState\" value=\"D3DRS_ZENABLE; TRUE;\"/>\n"
        "  <p name=\"Front\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; RT_Origin;\""
        " extra=\"Depth; White; NoTexture\"/>\n"
        "  <p name=\"Behind\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; TG_Behind;\""
        " extra=\"NoDepth; Glow; NoTexture\" status=\"disabled\"/>\n"
        "  <f name=\"Last\" class=\"C_FinalRenderObject\" value=\"Behind\"/>\n"
        "  <f name=\"Missing\" class=\"C_FinalRenderObject\" value=\"NoSuchObject\"/>\n"
        "  <f name=\"Itself\" class=\"C_FinalRenderObject\" value=\"Itself\"/>\n"
        "  <f name=\"Empty\" class=\"C_FinalRenderObject\" value=\"\"/>\n";
    Load(objects);
    auto* last = dynamic_cast<C_FinalRenderObject*>(Object(L"Last"));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->GetDistance(nullptr), -1e37f);
    EXPECT_EQ(last->GetTarget(), Object(L"Behind"));
    EXPECT_EQ(dynamic_cast<C_FinalRenderObject*>(Object(L"Missing"))->GetTarget(), nullptr);
    EXPECT_FALSE(Logged(L"NoSuchObject")) << "a missing target is no error";
    EXPECT_EQ(dynamic_cast<C_FinalRenderObject*>(Object(L"Itself"))->GetTarget(), nullptr);
    EXPECT_TRUE(Logged(L"Объект Itself назначен последним для отрисовки самому себе"));

    std::vector<uint32_t> pixels = Frame();
    EXPECT_TRUE(IsRed(At(pixels, 80, 60))) << std::hex << At(pixels, 80, 60);
    EXPECT_TRUE(IsGreen(At(pixels, 5, 5)));

    // A deleted target is forgotten: the white box shows again.
    C_BaseObject::DeleteObject(C_BaseObject::ToID(Object(L"Behind")));
    pixels = Frame();
    EXPECT_EQ(last->GetTarget(), nullptr);
    EXPECT_GT(Red(At(pixels, 80, 60)) + Green(At(pixels, 80, 60)) + Blue(At(pixels, 80, 60)), 600);
}
