#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "engine_support/ObjectTestClasses.h"

#include <algorithm>
#include <set>

namespace {

// The class names of the engine, all 50 of them.
const std::set<std::wstring> kEngineClasses = {
    L"C_CameraPositionObject", L"C_MainWindowName", L"C_VectorBox", L"C_BaseModule", L"C_BaseText2D",
    L"C_RenderState", L"C_SamplerState", L"C_D3DLIGHT9_DIRECTIONAL", L"C_D3DLIGHT9_POINT",
    L"C_D3DMATERIAL9", L"C_D3DTEXTURE9", L"C_D3DTextureEx9", L"C_D3DTextureSize9", L"C_D3DX9FONT",
    L"C_D3DXMESH9_BOX", L"C_D3DXMESH9_CYLINDER", L"C_D3DXMESH9_SPHERE", L"C_D3DXMESH9_TEXT",
    L"C_D3DXMESH9_XFILE", L"C_D3DXPMESH9_XFILE", L"C_D3DXSTRING", L"C_D3DXEFFECT", L"C_D3DXMESH9_LOD",
    L"C_Surface9", L"C_SurfaceBegin", L"C_SurfaceEnd", L"C_PureResource", L"C_FinalRenderObject",
    L"C_D3DXMESH9_TERRAIN", L"C_IndexTerrain", L"C_TerrainSection", L"C_TerrainSection2",
    L"C_TerrainRoam", L"C_PositionObject", L"C_TiedPositionObject", L"C_AxisMoveObject",
    L"C_MeshSkybox", L"C_MeshSkybox2", L"C_FirstFaceCamera", L"C_OperatedMouseCamera", L"C_GUICamera",
    L"C_BaseGUIObject", L"C_GUIMouseMove", L"C_GUIHtmlOutput", L"C_Particles", L"C_LoadScreen",
    L"C_CalculateFPS", L"C_DrawInformation", L"C_SemitransparentSphere", L"C_TestCGS"};

C_BaseObject* Dummy() { return nullptr; }

} // namespace

TEST(ClassRegistry, RegisteredNamesAreEngineClassesOrTestClasses)
{
    const std::vector<std::wstring> names = C_FromFactory::RegisteredNames();
    for (const std::wstring& name : names)
        EXPECT_TRUE(kEngineClasses.count(name) || name.rfind(L"Test", 0) == 0) << std::string(name.begin(), name.end());
    // The classes of the object model itself are always there.
    EXPECT_TRUE(C_FromFactory::IsRegistered(L"C_BaseModule"));
    EXPECT_TRUE(C_FromFactory::IsRegistered(L"C_D3DXSTRING"));
    std::vector<std::string> engine;
    for (const std::wstring& name : names)
        if (kEngineClasses.count(name)) engine.emplace_back(name.begin(), name.end());
    RecordProperty("EngineClassesRegistered", static_cast<int>(engine.size()));
    std::string list;
    for (const std::string& name : engine) list += name + " ";
    std::cout << "Registered engine classes (" << engine.size() << " of 50): " << list << "\n";
    EXPECT_EQ(kEngineClasses.size(), 50u);
    EXPECT_EQ(engine.size(), kEngineClasses.size()) << "every engine class is registered";
}

TEST(ClassRegistry, CreatesByNameAndRefusesUnknownOrEmptyNames)
{
    C_BaseObject* object = C_FromFactory(L"C_BaseModule").Create();
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(object->GetClassName(), L"C_BaseModule");
    EXPECT_NE(dynamic_cast<C_BaseModule*>(object), nullptr);
    object->ReleaseToPool();

    EXPECT_EQ(C_FromFactory(L"").Create(), nullptr);
    EXPECT_EQ(C_FromFactory(nullptr).Create(), nullptr);
    EXPECT_EQ(C_FromFactory(L"C_NoSuchClass").Create(), nullptr);
    EXPECT_EQ(C_FromFactory(L"c_basemodule").Create(), nullptr);   // names are case-sensitive
}

