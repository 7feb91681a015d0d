// Internal: UTF-8 <-> wide (UTF-32 on this platform) conversion for texts that
// cross into SDL, the environment and helper programs.
#pragma once

#include <string>

std::string PortToUtf8(const std::wstring& text);
std::string PortToUtf8(const wchar_t* text);
std::wstring PortFromUtf8(const std::string& text);
