// DirectInput keyboard and mouse devices: the scan-code table, device states
// and the input-lost cycle.
#include <gtest/gtest.h>

#include <memory>

#include "port/dinput8/dinput.h"
#include "port/dinput8/dinput_hooks.h"
#include "port/win32/afxwin.h"
#include "port/win32/testhooks.h"

namespace {

// SDL scan codes are USB HID keyboard usages.
enum Usage { A = 4, D = 7, S = 22, W = 26, N1 = 30, RETURN = 40, ESCAPE = 41, SPACE = 44, F10 = 67, F12 = 69,
             RIGHT = 79, UP = 82, KP_ENTER = 88, KP_7 = 95, LCTRL = 224, LSHIFT = 225, RALT = 230 };

class DInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<CWnd>();
        RECT r{0, 0, 64, 64};
        ASSERT_TRUE(window->CreateEx(0, L"", L"input", WS_POPUP | WS_CAPTION, r, nullptr, 0));
        void* out = nullptr;
        ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8W, &out, nullptr), DI_OK);
        input = static_cast<IDirectInput8W*>(out);
        ASSERT_EQ(input->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr), DI_OK);
        ASSERT_EQ(input->CreateDevice(GUID_SysMouse, &mouse, nullptr), DI_OK);
        ASSERT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DI_OK);
        ASSERT_EQ(keyboard->SetCooperativeLevel(window->m_hWnd, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);
        ASSERT_EQ(mouse->SetDataFormat(&c_dfDIMouse), DI_OK);
        ASSERT_EQ(mouse->SetCooperativeLevel(window->m_hWnd, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);
        PortInputClearInjected();
    }
    void TearDown() override {
        PortInputClearInjected();
        if (keyboard) keyboard->Release();
        if (mouse) mouse->Release();
        if (input) input->Release();
        window->DestroyWindow();
    }
    std::unique_ptr<CWnd> window;
    IDirectInput8W* input = nullptr;
    IDirectInputDevice8W* keyboard = nullptr;
    IDirectInputDevice8W* mouse = nullptr;
};

}  // namespace

TEST(DInputKeys, ScanCodesMapToDikCodes) {
    EXPECT_EQ(PortDikFromScancode(A), DIK_A);
    EXPECT_EQ(PortDikFromScancode(D), DIK_D);
    EXPECT_EQ(PortDikFromScancode(S), DIK_S);
    EXPECT_EQ(PortDikFromScancode(W), DIK_W);
    EXPECT_EQ(PortDikFromScancode(N1), DIK_1);
    EXPECT_EQ(PortDikFromScancode(RETURN), DIK_RETURN);
    EXPECT_EQ(PortDikFromScancode(ESCAPE), DIK_ESCAPE);
    EXPECT_EQ(PortDikFromScancode(SPACE), DIK_SPACE);
    EXPECT_EQ(PortDikFromScancode(F10), DIK_F10);
    EXPECT_EQ(PortDikFromScancode(F12), DIK_F12);
    EXPECT_EQ(PortDikFromScancode(RIGHT), DIK_RIGHT);
    EXPECT_EQ(PortDikFromScancode(UP), DIK_UP);
    EXPECT_EQ(PortDikFromScancode(KP_ENTER), DIK_NUMPADENTER);
    EXPECT_EQ(PortDikFromScancode(KP_7), DIK_NUMPAD7);
    EXPECT_EQ(PortDikFromScancode(LCTRL), DIK_LCONTROL);
    EXPECT_EQ(PortDikFromScancode(LSHIFT), DIK_LSHIFT);
    EXPECT_EQ(PortDikFromScancode(RALT), DIK_RMENU);
    EXPECT_EQ(PortDikFromScancode(0), 0);
    EXPECT_EQ(PortDikFromScancode(300), 0);
}

