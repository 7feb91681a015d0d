// Crash reports. A handler for the fatal signals, installed during static
// initialisation, writes the signal, the fault address, the registers and a
// backtrace into the log folder under the dump name
// "[YYYY.MM.DD HH'MM'SS'mmm] Tarnwick.exe Version <version>.dmp", then lets
// the signal's default action end the process. Inside the handler only
// async-signal-safe calls are made; everything that needs memory or locks
// (folder mapping, the time-zone offset, the name's tail) is prepared
// beforehand.

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "Common/FilePath.h"
#include "Logger/CrashDump.h"
#include "Logger/Logger.h"

namespace logger {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

char g_folder[4096] = "logger";
char g_nameTail[512] = "";
char g_version[256] = "";
long g_utcOffset = 0;
bool g_installed = false;
alignas(16) char g_alternateStack[64 * 1024];

// A fixed buffer with async-signal-safe formatting.
class Line {
public:
    void Text(const char* s) {
        while (*s && used_ < sizeof buffer_) buffer_[used_++] = *s++;
    }
    void Decimal(unsigned long long v, int width = 0) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v && n < 24);
        while (n < width && n < 24) digits[n++] = '0';
        while (n) Char(digits[--n]);
    }
    void Hex(unsigned long long v) {
        Text("0x");
        for (int shift = 60; shift >= 0; shift -= 4) Char("0123456789abcdef"[(v >> shift) & 0xF]);
    }
    void Char(char c) {
        if (used_ < sizeof buffer_) buffer_[used_++] = c;
    }
    void Flush(int fd) {
        std::size_t done = 0;
        while (done < used_) {
            const ssize_t n = ::write(fd, buffer_ + done, used_ - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        used_ = 0;
    }
    const char* Terminated() {
        buffer_[used_ < sizeof buffer_ ? used_ : sizeof buffer_ - 1] = '\0';
        return buffer_;
    }

private:
    char buffer_[4600];
    std::size_t used_ = 0;
};

const char* SignalName(int sig) {
    switch (sig) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGFPE: return "SIGFPE";
        case SIGILL: return "SIGILL";
        case SIGABRT: return "SIGABRT";
        default: return "signal";
    }
}

// Civil date from days since 1970-01-01.
void CivilFromDays(long long z, int& year, unsigned& month, unsigned& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(y + (month <= 2));
}

void RefreshUtcOffset() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local)) g_utcOffset = local.tm_gmtoff;
}

void WriteRegisters(Line& line, const void* context) {
    if (!context) return;
    const auto* uc = static_cast<const ucontext_t*>(context);
    line.Text("Registers:\n");
#if defined(__x86_64__)
    static const struct { const char* name; int index; } regs[] = {
        {"rip", REG_RIP}, {"rsp", REG_RSP}, {"rbp", REG_RBP}, {"rax", REG_RAX}, {"rbx", REG_RBX},
        {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI}, {"rdi", REG_RDI}, {"r8", REG_R8},
        {"r9", REG_R9},   {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13},
        {"r14", REG_R14}, {"r15", REG_R15}, {"eflags", REG_EFL}};
    for (const auto& r : regs) {
        line.Text("  ");
        line.Text(r.name);
        line.Text(" = ");
        line.Hex(static_cast<unsigned long long>(uc->uc_mcontext.gregs[r.index]));
        line.Char('\n');
    }
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) {
        line.Text("  x");
        line.Decimal(static_cast<unsigned>(i));
        line.Text(" = ");
        line.Hex(uc->uc_mcontext.regs[i]);
        line.Char('\n');
    }
    line.Text("  sp = ");
    line.Hex(uc->uc_mcontext.sp);
    line.Text("\n  pc = ");
    line.Hex(uc->uc_mcontext.pc);
    line.Char('\n');
#else
    (void)uc;
    line.Text("  (not available on this processor)\n");
#endif
}

