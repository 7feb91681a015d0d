#include "BaseClasses/ParameterString.h"

#include <charconv>
#include <cmath>
#include <cwctype>
#include <limits>

namespace ParameterString {

namespace {

bool IsSpace(wchar_t c)
{
    // The white space that the C library's conversions skip.
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

} // namespace

std::wstring_view Trim(std::wstring_view field)
{
    const std::size_t first = field.find_first_not_of(TrimSet);
    if (first == std::wstring_view::npos) return {};
    const std::size_t last = field.find_last_not_of(TrimSet);
    return field.substr(first, last - first + 1);
}

std::wstring GetField(std::wstring_view text, std::size_t index)
{
    std::size_t position = 0;
    for (std::size_t i = 0; i < index; ++i) {
        const std::size_t found = text.find(L';', position);
        if (found == std::wstring_view::npos) return {};
        position = found + 1;
    }
    std::size_t end = text.find(L';', position);
    if (end == std::wstring_view::npos) end = text.size();
    return std::wstring(Trim(text.substr(position, end - position)));
}

double ReadDouble(std::wstring_view field)
{
    std::size_t i = 0;
    while (i < field.size() && IsSpace(field[i])) ++i;

    // Collect the longest prefix that is a decimal number into a narrow
    // buffer; from_chars then converts it independently of the C locale.
    std::string number;
    if (i < field.size() && (field[i] == L'+' || field[i] == L'-')) {
        if (field[i] == L'-') number += '-';
        ++i;
    }
    bool digits = false;
    while (i < field.size() && IsDigit(field[i])) { number += char(field[i++]); digits = true; }
    if (i < field.size() && field[i] == L'.') {
        number += '.';
        ++i;
        while (i < field.size() && IsDigit(field[i])) { number += char(field[i++]); digits = true; }
    }
    if (!digits) return 0.0;
    if (i < field.size() && (field[i] == L'e' || field[i] == L'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < field.size() && (field[j] == L'+' || field[j] == L'-')) exponent += char(field[j++]);
        if (j < field.size() && IsDigit(field[j])) {
            while (j < field.size() && IsDigit(field[j])) exponent += char(field[j++]);
            number += exponent;
        }
    }
    double value = 0.0;
    const char* begin = number.data();
    const char* end = number.data() + number.size();
    const auto result = std::from_chars(begin, end, value);
    if (result.ec == std::errc::result_out_of_range) {
        // Like strtod: overflow gives an infinity of the right sign, underflow 0.
        const bool negative = number[0] == '-';
        const std::size_t e = number.find('e');
        const bool bigExponent = e != std::string::npos && number[e + 1] != '-';
        if (bigExponent || e == std::string::npos)
            return negative ? -std::numeric_limits<double>::infinity()
                            : std::numeric_limits<double>::infinity();
        return negative ? -0.0 : 0.0;
    }
    return value;
}

float ReadFloat(std::wstring_view field)
{
    return static_cast<float>(ReadDouble(field));
}

int32_t ReadInt(std::wstring_view field)
{
    std::size_t i = 0;
    while (i < field.size() && IsSpace(field[i])) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == L'+' || field[i] == L'-')) negative = field[i++] == L'-';
    int64_t value = 0;
    const int64_t limit = int64_t(std::numeric_limits<int32_t>::max()) + (negative ? 1 : 0);
    while (i < field.size() && IsDigit(field[i])) {
        value = value * 10 + (field[i++] - L'0');
        if (value > limit) { value = limit; break; }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

uint32_t ReadColor(std::wstring_view field)
{
    const std::size_t x = field.find(L'x');
    if (x != std::wstring_view::npos) field = field.substr(x + 1);
    std::size_t i = 0;
    while (i < field.size() && IsSpace(field[i])) ++i;
    uint64_t value = 0;
    for (; i < field.size(); ++i) {
        const int digit = HexValue(field[i]);
        if (digit < 0) break;
        value = (value << 4) | uint64_t(digit);
        if (value > 0xFFFFFFFFull) return 0xFFFFFFFFu;   // saturates like the C conversion
    }
    return static_cast<uint32_t>(value);
}

std::wstring ToLower(std::wstring_view text)
{
    std::wstring result(text);
    for (wchar_t& c : result) {
        if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
        else if (c >= 0x0410 && c <= 0x042F) c = wchar_t(c + 0x20);          // А..Я
        else if (c >= 0x0400 && c <= 0x040F) c = wchar_t(c + 0x50);          // Ѐ..Џ
        else if (c > 0x7F) c = wchar_t(std::towlower(wint_t(c)));
    }
    return result;
}

bool ReadFlag(std::wstring_view field, std::wstring_view word)
{
    return ToLower(field) == word;
}

std::vector<std::wstring> ReadList(std::wstring_view text, std::size_t first)
{
    // One pass over the text, so long lists stay linear.
    std::vector<std::wstring> list;
    std::size_t position = 0;
    for (std::size_t i = 0;; ++i) {
        std::size_t end = text.find(L';', position);
        const bool last = end == std::wstring_view::npos;
        if (last) end = text.size();
        if (i >= first) {
            const std::wstring_view field = Trim(text.substr(position, end - position));
            if (field.empty()) break;
            list.emplace_back(field);
        }
        if (last) break;
        position = end + 1;
    }
    return list;
}

} // namespace ParameterString
