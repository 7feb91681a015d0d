#include "engine_support/ObjectTestClasses.h"

// Cameras belong to the rendering code; here a stand-in object plays the
// camera through the hooks a module uses, and C_BaseCamera stays opaque.

namespace {

class FakeCamera : public C_BaseResource, public ContainedInModule {
public:
    void Update() override { ++Updates; }
    void AddToRenderQueue() override { ++Queued; }
    int Updates = 0;
    int Queued = 0;
    int Left = 0, Top = 0, Width = 100, Height = 100;
    C_BaseObject* UnderCursor = nullptr;
};

FakeCamera* Fake(C_BaseCamera* camera) { return reinterpret_cast<FakeCamera*>(camera); }

C_BaseCamera* AsCamera(C_BaseObject* object)
{
    auto* camera = dynamic_cast<FakeCamera*>(object);
    return camera ? reinterpret_cast<C_BaseCamera*>(camera) : nullptr;
}
C_BaseObject* CameraObject(C_BaseCamera* camera) { return Fake(camera); }
bool ViewportContains(C_BaseCamera* camera, int32_t x, int32_t y)
{
    const FakeCamera* c = Fake(camera);
    return x >= c->Left && y >= c->Top && x <= c->Left + c->Width && y <= c->Top + c->Height;
}
void SetUnderCursor(C_BaseCamera* camera, C_BaseObject* object) { Fake(camera)->UnderCursor = object; }

C_BaseObject* g_Pick = nullptr;
C_BaseCamera* g_PickedThrough = nullptr;
C_BaseObject* Pick(C_BaseModule*, C_BaseCamera* camera)
{
    g_PickedThrough = camera;
    return g_Pick;
}

std::vector<C_BaseObject*>& Queued()
{
    static std::vector<C_BaseObject*> queued;
    return queued;
}
void Queue(C_BaseObject* object) { Queued().push_back(object); }

} // namespace

class ModuleCameraTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        C_BaseModule::CameraSupport = {&AsCamera, &CameraObject, &ViewportContains, &SetUnderCursor};
        C_BaseModule::PickObject = &Pick;
        C_BaseObject::RenderQueueInsert = &Queue;
        Queued().clear();
        g_Pick = nullptr;
        g_PickedThrough = nullptr;
        auto& common = C_BaseObject::CommonData();
        for (D3DXPLANE& plane : common.FrustumPlanes) plane = D3DXPLANE(0, 0, 0, 0);
        common.Input.Mouse.rgbButtons[0] = common.Input.Mouse.rgbButtons[1] = 0;
        module = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"m", L""));
        for (int i = 0; i < 10; ++i) {
            auto* o = static_cast<TestObject*>(Managers().AddResource(L"TestObject", (L"o" + std::to_wstring(i)).c_str(), L""));
            o->Position = D3DXVECTOR3(float(i) * 20.0f, 0, 0);   // o0..o4 within 100 of the origin
            o->Radius = 1;
            objects.push_back(o);
            module->AddToModule(o);
        }
    }
    void TearDown() override
    {
        for (FakeCamera* camera : cameras) delete camera;
        ObjectModelTest::TearDown();
    }
    FakeCamera* AddCamera()
    {
        auto* camera = new FakeCamera;
        cameras.push_back(camera);
        EXPECT_TRUE(module->AddToModule(camera));
        return camera;
    }

    C_BaseModule* module = nullptr;
    std::vector<TestObject*> objects;
    std::vector<FakeCamera*> cameras;
};

TEST_F(ModuleCameraTest, EachObjectMeasuresItsDistanceToEachCameraOncePerFrame)
{
    module->Update();
    for (TestObject* o : objects) EXPECT_EQ(o->DistanceCalls, 0);   // no cameras: no distances
    for (TestObject* o : objects) EXPECT_EQ(o->Updates, 1);          // and everything updates

    FakeCamera* camera = AddCamera();
    // Cameras are counted but listed apart from the objects.
    EXPECT_EQ(module->Cameras.size(), 1u);
    EXPECT_EQ(module->size(), 10u);
    EXPECT_EQ(camera->ReferenceCount, 1);
    module->Update();
    for (TestObject* o : objects) EXPECT_EQ(o->DistanceCalls, 1);
    EXPECT_EQ(camera->Updates, 1);
    EXPECT_FLOAT_EQ(objects[3]->GetDistance(camera), 60.0f);
}

