#include <gtest/gtest.h>

#include <string>

#include "Common/CodePage.h"
#include "Common/FilePath.h"
#include "Common/ScratchFolder.h"
#include "Wrappers/XMLParser/XMLParser.h"
#include "Wrappers/XMLParser/impRapidXML.h"
#include "Common/XmlText.h"

using namespace VORTALEX::xml_parser;
using XMLException = IXMLParser::XMLException;

namespace {

std::wstring Wide(const std::filesystem::path& p) { return VORTALEX::PathToWide(p); }

// Runs f and returns the code of the XMLException it throws (-1: none).
template <class F>
int CodeOf(F&& f, std::wstring* detail = nullptr) {
    try {
        f();
    } catch (const XMLException& e) {
        if (detail) *detail = e.GetDetail();
        return e.GetCode();
    }
    return -1;
}

void Load(SpecialXMLParser& p, const std::string& text) {
    p->LoadFromMemory(text.data(), static_cast<int>(text.size()), L"memory");
}

}  // namespace

TEST(XMLParser, WrapperStartsWithAnEmptyRapidXmlDocument) {
    SpecialXMLParser p;
    EXPECT_EQ(p->GetName(), L"impRapidXML");
    EXPECT_FALSE(p->FirstChild(nullptr));
    EXPECT_FALSE(p->NextSibling(nullptr));
    EXPECT_FALSE(p->Reserved(L"a", L"b", 1));
    EXPECT_STREQ(XMLParserImplementation(1), L"impTinyXML");
    // Index 1 names an implementation this system doesn't have.
    EXPECT_THROW(XMLParser(1), std::exception);
}

TEST(XMLParser, CursorWalksElementsByName) {
    SpecialXMLParser p;
    Load(p, "<root a=\"1\" b=\"two\"><x n=\"1\"/>text<y/><x n=\"2\">value</x></root>");
    ASSERT_TRUE(p->FirstChild(L"root"));
    EXPECT_EQ(p->GetAttribute(nullptr), L"1");
    EXPECT_EQ(p->GetAttribute(L"b"), L"two");
    EXPECT_EQ(p->GetAttribute(L"missing"), L"");
    ASSERT_TRUE(p->FirstChild(L"x"));
    EXPECT_EQ(p->GetAttribute(L"n"), L"1");
    ASSERT_TRUE(p->NextSibling(L"x"));
    EXPECT_EQ(p->GetAttribute(L"n"), L"2");
    EXPECT_EQ(p->GetValue(), L"value");
    EXPECT_FALSE(p->NextSibling(L"x"));
    EXPECT_EQ(p->GetAttribute(L"n"), L"2");  // the cursor stays
    p->ToParent();
    ASSERT_TRUE(p->FirstChild(L""));  // any element, skipping the text
    ASSERT_TRUE(p->NextSibling(nullptr));
    EXPECT_EQ(p->GetAttribute(L"n"), L"");  // <y/>
    p->ToParent();
    p->ToParent();
    EXPECT_EQ(CodeOf([&] { p->ToParent(); }), XMLException::NoParent);
    EXPECT_FALSE(p->FirstChild(L"Root"));  // names compare case-sensitively
}

TEST(XMLParser, DocumentLevelOperationsThrowTheirCodes) {
    SpecialXMLParser p;
    EXPECT_EQ(CodeOf([&] { p->GetAttribute(L"a"); }), XMLException::DocumentAttribute);
    EXPECT_EQ(CodeOf([&] { p->SetAttribute(L"a", L"b"); }), XMLException::DocumentAttribute);
    EXPECT_EQ(CodeOf([&] { p->GetValue(); }), XMLException::DocumentValue);
    EXPECT_EQ(CodeOf([&] { p->ToParent(); }), XMLException::NoParent);
    EXPECT_EQ(CodeOf([&] { p->LoadFromMemory(nullptr, 5, L"m"); }), XMLException::Unknown);
    EXPECT_EQ(CodeOf([&] { p->LoadFromMemory("<a/>", 0, L"m"); }), XMLException::Unknown);
    EXPECT_EQ(CodeOf([&] { p->CopyFrom(nullptr, true); }), XMLException::BadPointer);
}

