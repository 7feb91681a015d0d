#include "Render/GUI/HtmlEffects.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <string>

namespace html {

namespace {

struct Rgb {
    double r, g, b;
};

Rgb Of(COLORREF c) { return Rgb{(double)GetRValue(c), (double)GetGValue(c), (double)GetBValue(c)}; }

Rgb Mix(Rgb a, Rgb b, double t) { return Rgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// Factor above 1 lightens toward white, below 1 darkens toward black.
Rgb Shade(Rgb c, double f) {
    if (f >= 1) return Mix(c, Rgb{255, 255, 255}, std::min(1.0, f - 1));
    return Rgb{c.r * f, c.g * f, c.b * f};
}

uint32_t Pack(Rgb c) {
    auto ch = [](double v) { return (uint32_t)std::clamp((int)std::lround(v), 0, 255); };
    return 0xFF000000u | ch(c.r) << 16 | ch(c.g) << 8 | ch(c.b);
}

COLORREF ToColour(Rgb c) {
    const uint32_t p = Pack(c);
    return RGB((p >> 16) & 255, (p >> 8) & 255, p & 255);
}

// Deterministic per-pixel noise in [0, 1): the same panel draws the same.
double Hash(int x, int y) {
    uint32_t h = (uint32_t)x * 374761393u + (uint32_t)y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFF) / 65536.0;
}

void Gradient(HDC hdc, int x0, int y0, int x1, int y1, Rgb a, Rgb b, bool horizontal) {
    if (x1 <= x0 || y1 <= y0) return;
    auto vertex = [](int x, int y, Rgb c) {
        const uint32_t p = Pack(c);
        return TRIVERTEX{x, y, (COLOR16)(((p >> 16) & 255) << 8), (COLOR16)(((p >> 8) & 255) << 8),
                         (COLOR16)((p & 255) << 8), 0xFF00};
    };
    TRIVERTEX v[2] = {vertex(x0, y0, a), vertex(x1, y1, b)};
    GRADIENT_RECT r{0, 1};
    GradientFill(hdc, v, 2, &r, 1, horizontal ? GRADIENT_FILL_RECT_H : GRADIENT_FILL_RECT_V);
}

void Solid(HDC hdc, const RECT& r, Rgb c) {
    HBRUSH brush = CreateSolidBrush(ToColour(c));
    FillRect(hdc, &r, brush);
    DeleteObject(brush);
}

// Effects computed pixel by pixel over the visible part of the rectangle.
template <typename F>
void PerPixel(HDC hdc, const RECT& rect, const RECT& visible, F colourAt) {
    const int w = visible.right - visible.left, h = visible.bottom - visible.top;
    if (w <= 0 || h <= 0) return;
    std::vector<uint32_t> pixels((size_t)w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pixels[(size_t)y * w + x] = Pack(colourAt(visible.left + x - rect.left, visible.top + y - rect.top));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    StretchDIBits(hdc, visible.left, visible.top, w, h, 0, 0, w, h, pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}

void Tile(HDC hdc, const RECT& rect, const RECT& visible, const Picture& p) {
    if (p.width <= 0 || p.height <= 0) return;
    // Tiles keep their place relative to the rectangle's corner.
    PerPixel(hdc, rect, visible, [&](int x, int y) {
        const uint32_t px = p.pixels[(size_t)(y % p.height) * p.width + (x % p.width)];
        const double a = (px >> 24) / 255.0;
        // Over white where the picture is see-through; premultiplied already.
        return Rgb{((px >> 16) & 255) + 255 * (1 - a), ((px >> 8) & 255) + 255 * (1 - a), (px & 255) + 255 * (1 - a)};
    });
}

} // namespace

std::optional<Background::Effect> ParseEffect(std::wstring_view name) {
    static const std::pair<const wchar_t*, Background::Effect> names[] = {
        {L"transparent", Background::Transparent}, {L"solid", Background::Solid},
        {L"hgradient", Background::HGradient},     {L"vgradient", Background::VGradient},
        {L"hcgradient", Background::HCGradient},   {L"vcgradient", Background::VCGradient},
        {L"3hgradient", Background::H3Gradient},   {L"3vgradient", Background::V3Gradient},
        {L"noise", Background::Noise},             {L"diagshade", Background::DiagShade},
        {L"hshade", Background::HShade},           {L"vshade", Background::VShade},
        {L"hbump", Background::HBump},             {L"vbump", Background::VBump},
        {L"softbump", Background::SoftBump},       {L"hardbump", Background::HardBump},
        {L"metal", Background::Metal},
    };
    std::wstring lower;
    for (wchar_t c : name)
        if (!std::iswspace(c)) lower += (wchar_t)std::towlower(c);
    for (const auto& [n, e] : names)
        if (lower == n) return e;
    return std::nullopt;
}

void PaintBackground(HDC hdc, const RECT& rect, const Background& bg) {
    RECT clip{};
    if (GetClipBox(hdc, &clip) == ERROR) return;
    RECT visible{std::max(rect.left, clip.left), std::max(rect.top, clip.top), std::min(rect.right, clip.right),
                 std::min(rect.bottom, clip.bottom)};
    if (visible.right <= visible.left || visible.bottom <= visible.top) return;
    if (bg.picture && bg.effect == Background::Transparent) {
        Tile(hdc, rect, visible, *bg.picture);
        return;
    }
    const Rgb start = Of(bg.start);
    // Without an end colour a shaded effect runs to a darker tone of the start;
    // without a middle one, three-colour gradients pass through a lighter tone.
    const Rgb end = bg.end ? Of(*bg.end) : Shade(start, 0.55);
    const Rgb mid = bg.mid ? Of(*bg.mid) : Shade(Mix(start, end, 0.5), 1.5);
    const int w = std::max<int>(1, rect.right - rect.left), h = std::max<int>(1, rect.bottom - rect.top);
    const int cx = rect.left + w / 2, cy = rect.top + h / 2;
    constexpr double pi = 3.14159265358979323846;
    switch (bg.effect) {
    case Background::Transparent: break;
    case Background::Solid: Solid(hdc, rect, start); break;
    case Background::HGradient: Gradient(hdc, rect.left, rect.top, rect.right, rect.bottom, start, end, true); break;
    case Background::VGradient: Gradient(hdc, rect.left, rect.top, rect.right, rect.bottom, start, end, false); break;
    case Background::HCGradient:
        Gradient(hdc, rect.left, rect.top, cx, rect.bottom, start, end, true);
        Gradient(hdc, cx, rect.top, rect.right, rect.bottom, end, start, true);
        break;
    case Background::VCGradient:
        Gradient(hdc, rect.left, rect.top, rect.right, cy, start, end, false);
        Gradient(hdc, rect.left, cy, rect.right, rect.bottom, end, start, false);
        break;
    case Background::H3Gradient:
        Gradient(hdc, rect.left, rect.top, cx, rect.bottom, start, mid, true);
        Gradient(hdc, cx, rect.top, rect.right, rect.bottom, mid, end, true);
        break;
    case Background::V3Gradient:
        Gradient(hdc, rect.left, rect.top, rect.right, cy, start, mid, false);
        Gradient(hdc, rect.left, cy, rect.right, rect.bottom, mid, end, false);
        break;
    case Background::Noise:
        PerPixel(hdc, rect, visible, [&](int x, int y) { return Mix(start, end, Hash(x, y) * 0.6); });
        break;
    case Background::DiagShade:
        PerPixel(hdc, rect, visible,
                 [&](int x, int y) { return Mix(start, end, ((double)x / w + (double)y / h) / 2); });
        break;
    case Background::HShade:
        // Horizontal bands: every other pair of rows a shade darker.
        PerPixel(hdc, rect, visible, [&](int, int y) { return (y / 2) % 2 ? Mix(start, end, 0.35) : start; });
        break;
    case Background::VShade:
        PerPixel(hdc, rect, visible, [&](int x, int) { return (x / 2) % 2 ? Mix(start, end, 0.35) : start; });
        break;
    case Background::HBump:
        // A horizontal bar lit from above: bright along its middle row.
        PerPixel(hdc, rect, visible, [&](int, int y) {
            return Mix(end, Shade(start, 1.3), std::sin(pi * (y + 0.5) / h));
        });
        break;
    case Background::VBump:
        PerPixel(hdc, rect, visible, [&](int x, int) {
            return Mix(end, Shade(start, 1.3), std::sin(pi * (x + 0.5) / w));
        });
        break;
    case Background::SoftBump: {
        // A cushion: edges fall off smoothly toward the end colour.
        const double reach = std::max(1.0, std::min(w, h) / 3.0);
        PerPixel(hdc, rect, visible, [&](int x, int y) {
            const double d = std::min({(double)x, (double)(w - 1 - x), (double)y, (double)(h - 1 - y)});
            const double t = std::clamp(d / reach, 0.0, 1.0);
            return Mix(end, start, t * t * (3 - 2 * t));
        });
        break;
    }
    case Background::HardBump: {
        // A raised button: two-pixel light and dark bevels round a flat face.
        const int b = std::min({2, w / 2, h / 2});
        PerPixel(hdc, rect, visible, [&](int x, int y) {
            if (x < b || y < b) return (x >= w - b || y >= h - b) ? start : Shade(start, 1.6);
            if (x >= w - b || y >= h - b) return end;
            return start;
        });
        break;
    }
    case Background::Metal:
        // Brushed metal: streaks along the rows under a soft sheen.
        PerPixel(hdc, rect, visible, [&](int x, int y) {
            const double sheen = 0.5 + 0.5 * std::cos(2 * pi * (y + 0.5) / h);
            const double streak = Hash(x / 8, y) * 0.25 + Hash(x, y) * 0.1;
            return Mix(Mix(end, Shade(start, 1.4), sheen), Rgb{128, 128, 128}, streak);
        });
        break;
    }
    if (bg.picture) Tile(hdc, rect, visible, *bg.picture);
}

void DrawPicture(HDC hdc, const RECT& rect, const Picture& p, int srcX, int srcY, int srcW, int srcH) {
    if (p.width <= 0 || p.height <= 0 || rect.right <= rect.left || rect.bottom <= rect.top) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = p.width;
    info.bmiHeader.biHeight = -p.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(hdc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) return;
    std::copy(p.pixels.begin(), p.pixels.end(), static_cast<uint32_t*>(bits));
    HDC memory = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    AlphaBlend(hdc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, memory, srcX, srcY, srcW, srcH,
               BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA});
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

} // namespace html
