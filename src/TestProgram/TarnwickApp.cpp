#include "TestProgram/TarnwickApp.h"

CTarnwickApp::CTarnwickApp() : CWinApp(L"Tarnwick") {}

BOOL CTarnwickApp::InitInstance()
{
    // Common controls need no start-up on this platform.
    CWinApp::InitInstance();
    m_pMainWnd = &m_Window;
    if (!m_Window.Create3DWindow()) {
        AfxMessageBox(L"3D окно не создано");
        return FALSE;
    }
    return TRUE;
}

BOOL CTarnwickApp::OnIdle(LONG)
{
    m_Window.Render();
    return TRUE;
}

BOOL CTarnwickApp::PreTranslateMessage(MSG* msg) { return CWinApp::PreTranslateMessage(msg); }
