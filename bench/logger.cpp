// Cost of logging: a message the filter drops, one dropped as a repetition,
// and messages per second into the HTML and text reports.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Logger/Logger.h"

namespace {

namespace fs = std::filesystem;
using logger::Logger;

// A scratch program folder and log folder for the whole run.
struct Scratch {
    fs::path root;
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "tw_bench_logger_XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(root));
        Logger::SetOption(logger::OptionFolder, VORTALEX::PathToWide(root / "logs").c_str());
        Logger::SetOption(logger::OptionRolling, L"-1");
    }
    ~Scratch() {
        Logger::Activate(logger::AllReports);
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

Scratch& Folder() {
    static Scratch scratch;
    return scratch;
}

void Reset() {
    Folder();
    Logger::Activate(logger::AllReports);
    Logger::SetOption(logger::OptionFilter, L"4");
    Logger::SetOption(logger::OptionRepetitions, L"1");
    Logger::SetOption(logger::OptionLimit, L"0");
}

void BM_MessageDroppedByFilter(benchmark::State& state) {
    Reset();
    Logger::SetOption(logger::OptionFilter, L"2");
    Logger::Activate(logger::HTML);
    const std::wstring name = L"texture.dds";
    for (auto _ : state) {
        LOG_INFO(L"Загружен файл " << name << L" за " << 12 << L" мс");
    }
    Logger::Activate(logger::AllReports);
}
BENCHMARK(BM_MessageDroppedByFilter);

void BM_MessageDroppedAsRepetition(benchmark::State& state) {
    Reset();
    Logger::SetOption(logger::OptionRepetitions, L"0");
    Logger::Activate(logger::HTML);
    const std::wstring name = L"texture.dds";
    for (auto _ : state) {
        LOG_WARNING(L"Не найден файл " << name);
    }
    Logger::Activate(logger::AllReports);
}
BENCHMARK(BM_MessageDroppedAsRepetition);

void BM_MessageIntoReport(benchmark::State& state, int report) {
    Reset();
    Logger::Activate(report);
    const std::wstring name = L"meshes\\box.x";
    std::int64_t n = 0;
    for (auto _ : state) {
        LOG_WARNING(L"Не найден файл " << name << L" (" << n++ << L")");
    }
    state.SetItemsProcessed(state.iterations());
    Logger::Activate(logger::AllReports);
}
BENCHMARK_CAPTURE(BM_MessageIntoReport, HTML, logger::HTML);
BENCHMARK_CAPTURE(BM_MessageIntoReport, Text, logger::Text);

}  // namespace

BENCHMARK_MAIN();
