#include "BaseClasses/DataFile.h"

#include <fstream>
#include <iterator>

#include "Common/FilePath.h"

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
    return ReadPlainFile(path, bytes);
}

void AddStorage(const std::wstring& storage)
{
    (void)storage;
}
