#include "engine_support/ObjectTestClasses.h"

#include <algorithm>
#include <vector>

#include "Render/Resources/D3DXSTRING.h"

class ResManagerTest : public ObjectModelTest {};

TEST_F(ResManagerTest, UnknownAndEmptyNamesGetNumberedNames)
{
    C_BaseResource* first = Managers().AddResource(L"TestState", L"Unknown", L"");
    C_BaseResource* second = Managers().AddResource(L"TestState", L"", L"");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first, second);
    ASSERT_EQ(first->Name.rfind(L"Unknown", 0), 0u);
    const int n = std::stoi(first->Name.substr(7));
    EXPECT_EQ(second->Name, L"Unknown" + std::to_wstring(n + 1));
}

TEST_F(ResManagerTest, AnExistingNameGivesTheExistingObjectWithItsValue)
{
    C_BaseResource* a = Managers().AddResource(L"TestState", L"Name", L"first");
    C_BaseResource* b = Managers().AddResource(L"TestState", L"Name", L"second");
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->Value, L"first");
    // The same name in another class is another object.
    C_BaseResource* c = Managers().AddResource(L"TestMesh", L"Name", L"third");
    EXPECT_NE(a, c);
    EXPECT_EQ(Managers().GetResource(L"Name", L"TestMesh", true), c);
    EXPECT_EQ(Managers().GetResource(L"Name", L"TestState", true), a);
}

TEST_F(ResManagerTest, UnknownClassesWarnAndLeaveNoManagerBehind)
{
    EXPECT_EQ(Managers().AddResource(L"C_NoSuchClass", L"x", L""), nullptr);
    EXPECT_TRUE(Logged(L"не создан объект ресурса: x"));
    EXPECT_EQ(Managers().AddResource(L"TestNotResource", L"y", L""), nullptr);
    EXPECT_TRUE(Logged(L"не создан объект ресурса: y"));
    EXPECT_EQ(Managers().GetManager(L"C_NoSuchClass"), nullptr);
    EXPECT_TRUE(Managers().empty());
    // The refused non-resource went back to its pool.
    EXPECT_EQ(C_ClassPool<TestNotResource>::GetPool().FreeCount(), 32u);
    // Many unknown elements do not pile up managers.
    for (int i = 0; i < 100; ++i) Managers().AddResource(L"C_NoSuchClass", L"z", L"");
    EXPECT_TRUE(Managers().empty());
}

TEST_F(ResManagerTest, LookupsWarnAsSpecifiedWhenNothingIsFound)
{
    Managers().AddResource(L"TestMesh", L"Box", L"");
    EXPECT_EQ(Managers().GetResource(L"Box", L"C_Missing", false), nullptr);
    EXPECT_FALSE(Logged(L"Запрос типа ресурса"));
    EXPECT_EQ(Managers().GetResource(L"Box", L"C_Missing", true), nullptr);
    EXPECT_TRUE(Logged(L"Запрос типа ресурса, которых не было добавлено: Box\r\n"));
    EXPECT_EQ(Managers().GetResource(L"Box", nullptr, true), nullptr);
    EXPECT_EQ(Managers().GetResource(L"Nothing"), nullptr);
    EXPECT_TRUE(Logged(L"Запрос ресурса, которого не было добавлено: Nothing\r\n"));
    EXPECT_NE(Managers().GetResource(L"Box"), nullptr);
}

TEST_F(ResManagerTest, ManagersLoadInDescendingLevelOneStepAtATime)
{
    Managers().AddResource(L"TestState", L"state", L"");
    Managers().AddResource(L"TestMesh", L"mesh2", L"");
    Managers().AddResource(L"TestMesh", L"mesh1", L"");
    Managers().AddResource(L"C_BaseModule", L"module", L"");
    ASSERT_EQ(Managers().size(), 3u);
    EXPECT_EQ(Managers()[0]->ClassName, L"C_BaseModule");
    EXPECT_EQ(Managers()[1]->ClassName, L"TestMesh");
    EXPECT_EQ(Managers()[2]->ClassName, L"TestState");

    auto* device = reinterpret_cast<IDirect3DDevice9*>(0x1000);
    EXPECT_TRUE(Managers().Load(device));
    EXPECT_EQ(Managers().Progress(), L"33%");
    EXPECT_TRUE(TestMesh::LoadOrder().empty());
    EXPECT_TRUE(Managers().Load(device));
    EXPECT_EQ(TestMesh::LoadOrder(), (std::vector<std::wstring>{L"mesh1", L"mesh2"}));   // name order
    EXPECT_EQ(Managers().Progress(), L"66%");
    EXPECT_EQ(Managers().LoadingClass, L"TestMesh");
    EXPECT_TRUE(Managers().Load(device));
    EXPECT_EQ(Managers().Progress(), L"100%");
    EXPECT_EQ(C_ResManager::CurrentDevice, nullptr);
    EXPECT_FALSE(Managers().Load(device));   // the fourth call ends the run
    EXPECT_EQ(C_ResManager::CurrentDevice, device);
    EXPECT_EQ(Managers().LoadIndex, 0);
    EXPECT_EQ(TestMesh::LoadOrder().size(), 3u);
}

