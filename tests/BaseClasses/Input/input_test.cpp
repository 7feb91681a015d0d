#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "engine_support/ObjectTestClasses.h"

#include "BaseClasses/BaseInput.h"
#include "port/dinput8/dinput.h"
#include "port/dinput8/dinput_hooks.h"

// ---------------------------------------------------------------------------
// DirectInput reading

class InputTest : public ::testing::Test {
protected:
    void SetUp() override { PortInputClearInjected(); }
    void TearDown() override { PortInputClearInjected(); }
    C_BaseInput input;
};

TEST_F(InputTest, KeyboardAndMouseAreReadOncePerCallAfterInitialisation)
{
    // Before initialisation nothing is read.
    PortInputInjectKey(DIK_W, true);
    input.ReadKeyboard();
    EXPECT_FALSE(input.KeyDown(DIK_W));
    EXPECT_LT(input.InitResult, 0);

    input.Initialise(nullptr);
    ASSERT_EQ(input.InitResult, 0);
    input.ReadKeyboard();
    EXPECT_TRUE(input.KeyDown(DIK_W));
    EXPECT_FALSE(input.KeyDown(DIK_S));
    PortInputInjectKey(DIK_W, false);
    input.ReadKeyboard();
    EXPECT_FALSE(input.KeyDown(DIK_W));

    PortInputInjectMouseMotion(5, -3, 120);
    PortInputInjectMouseButton(1, true);
    input.ReadMouse();
    EXPECT_EQ(input.Mouse.lX, 5);
    EXPECT_EQ(input.Mouse.lY, -3);
    EXPECT_EQ(input.Mouse.lZ, 120);
    EXPECT_FALSE(input.MouseButtonDown(0));
    EXPECT_TRUE(input.MouseButtonDown(1));
    input.ReadMouse();   // motion is relative: nothing moved since
    EXPECT_EQ(input.Mouse.lX, 0);
    EXPECT_TRUE(input.MouseButtonDown(1));
}

TEST_F(InputTest, LostInputIsAcquiredAgainAndReadInTheSameFrame)
{
    input.Initialise(nullptr);
    ASSERT_EQ(input.InitResult, 0);
    input.ReadKeyboard();
    PortInputInjectKey(DIK_SPACE, true);
    PortInputInjectMouseButton(0, true);
    PortInputSimulateFocusLoss();
    input.ReadKeyboard();
    EXPECT_TRUE(input.KeyDown(DIK_SPACE));
    input.ReadMouse();
    EXPECT_TRUE(input.MouseButtonDown(0));

    // A device that was unacquired behind our back is acquired again too.
    input.MouseDevice->Unacquire();
    PortInputInjectMouseMotion(7, 0, 0);
    input.ReadMouse();
    EXPECT_EQ(input.Mouse.lX, 0);   // motion while unacquired is not counted
    PortInputInjectMouseMotion(2, 0, 0);
    input.ReadMouse();
    EXPECT_EQ(input.Mouse.lX, 2);

    // Initialising again starts over with fresh devices; releasing stops reading.
    input.Initialise(nullptr);
    EXPECT_EQ(input.InitResult, 0);
    input.Release();
    EXPECT_EQ(input.KeyboardDevice, nullptr);
    EXPECT_LT(input.InitResult, 0);
    input.ReadKeyboard();
    input.ReadMouse();
}

// ---------------------------------------------------------------------------
// Picking

class PickTest : public ObjectModelTest {
protected:
    TestObject* Object(const wchar_t* name, float x, float y, float z, float radius)
    {
        auto* object = static_cast<TestObject*>(Managers().AddResource(L"TestObject", name, L""));
        object->Position = D3DXVECTOR3(x, y, z);
        object->Radius = radius;
        object->BoxMinOffset = D3DXVECTOR3(-radius, -radius, -radius);
        object->BoxMaxOffset = D3DXVECTOR3(radius, radius, radius);
        return object;
    }
    // Looking along +Z from the origin.
    const D3DXVECTOR3 origin{0.0f, 0.0f, 0.0f};
    const D3DXVECTOR3 ahead{0.0f, 0.0f, 1.0f};
};

