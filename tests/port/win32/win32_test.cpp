// System services, the application object and window messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "port/win32/afxwin.h"
#include "port/win32/filedialog.h"
#include "port/win32/portlog.h"
#include "port/win32/runoptions.h"
#include "port/win32/strings.h"
#include "port/win32/testhooks.h"

namespace {

std::vector<std::string> g_logged;
void CaptureLog(PortLogLevel, const std::string& text) { g_logged.push_back(text); }

class Win32Test : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("TARNWICK_FRAMES");
        unsetenv("TARNWICK_STEP_MS");
        PortRunReload();
        g_logged.clear();
        PortSetLogSink(CaptureLog);
    }
    void TearDown() override {
        PortSetLogSink(nullptr);
        unsetenv("TARNWICK_FRAMES");
        unsetenv("TARNWICK_STEP_MS");
        PortRunReload();
    }
};

class RecordingWnd : public CWnd {
public:
    int closes = 0;
    std::vector<POINT> moves;
    std::vector<short> wheels;
    void OnClose() override {
        ++closes;
        CWnd::OnClose();
    }
    void OnMouseMove(UINT flags, POINT point) override {
        moves.push_back(point);
        CWnd::OnMouseMove(flags, point);
    }
    BOOL OnMouseWheel(UINT flags, short delta, POINT point) override {
        wheels.push_back(delta);
        return CWnd::OnMouseWheel(flags, delta, point);
    }
};

bool Create(CWnd& wnd, DWORD style = WS_POPUP | WS_CAPTION, int w = 200, int h = 100) {
    RECT r{0, 0, w, h};
    return wnd.CreateEx(0, AfxRegisterWndClass(0), L"Тест", style, r, nullptr, 0) != FALSE;
}

void DispatchAll() {
    PortPumpMessages();
    MSG msg;
    while (PortPeekMessage(&msg, TRUE)) DispatchMessageW(&msg);
}

}  // namespace

TEST_F(Win32Test, StepClockStartsAt1000AndAdvancesPerFrame) {
    setenv("TARNWICK_STEP_MS", "16", 1);
    PortRunReload();
    EXPECT_EQ(GetTickCount(), 1000u);
    EXPECT_EQ(GetTickCount(), 1000u);  // standing still between frames
    PortFramePresented(nullptr);
    PortFramePresented(nullptr);
    PortFramePresented(nullptr);
    EXPECT_EQ(GetTickCount(), 1048u);
    unsetenv("TARNWICK_STEP_MS");
    PortRunReload();
    const DWORD a = GetTickCount();
    Sleep(20);
    const DWORD b = GetTickCount();
    EXPECT_GE(static_cast<DWORD>(b - a), 19u);  // wrapping subtraction, as callers use it
    EXPECT_LT(static_cast<DWORD>(b - a), 1000u);
}

TEST_F(Win32Test, MessageLoopIdlesUntilTheFrameLimitClosesTheMainWindow) {
    setenv("TARNWICK_FRAMES", "5", 1);
    PortRunReload();
    struct App : CWinApp {
        RecordingWnd wnd;
        int frames = 0;
        int exits = 0;
        BOOL InitInstance() override {
            m_pMainWnd = &wnd;
            return Create(wnd) ? TRUE : FALSE;
        }
        BOOL OnIdle(LONG) override {
            ++frames;
            PortFramePresented(nullptr);  // what the device's Present does
            return TRUE;
        }
        int ExitInstance() override {
            ++exits;
            return 7;
        }
    } app;
    char name[] = "test";
    char* argv[] = {name};
    EXPECT_EQ(AfxWinMain(1, argv), 7);
    EXPECT_EQ(app.frames, 5);
    EXPECT_EQ(app.wnd.closes, 1);
    EXPECT_EQ(app.wnd.m_hWnd, nullptr);  // default WM_CLOSE handling destroyed it
    EXPECT_EQ(app.exits, 1);
    EXPECT_TRUE(app.m_lpCmdLine.empty());
}

TEST_F(Win32Test, CommandLineIsTheArgumentsJoined) {
    struct App : CWinApp {
        BOOL InitInstance() override { return FALSE; }
    } app;
    char a0[] = "prog", a1[] = "modules\\Main", a2[] = "Module.xml";
    char* argv[] = {a0, a1, a2};
    EXPECT_EQ(AfxWinMain(3, argv), 0);
    EXPECT_EQ(app.m_lpCmdLine, L"modules\\Main Module.xml");
    EXPECT_FALSE(app.m_pszAppName.empty());
}

TEST_F(Win32Test, SendMessageRunsTheHandlerAtOnce) {
    RecordingWnd wnd;
    ASSERT_TRUE(Create(wnd));
    HWND handle = wnd.m_hWnd;
    EXPECT_TRUE(IsWindow(handle));
    wnd.SendMessage(WM_CLOSE);
    EXPECT_EQ(wnd.closes, 1);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_EQ(SendMessageW(handle, WM_CLOSE, 0, 0), 0);  // a dead handle is ignored
    EXPECT_EQ(wnd.closes, 1);
}

