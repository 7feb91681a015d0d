#include "Render/GUI/HtmlDrawer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwctype>

#include "Logger/Logger.h"
#include "Render/GUI/HtmlEffects.h"
#include "Render/GUI/HtmlMarkup.h"
#include "Render/Resources/D3DXSTRING.h"
#include "VirtualFileSystem/FileManager.h"
#include "port/d3dx9/image.h"

namespace html {

namespace {

// Limits that keep hostile markup bounded: open elements deeper than
// kMaxDepth are ignored (their text still shows), tables nest at most
// kMaxTableDepth deep, a table has at most kMaxColumns columns and a cell
// spans at most kMaxSpan columns.
constexpr size_t kMaxDepth = 256;
constexpr int kMaxTableDepth = 16;
constexpr int kMaxColumns = 512;
constexpr int kMaxSpan = 256;
constexpr int kMaxPictureSide = 1024;
constexpr size_t kMaxPictures = 16;
constexpr size_t kMaxFonts = 64;
// Text is measured this many characters at a time.
constexpr size_t kMeasureChunk = 256;
// Lines are never wider than this, whatever a width attribute says.
constexpr int kMaxExtent = 1 << 20;

const std::wstring kBreakCharacters = L" -.,!:;)}]?";

bool Breaks(wchar_t c) { return kBreakCharacters.find(c) != std::wstring::npos; }

std::wstring Lower(std::wstring_view s) {
    std::wstring out(s);
    for (wchar_t& c : out) c = (wchar_t)std::towlower(c);
    return out;
}

int Clamp(double v, int lo, int hi) {
    if (!(v == v)) return lo;
    return (int)std::clamp(v, (double)lo, (double)hi);
}

} // namespace

// ---------------------------------------------------------------------------
// Document
// ---------------------------------------------------------------------------
enum class ItemKind { Text, Picture, Break, Tab, Rule, BlockStart, BlockEnd, Table };

struct Item {
    ItemKind kind = ItemKind::Text;
    int style = 0;
    std::wstring text;
    int index = -1;               // block, table or picture
    int width = 0, height = 0;    // picture box; rule width
    bool percent = false;         // rule width in percent
    // Prefix widths of the text (prefix[i]: the first i characters), filled
    // as far as the layout has needed them.
    mutable std::vector<int> prefix;
};

struct Flow {
    std::vector<Item> items;
    int style = 0; // the container's style: its alignment
};

struct Block {
    BoxStyle box;
    Align align = Align::Left;
};

struct PictureUse {
    std::shared_ptr<const Picture> picture; // null: a resource with no file here
    int srcX = 0, srcY = 0, srcW = 0, srcH = 0;
};

struct Cell {
    Flow flow;
    int row = 0, col = 0, rowspan = 1, colspan = 1;
    bool placed = false;
    Background background;
    BoxStyle box;
    std::optional<Length> width, height;
    VAlign valign = VAlign::Middle;
    // Cached measurements.
    int minW = -1, maxW = -1;
    int heightWidth = -1, contentHeight = 0;
};

struct Row {
    Background background;
    std::optional<Align> align;
    std::optional<VAlign> valign;
    std::optional<Length> height;
    std::vector<int> cells;
};

struct TableLayout {
    int avail = -1;
    std::vector<int> colX, colW, rowY, rowH;
    int width = 0, height = 0;
};

struct Table {
    Background background;
    int padding = 2, spacing = 2, border = 0;
    BorderStyle borderStyle = BorderStyle::Solid;
    std::optional<COLORREF> borderColour;
    Align align = Align::Left;
    std::optional<Length> width, height;
    std::vector<Row> rows;
    std::vector<Cell> cells;
    int columns = 0;
    bool finished = false;
    int minW = -1, maxW = -1;
    TableLayout layout;
};

struct Link {
    std::wstring href, msg;
};

struct Document {
    std::vector<TextStyle> styles;
    std::vector<Block> blocks;
    std::vector<std::unique_ptr<Table>> tables;
    std::vector<PictureUse> pictures;
    std::vector<Link> links;
    // Pictures the document uses stay alive while it is drawn.
    std::vector<std::shared_ptr<const Picture>> keep;
    Flow root;
};

// Places cells on the grid: columns held by row spans from above are
// skipped; spans are held to the table's rows and the column limit.
void Finish(Table& t) {
    if (t.finished) return;
    t.finished = true;
    std::vector<int> busyUntil; // per column: first row no longer covered
    const int rows = (int)t.rows.size();
    for (int r = 0; r < rows; ++r) {
        int c = 0;
        for (int index : t.rows[(size_t)r].cells) {
            Cell& cell = t.cells[(size_t)index];
            while (c < (int)busyUntil.size() && busyUntil[(size_t)c] > r) ++c;
            if (c >= kMaxColumns) break;
            cell.row = r;
            cell.col = c;
            cell.rowspan = std::clamp(cell.rowspan, 1, rows - r);
            cell.colspan = std::clamp(cell.colspan, 1, std::min(kMaxSpan, kMaxColumns - c));
            // A span stops where a cell from a row above already sits.
            for (int k = 1; k < cell.colspan; ++k)
                if (c + k < (int)busyUntil.size() && busyUntil[(size_t)(c + k)] > r) {
                    cell.colspan = k;
                    break;
                }
            if ((int)busyUntil.size() < c + cell.colspan) busyUntil.resize((size_t)(c + cell.colspan), 0);
            for (int k = 0; k < cell.colspan; ++k) busyUntil[(size_t)(c + k)] = r + cell.rowspan;
            cell.placed = true;
            c += cell.colspan;
        }
    }
    t.columns = (int)busyUntil.size();
}

// ---------------------------------------------------------------------------
// Builder: tokens into the document
// ---------------------------------------------------------------------------
namespace {

enum class OpenKind { Inline, Block, Table, Row, Cell };

struct Open {
    std::wstring tag;
    int style = 0;
    OpenKind kind = OpenKind::Inline;
    int table = -1, cell = -1, block = -1;
};

bool IsBlockTag(const std::wstring& t) {
    static const wchar_t* tags[] = {L"p",   L"h1",   L"h2",     L"h3",    L"h4",      L"h5",        L"h6",
                                    L"pre", L"div",  L"center", L"left",  L"right",   L"justify",   L"blockquote"};
    for (const wchar_t* b : tags)
        if (t == b) return true;
    return false;
}

bool IsInlineTag(const std::wstring& t) {
    static const wchar_t* tags[] = {L"b",      L"bold",  L"strong", L"i",        L"italic",   L"em",    L"u",
                                    L"underline", L"s",  L"strike", L"strikeout", L"del",     L"font",  L"span",
                                    L"code",   L"big",   L"small",  L"sub",      L"sup",      L"body",  L"a",
                                    L"baseline", L"top", L"vcenter", L"middle",  L"bottom",   L"html"};
    for (const wchar_t* b : tags)
        if (t == b) return true;
    return false;
}

std::optional<Align> ParseAlign(const std::wstring* v) {
    if (!v) return std::nullopt;
    const std::wstring s = Lower(*v);
    if (s == L"left") return Align::Left;
    if (s == L"center" || s == L"middle") return Align::Center;
    if (s == L"right") return Align::Right;
    if (s == L"justify") return Align::Justify;
    return std::nullopt;
}

std::optional<VAlign> ParseVAlign(const std::wstring* v) {
    if (!v) return std::nullopt;
    const std::wstring s = Lower(*v);
    if (s == L"top") return VAlign::Top;
    if (s == L"middle" || s == L"vcenter" || s == L"center") return VAlign::Middle;
    if (s == L"bottom") return VAlign::Bottom;
    if (s == L"baseline") return VAlign::Baseline;
    return std::nullopt;
}

std::optional<int> ParseInt(const std::wstring* v) {
    if (!v) return std::nullopt;
    const std::optional<Length> l = ParseLength(*v);
    if (!l || l->unit != Length::Px) return std::nullopt;
    return Clamp(l->value, -kMaxExtent, kMaxExtent);
}

std::optional<Length> ParseSize(const std::wstring* v) {
    if (!v) return std::nullopt;
    std::optional<Length> l = ParseLength(*v);
    if (!l || l->value < 0) return std::nullopt;
    return l;
}

class Builder {
public:
    Builder(Document& doc, StyleSheet sheet, C_HtmlDrawer& drawer) : m_doc(doc), m_sheet(std::move(sheet)), m_drawer(drawer) {}

