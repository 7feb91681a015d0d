#include "Render/Resources/BaseTexture9.h"

#include <string>

#include "BaseClasses/DataFile.h"
#include "BaseClasses/Direct3D9Settings.h"
#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "Render/Resources/D3DXMESH9_XFILE.h"
#include "ResourceManager/ResManager.h"
#include "port/d3dx9/d3dx9tex.h"
#include "port/win32/afxwin.h"

TW_REGISTER_CLASS(C_D3DTEXTURE9)
TW_REGISTER_CLASS(C_D3DTextureEx9)
TW_REGISTER_CLASS(C_D3DTextureSize9)

namespace {

C_BaseTexture9* g_Stages[C_BaseTexture9::StageCount] = {};

} // namespace

C_BaseTexture9::~C_BaseTexture9()
{
    SetTexture(nullptr);
    ForgetBindings();
    C_D3DXMESH9_XFILE::ForgetResource(this);
}

void C_BaseTexture9::SetTexture(IDirect3DTexture9* texture)
{
    if (Texture == texture) return;
    if (Texture) Texture->Release();
    Texture = texture;
}

void C_BaseTexture9::ForgetBindings()
{
    // A pooled object's address is soon reused by another texture, which
    // must not find itself "already bound".
    for (C_BaseTexture9*& entry : g_Stages)
        if (entry == this) entry = nullptr;
}

C_BaseTexture9* C_BaseTexture9::BoundToStage(int stage)
{
    return stage >= 0 && stage < StageCount ? g_Stages[stage] : nullptr;
}

void C_BaseTexture9::ClearStageTable()
{
    for (C_BaseTexture9*& entry : g_Stages) entry = nullptr;
}

void C_BaseTexture9::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    Stage = ParameterString::ReadInt(GetField(1));
}

void C_BaseTexture9::Unload()
{
    SetTexture(nullptr);
    ForgetBindings();
    C_BaseResource::Unload();
}

void C_BaseTexture9::Draw(IDirect3DDevice9* device)
{
    if (CommonData().RenderPass == 1 || !device) return;
    // Stages beyond the table do not exist on the device either.
    if (Stage < 0 || Stage >= StageCount) return;
    if (g_Stages[Stage] == this) return;
    g_Stages[Stage] = this;

    const auto stage = static_cast<DWORD>(Stage);
    device->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_MODULATE);
    if (Stage < StageCount - 1) {
        device->SetTextureStageState(stage + 1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->SetTexture(stage + 1, nullptr);
        // The next stage is empty now: whatever the table said about it no
        // longer holds, and its texture must bind again when drawn.
        g_Stages[Stage + 1] = nullptr;
    }
    device->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_CURRENT);
    device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTexture(stage, Texture);
}

D3DFORMAT C_BaseTexture9::GetDisplayFormat(IDirect3DDevice9* device)
{
    if (auto* window = dynamic_cast<C_Direct3D9Settings*>(AfxGetMainWnd()))
        return window->PresentParameters.BackBufferFormat;
    LOG_WARNING(L"!pWnd");
    D3DDISPLAYMODE mode{};
    if (device && SUCCEEDED(device->GetDisplayMode(0, &mode))) return mode.Format;
    return D3DFMT_UNKNOWN;
}

D3DFORMAT C_BaseTexture9::CreationFormat(IDirect3DDevice9* device) const
{
    return Format != D3DFMT_UNKNOWN ? Format : GetDisplayFormat(device);
}

bool C_BaseTexture9::PrepareFile(IDirect3DDevice9* device, std::wstring& path)
{
    C_BaseTexture9::Load(device);
    SetTexture(nullptr);
    const std::wstring folder = C_ResManager::Instance().GetText(L"FolderTexture");
    const std::wstring name = ParameterString::ToLower(GetField(0));
    if (name.find(L"null") != std::wstring::npos) return false;
    path = folder + L"\\" + name;
    return true;
}

void C_D3DTEXTURE9::Load(IDirect3DDevice9* device)
{
    std::wstring path;
    if (!PrepareFile(device, path)) return;
    std::string bytes;
    if (!ReadDataFile(path, bytes) || bytes.empty()) return;
    IDirect3DTexture9* texture = nullptr;
    if (SUCCEEDED(D3DXCreateTextureFromFileInMemory(device, bytes.data(), static_cast<UINT>(bytes.size()), &texture)))
        SetTexture(texture);
}

void C_D3DTextureEx9::Load(IDirect3DDevice9* device)
{
    std::wstring path;
    if (!PrepareFile(device, path)) return;
    std::string bytes;
    if (!ReadDataFile(path, bytes) || bytes.empty()) return;
    const auto width = static_cast<UINT>(ParameterString::ReadInt(GetField(2)));
    const auto height = static_cast<UINT>(ParameterString::ReadInt(GetField(3)));
    const D3DCOLOR key = ParameterString::ReadColor(GetField(4));
    const auto usage = static_cast<DWORD>(ParameterString::ReadInt(GetField(5)));
    // Render targets (a surface's picture that starts as an image) and
    // dynamic textures (a panel's picture written by the processor) exist
    // only in video memory; Direct3D refuses them in the managed pool.
    const D3DPOOL pool =
        (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC)) ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    IDirect3DTexture9* texture = nullptr;
    if (SUCCEEDED(D3DXCreateTextureFromFileInMemoryEx(device, bytes.data(), static_cast<UINT>(bytes.size()), width,
                                                      height, 1, usage, CreationFormat(device), pool,
                                                      D3DX_DEFAULT, D3DX_DEFAULT, key, nullptr, nullptr, &texture)))
        SetTexture(texture);
}

void C_D3DTextureSize9::Load(IDirect3DDevice9* device)
{
    C_BaseTexture9::Load(device);
    SetTexture(nullptr);
    const auto width = static_cast<UINT>(ParameterString::ReadInt(GetField(2)));
    const auto height = static_cast<UINT>(ParameterString::ReadInt(GetField(3)));
    const auto usage = static_cast<DWORD>(ParameterString::ReadInt(GetField(4)));
    IDirect3DTexture9* texture = nullptr;
    if (SUCCEEDED(D3DXCreateTexture(device, width, height, 1, usage, CreationFormat(device), D3DPOOL_DEFAULT,
                                    &texture)))
        SetTexture(texture);
}
