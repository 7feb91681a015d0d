// Sky boxes: their texture coordinates, what they set around drawing the
// box and what they put back, bad scales and textures, a device reset, and
// the picture on the real device in every direction.

#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "Render/SkyBox/SkyFixture.h"

#include <cmath>

#include "Render/Resources/BaseTexture9.h"
#include "Render/Resources/D3DMATERIAL9.h"
#include "Render/SkyBox/MeshSkybox.h"

namespace {

// D3DXCreateBox's vertex order: faces -X, +Y, +X, -Y, +Z, -Z, four corners
// each (signs of the corner).
const float BoxCorners[24][3] = {
    {-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1},  {-1, 1, -1},  {-1, 1, -1},  {-1, 1, 1},  {1, 1, 1},   {1, 1, -1},
    {1, 1, -1},   {1, 1, 1},   {1, -1, 1},  {1, -1, -1},  {-1, -1, 1},  {-1, -1, -1}, {1, -1, -1}, {1, -1, 1},
    {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},   {-1, 1, 1},   {-1, -1, -1}, {-1, 1, -1}, {1, 1, -1},  {1, -1, -1}};
const float BoxNormals[6][3] = {{-1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};

const float CrossUV[24][2] = {{0.25f, 0.75f}, {0.25f, 0.5f},  {0.5f, 0.5f},   {0.5f, 0.75f}, {0.5f, 0.75f},
                              {0.5f, 0.5f},   {0.75f, 0.5f},  {0.75f, 0.75f}, {0.5f, 0.0f},  {0.5f, 0.25f},
                              {0.25f, 0.25f}, {0.25f, 0.0f},  {0.25f, 0.5f},  {0.25f, 0.75f}, {0.0f, 0.75f},
                              {0.0f, 0.5f},   {0.25f, 0.5f},  {0.25f, 0.25f}, {0.5f, 0.25f}, {0.5f, 0.5f},
                              {0.25f, 0.75f}, {0.5f, 0.75f},  {0.5f, 1.0f},   {0.25f, 1.0f}};
const float WideUV[24][2] = {{0.25f, 1.25f}, {0.25f, 0.75f},  {0.75f, 0.75f},  {0.75f, 1.25f}, {1.25f, 0.75f},
                             {0.75f, 0.75f}, {0.75f, 0.25f},  {1.25f, 0.25f},  {0.75f, -0.25f}, {0.75f, 0.25f},
                             {0.25f, 0.25f}, {0.25f, -0.25f}, {0.25f, 0.75f},  {-0.25f, 0.75f}, {-0.25f, 0.25f},
                             {0.25f, 0.25f}, {0.25f, 0.75f},  {0.25f, 0.25f},  {0.75f, 0.25f}, {0.75f, 0.75f},
                             {0.0f, 0.0f},   {0.0f, 0.0f},    {0.0f, 0.0f},    {0.0f, 0.0f}};

// Every vertex of the sky's mesh carries the pair of the box corner it was
// made from, wherever the optimiser moved it.
void ExpectCoordinates(C_BaseMeshSkybox* sky, const float (&expected)[24][2])
{
    ASSERT_NE(sky->Mesh, nullptr);
    ASSERT_EQ(sky->Mesh->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    ASSERT_EQ(sky->Mesh->GetNumVertices(), 24u);
    struct Vertex {
        float p[3], n[3], uv[2];
    };
    void* data = nullptr;
    ASSERT_EQ(sky->Mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    const auto* vertices = static_cast<const Vertex*>(data);
    std::set<int> seen;
    for (int v = 0; v < 24; ++v) {
        int match = -1;
        for (int i = 0; i < 24 && match < 0; ++i) {
            const float* n = BoxNormals[i / 4];
            bool same = vertices[v].n[0] == n[0] && vertices[v].n[1] == n[1] && vertices[v].n[2] == n[2];
            for (int a = 0; a < 3; ++a) same = same && vertices[v].p[a] == 0.5f * BoxCorners[i][a];
            if (same) match = i;
        }
        ASSERT_GE(match, 0) << "vertex " << v;
        seen.insert(match);
        EXPECT_FLOAT_EQ(vertices[v].uv[0], expected[match][0]) << "corner " << match;
        EXPECT_FLOAT_EQ(vertices[v].uv[1], expected[match][1]) << "corner " << match;
    }
    sky->Mesh->UnlockVertexBuffer();
    EXPECT_EQ(seen.size(), 24u);
}

bool SameMatrix(const D3DXMATRIX& a, const D3DXMATRIX& b, float tolerance = 1e-5f)
{
    for (int i = 0; i < 16; ++i)
        if (std::fabs((&a._11)[i] - (&b._11)[i]) > tolerance) return false;
    return true;
}

} // namespace

class SkyboxTest : public SkyTest {};

TEST_F(SkyboxTest, BothSkiesCarryTheirCoordinatesTextureAndMaterial)
{
    auto* sky = Make<C_BaseMeshSkybox>(L"C_MeshSkybox", L"Sky", L"Sky.bmp; 50;");
    ASSERT_NE(sky, nullptr);
    EXPECT_FLOAT_EQ(sky->FieldOfView, 1.5707964f);
    EXPECT_FLOAT_EQ(sky->Scale, 50.0f);
    EXPECT_EQ(sky->Value, L"1.0; 1.0; 1.0;");
    ExpectCoordinates(sky, CrossUV);
    // A unit box around the origin.
    EXPECT_FLOAT_EQ(sky->GetBoxMax().x - sky->GetBoxMin().x, 1.0f);
    ASSERT_NE(sky->Texture, nullptr);
    EXPECT_EQ(sky->Texture->Name, L"Sky.bmp");
    EXPECT_EQ(sky->Texture->Value, L"Sky.bmp");
    EXPECT_STREQ(sky->Texture->GetClassName(), L"C_D3DTEXTURE9");
    ASSERT_NE(sky->Material, nullptr);
    EXPECT_EQ(sky->Material->Name, L"0x00000000; 0x00000000; 0x00000000; 0xFFFFFFFF; 0.3;");
    EXPECT_EQ(sky->Material->Value, sky->Material->Name);

    auto* wide = Make<C_BaseMeshSkybox>(L"C_MeshSkybox2", L"Wide", L"Sky.bmp");
    ASSERT_NE(wide, nullptr);
    EXPECT_FLOAT_EQ(wide->FieldOfView, 0.7853982f);
    EXPECT_FLOAT_EQ(wide->Scale, 1.0f);
    ExpectCoordinates(wide, WideUV);
    // The two share the texture and the material.
    EXPECT_EQ(wide->Texture, sky->Texture);
    EXPECT_EQ(wide->Material, sky->Material);

    // The sky surrounds every camera: never culled, never picked, drawn first.
    EXPECT_EQ(sky->GetRadius(), 0.0f);
    EXPECT_GT(sky->GetDistance(nullptr), 1e36f);
}

TEST_F(SkyboxTest, AtScaleOneTheSkyIsDrawnWithoutDepthAroundTheCameraAndEverythingIsPutBack)
{
    auto* sky = Make<C_BaseMeshSkybox>(L"C_MeshSkybox", L"Sky", L"Sky.bmp;");
    ASSERT_NE(sky, nullptr);
    D3DXMATRIX view, projection;
    const D3DXVECTOR3 eye(10, 20, 30), at(11, 20, 30), up(0, 0, 1);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&projection, 0.9f, 1.0f, 0.5f, 1000.0f);
    sky->Draw(nullptr);   // no device: nothing
    device.SetTransform(D3DTS_VIEW, &view);
    device.SetTransform(D3DTS_PROJECTION, &projection);
    device.SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device.SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device.Viewport = {0, 0, 200, 100, 0.0f, 1.0f};
    sky->Draw(&device);

    ASSERT_EQ(device.Drawn.size(), 1u);
    const Snapshot& drawn = device.Drawn[0];
    D3DXMATRIX turned = view;
    turned._41 = turned._42 = turned._43 = 0.0f;
    EXPECT_TRUE(SameMatrix(drawn.View, turned));
    D3DXMATRIX own;
    D3DXMatrixPerspectiveFovLH(&own, 1.5707964f, 2.0f, 0.1f, 1.0f);   // the viewport's aspect, far plane 1
    EXPECT_TRUE(SameMatrix(drawn.Projection, own));
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    EXPECT_TRUE(SameMatrix(drawn.World, identity));
    EXPECT_EQ(drawn.ZEnable, DWORD(D3DZB_FALSE));
    EXPECT_EQ(drawn.ZWrite, DWORD(FALSE));
    EXPECT_EQ(drawn.Cull, DWORD(D3DCULL_CW));
    // Self-lit white material and the sky's texture were set before the box.
    EXPECT_FLOAT_EQ(device.Material.Emissive.r, 255.0f / 256.0f);
    EXPECT_FALSE(device.CallsOf("tex").empty());

    EXPECT_TRUE(SameMatrix(device.Transforms[D3DTS_VIEW], view));
    EXPECT_TRUE(SameMatrix(device.Transforms[D3DTS_PROJECTION], projection));
    EXPECT_EQ(device.RenderStates[D3DRS_ZENABLE], DWORD(D3DZB_TRUE));
    EXPECT_EQ(device.RenderStates[D3DRS_ZWRITEENABLE], DWORD(TRUE));
    EXPECT_EQ(device.RenderStates[D3DRS_CULLMODE], DWORD(D3DCULL_CCW));

    // Nothing in the occlusion pre-pass.
    C_BaseObject::CommonData().RenderPass = 1;
    sky->Draw(&device);
    EXPECT_EQ(device.Drawn.size(), 1u);
}

TEST_F(SkyboxTest, AtScaleFiftyTheFarPlaneIsFiftyAndDepthTestingStays)
{
    auto* sky = Make<C_BaseMeshSkybox>(L"C_MeshSkybox", L"Sky", L"Sky.bmp; 50;");
    ASSERT_NE(sky, nullptr);
    device.SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device.SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device.Viewport = {0, 0, 100, 100, 0.0f, 1.0f};
    device.Calls.clear();
    sky->Draw(&device);
    ASSERT_EQ(device.Drawn.size(), 1u);
    D3DXMATRIX own;
    D3DXMatrixPerspectiveFovLH(&own, 1.5707964f, 1.0f, 0.1f, 50.0f);
    EXPECT_TRUE(SameMatrix(device.Drawn[0].Projection, own));
    EXPECT_FLOAT_EQ(device.Drawn[0].World._44, 1.0f / 50.0f);
    EXPECT_EQ(device.Drawn[0].ZEnable, DWORD(D3DZB_TRUE));
    EXPECT_EQ(device.Drawn[0].ZWrite, DWORD(TRUE));
    for (const auto& call : device.CallsOf("rs")) {
        EXPECT_NE(call.A, DWORD(D3DRS_ZENABLE));
        EXPECT_NE(call.A, DWORD(D3DRS_ZWRITEENABLE));
    }
}

TEST_F(SkyboxTest, ScalesThatLeaveNoRoomBeforeTheNearPlaneFallBackToOne)
{
    const wchar_t* bad[] = {L"Sky.bmp; 0;", L"Sky.bmp; -3;", L"Sky.bmp; 0.05;", L"Sky.bmp; 1e50;"};
    int n = 0;
    for (const wchar_t* value : bad) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(value)));
        auto* sky = Make<C_BaseMeshSkybox>(L"C_MeshSkybox", (L"Bad" + std::to_wstring(n++)).c_str(), value);
        ASSERT_NE(sky, nullptr);
        EXPECT_FLOAT_EQ(sky->Scale, 1.0f);
        sky->Draw(&device);
        ASSERT_FALSE(device.Drawn.empty());
        for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite((&device.Drawn.back().Projection._11)[i]));
        EXPECT_FLOAT_EQ(device.Drawn.back().World._44, 1.0f);
    }
    EXPECT_EQ(CountLogged(L"Масштаб неба"), 4u);
    // An empty scale is simply the default, without a word.
    auto* plain = Make<C_BaseMeshSkybox>(L"C_MeshSkybox", L"Plain", L"Sky.bmp; ;");
    EXPECT_FLOAT_EQ(plain->Scale, 1.0f);
    EXPECT_EQ(CountLogged(L"Масштаб неба"), 4u);
}

