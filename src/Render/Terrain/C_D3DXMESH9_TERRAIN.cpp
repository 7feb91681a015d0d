#include "Render/Terrain/C_D3DXMESH9_TERRAIN.h"

#include <cmath>

#include "BaseClasses/DataFile.h"
#include "BaseClasses/ParameterString.h"
#include "Common/Environment.h"
#include "Logger/Logger.h"
#include "Render/Terrain/TerrainVertex.h"

TW_REGISTER_CLASS(C_D3DXMESH9_TERRAIN)

C_D3DXMESH9_TERRAIN::C_D3DXMESH9_TERRAIN() { ResourceLevel = 1; }

C_D3DXMESH9_TERRAIN::~C_D3DXMESH9_TERRAIN() = default;

unsigned long C_D3DXMESH9_TERRAIN::LoadRawData(const std::wstring& file)
{
    Bytes.clear();
    std::string bytes;
    m_Read = ReadPlainFile(file, bytes);
    if (!m_Read) {
        Bytes.shrink_to_fit();
        LOG_WARNING(L"Не удалось прочитать содержимое файла " << file);
        return 0;
    }
    Bytes.assign(bytes.begin(), bytes.end());
    return static_cast<unsigned long>(std::sqrt(static_cast<double>(Bytes.size())));
}

void C_D3DXMESH9_TERRAIN::Load(IDirect3DDevice9* device)
{
    SetMesh(nullptr);
    const float size = ParameterString::ReadFloat(GetField(0));
    const std::wstring file = _VORTALEX::C_PathToProgram().GetText() + L"\\" + GetField(1);
    const unsigned long n = LoadRawData(file);

    bool build = false;
    if (!m_Read) {
        // LoadRawData has said why.
    } else if (n < MinSide || n > MaxSide) {
        LOG_WARNING(L"Блок ландшафта " << Name << L": " << n << L" × " << n << L" отсчётов в " << file
                                       << L", допустимо от " << MinSide << L" до " << MaxSide << L" на сторону");
    } else if (!(size > 0.0f) || !std::isfinite(size)) {
        LOG_WARNING(L"Блок ландшафта " << Name << L": недопустимый размер (поле 0)");
    } else {
        build = true;
    }

    if (build) {
        const auto side = static_cast<uint32_t>(n);
        ID3DXMesh* mesh = nullptr;
        if (FAILED(D3DXCreateMeshFVF(2 * (side - 1) * (side - 1), side * side, D3DXMESH_SYSTEMMEM, TerrainVertexFVF,
                                     device, &mesh)) ||
            !mesh) {
            LOG_WARNING(L"Не создана сетка блока ландшафта " << Name);
        } else {
            SetMesh(mesh);
            FillVertices(side, size);
            FillIndices(side);
            if (!(Mesh->GetFVF() & D3DFVF_NORMAL)) {
                ID3DXMesh* withNormals = nullptr;
                if (SUCCEEDED(Mesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, Mesh->GetFVF() | D3DFVF_NORMAL, device,
                                                 &withNormals)) &&
                    withNormals)
                    SetMesh(withNormals);
            }
            D3DXComputeNormals(Mesh, nullptr);
            AddSkirt(side, size);
        }
    }
    C_D3DXMESH9::Load(device);
}

void C_D3DXMESH9_TERRAIN::FillVertices(uint32_t n, float size)
{
    void* data = nullptr;
    if (FAILED(Mesh->LockVertexBuffer(D3DLOCK_DISCARD, &data)) || !data) return;
    auto* vertices = static_cast<C_TerrainVertex*>(data);
    const auto c = static_cast<float>(n / 2);
    const auto w = static_cast<float>(n - 3);
    const uint32_t count = n * n;
    for (uint32_t i = 0; i < count; ++i) {
        const auto col = static_cast<float>(i % n);
        const auto row = static_cast<float>(i / n);
        C_TerrainVertex& v = vertices[i];
        v.x = (col - c) * size / w;
        v.y = (row - c) * size / w;
        const float h = i < Bytes.size() ? static_cast<float>(Bytes[i]) / 255.0f : 0.0f;
        v.z = h * size - size * 0.5f;
        v.nx = 0.0f;
        v.ny = 0.0f;
        v.nz = 1.0f;
        v.u = (col - 1.0f) / w;
        v.v = (row - 1.0f) / w;
    }
    Mesh->UnlockVertexBuffer();
}

void C_D3DXMESH9_TERRAIN::FillIndices(uint32_t n)
{
    void* data = nullptr;
    if (FAILED(Mesh->LockIndexBuffer(0, &data)) || !data) return;
    auto* indices = static_cast<uint16_t*>(data);
    std::size_t at = 0;
    for (uint32_t r = 0; r + 1 < n; ++r)
        for (uint32_t c = 0; c + 1 < n; ++c) {
            const auto a = static_cast<uint16_t>(r * n + c);
            const auto b = static_cast<uint16_t>((r + 1) * n + c);
            indices[at++] = a;
            indices[at++] = static_cast<uint16_t>(a + 1);
            indices[at++] = static_cast<uint16_t>(b + 1);
            indices[at++] = a;
            indices[at++] = static_cast<uint16_t>(b + 1);
            indices[at++] = b;
        }
    Mesh->UnlockIndexBuffer();
}

void C_D3DXMESH9_TERRAIN::AddSkirt(uint32_t n, float size)
{
    void* data = nullptr;
    if (FAILED(Mesh->LockVertexBuffer(D3DLOCK_DISCARD, &data)) || !data) return;
    const DWORD stride = Mesh->GetNumBytesPerVertex();
    const float d = size / static_cast<float>(n);
    const float bottom = -size * 0.5f;
    const uint32_t count = n * n;
    for (uint32_t i = 0; i < count; ++i) {
        auto* p = reinterpret_cast<float*>(static_cast<unsigned char*>(data) + static_cast<std::size_t>(i) * stride);
        const uint32_t col = i % n, row = i / n;
        if (col == 0) {
            p[0] += d;
            p[2] = bottom;
        }
        if (row == 0) {
            p[1] += d;
            p[2] = bottom;
        }
        if (col == n - 1) {
            p[0] -= d;
            p[2] = bottom;
        }
        if (row == n - 1) {
            p[1] -= d;
            p[2] = bottom;
        }
    }
    Mesh->UnlockVertexBuffer();
}
