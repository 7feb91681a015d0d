#include "Render/GUI/HtmlDocument.h"

namespace html {

// ---------------------------------------------------------------------------
// Layout and painting
// ---------------------------------------------------------------------------
namespace {

struct Op {
    enum Kind { Fill, Paint, Text, Frame, Picture, Clip, Unclip };
    Kind kind = Fill;
    RECT rect{};
    COLORREF colour = 0;
    const Background* background = nullptr;
    const Item* item = nullptr;
    size_t start = 0, end = 0;
    int x = 0, y = 0; // text origin (left, baseline)
    int width = 1;
    BorderStyle border = BorderStyle::Solid;
    COLORREF dark = 0;   // bottom and right of a bevelled frame
    int picture = -1;
};

struct Fragment {
    const Item* item = nullptr;
    size_t start = 0, end = 0;
    int x = 0, width = 0;
    int ascent = 0, descent = 0;
    VAlign valign = VAlign::Baseline;
    int spaces = 0; // trailing spaces, not counted in a line's width at its end
    int spaceWidth = 0;
};

class Layout {
public:
    Layout(HDC hdc, Document& doc, FontCache& fonts) : m_hdc(hdc), m_doc(doc), m_fonts(fonts) {}

    std::vector<Op> ops;
    std::vector<C_HtmlDrawer::LinkArea> links;

