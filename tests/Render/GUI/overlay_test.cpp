// The information overlays and GUI elements in a scene read from a module
// file, run frame by frame as the window runs them: mouse buttons come from
// the DirectInput test hooks, the cursor position from the window's record.

#include "Render/Resources/SceneFixture.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/BaseCamera.h"
#include "Render/GUI/BaseGUIObject.h"
#include "Render/GUI/CalculateFPS.h"
#include "Render/GUI/DrawInformation.h"
#include "Render/GUI/MainWindowName.h"
#include "Render/Resources/D3DXSTRING.h"
#include "port/dinput8/dinput_hooks.h"
#include "port/win32/afxwin.h"

namespace {

// A GUI camera over the whole screen, a button that grows to 1.5 under the
// cursor, a draggable panel with a draggable knob tied to it (in front of
// it), the two texts.
const char* const kScene = R"(<?xml version="1.0" encoding="UTF-8"?>
<scene name="Gui" class="C_BaseModule">
  <c name="GuiCam" class="C_GUICamera" value="GuiFull; 0.5235988; 0xFF000000;"/>
  <b name="Button" class="C_BaseGUIObject" value="C_D3DXMESH9_BOX; GuiButton; GuiButtonAt; ; 1.5;" bound="box"/>
  <p name="Panel" class="C_GUIMouseMove" value="C_D3DXMESH9_BOX; GuiPanel; GuiPanelAt;" bound="box"/>
  <k name="Knob" class="C_GUIMouseMove" value="C_D3DXMESH9_BOX; GuiKnob; GuiKnobAt; ; 1; Panel;" bound="box"/>
  <i name="Info" class="C_DrawInformation"/>
  <f name="Fps" class="C_CalculateFPS"/>
</scene>
)";

double Parse(const std::wstring& text) { return std::wcstod(text.c_str(), nullptr); }

}  // namespace

class OverlayTest : public SceneResourceTest {
protected:
    void SetUp() override
    {
        SceneResourceTest::SetUp();
        for (const wchar_t* line : {L"GuiFull = 0; 0; 1; 1", L"GuiButton = 40; 20; 4", L"GuiButtonAt = 30; 40; 0",
                                    L"GuiPanel = 100; 60; 4", L"GuiPanelAt = -100; -50; 0", L"GuiKnob = 16; 16; 4",
                                    L"GuiKnobAt = 30; 0; -5"})
            C_D3DXSTRING::C_AllStrings::Instance().AddLine(line);
        C_QueueRendering::InstallInsert();
        C_BaseCamera::InstallModuleSupport();
        PortInputClearInjected();
        auto& common = C_BaseObject::CommonData();
        common.Input.Initialise(nullptr);
        ASSERT_EQ(common.Input.InitResult, 0);
        common.ScreenWidth = 800;
        common.ScreenHeight = 600;
        common.Time = 10000;
        MoveMouse(-50, -50);
        // Every test starts as the process does.
        C_CalculateFPS::RestartCount();
        C_CalculateFPS::Shared().FontDescription = L"Courier New; 24; 900;";
        C_DrawInformation::FontDescription() = L"Courier New; 12; 900;";
    }
    void TearDown() override
    {
        C_QueueRendering::Instance().ClearQueues();
        auto& common = C_BaseObject::CommonData();
        common.Input.Release();
        PortInputClearInjected();
        common.ScreenWidth = common.ScreenHeight = 0;
        SceneResourceTest::TearDown();
    }

