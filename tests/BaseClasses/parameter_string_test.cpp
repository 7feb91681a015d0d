#include <gtest/gtest.h>

#include <cmath>

#include "BaseClasses/ParameterString.h"

using namespace ParameterString;

TEST(ParameterString, FieldsAreSplitAtSemicolonsAndTrimmed)
{
    EXPECT_EQ(GetField(L"  whole text\t", 0), L"whole text");
    EXPECT_EQ(GetField(L"whole", 1), L"");
    EXPECT_EQ(GetField(L"a; b ;", 2), L"");
    EXPECT_EQ(GetField(L"a;;c", 1), L"");
    EXPECT_EQ(GetField(L"a;;c", 2), L"c");
    EXPECT_EQ(GetField(L"\r\n one two \t;x", 0), L"one two");
    EXPECT_EQ(GetField(L"", 0), L"");
    EXPECT_EQ(GetField(L"a;b;c", 5), L"");
}

TEST(ParameterString, FloatsReadLikeTheCLibrary)
{
    EXPECT_FLOAT_EQ(ReadFloat(L"1.5"), 1.5f);
    EXPECT_FLOAT_EQ(ReadFloat(L"  -2.25e2xyz"), -225.0f);
    EXPECT_FLOAT_EQ(ReadFloat(L"12abc"), 12.0f);
    EXPECT_FLOAT_EQ(ReadFloat(L".5"), 0.5f);
    EXPECT_FLOAT_EQ(ReadFloat(L"5."), 5.0f);
    EXPECT_FLOAT_EQ(ReadFloat(L"3e"), 3.0f);      // an exponent without digits is not read
    EXPECT_FLOAT_EQ(ReadFloat(L"+7"), 7.0f);
    EXPECT_EQ(ReadFloat(L"abc"), 0.0f);
    EXPECT_EQ(ReadFloat(L""), 0.0f);
    EXPECT_EQ(ReadFloat(L"-"), 0.0f);
    EXPECT_EQ(ReadFloat(L"inf"), 0.0f);
    EXPECT_TRUE(std::isinf(ReadFloat(L"1e999")));
    EXPECT_EQ(ReadFloat(L"1e-999"), 0.0f);
}

TEST(ParameterString, IntegersStopAtTheFractionAndSaturate)
{
    EXPECT_EQ(ReadInt(L"42"), 42);
    EXPECT_EQ(ReadInt(L" -17.9"), -17);
    EXPECT_EQ(ReadInt(L"x5"), 0);
    EXPECT_EQ(ReadInt(L"99999999999"), 2147483647);
    EXPECT_EQ(ReadInt(L"-99999999999"), -2147483647 - 1);
}

TEST(ParameterString, ColoursSkipUpToTheFirstX)
{
    EXPECT_EQ(ReadColor(L"0xFF204060"), 0xFF204060u);
    EXPECT_EQ(ReadColor(L"FF204060"), 0xFF204060u);
    EXPECT_EQ(ReadColor(L"0x00ff00zz"), 0x0000FF00u);
    EXPECT_EQ(ReadColor(L""), 0u);
    EXPECT_EQ(ReadColor(L"0xGG"), 0u);
    EXPECT_EQ(ReadColor(L"0x123456789A"), 0xFFFFFFFFu);
}

TEST(ParameterString, FlagsCompareLowerCased)
{
    EXPECT_TRUE(ReadFlag(L"FALSE", L"false"));
    EXPECT_TRUE(ReadFlag(L"True", L"true"));
    EXPECT_FALSE(ReadFlag(L"yes", L"true"));
    EXPECT_EQ(ToLower(L"NotRender ПРИВЕТ Ёж"), L"notrender привет ёж");
}

TEST(ParameterString, ListsEndAtTheFirstEmptyField)
{
    EXPECT_EQ(ReadList(L"e; 0; t1; t2;; t3", 2), (std::vector<std::wstring>{L"t1", L"t2"}));
    EXPECT_EQ(ReadList(L"a;b", 0), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_TRUE(ReadList(L"a;b", 2).empty());
    EXPECT_TRUE(ReadList(L"", 0).empty());
}
