#include "Render/GUI/DrawInformation.h"

#include <cwchar>

#include "BaseClasses/ParameterString.h"
#include "Render/Camera/BaseCamera.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_DrawInformation)

namespace {

std::wstring Number(float value)
{
    wchar_t text[64];
    std::swprintf(text, std::size(text), L"%0.3f", static_cast<double>(value));
    // A coordinate of minus a hair (an inverted matrix gives -0) reads as 0.
    if (std::wcscmp(text, L"-0.000") == 0) return L"0.000";
    return text;
}

// The lines about the camera being drawn (none without a camera).
std::wstring Describe(C_BaseObject* current)
{
    auto* camera = dynamic_cast<C_BaseCamera*>(current);
    if (!camera) return std::wstring();
    std::wstring text;
    // The picked object lives at least as long as this frame's queue; a
    // script may still have deleted it since, so only a live one is named.
    C_BaseObject* under = camera->ObjectUnderCursor;
    if (under && C_BaseObject::IsLive(under)) {
        text += L"\r\nПод курсором: " + under->Name;
        text += L"\r\nРасстояние до камеры: " + Number(under->GetDistance(camera));
    }
    const D3DXVECTOR3 position = camera->GetPosition();
    text += L"\r\nПозиция камеры: " + Number(position.x) + L" " + Number(position.y) + L" " + Number(position.z);
    return text;
}

}  // namespace

C_DrawInformation::C_DrawInformation() = default;
C_DrawInformation::~C_DrawInformation() = default;

std::wstring& C_DrawInformation::FontDescription()
{
    static std::wstring* description = new std::wstring(L"Courier New; 12; 900;");
    return *description;
}

void C_DrawInformation::Load(IDirect3DDevice9* device)
{
    C_BaseText2D::Load(device);
    std::wstring& description = FontDescription();
    if (!ParameterString::Trim(Value).empty()) description = Value;
    Font = dynamic_cast<C_D3DX9FONT*>(
        C_ResManager::Instance().AddResource(L"C_D3DX9FONT", description.c_str(), description.c_str()));
    Text.clear();
    Flags = 0x2 | 0x8;   // DT_RIGHT | DT_BOTTOM
    Colour = 0xFFFFFFFF;
    SetRect(0.01f, 0.01f, 0.99f, 0.99f);
}

void C_DrawInformation::Draw(IDirect3DDevice9* device)
{
    Text = Describe(CommonData().CurrentCamera);
    C_BaseText2D::Draw(device);
}
