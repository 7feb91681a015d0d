#include <gtest/gtest.h>

#include "Common/CodePage.h"

namespace cp = VORTALEX::codepage;

TEST(CodePage, Cp1251RoundTripOfEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::wstring wide = cp::FromCp1251(all);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(wide[0xC0], L'А');
    EXPECT_EQ(wide[0xFF], L'я');
    EXPECT_EQ(wide[0xA8], L'Ё');
    EXPECT_EQ(wide[0xB8], L'ё');
    EXPECT_EQ(wide[0xB9], L'№');
    EXPECT_EQ(wide[0x88], L'€');
    EXPECT_EQ(cp::ToCp1251(wide), all);
}

TEST(CodePage, Cp1251ReplacesWhatItLacks) {
    EXPECT_EQ(cp::ToCp1251(L"Привет, мир"), "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0");
    EXPECT_EQ(cp::ToCp1251(L"a\u4E2Db\u00E9"), "a?b?");
    EXPECT_EQ(cp::ToCp1251Xml(L"a\u4E2Dя"), "a&#20013;\xFF");
    EXPECT_FALSE(cp::InCp1251(L'\u00E9'));
    EXPECT_TRUE(cp::InCp1251(L'Ґ'));
}

TEST(CodePage, Utf8RoundTripWithCyrillicAndAstralCharacters) {
    const std::wstring text = L"Ошибка разбора файла: \u20AC \U0001F600 ё";
    const std::string utf8 = cp::ToUtf8(text);
    EXPECT_TRUE(cp::IsValidUtf8(utf8));
    EXPECT_EQ(cp::FromUtf8(utf8), text);
    EXPECT_EQ(cp::ToUtf8(L"Я"), "\xD0\xAF");
}

TEST(CodePage, MalformedUtf8IsDetectedAndReplaced) {
    EXPECT_FALSE(cp::IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(cp::IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(cp::IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(cp::IsValidUtf8("abc\xD0"));           // truncated
    EXPECT_TRUE(cp::IsValidUtf8(""));
    EXPECT_EQ(cp::FromUtf8("a\xFF" "b"), L"a\uFFFDb");
    EXPECT_EQ(cp::ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(CodePage, DecodeTextPicksUtf8OrWindows1251) {
    EXPECT_EQ(cp::DecodeText("\xD0\x9F\xD1\x83\xD1\x82\xD1\x8C"), L"Путь");
    EXPECT_EQ(cp::DecodeText("\xCF\xF3\xF2\xFC"), L"Путь");
    EXPECT_EQ(cp::DecodeText("\xEF\xBB\xBFmesh"), L"mesh");
    EXPECT_EQ(cp::DecodeText("plain"), L"plain");
}

TEST(CodePage, CaseFoldingCoversCyrillic) {
    EXPECT_TRUE(cp::EqualsNoCase(L"ТЕКСТУРА.DDS", L"текстура.dds"));
    EXPECT_TRUE(cp::EqualsNoCase(L"Ёлка", L"ёЛКА"));
    EXPECT_TRUE(cp::EqualsNoCase(L"ЇЄІ", L"їєі"));
    EXPECT_FALSE(cp::EqualsNoCase(L"mesh1", L"mesh2"));
    EXPECT_FALSE(cp::EqualsNoCase(L"abc", L"abcd"));
}
