#include "Wrappers/XMLParser/impRapidXML.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <system_error>

#include <rapidxml/rapidxml_print.hpp>

#include "Common/CodePage.h"
#include "Common/FilePath.h"
#include "Common/StaleFiles.h"
#include "Common/XmlText.h"

namespace VORTALEX::xml_parser {
namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\n";

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The encoding named by the XML declaration, lower case; empty when none.
std::string DeclaredEncoding(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (bytes.substr(0, 5) != "<?xml") return {};
    const std::size_t end = bytes.find("?>");
    const std::string declaration = Lower(bytes.substr(0, end));
    const std::size_t at = declaration.find("encoding");
    if (at == std::string::npos) return {};
    const std::size_t quote = declaration.find_first_of("\"'", at);
    if (quote == std::string::npos) return {};
    const std::size_t close = declaration.find(declaration[quote], quote + 1);
    if (close == std::string::npos) return {};
    return declaration.substr(quote + 1, close - quote - 1);
}

// Windows-1251 when declared; UTF-8 when declared, or undeclared and valid;
// otherwise the code page of the locale (Windows-1251 for "Russian").
std::wstring DecodeXml(std::string_view bytes) {
    const std::string encoding = DeclaredEncoding(bytes);
    const bool cp1251 = encoding == "windows-1251" || encoding == "cp1251" || encoding == "cp-1251";
    const bool utf8 = encoding == "utf-8" || encoding == "utf8";
    if (!cp1251 && (utf8 || codepage::IsValidUtf8(bytes))) {
        if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        return codepage::FromUtf8(bytes);
    }
    return codepage::FromCp1251(bytes);
}

bool NameIs(const rapidxml::xml_node<wchar_t>* node, const wchar_t* name) {
    if (node->type() != rapidxml::node_element) return false;
    if (!name || !*name) return true;
    return std::wstring_view(node->name(), node->name_size()) == name;
}

// RapidXml turns a character reference into UTF-8 bytes (or one byte), which
// is wrong for wide text; references beyond ASCII are therefore replaced by
// their character before parsing. Comments and CDATA sections are left alone.
std::wstring ResolveWideReferences(std::wstring text) {
    if (text.find(L"&#") == std::wstring::npos) return text;
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 4, L"<!--") == 0 || text.compare(i, 9, L"<![CDATA[") == 0) {
            const bool comment = text[i + 2] == L'-';
            const std::size_t end = text.find(comment ? L"-->" : L"]]>", i);
            const std::size_t stop = end == std::wstring::npos ? text.size() : end + 3;
            out.append(text, i, stop - i);
            i = stop;
            continue;
        }
        if (text[i] == L'&' && i + 2 < text.size() && text[i + 1] == L'#') {
            std::size_t j = i + 2;
            const bool hex = text[j] == L'x';
            if (hex) ++j;
            unsigned long code = 0;
            const std::size_t digits = j;
            while (j < text.size() && j - digits < 8 &&
                   (std::iswdigit(static_cast<wint_t>(text[j])) || (hex && std::iswxdigit(static_cast<wint_t>(text[j]))))) {
                const wchar_t c = text[j];
                const unsigned long d = c <= L'9' ? static_cast<unsigned long>(c - L'0')
                                                  : static_cast<unsigned long>((c | 0x20) - L'a' + 10);
                code = code * (hex ? 16 : 10) + d;
                ++j;
            }
            if (j > digits && j < text.size() && text[j] == L';' && code >= 0x80 && code <= 0x10FFFF &&
                !(code >= 0xD800 && code <= 0xDFFF)) {
                out.push_back(static_cast<wchar_t>(code));
                i = j + 1;
                continue;
            }
        }
        out.push_back(text[i++]);
    }
    return out;
}

}  // namespace

const wchar_t* const impRapidXML::kName = L"impRapidXML";

VORTALEX_REGISTER_IMPLEMENTATION(impRapidXML, impRapidXML::kName)

bool RapidXMLRegistered() { return wrappers::WrapperRegistry::IsRegistered(impRapidXML::kName); }

void impRapidXML::Reset() {
    document_ = std::make_shared<Document>();
    current_ = nullptr;
    start_ = nullptr;
}

void impRapidXML::Parse(std::wstring text, std::wstring_view source) {
    Document& doc = *document_;
    text = ResolveWideReferences(std::move(text));
    // RapidXml recurses once per nesting level, while parsing and printing:
    // a file nested ever deeper would run the stack out. Markup is ASCII, so
    // the nesting is measured on the text with every other character as 'x'.
    std::string markup(text.size(), 'x');
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] >= 0 && text[i] < 0x80) markup[i] = static_cast<char>(text[i]);
    std::size_t tooDeep = 0;
    if (xml::ElementNesting(markup, xml::MaxElementNesting, tooDeep) > xml::MaxElementNesting) {
        const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(tooDeep), L'\n');
        std::wstring detail(source);
        detail += L'(';
        detail += std::to_wstring(line);
        detail += L"): elements nested too deeply";
        Reset();
        throw XMLException(XMLException::ParseFile, detail);
    }
    doc.text.assign(text.begin(), text.end());
    doc.text.push_back(L'\0');
    try {
        doc.xml.parse<rapidxml::parse_default>(doc.text.data());
    } catch (const rapidxml::parse_error& e) {
        // The buffer was changed while parsing; count lines in the original.
        const std::ptrdiff_t offset = e.where<wchar_t>() - doc.text.data();
        const auto position = static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size())));
        const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(position), L'\n');
        std::wstring detail(source);
        detail += L'(';
        detail += std::to_wstring(line);
        detail += L"): ";
        detail += codepage::FromUtf8(e.what());
        Reset();
        throw XMLException(XMLException::ParseFile, detail);
    }
    current_ = nullptr;
    start_ = nullptr;
}

