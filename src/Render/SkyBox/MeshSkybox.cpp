#include "Render/SkyBox/MeshSkybox.h"

#include <cmath>
#include <cstring>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "Render/Resources/BaseTexture9.h"
#include "Render/Resources/D3DMATERIAL9.h"

TW_REGISTER_CLASS(C_MeshSkybox)
TW_REGISTER_CLASS(C_MeshSkybox2)

namespace {

// A unit box; the sky's size comes from its scale.
constexpr const wchar_t* BoxValue = L"1.0; 1.0; 1.0;";
// Self-lit white: the texture shows as it is, whatever the lights.
constexpr const wchar_t* SkyMaterial = L"0x00000000; 0x00000000; 0x00000000; 0xFFFFFFFF; 0.3;";

// The box's faces, four vertices each, in the mesh's order: -X, +Y, +X, -Y,
// +Z, -Z.
constexpr float CrossCoordinates[24][2] = {
    {0.25f, 0.75f}, {0.25f, 0.5f}, {0.5f, 0.5f},   {0.5f, 0.75f},  {0.5f, 0.75f}, {0.5f, 0.5f},
    {0.75f, 0.5f},  {0.75f, 0.75f}, {0.5f, 0.0f},  {0.5f, 0.25f},  {0.25f, 0.25f}, {0.25f, 0.0f},
    {0.25f, 0.5f},  {0.25f, 0.75f}, {0.0f, 0.75f}, {0.0f, 0.5f},   {0.25f, 0.5f}, {0.25f, 0.25f},
    {0.5f, 0.25f},  {0.5f, 0.5f},  {0.25f, 0.75f}, {0.5f, 0.75f},  {0.5f, 1.0f},  {0.25f, 1.0f}};

constexpr float WideCoordinates[24][2] = {
    {0.25f, 1.25f},  {0.25f, 0.75f}, {0.75f, 0.75f},  {0.75f, 1.25f}, {1.25f, 0.75f}, {0.75f, 0.75f},
    {0.75f, 0.25f},  {1.25f, 0.25f}, {0.75f, -0.25f}, {0.75f, 0.25f}, {0.25f, 0.25f}, {0.25f, -0.25f},
    {0.25f, 0.75f},  {-0.25f, 0.75f}, {-0.25f, 0.25f}, {0.25f, 0.25f}, {0.25f, 0.75f}, {0.25f, 0.25f},
    {0.75f, 0.25f},  {0.75f, 0.75f}, {0.0f, 0.0f},    {0.0f, 0.0f},   {0.0f, 0.0f},   {0.0f, 0.0f}};

struct TexturedVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
static_assert(sizeof(TexturedVertex) == 32);

} // namespace

C_BaseMeshSkybox::C_BaseMeshSkybox(float fieldOfView, const float (&textureCoordinates)[24][2])
    : FieldOfView(fieldOfView)
{
    std::memcpy(TextureCoordinates, textureCoordinates, sizeof TextureCoordinates);
}

C_BaseMeshSkybox::~C_BaseMeshSkybox() = default;

float C_BaseMeshSkybox::GetRadius()
{
    return 0.0f;
}

float C_BaseMeshSkybox::GetDistance(C_BaseObject*)
{
    return 1e37f;
}

void C_BaseMeshSkybox::Load(IDirect3DDevice9* device)
{
    // The value is replaced by the box sizes below; a second Load (after a
    // device reset) still reads the sky's own fields.
    if (Value != BoxValue || m_SkyValue.empty()) m_SkyValue = Value;
    m_TextureChecked = false;

    Material = dynamic_cast<C_D3DMATERIAL9*>(RequestResource(L"C_D3DMATERIAL9", SkyMaterial, SkyMaterial, device));
    // No name: a texture that unbinds the stage, so the sky never shows
    // whatever picture was bound before it.
    std::wstring textureName = GetField(0, m_SkyValue);
    if (textureName.empty()) textureName = L"null";
    Texture = dynamic_cast<C_BaseTexture9*>(RequestResource(L"C_D3DTEXTURE9", textureName, textureName, device));

    Scale = 1.0f;
    const std::wstring scale = GetField(1, m_SkyValue);
    if (!scale.empty()) {
        const float read = ParameterString::ReadFloat(scale);
        // The scale is the far plane of the sky's projection and its size
        // is 1 / scale in the world matrix: it must lie beyond the near plane.
        if (std::isfinite(read) && read > NearPlane) {
            Scale = read;
        } else {
            LOG_WARNING(L"Масштаб неба " << Name << L" должен быть больше " << std::to_wstring(NearPlane)
                                        << L": " << scale << L"; взят 1.0");
        }
    }

    SetValue(BoxValue);
    C_D3DXMESH9_BOX::Load(device);
}

