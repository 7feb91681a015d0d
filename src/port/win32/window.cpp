// Windows and the message loop over SDL.
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "port/win32/afxwin.h"
#include "port/win32/inputstate.h"
#include "port/win32/portlog.h"
#include "port/win32/runoptions.h"
#include "port/win32/sdlvideo.h"
#include "port/win32/strings.h"
#include "port/win32/testhooks.h"

struct HWND__ {
    CWnd* owner = nullptr;
    SDL_Window* sdl = nullptr;
    Uint32 sdlId = 0;
    bool enabled = true;
    bool iconic = false;
    bool visible = false;
    std::wstring title;
};

struct PortWindowAccess {
    static void SetCurrent(CWnd* wnd, const MSG* msg) { wnd->m_current = msg; }
    static const MSG* Current(CWnd* wnd) { return wnd->m_current; }
    static void SetStyles(CWnd* wnd, DWORD style, DWORD exStyle) {
        wnd->m_style = style;
        wnd->m_exStyle = exStyle;
    }
};

namespace {

std::vector<HWND__*> g_windows;
std::deque<MSG> g_queue;
CWinApp* g_app = nullptr;

bool IsLive(HWND window) {
    return window && std::find(g_windows.begin(), g_windows.end(), window) != g_windows.end();
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    g_queue.push_back(msg);
}

LPARAM PackPoint(int x, int y) {
    return static_cast<LPARAM>(MAKELONG(static_cast<WORD>(static_cast<SHORT>(x)), static_cast<WORD>(static_cast<SHORT>(y))));
}

WPARAM MouseFlags(Uint32 buttons) {
    WPARAM flags = 0;
    if (buttons & SDL_BUTTON_LMASK) flags |= MK_LBUTTON;
    if (buttons & SDL_BUTTON_RMASK) flags |= MK_RBUTTON;
    if (buttons & SDL_BUTTON_MMASK) flags |= MK_MBUTTON;
    SDL_Keymod mod = SDL_GetModState();
    if (mod & KMOD_SHIFT) flags |= MK_SHIFT;
    if (mod & KMOD_CTRL) flags |= MK_CONTROL;
    return flags;
}

void Borders(SDL_Window* sdl, int& top, int& left, int& bottom, int& right) {
    top = left = bottom = right = 0;
    if (sdl && SDL_GetWindowBordersSize(sdl, &top, &left, &bottom, &right) != 0) top = left = bottom = right = 0;
}

void Translate(const SDL_Event& e) {
    switch (e.type) {
    case SDL_WINDOWEVENT: {
        HWND window = PortWindowFromSdlId(e.window.windowID);
        if (!window) return;
        switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: Post(window, WM_CLOSE, 0, 0); break;
        case SDL_WINDOWEVENT_MINIMIZED:
            window->iconic = true;
            Post(window, WM_SIZE, SIZE_MINIMIZED, 0);
            break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_MAXIMIZED: {
            window->iconic = false;
            int w = 0, h = 0;
            SDL_GetWindowSize(window->sdl, &w, &h);
            Post(window, WM_SIZE, e.window.event == SDL_WINDOWEVENT_MAXIMIZED ? SIZE_MAXIMIZED : SIZE_RESTORED,
                 PackPoint(w, h));
            break;
        }
        case SDL_WINDOWEVENT_FOCUS_LOST:
            ++PortInputState().focusLost;
            Post(window, WM_ACTIVATE, WA_INACTIVE, 0);
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED: Post(window, WM_ACTIVATE, WA_ACTIVE, 0); break;
        default: break;
        }
        break;
    }
    case SDL_MOUSEMOTION: {
        PortInputState().mouseX += e.motion.xrel;
        PortInputState().mouseY += e.motion.yrel;
        HWND window = PortWindowFromSdlId(e.motion.windowID);
        if (window && window->enabled) Post(window, WM_MOUSEMOVE, MouseFlags(e.motion.state), PackPoint(e.motion.x, e.motion.y));
        break;
    }
    case SDL_MOUSEWHEEL: {
        int notches = e.wheel.y;
        if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
        if (notches == 0) break;
        const int delta = notches * WHEEL_DELTA;
        PortInputState().wheel += delta;
        HWND window = PortWindowFromSdlId(e.wheel.windowID);
        if (window && window->enabled) {
            int x = 0, y = 0;
            SDL_GetGlobalMouseState(&x, &y);
            WPARAM wParam = static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(static_cast<WORD>(MouseFlags(SDL_GetMouseState(nullptr, nullptr))),
                                                                          static_cast<WORD>(static_cast<SHORT>(delta)))));
            Post(window, WM_MOUSEWHEEL, wParam, PackPoint(x, y));
        }
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        HWND window = PortWindowFromSdlId(e.button.windowID);
        if (!window || !window->enabled) break;
        const bool down = e.type == SDL_MOUSEBUTTONDOWN;
        UINT message = 0;
        if (e.button.button == SDL_BUTTON_LEFT) message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        else if (e.button.button == SDL_BUTTON_RIGHT) message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        else if (e.button.button == SDL_BUTTON_MIDDLE) message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        if (message) Post(window, message, MouseFlags(SDL_GetMouseState(nullptr, nullptr)), PackPoint(e.button.x, e.button.y));
        break;
    }
    case SDL_QUIT:
        // Ctrl+C or the session ending: close the main window like its close box.
        if (g_app && g_app->m_pMainWnd && g_app->m_pMainWnd->m_hWnd) Post(g_app->m_pMainWnd->m_hWnd, WM_CLOSE, 0, 0);
        break;
    default: break;
    }
}

}  // namespace

