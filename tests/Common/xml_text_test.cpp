#include <gtest/gtest.h>

#include <string>

#include "Common/CodePage.h"
#include "Common/XmlText.h"

using VORTALEX::xml::ElementNesting;
using VORTALEX::xml::ToUtf8Document;

TEST(XmlText, NestingCountsElementsOnly)
{
    std::size_t where = 0;
    EXPECT_EQ(ElementNesting("<a><b><c/></b><b></b></a>", 10, where), 2) << "an empty element adds no level";
    EXPECT_EQ(ElementNesting("<?xml version=\"1.0\"?><!-- <x><y><z> --><a v=\"<b><c>\"><![CDATA[<d><e>]]></a>",
                             10, where),
              1)
        << "declarations, comments, CDATA and quoted values hold no elements";
    EXPECT_EQ(ElementNesting("<a v='>'><b/></a>", 10, where), 1);
    EXPECT_EQ(ElementNesting("", 10, where), 0);
    EXPECT_EQ(ElementNesting("<a><b", 10, where), 2) << "a text cut short still counts";

    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<e>";
    EXPECT_EQ(ElementNesting(deep, 1000, where), 1001) << "counting stops past the limit";
    EXPECT_EQ(where, 3000u) << "at the tag that passed it";
}

TEST(XmlText, DocumentsBecomeUtf8)
{
    const std::string cp1251 = VORTALEX::codepage::ToCp1251(L"<a n=\"Видео\"/>");
    const std::string utf8 = VORTALEX::codepage::ToUtf8(L"<a n=\"Видео\"/>");
    EXPECT_EQ(ToUtf8Document("<?xml version=\"1.0\" encoding=\"Windows-1251\"?>" + cp1251),
              "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>" + utf8);
    EXPECT_EQ(ToUtf8Document(cp1251), utf8) << "undeclared and not UTF-8: Windows-1251";
    EXPECT_EQ(ToUtf8Document(utf8), utf8);
    EXPECT_EQ(ToUtf8Document("<?xml version='1.0' encoding='utf-8'?>" + utf8), "<?xml version='1.0' encoding='utf-8'?>" + utf8);
    EXPECT_EQ(VORTALEX::xml::DeclaredEncoding("\xEF\xBB\xBF<?xml encoding=\"CP1251\"?><a/>"), "cp1251");
    EXPECT_EQ(VORTALEX::xml::DeclaredEncoding("<a/>"), "");
}
