#include "BaseClasses/DataFile.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

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
    // Storage archives are read by the file manager, which this build does
    // not have yet: say so instead of pretending the archive is mounted.
    (void)storage;
    throw std::runtime_error("storage archives are not supported by this build");
}
