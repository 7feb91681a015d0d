#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "engine_support/ObjectTestClasses.h"

#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/Cameras.h"
#include "Render/GUI/LoadScreen.h"
#include "Render/Resources/D3DXSTRING.h"
#include "spine_support/FakeDirect3D.h"

class TextTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        C_QueueRendering::InstallInsert();
        C_BaseCamera::InstallModuleSupport();
        C_BaseObject::CommonData().RenderPass = 0;
    }
    static void Lines(std::initializer_list<const wchar_t*> lines)
    {
        for (const wchar_t* line : lines) C_D3DXSTRING::C_AllStrings::Instance().AddLine(line);
    }
    C_BaseText2D* MakeText(const wchar_t* name, const wchar_t* value)
    {
        auto* text = static_cast<C_BaseText2D*>(Managers().AddResource(L"C_BaseText2D", name, value));
        text->Load(&device);
        return text;
    }
    FakeDevice device;
};

TEST_F(TextTest, FieldsAreResolvedThroughTheTextTable)
{
    Lines({L"GreetText = Привет; мир", L"GreetFlags = DT_CENTER; DT_VCENTER; DT_NOSUCH; DT_WORDBREAK",
           L"GreetRect = 0.25; 0.25; 0.75; 0.75", L"GreetColour = 80FF8000", L"GreetFont = Verdana; 24; 700"});
    C_BaseText2D* text = MakeText(L"greet", L"GreetText; GreetFlags; GreetRect; GreetColour; GreetFont");
    EXPECT_EQ(text->Text, L"Привет; мир");
    EXPECT_EQ(text->Flags, 0x1u | 0x4u | 0x10u);
    EXPECT_EQ(text->Rect1024[0], 256);
    EXPECT_EQ(text->Rect1024[3], 768);
    EXPECT_EQ(text->Colour, 0x80FF8000u);
    ASSERT_NE(text->Font, nullptr);
    EXPECT_EQ(text->Font->Name, L"Verdana; 24; 700");
    EXPECT_EQ(text->Font->Value, L"Verdana; 24; 700");
    EXPECT_EQ(text->ResourceLevel, 1);
    // A text object of each key was made and shares its name with the key.
    EXPECT_NE(Managers().GetResource(L"GreetFlags", L"C_D3DXSTRING", false), nullptr);
}

TEST_F(TextTest, FlagNamesStopAtTheFirstEmptyFieldAndAreCaseSensitive)
{
    EXPECT_EQ(C_BaseText2D::ReadFlags(L"DT_RIGHT; DT_BOTTOM;; DT_CENTER"), 0x2u | 0x8u);
    EXPECT_EQ(C_BaseText2D::ReadFlags(L"dt_center; DT_NOCLIP"), 0x100u);
    EXPECT_EQ(C_BaseText2D::ReadFlags(L""), 0u);
    EXPECT_EQ(C_BaseText2D::FlagBit(L"DT_INTERNAL"), 0x1000u);
    EXPECT_EQ(C_BaseText2D::FlagBit(L"DT_TOP"), 0u);
}

TEST_F(TextTest, MissingEntriesKeepTheDefaults)
{
    C_BaseText2D* text = MakeText(L"bare", L"NoText; NoFlags; NoRect; NoColour; NoFont");
    EXPECT_EQ(text->Text, L"");
    EXPECT_EQ(text->Flags, 0u);
    EXPECT_EQ(text->Rect1024[2], 1024);
    EXPECT_EQ(text->Colour, 0xFFFFFFFFu);
    EXPECT_EQ(text->Font, nullptr);
    // Empty fields make no unnamed text objects.
    C_BaseText2D* empty = MakeText(L"empty", L"");
    EXPECT_EQ(empty->Text, L"");
    EXPECT_EQ(Managers().GetResource(L"Unknown0", L"C_D3DXSTRING", false), nullptr);
}

TEST_F(TextTest, RectangleIsScaledInto1024thsOfTheViewport)
{
    C_BaseText2D text;
    text.SetRect(0.25f, 0.25f, 0.75f, 0.75f);
    const RECT r = text.PixelRect(D3DVIEWPORT9{0, 0, 1024, 768, 0.0f, 1.0f});
    EXPECT_EQ(r.left, 256);
    EXPECT_EQ(r.top, 192);
    EXPECT_EQ(r.right, 768);
    EXPECT_EQ(r.bottom, 576);
    const RECT moved = text.PixelRect(D3DVIEWPORT9{100, 50, 400, 300, 0.0f, 1.0f});
    EXPECT_EQ(moved.left, 200);
    EXPECT_EQ(moved.bottom, 50 + 225);
    text.SetRect(0.0015f, -0.0015f, 1.0f, 1.0f);
    EXPECT_EQ(text.Rect1024[0], 1);
    EXPECT_EQ(text.Rect1024[1], -1) << "truncated toward zero";
}

TEST_F(TextTest, SetStringChangesOnlyALiveTextObject)
{
    C_BaseText2D* text = MakeText(L"shown", L"");
    EXPECT_EQ(C_BaseText2D::SetString(C_BaseObject::ToID(text), "Счёт: 10"), 0.0);
    EXPECT_EQ(text->Text, L"Счёт: 10");
    EXPECT_EQ(C_BaseText2D::SetString(0.0, "x"), 0.0);
    C_BaseObject other;
    EXPECT_EQ(C_BaseText2D::SetString(C_BaseObject::ToID(&other), "x"), 0.0);
    EXPECT_EQ(text->Text, L"Счёт: 10");
}

