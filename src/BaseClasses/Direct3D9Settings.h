#pragma once
// The video settings of the 3D window: prepares the process (current folder,
// logger options, start-up notice), creates the Direct3D object, reads the
// "Video" section of the settings file (or fills hardware-dependent defaults)
// and keeps what device creation needs. Writes the section back on
// destruction, so the file always holds the values of the last run.

#include "Wrappers/XMLParser/XMLSettings.h"
#include "port/d3d9/d3d9.h"

class C_Direct3D9Settings : public VORTALEX::XMLSettings {
public:
    C_Direct3D9Settings();
    ~C_Direct3D9Settings() noexcept override;

    // Reads every key of the "Video" section; false (nothing changed) when
    // the section has no "Adapter" value.
    bool LoadVideo();
    // Writes every key of the "Video" section.
    void SaveVideo();
    // The defaults of a missing section, with the multisample probe.
    void SetDefaultVideo();
    // Replaces values the device cannot be created with (sizes, formats,
    // enumerations out of range) by their defaults, with a warning each.
    void CheckVideo();

    // Where the Direct3D object comes from; tests put a fake here.
    using Direct3DFactory = IDirect3D9* (*)(UINT sdkVersion);
    static Direct3DFactory CreateDirect3D;

    int Adapter = 0;
    int AdapterType = D3DDEVTYPE_HAL;
    int CreateDeviceFlag = 0;
    D3DPRESENT_PARAMETERS PresentParameters{};
    int TextureFilterType = D3DTEXF_LINEAR;
    D3DDISPLAYMODE DisplayMode{};
    D3DCAPS9 Caps{};
    IDirect3D9* m_pDirect3D = nullptr;
    IDirect3DDevice9* m_pDirect3DDevice = nullptr;

private:
    void CheckAdapter();
    bool m_VideoReady = false;   // the fields hold read or default values
    int DefaultCreateDeviceFlag() const;
};
