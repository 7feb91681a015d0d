#include "fake_device.h"
#include "fuzz_rounds.h"
#include "port/d3dx9/d3dx9mesh.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

// Two unit quads side by side, the left one red and textured, the right one
// green; the right quad is one polygon of four corners.
const char kTwoMaterials[] = R"(xof 0302txt 0064
Material Red {
 1.000000;0.000000;0.000000;1.000000;;
 20.000000;
 0.500000;0.500000;0.500000;;
 0.000000;0.000000;0.000000;;
 TextureFilename { "textures\\wall.bmp"; }
}
Frame Root {
 FrameTransformMatrix {
  1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,5.0,1.0;;
 }
 Mesh Quads {
  8;
  0.0;0.0;0.0;,
  0.0;1.0;0.0;,
  1.0;1.0;0.0;,
  1.0;0.0;0.0;,
  1.0;0.0;0.0;,
  1.0;1.0;0.0;,
  2.0;1.0;0.0;,
  2.0;0.0;0.0;;
  3;
  3;0,1,2;,
  3;0,2,3;,
  4;4,5,6,7;;
  MeshMaterialList {
   2;
   3;
   0,0,1;;
   {Red}
   Material Green {
    0.000000;1.000000;0.000000;0.500000;;
    5.000000;
    0.000000;0.000000;0.000000;;
    0.100000;0.200000;0.300000;;
   }
  }
  MeshNormals {
   1;
   0.0;0.0;-1.0;;
   3;
   3;0,0,0;,
   3;0,0,0;,
   4;0,0,0,0;;
  }
  MeshTextureCoords {
   8;
   0.0;1.0;,
   0.0;0.0;,
   1.0;0.0;,
   1.0;1.0;,
   0.0;1.0;,
   0.0;0.0;,
   1.0;0.0;,
   1.0;1.0;;
  }
 }
}
)";

struct XVertex {
    float x, y, z, nx, ny, nz, u, v;
};

class XFile : public ::testing::Test {
protected:
    void TearDown() override { device->Release(); }
    HRESULT load(const std::string& text, ID3DXMesh** mesh, ID3DXBuffer** mats = nullptr, DWORD* n = nullptr) {
        return D3DXLoadMeshFromXInMemory(text.data(), (DWORD)text.size(), D3DXMESH_SYSTEMMEM, device, nullptr, mats,
                                         nullptr, n, mesh);
    }
    testdev::Device9* device = new testdev::Device9;
};

} // namespace

TEST_F(XFile, TwoMaterialsGiveTwoSubsetsWithTheirMaterials) {
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* mats = nullptr;
    DWORD count = 0;
    ASSERT_EQ(load(kTwoMaterials, &mesh, &mats, &count), D3D_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(mesh->GetNumFaces(), 4u); // the quad becomes two triangles
    EXPECT_EQ(mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));

    const D3DXMATERIAL* m = static_cast<const D3DXMATERIAL*>(mats->GetBufferPointer());
    EXPECT_FLOAT_EQ(m[0].MatD3D.Diffuse.r, 1.0f);
    EXPECT_FLOAT_EQ(m[0].MatD3D.Diffuse.g, 0.0f);
    EXPECT_FLOAT_EQ(m[0].MatD3D.Ambient.r, 1.0f); // ambient follows diffuse
    EXPECT_FLOAT_EQ(m[0].MatD3D.Power, 20.0f);
    EXPECT_FLOAT_EQ(m[0].MatD3D.Specular.g, 0.5f);
    ASSERT_NE(m[0].pTextureFilename, nullptr);
    EXPECT_STREQ(m[0].pTextureFilename, "textures\\wall.bmp");
    EXPECT_FLOAT_EQ(m[1].MatD3D.Diffuse.g, 1.0f);
    EXPECT_FLOAT_EQ(m[1].MatD3D.Diffuse.a, 0.5f);
    EXPECT_FLOAT_EQ(m[1].MatD3D.Ambient.a, 0.5f);
    EXPECT_FLOAT_EQ(m[1].MatD3D.Emissive.b, 0.3f);
    EXPECT_FLOAT_EQ(m[1].MatD3D.Power, 5.0f);
    EXPECT_EQ(m[1].pTextureFilename, nullptr);

    // Subset 0 is the left quad, subset 1 the right one; the frame moved both to z = 5.
    DWORD n = 0;
    mesh->GetAttributeTable(nullptr, &n);
    EXPECT_EQ(n, 2u);
    for (DWORD subset = 0; subset < 2; ++subset) {
        device->draws.clear();
        ASSERT_EQ(mesh->DrawSubset(subset), D3D_OK);
        const std::vector<float> tris = device->drawnTriangles();
        ASSERT_EQ(tris.size(), 18u);
        for (size_t i = 0; i < tris.size(); i += 3) {
            EXPECT_GE(tris[i], subset == 0 ? 0.0f : 1.0f);
            EXPECT_LE(tris[i], subset == 0 ? 1.0f : 2.0f);
            EXPECT_FLOAT_EQ(tris[i + 2], 5.0f);
        }
    }

    // The file's own winding, normals and texture coordinates come back.
    XVertex* v = nullptr;
    uint16_t* ib = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, (void**)&v), D3D_OK);
    ASSERT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY, (void**)&ib), D3D_OK);
    for (DWORD f = 0; f < mesh->GetNumFaces(); ++f) {
        const XVertex &a = v[ib[f * 3]], &b = v[ib[f * 3 + 1]], &c = v[ib[f * 3 + 2]];
        D3DXVECTOR3 e1(b.x - a.x, b.y - a.y, b.z - a.z), e2(c.x - a.x, c.y - a.y, c.z - a.z), nrm;
        D3DXVec3Cross(&nrm, &e1, &e2);
        EXPECT_LT(nrm.z, 0.0f) << "face " << f << " keeps the file's clockwise order";
        EXPECT_FLOAT_EQ(a.nz, -1.0f);
        // Texture v grows downward as in the file: the corner at y = 1 has v = 0.
        EXPECT_FLOAT_EQ(a.v, a.y == 1.0f ? 0.0f : 1.0f);
    }
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    mats->Release();
    mesh->Release();
}

