#include "port/d3dx9/wingdi.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Bitmaps beyond this many pixels a side are refused; nothing the engine
// draws comes near it.
constexpr int kMaxBitmapSide = 16384;

enum class Kind { Font, Pen, Brush, Bitmap };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
    int selections = 0;   // contexts (and saved states) holding it
    bool deleted = false; // DeleteObject while selected
    bool stock = false;
};

struct Font final : Object {
    Font() : Object(Kind::Font) {}
    ~Font() override {
        if (description) pango_font_description_free(description);
    }
    LOGFONTW lf{};
    PangoFontDescription* description = nullptr; // made on first use
};

struct Pen final : Object {
    Pen(int s, int w, COLORREF c) : Object(Kind::Pen), style(s), width(w), colour(c) {}
    int style;
    int width;
    COLORREF colour;
};

struct Brush final : Object {
    Brush(bool n, COLORREF c) : Object(Kind::Brush), hollow(n), colour(c) {}
    bool hollow;
    COLORREF colour;
};

struct Bitmap final : Object {
    Bitmap() : Object(Kind::Bitmap) {}
    ~Bitmap() override {
        if (surface) cairo_surface_destroy(surface);
    }
    cairo_surface_t* surface = nullptr; // ARGB32, top-down
};

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

struct State {
    Font* font = nullptr;
    Pen* pen = nullptr;
    Brush* brush = nullptr;
    COLORREF text = RGB(0, 0, 0);
    COLORREF background = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    UINT align = TA_LEFT | TA_TOP;
    bool clipped = false;
    RECT clip{};
    POINT position{};
};

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

struct Context {
    State state;
    std::vector<State> saved;
    bool memory = false;
    Bitmap* bitmap = nullptr;            // selected into a memory context
    cairo_surface_t* target = nullptr;   // where drawing goes
    cairo_surface_t* placeholder = nullptr; // a memory context's 1 x 1 start
};

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
std::string utf8(const wchar_t* text, size_t count, std::vector<int>* starts = nullptr) {
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

} // namespace

namespace d3dx::gdi {

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
// Text
// ---------------------------------------------------------------------------
BOOL GetTextExtentExPointW(HDC hdc, LPCWSTR text, int count, int maxExtent, LPINT fit, LPINT dx, SIZE* size) {
    if (!hdc || !size || count < 0 || (!text && count > 0)) return FALSE;
    Context* c = context(hdc);
    std::vector<int> starts;
    const std::string t = utf8(text, (size_t)count, dx || fit ? &starts : nullptr);
    PangoLayout* l = layoutText(c, t);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(l, nullptr, &logical);
    size->cx = logical.width; // an empty text still has a line's height
    size->cy = logical.height;
    if (dx || fit) {
        // The right edge of each cluster goes to every character that
        // starts inside it; prefix extents are the running maximum.
        std::vector<std::pair<int, int>> clusters; // start byte, right edge
        PangoLayoutIter* it = pango_layout_get_iter(l);
        do {
            PangoRectangle cluster;
            pango_layout_iter_get_cluster_extents(it, nullptr, &cluster);
            clusters.emplace_back(pango_layout_iter_get_index(it),
                                  (int)std::lround((cluster.x + cluster.width) / (double)PANGO_SCALE));
        } while (pango_layout_iter_next_cluster(it));
        pango_layout_iter_free(it);
        std::sort(clusters.begin(), clusters.end());
        size_t k = 0;
        int running = 0, fitted = 0;
        for (int i = 0; i < count; ++i) {
            while (k + 1 < clusters.size() && clusters[k + 1].first <= starts[(size_t)i]) ++k;
            if (!clusters.empty()) running = std::max(running, clusters[k].second);
            if (dx) dx[i] = running;
            if (running <= maxExtent) fitted = i + 1;
        }
        if (fit) *fit = fitted;
    }
    g_object_unref(l);
    return TRUE;
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size) {
    return GetTextExtentExPointW(hdc, text, count, 0, nullptr, nullptr, size);
}

BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* tm) {
    if (!hdc || !tm) return FALSE;
    Context* c = context(hdc);
    PangoFontDescription* d = descriptionOf(c);
    PangoFontMetrics* m = pango_context_get_metrics(sharedContext(), d, nullptr);
    const LOGFONTW& lf = c && c->state.font ? c->state.font->lf : fallbackFont();
    *tm = TEXTMETRICW{};
    tm->tmAscent = (LONG)std::ceil(pango_font_metrics_get_ascent(m) / (double)PANGO_SCALE);
    tm->tmDescent = (LONG)std::ceil(pango_font_metrics_get_descent(m) / (double)PANGO_SCALE);
    tm->tmHeight = tm->tmAscent + tm->tmDescent;
    const double em = d3dx::gdi::pixelSize(lf.lfHeight);
    tm->tmInternalLeading = std::max<LONG>(0, tm->tmHeight - (LONG)std::lround(em));
    tm->tmAveCharWidth = (LONG)std::lround(pango_font_metrics_get_approximate_char_width(m) / (double)PANGO_SCALE);
    tm->tmMaxCharWidth = (LONG)std::lround(pango_font_metrics_get_approximate_digit_width(m) / (double)PANGO_SCALE * 2);
    tm->tmWeight = lf.lfWeight <= 0 ? FW_NORMAL : lf.lfWeight;
    tm->tmItalic = lf.lfItalic;
    tm->tmUnderlined = lf.lfUnderline;
    tm->tmStruckOut = lf.lfStrikeOut;
    tm->tmFirstChar = 0x20;
    tm->tmLastChar = 0xFFFD;
    tm->tmDefaultChar = 0x20;
    tm->tmBreakChar = 0x20;
    tm->tmCharSet = lf.lfCharSet;
    tm->tmPitchAndFamily = lf.lfPitchAndFamily;
    tm->tmDigitizedAspectX = tm->tmDigitizedAspectY = 96;
    pango_font_metrics_unref(m);
    return TRUE;
}

