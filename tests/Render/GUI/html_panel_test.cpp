// HTML panels on the real device: the picture a panel draws into its
// surface when it loads, the colour key that makes its background
// transparent, its warnings, device loss, and the panel shown in a scene.

#include "Render/Targets/TargetsFixture.h"

#include <climits>
#include <cstring>

#include "Render/GUI/GUIHtmlOutput.h"
#include "Render/GUI/HtmlDrawer.h"
#include "Render/Resources/RenderState.h"
#include "port/d3d9/glcaps.h"

namespace {

// A panel's picture read back through a lock, top row first.
struct Picture {
    UINT width = 0, height = 0;
    std::vector<uint32_t> pixels;

    uint32_t at(UINT x, UINT y) const { return pixels[size_t(y) * width + x]; }
    static int Alpha(uint32_t p) { return int(p >> 24); }
    // Every pixel with any alpha, as a box; empty (right < left) when none.
    RECT Opaque() const
    {
        RECT r{LONG(width), LONG(height), -1, -1};
        for (UINT y = 0; y < height; ++y)
            for (UINT x = 0; x < width; ++x)
                if (Alpha(at(x, y))) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x + 1);
                    r.bottom = std::max<LONG>(r.bottom, y + 1);
                }
        return r;
    }
    template <class Wanted> int Count(Wanted wanted) const
    {
        int n = 0;
        for (uint32_t p : pixels) n += wanted(p) ? 1 : 0;
        return n;
    }
};

bool NearRgb(uint32_t p, uint32_t rgb, int tolerance)
{
    for (int shift : {16, 8, 0})
        if (std::abs(int((p >> shift) & 0xFF) - int((rgb >> shift) & 0xFF)) > tolerance) return false;
    return true;
}

// A 4 x 4 DXT1 picture in a DDS file with its whole chain of levels (one
// block each), as D3DX keeps block-compressed files only when they bring
// every level it would make.
std::string Dxt1Dds()
{
    std::vector<uint32_t> header(32, 0);
    header[0] = 0x20534444;          // "DDS "
    header[1] = 124;                 // header size
    header[2] = 0x1 | 0x2 | 0x4 | 0x1000 | 0x20000 | 0x80000;
    header[3] = 4;                   // height
    header[4] = 4;                   // width
    header[5] = 8;                   // bytes of the top level
    header[7] = 3;                   // levels: 4 x 4, 2 x 2, 1 x 1
    header[19] = 32;                 // pixel format size
    header[20] = 0x4;                // a four-character code
    header[21] = 0x31545844;         // "DXT1"
    header[27] = 0x1000 | 0x8 | 0x400000;   // a texture with levels
    std::string bytes(reinterpret_cast<const char*>(header.data()), header.size() * 4);
    const unsigned char block[8] = {0x1F, 0x00, 0x1F, 0x00, 0, 0, 0, 0};
    for (int level = 0; level < 3; ++level) bytes.append(reinterpret_cast<const char*>(block), sizeof block);
    return bytes;
}

// A GUI camera clearing green, a self-lit white material and three blend
// states for showing panels, then `objects`.
std::string PanelScene(const std::string& objects)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<scene name=\"Scene\" class=\"C_BaseModule\">\n"
           "  <c name=\"Cam\" class=\"C_GUICamera\" value=\"RT_Full; 0.5235988; 0xFF00FF00;\"/>\n"
           "  <x name=\"Glow\" class=\"C_D3DMATERIAL9\" value=\"0; 0; 0; 0xFFFFFFFF; 0;\"/>\n"
           "  <s name=\"BlendOn\" class=\"C_RenderState\" value=\"D3DRS_ALPHABLENDENABLE; TRUE;\"/>\n"
           "  <s name=\"BlendSource\" class=\"C_RenderState\" value=\"D3DRS_SRCBLEND; D3DBLEND_SRCALPHA;\"/>\n"
           "  <s name=\"BlendTarget\" class=\"C_RenderState\" value=\"D3DRS_DESTBLEND; D3DBLEND_INVSRCALPHA;\"/>\n" +
           objects + "</scene>\n";
}

} // namespace

class HtmlPanelTest : public TargetsTest {
protected:
    void SetUp() override
    {
        TargetsTest::SetUp();
        C_HtmlDrawer::Instance().ResetStyleSheet();
    }

