#include "Render/GUI/HtmlStyle.h"

#include <algorithm>
#include <cmath>
#include <cwctype>

namespace html {

namespace {

struct NamedColour {
    const wchar_t* name;
    uint32_t rgb; // 0xRRGGBB
};

// The CSS colour keywords, sorted for binary search.
constexpr NamedColour kColours[] = {
    {L"aliceblue", 0xf0f8ff}, {L"antiquewhite", 0xfaebd7}, {L"aqua", 0x00ffff}, {L"aquamarine", 0x7fffd4},
    {L"azure", 0xf0ffff}, {L"beige", 0xf5f5dc}, {L"bisque", 0xffe4c4}, {L"black", 0x000000},
    {L"blanchedalmond", 0xffebcd}, {L"blue", 0x0000ff}, {L"blueviolet", 0x8a2be2}, {L"brown", 0xa52a2a},
    {L"burlywood", 0xdeb887}, {L"cadetblue", 0x5f9ea0}, {L"chartreuse", 0x7fff00}, {L"chocolate", 0xd2691e},
    {L"coral", 0xff7f50}, {L"cornflowerblue", 0x6495ed}, {L"cornsilk", 0xfff8dc}, {L"crimson", 0xdc143c},
    {L"cyan", 0x00ffff}, {L"darkblue", 0x00008b}, {L"darkcyan", 0x008b8b}, {L"darkgoldenrod", 0xb8860b},
    {L"darkgray", 0xa9a9a9}, {L"darkgreen", 0x006400}, {L"darkgrey", 0xa9a9a9}, {L"darkkhaki", 0xbdb76b},
    {L"darkmagenta", 0x8b008b}, {L"darkolivegreen", 0x556b2f}, {L"darkorange", 0xff8c00},
    {L"darkorchid", 0x9932cc}, {L"darkred", 0x8b0000}, {L"darksalmon", 0xe9967a}, {L"darkseagreen", 0x8fbc8f},
    {L"darkslateblue", 0x483d8b}, {L"darkslategray", 0x2f4f4f}, {L"darkslategrey", 0x2f4f4f},
    {L"darkturquoise", 0x00ced1}, {L"darkviolet", 0x9400d3}, {L"deeppink", 0xff1493}, {L"deepskyblue", 0x00bfff},
    {L"dimgray", 0x696969}, {L"dimgrey", 0x696969}, {L"dodgerblue", 0x1e90ff}, {L"firebrick", 0xb22222},
    {L"floralwhite", 0xfffaf0}, {L"forestgreen", 0x228b22}, {L"fuchsia", 0xff00ff}, {L"gainsboro", 0xdcdcdc},
    {L"ghostwhite", 0xf8f8ff}, {L"gold", 0xffd700}, {L"goldenrod", 0xdaa520}, {L"gray", 0x808080},
    {L"green", 0x008000}, {L"greenyellow", 0xadff2f}, {L"grey", 0x808080}, {L"honeydew", 0xf0fff0},
    {L"hotpink", 0xff69b4}, {L"indianred", 0xcd5c5c}, {L"indigo", 0x4b0082}, {L"ivory", 0xfffff0},
    {L"khaki", 0xf0e68c}, {L"lavender", 0xe6e6fa}, {L"lavenderblush", 0xfff0f5}, {L"lawngreen", 0x7cfc00},
    {L"lemonchiffon", 0xfffacd}, {L"lightblue", 0xadd8e6}, {L"lightcoral", 0xf08080}, {L"lightcyan", 0xe0ffff},
    {L"lightgoldenrodyellow", 0xfafad2}, {L"lightgray", 0xd3d3d3}, {L"lightgreen", 0x90ee90},
    {L"lightgrey", 0xd3d3d3}, {L"lightpink", 0xffb6c1}, {L"lightsalmon", 0xffa07a}, {L"lightseagreen", 0x20b2aa},
    {L"lightskyblue", 0x87cefa}, {L"lightslategray", 0x778899}, {L"lightslategrey", 0x778899},
    {L"lightsteelblue", 0xb0c4de}, {L"lightyellow", 0xffffe0}, {L"lime", 0x00ff00}, {L"limegreen", 0x32cd32},
    {L"linen", 0xfaf0e6}, {L"magenta", 0xff00ff}, {L"maroon", 0x800000}, {L"mediumaquamarine", 0x66cdaa},
    {L"mediumblue", 0x0000cd}, {L"mediumorchid", 0xba55d3}, {L"mediumpurple", 0x9370db},
    {L"mediumseagreen", 0x3cb371}, {L"mediumslateblue", 0x7b68ee}, {L"mediumspringgreen", 0x00fa9a},
    {L"mediumturquoise", 0x48d1cc}, {L"mediumvioletred", 0xc71585}, {L"midnightblue", 0x191970},
    {L"mintcream", 0xf5fffa}, {L"mistyrose", 0xffe4e1}, {L"moccasin", 0xffe4b5}, {L"navajowhite", 0xffdead},
    {L"navy", 0x000080}, {L"oldlace", 0xfdf5e6}, {L"olive", 0x808000}, {L"olivedrab", 0x6b8e23},
    {L"orange", 0xffa500}, {L"orangered", 0xff4500}, {L"orchid", 0xda70d6}, {L"palegoldenrod", 0xeee8aa},
    {L"palegreen", 0x98fb98}, {L"paleturquoise", 0xafeeee}, {L"palevioletred", 0xdb7093},
    {L"papayawhip", 0xffefd5}, {L"peachpuff", 0xffdab9}, {L"peru", 0xcd853f}, {L"pink", 0xffc0cb},
    {L"plum", 0xdda0dd}, {L"powderblue", 0xb0e0e6}, {L"purple", 0x800080}, {L"rebeccapurple", 0x663399},
    {L"red", 0xff0000}, {L"rosybrown", 0xbc8f8f}, {L"royalblue", 0x4169e1}, {L"saddlebrown", 0x8b4513},
    {L"salmon", 0xfa8072}, {L"sandybrown", 0xf4a460}, {L"seagreen", 0x2e8b57}, {L"seashell", 0xfff5ee},
    {L"sienna", 0xa0522d}, {L"silver", 0xc0c0c0}, {L"skyblue", 0x87ceeb}, {L"slateblue", 0x6a5acd},
    {L"slategray", 0x708090}, {L"slategrey", 0x708090}, {L"snow", 0xfffafa}, {L"springgreen", 0x00ff7f},
    {L"steelblue", 0x4682b4}, {L"tan", 0xd2b48c}, {L"teal", 0x008080}, {L"thistle", 0xd8bfd8},
    {L"tomato", 0xff6347}, {L"turquoise", 0x40e0d0}, {L"violet", 0xee82ee}, {L"wheat", 0xf5deb3},
    {L"white", 0xffffff}, {L"whitesmoke", 0xf5f5f5}, {L"yellow", 0xffff00}, {L"yellowgreen", 0x9acd32},
};

struct SystemColour {
    const wchar_t* name;
    int index; // GetSysColor
};

// The CSS system-colour keywords and the Windows colours of the same meaning.
constexpr SystemColour kSystemColours[] = {
    {L"activeborder", COLOR_ACTIVEBORDER},
    {L"activecaption", COLOR_ACTIVECAPTION},
    {L"appworkspace", COLOR_APPWORKSPACE},
    {L"background", COLOR_BACKGROUND},
    {L"buttonface", COLOR_BTNFACE},
    {L"buttonhighlight", COLOR_BTNHIGHLIGHT},
    {L"buttonshadow", COLOR_BTNSHADOW},
    {L"buttontext", COLOR_BTNTEXT},
    {L"captiontext", COLOR_CAPTIONTEXT},
    {L"graytext", COLOR_GRAYTEXT},
    {L"highlight", COLOR_HIGHLIGHT},
    {L"highlighttext", COLOR_HIGHLIGHTTEXT},
    {L"inactiveborder", COLOR_INACTIVEBORDER},
    {L"inactivecaption", COLOR_INACTIVECAPTION},
    {L"inactivecaptiontext", COLOR_INACTIVECAPTIONTEXT},
    {L"infobackground", COLOR_INFOBK},
    {L"infotext", COLOR_INFOTEXT},
    {L"menu", COLOR_MENU},
    {L"menutext", COLOR_MENUTEXT},
    {L"scrollbar", COLOR_SCROLLBAR},
    {L"threeddarkshadow", COLOR_3DDKSHADOW},
    {L"threedface", COLOR_3DFACE},
    {L"threedhighlight", COLOR_3DHIGHLIGHT},
    {L"threedlightshadow", COLOR_3DLIGHT},
    {L"threedshadow", COLOR_3DSHADOW},
    {L"window", COLOR_WINDOW},
    {L"windowframe", COLOR_WINDOWFRAME},
    {L"windowtext", COLOR_WINDOWTEXT},
};

std::wstring_view Trim(std::wstring_view s) {
    while (!s.empty() && std::iswspace(s.front())) s.remove_prefix(1);
    while (!s.empty() && std::iswspace(s.back())) s.remove_suffix(1);
    return s;
}

std::wstring Lower(std::wstring_view s) {
    std::wstring out(s);
    for (wchar_t& c : out) c = (wchar_t)std::towlower(c);
    return out;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Hexadecimal digits only, at most 8 of them.
std::optional<uint32_t> Hex(std::wstring_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    uint32_t v = 0;
    for (wchar_t c : s) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        v = v << 4 | (uint32_t)d;
    }
    return v;
}

COLORREF FromRgb(uint32_t rgb) { return RGB((rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255); }

std::optional<double> Number(std::wstring_view s) {
    s = Trim(s);
    if (s.empty() || s.size() > 32) return std::nullopt;
    std::wstring copy(s);
    wchar_t* end = nullptr;
    const double v = std::wcstod(copy.c_str(), &end);
    if (end == copy.c_str() || *end != 0 || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::wstring Unquote(std::wstring_view s) {
    s = Trim(s);
    if (s.size() >= 2 && (s.front() == L'"' || s.front() == L'\'') && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    return std::wstring(s);
}

// Font families: a list keeps its order, quotes go.
std::wstring Family(std::wstring_view s) {
    std::wstring out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(L',', start);
        if (comma == std::wstring_view::npos) comma = s.size();
        const std::wstring name = Unquote(s.substr(start, comma - start));
        if (!name.empty()) {
            if (!out.empty()) out += L',';
            out += name;
        }
        start = comma + 1;
    }
    return out;
}

std::vector<std::wstring_view> Words(std::wstring_view s) {
    std::vector<std::wstring_view> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::iswspace(s[i])) ++i;
        size_t j = i;
        while (j < s.size() && !std::iswspace(s[j])) ++j;
        if (j > i) words.push_back(s.substr(i, j - i));
        i = j;
    }
    return words;
}

// One to four lengths, CSS order (top, right, bottom, left).
std::optional<Sides> ParseSides(std::wstring_view s, double fontSize) {
    std::vector<double> v;
    for (std::wstring_view w : Words(s)) {
        const std::optional<Length> l = ParseLength(w);
        if (!l) return std::nullopt;
        v.push_back(std::clamp(l->Pixels(fontSize, 0), 0.0, 4096.0));
        if (v.size() > 4) return std::nullopt;
    }
    if (v.empty()) return std::nullopt;
    Sides r;
    r.top = v[0];
    r.right = v.size() > 1 ? v[1] : v[0];
    r.bottom = v.size() > 2 ? v[2] : v[0];
    r.left = v.size() > 3 ? v[3] : r.right;
    return r;
}

std::optional<double> FontSize(std::wstring_view value, double parent) {
    static const std::pair<const wchar_t*, double> keywords[] = {
        {L"xx-small", 9}, {L"x-small", 10}, {L"small", 13}, {L"medium", 16},
        {L"large", 18},   {L"x-large", 24}, {L"xx-large", 32},
    };
    const std::wstring v = Lower(Trim(value));
    for (const auto& [name, px] : keywords)
        if (v == name) return px;
    if (v == L"smaller") return parent / 1.2;
    if (v == L"larger") return parent * 1.2;
    const std::optional<Length> l = ParseLength(v);
    if (!l) return std::nullopt;
    // Em, ex and percentages count from the parent's size.
    const double px = l->Pixels(parent, parent);
    if (!(px > 0)) return std::nullopt;
    return std::clamp(px, 1.0, 512.0);
}

} // namespace

std::optional<COLORREF> ParseColour(std::wstring_view text) {
    const std::wstring v = Lower(Trim(text));
    if (v.empty()) return std::nullopt;
    if (v[0] == L'#') {
        const std::wstring_view digits = std::wstring_view(v).substr(1);
        const std::optional<uint32_t> h = Hex(digits);
        if (!h) return std::nullopt;
        if (digits.size() == 6) return FromRgb(*h);
        if (digits.size() == 3) {
            const uint32_t r = (*h >> 8) & 15, g = (*h >> 4) & 15, b = *h & 15;
            return RGB(r * 17, g * 17, b * 17);
        }
        return std::nullopt;
    }
    if (v.size() > 2 && v[0] == L'0' && v[1] == L'x') {
        const std::optional<uint32_t> h = Hex(std::wstring_view(v).substr(2));
        if (!h) return std::nullopt;
        return FromRgb(*h & 0xFFFFFF);
    }
    const auto* end = std::end(kColours);
    const auto* it = std::lower_bound(std::begin(kColours), end, v,
                                      [](const NamedColour& c, const std::wstring& name) { return name.compare(c.name) > 0; });
    if (it != end && v == it->name) return FromRgb(it->rgb);
    for (const SystemColour& s : kSystemColours)
        if (v == s.name) return (COLORREF)GetSysColor(s.index);
    return std::nullopt;
}

double Length::Pixels(double fontSize, double reference) const {
    switch (unit) {
    case Px: return value;
    case Pt: return value * 96.0 / 72.0;
    case Pc: return value * 16.0;
    case In: return value * 96.0;
    case Cm: return value * 96.0 / 2.54;
    case Mm: return value * 96.0 / 25.4;
    case Em: return value * fontSize;
    case Ex: return value * fontSize * 0.5;
    case Percent: return value * reference / 100.0;
    }
    return value;
}

std::optional<Length> ParseLength(std::wstring_view text) {
    const std::wstring v = Lower(Trim(text));
    static const std::pair<const wchar_t*, Length::Unit> units[] = {
        {L"px", Length::Px}, {L"pt", Length::Pt}, {L"pc", Length::Pc}, {L"in", Length::In}, {L"cm", Length::Cm},
        {L"mm", Length::Mm}, {L"em", Length::Em}, {L"ex", Length::Ex}, {L"x", Length::Ex},  {L"%", Length::Percent},
    };
    for (const auto& [suffix, unit] : units) {
        const size_t n = std::wcslen(suffix);
        if (v.size() > n && v.compare(v.size() - n, n, suffix) == 0) {
            const std::optional<double> number = Number(std::wstring_view(v).substr(0, v.size() - n));
            if (!number) return std::nullopt;
            return Length{*number, unit};
        }
    }
    const std::optional<double> number = Number(v);
    if (!number) return std::nullopt;
    return Length{*number, Length::Px};
}

Declarations ParseDeclarations(std::wstring_view text) {
    Declarations out;
    size_t i = 0;
    while (i < text.size()) {
        size_t end = text.find(L';', i);
        if (end == std::wstring_view::npos) end = text.size();
        const std::wstring_view item = text.substr(i, end - i);
        const size_t colon = item.find(L':');
        if (colon != std::wstring_view::npos) {
            const std::wstring name = Lower(Trim(item.substr(0, colon)));
            std::wstring_view value = Trim(item.substr(colon + 1));
            if (const size_t bang = value.find(L'!'); bang != std::wstring_view::npos)
                value = Trim(value.substr(0, bang));
            if (!name.empty()) out.emplace_back(name, std::wstring(value));
        }
        i = end + 1;
    }
    return out;
}

size_t StyleSheet::Parse(std::wstring_view text) {
    // Comments go first so that braces inside them mean nothing.
    std::wstring clean;
    clean.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'/' && i + 1 < text.size() && text[i + 1] == L'*') {
            const size_t close = text.find(L"*/", i + 2);
            if (close == std::wstring_view::npos) break;
            i = close + 1;
            continue;
        }
        clean += text[i];
    }
    size_t added = 0;
    size_t i = 0;
    while (i < clean.size()) {
        const size_t open = clean.find(L'{', i);
        if (open == std::wstring::npos) break;
        size_t close = clean.find(L'}', open + 1);
        if (close == std::wstring::npos) close = clean.size();
        const Declarations declarations = ParseDeclarations(std::wstring_view(clean).substr(open + 1, close - open - 1));
        const std::wstring_view selectors = std::wstring_view(clean).substr(i, open - i);
        size_t s = 0;
        while (s <= selectors.size()) {
            size_t comma = selectors.find(L',', s);
            if (comma == std::wstring_view::npos) comma = selectors.size();
            const std::wstring selector = Lower(Trim(selectors.substr(s, comma - s)));
            if (!selector.empty()) {
                m_rules.push_back(Rule{selector, declarations});
                ++added;
            }
            s = comma + 1;
        }
        i = close + 1;
    }
    return added;
}

