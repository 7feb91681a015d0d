#pragma once
// The device settings that the engine's 3D window and the settings editor
// share: the "Video" keys with their defaults and checks, the Direct3D
// object, the adapter's display mode and capabilities, and the multisample
// probe. Both programs compile this same code; each derived class says where
// the keys are stored (the engine's settings classes or the editor's own)
// and how a message box or a replaced value is shown.

#include <array>
#include <cstdint>
#include <string>

#include "port/d3d9/d3d9.h"

class C_Direct3D9SettingsBase {
public:
    C_Direct3D9SettingsBase(const C_Direct3D9SettingsBase&) = delete;
    C_Direct3D9SettingsBase& operator=(const C_Direct3D9SettingsBase&) = delete;

    // Reads every key of the "Video" section; false (nothing changed) when
    // the section has no "Adapter" value. Values the fields cannot hold
    // (enumerations out of range, sizes beyond any device) are replaced by
    // their defaults before they reach the fields, and named in one report.
    bool LoadVideo();
    // Writes every key of the "Video" section.
    void SaveVideo();
    // The defaults of a missing section, with the multisample probe.
    void SetDefaultVideo();
    // Replaces values the device cannot be created with (sizes, formats,
    // enumerations out of range, creation flags the capabilities rule out)
    // by their defaults, named in one report.
    void CheckVideo();

    // Where the Direct3D object comes from; tests put a fake here.
    using Direct3DFactory = IDirect3D9* (*)(UINT sdkVersion);
    static Direct3DFactory CreateDirect3D;

    // The "Video" keys in file order.
    static constexpr int VideoKeyCount = 17;
    static const std::array<const wchar_t*, VideoKeyCount> VideoKeys;

    int Adapter = 0;
    int AdapterType = D3DDEVTYPE_HAL;
    int CreateDeviceFlag = 0;
    D3DPRESENT_PARAMETERS PresentParameters{};
    int TextureFilterType = D3DTEXF_LINEAR;
    D3DDISPLAYMODE DisplayMode{};
    D3DCAPS9 Caps{};
    IDirect3D9* m_pDirect3D = nullptr;
    IDirect3DDevice9* m_pDirect3DDevice = nullptr;

protected:
    C_Direct3D9SettingsBase() = default;
    // Releases what ReleaseDirect3D has not released yet.
    virtual ~C_Direct3D9SettingsBase();

    // Creates the Direct3D object, reads the section (or starts from the
    // defaults), reads the capabilities and display mode, then fills the
    // defaults with the multisample probe or checks the values read. Each
    // Direct3D failure shows its message and stops there.
    void OpenDirect3D();
    // Releases the device, then the Direct3D object.
    void ReleaseDirect3D();
    // True once the fields hold values read or filled in: only then may
    // they replace the stored section.
    bool VideoReady() const { return m_VideoReady; }

    // The store of the keys, as the derived class keeps it.
    virtual void SelectVideoSection() = 0;
    virtual std::wstring ReadVideoText(const wchar_t* key) = 0;
    virtual int ReadVideoInt(const wchar_t* key) = 0;
    virtual void WriteVideoInt(const wchar_t* key, int value) = 0;
    // A Direct3D failure (one of the three texts of the start-up).
    virtual void ShowVideoMessage(const wchar_t* text) = 0;
    // Values that were replaced, as " Key old -> new;" items.
    virtual void ReportReplaced(const std::wstring& items) = 0;

private:
    using Values = std::array<int32_t, VideoKeyCount>;
    Values ReadFields() const;
    void WriteFields(const Values& values);
    // Replaces unusable values; with capabilities also the creation flags.
    void CheckValues(Values& values, bool withCaps, std::wstring& replaced) const;
    int DefaultCreateDeviceFlag() const;

    bool m_VideoReady = false;
};