TEST_F(ResManagerTest, ManagersMadeWhileANegativeLevelLoadsAreSkippedOver)
{
    auto* surface = static_cast<TestSurface*>(Managers().AddResource(L"TestSurface", L"s", L""));
    Managers().AddResource(L"TestMesh", L"mesh", L"");
    TestSurface::MakesOnLoad = L"TestState";   // a new level-0 manager lands before the surfaces
    EXPECT_TRUE(Managers().Load(nullptr));
    EXPECT_TRUE(Managers().Load(nullptr));
    TestSurface::MakesOnLoad.clear();
    EXPECT_EQ(Managers().size(), 3u);
    EXPECT_EQ(Managers().LoadIndex, 3);
    EXPECT_FALSE(Managers().Load(nullptr));   // the surfaces are not loaded a second time
    EXPECT_EQ(surface->Loads, 1);
}

TEST_F(ResManagerTest, ProgressStaysAtZeroWhileOnlyThePureResourceIsLoaded)
{
    Managers().AddResource(L"C_PureResource", L"Unknown", L"");
    Managers().AddResource(L"TestMesh", L"mesh", L"");
    EXPECT_EQ(Managers().Progress(), L"0%");
    EXPECT_TRUE(Managers().Load(nullptr));
    EXPECT_EQ(Managers().LoadingClass, L"C_PureResource");
    EXPECT_EQ(Managers().Progress(), L"0%");
    EXPECT_TRUE(Managers().Load(nullptr));
    EXPECT_EQ(Managers().Progress(), L"100%");
}

TEST_F(ResManagerTest, AnEmptyManagerWarnsAndKeepsItsPlace)
{
    C_BaseResource* mesh = Managers().AddResource(L"TestMesh", L"mesh", L"");
    Managers().AddResource(L"TestState", L"state", L"");
    EXPECT_TRUE(Managers().DeleteObject(mesh));
    // The emptied manager still sorts by its level, so new managers land in order.
    Managers().AddResource(L"TestSurface", L"surface", L"");
    Managers().AddResource(L"C_BaseModule", L"module", L"");
    ASSERT_EQ(Managers().size(), 4u);
    EXPECT_EQ(Managers()[0]->ClassName, L"C_BaseModule");
    EXPECT_EQ(Managers()[1]->ClassName, L"TestMesh");
    EXPECT_EQ(Managers()[3]->ClassName, L"TestSurface");
    EXPECT_TRUE(Managers().Load(nullptr));
    EXPECT_TRUE(Managers().Load(nullptr));
    EXPECT_TRUE(Logged(L"Попытка загрузки пустого менеджера"));
}

TEST_F(ResManagerTest, DeletingARenamedObjectFailsWithTheWarning)
{
    C_BaseResource* object = Managers().AddResource(L"TestState", L"a", L"");
    Managers().AddResource(L"TestState", L"b", L"");
    Managers().AddResource(L"TestState", L"c", L"");
    object->SetName(L"z");   // the manager searches by the current name and misses it
    EXPECT_FALSE(Managers().DeleteObject(object));
    EXPECT_TRUE(Logged(L"Удаление объекта z не удалось..."));
    EXPECT_TRUE(C_BaseObject::IsLive(object));
    EXPECT_EQ(Managers().GetManager(L"TestState")->size(), 3u);
    object->SetName(L"a");
    EXPECT_TRUE(Managers().DeleteObject(object));
    EXPECT_FALSE(C_BaseObject::IsLive(object));
    EXPECT_EQ(Managers().GetResource(L"a", L"TestState", false), nullptr);
    EXPECT_EQ(Managers().GetManager(L"TestState")->size(), 2u);
}

TEST_F(ResManagerTest, DeletingAnObjectDetachesItFromOtherObjectsExtras)
{
    C_BaseResource* owner = Managers().AddResource(L"TestMesh", L"owner", L"");
    C_BaseResource* extra = Managers().AddResource(L"TestState", L"extra", L"");
    owner->ExtraObjects.push_back(extra);
    EXPECT_TRUE(Managers().DeleteObject(extra));
    EXPECT_TRUE(owner->ExtraObjects.empty());
}

