#include "Render/Resources/RenderState.h"

#include "BaseClasses/ParameterString.h"
#include "port/d3d9/d3d9.h"

TW_REGISTER_CLASS(C_RenderState)
TW_REGISTER_CLASS(C_SamplerState)

namespace StateNames {
namespace {

constexpr NamedValue RenderStates[] = {
    {L"D3DRS_FILLMODE", 8},
    {L"D3DRS_ZENABLE", 7},
    {L"D3DRS_ZWRITEENABLE", 14},
    {L"D3DRS_ALPHABLENDENABLE", 27},
    {L"D3DRS_SRCBLEND", 19},
    {L"D3DRS_DESTBLEND", 20},
    {L"D3DRS_CLIPPING", 136},
    {L"D3DRS_MULTISAMPLEANTIALIAS", 161},
    {L"D3DRS_ANTIALIASEDLINEENABLE", 176},
    {L"D3DRS_CULLMODE", 22},
    {L"D3DRS_LIGHTING", 137},
    {L"D3DRS_SPECULARENABLE", 29},
    {L"D3DRS_AMBIENT", 139},
    {L"D3DRS_ALPHATESTENABLE", 15},
    {L"D3DRS_ALPHAREF", 24},
    {L"D3DRS_ALPHAFUNC", 25},
    {L"D3DRS_NORMALIZENORMALS", 143},
    {L"D3DRS_DITHERENABLE", 26},
};

constexpr NamedValue RenderStateValues[] = {
    {L"TRUE", 1},
    {L"FALSE", 0},
    {L"D3DFILL_POINT", 1},
    {L"D3DFILL_WIREFRAME", 2},
    {L"D3DFILL_SOLID", 3},
    {L"D3DZB_FALSE", 0},
    {L"D3DZB_TRUE", 1},
    {L"D3DZB_USEW", 2},
    {L"D3DBLEND_ZERO", 1},
    {L"D3DBLEND_ONE", 2},
    {L"D3DBLEND_SRCCOLOR", 3},
    {L"D3DBLEND_INVSRCCOLOR", 4},
    {L"D3DBLEND_SRCALPHA", 5},
    {L"D3DBLEND_INVSRCALPHA", 6},
    {L"D3DBLEND_DESTALPHA", 7},
    {L"D3DBLEND_INVDESTALPHA", 8},
    {L"D3DBLEND_DESTCOLOR", 9},
    {L"D3DBLEND_INVDESTCOLOR", 10},
    {L"D3DBLEND_SRCALPHASAT", 11},
    {L"D3DBLEND_BOTHSRCALPHA", 12},
    {L"D3DBLEND_BOTHINVSRCALPHA", 13},
    {L"D3DBLEND_BLENDFACTOR", 14},
    {L"D3DBLEND_INVBLENDFACTOR", 15},
    {L"D3DCULL_NONE", 1},
    {L"D3DCULL_CW", 2},
    {L"D3DCULL_CCW", 3},
    {L"D3DCMP_NEVER", 1},
    {L"D3DCMP_LESS", 2},
    {L"D3DCMP_EQUAL", 3},
    {L"D3DCMP_LESSEQUAL", 4},
    {L"D3DCMP_GREATER", 5},
    {L"D3DCMP_NOTEQUAL", 6},
    {L"D3DCMP_GREATEREQUAL", 7},
    {L"D3DCMP_ALWAYS", 8},
};

constexpr NamedValue SamplerStates[] = {
    {L"D3DSAMP_ADDRESSU", 1},
    {L"D3DSAMP_ADDRESSV", 2},
    {L"D3DSAMP_ADDRESSW", 3},
    {L"D3DSAMP_BORDERCOLOR", 4},
    {L"D3DSAMP_MAGFILTER", 5},
    {L"D3DSAMP_MINFILTER", 6},
    {L"D3DSAMP_MIPFILTER", 7},
    {L"D3DSAMP_MIPMAPLODBIAS", 8},
    {L"D3DSAMP_MAXMIPLEVEL", 9},
    {L"D3DSAMP_MAXANISOTROPY", 10},
    {L"D3DSAMP_SRGBTEXTURE", 11},
    {L"D3DSAMP_ELEMENTINDEX", 12},
    {L"D3DSAMP_DMAPOFFSET", 13},
};

constexpr NamedValue SamplerStateValues[] = {
    {L"TRUE", 1},
    {L"FALSE", 0},
    {L"D3DTADDRESS_WRAP", 1},
    {L"D3DTADDRESS_MIRROR", 2},
    {L"D3DTADDRESS_CLAMP", 3},
    {L"D3DTADDRESS_BORDER", 4},
    {L"D3DTADDRESS_MIRRORONCE", 5},
    {L"D3DTEXF_NONE", 0},
    {L"D3DTEXF_POINT", 1},
    {L"D3DTEXF_LINEAR", 2},
    {L"D3DTEXF_ANISOTROPIC", 3},
    {L"D3DTEXF_PYRAMIDALQUAD", 6},
    {L"D3DTEXF_GAUSSIANQUAD", 7},
};

uint32_t Translate(std::span<const NamedValue> table, std::wstring_view field)
{
    for (const NamedValue& entry : table)
        if (field == entry.Name) return entry.Value;
    // Any state or value can also be given by its number.
    return static_cast<uint32_t>(ParameterString::ReadInt(field));
}

} // namespace

uint32_t RenderState(std::wstring_view field) { return Translate(RenderStates, field); }
uint32_t RenderStateValue(std::wstring_view field) { return Translate(RenderStateValues, field); }
uint32_t SamplerState(std::wstring_view field) { return Translate(SamplerStates, field); }
uint32_t SamplerStateValue(std::wstring_view field) { return Translate(SamplerStateValues, field); }

std::span<const NamedValue> RenderStateTable() { return RenderStates; }
std::span<const NamedValue> RenderStateValueTable() { return RenderStateValues; }
std::span<const NamedValue> SamplerStateTable() { return SamplerStates; }
std::span<const NamedValue> SamplerStateValueTable() { return SamplerStateValues; }

} // namespace StateNames

// ---------------------------------------------------------------------------

C_RenderState::~C_RenderState() = default;

void C_RenderState::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    State = StateNames::RenderState(GetField(0));
    StateValue = StateNames::RenderStateValue(GetField(1));
}

void C_RenderState::Draw(IDirect3DDevice9* device)
{
    // The occlusion pass sets its own states.
    if (CommonData().RenderPass == 1 || !device) return;
    device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(State), StateValue);
}

C_SamplerState::~C_SamplerState() = default;

void C_SamplerState::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    Sampler = static_cast<uint32_t>(ParameterString::ReadInt(GetField(0)));
    Type = StateNames::SamplerState(GetField(1));
    StateValue = StateNames::SamplerStateValue(GetField(2));
}

void C_SamplerState::Draw(IDirect3DDevice9* device)
{
    if (CommonData().RenderPass == 1 || !device) return;
    const auto type = static_cast<D3DSAMPLERSTATETYPE>(Type);
    DWORD current = 0;
    // Sampler changes are costly on some drivers: only send a real change.
    if (SUCCEEDED(device->GetSamplerState(Sampler, type, &current)) && current == StateValue) return;
    device->SetSamplerState(Sampler, type, StateValue);
}
