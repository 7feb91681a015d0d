#pragma once
// Decorative backgrounds of the HTML drawer: colours and one of seventeen
// effects, painted into a rectangle of a device context.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "port/d3dx9/wingdi.h"

namespace html {

// Pixels of a picture: premultiplied 0xAARRGGBB, rows top-down.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

struct Background {
    enum Effect {
        Transparent, Solid, HGradient, VGradient, HCGradient, VCGradient, H3Gradient, V3Gradient, Noise,
        DiagShade, HShade, VShade, HBump, VBump, SoftBump, HardBump, Metal
    };
    Effect effect = Transparent;
    COLORREF start = RGB(255, 255, 255);
    std::optional<COLORREF> mid, end;
    const Picture* picture = nullptr; // tiled over the colours
    bool Visible() const { return effect != Transparent || picture; }
};

// The effect of a "bgeffect" name ("transparent", "solid", "hgradient",
// "vgradient", "hcgradient", "vcgradient", "3hgradient", "3vgradient",
// "noise", "diagshade", "hshade", "vshade", "hbump", "vbump", "softbump",
// "hardbump", "metal"), case ignored.
std::optional<Background::Effect> ParseEffect(std::wstring_view name);

// Paints the background into the rectangle; only the part inside the
// context's clip box is computed.
void PaintBackground(HDC hdc, const RECT& rect, const Background& background);

// Draws a picture scaled into the rectangle, blended by its alpha.
void DrawPicture(HDC hdc, const RECT& rect, const Picture& picture, int srcX, int srcY, int srcW, int srcH);

} // namespace html