    void Run(const std::vector<Token>& tokens) {
        TextStyle base;
        BoxStyle ignored;
        Apply(m_sheet.Find(L"body"), base, base, ignored);
        m_doc.styles.push_back(base);
        m_stack.push_back(Open{L"", 0, OpenKind::Inline});
        for (const Token& t : tokens) {
            if (m_inStyle) {
                if (t.type == Token::Close && t.text == L"style") m_inStyle = false;
                else if (t.type == Token::Text) m_sheet.Parse(t.text);
                continue;
            }
            switch (t.type) {
            case Token::Text: Text(t.text); break;
            case Token::Open: OpenTag(t); break;
            case Token::Close: CloseTag(t.text); break;
            }
        }
        while (m_stack.size() > 1) Pop();
    }

private:
    Flow& CurrentFlow() {
        for (size_t i = m_stack.size(); i-- > 0;)
            if (m_stack[i].kind == OpenKind::Cell)
                return m_doc.tables[(size_t)m_stack[i].table]->cells[(size_t)m_stack[i].cell].flow;
        return m_doc.root;
    }
    int CurrentStyle() const { return m_stack.back().style; }
    const TextStyle& Style(int i) const { return m_doc.styles[(size_t)i]; }

    void Add(Item item) { CurrentFlow().items.push_back(std::move(item)); }

