#pragma once
// The settings file: top-level "entity" elements, one per section (attribute
// "name"), each holding one empty "entity" element per parameter (attributes
// "name" and "value"). Loaded whole on construction, written back on
// destruction when anything was set.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>

#include "Wrappers/XMLParser/XMLParser.h"

namespace VORTALEX {

class XMLSettings {
public:
    // A null or empty path means the "settings.xml" in the program's folder.
    // A missing, empty or unparsable file reads as an empty tree.
    explicit XMLSettings(const wchar_t* section = nullptr, const wchar_t* path = nullptr);
    XMLSettings(const XMLSettings&) = delete;
    XMLSettings& operator=(const XMLSettings&) = delete;
    // Saves when modified; a failed save throws XMLException 5 (unless an
    // exception is already propagating, where it is dropped).
    virtual ~XMLSettings() noexcept(false);

    // Selects a section (case-sensitive), creating it in memory when missing.
    void SetSection(const wchar_t* name);
    // Leaves the cursor on the parameter and returns true when found.
    bool FindParameter(const wchar_t* name);
    std::wstring GetParameter(const wchar_t* name);
    int GetParameterInt(const wchar_t* name);
    // As GetParameter; an empty result throws "XMLSettings: Not find parameter.".
    std::wstring RequireParameter(const wchar_t* name);
    void SetParameter(const wchar_t* name, const wchar_t* value);
    void SetParameter(const wchar_t* name, int value);

    const std::wstring& Path() const { return path_; }
    bool Modified() const { return modified_; }
    // Why the file could not be read (it exists but is unreadable or no
    // well-formed XML); empty when it was read or is missing. Such a file is
    // kept as "<file>.broken" before a save overwrites it.
    const std::wstring& LoadError() const { return loadError_; }

private:
    void KeepBrokenFile();

    xml_parser::SpecialXMLParser parser_;
    bool modified_ = false;
    std::wstring path_;
    std::wstring loadError_;
    // The unreadable file as it was read (a save by another object may have
    // replaced it since, and then it is no longer the one to keep).
    std::filesystem::file_time_type brokenTime_{};
    std::uintmax_t brokenSize_ = 0;
    int uncaught_ = std::uncaught_exceptions();
};

}  // namespace VORTALEX