COLORREF SetTextColor(HDC hdc, COLORREF colour) {
    Context* c = context(hdc);
    if (!c) return CLR_INVALID;
    const COLORREF old = c->state.text;
    c->state.text = colour & 0xFFFFFF;
    return old;
}
COLORREF GetTextColor(HDC hdc) {
    Context* c = context(hdc);
    return c ? c->state.text : CLR_INVALID;
}
COLORREF SetBkColor(HDC hdc, COLORREF colour) {
    Context* c = context(hdc);
    if (!c) return CLR_INVALID;
    const COLORREF old = c->state.background;
    c->state.background = colour & 0xFFFFFF;
    return old;
}
COLORREF GetBkColor(HDC hdc) {
    Context* c = context(hdc);
    return c ? c->state.background : CLR_INVALID;
}
int SetBkMode(HDC hdc, int mode) {
    Context* c = context(hdc);
    if (!c || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    const int old = c->state.bkMode;
    c->state.bkMode = mode;
    return old;
}
int GetBkMode(HDC hdc) {
    Context* c = context(hdc);
    return c ? c->state.bkMode : 0;
}
UINT SetTextAlign(HDC hdc, UINT align) {
    Context* c = context(hdc);
    if (!c) return GDI_ERROR;
    const UINT old = c->state.align;
    c->state.align = align;
    return old;
}
UINT GetTextAlign(HDC hdc) {
    Context* c = context(hdc);
    return c ? c->state.align : GDI_ERROR;
}

BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int count) {
    Context* c = context(hdc);
    if (!drawable(c) || count < 0 || (!text && count > 0)) return FALSE;
    const bool update = (c->state.align & TA_UPDATECP) != 0;
    if (update) {
        x = c->state.position.x;
        y = c->state.position.y;
    }
    PangoLayout* l = layoutText(c, utf8(text, (size_t)count));
    PangoRectangle logical;
    pango_layout_get_pixel_extents(l, nullptr, &logical);
    const double baseline = pango_layout_get_baseline(l) / (double)PANGO_SCALE;
    const UINT h = c->state.align & TA_CENTER, v = c->state.align & TA_BASELINE;
    const double left = h == TA_CENTER ? x - logical.width / 2.0 : h == TA_RIGHT ? x - logical.width : x;
    const double top = v == TA_BASELINE ? y - baseline : v == TA_BOTTOM ? y - logical.height : y;
    cairo_t* cr = begin(*c);
    if (c->state.bkMode == OPAQUE) {
        setColour(cr, c->state.background);
        cairo_rectangle(cr, left, top, logical.width, logical.height);
        cairo_fill(cr);
    }
    setColour(cr, c->state.text);
    cairo_move_to(cr, left, top);
    pango_cairo_show_layout(cr, l);
    cairo_destroy(cr);
    if (update) c->state.position.x = (LONG)std::lround(h == TA_RIGHT ? left : left + logical.width);
    g_object_unref(l);
    return TRUE;
}