TEST_F(DInputTest, KeyboardStateShowsHeldKeysInTheHighBit) {
    BYTE keys[256];
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
    ASSERT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_EQ(keyboard->Acquire(), DI_NOEFFECT);
    PortInputInjectKey(DIK_ESCAPE, true);
    PortInputInjectKey(DIK_LSHIFT, true);
    ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
    EXPECT_EQ(keys[DIK_ESCAPE], 0x80);
    EXPECT_EQ(keys[DIK_LSHIFT], 0x80);
    EXPECT_EQ(keys[DIK_W], 0);
    PortInputInjectKey(DIK_ESCAPE, false);
    ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
    EXPECT_EQ(keys[DIK_ESCAPE], 0);
    EXPECT_EQ(keyboard->GetDeviceState(16, keys), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->GetDeviceState(256, nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DIERR_ACQUIRED);
}

TEST_F(DInputTest, FocusLossReportsInputLostOnceUntilReacquired) {
    ASSERT_EQ(keyboard->Acquire(), DI_OK);
    BYTE keys[256];
    ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
    ASSERT_TRUE(PortSimulateFocusLoss(window->m_hWnd));
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_INPUTLOST);
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
    ASSERT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
    PortInputSimulateFocusLoss();
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_INPUTLOST);
}

TEST_F(DInputTest, MouseReportsMotionSinceTheLastReadWheelAndButtons) {
    ASSERT_EQ(mouse->Acquire(), DI_OK);
    DIMOUSESTATE state{};
    ASSERT_EQ(mouse->Poll(), DI_NOEFFECT);
    ASSERT_EQ(mouse->GetDeviceState(sizeof(state), &state), DI_OK);
    EXPECT_EQ(state.lX, 0);
    ASSERT_TRUE(PortSimulateMouseMove(window->m_hWnd, 10, 10, 5, -3));
    ASSERT_TRUE(PortSimulateMouseMove(window->m_hWnd, 12, 10, 2, 0));
    ASSERT_TRUE(PortSimulateMouseWheel(window->m_hWnd, 1));
    PortInputInjectMouseButton(1, true);
    ASSERT_EQ(mouse->GetDeviceState(sizeof(state), &state), DI_OK);
    EXPECT_EQ(state.lX, 7);
    EXPECT_EQ(state.lY, -3);
    EXPECT_EQ(state.lZ, 120);
    EXPECT_EQ(state.rgbButtons[0], 0);
    EXPECT_EQ(state.rgbButtons[1], 0x80);
    ASSERT_EQ(mouse->GetDeviceState(sizeof(state), &state), DI_OK);
    EXPECT_EQ(state.lX, 0);
    EXPECT_EQ(state.lZ, 0);
    PortInputInjectMouseMotion(-4, 9, -240);
    ASSERT_EQ(mouse->GetDeviceState(sizeof(state), &state), DI_OK);
    EXPECT_EQ(state.lX, -4);
    EXPECT_EQ(state.lY, 9);
    EXPECT_EQ(state.lZ, -240);
    ASSERT_EQ(mouse->Unacquire(), DI_OK);
    EXPECT_EQ(mouse->Poll(), DIERR_NOTACQUIRED);
}

TEST_F(DInputTest, CreationAndSetupRejectBadArguments) {
    void* out = nullptr;
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0700, IID_IDirectInput8W, &out, nullptr), DIERR_OLDDIRECTINPUTVERSION);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0800, GUID_SysMouse, &out, nullptr), DIERR_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    IDirectInputDevice8W* device = nullptr;
    EXPECT_EQ(input->CreateDevice(IID_IDirectInput8W, &device, nullptr), DIERR_DEVICENOTREG);
    EXPECT_EQ(keyboard->SetCooperativeLevel(window->m_hWnd, DISCL_NONEXCLUSIVE), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->SetCooperativeLevel(window->m_hWnd, DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_BACKGROUND),
              DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->SetCooperativeLevel(window->m_hWnd, DISCL_EXCLUSIVE | DISCL_BACKGROUND), DIERR_UNSUPPORTED);
    EXPECT_EQ(mouse->SetDataFormat(&c_dfDIKeyboard), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->SetDataFormat(nullptr), DIERR_INVALIDPARAM);
    IDirectInputDevice8W* fresh = nullptr;
    ASSERT_EQ(input->CreateDevice(GUID_SysKeyboard, &fresh, nullptr), DI_OK);
    EXPECT_EQ(fresh->Acquire(), DIERR_INVALIDPARAM);  // no data format yet
    fresh->Release();
}
