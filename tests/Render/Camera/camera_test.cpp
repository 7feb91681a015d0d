#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "engine_support/ObjectTestClasses.h"

#include <cmath>

#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/Cameras.h"
#include "Render/Resources/D3DXSTRING.h"
#include "spine_support/FakeDirect3D.h"

class CameraTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        C_QueueRendering::InstallInsert();
        C_BaseCamera::InstallModuleSupport();
        auto& common = C_BaseObject::CommonData();
        common.RenderPass = 0;
        common.ScreenWidth = 800;
        common.ScreenHeight = 600;
        common.MouseX = common.MouseY = common.MouseWheel = 0;
        common.Time = 1000;
        std::fill(std::begin(common.Input.Keyboard), std::end(common.Input.Keyboard), 0);
        common.Input.Mouse = {};
        target.width = 1024;
        target.height = 768;
    }
    void TearDown() override
    {
        C_QueueRendering::Instance().ClearQueues();
        ObjectModelTest::TearDown();
    }

    template <class T>
    T* Make(const wchar_t* className, const wchar_t* name, const wchar_t* value, IDirect3DDevice9* with = nullptr)
    {
        auto* camera = static_cast<T*>(Managers().AddResource(className, name, value));
        camera->Load(with ? with : &device);
        return camera;
    }
    static void Lines(std::initializer_list<const wchar_t*> lines)
    {
        for (const wchar_t* line : lines) C_D3DXSTRING::C_AllStrings::Instance().AddLine(line);
    }

    FakeDevice device;
    FakeSurface target;
};

TEST_F(CameraTest, ValueStringGivesViewportFieldOfViewColourAndCoordinates)
{
    Lines({L"CamViewport = 0.25; 0.5; 0.75; 1.0", L"CamPosition = 1; 2; 3", L"CamAngles = 0.1; 0.2; 0.3",
           L"CamClip = 1; 500"});
    device.renderTarget = &target;
    auto* camera = Make<C_BaseCamera>(L"C_FirstFaceCamera", L"cam",
                                      L"CamViewport; 0.785; 0xFF000000; CamPosition; CamAngles; CamClip; 4");
    EXPECT_FLOAT_EQ(camera->FieldOfView, 0.785f);
    EXPECT_TRUE(camera->ClearTarget);
    EXPECT_EQ(camera->ClearColor, 0xFF000000u);
    EXPECT_EQ(camera->X, 1.0f);
    EXPECT_EQ(camera->Z, 3.0f);
    EXPECT_FLOAT_EQ(camera->C, 0.3f);
    EXPECT_EQ(camera->NearPlane, 1.0f);
    EXPECT_EQ(camera->FarPlane, 500.0f);
    EXPECT_EQ(static_cast<C_FirstFaceCamera*>(camera)->Speed, 4.0f);
    // The render target's size, not the screen's, scales the fractions.
    EXPECT_EQ(camera->Viewport.X, 256u);
    EXPECT_EQ(camera->Viewport.Y, 384u);
    EXPECT_EQ(camera->Viewport.Width, 512u);
    EXPECT_EQ(camera->Viewport.Height, 384u);
    EXPECT_EQ(device.viewport.Width, 512u);
    EXPECT_FLOAT_EQ(camera->AspectRatio, 512.0f / 384.0f);
    EXPECT_EQ(target.refs, 1u) << "the render target is released again";
}

TEST_F(CameraTest, MissingFieldsKeepTheDefaultsAndTheScreenSizeIsUsedWithoutTarget)
{
    auto* camera = Make<C_BaseCamera>(L"C_FirstFaceCamera", L"cam", L"NoSuchEntry;;;");
    EXPECT_EQ(camera->ViewportRight, 1.0f);
    EXPECT_FLOAT_EQ(camera->FieldOfView, 0.5235988f);
    EXPECT_FALSE(camera->ClearTarget);
    EXPECT_EQ(camera->Z, -1.0f);
    EXPECT_FLOAT_EQ(camera->A, 1.5707964f);
    EXPECT_FLOAT_EQ(camera->NearPlane, 0.1f);
    EXPECT_EQ(camera->FarPlane, 10000.0f);
    EXPECT_EQ(camera->Viewport.Width, 800u);
    EXPECT_EQ(camera->Viewport.Height, 600u);
    EXPECT_EQ(static_cast<C_FirstFaceCamera*>(camera)->Speed, 10.0f);
    EXPECT_EQ(camera->Name, L"cam");
}

