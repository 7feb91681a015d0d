#include "port/d3dx9/wingdi.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <string>
#include <vector>

#include "port/d3dx9/gdi_context.h"

using namespace d3dx::gdi::detail;

// ---------------------------------------------------------------------------
// Objects and contexts
// ---------------------------------------------------------------------------
HFONT CreateFontIndirectW(const LOGFONTW* lf) {
    if (!lf) return nullptr;
    auto* f = new Font;
    f->lf = *lf;
    f->lf.lfFaceName[LF_FACESIZE - 1] = 0;
    objects().insert(f);
    return reinterpret_cast<HFONT>(f);
}

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCWSTR faceName) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWidth = width;
    lf.lfEscapement = escapement;
    lf.lfOrientation = orientation;
    lf.lfWeight = weight;
    lf.lfItalic = (BYTE)(italic != 0);
    lf.lfUnderline = (BYTE)(underline != 0);
    lf.lfStrikeOut = (BYTE)(strikeOut != 0);
    lf.lfCharSet = (BYTE)charSet;
    lf.lfOutPrecision = (BYTE)outPrecision;
    lf.lfClipPrecision = (BYTE)clipPrecision;
    lf.lfQuality = (BYTE)quality;
    lf.lfPitchAndFamily = (BYTE)pitchAndFamily;
    for (size_t i = 0; faceName && i + 1 < LF_FACESIZE && faceName[i]; ++i) lf.lfFaceName[i] = faceName[i];
    return CreateFontIndirectW(&lf);
}

HPEN CreatePen(int style, int width, COLORREF colour) {
    if (style < PS_SOLID || style > PS_INSIDEFRAME) return nullptr;
    auto* p = new Pen(style, std::clamp(width, 0, 1000), colour & 0xFFFFFF);
    objects().insert(p);
    return reinterpret_cast<HPEN>(p);
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    auto* b = new Brush(false, colour & 0xFFFFFF);
    objects().insert(b);
    return reinterpret_cast<HBRUSH>(b);
}

HBRUSH GetSysColorBrush(int index) {
    static auto* brushes = new std::map<int, Brush*>;
    if (index < 0 || index > COLOR_MENUBAR) return nullptr;
    Brush*& b = (*brushes)[index];
    if (!b) b = static_cast<Brush*>(makeStock(new Brush(false, GetSysColor(index))));
    return reinterpret_cast<HBRUSH>(b);
}

HGDIOBJ GetStockObject(int index) {
    switch (index) {
    case WHITE_BRUSH: case LTGRAY_BRUSH: case GRAY_BRUSH: case DKGRAY_BRUSH: case BLACK_BRUSH: case NULL_BRUSH:
        return stockBrush(index);
    case WHITE_PEN: case BLACK_PEN: case NULL_PEN: return stockPen(index);
    case DEFAULT_GUI_FONT: {
        static Font* gui = [] {
            auto* f = new Font;
            f->lf.lfHeight = -11;
            f->lf.lfWeight = FW_NORMAL;
            const wchar_t face[] = L"Sans";
            std::copy(face, face + 5, f->lf.lfFaceName);
            makeStock(f);
            return f;
        }();
        return gui;
    }
    default: return nullptr;
    }
}

HDC CreateCompatibleDC(HDC) {
    auto* marker = new char;
    HDC hdc = reinterpret_cast<HDC>(marker);
    Context& c = newContext(hdc, nullptr, true);
    c.placeholder = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    c.target = c.placeholder;
    return hdc;
}

BOOL DeleteDC(HDC hdc) {
    Context* c = context(hdc);
    if (!c || !c->memory) return FALSE;
    dropContext(hdc);
    delete reinterpret_cast<char*>(hdc);
    return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ handle) {
    Context* c = context(hdc);
    Object* o = known(handle);
    if (!c || !o || o->deleted) return HGDI_ERROR;
    Object* previous = nullptr;
    switch (o->kind) {
    case Kind::Font:
        previous = c->state.font;
        c->state.font = static_cast<Font*>(o);
        break;
    case Kind::Pen:
        previous = c->state.pen;
        c->state.pen = static_cast<Pen*>(o);
        break;
    case Kind::Brush:
        previous = c->state.brush;
        c->state.brush = static_cast<Brush*>(o);
        break;
    case Kind::Bitmap: {
        // Only memory contexts take bitmaps, and a bitmap sits in one at a time.
        if (!c->memory || (o->selections > 0 && c->bitmap != o)) return HGDI_ERROR;
        previous = c->bitmap;
        c->bitmap = static_cast<Bitmap*>(o);
        c->target = c->bitmap->surface;
        break;
    }
    }
    retain(o);
    if (!previous) return nullptr;
    const bool gone = previous->deleted && previous->selections <= 1 && !previous->stock;
    release(previous);
    return gone ? nullptr : previous;
}