TEST(XMLParser, ExceptionDescriptions) {
    XMLException e(XMLException::OpenFile, L"C:\\settings.xml");
    EXPECT_STREQ(e.what(), "Use Exception::GetDescription()");
    EXPECT_EQ(e.GetDescription(), L"Ошибка открытия файла: C:\\settings.xml");
    EXPECT_EQ(XMLException(8).GetDescription(), L"Попытка перехода к несуществующему родительскому узлу");
    EXPECT_EQ(XMLException(0).GetDescription(), L"Неизвестное исключение.");
    EXPECT_EQ(XMLException(42, L"x").GetDescription(), L"Неизвестное исключение.: x");
}

TEST(XMLParser, SetAttributeReplacesTheFirstOrAppends) {
    SpecialXMLParser p;
    p->AddChild(L"entity", true);
    p->SetAttribute(L"name", L"Video");
    p->SetAttribute(L"name", L"Видео");
    p->SetAttribute(L"extra", L"a<b&\"c\"");
    p->AddChild(L"child", false);
    EXPECT_EQ(p->GetAttribute(L"name"), L"Видео");
    auto* imp = static_cast<impRapidXML*>(p.Get());
    EXPECT_EQ(imp->Print(),
              L"<entity name=\"Видео\" extra='a&lt;b&amp;\"c\"'>\n\t<child/>\n</entity>\n\n");
    EXPECT_EQ(CodeOf([&] { p->SetAttribute(nullptr, L"x"); }), XMLException::BadPointer);
}

TEST(XMLParser, FileErrorsCarryThePathAndTheParseLine) {
    ScratchFolder dir;
    SpecialXMLParser p;
    std::wstring detail;
    const std::wstring missing = Wide(dir / "none.xml");
    EXPECT_EQ(CodeOf([&] { p->LoadFile(missing, "Russian"); }, &detail), XMLException::OpenFile);
    EXPECT_EQ(detail, missing);

    const auto broken = dir / "broken.xml";
    ScratchFolder::Write(broken, "<?xml version=\"1.0\"?>\n<a>\n<b x=1/>\n</a>\n");
    EXPECT_EQ(CodeOf([&] { p->LoadFile(Wide(broken), "Russian"); }, &detail), XMLException::ParseFile);
    EXPECT_EQ(detail.rfind(Wide(broken) + L"(3): ", 0), 0u) << VORTALEX::codepage::ToUtf8(detail);
    EXPECT_GT(detail.size(), Wide(broken).size() + 5);
    // After a failure the document is empty, not half-parsed.
    EXPECT_FALSE(p->FirstChild(nullptr));

    const std::string text = "<a>\n\n<unclosed>";
    EXPECT_EQ(CodeOf([&] { p->LoadFromMemory(text.data(), static_cast<int>(text.size()), L"mem"); }, &detail),
              XMLException::ParseFile);
    EXPECT_EQ(detail.rfind(L"mem(3): ", 0), 0u);
}

TEST(XMLParser, EncodingsFollowTheDeclarationOrTheBytes) {
    SpecialXMLParser p;
    Load(p, "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a v=\"\xCF\xF0\xE8\xE2\xE5\xF2\"/>");
    ASSERT_TRUE(p->FirstChild(L"a"));
    EXPECT_EQ(p->GetAttribute(L"v"), L"Привет");
    Load(p, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a v=\"\xD0\x9F\xD1\x80\xD0\xB8\"/>");
    ASSERT_TRUE(p->FirstChild(L"a"));
    EXPECT_EQ(p->GetAttribute(L"v"), L"При");
    Load(p, "\xEF\xBB\xBF<a v=\"\xD1\x8F\"/>");  // undeclared, valid UTF-8 with a mark
    ASSERT_TRUE(p->FirstChild(L"a"));
    EXPECT_EQ(p->GetAttribute(L"v"), L"я");
    Load(p, "<a v=\"\xFF\"/>");  // undeclared, not UTF-8: Windows-1251
    ASSERT_TRUE(p->FirstChild(L"a"));
    EXPECT_EQ(p->GetAttribute(L"v"), L"я");
    Load(p, "<a v=\"&#20013;&amp;\"/>");
    ASSERT_TRUE(p->FirstChild(L"a"));
    EXPECT_EQ(p->GetAttribute(L"v"), L"\u4E2D&");
}