    void Load(int screenHeight)
    {
        C_BaseObject::CommonData().ScreenHeight = screenHeight;
        WriteFile("gui.xml", kScene);
        module = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"Root", L""));
        ASSERT_NE(module, nullptr);
        *module << Path("gui.xml");
        LoadRun();
        camera = dynamic_cast<C_BaseCamera*>(Managers().GetResource(L"GuiCam"));
        button = dynamic_cast<C_BaseGUIObject*>(Managers().GetResource(L"Button"));
        panel = dynamic_cast<C_GUIMouseMove*>(Managers().GetResource(L"Panel"));
        knob = dynamic_cast<C_GUIMouseMove*>(Managers().GetResource(L"Knob"));
        info = dynamic_cast<C_DrawInformation*>(Managers().GetResource(L"Info"));
        fps = dynamic_cast<C_CalculateFPS*>(Managers().GetResource(L"Fps"));
        ASSERT_TRUE(camera && button && panel && knob && info && fps);
    }
    void LoadRun()
    {
        int steps = 0;
        while (Managers().Load(&device) && ++steps < 100) {}
    }

    // One frame as the window runs it.
    void Frame()
    {
        auto& common = C_BaseObject::CommonData();
        common.Time += 16;
        common.Input.ReadKeyboard();
        common.Input.ReadMouse();
        module->Update();
        module->AddToRenderQueue();
        C_QueueRendering& queue = C_QueueRendering::Instance();
        common.RenderPass = 1;
        queue.Draw(&device);
        common.RenderPass = 0;
        queue.Draw(&device);
        queue.ClearQueues();
    }

    // The cursor as the window's mouse-move handler records it.
    static void MoveMouse(int x, int y)
    {
        C_BaseObject::CommonData().MouseX = x;
        C_BaseObject::CommonData().MouseY = y;
    }
    // The pixel over world point (x, y) of the plane z = 0.
    static void MouseOver(float x, float y)
    {
        const auto& common = C_BaseObject::CommonData();
        MoveMouse(common.ScreenWidth / 2 + int(std::lround(x)), common.ScreenHeight / 2 - int(std::lround(y)));
    }
    static D3DXVECTOR3 WorldOf(C_TiedPositionObject* object) { return object->GetPosition(); }

    C_BaseModule* module = nullptr;
    C_BaseCamera* camera = nullptr;
    C_BaseGUIObject* button = nullptr;
    C_GUIMouseMove* panel = nullptr;
    C_GUIMouseMove* knob = nullptr;
    C_DrawInformation* info = nullptr;
    C_CalculateFPS* fps = nullptr;
};

// ---------------------------------------------------------------------------
// Frames per second

TEST_F(OverlayTest, TheCounterShowsItsLabelUntilASecondHasPassedThenTheFrames)
{
    Load(600);
    EXPECT_EQ(fps->Text, L"FPS:");
    EXPECT_EQ(fps->Flags, 0u);
    EXPECT_EQ(fps->Colour, 0xFFFF0000u);
    EXPECT_EQ(fps->Rect1024[0], 10);
    EXPECT_EQ(fps->Rect1024[1], 10);
    EXPECT_EQ(fps->Rect1024[2], 1024);
    ASSERT_NE(fps->Font, nullptr);
    EXPECT_EQ(fps->Font->Name, L"Courier New; 24; 900;");
    EXPECT_EQ(fps->ResourceLevel, 1);

    // The camera is over a thousand units away, yet the counter is updated
    // every frame: 59 frames inside the first second, counted from the first.
    auto& common = C_BaseObject::CommonData();
    const uint32_t first = common.Time + 16;
    for (int frame = 0; frame < 59; ++frame) Frame();
    EXPECT_EQ(common.Time, first + 928);
    EXPECT_EQ(fps->Text, L"FPS:");
    common.Time = first + 999 - 16;
    Frame();
    EXPECT_EQ(fps->Text, L"FPS:") << "999 ms is not yet a second";
    common.Time = first + 1000 - 16;
    Frame();   // exactly a second after the first
    EXPECT_EQ(fps->Text, L"FPS: 60") << "the frames after the first one, which started the clock";
    // The count starts again from that frame: 20 frames of 50 ms.
    for (int frame = 0; frame < 19; ++frame) {
        common.Time += 34;
        Frame();
    }
    EXPECT_EQ(fps->Text, L"FPS: 60");
    common.Time += 34;
    Frame();
    EXPECT_EQ(fps->Text, L"FPS: 20");
}

TEST_F(OverlayTest, SeveralCountersCountEachFrameOnceAndShowTheSameFigure)
{
    Load(600);
    auto* second = static_cast<C_CalculateFPS*>(Managers().AddResource(L"C_CalculateFPS", L"Fps2", L""));
    second->Load(&device);
    module->AddToModule(second);
    // A frame every 100 ms: ten frames a second.
    for (int frame = 0; frame < 21; ++frame) {
        C_BaseObject::CommonData().Time += 84;
        Frame();
        if (frame == 10) {
            EXPECT_EQ(fps->Text, L"FPS: 10");
        }
    }
    EXPECT_EQ(fps->Text, L"FPS: 10");
    EXPECT_EQ(second->Text, L"FPS: 10");
    // With one of them disabled the other goes on counting alone.
    fps->SetStatus(C_BaseObject::Disabled);
    for (int frame = 0; frame < 5; ++frame) {
        C_BaseObject::CommonData().Time += 184;
        Frame();
    }
    EXPECT_EQ(second->Text, L"FPS: 5");
    EXPECT_EQ(fps->Text, L"FPS: 10");
}

