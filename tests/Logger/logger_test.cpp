#include <gtest/gtest.h>

#include <boost/lexical_cast.hpp>

#include <stdexcept>
#include <string>

#include "Logger/LoggerFixture.h"
#include "Common/CodePage.h"
#include "Logger/Reports.h"

using logger::Logger;

TEST(LocationHash, KnownValues) {
    EXPECT_EQ(logger::LocationHash(L""), 0);
    EXPECT_EQ(logger::LocationHash(L"a"), 97);
    EXPECT_EQ(logger::LocationHash(L"ab"), 15167409);
    EXPECT_EQ(logger::LocationHash(L"Logger/Logger.cpp (42)"), 1288636807);
    EXPECT_EQ(logger::LocationHash(L"Лог (7)"), 1077430830);
    // Characters beyond the 16-bit range count as their two UTF-16 units.
    EXPECT_EQ(logger::LocationHash(L"\U0001F600"), 486607027);
}

TEST_F(LoggerTest, MessageTextTakesWideNarrowAndNumbers) {
    Logger::Activate(logger::Mock);
    const std::string narrow = "Привет";
    LOG_INFO(L"x=" << 42 << ' ' << -7L << " " << 2.5 << L' ' << narrow << " " << 3u << " " << true);
    EXPECT_EQ(Mock(), L"info:\tx=42 -7 2.5 Привет 3 1\n");
}

TEST_F(LoggerTest, FilterTwoWritesErrorsAndWarningsOnly) {
    Logger::SetOption(logger::OptionFilter, L"2");
    Logger::Activate(logger::Mock);
    LOG_WARNING(L"w");
    LOG_INFO(L"i");
    try {
        LOG_ERROR(L"e");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "error");
    }
    logger::Logger::Message silent(logger::Silent, "silent", __LINE__, __FILE__, "void f()");
    silent << L"s";
    silent.Commit();
    EXPECT_EQ(Mock(), L"warning:\tw\nerror:\te\n");
}

TEST_F(LoggerTest, SilentMessagesAreNeverWritten) {
    Logger::Activate(logger::Mock);
    logger::Logger::Message silent(logger::Silent, "silent", __LINE__, __FILE__, "void f()");
    silent << L"never";
    silent.Commit();
    EXPECT_EQ(Mock(), L"");
}

TEST_F(LoggerTest, WithoutRepetitionsEachLocationIsWrittenOnce) {
    Logger::SetOption(logger::OptionRepetitions, L"0");
    Logger::Activate(logger::Mock);
    for (int i = 0; i < 3; ++i) LOG_WARNING(L"loop " << i);
    LOG_WARNING(L"other line");
    EXPECT_EQ(Mock(), L"warning:\tloop 0\nwarning:\tother line\n");
    Logger::SetOption(logger::OptionRepetitions, L"1");
    for (int i = 0; i < 2; ++i) LOG_WARNING(L"again " << i);
    EXPECT_EQ(Mock(), L"warning:\tloop 0\nwarning:\tother line\nwarning:\tagain 0\nwarning:\tagain 1\n");
}

TEST_F(LoggerTest, DisabledLoggingWritesNothingButErrorStillThrows) {
    Logger::Activate(logger::Mock);
    Logger::SetOption(logger::OptionEnable, L"0");
    LOG_WARNING(L"hidden");
    try {
        LOG_ERROR(L"hidden error");
        FAIL() << "error must throw";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "");
    }
    logger::Logger::Message m(logger::Warning, "warning", 1, "a.cpp", "void f()");
    m << L"text";
    EXPECT_EQ(m.Text(), L"");
    EXPECT_EQ(m.Hash(), 0);
    Logger::SetOption(logger::OptionEnable, L"1");
    EXPECT_EQ(Mock(), L"");
}

