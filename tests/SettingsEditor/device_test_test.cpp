// The device test: its log line by line, the device it creates, and how it
// ends when a step fails.

#include "SettingsEditor/DeviceTest.h"
#include "SettingsEditor/Direct3D9Settings.h"
#include "SettingsEditor/EditorTest.h"
#include "port/win32/afxwin.h"
#include "spine_support/FakeDirect3D.h"

using editor_test::EditorFixture;

namespace {

const std::wstring kSuccessLog =
    L"Регистрация класса окна...\r\nУдачно.\r\n"
    L"Создание окна...\r\nУдачно.\r\n"
    L"Создание 3D устройства...\r\nУдачно.\r\n"
    L"Создание буфера вершин...\r\nУдачно.\r\n"
    L"Блокирование буфера вершин...\r\nУдачно.\r\n"
    L"Создание индексного буфера...\r\nУдачно.\r\n"
    L"Блокирование индексного буфера...\r\nУдачно.\r\n"
    L"Загрузка текстуры...\r\nУдачно.\r\n"
    L"Отображение сцены...\r\nУдачно.\r\n";

const std::wstring kUpToTheDevice =
    L"Регистрация класса окна...\r\nУдачно.\r\nСоздание окна...\r\nУдачно.\r\nСоздание 3D устройства...\r\n";

FakeDirect3D* g_fake = nullptr;
IDirect3D9* MakeFake(UINT) { return g_fake; }

}  // namespace

class DeviceTestTest : public EditorFixture {
protected:
    // Runs the test with the settings as the editor holds them after `edit`.
    C_DeviceTestResult Run(const std::function<void(C_Direct3D9Settings&)>& edit, std::wstring& log)
    {
        C_Direct3D9Settings settings;
        settings.KeepFileUnchanged();
        edit(settings);
        log.clear();
        return C_DeviceTest::RunDeviceTest(settings, [&log](const std::wstring& text) { log += text; });
    }
};

TEST_F(DeviceTestTest, EveryStepSucceedsAndTheCubeSpinsForTheWholeTime)
{
    UseClockStep(100);
    struct Case {
        const char* what;
        std::function<void(C_Direct3D9Settings&)> edit;
    };
    const Case cases[] = {
        {"the defaults", [](C_Direct3D9Settings&) {}},
        // A windowed device of width 0 takes the window's size, as Direct3D's does.
        {"width 0 in a window", [](C_Direct3D9Settings& s) { s.PresentParameters.BackBufferWidth = 0; }},
        {"full screen, no depth buffer, no multisampling",
         [](C_Direct3D9Settings& s) {
             s.PresentParameters.Windowed = FALSE;
             s.PresentParameters.EnableAutoDepthStencil = FALSE;
             s.PresentParameters.MultiSampleType = D3DMULTISAMPLE_NONE;
             s.TextureFilterType = D3DTEXF_POINT;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring log;
        const C_DeviceTestResult result = Run(c.edit, log);
        EXPECT_TRUE(result.success) << editor_test::Utf8(result.failure);
        EXPECT_EQ(log, kSuccessLog);
        // 4501 ms at 100 ms a frame.
        EXPECT_EQ(result.frames, 46);
    }
}

TEST_F(DeviceTestTest, AFailingStepEndsTheTestAtItsAnnouncement)
{
    UseClockStep(100);
    struct Case {
        const char* what;
        std::function<void(C_Direct3D9Settings&)> edit;
        const wchar_t* reason;
    };
    const Case cases[] = {
        {"width 100000", [](C_Direct3D9Settings& s) { s.PresentParameters.BackBufferWidth = 100000; },
         L"D3DERR_NOTAVAILABLE"},
        {"16 samples", [](C_Direct3D9Settings& s) { s.PresentParameters.MultiSampleType = D3DMULTISAMPLE_16_SAMPLES; },
         L"D3DERR_NOTAVAILABLE"},
        {"reference device", [](C_Direct3D9Settings& s) { s.AdapterType = D3DDEVTYPE_REF; }, L"D3DERR_NOTAVAILABLE"},
        {"two back buffers too many", [](C_Direct3D9Settings& s) { s.PresentParameters.BackBufferCount = 5; },
         L"D3DERR_INVALIDCALL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring log;
        const C_DeviceTestResult result = Run(c.edit, log);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(log, kUpToTheDevice);
        EXPECT_NE(result.failure.find(c.reason), std::wstring::npos) << editor_test::Utf8(result.failure);
        EXPECT_EQ(result.frames, 0);
    }
}

// The device is made as the engine makes its own: the stored adapter, type
// and flags with the two the engine always adds, and the texture filter on
// sampler 0. Whatever was made before a failing step is released again.
TEST_F(DeviceTestTest, TheDeviceIsCreatedAsTheEngineCreatesItAndReleasedOnFailure)
{
    FakeDirect3D fake;
    fake.maxColourSamples = fake.maxDepthSamples = 2;
    g_fake = &fake;
    C_Direct3D9Settings::CreateDirect3D = &MakeFake;
    std::wstring log;
    const C_DeviceTestResult result = Run(
        [](C_Direct3D9Settings& s) {
            s.CreateDeviceFlag = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
            s.TextureFilterType = D3DTEXF_ANISOTROPIC;
            s.PresentParameters.BackBufferWidth = 640;
            s.PresentParameters.BackBufferHeight = 480;
        },
        log);
    C_Direct3D9Settings::CreateDirect3D = &Direct3DCreate9;
    // The fake device has no buffers to give.
    EXPECT_FALSE(result.success);
    EXPECT_EQ(log, kUpToTheDevice + L"Удачно.\r\nСоздание буфера вершин...\r\n");
    EXPECT_EQ(fake.createdAdapter, 0u);
    EXPECT_EQ(fake.createdType, D3DDEVTYPE_HAL);
    EXPECT_EQ(fake.createdFlags,
              DWORD(D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED | D3DCREATE_FPU_PRESERVE));
    EXPECT_EQ(fake.createdParameters.BackBufferWidth, 640u);
    EXPECT_EQ(fake.createdParameters.MultiSampleType, D3DMULTISAMPLE_2_SAMPLES) << "the probed type";
    EXPECT_NE(fake.createdWindow, nullptr);
    EXPECT_EQ(fake.createdParameters.hDeviceWindow, fake.createdWindow);
    EXPECT_FALSE(IsWindow(fake.createdWindow)) << "the test window is gone";
    ASSERT_NE(fake.device, nullptr);
    EXPECT_EQ(fake.device->refs, 1u) << "the device was released";
    EXPECT_EQ((fake.device->samplerStates[{0, D3DSAMP_MINFILTER}]), DWORD(D3DTEXF_ANISOTROPIC));
    EXPECT_EQ((fake.device->samplerStates[{0, D3DSAMP_MAGFILTER}]), DWORD(D3DTEXF_ANISOTROPIC));
    EXPECT_EQ(fake.refs, 0u) << "the settings released the Direct3D object";
}

TEST_F(DeviceTestTest, WithoutDirect3DNothingIsTried)
{
    C_Direct3D9Settings::CreateDirect3D = [](UINT) -> IDirect3D9* { return nullptr; };
    std::wstring log;
    const C_DeviceTestResult result = Run([](C_Direct3D9Settings&) {}, log);
    C_Direct3D9Settings::CreateDirect3D = &Direct3DCreate9;
    EXPECT_FALSE(result.success);
    EXPECT_EQ(log, L"");
    EXPECT_EQ(editor_test::Boxes(), std::vector<std::wstring>{L"C_Direct3D9::C_Direct3D9() - !m_pDirect3D"});
}