void C_BaseMeshSkybox::ComputeTextureCoord(IDirect3DDevice9* device)
{
    if (!Mesh) return;
    constexpr DWORD TexturedFVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
    ID3DXMesh* textured = Mesh;
    if (Mesh->GetFVF() != TexturedFVF) {
        textured = nullptr;
        if (FAILED(Mesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, TexturedFVF, device, &textured)) || !textured) {
            LOG_WARNING(L"!pTempMesh");
            return;
        }
    }
    void* data = nullptr;
    if (SUCCEEDED(textured->LockVertexBuffer(0, &data)) && data) {
        auto* vertices = static_cast<TexturedVertex*>(data);
        const DWORD count = textured->GetNumVertices() < 24 ? textured->GetNumVertices() : 24;
        for (DWORD i = 0; i < count; ++i) {
            vertices[i].u = TextureCoordinates[i][0];
            vertices[i].v = TextureCoordinates[i][1];
        }
        textured->UnlockVertexBuffer();
    }
    SetMesh(textured);
}

void C_BaseMeshSkybox::Unload()
{
    if (!ReleasingDeviceObjectsOnly()) {
        Texture = nullptr;
        Material = nullptr;
    }
    C_D3DXMESH9_BOX::Unload();
}

void C_BaseMeshSkybox::Draw(IDirect3DDevice9* device)
{
    const C_CommonData& common = CommonData();
    if (common.RenderPass != 0 || !device) return;
    // A script may have deleted the shared material or texture.
    if (Material && !IsLive(Material)) Material = nullptr;
    if (Texture && !IsLive(Texture)) Texture = nullptr;

    DWORD cullMode = D3DCULL_CCW;
    device->GetRenderState(D3DRS_CULLMODE, &cullMode);
    C_BaseResource::Draw(device);   // extra objects (sampler states and the like)
    if (Material) Material->Draw(device);
    if (Texture) {
        Texture->Draw(device);
        // "null" asks for no picture on purpose.
        if (!m_TextureChecked && !Texture->Texture &&
            ParameterString::ToLower(Texture->Name).find(L"null") == std::wstring::npos) {
            LOG_WARNING(L"Небо " << Name << L" рисуется без текстуры: не загружена текстура " << Texture->Name);
        }
    }
    m_TextureChecked = true;

    // The sky turns with the camera but never comes nearer.
    D3DXMATRIX savedView, view;
    device->GetTransform(D3DTS_VIEW, &savedView);
    view = savedView;
    view._41 = view._42 = view._43 = 0.0f;
    device->SetTransform(D3DTS_VIEW, &view);

    // Aspect of the viewport being drawn: a camera covering part of the
    // window must see the sky with its own proportions.
    float aspect = 1.0f;
    D3DVIEWPORT9 viewport{};
    if (SUCCEEDED(device->GetViewport(&viewport)) && viewport.Width > 0 && viewport.Height > 0)
        aspect = static_cast<float>(viewport.Width) / static_cast<float>(viewport.Height);
    else if (common.ScreenWidth > 0 && common.ScreenHeight > 0)
        aspect = static_cast<float>(common.ScreenWidth) / static_cast<float>(common.ScreenHeight);
    D3DXMATRIX savedProjection, projection;
    device->GetTransform(D3DTS_PROJECTION, &savedProjection);
    D3DXMatrixPerspectiveFovLH(&projection, FieldOfView, aspect, NearPlane, Scale);
    device->SetTransform(D3DTS_PROJECTION, &projection);

    // At scale 1 the sky lies behind everything without taking part in the
    // depth test.
    const bool behindAll = Scale == 1.0f;
    DWORD zEnable = D3DZB_TRUE, zWrite = TRUE;
    if (behindAll) {
        device->GetRenderState(D3DRS_ZENABLE, &zEnable);
        device->GetRenderState(D3DRS_ZWRITEENABLE, &zWrite);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    }
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);   // seen from inside
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    world._44 = 1.0f / Scale;
    device->SetTransform(D3DTS_WORLD, &world);

    C_D3DXMESH9::Draw(device);

    device->SetTransform(D3DTS_VIEW, &savedView);
    device->SetTransform(D3DTS_PROJECTION, &savedProjection);
    device->SetRenderState(D3DRS_CULLMODE, cullMode);
    if (behindAll) {
        device->SetRenderState(D3DRS_ZENABLE, zEnable);
        device->SetRenderState(D3DRS_ZWRITEENABLE, zWrite);
    }
}

C_MeshSkybox::C_MeshSkybox() : C_BaseMeshSkybox(1.5707964f, CrossCoordinates) {}

C_MeshSkybox2::C_MeshSkybox2() : C_BaseMeshSkybox(0.7853982f, WideCoordinates) {}
