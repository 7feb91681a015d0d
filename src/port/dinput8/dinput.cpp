// DirectInput 8 keyboard and mouse over SDL's keyboard state and the mouse
// events the message loop collects.
#include <SDL.h>

#include <cstring>

#include "port/dinput8/dinput.h"
#include "port/dinput8/dinput_hooks.h"
#include "port/win32/afxwin.h"
#include "port/win32/inputstate.h"
#include "port/win32/sdlvideo.h"

namespace {

BYTE g_injectedKeys[256] = {};
BYTE g_injectedButtons[8] = {};

struct ScanEntry {
    int scancode;
    BYTE dik;
};

// USB HID keyboard usages (SDL scan codes) to PC/AT set-1 codes.
const ScanEntry kScanTable[] = {
    {4, 0x1E},   {5, 0x30},   {6, 0x2E},   {7, 0x20},   {8, 0x12},   {9, 0x21},   {10, 0x22},  {11, 0x23},
    {12, 0x17},  {13, 0x24},  {14, 0x25},  {15, 0x26},  {16, 0x32},  {17, 0x31},  {18, 0x18},  {19, 0x19},
    {20, 0x10},  {21, 0x13},  {22, 0x1F},  {23, 0x14},  {24, 0x16},  {25, 0x2F},  {26, 0x11},  {27, 0x2D},
    {28, 0x15},  {29, 0x2C},  {30, 0x02},  {31, 0x03},  {32, 0x04},  {33, 0x05},  {34, 0x06},  {35, 0x07},
    {36, 0x08},  {37, 0x09},  {38, 0x0A},  {39, 0x0B},  {40, 0x1C},  {41, 0x01},  {42, 0x0E},  {43, 0x0F},
    {44, 0x39},  {45, 0x0C},  {46, 0x0D},  {47, 0x1A},  {48, 0x1B},  {49, 0x2B},  {50, 0x2B},  {51, 0x27},
    {52, 0x28},  {53, 0x29},  {54, 0x33},  {55, 0x34},  {56, 0x35},  {57, 0x3A},  {58, 0x3B},  {59, 0x3C},
    {60, 0x3D},  {61, 0x3E},  {62, 0x3F},  {63, 0x40},  {64, 0x41},  {65, 0x42},  {66, 0x43},  {67, 0x44},
    {68, 0x57},  {69, 0x58},  {70, 0xB7},  {71, 0x46},  {72, 0xC5},  {73, 0xD2},  {74, 0xC7},  {75, 0xC9},
    {76, 0xD3},  {77, 0xCF},  {78, 0xD1},  {79, 0xCD},  {80, 0xCB},  {81, 0xD0},  {82, 0xC8},  {83, 0x45},
    {84, 0xB5},  {85, 0x37},  {86, 0x4A},  {87, 0x4E},  {88, 0x9C},  {89, 0x4F},  {90, 0x50},  {91, 0x51},
    {92, 0x4B},  {93, 0x4C},  {94, 0x4D},  {95, 0x47},  {96, 0x48},  {97, 0x49},  {98, 0x52},  {99, 0x53},
    {100, 0x56}, {101, 0xDD}, {102, 0xDE}, {103, 0x8D}, {104, 0x64}, {105, 0x65}, {106, 0x66}, {133, 0xB3},
    {135, 0x73}, {136, 0x70}, {137, 0x7D}, {138, 0x79}, {139, 0x7B}, {224, 0x1D}, {225, 0x2A}, {226, 0x38},
    {227, 0xDB}, {228, 0x9D}, {229, 0x36}, {230, 0xB8}, {231, 0xDC},
};

// Reference counting and the one interface each object here answers to.
template <class Interface>
class PortInputObject : public Interface {
public:
    explicit PortInputObject(const IID& iid) : m_iid(iid) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == m_iid) {
            AddRef();
            *object = this;
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        if (m_refs == 0) return 0;
        ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }

private:
    const IID& m_iid;
    ULONG m_refs = 1;
};

class PortInputDevice final : public PortInputObject<IDirectInputDevice8W> {
public:
    explicit PortInputDevice(bool keyboard) : PortInputObject(IID_IDirectInputDevice8W), m_keyboard(keyboard) {}