    // Lays the flow out between x and x + width from y; returns the height.
    // With draw false nothing is emitted. Lines starting below stopY are left
    // out. usedWidth receives the widest line.
    int FlowLayout(const Flow& flow, int x, int y, int width, bool draw, int stopY, int* usedWidth) {
        width = std::clamp(width, 0, kMaxExtent);
        struct Context {
            int left, right;
            Align align;
            int block;
            size_t slot; // the background op reserved at the block's start
            int top;
        };
        std::vector<Context> blocks;
        blocks.push_back(Context{x, x + width, Style(flow.style).align, -1, 0, y});
        int cursorY = y;
        int widest = 0;
        std::vector<Fragment> line;
        int lineX = 0; // pen position relative to the line's left
        int emptyLineHeight = 0;

        auto left = [&] { return blocks.back().left; };
        auto avail = [&] { return std::max(0, blocks.back().right - blocks.back().left); };

        auto finishLine = [&](bool forced, bool paragraphEnd, int styleForEmpty) {
            if (line.empty()) {
                if (forced) cursorY += emptyLineHeight > 0 ? emptyLineHeight : LineHeightOf(styleForEmpty);
                emptyLineHeight = 0;
                return;
            }
            // Trailing spaces of the last fragment hang past the line's end.
            Fragment& last = line.back();
            const int lineWidth = last.x + last.width - last.spaceWidth;
            int ascent = 0, descent = 0, tall = 0;
            for (const Fragment& f : line) {
                if (f.valign == VAlign::Baseline) {
                    ascent = std::max(ascent, f.ascent);
                    descent = std::max(descent, f.descent);
                } else {
                    tall = std::max(tall, f.ascent + f.descent);
                }
            }
            const int height = std::max(ascent + descent, tall);
            const int baseline = cursorY + ascent;
            const Align align = blocks.back().align;
            int shift = 0;
            double extraPerSpace = 0;
            const int room = avail() - lineWidth;
            if (room > 0) {
                if (align == Align::Center) shift = room / 2;
                else if (align == Align::Right) shift = room;
                else if (align == Align::Justify && !paragraphEnd) {
                    int gaps = 0;
                    for (size_t i = 0; i + 1 < line.size(); ++i) gaps += line[i].spaces > 0 ? 1 : 0;
                    if (gaps > 0) extraPerSpace = (double)room / gaps;
                }
            }
            widest = std::max(widest, lineWidth + (blocks.back().left - x));
            if (draw && cursorY < stopY) {
                double extra = 0;
                for (const Fragment& f : line) {
                    const int fx = left() + shift + f.x + (int)std::lround(extra);
                    if (f.spaces > 0) extra += extraPerSpace;
                    int top;
                    switch (f.valign) {
                    case VAlign::Top: top = cursorY; break;
                    case VAlign::Bottom: top = cursorY + height - f.ascent - f.descent; break;
                    case VAlign::Middle: top = cursorY + (height - f.ascent - f.descent) / 2; break;
                    default: top = baseline - f.ascent; break;
                    }
                    EmitFragment(f, fx, top);
                }
            }
            cursorY += height;
            line.clear();
            lineX = 0;
        };

        for (size_t i = 0; i < flow.items.size(); ++i) {
            if (cursorY >= stopY) break;
            const Item& item = flow.items[i];
            const TextStyle& style = Style(item.style);
            switch (item.kind) {
            case ItemKind::Text: {
                const FontCache::Entry& font = m_fonts.Get(m_hdc, style);
                const size_t n = item.text.size();
                size_t p = 0;
                while (p < n) {
                    if (cursorY >= stopY) break;
                    // Spaces that would start a wrapped line are dropped.
                    if (line.empty() && lineX == 0 && item.text[p] == L' ' && (i > 0 || p > 0) && !style.preformatted) {
                        ++p;
                        continue;
                    }
                    size_t e = p;
                    while (e < n && !Breaks(item.text[e])) ++e;
                    if (e < n) ++e; // the break character stays with its piece
                    size_t spaces = 0;
                    while (spaces < e - p && item.text[e - 1 - spaces] == L' ') ++spaces;
                    const int full = Width(item, p, e, font.font);
                    const int fit = spaces ? Width(item, p, e - spaces, font.font) : full;
                    if (lineX + fit > avail() && !(line.empty() && lineX == 0)) {
                        finishLine(false, false, item.style);
                        continue; // the piece starts the next line
                    }
                    if (line.empty() && lineX == 0 && fit > avail()) {
                        // Wider than a whole line: split it where the line ends.
                        size_t k = p + 1;
                        size_t lo = p + 1, hi = e;
                        while (lo <= hi) {
                            const size_t mid = (lo + hi) / 2;
                            if (Width(item, p, mid, font.font) <= avail()) {
                                k = mid;
                                lo = mid + 1;
                            } else {
                                hi = mid - 1;
                            }
                        }
                        e = std::max(k, p + 1);
                        spaces = 0;
                    }
                    const int w = Width(item, p, e, font.font);
                    const int spaceW = spaces ? w - Width(item, p, e - spaces, font.font) : 0;
                    const bool merge = !line.empty() && line.back().item == &item && line.back().end == p &&
                                       blocks.back().align != Align::Justify;
                    if (merge) {
                        line.back().end = e;
                        line.back().width = lineX + w - line.back().x;
                        line.back().spaces = (int)spaces;
                        line.back().spaceWidth = spaceW;
                    } else {
                        Fragment f;
                        f.item = &item;
                        f.start = p;
                        f.end = e;
                        f.x = lineX;
                        f.width = w;
                        f.ascent = font.metrics.tmAscent;
                        f.descent = font.metrics.tmDescent;
                        f.valign = style.valign;
                        f.spaces = (int)spaces;
                        f.spaceWidth = spaceW;
                        line.push_back(f);
                    }
                    lineX += w;
                    p = e;
                }
                break;
            }
            case ItemKind::Picture: {
                if (lineX + item.width > avail() && !line.empty()) finishLine(false, false, item.style);
                Fragment f;
                f.item = &item;
                f.x = lineX;
                f.width = item.width;
                f.ascent = item.height;
                f.descent = 0;
                f.valign = style.valign;
                line.push_back(f);
                lineX += item.width;
                break;
            }
            case ItemKind::Tab: {
                const FontCache::Entry& font = m_fonts.Get(m_hdc, style);
                const int stop = std::max(1, 8 * (int)font.metrics.tmAveCharWidth);
                const int next = (lineX / stop + 1) * stop;
                if (next > avail() && !line.empty()) {
                    finishLine(false, false, item.style);
                    break;
                }
                lineX = next;
                // An empty fragment keeps the tab's room in the line.
                Fragment f;
                f.item = &item;
                f.x = lineX;
                f.ascent = font.metrics.tmAscent;
                f.descent = font.metrics.tmDescent;
                line.push_back(f);
                break;
            }
            case ItemKind::Break:
                emptyLineHeight = LineHeightOf(item.style);
                finishLine(true, true, item.style);
                break;
            case ItemKind::Rule: {
                finishLine(false, true, item.style);
                const int w = item.percent ? avail() * item.width / 100 : std::min(item.width, avail());
                const int gap = std::max(2, (int)std::lround(style.size * 0.4));
                int rx = left();
                if (blocks.back().align == Align::Center) rx += (avail() - w) / 2;
                else if (blocks.back().align == Align::Right) rx += avail() - w;
                if (draw && cursorY < stopY && w > 0) {
                    // An etched line: shadow above, highlight below.
                    Fill(RECT{rx, cursorY + gap, rx + w, cursorY + gap + 1}, GetSysColor(COLOR_BTNSHADOW));
                    Fill(RECT{rx, cursorY + gap + 1, rx + w, cursorY + gap + 2}, GetSysColor(COLOR_BTNHIGHLIGHT));
                }
                widest = std::max(widest, w + (left() - x));
                cursorY += 2 * gap + 2;
                break;
            }
            case ItemKind::BlockStart: {
                finishLine(false, true, item.style);
                const Block& b = m_doc.blocks[(size_t)item.index];
                cursorY += (int)b.box.margin.top;
                Context c = blocks.back();
                c.left += (int)(b.box.margin.left + b.box.padding.left);
                c.right -= (int)(b.box.margin.right + b.box.padding.right);
                if (c.right < c.left) c.right = c.left;
                c.align = b.align;
                c.block = item.index;
                c.top = cursorY;
                c.slot = ops.size();
                if (draw && b.box.background) ops.push_back(Op{}); // filled in at the block's end
                cursorY += (int)b.box.padding.top;
                blocks.push_back(c);
                break;
            }
            case ItemKind::BlockEnd: {
                finishLine(false, true, item.style);
                if (blocks.size() <= 1 || blocks.back().block != item.index) break;
                const Context c = blocks.back();
                blocks.pop_back();
                const Block& b = m_doc.blocks[(size_t)item.index];
                cursorY += (int)b.box.padding.bottom;
                if (draw && b.box.background && c.slot < ops.size()) {
                    Op& op = ops[c.slot];
                    op.kind = Op::Fill;
                    op.rect = RECT{c.left - (int)b.box.padding.left, c.top, c.right + (int)b.box.padding.right, cursorY};
                    op.colour = *b.box.background;
                }
                cursorY += (int)b.box.margin.bottom;
                break;
            }
            case ItemKind::Table: {
                finishLine(false, true, item.style);
                Table& t = *m_doc.tables[(size_t)item.index];
                const TableLayout& tl = LayoutTable(t, avail());
                int tx = left();
                if (t.align == Align::Center || (t.align == Align::Left && blocks.back().align == Align::Center))
                    tx += std::max(0, (avail() - tl.width) / 2);
                else if (t.align == Align::Right || blocks.back().align == Align::Right)
                    tx += std::max(0, avail() - tl.width);
                if (draw && cursorY < stopY) DrawTable(t, tx, cursorY);
                widest = std::max(widest, tl.width + (tx - x));
                cursorY += tl.height;
                break;
            }
            }
        }
        finishLine(false, true, 0);
        // Blocks left open (only possible in odd flows) still end cleanly.
        if (usedWidth) *usedWidth = widest;
        return cursorY - y;
    }

