#include "Render/GUI/MainWindowName.h"

#include "Logger/Logger.h"
#include "port/win32/afxwin.h"

TW_REGISTER_CLASS(C_MainWindowName)

C_MainWindowName::C_MainWindowName() { ResourceLevel = 0; }
C_MainWindowName::~C_MainWindowName() = default;

void C_MainWindowName::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    const std::wstring caption = GetField(0);
    CWnd* window = AfxGetMainWnd();
    if (!window || !window->GetSafeHwnd()) {
        LOG_WARNING(L"Нет главного окна, заголовок не установлен: " << caption);
        return;
    }
    window->SetWindowText(caption.c_str());
}
