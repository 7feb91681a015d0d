#include "Render/Resources/FontDevice.h"

#if __has_include("port/d3dx9/d3dx9font.h")
#include "port/d3dx9/d3dx9font.h"
#define TW_HAVE_D3DX_FONT 1
#else
#define TW_HAVE_D3DX_FONT 0
#endif

namespace FontDevice {

#if TW_HAVE_D3DX_FONT

bool Available() { return true; }

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

#else

// Without the D3DX font services no font is ever created, so text objects
// draw nothing.
bool Available() { return false; }
HRESULT Create(IDirect3DDevice9*, const Description&, ID3DXFont** font)
{
    *font = nullptr;
    return E_NOTIMPL;
}
int Draw(ID3DXFont*, const std::wstring&, RECT*, DWORD, D3DCOLOR) { return 0; }
void Release(ID3DXFont*) {}
HANDLE InstallMemoryFont(const std::string&) { return nullptr; }
void RemoveMemoryFont(HANDLE) {}

#endif

}  // namespace FontDevice