TEST_F(XFile, MeshWithoutNormalsOrMaterialsGetsADefaultMaterial) {
    const std::string text = R"(xof 0302txt 0032
Mesh Tri {
 3;
 0.0;0.0;0.0;,
 0.0;1.0;0.0;,
 1.0;0.0;0.0;;
 1;
 3;0,1,2;;
}
)";
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* mats = nullptr;
    DWORD count = 0;
    ASSERT_EQ(load(text, &mesh, &mats, &count), D3D_OK);
    EXPECT_EQ(mesh->GetFVF() & D3DFVF_NORMAL, 0u);
    EXPECT_EQ(mesh->GetNumFaces(), 1u);
    EXPECT_EQ(count, 1u);
    device->draws.clear();
    EXPECT_EQ(mesh->DrawSubset(0), D3D_OK);
    EXPECT_EQ(device->draws.size(), 1u);
    mats->Release();
    mesh->Release();
}

namespace {

// Token stream of the binary encoding.
struct BinWriter {
    std::string out;
    bool doubles = false;
    void word(uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); }
    void dword(uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
    void name(const std::string& n) {
        word(1);
        dword((uint32_t)n.size());
        out += n;
    }
    // A string token ends with its separator token (a semicolon).
    void string(const std::string& s) {
        word(2);
        dword((uint32_t)s.size());
        out += s;
        word(0x14);
    }
    void integer(uint32_t v) {
        word(3);
        dword(v);
    }
    void guid(uint32_t d1, uint16_t d2, uint16_t d3, std::initializer_list<uint8_t> d4) {
        word(5);
        dword(d1);
        word(d2);
        word(d3);
        for (uint8_t b : d4) out += (char)b;
    }
    void ints(std::initializer_list<uint32_t> v) {
        word(6);
        dword((uint32_t)v.size());
        for (uint32_t x : v) dword(x);
    }
    void floats(std::initializer_list<double> v) {
        word(7);
        dword((uint32_t)v.size());
        for (double x : v) {
            if (doubles) {
                out.append(reinterpret_cast<const char*>(&x), 8);
            } else {
                const float f = (float)x;
                out.append(reinterpret_cast<const char*>(&f), 4);
            }
        }
    }
    void open() { word(0x0A); }
    void close() { word(0x0B); }
    void tok(uint16_t t) { word(t); }
};

std::string binaryTriangle(bool doubles) {
    BinWriter w;
    w.doubles = doubles;
    w.out = doubles ? "xof 0302bin 0064" : "xof 0302bin 0032";
    w.name("Mesh");
    w.name("Tri");
    w.open();
    w.ints({3});
    w.floats({0, 0, 0, 0, 1, 0, 1, 0, 0});
    w.ints({1, 3, 0, 1, 2});
    w.name("MeshMaterialList");
    w.open();
    w.ints({1, 1, 0});
    w.name("Material");
    w.open();
    w.floats({0.25, 0.5, 0.75, 1.0, 8.0, 0, 0, 0, 0, 0, 0});
    w.name("TextureFilename");
    w.open();
    w.string("maps\\stone.png");
    w.close();
    w.close();
    w.close();
    w.close();
    return w.out;
}

// MSZIP: total size, then blocks of (plain size, packed size, "CK", raw deflate).
std::string compress(const std::string& plainFile, const char* format) {
    const std::string body = plainFile.substr(16);
    std::string out = std::string("xof 0302") + format + "0032";
    const uint32_t total = (uint32_t)(body.size() + 16);
    out.append(reinterpret_cast<const char*>(&total), 4);
    std::string history;
    for (size_t at = 0; at < body.size(); at += 32768) {
        const std::string block = body.substr(at, 32768);
        z_stream zs{};
        deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        if (!history.empty()) {
            const size_t dict = std::min<size_t>(history.size(), 32768);
            deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(history.data() + history.size() - dict), (uInt)dict);
        }
        std::string packed(deflateBound(&zs, block.size()) + 16, '\0');
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
        zs.avail_in = (uInt)block.size();
        zs.next_out = reinterpret_cast<Bytef*>(packed.data());
        zs.avail_out = (uInt)packed.size();
        deflate(&zs, Z_FINISH);
        packed.resize(zs.total_out);
        deflateEnd(&zs);
        const uint16_t plainSize = (uint16_t)block.size(), packedSize = (uint16_t)(packed.size() + 2);
        out.append(reinterpret_cast<const char*>(&plainSize), 2);
        out.append(reinterpret_cast<const char*>(&packedSize), 2);
        out += "CK" + packed;
        history += block;
    }
    return out;
}

} // namespace

