#include "Render/Position/StdioFile.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "Common/CodePage.h"
#include "Common/FilePath.h"

bool C_StdioFile::Open(const std::wstring& path)
{
    Close();
    if (path.empty()) return false;
    std::FILE* file = std::fopen(VORTALEX::MapPath(path).c_str(), "rb");
    if (!file) return false;
    char chunk[65536];
    bool failed = false;
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof(chunk), file);
        m_bytes.insert(m_bytes.end(), chunk, chunk + got);
        if (got < sizeof(chunk)) {
            failed = std::ferror(file) != 0;
            break;
        }
    }
    std::fclose(file);
    // A folder opens on Linux but cannot be read.
    if (failed) {
        Close();
        return false;
    }
    const std::string_view all(m_bytes.data(), m_bytes.size());
    m_utf8 = VORTALEX::codepage::IsValidUtf8(all);
    if (m_utf8 && all.size() >= 3 && std::memcmp(all.data(), "\xEF\xBB\xBF", 3) == 0) m_position = 3;
    m_open = true;
    return true;
}

bool C_StdioFile::ReadString(std::wstring& line)
{
    if (!m_open || m_position >= m_bytes.size()) return false;
    const char* begin = m_bytes.data() + m_position;
    const std::size_t left = m_bytes.size() - m_position;
    const void* newline = std::memchr(begin, '\n', left);
    std::size_t length = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - begin) : left;
    m_position += newline ? length + 1 : length;
    if (newline && length > 0 && begin[length - 1] == '\r') --length;
    const std::string_view bytes(begin, length);
    line = m_utf8 ? VORTALEX::codepage::FromUtf8(bytes) : VORTALEX::codepage::FromCp1251(bytes);
    return true;
}

void C_StdioFile::Close()
{
    m_bytes.clear();
    m_bytes.shrink_to_fit();
    m_position = 0;
    m_utf8 = false;
    m_open = false;
}