TEST_F(CameraTest, ClearsDepthAlwaysAndColourOnlyWhenGiven)
{
    auto* plain = Make<C_BaseCamera>(L"C_GUICamera", L"plain", L";;");
    auto* coloured = Make<C_BaseCamera>(L"C_GUICamera", L"coloured", L";; 204060");
    plain->Draw(&device);
    coloured->Draw(&device);
    ASSERT_EQ(device.clears.size(), 2u);
    EXPECT_EQ(device.clears[0].flags, DWORD(D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL));
    EXPECT_EQ(device.clears[1].flags, DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL));
    EXPECT_EQ(device.clears[1].color, 0x204060u);
    EXPECT_EQ(device.clears[1].z, 1.0f);
    EXPECT_EQ(device.clears[1].stencil, 0u);
    EXPECT_EQ(C_BaseObject::CommonData().CurrentCamera, coloured);
    EXPECT_EQ(std::memcmp(&device.transforms[D3DTS_VIEW], &coloured->View, sizeof(D3DMATRIX)), 0);
    EXPECT_EQ(std::memcmp(&device.transforms[D3DTS_PROJECTION], &coloured->Projection, sizeof(D3DMATRIX)), 0);
}

TEST_F(CameraTest, AnEmptyViewportKeepsTheAspectRatio)
{
    Lines({L"FlatViewport = 0; 0.5; 1; 0.5"});
    auto* camera = Make<C_BaseCamera>(L"C_GUICamera", L"flat", L"");
    camera->ViewportTop = camera->ViewportBottom = 0.5f;
    camera->AspectRatio = 1.25f;
    camera->UpdateViewport(&device);
    EXPECT_EQ(camera->Viewport.Height, 0u);
    EXPECT_EQ(camera->AspectRatio, 1.25f);
    auto* described = Make<C_BaseCamera>(L"C_GUICamera", L"described", L"FlatViewport");
    EXPECT_EQ(described->Viewport.Height, 0u);
    EXPECT_EQ(described->AspectRatio, 1.0f);
}

TEST_F(CameraTest, FirstPersonWalksAtItsSpeedAndShiftIsTenTimesFaster)
{
    Lines({L"WalkAngles = 1.0; 0; 0.6"});
    auto* camera = Make<C_FirstFaceCamera>(L"C_FirstFaceCamera", L"walk", L";;; ; WalkAngles");
    auto& common = C_BaseObject::CommonData();
    camera->Update();   // starts the clock
    common.Input.Keyboard[0x11] = 0x80;   // W
    common.Time += 1000;
    camera->Update();
    EXPECT_NEAR(camera->X, 10.0f * std::sin(0.6f), 1e-4);
    EXPECT_NEAR(camera->Y, -10.0f * std::cos(0.6f), 1e-4);
    common.Input.Keyboard[0x2A] = 0x80;   // Shift
    common.Time += 1000;
    camera->Update();
    EXPECT_NEAR(camera->X, 110.0f * std::sin(0.6f), 1e-3);
    // The same tick again moves nothing.
    const float x = camera->X;
    camera->Update();
    EXPECT_EQ(camera->X, x);
    // D walks a quarter turn to the right of W.
    common.Input.Keyboard[0x11] = 0;
    common.Input.Keyboard[0x2A] = 0;
    common.Input.Keyboard[0x20] = 0x80;
    const float y = camera->Y;
    common.Time += 500;
    camera->Update();
    EXPECT_NEAR(camera->X - x, 5.0f * std::sin(0.6f + 1.5707964f), 1e-3);
    EXPECT_NEAR(camera->Y - y, -5.0f * std::cos(0.6f + 1.5707964f), 1e-3);
    // The view is the inverse of the camera's placement: its position comes back.
    common.Time += 1;
    common.Input.Keyboard[0x20] = 0;
    camera->Update();
    EXPECT_NEAR(camera->GetPosition().x, camera->X, 1e-3);
    EXPECT_NEAR(camera->GetPosition().y, camera->Y, 1e-3);
}

