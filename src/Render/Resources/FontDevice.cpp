#include "Render/Resources/FontDevice.h"

#include "port/d3dx9/d3dx9font.h"

namespace FontDevice {

HRESULT Create(IDirect3DDevice9* device, const Description& description, ID3DXFont** font)
{
    D3DXFONT_DESCW desc{};
    desc.Height = description.Height;
    desc.Width = 0;
    desc.Weight = description.Weight;
    desc.MipLevels = 0;
    desc.Italic = FALSE;
    desc.CharSet = DEFAULT_CHARSET;
    desc.OutputPrecision = OUT_DEFAULT_PRECIS;
    desc.Quality = DEFAULT_QUALITY;
    desc.PitchAndFamily = FF_SWISS;
    description.FaceName.copy(desc.FaceName, 31);
    return D3DXCreateFontIndirectW(device, &desc, font);
}

int Draw(ID3DXFont* font, const std::wstring& text, RECT* rect, DWORD flags, D3DCOLOR colour)
{
    return font->DrawTextW(nullptr, text.c_str(), -1, rect, flags, colour);
}

void Release(ID3DXFont* font)
{
    if (font) font->Release();
}

HANDLE InstallMemoryFont(const std::string& bytes)
{
    DWORD fonts = 0;
    return AddFontMemResourceEx(const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size()), nullptr, &fonts);
}

void RemoveMemoryFont(HANDLE font)
{
    if (font) RemoveFontMemResourceEx(font);
}

}  // namespace FontDevice
