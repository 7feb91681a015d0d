// The application object and window classes of the framework (CWinApp- and
// CWnd-like), over SDL windows and events.
#pragma once

#include <string>

#include "port/win32/wintypes.h"

struct HCURSOR__;
typedef HCURSOR__* HCURSOR;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002
#define MK_SHIFT 0x0004
#define MK_CONTROL 0x0008
#define MK_MBUTTON 0x0010

#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2

#define WA_INACTIVE 0
#define WA_ACTIVE 1

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_SHOWWINDOW 0x0040
#define HWND_TOP ((HWND)0)
#define HWND_TOPMOST ((HWND)-1)
#define HWND_NOTOPMOST ((HWND)-2)

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }
    static CWnd* FromHandle(HWND window);

    // Creates the window hidden unless the style holds WS_VISIBLE. The rectangle is
    // the window's position and client size. WS_CAPTION gives a decorated window,
    // a bare WS_POPUP a borderless one; WS_EX_TOPMOST keeps it above others.
    virtual BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect,
                          CWnd* parent, UINT id, LPVOID param = nullptr);
    virtual BOOL DestroyWindow();

    BOOL ShowWindow(int command);
    BOOL SetForegroundWindow();
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    void SetWindowText(LPCWSTR text);
    std::wstring GetWindowText() const;
    void GetWindowRect(LPRECT rect) const;
    void GetClientRect(LPRECT rect) const;
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    // Grows a client rectangle to the window rectangle (adds the frame).
    void CalcWindowRect(LPRECT clientRect, UINT adjustType = 0) const;
    void CenterWindow(CWnd* alternateOwner = nullptr);
    void UpdateWindow();
    void Invalidate(BOOL erase = TRUE);
    DWORD GetStyle() const { return m_style; }
    DWORD GetExStyle() const { return m_exStyle; }

    // Synchronous: the handler runs before SendMessage returns.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Message dispatch: WindowProc calls the handlers below; unhandled messages
    // and Default() go to DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default();

    virtual void OnClose();
    virtual void OnMouseMove(UINT flags, POINT point);
    virtual BOOL OnMouseWheel(UINT flags, short delta, POINT point);
    virtual void OnSize(UINT type, int cx, int cy);
    virtual void OnDestroy();
    virtual void PostNcDestroy();

private:
    DWORD m_style = 0;
    DWORD m_exStyle = 0;
    const MSG* m_current = nullptr;  // message being handled, for Default()
    MSG m_currentStore{};
    friend struct PortWindowAccess;
};

class CWinApp {
public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    // Called while no message is pending; return TRUE to be called again.
    virtual BOOL OnIdle(LONG count);
    virtual BOOL PreTranslateMessage(MSG* msg);
    // The message loop; returns ExitInstance's result after WM_QUIT.
    virtual int Run();
    virtual int ExitInstance();

    CWnd* m_pMainWnd = nullptr;
    std::wstring m_pszAppName;
    std::wstring m_lpCmdLine;
    HINSTANCE m_hInstance = nullptr;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// The framework's entry: the single application object's InitInstance, then
// the message loop. The command line is the arguments joined by spaces.
int AfxWinMain(int argc, char** argv);
// Window class style: the close box and Alt+F4 do nothing.
#define CS_NOCLOSE 0x0200
LPCWSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr, HBRUSH background = nullptr,
                            HICON icon = nullptr);

void PostQuitMessage(int exitCode);
// Moves every pending system event into the message queue; returns TRUE when a
// message is waiting. Nothing is dispatched.
BOOL PortPumpMessages();
// Takes the next message without waiting; FALSE when the queue is empty.
BOOL PortPeekMessage(MSG* msg, BOOL remove);
LRESULT DispatchMessageW(const MSG* msg);
#define DispatchMessage DispatchMessageW