TEST_F(XFile, BinaryFilesWithSingleAndDoubleFloats) {
    for (bool doubles : {false, true}) {
        ID3DXMesh* mesh = nullptr;
        ID3DXBuffer* mats = nullptr;
        DWORD count = 0;
        ASSERT_EQ(load(binaryTriangle(doubles), &mesh, &mats, &count), D3D_OK) << doubles;
        EXPECT_EQ(mesh->GetNumFaces(), 1u);
        EXPECT_EQ(count, 1u);
        const D3DXMATERIAL* m = static_cast<const D3DXMATERIAL*>(mats->GetBufferPointer());
        EXPECT_FLOAT_EQ(m[0].MatD3D.Diffuse.b, 0.75f);
        EXPECT_FLOAT_EQ(m[0].MatD3D.Power, 8.0f);
        EXPECT_STREQ(m[0].pTextureFilename, "maps\\stone.png");
        float* v = nullptr;
        mesh->LockVertexBuffer(D3DLOCK_READONLY, (void**)&v);
        EXPECT_EQ(v[4], 1.0f); // vertex 1 is (0, 1, 0)
        EXPECT_EQ(v[6], 1.0f); // vertex 2 is (1, 0, 0)
        mesh->UnlockVertexBuffer();
        mats->Release();
        mesh->Release();
    }
}

TEST_F(XFile, CompressedTextAndBinaryLoadLikeTheirPlainForms) {
    // Enough text for several 32 KB blocks, so blocks use their history.
    std::string big = kTwoMaterials;
    big += "\n";
    for (int i = 0; i < 3000; ++i) big += "// padding comment line " + std::to_string(i) + "\n";
    for (const auto& [plain, format] : {std::pair{big, "tzip"}, std::pair{binaryTriangle(false), "bzip"}}) {
        ID3DXMesh* a = nullptr;
        ID3DXMesh* b = nullptr;
        ASSERT_EQ(load(plain, &a), D3D_OK);
        const std::string packed = compress(plain, format);
        ASSERT_LT(packed.size(), plain.size() + 64);
        ASSERT_EQ(load(packed, &b), D3D_OK) << format;
        EXPECT_EQ(a->GetNumFaces(), b->GetNumFaces());
        EXPECT_EQ(a->GetNumVertices(), b->GetNumVertices());
        void *va = nullptr, *vb = nullptr;
        a->LockVertexBuffer(D3DLOCK_READONLY, &va);
        b->LockVertexBuffer(D3DLOCK_READONLY, &vb);
        EXPECT_EQ(std::memcmp(va, vb, a->GetNumVertices() * a->GetNumBytesPerVertex()), 0);
        a->UnlockVertexBuffer();
        b->UnlockVertexBuffer();
        // A damaged stream or a lying size fails cleanly.
        std::string broken = packed;
        broken[30] ^= 0x55;
        ID3DXMesh* c = nullptr;
        EXPECT_TRUE(FAILED(load(broken, &c)));
        std::string huge = packed;
        const uint32_t lie = 0xFFFFFFF0u;
        std::memcpy(huge.data() + 16, &lie, 4);
        EXPECT_TRUE(FAILED(load(huge, &c)));
        a->Release();
        b->Release();
    }
}

TEST_F(XFile, BadDataFailsWithAnError) {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(load("not an x file at all, really not", &mesh), D3DXERR_INVALIDDATA);
    EXPECT_EQ(load("xof", &mesh), D3DXERR_INVALIDDATA);
    const std::string full = kTwoMaterials;
    for (size_t cut : {20u, 100u, 300u, 600u, 900u}) {
        EXPECT_TRUE(FAILED(load(full.substr(0, cut), &mesh))) << "cut at " << cut;
        EXPECT_EQ(mesh, nullptr);
    }
    EXPECT_EQ(D3DXLoadMeshFromXInMemory(full.data(), (DWORD)full.size(), 0, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, &mesh),
              D3DERR_INVALIDCALL);
}

TEST_F(XFile, OutOfRangeIndicesAndCountsAreSafe) {
    const std::string badIndex = R"(xof 0302txt 0032
Mesh Tri {
 3;
 0.0;0.0;0.0;,
 0.0;1.0;0.0;,
 1.0;0.0;0.0;;
 1;
 3;0,1,70000;;
}
)";
    ID3DXMesh* mesh = nullptr;
    const HRESULT hr = load(badIndex, &mesh);
    if (SUCCEEDED(hr)) {
        // Any index that survives must address a real vertex.
        uint16_t* ib = nullptr;
        mesh->LockIndexBuffer(D3DLOCK_READONLY, (void**)&ib);
        for (DWORD i = 0; i < mesh->GetNumFaces() * 3; ++i) EXPECT_LT(ib[i], mesh->GetNumVertices());
        mesh->UnlockIndexBuffer();
        mesh->Release();
    }
    const std::string hugeCount = R"(xof 0302txt 0032
