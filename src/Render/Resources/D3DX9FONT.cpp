#include "Render/Resources/D3DX9FONT.h"

#include "BaseClasses/DataFile.h"
#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_D3DX9FONT)

C_D3DX9FONT::C_D3DX9FONT() = default;

C_D3DX9FONT::~C_D3DX9FONT() { ReleaseFont(); }

void C_D3DX9FONT::Draw(IDirect3DDevice9*) {}

FontDevice::Description C_D3DX9FONT::Describe(std::wstring& fontFile) const
{
    FontDevice::Description description;
    const std::wstring face = GetField(0);
    description.Height = -ParameterString::ReadInt(GetField(1));
    description.Weight = static_cast<unsigned>(ParameterString::ReadInt(GetField(2)));
    fontFile.clear();
    const std::size_t dot = face.find(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        fontFile = face;
        description.FaceName = face.substr(0, dot);
    } else {
        description.FaceName = face;
    }
    if (description.FaceName.size() > 31) description.FaceName.resize(31);
    return description;
}

void C_D3DX9FONT::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    ReleaseFont();
    std::wstring file;
    const FontDevice::Description description = Describe(file);
    if (!file.empty()) {
        FontPath = C_ResManager::Instance().GetText(L"FolderFont") + L"\\" + file;
        std::string bytes;
        if (ReadDataFile(FontPath, bytes)) m_Installed = FontDevice::InstallMemoryFont(bytes);
        if (!m_Installed) {
            LOG_WARNING(L"Не добавлен шрифт: " << FontPath);
            FontPath.clear();
            return;
        }
    }
    if (!device) return;
    if (FAILED(FontDevice::Create(device, description, &Font))) Font = nullptr;
}

void C_D3DX9FONT::ReleaseFont()
{
    if (Font) {
        FontDevice::Release(Font);
        Font = nullptr;
    }
    // The file was installed from memory, so it is removed through its
    // handle (removing it by path would find nothing to remove).
    if (m_Installed) {
        FontDevice::RemoveMemoryFont(m_Installed);
        m_Installed = nullptr;
    }
    FontPath.clear();
}

void C_D3DX9FONT::Unload()
{
    ReleaseFont();
    C_BaseResource::Unload();
}
