#include "Render/Resources/SceneFixture.h"

#include "Render/Resources/BaseTexture9.h"
#include "Render/Resources/D3DMATERIAL9.h"
#include "Render/Resources/D3DXMESH9_XFILE.h"
#include "Render/Resources/D3DXSTRING.h"
#include "Render/Resources/SceneFiles.h"

using scenetest::FakeQuery;
using scenetest::StateCall;

class FileResourceTest : public SceneResourceTest {
protected:
    void SetUp() override
    {
        SceneResourceTest::SetUp();
        // The table keeps the first definition for the whole program.
        C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"FolderTexture = textures");
        C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"FolderMesh = meshes");
        C_BaseTexture9::ClearStageTable();
        checker = scenetest::Bmp(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
    }
    C_BaseTexture9* Texture(const wchar_t* name, const wchar_t* value, const wchar_t* cls = L"C_D3DTEXTURE9")
    {
        return Make<C_BaseTexture9>(cls, name, value);
    }
    // Writes a file of the program folder, making its folder first.
    void Put(const std::string& name, const std::string& bytes) const
    {
        std::filesystem::create_directories((dir / name).parent_path());
        WriteFile(name, bytes);
    }
    static testdev::Texture9* Fake(IDirect3DTexture9* texture) { return static_cast<testdev::Texture9*>(texture); }
    std::string checker;
};

// ---------------------------------------------------------------------------
// Textures