void impRapidXML::LoadFile(std::wstring_view path, const char*) {
    Reset();
    path_ = path;
    if (path.empty()) return;
    const std::filesystem::path mapped = MapPath(path);
    std::error_code ec;
    // A folder opens as a stream here but is no file to read.
    if (std::filesystem::is_directory(mapped, ec)) throw XMLException(XMLException::OpenFile, std::wstring(path));
    std::ifstream in(mapped, std::ios::in | std::ios::binary);
    if (!in.is_open()) throw XMLException(XMLException::OpenFile, std::wstring(path));
    if (!in.seekg(0, std::ios::end)) throw XMLException(XMLException::ReadFile, std::wstring(path));
    const std::streamoff size = in.tellg();
    if (size < 0 || !in.seekg(0, std::ios::beg)) throw XMLException(XMLException::ReadFile, std::wstring(path));
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (size > 0 && !in.read(bytes.data(), size)) throw XMLException(XMLException::ReadFile, std::wstring(path));
    Parse(DecodeXml(bytes), path);
}

void impRapidXML::LoadFromMemory(const char* text, int length, std::wstring_view name) {
    if (!text || length <= 0) throw XMLException(XMLException::Unknown);
    Reset();
    path_.clear();
    Parse(DecodeXml(std::string_view(text, static_cast<std::size_t>(length))), name);
}

std::wstring impRapidXML::Print() const {
    std::wstring out;
    rapidxml::print(std::back_inserter(out), document_->xml, 0);
    return out;
}

bool impRapidXML::SaveFile(std::wstring_view path) {
    lastSaveError_.clear();
    const std::wstring target(path.empty() ? std::wstring_view(path_) : path);
    if (target.empty()) {
        lastSaveError_ = L"no file name";
        return false;
    }
    std::string bytes = kDeclaration;
    bytes += codepage::ToCp1251Xml(Print());

    // Written beside the old file, flushed to the disk and renamed over it,
    // so that a failed or interrupted save, or a power loss, never leaves a
    // truncated settings file behind.
    const std::filesystem::path final = MapPath(target);
    std::filesystem::path temporary = final;
    temporary += ".tmp" + std::to_string(::getpid());
    const bool saved = WriteFileDurably(final, temporary, bytes, lastSaveError_);
    if (saved) lastSaveError_.clear();
    return saved;
}

void impRapidXML::CopyFrom(IXMLParser* other, bool deep) {
    auto* source = dynamic_cast<impRapidXML*>(other);
    if (!source) throw XMLException(XMLException::BadPointer);
    if (!deep) {
        document_ = source->document_;
        start_ = source->current_;
        current_ = nullptr;
        path_.clear();
        return;
    }
    if (!source->current_) {
        Reset();
        path_.clear();
        return;
    }
    std::wstring text;
    rapidxml::print(std::back_inserter(text), *source->current_, 0);
    Reset();
    path_.clear();
    Parse(std::move(text), L"");
}

std::wstring impRapidXML::GetAttribute(const wchar_t* name) {
    if (!current_) throw XMLException(XMLException::DocumentAttribute);
    const rapidxml::xml_attribute<wchar_t>* attribute =
        name ? current_->first_attribute(name) : current_->first_attribute();
    if (!attribute) return {};
    return std::wstring(attribute->value(), attribute->value_size());
}

void impRapidXML::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!current_) throw XMLException(XMLException::DocumentAttribute);
    if (!name || !value) throw XMLException(XMLException::BadPointer);
    auto& xml = document_->xml;
    wchar_t* copy = xml.allocate_string(value);
    if (auto* attribute = current_->first_attribute(name)) {
        attribute->value(copy);
        return;
    }
    current_->append_attribute(xml.allocate_attribute(xml.allocate_string(name), copy));
}

std::wstring impRapidXML::GetValue() {
    if (!current_) throw XMLException(XMLException::DocumentValue);
    return std::wstring(current_->value(), current_->value_size());
}

void impRapidXML::AddChild(const wchar_t* name, bool enter) {
    if (!name) throw XMLException(XMLException::BadPointer);
    auto& xml = document_->xml;
    Node* node = xml.allocate_node(rapidxml::node_element, xml.allocate_string(name));
    Node* parent = current_ ? current_ : &xml;
    parent->append_node(node);
    if (enter) current_ = node;
}

void impRapidXML::ToRoot() { current_ = nullptr; }

void impRapidXML::ToParent() {
    if (!current_) throw XMLException(XMLException::NoParent);
    Node* parent = current_->parent();
    current_ = (!parent || parent->type() == rapidxml::node_document) ? nullptr : parent;
}

bool impRapidXML::FirstChild(const wchar_t* name) {
    if (!current_ && start_) {
        current_ = start_;
        return true;
    }
    Node* from = current_ ? current_ : &document_->xml;
    for (Node* child = from->first_node(); child; child = child->next_sibling()) {
        if (NameIs(child, name)) {
            current_ = child;
            return true;
        }
    }
    return false;
}

bool impRapidXML::NextSibling(const wchar_t* name) {
    if (!current_) return false;
    for (Node* sibling = current_->next_sibling(); sibling; sibling = sibling->next_sibling()) {
        if (NameIs(sibling, name)) {
            current_ = sibling;
            return true;
        }
    }
    return false;
}

}  // namespace VORTALEX::xml_parser