TEST_F(OverlayTest, AValueStringIsTheFontOfEveryTextOfItsClassLoadedAfterIt)
{
    Load(600);
    auto make = [this](const wchar_t* className, const wchar_t* name, const wchar_t* value) {
        auto* text = static_cast<C_BaseText2D*>(Managers().AddResource(className, name, value));
        text->Load(&device);
        return text;
    };
    C_BaseText2D* big = make(L"C_CalculateFPS", L"BigFps", L"DejaVu Sans; 40; 700;");
    ASSERT_NE(big->Font, nullptr);
    EXPECT_EQ(big->Font->Name, L"DejaVu Sans; 40; 700;");
    EXPECT_EQ(big->Text, L"FPS:") << "the value is a font, not a text";
    C_BaseText2D* plain = make(L"C_CalculateFPS", L"PlainFps", L"");
    EXPECT_EQ(plain->Font, big->Font);
    EXPECT_EQ(fps->Font->Name, L"Courier New; 24; 900;") << "loaded before keeps its font";

    // The information texts keep a description of their own.
    ASSERT_NE(info->Font, nullptr);
    EXPECT_EQ(info->Font->Name, L"Courier New; 12; 900;");
    C_BaseText2D* infoPlain = make(L"C_DrawInformation", L"Info2", L"  ");
    EXPECT_EQ(infoPlain->Font, info->Font) << "a blank value is no font";
    C_BaseText2D* infoBig = make(L"C_DrawInformation", L"Info3", L"Liberation Mono; 18; 400;");
    EXPECT_EQ(infoBig->Font->Name, L"Liberation Mono; 18; 400;");
    EXPECT_EQ(make(L"C_DrawInformation", L"Info4", L"")->Font, infoBig->Font);
    EXPECT_EQ(make(L"C_CalculateFPS", L"Fps5", L"")->Font, big->Font);
}

// ---------------------------------------------------------------------------
// Information text

TEST_F(OverlayTest, InformationShowsTheCameraAloneOrWithTheObjectUnderTheCursor)
{
    Load(600);
    EXPECT_EQ(info->Flags, 0x2u | 0x8u);
    EXPECT_EQ(info->Colour, 0xFFFFFFFFu);
    EXPECT_EQ(info->Rect1024[0], 10);
    EXPECT_EQ(info->Rect1024[3], 1013);
    EXPECT_EQ(info->ResourceLevel, 1);

    // The GUI camera stands d in front of the plane z = 0, d making one
    // unit a pixel for 600 lines at 30 degrees.
    const double d = 300.0 / std::tan(0.5235988 / 2.0);
    Frame();
    const std::wstring cameraLine = L"\r\nПозиция камеры: ";
    ASSERT_EQ(info->Text.rfind(cameraLine, 0), 0u) << "only the camera line";
    std::wstring numbers = info->Text.substr(cameraLine.size());
    EXPECT_EQ(numbers.substr(0, 12), L"0.000 0.000 ");
    EXPECT_NEAR(Parse(numbers.substr(12)), -d, 0.002);
    EXPECT_EQ(numbers.find(L"\r\n"), std::wstring::npos);

    // Over the button: its name and its distance to the camera come first.
    MouseOver(30, 40);
    Frame();   // picked
    Frame();   // drawn with the pick of this frame
    const std::wstring nameLine = L"\r\nПод курсором: Button\r\nРасстояние до камеры: ";
    ASSERT_EQ(info->Text.rfind(nameLine, 0), 0u) << testing::PrintToString(info->Text);
    const std::wstring rest = info->Text.substr(nameLine.size());
    EXPECT_NEAR(Parse(rest), std::sqrt(30.0 * 30.0 + 40.0 * 40.0 + d * d), 0.002);
    const std::size_t at = rest.find(cameraLine);
    ASSERT_NE(at, std::wstring::npos);
    EXPECT_EQ(rest.substr(at + cameraLine.size(), 12), L"0.000 0.000 ");
}