Declarations StyleSheet::Find(std::wstring_view selector) const {
    Declarations out;
    const std::wstring key = Lower(selector);
    for (const Rule& rule : m_rules)
        if (rule.selector == key) out.insert(out.end(), rule.declarations.begin(), rule.declarations.end());
    return out;
}

const std::wstring& DefaultStyleSheet() {
    static const std::wstring sheet =
        L"body {font-size: 10pt; color:black; font-family:Verdana}\r\n"
        L"p {font-size: 10pt; color:black; font-family:Verdana; font-weight:bold}\r\n"
        L"h1 {font-size: 14pt; color:black; font-family:Verdana; font-weight:bold}\r\n"
        L"h2 {font-size: 13pt; color:#ff9900; font-family:Verdana; font-weight:bold}\r\n"
        L"h3 {font-size: 12pt; color:#ff9900; font-family:Arial; font-weight:bold}\r\n"
        L"h4 {font-size: 10pt; color:black; font-family:Verdana; font-weight:bold}\r\n"
        L"h5 {font-size: 9pt; color:#ff9900; font-family:Verdana; font-weight:bold}\r\n"
        L"h6 {font-size: 65%; color:#626262; font-family:Verdana; font-weight:normal}\r\n"
        L"pre {font-size: 9pt; font-family:\"Courier\"; background-color:#fbedbb}\r\n"
        L"code {color:#990000; font-family:Arial}\r\n"
        L"a:link {text-decoration:none; color:blue}\r\n"
        L"a:hover {text-decoration:underline; color:blue}\r\n"
        L"sub {font-size:65%; vertical-align:bottom}\r\n"
        L"sup {font-size:65%; vertical-align:top}\r\n"
        L"big {font-size:125%}\r\n"
        L"small {font-size:75%}\r\n"
        L".cpp-comment {color:green; font-style:italic}\r\n";
    return sheet;
}

