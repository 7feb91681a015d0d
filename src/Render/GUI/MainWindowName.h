#pragma once
// Sets the caption of the program's main window when it loads: field 0 of
// its value string. The scene reload names the window after the module
// first; this object, loaded afterwards, gives it the caption the scene
// wants.

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"

class C_MainWindowName : public C_BaseResource {
    TW_POOLED_CLASS(C_MainWindowName)

public:
    C_MainWindowName();
    ~C_MainWindowName() override;

    void Load(IDirect3DDevice9* device) override;    // 21
};
