#include "Logger/Logger.h"

#include <boost/lexical_cast.hpp>
#include <boost/lexical_cast/try_lexical_convert.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <exception>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <unordered_set>

#include "Common/CodePage.h"
#include "Common/FilePath.h"
#include "Logger/Reports.h"
#include "Wrappers/XMLParser/XMLSettings.h"

namespace logger {
namespace fs = std::filesystem;

const char* const kProgramFileName = "Tarnwick.exe";

const std::string& VersionText() {
    static const std::string text = [] {
        // __DATE__ is "Mmm dd yyyy", __TIME__ is "hh:mm:ss".
        static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        const std::string date = __DATE__;
        const std::string time = __TIME__;
        int month = 1;
        for (int i = 0; i < 12; ++i) {
            if (date.compare(0, 3, months[i]) == 0) month = i + 1;
        }
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, "0.1.0 Revision 1 Build 1 (%s %02d.%02d.%s)",
                      time.substr(0, 5).c_str(), std::atoi(date.substr(4, 2).c_str()), month,
                      date.substr(7, 4).c_str());
        return std::string(buffer);
    }();
    return text;
}

int LocationHash(std::wstring_view text) {
    std::uint32_t h = 0;
    std::uint32_t m = 63689;
    for (wchar_t c : text) {
        // The hash runs over UTF-16 code units.
        const auto cp = static_cast<std::uint32_t>(c);
        if (cp > 0xFFFF) {
            const std::uint32_t v = cp - 0x10000;
            for (std::uint32_t unit : {0xD800 + (v >> 10), 0xDC00 + (v & 0x3FF)}) {
                h = h * m + unit;
                m *= 378551u;
            }
        } else {
            h = h * m + cp;
            m *= 378551u;
        }
    }
    return static_cast<int>(h & 0x7FFFFFFFu);
}

// ---------------------------------------------------------------------------
// Options

namespace {
constexpr const wchar_t* kOptionNames[OptionTable::kCount] = {
    L"Enable", L"Folder", L"Output", L"Rolling", L"Limit", L"Filter", L"Repetitions"};
constexpr const wchar_t* kOptionDefaults[OptionTable::kCount] = {
    L"1", L"logger", L"3", L"10", L"0", L"4", L"1"};

std::wstring& MockBuffer() {
    static std::wstring text;
    return text;
}

// Settings file access; the "Logger" section holds the options by name.
void ReadSettings(OptionTable& table);
void SaveSettings(const OptionTable& table, const wchar_t* file);

std::unordered_set<int>& SeenLocations() {
    static std::unordered_set<int> seen;
    return seen;
}

// Set while the option table takes its defaults: the default folder does not
// move crash reports away from where the program sent them before start-up.
bool g_fillingDefaults = false;
}  // namespace

void UpdateCrashDumpFolder(std::wstring_view folder);  // CrashDump.cpp

int OptionTable::Int(int key) const {
    const auto& number = numbers_[static_cast<std::size_t>(key)];
    if (!number) throw boost::bad_lexical_cast(typeid(std::wstring), typeid(int));
    return *number;
}

void OptionTable::Set(int key, std::wstring value) {
    const auto k = static_cast<std::size_t>(key);
    flags_[k] = !value.empty() && value[0] == L'1';
    int number = 0;
    if (boost::conversion::try_lexical_convert(value, number)) {
        numbers_[k] = number;
    } else {
        numbers_[k].reset();
    }
    values_[k] = std::move(value);
    if (key == OptionFolder && !g_fillingDefaults) UpdateCrashDumpFolder(values_[k]);
}

const wchar_t* OptionTable::Name(int key) {
    return key >= 0 && key < kCount ? kOptionNames[key] : L"";
}
const wchar_t* OptionTable::Default(int key) {
    return key >= 0 && key < kCount ? kOptionDefaults[key] : L"";
}

OptionTable& Logger::Table() {
    static OptionTable table;
    return table;
}

const OptionTable& Logger::Options() {
    OptionTable& table = Table();
    if (!table.started_) {
        table.started_ = true;
        StartUp(table);
    }
    return table;
}

void Logger::StartUp(OptionTable& table) {
    InstallCrashHandler();
    g_fillingDefaults = true;
    for (int key = 0; key < OptionTable::kCount; ++key) table.Set(key, kOptionDefaults[key]);
    g_fillingDefaults = false;
    ReadSettings(table);
    try {
        if (table.IsInt(OptionOutput)) Activate(table.Int(OptionOutput));
    } catch (const std::exception&) {
        // A report that can't open at start-up stays closed; logging goes on.
    }
}

// ---------------------------------------------------------------------------
// The logger

Logger::Logger() {
    static ConsoleReport console;
    static TextReport text;
    static HTMLReport html;
    static OutputVSReport outputVS;
    static MockReport mock(MockBuffer());
    slots_[Console] = &console;
    slots_[Text] = &text;
    slots_[HTML] = &html;
    slots_[OutputVS] = &outputVS;
    slots_[Mock] = &mock;
}

