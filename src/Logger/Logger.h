#pragma once
// The process-wide log. Code logs with one line:
//     LOG_WARNING(L"Не найден файл " << name);
// which builds a Logger::Message (severity, level word, line, source path,
// function signature), appends the text and commits it. A fatal message ends
// the process with exit code 1 after it is handled; an error message throws a
// std::exception whose text is the level word.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace logger {

enum TypeMessage : int { Fatal = 0, Error = 1, Warning = 2, Info = 3, Silent = 4 };

enum TypeReport : int { AllReports = -1, Console = 0, Text = 1, HTML = 2, OutputVS = 3, Mock = 6 };

enum LoggerOption : int {
    OptionEnable = 0,       // "Enable": master switch, "1"
    OptionFolder = 1,       // "Folder": folder of log files and crash dumps, "logger"
    OptionOutput = 2,       // "Output": report to activate, "3"
    OptionRolling = 3,      // "Rolling": files kept in the folder, "10"
    OptionLimit = 4,        // "Limit": bytes after which a file report starts anew, "0"
    OptionFilter = 5,       // "Filter": highest severity written, "4"
    OptionRepetitions = 6,  // "Repetitions": "1" writes every repetition of a location
    OptionSave = 7,         // not an option: SetOption(7, file) saves the options
};

// The program file name and the version line printed in headers and dump names.
extern const char* const kProgramFileName;
const std::string& VersionText();

// 31-bit hash of a text's characters (h = h*m + u, m *= 378551, m from 63689).
int LocationHash(std::wstring_view text);

// Option values as text, with the numeric ones converted once when set.
class OptionTable {
public:
    static constexpr int kCount = 7;

    const std::wstring& operator[](int key) const { return values_[static_cast<std::size_t>(key)]; }
    // First character is '1'.
    bool Flag(int key) const { return flags_[static_cast<std::size_t>(key)]; }
    // The value as an int; throws boost::bad_lexical_cast when it isn't one.
    int Int(int key) const;
    bool IsInt(int key) const { return numbers_[static_cast<std::size_t>(key)].has_value(); }

    void Set(int key, std::wstring value);
    static const wchar_t* Name(int key);
    static const wchar_t* Default(int key);

private:
    friend class Logger;
    std::array<std::wstring, kCount> values_;
    std::array<bool, kCount> flags_{};
    std::array<std::optional<int>, kCount> numbers_{};
    bool started_ = false;
};

class IFormerReport {
public:
    virtual void Write(int type, std::string_view level, int line, std::string_view path,
                       std::wstring_view text, std::string_view signature) = 0;
    virtual void Open(const std::wstring& base) = 0;
    virtual void Close() = 0;
    virtual ~IFormerReport() = default;
};

class TestReport;
class OutputVSReport;

class Logger {
public:
    class Message {
    public:
        Message(int type, std::string_view level, int line, std::string_view path,
                std::string_view signature);
        Message(const Message&) = delete;
        Message& operator=(const Message&) = delete;

        Message& operator<<(std::wstring_view text);
        Message& operator<<(const wchar_t* text) { return *this << std::wstring_view(text ? text : L""); }
        Message& operator<<(const std::wstring& text) { return *this << std::wstring_view(text); }
        // Narrow text is UTF-8, or Windows-1251 when it isn't valid UTF-8.
        Message& operator<<(std::string_view text);
        Message& operator<<(const char* text) { return *this << std::string_view(text ? text : ""); }
        Message& operator<<(const std::string& text) { return *this << std::string_view(text); }
        Message& operator<<(const std::filesystem::path& path);
        Message& operator<<(wchar_t c);
        Message& operator<<(char c);
        Message& operator<<(bool value) { return AppendInteger(value ? 1 : 0); }
        Message& operator<<(const void* pointer);
        template <class T>
        std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, Message&> operator<<(T value) {
            if constexpr (std::is_enum_v<T>) return AppendInteger(static_cast<long long>(value));
            else if constexpr (std::is_signed_v<T>) return AppendInteger(static_cast<long long>(value));
            else return AppendUnsigned(static_cast<unsigned long long>(value));
        }
        Message& operator<<(double value);
        Message& operator<<(float value) { return *this << static_cast<double>(value); }

        // Writes the message to every active report when the options let it
        // through; then a fatal message ends the process (exit code 1) and an
        // error message throws std::exception with the level word.
        void Commit();

