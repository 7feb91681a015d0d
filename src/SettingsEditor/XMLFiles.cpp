#include "SettingsEditor/XMLFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Common/CodePage.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/MessageBox.h"
#include "Common/StaleFiles.h"
#include "Common/XmlText.h"

namespace C_XMLBase {

std::string ToDocument(std::wstring_view text) { return VORTALEX::codepage::ToUtf8(text); }

std::wstring FromDocument(const char* text) { return text ? VORTALEX::codepage::FromUtf8(text) : std::wstring(); }

}  // namespace C_XMLBase

using C_XMLBase::TiXmlElement;
using C_XMLBase::TiXmlNode;

namespace {

const char* const kEmptyDocument = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>";

std::wstring SystemError(int error) { return VORTALEX::codepage::FromUtf8(std::strerror(error)); }

bool IsBlank(const std::string& bytes)
{
    for (char c : bytes)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    return true;
}

// Writes all bytes to a new file and makes them durable; errno on failure.
// Whatever lies at the name already (a link someone placed there, say) is
// removed and never written through.
int WriteDurably(const std::filesystem::path& file, const std::string& bytes, mode_t mode)
{
    ::unlink(file.c_str());
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return errno;
    std::size_t done = 0;
    int error = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    return error;
}

void SyncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

void VexamontMessageBox(const std::wstring& text) { VORTALEX::ShowMessageBox(text, L"Vexamont"); }

// ---------------------------------------------------------------------------
// C_XMLFile
// ---------------------------------------------------------------------------
C_XMLFile::C_XMLFile(const wchar_t* name)
    : m_Name(name)
{
    // Lower-casing and narrow conversions follow the user's language; where
    // its locale is not installed the support library falls back to a
    // UTF-8 one, so only a machine without any fails here.
    if (!VORTALEX::SetCharacterLocale(_VORTALEX::C_LanguageWindows().GetText()))
        VexamontMessageBox(L"Failed _wsetlocale()");
    const std::wstring folder = _VORTALEX::C_PathToProgram().GetText();
    if (folder.empty()) {
        m_Path = m_Name;
        Note(L"Папка программы не найдена: " + m_Name + L" читается из текущей папки.");
    } else {
        m_Path = folder + L"\\" + m_Name;
    }
    Load();
}

C_XMLFile::~C_XMLFile()
{
    if (!m_SaveOnDestruction) return;
    if (!Save()) VexamontMessageBox(TakeNotes());
}

std::wstring C_XMLFile::TakeNotes()
{
    std::wstring notes;
    notes.swap(m_Notes);
    return notes;
}

void C_XMLFile::Note(const std::wstring& line) { m_Notes += line + L"\r\n"; }

void C_XMLFile::StartEmpty()
{
    m_Document.Clear();
    m_Document.ClearError();
    m_Document.Parse(kEmptyDocument, nullptr, TIXML_ENCODING_UTF8);
}

void C_XMLFile::Load()
{
    namespace fs = std::filesystem;
    const fs::path file = VORTALEX::MapPath(m_Path);
    std::error_code ec;
    fs::path folder = file.parent_path();
    while (!folder.empty() && !fs::exists(folder, ec)) folder = folder.parent_path();
    if (!folder.empty() && ::access(folder.c_str(), W_OK) != 0)
        Note(L"Папка " + VORTALEX::PathToWide(folder) + L" закрыта для записи: изменения " + m_Name +
             L" не сохранятся.");

    // Saves write "<name>.tmp<process>" and rename it; one that a killed
    // editor or engine left behind would otherwise stay for ever.
    VORTALEX::RemoveStaleTemporaries(file.parent_path(), file.filename().native(), ".tmp");

    const fs::file_status status = fs::status(file, ec);
    if (!fs::exists(status)) {
        StartEmpty();
        return;
    }
    if (fs::is_directory(status)) {
        Note(L"Файл " + m_Name + L" не прочитан: на его месте папка.");
        StartEmpty();
        return;
    }
    std::ifstream in(file, std::ios::binary);
    std::string bytes;
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) {
        Note(L"Файл " + m_Name + L" не прочитан: " + SystemError(errno ? errno : EIO) + L". Прежний файл будет сохранён как " +
             m_Name + L".broken.");
        m_Broken = true;
        StartEmpty();
        return;
    }
    if (IsBlank(bytes)) {
        StartEmpty();
        return;
    }

