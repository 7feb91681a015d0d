#pragma once
// The one place where a path of this system becomes a file-system path.
// Paths are written with '\' as on Windows ('/' is accepted too); when the
// exact path does not exist, every component is matched case-insensitively
// (Cyrillic included) against the directory, so content made on a
// case-insensitive file system works unchanged.

#include <filesystem>
#include <string>
#include <string_view>

namespace VORTALEX {

std::filesystem::path MapPath(std::wstring_view path);

// A file-system path as wide text (UTF-8 names, else Windows-1251 names).
std::wstring PathToWide(const std::filesystem::path& path);

}  // namespace VORTALEX
