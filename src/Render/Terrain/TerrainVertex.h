#pragma once
// The vertex every terrain mesh writes (position, normal, one texture
// coordinate: D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, 32 bytes) and the
// normal of a height field at one of its samples.

#include <cmath>

#include "port/d3d9/d3d9.h"

struct C_TerrainVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
static_assert(sizeof(C_TerrainVertex) == 32);

inline constexpr DWORD TerrainVertexFVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

// Unit normal of the surface z = heightScale × height(col, row) with samples
// `spacing` apart, from the slopes between the four neighbouring samples.
// `height` takes signed sample indices and answers for any of them, so
// samples on the border need no special case.
template <class Height>
inline void SampleNormal(Height&& height, long col, long row, float heightScale, float spacing, float& nx,
                         float& ny, float& nz)
{
    const float scale = spacing != 0.0f ? heightScale / (2.0f * spacing) : 0.0f;
    float x = -(height(col + 1, row) - height(col - 1, row)) * scale;
    float y = -(height(col, row + 1) - height(col, row - 1)) * scale;
    float z = 1.0f;
    float length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0f) || !std::isfinite(length)) {
        x = 0.0f;
        y = 0.0f;
        length = 1.0f;
    }
    nx = x / length;
    ny = y / length;
    nz = z / length;
}
