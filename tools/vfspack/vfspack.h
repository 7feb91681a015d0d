#pragma once
// The commands of the archive tool. Each returns the process exit status and writes its
// complaints to the error stream, prefixed with "vfspack: ".

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace vfspack {

// Packs files and folders (recursively) under base into archive; entry names are the paths
// relative to base with "\" separators.
int Create(const std::filesystem::path& archive, const std::filesystem::path& base,
           const std::vector<std::string>& paths, std::ostream& err);

// One line per entry in archive order: name, unpacked size, stored size, order (tab-separated).
int List(const std::filesystem::path& archive, std::ostream& out, std::ostream& err);

// Writes the named entries (all when none are named) under folder; "\" separates folders.
// Entries whose names would leave folder are refused.
int Extract(const std::filesystem::path& archive, const std::filesystem::path& folder,
            const std::vector<std::string>& names, std::ostream& err);

// Writes one entry to out, read exactly as the engine reads it.
int Cat(const std::filesystem::path& archive, const std::string& name, std::ostream& out,
        std::ostream& err);

// The relative file path an entry name extracts to, or empty when the name is unsafe (a ".."
// component, a drive or root, nothing left).
std::filesystem::path SafeRelativePath(const std::wstring& name);

}  // namespace vfspack
