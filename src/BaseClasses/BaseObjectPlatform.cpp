// The static operations that need the window system: message box, closing
// the main window and the open-file dialog.

#include "BaseClasses/BaseObject.h"

#include "port/win32/afxwin.h"
#include "port/win32/filedialog.h"
#include "port/win32/wintypes.h"

double C_BaseObject::MessageBoxW(const std::string& text)
{
    const std::wstring wide = ScriptTextToWide(text);
    ::MessageBoxW(nullptr, wide.c_str(), L"", MB_OK);
    return 0.0;
}

double C_BaseObject::Exit()
{
    // Posted, not sent: closing destroys every object, and the script that
    // asks for it runs inside an object's load or update (or an axis
    // object's step). The message loop closes the window once the frame is
    // over.
    if (CWnd* window = AfxGetMainWnd()) window->PostMessage(WM_CLOSE, 0, 0);
    return 0.0;
}

std::string C_BaseObject::DlgOpenFile(const std::string& filter)
{
    std::wstring wideFilter = ScriptTextToWide(filter);
    if (wideFilter.empty()) wideFilter = L"Все файлы|*.*|";
    CFileDialog dialog(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, wideFilter.c_str(),
                       AfxGetMainWnd());
    if (dialog.DoModal() != IDOK) return std::string();
    return WideToScriptText(dialog.GetPathName());
}
