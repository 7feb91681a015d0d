#pragma once
// The video settings of the 3D window: prepares the process (current folder,
// logger options, start-up notice), then opens Direct3D and reads the
// "Video" section of the settings file through the shared settings code.
// Writes the section back on destruction, so the file always holds the
// values of the last run.

#include "BaseClasses/Direct3D9SettingsBase.h"
#include "Wrappers/XMLParser/XMLSettings.h"

class C_Direct3D9Settings : public VORTALEX::XMLSettings, public C_Direct3D9SettingsBase {
public:
    C_Direct3D9Settings();
    ~C_Direct3D9Settings() noexcept override;

protected:
    void SelectVideoSection() override;
    std::wstring ReadVideoText(const wchar_t* key) override;
    int ReadVideoInt(const wchar_t* key) override;
    void WriteVideoInt(const wchar_t* key, int value) override;
    void ShowVideoMessage(const wchar_t* text) override;
    void ReportReplaced(const std::wstring& items) override;
};
