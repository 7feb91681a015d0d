#pragma once
// The load screen: a small module owned by the 3D window with a title, the
// progress percentage and its own camera. It is the only visible thing while
// the resource managers load.

#include "BaseClasses/BaseModule.h"
#include "Render/GUI/BaseText2D.h"

class C_LoadScreen : public C_BaseModule {
    TW_POOLED_CLASS(C_LoadScreen)

public:
    // A text whose font holds device memory only while it draws, so it
    // survives the managers' release and reload cycles.
    class C_TextLoadScreen : public C_BaseText2D {
    public:
        C_TextLoadScreen();
        void Draw(IDirect3DDevice9* device) override;
        // Part of the load screen, never of a class pool.
        const wchar_t* GetClassName() override { return L"C_TextLoadScreen"; }
        void ReleaseToPool() override {}
        void ClearPool() override {}
    };

    C_LoadScreen();
    ~C_LoadScreen() override;

    // Builds the two texts and the camera again.
    void Load(IDirect3DDevice9* device) override;

    // The progress font description: field 1 halved, fields 0 and 2 copied.
    static std::wstring HalfSizeFont(const std::wstring& description);

    C_TextLoadScreen Title;
    C_TextLoadScreen Progress;
};
