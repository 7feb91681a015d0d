#pragma once
// Reader of one storage archive: checks the header, reads the directory interleaved with the
// data, keeps the entries sorted by lower-cased name and reads one entry on demand.

#include "Wrappers/Compression/Compression.h"
#include "Wrappers/Encryption/Crypto.h"
#include "Wrappers/Regex/Regex.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace VORTALEX {

class VirtualFileSystem {
public:
    struct Record {
        VirtualFileSystem* owner = nullptr;
        std::wstring name;  // lower-cased
        std::wstring writtenName;  // as the writer spelled it (for tools that extract)
        std::uint32_t headerLength = 0;
        std::uint32_t dataOffset = 0;
        std::uint32_t unpackedSize = 0;
        std::uint32_t storedSize = 0;
        std::uint32_t order = 0;  // position in the archive, from 0
    };

    VirtualFileSystem();
    ~VirtualFileSystem();
    VirtualFileSystem(const VirtualFileSystem&) = delete;
    VirtualFileSystem& operator=(const VirtualFileSystem&) = delete;

    // Sets the key names and data are deciphered with; null or empty: none.
    void SetPassPhrase(const char* passPhrase);

    // Opens an archive named the engine's way ("folder\file", any case) and reads its directory.
    // Throws VFSException; afterwards the archive finds nothing.
    void Open(std::wstring_view path);
    // The same for a file-system path (no name mapping).
    void OpenFile(const std::filesystem::path& file);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Case-insensitive lookup; the record found is remembered for ReadData.
    const Record* Find(std::wstring_view name);
    // Reads the remembered record into buffer, which must hold exactly its unpacked size.
    void ReadData(void* buffer, std::uint32_t size);

    // The records in name order.
    std::size_t GetRecordCount() const { return m_records.size(); }
    const Record& GetRecord(std::size_t index) const { return *m_records[index]; }
    // Key length the names and data turned out to be enciphered with (128 or 40 bits).
    unsigned int GetKeyLength() const;

    // Lower-casing used for stored names and for lookups alike.
    static std::wstring ToLower(std::wstring_view text);

private:
    void ReadDirectory();
    void ClearRecords();
    void Seek(std::uint64_t offset);
    // Reads at the current position; a short read that isn't empty throws code 7.
    std::size_t Read(void* buffer, std::size_t size);
    std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset);
    bool ChooseKey(const unsigned char* name, std::size_t units, std::uint32_t dataOffset,
                   std::uint32_t storedSize, std::uint32_t unpackedSize);

    int m_fd = -1;
    std::uint64_t m_fileSize = 0;
    std::uint64_t m_position = 0;
    encryption::SpecialCrypto m_crypto;
    compression::SpecialCompression m_compression;
    bool m_hasKey = false;
    // Kept for callers that match names; nothing in the reader uses them.
    regex::SpecialRegex m_regexName;
    regex::SpecialRegex m_regexFolder;
    std::vector<Record*> m_records;
    const Record* m_found = nullptr;
    bool m_namesEnciphered = true;
    std::size_t m_maxNameLength;
    std::vector<unsigned char> m_scratch;
    // Read-ahead while the directory is read (empty otherwise).
    std::vector<unsigned char> m_ahead;
    std::uint64_t m_aheadOffset = 0;
    std::size_t m_aheadSize = 0;
};

}  // namespace VORTALEX
