#include "VirtualFileSystem/VirtualFileSystem.h"

#include "Common/FilePath.h"
#include "Common/memory_pool.h"
#include "VirtualFileSystem/ArchiveFormat.h"
#include "VirtualFileSystem/VFSException.h"
#include "Wrappers/Compression/implementation/implSnappy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwctype>
#include <limits>

namespace VORTALEX {

namespace {

using RecordPool = memory_pool<VirtualFileSystem::Record, 32>;

VirtualFileSystem::Record* NewRecord() { return RecordPool::Instance().Allocate(); }
void FreeRecord(VirtualFileSystem::Record* record) { RecordPool::Instance().Release(record); }

bool NameLess(const VirtualFileSystem::Record* a, const VirtualFileSystem::Record* b)
{
    return a->name < b->name;
}

}  // namespace

VirtualFileSystem::VirtualFileSystem() : m_maxNameLength(archive::kMaxNameLength) {}

VirtualFileSystem::~VirtualFileSystem()
{
    Close();
}

void VirtualFileSystem::SetPassPhrase(const char* passPhrase)
{
    m_crypto->SetKeyLength(128);
    m_crypto->SetKey(passPhrase);
    m_hasKey = passPhrase != nullptr && *passPhrase != '\0';
}

unsigned int VirtualFileSystem::GetKeyLength() const
{
    return m_crypto->GetKeyLength();
}

void VirtualFileSystem::Close()
{
    ClearRecords();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_fileSize = 0;
    m_position = 0;
}

void VirtualFileSystem::ClearRecords()
{
    m_found = nullptr;
    for (Record* record : m_records)
        FreeRecord(record);
    m_records.clear();
}

void VirtualFileSystem::Open(std::wstring_view path)
{
    OpenFile(MapPath(path));
}

void VirtualFileSystem::OpenFile(const std::filesystem::path& file)
{
    Close();
    m_fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_fd < 0)
        throw VFSException(VFSException::OpeningFile);
    m_fileSize = static_cast<std::uint64_t>(st.st_size);
    try {
        ReadDirectory();
    } catch (...) {
        // A refused archive finds nothing; its file stays open until closed or reopened.
        ClearRecords();
        throw;
    }
}

void VirtualFileSystem::Seek(std::uint64_t offset)
{
    // Reads are positioned (pread), so a seek only moves the position; it fails where no file
    // offset could reach.
    if (m_fd < 0 || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        throw VFSException(VFSException::SetFilePointer);
    m_position = offset;
}

std::size_t VirtualFileSystem::ReadAt(void* buffer, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < size) {
        const ssize_t got = ::pread(m_fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw VFSException(VFSException::ReadingFile);
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::size_t VirtualFileSystem::Read(void* buffer, std::size_t size)
{
    if (m_fd < 0)
        throw VFSException(VFSException::ReadingFile);
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    if (!m_ahead.empty()) {
        // Directory entries are small and sit between the data blocks: one read-ahead covers
        // many of them instead of two system calls per entry.
        while (done < size) {
            if (m_position >= m_aheadOffset && m_position < m_aheadOffset + m_aheadSize) {
                const std::size_t at = static_cast<std::size_t>(m_position - m_aheadOffset);
                const std::size_t n = std::min(size - done, m_aheadSize - at);
                std::memcpy(bytes + done, m_ahead.data() + at, n);
                done += n;
                m_position += n;
                continue;
            }
            if (size - done >= m_ahead.size())
                break;
            m_aheadOffset = m_position;
            m_aheadSize = ReadAt(m_ahead.data(), m_ahead.size(), m_position);
            if (m_aheadSize == 0)
                break;
        }
    }
    const std::size_t direct = ReadAt(bytes + done, size - done, m_position);
    done += direct;
    m_position += direct;
    if (done != 0 && done != size)
        throw VFSException(VFSException::ReadingFile);
    return done;
}

void VirtualFileSystem::ReadDirectory()
{
    struct ReadAhead {
        VirtualFileSystem& vfs;
        explicit ReadAhead(VirtualFileSystem& v) : vfs(v)
        {
            vfs.m_ahead.resize(64 * 1024);
            vfs.m_aheadSize = 0;
        }
        ~ReadAhead()
        {
            vfs.m_ahead.clear();
            vfs.m_ahead.shrink_to_fit();
            vfs.m_aheadSize = 0;
        }
    } readAhead(*this);

    if (m_hasKey)
        m_crypto->SetKeyLength(128);
    Seek(0);
    unsigned char header[archive::kHeaderSize] = {};
    Read(header, sizeof header);
    if (std::memcmp(header, archive::kMagic, sizeof archive::kMagic) != 0)
        throw VFSException(VFSException::NotValidStorage);
    if (archive::LoadU32(header + archive::kMagicSize) == archive::kEncodingMultibyte)
        throw VFSException(VFSException::MultibyteStorage);
    const std::uint32_t count = archive::LoadU32(header + archive::kMagicSize + 4);

    // Every entry takes at least its 16-byte header, so the file bounds what a count may claim.
    const std::uint64_t possible =
        m_fileSize > archive::kHeaderSize ? (m_fileSize - archive::kHeaderSize) / archive::kEntryHeaderSize : 0;
    m_records.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, possible)));

    bool keyChosen = !m_hasKey;
    unsigned char entry[archive::kEntryHeaderSize];
    unsigned char name[2 * archive::kMaxNameLength];
    for (std::uint32_t order = 0;; ++order) {
        if (Read(entry, sizeof entry) == 0)
            break;
        const std::uint32_t headerLength = archive::LoadU32(entry);
        const std::uint32_t dataOffset = archive::LoadU32(entry + 4);
        const std::uint32_t unpackedSize = archive::LoadU32(entry + 8);
        const std::uint32_t storedSize = archive::LoadU32(entry + 12);
        if (headerLength < archive::kEntryHeaderSize)
            break;
        const std::size_t units = (headerLength - archive::kEntryHeaderSize) / 2;
        if (units > m_maxNameLength)
            break;
        Read(name, 2 * units);
        if (m_position != dataOffset)
            break;
        // Data that runs past the end of the file, or that no snappy stream could expand to,
        // ends the directory here instead of costing a read or an allocation later.
        if (static_cast<std::uint64_t>(dataOffset) + storedSize > m_fileSize ||
            static_cast<std::uint64_t>(unpackedSize) >
                static_cast<std::uint64_t>(storedSize) * archive::kMaxExpansion)
            break;
        if (!keyChosen) {
            keyChosen = true;
            if (!ChooseKey(name, units, dataOffset, storedSize, unpackedSize))
                m_crypto->SetKeyLength(128);
        }
        if (m_namesEnciphered)
            m_crypto->Decryption(name, 2 * units);
        Seek(static_cast<std::uint64_t>(dataOffset) + storedSize);

        Record* record = NewRecord();
        record->owner = this;
        record->writtenName = archive::DecodeName(name, units);
        record->name = ToLower(record->writtenName);
        record->headerLength = headerLength;
        record->dataOffset = dataOffset;
        record->unpackedSize = unpackedSize;
        record->storedSize = storedSize;
        record->order = order;
        m_records.push_back(record);
    }
    // Equal names keep their archive order, as insertion behind equal names would.
    std::stable_sort(m_records.begin(), m_records.end(), NameLess);
    if (m_records.size() != count)
        throw VFSException(VFSException::NotValidStorage);
}

