#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "Render/Resources/SceneFixture.h"

#include <cmath>

#include "Render/Position/PositionObject.h"
#include "Render/Resources/D3DXMESH9.h"
#include "Render/Resources/D3DXSTRING.h"

// A mesh whose detail factor the test chooses; counts its drawing.
class DetailMesh : public C_BaseResource {
    TW_POOLED_CLASS(DetailMesh)
public:
    DetailMesh() { ResourceLevel = 1; Radius = 1.0f; }
    float CalcLevelOfDetail(C_BaseObject* owner) override { Owner = owner; return Factor; }
    void Draw(IDirect3DDevice9*) override { ++Draws; }
    float Factor = 1.0f;
    C_BaseObject* Owner = nullptr;
    int Draws = 0;
};
TW_REGISTER_CLASS(DetailMesh)

class PositionTest : public SceneResourceTest {
protected:
    static void Text(const std::wstring& line) { C_D3DXSTRING::C_AllStrings::Instance().AddLine(line); }
    C_PositionObject* Positioned(const wchar_t* name, const wchar_t* value, const wchar_t* cls = L"C_PositionObject")
    {
        return Make<C_PositionObject>(cls, name, value);
    }
    C_TiedPositionObject* Tied(const wchar_t* name, const wchar_t* value)
    {
        return Make<C_TiedPositionObject>(L"C_TiedPositionObject", name, value);
    }
    static void ExpectNear(const D3DXVECTOR3& v, float x, float y, float z, float tolerance = 1e-4f)
    {
        EXPECT_NEAR(v.x, x, tolerance);
        EXPECT_NEAR(v.y, y, tolerance);
        EXPECT_NEAR(v.z, z, tolerance);
    }
};

TEST_F(PositionTest, LoadReadsPositionAnglesAndScaleAndComposesScaleRotationTranslation)
{
    Text(L"PT_Box = 2; 2; 2;");
    Text(L"PT_Pos = 10; -2; 3.5;");
    Text(L"PT_Angles = 0; 1.5707964; 0;");
    C_PositionObject* object = Positioned(L"o", L"C_D3DXMESH9_BOX; PT_Box; PT_Pos; PT_Angles; 2;");
    ASSERT_NE(object->Mesh, nullptr);
    EXPECT_EQ(object->ResourceLevel, 2);
    EXPECT_EQ(object->B, 1.5707964f);   // radians as written
    ExpectNear(object->GetPosition(), 10.0f, -2.0f, 3.5f);

    // (1, 0, 0) is scaled to (2, 0, 0), turned by yaw 90° to (0, 0, -2) and
    // moved by the position.
    D3DXVECTOR3 point(1.0f, 0.0f, 0.0f), placed;
    D3DXVec3TransformCoord(&placed, &point, &object->World);
    ExpectNear(placed, 10.0f, -2.0f, 1.5f);

    // Drawing sets that matrix as the world transform before the mesh draws.
    object->Draw(&device);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(std::memcmp(&device.World, &object->World, sizeof(D3DMATRIX)), 0);
}

TEST_F(PositionTest, ScaleMultipliesTheMeshRadiusAndAbsentScaleIsOne)
{
    Text(L"PT_Sphere = 1.5; 12;");
    C_PositionObject* plain = Positioned(L"plain", L"C_D3DXMESH9_SPHERE; PT_Sphere;");
    C_PositionObject* doubled = Positioned(L"doubled", L"C_D3DXMESH9_SPHERE; PT_Sphere; ; ; 2;");
    C_PositionObject* mirrored = Positioned(L"mirrored", L"C_D3DXMESH9_SPHERE; PT_Sphere; ; ; -3;");
    ASSERT_NE(plain->Mesh, nullptr);
    // Equal mesh texts share one mesh resource.
    EXPECT_EQ(plain->Mesh, doubled->Mesh);
    EXPECT_EQ(plain->ScaleX, 1.0f);
    EXPECT_EQ(doubled->ScaleY, 2.0f);
    EXPECT_EQ(doubled->ScaleZ, 2.0f);
    const float r = plain->Mesh->GetRadius();
    EXPECT_GT(r, 1.4f);
    EXPECT_FLOAT_EQ(plain->GetRadius(), r);
    EXPECT_FLOAT_EQ(doubled->GetRadius(), 2.0f * r);
    EXPECT_FLOAT_EQ(mirrored->GetRadius(), 3.0f * r);

    // A script deleting the shared mesh leaves every user without it.
    C_BaseObject::DeleteObject(C_BaseObject::ToID(plain->Mesh));
    EXPECT_EQ(plain->Mesh, nullptr);
    EXPECT_EQ(doubled->Mesh, nullptr);
    EXPECT_EQ(doubled->GetRadius(), 0.0f);
    doubled->Draw(&device);
    EXPECT_TRUE(device.draws.empty());
}