    const std::string text = VORTALEX::xml::ToUtf8Document(bytes);
    std::size_t where = 0;
    if (VORTALEX::xml::ElementNesting(text, VORTALEX::xml::MaxElementNesting, where) >
        VORTALEX::xml::MaxElementNesting) {
        int row = 1;
        for (std::size_t i = 0; i < where; ++i) row += text[i] == '\n';
        Note(L"Файл " + m_Name + L" не прочитан: элементы вложены глубже " +
             std::to_wstring(VORTALEX::xml::MaxElementNesting) + L" уровней (строка " + std::to_wstring(row) +
             L"). Прежний файл будет сохранён как " + m_Name + L".broken.");
        m_Broken = true;
        StartEmpty();
        return;
    }
    m_Document.Clear();
    m_Document.ClearError();
    m_Document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (m_Document.Error()) {
        Note(L"Файл " + m_Name + L" не разобран: " + C_XMLBase::FromDocument(m_Document.ErrorDesc()) + L" (строка " +
             std::to_wstring(m_Document.ErrorRow()) + L", столбец " + std::to_wstring(m_Document.ErrorCol()) +
             L"). Прежний файл будет сохранён как " + m_Name + L".broken.");
        m_Broken = true;
        StartEmpty();
    }
}

bool C_XMLFile::Save()
{
    namespace fs = std::filesystem;

    // The file is written in Windows-1251, so its declaration must say so
    // whatever the file that was read declared.
    {
        TiXmlNode* first = m_Document.FirstChild();
        TiXmlDeclaration* declaration = first ? first->ToDeclaration() : nullptr;
        const std::string standalone = declaration ? declaration->Standalone() : "";
        const TiXmlDeclaration wanted("1.0", "windows-1251", standalone.c_str());
        if (!declaration) {
            if (first) m_Document.InsertBeforeChild(first, wanted);
            else m_Document.InsertEndChild(wanted);
        } else if (!VORTALEX::codepage::EqualsNoCase(C_XMLBase::FromDocument(declaration->Encoding()),
                                                     L"windows-1251")) {
            m_Document.ReplaceChild(declaration, wanted);
        }
    }
    TiXmlPrinter printer;
    printer.SetIndent("\t");
    m_Document.Accept(&printer);
    const std::string bytes = VORTALEX::codepage::ToCp1251Xml(C_XMLBase::FromDocument(printer.CStr()));

    const fs::path file = VORTALEX::MapPath(m_Path);
    const fs::path folder = file.parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::exists(folder, ec)) {
        // The modules folder of a fresh program folder.
        fs::create_directories(folder, ec);
        if (ec) {
            Note(L"Файл " + m_Name + L" не записан: папка " + VORTALEX::PathToWide(folder) + L" не создана (" +
                 VORTALEX::codepage::FromUtf8(ec.message()) + L").");
            return false;
        }
    }
    struct stat old {};
    const bool existed = ::stat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    fs::path temporary = file;
    temporary += ".tmp" + std::to_string(::getpid());
    if (const int error = WriteDurably(temporary, bytes, existed ? (old.st_mode & 07777) : 0644)) {
        ::unlink(temporary.c_str());
        Note(L"Файл " + m_Name + L" не записан: " + SystemError(error) + L".");
        return false;
    }
    if (m_Broken && fs::exists(file, ec)) {
        fs::path kept = file;
        kept += ".broken";
        if (::rename(file.c_str(), kept.c_str()) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            Note(L"Файл " + m_Name + L" не записан: прежний файл не удалось сохранить как " + m_Name + L".broken (" +
                 SystemError(error) + L").");
            return false;
        }
        Note(L"Прежний файл " + m_Name + L", который не удалось разобрать, сохранён как " + m_Name + L".broken.");
    }
    m_Broken = false;
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        Note(L"Файл " + m_Name + L" не записан: " + SystemError(error) + L".");
        return false;
    }
    SyncFolder(folder);
    return true;
}

