#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Common/CodePage.h"
#include "Logger/LoggerFixture.h"
#include "Logger/Reports.h"
#include "Wrappers/XMLParser/XMLSettings.h"

namespace fs = std::filesystem;
using logger::Logger;

namespace {

std::vector<fs::path> Files(const fs::path& folder, const std::string& extension = "") {
    std::vector<fs::path> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && (extension.empty() || entry.path().extension() == extension)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string Cp1251(const std::wstring& text) { return VORTALEX::codepage::ToCp1251(text); }

std::size_t Count(const std::string& text, const std::string& piece) {
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

const std::string kTrailer = "</body></html>\n";

}  // namespace

TEST_F(LoggerTest, HtmlFileIsCompleteAfterEveryMessage) {
    Logger::Activate(logger::HTML);
    const auto files = Files(logs, ".html");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().front(), '[');
    std::string html = ScratchFolder::Read(files[0]);
    EXPECT_EQ(html.rfind("<html><body>\n<table width=95% align=center", 0), 0u);
    EXPECT_NE(html.find("<font size=5 color=#FFFF00><b> Tarnwick.exe </b></font></td>\n"), std::string::npos);
    EXPECT_NE(html.find("<font size=4 color=#FFFF00> Version: " + logger::VersionText() + " </font>"), std::string::npos);
    EXPECT_EQ(html.substr(html.size() - kTrailer.size()), kTrailer);

    for (int i = 1; i <= 3; ++i) {
        LOG_WARNING(L"Не найден файл " << i);
        html = ScratchFolder::Read(files[0]);
        EXPECT_EQ(Count(html, kTrailer), 1u);
        EXPECT_EQ(html.substr(html.size() - kTrailer.size()), kTrailer);
        EXPECT_EQ(Count(html, "<table frame=void"), static_cast<std::size_t>(i));
    }
    EXPECT_NE(html.find(Cp1251(L"<td bgcolor=#FFFFC0><font face=Verdana size=2><b>&nbsp;Не найден файл 3</b></font></td>\n")),
              std::string::npos);
    EXPECT_NE(html.find("<td bgcolor=#FFFFC0 width=70px><font face=Verdana size=2><b>&nbsp;warning</b></font></td>\n"),
              std::string::npos);
    // The short path: only the file name of the source.
    EXPECT_TRUE(std::regex_search(html, std::regex("<td bgcolor=#FFFFC0  width=250px align=right><font face=Verdana "
                                                   "size=2>reports_test\\.cpp \\([0-9]+\\)&nbsp;</font></td>\n")));
    Logger::SetOption(logger::OptionFilter, L"3");
    LOG_INFO(L"info");
    html = ScratchFolder::Read(files[0]);
    EXPECT_NE(html.find("<td bgcolor=#C0FFC0 width=70px>"), std::string::npos);
}

TEST_F(LoggerTest, TextReportHeaderAndRows) {
    Logger::Activate(logger::Text);
    const auto files = Files(logs, ".log");
    ASSERT_EQ(files.size(), 1u);
    LOG_WARNING(L"Запуск " << 1);
    const std::string text = ScratchFolder::Read(files[0]);
    const std::string header = "\n============================== Version: " + logger::VersionText() +
                               " ==============================\n\n";
    ASSERT_EQ(text.rfind(header, 0), 0u);
    const std::string row = text.substr(header.size());
    const std::regex expected("\\[[0-9]{4}\\.[0-9]{2}\\.[0-9]{2} [0-9]{2}'[0-9]{2}'[0-9]{2}\\] warning:\t" +
                              Cp1251(L"Запуск 1") + "\ttests/Logger/reports_test\\.cpp \\([0-9]+\\)\n");
    EXPECT_TRUE(std::regex_match(row, expected)) << row;
}

TEST_F(LoggerTest, TestReportsAreWiredInAndCarryNoRealTime) {
    Logger& log = Logger::Instance();
    ASSERT_TRUE(log.Wire(4, &log.GetTestReport(0)));
    ASSERT_TRUE(log.Wire(5, &log.GetTestReport(1)));
    EXPECT_FALSE(log.Wire(4, &log.GetTestReport(1)));  // the slot is taken
    Logger::Activate(4);
    Logger::Activate(5);
    LOG_WARNING(L"Проверка");
    EXPECT_EQ(Files(logs, ".test").size(), 2u);
    const std::string expected = "[DD.MM.YYYY HH:MM:SS]\nVersion: ...\n\n[DD.MM.YYYY HH:MM:SS]\n"
                                 "tests/Logger/reports_test.cpp (" + std::to_string(__LINE__ - 3) +
                                 "): warning\n" + Cp1251(L"Проверка") + "\n\n";
    EXPECT_EQ(ScratchFolder::Read(logs / "test.log"), expected);
    EXPECT_EQ(ScratchFolder::Read(logs / "test2.log"), expected);
    Logger::Activate(logger::AllReports);
    EXPECT_TRUE(log.Wire(4, nullptr));
    EXPECT_TRUE(log.Wire(5, nullptr));
}

TEST_F(LoggerTest, LogFileNamesCountUpWhileTheNameIsTaken) {
    const std::wstring folder = Wide(logs);
    const std::wstring first = logger::MakeLogFilePath(L".html", L"[2024.02.01 18'50'00]");
    EXPECT_EQ(first, folder + L"\\[2024.02.01 18'50'00].html");
    ASSERT_TRUE(fs::is_directory(logs));  // made on demand
    ScratchFolder::Write(VORTALEX::MapPath(first), "x");
    EXPECT_EQ(logger::MakeLogFilePath(L".html", L"[2024.02.01 18'50'00]"),
              folder + L"\\[2024.02.01 18'50'00]_0001.html");
    ScratchFolder::Write(logs / "[2024.02.01 18'50'00]_0001.html", "x");
    EXPECT_EQ(logger::MakeLogFilePath(L".html", L"[2024.02.01 18'50'00]"),
              folder + L"\\[2024.02.01 18'50'00]_0002.html");
    // A folder of that name doesn't count as a taken file name.
    fs::create_directory(logs / "base.log");
    EXPECT_EQ(logger::MakeLogFilePath(L".log", L"base"), folder + L"\\base.log");
}

TEST_F(LoggerTest, PruningKeepsTheRollingCountOfTheNewestFiles) {
    fs::create_directories(logs);
    for (int day = 1; day <= 5; ++day) {
        ScratchFolder::Write(logs / ("[2020.01.0" + std::to_string(day) + " 10'00'00].html"), "old");
    }
    ScratchFolder::Write(logs / "notes.txt", "not a log");
    Logger::SetOption(logger::OptionRolling, L"2");
    Logger::Activate(logger::HTML);
    const auto left = Files(logs);
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left[0].filename(), "[2020.01.05 10'00'00].html");
    EXPECT_NE(left[1].filename().string().find("[20"), std::string::npos);
    EXPECT_GT(left[1].filename(), left[0].filename());
    EXPECT_EQ(left[2].filename(), "notes.txt");  // only the logger's own files are pruned
}

