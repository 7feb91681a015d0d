#pragma once
// How deeply the elements of an XML text nest, found by a flat scan before
// the text is handed to a parser that recurses once per level: a hostile
// file of 100,000 nested elements must be refused, not overflow the stack.

#include <cstddef>
#include <string_view>

namespace VORTALEX {

// Nesting that the program's XML readers accept; real files (settings,
// modules) nest a few levels.
constexpr int kMaxXmlNesting = 1000;

// The deepest element nesting of `text`, estimated without parsing
// (comments, declarations, processing instructions, CDATA sections and
// quoted attribute values are skipped). Stops as soon as `limit` is passed
// and then sets `where` to the offset of the start tag that passed it.
template <class Char>
int XmlElementNesting(std::basic_string_view<Char> text, int limit, std::size_t& where)
{
    const auto is = [&text](std::size_t at, const char* literal) {
        for (std::size_t k = 0; literal[k]; ++k)
            if (at + k >= text.size() || text[at + k] != static_cast<Char>(literal[k])) return false;
        return true;
    };
    const auto skipPast = [&text](std::size_t from, const char* literal) {
        std::size_t length = 0;
        while (literal[length]) ++length;
        for (std::size_t i = from; i + length <= text.size(); ++i) {
            std::size_t k = 0;
            while (k < length && text[i + k] == static_cast<Char>(literal[k])) ++k;
            if (k == length) return i + length;
        }
        return text.size();
    };
    int depth = 0;
    int deepest = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        if (text[i] != Char('<')) {
            ++i;
            continue;
        }
        if (is(i, "<!--")) {
            i = skipPast(i + 4, "-->");
        } else if (is(i, "<![CDATA[")) {
            i = skipPast(i + 9, "]]>");
        } else if (i + 1 < n && (text[i + 1] == Char('?') || text[i + 1] == Char('!'))) {
            i = skipPast(i + 2, ">");
        } else if (i + 1 < n && text[i + 1] == Char('/')) {
            if (depth > 0) --depth;
            i = skipPast(i + 2, ">");
        } else {
            // A start tag: find its end, minding quoted values.
            std::size_t j = i + 1;
            Char quote = 0;
            while (j < n) {
                const Char c = text[j];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == Char('"') || c == Char('\'')) {
                    quote = c;
                } else if (c == Char('>')) {
                    break;
                }
                ++j;
            }
            const bool empty = j < n && j > i + 1 && text[j - 1] == Char('/');
            if (!empty && ++depth > deepest) {
                deepest = depth;
                if (deepest > limit) {
                    where = i;
                    return deepest;
                }
            }
            i = j + 1;
        }
    }
    return deepest;
}

}  // namespace VORTALEX
