#include "Render/Resources/D3DXMESH9.h"

#include <cmath>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "port/d3dx9/wingdi.h"

TW_REGISTER_CLASS(C_D3DXMESH9_TEXT)

C_D3DXMESH9_TEXT::C_D3DXMESH9_TEXT() { ResourceLevel = 1; }

namespace {

// Moves every vertex so the box centre is at the origin, then scales.
void CentreAndScale(ID3DXMesh* mesh, float scale)
{
    void* data = nullptr;
    if (FAILED(mesh->LockVertexBuffer(0, &data)) || !data) return;
    auto* bytes = static_cast<unsigned char*>(data);
    const DWORD count = mesh->GetNumVertices();
    const DWORD stride = mesh->GetNumBytesPerVertex();
    D3DXVECTOR3 low(0.0f, 0.0f, 0.0f), high(0.0f, 0.0f, 0.0f);
    D3DXComputeBoundingBox(reinterpret_cast<const D3DXVECTOR3*>(bytes), count, stride, &low, &high);
    const D3DXVECTOR3 centre = (low + high) * 0.5f;
    for (DWORD i = 0; i < count; ++i) {
        auto* p = reinterpret_cast<D3DXVECTOR3*>(bytes + static_cast<std::size_t>(i) * stride);
        *p = (*p - centre) * scale;
    }
    mesh->UnlockVertexBuffer();
}

} // namespace

void C_D3DXMESH9_TEXT::Load(IDirect3DDevice9* device)
{
    SetMesh(nullptr);
    const std::wstring text = GetField(0);
    const std::wstring face = GetField(1);
    const float scale = ParameterString::ReadFloat(GetField(2));
    int32_t weight = ParameterString::ReadInt(GetField(3));
    if (weight == 0) weight = 500;
    float depth = ParameterString::ReadFloat(GetField(4));
    if (depth == 0.0f) depth = 0.1f;

    HFONT font = CreateFontW(10, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, face.c_str());
    if (!font) {
        LOG_WARNING(L"");
        return;
    }
    HDC context = CreateCompatibleDC(nullptr);
    if (!context) {
        LOG_WARNING(L"");
        ::DeleteObject(font);
        return;
    }
    HGDIOBJ previous = SelectObject(context, font);
    if (previous == HGDI_ERROR) {
        LOG_WARNING(L"");
    } else {
        ID3DXMesh* mesh = nullptr;
        if (SUCCEEDED(D3DXCreateTextW(device, context, text.c_str(), 0.01f, depth, &mesh, nullptr, nullptr)) && mesh) {
            CentreAndScale(mesh, scale);
            SetMesh(mesh);
        }
        SelectObject(context, previous);
    }
    DeleteDC(context);
    ::DeleteObject(font);

    C_BaseResource::Load(device);
    ComputeBounds();
    // The text is placed around the origin: the sphere is centred there and
    // grows by the small distance its own centre had from it, so it still
    // holds every vertex.
    const D3DXVECTOR3 centre = Position;
    BoxMaxOffset += centre;
    BoxMinOffset += centre;
    Radius += std::sqrt(centre.x * centre.x + centre.y * centre.y + centre.z * centre.z);
    Position = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
}