TEST_F(LoggerTest, NegativeRollingSwitchesPruningOff) {
    fs::create_directories(logs);
    for (int day = 1; day <= 3; ++day) {
        ScratchFolder::Write(logs / ("[2020.01.0" + std::to_string(day) + " 10'00'00].log"), "old");
    }
    Logger::SetOption(logger::OptionRolling, L"-1");
    Logger::Activate(logger::Text);
    EXPECT_EQ(Files(logs).size(), 4u);
    Logger::Activate(logger::AllReports);
    Logger::SetOption(logger::OptionRolling, L"0");
    logger::PruneLogFolder();
    EXPECT_EQ(Files(logs).size(), 0u);
}

TEST_F(LoggerTest, SizeLimitStartsANewFileWithItsOwnHeader) {
    Logger::SetOption(logger::OptionLimit, L"1000");
    Logger::Activate(logger::HTML);
    ASSERT_EQ(Files(logs, ".html").size(), 1u);
    int written = 0;
    while (Files(logs, ".html").size() == 1 && written < 50) {
        LOG_WARNING(L"message " << written);
        ++written;
    }
    const auto files = Files(logs, ".html");
    ASSERT_EQ(files.size(), 2u);
    const std::string first = ScratchFolder::Read(files[0]);
    const std::string second = ScratchFolder::Read(files[1]);
    EXPECT_GT(first.size(), 1000u);
    EXPECT_LT(first.size() - kTrailer.size(), 1000u + 800u);
    EXPECT_EQ(second.rfind("<html><body>", 0), 0u);
    EXPECT_NE(second.find("message " + std::to_string(written - 1) + "<"), std::string::npos);
    EXPECT_EQ(first.find("message " + std::to_string(written - 1) + "<"), std::string::npos);
    EXPECT_EQ(second.substr(second.size() - kTrailer.size()), kTrailer);
}