TEST_F(OverlayTest, InformationOutsideAnyCameraIsEmpty)
{
    Load(600);
    MouseOver(30, 40);
    Frame();
    ASSERT_EQ(camera->ObjectUnderCursor, button);
    // Drawn before any camera (or after a non-camera became current).
    C_BaseObject::CommonData().CurrentCamera = nullptr;
    info->Draw(&device);
    EXPECT_EQ(info->Text, L"");
    C_BaseObject::CommonData().CurrentCamera = fps;
    info->Draw(&device);
    EXPECT_EQ(info->Text, L"");
}

// ---------------------------------------------------------------------------
// GUI elements

TEST_F(OverlayTest, OnA1200LineScreenUntiedElementsStandTwiceAsFarOutAndTwiceAsLarge)
{
    Load(1200);
    EXPECT_EQ(button->ResourceLevel, 2);
    EXPECT_FLOAT_EQ(button->ScreenFactor, 2.0f);
    EXPECT_FLOAT_EQ(button->HoverScale, 1.5f);
    Frame();
    EXPECT_FLOAT_EQ(button->X, 60.0f);
    EXPECT_FLOAT_EQ(button->Y, 80.0f);
    EXPECT_FLOAT_EQ(button->ScaleX, 2.0f);
    EXPECT_FLOAT_EQ(button->TiedWorld._11, 2.0f);
    EXPECT_FLOAT_EQ(button->TiedWorld._33, 2.0f);
    EXPECT_FLOAT_EQ(button->TiedWorld._41, 60.0f);
    EXPECT_FLOAT_EQ(button->TiedWorld._42, 80.0f);
    // The box is picked where it is drawn: 40 x 20 doubled around (60, 80).
    MouseOver(60 + 42, 80);
    Frame();
    EXPECT_EQ(camera->ObjectUnderCursor, nullptr);
    MouseOver(60 + 38, 80 + 18);
    Frame();
    EXPECT_EQ(camera->ObjectUnderCursor, button);

    // A tied element keeps its parent's units: factor 1, position as given.
    EXPECT_FLOAT_EQ(knob->ScreenFactor, 1.0f);
    EXPECT_FLOAT_EQ(knob->X, 30.0f);
    EXPECT_FLOAT_EQ(knob->Z, -5.0f);
    // It rides on the doubled panel: 30 units of the panel are 60 pixels.
    EXPECT_FLOAT_EQ(WorldOf(knob).x, -200.0f + 60.0f);
    EXPECT_FLOAT_EQ(WorldOf(knob).y, -100.0f);

    // On 600 lines nothing changes.
    Managers().Clear();
    Load(600);
    Frame();
    EXPECT_FLOAT_EQ(button->TiedWorld._11, 1.0f);
    EXPECT_FLOAT_EQ(button->TiedWorld._41, 30.0f);
    EXPECT_FLOAT_EQ(button->TiedWorld._42, 40.0f);
}

TEST_F(OverlayTest, AnElementGrowsOnlyWhileTheCursorRestsOnIt)
{
    Load(1200);
    MouseOver(60, 80);
    Frame();   // picked: status 1
    EXPECT_EQ(button->CursorStatus.Value, 1);
    Frame();   // the update sees it
    EXPECT_FLOAT_EQ(button->TiedWorld._11, 3.0f) << "screen factor 2 times the declared 1.5";
    EXPECT_FLOAT_EQ(button->TiedWorld._22, 3.0f);
    EXPECT_FLOAT_EQ(button->TiedWorld._41, 60.0f) << "it grows in place";

    // Pressed it is not grown, and the right button neither.
    PortInputInjectMouseButton(0, true);
    Frame();
    EXPECT_EQ(button->CursorStatus.Value, 2);
    Frame();
    EXPECT_FLOAT_EQ(button->TiedWorld._11, 2.0f);
    PortInputInjectMouseButton(0, false);
    PortInputInjectMouseButton(1, true);
    Frame();
    Frame();
    EXPECT_EQ(button->CursorStatus.Value, 3);
    EXPECT_FLOAT_EQ(button->TiedWorld._11, 2.0f);
    PortInputInjectMouseButton(1, false);

    // Away from it, it shrinks back.
    Frame();
    Frame();
    EXPECT_FLOAT_EQ(button->TiedWorld._11, 3.0f);
    MouseOver(300, 300);
    Frame();
    Frame();
    EXPECT_EQ(button->CursorStatus.Value, 0);
    EXPECT_FLOAT_EQ(button->TiedWorld._11, 2.0f);
}