    // Narrowest and widest the flow can be laid out in.
    void Measure(const Flow& flow, int& minW, int& maxW) {
        minW = 0;
        int indent = 0;
        std::vector<int> indents;
        for (const Item& item : flow.items) {
            switch (item.kind) {
            case ItemKind::Text: {
                const FontCache::Entry& font = m_fonts.Get(m_hdc, Style(item.style));
                const size_t n = item.text.size();
                size_t p = 0;
                while (p < n) {
                    size_t e = p;
                    while (e < n && !Breaks(item.text[e])) ++e;
                    if (e < n) ++e;
                    size_t end = e;
                    while (end > p && item.text[end - 1] == L' ') --end;
                    if (end > p) minW = std::max(minW, indent + Width(item, p, end, font.font));
                    p = e;
                }
                break;
            }
            case ItemKind::Picture: minW = std::max(minW, indent + item.width); break;
            case ItemKind::Rule:
                if (!item.percent) minW = std::max(minW, indent + item.width);
                break;
            case ItemKind::Table: {
                Table& t = *m_doc.tables[(size_t)item.index];
                MeasureTable(t);
                minW = std::max(minW, indent + t.minW);
                break;
            }
            case ItemKind::BlockStart: {
                const Block& b = m_doc.blocks[(size_t)item.index];
                indents.push_back(indent);
                indent += (int)(b.box.margin.left + b.box.padding.left + b.box.margin.right + b.box.padding.right);
                break;
            }
            case ItemKind::BlockEnd:
                if (!indents.empty()) {
                    indent = indents.back();
                    indents.pop_back();
                }
                break;
            default: break;
            }
        }
        FlowLayout(flow, 0, 0, kMaxExtent, false, INT_MAX, &maxW);
        maxW = std::max(maxW, minW);
    }

private:
    const TextStyle& Style(int i) const { return m_doc.styles[(size_t)std::clamp<int>(i, 0, (int)m_doc.styles.size() - 1)]; }

