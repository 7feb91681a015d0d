#include "Render/Resources/Surface9.h"

#include <vector>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "QueueRendering/QueueRendering.h"
#include "Render/Resources/BaseTexture9.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_Surface9)
TW_REGISTER_CLASS(C_SurfaceBegin)
TW_REGISTER_CLASS(C_SurfaceEnd)

namespace {

[[maybe_unused]] const bool g_installed = [] {
    C_Surface9::InstallQueueSupport();
    return true;
}();

// One capture begun by a C_SurfaceBegin: the device's scene was ended and,
// when `captured`, the surface's scene begun.
struct OpenCapture {
    C_Surface9* Surface;
    C_SurfaceBegin* Opener;
    IDirect3DDevice9* Device;
    bool Captured;
};

std::vector<OpenCapture>& Captures()
{
    static std::vector<OpenCapture> captures;
    return captures;
}

void Close(const OpenCapture& capture)
{
    if (capture.Captured && capture.Surface) capture.Surface->EndSurface();
    if (capture.Device) capture.Device->BeginScene();
}

// A capture nobody ended: warned about once per begin object, then closed.
void CloseUnended(const OpenCapture& capture)
{
    if (capture.Opener && C_BaseObject::IsLive(capture.Opener) && !capture.Opener->WarnedUnclosed) {
        capture.Opener->WarnedUnclosed = true;
        LOG_WARNING(L"Объект " << capture.Opener->Name << L" начал отрисовку в поверхность без C_SurfaceEnd");
    }
    Close(capture);
}

// The surface named by field 0 of a begin or end object.
C_BaseObject* FindSurface(const std::wstring& name, const std::wstring& owner)
{
    if (name.empty()) {
        LOG_WARNING(L"Объекту " << owner << L" не задана поверхность");
        return nullptr;
    }
    C_BaseResource* surface = C_ResManager::Instance().GetResource(name.c_str(), L"C_Surface9", true);
    if (!surface && C_ResManager::Instance().GetManager(L"C_Surface9"))
        LOG_WARNING(L"Объекту " << owner << L" задана несуществующая поверхность " << name);
    return surface;
}

C_Surface9* LiveSurface(C_BaseObject*& surface)
{
    if (surface && !C_BaseObject::IsLive(surface)) surface = nullptr;
    return dynamic_cast<C_Surface9*>(surface);
}

} // namespace

// ---------------------------------------------------------------------------
// Surface

C_Surface9::C_Surface9() { ResourceLevel = -1; }

C_Surface9::~C_Surface9() { ReleaseDeviceObjects(); }

void C_Surface9::InstallQueueSupport()
{
    C_QueueRendering::C_SurfaceSupport& support = C_QueueRendering::SurfaceSupport;
    support.Query = [](C_BaseResource* resource) -> IDirect3DQuery9* {
        auto* surface = dynamic_cast<C_Surface9*>(resource);
        return surface ? surface->OcclusionQuery : nullptr;
    };
    support.BeginSurface = [](C_BaseResource* resource) {
        auto* surface = dynamic_cast<C_Surface9*>(resource);
        return surface && surface->BeginSurface();
    };
    support.EndSurface = [](C_BaseResource* resource) {
        if (auto* surface = dynamic_cast<C_Surface9*>(resource)) surface->EndSurface();
    };
    support.CloseCaptures = &C_Surface9::CloseOpenCaptures;
}

void C_Surface9::Draw(IDirect3DDevice9* device)
{
    if (TextureObject) TextureObject->Draw(device);
}

void C_Surface9::TextureRequest(const std::wstring& value, int32_t width, int32_t height, uint32_t usage,
                                std::wstring& className, std::wstring& textureValue)
{
    using ParameterString::GetField;
    className = GetField(value, 2);
    if (className.empty()) {
        className = L"C_D3DTextureSize9";
        textureValue = L"; 0; " + std::to_wstring(width) + L"; " + std::to_wstring(height) + L"; " +
                       std::to_wstring(usage) + L";";
        return;
    }
    std::wstring t = C_ResManager::Instance().GetText(GetField(value, 3));
    auto field = [&t](std::size_t index) { return GetField(t, index); };
    if (field(2).empty())
        t = field(0) + L"; " + field(1) + L"; " + std::to_wstring(width) + L"; " + field(3) + L"; " + field(4) + L";";
    if (field(3).empty())
        t = field(0) + L"; " + field(1) + L"; " + field(2) + L"; " + std::to_wstring(height) + L"; " + field(4) + L";";
    if (field(4).empty())
        t = field(0) + L"; " + field(1) + L"; " + field(2) + L"; " + field(3) + L"; 0x0;";
    textureValue = t + L" " + std::to_wstring(usage) + L";";
}

