#include "Wrappers/Compression/implementation/implSnappy.h"

#include <snappy.h>

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace VORTALEX::compression {

namespace {
constexpr const char* kErrorCompression = "Error in compression";
constexpr const char* kErrorLength = "Error uncompressed length";
constexpr const char* kErrorUncompression = "Error in uncompression";
}  // namespace

std::size_t implSnappy::GetMaxCompressedLength(std::size_t sourceLength)
{
    return sourceLength + sourceLength / 6 + 32;
}

void implSnappy::Compress(const char* source, std::size_t sourceLength, char* destination,
                          std::size_t* destinationLength)
{
    // The stream's length prefix is a 32-bit varint; larger inputs cannot be described.
    if (destinationLength == nullptr || destination == nullptr ||
        (source == nullptr && sourceLength != 0) ||
        sourceLength > std::numeric_limits<std::uint32_t>::max() ||
        *destinationLength < GetMaxCompressedLength(sourceLength))
        throw std::runtime_error(kErrorCompression);
    static const char empty = 0;
    std::size_t produced = 0;
    snappy::RawCompress(source != nullptr ? source : &empty, sourceLength, destination, &produced);
    *destinationLength = produced;
}

std::size_t implSnappy::GetUncompressedLength(const char* source, std::size_t sourceLength)
{
    std::uint32_t length = 0;
    if (!ParseLength(reinterpret_cast<const unsigned char*>(source), sourceLength, &length, nullptr))
        throw std::runtime_error(kErrorLength);
    return length;
}

void implSnappy::Uncompress(const char* source, std::size_t sourceLength, char* destination,
                            std::size_t* destinationLength)
{
    if (destinationLength == nullptr)
        throw std::runtime_error(kErrorUncompression);
    const std::size_t capacity = *destinationLength;
    const std::size_t declared = GetUncompressedLength(source, sourceLength);
    // The declared length decides how much snappy writes: never trust it past the buffer.
    if (declared > capacity || (destination == nullptr && declared != 0))
        throw std::runtime_error(kErrorUncompression);
    static char scratch = 0;
    if (!snappy::RawUncompress(source, sourceLength, destination != nullptr ? destination : &scratch))
        throw std::runtime_error(kErrorUncompression);
    *destinationLength = declared;
}

bool implSnappy::ParseLength(const unsigned char* data, std::size_t size, std::uint32_t* length,
                             std::size_t* used)
{
    if (data == nullptr)
        return false;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 5; ++i) {
        if (i >= size)
            return false;
        const unsigned char byte = data[i];
        if (i == 4 && byte >= 16)
            return false;
        value |= static_cast<std::uint32_t>(byte & 0x7F) << (7 * i);
        if ((byte & 0x80) == 0) {
            *length = value;
            if (used != nullptr)
                *used = i + 1;
            return true;
        }
    }
    return false;
}

}  // namespace VORTALEX::compression
