#include "Render/GUI/HtmlMarkup.h"

#include <cwctype>

namespace html {

namespace {

struct Entity {
    const wchar_t* name;
    const wchar_t* text;
};

constexpr Entity kEntities[] = {
    {L"amp", L"&"},       {L"bull", L"\u2022"}, {L"copy", L"\u00A9"},  {L"euro", L"\u20AC"},
    {L"gt", L">"},        {L"iquest", L"\u00BF"}, {L"lt", L"<<"},      {L"nbsp", L" "},
    {L"para", L"\u00B6"}, {L"pound", L"\u00A3"}, {L"quot", L"\""},     {L"reg", L"\u00AE"},
    {L"trade", L"\u2122"},
};

// Longest entity name looked at; anything longer is not an entity.
constexpr size_t kMaxEntity = 10;

bool NameChar(wchar_t c) { return c > L' ' && c != L'>' && c != L'/' && c != L'=' && c != L'<'; }

} // namespace

std::wstring ExpandEntities(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const wchar_t c = text[i];
        if (c != L'&') {
            out += c;
            ++i;
            continue;
        }
        const size_t semi = text.find(L';', i + 1);
        if (semi == std::wstring_view::npos || semi - i - 1 == 0 || semi - i - 1 > kMaxEntity) {
            out += c;
            ++i;
            continue;
        }
        const std::wstring_view name = text.substr(i + 1, semi - i - 1);
        bool done = false;
        if (name[0] == L'#') {
            // Numeric: decimal or hexadecimal code point.
            const bool hex = name.size() > 1 && (name[1] == L'x' || name[1] == L'X');
            const std::wstring_view digits = name.substr(hex ? 2 : 1);
            uint32_t v = 0;
            bool ok = !digits.empty();
            for (wchar_t d : digits) {
                int n = -1;
                if (d >= L'0' && d <= L'9') n = d - L'0';
                else if (hex && d >= L'a' && d <= L'f') n = d - L'a' + 10;
                else if (hex && d >= L'A' && d <= L'F') n = d - L'A' + 10;
                if (n < 0 || v > 0x10FFFF) {
                    ok = false;
                    break;
                }
                v = v * (hex ? 16 : 10) + (uint32_t)n;
            }
            if (ok && v > 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                if (v == L'<') out += L"<<";
                else out += (wchar_t)v;
                done = true;
            }
        } else {
            for (const Entity& e : kEntities)
                if (name == e.name) {
                    out += e.text;
                    done = true;
                    break;
                }
        }
        if (done) i = semi + 1;
        else {
            out += c;
            ++i;
        }
    }
    return out;
}

const std::wstring* Token::Find(std::wstring_view name) const {
    for (const Attribute& a : attributes)
        if (a.name == name) return &a.value;
    return nullptr;
}

std::vector<Token> Tokenize(std::wstring_view s) {
    std::vector<Token> tokens;
    std::wstring pending;
    auto flush = [&] {
        if (pending.empty()) return;
        Token t;
        t.text = std::move(pending);
        tokens.push_back(std::move(t));
        pending.clear();
    };
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        if (s[i] != L'<') {
            pending += s[i++];
            continue;
        }
        if (i + 1 < n && s[i + 1] == L'<') {
            pending += L'<';
            i += 2;
            continue;
        }
        if (s.substr(i, 4) == L"<!--") {
            const size_t end = s.find(L"-->", i + 4);
            i = end == std::wstring_view::npos ? n : end + 3;
            continue;
        }
        size_t j = i + 1;
        Token tag;
        tag.type = Token::Open;
        if (j < n && s[j] == L'/') {
            tag.type = Token::Close;
            ++j;
        }
        // A tag name starts right after "<" (or "</") with a letter.
        const size_t nameStart = j;
        if (j < n && std::iswalpha(s[j]))
            while (j < n && NameChar(s[j])) ++j;
        if (j == nameStart) {
            // "a < b", "<>" or a "<" at the very end: plain text.
            pending += L'<';
            ++i;
            continue;
        }
        for (size_t k = nameStart; k < j; ++k) tag.text += (wchar_t)std::towlower(s[k]);
        bool closed = false;
        while (j < n) {
            while (j < n && std::iswspace(s[j])) ++j;
            if (j >= n) break;
            if (s[j] == L'>') {
                closed = true;
                ++j;
                break;
            }
            if (s[j] == L'/' || s[j] == L'=' || s[j] == L'<') { // stray characters
                ++j;
                continue;
            }
            Attribute a;
            while (j < n && NameChar(s[j])) a.name += (wchar_t)std::towlower(s[j++]);
            size_t k = j;
            while (k < n && std::iswspace(s[k])) ++k;
            if (k < n && s[k] == L'=') {
                ++k;
                while (k < n && std::iswspace(s[k])) ++k;
                if (k < n && (s[k] == L'"' || s[k] == L'\'')) {
                    const wchar_t quote = s[k];
                    size_t end = s.find(quote, k + 1);
                    if (end == std::wstring_view::npos) {
                        // Never closed: the value ends where the tag does.
                        end = s.find(L'>', k + 1);
                        if (end == std::wstring_view::npos) end = n;
                        a.value = std::wstring(s.substr(k + 1, end - k - 1));
                        j = end;
                    } else {
                        a.value = std::wstring(s.substr(k + 1, end - k - 1));
                        j = end + 1;
                    }
                } else {
                    size_t end = k;
                    while (end < n && !std::iswspace(s[end]) && s[end] != L'>') ++end;
                    a.value = std::wstring(s.substr(k, end - k));
                    j = end;
                }
            }
            if (!a.name.empty()) tag.attributes.push_back(std::move(a));
        }
        if (!closed) {
            // A tag never closed is shown as the text it is.
            pending += std::wstring(s.substr(i));
            break;
        }
        flush();
        tokens.push_back(std::move(tag));
        i = j;
    }
    flush();
    return tokens;
}

} // namespace html
