#include "Common/Environment.h"

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Common/CodePage.h"
#include "Common/MessageBox.h"

namespace VORTALEX {
namespace {

struct Language {
    const char* code;
    const wchar_t* name;
    const char* country;
};

constexpr Language kLanguages[] = {
    {"ru", L"Russian", "RU"},    {"en", L"English", "US"},    {"uk", L"Ukrainian", "UA"},
    {"be", L"Belarusian", "BY"}, {"kk", L"Kazakh", "KZ"},     {"de", L"German", "DE"},
    {"fr", L"French", "FR"},     {"es", L"Spanish", "ES"},    {"it", L"Italian", "IT"},
    {"pt", L"Portuguese", "PT"}, {"pl", L"Polish", "PL"},     {"cs", L"Czech", "CZ"},
    {"sk", L"Slovak", "SK"},     {"nl", L"Dutch", "NL"},      {"sv", L"Swedish", "SE"},
    {"fi", L"Finnish", "FI"},    {"da", L"Danish", "DK"},     {"nb", L"Norwegian", "NO"},
    {"no", L"Norwegian", "NO"},  {"tr", L"Turkish", "TR"},    {"el", L"Greek", "GR"},
    {"bg", L"Bulgarian", "BG"},  {"sr", L"Serbian", "RS"},    {"hr", L"Croatian", "HR"},
    {"sl", L"Slovenian", "SI"},  {"hu", L"Hungarian", "HU"},  {"ro", L"Romanian", "RO"},
    {"et", L"Estonian", "EE"},   {"lv", L"Latvian", "LV"},    {"lt", L"Lithuanian", "LT"},
    {"he", L"Hebrew", "IL"},     {"ar", L"Arabic", "SA"},     {"ja", L"Japanese", "JP"},
    {"zh", L"Chinese", "CN"},    {"ko", L"Korean", "KR"},
};

// The locale name the environment gives for LC_CTYPE purposes.
std::string EnvironmentLocale() {
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value) return value;
    }
    return {};
}

std::string SystemLanguageLocale() {
    for (const char* var : {"LC_ALL", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value) return value;
    }
    return {};
}

std::wstring LanguageName() {
    const std::string locale = SystemLanguageLocale();
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0) {
        return L"English";
    }
    const std::string code = locale.substr(0, locale.find_first_of("_.@"));
    for (const Language& l : kLanguages) {
        if (code == l.code) return l.name;
    }
    return L"Error";
}

std::wstring& ProgramFolderOverride() {
    static std::wstring folder;
    return folder;
}

std::wstring FolderOfModule(const std::string& module) {
    std::wstring path = codepage::DecodeText(module);
    const std::size_t cut = path.find_last_of(L"/\\");
    if (cut == std::wstring::npos) return {};
    path.resize(cut);
    return path;
}

std::string NarrowInLocale(std::wstring_view text) {
    std::wstring copy(text);
    const wchar_t* src = copy.c_str();
    std::mbstate_t state{};
    const std::size_t need = std::wcsrtombs(nullptr, &src, 0, &state);
    if (need == static_cast<std::size_t>(-1)) return {};
    std::string out(need, '\0');
    src = copy.c_str();
    state = std::mbstate_t{};
    std::wcsrtombs(out.data(), &src, need, &state);
    return out;
}

}  // namespace

bool SetCharacterLocale(std::wstring_view languageName) {
    static std::map<std::wstring, std::string, std::less<>> chosen;
    if (auto it = chosen.find(languageName); it != chosen.end()) {
        if (std::setlocale(LC_CTYPE, it->second.c_str())) return true;
    }
    std::vector<std::string> candidates;
    const Language* language = nullptr;
    for (const Language& l : kLanguages) {
        if (languageName == l.name) {
            language = &l;
            break;
        }
    }
    if (language) {
        const std::string env = EnvironmentLocale();
        if (env.rfind(language->code, 0) == 0 &&
            (env.find("UTF-8") != std::string::npos || env.find("utf8") != std::string::npos)) {
            candidates.push_back(env);
        }
        const std::string base = std::string(language->code) + "_" + language->country;
        candidates.push_back(base + ".UTF-8");
        candidates.push_back(base + ".utf8");
    }
    candidates.insert(candidates.end(), {"C.UTF-8", "C.utf8", "en_US.UTF-8", "en_US.utf8"});
    for (const std::string& name : candidates) {
        if (std::setlocale(LC_CTYPE, name.c_str())) {
            chosen.emplace(std::wstring(languageName), name);
            return true;
        }
    }
    return false;
}

void OverrideProgramFolder(std::wstring_view folder) { ProgramFolderOverride() = folder; }

namespace detail {
bool ReadLinkGrowing(const char* link, std::string& target) {
    std::size_t size = 260;
    for (;;) {
        std::vector<char> buffer(size);
        const ssize_t n = ::readlink(link, buffer.data(), size);
        if (n <= 0) return false;
        if (static_cast<std::size_t>(n) < size) {
            target.assign(buffer.data(), static_cast<std::size_t>(n));
            return true;
        }
        size *= 2;
    }
}
}  // namespace detail

LanguageWindows::LanguageWindows() {
    std::wstring name = LanguageName();
    if (name.size() > 255) name.resize(255);
    Assign(name);
}

PathToProgram::PathToProgram() {
    if (!SetCharacterLocale(LanguageWindows().GetText())) {
        throw std::runtime_error("Failed _tsetlocale(...)");
    }
    if (!ProgramFolderOverride().empty()) {
        Assign(ProgramFolderOverride());
        return;
    }
    std::string module;
    if (!detail::ReadLinkGrowing("/proc/self/exe", module)) {
        throw std::runtime_error("Failed GetModuleFileName(...)");
    }
    Assign(FolderOfModule(module));
}

CStringToLPCSTR::CStringToLPCSTR(std::wstring_view text) { Assign(NarrowInLocale(text)); }

}  // namespace VORTALEX

namespace _VORTALEX {

C_LanguageWindows::C_LanguageWindows() : text_(VORTALEX::LanguageWindows().GetText()) {}

C_PathToProgram::C_PathToProgram() {
    if (!VORTALEX::SetCharacterLocale(C_LanguageWindows().GetText())) {
        VORTALEX::ShowMessageBox(L"C_PathToProgram - Failed _tsetlocale(...)", L"Error");
    }
    if (!VORTALEX::ProgramFolderOverride().empty()) {
        text_ = VORTALEX::ProgramFolderOverride();
        return;
    }
    std::string module;
    if (VORTALEX::detail::ReadLinkGrowing("/proc/self/exe", module)) text_ = VORTALEX::FolderOfModule(module);
}

C_CStringToLPCSTR::C_CStringToLPCSTR(std::wstring_view text) : text_(VORTALEX::CStringToLPCSTR(text).GetText()) {}

}  // namespace _VORTALEX
