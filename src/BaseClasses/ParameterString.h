#pragma once
// Reading of object parameter strings: ';'-separated fields, each trimmed of
// tab, CR, LF, space and ';'. Every engine class reads its value, effect,
// script and extra strings through these helpers so that all of them agree on
// what a field is and how numbers, colours and flags are read from it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ParameterString {

// Characters removed from both ends of a field.
inline constexpr std::wstring_view TrimSet = L"\t\r\n ;";

// Field `index` (0-based) of `text`, trimmed; empty when the text has fewer
// than `index` separators.
std::wstring GetField(std::wstring_view text, std::size_t index);

// Removes trim-set characters from both ends.
std::wstring_view Trim(std::wstring_view field);

// Reads like _wtof: leading white space, optional sign, digits with an
// optional decimal point and exponent; stops at the first character that
// does not fit; no number gives 0.
float ReadFloat(std::wstring_view field);
double ReadDouble(std::wstring_view field);

// Reads like _wtoi: the same without fraction; out-of-range values saturate.
int32_t ReadInt(std::wstring_view field);

// A 32-bit hexadecimal colour: everything up to and including the first 'x'
// is skipped (a field without 'x' is read whole), then hexadecimal digits are
// read until the first character that is not one. No digits gives 0.
uint32_t ReadColor(std::wstring_view field);

// The field lower-cased and compared with `word` (given in lower case).
bool ReadFlag(std::wstring_view field, std::wstring_view word);

// Fields first, first+1, ... up to (not including) the first empty one.
std::vector<std::wstring> ReadList(std::wstring_view text, std::size_t first);

// Lower-cases a wide string (Cyrillic included).
std::wstring ToLower(std::wstring_view text);

} // namespace ParameterString
