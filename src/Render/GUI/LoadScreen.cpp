#include "Render/GUI/LoadScreen.h"

#include <cwchar>

#include "BaseClasses/ParameterString.h"
#include "Render/Camera/Cameras.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_LoadScreen)

C_LoadScreen::C_TextLoadScreen::C_TextLoadScreen() { SetName(L"C_TextLoadScreen"); }

void C_LoadScreen::C_TextLoadScreen::Draw(IDirect3DDevice9* device)
{
    if (!Font) return;
    if (!Font->Font) Font->Load(device);
    C_BaseText2D::Draw(device);
    Font->ReleaseFont();
}

C_LoadScreen::C_LoadScreen() { SetName(L"LoadScreen"); }
C_LoadScreen::~C_LoadScreen() = default;

std::wstring C_LoadScreen::HalfSizeFont(const std::wstring& description)
{
    const std::wstring face = ParameterString::GetField(description, 0);
    const std::wstring weight = ParameterString::GetField(description, 2);
    const int height = ParameterString::ReadInt(ParameterString::GetField(description, 1)) / 2;
    return face + L"; " + std::to_wstring(height) + L"; " + weight + L";";
}

void C_LoadScreen::Load(IDirect3DDevice9* device)
{
    C_ResManager& manager = C_ResManager::Instance();
    const std::wstring title = manager.GetText(L"LoadScreen");
    const std::wstring fontDescription = manager.GetText(L"LoadScreenFont");
    auto font = [&manager](const std::wstring& description) {
        return dynamic_cast<C_D3DX9FONT*>(
            manager.AddResource(L"C_D3DX9FONT", description.c_str(), description.c_str()));
    };

    Title.SetText(title);
    Title.SetFlags(5);
    Title.SetColor(0xFFFFFFFF);
    Title.SetRect(0.0f, 0.0f, 1.0f, 1.0f);
    Title.Font = font(fontDescription);
    AddToModule(&Title);

    Progress.SetText(L"");
    Progress.SetFlags(5);
    Progress.SetColor(0xAF00FF00);
    Progress.SetRect(0.0f, 0.2f, 1.0f, 1.0f);
    Progress.Font = font(HalfSizeFont(fontDescription));
    AddToModule(&Progress);

    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"LoadScreenViewPort = 0.0; 0.0; 1.0; 1.0");
    C_BaseResource* camera =
        manager.AddResource(L"C_OperatedMouseCamera", L"LoadScreenCamera", L"LoadScreenViewPort; 0.57; 0xFF000000;");
    if (camera) {
        camera->Load(device);
        AddToModule(camera);
    }
}
