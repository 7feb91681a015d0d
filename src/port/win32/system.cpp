// Win32 kernel and user services over POSIX and SDL.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "port/win32/portlog.h"
#include "port/win32/runoptions.h"
#include "port/win32/sdlvideo.h"
#include "port/win32/strings.h"
#include "port/win32/wintypes.h"

#include "Common/MessageBox.h"

DWORD GetTickCount() {
    const PortRunOptions& o = PortRun();
    if (o.stepMs >= 0) {
        // Deterministic runs: one step per presented frame, starting at 1000.
        return static_cast<DWORD>(1000ull + PortPresentedFrames() * static_cast<uint64_t>(o.stepMs));
    }
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000ull + static_cast<uint64_t>(ts.tv_nsec) / 1000000ull;
    return static_cast<DWORD>(ms);  // wraps every 49.7 days, as on Windows
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    timespec req{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    std::vector<char> path(4096);
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) {
        buffer[0] = 0;
        return 0;
    }
    std::wstring wide = PortFromUtf8(std::string(path.data(), static_cast<size_t>(n)));
    if (wide.size() >= size) {
        // Truncated and terminated, as Windows does.
        wide.copy(buffer, size - 1);
        buffer[size - 1] = 0;
        return size;
    }
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = 0;
    return static_cast<DWORD>(wide.size());
}

HMODULE GetModuleHandleW(LPCWSTR name) {
    // Only the program itself is a module here.
    static int self;
    return name ? nullptr : reinterpret_cast<HMODULE>(&self);
}

int GetSystemMetrics(int index) {
    if (index != SM_CXSCREEN && index != SM_CYSCREEN) return 0;
    if (!PortEnsureVideo()) return 0;
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return 0;
    return index == SM_CXSCREEN ? mode.w : mode.h;
}

namespace {

struct ButtonSet {
    int ids[3];
    const char* labels[3];
    int count;
};

ButtonSet ButtonsFor(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{IDOK, IDCANCEL, 0}, {"OK", "Отмена", nullptr}, 2};
    case MB_ABORTRETRYIGNORE: return {{IDABORT, IDRETRY, IDIGNORE}, {"Прервать", "Повтор", "Пропустить"}, 3};
    case MB_YESNOCANCEL: return {{IDYES, IDNO, IDCANCEL}, {"Да", "Нет", "Отмена"}, 3};
    case MB_YESNO: return {{IDYES, IDNO, 0}, {"Да", "Нет", nullptr}, 2};
    case MB_RETRYCANCEL: return {{IDRETRY, IDCANCEL, 0}, {"Повтор", "Отмена", nullptr}, 2};
    default: return {{IDOK, 0, 0}, {"OK", nullptr, nullptr}, 1};
    }
}

int DefaultButton(const ButtonSet& set, UINT type) {
    int index = (type & MB_DEFBUTTON2) ? 1 : 0;
    if (index >= set.count) index = 0;
    return set.ids[index];
}

}  // namespace

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    const std::string utf8Text = PortToUtf8(text);
    const std::string utf8Caption = caption ? PortToUtf8(caption) : std::string("Error");
    ButtonSet set = ButtonsFor(type);
    const int fallback = DefaultButton(set, type);
    PortLog(PortLogLevel::Info, "MessageBox \"" + utf8Caption + "\": " + utf8Text);
    // A dialog would block a headless run forever (or fail at once under the
    // offscreen driver); the log line above is the whole effect there.
    if (PortIsHeadless()) return fallback;
    if (!PortEnsureVideo()) return fallback;

    SDL_MessageBoxButtonData buttons[3];
    for (int i = 0; i < set.count; ++i) {
        buttons[i].flags = 0;
        if (set.ids[i] == fallback) buttons[i].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        if (set.ids[i] == IDCANCEL || (set.count == 1)) buttons[i].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
        buttons[i].buttonid = set.ids[i];
        buttons[i].text = set.labels[i];
    }
    SDL_MessageBoxData data{};
    UINT icon = type & MB_ICONMASK;
    data.flags = icon == MB_ICONHAND ? SDL_MESSAGEBOX_ERROR
                 : icon == MB_ICONEXCLAMATION ? SDL_MESSAGEBOX_WARNING
                                              : SDL_MESSAGEBOX_INFORMATION;
    data.window = PortSdlWindow(owner);
    data.title = utf8Caption.c_str();
    data.message = utf8Text.c_str();
    data.numbuttons = set.count;
    data.buttons = buttons;
    int pressed = 0;
    if (SDL_ShowMessageBox(&data, &pressed) != 0) {
        PortLog(PortLogLevel::Warning, std::string("MessageBox could not be shown: ") + SDL_GetError());
        return fallback;
    }
    return pressed > 0 ? pressed : fallback;
}

namespace {
// The support library's helper classes show their message boxes through here.
struct MessageBoxRegistration {
    MessageBoxRegistration() {
        VORTALEX::SetMessageBoxHandler([](std::wstring_view text, std::wstring_view caption) {
            MessageBoxW(nullptr, std::wstring(text).c_str(), std::wstring(caption).c_str(), MB_OK);
        });
    }
} g_messageBoxRegistration;
}  // namespace