    int LineHeightOf(int style) {
        const FontCache::Entry& f = m_fonts.Get(m_hdc, Style(style));
        return f.metrics.tmHeight;
    }

    // Width of characters [from, to) of a text item, measured in chunks
    // as far as needed.
    int Width(const Item& item, size_t from, size_t to, HFONT font) {
        EnsureMeasured(item, to, font);
        return item.prefix[to] - item.prefix[from];
    }

    void EnsureMeasured(const Item& item, size_t to, HFONT font) {
        if (item.prefix.empty()) item.prefix.push_back(0);
        if (item.prefix.size() > to) return;
        HGDIOBJ old = SelectObject(m_hdc, font);
        std::vector<int> dx;
        while (item.prefix.size() <= to) {
            const size_t start = item.prefix.size() - 1;
            const size_t count = std::min(kMeasureChunk, item.text.size() - start);
            dx.assign(count, 0);
            SIZE size{};
            GetTextExtentExPointW(m_hdc, item.text.data() + start, (int)count, 0, nullptr, dx.data(), &size);
            const int base = item.prefix.back();
            for (size_t k = 0; k < count; ++k) item.prefix.push_back(base + dx[k]);
            if (count == 0) break;
        }
        if (old && old != HGDI_ERROR) SelectObject(m_hdc, old);
    }

    void Fill(const RECT& r, COLORREF colour) {
        Op op;
        op.kind = Op::Fill;
        op.rect = r;
        op.colour = colour;
        ops.push_back(op);
    }

    void EmitFragment(const Fragment& f, int x, int top) {
        const Item& item = *f.item;
        const TextStyle& style = Style(item.style);
        if (item.kind == ItemKind::Picture) {
            Op op;
            op.kind = Op::Picture;
            op.rect = RECT{x, top, x + item.width, top + item.height};
            op.picture = item.index;
            ops.push_back(op);
            return;
        }
        if (item.kind != ItemKind::Text || f.end <= f.start) return;
        const int w = f.width;
        if (style.background) Fill(RECT{x, top, x + w, top + f.ascent + f.descent}, *style.background);
        Op op;
        op.kind = Op::Text;
        op.item = &item;
        op.start = f.start;
        op.end = f.end;
        op.x = x;
        op.y = top + f.ascent;
        op.colour = style.colour;
        ops.push_back(op);
        if (style.overline) Fill(RECT{x, top, x + w, top + 1}, style.colour);
        if (style.link >= 0 && style.link < (int)m_doc.links.size()) {
            const Link& l = m_doc.links[(size_t)style.link];
            links.push_back(C_HtmlDrawer::LinkArea{RECT{x, top, x + w, top + f.ascent + f.descent}, l.href, l.msg});
        }
    }

