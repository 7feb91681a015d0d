#pragma once
// What the editor's tests share: a display of their own (an Xvfb server
// started by the test program, 1920 x 1080, so no desktop is needed and none
// is disturbed), a fresh program folder per test, and the message boxes the
// editor showed.
//
// The dialog is driven through its real GTK widgets in this process. GTK 3
// has no off-screen backend of its own (Broadway would need a server too),
// so an X server is the simplest display that works the same on a desktop
// machine and on CI; Xvfb is one of the packages the install script sets up.

#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Common/CodePage.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/MessageBox.h"
#include "Common/ScratchFolder.h"
#include "port/win32/runoptions.h"

namespace editor_test {

// Starts Xvfb on a free display and GTK on it, once per test program.
class Display : public ::testing::Environment {
public:
    static bool Ready() { return ready_; }
    static const std::string& Problem() { return problem_; }

    void SetUp() override
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            problem_ = "pipe failed";
            return;
        }
        server_ = ::fork();
        if (server_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::close(pipeFds[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) {
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            const std::string fd = std::to_string(pipeFds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
                     "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        std::string number;
        pollfd wait{pipeFds[0], POLLIN, 0};
        while (::poll(&wait, 1, 20000) > 0) {
            char c = 0;
            if (::read(pipeFds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(pipeFds[0]);
        if (number.empty()) {
            problem_ = "Xvfb did not start (scripts/install-deps.sh installs it)";
            return;
        }
        ::setenv("DISPLAY", (":" + number).c_str(), 1);
        ::setenv("GDK_BACKEND", "x11", 1);
        ::setenv("NO_AT_BRIDGE", "1", 1);
        ::setenv("GSETTINGS_BACKEND", "memory", 1);
        if (!gtk_init_check(nullptr, nullptr)) {
            problem_ = "GTK could not open display :" + number;
            return;
        }
        // Transitions and smooth scrolling would make what a test reads
        // depend on time.
        g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
        ready_ = true;
    }

    void TearDown() override
    {
        if (server_ > 0) {
            ::kill(server_, SIGTERM);
            ::waitpid(server_, nullptr, 0);
        }
    }

private:
    pid_t server_ = -1;
    static inline bool ready_ = false;
    static inline std::string problem_ = "the display was not started";
};

inline std::vector<std::wstring>& Boxes()
{
    static std::vector<std::wstring> boxes;
    return boxes;
}

inline void RecordBox(std::wstring_view text, std::wstring_view) { Boxes().emplace_back(text); }

// Runs pending GTK work, as the dialog's own loop would between events.
inline void Pump()
{
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

inline std::string Utf8(std::wstring_view text) { return VORTALEX::codepage::ToUtf8(text); }
inline std::string Cp1251(std::wstring_view text) { return VORTALEX::codepage::ToCp1251(text); }

// A program folder of its own for each test; the editor finds its files
// there as it finds them beside its binary.
class EditorFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = dir.path() / "program";
        std::filesystem::create_directories(program / "modules");
        VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(program));
        previousBox = VORTALEX::SetMessageBoxHandler(&RecordBox);
        Boxes().clear();
        ::unsetenv("TARNWICK_STEP_MS");
        PortRunReload();
    }
    void TearDown() override
    {
        VORTALEX::SetMessageBoxHandler(previousBox);
        VORTALEX::OverrideProgramFolder(L"");
        ::unsetenv("TARNWICK_STEP_MS");
        PortRunReload();
    }
    // A fixed clock step makes the device test's 4.5 s a fixed number of
    // frames (4501 ms at 100 ms: 46).
    static void UseClockStep(int milliseconds)
    {
        ::setenv("TARNWICK_STEP_MS", std::to_string(milliseconds).c_str(), 1);
        PortRunReload();
    }
    void RequireDisplay()
    {
        if (!Display::Ready()) GTEST_FAIL() << Display::Problem();
    }

    std::filesystem::path Settings() const { return program / "settings.xml"; }
    std::filesystem::path States() const { return program / "modules" / "DefaultRenderState.xml"; }
    void WriteVideo(const std::string& entries) const
    {
        ScratchFolder::Write(Settings(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<entity name=\"Video\">" +
                                             entries + "</entity>\n");
    }
    static std::string Entry(const std::string& name, const std::string& value)
    {
        return "<entity name=\"" + name + "\" value=\"" + value + "\"/>";
    }

    ScratchFolder dir;
    std::filesystem::path program;
    VORTALEX::MessageBoxHandler previousBox = nullptr;
};

}  // namespace editor_test
