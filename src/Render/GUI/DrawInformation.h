#pragma once
// A diagnostic text at the bottom right of its viewport: the position of the
// camera it is drawn for and, when that camera has an object under the
// cursor, the object's name and its distance to the camera. All of them share
// one font description.

#include <string>

#include "Render/GUI/BaseText2D.h"

class C_DrawInformation : public C_BaseText2D {
    TW_POOLED_CLASS(C_DrawInformation)

public:
    C_DrawInformation();
    ~C_DrawInformation() override;

    // Writes the text for the current camera, then draws it.
    void Draw(IDirect3DDevice9* device) override;    // 16
    // A non-empty value string is the font description of every information
    // text loaded from now on.
    void Load(IDirect3DDevice9* device) override;    // 21

    // The font description the next information text loads with.
    static std::wstring& FontDescription();
};
