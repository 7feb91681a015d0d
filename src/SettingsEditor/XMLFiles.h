#pragma once
// The two XML files the settings editor reads and writes through TinyXML:
// "settings.xml" (sections of "entity" elements holding "entity" parameters)
// and "modules\DefaultRenderState.xml" (top-level "entity" elements with
// "name", "class" and "value", a module file the engine loads). Files are
// read in the encoding their declaration names and written in Windows-1251.
// Each file is loaded whole on construction and saved on destruction.

#include <string>
#include <string_view>

#include <tinyxml.h>

// TinyXML as the editor uses it: names and values go in and out as wide
// strings, UTF-8 inside the document.
namespace C_XMLBase {
using ::TiXmlDocument;
using ::TiXmlElement;
using ::TiXmlNode;

std::string ToDocument(std::wstring_view text);
std::wstring FromDocument(const char* text);
}  // namespace C_XMLBase

// One XML file of the program folder. Loading never fails: a missing file
// starts from the empty document, a file that cannot be read or parsed
// (or nests deeper than any sane file) too, with a note saying why. Saving
// writes a temporary file beside the old one and renames it into place, so
// a failed save leaves the previous file whole; a file that could not be
// parsed is kept beside the new one as "<name>.broken" rather than lost.
class C_XMLFile {
public:
    C_XMLFile(const C_XMLFile&) = delete;
    C_XMLFile& operator=(const C_XMLFile&) = delete;

    // The path as the system writes it (program folder + "\" + name).
    const std::wstring& Path() const { return m_Path; }
    // What went wrong while loading or saving, each note one "\r\n"-ended
    // line for the log box; taking them empties the list.
    std::wstring TakeNotes();
    // Writes the document now; false (with a note) when it could not be.
    bool Save();
    // The document is not written at destruction (a run that only reads).
    void KeepFileUnchanged() { m_SaveOnDestruction = false; }

protected:
    // name: the file's path relative to the program folder, with '\'.
    explicit C_XMLFile(const wchar_t* name);
    // Saves the document; a failure shows a message box and goes on.
    virtual ~C_XMLFile();

    // A top-level "entity" element with that "name", or null.
    C_XMLBase::TiXmlElement* FindEntity(C_XMLBase::TiXmlNode* parent, std::wstring_view name);
    // As FindEntity, creating the element (with its "name") when missing;
    // null only when TinyXML refuses to add it.
    C_XMLBase::TiXmlElement* FindOrAddEntity(C_XMLBase::TiXmlNode* parent, std::wstring_view name);
    void Note(const std::wstring& line);

    C_XMLBase::TiXmlDocument m_Document;

private:
    void Load();
    void StartEmpty();

    std::wstring m_Name;
    std::wstring m_Path;
    std::wstring m_Notes;
    bool m_Broken = false;          // the file on disk could not be parsed
    bool m_SaveOnDestruction = true;
};

// "settings.xml" of the program folder, read and written by section.
class C_XMLSettings : public C_XMLFile {
public:
    C_XMLSettings();

    void SetSection(const wchar_t* name) { m_Section = name ? name : L""; }
    const std::wstring& Section() const { return m_Section; }

    // The parameter's "value" in the current section (the section is created
    // when missing); the empty text when there is none.
    std::wstring GetParameter(const wchar_t* name);
    // The value read as _wtoi reads it: leading blanks, a sign and digits;
    // out-of-range values saturate; anything else reads as 0.
    int GetParameterInt(const wchar_t* name);
    void SetParameter(const wchar_t* name, const wchar_t* value);
    void SetParameter(const wchar_t* name, int value);

private:
    std::wstring m_Section;
};

// "modules\DefaultRenderState.xml" of the program folder: one top-level
// "entity" per state object.
class C_XMLState : public C_XMLFile {
public:
    C_XMLState();

    // Finds or creates the entity of that name and sets its class and value.
    void SetState(const wchar_t* name, const wchar_t* className, const wchar_t* value);
    // The field-th (from 1) ';'-separated part of the entity's value with
    // blanks trimmed; empty when the entity or the part is missing.
    std::wstring GetState(const wchar_t* name, int field);
    // The entity's "class"; empty when the entity is missing.
    std::wstring GetStateClass(const wchar_t* name);
};

// Shows one of the editor's message boxes (caption "Vexamont").
void VexamontMessageBox(const std::wstring& text);