    void Text(const std::wstring& raw) {
        const int styleIndex = CurrentStyle();
        const TextStyle& style = Style(styleIndex);
        // Between table tags white space means nothing.
        const OpenKind kind = m_stack.back().kind;
        if (kind == OpenKind::Table || kind == OpenKind::Row) {
            if (std::all_of(raw.begin(), raw.end(), [](wchar_t c) { return std::iswspace(c); })) return;
        }
        std::wstring text;
        text.reserve(raw.size());
        auto emit = [&] {
            if (text.empty()) return;
            Item item;
            item.style = styleIndex;
            item.text = Transformed(text, style.transform);
            Add(std::move(item));
            text.clear();
        };
        for (size_t i = 0; i < raw.size(); ++i) {
            const wchar_t c = raw[i];
            if (c == L'\r' || c == L'\n') {
                if (c == L'\r' && i + 1 < raw.size() && raw[i + 1] == L'\n') ++i;
                if (style.preformatted) {
                    emit();
                    Item br;
                    br.kind = ItemKind::Break;
                    br.style = styleIndex;
                    Add(std::move(br));
                } else {
                    text += L' ';
                }
            } else if (c == L'\t') {
                if (style.preformatted) {
                    emit();
                    Item tab;
                    tab.kind = ItemKind::Tab;
                    tab.style = styleIndex;
                    Add(std::move(tab));
                } else {
                    text += L' ';
                }
            } else if (c < L' ' || c == 0x7F) {
                // Other control characters draw nothing.
            } else {
                text += c;
            }
        }
        emit();
    }

    static std::wstring Transformed(std::wstring s, Transform t) {
        switch (t) {
        case Transform::None: break;
        case Transform::Upper:
            for (wchar_t& c : s) c = (wchar_t)std::towupper(c);
            break;
        case Transform::Lower:
            for (wchar_t& c : s) c = (wchar_t)std::towlower(c);
            break;
        case Transform::Capitalize: {
            bool start = true;
            for (wchar_t& c : s) {
                if (std::iswalpha(c)) {
                    if (start) c = (wchar_t)std::towupper(c);
                    start = false;
                } else {
                    start = std::iswspace(c) || Breaks(c);
                }
            }
            break;
        }
        }
        return s;
    }

    // The styles of an element: its parent's text style, then what the tag
    // itself means, the sheet's rules for the tag and its classes, and its
    // own style attribute.
    int ComputeStyle(const Token& t, BoxStyle& box, bool block) {
        const TextStyle& parent = Style(CurrentStyle());
        TextStyle s = parent;
        if (block) s.background.reset();
        const std::wstring& tag = t.text;
        if (tag == L"b" || tag == L"bold" || tag == L"strong") s.weight = FW_BOLD;
        else if (tag == L"i" || tag == L"italic" || tag == L"em") s.italic = true;
        else if (tag == L"u" || tag == L"underline") s.underline = true;
        else if (tag == L"s" || tag == L"strike" || tag == L"strikeout" || tag == L"del") s.strike = true;
        else if (tag == L"pre") s.preformatted = true;
        else if (tag == L"center") s.align = Align::Center;
        else if (tag == L"left") s.align = Align::Left;
        else if (tag == L"right") s.align = Align::Right;
        else if (tag == L"justify") s.align = Align::Justify;
        else if (tag == L"baseline") s.valign = VAlign::Baseline;
        else if (tag == L"top") s.valign = VAlign::Top;
        else if (tag == L"vcenter" || tag == L"middle") s.valign = VAlign::Middle;
        else if (tag == L"bottom") s.valign = VAlign::Bottom;
        BoxStyle scratch;
        BoxStyle& target = block ? box : scratch;
        if (tag == L"a") {
            Apply(m_sheet.Find(L"a"), parent, s, target);
            Apply(m_sheet.Find(L"a:link"), parent, s, target);
        } else {
            Apply(m_sheet.Find(tag), parent, s, target);
        }
        if (const std::wstring* cls = t.Find(L"class")) {
            size_t i = 0;
            while (i < cls->size()) {
                while (i < cls->size() && std::iswspace((*cls)[i])) ++i;
                size_t j = i;
                while (j < cls->size() && !std::iswspace((*cls)[j])) ++j;
                if (j > i) Apply(m_sheet.Find(L"." + cls->substr(i, j - i)), parent, s, target);
                i = j;
            }
        }
        if (tag == L"font") FontAttributes(t, parent, s, target);
        if (const std::wstring* style = t.Find(L"style"); style && tag != L"font")
            Apply(ParseDeclarations(*style), parent, s, target);
        if (block) {
            if (auto a = ParseAlign(t.Find(L"align"))) s.align = *a;
            // Paragraphs and headings keep some room below them, in their own
            // size, unless the sheet gave margins.
            const Sides& m = box.margin;
            if (m.top == 0 && m.right == 0 && m.bottom == 0 && m.left == 0) {
                if (tag == L"p") box.margin.bottom = s.size * 0.5;
                else if (tag.size() == 2 && tag[0] == L'h') box.margin.bottom = s.size * 0.3;
            }
            if (tag == L"pre" && !box.hasPadding) box.padding = Sides{2, 4, 2, 4};
        }
        // Inline backgrounds are painted behind the element's text.
        if (!block && scratch.background) s.background = scratch.background;
        if (tag == L"a") {
            m_doc.links.push_back(Link{t.Find(L"href") ? *t.Find(L"href") : L"", t.Find(L"msg") ? *t.Find(L"msg") : L""});
            s.link = (int)m_doc.links.size() - 1;
        }
        m_doc.styles.push_back(std::move(s));
        return (int)m_doc.styles.size() - 1;
    }