    void Text(const std::wstring& line) { C_D3DXSTRING::C_AllStrings::Instance().AddLine(line); }
    void LoadPanels(const std::string& objects) { LoadScene(PanelScene(objects)); }

    C_GUIHtmlOutput* Panel(const wchar_t* name)
    {
        return dynamic_cast<C_GUIHtmlOutput*>(Managers().GetResource(name, L"C_GUIHtmlOutput", false));
    }
    static Picture Read(C_GUIHtmlOutput* panel)
    {
        Picture picture;
        D3DSURFACE_DESC desc{};
        D3DLOCKED_RECT locked{};
        if (!panel || !panel->Surface || FAILED(panel->Surface->GetDesc(&desc)) ||
            FAILED(panel->Surface->LockRect(&locked, nullptr, D3DLOCK_READONLY)))
            return picture;
        picture.width = desc.Width;
        picture.height = desc.Height;
        picture.pixels.resize(size_t(desc.Width) * desc.Height);
        for (UINT y = 0; y < desc.Height; ++y)
            std::memcpy(&picture.pixels[size_t(y) * desc.Width],
                        static_cast<const uint8_t*>(locked.pBits) + size_t(y) * locked.Pitch, desc.Width * 4);
        panel->Surface->UnlockRect();
        return picture;
    }
    // Lines of the mock log that are exactly "warning:" with `text`.
    static std::size_t Warnings(const std::wstring& text) { return CountLogged(L"warning:\t" + text + L"\n"); }
    // Warnings but the one about the test's program folder having no
    // text.ini.
    static std::size_t PanelWarnings() { return CountLogged(L"warning:") - CountLogged(L"text.ini"); }
};

TEST_F(HtmlPanelTest, TheTopLeftColourBecomesTransparentAndEverythingElseOpaque)
{
    Text(L"HP_Status = <b>Spindle</b> at 1200 rpm");
    // The table's colour fills the corner: it is the key now, and what the
    // table does not cover is opaque black.
    Text(L"HP_Corner = <table cellspacing=0 cellpadding=4 bgcolor=#3366cc><tr><td>Axis X</td></tr></table>");
    LoadPanels("  <x name=\"Status\" class=\"C_GUIHtmlOutput\" value=\"128; 64; ; ; HP_Status; 4; 4;\"/>\n"
               "  <x name=\"Corner\" class=\"C_GUIHtmlOutput\" value=\"128; 64; ; ; HP_Corner; 0; 0;\"/>\n");

    C_GUIHtmlOutput* status = Panel(L"Status");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->ResourceLevel, -1);
    ASSERT_NE(status->TextureObject, nullptr);
    EXPECT_EQ(status->TextureObject->Value, L"; 0; 128; 64; 512;") << "a dynamic texture of the panel's size";
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(status->Surface->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8) << "an alpha channel whatever the display format";
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(desc.Usage, DWORD(D3DUSAGE_DYNAMIC));

    const Picture text = Read(status);
    ASSERT_EQ(text.width, 128u);
    ASSERT_EQ(text.height, 64u);
    EXPECT_EQ(text.at(0, 0), 0u);
    EXPECT_EQ(text.Count([](uint32_t p) { return p != 0 && (p >> 24) != 0xFF; }), 0)
        << "every pixel is transparent black or opaque";
    const int inked = text.Count([](uint32_t p) { return p != 0; });
    EXPECT_GT(inked, 60) << "the letters";
    EXPECT_LT(inked, 128 * 64 / 3) << "only the letters";
    const RECT box = text.Opaque();
    EXPECT_GE(box.left, 4);
    EXPECT_GE(box.top, 4);
    EXPECT_LE(box.right, 124);

    const Picture corner = Read(Panel(L"Corner"));
    ASSERT_EQ(corner.width, 128u);
    EXPECT_EQ(corner.at(0, 0), 0u);
    EXPECT_EQ(corner.Count([](uint32_t p) { return NearRgb(p, 0x3366CC, 0); }), 0) << "the table's colour is the key";
    EXPECT_EQ(corner.at(127, 63), 0xFF000000u) << "outside the table: not the key, so opaque";
    EXPECT_GT(corner.Count([](uint32_t p) { return p != 0 && p != 0xFF000000u; }), 20)
        << "the cell's text, drawn over the cell's colour";
    EXPECT_EQ(PanelWarnings(), 0u);
}

