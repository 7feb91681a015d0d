#pragma once
// A terrain section as a progressive mesh built from the 16-bit height map:
// full detail near the camera, a seventeenth of its faces between three and
// six slice sizes away, nothing beyond.

#include <cstdint>
#include <vector>

#include "Render/Terrain/C_TerrainHeightMap.h"
#include "Render/Terrain/C_TerrainMesh9.h"
#include "ResourceManager/FromFactory.h"

class C_TerrainSection2 : public C_TerrainMesh9, public C_TerrainHeightMap {
    TW_POOLED_CLASS(C_TerrainSection2)

public:
    // Largest section this class builds: 513 × 513 vertices (a 2049-sample
    // map in four sections). Beyond it the progressive mesh would take far
    // too long to build.
    static constexpr uint32_t MaxVerticesAxis = 513;

    C_TerrainSection2();
    ~C_TerrainSection2() override;
    void Draw(IDirect3DDevice9* device) override;                  // 16
    float CalcLevelOfDetail(C_BaseObject* owner) override;         // 17
    void Load(IDirect3DDevice9* device) override;                  // 21
    void Unload() override;                                        // 22
    // Vertex (a, b), index b × n + a: position around the section's centre,
    // the height of its map sample, the normal from the neighbouring samples
    // and texture coordinates spanning the section once.
    virtual void FillVertices();                                   // 23
    // Two triangles per cell (v, v + 1, v + n + 1), (v, v + n + 1, v + n).
    virtual void FillIndices();                                    // 24

    ID3DXPMesh* PMesh = nullptr;
    std::vector<DWORD> Adjacency;
    int32_t LevelOfDetail = 0;
    int32_t LevelApplied = -1;

private:
    // Distance of the vertex farthest from the section's centre.
    float FarthestVertex();
    void CreateProgressiveMesh(IDirect3DDevice9* device);
    void Release();
};