Logger& Logger::Instance() {
    static Logger logger;
    return logger;
}

IFormerReport* Logger::Slot(int report) const {
    return report >= 0 && report < static_cast<int>(slots_.size()) ? slots_[static_cast<std::size_t>(report)] : nullptr;
}

bool Logger::Wire(int slot, IFormerReport* report) {
    if (slot < 0 || slot >= static_cast<int>(slots_.size())) return false;
    auto& place = slots_[static_cast<std::size_t>(slot)];
    if (place && report) return false;
    if (!report && std::find(active_.begin(), active_.end(), slot) != active_.end()) return false;
    place = report;
    return true;
}

TestReport& Logger::GetTestReport(int which) {
    static TestReport first(L"test.log");
    static TestReport second(L"test2.log");
    return which == 0 ? first : second;
}

OutputVSReport& Logger::GetOutputVSReport() {
    return *static_cast<OutputVSReport*>(slots_[OutputVS]);
}

std::wstring Logger::MockText() const { return MockBuffer(); }

void Logger::SetOption(int key, const wchar_t* value) {
    OptionTable& table = Table();
    Options();
    if (key == OptionSave) {
        SaveSettings(table, value);
        return;
    }
    if (key < 0 || key >= OptionTable::kCount || !value || !*value) return;
    table.Set(key, value);
    if (key == OptionOutput) Activate(table.Int(OptionOutput));
}

void Logger::Activate(int report) {
    Options();
    Logger& self = Instance();
    if (report == OutputVS) return;
    if (report == AllReports) {
        for (int r : self.active_) self.slots_[static_cast<std::size_t>(r)]->Close();
        self.active_.clear();
        return;
    }
    IFormerReport* target = self.Slot(report);
    if (!target) return;
    if (std::find(self.active_.begin(), self.active_.end(), report) != self.active_.end()) return;
    target->Close();
    target->Open(Timestamp());
    PruneLogFolder();
    self.active_.push_back(report);
}

bool Logger::WouldCommit(int type) {
    if (type <= Error) return true;
    const OptionTable& options = Options();
    if (!options.Flag(OptionEnable)) return false;
    // A broken filter value has to surface in Commit, so let it through.
    return !options.IsInt(OptionFilter) || type <= options.Int(OptionFilter);
}

std::wstring Logger::Timestamp() {
    static std::time_t cachedSecond = -1;
    static std::wstring cached;
    const std::time_t now = std::time(nullptr);
    if (now != cachedSecond) {
        std::tm local{};
        wchar_t buffer[101];
        if (now == static_cast<std::time_t>(-1) || !::localtime_r(&now, &local) ||
            std::wcsftime(buffer, 100, L"[%Y.%m.%d %H'%M'%S]", &local) == 0) {
            return {};
        }
        cached = buffer;
        cachedSecond = now;
    }
    return cached;
}