Mesh Tri {
 4000000000;
 0.0;0.0;0.0;,
 0.0;1.0;0.0;,
 1.0;0.0;0.0;;
 1;
 3;0,1,2;;
}
)";
    EXPECT_TRUE(FAILED(load(hugeCount, &mesh)));
}

// Seeded random damage to valid files (text, binary, compressed) never
// crashes the loader, and any mesh it still returns is internally consistent.
TEST_F(XFile, SurvivesRandomMutations) {
    std::mt19937 rng(20240601);
    auto fuzz = [&](const std::string& base, int rounds) {
        int loaded = 0;
        for (int round = 0; round < rounds; ++round) {
            std::string s = base;
            const int edits = 1 + (int)(rng() % 8);
            for (int e = 0; e < edits; ++e) {
                const size_t at = 16 + rng() % (s.size() - 16);
                switch (rng() % 4) {
                case 0: s[at] = (char)(rng() % 256); break;
                case 1: s.erase(at, 1 + rng() % 16); break;
                case 2: s.insert(at, std::to_string(rng())); break;
                default: s[at] = "0123456789;,{}"[rng() % 14]; break;
                }
                if (s.size() < 24) s = base;
            }
            ID3DXMesh* mesh = nullptr;
            ID3DXBuffer* mats = nullptr;
            DWORD count = 0;
            const HRESULT hr = load(s, &mesh, &mats, &count);
            if (FAILED(hr)) {
                EXPECT_EQ(mesh, nullptr);
                continue;
            }
            ++loaded;
            EXPECT_GE(count, 1u);
            void* ib = nullptr;
            mesh->LockIndexBuffer(D3DLOCK_READONLY, &ib);
            const bool wide = mesh->GetOptions() & D3DXMESH_32BIT;
            for (DWORD i = 0; i < mesh->GetNumFaces() * 3; ++i) {
                const DWORD v = wide ? static_cast<uint32_t*>(ib)[i] : static_cast<uint16_t*>(ib)[i];
                EXPECT_LT(v, mesh->GetNumVertices());
            }
            mesh->UnlockIndexBuffer();
            DWORD* attr = nullptr;
            mesh->LockAttributeBuffer(D3DLOCK_READONLY, &attr);
            for (DWORD f = 0; f < mesh->GetNumFaces(); ++f) EXPECT_LT(attr[f], count);
            mesh->UnlockAttributeBuffer();
            mats->Release();
            mesh->Release();
        }
        return loaded;
    };
    const int text = fuzz(kTwoMaterials, 3000);
    // Small damage often leaves a loadable file: both paths were exercised.
    EXPECT_GT(text, 100);
    EXPECT_LT(text, 2900);
    fuzz(binaryTriangle(false), 1500);
    fuzz(compress(kTwoMaterials, "tzip"), 1500);
}

