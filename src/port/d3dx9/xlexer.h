#pragma once
// The tokens of .x files in both encodings: the text one (names, numbers,
// strings, GUIDs, punctuation, comments) and the binary one (token words,
// with integer and float lists). Compressed files reach the lexer already
// unpacked. Internal to the .x reader.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace d3dx::xfile::detail {

struct ParseError {};
[[noreturn]] inline void fail() { throw ParseError{}; }

struct Guid {
    uint8_t bytes[16] = {};
    bool operator==(const Guid& o) const { return std::memcmp(bytes, o.bytes, 16) == 0; }
    bool operator<(const Guid& o) const { return std::memcmp(bytes, o.bytes, 16) < 0; }
};

inline bool equalsNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = (char)(x - 32);
        if (y >= 'a' && y <= 'z') y = (char)(y - 32);
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

// ---------------------------------------------------------------------------
// Tokens of both encodings
// ---------------------------------------------------------------------------
enum class Tok {
    End, Name, String, Number, Guid, OBrace, CBrace, OBracket, CBracket, OParen, CParen, OAngle, CAngle, Comma,
    Semicolon, Dot
};

struct Token {
    Tok kind = Tok::End;
    std::string text; // names and strings; binary keywords carry their word
    double number = 0.0;
    Guid guid;
};

class Lexer {
public:
    Lexer(const uint8_t* data, size_t size, bool binary, bool doubles)
        : p_(data), end_(data + size), binary_(binary), doubles_(doubles) {}