TEST_F(CameraTest, FirstPersonPitchStaysWithinHalfATurn)
{
    auto* camera = Make<C_FirstFaceCamera>(L"C_FirstFaceCamera", L"look", L"");
    auto& common = C_BaseObject::CommonData();
    camera->Update();
    common.Input.Mouse.rgbButtons[1] = 0x80;
    for (int i = 0; i < 5; ++i) {
        common.MouseY += 10000;
        common.Time += 16;
        camera->Update();
        EXPECT_LE(camera->A, 3.1415927f);
    }
    EXPECT_EQ(camera->A, 3.1415927f);
    common.MouseY -= 100000;
    common.Time += 16;
    camera->Update();
    EXPECT_EQ(camera->A, 0.0f);
}

TEST_F(CameraTest, TwoWalkingCamerasBothMove)
{
    auto* first = Make<C_FirstFaceCamera>(L"C_FirstFaceCamera", L"first", L"");
    auto* second = Make<C_FirstFaceCamera>(L"C_FirstFaceCamera", L"second", L"");
    auto& common = C_BaseObject::CommonData();
    first->Update();
    second->Update();
    common.Input.Keyboard[0x11] = 0x80;
    common.Time += 100;
    first->Update();
    second->Update();
    EXPECT_NE(first->Y, 0.0f);
    EXPECT_EQ(second->Y, first->Y);
}

TEST_F(CameraTest, OrbitZoomsWithTheWheelAndIgnoresMouseJumps)
{
    auto* camera = Make<C_OperatedMouseCamera>(L"C_OperatedMouseCamera", L"orbit", L"");
    EXPECT_EQ(camera->Z, 50.0f);
    EXPECT_FLOAT_EQ(camera->A, -2.3f);
    auto& common = C_BaseObject::CommonData();
    common.MouseWheel = 120;
    camera->Update();
    EXPECT_FLOAT_EQ(camera->Z, 50.0f * 0.976f);
    common.MouseWheel = 0;
    common.Input.Mouse.rgbButtons[0] = 0x80;
    common.MouseX += 10;   // a jump, not a drag
    camera->Update();
    EXPECT_EQ(camera->X, 0.0f);
    common.MouseX += 4;
    common.MouseY += 2;
    camera->Update();
    EXPECT_FLOAT_EQ(camera->X, 4.0f * camera->Z * 0.001f);
    EXPECT_FLOAT_EQ(camera->Y, -2.0f * camera->Z * 0.001f);
    EXPECT_EQ(camera->View._43, camera->Z) << "the view is the placement itself";
    common.Input.Mouse.rgbButtons[0] = 0;
    common.Input.Mouse.rgbButtons[1] = 0x80;
    common.MouseX += 20;
    camera->Update();
    EXPECT_FLOAT_EQ(camera->A, -2.3f - 0.1f);
}

