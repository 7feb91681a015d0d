#include "BaseClasses/Direct3D9Settings.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <utility>

#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/MessageBox.h"
#include "Logger/Logger.h"
#include "Platform/Platform.h"

C_Direct3D9Settings::Direct3DFactory C_Direct3D9Settings::CreateDirect3D = &Direct3DCreate9;

namespace {

// The keys of the "Video" section in file order, each with the 32-bit field
// it holds.
using VideoKeys = std::array<std::pair<const wchar_t*, void*>, 17>;

VideoKeys Keys(C_Direct3D9Settings& s)
{
    D3DPRESENT_PARAMETERS& p = s.PresentParameters;
    return {{
        {L"Adapter", &s.Adapter},
        {L"AdapterType", &s.AdapterType},
        {L"CreateDeviceFlag", &s.CreateDeviceFlag},
        {L"TextureFilterType", &s.TextureFilterType},
        {L"BackBufferWidth", &p.BackBufferWidth},
        {L"BackBufferHeight", &p.BackBufferHeight},
        {L"BackBufferFormat", &p.BackBufferFormat},
        {L"BackBufferCount", &p.BackBufferCount},
        {L"MultiSampleType", &p.MultiSampleType},
        {L"MultiSampleQuality", &p.MultiSampleQuality},
        {L"SwapEffect", &p.SwapEffect},
        {L"Windowed", &p.Windowed},
        {L"EnableAutoDepthStencil", &p.EnableAutoDepthStencil},
        {L"AutoDepthStencilFormat", &p.AutoDepthStencilFormat},
        {L"Flags", &p.Flags},
        {L"FullScreen_RefreshRateInHz", &p.FullScreen_RefreshRateInHz},
        {L"PresentationInterval", &p.PresentationInterval},
    }};
}

static_assert(sizeof(D3DFORMAT) == 4 && sizeof(D3DMULTISAMPLE_TYPE) == 4 && sizeof(D3DSWAPEFFECT) == 4 &&
              sizeof(BOOL) == 4 && sizeof(UINT) == 4 && sizeof(DWORD) == 4);

int32_t ReadField(void* field)
{
    int32_t value;
    std::memcpy(&value, field, sizeof value);
    return value;
}

void WriteField(void* field, int32_t value) { std::memcpy(field, &value, sizeof value); }

void ShowBox(const wchar_t* text) { VORTALEX::ShowMessageBox(text, L"Tarnwick"); }

bool IsBackBufferFormat(int format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8: case D3DFMT_X8R8G8B8: case D3DFMT_R5G6B5: case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: case D3DFMT_A2R10G10B10:
        return true;
    default:
        return false;
    }
}

bool IsDepthStencilFormat(int format)
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
constexpr int kMaxSide = 16384;

}  // namespace

C_Direct3D9Settings::C_Direct3D9Settings()
    : VORTALEX::XMLSettings(nullptr, nullptr)
{
    // Every relative path of the program (log folder, text.ini, modules)
    // starts in the program's folder, whatever folder it was started from.
    try {
        std::error_code error;
        std::filesystem::current_path(VORTALEX::MapPath(VORTALEX::PathToProgram().str()), error);
    } catch (const std::exception&) {
    }
    logger::Logger::SetOption(logger::OptionFolder, L"..\\log");
    logger::Logger::SetOption(logger::OptionOutput, L"2");
    logger::Logger::SetOption(logger::OptionRepetitions, L"0");
    LOG_INFO(L"Запуск программы");
    if (!LoadError().empty())
        LOG_WARNING(L"Файл настроек не прочитан, взяты значения по умолчанию: " << LoadError());

    m_pDirect3DDevice = nullptr;
    C_Platform::D3DXCpuOptimizations();

    m_pDirect3D = CreateDirect3D ? CreateDirect3D(D3D_SDK_VERSION) : nullptr;
    if (!m_pDirect3D) {
        ShowBox(L"C_Direct3D9::C_Direct3D9() - !m_pDirect3D");
        return;
    }

    Adapter = 0;
    AdapterType = D3DDEVTYPE_HAL;
    const bool loaded = LoadVideo();
    m_VideoReady = loaded;
    CheckAdapter();

    if (FAILED(m_pDirect3D->GetDeviceCaps(static_cast<UINT>(Adapter), static_cast<D3DDEVTYPE>(AdapterType), &Caps))) {
        ShowBox(L"FAILED(m_pDirect3D->GetDeviceCaps())");
        return;
    }
    if (FAILED(m_pDirect3D->GetAdapterDisplayMode(static_cast<UINT>(Adapter), &DisplayMode))) {
        ShowBox(L"FAILED(m_pDirect3D->GetAdapterDisplayMode())");
        return;
    }
    if (!loaded) SetDefaultVideo();
    else CheckVideo();
    m_VideoReady = true;
}

C_Direct3D9Settings::~C_Direct3D9Settings() noexcept
try {
    // Values that were never read or filled in would replace the user's
    // section with zeros; such a run leaves the file as it was.
    if (m_VideoReady) SaveVideo();
    if (m_pDirect3DDevice) {
        m_pDirect3DDevice->Release();
        m_pDirect3DDevice = nullptr;
    }
    if (m_pDirect3D) {
        m_pDirect3D->Release();
        m_pDirect3D = nullptr;
    }
} catch (const VORTALEX::Exception& e) {
    // The settings base could not write the file (read-only folder, full
    // disk): the program is ending anyway, so say why and end normally.
    LOG_WARNING(L"Файл настроек не записан: " << e.GetDescription());
    return;
} catch (const std::exception& e) {
    LOG_WARNING(L"Файл настроек не записан: " << e.what());
    return;
} catch (...) {
    LOG_WARNING(L"Файл настроек не записан");
    return;
}