    void FontAttributes(const Token& t, const TextStyle& parent, TextStyle& s, BoxStyle& box) {
        if (const std::wstring* face = t.Find(L"face")) Apply({{L"font-family", *face}}, parent, s, box);
        if (const std::wstring* size = t.Find(L"size")) {
            // 1 to 7 (or +n/-n from 3) as in HTML, else a CSS length.
            static const double points[] = {8, 10, 12, 14, 18, 24, 36};
            const std::wstring v = Lower(*size);
            wchar_t* end = nullptr;
            const long n = std::wcstol(v.c_str(), &end, 10);
            const bool plain = end != v.c_str() && *end == 0;
            if (plain) {
                const long level = (v[0] == L'+' || v[0] == L'-') ? 3 + n : n;
                s.size = points[std::clamp<long>(level, 1, 7) - 1] * 96.0 / 72.0;
            } else {
                Apply({{L"font-size", *size}}, parent, s, box);
            }
        }
        if (const std::wstring* colour = t.Find(L"color")) Apply({{L"color", *colour}}, parent, s, box);
        if (const std::wstring* weight = t.Find(L"weight")) Apply({{L"font-weight", *weight}}, parent, s, box);
        if (const std::wstring* bkgnd = t.Find(L"bkgnd")) {
            if (auto c = ParseColour(*bkgnd)) s.background = *c;
        }
        if (const std::wstring* style = t.Find(L"style")) {
            if (style->find(L':') != std::wstring::npos) {
                Apply(ParseDeclarations(*style), parent, s, box);
            } else {
                // Plain words: "bold italic underline strikeout".
                const std::wstring v = Lower(*style);
                if (v.find(L"bold") != std::wstring::npos) s.weight = FW_BOLD;
                if (v.find(L"italic") != std::wstring::npos) s.italic = true;
                if (v.find(L"underline") != std::wstring::npos) s.underline = true;
                if (v.find(L"strike") != std::wstring::npos) s.strike = true;
                if (v.find(L"normal") != std::wstring::npos) s.weight = FW_NORMAL, s.italic = false;
            }
        }
    }

    void Push(Open open) {
        m_stack.push_back(std::move(open));
    }

    void Pop() {
        Open top = m_stack.back();
        m_stack.pop_back();
        if (top.kind == OpenKind::Block) {
            Item end;
            end.kind = ItemKind::BlockEnd;
            end.index = top.block;
            end.style = top.style;
            Add(std::move(end));
        } else if (top.kind == OpenKind::Table) {
            Finish(*m_doc.tables[(size_t)top.table]);
            --m_tableDepth;
        }
    }

    // Index in the stack of the innermost open element of that kind above
    // any table boundary; -1 when none.
    int FindOpen(OpenKind kind, const std::wstring* tag = nullptr) const {
        for (size_t i = m_stack.size(); i-- > 1;) {
            const Open& o = m_stack[i];
            if (kind == OpenKind::Inline || kind == OpenKind::Block) {
                if (o.kind == OpenKind::Table || o.kind == OpenKind::Row || o.kind == OpenKind::Cell) return -1;
                if (tag && o.tag == *tag) return (int)i;
            } else if (o.kind == kind) {
                return (int)i;
            } else if (o.kind == OpenKind::Table) {
                return -1; // rows and cells never reach past their own table
            }
        }
        return -1;
    }

    void PopTo(int index) {
        while ((int)m_stack.size() > index) Pop();
    }