void C_Surface9::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    ReleaseDeviceObjects();

    Width = ParameterString::ReadInt(GetField(0));
    Height = ParameterString::ReadInt(GetField(1));
    if (Width == 0) Width = 320;
    if (Height == 0) Height = 240;

    std::wstring className, textureValue;
    TextureRequest(Value, Width, Height, Usage, className, textureValue);

    C_BaseObject* made = C_FromFactory(className.c_str()).Create();
    TextureObject = dynamic_cast<C_BaseTexture9*>(made);
    if (!TextureObject) {
        // Only a texture can back a surface; anything else goes straight back.
        if (made) made->ReleaseToPool();
        LOG_WARNING(L"Поверхности " << Name << L" задан класс, не являющийся текстурой: " << className);
        return;
    }
    TextureObject->SetName(C_ResManager::GenerateName().c_str());
    TextureObject->SetValue(textureValue.c_str());
    TextureObject->Format = TextureFormat;
    TextureObject->Load(device);
    if (!TextureObject->Texture) {
        LOG_WARNING(L"Текстура не загружена: " << TextureObject->Name);
        return;
    }
    if (FAILED(TextureObject->Texture->GetSurfaceLevel(0, &Surface)) || !Surface) {
        Surface = nullptr;
        LOG_WARNING(L"");
        return;
    }
    D3DSURFACE_DESC desc{};
    if (FAILED(Surface->GetDesc(&desc)) ||
        FAILED(D3DXCreateRenderToSurface(device, desc.Width, desc.Height, desc.Format, TRUE, D3DFMT_D16,
                                         &RenderToSurface))) {
        RenderToSurface = nullptr;
        LOG_WARNING(L"Поверхности " << Name << L" не создан объект отрисовки в текстуру");
        return;
    }
    Viewport = D3DVIEWPORT9{0, 0, desc.Width, desc.Height, 0.0f, 1.0f};
    if (SUCCEEDED(device->CreateQuery(D3DQUERYTYPE_OCCLUSION, nullptr)) &&
        FAILED(device->CreateQuery(D3DQUERYTYPE_OCCLUSION, &OcclusionQuery)))
        OcclusionQuery = nullptr;
}

void C_Surface9::ReleaseDeviceObjects()
{
    // A capture still open on this surface ends with it: the render-to-
    // surface object puts the previous target back as it goes.
    for (OpenCapture& capture : Captures())
        if (capture.Surface == this) {
            capture.Surface = nullptr;
            capture.Captured = false;
        }
    if (OcclusionQuery) OcclusionQuery->Release();
    OcclusionQuery = nullptr;
    if (RenderToSurface) RenderToSurface->Release();
    RenderToSurface = nullptr;
    if (Surface) Surface->Release();
    Surface = nullptr;
    if (TextureObject) {
        TextureObject->Unload();
        TextureObject->ReleaseToPool();
        TextureObject = nullptr;
    }
}

void C_Surface9::Unload()
{
    ReleaseDeviceObjects();
    C_BaseResource::Unload();
}

bool C_Surface9::BeginSurface()
{
    return RenderToSurface && SUCCEEDED(RenderToSurface->BeginScene(Surface, &Viewport));
}

void C_Surface9::EndSurface()
{
    if (RenderToSurface) RenderToSurface->EndScene(0);
}

void C_Surface9::CloseOpenCaptures()
{
    std::vector<OpenCapture>& captures = Captures();
    while (!captures.empty()) {
        const OpenCapture capture = captures.back();
        captures.pop_back();
        CloseUnended(capture);
    }
}

std::size_t C_Surface9::OpenCaptureCount() { return Captures().size(); }

// ---------------------------------------------------------------------------
// Begin and end

C_SurfaceBegin::C_SurfaceBegin() = default;

C_SurfaceBegin::~C_SurfaceBegin()
{
    for (OpenCapture& capture : Captures())
        if (capture.Opener == this) capture.Opener = nullptr;
}

void C_SurfaceBegin::Load(IDirect3DDevice9*)
{
    WarnedUnclosed = false;
    m_Surface = FindSurface(GetField(0), Name);
}

void C_SurfaceBegin::Unload()
{
    m_Surface = nullptr;
    C_BaseResource::Unload();
}

C_Surface9* C_SurfaceBegin::GetSurface() { return LiveSurface(m_Surface); }

void C_SurfaceBegin::Draw(IDirect3DDevice9* device)
{
    C_Surface9* surface = GetSurface();
    if (!surface || !device) return;
    device->EndScene();
    const bool captured = surface->BeginSurface();
    Captures().push_back(OpenCapture{surface, this, device, captured});
}

C_SurfaceEnd::C_SurfaceEnd() = default;
C_SurfaceEnd::~C_SurfaceEnd() = default;

void C_SurfaceEnd::Load(IDirect3DDevice9*)
{
    m_WarnedUnopened = false;
    m_Surface = FindSurface(GetField(0), Name);
}

void C_SurfaceEnd::Unload()
{
    m_Surface = nullptr;
    C_BaseResource::Unload();
}

C_Surface9* C_SurfaceEnd::GetSurface() { return LiveSurface(m_Surface); }

void C_SurfaceEnd::Draw(IDirect3DDevice9* device)
{
    C_Surface9* surface = GetSurface();
    if (!surface || !device) return;
    std::vector<OpenCapture>& captures = Captures();
    std::size_t open = captures.size();
    while (open > 0 && captures[open - 1].Surface != surface) --open;
    if (open == 0) {
        // Nothing to end: the device's scene is still the frame's own.
        if (!m_WarnedUnopened) {
            m_WarnedUnopened = true;
            LOG_WARNING(L"Объект " << Name << L" завершает отрисовку в поверхность " << surface->Name
                                   << L", которая не начата");
        }
        return;
    }
    // Captures begun inside this one and left open end first, so that each
    // render-to-surface object puts back the target it found.
    while (captures.size() > open) {
        const OpenCapture inner = captures.back();
        captures.pop_back();
        CloseUnended(inner);
    }
    const OpenCapture capture = captures.back();
    captures.pop_back();
    Close(capture);
}