TEST_F(SkyboxTest, MissingPicturesAreReportedOnceAndTheSkyIsStillDrawn)
{
    auto* sky = Make<C_BaseMeshSkybox>(L"C_MeshSkybox", L"Sky", L"NoSuchSky.bmp; 20;");
    ASSERT_NE(sky, nullptr);
    sky->Draw(&device);
    sky->Draw(&device);
    EXPECT_EQ(device.Drawn.size(), 2u);
    EXPECT_EQ(CountLogged(L"не загружена текстура NoSuchSky.bmp"), 1u);

    // No name at all: a texture that unbinds the stage, on purpose, quietly.
    auto* bare = Make<C_BaseMeshSkybox>(L"C_MeshSkybox", L"Bare", L"");
    ASSERT_NE(bare, nullptr);
    ASSERT_NE(bare->Texture, nullptr);
    EXPECT_EQ(bare->Texture->Name, L"null");
    bare->Draw(&device);
    EXPECT_EQ(CountLogged(L"рисуется без текстуры"), 1u);
    EXPECT_EQ(device.Bound[0], nullptr);
}

TEST_F(SkyboxTest, ADeviceResetLoadsTheSameSkyAgain)
{
    auto* sky = Make<C_BaseMeshSkybox>(L"C_MeshSkybox", L"Sky", L"Sky.bmp; 50;");
    ASSERT_NE(sky, nullptr);
    C_BaseTexture9* texture = sky->Texture;
    {
        C_BaseResource::C_DeviceRelease deviceOnly;
        sky->Unload();
    }
    EXPECT_EQ(sky->Mesh, nullptr);
    sky->Load(&device);
    EXPECT_EQ(sky->Texture, texture);
    EXPECT_FLOAT_EQ(sky->Scale, 50.0f);
    ExpectCoordinates(sky, CrossUV);
    EXPECT_EQ(Managers().GetResource(L"1.0", L"C_D3DTEXTURE9", false), nullptr);

    // A texture a script deleted is let go of.
    Managers().DeleteObject(texture);
    sky->Draw(&device);
    EXPECT_EQ(sky->Texture, nullptr);
    EXPECT_EQ(device.Drawn.size(), 1u);
}