    int Resolve(const std::optional<Length>& l, int reference, double fontSize) const {
        if (!l) return -1;
        return Clamp(l->Pixels(fontSize, reference), 0, kMaxExtent);
    }

    int CellBorder(const Table& t, const Cell& c) const {
        if (c.box.borderStyle && *c.box.borderStyle == BorderStyle::None) return 0;
        if (c.box.borderWidth) return (int)*c.box.borderWidth;
        return t.border > 0 ? 1 : 0;
    }

    int CellInset(const Table& t, const Cell& c) const {
        const int pad = c.box.hasPadding ? (int)c.box.padding.left : t.padding;
        return pad + CellBorder(t, c);
    }

    int CellInsetV(const Table& t, const Cell& c) const {
        const int pad = c.box.hasPadding ? (int)c.box.padding.top : t.padding;
        return pad + CellBorder(t, c);
    }

    void MeasureCell(const Table& t, Cell& c) {
        if (c.minW >= 0) return;
        int lo = 0, hi = 0;
        Measure(c.flow, lo, hi);
        const int inset = 2 * CellInset(t, c);
        c.minW = lo + inset;
        c.maxW = hi + inset;
        if (c.width && c.width->unit != Length::Percent) {
            const int px = Resolve(c.width, 0, 13);
            c.minW = std::max(c.minW, std::min(px, kMaxExtent));
            c.maxW = std::max(c.minW, px);
        }
    }

    // Column minimum and maximum widths of a table (cached).
    void ColumnRange(Table& t, std::vector<int>& lo, std::vector<int>& hi) {
        Finish(t);
        lo.assign((size_t)t.columns, 0);
        hi.assign((size_t)t.columns, 0);
        // Single columns first, then spans share out what they still need.
        for (int pass = 0; pass < 2; ++pass) {
            for (Cell& c : t.cells) {
                if (!c.placed || (pass == 0) != (c.colspan == 1)) continue;
                MeasureCell(t, c);
                if (c.colspan == 1) {
                    lo[(size_t)c.col] = std::max(lo[(size_t)c.col], c.minW);
                    hi[(size_t)c.col] = std::max(hi[(size_t)c.col], c.maxW);
                    continue;
                }
                long long haveLo = (long long)t.spacing * (c.colspan - 1), haveHi = haveLo;
                for (int k = 0; k < c.colspan; ++k) {
                    haveLo += lo[(size_t)(c.col + k)];
                    haveHi += hi[(size_t)(c.col + k)];
                }
                const int needLo = (int)std::max(0LL, c.minW - haveLo), needHi = (int)std::max(0LL, c.maxW - haveHi);
                for (int k = 0; k < c.colspan; ++k) {
                    lo[(size_t)(c.col + k)] += needLo / c.colspan + (k < needLo % c.colspan ? 1 : 0);
                    hi[(size_t)(c.col + k)] += needHi / c.colspan + (k < needHi % c.colspan ? 1 : 0);
                }
            }
        }
        for (size_t k = 0; k < lo.size(); ++k) hi[k] = std::max(hi[k], lo[k]);
    }

    int Chrome(const Table& t) const { return t.spacing * (t.columns + 1) + 2 * t.border; }

    void MeasureTable(Table& t) {
        if (t.minW >= 0) return;
        std::vector<int> lo, hi;
        ColumnRange(t, lo, hi);
        long long a = Chrome(t), b = Chrome(t);
        for (size_t k = 0; k < lo.size(); ++k) {
            a += lo[k];
            b += hi[k];
        }
        t.minW = (int)std::min<long long>(a, kMaxExtent);
        t.maxW = (int)std::min<long long>(b, kMaxExtent);
        if (t.width && t.width->unit != Length::Percent) {
            const int px = Resolve(t.width, 0, 13);
            t.minW = std::max(t.minW, px);
            t.maxW = std::max(t.minW, px);
        }
    }