BOOL DeleteObject(HGDIOBJ handle) {
    Object* o = known(handle);
    if (!o || o->deleted) return FALSE;
    if (o->stock) return TRUE;
    o->deleted = true;
    if (o->selections <= 0) {
        objects().erase(o);
        delete o;
    }
    return TRUE;
}

int SaveDC(HDC hdc) {
    Context* c = context(hdc);
    if (!c) return 0;
    c->saved.push_back(c->state);
    retainState(c->state);
    return (int)c->saved.size();
}

BOOL RestoreDC(HDC hdc, int level) {
    Context* c = context(hdc);
    if (!c || level == 0) return FALSE;
    const int count = (int)c->saved.size();
    const int target = level < 0 ? count + level + 1 : level; // the save to go back to
    if (target < 1 || target > count) return FALSE;
    releaseState(c->state);
    c->state = c->saved[target - 1];
    // The state taken over keeps the reference its save held.
    for (int i = target; i < count; ++i) releaseState(c->saved[i]);
    c->saved.resize(target - 1);
    return TRUE;
}

// ---------------------------------------------------------------------------
// Lines, rectangles, pixels, gradients
// ---------------------------------------------------------------------------
BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT previous) {
    Context* c = context(hdc);
    if (!c) return FALSE;
    if (previous) *previous = c->state.position;
    c->state.position = POINT{x, y};
    return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
    Context* c = context(hdc);
    if (!drawable(c)) return FALSE;
    const POINT from = c->state.position;
    c->state.position = POINT{x, y};
    const Pen* p = c->state.pen;
    if (!p || p->style == PS_NULL) return TRUE;
    const int w = std::max(1, p->width);
    if ((from.x == x || from.y == y) && p->style == PS_SOLID) {
        // Axis lines as pixel rows and columns, the end point left out.
        const int x0 = std::min<int>(from.x, x), x1 = std::max<int>(from.x, x);
        const int y0 = std::min<int>(from.y, y), y1 = std::max<int>(from.y, y);
        const int half = (w - 1) / 2;
        if (from.y == y) fill(*c, from.x < x ? x0 : x0 + 1, y - half, x1 - x0, w, p->colour);
        else fill(*c, x - half, from.y < y ? y0 : y0 + 1, w, y1 - y0, p->colour);
        return TRUE;
    }
    cairo_t* cr = begin(*c);
    applyPen(cr, *p);
    cairo_move_to(cr, from.x + 0.5, from.y + 0.5);
    cairo_line_to(cr, x + 0.5, y + 0.5);
    cairo_stroke(cr);
    cairo_destroy(cr);
    return TRUE;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
    Context* c = context(hdc);
    if (!drawable(c)) return FALSE;
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    if (c->state.brush && !c->state.brush->hollow)
        fill(*c, left, top, right - left, bottom - top, c->state.brush->colour);
    const Pen* p = c->state.pen;
    if (p && p->style != PS_NULL && right - left > 0 && bottom - top > 0) {
        const double w = std::min({(double)std::max(1, p->width), (right - left) / 2.0, (bottom - top) / 2.0});
        cairo_t* cr = begin(*c);
        applyPen(cr, *p);
        cairo_set_line_width(cr, w);
        cairo_rectangle(cr, left + w / 2, top + w / 2, right - left - w, bottom - top - w);
        cairo_stroke(cr);
        cairo_destroy(cr);
    }
    return TRUE;
}

