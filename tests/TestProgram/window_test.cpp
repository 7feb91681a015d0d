#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "BaseClasses/Base3DWindow.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/MessageBox.h"
#include "Common/ScratchFolder.h"
#include "Logger/Logger.h"
#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/BaseCamera.h"
#include "Render/GUI/LoadScreen.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"
// The test window is part of the program, not of the engine library.
#include "TestProgram/Test3DWindow.cpp"
#include "port/dinput8/dinput_hooks.h"
#include "spine_support/FakeDirect3D.h"

// A scene object whose frame behaviour a test chooses.
class Probe : public C_BaseResource, public ContainedInModule {
    TW_POOLED_CLASS(Probe)
public:
    enum Action { Nothing, ThrowStd, ThrowOther, SwitchModule, CallExit };
    void Update() override
    {
        ++Updates;
        if (Next == ThrowStd) throw std::runtime_error("probe failed");
        if (Next == ThrowOther) throw 42;
        if (Next == CallExit) {
            Next = Nothing;
            C_BaseObject::Exit();
            ExitedAlive = C_BaseObject::IsLive(this);
        }
        if (Next == SwitchModule) {
            Next = Nothing;
            C_Base3DWindow::LoadMainModule(OtherModule);
        }
    }
    void Draw(IDirect3DDevice9*) override { ++Draws; }
    static inline Action Next = Nothing;
    static inline std::string OtherModule;
    static inline int Updates = 0;
    static inline int Draws = 0;
    static inline bool ExitedAlive = false;
};
TW_REGISTER_CLASS_AS(Probe, "TestProbe")

namespace {

FakeDirect3D* g_fake = nullptr;
IDirect3D9* MakeFake(UINT) { return g_fake; }
std::vector<std::wstring> g_boxes;
void RecordBox(std::wstring_view text, std::wstring_view) { g_boxes.emplace_back(text); }

// The probes sit next to the camera, so the module updates them.
const char* const kScene = R"(<?xml version="1.0" encoding="UTF-8"?>
<scene name="Scene" class="C_BaseModule">
  <object name="Cam" class="C_FirstFaceCamera" value=";;0xFF102030;"/>
  <object name="p" class="TestProbe"/>
</scene>
)";

}  // namespace

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = dir.path() / "program";
        std::filesystem::create_directories(program);
        ScratchFolder::Write(program / "MainModule.xml", kScene);
        ScratchFolder::Write(program / "Other.xml",
                             "<o name=\"Other\" class=\"C_BaseModule\"><x name=\"Cam2\" class=\"C_GUICamera\"/></o>");
        VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(program));
        previousFolder = std::filesystem::current_path();
        g_fake = &fake;
        C_Direct3D9Settings::CreateDirect3D = &MakeFake;
        previousBox = VORTALEX::SetMessageBoxHandler(&RecordBox);
        g_boxes.clear();
        C_Base3DWindow::ExceptionCount = 0;
        Probe::Next = Probe::Nothing;
        Probe::Updates = Probe::Draws = 0;
        Probe::OtherModule = (program / "Other.xml").string();
        PortInputClearInjected();
        C_QueueRendering::InstallInsert();
        C_BaseCamera::InstallModuleSupport();
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::Activate(logger::Mock);
    }
    void TearDown() override
    {
        window.reset();
        C_ResManager::Instance().Clear();
        PortInputClearInjected();
        VORTALEX::SetMessageBoxHandler(previousBox);
        C_Direct3D9Settings::CreateDirect3D = &Direct3DCreate9;
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::SetOption(logger::OptionFolder, L"logger");
        logger::Logger::SetOption(logger::OptionRepetitions, L"1");
        std::filesystem::current_path(previousFolder);
        VORTALEX::OverrideProgramFolder(L"");
    }

    template <class Window = C_Test3DWindow>
    void Open()
    {
        window = std::make_unique<Window>();
        logger::Logger::SetOption(logger::OptionRepetitions, L"1");
        app.m_pMainWnd = window.get();
        ASSERT_TRUE(window->Create3DWindow());
        // The file manager serves the folder of the first test's program;
        // absolute paths are read from disk.
        window->m_MainModule = VORTALEX::PathToWide(program / "MainModule.xml");
        ASSERT_NE(fake.device, nullptr);
    }
    FakeDevice& device() { return *fake.device; }
    // Frames until loading has finished.
    void LoadFully()
    {
        for (int i = 0; i < 50 && (window->m_Reload || window->m_Loading); ++i) window->Render();
        ASSERT_FALSE(window->m_Loading);
    }
    static std::wstring Log() { return logger::Logger::Instance().MockText(); }
    C_BaseObject* Child(const wchar_t* name)
    {
        for (C_BaseObject* object : *window)
            if (object->Name == name) return object;
        return nullptr;
    }

    ScratchFolder dir;
    std::filesystem::path program;
    std::filesystem::path previousFolder;
    VORTALEX::MessageBoxHandler previousBox = nullptr;
    FakeDirect3D fake;
    CWinApp app;
    std::unique_ptr<C_Base3DWindow> window;
};

