#include "BaseClasses/Direct3D9SettingsBase.h"

#include <cstring>

C_Direct3D9SettingsBase::Direct3DFactory C_Direct3D9SettingsBase::CreateDirect3D = &Direct3DCreate9;

const std::array<const wchar_t*, C_Direct3D9SettingsBase::VideoKeyCount> C_Direct3D9SettingsBase::VideoKeys = {
    L"Adapter",          L"AdapterType",        L"CreateDeviceFlag",       L"TextureFilterType",
    L"BackBufferWidth",  L"BackBufferHeight",   L"BackBufferFormat",       L"BackBufferCount",
    L"MultiSampleType",  L"MultiSampleQuality", L"SwapEffect",             L"Windowed",
    L"EnableAutoDepthStencil", L"AutoDepthStencilFormat", L"Flags",    L"FullScreen_RefreshRateInHz",
    L"PresentationInterval"};

namespace {

// Positions of the keys in VideoKeys.
enum Key {
    kAdapter, kAdapterType, kCreateDeviceFlag, kTextureFilterType, kWidth, kHeight, kFormat, kCount,
    kMultiSampleType, kMultiSampleQuality, kSwapEffect, kWindowed, kEnableDepth, kDepthFormat, kFlags,
    kRefreshRate, kInterval
};

static_assert(sizeof(D3DFORMAT) == 4 && sizeof(D3DMULTISAMPLE_TYPE) == 4 && sizeof(D3DSWAPEFFECT) == 4 &&
              sizeof(BOOL) == 4 && sizeof(UINT) == 4 && sizeof(DWORD) == 4);

// The 32-bit field behind each key. Fields are copied as bytes: an
// enumeration field is only ever given a value that was checked as an
// integer first.
std::array<void*, C_Direct3D9SettingsBase::VideoKeyCount> Fields(C_Direct3D9SettingsBase& s)
{
    D3DPRESENT_PARAMETERS& p = s.PresentParameters;
    return {&s.Adapter, &s.AdapterType, &s.CreateDeviceFlag, &s.TextureFilterType, &p.BackBufferWidth,
            &p.BackBufferHeight, &p.BackBufferFormat, &p.BackBufferCount, &p.MultiSampleType,
            &p.MultiSampleQuality, &p.SwapEffect, &p.Windowed, &p.EnableAutoDepthStencil,
            &p.AutoDepthStencilFormat, &p.Flags, &p.FullScreen_RefreshRateInHz, &p.PresentationInterval};
}

bool IsBackBufferFormat(int32_t format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8: case D3DFMT_X8R8G8B8: case D3DFMT_R5G6B5: case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: case D3DFMT_A2R10G10B10:
        return true;
    default:
        return false;
    }
}

bool IsDepthStencilFormat(int32_t format)
{
    switch (format) {
    case D3DFMT_D16_LOCKABLE: case D3DFMT_D32: case D3DFMT_D15S1: case D3DFMT_D24S8: case D3DFMT_D24X8:
    case D3DFMT_D24X4S4: case D3DFMT_D16: case D3DFMT_D32F_LOCKABLE: case D3DFMT_D24FS8:
        return true;
    default:
        return false;
    }
}

bool IsPresentationInterval(uint32_t interval)
{
    switch (interval) {
    case D3DPRESENT_INTERVAL_DEFAULT: case D3DPRESENT_INTERVAL_ONE: case D3DPRESENT_INTERVAL_TWO:
    case D3DPRESENT_INTERVAL_THREE: case D3DPRESENT_INTERVAL_FOUR: case D3DPRESENT_INTERVAL_IMMEDIATE:
        return true;
    default:
        return false;
    }
}

// Exactly one vertex-processing mode must be chosen, and no bit outside the
// known creation flags may be set.
bool IsCreateDeviceFlag(uint32_t flags)
{
    const uint32_t modes = flags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                    D3DCREATE_MIXED_VERTEXPROCESSING);
    const uint32_t known = 0x1000FFFEu;
    return (modes == D3DCREATE_SOFTWARE_VERTEXPROCESSING || modes == D3DCREATE_HARDWARE_VERTEXPROCESSING ||
            modes == D3DCREATE_MIXED_VERTEXPROCESSING) &&
           (flags & ~known) == 0;
}

