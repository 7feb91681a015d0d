#pragma once
// The one 3D window of the program: the framework window, the owner of the
// video settings and the device, and the root module of the scene. Its
// frame runs from the application's idle loop: input, update, queueing,
// the occlusion and main passes, presentation, device-loss recovery and the
// step-wise loading behind the load screen.

#include <cstdint>
#include <string>

#include "BaseClasses/BaseModule.h"
#include "BaseClasses/Direct3D9Settings.h"
#include "Common/vector.h"
#include "port/win32/afxwin.h"

class C_LoadScreen;

class C_Base3DWindow : public CWnd, public C_Direct3D9Settings, public C_BaseModule {
public:
    C_Base3DWindow();
    ~C_Base3DWindow() override;

    // Creates the window and the device, starts input and asks the first
    // frame to load the main module.
    virtual bool Create3DWindow();
    // One frame.
    virtual void Render();

    virtual void EnableWindow3D();
    virtual void DisableWindow3D();

    // Script function: the running window switches to another main module
    // at the start of the next frame. Always 0.
    static double LoadMainModule(const std::string& file);

    // The main module file named by a command line: the line itself, else
    // the "MainModule" text entry, else "MainModule.xml".
    static std::wstring MainModuleFor(const std::wstring& commandLine);
    // The program's arguments joined by single spaces.
    static std::wstring ProcessCommandLine();

    // Sets sampler 0's magnification and minification filters.
    void SetTextureFilter();
    void ShowLoadScreen();
    void HideLoadScreen();
    void ReloadMainModule();

    // The window is a module that no manager owns.
    const wchar_t* GetClassName() override { return L"C_Base3DWindow"; }
    void ReleaseToPool() override {}
    void ClearPool() override {}

    // Exceptions caught in Render over the whole run.
    static int32_t ExceptionCount;
    // Statuses of the window module's objects while the load screen shows.
    static VORTALEX::vector<C_BaseObject::StatusObject, 100>& SavedStatuses();

    C_LoadScreen* m_pLoadScreen = nullptr;
    bool m_Loading = false;
    bool m_Reload = false;
    std::wstring m_MainModule;
    // The load screen is up and SavedStatuses holds the statuses it hides
    // (showing it again, after a device loss while loading, keeps them).
    bool m_LoadScreenUp = false;

protected:
    void OnClose() override;
    void OnMouseMove(UINT flags, POINT point) override;
    BOOL OnMouseWheel(UINT flags, short delta, POINT point) override;

private:
    void Frame();
};
