#pragma once
// A single terrain block from its own 8-bit raw file: an n × n grid of
// samples (side = ⌊√bytes⌋) spread over a square of the given size, with a
// skirt: the outermost ring drops to the bottom of the block.
//
// Value string: 0 size (the world width of the block and its height range),
// 1 raw file, relative to the program folder. A block needs 4 ≤ n ≤ 256:
// the coordinates divide by n − 3, and 16-bit indices reach 65,536 vertices.

#include <cstdint>
#include <string>
#include <vector>

#include "Render/Resources/D3DXMESH9.h"
#include "ResourceManager/FromFactory.h"

class C_D3DXMESH9_TERRAIN : public C_D3DXMESH9 {
    TW_POOLED_CLASS(C_D3DXMESH9_TERRAIN)

public:
    static constexpr uint32_t MinSide = 4;
    static constexpr uint32_t MaxSide = 256;

    C_D3DXMESH9_TERRAIN();
    ~C_D3DXMESH9_TERRAIN() override;                  // 14
    void Load(IDirect3DDevice9* device) override;     // 21

    // Reads the whole file into the object's bytes (dropping the previous
    // ones); the side of the square of samples, 0 when nothing was read.
    unsigned long LoadRawData(const std::wstring& file);

    std::vector<uint8_t> Bytes;

private:
    bool m_Read = false;
    void FillVertices(uint32_t n, float size);
    void FillIndices(uint32_t n);
    void AddSkirt(uint32_t n, float size);
};
