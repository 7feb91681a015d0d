// Marker objects: the vector marker's boxes and texts, its load in a scene
// and from a script, zero and missing inputs; semitransparent spheres and
// what they share; the test arrangement's resources and drawing.

#include "Render/SkyBox/SkyFixture.h"

#include <cmath>
#include <cstring>

#include "Render/Position/PositionObject.h"
#include "Render/Resources/D3DMATERIAL9.h"
#include "Render/Resources/D3DXMESH9.h"
#include "Render/Resources/RenderState.h"
#include "Render/SkyBox/SemitransparentSphere.h"
#include "Render/SkyBox/TestCGS.h"
#include "Render/SkyBox/VectorBox.h"

namespace {

std::wstring Text(const wchar_t* name)
{
    return C_D3DXSTRING::C_AllStrings::Instance().Lookup(name);
}

D3DXVECTOR3 Size(C_BaseObject* mesh)
{
    return mesh->GetBoxMax() - mesh->GetBoxMin();
}

} // namespace

class VectorBoxTest : public SkyTest {
protected:
    C_PositionObject* Child(const wchar_t* name)
    {
        return dynamic_cast<C_PositionObject*>(Managers().GetResource(name, L"C_PositionObject", false));
    }
    // A finished load run, as after the scene has loaded: objects made from
    // now on are loaded by whoever makes them.
    void SceneLoaded() { LoadRun(&device); }
};

TEST_F(VectorBoxTest, AVectorAlongZGivesOneLongBoxAndTwoFlatOnes)
{
    SceneLoaded();
    C_BaseObject::CreateObject(0, "C_VectorBox", "Marker", "0; 0; 2;", "", "", "");
    auto* marker = dynamic_cast<C_VectorBox*>(Managers().GetResource(L"Marker", L"C_VectorBox", false));
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->Direction, D3DXVECTOR3(0, 0, 1));
    EXPECT_EQ(Text(L"PosVectorZBox"), L"0.0; 0.0; 5.000;");
    EXPECT_EQ(Text(L"VectorZBox"), L"0.3; 0.3; 10.000;");
    EXPECT_EQ(Text(L"PosVectorXBox"), L"0.000; 0.0; 0.0;");
    EXPECT_EQ(Text(L"VectorXBox"), L"0.000; 0.3; 0.3;");
    EXPECT_EQ(Text(L"PosVectorBox"), L"0.000; 0.000; 5.000;");
    EXPECT_EQ(Text(L"VectorBox"), L"10.000; 0.5; 0.5;");

    // The four boxes are in the marker's list, loaded, with their meshes.
    ASSERT_EQ(marker->size(), 4u);
    for (const wchar_t* name : {L"VectorX", L"VectorY", L"VectorZ", L"OrientedVector"}) {
        C_PositionObject* box = Child(name);
        ASSERT_NE(box, nullptr) << testing::PrintToString(std::wstring(name));
        EXPECT_EQ(box->ReferenceCount, 1);
        ASSERT_NE(box->Mesh, nullptr) << testing::PrintToString(std::wstring(name));
    }
    EXPECT_EQ(Child(L"VectorZ")->GetPosition(), D3DXVECTOR3(0, 0, 5));
    EXPECT_NEAR(Size(Child(L"VectorZ")->Mesh).z, 10.0f, 1e-4f);
    EXPECT_NEAR(Size(Child(L"VectorX")->Mesh).x, 0.0f, 1e-4f);
    EXPECT_NEAR(Size(Child(L"VectorY")->Mesh).y, 0.0f, 1e-4f);
    // The oriented box, 10 long along its own X, points along the vector
    // from the origin to its far end.
    C_PositionObject* oriented = Child(L"OrientedVector");
    D3DXVECTOR3 tip;
    const D3DXVECTOR3 end(5, 0, 0);
    D3DXVec3TransformCoord(&tip, &end, &oriented->World);
    // (Angles are written with three decimals.)
    EXPECT_NEAR(tip.x, 0.0f, 2e-3f);
    EXPECT_NEAR(tip.y, 0.0f, 2e-3f);
    EXPECT_NEAR(tip.z, 10.0f, 2e-3f);
}

