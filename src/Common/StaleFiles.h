#pragma once
// Files that this system writes under a temporary name and renames into
// place: writing them durably, and removing the ones a killed process left
// behind.

#include <filesystem>
#include <string>
#include <string_view>

namespace VORTALEX {

// Removes the files of `folder` named `base` + `marker` + a process number
// (for example "settings.xml.tmp1234" for base "settings.xml" and marker
// ".tmp") whose process no longer runs: they are what a process killed
// between writing and renaming left behind. Returns how many went.
int RemoveStaleTemporaries(const std::filesystem::path& folder, std::string_view base, std::string_view marker);

// Writes `bytes` to `temporary` (created anew, never through an existing
// link), flushes it to the disk, renames it over `target` and flushes the
// folder, so that after a crash or a power loss `target` holds either the
// old or the new contents, never a part. On failure the temporary is
// removed, `target` is untouched and `reason` says what failed.
bool WriteFileDurably(const std::filesystem::path& target, const std::filesystem::path& temporary,
                      std::string_view bytes, std::wstring& reason);

}  // namespace VORTALEX
