#pragma once
// The HTML drawer's styles: colour and length values, the style-sheet
// grammar, and the computed text and box styles that the markup builder
// hands to the layout.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "port/d3dx9/wingdi.h"

namespace html {

// "#rrggbb" (or the short "#rgb"), "0x" followed by hexadecimal digits
// (read as 0xRRGGBB), a CSS colour keyword or a CSS system-colour keyword;
// nothing for anything else. Case is ignored, surrounding blanks too.
std::optional<COLORREF> ParseColour(std::wstring_view text);

// A length as written: a number and its unit.
struct Length {
    enum Unit { Px, Pt, Pc, In, Cm, Mm, Em, Ex, Percent };
    double value = 0;
    Unit unit = Px;
    // Pixels at 96 per inch; em and ex count from fontSize, percentages from
    // reference.
    double Pixels(double fontSize, double reference) const;
};
// "12px", "10pt", "1.5em", "2ex", "2x" (as ex), "1in", "2.54cm", "10mm",
// "1pc", "50%", or a bare number (pixels).
std::optional<Length> ParseLength(std::wstring_view text);

// One property: value as written.
using Declarations = std::vector<std::pair<std::wstring, std::wstring>>;
// "a:b; c:d" into pairs, names lower-cased, values trimmed and unquoted
// where the whole value is quoted; "!important" dropped.
Declarations ParseDeclarations(std::wstring_view text);

// The style sheet: rules in the order they were added; later rules for the
// same selector win, as their declarations are applied later.
class StyleSheet {
public:
    struct Rule {
        std::wstring selector; // lower-cased: "h2", "a:link", ".cpp-comment"
        Declarations declarations;
    };
    // Reads "selector {property:value; ...}" rules; selectors may be
    // comma-separated lists; comments are skipped; a rule without "}" ends at
    // the end of the text. Returns the number of rules added.
    size_t Parse(std::wstring_view text);
    void Clear() { m_rules.clear(); }
    // Every declaration for the selector, in rule order.
    Declarations Find(std::wstring_view selector) const;
    const std::vector<Rule>& Rules() const { return m_rules; }

private:
    std::vector<Rule> m_rules;
};

// The built-in sheet the drawer starts with, in its order.
const std::wstring& DefaultStyleSheet();

enum class Align { Left, Center, Right, Justify };
enum class VAlign { Baseline, Top, Middle, Bottom };
enum class Transform { None, Upper, Lower, Capitalize };
enum class BorderStyle { None, Solid, Dotted, Dashed, Double };

// What text inherits from its parent element.
struct TextStyle {
    std::wstring family = L"Verdana";
    double size = 96.0 * 10 / 72;   // pixels
    int weight = FW_NORMAL;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool overline = false;
    COLORREF colour = RGB(0, 0, 0);
    std::optional<COLORREF> background; // behind the text itself
    Align align = Align::Left;
    VAlign valign = VAlign::Baseline;
    Transform transform = Transform::None;
    int link = -1;                      // index of the link it belongs to
    bool preformatted = false;
};

// Four sides: top, right, bottom, left.
struct Sides {
    double top = 0, right = 0, bottom = 0, left = 0;
};

// What an element keeps to itself: its box.
struct BoxStyle {
    std::optional<COLORREF> background;
    Sides margin, padding;
    bool hasPadding = false;
    std::optional<double> borderWidth;
    std::optional<BorderStyle> borderStyle;
    std::optional<COLORREF> borderColour;
};

// Applies declarations to an element's styles; `parent` is its parent's
// text style (font sizes in em and percent count from it). Unknown
// properties and values that do not parse leave the style as it was.
void Apply(const Declarations& declarations, const TextStyle& parent, TextStyle& text, BoxStyle& box);

} // namespace html
