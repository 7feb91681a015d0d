#pragma once
// Meshes read from .x files through the virtual file system, with one shared
// material and an optional texture per subset; and the progressive version,
// whose level of detail follows the camera distance.

#include <cstdint>

#include "Common/vector.h"
#include "Render/Resources/D3DXMESH9.h"

class C_D3DMATERIAL9;
class C_BaseTexture9;

class C_D3DXMESH9_XFILE : public C_D3DXMESH9 {
    TW_POOLED_CLASS(C_D3DXMESH9_XFILE)

public:
    C_D3DXMESH9_XFILE();
    ~C_D3DXMESH9_XFILE() override;
    void Draw(IDirect3DDevice9* device) override;     // 16
    // Field 0: the file, relative to the "FolderMesh" folder.
    void Load(IDirect3DDevice9* device) override;     // 21
    void Unload() override;                           // 22

    // Called when a material or texture is destroyed: the subsets that used
    // it draw without it from then on.
    static void ForgetResource(const C_BaseResource* resource);

    uint32_t MaterialCount = 0;
    VORTALEX::vector<C_D3DMATERIAL9*, 100> Materials;   // owned by the resource manager
    VORTALEX::vector<C_BaseTexture9*, 100> Textures;    // null where a subset has none

protected:
    // The mesh whose subsets are drawn.
    virtual ID3DXBaseMesh* DrawnMesh();
    void DrawSubsets(IDirect3DDevice9* device);
};

class C_D3DXPMESH9_XFILE : public C_D3DXMESH9_XFILE {
    TW_POOLED_CLASS(C_D3DXPMESH9_XFILE)

public:
    ~C_D3DXPMESH9_XFILE() override;
    void Draw(IDirect3DDevice9* device) override;                  // 16
    // e^(-0.001 d² / r) for the owner's camera distance d and radius r,
    // snapped to 1 above 0.8; also becomes the level of detail.
    float CalcLevelOfDetail(C_BaseObject* owner) override;         // 17
    // Field 0: the file; field 1: a number kept for subclasses.
    void Load(IDirect3DDevice9* device) override;                  // 21
    void Unload() override;                                        // 22

    // Keeps that fraction of the vertices.
    void SetLOD(float factor);

    // The exponential as this class computes it: a fast approximation that
    // builds the double's high word from x.
    static float FastExp(float x);

    float LevelOfDetail = 1.0f;
    ID3DXPMesh* PMesh = nullptr;
    float Parameter = 0.0f;

protected:
    ID3DXBaseMesh* DrawnMesh() override;
};
