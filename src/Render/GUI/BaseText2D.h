#pragma once
// One string drawn into a rectangle of the current viewport with a font
// resource, alignment flags and a colour. Every field of the value string
// names a text-table entry; scripts change the text with SetString.

#include <cstdint>
#include <string>

#include "BaseClasses/BaseModule.h"
#include "BaseClasses/BaseResource.h"
#include "Render/Resources/D3DX9FONT.h"
#include "ResourceManager/FromFactory.h"

class C_BaseText2D : public C_BaseResource, public ContainedInModule {
    TW_POOLED_CLASS(C_BaseText2D)

public:
    C_BaseText2D();
    ~C_BaseText2D() override;

    void Draw(IDirect3DDevice9* device) override;   // 16
    void Load(IDirect3DDevice9* device) override;   // 21

    // The bit of one flag name, or 0 for a name that is not a flag.
    static uint32_t FlagBit(const std::wstring& name);
    // OR of the names of a parameter string, up to its first empty field.
    static uint32_t ReadFlags(const std::wstring& names);

    // What the load screen sets directly.
    void SetText(const std::wstring& text) { Text = text; }
    void SetFlags(uint32_t flags) { Flags = flags; }
    void SetColor(D3DCOLOR colour) { Colour = colour; }
    void SetRect(float left, float top, float right, float bottom);
    // The font object of that name; a warning when there is none.
    void SetFont(const std::wstring& name);

    // The pixel rectangle inside a viewport.
    RECT PixelRect(const D3DVIEWPORT9& viewport) const;

    // Script function: the text of object `id`; id 0 changes nothing.
    static double SetString(double id, const std::string& text);

    std::wstring Text;
    float Rect[4] = {0.0f, 0.0f, 1.0f, 1.0f};
    uint32_t Flags = 5;
    int32_t Rect1024[4] = {0, 0, 1024, 1024};
    D3DCOLOR Colour = 0xFFFFFFFF;
    C_D3DX9FONT* Font = nullptr;   // not owned

protected:
    // The text of the table entry that field `index` names (the text object
    // of that name is fetched or made); empty for an empty field.
    std::wstring Resolve(int index) const;
};