TEST_F(ResManagerTest, ReleaseKeepsTheObjectsAndClearDestroysEverything)
{
    C_BaseResource* a = Managers().AddResource(L"TestObject", L"a", L"");
    a->ReferenceCount = 3;
    a->Technique = L"t";
    Managers().Load(nullptr);
    Managers().Load(nullptr);
    ASSERT_NE(C_ResManager::CurrentDevice, reinterpret_cast<IDirect3DDevice9*>(0x1));
    Managers().ReleaseDeviceObjects();
    EXPECT_EQ(Managers().GetResource(L"a", L"TestObject", false), a);
    EXPECT_EQ(a->ReferenceCount, 3);
    EXPECT_EQ(a->Technique, L"t");
    EXPECT_EQ(C_ResManager::CurrentDevice, nullptr);
    EXPECT_FALSE(C_BaseResource::ReleasingDeviceObjectsOnly()) << "the release does not outlive the call";

    const std::size_t live = C_BaseObject::LiveCount();
    Managers().AddResource(L"TestObject", L"b", L"");
    Managers().AddResource(L"TestMesh", L"c", L"");
    EXPECT_EQ(C_BaseObject::LiveCount(), live + 2);
    Managers().Load(nullptr);   // a run in progress is abandoned by Clear
    Managers().Clear();
    EXPECT_EQ(C_BaseObject::LiveCount(), live - 1);
    EXPECT_TRUE(Managers().empty());
    EXPECT_EQ(Managers().LoadIndex, 0);
    EXPECT_EQ(Managers().GetManager(L"TestObject"), nullptr);
    // Everything works again afterwards.
    EXPECT_NE(Managers().AddResource(L"TestObject", L"d", L""), nullptr);
}

// A device reset: every resource lets go of its device objects, then the
// managers load everything again, one manager per frame.
class DeviceResetTest : public ResManagerTest {
protected:
    void SetUp() override
    {
        ResManagerTest::SetUp();
        WriteFile("scene.xml", "<root name='scene' class='C_BaseModule'>"
                               "<o name='box' class='TestObject' value='v' extra='skin; paint'/>"
                               "<m name='inner' class='C_BaseModule'>"
                               "<o name='ball' class='TestObject' extra='paint'/>"
                               "<o name='cone' class='TestObject'/></m></root>");
        Managers().AddResource(L"TestMesh", L"skin", L"");
        Managers().AddResource(L"TestState", L"paint", L"");
        holder = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"holder", L""));
        *holder << Path("scene.xml");
        LoadRun();
        box = Object(L"box");
        ball = Object(L"ball");
        inner = static_cast<C_BaseModule*>(Managers().GetResource(L"inner", L"C_BaseModule", false));
    }

    static TestObject* Object(const wchar_t* name)
    {
        return static_cast<TestObject*>(Managers().GetResource(name, L"TestObject", false));
    }
    // One complete load run; the number of steps it took.
    static int LoadRun()
    {
        int steps = 0;
        while (Managers().Load(nullptr) && steps < 100) ++steps;
        return steps;
    }
    static std::vector<std::size_t> ManagerSizes()
    {
        std::vector<std::size_t> sizes;
        for (C_BaseResManager* manager : Managers()) sizes.push_back(manager->size());
        return sizes;
    }
    static std::vector<std::wstring> Names(const C_BaseModule* module)
    {
        std::vector<std::wstring> names;
        for (C_BaseObject* object : *module) names.push_back(object->Name);
        return names;
    }

    C_BaseModule* holder = nullptr;
    C_BaseModule* inner = nullptr;
    TestObject* box = nullptr;
    TestObject* ball = nullptr;
};