    const TableLayout& LayoutTable(Table& t, int avail) {
        if (t.layout.avail == avail) return t.layout;
        MeasureTable(t);
        TableLayout& L = t.layout;
        L = TableLayout{};
        L.avail = avail;
        std::vector<int> lo, hi;
        ColumnRange(t, lo, hi);
        long long sumLo = 0, sumHi = 0;
        for (size_t k = 0; k < lo.size(); ++k) {
            sumLo += lo[k];
            sumHi += hi[k];
        }
        const int chrome = Chrome(t);
        int target;
        if (t.width) target = std::max(Resolve(t.width, avail, 13), t.minW);
        else target = (int)std::max<long long>(std::min<long long>(sumHi + chrome, avail), t.minW);
        const long long inner = std::max<long long>(0, (long long)target - chrome);
        L.colW.assign((size_t)t.columns, 0);
        if (inner >= sumHi) {
            // Room to spare: columns grow in proportion to their widest.
            long long given = 0;
            for (size_t k = 0; k < hi.size(); ++k) {
                const long long extra = sumHi > 0 ? (inner - sumHi) * hi[k] / sumHi : (inner - sumHi) / (long long)hi.size();
                L.colW[k] = (int)(hi[k] + extra);
                given += L.colW[k];
            }
            if (!L.colW.empty()) L.colW.back() += (int)(inner - given);
        } else if (inner <= sumLo) {
            L.colW = lo;
        } else {
            long long given = 0;
            for (size_t k = 0; k < lo.size(); ++k) {
                L.colW[k] = (int)(lo[k] + (long long)(hi[k] - lo[k]) * (inner - sumLo) / std::max(1LL, sumHi - sumLo));
                given += L.colW[k];
            }
            if (!L.colW.empty()) L.colW.back() += (int)(inner - given);
        }
        L.colX.assign((size_t)t.columns, 0);
        int cx = t.border + t.spacing;
        for (size_t k = 0; k < L.colW.size(); ++k) {
            L.colX[k] = cx;
            cx = (int)std::min<long long>((long long)cx + L.colW[k] + t.spacing, kMaxExtent);
        }
        L.width = std::max(cx + t.border, t.columns ? 0 : 2 * t.border);
        // Row heights from the cells' contents at their widths.
        const size_t rows = t.rows.size();
        L.rowH.assign(rows, 0);
        for (size_t r = 0; r < rows; ++r)
            if (t.rows[r].height) L.rowH[r] = Resolve(t.rows[r].height, 0, 13);
        for (int pass = 0; pass < 2; ++pass) {
            for (Cell& c : t.cells) {
                if (!c.placed || (pass == 0) != (c.rowspan == 1)) continue;
                const int w = SpanWidth(t, c);
                const int content = CellContentHeight(t, c, w - 2 * CellInset(t, c));
                int need = content + 2 * CellInsetV(t, c);
                if (c.height) need = std::max(need, Resolve(c.height, 0, 13));
                if (c.rowspan == 1) {
                    L.rowH[(size_t)c.row] = std::max(L.rowH[(size_t)c.row], need);
                } else {
                    long long have = (long long)t.spacing * (c.rowspan - 1);
                    for (int k = 0; k < c.rowspan; ++k) have += L.rowH[(size_t)(c.row + k)];
                    if (need > have) L.rowH[(size_t)(c.row + c.rowspan - 1)] += (int)(need - have);
                }
            }
        }
        long long total = 2LL * t.border + t.spacing;
        for (int h : L.rowH) total += h + t.spacing;
        if (t.height && !L.rowH.empty()) {
            const int want = Resolve(t.height, 0, 13);
            if (want > total) {
                const long long extra = want - total;
                for (size_t r = 0; r < rows; ++r) L.rowH[r] += (int)(extra / (long long)rows + ((long long)r < extra % (long long)rows ? 1 : 0));
                total = want;
            }
        }
        L.rowY.assign(rows, 0);
        long long ry = t.border + t.spacing;
        for (size_t r = 0; r < rows; ++r) {
            L.rowY[r] = (int)std::min<long long>(ry, kMaxExtent);
            ry += L.rowH[r] + t.spacing;
        }
        L.height = (int)std::min<long long>(total, kMaxExtent);
        if (rows == 0) L.height = 2 * t.border;
        return L;
    }