TEST_F(WindowTest, DeviceIsCreatedWithTheAddedFlagsAndTheTextureFilter)
{
    Open();
    EXPECT_EQ(fake.createdFlags, DWORD(64 | D3DCREATE_MULTITHREADED | D3DCREATE_FPU_PRESERVE));
    EXPECT_EQ(fake.createdWindow, window->m_hWnd);
    EXPECT_EQ(fake.createdParameters.hDeviceWindow, window->m_hWnd);
    EXPECT_EQ(fake.createdParameters.BackBufferWidth, 800u);
    const std::vector<std::string> filters = {"SetSamplerState 0 " + std::to_string(D3DSAMP_MAGFILTER),
                                              "SetSamplerState 0 " + std::to_string(D3DSAMP_MINFILTER)};
    EXPECT_EQ(device().calls, filters);
    EXPECT_EQ((device().samplerStates[{0, D3DSAMP_MINFILTER}]), DWORD(D3DTEXF_LINEAR));
    EXPECT_TRUE(window->m_Reload);
    EXPECT_TRUE(window->IsWindowVisible());
    EXPECT_EQ(window->GetStyle(), DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(window->GetExStyle(), DWORD(WS_EX_TOPMOST));
    EXPECT_EQ(C_BaseObject::CommonData().ScreenWidth, 800);
}

TEST_F(WindowTest, WithoutDirect3DOrADeviceNoWindowIsMade)
{
    fake.createResult = E_FAIL;
    window = std::make_unique<C_Test3DWindow>();
    EXPECT_FALSE(window->Create3DWindow());
    EXPECT_EQ(window->m_hWnd, nullptr);
    EXPECT_EQ(window->m_pDirect3DDevice, nullptr);
    C_Direct3D9Settings::CreateDirect3D = [](UINT) -> IDirect3D9* { return nullptr; };
    C_Test3DWindow bare;
    EXPECT_FALSE(bare.Create3DWindow());
}

TEST_F(WindowTest, MainModuleComesFromTheCommandLineOrTheTextTable)
{
    EXPECT_EQ(C_Base3DWindow::MainModuleFor(L"scenes\\my scene.xml"), L"scenes\\my scene.xml");
    EXPECT_EQ(C_Base3DWindow::MainModuleFor(L""), L"MainModule.xml");
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"MainModule = modules\\Start.xml");
    C_ResManager::Instance().Clear();
    EXPECT_EQ(C_Base3DWindow::MainModuleFor(L""), L"modules\\Start.xml");
}