PortInputTotals& PortInputState() {
    static PortInputTotals totals;
    return totals;
}

bool PortVideoIsOffscreen() {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && std::string(driver) == "offscreen";
}

static std::vector<PortWindowDestroyListener>& DestroyListeners() {
    // Never destroyed, so windows destroyed by static destructors still find it.
    static auto* listeners = new std::vector<PortWindowDestroyListener>;
    return *listeners;
}

void PortAddWindowDestroyListener(PortWindowDestroyListener listener) {
    auto& listeners = DestroyListeners();
    if (listener && std::find(listeners.begin(), listeners.end(), listener) == listeners.end())
        listeners.push_back(listener);
}

SDL_Window* PortSdlWindow(HWND window) { return IsLive(window) ? window->sdl : nullptr; }

HWND PortWindowFromSdlId(Uint32 id) {
    for (HWND__* w : g_windows)
        if (w->sdlId == id) return w;
    return nullptr;
}

BOOL PortPumpMessages() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        SDL_Event e;
        while (SDL_PollEvent(&e)) Translate(e);
    }
    return g_queue.empty() ? FALSE : TRUE;
}

BOOL PortPeekMessage(MSG* msg, BOOL remove) {
    if (g_queue.empty()) return FALSE;
    if (msg) *msg = g_queue.front();
    if (remove) g_queue.pop_front();
    return TRUE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg || !IsLive(msg->hwnd) || !msg->hwnd->owner) return 0;
    CWnd* wnd = msg->hwnd->owner;
    const MSG* previous = PortWindowAccess::Current(wnd);
    PortWindowAccess::SetCurrent(wnd, msg);
    LRESULT result = wnd->WindowProc(msg->message, msg->wParam, msg->lParam);
    if (IsLive(msg->hwnd)) PortWindowAccess::SetCurrent(wnd, previous);
    return result;
}

void PostQuitMessage(int exitCode) { Post(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0); }

// ---------------------------------------------------------------------------
// CWnd
// ---------------------------------------------------------------------------
CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (m_hWnd) DestroyWindow();
}