namespace {
// A brush handle may also be a system colour index plus one, as in Win32.
const Brush* brushOf(HBRUSH handle) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value >= 1 && value <= COLOR_MENUBAR + 1)
        return reinterpret_cast<const Brush*>(GetSysColorBrush((int)value - 1));
    Object* o = known(handle);
    return o && o->kind == Kind::Brush ? static_cast<const Brush*>(o) : nullptr;
}
} // namespace

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
    Context* c = context(hdc);
    const Brush* b = brushOf(brush);
    if (!drawable(c) || !rect || !b) return 0;
    if (!b->hollow) fill(*c, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, b->colour);
    return 1;
}

int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush) {
    Context* c = context(hdc);
    const Brush* b = brushOf(brush);
    if (!drawable(c) || !rect || !b) return 0;
    if (b->hollow || rect->right <= rect->left || rect->bottom <= rect->top) return 1;
    const LONG w = rect->right - rect->left, h = rect->bottom - rect->top;
    fill(*c, rect->left, rect->top, w, 1, b->colour);
    fill(*c, rect->left, rect->bottom - 1, w, 1, b->colour);
    fill(*c, rect->left, rect->top, 1, h, b->colour);
    fill(*c, rect->right - 1, rect->top, 1, h, b->colour);
    return 1;
}

BOOL SetPixelV(HDC hdc, int x, int y, COLORREF colour) {
    Context* c = context(hdc);
    if (!drawable(c)) return FALSE;
    const RECT t = targetRect(*c);
    if (x < t.left || y < t.top || x >= t.right || y >= t.bottom) return FALSE;
    if (c->state.clipped && (x < c->state.clip.left || y < c->state.clip.top || x >= c->state.clip.right ||
                             y >= c->state.clip.bottom))
        return FALSE;
    fill(*c, x, y, 1, 1, colour);
    return TRUE;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
    Context* c = context(hdc);
    if (!drawable(c)) return CLR_INVALID;
    const RECT t = targetRect(*c);
    if (x < t.left || y < t.top || x >= t.right || y >= t.bottom) return CLR_INVALID;
    cairo_surface_flush(c->target);
    const unsigned char* data = cairo_image_surface_get_data(c->target);
    const int stride = cairo_image_surface_get_stride(c->target);
    const cairo_format_t format = cairo_image_surface_get_format(c->target);
    if (!data) return CLR_INVALID;
    uint32_t r, g, b;
    if (format == CAIRO_FORMAT_RGB16_565) {
        const uint16_t p = reinterpret_cast<const uint16_t*>(data + (size_t)y * stride)[x];
        r = ((p >> 11) & 31) * 255 / 31;
        g = ((p >> 5) & 63) * 255 / 63;
        b = (p & 31) * 255 / 31;
    } else {
        const uint32_t p = reinterpret_cast<const uint32_t*>(data + (size_t)y * stride)[x];
        const uint32_t a = format == CAIRO_FORMAT_ARGB32 ? p >> 24 : 255;
        r = (p >> 16) & 255;
        g = (p >> 8) & 255;
        b = p & 255;
        if (a > 0 && a < 255) { // premultiplied
            r = std::min<uint32_t>(255, r * 255 / a);
            g = std::min<uint32_t>(255, g * 255 / a);
            b = std::min<uint32_t>(255, b * 255 / a);
        }
    }
    return RGB(r, g, b);
}

BOOL GradientFill(HDC hdc, TRIVERTEX* vertices, ULONG vertexCount, void* mesh, ULONG meshCount, ULONG mode) {
    Context* c = context(hdc);
    if (!drawable(c) || !vertices || !mesh || (mode != GRADIENT_FILL_RECT_H && mode != GRADIENT_FILL_RECT_V))
        return FALSE;
    const auto* rects = static_cast<const GRADIENT_RECT*>(mesh);
    for (ULONG i = 0; i < meshCount; ++i) {
        if (rects[i].UpperLeft >= vertexCount || rects[i].LowerRight >= vertexCount) return FALSE;
    }
    cairo_t* cr = begin(*c);
    for (ULONG i = 0; i < meshCount; ++i) {
        const TRIVERTEX& a = vertices[rects[i].UpperLeft];
        const TRIVERTEX& b = vertices[rects[i].LowerRight];
        const double x0 = std::min(a.x, b.x), x1 = std::max(a.x, b.x);
        const double y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
        if (x1 <= x0 || y1 <= y0) continue;
        // The gradient runs from the first vertex's colour at its own edge.
        const bool h = mode == GRADIENT_FILL_RECT_H;
        const double from = h ? a.x : a.y, to = h ? b.x : b.y;
        cairo_pattern_t* p = h ? cairo_pattern_create_linear(from, 0, to, 0) : cairo_pattern_create_linear(0, from, 0, to);
        cairo_pattern_add_color_stop_rgb(p, 0, (a.Red >> 8) / 255.0, (a.Green >> 8) / 255.0, (a.Blue >> 8) / 255.0);
        cairo_pattern_add_color_stop_rgb(p, 1, (b.Red >> 8) / 255.0, (b.Green >> 8) / 255.0, (b.Blue >> 8) / 255.0);
        cairo_set_source(cr, p);
        cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
        cairo_fill(cr);
        cairo_pattern_destroy(p);
    }
    cairo_destroy(cr);
    return TRUE;
}