    HRESULT SetDataFormat(LPCDIDATAFORMAT format) override {
        if (!format) return DIERR_INVALIDPARAM;
        if (m_acquired) return DIERR_ACQUIRED;
        if (m_keyboard) {
            if (format->dwDataSize != 256) return DIERR_INVALIDPARAM;
        } else if (format->dwDataSize != sizeof(DIMOUSESTATE) && format->dwDataSize != sizeof(DIMOUSESTATE2)) {
            return DIERR_INVALIDPARAM;
        }
        m_dataSize = format->dwDataSize;
        return DI_OK;
    }

    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
        const DWORD exclusive = flags & (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE);
        const DWORD ground = flags & (DISCL_FOREGROUND | DISCL_BACKGROUND);
        if (exclusive == 0 || exclusive == (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE)) return DIERR_INVALIDPARAM;
        if (ground == 0 || ground == (DISCL_FOREGROUND | DISCL_BACKGROUND)) return DIERR_INVALIDPARAM;
        if (window && !IsWindow(window)) return E_HANDLE;
        if (m_keyboard && (flags & DISCL_EXCLUSIVE) && (flags & DISCL_BACKGROUND)) return DIERR_UNSUPPORTED;
        m_window = window;
        m_flags = flags;
        return DI_OK;
    }

    HRESULT Acquire() override {
        if (m_dataSize == 0) return DIERR_INVALIDPARAM;
        if (m_acquired) return DI_NOEFFECT;
        if ((m_flags & DISCL_FOREGROUND) && m_window) {
            SDL_Window* sdl = PortSdlWindow(m_window);
            if (!sdl || !(SDL_GetWindowFlags(sdl) & SDL_WINDOW_INPUT_FOCUS)) return DIERR_OTHERAPPHASPRIO;
        }
        PortPumpMessages();
        const PortInputTotals& totals = PortInputState();
        m_seen = totals;
        m_acquired = true;
        return DI_OK;
    }

    HRESULT Unacquire() override {
        if (!m_acquired) return DI_NOEFFECT;
        m_acquired = false;
        return DI_OK;
    }

    HRESULT Poll() override {
        if (!m_acquired) return DIERR_NOTACQUIRED;
        PortPumpMessages();
        return DI_NOEFFECT;  // these devices deliver data without polling
    }

    HRESULT GetDeviceState(DWORD size, LPVOID data) override {
        if (!data) return DIERR_INVALIDPARAM;
        if (!m_acquired) return DIERR_NOTACQUIRED;
        if (size != m_dataSize) return DIERR_INVALIDPARAM;
        PortPumpMessages();
        const PortInputTotals& totals = PortInputState();
        if (totals.focusLost != m_seen.focusLost) {
            // The focus went away since the last read: the caller acquires again.
            m_seen.focusLost = totals.focusLost;
            m_acquired = false;
            return DIERR_INPUTLOST;
        }
        if (m_keyboard) {
            BYTE* keys = static_cast<BYTE*>(data);
            std::memset(keys, 0, 256);
            int count = 0;
            const Uint8* state = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetKeyboardState(&count) : nullptr;
            for (const ScanEntry& e : kScanTable)
                if (state && e.scancode < count && state[e.scancode]) keys[e.dik] = 0x80;
            for (int i = 0; i < 256; ++i)
                if (g_injectedKeys[i]) keys[i] = 0x80;
        } else {
            DIMOUSESTATE2 state{};
            state.lX = static_cast<LONG>(totals.mouseX - m_seen.mouseX);
            state.lY = static_cast<LONG>(totals.mouseY - m_seen.mouseY);
            state.lZ = static_cast<LONG>(totals.wheel - m_seen.wheel);
            m_seen.mouseX = totals.mouseX;
            m_seen.mouseY = totals.mouseY;
            m_seen.wheel = totals.wheel;
            const Uint32 buttons = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetMouseState(nullptr, nullptr) : 0;
            const Uint32 masks[8] = {SDL_BUTTON_LMASK, SDL_BUTTON_RMASK, SDL_BUTTON_MMASK, SDL_BUTTON_X1MASK,
                                     SDL_BUTTON_X2MASK, 0, 0, 0};
            for (int i = 0; i < 8; ++i)
                state.rgbButtons[i] = ((buttons & masks[i]) || g_injectedButtons[i]) ? 0x80 : 0;
            std::memcpy(data, &state, size);
        }
        return DI_OK;
    }

private:
    bool m_keyboard;
    DWORD m_dataSize = 0;
    HWND m_window = nullptr;
    DWORD m_flags = 0;
    bool m_acquired = false;
    PortInputTotals m_seen;
};

class PortDirectInput final : public PortInputObject<IDirectInput8W> {
public:
    PortDirectInput() : PortInputObject(IID_IDirectInput8W) {}
    HRESULT CreateDevice(REFGUID guid, IDirectInputDevice8W** device, LPUNKNOWN outer) override {
        if (!device) return DIERR_INVALIDPARAM;
        *device = nullptr;
        if (outer) return DIERR_NOAGGREGATION;
        if (guid == GUID_SysKeyboard) *device = new PortInputDevice(true);
        else if (guid == GUID_SysMouse) *device = new PortInputDevice(false);
        else return DIERR_DEVICENOTREG;
        return DI_OK;
    }
};

}  // namespace

HRESULT DirectInput8Create(HINSTANCE, DWORD version, REFIID riid, LPVOID* out, LPUNKNOWN outer) {
    if (!out) return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (outer) return DIERR_NOAGGREGATION;
    if (version < 0x0800) return DIERR_OLDDIRECTINPUTVERSION;
    if (version > 0x0800) return DIERR_BETADIRECTINPUTVERSION;
    if (riid != IID_IDirectInput8W) return DIERR_NOINTERFACE;
    // Keyboard state comes from SDL's video events.
    PortEnsureVideo();
    *out = static_cast<IDirectInput8W*>(new PortDirectInput);
    return DI_OK;
}

BYTE PortDikFromScancode(int scancode) {
    for (const ScanEntry& e : kScanTable)
        if (e.scancode == scancode) return e.dik;
    return 0;
}

void PortInputInjectKey(BYTE dik, bool down) { g_injectedKeys[dik] = down ? 1 : 0; }

void PortInputInjectMouseButton(int button, bool down) {
    if (button >= 0 && button < 8) g_injectedButtons[button] = down ? 1 : 0;
}

void PortInputInjectMouseMotion(LONG dx, LONG dy, LONG wheel) {
    PortInputState().mouseX += dx;
    PortInputState().mouseY += dy;
    PortInputState().wheel += wheel;
}

void PortInputClearInjected() {
    std::memset(g_injectedKeys, 0, sizeof(g_injectedKeys));
    std::memset(g_injectedButtons, 0, sizeof(g_injectedButtons));
}

void PortInputSimulateFocusLoss() { ++PortInputState().focusLost; }
