#include "Common/XmlText.h"

#include <climits>
#include <cwctype>

#include "Common/CodePage.h"

namespace VORTALEX::xml {

std::string DeclaredEncoding(std::string_view bytes)
{
    std::size_t start = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    if (bytes.compare(start, 5, "<?xml") != 0) return std::string();
    const std::size_t end = bytes.find("?>", start);
    if (end == std::string_view::npos) return std::string();
    const std::string_view declaration = bytes.substr(start, end - start);
    const std::size_t key = declaration.find("encoding");
    if (key == std::string_view::npos) return std::string();
    const std::size_t quote = declaration.find_first_of("\"'", key);
    if (quote == std::string_view::npos) return std::string();
    const std::size_t close = declaration.find(declaration[quote], quote + 1);
    if (close == std::string_view::npos) return std::string();
    std::string name(declaration.substr(quote + 1, close - quote - 1));
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

std::string ToUtf8Document(std::string_view bytes)
{
    const std::string encoding = DeclaredEncoding(bytes);
    const bool cp1251 = encoding == "windows-1251" || encoding == "cp1251" || encoding == "cp-1251";
    if (cp1251 || (encoding != "utf-8" && !codepage::IsValidUtf8(bytes)))
        return codepage::ToUtf8(codepage::FromCp1251(bytes));
    return std::string(bytes);
}

int ElementNesting(std::string_view text, int limit, std::size_t& where)
{
    int depth = 0;
    int deepest = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto skipPast = [&](std::string_view end, std::size_t from) {
        const std::size_t at = text.find(end, from);
        return at == std::string_view::npos ? n : at + end.size();
    };
    while (i < n) {
        if (text[i] != '<') {
            ++i;
            continue;
        }
        if (text.compare(i, 4, "<!--") == 0) {
            i = skipPast("-->", i + 4);
        } else if (text.compare(i, 9, "<![CDATA[") == 0) {
            i = skipPast("]]>", i + 9);
        } else if (i + 1 < n && (text[i + 1] == '?' || text[i + 1] == '!')) {
            i = skipPast(">", i + 2);
        } else if (i + 1 < n && text[i + 1] == '/') {
            if (depth > 0) --depth;
            i = skipPast(">", i + 2);
        } else {
            // A start tag: skip to its end, minding quoted values.
            std::size_t j = i + 1;
            char quote = 0;
            while (j < n) {
                const char c = text[j];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
                ++j;
            }
            const bool empty = j < n && j > i + 1 && text[j - 1] == '/';
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

int ValueToInt(std::wstring_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace VORTALEX::xml