bool C_Direct3D9Settings::LoadVideo()
{
    SetSection(L"Video");
    if (GetParameter(L"Adapter").empty()) return false;
    for (auto& [key, field] : Keys(*this)) WriteField(field, GetParameterInt(key));
    return true;
}

void C_Direct3D9Settings::SaveVideo()
{
    SetSection(L"Video");
    for (auto& [key, field] : Keys(*this)) SetParameter(key, ReadField(field));
}

int C_Direct3D9Settings::DefaultCreateDeviceFlag() const
{
    return (Caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                           : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
}

void C_Direct3D9Settings::SetDefaultVideo()
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

void C_Direct3D9Settings::CheckAdapter()
{
    std::wstring replaced;
    const UINT count = m_pDirect3D ? m_pDirect3D->GetAdapterCount() : 0;
    if (Adapter < 0 || (count > 0 && static_cast<UINT>(Adapter) >= count)) {
        replaced += L" Adapter " + std::to_wstring(Adapter) + L" -> 0;";
        Adapter = 0;
    }
    if (AdapterType < D3DDEVTYPE_HAL || AdapterType > D3DDEVTYPE_NULLREF) {
        replaced += L" AdapterType " + std::to_wstring(AdapterType) + L" -> 1;";
        AdapterType = D3DDEVTYPE_HAL;
    }
    if (!replaced.empty()) LOG_WARNING(L"Недопустимые значения в settings.xml заменены:" << replaced);
}

void C_Direct3D9Settings::CheckVideo()
{
    CheckAdapter();
    std::wstring replaced;
    auto replace = [&replaced](const wchar_t* key, void* field, int32_t value) {
        replaced += std::wstring(L" ") + key + L" " + std::to_wstring(ReadField(field)) + L" -> " +
                    std::to_wstring(value) + L";";
        WriteField(field, value);
    };
    D3DPRESENT_PARAMETERS& p = PresentParameters;
    if (!IsCreateDeviceFlag(static_cast<uint32_t>(CreateDeviceFlag)))
        replace(L"CreateDeviceFlag", &CreateDeviceFlag, DefaultCreateDeviceFlag());
    if (TextureFilterType < D3DTEXF_NONE || TextureFilterType > D3DTEXF_GAUSSIANQUAD)
        replace(L"TextureFilterType", &TextureFilterType, D3DTEXF_LINEAR);
    if (static_cast<int32_t>(p.BackBufferWidth) <= 0 || static_cast<int32_t>(p.BackBufferWidth) > kMaxSide)
        replace(L"BackBufferWidth", &p.BackBufferWidth, 800);
    if (static_cast<int32_t>(p.BackBufferHeight) <= 0 || static_cast<int32_t>(p.BackBufferHeight) > kMaxSide)
        replace(L"BackBufferHeight", &p.BackBufferHeight, 600);
    if (!IsBackBufferFormat(p.BackBufferFormat) && !(p.Windowed && p.BackBufferFormat == D3DFMT_UNKNOWN))
        replace(L"BackBufferFormat", &p.BackBufferFormat, D3DFMT_A8R8G8B8);
    if (p.BackBufferCount > 3) replace(L"BackBufferCount", &p.BackBufferCount, 3);
    if (static_cast<int32_t>(p.MultiSampleType) < 0 || static_cast<int32_t>(p.MultiSampleType) > 16)
        replace(L"MultiSampleType", &p.MultiSampleType, D3DMULTISAMPLE_NONE);
    if (static_cast<int32_t>(p.MultiSampleQuality) < 0) replace(L"MultiSampleQuality", &p.MultiSampleQuality, 0);
    if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_FLIPEX)
        replace(L"SwapEffect", &p.SwapEffect, D3DSWAPEFFECT_DISCARD);
    if (p.Windowed != FALSE && p.Windowed != TRUE) replace(L"Windowed", &p.Windowed, TRUE);
    if (p.EnableAutoDepthStencil != FALSE && p.EnableAutoDepthStencil != TRUE)
        replace(L"EnableAutoDepthStencil", &p.EnableAutoDepthStencil, TRUE);
    if (p.EnableAutoDepthStencil && !IsDepthStencilFormat(p.AutoDepthStencilFormat))
        replace(L"AutoDepthStencilFormat", &p.AutoDepthStencilFormat, D3DFMT_D24S8);
    if (static_cast<int32_t>(p.FullScreen_RefreshRateInHz) < 0 ||
        (p.Windowed && p.FullScreen_RefreshRateInHz != 0))
        replace(L"FullScreen_RefreshRateInHz", &p.FullScreen_RefreshRateInHz, 0);
    if (!IsPresentationInterval(p.PresentationInterval))
        replace(L"PresentationInterval", &p.PresentationInterval, static_cast<int32_t>(D3DPRESENT_INTERVAL_IMMEDIATE));
    if (!replaced.empty()) LOG_WARNING(L"Недопустимые значения в settings.xml заменены:" << replaced);
}
