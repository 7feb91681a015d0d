#pragma once
// Text conversions. Strings are wide (UTF-32 wchar_t on Linux) inside the
// program; 8-bit files come as UTF-8 or Windows-1251.

#include <string>
#include <string_view>

namespace VORTALEX::codepage {

// Windows-1251 bytes to wide text. Every byte maps to one character (the one
// unassigned byte 0x98 maps to U+0098), so this never fails.
std::wstring FromCp1251(std::string_view bytes);

// Wide text to Windows-1251. A character the code page lacks becomes '?'.
std::string ToCp1251(std::wstring_view text);

// As ToCp1251, but a character the code page lacks becomes an XML character
// reference "&#N;" so XML text and attribute values survive unchanged.
std::string ToCp1251Xml(std::wstring_view text);

// True when the character is representable in Windows-1251.
bool InCp1251(wchar_t c);

// UTF-8 to wide text. A malformed sequence becomes U+FFFD per bad byte.
std::wstring FromUtf8(std::string_view bytes);

// Wide text to UTF-8. Surrogates and values beyond U+10FFFF become U+FFFD.
std::string ToUtf8(std::wstring_view text);

// True for well-formed UTF-8 (no overlongs, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// An 8-bit text file's contents: UTF-8 when the bytes are valid UTF-8 (a
// leading byte-order mark is dropped), otherwise Windows-1251.
std::wstring DecodeText(std::string_view bytes);

// Lower-case folding used for case-insensitive name matching; independent
// of the process locale (ASCII, Latin-1, Cyrillic, then towlower).
wchar_t FoldCase(wchar_t c);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace VORTALEX::codepage