TEST_F(PickTest, TheNearestCentreAmongTheHitsIsPicked)
{
    TestObject* far = Object(L"far", 0, 0, 20, 5);
    TestObject* nearer = Object(L"near", 0.5f, 0, 10, 5);
    TestObject* beside = Object(L"beside", 30, 0, 1, 2);   // not on the ray
    EXPECT_EQ(C_BaseInput::PickObject({far, nearer, beside}, origin, ahead), nearer);
    EXPECT_EQ(C_BaseInput::PickObject({nearer, far, beside}, origin, ahead), nearer);
    EXPECT_EQ(C_BaseInput::PickObject({far}, origin, ahead), far);
    EXPECT_EQ(C_BaseInput::PickObject({beside}, origin, ahead), nullptr);
    EXPECT_EQ(C_BaseInput::PickObject({}, origin, ahead), nullptr);

    // Equal distances: the earlier object in the list.
    TestObject* left = Object(L"left", -1, 0, 10, 3);
    TestObject* right = Object(L"right", 1, 0, 10, 3);
    EXPECT_EQ(C_BaseInput::PickObject({left, right}, origin, ahead), left);
    EXPECT_EQ(C_BaseInput::PickObject({right, left}, origin, ahead), right);
}

TEST_F(PickTest, ObjectsWithoutRadiusAreNeverPickedAndBoxBoundObjectsUseTheirBox)
{
    TestObject* point = Object(L"point", 0, 0, 5, 0);
    point->BoxMinOffset = D3DXVECTOR3(-10, -10, -10);
    point->BoxMaxOffset = D3DXVECTOR3(10, 10, 10);
    TestObject* behind = Object(L"behind", 0, 0, 50, 1);
    EXPECT_EQ(C_BaseInput::PickObject({point}, origin, ahead), nullptr);
    EXPECT_EQ(C_BaseInput::PickObject({point, behind}, origin, ahead), behind);

    // A long bar beside the ray: its sphere (radius 1) misses, its box reaches
    // across the ray.
    TestObject* bar = Object(L"bar", 3, 0, 10, 1);
    bar->BoxMinOffset = D3DXVECTOR3(-5, -0.5f, -0.5f);
    bar->BoxMaxOffset = D3DXVECTOR3(5, 0.5f, 0.5f);
    EXPECT_EQ(C_BaseInput::PickObject({bar}, origin, ahead), nullptr);
    bar->SphereBound = false;
    EXPECT_EQ(C_BaseInput::PickObject({bar}, origin, ahead), bar);

    // Near a corner of a box: rays just inside and just outside it, both
    // inside the sphere around the box, are told apart by the box; a ray
    // far away misses.
    TestObject* cube = Object(L"cube", 0, 0, 10, 1);
    cube->SphereBound = false;
    cube->BoxMinOffset = D3DXVECTOR3(-1, -1, -1);
    cube->BoxMaxOffset = D3DXVECTOR3(1, 1, 1);
    EXPECT_EQ(C_BaseInput::PickObject({cube}, D3DXVECTOR3(0.99f, 0.99f, 0), ahead), cube);
    EXPECT_EQ(C_BaseInput::PickObject({cube}, D3DXVECTOR3(1.01f, 1.01f, 0), ahead), nullptr);
    EXPECT_EQ(C_BaseInput::PickObject({cube}, D3DXVECTOR3(1.5f, 1.5f, 0), ahead), nullptr);
    EXPECT_EQ(C_BaseInput::PickObject({cube}, D3DXVECTOR3(40, 0, 0), ahead), nullptr);
    // Towards the corner from the side.
    const D3DXVECTOR3 slant(1.0f, 1.0f, 10.0f);
    EXPECT_EQ(C_BaseInput::PickObject({cube}, D3DXVECTOR3(0, 0, 0), slant), cube);
}