TEST(XMLParser, SaveWritesWindows1251WithDeclarationAndTabs) {
    ScratchFolder dir;
    const auto file = dir / "out.xml";
    SpecialXMLParser p;
    p->AddChild(L"entity", true);
    p->SetAttribute(L"name", L"Лог");
    p->AddChild(L"entity", true);
    p->SetAttribute(L"value", L"中");
    ASSERT_TRUE(p->SaveFile(Wide(file)));
    EXPECT_EQ(ScratchFolder::Read(file),
              "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\n"
              "<entity name=\"\xCB\xEE\xE3\">\n\t<entity value=\"&#20013;\"/>\n</entity>\n\n");
    // Characters outside the code page survive a round trip.
    p->LoadFile(Wide(file), "Russian");
    ASSERT_TRUE(p->FirstChild(L"entity"));
    ASSERT_TRUE(p->FirstChild(L"entity"));
    EXPECT_EQ(p->GetAttribute(L"value"), L"中");
    // The remembered path is used when none is given; no temporary is left.
    EXPECT_TRUE(p->SaveFile(L""));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_FALSE(p->SaveFile(Wide(dir / "no/such/folder/x.xml")));
}

TEST(XMLParser, ShallowAndDeepCopies) {
    SpecialXMLParser source;
    Load(source, "<r><s name=\"a\"><p v=\"1\"/></s><s name=\"b\"/></r>");
    ASSERT_TRUE(source->FirstChild(L"r"));
    ASSERT_TRUE(source->FirstChild(L"s"));

    SpecialXMLParser shallow;
    shallow->CopyFrom(source.Get(), false);
    ASSERT_TRUE(shallow->FirstChild(L"ignored"));  // document level: goes to the start element
    EXPECT_EQ(shallow->GetAttribute(L"name"), L"a");
    shallow->SetAttribute(L"name", L"changed");
    EXPECT_EQ(source->GetAttribute(L"name"), L"changed");  // the document is shared

    SpecialXMLParser deep;
    deep->CopyFrom(source.Get(), true);
    ASSERT_TRUE(deep->FirstChild(L"s"));
    deep->SetAttribute(L"name", L"own");
    EXPECT_EQ(source->GetAttribute(L"name"), L"changed");
    ASSERT_TRUE(deep->FirstChild(L"p"));
    EXPECT_EQ(deep->GetAttribute(L"v"), L"1");

    source->ToRoot();
    deep->CopyFrom(source.Get(), true);
    EXPECT_FALSE(deep->FirstChild(nullptr));
}

TEST(XMLParser, AFolderInPlaceOfTheFileCannotBeOpened) {
    ScratchFolder dir;
    SpecialXMLParser p;
    std::wstring detail;
    const int code = CodeOf([&] { p->LoadFile(Wide(dir.path()), "Russian"); }, &detail);
    EXPECT_EQ(code, XMLException::OpenFile);
    EXPECT_EQ(detail, Wide(dir.path()));
}

TEST(XMLParser, TextNestedDeeperThanTheParserMayRecurseIsRefused) {
    SpecialXMLParser p;
    std::wstring detail;
    auto nested = [](int depth) {
        std::string text = "<?xml version=\"1.0\"?>\n<!-- <a><a><a> -->\n";
        for (int i = 0; i < depth; ++i) text += "<e a=\"<x>\">";
        text += "<![CDATA[<y><y><y>]]>";
        for (int i = 0; i < depth; ++i) text += "</e>";
        return text;
    };
    std::string text = nested(100000);
    EXPECT_EQ(CodeOf([&] { p->LoadFromMemory(text.data(), static_cast<int>(text.size()), L"deep"); }, &detail),
              XMLException::ParseFile);
    EXPECT_EQ(detail, L"deep(3): elements nested too deeply");
    EXPECT_FALSE(p->FirstChild(nullptr)) << "the document is empty after the refusal";

    // As deep as allowed, with markup inside comments, values and CDATA that
    // is no nesting: read, and printed back.
    text = nested(VORTALEX::xml::MaxElementNesting);
    p->LoadFromMemory(text.data(), static_cast<int>(text.size()), L"allowed");
    int depth = 0;
    while (p->FirstChild(L"e")) ++depth;
    EXPECT_EQ(depth, VORTALEX::xml::MaxElementNesting);
    auto* imp = dynamic_cast<VORTALEX::xml_parser::impRapidXML*>(p.Get());
    ASSERT_NE(imp, nullptr);
    EXPECT_GT(imp->Print().size(), 10000u);
    text = nested(VORTALEX::xml::MaxElementNesting + 1);
    EXPECT_EQ(CodeOf([&] { p->LoadFromMemory(text.data(), static_cast<int>(text.size()), L"one more"); }),
              XMLException::ParseFile);
}