CWnd* CWnd::FromHandle(HWND window) { return IsLive(window) ? window->owner : nullptr; }

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd*, UINT,
                    LPVOID) {
    if (m_hWnd) return FALSE;
    if (!PortEnsureVideo()) return FALSE;
    Uint32 flags = SDL_WINDOW_OPENGL;
    flags |= (style & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    if ((style & WS_CAPTION) != WS_CAPTION) flags |= SDL_WINDOW_BORDERLESS;
    if (exStyle & WS_EX_TOPMOST) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    const int width = std::max<LONG>(1, rect.right - rect.left);
    const int height = std::max<LONG>(1, rect.bottom - rect.top);
    std::wstring title = windowName ? windowName : L"";
    SDL_Window* sdl = PortCreateGLWindow(PortToUtf8(title).c_str(), rect.left, rect.top, width, height, flags);
    if (!sdl) {
        PortLog(PortLogLevel::Warning, std::string("window creation failed: ") + SDL_GetError());
        return FALSE;
    }
    auto* handle = new HWND__;
    handle->owner = this;
    handle->sdl = sdl;
    handle->sdlId = SDL_GetWindowID(sdl);
    handle->visible = (style & WS_VISIBLE) != 0;
    handle->enabled = (style & WS_DISABLED) == 0;
    handle->title = title;
    g_windows.push_back(handle);
    m_hWnd = handle;
    m_style = style;
    m_exStyle = exStyle;
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    HWND handle = m_hWnd;
    if (!IsLive(handle)) return FALSE;
    SendMessage(WM_DESTROY);
    for (PortWindowDestroyListener listener : DestroyListeners()) listener(handle);
    SDL_DestroyWindow(handle->sdl);
    g_windows.erase(std::find(g_windows.begin(), g_windows.end(), handle));
    // Messages still queued for this window are dropped with it.
    g_queue.erase(std::remove_if(g_queue.begin(), g_queue.end(), [handle](const MSG& m) { return m.hwnd == handle; }),
                  g_queue.end());
    delete handle;
    m_hWnd = nullptr;
    m_current = nullptr;
    if (g_app && g_app->m_pMainWnd == this) PostQuitMessage(0);
    PostNcDestroy();
    return TRUE;
}

BOOL CWnd::ShowWindow(int command) {
    if (!IsLive(m_hWnd)) return FALSE;
    const BOOL wasVisible = m_hWnd->visible ? TRUE : FALSE;
    SDL_Window* sdl = m_hWnd->sdl;
    switch (command) {
    case SW_HIDE:
        SDL_HideWindow(sdl);
        m_hWnd->visible = false;
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
        SDL_ShowWindow(sdl);
        SDL_MinimizeWindow(sdl);
        m_hWnd->visible = true;
        if (!m_hWnd->iconic) {
            m_hWnd->iconic = true;
            Post(m_hWnd, WM_SIZE, SIZE_MINIMIZED, 0);
        }
        break;
    case SW_MAXIMIZE:
        SDL_ShowWindow(sdl);
        SDL_MaximizeWindow(sdl);
        m_hWnd->visible = true;
        m_hWnd->iconic = false;
        break;
    case SW_RESTORE:
    default: {
        SDL_ShowWindow(sdl);
        m_hWnd->visible = true;
        if (m_hWnd->iconic || command == SW_RESTORE) {
            SDL_RestoreWindow(sdl);
            if (m_hWnd->iconic) {
                m_hWnd->iconic = false;
                int w = 0, h = 0;
                SDL_GetWindowSize(sdl, &w, &h);
                Post(m_hWnd, WM_SIZE, SIZE_RESTORED, PackPoint(w, h));
            }
        }
        break;
    }
    }
    return wasVisible;
}

BOOL CWnd::SetForegroundWindow() {
    if (!IsLive(m_hWnd)) return FALSE;
    SDL_RaiseWindow(m_hWnd->sdl);
    return TRUE;
}

BOOL CWnd::EnableWindow(BOOL enable) {
    if (!IsLive(m_hWnd)) return FALSE;
    const BOOL wasDisabled = m_hWnd->enabled ? FALSE : TRUE;
    m_hWnd->enabled = enable != FALSE;
    if (enable) m_style &= ~static_cast<DWORD>(WS_DISABLED);
    else m_style |= WS_DISABLED;
    Post(m_hWnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const { return IsLive(m_hWnd) && m_hWnd->enabled ? TRUE : FALSE; }
BOOL CWnd::IsWindowVisible() const { return IsLive(m_hWnd) && m_hWnd->visible ? TRUE : FALSE; }
BOOL CWnd::IsIconic() const { return IsLive(m_hWnd) && m_hWnd->iconic ? TRUE : FALSE; }

void CWnd::SetWindowText(LPCWSTR text) {
    if (!IsLive(m_hWnd)) return;
    m_hWnd->title = text ? text : L"";
    SDL_SetWindowTitle(m_hWnd->sdl, PortToUtf8(m_hWnd->title).c_str());
}

std::wstring CWnd::GetWindowText() const { return IsLive(m_hWnd) ? m_hWnd->title : std::wstring(); }

void CWnd::GetWindowRect(LPRECT rect) const {
    if (!rect) return;
    *rect = RECT{0, 0, 0, 0};
    if (!IsLive(m_hWnd)) return;
    int x = 0, y = 0, w = 0, h = 0, top, left, bottom, right;
    SDL_GetWindowPosition(m_hWnd->sdl, &x, &y);
    SDL_GetWindowSize(m_hWnd->sdl, &w, &h);
    Borders(m_hWnd->sdl, top, left, bottom, right);
    *rect = RECT{x - left, y - top, x + w + right, y + h + bottom};
}

void CWnd::GetClientRect(LPRECT rect) const {
    if (!rect) return;
    *rect = RECT{0, 0, 0, 0};
    if (!IsLive(m_hWnd)) return;
    int w = 0, h = 0;
    SDL_GetWindowSize(m_hWnd->sdl, &w, &h);
    *rect = RECT{0, 0, w, h};
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL) {
    SetWindowPos(nullptr, x, y, width, height, SWP_NOZORDER);
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
    if (rect) MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) {
    if (!IsLive(m_hWnd)) return FALSE;
    int top, left, bottom, right;
    Borders(m_hWnd->sdl, top, left, bottom, right);
    if (!(flags & SWP_NOSIZE)) {
        // The window size includes the frame; SDL sizes the client area.
        SDL_SetWindowSize(m_hWnd->sdl, std::max(1, cx - left - right), std::max(1, cy - top - bottom));
    }
    if (!(flags & SWP_NOMOVE)) SDL_SetWindowPosition(m_hWnd->sdl, x + left, y + top);
    if (!(flags & SWP_NOZORDER)) {
        HWND after = insertAfter ? insertAfter->m_hWnd : HWND_TOP;
        if (after == HWND_TOPMOST) SDL_SetWindowAlwaysOnTop(m_hWnd->sdl, SDL_TRUE);
        else if (after == HWND_NOTOPMOST) SDL_SetWindowAlwaysOnTop(m_hWnd->sdl, SDL_FALSE);
    }
    if (flags & SWP_SHOWWINDOW) ShowWindow(SW_SHOW);
    return TRUE;
}

void CWnd::CalcWindowRect(LPRECT clientRect, UINT) const {
    if (!clientRect || !IsLive(m_hWnd)) return;
    int top, left, bottom, right;
    Borders(m_hWnd->sdl, top, left, bottom, right);
    clientRect->left -= left;
    clientRect->top -= top;
    clientRect->right += right;
    clientRect->bottom += bottom;
}

void CWnd::CenterWindow(CWnd*) {
    RECT r;
    GetWindowRect(&r);
    const LONG w = r.right - r.left;
    const LONG h = r.bottom - r.top;
    // Integer division truncating toward zero, as the window placement does.
    MoveWindow((GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h);
}

void CWnd::UpdateWindow() {}

void CWnd::Invalidate(BOOL) {
    if (IsLive(m_hWnd)) Post(m_hWnd, WM_PAINT, 0, 0);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(m_hWnd)) return 0;
    MSG msg{m_hWnd, message, wParam, lParam, GetTickCount(), {0, 0}};
    return DispatchMessageW(&msg);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(m_hWnd)) return FALSE;
    Post(m_hWnd, message, wParam, lParam);
    return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE: OnClose(); return 0;
    case WM_MOUSEMOVE:
        OnMouseMove(static_cast<UINT>(wParam), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_MOUSEWHEEL:
        return OnMouseWheel(LOWORD(wParam), GET_WHEEL_DELTA_WPARAM(wParam), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
    case WM_SIZE: OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_DESTROY: OnDestroy(); return 0;
    default: return DefWindowProc(message, wParam, lParam);
    }
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow();
    return 0;
}

LRESULT CWnd::Default() {
    const MSG* msg = m_current;
    if (!msg) return 0;
    return DefWindowProc(msg->message, msg->wParam, msg->lParam);
}

void CWnd::OnClose() { Default(); }
void CWnd::OnMouseMove(UINT, POINT) { Default(); }
BOOL CWnd::OnMouseWheel(UINT, short, POINT) { return static_cast<BOOL>(Default()); }
void CWnd::OnSize(UINT, int, int) { Default(); }
void CWnd::OnDestroy() { Default(); }
void CWnd::PostNcDestroy() {}

// ---------------------------------------------------------------------------
// Free window functions
// ---------------------------------------------------------------------------
BOOL EnableWindow(HWND window, BOOL enable) { return IsLive(window) ? window->owner->EnableWindow(enable) : FALSE; }
BOOL IsWindowEnabled(HWND window) { return IsLive(window) ? window->owner->IsWindowEnabled() : FALSE; }
BOOL IsWindow(HWND window) { return IsLive(window) ? TRUE : FALSE; }
BOOL IsIconic(HWND window) { return IsLive(window) && window->iconic ? TRUE : FALSE; }
BOOL ShowWindow(HWND window, int command) { return IsLive(window) ? window->owner->ShowWindow(command) : FALSE; }
BOOL SetForegroundWindow(HWND window) { return IsLive(window) ? window->owner->SetForegroundWindow() : FALSE; }
BOOL DestroyWindow(HWND window) { return IsLive(window) ? window->owner->DestroyWindow() : FALSE; }
BOOL GetClientRect(HWND window, LPRECT rect) {
    if (!IsLive(window) || !rect) return FALSE;
    window->owner->GetClientRect(rect);
    return TRUE;
}
BOOL GetWindowRect(HWND window, LPRECT rect) {
    if (!IsLive(window) || !rect) return FALSE;
    window->owner->GetWindowRect(rect);
    return TRUE;
}
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return IsLive(window) ? window->owner->SendMessage(message, wParam, lParam) : 0;
}
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !IsLive(window)) return FALSE;
    Post(window, message, wParam, lParam);
    return TRUE;
}
BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) { return AdjustWindowRectEx(rect, style, menu, 0); }
BOOL AdjustWindowRectEx(LPRECT rect, DWORD, BOOL, DWORD) {
    // The frame belongs to the window manager and is unknown before a window
    // exists; windows are sized by their client area, so the rectangle stays.
    return rect ? TRUE : FALSE;
}
BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    if (!IsLive(window)) return FALSE;
    window->owner->SetWindowText(text);
    return TRUE;
}