    Token next() {
        if (peeked_) {
            peeked_ = false;
            return std::move(peek_);
        }
        return binary_ ? nextBinary() : nextText();
    }
    const Token& peek() {
        if (!peeked_) {
            peek_ = binary_ ? nextBinary() : nextText();
            peeked_ = true;
        }
        return peek_;
    }
    // Next token that is not a separator (data values ignore them).
    Token nextData() {
        for (;;) {
            Token t = next();
            if (t.kind != Tok::Comma && t.kind != Tok::Semicolon) return t;
        }
    }
    // The next data value as a number; most of a file is numbers, so the
    // common spellings skip building tokens.
    double number() {
        if (!peeked_) {
            if (binary_ && listLeft_ > 0) return nextBinary().number;
            if (!binary_) {
                while (p_ < end_ && (isSpace(*p_) || *p_ == ',' || *p_ == ';')) ++p_;
                const uint8_t* start = p_;
                if (p_ < end_ && (isDigit(*p_) || *p_ == '-' || *p_ == '.')) {
                    while (p_ < end_ && isRunChar(*p_)) ++p_;
                    double v;
                    const auto [stop, ec] = std::from_chars(reinterpret_cast<const char*>(start),
                                                            reinterpret_cast<const char*>(p_), v);
                    if (ec == std::errc() && stop == reinterpret_cast<const char*>(p_) &&
                        (isDigit(*start) || start + 1 < p_)) // "-" and "." alone are no numbers
                        return v;
                    p_ = start; // an unusual spelling: the full lexer decides
                }
            }
        }
        const Token t = nextData();
        if (t.kind != Tok::Number) fail();
        return t.number;
    }
    // Upper bound of the values still in the file: no count may exceed it.
    size_t remainingValues() const {
        const size_t bytes = (size_t)(end_ - p_);
        return binary_ ? listLeft_ + bytes / 4 + 1 : bytes + 1;
    }

private:
    // -- text ---------------------------------------------------------------
    static bool isSpace(uint8_t c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == 0;
    }
    static bool isAlpha(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
    static bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }
    static bool isRunChar(uint8_t c) {
        return isAlpha(c) || isDigit(c) || c == '-' || c == '+' || c == '.' || c == '#';
    }
    static int hexValue(uint8_t c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    Token punct(Tok kind) {
        ++p_;
        Token t;
        t.kind = kind;
        return t;
    }

    // "<3D82AB44-62DA-11CF-AB39-0020AF71E433>": stored as the binary form lays
    // it out (a little-endian DWORD, two WORDs, then eight bytes).
    Token textGuid() {
        ++p_;
        uint8_t digits[32];
        int n = 0;
        int groups[5] = {0, 0, 0, 0, 0};
        int group = 0;
        while (p_ < end_ && *p_ != '>') {
            const uint8_t c = *p_++;
            if (c == '-') {
                if (++group > 4) fail();
                continue;
            }
            if (isSpace(c)) continue;
            const int h = hexValue(c);
            if (h < 0 || n >= 32) fail();
            digits[n++] = (uint8_t)h;
            ++groups[group];
        }
        if (p_ >= end_ || n != 32 || group != 4 || groups[0] != 8 || groups[1] != 4 || groups[2] != 4 ||
            groups[3] != 4)
            fail();
        ++p_;
        Token t;
        t.kind = Tok::Guid;
        auto hex = [&](int from, int count) {
            uint32_t v = 0;
            for (int i = 0; i < count; ++i) v = v << 4 | digits[from + i];
            return v;
        };
        const uint32_t d1 = hex(0, 8);
        const uint16_t d2 = (uint16_t)hex(8, 4), d3 = (uint16_t)hex(12, 4);
        std::memcpy(t.guid.bytes, &d1, 4);
        std::memcpy(t.guid.bytes + 4, &d2, 2);
        std::memcpy(t.guid.bytes + 6, &d3, 2);
        for (int i = 0; i < 8; ++i) t.guid.bytes[8 + i] = (uint8_t)hex(16 + 2 * i, 2);
        return t;
    }

    // A run of name and number characters: a number when all of it reads as
    // one (MSVC's "1.#QNAN0" and "-1.#IND00" included), else a name.
    Token textRun() {
        const char* s = reinterpret_cast<const char*>(p_);
        while (p_ < end_ && isRunChar(*p_)) ++p_;
        const char* e = reinterpret_cast<const char*>(p_);
        Token t;
        const char* first = (*s == '+') ? s + 1 : s;
        double v = 0.0;
        // Numbers start with a digit or a dot ("inf" and "nan" are names here).
        const bool numeric = first < e && (isDigit((uint8_t)*first) || *first == '.' ||
                                           (*first == '-' && first + 1 < e && (isDigit((uint8_t)first[1]) || first[1] == '.')));
        const auto [stop, ec] = numeric ? std::from_chars(first, e, v) : std::from_chars_result{first, std::errc::invalid_argument};
        if (stop != first && (ec == std::errc() || ec == std::errc::result_out_of_range)) {
            if (ec == std::errc::result_out_of_range) v = std::strtod(std::string(first, e).c_str(), nullptr);
            if (stop == e) {
                t.kind = Tok::Number;
                t.number = v;
                return t;
            }
            if (*stop == '#') {
                const std::string tail(stop + 1, e);
                const bool negative = *first == '-';
                if (equalsNoCase(tail.substr(0, 3), "INF")) {
                    t.kind = Tok::Number;
                    t.number = negative ? -HUGE_VAL : HUGE_VAL;
                    return t;
                }
                if (equalsNoCase(tail.substr(0, 4), "QNAN") || equalsNoCase(tail.substr(0, 4), "SNAN") ||
                    equalsNoCase(tail.substr(0, 3), "IND")) {
                    t.kind = Tok::Number;
                    t.number = std::nan("");
                    return t;
                }
            }
        }
        // Names may start with a digit ("3DSMaxRoot"), never with a sign or dot.
        if (!isAlpha((uint8_t)*s) && !isDigit((uint8_t)*s)) fail();
        t.kind = Tok::Name;
        t.text.assign(s, e);
        return t;
    }

    Token nextText() {
        for (;;) {
            while (p_ < end_ && isSpace(*p_)) ++p_;
            if (p_ >= end_) return {};
            if (*p_ == '#' || (*p_ == '/' && p_ + 1 < end_ && p_[1] == '/')) {
                while (p_ < end_ && *p_ != '\n' && *p_ != '\r') ++p_;
                continue;
            }
            break;
        }
        const uint8_t c = *p_;
        switch (c) {
        case '{': return punct(Tok::OBrace);
        case '}': return punct(Tok::CBrace);
        case '[': return punct(Tok::OBracket);
        case ']': return punct(Tok::CBracket);
        case '(': return punct(Tok::OParen);
        case ')': return punct(Tok::CParen);
        case ',': return punct(Tok::Comma);
        case ';': return punct(Tok::Semicolon);
        case '<': return textGuid();
        case '"': {
            const uint8_t* s = ++p_;
            while (p_ < end_ && *p_ != '"') ++p_;
            if (p_ >= end_) fail();
            Token t;
            t.kind = Tok::String;
            t.text.assign(reinterpret_cast<const char*>(s), (size_t)(p_ - s));
            ++p_;
            return t;
        }
        case '.':
            if (p_ + 1 < end_ && isDigit(p_[1])) return textRun();
            return punct(Tok::Dot);
        default:
            if (c != '#' && isRunChar(c)) return textRun();
            fail();
        }
    }

    // -- binary -------------------------------------------------------------
    uint32_t u32() {
        if (end_ - p_ < 4) fail();
        uint32_t v;
        std::memcpy(&v, p_, 4);
        p_ += 4;
        return v;
    }
    uint16_t u16() {
        if (end_ - p_ < 2) fail();
        uint16_t v;
        std::memcpy(&v, p_, 2);
        p_ += 2;
        return v;
    }

    static const char* keyword(uint16_t token) {
        switch (token) {
        case 31: return "template";
        case 40: return "WORD";
        case 41: return "DWORD";
        case 42: return "FLOAT";
        case 43: return "DOUBLE";
        case 44: return "CHAR";
        case 45: return "UCHAR";
        case 46: return "SWORD";
        case 47: return "SDWORD";
        case 48: return "VOID";
        case 49: return "STRING"; // TOKEN_LPSTR
        case 50: return "UNICODE";
        case 51: return "CSTRING";
        case 52: return "array";
        default: return nullptr;
        }
    }

    Token nextBinary() {
        Token t;
        if (listLeft_ > 0) {
            --listLeft_;
            t.kind = Tok::Number;
            if (!listFloat_) {
                t.number = u32();
            } else if (doubles_) {
                if (end_ - p_ < 8) fail();
                double d;
                std::memcpy(&d, p_, 8);
                p_ += 8;
                t.number = d;
            } else {
                float f;
                const uint32_t bits = u32();
                std::memcpy(&f, &bits, 4);
                t.number = f;
            }
            return t;
        }
        for (;;) {
            if (p_ >= end_) return {};
            // Padding some writers leave at the end of the file.
            if (end_ - p_ < 2) {
                p_ = end_;
                return {};
            }
            const uint16_t token = u16();
            switch (token) {
            case 1: { // TOKEN_NAME: count, bytes
                const uint32_t n = u32();
                if (n > (size_t)(end_ - p_)) fail();
                t.kind = Tok::Name;
                t.text.assign(reinterpret_cast<const char*>(p_), n);
                p_ += n;
                return t;
            }
            case 2: { // TOKEN_STRING: count, bytes, then a separator token
                const uint32_t n = u32();
                if (n > (size_t)(end_ - p_)) fail();
                t.kind = Tok::String;
                t.text.assign(reinterpret_cast<const char*>(p_), n);
                p_ += n;
                // Strings may carry a terminating NUL inside their count.
                while (!t.text.empty() && t.text.back() == '\0') t.text.pop_back();
                if (end_ - p_ >= 2) {
                    uint16_t sep;
                    std::memcpy(&sep, p_, 2);
                    if (sep == 19 || sep == 20) {
                        p_ += 2;
                        // Writers that store the separator as a DWORD leave a zero
                        // word, which is no token.
                        if (end_ - p_ >= 2 && p_[0] == 0 && p_[1] == 0) p_ += 2;
                    }
                }
                return t;
            }
            case 3: // TOKEN_INTEGER
                t.kind = Tok::Number;
                t.number = u32();
                return t;
            case 5: // TOKEN_GUID: DWORD, WORD, WORD, 8 bytes
                if (end_ - p_ < 16) fail();
                std::memcpy(t.guid.bytes, p_, 16);
                p_ += 16;
                t.kind = Tok::Guid;
                return t;
            case 6:   // TOKEN_INTEGER_LIST
            case 7: { // TOKEN_FLOAT_LIST
                const uint32_t n = u32();
                const size_t each = (token == 7 && doubles_) ? 8 : 4;
                if ((uint64_t)n * each > (uint64_t)(end_ - p_)) fail();
                listFloat_ = token == 7;
                listLeft_ = n;
                if (n == 0) continue;
                return nextBinary();
            }
            case 10: t.kind = Tok::OBrace; return t;
            case 11: t.kind = Tok::CBrace; return t;
            case 12: t.kind = Tok::OParen; return t;
            case 13: t.kind = Tok::CParen; return t;
            case 14: t.kind = Tok::OBracket; return t;
            case 15: t.kind = Tok::CBracket; return t;
            case 16: t.kind = Tok::OAngle; return t;
            case 17: t.kind = Tok::CAngle; return t;
            case 18: t.kind = Tok::Dot; return t;
            case 19: t.kind = Tok::Comma; return t;
            case 20: t.kind = Tok::Semicolon; return t;
            default:
                if (const char* word = keyword(token)) {
                    t.kind = Tok::Name;
                    t.text = word;
                    return t;
                }
                if (token == 0 && p_ >= end_) return {};
                fail();
            }
        }
    }

    const uint8_t* p_;
    const uint8_t* end_;
    bool binary_, doubles_;
    uint32_t listLeft_ = 0;
    bool listFloat_ = false;
    bool peeked_ = false;
    Token peek_;
};

} // namespace d3dx::xfile::detail