TEST_F(CameraTest, GuiCameraMapsOneUnitToOnePixel)
{
    auto* camera = Make<C_GUICamera>(L"C_GUICamera", L"gui", L"");
    const float d = 600.0f / (2.0f * std::tan(0.5235988f / 2.0f));
    EXPECT_NEAR(d, 1119.6f, 0.05f);
    EXPECT_FLOAT_EQ(camera->View._43, d);
    EXPECT_FLOAT_EQ(camera->NearPlane, 0.1f);
    EXPECT_FLOAT_EQ(camera->FarPlane, d + 5000.0f);
    // The pick ray through the right edge's middle meets z = 0 half a width
    // to the right; through the top middle half a height up.
    auto& common = C_BaseObject::CommonData();
    common.MouseX = 800;
    common.MouseY = 300;
    camera->Update();
    EXPECT_NEAR(camera->PickDirection.x / camera->PickDirection.z * d, 400.0f, 0.01f);
    EXPECT_NEAR(camera->PickDirection.y, 0.0f, 1e-3);
    common.MouseX = 400;
    common.MouseY = 0;
    camera->Update();
    EXPECT_NEAR(camera->PickDirection.y / camera->PickDirection.z * d, 300.0f, 0.01f);
    EXPECT_NEAR(camera->GetPosition().z, -d, 0.01f);
}

TEST_F(CameraTest, FrustumPlanesCullAndTheCameraOpensItsQueue)
{
    auto* camera = Make<C_GUICamera>(L"C_GUICamera", L"gui", L"");
    camera->AddToRenderQueue();
    EXPECT_EQ(C_BaseObject::CommonData().CurrentCamera, camera);
    ASSERT_EQ(C_QueueRendering::Instance().Queues.size(), 1u);
    EXPECT_EQ(C_QueueRendering::Instance().Queues[0]->Camera, camera);
    EXPECT_GE(C_BaseObject::FrustumTest(D3DXVECTOR3(0, 0, 0), 1.0f), 0.0f);
    EXPECT_GE(C_BaseObject::FrustumTest(D3DXVECTOR3(390, 0, 0), 1.0f), 0.0f);
    EXPECT_LT(C_BaseObject::FrustumTest(D3DXVECTOR3(450, 0, 0), 1.0f), 0.0f);
    EXPECT_LT(C_BaseObject::FrustumTest(D3DXVECTOR3(0, 0, -2000), 1.0f), 0.0f);   // behind the camera
    EXPECT_EQ(C_BaseObject::FrustumTest(D3DXVECTOR3(0, 0, -2000), 0.0f), 0.0f);   // radius 0 is never culled
    // Tangent from outside: the distance to the left plane equals minus the radius.
    const D3DXPLANE& left = C_BaseObject::CommonData().FrustumPlanes[1];
    EXPECT_NEAR(std::sqrt(left.a * left.a + left.b * left.b + left.c * left.c), 1.0f, 1e-5);
    const D3DXVECTOR3 onPlane(-400.0f, 0.0f, 0.0f);
    const float d = left.a * onPlane.x + left.b * onPlane.y + left.c * onPlane.z + left.d;
    const D3DXVECTOR3 outside = onPlane - D3DXVECTOR3(left.a, left.b, left.c) * (d + 2.0f);
    EXPECT_LT(C_BaseObject::FrustumTest(outside, 2.0f), 0.0f);
}

TEST_F(CameraTest, ViewportContainsItsEdges)
{
    Lines({L"HalfViewport = 0.5; 0; 1; 0.5"});
    auto* camera = Make<C_GUICamera>(L"C_GUICamera", L"half", L"HalfViewport");
    EXPECT_TRUE(camera->ViewportContains(400, 0));
    EXPECT_TRUE(camera->ViewportContains(800, 300));
    EXPECT_FALSE(camera->ViewportContains(399, 10));
    EXPECT_FALSE(camera->ViewportContains(500, 301));
}