TEST(ClassRegistry, TheFirstRegistrationOfANameWins)
{
    C_FromFactory::Register(L"TestObject", &Dummy);
    C_BaseObject* object = C_FromFactory(L"TestObject").Create();
    ASSERT_NE(object, nullptr);
    EXPECT_NE(dynamic_cast<TestObject*>(object), nullptr);
    object->ReleaseToPool();
}

TEST(ClassRegistry, ARegisteredNameMayDifferFromTheTypeName)
{
    C_BaseObject* object = C_FromFactory(L"C_PureResource").Create();
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(object->GetClassName(), L"C_PureResource");
    object->ReleaseToPool();
}

class ClassPool : public ::testing::Test {
protected:
    void SetUp() override { C_ClassPool<TestMesh>::Clear(); }
    void TearDown() override { C_ClassPool<TestMesh>::Clear(); }
    static C_BaseObject* Make() { return C_FromFactory(L"TestMesh").Create(); }
    static auto& Pool() { return C_ClassPool<TestMesh>::GetPool(); }
};

TEST_F(ClassPool, ThirtyTwoObjectsFillOneBlockAndTheThirtyThirdAddsAnother)
{
    std::vector<C_BaseObject*> objects;
    for (int i = 0; i < 32; ++i) objects.push_back(Make());
    EXPECT_EQ(Pool().BlockCount(), 1u);
    EXPECT_EQ(Pool().FreeCount(), 0u);
    // The highest slot goes first; slots of one block are contiguous.
    for (int i = 1; i < 32; ++i)
        EXPECT_LT(reinterpret_cast<char*>(objects[i]), reinterpret_cast<char*>(objects[i - 1]));
    objects.push_back(Make());
    EXPECT_EQ(Pool().BlockCount(), 2u);
    EXPECT_EQ(Pool().FreeCount(), 31u);
    for (C_BaseObject* object : objects) object->ReleaseToPool();
    EXPECT_EQ(Pool().FreeCount(), 64u);
    EXPECT_EQ(Pool().BlockCount(), 2u);   // blocks stay until the pool is cleared
}

TEST_F(ClassPool, AReleasedSlotIsTheNextOneHandedOut)
{
    C_BaseObject* a = Make();
    C_BaseObject* b = Make();
    C_BaseObject* c = Make();
    b->ReleaseToPool();
    EXPECT_FALSE(C_BaseObject::IsLive(b));
    C_BaseObject* d = Make();
    EXPECT_EQ(d, b);
    EXPECT_TRUE(C_BaseObject::IsLive(d));
    a->ReleaseToPool();
    c->ReleaseToPool();
    d->ReleaseToPool();
}

TEST_F(ClassPool, ClearPoolDestroysEveryObjectAndALaterReleaseChangesNothing)
{
    const int destroyedBefore = TestObject::Destroyed;
    C_BaseObject* first = C_FromFactory(L"TestObject").Create();
    C_BaseObject* second = C_FromFactory(L"TestObject").Create();
    first->ClearPool();
    EXPECT_EQ(TestObject::Destroyed, destroyedBefore + 2);
    EXPECT_FALSE(C_BaseObject::IsLive(second));
    EXPECT_EQ(C_ClassPool<TestObject>::GetPool().BlockCount(), 0u);
    // Releasing an object whose pool was cleared does not touch the free list
    // nor run its destructor again.
    static_cast<TestObject*>(second)->TestObject::ReleaseToPool();
    EXPECT_EQ(C_ClassPool<TestObject>::GetPool().FreeCount(), 0u);
    EXPECT_EQ(TestObject::Destroyed, destroyedBefore + 2);
    // The pool starts again from scratch.
    C_BaseObject* again = C_FromFactory(L"TestObject").Create();
    EXPECT_EQ(C_ClassPool<TestObject>::GetPool().BlockCount(), 1u);
    again->ReleaseToPool();
}