// ---------------------------------------------------------------------------
// Files shaped like those modelling tools export
// ---------------------------------------------------------------------------
namespace {

std::string fixture(const char* name) {
    std::ifstream in(std::string(TW_TEST_DATA_DIR) + "/xfiles/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Loaded {
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* mats = nullptr;
    DWORD count = 0;
    ~Loaded() {
        if (mats) mats->Release();
        if (mesh) mesh->Release();
    }
    const D3DXMATERIAL& material(DWORD i) const { return static_cast<const D3DXMATERIAL*>(mats->GetBufferPointer())[i]; }
    std::vector<D3DXVECTOR3> positions() const {
        std::vector<D3DXVECTOR3> out;
        const DWORD stride = mesh->GetNumBytesPerVertex();
        uint8_t* v = nullptr;
        mesh->LockVertexBuffer(D3DLOCK_READONLY, (void**)&v);
        for (DWORD i = 0; i < mesh->GetNumVertices(); ++i) {
            D3DXVECTOR3 p;
            std::memcpy(&p, v + (size_t)i * stride, sizeof p);
            out.push_back(p);
        }
        mesh->UnlockVertexBuffer();
        return out;
    }
    std::vector<DWORD> attributes() const {
        DWORD* a = nullptr;
        mesh->LockAttributeBuffer(D3DLOCK_READONLY, &a);
        std::vector<DWORD> out(a, a + mesh->GetNumFaces());
        mesh->UnlockAttributeBuffer();
        return out;
    }
    std::vector<uint32_t> indices() const {
        std::vector<uint32_t> out;
        void* ib = nullptr;
        mesh->LockIndexBuffer(D3DLOCK_READONLY, &ib);
        for (DWORD i = 0; i < mesh->GetNumFaces() * 3; ++i)
            out.push_back((mesh->GetOptions() & D3DXMESH_32BIT) ? static_cast<uint32_t*>(ib)[i]
                                                                 : static_cast<uint16_t*>(ib)[i]);
        mesh->UnlockIndexBuffer();
        return out;
    }
};

} // namespace

TEST_F(XFile, ExportWithTemplateDeclarationsSkinAndAnimation) {
    // CRLF lines, every template declared (open, closed and restricted ones,
    // several never used), skin data and an animation referencing a frame.
    const std::string file = fixture("pyramid_templates.x");
    ASSERT_NE(file.find("\r\n"), std::string::npos);
    Loaded x;
    ASSERT_EQ(load(file, &x.mesh, &x.mats, &x.count), D3D_OK);
    ASSERT_EQ(x.count, 2u);
    EXPECT_EQ(x.mesh->GetNumFaces(), 6u); // four sides and the base quad split in two
    // Flat normals per face: the apex has four copies, each base corner three.
    EXPECT_EQ(x.mesh->GetNumVertices(), 16u);
    EXPECT_EQ(x.mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    EXPECT_STREQ(x.material(0).pTextureFilename, "maps\\stone.dds");
    EXPECT_FLOAT_EQ(x.material(0).MatD3D.Diffuse.g, 0.7f);
    EXPECT_FLOAT_EQ(x.material(0).MatD3D.Power, 12.0f);
    EXPECT_EQ(x.material(1).pTextureFilename, nullptr);
    EXPECT_FLOAT_EQ(x.material(1).MatD3D.Diffuse.r, 0.1f);
    for (const D3DXVECTOR3& p : x.positions()) {
        EXPECT_GE(p.z, 9.0f); // the frame moved the pyramid to z = 10
        EXPECT_LE(p.z, 11.0f);
    }
    const std::vector<DWORD> attr = x.attributes();
    EXPECT_EQ(std::count(attr.begin(), attr.end(), 1u), 2); // the base uses the second material
    // The base faces carry the downward normal given for them.
    struct V {
        float x, y, z, nx, ny, nz, u, v;
    };
    V* v = nullptr;
    x.mesh->LockVertexBuffer(D3DLOCK_READONLY, (void**)&v);
    const std::vector<uint32_t> idx = x.indices();
    for (DWORD f = 0; f < x.mesh->GetNumFaces(); ++f)
        for (int k = 0; k < 3; ++k) {
            const V& c = v[idx[f * 3 + k]];
            if (attr[f] == 1) EXPECT_FLOAT_EQ(c.ny, -1.0f);
            else EXPECT_NEAR(c.ny, 0.707107f, 1e-5f);
        }
    x.mesh->UnlockVertexBuffer();
}

TEST_F(XFile, ExportWithoutTemplatesAndMaterialReferences) {
    // Tabs and runs of spaces, # and // comments, a frame named with a leading
    // digit, materials referenced by name, by GUID and by both, and a top-level
    // material that no mesh uses.
    Loaded x;
    ASSERT_EQ(load(fixture("cubes_no_templates.x"), &x.mesh, &x.mats, &x.count), D3D_OK);
    EXPECT_EQ(x.mesh->GetNumFaces(), 5u);
    ASSERT_EQ(x.count, 4u); // two per mesh; the unused material is no subset
    for (DWORD i = 0; i < x.count; ++i) EXPECT_NE(x.material(i).MatD3D.Diffuse.g, 1.0f) << i;
    EXPECT_STREQ(x.material(0).pTextureFilename, "red brick.png");
    EXPECT_FLOAT_EQ(x.material(1).MatD3D.Diffuse.b, 1.0f); // {<GUID>} found Mat_Blue
    EXPECT_FLOAT_EQ(x.material(1).MatD3D.Diffuse.a, 0.5f);
    EXPECT_FLOAT_EQ(x.material(1).MatD3D.Emissive.b, 0.25f);
    EXPECT_STREQ(x.material(2).pTextureFilename, "red brick.png");
    EXPECT_FLOAT_EQ(x.material(3).MatD3D.Diffuse.b, 1.0f);

    // One face index for a whole mesh applies to all its faces: the lone
    // triangle is Mat_Blue, the fourth material overall.
    const std::vector<DWORD> attr = x.attributes();
    EXPECT_EQ(std::count(attr.begin(), attr.end(), 0u), 2);
    EXPECT_EQ(std::count(attr.begin(), attr.end(), 1u), 2);
    EXPECT_EQ(std::count(attr.begin(), attr.end(), 3u), 1);

    // Nested transforms: translate by x + 1, then scale by 2.
    float minX = 1e9f, maxX = -1e9f, maxZ = -1e9f;
    for (const D3DXVECTOR3& p : x.positions()) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        maxZ = std::max(maxZ, p.z);
    }
    EXPECT_FLOAT_EQ(minX, 0.0f); // the lone triangle only has the scale
    EXPECT_FLOAT_EQ(maxX, 4.0f);
    EXPECT_FLOAT_EQ(maxZ, 10.0f);
}

TEST_F(XFile, UnusedTopLevelMaterialIsNoSubset) {
    const std::string text = R"(xof 0302txt 0032
Material Spare { 0.0;1.0;0.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; TextureFilename { "spare.png"; } }
Mesh Tri {
 3; 0.0;0.0;0.0;, 0.0;1.0;0.0;, 1.0;0.0;0.0;;
 1; 3;0,1,2;;
}
)";
    Loaded x;
    ASSERT_EQ(load(text, &x.mesh, &x.mats, &x.count), D3D_OK);
    ASSERT_EQ(x.count, 1u);
    EXPECT_EQ(x.material(0).pTextureFilename, nullptr);
    EXPECT_FLOAT_EQ(x.material(0).MatD3D.Diffuse.g, 0.5f); // the default grey, not Spare
}