// ---------------------------------------------------------------------------
// On the real device

TEST_F(SkyRenderTest, EachDirectionShowsItsFaceOfTheCross)
{
    // A 4 x 4 grid of 16-texel cells: the cross of the six faces.
    std::vector<uint32_t> pixels(64 * 64, 0x000000);
    auto cell = [&](int column, int row, uint32_t colour) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) pixels[size_t((row * 16 + y) * 64 + column * 16 + x)] = colour;
    };
    cell(1, 0, 0xFF0000);   // +X
    cell(1, 1, 0xFFFFFF);   // +Z
    cell(1, 2, 0x00FF00);   // -X
    cell(1, 3, 0x808080);   // -Z
    cell(0, 2, 0x0000FF);   // -Y
    cell(2, 2, 0xFFFF00);   // +Y
    Put("textures/cross.bmp", scenetest::Bmp(64, 64, pixels));
    C_BaseMeshSkybox* sky = LoadSky(L"C_MeshSkybox", L"cross.bmp;");
    ASSERT_NE(sky, nullptr);
    ASSERT_NE(sky->Texture, nullptr);
    ASSERT_NE(sky->Texture->Texture, nullptr);

    struct Look {
        D3DXVECTOR3 Direction, Up;
        uint32_t Colour;
    };
    const Look looks[] = {{{1, 0, 0}, {0, 0, 1}, 0xFF0000}, {{-1, 0, 0}, {0, 0, 1}, 0x00FF00},
                          {{0, 1, 0}, {0, 0, 1}, 0xFFFF00}, {{0, -1, 0}, {0, 0, 1}, 0x0000FF},
                          {{0, 0, 1}, {0, 1, 0}, 0xFFFFFF}};
    for (const Look& look : looks) {
        SCOPED_TRACE(testing::Message() << look.Direction.x << "," << look.Direction.y << "," << look.Direction.z);
        // The camera stands far from the origin: the sky follows it.
        Camera(D3DXVECTOR3(40, -25, 7), look.Direction, look.Up);
        const std::vector<uint32_t> frame = Frame({sky});
        const uint32_t centre = At(frame, Width / 2, Height / 2);
        EXPECT_NEAR(Red(centre), int((look.Colour >> 16) & 0xFF), 2);
        EXPECT_NEAR(Green(centre), int((look.Colour >> 8) & 0xFF), 2);
        EXPECT_NEAR(Blue(centre), int(look.Colour & 0xFF), 2);
    }
}

