#pragma once
// Textures: each object owns one Direct3D texture and, when drawn, binds it
// to its stage with a fixed stage set-up. A process-wide table remembers which
// object each stage 0..8 holds, so an object drawn again on the same stage
// binds nothing.

#include <cstdint>

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"
#include "port/d3d9/d3d9.h"

class C_BaseTexture9 : public C_BaseResource {
public:
    static constexpr int StageCount = 9;

    ~C_BaseTexture9() override;
    void Draw(IDirect3DDevice9* device) override;     // 16
    // The common loading, then the stage from field 1.
    void Load(IDirect3DDevice9* device) override;     // 21
    void Unload() override;                           // 22

    // The back-buffer format of the application's 3D window; without one,
    // the warning "!pWnd" and the format of the device's display mode.
    static D3DFORMAT GetDisplayFormat(IDirect3DDevice9* device);

    // The object last bound to a stage (null: none known).
    static C_BaseTexture9* BoundToStage(int stage);
    // Forgets every binding: the frame loop calls this when it has unbound
    // the texture stages after Present.
    static void ClearStageTable();

    void SetTexture(IDirect3DTexture9* texture);

    IDirect3DTexture9* Texture = nullptr;
    int32_t Stage = 0;
    // The format the empty and image textures are made in; D3DFMT_UNKNOWN
    // (the default) takes the display format. Whoever creates the object
    // may ask for another (a panel needs an alpha channel).
    D3DFORMAT Format = D3DFMT_UNKNOWN;

protected:
    // Steps shared by the file textures: the base Load, the texture folder
    // and the lower-cased file name; false when the name asks for no texture
    // ("null" anywhere in it). `path` receives folder + "\" + name.
    bool PrepareFile(IDirect3DDevice9* device, std::wstring& path);
    // Format, or the display format when none was asked for.
    D3DFORMAT CreationFormat(IDirect3DDevice9* device) const;

private:
    void ForgetBindings();
};

// A texture read from an image file with default parameters.
class C_D3DTEXTURE9 : public C_BaseTexture9 {
    TW_POOLED_CLASS(C_D3DTEXTURE9)

public:
    void Load(IDirect3DDevice9* device) override;     // 21
};

// A texture read from an image file with the size, colour key and usage of
// its value string.
class C_D3DTextureEx9 : public C_BaseTexture9 {
    TW_POOLED_CLASS(C_D3DTextureEx9)

public:
    void Load(IDirect3DDevice9* device) override;     // 21
};

// An empty texture of a given size (render targets use usage 1).
class C_D3DTextureSize9 : public C_BaseTexture9 {
    TW_POOLED_CLASS(C_D3DTextureSize9)

public:
    void Load(IDirect3DDevice9* device) override;     // 21
};
