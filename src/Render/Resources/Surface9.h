#pragma once
// Off-screen render targets and the objects that switch drawing into them.
// A surface owns a render-target texture object, the render-to-surface
// object that draws into level 0 of it (with a 16-bit depth buffer) and, when
// the device has them, an occlusion query. Listed among an object's extra
// objects it textures that object with what was drawn into it; a
// C_SurfaceBegin ... C_SurfaceEnd pair drawn in order captures everything
// drawn between them.

#include <cstdint>
#include <string>

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"
#include "port/d3d9/d3d9.h"
#include "port/d3dx9/d3dx9rts.h"

class C_BaseTexture9;

class C_Surface9 : public C_BaseResource {
    TW_POOLED_CLASS(C_Surface9)

public:
    C_Surface9();
    ~C_Surface9() override;

    // Binds the surface's texture through its texture object (stage and
    // stage set-up as the texture object says).
    void Draw(IDirect3DDevice9* device) override;      // 16
    // Fields: 0 width (0 or empty: 320), 1 height (0 or empty: 240), 2 the
    // texture class (empty: C_D3DTextureSize9), 3 the text entry holding the
    // texture's value-string template (only with field 2).
    void Load(IDirect3DDevice9* device) override;      // 21
    // Releases the query, the render-to-surface object, the surface and the
    // texture object, then the common release.
    void Unload() override;                            // 22

    // Starts drawing into the surface with its viewport; false without a
    // render-to-surface object or when its scene cannot begin.
    bool BeginSurface();
    // Ends drawing into the surface (mip filter 0): the previous target,
    // depth buffer and viewport come back.
    void EndSurface();

    // The value string of the texture object and its class for the given
    // surface value string and size (usage: the texture's usage).
    static void TextureRequest(const std::wstring& value, int32_t width, int32_t height, uint32_t usage,
                               std::wstring& className, std::wstring& textureValue);

    IDirect3DSurface9* Surface = nullptr;
    ID3DXRenderToSurface* RenderToSurface = nullptr;
    IDirect3DQuery9* OcclusionQuery = nullptr;
    C_BaseTexture9* TextureObject = nullptr;     // owned
    uint32_t Usage = D3DUSAGE_RENDERTARGET;
    // The format the texture object is asked for (D3DFMT_UNKNOWN: its own
    // choice, the display format for the empty and image textures).
    D3DFORMAT TextureFormat = D3DFMT_UNKNOWN;
    int32_t Width = 0;
    int32_t Height = 0;
    D3DVIEWPORT9 Viewport{0, 0, 0, 0, 0.0f, 1.0f};

    // Installs the render queue's access to surfaces (done once at start).
    static void InstallQueueSupport();

    // Captures opened by C_SurfaceBegin and not yet closed are closed, the
    // innermost first, each with a warning, and the device's scene is begun
    // again: a pass never ends with drawing still redirected.
    static void CloseOpenCaptures();
    // Number of captures open right now.
    static std::size_t OpenCaptureCount();

private:
    void ReleaseDeviceObjects();
};

// Ends the device's scene and starts drawing into the named surface.
class C_SurfaceBegin : public C_BaseResource {
    TW_POOLED_CLASS(C_SurfaceBegin)

public:
    C_SurfaceBegin();
    ~C_SurfaceBegin() override;
    void Draw(IDirect3DDevice9* device) override;      // 16
    // Field 0: the name of the C_Surface9. No script, effect or extra
    // objects are loaded.
    void Load(IDirect3DDevice9* device) override;      // 21
    void Unload() override;                            // 22

    // The surface, while it is alive.
    C_Surface9* GetSurface();

    bool WarnedUnclosed = false;   // the unclosed-capture warning was given

private:
    C_BaseObject* m_Surface = nullptr;   // not owned
};

// Ends drawing into the named surface and begins the device's scene again.
class C_SurfaceEnd : public C_BaseResource {
    TW_POOLED_CLASS(C_SurfaceEnd)

public:
    C_SurfaceEnd();
    ~C_SurfaceEnd() override;
    void Draw(IDirect3DDevice9* device) override;      // 16
    void Load(IDirect3DDevice9* device) override;      // 21
    void Unload() override;                            // 22

    C_Surface9* GetSurface();

private:
    C_BaseObject* m_Surface = nullptr;   // not owned
    bool m_WarnedUnopened = false;
};
