#pragma once
// Block compression behind a replaceable implementation ("implSnappy").

#include "Wrappers/Base/Wrapper.h"

#include <cstddef>

namespace VORTALEX::compression {

class ICompression : public wrappers::IBaseInterface {
public:
    // Worst-case size of the compressed form of sourceLength bytes.
    virtual std::size_t GetMaxCompressedLength(std::size_t sourceLength) = 0;
    // destinationLength: capacity in, compressed length out.
    virtual void Compress(const char* source, std::size_t sourceLength, char* destination,
                          std::size_t* destinationLength) = 0;
    // Length declared at the start of a compressed stream.
    virtual std::size_t GetUncompressedLength(const char* source, std::size_t sourceLength) = 0;
    // destinationLength: capacity in, uncompressed length out.
    virtual void Uncompress(const char* source, std::size_t sourceLength, char* destination,
                            std::size_t* destinationLength) = 0;
};

// Implementation names in list order; SpecialCompression picks by index.
inline constexpr const wchar_t* kCompressionNames[] = {L"implSnappy"};

class Compression : public wrappers::Wrapper {
public:
    explicit Compression(const wchar_t* implementationName);
    ICompression* operator->() const { return m_compression; }
    ICompression& Get() const { return *m_compression; }

private:
    ICompression* m_compression;
};

template <std::size_t Index>
class SpecialCompressionT : public Compression {
    static_assert(Index < std::size(kCompressionNames));

public:
    SpecialCompressionT() : Compression(kCompressionNames[Index]) {}
};

using SpecialCompression = SpecialCompressionT<0>;

}  // namespace VORTALEX::compression
