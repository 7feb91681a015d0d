#pragma once
// A terrain section as a plain vertex buffer built from an 8-bit height map,
// drawn with one index buffer that every section shares ("IndexSliceTerrain").
//
// The 8-bit map is read from the program folder's parent: program folder +
// "\..\" + field 0. One byte per sample, side = ⌊√bytes⌋, loaded once per
// process. Sections need 16-bit indices, so at most 256 vertices per side.

#include <cstdint>
#include <memory>
#include <string>

#include "Render/Resources/D3DXMESH9.h"
#include "Render/Terrain/C_TerrainMesh9.h"
#include "ResourceManager/FromFactory.h"

class C_IndexTerrain;

class C_TerrainSection : public C_D3DXVERTEXBUFFER9 {
    TW_POOLED_CLASS(C_TerrainSection)

public:
    // The 8-bit height store of these sections.
    class C_TerrainRawData {
    public:
        C_TerrainRawData() = default;
        C_TerrainRawData(const C_TerrainRawData&) = delete;
        C_TerrainRawData& operator=(const C_TerrainRawData&) = delete;
        virtual ~C_TerrainRawData();

        // Reads the whole file; false (and nothing changes) when it can't be
        // read.
        bool LoadRawData(const std::wstring& path);
        // sample / 255; 0.5 on the first row and column and outside; 0 with
        // a warning before any map was loaded.
        float GetHeight(unsigned long col, unsigned long row);
        bool IsLoaded() const { return static_cast<bool>(Samples); }
        void Reset();

        std::unique_ptr<uint8_t[]> Samples;
        uint32_t Side = 0;
    };
    static C_TerrainRawData& RawData();
    // GetHeight − 0.5, for signed indices.
    static float CentredHeight(long col, long row);

    static constexpr uint32_t MaxVerticesAxis = 256;

    C_TerrainSection();
    ~C_TerrainSection() override;
    // The shared index buffer, then the vertex buffer.
    void Draw(IDirect3DDevice9* device) override;     // 16
    void Load(IDirect3DDevice9* device) override;     // 21

    int32_t Column = 0;
    int32_t Row = 0;
    C_TerrainMesh9::C_Layout Layout;
    C_IndexTerrain* IndexBuffer = nullptr;   // the manager's; not owned

private:
    void FillVertices();
};

// Two 16-bit triangles per cell of a section, (v, v + 1, v + n + 1) and
// (v, v + n + 1, v + n), for the cells per side of the last terrain load.
class C_IndexTerrain : public C_D3DXINDEXBUFFER9 {
    TW_POOLED_CLASS(C_IndexTerrain)

public:
    void Load(IDirect3DDevice9* device) override;     // 21

    // Cells per side the indices were written for.
    uint32_t Cells = 0;
};