void OnFatalSignal(int sig, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    WriteCrashDump(sig, info, context);
    errno = savedErrno;
    // Let the default action (core dump, termination) happen.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(sig, &fallback, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, sig);
    ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(sig);
}

struct Installer {
    Installer() { InstallCrashHandler(); }
} g_installer;

}  // namespace

void UpdateCrashDumpFolder(std::wstring_view folder);

void SetEarlyCrashDumpFolder(std::wstring_view folder) { UpdateCrashDumpFolder(folder); }

void UpdateCrashDumpFolder(std::wstring_view folder) {
    const std::string mapped = VORTALEX::MapPath(folder).native();
    const std::size_t n = mapped.size() < sizeof g_folder - 1 ? mapped.size() : sizeof g_folder - 1;
    std::memcpy(g_folder, mapped.data(), n);
    g_folder[n] = '\0';
    RefreshUtcOffset();
}

void InstallCrashHandler() {
    if (g_installed) return;
    g_installed = true;

    std::string tail = " ";
    tail += kProgramFileName;
    tail += " Version ";
    tail += VersionText();
    tail += ".dmp";
    for (char& c : tail) {
        if (c == ':') c = '\'';
    }
    std::strncpy(g_nameTail, tail.c_str(), sizeof g_nameTail - 1);
    std::strncpy(g_version, VersionText().c_str(), sizeof g_version - 1);
    RefreshUtcOffset();

    // The first backtrace loads the unwinder, which must not happen inside
    // the handler.
    void* frames[2];
    ::backtrace(frames, 2);

    stack_t stack{};
    stack.ss_sp = g_alternateStack;
    stack.ss_size = sizeof g_alternateStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = &OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals) ::sigaction(sig, &action, nullptr);
}

int WriteCrashDump(int sig, const void* signalInfo, const void* context) {
    const auto* info = static_cast<const siginfo_t*>(signalInfo);

    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long local = static_cast<long long>(now.tv_sec) + g_utcOffset;
    long long days = local / 86400;
    long long seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    int year = 1970;
    unsigned month = 1, day = 1;
    CivilFromDays(days, year, month, day);

    Line path;
    path.Text(g_folder);
    ::mkdir(path.Terminated(), 0777);
    path.Text("/[");
    path.Decimal(static_cast<unsigned long long>(year), 4);
    path.Char('.');
    path.Decimal(month, 2);
    path.Char('.');
    path.Decimal(day, 2);
    path.Char(' ');
    path.Decimal(static_cast<unsigned long long>(seconds / 3600), 2);
    path.Char('\'');
    path.Decimal(static_cast<unsigned long long>(seconds / 60 % 60), 2);
    path.Char('\'');
    path.Decimal(static_cast<unsigned long long>(seconds % 60), 2);
    path.Char('\'');
    path.Decimal(static_cast<unsigned long long>(now.tv_nsec / 1000000), 3);
    path.Char(']');
    path.Text(g_nameTail);

    const int fd = ::open(path.Terminated(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return 0;

    Line line;
    line.Text(kProgramFileName);
    line.Text(" crash report\nVersion: ");
    line.Text(g_version);
    line.Text("\nProcess: ");
    line.Decimal(static_cast<unsigned long long>(::getpid()));
    line.Text("\nSignal: ");
    line.Decimal(static_cast<unsigned long long>(sig));
    line.Text(" (");
    line.Text(SignalName(sig));
    line.Text(")\n");
    if (info) {
        line.Text("Code: ");
        line.Decimal(static_cast<unsigned long long>(static_cast<unsigned>(info->si_code)));
        line.Text("\nFault address: ");
        line.Hex(reinterpret_cast<unsigned long long>(info->si_addr));
        line.Char('\n');
    }
    WriteRegisters(line, context);
    line.Text("Backtrace:\n");
    line.Flush(fd);

    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
    return 0;
}

}  // namespace logger
