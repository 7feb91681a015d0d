#include "Render/Resources/D3DMATERIAL9.h"

#include <cstdio>

#include "BaseClasses/ParameterString.h"
#include "Render/Resources/D3DXMESH9_XFILE.h"

TW_REGISTER_CLASS(C_D3DMATERIAL9)

namespace ColorText {

D3DCOLORVALUE Read(std::wstring_view field)
{
    const uint32_t argb = ParameterString::ReadColor(field);
    D3DCOLORVALUE color;
    color.r = static_cast<float>((argb >> 16) & 0xFF) / 256.0f;
    color.g = static_cast<float>((argb >> 8) & 0xFF) / 256.0f;
    color.b = static_cast<float>(argb & 0xFF) / 256.0f;
    color.a = static_cast<float>((argb >> 24) & 0xFF) / 256.0f;
    return color;
}

namespace {

unsigned Channel(float c)
{
    // Negative or NaN channels would print as eight hex digits and make a
    // name that no longer parses back; they count as 0.
    if (!(c > 0.0f)) return 0;
    const float scaled = c * 256.0f;
    if (scaled >= 255.0f) return 255;
    return static_cast<unsigned>(scaled);
}

} // namespace

std::wstring Format(const D3DCOLORVALUE& color)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%02X%02X%02X%02X", Channel(color.a), Channel(color.r), Channel(color.g),
                  Channel(color.b));
    return text;
}

std::wstring MaterialValue(const D3DMATERIAL9& material)
{
    wchar_t power[64];
    std::swprintf(power, 64, L"%0.6f", static_cast<double>(material.Power));
    return Format(material.Diffuse) + L"; " + Format(material.Ambient) + L"; " + Format(material.Specular) + L"; " +
           Format(material.Emissive) + L"; " + power + L";";
}

} // namespace ColorText

C_D3DMATERIAL9::C_D3DMATERIAL9() = default;
C_D3DMATERIAL9::~C_D3DMATERIAL9()
{
    C_D3DXMESH9_XFILE::ForgetResource(this);
}

void C_D3DMATERIAL9::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    Material.Diffuse = ColorText::Read(GetField(0));
    Material.Ambient = ColorText::Read(GetField(1));
    Material.Specular = ColorText::Read(GetField(2));
    Material.Emissive = ColorText::Read(GetField(3));
    Material.Power = ParameterString::ReadFloat(GetField(4));
    Alpha[0] = Material.Diffuse.a;
    Alpha[1] = Material.Ambient.a;
    Alpha[2] = Material.Specular.a;
    Alpha[3] = Material.Emissive.a;
}

void C_D3DMATERIAL9::Unload() {}

void C_D3DMATERIAL9::Draw(IDirect3DDevice9* device)
{
    if (CommonData().RenderPass != 0 || !device) return;
    device->SetMaterial(&Material);
}

void C_D3DMATERIAL9::SetTransparency(float factor)
{
    if (!(factor <= 1.0f)) factor = 1.0f;   // NaN counts as fully opaque
    if (factor < 0.1f) factor = 0.1f;
    Material.Diffuse.a = factor * Alpha[0];
    Material.Ambient.a = factor * Alpha[1];
    Material.Specular.a = factor * Alpha[2];
    Material.Emissive.a = factor * Alpha[3];
}
