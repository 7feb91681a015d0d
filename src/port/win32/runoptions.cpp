#include "port/win32/runoptions.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "port/win32/afxwin.h"
#include "port/win32/sdlvideo.h"

namespace {
PortRunOptions g_options;
bool g_loaded = false;
uint64_t g_frames = 0;
bool g_closePosted = false;
long long g_sceneFrom = -1;  // frames presented when the last load ended; -1 while loading

long long ReadNumber(const char* name) {
    const char* text = std::getenv(name);
    if (!text || !*text) return -1;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || value < 0) return -1;
    return value;
}

// A list of frame counts separated by commas or blanks; other text ends it.
std::vector<long long> ReadNumbers(const char* name) {
    std::vector<long long> numbers;
    const char* text = std::getenv(name);
    while (text && *text) {
        while (*text == ',' || *text == ' ') ++text;
        if (!*text) break;
        char* end = nullptr;
        const long long value = std::strtoll(text, &end, 10);
        if (end == text || value <= 0) break;
        numbers.push_back(value);
        text = end;
    }
    return numbers;
}

void Load() {
    g_options = PortRunOptions{};
    g_options.frames = ReadNumber("TARNWICK_FRAMES");
    g_options.stepMs = ReadNumber("TARNWICK_STEP_MS");
    g_options.loseDeviceAfter = ReadNumbers("TARNWICK_LOSE_DEVICE");
    g_options.loseDeviceAt = g_options.loseDeviceAfter.empty() ? -1 : g_options.loseDeviceAfter.front();
    if (const char* s = std::getenv("TARNWICK_SCREENSHOT")) g_options.screenshot = s;
    if (const char* s = std::getenv("TARNWICK_STATS")) g_options.stats = s;
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    g_options.offscreenDriver = driver && std::strcmp(driver, "offscreen") == 0;
    g_loaded = true;
}
}  // namespace

const PortRunOptions& PortRun() {
    if (!g_loaded) Load();
    return g_options;
}

void PortRunReload() {
    Load();
    g_frames = 0;
    g_closePosted = false;
    g_sceneFrom = -1;
}

bool PortIsHeadless() {
    const PortRunOptions& o = PortRun();
    // The offscreen driver may also have been chosen because there is no display.
    return o.offscreenDriver || o.frames >= 0 || PortVideoIsOffscreen();
}

uint64_t PortPresentedFrames() { return g_frames; }

void PortSceneLoading() { g_sceneFrom = -1; }
void PortSceneLoaded() { g_sceneFrom = static_cast<long long>(g_frames); }
bool PortPresentingSceneFrame() { return g_sceneFrom >= 0 && static_cast<long long>(g_frames) > g_sceneFrom; }

bool PortLoseDeviceAfter(uint64_t frames) {
    for (long long at : PortRun().loseDeviceAfter)
        if (static_cast<uint64_t>(at) == frames) return true;
    return false;
}

void PortFramePresented(HWND deviceWindow) {
    ++g_frames;
    const PortRunOptions& o = PortRun();
    if (o.frames >= 0 && !g_closePosted && g_frames >= static_cast<uint64_t>(o.frames)) {
        g_closePosted = true;
        CWnd* main = AfxGetMainWnd();
        HWND target = main && main->GetSafeHwnd() ? main->GetSafeHwnd() : deviceWindow;
        if (target) PostMessageW(target, WM_CLOSE, 0, 0);
    }
}
