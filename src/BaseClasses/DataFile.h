#pragma once
// The engine's file access: data files (modules, scripts) come through the
// file manager, so they may live in storage archives; text.ini is read
// straight from the program folder.

#include <string>

// Reads a whole data file through the file manager (an absolute path is read
// from disk); false when it can't be found or read.
bool ReadDataFile(const std::wstring& path, std::string& bytes);

// Reads a whole plain file (a '\'-separated path, matched case-insensitively
// when needed); false when it can't be opened.
bool ReadPlainFile(const std::wstring& path, std::string& bytes);

// Adds a storage archive to the file manager (searched before the ones added
// earlier). The file manager logs a storage that can't be opened.
void AddStorage(const std::wstring& storage);