TEST_F(OverlayTest, GUIElementsAreDrawnInTheMainPassOnly)
{
    Load(600);
    Frame();
    auto& common = C_BaseObject::CommonData();
    device.draws.clear();
    device.Calls.clear();
    common.RenderPass = 1;
    button->Draw(&device);
    panel->Draw(&device);
    EXPECT_TRUE(device.draws.empty());
    EXPECT_TRUE(device.CallsOf("world").empty());
    common.RenderPass = 0;
    button->Draw(&device);
    EXPECT_FALSE(device.draws.empty());
    EXPECT_FLOAT_EQ(device.World._41, 30.0f);
}

TEST_F(OverlayTest, DraggingMovesAnElementByTheCursorsStepWhateverTheScreen)
{
    for (const int height : {600, 1200, 900}) {
        SCOPED_TRACE(height);
        Managers().Clear();
        Load(height);
        const float factor = float(height) / 600.0f;
        EXPECT_FLOAT_EQ(panel->X, -100.0f * factor);
        // Grab the panel away from the knob.
        const float grabX = panel->X - 30.0f, grabY = panel->Y;
        MouseOver(grabX, grabY);
        Frame();
        PortInputInjectMouseButton(0, true);
        Frame();   // picked with the button down: status 2
        EXPECT_EQ(panel->CursorStatus.Value, 2);
        // 10 pixels right, 5 down.
        MoveMouse(C_BaseObject::CommonData().MouseX + 10, C_BaseObject::CommonData().MouseY + 5);
        Frame();
        EXPECT_FLOAT_EQ(panel->X, -100.0f * factor + 10.0f);
        EXPECT_FLOAT_EQ(panel->Y, -50.0f * factor - 5.0f);
        EXPECT_FLOAT_EQ(WorldOf(panel).x, -100.0f * factor + 10.0f);
        // The knob rides along.
        EXPECT_FLOAT_EQ(WorldOf(knob).x, WorldOf(panel).x + 30.0f * factor);
        // Held still, it stays.
        Frame();
        EXPECT_FLOAT_EQ(panel->X, -100.0f * factor + 10.0f);
        // Released, moving the mouse leaves it where it is.
        PortInputInjectMouseButton(0, false);
        Frame();
        MoveMouse(C_BaseObject::CommonData().MouseX + 7, C_BaseObject::CommonData().MouseY);
        Frame();
        EXPECT_FLOAT_EQ(panel->X, -100.0f * factor + 10.0f);
    }
}

TEST_F(OverlayTest, ATiedElementFollowsTheCursorOnItsScaledParent)
{
    Load(1200);
    Frame();
    const D3DXVECTOR3 start = WorldOf(knob);
    MouseOver(start.x, start.y);
    PortInputInjectMouseButton(0, true);
    Frame();
    ASSERT_EQ(knob->CursorStatus.Value, 2) << "the knob stands in front of the panel";
    MoveMouse(C_BaseObject::CommonData().MouseX + 10, C_BaseObject::CommonData().MouseY + 5);
    Frame();
    Frame();   // the tied matrix follows the parent's of the last frame
    EXPECT_NEAR(WorldOf(knob).x, start.x + 10.0f, 1e-3);
    EXPECT_NEAR(WorldOf(knob).y, start.y - 5.0f, 1e-3);
    EXPECT_NEAR(knob->X, 30.0f + 5.0f, 1e-4) << "half as far in the panel's doubled units";
    EXPECT_FLOAT_EQ(WorldOf(panel).x, -200.0f) << "the panel stays";
}

TEST_F(OverlayTest, AfterAReloadTheCursorIsMeasuredAfresh)
{
    Load(600);
    MouseOver(-130, -50);
    PortInputInjectMouseButton(0, true);
    Frame();
    Frame();
    ASSERT_EQ(panel->CursorStatus.Value, 2);
    EXPECT_FLOAT_EQ(panel->X, -100.0f);
    // The device goes away and comes back; meanwhile the cursor moved.
    Managers().ReleaseDeviceObjects();
    LoadRun();
    MoveMouse(C_BaseObject::CommonData().MouseX + 3, C_BaseObject::CommonData().MouseY + 3);
    Frame();
    EXPECT_FLOAT_EQ(panel->X, -100.0f) << "no jump by the move made while unloaded";
    EXPECT_FLOAT_EQ(panel->Y, -50.0f);
    MoveMouse(C_BaseObject::CommonData().MouseX + 4, C_BaseObject::CommonData().MouseY);
    Frame();
    EXPECT_FLOAT_EQ(panel->X, -96.0f) << "and dragging goes on from there";
}