TEST_F(WindowTest, FirstFramesLoadBehindTheLoadScreenThenShowTheScene)
{
    Open();
    window->Render();   // reload: module read, load screen up
    EXPECT_FALSE(window->m_Reload);
    EXPECT_TRUE(window->m_Loading);
    EXPECT_EQ(window->Name, L"Scene");
    EXPECT_EQ(window->GetWindowText(), L"Scene");
    ASSERT_NE(Child(L"Scene"), nullptr);
    EXPECT_EQ(Child(L"Scene")->GetStatus(), C_BaseObject::Disabled);
    EXPECT_EQ(window->m_pLoadScreen->GetStatus(), C_BaseObject::Visible);
    EXPECT_EQ(device().presents, 1);
    EXPECT_EQ(window->m_pLoadScreen->Progress.Text, L"0%") << "only the pure resource is loaded";
    LoadFully();
    EXPECT_EQ(Child(L"Scene")->GetStatus(), C_BaseObject::Visible);
    EXPECT_EQ(window->m_pLoadScreen->GetStatus(), C_BaseObject::Disabled);
    EXPECT_EQ(window->m_pLoadScreen->Progress.Text.back(), L'%');
    // Running: the scene's camera clears to its colour every frame.
    device().clears.clear();
    const int draws = Probe::Draws;
    window->Render();
    ASSERT_FALSE(device().clears.empty());
    EXPECT_EQ(device().clears.back().color, 0xFF102030u);
    EXPECT_EQ(Probe::Draws, draws + 1);
    EXPECT_EQ(device().textures.size() % 8, 0u) << "stages 0 to 7 are unbound after every frame";
    EXPECT_EQ(device().textures.back(), std::make_pair(DWORD(7), static_cast<IDirect3DBaseTexture9*>(nullptr)));
}

TEST_F(WindowTest, TheEleventhExceptionClosesAtTheNextFrame)
{
    Open();
    LoadFully();
    Probe::Next = Probe::ThrowStd;
    for (int i = 0; i < 10; ++i) window->Render();
    Probe::Next = Probe::ThrowOther;
    window->Render();
    EXPECT_EQ(C_Base3DWindow::ExceptionCount, 11);
    EXPECT_NE(window->m_hWnd, nullptr) << "the 11th does not close";
    EXPECT_NE(Log().find(L"warning:\tprobe failed\n"), std::wstring::npos);
    EXPECT_NE(Log().find(L"warning:\tНеизвестное исключение\n"), std::wstring::npos);
    const int presents = device().presents;
    window->Render();
    EXPECT_EQ(window->m_hWnd, nullptr);
    EXPECT_EQ(fake.device->refs, 1u) << "the device was released when the window closed";
    EXPECT_EQ(device().presents, presents);
}

TEST_F(WindowTest, EscapeClosesOnlyTheTestWindow)
{
    PortInputInjectKey(DIK_ESCAPE, true);
    Open<C_Base3DWindow>();
    for (int i = 0; i < 3; ++i) window->Render();
    EXPECT_NE(window->m_hWnd, nullptr);
    window.reset();
    C_ResManager::Instance().Clear();
    Open<C_Test3DWindow>();
    window->Render();
    EXPECT_EQ(window->m_hWnd, nullptr);
}

TEST_F(WindowTest, SwitchingModulesDuringTheUpdateEndsTheFrameBeforeDrawing)
{
    Open();
    LoadFully();
    Probe::Next = Probe::SwitchModule;
    const int presents = device().presents;
    const int scenes = device().scenes;
    window->Render();
    EXPECT_TRUE(window->m_Reload);
    EXPECT_EQ(device().presents, presents);
    EXPECT_EQ(device().scenes, scenes);
    window->Render();
    EXPECT_EQ(window->m_MainModule, VORTALEX::PathToWide(program / "Other.xml"));
    EXPECT_EQ(window->Name, L"Other");
    EXPECT_NE(Child(L"Other"), nullptr);
    EXPECT_EQ(Child(L"Scene"), nullptr);
}

TEST_F(WindowTest, LoadMainModuleWithoutAWindowOnlyWarns)
{
    EXPECT_EQ(C_Base3DWindow::LoadMainModule("x.xml"), 0.0);
    EXPECT_NE(Log().find(L"warning:\t!pWnd\n"), std::wstring::npos);
}