// ---------------------------------------------------------------------------
// CWinApp
// ---------------------------------------------------------------------------
CWinApp::CWinApp(LPCWSTR appName) : m_pszAppName(appName ? appName : L"") { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }
BOOL CWinApp::OnIdle(LONG) { return FALSE; }
BOOL CWinApp::PreTranslateMessage(MSG*) { return FALSE; }
int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run() {
    LONG idleCount = 0;
    bool idle = true;
    for (;;) {
        // Idle processing runs while nothing is waiting, as long as OnIdle asks for more.
        while (idle && !PortPumpMessages()) {
            if (!OnIdle(idleCount++)) idle = false;
        }
        MSG msg;
        while (!PortPeekMessage(&msg, TRUE)) {
            if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_WaitEventTimeout(nullptr, 50);
            else Sleep(10);
            PortPumpMessages();
        }
        if (msg.message == WM_QUIT) return ExitInstance();
        if (!PreTranslateMessage(&msg)) DispatchMessageW(&msg);
        idle = true;
        idleCount = 0;
    }
}

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }

int AfxWinMain(int argc, char** argv) {
    // Every frame the OpenGL driver allocates and frees megabytes (a software
    // rasteriser bins the whole frame's triangles). Returned to the system at
    // once, that memory comes back as fresh pages to be faulted in on the
    // next frame, which cost a third of a busy frame; kept, it is reused.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    CWinApp* app = g_app;
    if (!app) {
        PortLog(PortLogLevel::Error, "no application object");
        return 1;
    }
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    app->m_lpCmdLine = PortFromUtf8(line);
    app->m_hInstance = reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr));
    if (app->m_pszAppName.empty()) {
        wchar_t path[MAX_PATH * 4];
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
        std::wstring full(path, n);
        size_t slash = full.find_last_of(L'/');
        app->m_pszAppName = slash == std::wstring::npos ? full : full.substr(slash + 1);
    }
    if (!app->InitInstance()) {
        if (app->m_pMainWnd && app->m_pMainWnd->m_hWnd) app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}