TEST_F(HtmlPanelTest, MarginsBoundTheLinesAndStyleColoursSurviveTheKey)
{
    Text(L"HP_Long = Lines of this text break at spaces, commas and full stops, so that none of them is "
         L"wider than the room the margins leave: two hundred and thirty-six pixels here.");
    Text(L"HP_Styled = <h2>Heading</h2><code>G01 X10</code>");
    LoadPanels("  <x name=\"Long\" class=\"C_GUIHtmlOutput\" value=\"256; 128; ; ; HP_Long; 10; 10;\"/>\n"
               "  <x name=\"Styled\" class=\"C_GUIHtmlOutput\" value=\"256; 128; ; ; HP_Styled; 2; 2;\"/>\n");

    const Picture lines = Read(Panel(L"Long"));
    ASSERT_EQ(lines.width, 256u);
    const RECT box = lines.Opaque();
    EXPECT_GE(box.left, 10);
    EXPECT_GE(box.top, 10);
    EXPECT_LE(box.right, 246) << "laid out within 236 pixels";
    EXPECT_GT(box.right, 200) << "and using them";
    EXPECT_GT(box.bottom - box.top, 3 * 12) << "several lines";

    // The default sheet's h2 and code colours, with their channels in place.
    const Picture styled = Read(Panel(L"Styled"));
    EXPECT_GT(styled.Count([](uint32_t p) { return (p >> 24) == 0xFF && NearRgb(p, 0xFF9900, 8); }), 20);
    EXPECT_GT(styled.Count([](uint32_t p) { return (p >> 24) == 0xFF && NearRgb(p, 0x990000, 8); }), 10);
    EXPECT_EQ(styled.Count([](uint32_t p) { return NearRgb(p, 0x0099FF, 8) && (p >> 24); }), 0)
        << "red and blue not swapped";
}

TEST_F(HtmlPanelTest, APictureTemplateStartsThePanelAndItsCornerColourIsTheKey)
{
    // Left half white (the corner), right half blue.
    std::vector<uint32_t> pixels(64 * 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) pixels[size_t(y) * 64 + x] = x < 32 ? 0xFFFFFF : 0x0000FF;
    Put("textures/paper.bmp", scenetest::Bmp(64, 32, pixels));
    Text(L"HP_Paper = paper.bmp; 0; ; ; ;");
    Text(L"HP_Note = <font color=red>Note</font>");
    Text(L"HP_PlainPaper = paper.bmp; 0;");
    LoadPanels("  <x name=\"Paper\" class=\"C_GUIHtmlOutput\" value=\"64; 32; C_D3DTextureEx9; HP_Paper; HP_Note; 2; 2;\"/>\n"
               "  <x name=\"Plain\" class=\"C_GUIHtmlOutput\" value=\"64; 32; C_D3DTEXTURE9; HP_PlainPaper; HP_Note; 2; 2;\"/>\n");

    C_GUIHtmlOutput* paper = Panel(L"Paper");
    ASSERT_NE(paper, nullptr);
    ASSERT_NE(paper->TextureObject, nullptr);
    EXPECT_EQ(paper->TextureObject->Value, L"paper.bmp; 0; 64; 32; 0x0; 512;");
    const Picture picture = Read(paper);
    ASSERT_EQ(picture.width, 64u);
    EXPECT_EQ(picture.at(0, 0), 0u);
    EXPECT_EQ(picture.at(10, 28), 0u) << "white paper: transparent";
    EXPECT_EQ(picture.at(60, 28), 0xFF0000FFu) << "blue paper: opaque";
    EXPECT_GT(picture.Count([](uint32_t p) { return NearRgb(p, 0xFF0000, 40) && (p >> 24) == 0xFF; }), 10)
        << "the red note on it";

    // A picture texture keeps its file's format, X8R8G8B8 here: the key
    // compares colours only, as its fourth byte means nothing.
    const Picture plain = Read(Panel(L"Plain"));
    ASSERT_EQ(plain.width, 64u);
    D3DSURFACE_DESC desc{};
    Panel(L"Plain")->Surface->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(plain.at(10, 28), 0u);
    EXPECT_EQ(plain.at(60, 28), 0xFF0000FFu);
    EXPECT_GT(plain.Count([](uint32_t p) { return NearRgb(p, 0xFF0000, 40); }), 10);
    EXPECT_EQ(PanelWarnings(), 0u);
}