TEST_F(TextTest, FontValueGivesFaceFileHeightAndWeight)
{
    auto describe = [this](const wchar_t* value, std::wstring& file) {
        auto* font = static_cast<C_D3DX9FONT*>(Managers().AddResource(L"C_D3DX9FONT", value, value));
        return font->Describe(file);
    };
    std::wstring file;
    FontDevice::Description d = describe(L"MyFont.ttf; 24; 700", file);
    EXPECT_EQ(d.FaceName, L"MyFont");
    EXPECT_EQ(file, L"MyFont.ttf");
    EXPECT_EQ(d.Height, -24);
    EXPECT_EQ(d.Weight, 700u);
    d = describe(L".hidden; 10; 0", file);
    EXPECT_EQ(d.FaceName, L".hidden");
    EXPECT_TRUE(file.empty());
    d = describe(L"A very long face name of forty characters!; 8; 1", file);
    EXPECT_EQ(d.FaceName.size(), 31u);
}

TEST_F(TextTest, AMissingFontFileIsWarnedAndMakesNoFont)
{
    Lines({L"FolderFont = fonts"});
    auto* font = static_cast<C_D3DX9FONT*>(Managers().AddResource(L"C_D3DX9FONT", L"Nope.ttf; 12; 400", L"Nope.ttf; 12; 400"));
    font->Load(&device);
    EXPECT_EQ(font->Font, nullptr);
    EXPECT_TRUE(Logged(L"warning:\tНе добавлен шрифт: fonts\\Nope.ttf\n"));
    EXPECT_TRUE(font->FontPath.empty());
}

TEST_F(TextTest, LoadScreenBuildsTwoTextsAndItsCamera)
{
    Lines({L"LoadScreen = Загрузка", L"LoadScreenFont = Arial; 41; 700"});
    EXPECT_EQ(C_LoadScreen::HalfSizeFont(L"Arial; 41; 700"), L"Arial; 20; 700;");
    C_LoadScreen screen;
    EXPECT_EQ(screen.Name, L"LoadScreen");
    EXPECT_STREQ(screen.GetClassName(), L"C_LoadScreen");
    screen.Load(&device);
    ASSERT_EQ(screen.size(), 2u);
    EXPECT_EQ(screen[0], &screen.Title);
    EXPECT_EQ(screen.Title.Text, L"Загрузка");
    EXPECT_EQ(screen.Title.Flags, 5u);
    EXPECT_EQ(screen.Title.Colour, 0xFFFFFFFFu);
    ASSERT_NE(screen.Title.Font, nullptr);
    EXPECT_EQ(screen.Title.Font->Name, L"Arial; 41; 700");
    ASSERT_NE(screen.Progress.Font, nullptr);
    EXPECT_EQ(screen.Progress.Font->Name, L"Arial; 20; 700;");
    EXPECT_EQ(screen.Progress.Colour, 0xAF00FF00u);
    EXPECT_EQ(screen.Progress.Rect1024[1], 204);
    ASSERT_EQ(screen.Cameras.size(), 1u);
    auto* camera = dynamic_cast<C_OperatedMouseCamera*>(
        Managers().GetResource(L"LoadScreenCamera", L"C_OperatedMouseCamera", false));
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(static_cast<C_BaseCamera*>(camera), screen.Cameras[0]);
    EXPECT_FLOAT_EQ(camera->FieldOfView, 0.57f);
    EXPECT_TRUE(camera->ClearTarget);
    EXPECT_EQ(camera->ClearColor, 0xFF000000u);
    EXPECT_EQ(C_D3DXSTRING::C_AllStrings::Instance().Lookup(L"LoadScreenViewPort"), L"0.0; 0.0; 1.0; 1.0");
    // Loading again rebuilds the lists without doubling them.
    screen.C_BaseModule::Unload();
    screen.Load(&device);
    EXPECT_EQ(screen.size(), 2u);
    EXPECT_EQ(screen.Cameras.size(), 1u);
}

TEST_F(TextTest, LoadScreenTextsLoadTheirFontOnlyWhileDrawing)
{
    Lines({L"LoadScreenFont = DejaVu Sans; 30; 400"});
    C_LoadScreen screen;
    screen.Load(&device);
    C_D3DX9FONT* font = screen.Title.Font;
    ASSERT_NE(font, nullptr);
    const std::wstring name = font->Name;
    EXPECT_FALSE(name.empty());
    screen.Title.Draw(&device);
    EXPECT_EQ(font->Font, nullptr) << "released again after drawing";
    EXPECT_EQ(font->Name, name) << "and still findable by name";
    EXPECT_EQ(Managers().GetResource(name.c_str(), L"C_D3DX9FONT", false), font);
}

TEST_F(TextTest, AFontFileIsInstalledFromTheFontFolderAndRemovedOnUnload)
{
    const std::filesystem::path fonts = dir.path() / "fonts";
    std::filesystem::create_directories(fonts);
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", fonts / "DejaVuSans.ttf");
    // An absolute font folder is read from disk whatever folder the file
    // manager serves. The first definition of an entry stays, so a process
    // that defined "FolderFont" before (all tests in one run) cannot redo it.
    if (!C_ResManager::Instance().GetText(L"FolderFont").empty()) GTEST_SKIP() << "FolderFont is taken";
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"FolderFont = " + VORTALEX::PathToWide(fonts));
    Managers().Clear();
    auto* font = static_cast<C_D3DX9FONT*>(
        Managers().AddResource(L"C_D3DX9FONT", L"DejaVuSans.ttf; 20; 400", L"DejaVuSans.ttf; 20; 400"));
    font->Load(&device);
    EXPECT_FALSE(Logged(L"Не добавлен шрифт"));
    EXPECT_EQ(font->FontPath, VORTALEX::PathToWide(fonts) + L"\\DejaVuSans.ttf");
    font->Unload();
    EXPECT_TRUE(font->FontPath.empty());
    EXPECT_EQ(font->Font, nullptr);
}