LPCWSTR AfxRegisterWndClass(UINT, HCURSOR, HBRUSH, HICON) {
    // Window classes carry nothing on this platform; every window gets the
    // arrow cursor and a black background from its device.
    return L"PortWindowClass";
}

int AfxMessageBox(LPCWSTR text, UINT type, UINT) {
    CWnd* main = AfxGetMainWnd();
    std::wstring caption = g_app ? g_app->m_pszAppName : std::wstring(L"");
    return MessageBoxW(main ? main->m_hWnd : nullptr, text, caption.c_str(), type);
}

// ---------------------------------------------------------------------------
// Video start-up
// ---------------------------------------------------------------------------
bool PortEnsureVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    static bool failed = false;
    if (failed) return false;
    if (!std::getenv("SDL_VIDEODRIVER") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        // No display at all: run on the offscreen driver instead of failing.
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    }
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        PortLog(PortLogLevel::Error, std::string("video start-up failed: ") + SDL_GetError());
        failed = true;
        return false;
    }
    // Every window can carry the device's OpenGL 3.3 core context. A
    // single-sampled device draws straight into the window when its buffers
    // match the back buffer's (eight-bit colour and alpha, 24-bit depth and
    // 8-bit stencil, the default D24S8); the alpha is kept, not shown.
    // Multisampled devices draw into framebuffers of their own.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 0);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 0);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    return true;
}

