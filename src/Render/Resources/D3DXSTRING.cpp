#include "Render/Resources/D3DXSTRING.h"

#include <exception>

#include "BaseClasses/DataFile.h"
#include "Common/CodePage.h"
#include "Common/Environment.h"
#include "Logger/Logger.h"

TW_REGISTER_CLASS(C_D3DXSTRING)

namespace {

constexpr std::wstring_view LineBlanks = L" \t\r\n";

// Long junk lines are logged shortened; the log is for people.
constexpr std::size_t MaxLoggedLine = 1024;

std::wstring ForLog(const std::wstring& line)
{
    if (line.size() <= MaxLoggedLine) return line;
    return line.substr(0, MaxLoggedLine) + L"...";
}

std::wstring StripLineBreaks(const std::wstring& line)
{
    std::wstring result;
    result.reserve(line.size());
    for (wchar_t c : line)
        if (c != L'\r' && c != L'\n' && c != L'\t') result += c;
    return result;
}

} // namespace

// ---------------------------------------------------------------------------
// C_DescriptorString

std::wstring C_D3DXSTRING::C_DescriptorString::GetDescriptor(const std::wstring& line)
{
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) return std::wstring();
    const std::size_t last = line.find_last_not_of(LineBlanks, equals == 0 ? 0 : equals - 1);
    if (equals == 0 || last == std::wstring::npos) return std::wstring();
    return line.substr(0, last + 1);
}

std::wstring C_D3DXSTRING::C_DescriptorString::GetString(const std::wstring& line)
{
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) return std::wstring();
    const std::size_t first = line.find_first_not_of(LineBlanks, equals + 1);
    if (first == std::wstring::npos) return std::wstring();
    return line.substr(first);
}

// ---------------------------------------------------------------------------
// C_AllStrings

C_D3DXSTRING::C_AllStrings::~C_AllStrings()
{
    for (C_DescriptorString* entry : *this) delete entry;
}

C_D3DXSTRING::C_AllStrings& C_D3DXSTRING::C_AllStrings::Instance()
{
    // Never destroyed: objects released during static destruction may still
    // ask for texts.
    static C_AllStrings* table = [] {
        auto* strings = new C_AllStrings;
        const _VORTALEX::C_PathToProgram folder;
        strings->LoadTextIni(folder.GetText(), &C_AllStrings::MountStorage);
        return strings;
    }();
    return *table;
}

void C_D3DXSTRING::C_AllStrings::AddLine(const std::wstring& line)
{
    const std::wstring text = StripLineBreaks(line);
    if (text.find(L'=') == std::wstring::npos)
        LOG_WARNING(L"Нет знака равенства в строке: " << ForLog(text));
    std::wstring descriptor = C_DescriptorString::GetDescriptor(text);
    if (Search(descriptor)) return;   // the first definition stays
    const std::size_t position = GetPosition();
    auto* entry = new C_DescriptorString(std::move(descriptor), C_DescriptorString::GetString(text));
    insert(begin() + static_cast<std::ptrdiff_t>(position), entry);
}

void C_D3DXSTRING::C_AllStrings::SetLine(const std::wstring& line)
{
    const std::wstring text = StripLineBreaks(line);
    if (text.find(L'=') != std::wstring::npos && Search(C_DescriptorString::GetDescriptor(text))) {
        (*this)[GetPosition()]->String = C_DescriptorString::GetString(text);
        return;
    }
    AddLine(line);
}

std::wstring C_D3DXSTRING::C_AllStrings::Lookup(const std::wstring& descriptor)
{
    return Search(descriptor) ? (*this)[GetPosition()]->String : std::wstring();
}

void C_D3DXSTRING::C_AllStrings::LoadTextIni(const std::wstring& folder, const MountFunction& mount)
{
    if (!VORTALEX::SetCharacterLocale(_VORTALEX::C_LanguageWindows().GetText()))
        LOG_WARNING(L"Локаль не установлена");

    std::string bytes;
    if (!ReadPlainFile(folder + L"\\text.ini", bytes)) {
        LOG_WARNING(L"Файл text.ini не найден.");
        return;
    }
    // Lines are read whole, however long (the file is read in 80-byte pieces
    // that are joined up to the newline), and a trailing CR is dropped.
    const std::wstring text = VORTALEX::codepage::DecodeText(bytes);
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find(L'\n', position);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.empty() || line.front() == L';') continue;
        AddLine(line);
    }

    for (int i = 0;; ++i) {
        const std::wstring storage = Lookup(L"Storage" + std::to_wstring(i));
        if (storage.empty()) break;
        if (mount) mount(storage);
    }
}

void C_D3DXSTRING::C_AllStrings::MountStorage(const std::wstring& storage)
{
    try {
        AddStorage(storage);
    } catch (const std::exception& error) {
        // A broken or missing archive leaves the others usable.
        LOG_WARNING(L"Хранилище " << storage << L" не подключено: "
                                  << VORTALEX::codepage::DecodeText(error.what()));
    }
}

// ---------------------------------------------------------------------------
// C_D3DXSTRING

C_D3DXSTRING::C_D3DXSTRING() = default;
C_D3DXSTRING::~C_D3DXSTRING() = default;

void C_D3DXSTRING::Unload()
{
    m_Cached.clear();
    C_BaseResource::Unload();
}

const std::wstring& C_D3DXSTRING::GetText()
{
    if (m_Cached.empty()) m_Cached = C_AllStrings::Instance().Lookup(Name);
    return m_Cached;
}
