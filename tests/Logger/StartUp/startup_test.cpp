// The logger reads its options once, on first use. Each case runs in a child
// process in which nothing has touched the logger yet; this program's own
// process never uses the logger.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Common/CodePage.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/ScratchFolder.h"
#include "Logger/CrashDump.h"
#include "Logger/Logger.h"

using logger::Logger;

namespace {

std::wstring Wide(const std::filesystem::path& p) { return VORTALEX::PathToWide(p); }

void WriteLoggerSection(const ScratchFolder& dir, const std::vector<std::pair<std::string, std::string>>& params) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\n<entity name=\"Video\"/>\n<entity name=\"Logger\">\n";
    for (const auto& [name, value] : params) {
        xml += "\t<entity name=\"" + name + "\" value=\"" + value + "\"/>\n";
    }
    xml += "</entity>\n";
    ScratchFolder::Write(dir / "settings.xml", xml);
}

// Ends the child: 0 when every check held, else the number of the first failure.
[[noreturn]] void Finish(const std::vector<bool>& checks) {
    for (std::size_t i = 0; i < checks.size(); ++i) {
        if (!checks[i]) {
            std::fprintf(stderr, "check %zu failed\n", i + 1);
            std::_Exit(static_cast<int>(10 + i));
        }
    }
    std::_Exit(0);
}

}  // namespace

TEST(LoggerStartUp, OptionsComeFromTheLoggerSectionAndBrokenNumbersKeepDefaults) {
    ScratchFolder dir;
    const std::string logs = (dir / "logs").string();
    WriteLoggerSection(dir, {{"Enable", "1"}, {"Output", "6"}, {"Folder", logs}, {"Rolling", "many"},
                             {"Limit", "x1"}, {"Filter", "3"}, {"Repetitions", "0"}});
    EXPECT_EXIT(
        {
            VORTALEX::OverrideProgramFolder(Wide(dir.path()));
            const logger::OptionTable& options = Logger::Options();
            for (int i = 0; i < 2; ++i) LOG_INFO(L"Запуск программы");
            LOG_WARNING(L"w");
            Finish({options[logger::OptionOutput] == L"6", options[logger::OptionFolder] == Wide(logs),
                    options[logger::OptionRolling] == L"10", options[logger::OptionLimit] == L"0",
                    options[logger::OptionFilter] == L"3", !options.Flag(logger::OptionRepetitions),
                    Logger::Instance().ActiveReports() == std::vector<int>{logger::Mock},
                    Logger::Instance().MockText() == L"info:\tЗапуск программы\nwarning:\tw\n"});
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(LoggerStartUp, WithoutASettingsFileTheDefaultsActivateNothingButFatalStillExits) {
    ScratchFolder dir;
    EXPECT_EXIT(
        {
            VORTALEX::OverrideProgramFolder(Wide(dir.path()));
            const logger::OptionTable& options = Logger::Options();
            if (options[logger::OptionEnable] != L"1" || options[logger::OptionFolder] != L"logger" ||
                options[logger::OptionOutput] != L"3" || options[logger::OptionRolling] != L"10" ||
                options[logger::OptionLimit] != L"0" || options[logger::OptionFilter] != L"4" ||
                options[logger::OptionRepetitions] != L"1" || !Logger::Instance().ActiveReports().empty()) {
                std::_Exit(20);
            }
            try {
                LOG_ERROR(L"e");
            } catch (const std::exception& e) {
                if (std::string(e.what()) != "error") std::_Exit(21);
            }
            LOG_FATAL(L"конец");
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "settings.xml"));
}

TEST(LoggerStartUp, AReportThatCannotOpenAtStartUpLeavesTheProgramRunning) {
    ScratchFolder dir;
    ScratchFolder::Write(dir / "blocked", "file");
    WriteLoggerSection(dir, {{"Output", "2"}, {"Folder", (dir / "blocked").string()}});
    EXPECT_EXIT(
        {
            VORTALEX::OverrideProgramFolder(Wide(dir.path()));
            Logger::Options();
            LOG_WARNING(L"no report");
            Finish({Logger::Instance().ActiveReports().empty()});
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(LoggerStartUp, SettingAnOptionFirstRunsTheStartUp) {
    ScratchFolder dir;
    WriteLoggerSection(dir, {{"Filter", "2"}, {"Folder", (dir / "logs").string()}});
    EXPECT_EXIT(
        {
            VORTALEX::OverrideProgramFolder(Wide(dir.path()));
            Logger::SetOption(logger::OptionOutput, L"2");
            LOG_WARNING(L"в HTML");
            Finish({Logger::Options()[logger::OptionFilter] == L"2",
                    Logger::Instance().ActiveReports() == std::vector<int>{logger::HTML},
                    std::filesystem::exists(dir / "logs")});
        },
        ::testing::ExitedWithCode(0), "");
}

namespace {
// A real fault, not one that the undefined-behaviour checks of a sanitizer
// build stop before it happens.
__attribute__((noinline, no_sanitize("undefined"))) void Segfault() {
    volatile int* volatile nowhere = nullptr;   // not known to be null, so the store stays
    *nowhere = 1;
}
std::size_t Dumps(const std::filesystem::path& folder) {
    std::size_t n = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        n += entry.path().extension() == ".dmp";
    return n;
}
}  // namespace

TEST(LoggerStartUp, ACrashBeforeTheOptionsAreReadLeavesItsReportInTheProgramsFolder) {
    ScratchFolder dir;
    const std::filesystem::path early = dir / "early";
    // Before anything else (while the settings are read, say).
    EXPECT_EXIT(
        {
            VORTALEX::OverrideProgramFolder(Wide(dir.path()));
            logger::SetEarlyCrashDumpFolder(Wide(early));
            Segfault();
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EQ(Dumps(early), 1u);
    // The logger's own default folder, taken at start-up, does not move the
    // reports away from there.
    EXPECT_EXIT(
        {
            VORTALEX::OverrideProgramFolder(Wide(dir.path()));
            logger::SetEarlyCrashDumpFolder(Wide(early));
            Logger::Options();
            Segfault();
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EQ(Dumps(early), 2u);
    // A folder chosen in the settings file is the user's choice and wins.
    WriteLoggerSection(dir, {{"Folder", (dir / "chosen").string()}});
    EXPECT_EXIT(
        {
            VORTALEX::OverrideProgramFolder(Wide(dir.path()));
            logger::SetEarlyCrashDumpFolder(Wide(early));
            Logger::Options();
            Segfault();
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EQ(Dumps(dir / "chosen"), 1u);
    EXPECT_EQ(Dumps(early), 2u);
}
