#pragma once
// What the HTML drawer's two halves share: the reader that turns markup into
// a document (HtmlBuilder.cpp) and the layout that measures the document and
// paints it (HtmlLayout.cpp). Internal to the drawer.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwctype>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Render/GUI/HtmlDrawer.h"
#include "Render/GUI/HtmlEffects.h"
#include "Render/GUI/HtmlMarkup.h"

namespace html {

// Limits that keep hostile markup bounded: open elements deeper than
// kMaxDepth are ignored (their text still shows), tables nest at most
// kMaxTableDepth deep, a table has at most kMaxColumns columns and a cell
// spans at most kMaxSpan columns.
inline constexpr size_t kMaxDepth = 256;
inline constexpr int kMaxTableDepth = 16;
inline constexpr int kMaxColumns = 512;
inline constexpr int kMaxSpan = 256;
inline constexpr int kMaxPictureSide = 1024;
inline constexpr size_t kMaxPictures = 16;
inline constexpr size_t kMaxFonts = 64;
// Text is measured this many characters at a time.
inline constexpr size_t kMeasureChunk = 256;
// Lines are never wider than this, whatever a width attribute says.
inline constexpr int kMaxExtent = 1 << 20;

inline const std::wstring kBreakCharacters = L" -.,!:;)}]?";

inline bool Breaks(wchar_t c) { return kBreakCharacters.find(c) != std::wstring::npos; }

inline std::wstring Lower(std::wstring_view s) {
    std::wstring out(s);
    for (wchar_t& c : out) c = (wchar_t)std::towlower(c);
    return out;
}

inline int Clamp(double v, int lo, int hi) {
    if (!(v == v)) return lo;
    return (int)std::clamp(v, (double)lo, (double)hi);
}

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
// skipped; spans are held to the table's rows and the column limit. Done
// once, by whichever of the reader and the layout needs it first.
void Finish(Table& t);

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

// The document of the markup's tokens, styled by the sheet (which the
// markup's own <style> elements extend for this drawing only); pictures come
// through the drawer's cache.
void BuildDocument(Document& doc, const StyleSheet& sheet, C_HtmlDrawer& drawer, const std::vector<Token>& tokens);

// Lays the document out from topLeft within maxWidth and paints it down to
// clipBottom; returns the height, sets `used` to the widest line and `links`
// to the areas of the links drawn.
int DrawDocument(HDC hdc, Document& doc, FontCache& fonts, POINT topLeft, int maxWidth, int clipBottom, int& used,
                 std::vector<C_HtmlDrawer::LinkArea>& links);

} // namespace html
