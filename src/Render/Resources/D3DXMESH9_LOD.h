#pragma once
// A level-of-detail mesh of five fixed steps: an .x file made progressive,
// then stored at 100 %, 80 %, 60 %, 40 % and 20 % of its faces. The step
// follows the camera distance; beyond the maximum detail distance (200) the
// mesh is not drawn.

#include <cstdint>
#include <vector>

#include "Render/Resources/D3DXMESH9_XFILE.h"

class C_D3DXMESH9_LOD : public C_D3DXPMESH9_XFILE {
    TW_POOLED_CLASS(C_D3DXMESH9_LOD)

public:
    static constexpr int StepCount = 5;

    ~C_D3DXMESH9_LOD() override;
    void Draw(IDirect3DDevice9* device) override;                  // 16
    // Step = ⌊distance × steps / 200⌋; 1 (drawn) while that is a stored
    // step, else 0. No stored mesh: 0.
    float CalcLevelOfDetail(C_BaseObject* owner) override;         // 17
    void Load(IDirect3DDevice9* device) override;                  // 21
    void Unload() override;                                        // 22

    float MaxDetailDistance = 200.0f;
    std::vector<ID3DXMesh*> Steps;   // owned, finest first
    std::size_t Current = 0;

protected:
    ID3DXBaseMesh* DrawnMesh() override;

private:
    void ReleaseSteps();
};
