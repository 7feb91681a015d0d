#pragma once
// Images compiled into the editor's binary ("Texture" of the device test,
// "Icon" of the dialog), so the program needs no files of its own.

#include <span>
#include <string_view>

// The bytes of the named resource; empty when there is none.
std::span<const unsigned char> FindProgramResource(std::wstring_view name);
