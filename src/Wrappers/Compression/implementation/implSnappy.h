#pragma once
// snappy block format: a little-endian base-128 length prefix, then the compressed body.

#include "Wrappers/Compression/Compression.h"

#include <cstdint>

namespace VORTALEX::compression {

class implSnappy : public wrappers::PooledImplementation<implSnappy, ICompression> {
public:
    static constexpr const wchar_t* kName = L"implSnappy";
    std::wstring GetName() const override { return kName; }

    std::size_t GetMaxCompressedLength(std::size_t sourceLength) override;
    void Compress(const char* source, std::size_t sourceLength, char* destination,
                  std::size_t* destinationLength) override;
    std::size_t GetUncompressedLength(const char* source, std::size_t sourceLength) override;
    void Uncompress(const char* source, std::size_t sourceLength, char* destination,
                    std::size_t* destinationLength) override;

    // The length prefix: at most five 7-bit groups, least significant first; a fifth byte of
    // 16 or more overflows 32 bits. used (optional) receives the prefix's byte count.
    static bool ParseLength(const unsigned char* data, std::size_t size, std::uint32_t* length,
                            std::size_t* used);
};

}  // namespace VORTALEX::compression