TEST_F(XFile, VertexDeclarationDataGivesNormalsAndTextureCoordinates) {
    // The layout D3DX itself saves: a top-level mesh, a material list without
    // per-face indices and the vertex data as DeclData DWORDs.
    Loaded x;
    ASSERT_EQ(load(fixture("saved_decldata.x"), &x.mesh, &x.mats, &x.count), D3D_OK);
    ASSERT_EQ(x.count, 1u);
    EXPECT_STREQ(x.material(0).pTextureFilename, "panel.tga");
    ASSERT_EQ(x.mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    ASSERT_EQ(x.mesh->GetNumVertices(), 4u);
    XVertex* v = nullptr;
    x.mesh->LockVertexBuffer(D3DLOCK_READONLY, (void**)&v);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(v[i].nz, -1.0f);
        EXPECT_FLOAT_EQ(v[i].u, v[i].x);
        EXPECT_FLOAT_EQ(v[i].v, 1.0f - v[i].y);
    }
    x.mesh->UnlockVertexBuffer();
}

TEST_F(XFile, TemplateDeclarationsAreCheckedAndFollowed) {
    const std::string mesh = R"(
Mesh Tri {
 3; 0.0;0.0;0.0;, 0.0;1.0;0.0;, 1.0;0.0;0.0;;
 1; 3;0,1,2;;
}
)";
    auto with = [&](const std::string& templates, const std::string& extra = "") {
        ID3DXMesh* m = nullptr;
        const HRESULT hr = load("xof 0302txt 0032\n" + templates + extra + mesh, &m);
        if (m) m->Release();
        return hr;
    };
    // Open, restricted (with and without GUIDs, with commas) and closed
    // templates that the file never uses.
    EXPECT_EQ(with("template Gadget { <11111111-2222-3333-4444-555555555555> DWORD n; array Vector p[n]; [...] }\n"
                   "template Holder { <11111111-2222-3333-4444-555555555556> STRING label;\n"
                   "  [Material <3D82AB4D-62DA-11cf-AB39-0020AF71E433>, TextureFilename, Gadget] }\n"
                   "template Plain { <11111111-2222-3333-4444-555555555557> array WORD fixed[2][3]; CHAR; }\n"),
              D3D_OK);
    // An object of a declared template: arrays sized by a number and by two
    // earlier members, then a nested object the open template allows.
    const std::string note = "template Note { <11111111-2222-3333-4444-555555555558> STRING who; DWORD rows; DWORD cols;"
                             " array FLOAT grid[rows][cols]; array UCHAR tag[3]; [...] }\n";
    EXPECT_EQ(with(note, "Note { \"me\"; 2; 3; 1,2,3,4,5,6;; 7,8,9;; Note { \"nested\"; 0; 5; ; 1,2,3;; } }\n"),
              D3D_OK);
    // The same object one grid value short runs into the next member: refused.
    EXPECT_EQ(with(note, "Note { \"me\"; 2; 3; 1,2,3,4,5;; 7,8,9;; }\n"), D3DXERR_INVALIDDATA);
    // An object whose template nobody declared is passed over with its children.
    EXPECT_EQ(with("", "Unheard { 1; 2; \"three\"; Inner { 4; } {Tri} }\n"), D3D_OK);

    // Broken declarations.
    EXPECT_EQ(with("template Bad { <11111111-2222-3333-4444-555555555559> DWORD n; array DWORD v[count]; }\n"),
              D3DXERR_INVALIDDATA); // a size naming no earlier member
    EXPECT_EQ(with("template Bad { <11111111-2222-3333-4444-55555555555A> DWORD n; [..] }\n"), D3DXERR_INVALIDDATA);
    EXPECT_EQ(with("template Bad { <11111111-2222-3333-4444-55555555555B> DWORD n; [] }\n"), D3DXERR_INVALIDDATA);
    EXPECT_EQ(with("template Bad { <1111-2222> DWORD n; }\n"), D3DXERR_INVALIDDATA); // malformed GUID
    EXPECT_EQ(with("template Bad { <11111111-2222-3333-4444-55555555555C> array DWORD v; }\n"),
              D3DXERR_INVALIDDATA); // an array without a size
    // Templates that contain themselves are never followed into.
    EXPECT_EQ(with("template Loop { <11111111-2222-3333-4444-55555555555D> Loop inner; }\n",
                   "Loop { 1; 2; 3; }\n"),
              D3D_OK);
}

