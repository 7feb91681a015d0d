#pragma once
// Render and sampler states as scene objects: each object sets one device
// state when drawn. States and values are written with their symbolic
// Direct3D names; the settings editor writes the same names, so both
// programs read them through the tables here.

#include <cstdint>
#include <string>
#include <span>
#include <string_view>

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"

namespace StateNames {

// Name lookups: exact, case-sensitive. A field that is no known name is read
// as a decimal integer (text that is not a number gives 0).
uint32_t RenderState(std::wstring_view field);
uint32_t RenderStateValue(std::wstring_view field);
uint32_t SamplerState(std::wstring_view field);
uint32_t SamplerStateValue(std::wstring_view field);

// The names of each table in table order, for editors that offer them.
struct NamedValue {
    const wchar_t* Name;
    uint32_t Value;
};
std::span<const NamedValue> RenderStateTable();
std::span<const NamedValue> RenderStateValueTable();
std::span<const NamedValue> SamplerStateTable();
std::span<const NamedValue> SamplerStateValueTable();

} // namespace StateNames

class C_RenderState : public C_BaseResource {
    TW_POOLED_CLASS(C_RenderState)

public:
    ~C_RenderState() override;
    void Draw(IDirect3DDevice9* device) override;     // 16
    void Load(IDirect3DDevice9* device) override;     // 21

    uint32_t State = 0;
    uint32_t StateValue = 0;
};

class C_SamplerState : public C_BaseResource {
    TW_POOLED_CLASS(C_SamplerState)

public:
    ~C_SamplerState() override;
    void Draw(IDirect3DDevice9* device) override;     // 16
    void Load(IDirect3DDevice9* device) override;     // 21

    uint32_t Sampler = 0;
    uint32_t Type = 0;
    uint32_t StateValue = 0;
};
