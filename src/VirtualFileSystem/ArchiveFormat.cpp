#include "VirtualFileSystem/ArchiveFormat.h"

namespace VORTALEX::archive {

namespace {
unsigned Unit(const unsigned char* bytes, std::size_t i)
{
    return static_cast<unsigned>(bytes[2 * i]) | static_cast<unsigned>(bytes[2 * i + 1]) << 8;
}
bool IsHigh(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }
}  // namespace

std::string EncodeName(std::wstring_view name)
{
    std::string out;
    out.reserve(name.size() * 2);
    auto put = [&out](unsigned u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (wchar_t wc : name) {
        const auto c = static_cast<std::uint32_t>(wc);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c > 0xFFFF ? 0xFFFD : c);
        }
    }
    return out;
}

std::wstring DecodeName(const unsigned char* bytes, std::size_t count)
{
    std::wstring out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned u = Unit(bytes, i);
        if (IsHigh(u) && i + 1 < count && IsLow(Unit(bytes, i + 1))) {
            const unsigned low = Unit(bytes, ++i);
            out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
        } else {
            out.push_back(static_cast<wchar_t>(u));
        }
    }
    return out;
}

bool IsPlausibleName(const unsigned char* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned u = Unit(bytes, i);
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            return false;
        if (IsHigh(u)) {
            if (i + 1 >= count || !IsLow(Unit(bytes, i + 1)))
                return false;
            ++i;
        } else if (IsLow(u)) {
            return false;
        }
    }
    return true;
}

}  // namespace VORTALEX::archive
