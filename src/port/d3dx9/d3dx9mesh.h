// D3DX meshes: the mesh interfaces, shape builders, mesh operations,
// .x file loading and progressive meshes.
#pragma once

#include "port/d3d9/d3d9.h"
#include "port/d3dx9/d3dx9math.h"

// ---------------------------------------------------------------------------
// Options and flags
// ---------------------------------------------------------------------------
enum _D3DXMESH {
    D3DXMESH_32BIT = 0x001,
    D3DXMESH_DONOTCLIP = 0x002,
    D3DXMESH_POINTS = 0x004,
    D3DXMESH_RTPATCHES = 0x008,
    D3DXMESH_NPATCHES = 0x4000,
    D3DXMESH_VB_SYSTEMMEM = 0x010,
    D3DXMESH_VB_MANAGED = 0x020,
    D3DXMESH_VB_WRITEONLY = 0x040,
    D3DXMESH_VB_DYNAMIC = 0x080,
    D3DXMESH_VB_SOFTWAREPROCESSING = 0x8000,
    D3DXMESH_IB_SYSTEMMEM = 0x100,
    D3DXMESH_IB_MANAGED = 0x200,
    D3DXMESH_IB_WRITEONLY = 0x400,
    D3DXMESH_IB_DYNAMIC = 0x800,
    D3DXMESH_IB_SOFTWAREPROCESSING = 0x10000,
    D3DXMESH_VB_SHARE = 0x1000,
    D3DXMESH_USEHWONLY = 0x2000,
    D3DXMESH_SYSTEMMEM = 0x110,
    D3DXMESH_MANAGED = 0x220,
    D3DXMESH_WRITEONLY = 0x440,
    D3DXMESH_DYNAMIC = 0x880,
    D3DXMESH_SOFTWAREPROCESSING = 0x18000,
};

enum _D3DXMESHOPT {
    D3DXMESHOPT_COMPACT = 0x01000000,
    D3DXMESHOPT_ATTRSORT = 0x02000000,
    D3DXMESHOPT_VERTEXCACHE = 0x04000000,
    D3DXMESHOPT_STRIPREORDER = 0x08000000,
    D3DXMESHOPT_IGNOREVERTS = 0x10000000,
    D3DXMESHOPT_DONOTSPLIT = 0x20000000,
    D3DXMESHOPT_DEVICEINDEPENDENT = 0x00400000,
};

enum D3DXCLEANTYPE {
    D3DXCLEAN_BACKFACING = 0x00000001,
    D3DXCLEAN_BOWTIES = 0x00000002,
    D3DXCLEAN_SKINNING = D3DXCLEAN_BACKFACING,
    D3DXCLEAN_OPTIMIZATION = D3DXCLEAN_BACKFACING,
    D3DXCLEAN_SIMPLIFICATION = D3DXCLEAN_BACKFACING | D3DXCLEAN_BOWTIES,
};

enum _D3DXWELDEPSILONSFLAGS {
    D3DXWELDEPSILONS_WELDALL = 0x1,
    D3DXWELDEPSILONS_WELDPARTIALMATCHES = 0x2,
    D3DXWELDEPSILONS_DONOTREMOVEVERTICES = 0x4,
    D3DXWELDEPSILONS_DONOTSPLIT = 0x8,
};

enum _D3DXMESHSIMP {
    D3DXMESHSIMP_VERTEX = 0x1,
    D3DXMESHSIMP_FACE = 0x2,
};

enum _D3DXTANGENT {
    D3DXTANGENT_WEIGHT_BY_AREA = 0x40,
    D3DXTANGENT_WEIGHT_EQUAL = 0x80,
};

// ---------------------------------------------------------------------------
// Structures
// ---------------------------------------------------------------------------
struct D3DXATTRIBUTERANGE {
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
};
typedef D3DXATTRIBUTERANGE* LPD3DXATTRIBUTERANGE;

struct D3DXMATERIAL {
    D3DMATERIAL9 MatD3D;
    LPSTR pTextureFilename;
};
typedef D3DXMATERIAL* LPD3DXMATERIAL;

struct D3DXWELDEPSILONS {
    FLOAT Position;
    FLOAT BlendWeights;
    FLOAT Normal;
    FLOAT PSize;
    FLOAT Specular;
    FLOAT Diffuse;
    FLOAT Texcoord[8];
    FLOAT Tangent;
    FLOAT Binormal;
    FLOAT TessFactor;
};
typedef D3DXWELDEPSILONS* LPD3DXWELDEPSILONS;

struct D3DXATTRIBUTEWEIGHTS {
    FLOAT Position;
    FLOAT Boundary;
    FLOAT Normal;
    FLOAT Diffuse;
    FLOAT Specular;
    FLOAT Texcoord[8];
    FLOAT Tangent;
    FLOAT Binormal;
};
typedef D3DXATTRIBUTEWEIGHTS* LPD3DXATTRIBUTEWEIGHTS;

struct D3DXEFFECTDEFAULT;
struct D3DXEFFECTINSTANCE {
    LPSTR pEffectFilename;
    DWORD NumDefaults;
    D3DXEFFECTDEFAULT* pDefaults;
};

// ---------------------------------------------------------------------------
// Interfaces
// ---------------------------------------------------------------------------
struct ID3DXBuffer : IUnknown {
    virtual LPVOID GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;
};
typedef ID3DXBuffer* LPD3DXBUFFER;

struct ID3DXMesh;
struct ID3DXPMesh;

