#pragma once
// A text file read line by line as wide strings: the motion program's reader.
// A file is UTF-8 when all of it is valid UTF-8 (a byte-order mark is
// dropped), otherwise Windows-1251. Lines end at LF; a CR before it is
// dropped, as a text-mode read does.

#include <cstddef>
#include <string>
#include <vector>

class C_StdioFile {
public:
    C_StdioFile() = default;
    C_StdioFile(const C_StdioFile&) = delete;
    C_StdioFile& operator=(const C_StdioFile&) = delete;

    // Opens a file of this system's path form ('\' or '/', matched
    // case-insensitively when the exact name does not exist). False when it
    // cannot be read.
    bool Open(const std::wstring& path);
    // The next line without its end; false at the end of the file.
    bool ReadString(std::wstring& line);
    void Close();

private:
    std::vector<char> m_bytes;
    std::size_t m_position = 0;
    bool m_utf8 = false;
    bool m_open = false;
};