// ---------------------------------------------------------------------------
// Clipping
// ---------------------------------------------------------------------------
int GetClipBox(HDC hdc, LPRECT rect) {
    Context* c = context(hdc);
    if (!drawable(c) || !rect) return ERROR;
    RECT r = targetRect(*c);
    if (c->state.clipped) {
        r.left = std::max(r.left, c->state.clip.left);
        r.top = std::max(r.top, c->state.clip.top);
        r.right = std::min(r.right, c->state.clip.right);
        r.bottom = std::min(r.bottom, c->state.clip.bottom);
    }
    if (r.right <= r.left || r.bottom <= r.top) {
        *rect = RECT{0, 0, 0, 0};
        return NULLREGION;
    }
    *rect = r;
    return SIMPLEREGION;
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
    Context* c = context(hdc);
    if (!drawable(c)) return ERROR;
    RECT r{left, top, right, bottom};
    if (c->state.clipped) {
        r.left = std::max(r.left, c->state.clip.left);
        r.top = std::max(r.top, c->state.clip.top);
        r.right = std::min(r.right, c->state.clip.right);
        r.bottom = std::min(r.bottom, c->state.clip.bottom);
    }
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    c->state.clipped = true;
    c->state.clip = r;
    RECT box;
    return GetClipBox(hdc, &box);
}

// ---------------------------------------------------------------------------
// Bitmaps
// ---------------------------------------------------------------------------
HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE, DWORD) {
    if (bits) *bits = nullptr;
    // Rows of a cairo surface run top-down, so only top-down sections share
    // their memory with it.
    if (!validBitmapInfo(info) || usage != DIB_RGB_COLORS || info->bmiHeader.biHeight > 0) return nullptr;
    const int w = info->bmiHeader.biWidth, h = -info->bmiHeader.biHeight;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    auto* b = new Bitmap;
    b->surface = s;
    objects().insert(b);
    if (bits) *bits = cairo_image_surface_get_data(s);
    return reinterpret_cast<HBITMAP>(b);
}

int StretchDIBits(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc, int hSrc,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
    Context* c = context(hdc);
    if (!drawable(c) || !bits || !validBitmapInfo(info) || usage != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
    const int w = info->bmiHeader.biWidth, h = std::abs(info->bmiHeader.biHeight);
    const bool bottomUp = info->bmiHeader.biHeight > 0;
    // The source rectangle held to the bitmap.
    const int x0 = std::clamp(xSrc, 0, w), y0 = std::clamp(ySrc, 0, h);
    const int x1 = std::clamp(xSrc + std::max(0, wSrc), 0, w), y1 = std::clamp(ySrc + std::max(0, hSrc), 0, h);
    if (x1 <= x0 || y1 <= y0 || wDest <= 0 || hDest <= 0) return 0;
    // DIB alpha means nothing to a copy: the pixels land opaque.
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, x1 - x0, y1 - y0);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return 0;
    }
    unsigned char* out = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    const auto* in = static_cast<const uint32_t*>(bits);
    for (int y = y0; y < y1; ++y) {
        const int row = bottomUp ? h - 1 - y : y;
        std::copy(in + (size_t)row * w + x0, in + (size_t)row * w + x1,
                  reinterpret_cast<uint32_t*>(out + (size_t)(y - y0) * stride));
    }
    cairo_surface_mark_dirty(s);
    const int scaledW = (int)std::lround((double)wDest * (x1 - x0) / std::max(1, wSrc));
    const int scaledH = (int)std::lround((double)hDest * (y1 - y0) / std::max(1, hSrc));
    transfer(*c, xDest + (int)std::lround((double)wDest * (x0 - xSrc) / std::max(1, wSrc)),
             yDest + (int)std::lround((double)hDest * (y0 - ySrc) / std::max(1, hSrc)), scaledW, scaledH, s, 0, 0,
             x1 - x0, y1 - y0, CAIRO_OPERATOR_SOURCE, 1.0);
    cairo_surface_destroy(s);
    return y1 - y0;
}

BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                DWORD rop) {
    Context* d = context(dest);
    Context* s = context(src);
    if (!drawable(d) || !drawable(s) || rop != SRCCOPY) return FALSE;
    // The caller may have written the source's pixels directly.
    cairo_surface_mark_dirty(s->target);
    return transfer(*d, x, y, width, height, s->target, xSrc, ySrc, wSrc, hSrc, CAIRO_OPERATOR_SOURCE, 1.0);
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop) {
    return StretchBlt(dest, x, y, width, height, src, xSrc, ySrc, width, height, rop);
}

BOOL AlphaBlend(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                BLENDFUNCTION blend) {
    Context* d = context(dest);
    Context* s = context(src);
    if (!drawable(d) || !drawable(s) || blend.BlendOp != AC_SRC_OVER) return FALSE;
    cairo_surface_mark_dirty(s->target);
    const double alpha = blend.SourceConstantAlpha / 255.0;
    if (blend.AlphaFormat & AC_SRC_ALPHA)
        return transfer(*d, x, y, width, height, s->target, xSrc, ySrc, wSrc, hSrc, CAIRO_OPERATOR_OVER, alpha);
    // Without source alpha the source counts as opaque: read it as RGB24.
    cairo_surface_t* opaque = cairo_image_surface_create_for_data(
        cairo_image_surface_get_data(s->target), CAIRO_FORMAT_RGB24, cairo_image_surface_get_width(s->target),
        cairo_image_surface_get_height(s->target), cairo_image_surface_get_stride(s->target));
    const BOOL ok = transfer(*d, x, y, width, height, opaque, xSrc, ySrc, wSrc, hSrc, CAIRO_OPERATOR_OVER, alpha);
    cairo_surface_destroy(opaque);
    return ok;
}

// ---------------------------------------------------------------------------
// System colours: the classic Windows scheme.
// ---------------------------------------------------------------------------
DWORD GetSysColor(int index) {
    static const COLORREF palette[] = {
        RGB(212, 208, 200), // scroll bar
        RGB(58, 110, 165),  // desktop
        RGB(10, 36, 106),   // active caption
        RGB(128, 128, 128), // inactive caption
        RGB(212, 208, 200), // menu
        RGB(255, 255, 255), // window
        RGB(0, 0, 0),       // window frame
        RGB(0, 0, 0),       // menu text
        RGB(0, 0, 0),       // window text
        RGB(255, 255, 255), // caption text
        RGB(212, 208, 200), // active border
        RGB(212, 208, 200), // inactive border
        RGB(128, 128, 128), // application workspace
        RGB(10, 36, 106),   // highlight
        RGB(255, 255, 255), // highlight text
        RGB(212, 208, 200), // button face
        RGB(128, 128, 128), // button shadow
        RGB(128, 128, 128), // grey text
        RGB(0, 0, 0),       // button text
        RGB(212, 208, 200), // inactive caption text
        RGB(255, 255, 255), // button highlight
        RGB(64, 64, 64),    // 3D dark shadow
        RGB(212, 208, 200), // 3D light
        RGB(0, 0, 0),       // tooltip text
        RGB(255, 255, 225), // tooltip background
        RGB(192, 192, 192), // (unused slot)
        RGB(0, 0, 128),     // hot-tracked item
        RGB(166, 202, 240), // active caption gradient
        RGB(192, 192, 192), // inactive caption gradient
        RGB(49, 106, 197),  // menu highlight
        RGB(212, 208, 200), // menu bar
    };
    if (index < 0 || index >= (int)(sizeof palette / sizeof palette[0])) return 0;
    return palette[index];
}
