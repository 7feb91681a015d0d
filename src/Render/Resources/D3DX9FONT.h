#pragma once
// A font resource: a D3DX font made from a face name or from a font file of
// the font folder installed for this process. Text objects draw with it.

#include <string>

#include "BaseClasses/BaseResource.h"
#include "Render/Resources/FontDevice.h"
#include "ResourceManager/FromFactory.h"

class C_D3DX9FONT : public C_BaseResource {
    TW_POOLED_CLASS(C_D3DX9FONT)

public:
    C_D3DX9FONT();
    ~C_D3DX9FONT() override;
    void Draw(IDirect3DDevice9* device) override;   // nothing: text objects draw
    void Load(IDirect3DDevice9* device) override;
    void Unload() override;

    // Releases the device font and the installed file, keeping the object
    // (its name included) as it is, so it can be loaded again.
    void ReleaseFont();

    // What the value string asks for (face from field 0 or the file's base
    // name, height -field 1, weight field 2) and the font file, if any.
    FontDevice::Description Describe(std::wstring& fontFile) const;

    ID3DXFont* Font = nullptr;
    std::wstring FontPath;   // the installed font file, empty when none

private:
    HANDLE m_Installed = nullptr;
};
