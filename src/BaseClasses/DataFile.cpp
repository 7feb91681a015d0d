#include "BaseClasses/DataFile.h"

#include <exception>
#include <fstream>
#include <iterator>

#include "Common/FilePath.h"
#include "VirtualFileSystem/FileManager.h"

bool ReadPlainFile(const std::wstring& path, std::string& bytes)
{
    bytes.clear();
    std::error_code error;
    const std::filesystem::path file = VORTALEX::MapPath(path);
    if (!std::filesystem::is_regular_file(file, error)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool ReadDataFile(const std::wstring& path, std::string& bytes)
{
    bytes.clear();
    // An absolute path (a main module given on the command line) names a
    // file outside every storage.
    if (!path.empty() && path.front() == L'/') return ReadPlainFile(path, bytes);
    try {
        unsigned int size = 0;
        const unsigned char* data = VORTALEX::FileManager::Instance().GetDataFile(path.c_str(), &size);
        if (!data) return false;
        bytes.assign(reinterpret_cast<const char*>(data), size);
        return true;
    } catch (const std::exception&) {
        // The file manager has logged the failure already.
        return false;
    }
}

void AddStorage(const std::wstring& storage)
{
    VORTALEX::FileManager::Instance().AddStorage(storage.c_str());
}
