#include "port/d3dx9/wingdi.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <string>
#include <vector>

#include "port/d3dx9/gdi_context.h"

using namespace d3dx::gdi::detail;

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