TEST_F(FileResourceTest, TexturesLoadFromTheTextureFolderAndBindWithTheFixedStageSetUp)
{
    Put("textures/checker.bmp", checker);
    C_BaseTexture9* texture = Texture(L"t", L"Checker.BMP; 0;");
    ASSERT_NE(texture->Texture, nullptr);
    EXPECT_EQ(Fake(texture->Texture)->levels[0].w, 2u);
    texture->Draw(&device);
    const std::vector<StateCall> expected = {
        {"tss", 0, D3DTSS_TEXCOORDINDEX, 0},
        {"tss", 0, D3DTSS_COLOROP, D3DTOP_MODULATE},
        {"tss", 1, D3DTSS_COLOROP, D3DTOP_DISABLE},
        {"tex", 1, 0},
        {"tss", 0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
        {"tss", 0, D3DTSS_COLORARG2, D3DTA_CURRENT},
        {"tss", 0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1},
        {"tss", 0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
        {"tss", 0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
        {"tex", 0, 1},
    };
    EXPECT_EQ(device.Calls, expected);
    EXPECT_EQ(device.Bound[0], texture->Texture);
    EXPECT_EQ(C_BaseTexture9::BoundToStage(0), texture);

    // Not in the occlusion pass.
    device.Calls.clear();
    C_BaseTexture9::ClearStageTable();
    C_BaseObject::CommonData().RenderPass = 1;
    texture->Draw(&device);
    EXPECT_TRUE(device.Calls.empty());
}

TEST_F(FileResourceTest, TheStageTableSkipsRepeatedBindsUntilItIsCleared)
{
    Put("textures/checker.bmp", checker);
    C_BaseTexture9* a = Texture(L"a", L"checker.bmp; 0;");
    C_BaseTexture9* b = Texture(L"b", L"checker.bmp; 0;");
    a->Draw(&device);
    a->Draw(&device);
    EXPECT_EQ(device.CallsOf("tex").size(), 2u);   // stage 1 cleared, stage 0 bound: once
    b->Draw(&device);
    a->Draw(&device);
    b->Draw(&device);
    EXPECT_EQ(device.CallsOf("tex").size(), 8u);   // alternating objects rebind every time
    C_BaseTexture9::ClearStageTable();
    b->Draw(&device);
    EXPECT_EQ(device.CallsOf("tex").size(), 10u);

    // An object on stage 1 is unbound by a stage-0 draw; drawing it again
    // binds it again.
    C_BaseTexture9* second = Texture(L"second", L"checker.bmp; 1;");
    second->Draw(&device);
    EXPECT_EQ(device.Bound[1], second->Texture);
    a->Draw(&device);
    EXPECT_EQ(device.Bound[1], nullptr);
    second->Draw(&device);
    EXPECT_EQ(device.Bound[1], second->Texture);

    // An unloaded object is forgotten by the table.
    a->Unload();
    EXPECT_NE(C_BaseTexture9::BoundToStage(0), a);
}

TEST_F(FileResourceTest, StageSevenDisablesStageEightAndStageEightTouchesNothingBeyond)
{
    Put("textures/checker.bmp", checker);
    C_BaseTexture9* seven = Texture(L"seven", L"checker.bmp; 7;");
    seven->Draw(&device);
    const auto calls = device.Calls;
    EXPECT_NE(std::find(calls.begin(), calls.end(), StateCall{"tss", 8, D3DTSS_COLOROP, D3DTOP_DISABLE}), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), StateCall{"tex", 8, 0}), calls.end());

    device.Calls.clear();
    C_BaseTexture9* eight = Texture(L"eight", L"checker.bmp; 8;");
    eight->Draw(&device);
    for (const StateCall& call : device.Calls) EXPECT_EQ(call.A, 8u);
    EXPECT_EQ(device.Bound[8], eight->Texture);

    // Stages outside the table are never set.
    device.Calls.clear();
    Texture(L"nine", L"checker.bmp; 9;")->Draw(&device);
    Texture(L"minus", L"checker.bmp; -1;")->Draw(&device);
    EXPECT_TRUE(device.Calls.empty());
}

TEST_F(FileResourceTest, NullNamesAndBadFilesLeaveNoTextureAndUnbindTheStage)
{
    Put("textures/null.bmp", checker);
    Put("textures/short.bmp", checker.substr(0, 30));
    Put("textures/text.bmp", "this is not an image");
    Put("textures/empty.bmp", "");
    const wchar_t* values[] = {L"NULL.bmp; 0;", L"my_Null_texture.png; 0;", L"missing.bmp; 0;",
                               L"short.bmp; 0;", L"text.bmp; 0;", L"empty.bmp; 0;", L"; 0;"};
    int n = 0;
    for (const wchar_t* value : values) {
        C_BaseTexture9* texture = Texture((L"bad" + std::to_wstring(n++)).c_str(), value);
        EXPECT_EQ(texture->Texture, nullptr) << testing::PrintToString(std::wstring(value));
        device.Bound[0] = reinterpret_cast<IDirect3DBaseTexture9*>(&device);   // something bound before
        C_BaseTexture9::ClearStageTable();
        texture->Draw(&device);
        EXPECT_EQ(device.Bound[0], nullptr);
    }
    EXPECT_EQ(device.texturesCreated, 0);
}

TEST_F(FileResourceTest, SizedTexturesTakeTheirParametersAndTheDisplayFormat)
{
    Put("textures/big.bmp", scenetest::Bmp(8, 8, std::vector<uint32_t>(64, 0x808080)));
    C_BaseTexture9* scaled = Texture(L"ex", L"big.bmp; 2; 4; 4; 0xFF00FF00; 0;", L"C_D3DTextureEx9");
    ASSERT_NE(scaled->Texture, nullptr);
    EXPECT_EQ(scaled->Stage, 2);
    EXPECT_EQ(Fake(scaled->Texture)->levels.size(), 1u);
    EXPECT_EQ(Fake(scaled->Texture)->levels[0].w, 4u);
    EXPECT_EQ(Fake(scaled->Texture)->pool, D3DPOOL_MANAGED);
    // No application window here: the warning, then the display mode.
    EXPECT_TRUE(Logged(L"!pWnd"));

    C_BaseTexture9* target = Texture(L"rt", L"ignored; 3; 64; 32; 1;", L"C_D3DTextureSize9");
    ASSERT_NE(target->Texture, nullptr);
    EXPECT_EQ(Fake(target->Texture)->levels[0].w, 64u);
    EXPECT_EQ(Fake(target->Texture)->levels[0].h, 32u);
    EXPECT_EQ(Fake(target->Texture)->usage, 1u);
    EXPECT_EQ(Fake(target->Texture)->pool, D3DPOOL_DEFAULT);
    target->Unload();
    EXPECT_EQ(target->Texture, nullptr);

    // Enormous or negative sizes are refused by the device: no texture.
    EXPECT_EQ(Texture(L"huge", L"; 0; 100000; 100000; 0;", L"C_D3DTextureSize9")->Texture, nullptr);
    EXPECT_EQ(Texture(L"neg", L"; 0; -16; 16; 0;", L"C_D3DTextureSize9")->Texture, nullptr);
}

// ---------------------------------------------------------------------------
// .x meshes

TEST_F(FileResourceTest, EqualMaterialsOfXFilesAreSharedAndSubsetsDrawInOrder)
{
    Put("meshes/quads.x", scenetest::XThreeMaterials());
    Put("meshes/copy.x", scenetest::XThreeMaterials());
    Put("textures/checker.bmp", checker);
    auto* mesh = Make<C_D3DXMESH9_XFILE>(L"C_D3DXMESH9_XFILE", L"quads", L"quads.x;");
    ASSERT_NE(mesh->Mesh, nullptr);
    ASSERT_EQ(mesh->MaterialCount, 3u);
    ASSERT_EQ(mesh->Materials.size(), 3u);
    EXPECT_EQ(mesh->Materials[0], mesh->Materials[1]);
    EXPECT_NE(mesh->Materials[0], mesh->Materials[2]);
    EXPECT_EQ(mesh->Materials[0]->Name, mesh->Materials[0]->Value);
    EXPECT_EQ(mesh->Materials[0]->Name.substr(0, 12), L"0xFFFF0000; ");
    EXPECT_FLOAT_EQ(mesh->Materials[2]->Material.Diffuse.b, 0.99609375f);   // loaded from its own name
    ASSERT_NE(mesh->Textures[0], nullptr);
    EXPECT_NE(mesh->Textures[0]->Texture, nullptr);
    EXPECT_EQ(mesh->Textures[1], nullptr);
    EXPECT_EQ(mesh->Textures[2], nullptr);
    EXPECT_NEAR(mesh->GetRadius(), std::sqrt(2.0f), 1e-3f);

    auto* copy = Make<C_D3DXMESH9_XFILE>(L"C_D3DXMESH9_XFILE", L"copy", L"copy.x;");
    EXPECT_EQ(copy->Materials[0], mesh->Materials[0]);
    EXPECT_EQ(copy->Textures[0], mesh->Textures[0]);

    mesh->Materials[0]->SetTransparency(0.2f);
    mesh->Draw(&device);
    ASSERT_EQ(device.draws.size(), 3u);
    EXPECT_EQ(device.draws[0].primCount, 2u);
    EXPECT_FLOAT_EQ(mesh->Materials[0]->Material.Diffuse.a, 0.99609375f);   // reset to opaque before drawing
    // Material, texture, then the subset; the textureless subsets keep the
    // bound texture.
    std::vector<std::string> order;
    for (const StateCall& call : device.Calls)
        if (call.What == "material" || (call.What == "tex" && call.A == 0)) order.push_back(call.What);
    EXPECT_EQ(order, (std::vector<std::string>{"material", "tex", "material", "material"}));
    EXPECT_EQ(device.Bound[0], mesh->Textures[0]->Texture);

    FakeQuery query;
    query.Pixels = 7;
    C_BaseObject::CommonData().RenderPass = 1;
    C_BaseObject::CommonData().OcclusionQuery = &query;
    mesh->Draw(&device);
    C_BaseObject::CommonData().OcclusionQuery = nullptr;
    EXPECT_EQ(device.draws.size(), 6u);
    EXPECT_EQ(query.Issued, (std::vector<DWORD>{D3DISSUE_BEGIN, D3DISSUE_END}));
    EXPECT_EQ(C_BaseObject::CommonData().VisiblePixels, 7u);

    // A script deleting a shared material or texture: those subsets draw
    // without it.
    C_BaseObject::DeleteObject(C_BaseObject::ToID(mesh->Textures[0]));
    C_BaseObject::DeleteObject(C_BaseObject::ToID(mesh->Materials[2]));
    EXPECT_EQ(copy->Textures[0], nullptr);
    EXPECT_EQ(mesh->Materials[2], nullptr);
    C_BaseObject::CommonData().RenderPass = 0;
    mesh->Draw(&device);
    EXPECT_EQ(device.draws.size(), 9u);

    mesh->Unload();
    EXPECT_EQ(mesh->Mesh, nullptr);
    EXPECT_TRUE(mesh->Materials.empty());
    EXPECT_TRUE(mesh->Textures.empty());
}

TEST_F(FileResourceTest, BrokenXFilesLeaveTheMeshOut)
{
    const std::string good = scenetest::XThreeMaterials();
    const std::size_t face = good.find("3;4,6,7;;");
    ASSERT_NE(face, std::string::npos);
    std::string outOfRange;
    outOfRange.append(good, 0, face + 6);
    outOfRange.push_back('9');   // vertex 79 of 8
    outOfRange.append(good, face + 6, std::string::npos);
    std::string junk = "xof 0302bin 0032";
    for (unsigned i = 0; i < 4096; ++i) junk.push_back(char((i * 7919u + 13u) & 0xFF));
    Put("meshes/truncated.x", good.substr(0, good.size() / 2));
    Put("meshes/range.x", outOfRange);
    Put("meshes/junk.x", junk);
    Put("meshes/empty.x", "");
    const wchar_t* files[] = {L"truncated.x", L"range.x", L"junk.x", L"empty.x", L"absent.x"};
    int n = 0;
    for (const wchar_t* file : files) {
        auto* mesh = Make<C_D3DXMESH9_XFILE>(L"C_D3DXMESH9_XFILE", (L"broken" + std::to_wstring(n++)).c_str(), file);
        EXPECT_EQ(mesh->Mesh, nullptr) << testing::PrintToString(std::wstring(file));
        EXPECT_EQ(mesh->MaterialCount, 0u);
        mesh->Draw(&device);
    }
    auto* progressive = Make<C_D3DXPMESH9_XFILE>(L"C_D3DXPMESH9_XFILE", L"pjunk", L"junk.x;");
    EXPECT_EQ(progressive->PMesh, nullptr);
    progressive->Draw(&device);
    EXPECT_TRUE(device.draws.empty());
}

// ---------------------------------------------------------------------------
// Progressive meshes

TEST_F(FileResourceTest, DetailFactorFallsExponentiallyWithDistanceAndSnapsToOneNearby)
{
    auto* mesh = Make<C_D3DXPMESH9_XFILE>(L"C_D3DXPMESH9_XFILE", L"p", L"none.x;");
    EXPECT_EQ(mesh->CalcLevelOfDetail(nullptr), 1.0f);

    auto* owner = static_cast<TestObject*>(Managers().AddResource(L"TestObject", L"owner", L""));
    owner->Radius = 10.0f;
    C_BaseObject::CommonData().CurrentCamera = nullptr;
    owner->Distances[nullptr] = 0.0f;
    EXPECT_EQ(mesh->CalcLevelOfDetail(owner), 1.0f);   // the approximation of e^0 is below 1
    EXPECT_EQ(mesh->LevelOfDetail, 1.0f);
    EXPECT_LT(C_D3DXPMESH9_XFILE::FastExp(0.0f), 1.0f);
    EXPECT_GT(C_D3DXPMESH9_XFILE::FastExp(0.0f), 0.9f);

    owner->Distances[nullptr] = 100.0f;   // x = -1
    const float one = mesh->CalcLevelOfDetail(owner);
    EXPECT_NEAR(one, std::exp(-1.0f), 0.03f);
    EXPECT_EQ(mesh->LevelOfDetail, one);
    owner->Distances[nullptr] = 70.0f;    // x = -0.49: e^x = 0.61, not snapped
    EXPECT_NEAR(mesh->CalcLevelOfDetail(owner), std::exp(-0.49f), 0.03f);
    owner->Distances[nullptr] = 40.0f;    // x = -0.16: e^x = 0.85, snapped
    EXPECT_EQ(mesh->CalcLevelOfDetail(owner), 1.0f);
    owner->Distances[nullptr] = 300.0f;   // x = -9: far below the drawing limit
    EXPECT_LT(mesh->CalcLevelOfDetail(owner), 0.01f);

    // A zero radius gives no NaN: far away it is not drawn, at zero distance it is.
    owner->Radius = 0.0f;
    EXPECT_LT(mesh->CalcLevelOfDetail(owner), 0.01f);
    owner->Distances[nullptr] = 0.0f;
    EXPECT_EQ(mesh->CalcLevelOfDetail(owner), 1.0f);
    const float tiny = C_D3DXPMESH9_XFILE::FastExp(-1e30f);
    EXPECT_TRUE(std::isfinite(tiny) && tiny >= 0.0f && tiny < 1e-6f);
}

TEST_F(FileResourceTest, ProgressiveMeshDropsDetailAndDrawsCoarserInTheOcclusionPass)
{
    Put("meshes/ball.x", scenetest::XGridSphere(24));
    auto* mesh = Make<C_D3DXPMESH9_XFILE>(L"C_D3DXPMESH9_XFILE", L"ball", L"ball.x; 2.5;");
    ASSERT_NE(mesh->PMesh, nullptr);
    EXPECT_EQ(mesh->Mesh, nullptr);
    EXPECT_EQ(mesh->Parameter, 2.5f);
    EXPECT_EQ(mesh->LevelOfDetail, 1.0f);
    EXPECT_NEAR(mesh->GetRadius(), 1.0f, 0.02f);
    const DWORD full = mesh->PMesh->GetNumFaces();
    EXPECT_GT(full, 1000u);

    mesh->SetLOD(0.25f);
    EXPECT_LT(mesh->PMesh->GetNumVertices(), mesh->PMesh->GetMaxVertices());
    EXPECT_LT(mesh->PMesh->GetNumFaces(), full);
    mesh->SetLOD(1.0f);
    EXPECT_EQ(mesh->PMesh->GetNumFaces(), full);

    mesh->Draw(&device);
    ASSERT_EQ(device.draws.size(), 1u);
    const UINT mainFaces = device.draws[0].primCount;
    FakeQuery query;
    C_BaseObject::CommonData().RenderPass = 1;
    C_BaseObject::CommonData().OcclusionQuery = &query;
    mesh->Draw(&device);
    C_BaseObject::CommonData().OcclusionQuery = nullptr;
    ASSERT_EQ(device.draws.size(), 2u);
    EXPECT_LT(device.draws[1].primCount * 4, mainFaces);
    EXPECT_EQ(mesh->LevelOfDetail, 1.0f);
    EXPECT_EQ(mesh->PMesh->GetNumFaces(), full);

    mesh->Unload();
    EXPECT_EQ(mesh->PMesh, nullptr);
}