TEST_F(PositionTest, ScriptSettersAndGettersWorkInDegreesAndIgnoreUnknownIDs)
{
    C_PositionObject* object = Positioned(L"o", L"");
    const double id = C_BaseObject::ToID(object);
    C_PositionObject::SetPositionA(id, 90.0);
    EXPECT_FLOAT_EQ(object->A, 3.1415927f / 2.0f);
    EXPECT_NEAR(C_PositionObject::GetPositionA(id), 90.0, 1e-4);
    C_PositionObject::SetPositionA(id, 0.0);
    EXPECT_EQ(C_PositionObject::GetPositionA(id), 0.0);
    C_PositionObject::SetPositionC(id, -45.0);
    EXPECT_NEAR(C_PositionObject::GetPositionFromAxis(id, "C"), -45.0, 1e-4);

    C_PositionObject::SetPositionX(id, 4.0);
    C_PositionObject::SetPositionY(id, 5.0);
    C_PositionObject::SetPositionZ(id, 6.0);
    EXPECT_EQ(C_PositionObject::GetPositionFromAxis(id, "X"), 4.0);
    EXPECT_EQ(C_PositionObject::GetPositionFromAxis(id, "Y"), 5.0);
    EXPECT_EQ(C_PositionObject::GetPositionFromAxis(id, "Z"), 6.0);
    EXPECT_FLOAT_EQ(object->World._41, 4.0f);   // setters recompose the matrix
    EXPECT_FLOAT_EQ(object->World._43, 6.0f);
    EXPECT_EQ(C_PositionObject::GetPositionFromAxis(id, "Q"), 0.0);
    EXPECT_EQ(C_PositionObject::GetPositionFromAxis(id, "x"), 0.0);

    // Nothing happens for 0, a made-up ID, or an object of another class.
    EXPECT_EQ(C_PositionObject::SetPositionX(0.0, 1.0), 0.0);
    EXPECT_EQ(C_PositionObject::GetPositionX(0.0), 0.0);
    EXPECT_EQ(C_PositionObject::GetPositionX(12345.0), 0.0);
    C_BaseObject* other = Managers().AddResource(L"TestObject", L"other", L"");
    C_PositionObject::SetPositionX(C_BaseObject::ToID(other), 7.0);
    EXPECT_EQ(C_PositionObject::GetPositionX(C_BaseObject::ToID(other)), 0.0);
}

TEST_F(PositionTest, TiedChildRidesOnItsParentWhileKeepingItsOwnPosition)
{
    Text(L"PT_At10 = 10; 0; 0;");
    Text(L"PT_At1 = 1; 0; 0;");
    C_TiedPositionObject* parent = Tied(L"parent", L"; ; PT_At10;");
    C_TiedPositionObject* child = Tied(L"child", L"; ; PT_At1; ; ; parent;");
    EXPECT_EQ(child->GetParent(), parent);
    parent->Update();
    child->Update();
    ExpectNear(child->GetPosition(), 11.0f, 0.0f, 0.0f);
    EXPECT_EQ(C_PositionObject::GetPositionX(C_BaseObject::ToID(child)), 1.0);

    // The child takes the parent's matrix as it stands: updated before its
    // parent, it sees last frame's value.
    C_PositionObject::SetPositionX(C_BaseObject::ToID(parent), 20.0);
    child->Update();
    ExpectNear(child->GetPosition(), 11.0f, 0.0f, 0.0f);
    parent->Update();
    child->Update();
    ExpectNear(child->GetPosition(), 21.0f, 0.0f, 0.0f);

    // A turned parent carries the child around: yaw 90° sends +X to -Z.
    C_PositionObject::SetPositionB(C_BaseObject::ToID(parent), 90.0);
    parent->Update();
    child->Update();
    ExpectNear(child->GetPosition(), 20.0f, 0.0f, -1.0f);

    // The tied matrix is what is drawn.
    child->Draw(&device);
    EXPECT_EQ(std::memcmp(&device.World, &child->TiedWorld, sizeof(D3DMATRIX)), 0);
}

