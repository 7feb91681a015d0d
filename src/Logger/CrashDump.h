#pragma once
// Where crash reports go before the logger's options name a folder.

#include <string_view>

namespace logger {

// The folder of crash reports until an option value (from the settings file
// or the program) chooses one; the logger's own default folder does not
// replace it. A program calls this first thing, so that even a crash while
// the settings are read leaves its report where the program's logs go.
void SetEarlyCrashDumpFolder(std::wstring_view folder);

}  // namespace logger
