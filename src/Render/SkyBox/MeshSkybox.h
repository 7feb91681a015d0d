#pragma once
// Sky boxes: a unit box mesh textured from one picture, drawn around the
// camera with the camera's rotation only, its own projection and inside-out
// culling, before everything else of its queue.

#include <string>

#include "BaseClasses/BaseModule.h"
#include "Render/Resources/D3DXMESH9.h"
#include "ResourceManager/FromFactory.h"

class C_BaseTexture9;
class C_D3DMATERIAL9;

class C_BaseMeshSkybox : public C_D3DXMESH9_BOX, public ContainedInModule {
public:
    C_BaseMeshSkybox(float fieldOfView, const float (&textureCoordinates)[24][2]);
    ~C_BaseMeshSkybox() override;

    // The sky is around the camera wherever it is: never culled or picked.
    float GetRadius() override;                           // 7
    // Always drawn first of its queue.
    float GetDistance(C_BaseObject* other) override;      // 13
    void Draw(IDirect3DDevice9* device) override;         // 16
    // Field 0: the texture's file name (also its name and value); field 1:
    // the scale, which is the far plane of the sky's projection (1.0 when
    // empty). Then the object becomes a unit box.
    void Load(IDirect3DDevice9* device) override;         // 21
    void Unload() override;                               // 22
    // Writes the 24 texture coordinates of this kind of sky into the box's
    // vertices, in the mesh's vertex order.
    void ComputeTextureCoord(IDirect3DDevice9* device) override;

    // The smallest scale that leaves the far plane beyond the near plane.
    static constexpr float NearPlane = 0.1f;

    C_BaseTexture9* Texture = nullptr;     // not owned
    C_D3DMATERIAL9* Material = nullptr;    // not owned
    float FieldOfView;
    float Scale = 1.0f;
    float TextureCoordinates[24][2];

private:
    // The value string the object had before Load made it a unit box; a
    // later Load (after a device reset) reads its fields from here.
    std::wstring m_SkyValue;
    bool m_TextureChecked = false;
};

class C_MeshSkybox : public C_BaseMeshSkybox {
    TW_POOLED_CLASS(C_MeshSkybox)

public:
    C_MeshSkybox();
};

class C_MeshSkybox2 : public C_BaseMeshSkybox {
    TW_POOLED_CLASS(C_MeshSkybox2)

public:
    C_MeshSkybox2();
};
