#include "Render/Terrain/C_TerrainHeightMap.h"

#include <cmath>
#include <exception>
#include <new>

#include "Logger/Logger.h"
#include "VirtualFileSystem/FileManager.h"

// ---------------------------------------------------------------------------
// The raw data

C_TerrainHeightMap::C_TerrainRawData::~C_TerrainRawData() = default;

C_TerrainHeightMap::C_TerrainRawData& C_TerrainHeightMap::RawData()
{
    static C_TerrainRawData data;
    return data;
}

bool C_TerrainHeightMap::C_TerrainRawData::SetBytes(const unsigned char* bytes, std::size_t size,
                                                    const std::wstring& file)
{
    const auto side = static_cast<uint32_t>(std::sqrt(static_cast<double>(size / 2)));
    // A map needs at least one cell; anything smaller would fix an empty map
    // for the whole process.
    if (side < 2 || !bytes) {
        LOG_WARNING(L"Карта высот " << file << L" слишком мала (" << size << L" байт): нужно не меньше 8 байт");
        return false;
    }
    const std::size_t count = static_cast<std::size_t>(side) * side;
    std::unique_ptr<uint16_t[]> samples(new (std::nothrow) uint16_t[count]);
    if (!samples) {
        LOG_WARNING(L"Не хватает памяти для карты высот " << file);
        return false;
    }
    // Little-endian whatever the machine's order.
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (count * 2 != size)
        LOG_WARNING(L"Карта высот " << file << L": " << size - count * 2 << L" байт после " << side << L" × " << side
                                    << L" отсчётов не используются");
    Samples = std::move(samples);
    Side = side;
    return true;
}

float C_TerrainHeightMap::C_TerrainRawData::GetHeight(unsigned long col, unsigned long row)
{
    if (!Samples) {
        LOG_WARNING(L"Запрос высоты ландшафта до загрузки карты высот");
        return 0.0f;
    }
    if (col == 0 || row == 0 || col >= Side || row >= Side) return 0.5f;
    return static_cast<float>(Samples[static_cast<std::size_t>(row) * Side + col]) / 65535.0f;
}

void C_TerrainHeightMap::C_TerrainRawData::Reset()
{
    Samples.reset();
    Side = 0;
}

// ---------------------------------------------------------------------------
// C_TerrainHeightMap

C_TerrainHeightMap::~C_TerrainHeightMap() = default;

bool C_TerrainHeightMap::LoadHeightMap(const std::wstring& file)
{
    C_TerrainRawData& data = RawData();
    if (data.IsLoaded()) return true;
    unsigned int size = 0;
    const unsigned char* bytes = nullptr;
    try {
        bytes = VORTALEX::FileManager::Instance().GetDataFile(file.c_str(), &size);
    } catch (const std::exception&) {
        bytes = nullptr;   // the file manager has logged why
    }
    if (!bytes) {
        // Not loaded: a terrain with a good file may still bring the map.
        LOG_WARNING(L"Не удалось прочитать карту высот " << file);
        return false;
    }
    return data.SetBytes(bytes, size, file);
}

float C_TerrainHeightMap::CentredHeight(long col, long row)
{
    if (col < 0 || row < 0) return 0.0f;
    return RawData().GetHeight(static_cast<unsigned long>(col), static_cast<unsigned long>(row)) - 0.5f;
}

uint32_t C_TerrainHeightMap::CoveredCells()
{
    const uint32_t slices = NumSlicesAxis;
    if (slices == 0) return 0;
    return slices * (RawData().Side / slices);
}

double C_TerrainHeightMap::GetTerraineHeight(double x, double y)
{
    C_TerrainRawData& data = RawData();
    if (!data.IsLoaded()) {
        data.GetHeight(0, 0);   // the warning
        return 0.0;
    }
    const float width = SliceSize * static_cast<float>(NumSlicesAxis);
    const uint32_t cells = CoveredCells();
    if (!(width > 0.0f) || !std::isfinite(width) || cells == 0) return 0.0;

    // The meshes lay NumSlicesAxis × (n − 1) cells across the terrain, so the
    // point is scaled by those cells, not by the map's side, and heights here
    // are the heights drawn.
    const float fx = (static_cast<float>(x) / width + 0.5f) * static_cast<float>(cells);
    const float fy = (static_cast<float>(y) / width + 0.5f) * static_cast<float>(cells);
    // Outside the terrain (NaN fails both tests).
    if (!(fx >= 0.0f && fx <= static_cast<float>(cells)) || !(fy >= 0.0f && fy <= static_cast<float>(cells)))
        return 0.0;

    const auto c = static_cast<long>(fx);
    const auto r = static_cast<long>(fy);
    const float dx = fx - static_cast<float>(c);
    const float dy = fy - static_cast<float>(r);
    const float h00 = CentredHeight(c, r);
    const float h10 = CentredHeight(c + 1, r);
    const float h01 = CentredHeight(c, r + 1);
    const float h11 = CentredHeight(c + 1, r + 1);
    float h;
    if (dy <= dx)
        h = h10 + (h00 - h10) * (1.0f - dx) + (h11 - h10) * dy;
    else
        h = h01 + (h00 - h01) * (1.0f - dy) + (h11 - h01) * dx;
    return static_cast<double>(HeightScale * h);
}
