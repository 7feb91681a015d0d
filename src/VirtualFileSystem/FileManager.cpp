#include "VirtualFileSystem/FileManager.h"

#include "Common/FilePath.h"
#include "Common/Environment.h"
#include "Common/memory_pool.h"
#include "Logger/Logger.h"
#include "VirtualFileSystem/ArchiveFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <stdexcept>

namespace VORTALEX {

namespace {

using StoragePool = memory_pool<Storage, 32>;

Storage* NewStorage(std::wstring folder, bool archive)
{
    return StoragePool::Instance().Allocate(std::move(folder), archive);
}
void FreeStorage(Storage* storage) { StoragePool::Instance().Release(storage); }

std::wstring ProgramFolder()
{
    return PathToProgram().GetText();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Storage

Storage::Storage(std::wstring folder, bool archive)
    : m_folder(std::move(folder)), m_archive(archive), m_programFolder(ProgramFolder())
{
}

Storage::~Storage()
{
    ClosePlainFile();
}

void Storage::ClosePlainFile()
{
    if (m_plainFd >= 0)
        ::close(m_plainFd);
    m_plainFd = -1;
}

std::wstring Storage::FolderOf(std::wstring_view name, const std::wstring& programFolder)
{
    std::wstring folder(name);
    if (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    std::error_code error;
    if (!std::filesystem::is_directory(MapPath(programFolder + L"\\" + folder), error)) {
        const auto slash = folder.rfind(L'\\');
        folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
    }
    return folder.empty() ? std::wstring() : L"\\" + folder;
}

std::uint32_t Storage::Find(const std::wstring& name)
{
    ClosePlainFile();
    m_foundEmpty = false;
    if (!m_archive) {
        const auto path = MapPath(m_programFolder + m_folder + L"\\" + name);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st {};
            // Only regular files count: a folder of that name is no file to read.
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
                m_plainFd = fd;
                m_foundEmpty = st.st_size == 0;
                if (static_cast<std::uint64_t>(st.st_size) > 0xFFFFFFFFull)
                    return 0;
                return static_cast<std::uint32_t>(st.st_size);
            }
            ::close(fd);
        }
    }
    const VirtualFileSystem::Record* record = m_vfs.Find(name);
    m_foundEmpty = record != nullptr && record->unpackedSize == 0;
    return record != nullptr ? record->unpackedSize : 0;
}

void Storage::GetDataFile(void* buffer, std::uint32_t size)
{
    if (m_plainFd >= 0) {
        std::size_t done = 0;
        auto* bytes = static_cast<unsigned char*>(buffer);
        bool failed = false;
        while (done < size) {
            const ssize_t got = ::read(m_plainFd, bytes + done, size - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                failed = true;
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        ClosePlainFile();
        if (failed)
            throw std::runtime_error("FileManager::GetDataFile(): error read file.");
        return;
    }
    try {
        m_vfs.ReadData(buffer, size);
    } catch (const std::exception& e) {
        LOG_ERROR(e.what());
    }
}

// ---------------------------------------------------------------------------------------------
// FileManager

FileManager::FileManager() : m_programFolder(ProgramFolder())
{
    // The pools must outlive a manager that is itself a function-local static.
    StoragePool::Instance();
    memory_pool<VirtualFileSystem::Record, 32>::Instance();
    m_storages.push_back(NewStorage(std::wstring(), false));
}

FileManager::~FileManager()
{
    CloseStorages();
}

FileManager& FileManager::Instance()
{
    static FileManager manager;
    return manager;
}

void FileManager::CloseStorages()
{
    m_buffer.reset();
    m_capacity = 0;
    for (Storage* storage : m_storages)
        FreeStorage(storage);
    m_storages.clear();
}

void FileManager::AddStorage(const wchar_t* name)
{
    if (name == nullptr || *name == L'\0')
        return;
    const std::wstring text(name);
    Storage* storage = NewStorage(Storage::FolderOf(text, m_programFolder), true);
    m_storages.push_back(storage);
    try {
        storage->GetVirtualFileSystem().SetPassPhrase(archive::kPassPhrase);
        storage->GetVirtualFileSystem().Open(m_programFolder + L"\\" + text);
    } catch (const std::exception& e) {
        LOG_WARNING(e.what() << L": " << text);
    }
}

const unsigned char* FileManager::GetDataFile(const wchar_t* name, unsigned int* size)
{
    const std::wstring text(name != nullptr ? name : L"");
    std::uint32_t found = 0;
    Storage* source = nullptr;
    bool empty = false;
    if (!text.empty()) {
        for (auto it = m_storages.rbegin(); it != m_storages.rend(); ++it) {
            found = (*it)->Find(text);
            if (found != 0) {
                source = *it;
                break;
            }
            empty = empty || (*it)->FoundEmpty();
        }
    }
    if (size != nullptr)
        *size = found;
    if (source == nullptr) {
        // An empty file reads as absent, but the message says what is there.
        if (empty)
            LOG_WARNING(L"Файл пуст: " << text);
        else
            LOG_WARNING(L"Не найден файл: " << text);
        return nullptr;
    }
    if (found > m_capacity) {
        m_buffer.reset();
        m_capacity = 0;
        m_buffer.reset(new unsigned char[found]);
        m_capacity = found;
    }
    source->GetDataFile(m_buffer.get(), found);
    return m_buffer.get();
}

}  // namespace VORTALEX
