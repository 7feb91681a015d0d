#include "Render/GUI/GUIHtmlOutput.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "Render/GUI/HtmlDrawer.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_GUIHtmlOutput)

namespace {

// Where the panel's warnings say they come from: an empty warning names
// its origin by these alone.
constexpr const char* kLoadSignature = "void __thiscall C_GUIHtmlOutput::Load(struct IDirect3DDevice9 *)";
constexpr const char* kPanelSource = "Render\\GUI\\C_GUIHtmlOutput";

void LogPanelWarning(int line, const std::wstring& text)
{
    if (!logger::Logger::WouldCommit(logger::Warning)) return;
    logger::Logger::Message message(logger::Warning, "warning", line, kPanelSource, kLoadSignature);
    message << text;
    message.Commit();
}

// Margins beyond this put the text off any surface a device can make; held
// here so that the layout's sums cannot overflow.
constexpr int32_t kMaxMargin = 1 << 20;

int32_t Margin(const std::wstring& field)
{
    return std::clamp(ParameterString::ReadInt(field), -kMaxMargin, kMaxMargin);
}

// Gives the device context back however the drawing ends.
class DeviceContext {
public:
    DeviceContext(IDirect3DSurface9* surface, HDC hdc) : m_Surface(surface), m_Hdc(hdc) {}
    ~DeviceContext() { Release(); }
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;
    void Release()
    {
        if (m_Hdc) m_Surface->ReleaseDC(m_Hdc);
        m_Hdc = nullptr;
    }

private:
    IDirect3DSurface9* m_Surface;
    HDC m_Hdc;
};

} // namespace

C_GUIHtmlOutput::C_GUIHtmlOutput()
{
    ResourceLevel = -1;
    Usage = D3DUSAGE_DYNAMIC;
    TextureFormat = D3DFMT_A8R8G8B8;
}

C_GUIHtmlOutput::~C_GUIHtmlOutput() = default;

std::wstring C_GUIHtmlOutput::PanelText()
{
    const std::wstring key = GetField(4);
    if (key.empty()) {
        LogPanelWarning(__LINE__, L"Панели " + Name + L" не задан ключ текста");
        return std::wstring();
    }
    C_BaseResource* resource = C_ResManager::Instance().AddResource(L"C_D3DXSTRING", key.c_str(), key.c_str());
    auto* text = dynamic_cast<C_D3DXSTRING*>(resource);
    std::wstring markup = text ? text->GetText() : std::wstring();
    if (markup.empty()) LogPanelWarning(__LINE__, L"Нет текста для панели " + Name + L": " + key);
    return markup;
}

void C_GUIHtmlOutput::Load(IDirect3DDevice9* device)
{
    C_Surface9::Load(device);
    if (!Surface) {
        LogPanelWarning(__LINE__, L"");
        return;
    }
    HDC hdc = nullptr;
    if (FAILED(Surface->GetDC(&hdc)) || !hdc) {
        LogPanelWarning(__LINE__, L"!hdc");
        return;
    }
    DeviceContext context(Surface, hdc);
    const std::wstring markup = PanelText();
    const int32_t left = Margin(GetField(5));
    const int32_t top = Margin(GetField(6));
    D3DSURFACE_DESC desc{};
    Surface->GetDesc(&desc);
    if (!markup.empty())
        C_HtmlDrawer::Instance().DrawPanel(hdc, static_cast<int>(desc.Width), markup, left, top);
    context.Release();
    MakeBackgroundTransparent();
}

void C_GUIHtmlOutput::MakeBackgroundTransparent()
{
    D3DSURFACE_DESC desc{};
    if (FAILED(Surface->GetDesc(&desc))) return;
    // The key compares whole pixels: only 32-bit pictures have them (a
    // 16-bit picture read as 32-bit pixels would run past its rows).
    uint32_t compared;
    if (desc.Format == D3DFMT_A8R8G8B8) compared = 0xFFFFFFFFu;
    else if (desc.Format == D3DFMT_X8R8G8B8) compared = 0x00FFFFFFu;   // the unused byte is anything
    else {
        LogPanelWarning(__LINE__, L"Фон панели " + Name + L" не сделан прозрачным: формат поверхности не 32-битный");
        return;
    }
    D3DLOCKED_RECT locked{};
    if (FAILED(Surface->LockRect(&locked, nullptr, 0)) || !locked.pBits) {
        LogPanelWarning(__LINE__, L"Фон панели " + Name + L" не сделан прозрачным: поверхность не блокируется");
        return;
    }
    auto* rows = static_cast<uint8_t*>(locked.pBits);
    uint32_t key;
    std::memcpy(&key, rows, sizeof key);
    key &= compared;
    for (UINT y = 0; y < desc.Height; ++y) {
        uint8_t* row = rows + static_cast<size_t>(y) * static_cast<size_t>(locked.Pitch);
        for (UINT x = 0; x < desc.Width; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, row + 4 * x, sizeof pixel);
            pixel = (pixel & compared) == key ? 0u : pixel | 0xFF000000u;
            std::memcpy(row + 4 * x, &pixel, sizeof pixel);
        }
    }
    Surface->UnlockRect();
}