TiXmlElement* C_XMLFile::FindEntity(TiXmlNode* parent, std::wstring_view name)
{
    if (!parent) return nullptr;
    const std::string wanted = C_XMLBase::ToDocument(name);
    for (TiXmlElement* e = parent->FirstChildElement("entity"); e; e = e->NextSiblingElement("entity")) {
        const char* value = e->Attribute("name");
        if (value && wanted == value) return e;
    }
    return nullptr;
}

TiXmlElement* C_XMLFile::FindOrAddEntity(TiXmlNode* parent, std::wstring_view name)
{
    if (!parent) return nullptr;
    if (TiXmlElement* found = FindEntity(parent, name)) return found;
    TiXmlElement entity("entity");
    entity.SetAttribute("name", C_XMLBase::ToDocument(name).c_str());
    TiXmlNode* added = parent->InsertEndChild(entity);
    return added ? added->ToElement() : nullptr;
}

// ---------------------------------------------------------------------------
// C_XMLSettings
// ---------------------------------------------------------------------------
C_XMLSettings::C_XMLSettings()
    : C_XMLFile(L"settings.xml")
{
}

std::wstring C_XMLSettings::GetParameter(const wchar_t* name)
{
    TiXmlElement* section = FindOrAddEntity(&m_Document, m_Section);
    TiXmlElement* parameter = FindEntity(section, name ? name : L"");
    return parameter ? C_XMLBase::FromDocument(parameter->Attribute("value")) : std::wstring();
}

int C_XMLSettings::GetParameterInt(const wchar_t* name)
{
    return VORTALEX::xml::ValueToInt(GetParameter(name));
}

void C_XMLSettings::SetParameter(const wchar_t* name, const wchar_t* value)
{
    TiXmlElement* section = FindOrAddEntity(&m_Document, m_Section);
    if (!section) {
        VexamontMessageBox(L"C_XMLSettings::SetParameter() - бредятина... Нет раздела!!!");
        return;
    }
    TiXmlElement* parameter = FindOrAddEntity(section, name ? name : L"");
    if (!parameter) {
        VexamontMessageBox(L"C_XMLSettings::SetParameter() - бредятина... Нет параметра!!!");
        return;
    }
    parameter->SetAttribute("value", C_XMLBase::ToDocument(value ? value : L"").c_str());
}

void C_XMLSettings::SetParameter(const wchar_t* name, int value)
{
    SetParameter(name, std::to_wstring(value).c_str());
}

// ---------------------------------------------------------------------------
// C_XMLState
// ---------------------------------------------------------------------------
C_XMLState::C_XMLState()
    : C_XMLFile(L"modules\\DefaultRenderState.xml")
{
}

void C_XMLState::SetState(const wchar_t* name, const wchar_t* className, const wchar_t* value)
{
    TiXmlElement* entity = FindOrAddEntity(&m_Document, name ? name : L"");
    if (!entity) {
        VexamontMessageBox(L"C_XMLState::SetState() - бредятина... Нет параметра!!!");
        return;
    }
    entity->SetAttribute("class", C_XMLBase::ToDocument(className ? className : L"").c_str());
    entity->SetAttribute("value", C_XMLBase::ToDocument(value ? value : L"").c_str());
}

std::wstring C_XMLState::GetState(const wchar_t* name, int field)
{
    const TiXmlElement* entity = FindEntity(&m_Document, name ? name : L"");
    if (!entity || field < 1) return {};
    const std::wstring value = C_XMLBase::FromDocument(entity->Attribute("value"));
    std::size_t start = 0;
    for (int i = 1; i < field; ++i) {
        const std::size_t next = value.find(L';', start);
        if (next == std::wstring::npos) return {};
        start = next + 1;
    }
    std::size_t end = value.find(L';', start);
    if (end == std::wstring::npos) end = value.size();
    const wchar_t* blanks = L" \t\r\n";
    const std::size_t first = value.find_first_not_of(blanks, start);
    if (first == std::wstring::npos || first >= end) return {};
    const std::size_t last = value.find_last_not_of(blanks, end - 1);
    return value.substr(first, last - first + 1);
}

std::wstring C_XMLState::GetStateClass(const wchar_t* name)
{
    const TiXmlElement* entity = FindEntity(&m_Document, name ? name : L"");
    return entity ? C_XMLBase::FromDocument(entity->Attribute("class")) : std::wstring();
}
