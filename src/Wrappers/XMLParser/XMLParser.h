#pragma once
// XML parser wrapper: a cursor over an XML tree behind the IXMLParser
// interface, with impRapidXML (RapidXml over wide text) as the implementation.
// The cursor is either at document level or on one element.

#include <string>
#include <string_view>

#include "Common/Exception.h"
#include "Wrappers/Base/Wrapper.h"

namespace VORTALEX::xml_parser {

class IXMLParser : public wrappers::IBaseInterface {
public:
    class XMLException : public VORTALEX::Exception {
    public:
        enum Code {
            Unknown = 0,         // "Неизвестное исключение."
            OpenFile = 1,        // "Ошибка открытия файла"
            ReadFile = 2,        // "Ошибка чтения файла"
            ParseFile = 3,       // "Ошибка разбора файла"
            BadPointer = 4,      // "Передан неверный указатель"
            SaveFile = 5,        // "Ошибка при сохранении файла"
            DocumentAttribute = 6,  // "Попытка изменить атрибут документа"
            DocumentValue = 7,   // "Попытка изменить значение документа"
            NoParent = 8,        // "Попытка перехода к несуществующему родительскому узлу"
        };
        XMLException(int code, std::wstring detail = {});
    };

    // Replaces the document with other's: shallow shares other's document
    // and starts at other's current element; deep copies that element.
    virtual void CopyFrom(IXMLParser* other, bool deep) = 0;
    virtual void LoadFromMemory(const char* text, int length, std::wstring_view name) = 0;
    // An empty path leaves an empty document. locale names the code page of
    // undeclared non-UTF-8 text ("Russian": Windows-1251).
    virtual void LoadFile(std::wstring_view path, const char* locale) = 0;
    // An empty path means the one the document was loaded from.
    virtual bool SaveFile(std::wstring_view path) = 0;
    // A null name means the first attribute; a missing one gives "".
    virtual std::wstring GetAttribute(const wchar_t* name) = 0;
    virtual void SetAttribute(const wchar_t* name, const wchar_t* value) = 0;
    virtual std::wstring GetValue() = 0;
    virtual void AddChild(const wchar_t* name, bool enter) = 0;
    virtual void ToRoot() = 0;
    virtual bool Reserved(const wchar_t* first, const wchar_t* second, int third) = 0;
    virtual void ToParent() = 0;
    // A null or empty name matches any element.
    virtual bool FirstChild(const wchar_t* name) = 0;
    virtual bool NextSibling(const wchar_t* name) = 0;
};

// The implementation names of this family, by index.
const wchar_t* XMLParserImplementation(int index);

class XMLParser : public wrappers::Wrapper {
public:
    // Takes the implementation of that index and starts with an empty document.
    explicit XMLParser(int index);

    IXMLParser* operator->() const { return Get(); }
    IXMLParser* Get() const { return static_cast<IXMLParser*>(implementation_); }
};

class SpecialXMLParser : public XMLParser {
public:
    SpecialXMLParser() : XMLParser(0) {}
};

}  // namespace VORTALEX::xml_parser