TEST_F(VectorBoxTest, TheOrientedBoxFollowsEveryComponentOfTheVector)
{
    SceneLoaded();
    C_BaseObject::CreateObject(0, "C_VectorBox", "Diagonal", "3; -4; 12;", "", "", "");
    auto* marker = dynamic_cast<C_VectorBox*>(Managers().GetResource(L"Diagonal", L"C_VectorBox", false));
    ASSERT_NE(marker, nullptr);
    const D3DXVECTOR3 unit(3.0f / 13, -4.0f / 13, 12.0f / 13);
    const D3DXVECTOR3 error = marker->Direction - unit;
    EXPECT_NEAR(D3DXVec3Length(&error), 0.0f, 1e-6f);
    C_PositionObject* oriented = Child(L"OrientedVector");
    ASSERT_NE(oriented, nullptr);
    D3DXVECTOR3 tip;
    const D3DXVECTOR3 end(5, 0, 0);
    D3DXVec3TransformCoord(&tip, &end, &oriented->World);
    EXPECT_NEAR(tip.x, 10 * unit.x, 2e-3f);
    EXPECT_NEAR(tip.y, 10 * unit.y, 2e-3f);
    EXPECT_NEAR(tip.z, 10 * unit.z, 2e-3f);
    EXPECT_NEAR(Child(L"VectorY")->GetPosition().y, 5 * unit.y, 1e-3f);
    EXPECT_NEAR(Size(Child(L"VectorY")->Mesh).y, 10 * std::fabs(unit.y), 1e-3f);
}

TEST_F(VectorBoxTest, ZeroAndUnreadableVectorsShowZeroBoxesWithoutNaN)
{
    SceneLoaded();
    int n = 0;
    for (const char* value : {"0; 0; 0;", "", "x; y; z;", "1e39; 0; 0;"}) {
        SCOPED_TRACE(value);
        const std::string name = "Zero" + std::to_string(n++);
        C_BaseObject::CreateObject(0, "C_VectorBox", name, value, "", "", "");
        auto* marker = dynamic_cast<C_VectorBox*>(Managers().GetResource(ScriptTextToWide(name).c_str(), L"C_VectorBox", false));
        ASSERT_NE(marker, nullptr);
        EXPECT_EQ(marker->Direction, D3DXVECTOR3(0, 0, 0));
        EXPECT_EQ(Text(L"VectorBox"), L"0.000; 0.5; 0.5;");
        EXPECT_EQ(Text(L"OrientVector"), L"0.000; 0.000; 0.000;");
        for (const wchar_t* child : {L"VectorX", L"VectorY", L"VectorZ", L"OrientedVector"}) {
            const D3DXMATRIX& world = Child(child)->World;
            for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite((&world._11)[i]));
        }
    }
    EXPECT_EQ(CountLogged(L"показан нулевой вектор"), 4u);
}

TEST_F(VectorBoxTest, AMissingOrientationTextIsReportedAndTheBoxesStayUpright)
{
    auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
    ASSERT_TRUE(texts.Search(L"OrientSphere1"));
    C_D3DXSTRING::C_DescriptorString* entry = texts[texts.GetPosition()];
    texts.erase(texts.begin() + std::ptrdiff_t(texts.GetPosition()));
    SceneLoaded();
    C_BaseObject::CreateObject(0, "C_VectorBox", "Lonely", "1; 0; 0;", "", "", "");
    texts.Insert(entry);
    EXPECT_TRUE(Logged(L"нет текста OrientSphere1"));
    C_PositionObject* x = Child(L"VectorX");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->A, 0.0f);
    EXPECT_EQ(x->GetPosition(), D3DXVECTOR3(5, 0, 0));
}

