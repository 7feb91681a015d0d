#include "Wrappers/XMLParser/XMLSettings.h"

#include <climits>
#include <cwchar>
#include <cwctype>
#include <stdexcept>

#include "Common/Environment.h"

namespace VORTALEX {

using xml_parser::IXMLParser;

XMLSettings::XMLSettings(const wchar_t* section, const wchar_t* path) {
    if (path && *path) {
        path_ = path;
    } else {
        path_ = PathToProgram().str() + L"\\settings.xml";
    }
    try {
        parser_->LoadFile(path_, "Russian");
    } catch (...) {
        parser_->LoadFile(L"", "Russian");
    }
    if (section) SetSection(section);
}

XMLSettings::~XMLSettings() noexcept(false) {
    if (!modified_) return;
    if (!parser_->SaveFile(path_) && std::uncaught_exceptions() <= uncaught_) {
        throw IXMLParser::XMLException(IXMLParser::XMLException::SaveFile, path_);
    }
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
    // Leading blanks, a sign and digits, as _wtoi reads them; out-of-range
    // values are clamped.
    const std::wstring text = GetParameter(name);
    const wchar_t* p = text.c_str();
    while (std::iswspace(static_cast<wint_t>(*p))) ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
    long long value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + (*p - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
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
