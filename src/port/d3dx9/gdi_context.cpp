#include "port/d3dx9/gdi_context.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace d3dx::gdi::detail {

// The registries live until the process ends (never destroyed), so objects
// released by other static destructors at exit still find them.
std::set<Object*>& objects() {
    static auto* all = new std::set<Object*>;
    return *all;
}

Object* known(HGDIOBJ handle) {
    auto* o = static_cast<Object*>(handle);
    return objects().count(o) ? o : nullptr;
}

void retain(Object* o) {
    if (o) ++o->selections;
}
void release(Object* o) {
    if (!o) return;
    --o->selections;
    if (o->deleted && o->selections <= 0 && !o->stock) {
        objects().erase(o);
        delete o;
    }
}

Object* makeStock(Object* o) {
    o->stock = true;
    objects().insert(o);
    return o;
}

Pen* stockPen(int index) {
    static Pen* white = static_cast<Pen*>(makeStock(new Pen(PS_SOLID, 1, RGB(255, 255, 255))));
    static Pen* black = static_cast<Pen*>(makeStock(new Pen(PS_SOLID, 1, RGB(0, 0, 0))));
    static Pen* none = static_cast<Pen*>(makeStock(new Pen(PS_NULL, 1, 0)));
    return index == WHITE_PEN ? white : index == BLACK_PEN ? black : none;
}

Brush* stockBrush(int index) {
    static Brush* brushes[6] = {
        static_cast<Brush*>(makeStock(new Brush(false, RGB(255, 255, 255)))),
        static_cast<Brush*>(makeStock(new Brush(false, RGB(192, 192, 192)))),
        static_cast<Brush*>(makeStock(new Brush(false, RGB(128, 128, 128)))),
        static_cast<Brush*>(makeStock(new Brush(false, RGB(64, 64, 64)))),
        static_cast<Brush*>(makeStock(new Brush(false, RGB(0, 0, 0)))),
        static_cast<Brush*>(makeStock(new Brush(true, 0))),
    };
    return brushes[std::clamp(index, 0, 5)];
}


void retainState(const State& s) {
    retain(s.font);
    retain(s.pen);
    retain(s.brush);
}
void releaseState(const State& s) {
    release(s.font);
    release(s.pen);
    release(s.brush);
}


std::map<HDC, Context>& contexts() {
    static auto* all = new std::map<HDC, Context>;
    return *all;
}

Context* context(HDC hdc) {
    auto it = contexts().find(hdc);
    return it == contexts().end() ? nullptr : &it->second;
}

Context& newContext(HDC hdc, cairo_surface_t* target, bool memory) {
    Context& c = contexts()[hdc];
    c.memory = memory;
    c.target = target;
    c.state.pen = stockPen(BLACK_PEN);
    c.state.brush = stockBrush(WHITE_BRUSH);
    retainState(c.state);
    return c;
}

void dropContext(HDC hdc) {
    Context* c = context(hdc);
    if (!c) return;
    releaseState(c->state);
    for (const State& s : c->saved) releaseState(s);
    release(c->bitmap);
    if (c->placeholder) cairo_surface_destroy(c->placeholder);
    contexts().erase(hdc);
}

// UTF-8 of a wide text with the byte offset where each character starts;
// control characters become spaces, as GDI draws them as blanks here.
std::string utf8(const wchar_t* text, size_t count, std::vector<int>* starts) {
    std::string out;
    out.reserve(count);
    if (starts) starts->reserve(count + 1);
    for (size_t i = 0; i < count; ++i) {
        if (starts) starts->push_back((int)out.size());
        uint32_t c = (uint32_t)text[i];
        if (c < 0x20) c = ' ';
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | (c >> 6));
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | (c >> 12));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | (c >> 18));
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    if (starts) starts->push_back((int)out.size());
    return out;
}

// One pango context for measuring and drawing, renewed when the default
// font map changes (fonts installed from memory make a new one).
PangoContext* sharedContext() {
    static PangoFontMap* map = nullptr;
    static PangoContext* shared = nullptr;
    PangoFontMap* current = pango_cairo_font_map_get_default();
    if (current != map || !shared) {
        if (shared) g_object_unref(shared);
        map = current;
        shared = pango_font_map_create_context(map);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
        pango_cairo_context_set_font_options(shared, options);
        cairo_font_options_destroy(options);
    }
    return shared;
}

const LOGFONTW& fallbackFont() {
    static LOGFONTW lf = [] {
        LOGFONTW f{};
        f.lfHeight = -16;
        return f;
    }();
    return lf;
}

PangoFontDescription* descriptionOf(Context* c) {
    static PangoFontDescription* fallback = nullptr;
    if (c && c->state.font) {
        Font* f = c->state.font;
        if (!f->description) f->description = d3dx::gdi::describe(f->lf, d3dx::gdi::pixelSize(f->lf.lfHeight));
        return f->description;
    }
    if (!fallback) fallback = d3dx::gdi::describe(fallbackFont(), 16.0);
    return fallback;
}

