#include "Wrappers/XMLParser/XMLSettings.h"

#include <climits>
#include <cwchar>
#include <cwctype>
#include <set>
#include <stdexcept>
#include <system_error>

#include "Common/CodePage.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/StaleFiles.h"
#include "Common/XmlText.h"
#include "Logger/Logger.h"
#include "Wrappers/XMLParser/impRapidXML.h"

namespace VORTALEX {

using xml_parser::IXMLParser;

namespace {

// Temporaries that a save killed between writing and renaming left beside
// the file go once per file and run.
void RemoveStaleSaves(const std::wstring& path) {
    static std::set<std::wstring> cleaned;
    if (!cleaned.insert(path).second) return;
    const std::filesystem::path file = MapPath(path);
    RemoveStaleTemporaries(file.parent_path(), file.filename().native(), ".tmp");
}

}  // namespace

XMLSettings::XMLSettings(const wchar_t* section, const wchar_t* path) {
    if (path && *path) {
        path_ = path;
    } else {
        path_ = PathToProgram().str() + L"\\settings.xml";
    }
    RemoveStaleSaves(path_);
    try {
        parser_->LoadFile(path_, "Russian");
    } catch (const IXMLParser::XMLException& e) {
        // A missing file is a first run; one that is there but unreadable
        // holds the user's settings all the same.
        if (e.GetCode() != IXMLParser::XMLException::OpenFile) loadError_ = e.GetDescription();
        parser_->LoadFile(L"", "Russian");
    } catch (...) {
        loadError_ = L"?";
        parser_->LoadFile(L"", "Russian");
    }
    if (!loadError_.empty()) {
        std::error_code error;
        const std::filesystem::path file = MapPath(path_);
        brokenTime_ = std::filesystem::last_write_time(file, error);
        brokenSize_ = std::filesystem::file_size(file, error);
    }
    if (section) SetSection(section);
}

XMLSettings::~XMLSettings() noexcept(false) {
    if (!modified_) return;
    std::wstring reason;
    bool saved = false;
    try {
        // A file that could not be read is about to be replaced by what this
        // object holds: keep it first, so nothing of it is lost.
        if (!loadError_.empty()) KeepBrokenFile();
        saved = parser_->SaveFile(path_);
        if (!saved)
            if (const auto* rapid = dynamic_cast<const xml_parser::impRapidXML*>(parser_.Get()))
                reason = rapid->LastSaveError();
    } catch (const IXMLParser::XMLException& e) {
        reason = e.GetDetail();
    }
    if (!saved && std::uncaught_exceptions() <= uncaught_) {
        throw IXMLParser::XMLException(IXMLParser::XMLException::SaveFile,
                                       reason.empty() ? path_ : path_ + L": " + reason);
    }
}

void XMLSettings::KeepBrokenFile() {
    const std::filesystem::path file = MapPath(path_);
    std::filesystem::path kept = file;
    kept += ".broken";
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return;
    // Rewritten since it was read (by another settings object, which kept
    // the unreadable one): nothing of ours to keep any more.
    std::error_code timeError, sizeError;
    if (std::filesystem::last_write_time(file, timeError) != brokenTime_ ||
        std::filesystem::file_size(file, sizeError) != brokenSize_ || timeError || sizeError)
        return;
    std::filesystem::copy_file(file, kept, std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        // Without a copy the file must stay as it is.
        throw IXMLParser::XMLException(
            IXMLParser::XMLException::SaveFile,
            L"the unreadable file could not be kept as " + PathToWide(kept) + L": " +
                codepage::DecodeText(error.message()));
    }
    LOG_WARNING(L"Файл настроек " << path_ << L" не прочитан (" << loadError_ << L") и будет перезаписан; прежний файл сохранён как "
                                  << PathToWide(kept));
    loadError_.clear();
}

void XMLSettings::SetSection(const wchar_t* name) {
    if (!name) name = L"";
    parser_->ToRoot();
    if (parser_->FirstChild(L"entity")) {
        do {
            try {
                if (parser_->GetAttribute(L"name") == name) return;
            } catch (const std::exception&) {
                // An element whose name can't be read is skipped.
            }
        } while (parser_->NextSibling(L"entity"));
    }
    parser_->ToRoot();
    parser_->AddChild(L"entity", true);
    parser_->SetAttribute(L"name", name);
}

bool XMLSettings::FindParameter(const wchar_t* name) {
    if (!name) name = L"";
    if (!parser_->FirstChild(L"entity")) return false;
    do {
        if (parser_->GetAttribute(L"name") == name) return true;
    } while (parser_->NextSibling(L"entity"));
    parser_->ToParent();
    return false;
}

std::wstring XMLSettings::GetParameter(const wchar_t* name) {
    if (!FindParameter(name)) return {};
    std::wstring value = parser_->GetAttribute(L"value");
    parser_->ToParent();
    return value;
}

int XMLSettings::GetParameterInt(const wchar_t* name) {
    return VORTALEX::xml::ValueToInt(GetParameter(name));
}

std::wstring XMLSettings::RequireParameter(const wchar_t* name) {
    std::wstring value = GetParameter(name);
    if (value.empty()) throw std::runtime_error("XMLSettings: Not find parameter.");
    return value;
}

void XMLSettings::SetParameter(const wchar_t* name, const wchar_t* value) {
    modified_ = true;
    if (!FindParameter(name)) parser_->AddChild(L"entity", true);
    parser_->SetAttribute(L"name", name ? name : L"");
    parser_->SetAttribute(L"value", value ? value : L"");
    parser_->ToParent();
}

void XMLSettings::SetParameter(const wchar_t* name, int value) {
    SetParameter(name, std::to_wstring(value).c_str());
}

}  // namespace VORTALEX
