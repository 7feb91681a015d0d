#pragma once
// Materials: set the device material when drawn. Also the colour text of
// materials and lights: a hexadecimal ARGB number read into channels of
// byte / 256, and its reverse, used to name materials made from .x files.

#include <string>
#include <string_view>

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"
#include "port/d3d9/d3d9.h"

namespace ColorText {

// Everything up to and including the first 'x' is skipped; each channel is
// byte / 256 (so 0xFF gives 0.99609375).
D3DCOLORVALUE Read(std::wstring_view field);

// "0xAARRGGBB": each channel is the integer part of c × 256, limited to
// 0..255.
std::wstring Format(const D3DCOLORVALUE& color);

// The value string of a material with these colours and power.
std::wstring MaterialValue(const D3DMATERIAL9& material);

} // namespace ColorText

class C_D3DMATERIAL9 : public C_BaseResource {
    TW_POOLED_CLASS(C_D3DMATERIAL9)

public:
    C_D3DMATERIAL9();
    ~C_D3DMATERIAL9() override;
    void Draw(IDirect3DDevice9* device) override;     // 16
    void Load(IDirect3DDevice9* device) override;     // 21
    // A material owns no device object: nothing to release, and it keeps its
    // colours across a device reset.
    void Unload() override;                           // 22

    // Scales the four alphas by `factor`, limited to 0.1 .. 1.0.
    void SetTransparency(float factor);

    D3DMATERIAL9 Material{};
    // Alphas as loaded, in diffuse, ambient, specular, emissive order.
    float Alpha[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};
