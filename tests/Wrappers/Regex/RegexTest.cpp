#include "Wrappers/Regex/Regex.h"

#include <gtest/gtest.h>

#include <string>

#include "Wrappers/WrapperTestSupport.h"

using VORTALEX::regex::Regex;
using VORTALEX::regex::SpecialRegex;
using wrapper_test::ExceptionText;
using wrapper_test::kUnavailableLibrary;

TEST(Regex, WrapperPicksXpressiveAndRefusesOtherNames)
{
    SpecialRegex re;
    EXPECT_EQ(re->GetName(), L"implBoostXpressive");
    EXPECT_EQ(ExceptionText([] { Regex boostRegex(L"implBoostRegex"); }),
              kUnavailableLibrary);
}

TEST(Regex, MatchIsWholeTextAndPartialAcceptsPrefixes)
{
    SpecialRegex re;
    re->Compile(L"(\\w+)\\.(dds|png)", false);
    EXPECT_TRUE(re->Match(L"grass.dds", false));
    EXPECT_EQ(re->GetMatchCount(), 2u);
    EXPECT_EQ(re->GetMatch(0), L"grass");
    EXPECT_EQ(re->GetMatch(1), L"dds");
    EXPECT_EQ(re->GetWholeMatch(), L"grass.dds");
    EXPECT_FALSE(re->Match(L"textures\\grass.dds", false));
    EXPECT_FALSE(re->Match(L"grass.DDS", false));
    EXPECT_FALSE(re->Match(L"grass.d", false));
    EXPECT_TRUE(re->Match(L"grass.d", true));

    re->Compile(L"(\\w+)\\.(dds|png)", true);
    EXPECT_TRUE(re->Match(L"GRASS.DDS", false));
    // Cyrillic text and case folding of wide characters.
    re->Compile(L"трава", true);
    EXPECT_TRUE(re->Match(L"трава", false));
}

TEST(Regex, SearchAndContinueThroughTheLastText)
{
    SpecialRegex re;
    EXPECT_FALSE(re->Search(nullptr, false)) << "nothing to continue before any search";
    re->Compile(L"(\\d+)", false);
    ASSERT_TRUE(re->Search(L"x=10, y=200, z=3", false));
    EXPECT_EQ(re->GetWholeMatch(), L"10");
    ASSERT_TRUE(re->Search(nullptr, false));
    EXPECT_EQ(re->GetMatch(0), L"200");
    ASSERT_TRUE(re->Search(nullptr, false));
    EXPECT_EQ(re->GetWholeMatch(), L"3");
    EXPECT_FALSE(re->Search(nullptr, false));
    EXPECT_FALSE(re->Search(nullptr, false)) << "stays finished";

    // Word boundaries see the character before the continuation point.
    re->Compile(L"\\bab", false);
    ASSERT_TRUE(re->Search(L"ab xab ab", false));
    ASSERT_TRUE(re->Search(nullptr, false));
    EXPECT_EQ(re->GetWholeMatch(), L"ab");
    EXPECT_FALSE(re->Search(nullptr, false));

    // Empty matches still advance.
    re->Compile(L"a*", false);
    ASSERT_TRUE(re->Search(L"baab", false));
    int found = 1;
    std::wstring nonEmpty;
    while (re->Search(nullptr, false) && found < 20) {
        ++found;
        if (!re->GetWholeMatch().empty())
            nonEmpty = re->GetWholeMatch();
    }
    EXPECT_LT(found, 20);
    EXPECT_EQ(nonEmpty, L"aa");
}

TEST(Regex, ReplaceEveryMatch)
{
    SpecialRegex re;
    re->Compile(L"(\\w+)\\\\", false);
    EXPECT_EQ(re->Replace(L"meshes\\box.x", L"$1/", false), L"meshes/box.x");
    re->Compile(L"o", false);
    EXPECT_EQ(re->Replace(L"foo boo", L"0", false), L"f00 b00");
    EXPECT_EQ(re->Replace(L"", L"0", false), L"");
}

TEST(Regex, MatchIndexAndUnimplementedOperationThrow)
{
    SpecialRegex re;
    re->Compile(L"abc", false);
    ASSERT_TRUE(re->Match(L"abc", false));
    EXPECT_EQ(re->GetMatchCount(), 0u);
    EXPECT_EQ(ExceptionText([&] { re->GetMatch(0); }), "implBoostXpressive::GetMatch(): index not valid");
    re->Compile(L"(a)(b)", false);
    ASSERT_TRUE(re->Match(L"ab", false));
    EXPECT_EQ(ExceptionText([&] { re->GetMatch(2); }), "implBoostXpressive::GetMatch(): index not valid");
    EXPECT_FALSE(re->Match(L"zz", false));
    EXPECT_EQ(re->GetMatchCount(), 0u) << "a failed match leaves no sub-matches";
    EXPECT_EQ(ExceptionText([&] { re->Split(L"a,b"); }), "Не реализовано");
}
