#include "port/d3dx9/wingdi.h"
#include "Common/CodePage.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace {

struct Font {
    LOGFONTW lf;
    int selections = 0;     // contexts it is selected into
    bool deleted = false;   // DeleteObject while selected
};

struct Context {
    Font* font = nullptr;
};

// Every font and context this layer handed out; contexts it did not create
// (surface contexts) get their state on first use.
std::set<Font*>& fonts() {
    static std::set<Font*> all;
    return all;
}
std::map<HDC, Context>& contexts() {
    static std::map<HDC, Context> all;
    return all;
}
std::set<HDC>& memoryContexts() {
    static std::set<HDC> all;
    return all;
}

std::string utf8(const wchar_t* text, size_t count) {
    return VORTALEX::codepage::ToUtf8(std::wstring_view(text, count));
}

void release(Font* f) {
    if (f && f->deleted && f->selections == 0) {
        fonts().erase(f);
        delete f;
    }
}

} // namespace

namespace d3dx::gdi {

const LOGFONTW* selectedFont(HDC hdc) {
    auto it = contexts().find(hdc);
    return it != contexts().end() && it->second.font ? &it->second.font->lf : nullptr;
}

PangoFontDescription* describe(const LOGFONTW& lf, double pixelSize) {
    PangoFontDescription* d = pango_font_description_new();
    size_t n = 0;
    while (n < LF_FACESIZE && lf.lfFaceName[n]) ++n;
    const std::string family = utf8(lf.lfFaceName, n);
    pango_font_description_set_family(d, family.empty() ? "Sans" : family.c_str());
    pango_font_description_set_absolute_size(d, pixelSize * PANGO_SCALE);
    const int weight = lf.lfWeight <= 0 ? FW_NORMAL : std::clamp<int>(lf.lfWeight, 100, 1000);
    pango_font_description_set_weight(d, (PangoWeight)weight);
    pango_font_description_set_style(d, lf.lfItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
}

} // namespace d3dx::gdi

HFONT CreateFontIndirectW(const LOGFONTW* lf) {
    if (!lf) return nullptr;
    auto* f = new Font{*lf};
    f->lf.lfFaceName[LF_FACESIZE - 1] = 0;
    fonts().insert(f);
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

HDC CreateCompatibleDC(HDC) {
    auto* marker = new char;
    HDC hdc = reinterpret_cast<HDC>(marker);
    memoryContexts().insert(hdc);
    contexts()[hdc] = Context{};
    return hdc;
}

BOOL DeleteDC(HDC hdc) {
    if (!memoryContexts().count(hdc)) return FALSE;
    Font* selected = contexts()[hdc].font;
    contexts().erase(hdc);
    memoryContexts().erase(hdc);
    delete reinterpret_cast<char*>(hdc);
    if (selected) {
        --selected->selections;
        release(selected);
    }
    return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
    Font* f = static_cast<Font*>(object);
    if (!hdc || !fonts().count(f) || f->deleted) return HGDI_ERROR;
    Context& c = contexts()[hdc];
    Font* previous = c.font;
    c.font = f;
    ++f->selections;
    if (previous) {
        --previous->selections;
        release(previous);
        if (previous->deleted) return nullptr;
    }
    return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    Font* f = static_cast<Font*>(object);
    if (!fonts().count(f) || f->deleted) return FALSE;
    f->deleted = true;
    release(f);
    return TRUE;
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size) {
    if (!hdc || !size || count < 0 || (!text && count > 0)) return FALSE;
    LOGFONTW fallback{};
    fallback.lfHeight = -16;
    const LOGFONTW* lf = d3dx::gdi::selectedFont(hdc);
    if (!lf) lf = &fallback;
    const double px = lf->lfHeight < 0 ? -lf->lfHeight : lf->lfHeight > 0 ? lf->lfHeight * 0.8 : 16.0;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(s);
    PangoLayout* l = pango_cairo_create_layout(cr);
    PangoFontDescription* d = d3dx::gdi::describe(*lf, px);
    pango_layout_set_font_description(l, d);
    const std::string t = utf8(text, (size_t)count);
    pango_layout_set_text(l, t.c_str(), (int)t.size());
    PangoRectangle logical;
    pango_layout_get_pixel_extents(l, nullptr, &logical);
    size->cx = logical.width; // an empty text still has a line's height
    size->cy = logical.height;
    pango_font_description_free(d);
    g_object_unref(l);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return TRUE;
}