int DrawTextW(HDC hdc, LPCWSTR text, int count, LPRECT rect, UINT format) {
    Context* c = context(hdc);
    if (!c || !rect || (!text && count != 0)) return 0;
    if (count < 0) count = text ? (int)std::wcslen(text) : 0;
    const bool single = (format & DT_SINGLELINE) != 0;
    const bool wrap = (format & DT_WORDBREAK) && !single;
    // Line breaks stay line breaks unless the text is one line.
    std::string t;
    {
        std::wstring copy(text, (size_t)count);
        for (wchar_t& ch : copy)
            if (ch == L'\t') ch = L' ';
        if (single)
            for (wchar_t& ch : copy)
                if (ch == L'\r' || ch == L'\n') ch = L' ';
        std::string out;
        size_t start = 0;
        for (size_t i = 0; i <= copy.size(); ++i) {
            if (i == copy.size() || copy[i] == L'\n' || copy[i] == L'\r') {
                out += utf8(copy.data() + start, i - start);
                if (i < copy.size()) {
                    if (copy[i] == L'\r' && i + 1 < copy.size() && copy[i + 1] == L'\n') ++i;
                    out += '\n';
                }
                start = i + 1;
            }
        }
        t = out;
    }
    PangoLayout* l = pango_layout_new(sharedContext());
    pango_layout_set_font_description(l, descriptionOf(c));
    pango_layout_set_text(l, t.data(), (int)t.size());
    const int width = std::max<LONG>(0, rect->right - rect->left);
    if (wrap) {
        pango_layout_set_width(l, std::max(1, width) * PANGO_SCALE);
        pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
    }
    pango_layout_set_alignment(l, (format & DT_CENTER)  ? PANGO_ALIGN_CENTER
                                  : (format & DT_RIGHT) ? PANGO_ALIGN_RIGHT
                                                        : PANGO_ALIGN_LEFT);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(l, nullptr, &logical);
    const int textH = logical.height;
    if (format & DT_CALCRECT) {
        rect->right = rect->left + (wrap ? std::min(width, logical.width) : logical.width);
        rect->bottom = rect->top + textH;
        g_object_unref(l);
        return textH;
    }
    if (!drawable(c)) {
        g_object_unref(l);
        return 0;
    }
    const int height = rect->bottom - rect->top;
    double top = rect->top;
    if (format & DT_VCENTER) top += (height - textH) / 2.0;
    else if (format & DT_BOTTOM) top += height - textH;
    double left = rect->left;
    if (!wrap) {
        // Alignment of an unwrapped layout is relative to its own width.
        if (format & DT_CENTER) left += (width - logical.width) / 2.0 - logical.x;
        else if (format & DT_RIGHT) left += width - logical.width - logical.x;
    }
    cairo_t* cr = begin(*c);
    if (!(format & DT_NOCLIP)) {
        cairo_rectangle(cr, rect->left, rect->top, width, std::max(0, height));
        cairo_clip(cr);
    }
    if (c->state.bkMode == OPAQUE) {
        setColour(cr, c->state.background);
        cairo_rectangle(cr, left + (wrap ? logical.x : 0), top, logical.width, textH);
        cairo_fill(cr);
    }
    setColour(cr, c->state.text);
    cairo_move_to(cr, left, top);
    pango_cairo_show_layout(cr, l);
    cairo_destroy(cr);
    g_object_unref(l);
    return std::max(1, textH);
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