TEST_F(Win32Test, MouseEventsArriveAsMessagesWithClientCoordinatesAndWheelNotches) {
    RecordingWnd wnd;
    ASSERT_TRUE(Create(wnd, WS_POPUP | WS_CAPTION | WS_VISIBLE));
    DispatchAll();
    ASSERT_TRUE(PortSimulateMouseMove(wnd.m_hWnd, 33, 44, 3, 4));
    DispatchAll();
    ASSERT_EQ(wnd.moves.size(), 1u);
    EXPECT_EQ(wnd.moves[0].x, 33);
    EXPECT_EQ(wnd.moves[0].y, 44);
    ASSERT_TRUE(PortSimulateMouseWheel(wnd.m_hWnd, -2));
    DispatchAll();
    ASSERT_EQ(wnd.wheels.size(), 1u);
    EXPECT_EQ(wnd.wheels[0], -240);

    // A disabled window gets no mouse input.
    EXPECT_EQ(wnd.EnableWindow(FALSE), FALSE);
    EXPECT_FALSE(wnd.IsWindowEnabled());
    EXPECT_FALSE(IsWindowEnabled(wnd.m_hWnd));
    ASSERT_TRUE(PortSimulateMouseMove(wnd.m_hWnd, 1, 1, 1, 1));
    DispatchAll();
    EXPECT_EQ(wnd.moves.size(), 1u);
    EXPECT_NE(EnableWindow(wnd.m_hWnd, TRUE), FALSE);  // it was disabled
    EXPECT_TRUE(wnd.IsWindowEnabled());
    wnd.DestroyWindow();
}

TEST_F(Win32Test, WindowsAreCentredWithIntegerArithmetic) {
    CWnd wnd;
    ASSERT_TRUE(Create(wnd, WS_POPUP | WS_CAPTION, 201, 99));
    wnd.CenterWindow();
    RECT r{};
    wnd.GetWindowRect(&r);
    const LONG w = r.right - r.left, h = r.bottom - r.top;
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - w) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - h) / 2);
    RECT client{};
    wnd.GetClientRect(&client);
    EXPECT_EQ(client.right, 201);
    EXPECT_EQ(client.bottom, 99);
    wnd.SetWindowText(L"Заголовок");
    EXPECT_EQ(wnd.GetWindowText(), L"Заголовок");
    EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
}

TEST_F(Win32Test, HeadlessMessageBoxesAreOnlyLogged) {
    setenv("TARNWICK_FRAMES", "1", 1);
    PortRunReload();
    EXPECT_EQ(MessageBoxW(nullptr, L"3D окно не создано", L"Tarnwick", MB_OK), IDOK);
    ASSERT_EQ(g_logged.size(), 1u);
    EXPECT_NE(g_logged[0].find("3D окно не создано"), std::string::npos);
    EXPECT_EQ(MessageBoxW(nullptr, L"?", L"", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxW(nullptr, L"?", L"", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(AfxMessageBox(L"Не реализовано"), IDOK);
}

TEST_F(Win32Test, FileFiltersTranslateToTheDialogTools) {
    auto filters = PortParseFileFilter(L"Все файлы|*.*|Программы|*.nc;*.txt|Пусто||");
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].text, L"Все файлы");
    ASSERT_EQ(filters[1].patterns.size(), 2u);
    EXPECT_EQ(filters[1].patterns[1], L"*.txt");
    auto zenity = PortFileDialogArguments("zenity", true, L"", filters, false);
    ASSERT_EQ(zenity.size(), 3u);
    EXPECT_EQ(zenity[0], "--file-selection");
    EXPECT_EQ(zenity[2], "--file-filter=Программы | *.nc *.txt");
    auto kdialog = PortFileDialogArguments("kdialog", true, L"", filters, false);
    ASSERT_EQ(kdialog.size(), 3u);
    EXPECT_EQ(kdialog[2], "*.*|Все файлы\n*.nc *.txt|Программы");
    // Headless runs never block on a dialog: they behave as cancelled.
    CFileDialog dialog(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, L"Все файлы|*.*|");
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(dialog.GetPathName().empty());
}

TEST_F(Win32Test, ModulePathAndTextConversion) {
    wchar_t path[1024];
    const DWORD n = GetModuleFileNameW(nullptr, path, 1024);
    ASSERT_GT(n, 0u);
    EXPECT_NE(std::wstring(path, n).find(L"test_port_win32"), std::wstring::npos);
    wchar_t small[4];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);  // truncated
    EXPECT_EQ(small[3], L'\0');
    EXPECT_EQ(PortFromUtf8(PortToUtf8(L"Запуск программы")), L"Запуск программы");
    EXPECT_EQ(PortFromUtf8("a\xFF" "b"), std::wstring(L"a\xFFFD" L"b"));
    EXPECT_EQ(PortToUtf8(std::wstring(L"\xD83D\xDE00")), "\xF0\x9F\x98\x80");  // a UTF-16 pair
}