bool VirtualFileSystem::ChooseKey(const unsigned char* name, std::size_t units,
                                  std::uint32_t dataOffset, std::uint32_t storedSize,
                                  std::uint32_t unpackedSize)
{
    unsigned char prefix[5] = {};
    const std::size_t prefixSize = std::min<std::size_t>(storedSize, sizeof prefix);
    const std::uint64_t resume = m_position;
    Seek(dataOffset);
    Read(prefix, prefixSize);
    Seek(resume);

    std::vector<unsigned char> trial(2 * units);
    for (unsigned int bits : {128u, 40u}) {
        m_crypto->SetKeyLength(bits);
        std::copy(name, name + 2 * units, trial.begin());
        if (m_namesEnciphered)
            m_crypto->Decryption(trial.data(), trial.size());
        if (!archive::IsPlausibleName(trial.data(), units))
            continue;
        unsigned char data[sizeof prefix];
        std::copy(prefix, prefix + prefixSize, data);
        m_crypto->Decryption(data, prefixSize);
        std::uint32_t declared = 0;
        if (compression::implSnappy::ParseLength(data, prefixSize, &declared, nullptr) &&
            declared == unpackedSize)
            return true;
    }
    return false;
}

const VirtualFileSystem::Record* VirtualFileSystem::Find(std::wstring_view name)
{
    const std::wstring key = ToLower(name);
    auto it = std::lower_bound(m_records.begin(), m_records.end(), key,
                               [](const Record* r, const std::wstring& k) { return r->name < k; });
    m_found = (it != m_records.end() && (*it)->name == key) ? *it : nullptr;
    return m_found;
}

void VirtualFileSystem::ReadData(void* buffer, std::uint32_t size)
{
    if (m_found == nullptr)
        throw VFSException(VFSException::QueryFileNotExist);
    const Record& record = *m_found;
    if (record.owner == nullptr || m_fd < 0)
        throw VFSException(VFSException::ReadingFile);
    if (record.unpackedSize != size)
        throw VFSException(VFSException::BufferTooSmall);
    Seek(record.dataOffset);
    m_scratch.resize(record.storedSize);
    if (Read(m_scratch.data(), m_scratch.size()) != m_scratch.size())
        throw VFSException(VFSException::ReadingFile);
    m_crypto->Decryption(m_scratch.data(), m_scratch.size());
    std::size_t produced = size;
    m_compression->Uncompress(reinterpret_cast<const char*>(m_scratch.data()), m_scratch.size(),
                              static_cast<char*>(buffer), &produced);
    // A stream shorter than the entry claims would leave the rest of the buffer undefined.
    if (produced != size)
        throw VFSException(VFSException::UncompressFile);
}

std::wstring VirtualFileSystem::ToLower(std::wstring_view text)
{
    std::wstring out(text);
    for (wchar_t& c : out) {
        const wchar_t lower = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
        if (lower != c) {
            c = lower;
        } else if (c >= 0x0410 && c <= 0x042F) {
            // Cyrillic folds even when the process runs in the "C" locale, so names made on a
            // Russian system are found whatever locale this one runs in.
            c = static_cast<wchar_t>(c + 0x20);
        } else if (c >= 0x0400 && c <= 0x040F) {
            c = static_cast<wchar_t>(c + 0x50);
        }
    }
    return out;
}

}  // namespace VORTALEX