SDL_Window* PortCreateGLWindow(const char* title, int x, int y, int width, int height, Uint32 flags) {
    SDL_Window* window = SDL_CreateWindow(title, x, y, width, height, flags | SDL_WINDOW_OPENGL);
    int depth = 0;
    if (window || SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth) != 0 || depth == 0) return window;
    // No configuration with those buffers: plain colour, as every window
    // from now on (their contexts must fit each other); devices then draw
    // into framebuffers of their own.
    PortLog(PortLogLevel::Info, std::string("no window with depth and alpha buffers (") + SDL_GetError() +
                                    "); drawing through off-screen buffers");
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    return SDL_CreateWindow(title, x, y, width, height, flags | SDL_WINDOW_OPENGL);
}

// ---------------------------------------------------------------------------
// Simulated system events
// ---------------------------------------------------------------------------
BOOL PortSimulateMouseMove(HWND window, int x, int y, int dx, int dy) {
    if (!IsLive(window)) return FALSE;
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = window->sdlId;
    e.motion.x = x;
    e.motion.y = y;
    e.motion.xrel = dx;
    e.motion.yrel = dy;
    return SDL_PushEvent(&e) == 1 ? TRUE : FALSE;
}

BOOL PortSimulateMouseWheel(HWND window, int notches) {
    if (!IsLive(window)) return FALSE;
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = window->sdlId;
    e.wheel.y = notches;
    e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    return SDL_PushEvent(&e) == 1 ? TRUE : FALSE;
}

BOOL PortSimulateFocusLoss(HWND window) {
    if (!IsLive(window)) return FALSE;
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = window->sdlId;
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    return SDL_PushEvent(&e) == 1 ? TRUE : FALSE;
}
