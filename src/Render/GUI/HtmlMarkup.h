#pragma once
// The HTML drawer's markup: character entities and the tag syntax.

#include <string>
#include <string_view>
#include <vector>

namespace html {

// Replaces the entities of the drawer's table ("&amp;", "&bull;", "&copy;",
// "&euro;", "&gt;", "&iquest;", "&lt;", "&nbsp;", "&para;", "&pound;",
// "&quot;", "&reg;", "&trade;") and numeric ones ("&#169;", "&#xA9;").
// "&lt;" becomes "<<", the escaped form of a literal "<"; unknown entities
// stay as written.
std::wstring ExpandEntities(std::wstring_view text);

struct Attribute {
    std::wstring name;  // lower-cased
    std::wstring value; // as written, without its quotes; empty when none
};

struct Token {
    enum Type { Text, Open, Close };
    Type type = Text;
    std::wstring text; // the text, or the lower-cased tag name
    std::vector<Attribute> attributes;
    // The value of an attribute, or null when the tag has none of that name.
    const std::wstring* Find(std::wstring_view name) const;
};

// Splits entity-expanded markup into text and tags. "<<" is a literal "<";
// a "<" not followed by a tag name, or a tag never closed by ">", is text;
// "<!-- ... -->" is skipped. A quoted value whose quote is never closed ends
// at the next ">". Adjacent text is joined into one token.
std::vector<Token> Tokenize(std::wstring_view markup);

} // namespace html
