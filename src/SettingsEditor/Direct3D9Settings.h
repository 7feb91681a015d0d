#pragma once
// The editor's video settings: the engine's shared settings code on top of
// the editor's own "settings.xml" reader. Built as the engine builds its
// settings after the process set-up: D3DX optimisations on (without a
// report), the Direct3D object, the "Video" section or the defaults with
// the multisample probe. No logger and no change of the current folder:
// replaced values and failures become notes for the log box and message
// boxes. On destruction the "Video" keys are written and the file saved.

#include <string>

#include "BaseClasses/Direct3D9SettingsBase.h"
#include "SettingsEditor/XMLFiles.h"

class C_Direct3D9Settings : public C_XMLSettings, public C_Direct3D9SettingsBase {
public:
    C_Direct3D9Settings();
    ~C_Direct3D9Settings() override;

    // Notes of the file and of replaced values, for the log box.
    std::wstring TakeNotes();

protected:
    void SelectVideoSection() override;
    std::wstring ReadVideoText(const wchar_t* key) override;
    int ReadVideoInt(const wchar_t* key) override;
    void WriteVideoInt(const wchar_t* key, int value) override;
    void ShowVideoMessage(const wchar_t* text) override;
    void ReportReplaced(const std::wstring& items) override;

private:
    std::wstring m_Replaced;
};