TEST_F(HtmlPanelTest, NoSurfaceNoDeviceContextAndNoTextEachWarnAndLeaveThePanelHarmless)
{
    Put("textures/block.dds", Dxt1Dds());
    Text(L"HP_Block = block.dds; 0;");
    Text(L"HP_Hello = Hello");
    // A text log beside the in-memory one: it names where each warning
    // comes from, which is all an empty warning says.
    struct TextLog {
        explicit TextLog(const std::wstring& where) : folder(logger::Logger::Options()[logger::OptionFolder])
        {
            logger::Logger::SetOption(logger::OptionFolder, where.c_str());
            logger::Logger::Activate(logger::Text);
        }
        ~TextLog() { logger::Logger::SetOption(logger::OptionFolder, folder.c_str()); }
        const std::wstring folder;
    } textLog(Path("panel_logs"));
    LoadPanels("  <x name=\"Huge\" class=\"C_GUIHtmlOutput\" value=\"100000; 100000; ; ; HP_Hello; 0; 0;\"/>\n"
               "  <x name=\"Missing\" class=\"C_GUIHtmlOutput\" value=\"32; 16; ; ; HP_NoSuchKey; 0; 0;\"/>\n"
               "  <x name=\"Unnamed\" class=\"C_GUIHtmlOutput\" value=\"32; 16; ; ; ; 0; 0;\"/>\n"
               "  <x name=\"Far\" class=\"C_GUIHtmlOutput\" value=\"32; 16; ; ; HP_Hello; 2147483647; -2147483648;\"/>\n"
               "  <x name=\"Wide\" class=\"C_GUIHtmlOutput\" value=\"32; 16; ; ; HP_Hello; 40; 0;\"/>\n"
               "  <x name=\"Block\" class=\"C_GUIHtmlOutput\" value=\"4; 4; C_D3DTEXTURE9; HP_Block; HP_Hello; 0; 0;\"/>\n"
               "  <p name=\"Plate\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Plate; RT_Origin;\""
               " extra=\"Glow; Huge; Missing; Block\"/>\n");

    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "panel_logs"))
        if (entry.path().extension() == ".log") text += ScratchFolder::Read(entry.path());
    const std::string source = "\tRender\\GUI\\C_GUIHtmlOutput (";
    EXPECT_NE(text.find("warning:\t" + source), std::string::npos) << text;

    // No surface: the texture's warning, then the panel's empty one.
    EXPECT_TRUE(Logged(L"Текстура не загружена: Unknown"));
    EXPECT_EQ(Warnings(L""), 1u);
    EXPECT_EQ(Panel(L"Huge")->Surface, nullptr);

    EXPECT_TRUE(Logged(L"Нет текста для панели Missing: HP_NoSuchKey"));
    EXPECT_TRUE(Logged(L"Панели Unnamed не задан ключ текста"));
    for (const wchar_t* name : {L"Missing", L"Unnamed", L"Far"}) {
        const Picture empty = Read(Panel(name));
        ASSERT_EQ(empty.width, 32u) << testing::PrintToString(std::wstring(name));
        EXPECT_EQ(empty.Count([](uint32_t p) { return p != 0; }), 0) << "nothing drawn, all transparent";
    }
    // Margins wider than the surface leave no room: words stand one per line.
    const Picture wide = Read(Panel(L"Wide"));
    ASSERT_EQ(wide.width, 32u);
    EXPECT_EQ(wide.Count([](uint32_t p) { return p != 0; }), 0) << "the text starts beyond the right edge";

    // A block-compressed picture hands out no device context.
    C_GUIHtmlOutput* block = Panel(L"Block");
    ASSERT_NE(block, nullptr);
    ASSERT_NE(block->Surface, nullptr);
    D3DSURFACE_DESC desc{};
    block->Surface->GetDesc(&desc);
    if (desc.Format != D3DFMT_DXT1) GTEST_SKIP() << "no block-compressed textures on this device";
    EXPECT_EQ(Warnings(L"!hdc"), 1u);
    EXPECT_NE(text.find("warning:\t!hdc" + source), std::string::npos) << text;

    // The scene still draws.
    const std::vector<uint32_t> frame = Frame();
    EXPECT_TRUE(IsGreen(At(frame, 2, 2)));
}