TEST_F(DeviceResetTest, TheSceneSurvivesTheReleaseAndTheFollowingLoadRun)
{
    ASSERT_NE(box, nullptr);
    ASSERT_NE(ball, nullptr);
    ASSERT_NE(inner, nullptr);
    C_BaseResource* skin = Managers().GetResource(L"skin", L"TestMesh", false);
    C_BaseResource* paint = Managers().GetResource(L"paint", L"TestState", false);
    ASSERT_EQ(box->ExtraObjects.size(), 2u);
    ASSERT_EQ(Names(inner), (std::vector<std::wstring>{L"ball", L"cone"}));
    const std::vector<std::wstring> top = Names(holder);
    box->ReferenceCount = 2;
    box->Technique = L"shiny";
    const std::size_t live = C_BaseObject::LiveCount();
    const std::vector<std::size_t> sizes = ManagerSizes();
    const std::size_t warnings = CountLogged(L"warning:");

    Managers().ReleaseDeviceObjects();
    EXPECT_EQ(C_ResManager::CurrentDevice, nullptr);
    // Every name still resolves, to the same object.
    EXPECT_EQ(Object(L"box"), box);
    EXPECT_EQ(Object(L"ball"), ball);
    EXPECT_EQ(Managers().GetResource(L"inner"), inner);
    EXPECT_EQ(Managers().GetResource(L"skin"), skin);
    EXPECT_EQ(box->ReferenceCount, 2);
    EXPECT_EQ(box->Technique, L"shiny");
    EXPECT_EQ(box->ExtraObjects.size(), 2u);
    EXPECT_EQ(Names(inner), (std::vector<std::wstring>{L"ball", L"cone"}));
    EXPECT_EQ(Names(holder), top);

    const int loadsBefore = box->Loads;
    EXPECT_GT(LoadRun(), 0);
    EXPECT_EQ(box->Loads, loadsBefore + 1) << "loaded again once";
    // Nothing was made twice and nothing was lost.
    EXPECT_EQ(C_BaseObject::LiveCount(), live);
    EXPECT_EQ(ManagerSizes(), sizes);
    EXPECT_EQ(Names(inner), (std::vector<std::wstring>{L"ball", L"cone"}));
    EXPECT_EQ(Names(holder), top);
    ASSERT_EQ(box->ExtraObjects.size(), 2u);
    EXPECT_EQ(box->ExtraObjects[0], skin);
    EXPECT_EQ(box->ExtraObjects[1], paint);
    ASSERT_EQ(ball->ExtraObjects.size(), 1u);
    EXPECT_EQ(ball->ExtraObjects[0], paint);
    EXPECT_EQ(box->ReferenceCount, 2);
    EXPECT_EQ(box->Technique, L"shiny");
    EXPECT_EQ(CountLogged(L"warning:"), warnings) << Log();

    // Repeated resets change nothing either.
    for (int i = 0; i < 3; ++i) {
        Managers().ReleaseDeviceObjects();
        LoadRun();
    }
    EXPECT_EQ(C_BaseObject::LiveCount(), live);
    EXPECT_EQ(ManagerSizes(), sizes);
    EXPECT_EQ(Names(inner), (std::vector<std::wstring>{L"ball", L"cone"}));
}

TEST_F(DeviceResetTest, NamedTextsAreFoundAgainAfterTheRelease)
{
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"ResetWord = kept");
    EXPECT_EQ(Managers().GetText(L"ResetWord"), L"kept");
    C_BaseResManager* texts = Managers().GetManager(L"C_D3DXSTRING");
    ASSERT_NE(texts, nullptr);
    const std::size_t count = texts->size();
    Managers().ReleaseDeviceObjects();
    EXPECT_EQ(Managers().GetText(L"ResetWord"), L"kept");
    LoadRun();
    EXPECT_EQ(Managers().GetText(L"ResetWord"), L"kept");
    EXPECT_EQ(texts->size(), count) << "no second text object for the same key";
}

TEST_F(DeviceResetTest, TheFullReleaseStillForgetsTheScene)
{
    ASSERT_NE(inner, nullptr);
    box->ReferenceCount = 2;
    box->Technique = L"shiny";
    {
        // Nested releases: the outer one still keeps the scene after the inner ends.
        C_BaseResource::C_DeviceRelease outer;
        Managers().ReleaseDeviceObjects();
        EXPECT_TRUE(C_BaseResource::ReleasingDeviceObjectsOnly());
        inner->Unload();
        EXPECT_EQ(Names(inner), (std::vector<std::wstring>{L"ball", L"cone"}));
    }
    EXPECT_FALSE(C_BaseResource::ReleasingDeviceObjectsOnly());

    box->Unload();
    EXPECT_EQ(box->Name, L"");
    EXPECT_EQ(box->ReferenceCount, 0);
    EXPECT_EQ(box->Technique, L"");
    EXPECT_TRUE(box->ExtraObjects.empty());
    inner->Unload();
    EXPECT_TRUE(inner->empty());
    EXPECT_TRUE(inner->Cameras.empty());
    EXPECT_EQ(inner->Name, L"");
    // Ball itself is untouched by its module's release.
    EXPECT_TRUE(C_BaseObject::IsLive(ball));
    EXPECT_EQ(ball->Name, L"ball");

    // Deleting an object is the full release too: the name is free again.
    C_BaseResource* cone = Object(L"cone");
    ASSERT_NE(cone, nullptr);
    EXPECT_TRUE(Managers().DeleteObject(cone));
    EXPECT_EQ(Object(L"cone"), nullptr);
}

