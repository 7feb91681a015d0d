#pragma once
// The common part of the sectioned terrain meshes: reading the terrain
// parameters of a section from its value string.
//
// Value string: 0 height-map file; 1 section column and 2 section row
// (0 … NumSlicesAxis − 1); 3 NumSlicesAxis (sections per side); 4 slice size
// (the world size of a section); 5 height scale (0: the slice size).
//
// A section has n = side / NumSlicesAxis + 1 vertices per side, laid out
// around its own centre; the positioned object that holds it places it in
// the world.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "Render/Resources/D3DXMESH9.h"
#include "Render/Terrain/TerrainVertex.h"

class C_TerrainMesh9 : public C_D3DXMESH9 {
public:
    // What one section was built from.
    struct C_Layout {
        int32_t Column = 0;
        int32_t Row = 0;
        uint32_t NumSlicesAxis = 0;
        uint32_t NumVerticesAxis = 0;   // n
        uint32_t NumCellsAxis = 0;      // n − 1
        float SliceSize = 0.0f;
        float HeightScale = 0.0f;
        float CellSize = 0.0f;
        // First map sample of the section: column × (n − 1), row × (n − 1).
        uint32_t OriginColumn() const { return static_cast<uint32_t>(Column) * NumCellsAxis; }
        uint32_t OriginRow() const { return static_cast<uint32_t>(Row) * NumCellsAxis; }
        uint64_t Vertices() const { return uint64_t(NumVerticesAxis) * NumVerticesAxis; }
        uint64_t Triangles() const { return 2 * uint64_t(NumCellsAxis) * NumCellsAxis; }
    };

    // Why the parameters of a section were refused.
    enum class ParameterCheck {
        Accepted,
        NumSlicesAxis,      // field 3 is 0 or negative
        NumVerticesAxis,    // the map has fewer samples per side than sections
        SliceSize,          // field 4 not a positive finite number
        HeightScale,        // field 5 not finite
        Section,            // fields 1 and 2 outside the grid
    };

    // The common loading, then the parameters (fields 1–5) against the side
    // of the 16-bit height map.
    void Load(IDirect3DDevice9* device) override;     // 21

    // Reads fields 1–5 of `object` for a map of `side` samples per side into
    // `layout` and the process-wide values. NumSlicesAxis is stored before it
    // is tested, and the vertices per side (then 1) before theirs; after a
    // refusal nothing else changes. On acceptance the object's radius becomes
    // half the diagonal of a section.
    static ParameterCheck ReadParameters(C_BaseResource& object, uint32_t side, C_Layout& layout);
    // Logs why a section was refused, with the object's name.
    static void ReportRefusal(ParameterCheck check, const C_BaseResource& object);

    // Whether the last Load accepted the parameters, and what they were.
    bool Accepted = false;
    C_Layout Layout;

    // Process-wide values of the last accepted load (the vertices per side
    // also of a refused one, see ReadParameters).
    static inline uint32_t NumVerticesAxis = 0;
    static inline uint32_t NumCellsAxis = 0;
    static inline float CellSize = 0.0f;
    static inline uint64_t NumVertices = 0;
    static inline uint64_t NumTriangles = 0;
};

// Writes a section's n × n vertices, around the section's centre, from a
// height field that answers for any signed map sample (`CentredHeight` of the
// 8- or 16-bit map); returns the distance of the farthest vertex from the
// centre.
template <class Height>
float FillTerrainGrid(C_TerrainVertex* vertices, const C_TerrainMesh9::C_Layout& l, Height&& height)
{
    const uint32_t n = l.NumVerticesAxis;
    const float last = static_cast<float>(n - 1);
    const long originColumn = static_cast<long>(l.OriginColumn());
    const long originRow = static_cast<long>(l.OriginRow());
    float farthest = 0.0f;
    for (uint32_t b = 0; b < n; ++b)
        for (uint32_t a = 0; a < n; ++a) {
            C_TerrainVertex& v = vertices[static_cast<std::size_t>(b) * n + a];
            const long col = originColumn + static_cast<long>(a);
            const long row = originRow + static_cast<long>(b);
            v.x = (static_cast<float>(a) / last - 0.5f) * l.SliceSize;
            v.y = (static_cast<float>(b) / last - 0.5f) * l.SliceSize;
            v.z = l.HeightScale * height(col, row);
            SampleNormal(height, col, row, l.HeightScale, l.CellSize, v.nx, v.ny, v.nz);
            v.u = static_cast<float>(a) / last;
            v.v = static_cast<float>(b) / last;
            farthest = std::max(farthest, std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z));
        }
    return farthest;
}
