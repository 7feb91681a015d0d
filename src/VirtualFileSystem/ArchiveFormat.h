#pragma once
// Layout of a storage archive. All integers are unsigned 32-bit little-endian; offsets count
// from the start of the file.
//
//   header (28 bytes): magic "VirtualFileSystem" padded with zeros to 20 bytes,
//                      name encoding (2 = UTF-16LE names), entry count
//   entry (repeated):  header length H = 16 + name bytes, absolute data offset (right after the
//                      name), unpacked size, stored size, name (UTF-16LE, one RC4 message),
//                      data (snappy stream, one RC4 message)

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace VORTALEX::archive {

inline constexpr char kMagic[] = "VirtualFileSystem";
inline constexpr std::size_t kMagicSize = 20;
inline constexpr std::size_t kHeaderSize = 28;
inline constexpr std::size_t kEntryHeaderSize = 16;
inline constexpr std::uint32_t kEncodingMultibyte = 1;
inline constexpr std::uint32_t kEncodingUtf16 = 2;
inline constexpr std::size_t kMaxNameLength = 260;
// The pass phrase every archive of this system is enciphered with.
inline constexpr char kPassPhrase[] = "quillmar";
// A snappy element never yields more than 64 bytes from 3 stored bytes, so no valid stream
// expands by more than this factor; larger claims are refused before anything is allocated.
inline constexpr std::uint64_t kMaxExpansion = 22;

inline std::uint32_t LoadU32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void StoreU32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace VORTALEX::archive

#include <string>
#include <string_view>

namespace VORTALEX::archive {

// UTF-16LE bytes of a name (characters above U+FFFF become surrogate pairs).
std::string EncodeName(std::wstring_view name);
// A name from count UTF-16LE code units; surrogate pairs are joined, lone surrogates kept.
std::wstring DecodeName(const unsigned char* bytes, std::size_t count);
// Whether count UTF-16LE code units read as a plausible name: no control characters, no
// unpaired surrogates. Used to tell the right key from a wrong one.
bool IsPlausibleName(const unsigned char* bytes, std::size_t count);

}  // namespace VORTALEX::archive