TEST_F(XFile, MsvcNumberSpellingsAndDigitLeadingNames) {
    const std::string text = "xof 0302txt 0032\nFrame 01_root {\n Mesh 2nd {\n"
                             " 3; 0.0;0.0;0.0;, 0.0;1.0;0.0;, 1.0;0.0;0.0;;\n 1; 3;0,1,2;;\n"
                             " MeshNormals { 1; 1.#QNAN0;-1.#IND00;1.#INF00;; 1; 3;0,0,0;; }\n }\n}\n";
    Loaded x;
    ASSERT_EQ(load(text, &x.mesh, &x.mats, &x.count), D3D_OK);
    EXPECT_EQ(x.mesh->GetNumFaces(), 1u);
}

namespace {

// A binary file as exporters write it: the templates it uses declared in
// binary tokens, a header, a top-level material with a GUID, and a frame
// whose mesh references it by name and by GUID and names a texture.
std::string binaryScene(bool doubles, bool dwordTerminators) {
    BinWriter w;
    w.doubles = doubles;
    w.out = doubles ? "xof 0302bin 0064" : "xof 0302bin 0032";
    auto stringToken = [&](const std::string& s) {
        if (!dwordTerminators) {
            w.string(s);
            return;
        }
        w.word(2);
        w.dword((uint32_t)s.size());
        w.out += s;
        w.dword(0x14);
    };
    // template Header { <GUID> WORD major; WORD minor; DWORD flags; }
    w.tok(31);
    w.name("Header");
    w.open();
    w.guid(0x3D82AB43, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33});
    w.tok(40);
    w.name("major");
    w.tok(20);
    w.tok(40);
    w.name("minor");
    w.tok(20);
    w.tok(41);
    w.name("flags");
    w.tok(20);
    w.close();
    // template Mesh { <GUID> DWORD nVertices; array Vector vertices[nVertices];
    //                 DWORD nFaces; array MeshFace faces[nFaces]; [...] }
    w.tok(31);
    w.name("Mesh");
    w.open();
    w.guid(0x3D82AB44, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33});
    w.tok(41);
    w.name("nVertices");
    w.tok(20);
    w.tok(52);
    w.name("Vector");
    w.name("vertices");
    w.tok(14);
    w.name("nVertices");
    w.tok(15);
    w.tok(20);
    w.tok(41);
    w.name("nFaces");
    w.tok(20);
    w.tok(52);
    w.name("MeshFace");
    w.name("faces");
    w.tok(14);
    w.name("nFaces");
    w.tok(15);
    w.tok(20);
    w.tok(14);
    w.tok(18);
    w.tok(18);
    w.tok(18);
    w.tok(15);
    w.close();
    // template MeshMaterialList { ... [Material <GUID>] }
    w.tok(31);
    w.name("MeshMaterialList");
    w.open();
    w.guid(0xF6F23F42, 0x7686, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3});
    w.tok(41);
    w.name("nMaterials");
    w.tok(20);
    w.tok(41);
    w.name("nFaceIndexes");
    w.tok(20);
    w.tok(52);
    w.tok(41);
    w.name("faceIndexes");
    w.tok(14);
    w.name("nFaceIndexes");
    w.tok(15);
    w.tok(20);
    w.tok(14);
    w.name("Material");
    w.guid(0x3D82AB4D, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33});
    w.tok(15);
    w.close();
    // An unused template with a fixed-size array.
    w.tok(31);
    w.name("Unused");
    w.open();
    w.guid(0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8});
    w.tok(52);
    w.tok(42);
    w.name("values");
    w.tok(14);
    w.integer(4);
    w.tok(15);
    w.tok(20);
    w.tok(51);
    w.name("note");
    w.tok(20);
    w.close();

    w.name("Header");
    w.open();
    w.ints({1, 0, 1});
    w.close();

    w.name("Material");
    w.name("Gold");
    w.open();
    w.guid(0xCAFE0001, 0x0002, 0x0003, {4, 5, 6, 7, 8, 9, 10, 11});
    w.floats({1.0, 0.8, 0.2, 1.0, 30.0, 1, 1, 1, 0, 0, 0});
    w.name("TextureFilename");
    w.open();
    stringToken("textures\\gold leaf.jpg");
    w.close();
    w.close();

    w.name("Frame");
    w.name("Root");
    w.open();
    w.name("FrameTransformMatrix");
    w.open();
    w.floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 3, 0, 1});
    w.close();
    w.name("Mesh");
    w.name("Quad");
    w.open();
    w.ints({4});
    w.floats({0, 0, 0, 0, 1, 0, 1, 1, 0, 1, 0, 0});
    w.ints({2, 3, 0, 1, 2, 3, 0, 2, 3});
    w.name("MeshMaterialList");
    w.open();
    w.ints({2, 2, 0, 1});
    w.open(); // {Gold}
    w.name("Gold");
    w.close();
    w.open(); // {<GUID of Gold>}
    w.guid(0xCAFE0001, 0x0002, 0x0003, {4, 5, 6, 7, 8, 9, 10, 11});
    w.close();
    w.close();
    w.name("SkinWeights");
    w.open();
    stringToken("Bone with a long name");
    w.ints({1, 0});
    w.floats({1.0});
    w.floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    w.close();
    w.close();
    w.close();
    return w.out;
}

} // namespace