TEST_F(HtmlPanelTest, ALostDeviceDrawsThePanelAgainAndReloadsLeaveNothingBehind)
{
    Text(L"HP_Table = <table border=1 cellpadding=2><tr><td bgcolor=#ff0000>1</td><td>Two</td></tr></table>");
    const std::string scene = "  <x name=\"Table\" class=\"C_GUIHtmlOutput\" value=\"96; 48; ; ; HP_Table; 3; 3;\"/>\n";
    C_QueueRendering::Instance();
    const std::size_t liveBefore = C_BaseObject::LiveCount();
    LoadPanels(scene);
    const Picture before = Read(Panel(L"Table"));
    ASSERT_EQ(before.width, 96u);
    EXPECT_GT(before.Count([](uint32_t p) { return NearRgb(p, 0xFF0000, 0) && (p >> 24) == 0xFF; }), 20);

    ASSERT_EQ(LoseAndResetDevice(), D3D_OK) << "the panel's texture went before Reset";
    const Picture after = Read(Panel(L"Table"));
    ASSERT_EQ(after.width, 96u);
    EXPECT_EQ(after.pixels, before.pixels) << "drawn again, the same";

    for (int round = 0; round < 3; ++round) {
        C_QueueRendering::Instance().Unload();
        Managers().Clear();
        EXPECT_EQ(C_BaseObject::LiveCount(), liveBefore) << "round " << round;
        D3DPRESENT_PARAMETERS p = WindowedParams(Width, Height);
        EXPECT_EQ(real->Reset(&p), D3D_OK) << "no video-memory object left, round " << round;
        LoadPanels(scene);
        EXPECT_EQ(Read(Panel(L"Table")).pixels, before.pixels);
    }
    EXPECT_EQ(PanelWarnings(), 0u);
}

TEST_F(HtmlPanelTest, InASceneTheBackgroundShowsThroughAndTextAndCellsKeepTheirColours)
{
    Text(L"HP_Shown = <table cellspacing=0 cellpadding=3><tr><td bgcolor=#ff0000>Red</td>"
         L"<td bgcolor=#0000ff>Blue</td></tr></table><b>Text</b>");
    Text(L"HP_PlateSize = 128; 64; 1;");
    // Blending is switched on by the plate's extra objects before the panel
    // binds; the plate covers x 16..143, y 28..91 of the 160 x 120 screen.
    LoadPanels("  <x name=\"Shown\" class=\"C_GUIHtmlOutput\" value=\"128; 64; ; ; HP_Shown; 6; 6;\"/>\n"
               "  <p name=\"Plate\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; HP_PlateSize; RT_Origin;\""
               " extra=\"BlendOn; BlendSource; BlendTarget; Glow; Shown\"/>\n");
    const Picture panel = Read(Panel(L"Shown"));
    ASSERT_EQ(panel.width, 128u);
    const int red = panel.Count([](uint32_t p) { return NearRgb(p, 0xFF0000, 0); });
    const int blue = panel.Count([](uint32_t p) { return NearRgb(p, 0x0000FF, 0); });
    ASSERT_GT(red, 100);
    ASSERT_GT(blue, 100);

    const std::vector<uint32_t> frame = Frame();
    // Shown 1:1 on the self-lit plate: transparent texels show the clear
    // colour, opaque ones their own colour.
    int matching = 0, redShown = 0, blueShown = 0, textShown = 0;
    for (UINT y = 0; y < panel.height; ++y)
        for (UINT x = 0; x < panel.width; ++x) {
            const uint32_t texel = panel.at(x, y);
            const uint32_t screen = At(frame, int(16 + x), int(28 + y));
            const bool transparent = texel == 0;
            const uint32_t wanted = transparent ? 0x00FF00u : (texel & 0xFFFFFFu);
            if (NearRgb(screen, wanted, 4)) ++matching;
            if (NearRgb(texel, 0xFF0000, 0) && IsRed(screen)) ++redShown;
            if (NearRgb(texel, 0x0000FF, 0) && IsBlue(screen)) ++blueShown;
            if (!transparent && NearRgb(texel, 0, 40) && NearRgb(screen, 0, 40)) ++textShown;
        }
    EXPECT_GE(matching, int(panel.pixels.size()) * 99 / 100);
    EXPECT_EQ(redShown, red);
    EXPECT_EQ(blueShown, blue);
    EXPECT_GT(textShown, 20) << "the black letters over the clear colour";
    EXPECT_TRUE(IsGreen(At(frame, 16 + 120, 28 + 60))) << "background of the panel, bottom right";
    EXPECT_TRUE(IsGreen(At(frame, 5, 5))) << "outside the plate";
}