TEST_F(OverlayTest, ScriptPositionsOfUntiedElementsAreInLayoutUnits)
{
    Load(1200);
    const double id = C_BaseObject::ToID(button);
    EXPECT_DOUBLE_EQ(C_PositionObject::GetPositionX(id), 30.0);
    EXPECT_DOUBLE_EQ(C_PositionObject::GetPositionY(id), 40.0);
    // Setting one coordinate leaves the others where they are, however often.
    for (int i = 0; i < 3; ++i) C_PositionObject::SetPositionX(id, 50.0);
    EXPECT_FLOAT_EQ(button->X, 100.0f);
    EXPECT_FLOAT_EQ(button->Y, 80.0f);
    EXPECT_DOUBLE_EQ(C_PositionObject::GetPositionX(id), 50.0);
    C_PositionObject::SetPositionY(id, C_PositionObject::GetPositionY(id) + 1.0);
    EXPECT_FLOAT_EQ(button->Y, 82.0f);
    EXPECT_FLOAT_EQ(button->X, 100.0f);
    // A tied element takes its parent's units unchanged.
    const double knobId = C_BaseObject::ToID(knob);
    C_PositionObject::SetPositionX(knobId, 12.0);
    EXPECT_FLOAT_EQ(knob->X, 12.0f);
    EXPECT_FLOAT_EQ(knob->Z, -5.0f);
    EXPECT_DOUBLE_EQ(C_PositionObject::GetPositionZ(knobId), -5.0);
}

TEST_F(OverlayTest, AScreenOfNoHeightLeavesTheLayoutAsGivenWithAWarning)
{
    Load(0);
    EXPECT_TRUE(Logged(L"Высота экрана не задана (0)"));
    EXPECT_FLOAT_EQ(button->ScreenFactor, 1.0f);
    EXPECT_FLOAT_EQ(button->ScaleX, 1.0f);
    EXPECT_FLOAT_EQ(panel->X, -100.0f);
    Frame();
    EXPECT_FLOAT_EQ(button->TiedWorld._11, 1.0f);
    // Scripts read and write positions without dividing by nothing.
    C_PositionObject::SetPositionY(C_BaseObject::ToID(panel), 7.0);
    EXPECT_FLOAT_EQ(panel->Y, 7.0f);
    EXPECT_DOUBLE_EQ(C_PositionObject::GetPositionX(C_BaseObject::ToID(panel)), -100.0);
}

// ---------------------------------------------------------------------------
// Window caption

class WindowNameTest : public SceneResourceTest {
protected:
    C_MainWindowName* Make(const wchar_t* value)
    {
        auto* object = static_cast<C_MainWindowName*>(Managers().AddResource(L"C_MainWindowName", L"Caption", value));
        EXPECT_NE(object, nullptr);
        return object;
    }
};

TEST_F(WindowNameTest, LoadingSetsTheMainWindowsCaptionToFieldZero)
{
    CWinApp app;
    CWnd window;
    RECT rect{0, 0, 64, 48};
    ASSERT_TRUE(window.CreateEx(0, L"", L"Scene", WS_POPUP | WS_CAPTION, rect, nullptr, 0));
    app.m_pMainWnd = &window;
    C_MainWindowName* name = Make(L"Фрезерный станок; ignored");
    EXPECT_EQ(name->ResourceLevel, 0);
    EXPECT_EQ(window.GetWindowText(), L"Scene") << "nothing happens before loading";
    name->Load(&device);
    EXPECT_EQ(window.GetWindowText(), L"Фрезерный станок");
    EXPECT_FALSE(Logged(L"Нет главного окна"));
    // Not an object that modules list.
    EXPECT_EQ(dynamic_cast<ContainedInModule*>(static_cast<C_BaseObject*>(name)), nullptr);
    app.m_pMainWnd = nullptr;
    window.DestroyWindow();
}

TEST_F(WindowNameTest, WithoutAMainWindowLoadingOnlyWarns)
{
    CWinApp app;
    C_MainWindowName* name = Make(L"Заголовок");
    name->Load(&device);
    EXPECT_TRUE(Logged(L"Нет главного окна, заголовок не установлен: Заголовок"));
    // A main window object whose window is gone.
    CWnd closed;
    app.m_pMainWnd = &closed;
    name->Load(&device);
    EXPECT_EQ(CountLogged(L"Нет главного окна"), 2u);
    app.m_pMainWnd = nullptr;
}