TEST_F(CameraTest, ScriptCoordinatesByAxisName)
{
    auto* camera = Make<C_BaseCamera>(L"C_GUICamera", L"gui", L"");
    const double id = C_BaseObject::ToID(camera);
    const char* axes[] = {"X", "Y", "Z", "A", "B", "C"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(C_BaseCamera::SetCameraCoord(id, axes[i], i + 0.5), 0.0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(C_BaseCamera::GetCameraCoord(id, axes[i]), i + 0.5);
    EXPECT_FALSE(Logged(L"ось"));
    EXPECT_EQ(C_BaseCamera::SetCameraCoord(id, "x", 9.0), 0.0);
    EXPECT_EQ(camera->X, 0.5f);
    EXPECT_EQ(C_BaseCamera::GetCameraCoord(id, "W"), 0.0);
    EXPECT_EQ(CountLogged(L"warning:\tC_BaseCamera::SetCameraCoord(): неправильно задана ось\n"), 2u);
    EXPECT_EQ(C_BaseCamera::SetCameraCoord(0.0, "Q", 1.0), 0.0);
    EXPECT_EQ(C_BaseCamera::GetCameraCoord(0.0, "X"), 0.0);
    EXPECT_EQ(CountLogged(L"ось"), 2u) << "a null handle logs nothing";
}

TEST_F(CameraTest, ModulesListCamerasAndTheMarkerIsDrawnFirst)
{
    auto* module = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"m", L""));
    auto* camera = Make<C_BaseCamera>(L"C_GUICamera", L"gui", L"");
    module->AddToModule(camera);
    EXPECT_EQ(module->Cameras.size(), 1u);
    EXPECT_TRUE(module->empty());
    C_BaseObject* marker = C_FromFactory(L"C_CameraPositionObject").Create();
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->GetDistance(camera), 1e37f);
    EXPECT_NE(dynamic_cast<ContainedInModule*>(marker), nullptr);
    marker->ReleaseToPool();
}

TEST_F(CameraTest, MovingCamerasStandWhereTheirValueStringPutsThemFromTheFirstFrame)
{
    Lines({L"WalkAt = 3; -4; 12", L"WalkLook = 1.2; 0; 0.4", L"OrbitAt = 1; 2; 30", L"OrbitLook = -2.3; -2.3; 0"});
    auto* module = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"walking", L""));
    auto* walk = Make<C_FirstFaceCamera>(L"C_FirstFaceCamera", L"walk", L";;; WalkAt; WalkLook");
    module->AddToModule(walk);
    auto* object = static_cast<TestObject*>(Managers().AddResource(L"TestObject", L"thing", L""));
    object->SetPosition(D3DXVECTOR3(3.0f, -4.0f, 2.0f));
    module->AddToModule(object);
    auto& common = C_BaseObject::CommonData();

    // First and second frames: the module measures from the placed camera,
    // not from the origin.
    module->Update();
    EXPECT_NEAR(walk->GetPosition().x, 3.0f, 1e-4);
    EXPECT_NEAR(walk->GetPosition().y, -4.0f, 1e-4);
    EXPECT_NEAR(walk->GetPosition().z, 12.0f, 1e-4);
    EXPECT_NEAR(object->GetDistance(walk), 10.0f, 1e-3);
    common.Time += 16;
    module->Update();
    EXPECT_NEAR(object->GetDistance(walk), 10.0f, 1e-3);
    EXPECT_NEAR(walk->GetPosition().z, 12.0f, 1e-4);

    // A script moving a standing camera is seen at the next frame.
    walk->Z = 7.0f;
    module->Update();
    EXPECT_NEAR(object->GetDistance(walk), 5.0f, 1e-3);

    auto* orbit = Make<C_OperatedMouseCamera>(L"C_OperatedMouseCamera", L"orbit", L";;; OrbitAt; OrbitLook");
    orbit->Update();
    D3DXMATRIX placement;
    D3DXMatrixRotationYawPitchRoll(&placement, 0.0f, -2.3f, -2.3f);
    placement._41 = 1.0f;
    placement._42 = 2.0f;
    placement._43 = 30.0f;
    D3DXMATRIX inverse;
    ASSERT_NE(D3DXMatrixInverse(&inverse, nullptr, &placement), nullptr);
    EXPECT_NEAR(orbit->GetPosition().x, inverse._41, 1e-3);
    EXPECT_NEAR(orbit->GetPosition().y, inverse._42, 1e-3);
    EXPECT_NEAR(orbit->GetPosition().z, inverse._43, 1e-3);
    EXPECT_GT(std::fabs(orbit->GetPosition().z), 1.0f) << "not the origin";
}