TEST_F(LoggerTest, ErrorWritesThenThrowsTheLevelWord) {
    Logger::Activate(logger::Mock);
    EXPECT_THROW(LOG_ERROR(L"bad " << 1), std::runtime_error);
    EXPECT_EQ(Mock(), L"error:\tbad 1\n");
}

TEST_F(LoggerTest, FatalEndsTheProcessWithCodeOneEvenWithNothingActive) {
    EXPECT_EXIT(LOG_FATAL(L"конец"), ::testing::ExitedWithCode(1), "");
    Logger::SetOption(logger::OptionFilter, L"broken");
    EXPECT_EXIT(LOG_FATAL(L"конец"), ::testing::ExitedWithCode(1), "");
}

TEST_F(LoggerTest, NonNumericFilterThrowsAtThePointOfUse) {
    Logger::Activate(logger::Mock);
    Logger::SetOption(logger::OptionFilter, L"many");
    EXPECT_THROW(LOG_WARNING(L"w"), boost::bad_lexical_cast);
    // An error still ends in its own exception.
    EXPECT_THROW(LOG_ERROR(L"e"), std::runtime_error);
    EXPECT_THROW(Logger::SetOption(logger::OptionOutput, L"six"), boost::bad_lexical_cast);
}

TEST_F(LoggerTest, ActivationRules) {
    Logger& log = Logger::Instance();
    Logger::Activate(logger::OutputVS);
    Logger::Activate(4);
    Logger::Activate(7);
    EXPECT_TRUE(log.ActiveReports().empty());
    Logger::Activate(logger::Mock);
    Logger::Activate(logger::Mock);
    EXPECT_EQ(log.ActiveReports(), std::vector<int>{logger::Mock});
    Logger::SetOption(logger::OptionOutput, L"0");
    EXPECT_EQ(log.ActiveReports(), (std::vector<int>{logger::Mock, logger::Console}));
    Logger::Activate(logger::AllReports);
    EXPECT_TRUE(log.ActiveReports().empty());
}

TEST_F(LoggerTest, SetOptionIgnoresEmptyValuesAndUnknownKeys) {
    Logger::SetOption(logger::OptionRolling, L"5");
    Logger::SetOption(logger::OptionRolling, L"");
    Logger::SetOption(logger::OptionRolling, nullptr);
    Logger::SetOption(9, L"1");
    Logger::SetOption(-1, L"1");
    EXPECT_EQ(Logger::Options()[logger::OptionRolling], L"5");
    EXPECT_EQ(Logger::Options().Int(logger::OptionRolling), 5);
}

TEST_F(LoggerTest, ConsoleRowsCarryTimeLevelTextAndLocation) {
    ::testing::internal::CaptureStdout();
    Logger::Activate(logger::Console);
    LOG_WARNING(L"Не найден файл " << "a.x");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(" Version: "), std::string::npos);
    const std::string row = VORTALEX::codepage::ToUtf8(L" warning:\tНе найден файл a.x\ttests/Logger/logger_test.cpp (");
    EXPECT_NE(out.find(row), std::string::npos) << out;
    const std::size_t bracket = out.rfind("\n[");
    ASSERT_NE(bracket, std::string::npos);
    EXPECT_EQ(out[bracket + 4], '\'');  // [HH'MM'SS]
    EXPECT_EQ(out[bracket + 10], ']');
}

TEST(OutputVSReport, LinePadsTheLocationWithDashesToColumnEighty) {
    const std::wstring line = logger::OutputVSReport::FormatLine("warning", 7, "a.cpp", L"текст");
    ASSERT_GE(line.size(), 80u);
    EXPECT_EQ(line.substr(0, 10), L"a.cpp(7): ");
    EXPECT_EQ(line.substr(10, 70), std::wstring(70, L'-'));
    EXPECT_EQ(line.substr(80), L" warning: текст");
    const std::string longPath(90, 'p');
    EXPECT_EQ(logger::OutputVSReport::FormatLine("info", 1, longPath, L"t"),
              std::wstring(90, L'p') + L"(1):  info: t");
}
