#pragma once
// The engine's access to resource files: an ordered list of storages (plain folders and
// archives) asked from the most recently added to the first.

#include "VirtualFileSystem/VirtualFileSystem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace VORTALEX {

class Storage {
public:
    // folder: the storage's folder, relative to the program folder, with a leading "\" (or
    // empty for the program folder itself). archive: entries come from an archive, not files.
    Storage(std::wstring folder, bool archive);
    ~Storage();
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    // Size of the named file, 0 when this storage doesn't hold it (or it is empty).
    std::uint32_t Find(const std::wstring& name);
    // Whether the last Find came upon the name holding no bytes at all (a size of 0 counts as
    // absent, but deserves its own message).
    bool FoundEmpty() const { return m_foundEmpty; }
    // Fills buffer with the file found by the last Find; size must be the size Find gave.
    void GetDataFile(void* buffer, std::uint32_t size);

    VirtualFileSystem& GetVirtualFileSystem() { return m_vfs; }
    const std::wstring& GetFolder() const { return m_folder; }
    bool IsArchive() const { return m_archive; }

    // The folder part of a storage name: one trailing "\" removed, the name itself when it
    // names an existing folder in the program folder, else its part before the last "\".
    static std::wstring FolderOf(std::wstring_view name, const std::wstring& programFolder);

private:
    void ClosePlainFile();

    VirtualFileSystem m_vfs;
    int m_plainFd = -1;
    bool m_foundEmpty = false;
    std::wstring m_folder;
    bool m_archive;
    std::wstring m_programFolder;
};

class FileManager {
public:
    // Starts with one plain storage for the program folder, so loose files are found; archives
    // added later are searched before it.
    FileManager();
    ~FileManager();
    FileManager(const FileManager&) = delete;
    FileManager& operator=(const FileManager&) = delete;

    // The process-wide manager, created on first use.
    static FileManager& Instance();

    // Opens the archive of that name (relative to the program folder) as a new storage. A
    // failure is logged as a warning and leaves a storage that finds nothing.
    void AddStorage(const wchar_t* name);
    // The bytes of the named file, or null (with *size 0) when no storage holds it. The buffer
    // belongs to the manager and stays valid until the next call; it carries no terminator.
    const unsigned char* GetDataFile(const wchar_t* name, unsigned int* size);
    // Closes every storage (at shutdown); afterwards nothing is found.
    void CloseStorages();

    std::size_t GetStorageCount() const { return m_storages.size(); }
    Storage& GetStorage(std::size_t index) { return *m_storages[index]; }

private:
    std::vector<Storage*> m_storages;
    // Reused between calls (grown when needed) so reading many files doesn't churn the heap.
    std::unique_ptr<unsigned char[]> m_buffer;
    std::size_t m_capacity = 0;
    std::wstring m_programFolder;
};

}  // namespace VORTALEX