    int SpanWidth(const Table& t, const Cell& c) const {
        const TableLayout& L = t.layout;
        const int last = c.col + c.colspan - 1;
        return L.colX[(size_t)last] + L.colW[(size_t)last] - L.colX[(size_t)c.col];
    }

    int SpanHeight(const Table& t, const Cell& c) const {
        const TableLayout& L = t.layout;
        const int last = c.row + c.rowspan - 1;
        return L.rowY[(size_t)last] + L.rowH[(size_t)last] - L.rowY[(size_t)c.row];
    }

    int CellContentHeight(const Table&, Cell& c, int width) {
        width = std::max(0, width);
        if (c.heightWidth != width) {
            c.contentHeight = FlowLayout(c.flow, 0, 0, width, false, INT_MAX, nullptr);
            c.heightWidth = width;
        }
        return c.contentHeight;
    }

    void Frame(const RECT& r, int width, BorderStyle style, COLORREF light, COLORREF dark) {
        if (width <= 0 || style == BorderStyle::None || r.right <= r.left || r.bottom <= r.top) return;
        Op op;
        op.kind = Op::Frame;
        op.rect = r;
        op.width = width;
        op.border = style;
        op.colour = light;
        op.dark = dark;
        ops.push_back(op);
    }

    // A table's or a cell's background, when it shows anything.
    void Paint(const RECT& r, const Background& background) {
        if (!background.Visible()) return;
        Op op;
        op.kind = Op::Paint;
        op.rect = r;
        op.background = &background;
        ops.push_back(op);
    }

    void DrawTable(Table& t, int x, int y) {
        const TableLayout& L = t.layout;
        const RECT outer{x, y, x + L.width, y + L.height};
        Paint(outer, t.background);
        // Without a border colour the table is raised and its cells sunken.
        const COLORREF light = t.borderColour.value_or(GetSysColor(COLOR_3DLIGHT));
        const COLORREF dark = t.borderColour.value_or(GetSysColor(COLOR_3DSHADOW));
        Frame(outer, t.border, t.borderStyle, light, dark);
        for (Cell& c : t.cells) {
            if (!c.placed) continue;
            const int cx = x + L.colX[(size_t)c.col], cy = y + L.rowY[(size_t)c.row];
            const RECT box{cx, cy, cx + SpanWidth(t, c), cy + SpanHeight(t, c)};
            Paint(box, c.background);
            const int border = CellBorder(t, c);
            const COLORREF cl = c.box.borderColour.value_or(t.borderColour.value_or(GetSysColor(COLOR_3DSHADOW)));
            const COLORREF cd = c.box.borderColour.value_or(t.borderColour.value_or(GetSysColor(COLOR_3DLIGHT)));
            Frame(box, border, c.box.borderStyle.value_or(t.borderStyle), cl, cd);
            const int inset = CellInset(t, c), insetV = CellInsetV(t, c);
            const int innerW = std::max(0, (int)(box.right - box.left) - 2 * inset);
            const int innerH = std::max(0, (int)(box.bottom - box.top) - 2 * insetV);
            const int content = CellContentHeight(t, c, innerW);
            int top = box.top + insetV;
            if (c.valign == VAlign::Middle) top += std::max(0, (innerH - content) / 2);
            else if (c.valign == VAlign::Bottom) top += std::max(0, innerH - content);
            Op clip;
            clip.kind = Op::Clip;
            clip.rect = RECT{box.left + border, box.top + border, box.right - border, box.bottom - border};
            ops.push_back(clip);
            FlowLayout(c.flow, box.left + inset, top, innerW, true, INT_MAX, nullptr);
            Op unclip;
            unclip.kind = Op::Unclip;
            ops.push_back(unclip);
        }
    }