        // Repetitions are then told apart by the text as well as the
        // location: every line a script logs is written from one place.
        Message& DistinctByText() {
            distinctByText_ = true;
            return *this;
        }

        const std::wstring& Text() const { return body_; }
        int Type() const { return type_; }
        int Hash() const { return hash_; }

    private:
        friend class Logger;
        Message& AppendInteger(long long value);
        Message& AppendUnsigned(unsigned long long value);

        std::wstring body_;
        int type_;
        std::string level_;
        int line_ = 0;
        std::string path_;
        std::string signature_;
        int hash_ = 0;
        bool enabled_;
        bool distinctByText_ = false;
    };

    // The option table; the first call fills the defaults and reads the
    // "Logger" section of the settings file.
    static const OptionTable& Options();
    static Logger& Instance();
    // Key 7 saves all options into the settings file named by value (null or
    // "0": the default one); keys 0..6 store a non-empty value (key 2 then
    // activates that report); anything else does nothing.
    static void SetOption(int key, const wchar_t* value);
    // Opens a report and adds it to the active list; -1 closes them all; 3,
    // unknown, empty or already active slots are ignored.
    static void Activate(int report);

    // True when a message of this type must be built and committed: fatal
    // and error always, others when logging is on and the filter lets them
    // through. Lets the LOG_ macros skip building dropped messages.
    static bool WouldCommit(int type);

    // Timestamp "[%Y.%m.%d %H'%M'%S]" of the local time.
    static std::wstring Timestamp();

    const std::vector<int>& ActiveReports() const { return active_; }
    IFormerReport* Slot(int report) const;
    // Puts a report into an empty slot (4 or 5) so Activate can reach it;
    // this is how the test reports and the debugger-output report get wired in.
    bool Wire(int slot, IFormerReport* report);
    TestReport& GetTestReport(int which);  // 0: "test.log", 1: "test2.log"
    OutputVSReport& GetOutputVSReport();
    // Everything the MockReport has written since it was opened.
    std::wstring MockText() const;

private:
    Logger();
    static OptionTable& Table();
    static void StartUp(OptionTable& table);
    void WriteAll(const Message& message);

    std::array<IFormerReport*, 7> slots_{};
    std::vector<int> active_;
};

// folder + "\" + base + extension, with "_0001", "_0002", ... before the
// extension while that file exists. Creates the folder (one level).
std::wstring MakeLogFilePath(std::wstring_view extension, std::wstring_view base);

// Deletes the first-listed of the log folder's files beyond "Rolling".
void PruneLogFolder();

// Writes the crash report of a fatal signal into the log folder; returns 0.
// Called from the signal handler installed during static initialisation.
int WriteCrashDump(int signal, const void* signalInfo, const void* context);
// Installs the fatal-signal handler (done once during static initialisation).
void InstallCrashHandler();

namespace detail {
[[noreturn]] void NeverReached();
}

}  // namespace logger

#define TW_LOG_MESSAGE(type, word, ...)                                                   \
    do {                                                                                  \
        if (::logger::Logger::WouldCommit(type)) {                                        \
            ::logger::Logger::Message tw_log_message_(type, word, __LINE__, __FILE__,    \
                                                      __PRETTY_FUNCTION__);               \
            tw_log_message_ << __VA_ARGS__;                                               \
            tw_log_message_.Commit();                                                     \
        }                                                                                 \
    } while (0)

// Fatal and error messages never return.
#define TW_LOG_FINAL(type, word, ...)                                                     \
    do {                                                                                  \
        ::logger::Logger::Message tw_log_message_(type, word, __LINE__, __FILE__,        \
                                                  __PRETTY_FUNCTION__);                   \
        tw_log_message_ << __VA_ARGS__;                                                   \
        tw_log_message_.Commit();                                                         \
        ::logger::detail::NeverReached();                                                 \
    } while (0)

#define LOG_FATAL(...) TW_LOG_FINAL(::logger::Fatal, "fatal", __VA_ARGS__)
#define LOG_ERROR(...) TW_LOG_FINAL(::logger::Error, "error", __VA_ARGS__)
#define LOG_WARNING(...) TW_LOG_MESSAGE(::logger::Warning, "warning", __VA_ARGS__)
#define LOG_INFO(...) TW_LOG_MESSAGE(::logger::Info, "info", __VA_ARGS__)