TEST_F(WindowTest, AResetReloadsEverythingAndRestoresEveryStatus)
{
    Open();
    LoadFully();
    C_BaseObject* scene = Child(L"Scene");
    ASSERT_NE(scene, nullptr);
    auto* disabled = static_cast<Probe*>(C_ResManager::Instance().AddResource(L"TestProbe", L"off", L""));
    auto* hidden = static_cast<Probe*>(C_ResManager::Instance().AddResource(L"TestProbe", L"hidden", L""));
    window->AddToModule(disabled);
    window->AddToModule(hidden);
    disabled->SetStatus(C_BaseObject::Disabled);
    hidden->SetStatus(C_BaseObject::NotRender);

    device().cooperativeLevel = D3DERR_DEVICELOST;
    const int presents = device().presents;
    window->Render();
    EXPECT_EQ(device().resets, 0);
    EXPECT_EQ(device().presents, presents);

    device().cooperativeLevel = D3DERR_DEVICENOTRESET;
    device().calls.clear();
    window->Render();
    EXPECT_EQ(device().resets, 1);
    EXPECT_TRUE(window->m_Loading);
    EXPECT_EQ(device().Count("SetSamplerState 0 " + std::to_string(D3DSAMP_MINFILTER)), 1);
    EXPECT_EQ(scene->GetStatus(), C_BaseObject::Disabled);
    EXPECT_EQ(hidden->GetStatus(), C_BaseObject::Disabled);
    EXPECT_EQ(window->m_pLoadScreen->GetStatus(), C_BaseObject::Visible);
    LoadFully();
    EXPECT_EQ(scene->GetStatus(), C_BaseObject::Visible);
    EXPECT_EQ(disabled->GetStatus(), C_BaseObject::Disabled);
    EXPECT_EQ(hidden->GetStatus(), C_BaseObject::NotRender);
    EXPECT_EQ(window->m_pLoadScreen->GetStatus(), C_BaseObject::Disabled);

    // A reset that fails waits and tries again.
    device().cooperativeLevel = D3DERR_DEVICENOTRESET;
    device().resetResult = E_FAIL;
    window->Render();
    EXPECT_FALSE(window->m_Loading);
    EXPECT_EQ(device().resets, 2);
}

TEST_F(WindowTest, TheWheelDeltaLastsUntilTheNextPresent)
{
    Open();
    LoadFully();
    window->SendMessage(WM_MOUSEMOVE, 0, (17 & 0xFFFF) | (23 << 16));
    EXPECT_EQ(C_BaseObject::CommonData().MouseX, 17);
    EXPECT_EQ(C_BaseObject::CommonData().MouseY, 23);
    window->SendMessage(WM_MOUSEWHEEL, static_cast<WPARAM>(static_cast<uint16_t>(-120)) << 16, 0);
    EXPECT_EQ(C_BaseObject::CommonData().MouseWheel, -120);
    device().beginSceneResult = E_FAIL;
    window->Render();
    EXPECT_EQ(C_BaseObject::CommonData().MouseWheel, -120) << "nothing was presented";
    EXPECT_TRUE(C_QueueRendering::Instance().Queues.empty()) << "queues do not pile up";
    device().beginSceneResult = S_OK;
    window->Render();
    EXPECT_EQ(C_BaseObject::CommonData().MouseWheel, 0);
}

TEST_F(WindowTest, ClosingDestroysEveryResourceAndTheSettingsAreWrittenAtExit)
{
    Open();
    LoadFully();
    ASSERT_NE(C_ResManager::Instance().GetResource(L"p", L"TestProbe", false), nullptr);
    window->SendMessage(WM_CLOSE);
    EXPECT_EQ(window->m_hWnd, nullptr);
    EXPECT_EQ(C_ResManager::Instance().GetResource(L"p", L"TestProbe", false), nullptr);
    window.reset();
    VORTALEX::XMLSettings file(L"Video", VORTALEX::PathToWide(program / "settings.xml").c_str());
    EXPECT_EQ(file.GetParameterInt(L"BackBufferWidth"), 800);
}

// The port layer's hook that loses a real device as a minimised full-screen
// window does.
void PortDeviceForceLoss(IDirect3DDevice9* device);

