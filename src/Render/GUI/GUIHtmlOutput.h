#pragma once
// A panel of marked-up text: when it loads, the process-wide HTML drawer
// draws a text of the text table into the panel's surface once, and every
// pixel left in the colour of the top-left corner becomes transparent
// black, every other one opaque. Listed among an object's extra objects it
// textures that object like any surface.
//
// The picture is written by the processor (a device context, then a lock
// for the colour key), so the panel's texture is a dynamic one in the
// default pool rather than a render target, which Direct3D does not let
// anyone lock; and it is made in A8R8G8B8 whatever the display format, so
// that the key has a 32-bit pixel to compare and an alpha channel to clear.

#include "Render/Resources/Surface9.h"

class C_GUIHtmlOutput : public C_Surface9 {
    TW_POOLED_CLASS(C_GUIHtmlOutput)

public:
    C_GUIHtmlOutput();
    ~C_GUIHtmlOutput() override;

    // Fields 0-3 as a surface's; 4 the text table key of the marked-up
    // text, 5 the left and 6 the top margin in pixels. Lines are at most the
    // surface width less both margins wide.
    void Load(IDirect3DDevice9* device) override;      // 21

private:
    // The text of field 4, with a warning when there is none.
    std::wstring PanelText();
    void MakeBackgroundTransparent();
};