    HDC m_hdc;
    Document& m_doc;
    FontCache& m_fonts;
};

void Execute(HDC hdc, const Document& doc, FontCache& fonts, const std::vector<Op>& ops) {
    SetBkMode(hdc, TRANSPARENT);
    SetTextAlign(hdc, TA_LEFT | TA_BASELINE | TA_NOUPDATECP);
    RECT clip{};
    GetClipBox(hdc, &clip);
    auto visible = [&](const RECT& r) {
        return r.right > clip.left && r.left < clip.right && r.bottom > clip.top && r.top < clip.bottom;
    };
    auto fill = [&](const RECT& r, COLORREF colour) {
        if (!visible(r)) return;
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(hdc, &r, brush);
        DeleteObject(brush);
    };
    for (const Op& op : ops) {
        switch (op.kind) {
        case Op::Fill: fill(op.rect, op.colour); break;
        case Op::Paint:
            if (visible(op.rect)) PaintBackground(hdc, op.rect, *op.background);
            break;
        case Op::Text: {
            const Item& item = *op.item;
            const TextStyle& style = doc.styles[(size_t)item.style];
            const FontCache::Entry& font = fonts.Get(hdc, style);
            const RECT extent{op.x, op.y - font.metrics.tmAscent, clip.right, op.y + font.metrics.tmDescent};
            if (op.x >= clip.right || !visible(extent)) break;
            HGDIOBJ old = SelectObject(hdc, font.font);
            SetTextColor(hdc, op.colour);
            TextOutW(hdc, op.x, op.y, item.text.data() + op.start, (int)(op.end - op.start));
            if (old && old != HGDI_ERROR) SelectObject(hdc, old);
            break;
        }
        case Op::Frame: {
            const RECT& r = op.rect;
            const int w = std::min({op.width, (int)(r.right - r.left) / 2, (int)(r.bottom - r.top) / 2});
            if (w <= 0 || !visible(r)) break;
            if (op.border == BorderStyle::Dotted || op.border == BorderStyle::Dashed) {
                HPEN pen = CreatePen(op.border == BorderStyle::Dotted ? PS_DOT : PS_DASH, w, op.colour);
                HGDIOBJ oldPen = SelectObject(hdc, pen);
                HGDIOBJ oldBrush = SelectObject(hdc, GetStockObject(NULL_BRUSH));
                Rectangle(hdc, r.left, r.top, r.right, r.bottom);
                SelectObject(hdc, oldPen);
                SelectObject(hdc, oldBrush);
                DeleteObject(pen);
                break;
            }
            auto ring = [&](const RECT& q, int width) {
                fill(RECT{q.left, q.top, q.right, q.top + width}, op.colour);
                fill(RECT{q.left, q.top, q.left + width, q.bottom}, op.colour);
                fill(RECT{q.left, q.bottom - width, q.right, q.bottom}, op.dark);
                fill(RECT{q.right - width, q.top, q.right, q.bottom}, op.dark);
            };
            if (op.border == BorderStyle::Double && w >= 3) {
                const int line = std::max(1, w / 3);
                ring(r, line);
                ring(RECT{r.left + w - line, r.top + w - line, r.right - w + line, r.bottom - w + line}, line);
            } else {
                ring(r, w);
            }
            break;
        }
        case Op::Picture: {
            const PictureUse& use = doc.pictures[(size_t)op.picture];
            if (use.picture && visible(op.rect))
                DrawPicture(hdc, op.rect, *use.picture, use.srcX, use.srcY, use.srcW, use.srcH);
            break;
        }
        case Op::Clip:
            SaveDC(hdc);
            IntersectClipRect(hdc, op.rect.left, op.rect.top, op.rect.right, op.rect.bottom);
            GetClipBox(hdc, &clip);
            break;
        case Op::Unclip:
            RestoreDC(hdc, -1);
            GetClipBox(hdc, &clip);
            break;
        }
    }
}

} // namespace

int DrawDocument(HDC hdc, Document& doc, FontCache& fonts, POINT topLeft, int maxWidth, int clipBottom, int& used,
                 std::vector<C_HtmlDrawer::LinkArea>& links) {
    Layout layout(hdc, doc, fonts);
    used = 0;
    const int height = layout.FlowLayout(doc.root, topLeft.x, topLeft.y, maxWidth, true, clipBottom, &used);
    SaveDC(hdc);
    Execute(hdc, doc, fonts, layout.ops);
    RestoreDC(hdc, -1);
    links = std::move(layout.links);
    return height;
}

} // namespace html
