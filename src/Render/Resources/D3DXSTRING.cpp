#include "Render/Resources/D3DXSTRING.h"

#include <algorithm>
#include <cstdint>
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
    for (C_DescriptorString* entry : m_Pending) delete entry;
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
    if (m_BatchDepth > 0) {
        m_Pending.push_back(new C_DescriptorString(std::move(descriptor), C_DescriptorString::GetString(text)));
        return;
    }
    if (!m_Pending.empty()) MergePending();
    if (Search(descriptor)) return;   // the first definition stays
    const std::size_t position = GetPosition();
    auto* entry = new C_DescriptorString(std::move(descriptor), C_DescriptorString::GetString(text));
    insert(begin() + static_cast<std::ptrdiff_t>(position), entry);
}

namespace {

// A line waiting to join the table, sorted by its descriptor. The first
// eight characters travel packed in two words (16 bits each, 0 past the
// end), so that most comparisons of a million keys are two integer compares
// instead of a walk to each key's text; equal words fall back to the
// descriptors themselves. A character beyond 16 bits ends the packing (all
// of them pack alike, and what follows is left to the full comparison), so
// the words never order two keys otherwise than their texts do.
struct WaitingLine {
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    const std::wstring* descriptor = nullptr;
    std::uint32_t order = 0;   // place among the waiting lines: earlier wins

    WaitingLine(const std::wstring& text, std::uint32_t place) : descriptor(&text), order(place)
    {
        bool packing = true;
        for (std::size_t i = 0; i < 8; ++i) {
            std::uint64_t unit = 0;
            if (packing && i < text.size()) {
                const auto c = static_cast<std::uint32_t>(text[i]);
                if (c < 0xFFFE) {
                    unit = c + 1;
                } else {
                    unit = 0xFFFF;
                    packing = false;
                }
            }
            std::uint64_t& word = i < 4 ? head : tail;
            word = (word << 16) | unit;
        }
    }
    // Orders by descriptor (as the table does), then by arrival.
    bool operator<(const WaitingLine& other) const
    {
        if (head != other.head) return head < other.head;
        if (tail != other.tail) return tail < other.tail;
        const int compared = descriptor->compare(*other.descriptor);
        if (compared != 0) return compared < 0;
        return order < other.order;
    }
    bool SameDescriptor(const WaitingLine& other) const
    {
        return head == other.head && tail == other.tail && *descriptor == *other.descriptor;
    }
};

}  // namespace

void C_D3DXSTRING::C_AllStrings::MergePending()
{
    if (m_Pending.empty()) return;
    std::vector<C_DescriptorString*> added;
    added.swap(m_Pending);
    // By descriptor, and of several lines with one descriptor the earliest
    // first: it is the one kept, as when the lines are added one by one; so
    // is an entry the table held before.
    std::vector<WaitingLine> order;
    order.reserve(added.size());
    for (std::size_t i = 0; i < added.size(); ++i)
        order.emplace_back(added[i]->Descriptor, static_cast<std::uint32_t>(i));
    std::sort(order.begin(), order.end());
    std::vector<C_DescriptorString*> kept, dropped;
    kept.reserve(order.size());
    const bool tableWasEmpty = empty();
    for (std::size_t i = 0; i < order.size(); ++i) {
        C_DescriptorString* entry = added[order[i].order];
        const bool repeated = i > 0 && order[i].SameDescriptor(order[i - 1]);
        if (repeated || (!tableWasEmpty && Search(entry->Descriptor))) dropped.push_back(entry);
        else kept.push_back(entry);
    }
    // Only now: the comparisons above read the dropped lines' descriptors.
    for (C_DescriptorString* entry : dropped) delete entry;
    const std::size_t middle = size();
    insert(end(), kept.begin(), kept.end());
    std::inplace_merge(begin(), begin() + static_cast<std::ptrdiff_t>(middle), end(),
                       [](const C_DescriptorString* a, const C_DescriptorString* b) {
                           return a->Descriptor < b->Descriptor;
                       });
}

void C_D3DXSTRING::C_AllStrings::SetLine(const std::wstring& line)
{
    // A line still waiting may hold the descriptor.
    if (!m_Pending.empty()) MergePending();
    const std::wstring text = StripLineBreaks(line);
    if (text.find(L'=') != std::wstring::npos && Search(C_DescriptorString::GetDescriptor(text))) {
        (*this)[GetPosition()]->String = C_DescriptorString::GetString(text);
        return;
    }
    AddLine(line);
}

std::wstring C_D3DXSTRING::C_AllStrings::Lookup(const std::wstring& descriptor)
{
    if (!m_Pending.empty()) MergePending();
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
    // that are joined up to the newline), and a trailing CR is dropped. The
    // whole file joins the table in one merge: one sorted insertion per line
    // would take minutes for a file of a million lines.
    const std::wstring text = VORTALEX::codepage::DecodeText(bytes);
    {
        const C_Batch batch(*this);
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
