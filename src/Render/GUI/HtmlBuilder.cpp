#include "Render/GUI/HtmlDocument.h"

#include "Render/Resources/D3DXSTRING.h"

namespace html {

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
                    Simple(ItemKind::Break);
                } else {
                    text += L' ';
                }
            } else if (c == L'\t') {
                if (style.preformatted) {
                    emit();
                    Simple(ItemKind::Tab);
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

void BuildDocument(Document& doc, const StyleSheet& sheet, C_HtmlDrawer& drawer, const std::vector<Token>& tokens) {
    Builder builder(doc, sheet, drawer);
    builder.Run(tokens);
}

} // namespace html