TEST_F(WindowTest, ARealDeviceLossReloadsBehindTheLoadScreen)
{
    C_Direct3D9Settings::CreateDirect3D = &Direct3DCreate9;
    window = std::make_unique<C_Test3DWindow>();
    app.m_pMainWnd = window.get();
    ASSERT_TRUE(window->Create3DWindow());
    window->m_MainModule = VORTALEX::PathToWide(program / "MainModule.xml");
    LoadFully();
    C_BaseObject* scene = Child(L"Scene");
    ASSERT_NE(scene, nullptr);
    auto* hidden = static_cast<Probe*>(C_ResManager::Instance().AddResource(L"TestProbe", L"hidden", L""));
    window->AddToModule(hidden);
    hidden->SetStatus(C_BaseObject::NotRender);

    PortDeviceForceLoss(window->m_pDirect3DDevice);
    window->Render();   // lost: waits
    EXPECT_FALSE(window->m_Loading);
    window->Render();   // can be reset: reset, load screen up
    EXPECT_TRUE(window->m_Loading);
    EXPECT_EQ(scene->GetStatus(), C_BaseObject::Disabled);
    EXPECT_EQ(hidden->GetStatus(), C_BaseObject::Disabled);
    LoadFully();
    EXPECT_EQ(scene->GetStatus(), C_BaseObject::Visible);
    EXPECT_EQ(hidden->GetStatus(), C_BaseObject::NotRender);
    EXPECT_EQ(window->m_pDirect3DDevice->TestCooperativeLevel(), D3D_OK);
    // The device goes with the window, while its context still exists.
    window->SendMessage(WM_CLOSE);
    EXPECT_EQ(window->m_pDirect3DDevice, nullptr);
}

TEST_F(WindowTest, ExitAskedForDuringTheUpdateClosesTheWindowAfterTheFrame)
{
    Open();
    LoadFully();
    Probe::Next = Probe::CallExit;
    Probe::ExitedAlive = false;
    const int presents = device().presents;
    window->Render();
    EXPECT_TRUE(Probe::ExitedAlive) << "nothing was destroyed under the running update";
    EXPECT_NE(window->m_hWnd, nullptr);
    EXPECT_EQ(device().presents, presents + 1) << "the frame was drawn to its end";
    ASSERT_NE(C_ResManager::Instance().GetResource(L"p", L"TestProbe", false), nullptr);
    // The message loop closes the window once the frame is over.
    MSG message;
    while (window->m_hWnd && PortPeekMessage(&message, TRUE)) DispatchMessageW(&message);
    EXPECT_EQ(window->m_hWnd, nullptr);
    EXPECT_EQ(C_ResManager::Instance().GetResource(L"p", L"TestProbe", false), nullptr);
}

TEST_F(WindowTest, ADeviceLostWhileLoadingLoadsEverythingAgainAndStillShowsTheScene)
{
    Open();
    window->Render();   // reload: the load screen is up, the scene's status saved
    window->Render();   // one load step
    ASSERT_TRUE(window->m_Loading);
    ASSERT_GT(C_ResManager::Instance().LoadIndex, 0);
    C_BaseObject* scene = Child(L"Scene");
    ASSERT_NE(scene, nullptr);

    // Lost, reset, and lost again while the load run starts over.
    for (int loss = 0; loss < 2; ++loss) {
        device().cooperativeLevel = D3DERR_DEVICENOTRESET;
        window->Render();
        EXPECT_EQ(device().resets, loss + 1);
        EXPECT_TRUE(window->m_Loading);
        EXPECT_EQ(C_ResManager::Instance().LoadIndex, 0) << "the load run starts over";
        EXPECT_EQ(scene->GetStatus(), C_BaseObject::Disabled);
        EXPECT_EQ(window->m_pLoadScreen->GetStatus(), C_BaseObject::Visible);
        window->Render();
    }
    LoadFully();
    EXPECT_EQ(scene->GetStatus(), C_BaseObject::Visible) << "the status saved before the losses comes back";
    EXPECT_EQ(window->m_pLoadScreen->GetStatus(), C_BaseObject::Disabled);
    const int draws = Probe::Draws;
    window->Render();
    EXPECT_EQ(Probe::Draws, draws + 1) << "the scene is drawn again";
}