void Logger::WriteAll(const Message& message) {
    std::exception_ptr first;
    for (int r : active_) {
        try {
            slots_[static_cast<std::size_t>(r)]->Write(message.type_, message.level_, message.line_,
                                                       message.path_, message.body_, message.signature_);
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    if (first) std::rethrow_exception(first);
}

// ---------------------------------------------------------------------------
// Messages

Logger::Message::Message(int type, std::string_view level, int line, std::string_view path,
                         std::string_view signature)
    : type_(type), enabled_(Options().Flag(OptionEnable)) {
    if (!enabled_) return;
    level_ = level;
    line_ = line;
    path_ = path;
    signature_ = signature;
    std::wstring location = VORTALEX::codepage::DecodeText(path_);
    location += L" (";
    location += std::to_wstring(line);
    location += L')';
    hash_ = LocationHash(location);
}

Logger::Message& Logger::Message::operator<<(std::wstring_view text) {
    if (Options().Flag(OptionEnable)) body_.append(text);
    return *this;
}

Logger::Message& Logger::Message::operator<<(std::string_view text) {
    if (Options().Flag(OptionEnable)) body_ += VORTALEX::codepage::DecodeText(text);
    return *this;
}

Logger::Message& Logger::Message::operator<<(const fs::path& path) {
    if (Options().Flag(OptionEnable)) body_ += VORTALEX::PathToWide(path);
    return *this;
}

Logger::Message& Logger::Message::operator<<(wchar_t c) {
    if (Options().Flag(OptionEnable)) body_ += c;
    return *this;
}

Logger::Message& Logger::Message::operator<<(char c) { return *this << std::string_view(&c, 1); }

Logger::Message& Logger::Message::operator<<(const void* pointer) {
    if (Options().Flag(OptionEnable)) {
        wchar_t buffer[32];
        std::swprintf(buffer, 32, L"%p", pointer);
        body_ += buffer;
    }
    return *this;
}

Logger::Message& Logger::Message::operator<<(double value) {
    if (Options().Flag(OptionEnable)) {
        wchar_t buffer[64];
        std::swprintf(buffer, 64, L"%g", value);
        body_ += buffer;
    }
    return *this;
}

Logger::Message& Logger::Message::AppendInteger(long long value) {
    if (Options().Flag(OptionEnable)) body_ += std::to_wstring(value);
    return *this;
}

Logger::Message& Logger::Message::AppendUnsigned(unsigned long long value) {
    if (Options().Flag(OptionEnable)) body_ += std::to_wstring(value);
    return *this;
}

void Logger::Message::Commit() {
    const OptionTable& options = Options();
    try {
        if (options.Flag(OptionEnable)) {
            if (type_ <= options.Int(OptionFilter)) {
                bool allowed = true;
                if (!options.Flag(OptionRepetitions)) {
                    const int key = distinctByText_ ? LocationHash(std::to_wstring(hash_) + L'\n' + body_) : hash_;
                    allowed = SeenLocations().insert(key).second;
                }
                if (type_ != Silent && allowed) Instance().WriteAll(*this);
            }
        }
    } catch (...) {
        // A fatal or error message must still end the process or throw its
        // own exception, whatever went wrong while writing it.
        if (type_ > Error) throw;
    }
    if (type_ == Fatal) {
        std::fflush(nullptr);
        std::exit(1);
    }
    if (type_ == Error) throw std::runtime_error(level_);
}

namespace detail {
void NeverReached() { std::abort(); }
}  // namespace detail

// ---------------------------------------------------------------------------
// Log files

std::wstring MakeLogFilePath(std::wstring_view extension, std::wstring_view base) {
    const std::wstring& folder = Logger::Options()[OptionFolder];
    std::error_code ec;
    fs::create_directory(VORTALEX::MapPath(folder), ec);
    std::wstring suffix;
    for (int counter = 0;; ) {
        std::wstring path = folder;
        path += L'\\';
        path.append(base);
        path += suffix;
        path.append(extension);
        const fs::path mapped = VORTALEX::MapPath(path);
        if (!fs::exists(mapped, ec) || fs::is_directory(mapped, ec)) return path;
        wchar_t digits[16];
        std::swprintf(digits, 16, L"_%04d", ++counter);
        suffix = digits;
    }
}

void PruneLogFolder() {
    const OptionTable& options = Logger::Options();
    const int keep = options.Int(OptionRolling);
    if (keep < 0) return;
    const std::wstring& folder = options[OptionFolder];
    if (folder.empty()) return;
    const fs::path mapped = VORTALEX::MapPath(folder);
    std::error_code ec;
    if (!fs::is_directory(mapped, ec)) return;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(mapped, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec)) continue;
        const std::string name = it->path().filename().native();
        // Only the logger's own files count: timestamped logs and dumps, and
        // the test reports' files. Anything else in the folder is left alone.
        if (name.rfind('[', 0) == 0 || name.rfind("test.log", 0) == 0 || name.rfind("test2.log", 0) == 0) {
            files.push_back(it->path());
        }
    }
    if (files.size() <= static_cast<std::size_t>(keep)) return;
    // Names begin with the timestamp, so ascending by name is oldest first.
    std::sort(files.begin(), files.end());
    const std::size_t excess = files.size() - static_cast<std::size_t>(keep);
    for (std::size_t i = 0; i < excess; ++i) fs::remove(files[i], ec);
}

}  // namespace logger

namespace logger {
namespace {

// The order in which the "Logger" section is read and written.
constexpr int kSettingsOrder[] = {OptionEnable, OptionOutput, OptionFolder, OptionRolling,
                                  OptionLimit, OptionFilter, OptionRepetitions};

void ReadSettings(OptionTable& table) {
    try {
        VORTALEX::XMLSettings settings(L"Logger");
        for (int key : kSettingsOrder) {
            try {
                std::wstring value = settings.RequireParameter(OptionTable::Name(key));
                // A numeric option that isn't a number leaves its default in
                // force, so a broken section can't stop the program.
                const bool numeric = key == OptionOutput || key == OptionRolling ||
                                     key == OptionLimit || key == OptionFilter;
                int number = 0;
                if (numeric && !boost::conversion::try_lexical_convert(value, number)) continue;
                table.Set(key, std::move(value));
            } catch (const std::exception&) {
                // Missing parameter: the default stays.
            }
        }
    } catch (const std::exception&) {
        // No usable settings file: defaults.
    }
}

void SaveSettings(const OptionTable& table, const wchar_t* file) {
    const bool byDefault = !file || std::wstring_view(file) == L"0";
    VORTALEX::XMLSettings settings(L"Logger", byDefault ? nullptr : file);
    for (int key : kSettingsOrder) settings.SetParameter(OptionTable::Name(key), table[key].c_str());
}

}  // namespace
}  // namespace logger