// The marker as a module of a scene file, beside other positioned objects
// whose manager loads before the marker's: its boxes, made while it loads,
// are loaded all the same.
TEST_F(VectorBoxTest, InASceneWithOtherPositionedObjectsTheMarkersBoxesAreLoaded)
{
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"VB_Cube = 1; 1; 1;");
    Put("scene.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<scene name=\"Scene\" class=\"C_BaseModule\">\n"
                     "  <p name=\"Other\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; VB_Cube;\"/>\n"
                     "  <v name=\"Marker\" class=\"C_VectorBox\" value=\"2; 0; 0;\">\n"
                     "    <m name=\"VB_Red\" class=\"C_D3DMATERIAL9\" value=\"0xFFFF0000; 0; 0; 0; 0;\"/>\n"
                     "    <p name=\"VectorX\" class=\"C_PositionObject\""
                     " value=\"C_D3DXMESH9_BOX; VectorXBox; PosVectorXBox; OrientSphere1;\" extra=\"VB_Red\"/>\n"
                     "  </v>\n"
                     "</scene>\n");
    auto* root = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"Root", L""));
    *root << Path("scene.xml");
    LoadRun(&device);
    auto* marker = dynamic_cast<C_VectorBox*>(Managers().GetResource(L"Marker", L"C_VectorBox", false));
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->size(), 4u);
    for (const wchar_t* name : {L"VectorX", L"VectorY", L"VectorZ", L"OrientedVector", L"Other"}) {
        C_PositionObject* box = Child(name);
        ASSERT_NE(box, nullptr);
        ASSERT_NE(box->Mesh, nullptr) << testing::PrintToString(std::wstring(name));
    }
    // The box the file declared keeps its material and takes the marker's place.
    C_PositionObject* x = Child(L"VectorX");
    ASSERT_EQ(x->ExtraObjects.size(), 1u);
    EXPECT_EQ(x->ExtraObjects[0]->Name, L"VB_Red");
    EXPECT_EQ(x->GetPosition(), D3DXVECTOR3(5, 0, 0));
    EXPECT_NEAR(Size(x->Mesh).x, 10.0f, 1e-4f);
    EXPECT_EQ(x->ReferenceCount, 1);

    // A device reset loads the same marker again without doubling anything.
    Managers().ReleaseDeviceObjects();
    LoadRun(&device);
    EXPECT_EQ(marker->size(), 4u);
    EXPECT_NE(Child(L"VectorY")->Mesh, nullptr);
    EXPECT_EQ(x->ExtraObjects.size(), 1u);
}

// ---------------------------------------------------------------------------

class SphereTest : public SkyTest {};

TEST_F(SphereTest, TwoSpheresShareTheMeshAndEachOwnsItsLook)
{
    auto* first = dynamic_cast<C_SemitransparentSphere*>(Managers().AddResource(L"C_SemitransparentSphere", L"Bubble", L""));
    auto* second = dynamic_cast<C_SemitransparentSphere*>(Managers().AddResource(L"C_SemitransparentSphere", L"Drop", L""));
    ASSERT_TRUE(first && second);
    second->SetExtra(L"SP_Extra");
    Make<C_BaseResource>(L"C_RenderState", L"SP_Extra", L"D3DRS_LIGHTING; TRUE;");
    LoadRun(&device);

    EXPECT_EQ(Text(L"SemitransparentSphere"), L"1.0; 20;");
    EXPECT_EQ(first->Value, L"C_D3DXMESH9_SPHERE; SemitransparentSphere;");
    ASSERT_NE(first->Mesh, nullptr);
    EXPECT_EQ(first->Mesh, second->Mesh);
    EXPECT_STREQ(first->Mesh->GetClassName(), L"C_D3DXMESH9_SPHERE");
    EXPECT_NEAR(first->GetRadius(), 1.0f, 1e-3f);

    ASSERT_EQ(first->ExtraObjects.size(), 4u);
    ASSERT_EQ(second->ExtraObjects.size(), 5u);   // its own four, then the one of its file
    EXPECT_EQ(second->ExtraObjects[4]->Name, L"SP_Extra");
    for (std::size_t i = 0; i < 4; ++i) EXPECT_NE(first->ExtraObjects[i], second->ExtraObjects[i]);

    auto* material = dynamic_cast<C_D3DMATERIAL9*>(first->ExtraObjects[0]);
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->Value, L"0x2FFFFFFF; 0x2FFFFFFF; 0x2FFFFFFF; 0x2FFFFFFF; 30.0;");
    EXPECT_FLOAT_EQ(material->Material.Diffuse.a, 47.0f / 256.0f);
    EXPECT_FLOAT_EQ(material->Material.Power, 30.0f);
    auto* texture = dynamic_cast<C_BaseTexture9*>(first->ExtraObjects[1]);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->Texture, nullptr);
    auto* fill = dynamic_cast<C_RenderState*>(first->ExtraObjects[2]);
    auto* alphaTest = dynamic_cast<C_RenderState*>(first->ExtraObjects[3]);
    ASSERT_TRUE(fill && alphaTest);
    EXPECT_EQ(fill->State, DWORD(D3DRS_FILLMODE));
    EXPECT_EQ(fill->StateValue, DWORD(D3DFILL_SOLID));
    EXPECT_EQ(alphaTest->State, DWORD(D3DRS_ALPHATESTENABLE));
    EXPECT_EQ(alphaTest->StateValue, DWORD(FALSE));

    // Drawn: its look, then the mesh, solid and without alpha test; the
    // scene's own fill mode and alpha test come back after it.
    device.SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    device.SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device.Calls.clear();
    first->Draw(&device);
    EXPECT_EQ(device.Material.Diffuse.a, material->Material.Diffuse.a);
    EXPECT_EQ(device.Drawn.size(), 1u);
    std::vector<DWORD> fills;
    for (const auto& call : device.CallsOf("rs"))
        if (call.A == DWORD(D3DRS_FILLMODE)) fills.push_back(call.B);
    EXPECT_EQ(fills, (std::vector<DWORD>{D3DFILL_SOLID, D3DFILL_WIREFRAME}));
    EXPECT_EQ(device.RenderStates[D3DRS_FILLMODE], DWORD(D3DFILL_WIREFRAME));
    EXPECT_EQ(device.RenderStates[D3DRS_ALPHATESTENABLE], DWORD(TRUE));

    // After a device reset each part is still attached once.
    Managers().ReleaseDeviceObjects();
    LoadRun(&device);
    EXPECT_EQ(first->ExtraObjects.size(), 4u);
    EXPECT_EQ(second->ExtraObjects.size(), 5u);
    EXPECT_NE(first->Mesh, nullptr);
}

