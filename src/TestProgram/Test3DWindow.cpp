#include "TestProgram/Test3DWindow.h"

#include "port/dinput8/dinput.h"

void C_Test3DWindow::Render()
{
    C_Base3DWindow::Render();
    if (m_hWnd && (CommonData().Input.Keyboard[DIK_ESCAPE] & 0x80)) SendMessage(WM_CLOSE);
}