// The largest back-buffer side accepted from the file.
constexpr int32_t kMaxSide = 16384;

}  // namespace

C_Direct3D9SettingsBase::~C_Direct3D9SettingsBase() { ReleaseDirect3D(); }

C_Direct3D9SettingsBase::Values C_Direct3D9SettingsBase::ReadFields() const
{
    Values values{};
    const auto fields = Fields(const_cast<C_Direct3D9SettingsBase&>(*this));
    for (int i = 0; i < VideoKeyCount; ++i) std::memcpy(&values[i], fields[i], sizeof(int32_t));
    return values;
}

void C_Direct3D9SettingsBase::WriteFields(const Values& values)
{
    const auto fields = Fields(*this);
    for (int i = 0; i < VideoKeyCount; ++i) std::memcpy(fields[i], &values[i], sizeof(int32_t));
}

void C_Direct3D9SettingsBase::OpenDirect3D()
{
    m_pDirect3D = CreateDirect3D ? CreateDirect3D(D3D_SDK_VERSION) : nullptr;
    if (!m_pDirect3D) {
        ShowVideoMessage(L"C_Direct3D9::C_Direct3D9() - !m_pDirect3D");
        return;
    }

    Adapter = 0;
    AdapterType = D3DDEVTYPE_HAL;
    const bool loaded = LoadVideo();
    m_VideoReady = loaded;

    if (FAILED(m_pDirect3D->GetDeviceCaps(static_cast<UINT>(Adapter), static_cast<D3DDEVTYPE>(AdapterType), &Caps))) {
        ShowVideoMessage(L"FAILED(m_pDirect3D->GetDeviceCaps())");
        return;
    }
    if (FAILED(m_pDirect3D->GetAdapterDisplayMode(static_cast<UINT>(Adapter), &DisplayMode))) {
        ShowVideoMessage(L"FAILED(m_pDirect3D->GetAdapterDisplayMode())");
        return;
    }
    if (!loaded) SetDefaultVideo();
    else CheckVideo();
    m_VideoReady = true;
}

void C_Direct3D9SettingsBase::ReleaseDirect3D()
{
    if (m_pDirect3DDevice) {
        m_pDirect3DDevice->Release();
        m_pDirect3DDevice = nullptr;
    }
    if (m_pDirect3D) {
        m_pDirect3D->Release();
        m_pDirect3D = nullptr;
    }
}

bool C_Direct3D9SettingsBase::LoadVideo()
{
    SelectVideoSection();
    if (ReadVideoText(VideoKeys[kAdapter]).empty()) return false;
    Values values{};
    for (int i = 0; i < VideoKeyCount; ++i) values[i] = ReadVideoInt(VideoKeys[i]);
    std::wstring replaced;
    CheckValues(values, false, replaced);
    WriteFields(values);
    if (!replaced.empty()) ReportReplaced(replaced);
    return true;
}

void C_Direct3D9SettingsBase::SaveVideo()
{
    SelectVideoSection();
    const Values values = ReadFields();
    for (int i = 0; i < VideoKeyCount; ++i) WriteVideoInt(VideoKeys[i], values[i]);
}

