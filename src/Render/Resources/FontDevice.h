#pragma once
// The few D3DX font services the engine's font and text classes use, in one
// place: creating a font for a device, drawing a string into a rectangle,
// and installing a font file from memory for this process.

#include <string>

#include "port/d3d9/d3d9.h"

struct ID3DXFont;

namespace FontDevice {

struct Description {
    int Height = 0;          // negative: character height in pixels
    unsigned Weight = 0;
    std::wstring FaceName;   // at most 31 characters are used
};

HRESULT Create(IDirect3DDevice9* device, const Description& description, ID3DXFont** font);
// Draws with no sprite and the whole string; the result is the text height.
int Draw(ID3DXFont* font, const std::wstring& text, RECT* rect, DWORD flags, D3DCOLOR colour);
void Release(ID3DXFont* font);

// Installs a font file for this process; null when it is not a usable font.
HANDLE InstallMemoryFont(const std::string& bytes);
void RemoveMemoryFont(HANDLE font);

}  // namespace FontDevice