TEST_F(XFile, BinaryFileWithTemplatesStringsAndReferences) {
    for (bool doubles : {false, true})
        for (bool dwordTerminators : {false, true}) {
            SCOPED_TRACE(testing::Message() << "doubles " << doubles << " dword terminators " << dwordTerminators);
            Loaded x;
            ASSERT_EQ(load(binaryScene(doubles, dwordTerminators), &x.mesh, &x.mats, &x.count), D3D_OK);
            EXPECT_EQ(x.mesh->GetNumFaces(), 2u);
            ASSERT_EQ(x.count, 2u);
            for (DWORD i = 0; i < 2; ++i) {
                EXPECT_STREQ(x.material(i).pTextureFilename, "textures\\gold leaf.jpg");
                EXPECT_FLOAT_EQ(x.material(i).MatD3D.Diffuse.g, 0.8f);
                EXPECT_FLOAT_EQ(x.material(i).MatD3D.Power, 30.0f);
            }
            for (const D3DXVECTOR3& p : x.positions()) EXPECT_GE(p.y, 3.0f); // moved up by the frame
        }
    // The compressed form of the same file loads the same mesh.
    const std::string plain = binaryScene(false, false);
    Loaded a, b;
    ASSERT_EQ(load(plain, &a.mesh, &a.mats, &a.count), D3D_OK);
    ASSERT_EQ(load(compress(plain, "bzip"), &b.mesh, &b.mats, &b.count), D3D_OK);
    EXPECT_EQ(a.positions(), b.positions());
    EXPECT_EQ(a.indices(), b.indices());
    EXPECT_STREQ(b.material(0).pTextureFilename, "textures\\gold leaf.jpg");
}

TEST_F(XFile, CompressedExportWithTemplates) {
    const std::string plain = fixture("pyramid_templates.x");
    Loaded a, b;
    ASSERT_EQ(load(plain, &a.mesh, &a.mats, &a.count), D3D_OK);
    ASSERT_EQ(load(compress(plain, "tzip"), &b.mesh, &b.mats, &b.count), D3D_OK);
    EXPECT_EQ(a.positions(), b.positions());
    EXPECT_EQ(a.attributes(), b.attributes());
}

// Seeded random damage to every kind of exported file: template
// declarations, references, CRLF text, binary tokens and compressed blocks.
// Byte damage and damage that keeps the tokens plausible (huge counts,
// stray brackets, restriction clauses, keywords) never crash or hang the
// reader, and any mesh it still returns is internally consistent.
TEST_F(XFile, FuzzExportedFilesNeverCrash) {
    const std::vector<std::string> bases = {
        fixture("pyramid_templates.x"), fixture("cubes_no_templates.x"), fixture("saved_decldata.x"),
        binaryScene(false, false),      binaryScene(true, true),         compress(fixture("cubes_no_templates.x"), "tzip"),
        compress(binaryScene(false, false), "bzip"),
    };
    const char* const pieces[] = {"4294967295", "[...]", "[", "]", "template", "array", "{", "}", ";;", "<", ">",
                                  "\"", "-1", "1e308", "65536", "{Missing}", "DWORD", "Mesh", "#", "//", "\r\n"};
    std::mt19937 rng(testdev::fuzzSeed(1811));
    const int rounds = testdev::fuzzRounds(300);
    int loaded = 0;
    for (const std::string& base : bases)
        for (int round = 0; round < rounds; ++round) {
            std::string s = base;
            for (int e = 1 + (int)(rng() % 6); e > 0; --e) {
                const size_t at = 16 + rng() % (s.size() - 16);
                switch (rng() % 5) {
                case 0: s[at] = (char)rng(); break;
                case 1: s.erase(at, 1 + rng() % 12); break;
                case 2: s.insert(at, pieces[rng() % (sizeof pieces / sizeof pieces[0])]); break;
                case 3: { // a binary count or size word made huge
                    const uint32_t big = 0xFFFFFFF0u + (uint32_t)(rng() % 16);
                    if (at + 4 <= s.size()) std::memcpy(&s[at], &big, 4);
                    break;
                }
                default: s.insert(at, s.substr(16 + rng() % (s.size() - 16), 1 + rng() % 40)); break;
                }
                if (s.size() < 24) s = base;
            }
            Loaded x;
            if (FAILED(load(s, &x.mesh, &x.mats, &x.count))) {
                EXPECT_EQ(x.mesh, nullptr);
                continue;
            }
            ++loaded;
            ASSERT_GE(x.count, 1u);
            for (uint32_t i : x.indices()) ASSERT_LT(i, x.mesh->GetNumVertices());
            for (DWORD a : x.attributes()) ASSERT_LT(a, x.count);
        }
    EXPECT_GT(loaded, rounds / 4); // small damage often leaves a loadable file: both paths ran
}
