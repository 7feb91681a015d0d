#pragma once
// Puts the process-wide logger into a known state in a scratch folder: the
// program folder (where the settings file is looked for) and the log folder
// both point into it, every report is closed and the options are defaults.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/ScratchFolder.h"
#include "Logger/Logger.h"

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        VORTALEX::OverrideProgramFolder(Wide(dir.path()));
        logger::Logger::Activate(logger::AllReports);
        // Output "3" activates nothing, so every default can be restored.
        for (int key = 0; key < logger::OptionTable::kCount; ++key) {
            logger::Logger::SetOption(key, logger::OptionTable::Default(key));
        }
        logs = dir / "logs";
        logger::Logger::SetOption(logger::OptionFolder, Wide(logs).c_str());
    }
    void TearDown() override {
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::SetOption(logger::OptionFolder, L"logger");
        logger::Logger::SetOption(logger::OptionEnable, L"1");
        logger::Logger::SetOption(logger::OptionFilter, L"4");
        VORTALEX::OverrideProgramFolder(L"");
    }

    static std::wstring Wide(const std::filesystem::path& p) { return VORTALEX::PathToWide(p); }
    static std::wstring Mock() { return logger::Logger::Instance().MockText(); }

    ScratchFolder dir;
    std::filesystem::path logs;
};