    void OpenTag(const Token& t) {
        const std::wstring& tag = t.text;
        // Elements without content.
        if (tag == L"br") return Simple(ItemKind::Break);
        if (tag == L"t") return Simple(ItemKind::Tab);
        if (tag == L"hr") return RuleTag(t);
        if (tag == L"bmp" || tag == L"icon" || tag == L"ilst" || tag == L"img") return PictureTag(t);
        if (tag == L"string") return StringTag(t);
        if (tag == L"style") {
            m_inStyle = true;
            return;
        }
        if (tag == L"table" || tag == L"tr" || tag == L"td" || tag == L"th") return TableTag(t);
        const bool block = IsBlockTag(tag);
        if (!block && !IsInlineTag(tag)) return; // unknown: its text still shows
        if (m_stack.size() >= kMaxDepth) {
            ++m_overflow;
            return;
        }
        BoxStyle box;
        const int style = ComputeStyle(t, box, block);
        Open open{tag, style, block ? OpenKind::Block : OpenKind::Inline};
        if (block) {
            m_doc.blocks.push_back(Block{box, Style(style).align});
            open.block = (int)m_doc.blocks.size() - 1;
            Item start;
            start.kind = ItemKind::BlockStart;
            start.index = open.block;
            start.style = style;
            Add(std::move(start));
        }
        Push(std::move(open));
    }

    void CloseTag(const std::wstring& tag) {
        if (m_inStyle) return;
        if (tag == L"table" || tag == L"tr" || tag == L"td" || tag == L"th") {
            const OpenKind kind = tag == L"table" ? OpenKind::Table : tag == L"tr" ? OpenKind::Row : OpenKind::Cell;
            const int at = FindOpen(kind);
            if (at > 0) PopTo(at);
            return;
        }
        if (m_overflow > 0 && (IsBlockTag(tag) || IsInlineTag(tag))) {
            --m_overflow;
            return;
        }
        const int at = FindOpen(OpenKind::Inline, &tag);
        if (at > 0) PopTo(at);
    }

    void Simple(ItemKind kind) {
        Item item;
        item.kind = kind;
        item.style = CurrentStyle();
        Add(std::move(item));
    }

    void RuleTag(const Token& t) {
        Item item;
        item.kind = ItemKind::Rule;
        item.style = CurrentStyle();
        item.width = 100;
        item.percent = true;
        if (std::optional<Length> w = ParseSize(t.Find(L"width"))) {
            item.percent = w->unit == Length::Percent;
            item.width = Clamp(item.percent ? std::min(w->value, 100.0) : w->Pixels(Style(item.style).size, 0), 0,
                               kMaxExtent);
        }
        Add(std::move(item));
    }

    void PictureTag(const Token& t) {
        PictureUse use;
        const std::wstring* file = t.Find(L"file");
        if (!file) file = t.Find(L"src");
        if (file && !file->empty()) use.picture = m_drawer.LoadPicture(*file);
        // Colour-keyed pictures are copied with the key made clear.
        auto size = [&](const wchar_t* a, const wchar_t* b) {
            std::optional<int> v = ParseInt(t.Find(a));
            if (!v) v = ParseInt(t.Find(b));
            return v && *v > 0 ? std::optional<int>(std::min(*v, 4096)) : std::nullopt;
        };
        // Shown at width and height (or cx and cy), else at the picture's size.
        const std::optional<int> cx = size(L"width", L"cx"), cy = size(L"height", L"cy");
        if (use.picture) {
            const Picture& p = *use.picture;
            use.srcW = p.width;
            use.srcH = p.height;
            if (t.text == L"ilst") {
                // An image list: a strip of equal pictures, cx wide (square by default).
                const int tileW = std::min(p.width, size(L"cx", L"cx").value_or(p.height));
                const int count = tileW > 0 ? p.width / tileW : 0;
                const std::optional<int> index = ParseInt(t.Find(L"index"));
                if (count <= 0 || !index || *index < 0 || *index >= count) use.picture = nullptr;
                else {
                    use.srcX = *index * tileW;
                    use.srcW = tileW;
                }
            }
            if (const std::wstring* mask = t.Find(L"mask"); mask && use.picture) {
                if (std::optional<COLORREF> key = ParseColour(*mask)) use.picture = Keyed(*use.picture, *key);
            }
        }
        Item item;
        item.kind = ItemKind::Picture;
        item.style = CurrentStyle();
        item.width = cx.value_or(use.picture ? use.srcW : 0);
        item.height = cy.value_or(use.picture ? use.srcH : 0);
        // Windows resources (handles, DLLs, resource numbers) have no file
        // here: such a picture keeps only the room it asked for.
        if (item.width <= 0 || item.height <= 0) return;
        m_doc.pictures.push_back(use);
        item.index = (int)m_doc.pictures.size() - 1;
        Add(std::move(item));
    }

    // A copy of the picture with the key colour made clear.
    static std::shared_ptr<const Picture> Keyed(const Picture& picture, COLORREF key) {
        auto copy = std::make_shared<Picture>(picture);
        const uint32_t rgb = 0xFF000000u | (uint32_t)GetRValue(key) << 16 | (uint32_t)GetGValue(key) << 8 | GetBValue(key);
        for (uint32_t& p : copy->pixels)
            if (p == rgb) p = 0;
        return copy;
    }

