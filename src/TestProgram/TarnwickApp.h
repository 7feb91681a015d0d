#pragma once
// The application object of Tarnwick: it holds the one 3D window and renders
// a frame whenever the message queue is empty.

#include "TestProgram/Test3DWindow.h"
#include "port/win32/afxwin.h"

class CTarnwickApp : public CWinApp {
public:
    CTarnwickApp();
    BOOL InitInstance() override;
    BOOL OnIdle(LONG count) override;
    BOOL PreTranslateMessage(MSG* msg) override;

    C_Test3DWindow m_Window;
};
