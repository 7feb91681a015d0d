#pragma once
// XML text before it reaches a parser: the encoding its declaration names,
// its conversion to the UTF-8 that TinyXML reads, and how deeply its
// elements nest. Readers that recurse (TinyXML among them) check a file's
// nesting first, so that a hostile or broken file of many thousand nested
// elements is refused with a message instead of overflowing the stack.

#include <cstddef>
#include <string>
#include <string_view>

namespace VORTALEX::xml {

// Element nesting beyond which the readers of this system refuse a file.
constexpr int MaxElementNesting = 1000;

// The encoding named by the XML declaration, lower-cased; empty when none.
std::string DeclaredEncoding(std::string_view bytes);

// The file's text as UTF-8: Windows-1251 when declared so, or when it is
// undeclared and not valid UTF-8; otherwise the bytes as they are.
std::string ToUtf8Document(std::string_view bytes);

// The deepest element nesting of the text (comments, declarations, CDATA
// sections and quoted attribute values are skipped). Stops counting once the
// limit is passed: the result is then limit + 1 and `where` is the offset of
// the start tag that passed it.
int ElementNesting(std::string_view text, int limit, std::size_t& where);

// A settings value read as an integer the way _wtoi reads it (leading
// blanks, a sign, digits up to the first other character; 0 when there are
// none), with values beyond the int range clamped instead of wrapping.
int ValueToInt(std::wstring_view text);

}  // namespace VORTALEX::xml