// ---------------------------------------------------------------------------

class TestCGSTest : public SkyTest {};

TEST_F(TestCGSTest, MakesItsFiveResourcesAndDrawsThemTilted)
{
    auto* test = dynamic_cast<C_TestCGS*>(Managers().AddResource(L"C_TestCGS", L"Test", L""));
    ASSERT_NE(test, nullptr);
    LoadRun(&device);
    ASSERT_TRUE(test->Yellow && test->Magenta && test->Green && test->Box && test->Cylinder && test->Plate);
    EXPECT_EQ(test->Magenta->Name, L"0xFFFF00FF; 0x00000000; 0xFFFF0FF; 0x00000000; 30.0;");
    // Seven digits: 0x0FFFF0FF.
    EXPECT_FLOAT_EQ(test->Magenta->Material.Specular.a, 15.0f / 256.0f);
    EXPECT_FLOAT_EQ(test->Magenta->Material.Specular.g, 240.0f / 256.0f);
    EXPECT_EQ(test->Green->Name, L"0xFF00FF00; 0xFF00FF00; 0xFF00FF00; 0xFF00FF00; 0.0;");
    EXPECT_EQ(test->Yellow->Name, L"0xFFFFFF00; 0x00000000; 0xFFFFFF00; 0x00000000; 30.0;");
    EXPECT_EQ(test->Box->Value, L"10.0; 10.0; 10.0;");
    EXPECT_STREQ(test->Cylinder->GetClassName(), L"C_D3DXMESH9_CYLINDER");
    EXPECT_EQ(test->Cylinder->Name, L"4.0; 4.0; 20.0; 30;");
    EXPECT_STREQ(test->Plate->GetClassName(), L"C_D3DXMESH9_BOX");
    EXPECT_NEAR(Size(test->Plate).x, 100.0f, 1e-3f);

    test->Draw(&device);
    ASSERT_EQ(device.Drawn.size(), 3u);
    D3DXMATRIX tilted;
    D3DXMatrixRotationYawPitchRoll(&tilted, 0.0f, 3.1415927f / 4.0f, 0.0f);
    EXPECT_EQ(std::memcmp(&device.Drawn[0].World, &tilted, sizeof tilted), 0);
    EXPECT_EQ(device.Drawn[0].Material.Diffuse.b, 0.0f);   // yellow
    EXPECT_FLOAT_EQ(device.Drawn[1].Material.Diffuse.b, 255.0f / 256.0f);
    EXPECT_FLOAT_EQ(device.Drawn[2].Material.Diffuse.g, 255.0f / 256.0f);
    EXPECT_EQ(device.Drawn[2].Material.Diffuse.r, 0.0f);

    // A mesh a script deleted is skipped from then on.
    Managers().DeleteObject(test->Cylinder);
    test->Draw(&device);
    EXPECT_EQ(device.Drawn.size(), 5u);
    C_BaseObject::CommonData().RenderPass = 1;
    test->Draw(&device);
    EXPECT_EQ(device.Drawn.size(), 5u);
}
