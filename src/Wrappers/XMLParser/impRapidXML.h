#pragma once
// RapidXml behind IXMLParser: wide-character text parsed in place.

#include <memory>
#include <string>
#include <vector>

#include <rapidxml/rapidxml.hpp>

#include "Wrappers/XMLParser/XMLParser.h"

namespace VORTALEX::xml_parser {

class impRapidXML : public wrappers::PooledImplementation<impRapidXML, IXMLParser> {
public:
    static const wchar_t* const kName;

    std::wstring GetName() const override { return kName; }
    void CopyFrom(IXMLParser* other, bool deep) override;
    void LoadFromMemory(const char* text, int length, std::wstring_view name) override;
    void LoadFile(std::wstring_view path, const char* locale) override;
    bool SaveFile(std::wstring_view path) override;
    std::wstring GetAttribute(const wchar_t* name) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    std::wstring GetValue() override;
    void AddChild(const wchar_t* name, bool enter) override;
    void ToRoot() override;
    bool Reserved(const wchar_t*, const wchar_t*, int) override { return false; }
    void ToParent() override;
    bool FirstChild(const wchar_t* name) override;
    bool NextSibling(const wchar_t* name) override;

    // The whole document as the printer writes it (tabs for indentation).
    std::wstring Print() const;
    // Why the last SaveFile returned false (the failing step and the
    // system's reason); empty after a save that worked.
    const std::wstring& LastSaveError() const { return lastSaveError_; }

private:
    using Node = rapidxml::xml_node<wchar_t>;
    struct Document {
        rapidxml::xml_document<wchar_t> xml;
        std::vector<wchar_t> text;
    };

    void Reset();
    // Parses text (taken over as the document's buffer); errors name source.
    void Parse(std::wstring text, std::wstring_view source);

    std::shared_ptr<Document> document_ = std::make_shared<Document>();
    Node* current_ = nullptr;
    Node* start_ = nullptr;
    std::wstring path_;
    std::wstring lastSaveError_;
};

// Referenced by the wrapper so a static link keeps the registration.
bool RapidXMLRegistered();

}  // namespace VORTALEX::xml_parser
