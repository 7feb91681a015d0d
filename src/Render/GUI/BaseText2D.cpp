#include "Render/GUI/BaseText2D.h"

#include "BaseClasses/ParameterString.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_BaseText2D)

namespace {

struct FlagName {
    const wchar_t* name;
    uint32_t bit;
};

// The text format flags by name, with their Win32 values.
constexpr FlagName kFlags[] = {
    {L"DT_TOP", 0x0},          {L"DT_LEFT", 0x0},          {L"DT_CENTER", 0x1},      {L"DT_RIGHT", 0x2},
    {L"DT_VCENTER", 0x4},      {L"DT_BOTTOM", 0x8},        {L"DT_WORDBREAK", 0x10},  {L"DT_SINGLELINE", 0x20},
    {L"DT_EXPANDTABS", 0x40},  {L"DT_TABSTOP", 0x80},      {L"DT_NOCLIP", 0x100},    {L"DT_EXTERNALLEADING", 0x200},
    {L"DT_CALCRECT", 0x400},   {L"DT_NOPREFIX", 0x800},    {L"DT_INTERNAL", 0x1000},
};

}  // namespace

C_BaseText2D::C_BaseText2D() { ResourceLevel = 1; }
C_BaseText2D::~C_BaseText2D() = default;

uint32_t C_BaseText2D::FlagBit(const std::wstring& name)
{
    for (const FlagName& flag : kFlags)
        if (name == flag.name) return flag.bit;
    return 0;
}

uint32_t C_BaseText2D::ReadFlags(const std::wstring& names)
{
    uint32_t flags = 0;
    for (const std::wstring& name : ParameterString::ReadList(names, 0)) flags |= FlagBit(name);
    return flags;
}

std::wstring C_BaseText2D::Resolve(int index) const
{
    const std::wstring key = GetField(index);
    // An empty field names nothing; asking for it would only make an
    // unnamed text object.
    if (key.empty()) return std::wstring();
    C_BaseResource* resource = C_ResManager::Instance().AddResource(L"C_D3DXSTRING", key.c_str(), key.c_str());
    auto* text = dynamic_cast<C_D3DXSTRING*>(resource);
    return text ? text->GetText() : std::wstring();
}

void C_BaseText2D::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    Text = Resolve(0);
    Flags = ReadFlags(Resolve(1));
    if (const std::wstring rect = Resolve(2); !rect.empty()) {
        SetRect(ParameterString::ReadFloat(ParameterString::GetField(rect, 0)),
                ParameterString::ReadFloat(ParameterString::GetField(rect, 1)),
                ParameterString::ReadFloat(ParameterString::GetField(rect, 2)),
                ParameterString::ReadFloat(ParameterString::GetField(rect, 3)));
    }
    if (const std::wstring colour = Resolve(3); !colour.empty()) Colour = ParameterString::ReadColor(colour);
    if (const std::wstring font = Resolve(4); !font.empty()) {
        C_BaseResource* resource = C_ResManager::Instance().AddResource(L"C_D3DX9FONT", font.c_str(), font.c_str());
        Font = dynamic_cast<C_D3DX9FONT*>(resource);
    }
}

void C_BaseText2D::SetRect(float left, float top, float right, float bottom)
{
    Rect[0] = left;
    Rect[1] = top;
    Rect[2] = right;
    Rect[3] = bottom;
    for (int i = 0; i < 4; ++i) {
        // Truncated toward zero; absurd fractions are held to the int range.
        const double scaled = static_cast<double>(Rect[i]) * 1024.0;
        Rect1024[i] = scaled >= 2147483647.0 ? INT32_MAX : scaled <= -2147483648.0 ? INT32_MIN
                                                                                 : static_cast<int32_t>(scaled);
    }
}

void C_BaseText2D::SetFont(const std::wstring& name)
{
    Font = dynamic_cast<C_D3DX9FONT*>(C_ResManager::Instance().GetResource(name.c_str(), L"C_D3DX9FONT", true));
}

RECT C_BaseText2D::PixelRect(const D3DVIEWPORT9& viewport) const
{
    auto scale = [](int32_t fraction1024, DWORD size) {
        return static_cast<LONG>((static_cast<uint32_t>(fraction1024) * size) >> 10);
    };
    RECT rect;
    rect.left = static_cast<LONG>(viewport.X) + scale(Rect1024[0], viewport.Width);
    rect.top = static_cast<LONG>(viewport.Y) + scale(Rect1024[1], viewport.Height);
    rect.right = static_cast<LONG>(viewport.X) + scale(Rect1024[2], viewport.Width);
    rect.bottom = static_cast<LONG>(viewport.Y) + scale(Rect1024[3], viewport.Height);
    return rect;
}

void C_BaseText2D::Draw(IDirect3DDevice9* device)
{
    if (CommonData().RenderPass != 0 || !Font || !Font->Font || !device) return;
    D3DVIEWPORT9 viewport{};
    if (FAILED(device->GetViewport(&viewport))) return;
    RECT rect = PixelRect(viewport);
    FontDevice::Draw(Font->Font, Text, &rect, Flags, Colour);
}

double C_BaseText2D::SetString(double id, const std::string& text)
{
    if (auto* object = dynamic_cast<C_BaseText2D*>(FromID(id))) object->Text = ScriptTextToWide(text);
    return 0.0;
}
