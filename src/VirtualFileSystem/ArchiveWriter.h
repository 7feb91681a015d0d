#pragma once
// Writes storage archives the reader opens: UTF-16 names, every name and data block snappy-
// compressed (data only) and enciphered as one RC4 message with the 128-bit key.

#include "VirtualFileSystem/ArchiveFormat.h"
#include "Wrappers/Compression/Compression.h"
#include "Wrappers/Encryption/Crypto.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace VORTALEX {

class ArchiveWriter {
public:
    // Starts writing into a temporary file beside target; Finish puts it in place, so a failed
    // run never leaves a half-written archive under the target's name.
    explicit ArchiveWriter(std::filesystem::path target,
                           const char* passPhrase = archive::kPassPhrase);
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Appends one entry. Names longer than 260 characters throw VFSException code 3; an archive
    // growing past 4 GiB throws code 12; write failures code 6.
    void Add(std::wstring_view name, const void* data, std::size_t size);
    // Writes the entry count and moves the archive into place.
    void Finish();

    std::uint32_t GetCount() const { return m_count; }

private:
    void Write(const void* data, std::size_t size);
    void Discard();

    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
    std::FILE* m_file = nullptr;
    encryption::SpecialCrypto m_crypto;
    compression::SpecialCompression m_compression;
    std::uint64_t m_position = 0;
    std::uint32_t m_count = 0;
    std::vector<char> m_packed;
};

}  // namespace VORTALEX
