#pragma once
// The state behind the GDI functions: the objects (fonts, pens, brushes,
// bitmaps) with their registry, the device contexts with their saved states,
// and the pango and cairo helpers that drawing and text share. Internal to
// the GDI port.

#include <pango/pangocairo.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "port/d3dx9/wingdi.h"

namespace d3dx::gdi::detail {

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

struct Context {
    State state;
    std::vector<State> saved;
    bool memory = false;
    Bitmap* bitmap = nullptr;            // selected into a memory context
    cairo_surface_t* target = nullptr;   // where drawing goes
    cairo_surface_t* placeholder = nullptr; // a memory context's 1 x 1 start
};

std::set<Object*>& objects();
Object* known(HGDIOBJ handle);
void retain(Object* o);
void release(Object* o);
Object* makeStock(Object* o);
Pen* stockPen(int index);
Brush* stockBrush(int index);
void retainState(const State& s);
void releaseState(const State& s);
std::map<HDC, Context>& contexts();
Context* context(HDC hdc);
Context& newContext(HDC hdc, cairo_surface_t* target, bool memory);
void dropContext(HDC hdc);
std::string utf8(const wchar_t* text, size_t count, std::vector<int>* starts = nullptr);
PangoContext* sharedContext();
const LOGFONTW& fallbackFont();
PangoFontDescription* descriptionOf(Context* c);
PangoLayout* layoutText(Context* c, const std::string& text);
void setColour(cairo_t* cr, COLORREF c);
cairo_t* begin(Context& c);
bool drawable(Context* c);
RECT targetRect(Context& c);
void fill(Context& c, double x, double y, double w, double h, COLORREF colour);
void applyPen(cairo_t* cr, const Pen& p);
bool validBitmapInfo(const BITMAPINFO* info);
bool transfer(Context& dest, int x, int y, int w, int h, cairo_surface_t* src, int xs, int ys, int ws, int hs,
              cairo_operator_t op, double alpha);

} // namespace d3dx::gdi::detail