TEST_F(ResManagerTest, ObjectsAddedToTheManagerBeingLoadedAreLoadedToo)
{
    // A module whose deferred element creates another module of the same class.
    WriteFile("inner.xml", "<root name='outer' class='C_BaseModule'>"
                           "<m name='a' class='C_BaseModule'><o name='x' class='TestObject'/></m>"
                           "<p name='b_plain' class='C_BaseModule' extra='zz'/></root>");
    C_BaseResource* holder = Managers().AddResource(L"C_BaseModule", L"holder", L"");
    *static_cast<C_BaseModule*>(holder) << Path("inner.xml");
    EXPECT_TRUE(Managers().Load(nullptr));
    // b_plain was created by the load of 'outer' in the same manager, and loaded.
    C_BaseResource* created = Managers().GetResource(L"b_plain", L"C_BaseModule", false);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->Extra, L"");   // its Load consumed the extra string
    // x is created by the load of 'a'.
    EXPECT_NE(Managers().GetResource(L"x", L"TestObject", false), nullptr);
}

TEST_F(ResManagerTest, ObjectsAddedInBulkAreFoundAtOnceAndJoinTheSortedListAtTheEnd)
{
    Managers().AddResource(L"TestState", L"m", L"");
    C_BaseResource* waiting = nullptr;
    {
        const C_ResManager::C_BulkAdd bulk;
        for (const wchar_t* name : {L"z", L"b", L"y", L"a"}) Managers().AddResource(L"TestState", name, name);
        waiting = Managers().AddResource(L"TestState", L"y", L"second");
        EXPECT_EQ(waiting->Value, L"y") << "the existing object, value kept";
        EXPECT_EQ(Managers().GetResource(L"b", L"TestState", false)->Value, L"b");
        EXPECT_EQ(Managers().GetResource(L"z"), Managers().GetResource(L"z", L"TestState", false));
        // A class first seen in the bulk gets its manager in level order.
        Managers().AddResource(L"TestMesh", L"mesh", L"");
        EXPECT_EQ(Managers().GetResource(L"mesh", L"TestMesh", false)->Name, L"mesh");
        // Deleting one that waits.
        EXPECT_TRUE(Managers().DeleteObject(Managers().GetResource(L"a", L"TestState", false)));
        EXPECT_EQ(Managers().GetResource(L"a", L"TestState", false), nullptr);
    }
    C_BaseResManager* states = Managers().GetManager(L"TestState");
    ASSERT_EQ(states->size(), 4u);
    std::vector<std::wstring> names;
    for (C_BaseResource* object : *states) names.push_back(object->Name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"b", L"m", L"y", L"z"}));
    EXPECT_EQ(states->PendingCount(), 0u);
    EXPECT_EQ(Managers().front()->ClassName, L"TestMesh") << "level 1 before level 0";
}

TEST_F(ResManagerTest, AModuleOfManyObjectsBuildsItsManagersInOneMergeEach)
{
    // 20,000 objects in reverse name order: inserted one by one into the
    // middle of the list this is quadratic; either way the result is sorted.
    std::string file = "<m name=\"Many\" class=\"C_BaseModule\"><o name=\"first\" class=\"TestObject\"/>";
    for (int i = 19999; i >= 0; --i) file += "<o name=\"o" + std::to_string(i) + "\" class=\"TestObject\"/>";
    file += "<o name=\"o7\" class=\"TestObject\" value=\"again\"/></m>";
    WriteFile("many.xml", file);
    auto* window = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"Root", L""));
    *window << Path("many.xml");
    auto* many = static_cast<C_BaseModule*>(Managers().GetResource(L"Many", L"C_BaseModule", false));
    ASSERT_NE(many, nullptr);
    many->Load(nullptr);
    C_BaseResManager* objects = Managers().GetManager(L"TestObject");
    ASSERT_NE(objects, nullptr);
    EXPECT_EQ(objects->size(), 20001u);
    EXPECT_TRUE(std::is_sorted(objects->begin(), objects->end(),
                               [](C_BaseResource* a, C_BaseResource* b) { return a->Name < b->Name; }));
    EXPECT_EQ(many->size(), 20001u) << "the repeated name is the same object";
    EXPECT_EQ(Managers().GetResource(L"o7", L"TestObject", false)->Value, L"");
}