TEST_F(ModuleCameraTest, WithCamerasOnlyObjectsNearACameraAreUpdated)
{
    FakeCamera* camera = AddCamera();
    module->Update();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(objects[i]->Updates, i < 5 ? 1 : 0) << i;
    // A second camera far along the axis brings the far objects in.
    FakeCamera* second = AddCamera();
    second->Position = D3DXVECTOR3(180, 0, 0);
    module->Update();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(objects[i]->Updates, i < 5 ? 2 : 1) << i;
    (void)camera;
}

TEST_F(ModuleCameraTest, TheObjectUnderTheCursorGetsItsStatusFromTheButtons)
{
    FakeCamera* left = AddCamera();
    FakeCamera* right = AddCamera();
    right->Left = 100;
    auto& common = C_BaseObject::CommonData();
    common.MouseX = 100;   // on the shared edge: the last camera wins
    common.MouseY = 50;
    objects[1]->CursorStatus.Value = 3;
    g_Pick = objects[2];
    module->AddToRenderQueue();
    EXPECT_EQ(g_PickedThrough, reinterpret_cast<C_BaseCamera*>(right));
    EXPECT_EQ(objects[2]->CursorStatus.Value, 1);
    EXPECT_EQ(objects[1]->CursorStatus.Value, 0);
    EXPECT_EQ(right->UnderCursor, objects[2]);
    EXPECT_EQ(left->UnderCursor, nullptr);
    EXPECT_EQ(C_BaseObject::GetCursorStatus(C_BaseObject::ToID(objects[2])), 1.0);

    common.Input.Mouse.rgbButtons[1] = 0x80;
    module->AddToRenderQueue();
    EXPECT_EQ(objects[2]->CursorStatus.Value, 3);
    common.Input.Mouse.rgbButtons[0] = 0x80;
    module->AddToRenderQueue();
    EXPECT_EQ(objects[2]->CursorStatus.Value, 2);
    common.Input.Mouse.rgbButtons[0] = common.Input.Mouse.rgbButtons[1] = 0;

    // Outside every viewport nothing is picked and every status is 0.
    common.MouseX = 500;
    g_PickedThrough = nullptr;
    module->AddToRenderQueue();
    EXPECT_EQ(g_PickedThrough, nullptr);
    EXPECT_EQ(objects[2]->CursorStatus.Value, 0);
}

TEST_F(ModuleCameraTest, EveryCameraQueuesTheObjectsInsideItsFrustum)
{
    FakeCamera* first = AddCamera();
    FakeCamera* second = AddCamera();
    module->Update();
    module->AddToRenderQueue();
    EXPECT_EQ(first->Queued, 1);
    EXPECT_EQ(second->Queued, 1);
    EXPECT_EQ(Queued().size(), 20u);
    objects[0]->SetStatus(C_BaseObject::NotRender);
    Queued().clear();
    module->AddToRenderQueue();
    EXPECT_EQ(Queued().size(), 18u);
}

TEST_F(ModuleCameraTest, ModuleDistancesPassThroughToTheObjects)
{
    AddCamera();
    TestObject* probe = objects[4];
    module->ClearDistances();
    EXPECT_TRUE(module->Near);
    EXPECT_FALSE(probe->Near);
    module->CalcDistance(objects[0]);
    EXPECT_TRUE(probe->Near);
    EXPECT_TRUE(module->Distances.empty());
    module->SetStatus(C_BaseObject::Disabled);
    module->ClearDistances();
    EXPECT_TRUE(probe->Near);   // a disabled module leaves its objects alone
}