TEST_F(LoggerTest, BrokenLimitNeverStopsWriting) {
    Logger::SetOption(logger::OptionLimit, L"lots");
    Logger::Activate(logger::Text);
    for (int i = 0; i < 20; ++i) EXPECT_NO_THROW(LOG_WARNING(L"still written " << i));
    const auto files = Files(logs, ".log");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(ScratchFolder::Read(files[0]).find("still written 19"), std::string::npos);
}

TEST_F(LoggerTest, ReportThatCannotOpenThrowsAndStaysInactive) {
    ScratchFolder::Write(dir / "blocked", "a file where the folder should be");
    Logger::SetOption(logger::OptionFolder, Wide(dir / "blocked").c_str());
    try {
        Logger::Activate(logger::Text);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "TextReport: не открыт лог-файл.");
    }
    EXPECT_THROW(Logger::Activate(logger::HTML), std::exception);
    EXPECT_TRUE(Logger::Instance().ActiveReports().empty());
    EXPECT_NO_THROW(LOG_WARNING(L"nothing open"));
}

TEST_F(LoggerTest, SavingOptionsWritesTheLoggerSection) {
    Logger::SetOption(logger::OptionRolling, L"7");
    Logger::SetOption(logger::OptionSave, L"0");
    {
        VORTALEX::XMLSettings settings(L"Logger", Wide(dir / "settings.xml").c_str());
        EXPECT_EQ(settings.GetParameter(L"Enable"), L"1");
        EXPECT_EQ(settings.GetParameter(L"Output"), L"3");
        EXPECT_EQ(settings.GetParameter(L"Folder"), Wide(logs));
        EXPECT_EQ(settings.GetParameter(L"Rolling"), L"7");
        EXPECT_EQ(settings.GetParameter(L"Limit"), L"0");
        EXPECT_EQ(settings.GetParameter(L"Filter"), L"4");
        EXPECT_EQ(settings.GetParameter(L"Repetitions"), L"1");
    }
    const std::string bytes = ScratchFolder::Read(dir / "settings.xml");
    EXPECT_LT(bytes.find("\"Enable\""), bytes.find("\"Output\""));
    EXPECT_LT(bytes.find("\"Output\""), bytes.find("\"Folder\""));
    EXPECT_LT(bytes.find("\"Filter\""), bytes.find("\"Repetitions\""));

    const std::wstring other = Wide(dir / "other.xml");
    Logger::SetOption(logger::OptionSave, other.c_str());
    VORTALEX::XMLSettings settings(L"Logger", other.c_str());
    EXPECT_EQ(settings.GetParameter(L"Rolling"), L"7");
}

namespace {
// A real fault, not one that the undefined-behaviour checks of a sanitizer
// build stop before it happens.
__attribute__((noinline, no_sanitize("undefined"))) void CrashBySegfault() {
    volatile int* volatile nowhere = nullptr;   // not known to be null, so the store stays
    *nowhere = 1;
}
}  // namespace

TEST_F(LoggerTest, FatalSignalLeavesACrashReportInTheLogFolder) {
    EXPECT_EXIT(CrashBySegfault(), ::testing::KilledBySignal(SIGSEGV), "");
    auto dumps = Files(logs, ".dmp");
    ASSERT_EQ(dumps.size(), 1u);
    const std::string name = dumps[0].filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex("\\[[0-9]{4}\\.[0-9]{2}\\.[0-9]{2} [0-9]{2}'[0-9]{2}'[0-9]{2}'[0-9]{3}\\]"
                                                  " Tarnwick\\.exe Version [^:]*\\.dmp")))
        << name;
    const std::string report = ScratchFolder::Read(dumps[0]);
    EXPECT_NE(report.find("Signal: 11 (SIGSEGV)"), std::string::npos);
    EXPECT_NE(report.find("Fault address: 0x0000000000000000"), std::string::npos);
    EXPECT_NE(report.find("Backtrace:\n"), std::string::npos);
#if defined(__x86_64__)
    EXPECT_NE(report.find("  rip = 0x"), std::string::npos);
#endif
    fs::remove(dumps[0]);
    EXPECT_EXIT(std::abort(), ::testing::KilledBySignal(SIGABRT), "");
    dumps = Files(logs, ".dmp");
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_NE(ScratchFolder::Read(dumps[0]).find("Signal: 6 (SIGABRT)"), std::string::npos);
}