int C_Direct3D9SettingsBase::DefaultCreateDeviceFlag() const
{
    return (Caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                           : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
}

void C_Direct3D9SettingsBase::SetDefaultVideo()
{
    CreateDeviceFlag = DefaultCreateDeviceFlag();
    TextureFilterType = D3DTEXF_LINEAR;
    D3DPRESENT_PARAMETERS& p = PresentParameters;
    p.BackBufferWidth = 800;
    p.BackBufferHeight = 600;
    p.BackBufferFormat = D3DFMT_A8R8G8B8;
    p.BackBufferCount = 3;
    p.MultiSampleType = D3DMULTISAMPLE_NONE;
    p.MultiSampleQuality = 0;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    p.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL | D3DPRESENTFLAG_DEVICECLIP;
    p.FullScreen_RefreshRateInHz = 0;
    p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;

    // The highest sample count both the colour and the depth format support.
    for (int type = 0; type <= 16; ++type) {
        const auto t = static_cast<D3DMULTISAMPLE_TYPE>(type);
        const auto device = static_cast<D3DDEVTYPE>(AdapterType);
        if (SUCCEEDED(m_pDirect3D->CheckDeviceMultiSampleType(static_cast<UINT>(Adapter), device, p.BackBufferFormat,
                                                              p.Windowed, t, nullptr)) &&
            SUCCEEDED(m_pDirect3D->CheckDeviceMultiSampleType(static_cast<UINT>(Adapter), device,
                                                              p.AutoDepthStencilFormat, p.Windowed, t, nullptr))) {
            p.MultiSampleType = t;
            if (type > 0) p.MultiSampleQuality = 0;
        }
    }
}

void C_Direct3D9SettingsBase::CheckVideo()
{
    Values values = ReadFields();
    std::wstring replaced;
    CheckValues(values, true, replaced);
    WriteFields(values);
    if (!replaced.empty()) ReportReplaced(replaced);
}

void C_Direct3D9SettingsBase::CheckValues(Values& v, bool withCaps, std::wstring& replaced) const
{
    auto replace = [&](int key, int32_t value) {
        replaced += std::wstring(L" ") + VideoKeys[key] + L" " + std::to_wstring(v[key]) + L" -> " +
                    std::to_wstring(value) + L";";
        v[key] = value;
    };
    const UINT adapters = m_pDirect3D ? m_pDirect3D->GetAdapterCount() : 0;
    if (v[kAdapter] < 0 || (adapters > 0 && static_cast<UINT>(v[kAdapter]) >= adapters)) replace(kAdapter, 0);
    if (v[kAdapterType] < D3DDEVTYPE_HAL || v[kAdapterType] > D3DDEVTYPE_NULLREF) replace(kAdapterType, D3DDEVTYPE_HAL);
    if (withCaps && !IsCreateDeviceFlag(static_cast<uint32_t>(v[kCreateDeviceFlag])))
        replace(kCreateDeviceFlag, DefaultCreateDeviceFlag());
    // 4 and 5 name no filter but are kept: the editor shows them as no choice.
    if (v[kTextureFilterType] < D3DTEXF_NONE || v[kTextureFilterType] > D3DTEXF_GAUSSIANQUAD)
        replace(kTextureFilterType, D3DTEXF_LINEAR);
    if (v[kWidth] <= 0 || v[kWidth] > kMaxSide) replace(kWidth, 800);
    if (v[kHeight] <= 0 || v[kHeight] > kMaxSide) replace(kHeight, 600);
    const bool windowed = v[kWindowed] != FALSE;
    if (!IsBackBufferFormat(v[kFormat]) && !(windowed && v[kFormat] == D3DFMT_UNKNOWN))
        replace(kFormat, D3DFMT_A8R8G8B8);
    if (static_cast<uint32_t>(v[kCount]) > 3) replace(kCount, 3);
    if (v[kMultiSampleType] < D3DMULTISAMPLE_NONE || v[kMultiSampleType] > D3DMULTISAMPLE_16_SAMPLES)
        replace(kMultiSampleType, D3DMULTISAMPLE_NONE);
    if (v[kMultiSampleQuality] < 0) replace(kMultiSampleQuality, 0);
    if (v[kSwapEffect] < D3DSWAPEFFECT_DISCARD || v[kSwapEffect] > D3DSWAPEFFECT_FLIPEX)
        replace(kSwapEffect, D3DSWAPEFFECT_DISCARD);
    if (v[kWindowed] != FALSE && v[kWindowed] != TRUE) replace(kWindowed, TRUE);
    if (v[kEnableDepth] != FALSE && v[kEnableDepth] != TRUE) replace(kEnableDepth, TRUE);
    // Checked even without a depth buffer: the field is an enumeration and
    // must hold one of its values.
    if (!IsDepthStencilFormat(v[kDepthFormat]) && !(!v[kEnableDepth] && v[kDepthFormat] == D3DFMT_UNKNOWN))
        replace(kDepthFormat, D3DFMT_D24S8);
    if (v[kRefreshRate] < 0 || (v[kWindowed] && v[kRefreshRate] != 0)) replace(kRefreshRate, 0);
    if (!IsPresentationInterval(static_cast<uint32_t>(v[kInterval])))
        replace(kInterval, static_cast<int32_t>(D3DPRESENT_INTERVAL_IMMEDIATE));
}
