#include "Render/Terrain/C_TerrainSection.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "BaseClasses/DataFile.h"
#include "Common/Environment.h"
#include "Logger/Logger.h"
#include "Render/Terrain/TerrainVertex.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_TerrainSection)
TW_REGISTER_CLASS(C_IndexTerrain)

namespace {

constexpr const wchar_t* IndexName = L"IndexSliceTerrain";

} // namespace

// ---------------------------------------------------------------------------
// The 8-bit raw data

C_TerrainSection::C_TerrainRawData::~C_TerrainRawData() = default;

C_TerrainSection::C_TerrainRawData& C_TerrainSection::RawData()
{
    static C_TerrainRawData data;
    return data;
}

bool C_TerrainSection::C_TerrainRawData::LoadRawData(const std::wstring& path)
{
    std::string bytes;
    if (!ReadPlainFile(path, bytes)) return false;
    const auto side = static_cast<uint32_t>(std::sqrt(static_cast<double>(bytes.size())));
    const std::size_t count = static_cast<std::size_t>(side) * side;
    std::unique_ptr<uint8_t[]> samples(new (std::nothrow) uint8_t[count > 0 ? count : 1]);
    if (!samples) return false;
    std::copy_n(reinterpret_cast<const uint8_t*>(bytes.data()), count, samples.get());
    Samples = std::move(samples);
    Side = side;
    return true;
}

float C_TerrainSection::C_TerrainRawData::GetHeight(unsigned long col, unsigned long row)
{
    if (!Samples) {
        LOG_WARNING(L"Запрос высоты ландшафта до загрузки карты высот");
        return 0.0f;
    }
    if (col == 0 || row == 0 || col >= Side || row >= Side) return 0.5f;
    return static_cast<float>(Samples[static_cast<std::size_t>(row) * Side + col]) / 255.0f;
}

void C_TerrainSection::C_TerrainRawData::Reset()
{
    Samples.reset();
    Side = 0;
}

float C_TerrainSection::CentredHeight(long col, long row)
{
    if (col < 0 || row < 0) return 0.0f;
    return RawData().GetHeight(static_cast<unsigned long>(col), static_cast<unsigned long>(row)) - 0.5f;
}

// ---------------------------------------------------------------------------
// C_TerrainSection

C_TerrainSection::C_TerrainSection() { ResourceLevel = 1; }

C_TerrainSection::~C_TerrainSection() = default;

void C_TerrainSection::Load(IDirect3DDevice9* device)
{
    if (VertexBuffer) VertexBuffer->Release();
    VertexBuffer = nullptr;
    VertexCount = 0;
    TriangleCount = 0;
    IndexBuffer = nullptr;

    C_TerrainRawData& raw = RawData();
    if (!raw.IsLoaded()) {
        const std::wstring path = _VORTALEX::C_PathToProgram().GetText() + L"\\..\\" + GetField(0);
        if (!raw.LoadRawData(path)) LOG_WARNING(L"Не удалось прочитать содержимое файла " << path);
    }
    const C_TerrainMesh9::ParameterCheck check = C_TerrainMesh9::ReadParameters(*this, raw.Side, Layout);
    if (check != C_TerrainMesh9::ParameterCheck::Accepted) {
        C_TerrainMesh9::ReportRefusal(check, *this);
    } else if (Layout.NumVerticesAxis > MaxVerticesAxis) {
        LOG_WARNING(L"Секция ландшафта " << Name << L": " << Layout.NumVerticesAxis
                                         << L" вершин на сторону не адресуются 16-битными индексами (не больше "
                                         << MaxVerticesAxis << L")");
    } else {
        Column = Layout.Column;
        Row = Layout.Row;
        VertexCount = static_cast<uint32_t>(Layout.Vertices());
        TriangleCount = static_cast<uint32_t>(Layout.Triangles());
    }
    // The common loading runs whatever the parameters; the buffer only for a
    // section that can be built.
    C_D3DXVERTEXBUFFER9::Load(device);
    if (!VertexBuffer) {
        if (VertexCount > 0) LOG_WARNING(L"Не создан буфер вершин секции ландшафта " << Name);
        return;
    }
    FillVertices();
    IndexBuffer = dynamic_cast<C_IndexTerrain*>(RequestResource(L"C_IndexTerrain", IndexName, L"", device));
}

void C_TerrainSection::FillVertices()
{
    void* data = nullptr;
    if (FAILED(VertexBuffer->Lock(0, 0, &data, D3DLOCK_DISCARD)) || !data) return;
    auto* vertices = static_cast<C_TerrainVertex*>(data);
    const float radius = std::max(Radius, FillTerrainGrid(vertices, Layout, &C_TerrainSection::CentredHeight));
    VertexBuffer->Unlock();
    Radius = radius;
}

void C_TerrainSection::Draw(IDirect3DDevice9* device)
{
    if (!VertexBuffer) return;
    // Looked up each time: the shared buffer is made by a later load step,
    // and a script may delete it.
    IndexBuffer = dynamic_cast<C_IndexTerrain*>(
        C_ResManager::Instance().GetResource(IndexName, L"C_IndexTerrain", false));
    if (!IndexBuffer || !IndexBuffer->IndexBuffer || IndexBuffer->Cells != Layout.NumCellsAxis) return;
    IndexBuffer->Draw(device);
    C_D3DXVERTEXBUFFER9::Draw(device);
}

// ---------------------------------------------------------------------------
// C_IndexTerrain

void C_IndexTerrain::Load(IDirect3DDevice9* device)
{
    const uint32_t m = C_TerrainMesh9::NumCellsAxis;
    // Built for other cells: made again for these.
    if (IndexBuffer && m != Cells) {
        IndexBuffer->Release();
        IndexBuffer = nullptr;
    }
    Cells = 0;
    const uint32_t n = m + 1;
    TriangleCount = (m > 0 && n <= C_TerrainSection::MaxVerticesAxis) ? 2 * m * m : 0;
    C_D3DXINDEXBUFFER9::Load(device);
    if (!IndexBuffer) {
        if (TriangleCount > 0) LOG_WARNING(L"Не создан общий буфер индексов секций ландшафта " << Name);
        return;
    }
    void* data = nullptr;
    if (FAILED(IndexBuffer->Lock(0, 0, &data, D3DLOCK_DISCARD)) || !data) return;
    auto* indices = static_cast<uint16_t*>(data);
    std::size_t at = 0;
    for (uint32_t y = 0; y < m; ++y)
        for (uint32_t x = 0; x < m; ++x) {
            const auto v = static_cast<uint16_t>(x + n * y);
            indices[at++] = v;
            indices[at++] = static_cast<uint16_t>(v + 1);
            indices[at++] = static_cast<uint16_t>(v + n + 1);
            indices[at++] = v;
            indices[at++] = static_cast<uint16_t>(v + n + 1);
            indices[at++] = static_cast<uint16_t>(v + n);
        }
    IndexBuffer->Unlock();
    Cells = m;
}
