#pragma once
// The 3D window of the engine's test program: the base frame, and Escape
// closes the window.

#include "BaseClasses/Base3DWindow.h"

class C_Test3DWindow : public C_Base3DWindow {
public:
    void Render() override;
};
