#pragma once
// Builds archive files byte by byte, so tests can make both well-formed archives and every kind
// of damaged one.

#include "VirtualFileSystem/ArchiveFormat.h"
#include "Wrappers/Compression/Compression.h"
#include "Wrappers/Encryption/Crypto.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace testing_vfs {

struct Entry {
    std::wstring name;
    std::string data;
    // Overrides of the computed fields, for damaged archives.
    std::optional<std::uint32_t> headerLength, dataOffset, unpackedSize, storedSize;
};

class ArchiveBytes {
public:
    std::string magic = std::string("VirtualFileSystem") + std::string(3, '\0');
    std::uint32_t encoding = 2;
    std::optional<std::uint32_t> count;  // default: the number of entries
    std::string passPhrase = "quillmar";
    unsigned keyBits = 128;
    std::vector<Entry> entries;

    ArchiveBytes& Add(std::wstring name, std::string data)
    {
        entries.push_back({std::move(name), std::move(data), {}, {}, {}, {}});
        return *this;
    }

    std::string Build() const
    {
        VORTALEX::encryption::SpecialCrypto crypto;
        crypto->SetKeyLength(keyBits);
        crypto->SetKey(passPhrase.c_str());
        VORTALEX::compression::SpecialCompression compression;
        std::string out = magic.substr(0, 20);
        out.resize(20, '\0');
        Put(out, encoding);
        Put(out, count.value_or(static_cast<std::uint32_t>(entries.size())));
        for (const Entry& e : entries) {
            std::string name = VORTALEX::archive::EncodeName(e.name);
            crypto->Encryption(name.data(), name.size());
            std::string packed(compression->GetMaxCompressedLength(e.data.size()), '\0');
            std::size_t length = packed.size();
            compression->Compress(e.data.data(), e.data.size(), packed.data(), &length);
            packed.resize(length);
            crypto->Encryption(packed.data(), packed.size());
            const auto h = static_cast<std::uint32_t>(16 + name.size());
            Put(out, e.headerLength.value_or(h));
            Put(out, e.dataOffset.value_or(static_cast<std::uint32_t>(out.size() + 12 + name.size())));
            Put(out, e.unpackedSize.value_or(static_cast<std::uint32_t>(e.data.size())));
            Put(out, e.storedSize.value_or(static_cast<std::uint32_t>(packed.size())));
            out += name;
            out += packed;
        }
        return out;
    }

    void Write(const std::filesystem::path& file) const { WriteFile(file, Build()); }

    static void WriteFile(const std::filesystem::path& file, const std::string& bytes)
    {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

private:
    static void Put(std::string& out, std::uint32_t v)
    {
        unsigned char b[4];
        VORTALEX::archive::StoreU32(b, v);
        out.append(reinterpret_cast<const char*>(b), 4);
    }
};

// A fresh folder under the build folder, removed again at the end of the test.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name)
        : m_path(std::filesystem::path(TW_BINARY_DIR) / "test_scratch" / name)
    {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

}  // namespace testing_vfs