void Apply(const Declarations& declarations, const TextStyle& parent, TextStyle& text, BoxStyle& box) {
    for (const auto& [name, raw] : declarations) {
        const std::wstring value = Lower(Trim(raw));
        if (name == L"font-size") {
            if (auto px = FontSize(value, parent.size)) text.size = *px;
        } else if (name == L"font-family") {
            const std::wstring family = Family(raw);
            if (!family.empty()) text.family = family;
        } else if (name == L"font-style") {
            if (value == L"normal") text.italic = false;
            else if (value == L"italic" || value == L"oblique") text.italic = true;
        } else if (name == L"font-weight") {
            if (value == L"normal") text.weight = FW_NORMAL;
            else if (value == L"bold") text.weight = FW_BOLD;
            else if (value == L"bolder") text.weight = std::min(900, parent.weight + 300);
            else if (value == L"lighter") text.weight = std::max(100, parent.weight - 300);
            else if (auto n = Number(value); n && *n >= 1 && *n <= 1000) text.weight = (int)*n;
        } else if (name == L"text-align") {
            if (value == L"left") text.align = Align::Left;
            else if (value == L"center") text.align = Align::Center;
            else if (value == L"right") text.align = Align::Right;
            else if (value == L"justify") text.align = Align::Justify;
        } else if (name == L"vertical-align") {
            if (value == L"baseline") text.valign = VAlign::Baseline;
            else if (value == L"middle" || value == L"vcenter") text.valign = VAlign::Middle;
            else if (value == L"top") text.valign = VAlign::Top;
            else if (value == L"bottom") text.valign = VAlign::Bottom;
        } else if (name == L"text-transform") {
            if (value == L"none") text.transform = Transform::None;
            else if (value == L"uppercase") text.transform = Transform::Upper;
            else if (value == L"lowercase") text.transform = Transform::Lower;
            else if (value == L"capitalize") text.transform = Transform::Capitalize;
        } else if (name == L"text-decoration") {
            bool known = false, underline = false, strike = false, overline = false;
            for (std::wstring_view w : Words(value)) {
                if (w == L"none") known = true;
                else if (w == L"underline") known = underline = true;
                else if (w == L"line-through") known = strike = true;
                else if (w == L"overline") known = overline = true;
            }
            if (known) {
                text.underline = underline;
                text.strike = strike;
                text.overline = overline;
            }
        } else if (name == L"color") {
            if (auto c = ParseColour(value)) text.colour = *c;
        } else if (name == L"background-color" || name == L"background") {
            if (value == L"transparent") box.background.reset();
            else if (auto c = ParseColour(value)) box.background = *c;
        } else if (name == L"border-color") {
            if (auto c = ParseColour(value)) box.borderColour = *c;
        } else if (name == L"border-width") {
            if (value == L"thin") box.borderWidth = 1;
            else if (value == L"medium") box.borderWidth = 3;
            else if (value == L"thick") box.borderWidth = 5;
            else if (auto l = ParseLength(value)) box.borderWidth = std::clamp(l->Pixels(text.size, 0), 0.0, 64.0);
        } else if (name == L"border-style") {
            if (value == L"none") box.borderStyle = BorderStyle::None;
            else if (value == L"solid") box.borderStyle = BorderStyle::Solid;
            else if (value == L"dotted") box.borderStyle = BorderStyle::Dotted;
            else if (value == L"dashed") box.borderStyle = BorderStyle::Dashed;
            else if (value == L"double") box.borderStyle = BorderStyle::Double;
        } else if (name == L"margin") {
            if (auto s = ParseSides(value, text.size)) box.margin = *s;
        } else if (name == L"padding") {
            if (auto s = ParseSides(value, text.size)) {
                box.padding = *s;
                box.hasPadding = true;
            }
        }
    }
}

} // namespace html