    void StringTag(const Token& t) {
        // String resources are the program's named texts.
        const std::wstring* key = t.Find(L"idres");
        if (!key) key = t.Find(L"index");
        if (!key || key->empty()) return;
        const std::wstring text = C_D3DXSTRING::C_AllStrings::Instance().Lookup(*key);
        if (!text.empty()) Text(text);
    }

    Background ReadBackground(const Token& t, const Background& inherited) {
        Background bg = inherited;
        const std::wstring* colour = t.Find(L"bgcolor");
        if (colour) {
            if (auto c = ParseColour(*colour)) {
                bg.start = *c;
                if (bg.effect == Background::Transparent) bg.effect = Background::Solid;
            }
        }
        if (auto m = t.Find(L"bgmidcolor")) bg.mid = ParseColour(*m);
        if (auto e = t.Find(L"bgendcolor")) bg.end = ParseColour(*e);
        if (auto e = t.Find(L"bgeffect")) {
            if (auto effect = ParseEffect(*e)) bg.effect = *effect;
        }
        if (auto file = t.Find(L"background"); file && !file->empty()) {
            std::shared_ptr<const Picture> picture = m_drawer.LoadPicture(*file);
            bg.picture = picture.get();
            if (picture) m_doc.keep.push_back(std::move(picture));
        }
        return bg;
    }

    void TableTag(const Token& t) {
        const std::wstring& tag = t.text;
        if (tag == L"table") {
            if (m_tableDepth >= kMaxTableDepth || m_stack.size() >= kMaxDepth) return;
            auto table = std::make_unique<Table>();
            table->background = ReadBackground(t, Background{});
            if (auto v = ParseInt(t.Find(L"cellpadding"))) table->padding = std::clamp(*v, 0, 256);
            if (auto v = ParseInt(t.Find(L"cellspacing"))) table->spacing = std::clamp(*v, 0, 256);
            if (const std::wstring* b = t.Find(L"border")) {
                const std::optional<int> v = ParseInt(b);
                table->border = b->empty() ? 1 : std::clamp(v.value_or(1), 0, 64);
            }
            if (auto c = t.Find(L"bordercolor")) table->borderColour = ParseColour(*c);
            if (auto s = t.Find(L"borderstyle")) table->borderStyle = ParseBorderStyle(*s);
            if (auto a = ParseAlign(t.Find(L"align"))) table->align = *a;
            table->width = ParseSize(t.Find(L"width"));
            table->height = ParseSize(t.Find(L"height"));
            m_doc.tables.push_back(std::move(table));
            const int index = (int)m_doc.tables.size() - 1;
            Item item;
            item.kind = ItemKind::Table;
            item.index = index;
            item.style = CurrentStyle();
            Add(std::move(item));
            ++m_tableDepth;
            Push(Open{L"table", CurrentStyle(), OpenKind::Table, index});
            return;
        }
        const int tableAt = FindOpen(OpenKind::Table);
        if (tableAt <= 0) return; // rows and cells outside a table mean nothing
        const int tableIndex = m_stack[(size_t)tableAt].table;
        Table& table = *m_doc.tables[(size_t)tableIndex];
        if (tag == L"tr") {
            PopTo(tableAt + 1);
            Row row;
            row.background = ReadBackground(t, Background{});
            row.align = ParseAlign(t.Find(L"align"));
            row.valign = ParseVAlign(t.Find(L"valign"));
            row.height = ParseSize(t.Find(L"height"));
            table.rows.push_back(std::move(row));
            Push(Open{L"tr", m_stack[(size_t)tableAt].style, OpenKind::Row, tableIndex});
            return;
        }
        // A cell: in the open row, or in a new one.
        int rowAt = FindOpen(OpenKind::Row);
        if (rowAt <= tableAt) {
            PopTo(tableAt + 1);
            table.rows.emplace_back();
            Push(Open{L"tr", m_stack[(size_t)tableAt].style, OpenKind::Row, tableIndex});
            rowAt = (int)m_stack.size() - 1;
        }
        PopTo(rowAt + 1);
        Row& row = table.rows.back();
        Cell cell;
        cell.background = ReadBackground(t, row.background.Visible() ? row.background : Background{});
        if (auto v = ParseInt(t.Find(L"rowspan"))) cell.rowspan = std::clamp(*v, 1, 1 << 20);
        if (auto v = ParseInt(t.Find(L"colspan"))) cell.colspan = std::clamp(*v, 1, kMaxSpan);
        cell.width = ParseSize(t.Find(L"width"));
        cell.height = ParseSize(t.Find(L"height"));
        cell.valign = ParseVAlign(t.Find(L"valign")).value_or(row.valign.value_or(VAlign::Middle));
        if (const std::wstring* b = t.Find(L"border")) cell.box.borderWidth = std::clamp(ParseInt(b).value_or(1), 0, 64);
        if (auto c = t.Find(L"bordercolor")) cell.box.borderColour = ParseColour(*c);
        if (auto s = t.Find(L"borderstyle")) cell.box.borderStyle = ParseBorderStyle(*s);
        // The cell's text starts from the table's surroundings.
        TextStyle s = Style(m_stack[(size_t)tableAt].style);
        s.background.reset();
        s.align = ParseAlign(t.Find(L"align")).value_or(row.align.value_or(tag == L"th" ? Align::Center : Align::Left));
        if (tag == L"th") s.weight = FW_BOLD;
        BoxStyle box;
        const TextStyle parent = s;
        if (const std::wstring* cls = t.Find(L"class")) Apply(m_sheet.Find(L"." + *cls), parent, s, box);
        Apply(m_sheet.Find(tag), parent, s, box);
        if (const std::wstring* style = t.Find(L"style")) Apply(ParseDeclarations(*style), parent, s, box);
        if (box.background && !cell.background.Visible()) {
            cell.background.start = *box.background;
            cell.background.effect = Background::Solid;
        }
        if (box.hasPadding) cell.box.padding = box.padding, cell.box.hasPadding = true;
        if (box.borderWidth) cell.box.borderWidth = box.borderWidth;
        if (box.borderStyle) cell.box.borderStyle = box.borderStyle;
        if (box.borderColour) cell.box.borderColour = box.borderColour;
        m_doc.styles.push_back(s);
        const int style = (int)m_doc.styles.size() - 1;
        table.cells.push_back(std::move(cell));
        const int cellIndex = (int)table.cells.size() - 1;
        table.cells.back().flow.style = style;
        row.cells.push_back(cellIndex);
        Push(Open{tag, style, OpenKind::Cell, tableIndex, cellIndex});
    }