struct ID3DXBaseMesh : IUnknown {
    virtual HRESULT DrawSubset(DWORD attribId) = 0;
    virtual DWORD GetNumFaces() = 0;
    virtual DWORD GetNumVertices() = 0;
    virtual DWORD GetFVF() = 0;
    virtual DWORD GetNumBytesPerVertex() = 0;
    virtual DWORD GetOptions() = 0;
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** cloneMesh) = 0;
    virtual HRESULT LockVertexBuffer(DWORD flags, LPVOID* data) = 0;
    virtual HRESULT UnlockVertexBuffer() = 0;
    virtual HRESULT LockIndexBuffer(DWORD flags, LPVOID* data) = 0;
    virtual HRESULT UnlockIndexBuffer() = 0;
    virtual HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* attribTable, DWORD* attribTableSize) = 0;
    virtual HRESULT ConvertPointRepsToAdjacency(const DWORD* pointReps, DWORD* adjacency) = 0;
    virtual HRESULT ConvertAdjacencyToPointReps(const DWORD* adjacency, DWORD* pointReps) = 0;
    virtual HRESULT GenerateAdjacency(FLOAT epsilon, DWORD* adjacency) = 0;
};
typedef ID3DXBaseMesh* LPD3DXBASEMESH;

struct ID3DXMesh : ID3DXBaseMesh {
    virtual HRESULT LockAttributeBuffer(DWORD flags, DWORD** data) = 0;
    virtual HRESULT UnlockAttributeBuffer() = 0;
    virtual HRESULT Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                             ID3DXBuffer** vertexRemap, ID3DXMesh** optMesh) = 0;
    virtual HRESULT OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                    ID3DXBuffer** vertexRemap) = 0;
    virtual HRESULT SetAttributeTable(const D3DXATTRIBUTERANGE* attribTable, DWORD attribTableSize) = 0;
};
typedef ID3DXMesh* LPD3DXMESH;

struct ID3DXPMesh : ID3DXBaseMesh {
    virtual HRESULT ClonePMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXPMesh** cloneMesh) = 0;
    virtual HRESULT SetNumFaces(DWORD faces) = 0;
    virtual HRESULT SetNumVertices(DWORD vertices) = 0;
    virtual DWORD GetMaxFaces() = 0;
    virtual DWORD GetMinFaces() = 0;
    virtual DWORD GetMaxVertices() = 0;
    virtual DWORD GetMinVertices() = 0;
};
typedef ID3DXPMesh* LPD3DXPMESH;

// ---------------------------------------------------------------------------
// Functions
// ---------------------------------------------------------------------------
HRESULT D3DXCreateBuffer(DWORD numBytes, ID3DXBuffer** buffer);
UINT D3DXGetFVFVertexSize(DWORD fvf);

HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                          ID3DXMesh** mesh);
HRESULT D3DXCreateBox(IDirect3DDevice9* device, FLOAT width, FLOAT height, FLOAT depth, ID3DXMesh** mesh,
                      ID3DXBuffer** adjacency);
HRESULT D3DXCreateCylinder(IDirect3DDevice9* device, FLOAT radius1, FLOAT radius2, FLOAT length, UINT slices,
                           UINT stacks, ID3DXMesh** mesh, ID3DXBuffer** adjacency);
HRESULT D3DXCreateSphere(IDirect3DDevice9* device, FLOAT radius, UINT slices, UINT stacks, ID3DXMesh** mesh,
                         ID3DXBuffer** adjacency);

HRESULT D3DXComputeBoundingBox(const D3DXVECTOR3* firstPosition, DWORD numVertices, DWORD stride,
                               D3DXVECTOR3* min, D3DXVECTOR3* max);
HRESULT D3DXComputeBoundingSphere(const D3DXVECTOR3* firstPosition, DWORD numVertices, DWORD stride,
                                  D3DXVECTOR3* center, FLOAT* radius);
HRESULT D3DXComputeNormals(ID3DXBaseMesh* mesh, const DWORD* adjacency);
HRESULT D3DXWeldVertices(ID3DXMesh* mesh, DWORD flags, const D3DXWELDEPSILONS* epsilons,
                         const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                         ID3DXBuffer** vertexRemap);
HRESULT D3DXCleanMesh(D3DXCLEANTYPE cleanType, ID3DXMesh* meshIn, const DWORD* adjacencyIn, ID3DXMesh** meshOut,
                      DWORD* adjacencyOut, ID3DXBuffer** errorsAndWarnings);
HRESULT D3DXValidMesh(ID3DXMesh* meshIn, const DWORD* adjacency, ID3DXBuffer** errorsAndWarnings);

// Loads a .x file (text, binary or compressed) from memory. Materials come
// back as an array of D3DXMATERIAL in *materials, one per subset.
HRESULT D3DXLoadMeshFromXInMemory(LPCVOID memory, DWORD sizeOfMemory, DWORD options, IDirect3DDevice9* device,
                                  ID3DXBuffer** adjacency, ID3DXBuffer** materials, ID3DXBuffer** effectInstances,
                                  DWORD* numMaterials, ID3DXMesh** mesh);

HRESULT D3DXGeneratePMesh(ID3DXMesh* mesh, const DWORD* adjacency, const D3DXATTRIBUTEWEIGHTS* vertexAttributeWeights,
                          const FLOAT* vertexWeights, DWORD minValue, DWORD options, ID3DXPMesh** pmesh);
