#include "Render/Terrain/C_TerrainMesh9.h"

#include <cmath>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "Render/Terrain/C_TerrainHeightMap.h"

void C_TerrainMesh9::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    const ParameterCheck check = ReadParameters(*this, C_TerrainHeightMap::RawData().Side, Layout);
    Accepted = check == ParameterCheck::Accepted;
    if (!Accepted) ReportRefusal(check, *this);
}

C_TerrainMesh9::ParameterCheck C_TerrainMesh9::ReadParameters(C_BaseResource& object, uint32_t side,
                                                              C_Layout& layout)
{
    const int32_t column = ParameterString::ReadInt(object.GetField(1));
    const int32_t row = ParameterString::ReadInt(object.GetField(2));

    const int32_t slices = ParameterString::ReadInt(object.GetField(3));
    C_TerrainHeightMap::NumSlicesAxis = slices > 0 ? static_cast<uint32_t>(slices) : 0;
    if (slices <= 0) return ParameterCheck::NumSlicesAxis;

    const uint32_t cells = side / static_cast<uint32_t>(slices);
    NumVerticesAxis = cells + 1;
    if (cells == 0) return ParameterCheck::NumVerticesAxis;

    const float sliceSize = ParameterString::ReadFloat(object.GetField(4));
    if (!(sliceSize > 0.0f) || !std::isfinite(sliceSize)) return ParameterCheck::SliceSize;
    float heightScale = ParameterString::ReadFloat(object.GetField(5));
    if (heightScale == 0.0f) heightScale = sliceSize;
    if (!std::isfinite(heightScale)) return ParameterCheck::HeightScale;
    if (column < 0 || row < 0 || column >= slices || row >= slices) return ParameterCheck::Section;

    C_TerrainHeightMap::SliceSize = sliceSize;
    C_TerrainHeightMap::HeightScale = heightScale;
    NumCellsAxis = cells;
    CellSize = sliceSize / static_cast<float>(cells);
    NumVertices = uint64_t(cells + 1) * (cells + 1);
    NumTriangles = 2 * uint64_t(cells) * cells;

    layout.Column = column;
    layout.Row = row;
    layout.NumSlicesAxis = static_cast<uint32_t>(slices);
    layout.NumVerticesAxis = cells + 1;
    layout.NumCellsAxis = cells;
    layout.SliceSize = sliceSize;
    layout.HeightScale = heightScale;
    layout.CellSize = CellSize;
    object.Radius = std::sqrt(sliceSize * sliceSize / 2.0f);
    return ParameterCheck::Accepted;
}

void C_TerrainMesh9::ReportRefusal(ParameterCheck check, const C_BaseResource& object)
{
    switch (check) {
    case ParameterCheck::Accepted: break;
    case ParameterCheck::NumSlicesAxis:
        LOG_WARNING(L"Недопустимое значение NumSlicesAxis для " << object.Name);
        break;
    case ParameterCheck::NumVerticesAxis:
        LOG_WARNING(L"Недопустимое значение NumVerticesAxis для " << object.Name);
        break;
    case ParameterCheck::SliceSize:
        LOG_WARNING(L"Недопустимый размер секции ландшафта (поле 4) для " << object.Name);
        break;
    case ParameterCheck::HeightScale:
        LOG_WARNING(L"Недопустимый масштаб высоты ландшафта (поле 5) для " << object.Name);
        break;
    case ParameterCheck::Section:
        LOG_WARNING(L"Секция ландшафта вне сетки NumSlicesAxis × NumSlicesAxis (поля 1 и 2) для " << object.Name);
        break;
    }
}