    static BorderStyle ParseBorderStyle(const std::wstring& v) {
        const std::wstring s = Lower(v);
        if (s == L"none") return BorderStyle::None;
        if (s == L"dotted") return BorderStyle::Dotted;
        if (s == L"dashed") return BorderStyle::Dashed;
        if (s == L"double") return BorderStyle::Double;
        return BorderStyle::Solid;
    }

    Document& m_doc;
    StyleSheet m_sheet;
    C_HtmlDrawer& m_drawer;
    std::vector<Open> m_stack;
    size_t m_overflow = 0;
    int m_tableDepth = 0;
    bool m_inStyle = false;
};

} // namespace

// ---------------------------------------------------------------------------
// Fonts
// ---------------------------------------------------------------------------
class FontCache {
public:
    struct Entry {
        HFONT font = nullptr;
        TEXTMETRICW metrics{};
    };
    ~FontCache() { Clear(); }
    // Fonts are dropped only between drawings: entries stay valid during one.
    void Trim() {
        if (m_fonts.size() >= kMaxFonts) Clear();
    }
    void Clear() {
        for (auto& [key, e] : m_fonts) DeleteObject(e.font);
        m_fonts.clear();
    }
    const Entry& Get(HDC hdc, const TextStyle& s) {
        std::wstring key = s.family;
        const int height = std::max(1, (int)std::lround(s.size));
        key += L'|' + std::to_wstring(height) + L'|' + std::to_wstring(s.weight) + (s.italic ? L"i" : L"") +
               (s.underline ? L"u" : L"") + (s.strike ? L"s" : L"");
        auto it = m_fonts.find(key);
        if (it != m_fonts.end()) return it->second;
        LOGFONTW lf{};
        lf.lfHeight = -height;
        lf.lfWeight = s.weight;
        lf.lfItalic = s.italic;
        lf.lfUnderline = s.underline;
        lf.lfStrikeOut = s.strike;
        lf.lfCharSet = DEFAULT_CHARSET;
        lf.lfPitchAndFamily = FF_SWISS;
        // A family list that does not fit the face name keeps its first name.
        std::wstring face = s.family;
        if (face.size() >= LF_FACESIZE) face = face.substr(0, std::min(face.find(L','), (size_t)LF_FACESIZE - 1));
        std::copy(face.begin(), face.end(), lf.lfFaceName);
        Entry e;
        e.font = CreateFontIndirectW(&lf);
        HGDIOBJ old = SelectObject(hdc, e.font);
        GetTextMetricsW(hdc, &e.metrics);
        if (old && old != HGDI_ERROR) SelectObject(hdc, old);
        return m_fonts.emplace(key, e).first->second;
    }

private:
    std::map<std::wstring, Entry> m_fonts;
};

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

