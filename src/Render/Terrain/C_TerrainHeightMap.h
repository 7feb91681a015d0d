#pragma once
// The terrain's height map: one square map of 16-bit samples for the whole
// process, loaded by the first terrain that asks for it, plus the terrain
// parameters every terrain object shares (sections per side, the world size
// of a section, the height scale). Terrain meshes sample it to build their
// vertices; scripts ask it for the ground height under a point.
//
// Raw file: side × side little-endian 16-bit samples, row-major, no header;
// side is the integer part of √(bytes / 2). Columns run along X, rows along
// Y, heights along Z; the terrain is centred on the world origin.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class C_TerrainHeightMap {
public:
    // The one map of the process.
    class C_TerrainRawData {
    public:
        C_TerrainRawData() = default;
        C_TerrainRawData(const C_TerrainRawData&) = delete;
        C_TerrainRawData& operator=(const C_TerrainRawData&) = delete;
        virtual ~C_TerrainRawData();

        // Takes the samples from a raw file's bytes. Bytes beyond side² samples
        // are ignored (with a warning naming the file). False, with a warning,
        // when the bytes hold no cell (side below 2) or memory runs out; the
        // map then stays unloaded.
        bool SetBytes(const unsigned char* bytes, std::size_t size, const std::wstring& file);

        // sample / 65535; 0.5 on the first row and column and outside the map;
        // 0 with a warning before any map was loaded.
        float GetHeight(unsigned long col, unsigned long row);

        bool IsLoaded() const { return static_cast<bool>(Samples); }
        // Forgets the map, so the next load reads a file again.
        void Reset();

        std::unique_ptr<uint16_t[]> Samples;   // row-major; null until loaded
        uint32_t Side = 0;
    };
    static C_TerrainRawData& RawData();

    C_TerrainHeightMap() = default;
    virtual ~C_TerrainHeightMap();                                  // 0
    // Loads the map from a file of the virtual file system, unless a map is
    // loaded already (the first terrain decides the map of the process).
    // False when the file can't be read or holds no usable map.
    virtual bool LoadHeightMap(const std::wstring& file);          // 1

    // GetHeight − 0.5: the border and everything outside read as 0.
    static float CentredHeight(long col, long row);

    // The ground height under (x, y): the cell the point falls in is split
    // along its diagonal from (c, r) to (c + 1, r + 1), the same triangles the
    // terrain meshes draw. Points outside the terrain, NaN and infinite
    // coordinates, and a terrain without size give 0.
    static double GetTerraineHeight(double x, double y);

    // Cells of the map that the terrain sections cover along one side: the
    // sections together hold NumSlicesAxis × (side / NumSlicesAxis) cells.
    static uint32_t CoveredCells();

    // The parameters of the last terrain load.
    static inline uint32_t NumSlicesAxis = 1;
    static inline float SliceSize = 1000.0f;
    static inline float HeightScale = 1000.0f;
};
