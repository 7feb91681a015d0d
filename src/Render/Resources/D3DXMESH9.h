#pragma once
// Meshes: device resources that own one D3DX mesh and draw it. A positioned
// object sets the world transform and then calls the mesh's Draw. Every mesh
// built by Load goes through the same clean-up chain (weld, clean, validate,
// optimise) and gets a bounding box and sphere for culling and sorting.

#include <cstdint>
#include <string>

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"
#include "port/d3dx9/d3dx9mesh.h"

class C_D3DXMESH9 : public C_BaseResource {
public:
    C_D3DXMESH9();
    ~C_D3DXMESH9() override;
    void Draw(IDirect3DDevice9* device) override;     // 16
    // The common loading, then the clean-up chain and the bounds when a mesh
    // exists.
    void Load(IDirect3DDevice9* device) override;     // 21
    void Unload() override;                           // 22

    // Bounds of the mesh's vertices: box into the offsets (around the sphere
    // centre, so GetBoxMin/GetBoxMax give the mesh-space corners), sphere
    // centre into the position, radius.
    void ComputeBounds();

    // Draws `subsets` subsets between the begin and end of the occlusion
    // query of the frame and waits for the count of visible pixels.
    static void DrawWithQuery(ID3DXBaseMesh* mesh, uint32_t subsets);

    // Replaces the mesh (releasing the old one).
    void SetMesh(ID3DXMesh* mesh);

    ID3DXMesh* Mesh = nullptr;

protected:
    void CleanUp();
};

class C_D3DXMESH9_BOX : public C_D3DXMESH9 {
    TW_POOLED_CLASS(C_D3DXMESH9_BOX)

public:
    C_D3DXMESH9_BOX();
    void Load(IDirect3DDevice9* device) override;     // 21
    // Every face is one quad of four consecutive vertices and shows the
    // whole texture: vertex i gets the coordinates of corner i mod 4.
    virtual void ComputeTextureCoord(IDirect3DDevice9* device);
};

class C_D3DXMESH9_CYLINDER : public C_D3DXMESH9 {
    TW_POOLED_CLASS(C_D3DXMESH9_CYLINDER)

public:
    C_D3DXMESH9_CYLINDER();
    void Load(IDirect3DDevice9* device) override;     // 21

    float Radius1 = 0.0f;   // at the -Z end
    float Radius2 = 0.0f;   // at the +Z end
    float Length = 0.0f;
    int32_t Slices = 0;

private:
    void ComputeTextureCoord(IDirect3DDevice9* device);
};

class C_D3DXMESH9_SPHERE : public C_D3DXMESH9 {
    TW_POOLED_CLASS(C_D3DXMESH9_SPHERE)

public:
    C_D3DXMESH9_SPHERE();
    void Load(IDirect3DDevice9* device) override;     // 21
};

// Extruded 3D text: field 0 the text, 1 the font face, 2 the scale, 3 the
// font weight (0 means 500), 4 the extrusion depth (0 means 0.1). The mesh is
// centred on the origin; it skips the clean-up chain.
class C_D3DXMESH9_TEXT : public C_D3DXMESH9 {
    TW_POOLED_CLASS(C_D3DXMESH9_TEXT)

public:
    C_D3DXMESH9_TEXT();
    void Load(IDirect3DDevice9* device) override;     // 21
};

// Plain buffers for the terrain classes: vertices of position, normal and one
// texture coordinate (32 bytes), and 16-bit indices.
class C_D3DXVERTEXBUFFER9 : public C_D3DXMESH9 {
public:
    static constexpr DWORD FVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
    static constexpr UINT Stride = 32;

    ~C_D3DXVERTEXBUFFER9() override;
    void Draw(IDirect3DDevice9* device) override;     // 16
    void Load(IDirect3DDevice9* device) override;     // 21
    void Unload() override;                           // 22

    IDirect3DVertexBuffer9* VertexBuffer = nullptr;
    uint32_t VertexCount = 0;
    uint32_t TriangleCount = 0;
};

class C_D3DXINDEXBUFFER9 : public C_D3DXMESH9 {
public:
    ~C_D3DXINDEXBUFFER9() override;
    void Draw(IDirect3DDevice9* device) override;     // 16
    void Load(IDirect3DDevice9* device) override;     // 21
    void Unload() override;                           // 22

    IDirect3DIndexBuffer9* IndexBuffer = nullptr;
    uint32_t TriangleCount = 0;
};

// Gets a resource by class, name and value from the resource manager; one
// made just now outside a load run (an object a script created) is loaded at
// once, since no later load step would reach it.
C_BaseResource* RequestResource(const wchar_t* className, const std::wstring& name, const std::wstring& value,
                                IDirect3DDevice9* device);