    void DrawTable(Table& t, int x, int y) {
        const TableLayout& L = t.layout;
        const RECT outer{x, y, x + L.width, y + L.height};
        if (t.background.Visible()) {
            Op op;
            op.kind = Op::Paint;
            op.rect = outer;
            op.background = &t.background;
            ops.push_back(op);
        }
        // Without a border colour the table is raised and its cells sunken.
        const COLORREF light = t.borderColour.value_or(GetSysColor(COLOR_3DLIGHT));
        const COLORREF dark = t.borderColour.value_or(GetSysColor(COLOR_3DSHADOW));
        Frame(outer, t.border, t.borderStyle, light, dark);
        for (Cell& c : t.cells) {
            if (!c.placed) continue;
            const int cx = x + L.colX[(size_t)c.col], cy = y + L.rowY[(size_t)c.row];
            const RECT box{cx, cy, cx + SpanWidth(t, c), cy + SpanHeight(t, c)};
            if (c.background.Visible()) {
                Op op;
                op.kind = Op::Paint;
                op.rect = box;
                op.background = &c.background;
                ops.push_back(op);
            }
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

} // namespace html

// ---------------------------------------------------------------------------
// The drawer
// ---------------------------------------------------------------------------
C_HtmlDrawer::C_HtmlDrawer() : m_Fonts(std::make_unique<html::FontCache>()) { ResetStyleSheet(); }

C_HtmlDrawer::~C_HtmlDrawer() = default;

C_HtmlDrawer& C_HtmlDrawer::Instance() {
    static C_HtmlDrawer drawer;
    return drawer;
}

void C_HtmlDrawer::SetMaxWidth(int width) { m_MaxWidth = std::max(0, width); }

size_t C_HtmlDrawer::AddStyleSheet(const std::wstring& sheet) { return m_Sheet.Parse(sheet); }

void C_HtmlDrawer::ResetStyleSheet() {
    m_Sheet.Clear();
    m_Sheet.Parse(html::DefaultStyleSheet());
}

SIZE C_HtmlDrawer::Draw(HDC hdc, const std::wstring& markup, POINT topLeft) {
    m_Links.clear();
    if (!hdc) return SIZE{0, 0};
    RECT clip{};
    if (GetClipBox(hdc, &clip) == ERROR) return SIZE{0, 0};
    m_Fonts->Trim();
    html::Document doc;
    html::Builder builder(doc, m_Sheet, *this);
    builder.Run(html::Tokenize(html::ExpandEntities(markup)));
    html::Layout layout(hdc, doc, *m_Fonts);
    int used = 0;
    const int height = layout.FlowLayout(doc.root, topLeft.x, topLeft.y, m_MaxWidth, true, clip.bottom, &used);
    SaveDC(hdc);
    html::Execute(hdc, doc, *m_Fonts, layout.ops);
    RestoreDC(hdc, -1);
    m_Links = std::move(layout.links);
    return SIZE{used, height};
}

SIZE C_HtmlDrawer::DrawPanel(HDC hdc, int surfaceWidth, const std::wstring& markup, int left, int top) {
    // Computed wide: a margin near the integer limits must not wrap round
    // into a huge width.
    const long long width = (long long)surfaceWidth - 2LL * left;
    SetMaxWidth((int)std::clamp(width, (long long)INT_MIN, (long long)INT_MAX));
    return Draw(hdc, markup, POINT{left, top});
}

std::shared_ptr<const html::Picture> C_HtmlDrawer::LoadPicture(const std::wstring& file) {
    auto it = m_Pictures.find(file);
    if (it != m_Pictures.end()) return it->second;
    if (m_Pictures.size() >= html::kMaxPictures) m_Pictures.clear();
    std::shared_ptr<html::Picture> picture;
    VORTALEX::FileManager& files = VORTALEX::FileManager::Instance();
    unsigned int size = 0;
    const unsigned char* data = files.GetDataFile(file.c_str(), &size);
    if (!data) {
        // Pictures may also sit in the scene's texture folder.
        const std::wstring folder = C_D3DXSTRING::C_AllStrings::Instance().Lookup(L"FolderTexture");
        if (!folder.empty()) data = files.GetDataFile((folder + L"\\" + file).c_str(), &size);
    }
    d3dx::image::Decoded decoded;
    if (data && SUCCEEDED(d3dx::image::decode(data, size, html::kMaxPictureSide, decoded)) && !decoded.levels.empty()) {
        const d3dx::image::Image& image = decoded.levels[0];
        picture = std::make_shared<html::Picture>();
        picture->width = (int)image.width;
        picture->height = (int)image.height;
        picture->pixels.resize(image.texels.size());
        // Premultiplied, as alpha blending wants it.
        for (size_t i = 0; i < image.texels.size(); ++i) {
            const uint32_t t = image.texels[i];
            const uint32_t a = t >> 24;
            auto ch = [&](int shift) { return (((t >> shift) & 255) * a + 127) / 255 << shift; };
            picture->pixels[i] = a << 24 | ch(16) | ch(8) | ch(0);
        }
    } else {
        LOG_WARNING(L"HTML: рисунок не прочитан: " << file);
    }
    m_Pictures[file] = picture;
    return picture;
}
