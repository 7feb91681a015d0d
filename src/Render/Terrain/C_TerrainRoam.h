#pragma once
// Terrain sections whose geometry is rebuilt every frame into one mesh that
// all of them share ("CommonRoamTerrain"). A section drawn in a frame
// registers itself; at the first section draw of the next frame the shared
// mesh is rebuilt from the registered sections and drawn once per camera.
//
// Every registered section gets its own range of the shared buffers, laid
// out one after the other in the order of registration, and its vertices
// stand at their place in the world: section (column, row) of the value
// string samples the map from (column × (n − 1), row × (n − 1)) and covers
// its square of the terrain, which is centred on the world origin. The
// shared mesh is therefore drawn with the identity world matrix; the objects
// that hold the sections only decide (by culling) which sections are built.
//
// The shared buffers hold 196,608 vertices and 65,536 triangles, so a section
// may have at most 182 vertices per side (6 × 181² indices); a larger one is
// refused when it loads, with a warning. Sections that no longer fit in what
// the earlier ones of a frame left are left out of that frame, with a
// warning once per section.

#include <cstdint>

#include "Common/vector.h"
#include "Render/Terrain/C_TerrainHeightMap.h"
#include "Render/Terrain/C_TerrainMesh9.h"
#include "ResourceManager/FromFactory.h"

class C_TerrainRoam : public C_TerrainMesh9, public C_TerrainHeightMap {
    TW_POOLED_CLASS(C_TerrainRoam)

public:
    static constexpr DWORD SharedFaces = 65536;
    static constexpr DWORD SharedVertices = 196608;
    static constexpr DWORD SharedIndices = SharedFaces * 3;

    // One triangle of the binary triangle tree: its children and neighbours
    // and two corner values.
    struct C_TriangleNode {
        C_TriangleNode* LeftChild = nullptr;
        C_TriangleNode* RightChild = nullptr;
        C_TriangleNode* BaseNeighbour = nullptr;
        C_TriangleNode* LeftNeighbour = nullptr;
        C_TriangleNode* RightNeighbour = nullptr;
        float Corner[2] = {0.0f, 0.0f};
    };

    // The mesh every section is written into.
    class C_Terrain : public C_D3DXMESH9 {
    public:
        C_Terrain();
        ~C_Terrain() override;                             // 14
        // Draws subset 0 in the main pass, with the identity world matrix.
        void Draw(IDirect3DDevice9* device) override;      // 16
        // Creates the mesh when there is none.
        void Load(IDirect3DDevice9* device) override;      // 21

        // Adds a section to this frame's list (once).
        void Register(C_TerrainRoam* section);
        // Forgets a section that goes away.
        void Forget(C_TerrainRoam* section);
        // Writes the registered sections into the buffers, then empties the
        // list. Without a mesh or a registered section nothing changes.
        void Rebuild();

        VORTALEX::vector<C_TerrainRoam*, 100> Sections;
        // What the last rebuild wrote.
        DWORD UsedVertices = 0;
        DWORD UsedIndices = 0;

        // Time of the last rebuild; set at the first section draw.
        static inline uint32_t LastRebuildTime = 0;
        static inline bool RebuildTimeSet = false;
        // The frame and camera the mesh was last drawn for.
        static inline uint32_t LastDrawTime = 0;
        static inline C_BaseObject* LastDrawCamera = nullptr;
        static inline bool Drawn = false;

        // Sections loaded now; the mesh (and the device it holds) goes with
        // the last of them.
        int LoadedSections = 0;
    };
    static C_Terrain& SharedTerrain();

    C_TerrainRoam();
    ~C_TerrainRoam() override;                         // 14
    void Draw(IDirect3DDevice9* device) override;      // 16
    // The height map (first time only), the parameters, then the shared mesh.
    void Load(IDirect3DDevice9* device) override;      // 21
    // Empties the shared list, then the mesh unload.
    void Unload() override;                            // 22

    // Each root is the other's base neighbour; children and side neighbours
    // are null; the corners come from the section's corner values.
    void ResetRoots();

    // First map sample of the section.
    int32_t OriginColumn = 0;
    int32_t OriginRow = 0;
    C_TriangleNode Roots[2];
    // Map heights at the section's corners: (0, 0), (n−1, 0), (n−1, n−1), (0, n−1).
    float Corners[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    // The section fits the shared buffers and takes part in the rebuilds.
    bool Fits = false;
    // A warning was logged for a frame that had no room left for it.
    bool ToldNoRoom = false;

private:
    void LeaveSharedMesh();
    bool m_HoldsSharedMesh = false;
};