TEST_F(SkyRenderTest, ASkyAtScaleOneNeverHidesWhatIsDrawnAfterIt)
{
    Put("textures/blue.bmp", scenetest::Bmp(2, 2, {0x0000FF, 0x0000FF, 0x0000FF, 0x0000FF}));
    C_BaseMeshSkybox* sky = LoadSky(L"C_MeshSkybox", L"blue.bmp;");
    ASSERT_NE(sky, nullptr);
    auto* box = dynamic_cast<C_D3DXMESH9*>(Managers().AddResource(L"C_D3DXMESH9_BOX", L"2; 2; 2;", L"2; 2; 2;"));
    ASSERT_NE(box, nullptr);
    box->Load(real);
    // A white box 5 units ahead, far beyond the unit sky box.
    Camera(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(0, 0, 1));
    D3DXMATRIX world;
    D3DXMatrixTranslation(&world, 5, 0, 0);
    real->SetRenderState(D3DRS_LIGHTING, FALSE);
    const std::vector<uint32_t> frame = Frame({sky}, [&] {
        real->SetTransform(D3DTS_WORLD, &world);
        real->SetTexture(0, nullptr);
        C_BaseTexture9::ClearStageTable();
        box->Draw(real);
    });
    const uint32_t centre = At(frame, Width / 2, Height / 2), edge = At(frame, 3, 3);
    EXPECT_GT(Red(centre), 240);
    EXPECT_GT(Green(centre), 240);
    EXPECT_LT(Red(edge), 10);
    EXPECT_GT(Blue(edge), 240);
}
