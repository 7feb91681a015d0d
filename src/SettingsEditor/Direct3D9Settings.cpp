#include "SettingsEditor/Direct3D9Settings.h"

#include "port/d3dx9/d3dx9math.h"

C_Direct3D9Settings::C_Direct3D9Settings()
{
    ::D3DXCpuOptimizations(TRUE);
    OpenDirect3D();
}

C_Direct3D9Settings::~C_Direct3D9Settings()
{
    // Fields that were never read or filled in would replace the stored
    // section with zeros: then the file keeps its own values.
    if (VideoReady()) SaveVideo();
    ReleaseDirect3D();
}

std::wstring C_Direct3D9Settings::TakeNotes()
{
    std::wstring notes = C_XMLSettings::TakeNotes() + m_Replaced;
    m_Replaced.clear();
    return notes;
}

void C_Direct3D9Settings::SelectVideoSection() { SetSection(L"Video"); }

std::wstring C_Direct3D9Settings::ReadVideoText(const wchar_t* key) { return GetParameter(key); }

int C_Direct3D9Settings::ReadVideoInt(const wchar_t* key) { return GetParameterInt(key); }

void C_Direct3D9Settings::WriteVideoInt(const wchar_t* key, int value) { SetParameter(key, value); }

void C_Direct3D9Settings::ShowVideoMessage(const wchar_t* text) { VexamontMessageBox(text); }

void C_Direct3D9Settings::ReportReplaced(const std::wstring& items)
{
    m_Replaced += L"Недопустимые значения в settings.xml заменены:" + items + L"\r\n";
}
