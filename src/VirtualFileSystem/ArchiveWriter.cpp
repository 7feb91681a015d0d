#include "VirtualFileSystem/ArchiveWriter.h"

#include "VirtualFileSystem/VFSException.h"

#include <unistd.h>

#include <cstring>

namespace VORTALEX {

ArchiveWriter::ArchiveWriter(std::filesystem::path target, const char* passPhrase)
    : m_target(std::move(target))
{
    m_crypto->SetKeyLength(128);
    m_crypto->SetKey(passPhrase);
    m_temporary = m_target;
    m_temporary += ".part" + std::to_string(::getpid());
    m_file = std::fopen(m_temporary.c_str(), "wb");
    if (m_file == nullptr)
        throw VFSException(VFSException::OpeningFile);
    unsigned char header[archive::kHeaderSize] = {};
    std::memcpy(header, archive::kMagic, sizeof archive::kMagic);
    archive::StoreU32(header + archive::kMagicSize, archive::kEncodingUtf16);
    Write(header, sizeof header);
}

ArchiveWriter::~ArchiveWriter()
{
    Discard();
}

void ArchiveWriter::Discard()
{
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
        std::error_code ignored;
        std::filesystem::remove(m_temporary, ignored);
    }
}

void ArchiveWriter::Write(const void* data, std::size_t size)
{
    if (size != 0 && std::fwrite(data, 1, size, m_file) != size) {
        Discard();  // a partly written entry would corrupt everything after it
        throw VFSException(VFSException::WrittenFile);
    }
    m_position += size;
}

void ArchiveWriter::Add(std::wstring_view name, const void* data, std::size_t size)
{
    if (m_file == nullptr)
        throw VFSException(VFSException::WrittenFile);
    std::string nameBytes = archive::EncodeName(name);
    if (nameBytes.size() / 2 > archive::kMaxNameLength)
        throw VFSException(VFSException::FileNameTooLong);
    if (size > 0xFFFFFFFFull)
        throw VFSException(VFSException::StorageTooLarge);

    m_packed.resize(m_compression->GetMaxCompressedLength(size));
    std::size_t packedSize = m_packed.size();
    try {
        m_compression->Compress(static_cast<const char*>(data), size, m_packed.data(), &packedSize);
    } catch (const std::exception&) {
        throw VFSException(VFSException::CompressFile);
    }
    const std::uint64_t headerLength = archive::kEntryHeaderSize + nameBytes.size();
    const std::uint64_t dataOffset = m_position + headerLength;
    if (dataOffset + packedSize > 0xFFFFFFFFull)
        throw VFSException(VFSException::StorageTooLarge);

    m_crypto->Encryption(nameBytes.data(), nameBytes.size());
    m_crypto->Encryption(m_packed.data(), packedSize);
    unsigned char entry[archive::kEntryHeaderSize];
    archive::StoreU32(entry, static_cast<std::uint32_t>(headerLength));
    archive::StoreU32(entry + 4, static_cast<std::uint32_t>(dataOffset));
    archive::StoreU32(entry + 8, static_cast<std::uint32_t>(size));
    archive::StoreU32(entry + 12, static_cast<std::uint32_t>(packedSize));
    Write(entry, sizeof entry);
    Write(nameBytes.data(), nameBytes.size());
    Write(m_packed.data(), packedSize);
    ++m_count;
}

void ArchiveWriter::Finish()
{
    if (m_file == nullptr)
        throw VFSException(VFSException::WrittenFile);
    unsigned char count[4];
    archive::StoreU32(count, m_count);
    if (std::fseek(m_file, static_cast<long>(archive::kMagicSize + 4), SEEK_SET) != 0 ||
        std::fwrite(count, 1, sizeof count, m_file) != sizeof count || std::fflush(m_file) != 0 ||
        ::fsync(::fileno(m_file)) != 0) {
        Discard();
        throw VFSException(VFSException::WrittenFile);
    }
    std::fclose(m_file);
    m_file = nullptr;
    std::error_code error;
    std::filesystem::rename(m_temporary, m_target, error);
    if (error) {
        std::filesystem::remove(m_temporary, error);
        throw VFSException(VFSException::WrittenFile);
    }
}

}  // namespace VORTALEX