TEST_F(PositionTest, OnlyLiveTiedObjectsCanBeParents)
{
    Positioned(L"plain", L"");
    C_TiedPositionObject* missing = Tied(L"missing", L"; ; ; ; ; nobody;");
    EXPECT_EQ(missing->GetParent(), nullptr);
    EXPECT_TRUE(Logged(L"Попытка привязаться к несуществующему объекту: nobody"));

    C_TiedPositionObject* wrongClass = Tied(L"wrong", L"; ; ; ; ; plain;");
    EXPECT_EQ(wrongClass->GetParent(), nullptr);
    EXPECT_TRUE(Logged(L"Попытка привязаться к несуществующему объекту: plain"));

    // Ties that close a loop are refused: a self-tie, and a pair.
    C_TiedPositionObject* self = Tied(L"self", L"; ; ; ; ; self;");
    EXPECT_EQ(self->GetParent(), nullptr);
    C_TiedPositionObject* a = Tied(L"a", L"");
    C_TiedPositionObject* b = Tied(L"b", L"; ; ; ; ; a;");
    EXPECT_EQ(b->GetParent(), a);
    EXPECT_FALSE(a->SetParent(b));
    EXPECT_EQ(a->GetParent(), nullptr);

    // A deleted parent leaves its children untied, not pointing at freed memory.
    Text(L"PT_At5 = 5; 0; 0;");
    C_TiedPositionObject* base = Tied(L"base", L"; ; PT_At5;");
    C_TiedPositionObject* rider = Tied(L"rider", L"; ; ; ; ; base;");
    ASSERT_EQ(rider->GetParent(), base);
    base->Update();
    rider->Update();
    ExpectNear(rider->GetPosition(), 5.0f, 0.0f, 0.0f);
    C_BaseObject::DeleteObject(C_BaseObject::ToID(base));
    EXPECT_FALSE(C_BaseObject::IsLive(base));
    EXPECT_EQ(rider->GetParent(), nullptr);
    rider->Update();
    ExpectNear(rider->GetPosition(), 0.0f, 0.0f, 0.0f);
}

TEST_F(PositionTest, ZeroDetailFactorSkipsTheMeshAndTheExtraObjects)
{
    auto* extra = static_cast<TestObject*>(Managers().AddResource(L"TestObject", L"extra", L""));
    Text(L"PT_Detail = detail;");
    C_PositionObject* object = Positioned(L"o", L"DetailMesh; PT_Detail;");
    auto* mesh = dynamic_cast<DetailMesh*>(object->Mesh);
    ASSERT_NE(mesh, nullptr);
    object->ExtraObjects.push_back(extra);

    mesh->Factor = 0.0f;
    object->Draw(&device);
    EXPECT_EQ(mesh->Owner, object);
    EXPECT_EQ(mesh->Draws, 0);
    EXPECT_EQ(extra->Draws, 0);
    EXPECT_EQ(device.CallsOf("world").size(), 1u);   // the transform is still set

    mesh->Factor = 0.01f;
    object->Draw(&device);
    EXPECT_EQ(mesh->Draws, 1);
    EXPECT_EQ(extra->Draws, 1);

    // Tied objects draw without the detail test.
    mesh->Factor = 0.0f;
    C_TiedPositionObject* tied = Tied(L"t", L"DetailMesh; PT_Detail;");
    tied->Draw(&device);
    EXPECT_EQ(mesh->Draws, 2);
}