// A single-line layout of the text in the context's font; the caller unrefs it.
PangoLayout* layoutText(Context* c, const std::string& text) {
    PangoLayout* l = pango_layout_new(sharedContext());
    pango_layout_set_font_description(l, descriptionOf(c));
    pango_layout_set_single_paragraph_mode(l, TRUE);
    const LOGFONTW& lf = c && c->state.font ? c->state.font->lf : fallbackFont();
    if (lf.lfUnderline || lf.lfStrikeOut) {
        PangoAttrList* attrs = pango_attr_list_new();
        if (lf.lfUnderline) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (lf.lfStrikeOut) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
        pango_layout_set_attributes(l, attrs);
        pango_attr_list_unref(attrs);
    }
    pango_layout_set_text(l, text.data(), (int)text.size());
    return l;
}

void setColour(cairo_t* cr, COLORREF c) {
    cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

// A cairo context on the target, clipped to the context's clip.
cairo_t* begin(Context& c) {
    cairo_t* cr = cairo_create(c.target);
    if (c.state.clipped) {
        const RECT& r = c.state.clip;
        cairo_rectangle(cr, r.left, r.top, std::max<LONG>(0, r.right - r.left), std::max<LONG>(0, r.bottom - r.top));
        cairo_clip(cr);
    }
    return cr;
}

bool drawable(Context* c) { return c && c->target && cairo_surface_status(c->target) == CAIRO_STATUS_SUCCESS; }

RECT targetRect(Context& c) {
    return RECT{0, 0, cairo_image_surface_get_width(c.target), cairo_image_surface_get_height(c.target)};
}

void fill(Context& c, double x, double y, double w, double h, COLORREF colour) {
    if (w <= 0 || h <= 0) return;
    cairo_t* cr = begin(c);
    setColour(cr, colour);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    cairo_destroy(cr);
}

void applyPen(cairo_t* cr, const Pen& p) {
    const double w = std::max(1, p.width);
    cairo_set_line_width(cr, w);
    setColour(cr, p.colour);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    const double dash = 3 * w, dot = w, gap = w;
    switch (p.style) {
    case PS_DASH: {
        const double d[] = {dash, gap};
        cairo_set_dash(cr, d, 2, 0);
        break;
    }
    case PS_DOT: {
        const double d[] = {dot, gap};
        cairo_set_dash(cr, d, 2, 0);
        break;
    }
    case PS_DASHDOT: {
        const double d[] = {dash, gap, dot, gap};
        cairo_set_dash(cr, d, 4, 0);
        break;
    }
    case PS_DASHDOTDOT: {
        const double d[] = {dash, gap, dot, gap, dot, gap};
        cairo_set_dash(cr, d, 6, 0);
        break;
    }
    default: break;
    }
}

bool validBitmapInfo(const BITMAPINFO* info) {
    if (!info) return false;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    return h.biBitCount == 32 && h.biCompression == BI_RGB && h.biWidth > 0 && h.biWidth <= kMaxBitmapSide &&
           h.biHeight != 0 && h.biHeight >= -kMaxBitmapSide && h.biHeight <= kMaxBitmapSide;
}

// Paints part of a source surface scaled into a destination rectangle.
bool transfer(Context& dest, int x, int y, int w, int h, cairo_surface_t* src, int xs, int ys, int ws, int hs,
              cairo_operator_t op, double alpha) {
    if (w <= 0 || h <= 0 || ws <= 0 || hs <= 0) return false;
    cairo_t* cr = begin(dest);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, (double)w / ws, (double)h / hs);
    cairo_set_source_surface(cr, src, -xs, -ys);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    if (w == ws && h == hs) cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_set_operator(cr, op);
    if (alpha < 1.0) cairo_paint_with_alpha(cr, alpha);
    else cairo_paint(cr);
    cairo_destroy(cr);
    return true;
}

} // namespace d3dx::gdi::detail

namespace d3dx::gdi {

using namespace detail;

const LOGFONTW* selectedFont(HDC hdc) {
    Context* c = context(hdc);
    return c && c->state.font ? &c->state.font->lf : nullptr;
}

double pixelSize(const LONG height) { return height < 0 ? -(double)height : height > 0 ? height * 0.8 : 16.0; }

PangoFontDescription* describe(const LOGFONTW& lf, double pixelSize) {
    PangoFontDescription* d = pango_font_description_new();
    size_t n = 0;
    while (n < LF_FACESIZE && lf.lfFaceName[n]) ++n;
    const std::string family = utf8(lf.lfFaceName, n);
    pango_font_description_set_family(d, family.empty() ? "Sans" : family.c_str());
    pango_font_description_set_absolute_size(d, std::clamp(pixelSize, 1.0, 2000.0) * PANGO_SCALE);
    const int weight = lf.lfWeight <= 0 ? FW_NORMAL : std::clamp<int>(lf.lfWeight, 100, 1000);
    pango_font_description_set_weight(d, (PangoWeight)weight);
    pango_font_description_set_style(d, lf.lfItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
}

HDC attachSurface(cairo_surface_t* target) {
    if (!target) return nullptr;
    HDC hdc = reinterpret_cast<HDC>(target);
    dropContext(hdc);
    newContext(hdc, target, false);
    return hdc;
}

void detachSurface(HDC hdc) {
    Context* c = context(hdc);
    if (c && !c->memory) dropContext(hdc);
}

} // namespace d3dx::gdi