TEST_F(PositionTest, StatusFollowsTheFrustumUnlessDisabledOrDeleted)
{
    Text(L"PT_Unit = 1; 1; 1;");
    Text(L"PT_Far = 50; 0; 0;");
    C_PositionObject* object = Positioned(L"o", L"C_D3DXMESH9_BOX; PT_Unit; PT_Far;");
    C_PositionObject* meshless = Positioned(L"m", L"; ; PT_Far;");
    auto& planes = C_BaseObject::CommonData().FrustumPlanes;
    // Everything with x > 10 is outside.
    planes[0] = D3DXPLANE(-1.0f, 0.0f, 0.0f, 10.0f);
    for (int i = 1; i < 6; ++i) planes[i] = D3DXPLANE(0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(object->GetStatus(), C_BaseObject::NotRender);
    EXPECT_EQ(meshless->GetStatus(), C_BaseObject::Visible);   // radius 0 is never culled
    C_PositionObject::SetPositionX(C_BaseObject::ToID(object), 10.5);
    EXPECT_EQ(object->GetStatus(), C_BaseObject::Visible);     // the sphere reaches in
    object->SetStatus(C_BaseObject::Disabled);
    EXPECT_EQ(object->GetStatus(), C_BaseObject::Disabled);
    object->SetStatus(C_BaseObject::Deleted);
    EXPECT_EQ(object->GetStatus(), C_BaseObject::Deleted);
    for (D3DXPLANE& plane : planes) plane = D3DXPLANE(0, 0, 0, 0);
}

TEST_F(PositionTest, BoxFollowsThePlacementAndAMissingMeshIsReported)
{
    Text(L"PT_Long = 4; 2; 2;");
    Text(L"PT_P = 10; 0; 0;");
    Text(L"PT_Yaw = 0; 1.5707964; 0;");
    C_PositionObject* object = Positioned(L"o", L"C_D3DXMESH9_BOX; PT_Long; PT_P; PT_Yaw; 2;");
    // 4 × 2 × 2 scaled by 2 and turned 90° about Y: 4 across X, 8 along Z.
    ExpectNear(object->GetBoxMin(), 8.0f, -2.0f, -4.0f, 1e-3f);
    ExpectNear(object->GetBoxMax(), 12.0f, 2.0f, 4.0f, 1e-3f);

    // Asked again after every kind of move, the box follows: the setters,
    // the matrix written directly (as motion programs do) and a tied
    // parent's move.
    C_PositionObject::SetPositionX(C_BaseObject::ToID(object), 20.0);
    ExpectNear(object->GetBoxMin(), 18.0f, -2.0f, -4.0f, 1e-3f);
    ExpectNear(object->GetBoxMax(), 22.0f, 2.0f, 4.0f, 1e-3f);
    C_PositionObject::SetPositionB(C_BaseObject::ToID(object), 0.0);
    ExpectNear(object->GetBoxMin(), 16.0f, -2.0f, -2.0f, 1e-3f);
    D3DXMatrixTranslation(&object->World, 0.0f, 5.0f, 0.0f);
    ExpectNear(object->GetBoxMin(), -2.0f, 4.0f, -1.0f, 1e-3f);
    ExpectNear(object->GetBoxMax(), 2.0f, 6.0f, 1.0f, 1e-3f);
    Text(L"PT_Zero = 0; 0; 0;");
    C_TiedPositionObject* parent = Tied(L"parent", L"C_D3DXMESH9_BOX; PT_Long; PT_Zero;");
    C_TiedPositionObject* child = Tied(L"child", L"C_D3DXMESH9_BOX; PT_Long; PT_Zero; ; 1; parent");
    parent->Update();
    child->Update();
    ExpectNear(child->GetBoxMax(), 2.0f, 1.0f, 1.0f, 1e-3f);
    C_PositionObject::SetPositionZ(C_BaseObject::ToID(parent), 7.0);
    parent->Update();
    child->Update();
    ExpectNear(child->GetBoxMin(), -2.0f, -1.0f, 6.0f, 1e-3f);
    ExpectNear(child->GetBoxMax(), 2.0f, 1.0f, 8.0f, 1e-3f);

    C_PositionObject* broken = Positioned(L"b", L"C_NoSuchMesh; PT_Long; PT_P;");
    EXPECT_EQ(broken->Mesh, nullptr);
    EXPECT_TRUE(Logged(L"Не создан объект класса: C_NoSuchMesh"));
    EXPECT_EQ(broken->GetRadius(), 0.0f);
    ExpectNear(broken->GetBoxMax(), 10.0f, 0.0f, 0.0f);
    broken->Draw(&device);
    EXPECT_TRUE(device.draws.empty());

    // Unload lets go of the shared mesh without touching it.
    object->Unload();
    EXPECT_EQ(object->Mesh, nullptr);
}
