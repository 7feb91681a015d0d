#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "engine_support/ObjectTestClasses.h"

#include <cmath>

#include "Common/CodePage.h"
#include "Render/Resources/D3DXSTRING.h"

namespace {

std::vector<C_BaseObject*>& Queued()
{
    static std::vector<C_BaseObject*> queued;
    return queued;
}
void Queue(C_BaseObject* object) { Queued().push_back(object); }

} // namespace

class ModuleTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        Queued().clear();
        C_BaseObject::RenderQueueInsert = &Queue;
        for (D3DXPLANE& plane : C_BaseObject::CommonData().FrustumPlanes) plane = D3DXPLANE(0, 0, 0, 0);
    }

    // A module made by its manager, loaded from a file, with its deferred
    // elements created (the module's load step).
    C_BaseModule* LoadModule(const std::string& file, const std::string& xml, const wchar_t* name = L"top")
    {
        WriteFile(file, xml);
        auto* module = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", name, L""));
        *module << std::wstring(file.begin(), file.end());
        return module;
    }
    void LoadAll()
    {
        while (Managers().Load(nullptr)) {}
    }
    template <class T = C_BaseResource>
    T* Object(const wchar_t* name, const wchar_t* className = L"TestObject")
    {
        return dynamic_cast<T*>(Managers().GetResource(name, className, false));
    }
};

TEST_F(ModuleTest, PlainElementsAreCreatedAtLoadAndListedWhenTheyBelongInModules)
{
    C_BaseModule* top = LoadModule("scene.xml",
        "<?xml version='1.0' encoding='UTF-8'?>\n"
        "<scene name='Scene' class='C_BaseModule'>\n"
        "  <o name='a' class='TestObject' value='1;2' script='s.lua; f' effect='e' extra='x' bound='box' status='NotRender'/>\n"
        "  <o name='mesh' class='TestMesh'/>\n"
        "</scene>");
    // The root element is itself a module element of the file.
    C_BaseModule* scene = Object<C_BaseModule>(L"Scene", L"C_BaseModule");
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(top->size(), 1u);
    EXPECT_EQ((*top)[0], scene);
    EXPECT_EQ(scene->DeferredElements.size(), 2u);
    EXPECT_EQ(Object(L"a"), nullptr);   // not before the module's load

    scene->Load(nullptr);
    auto* a = Object<TestObject>(L"a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Value, L"1;2");
    EXPECT_EQ(a->ScriptDescription, L"s.lua; f");
    EXPECT_EQ(a->EffectDescription, L"e");
    EXPECT_EQ(a->Extra, L"x");
    EXPECT_FALSE(a->SphereBound);
    EXPECT_EQ(a->Status, C_BaseObject::NotRender);
    EXPECT_EQ(a->ReferenceCount, 1);
    // The mesh is made but modules do not list meshes.
    EXPECT_NE(Object(L"mesh", L"TestMesh"), nullptr);
    ASSERT_EQ(scene->size(), 1u);
    EXPECT_EQ((*scene)[0], a);
    EXPECT_TRUE(scene->DeferredElements.empty());
}

TEST_F(ModuleTest, ASharedPlainObjectKeepsItsFirstAttributesAndIsCountedTwice)
{
    C_BaseModule* top = LoadModule("shared.xml",
        "<root name='R' class='C_BaseModule'>"
        "  <m name='one' class='C_BaseModule'><o name='s' class='TestObject' value='first'/></m>"
        "  <m name='two' class='C_BaseModule'><o name='s' class='TestObject' value='second' status='disabled'/></m>"
        "</root>");
    (void)top;
    LoadAll();
    auto* s = Object<TestObject>(L"s");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->ReferenceCount, 2);
    EXPECT_EQ(s->Value, L"first");
    EXPECT_EQ(s->Status, C_BaseObject::Visible);
    EXPECT_EQ(Object<C_BaseModule>(L"one", L"C_BaseModule")->size(), 1u);
    EXPECT_EQ(Object<C_BaseModule>(L"two", L"C_BaseModule")->size(), 1u);
}

TEST_F(ModuleTest, SharedModulesAreListedAgainWithoutReadingTheirElements)
{
    LoadModule("sharedmodule.xml",
        "<root name='R' class='C_BaseModule'>"
        "  <m name='sub' class='C_BaseModule'><o name='p' class='TestObject'/></m>"
        "  <m name='other' class='C_BaseModule'><m name='sub' class='C_BaseModule'><o name='q' class='TestObject'/></m></m>"
        "</root>");
    LoadAll();
    auto* sub = Object<C_BaseModule>(L"sub", L"C_BaseModule");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->ReferenceCount, 2);
    EXPECT_EQ(Object(L"q"), nullptr);
    ASSERT_EQ(sub->size(), 1u);
}

TEST_F(ModuleTest, AnObjectAddedTwiceToOneModuleIsListedOnce)
{
    C_BaseModule* top = LoadModule("twice.xml",
        "<root name='R' class='C_BaseModule'><o name='d' class='TestObject' value='1'/>"
        "<o name='d' class='TestObject' value='2'/></root>");
    (void)top;
    LoadAll();
    auto* d = Object(L"d");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->ReferenceCount, 1);
    EXPECT_EQ(Object<C_BaseModule>(L"R", L"C_BaseModule")->size(), 1u);
}

TEST_F(ModuleTest, NamesEndingInXmlReadFilesAndXmlInTheMiddleMakesAnInlineModule)
{
    WriteFile("child.xml", "<c name='inner' class='C_BaseModule'><o name='fromfile' class='TestObject'/></c>");
    WriteFile("weird.xml.txt", "<c name='never' class='C_BaseModule'><o name='nope' class='TestObject'/></c>");
    LoadModule("nested.xml",
        "<root name='R' class='C_BaseModule'>"
        "  <f name='child.xml' class='C_BaseModule'/>"
        "  <i name='weird.xml.txt' class='C_BaseModule'><o name='inline' class='TestObject'/></i>"
        "</root>");
    LoadAll();
    auto* fileModule = Object<C_BaseModule>(L"child.xml", L"C_BaseModule");
    ASSERT_NE(fileModule, nullptr);
    auto* inner = Object<C_BaseModule>(L"inner", L"C_BaseModule");
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->ReferenceCount, 1);
    EXPECT_NE(Object(L"fromfile"), nullptr);
    auto* weird = Object<C_BaseModule>(L"weird.xml.txt", L"C_BaseModule");
    ASSERT_NE(weird, nullptr);
    EXPECT_NE(Object(L"inline"), nullptr);
    EXPECT_EQ(Object(L"nope"), nullptr);
    EXPECT_EQ(Object<C_BaseModule>(L"never", L"C_BaseModule"), nullptr);
}

TEST_F(ModuleTest, StatusWordsAreReadInAnyLetterCase)
{
    LoadModule("status.xml",
        "<root name='R' class='C_BaseModule'>"
        "<o name='n1' class='TestObject' status='NOTRENDER'/><o name='n2' class='TestObject' status='NotRender'/>"
        "<o name='d' class='TestObject' status='Disabled'/><o name='v' class='TestObject' status='hidden'/>"
        "<o name='none' class='TestObject'/>"
        "<m name='mm' class='C_BaseModule' status='notRender'><o name='x' class='TestObject'/></m></root>");
    LoadAll();
    EXPECT_EQ(Object(L"n1")->Status, C_BaseObject::NotRender);
    EXPECT_EQ(Object(L"n2")->Status, C_BaseObject::NotRender);
    EXPECT_EQ(Object(L"d")->Status, C_BaseObject::Disabled);
    EXPECT_EQ(Object(L"v")->Status, C_BaseObject::Visible);
    EXPECT_EQ(Object(L"none")->Status, C_BaseObject::Visible);
    EXPECT_EQ(Object(L"mm", L"C_BaseModule")->Status, C_BaseObject::NotRender);
}

TEST_F(ModuleTest, TextElementsGoToTheTextTable)
{
    LoadModule("texts.xml",
        "<root name='R' class='C_BaseModule'>"
        "  <t text='ModuleTextA = alpha'/>"
        "  <m name='m' class='C_BaseModule'><t text='ModuleTextB = beta'/><o name='o' class='TestObject'/></m>"
        "  <o name='p' class='TestObject'><t text='ModuleTextC = gamma'/></o>"
        "</root>");
    auto& table = C_D3DXSTRING::C_AllStrings::Instance();
    EXPECT_EQ(table.Lookup(L"ModuleTextA"), L"alpha");
    EXPECT_EQ(table.Lookup(L"ModuleTextB"), L"beta");
    EXPECT_EQ(table.Lookup(L"ModuleTextC"), L"gamma");
}

TEST_F(ModuleTest, EncodingsFollowTheDeclaration)
{
    const std::string cyrillic = VORTALEX::codepage::ToCp1251(L"Куб");
    LoadModule("cp1251.xml",
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<root name='R' class='C_BaseModule'>"
        "<o name='" + cyrillic + "' class='TestObject'/></root>");
    LoadModule("utf8.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root name='U' class='C_BaseModule'>"
        "<o name='" + VORTALEX::codepage::ToUtf8(L"Шар") + "' class='TestObject'/></root>", L"top2");
    LoadAll();
    EXPECT_NE(Object(L"Куб"), nullptr);
    EXPECT_NE(Object(L"Шар"), nullptr);
}

TEST_F(ModuleTest, MissingEmptyAndBrokenFilesLeaveTheModuleAsItWas)
{
    C_BaseModule* top = LoadModule("good.xml", "<root name='R' class='C_BaseModule'/>");
    const std::size_t before = top->size();
    *top << std::wstring(L"missing.xml");
    WriteFile("empty.xml", "");
    *top << std::wstring(L"empty.xml");
    EXPECT_FALSE(Logged(L"Не загружен файл"));
    WriteFile("broken.xml", "<a>\n<b>\n</a>");
    *top << std::wstring(L"broken.xml");
    EXPECT_TRUE(Logged(L"\r\nНе загружен файл: broken.xml\r\nDescription: "));
    // TinyXML's (1-based) row, plus 1, as the message format has it.
    EXPECT_TRUE(Logged(L"\r\nErrorRow: 4\r\nErrorCol: "));
    WriteFile("junk.xml", std::string("\x01\x02\xff\xfe binary junk \x00\x00", 20));
    *top << std::wstring(L"junk.xml");
    EXPECT_TRUE(Logged(L"Не загружен файл: junk.xml"));
    EXPECT_EQ(top->size(), before);
}

TEST_F(ModuleTest, UnknownClassesAndNonModulesWithChildrenAreSkippedWithWarnings)
{
    LoadModule("unknown.xml",
        "<root name='R' class='C_BaseModule'>"
        "  <o name='ghost' class='C_NoSuchThing'/>"
        "  <m name='notmodule' class='TestObject'><o name='child' class='TestObject'/></m>"
        "  <m name='noclass'><o name='child2' class='TestObject'/></m>"
        "  <o name='fine' class='TestObject'/>"
        "</root>");
    LoadAll();
    EXPECT_TRUE(Logged(L"не создан объект ресурса: ghost"));
    EXPECT_TRUE(Logged(L"Не модуль содержит вложенные объекты: notmodule"));
    EXPECT_TRUE(Logged(L"Не модуль содержит вложенные объекты: noclass"));
    EXPECT_EQ(Object(L"child"), nullptr);
    EXPECT_EQ(Object(L"child2"), nullptr);
    EXPECT_NE(Object(L"fine"), nullptr);
}

TEST_F(ModuleTest, AModuleFileThatIncludesItselfIsRefusedInsteadOfLoopingForever)
{
    WriteFile("self.xml", "<m name='self.xml' class='C_BaseModule'><o name='item' class='TestObject'/></m>");
    WriteFile("ping.xml", "<m name='pong.xml' class='C_BaseModule'/>");
    WriteFile("pong.xml", "<m name='ping.xml' class='C_BaseModule'/>");
    auto* top = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"top", L""));
    *top << std::wstring(L"self.xml");
    auto* self = Object<C_BaseModule>(L"self.xml", L"C_BaseModule");
    ASSERT_NE(self, nullptr);
    EXPECT_FALSE(self->Contains(top));
    EXPECT_TRUE(Logged(L"не может содержать сам себя"));

    *top << std::wstring(L"ping.xml");
    auto* pong = Object<C_BaseModule>(L"pong.xml", L"C_BaseModule");
    auto* ping = Object<C_BaseModule>(L"ping.xml", L"C_BaseModule");
    ASSERT_NE(pong, nullptr);
    ASSERT_NE(ping, nullptr);
    EXPECT_FALSE(ping->Contains(pong) && pong->Contains(ping));
    LoadAll();
    // Updating the tree terminates.
    top->Update();
    top->AddToRenderQueue();
    EXPECT_FALSE(top->AddToModule(top));
}

TEST_F(ModuleTest, AbsurdFilesAreRefusedOrReadAsFarAsTheyAreValid)
{
    std::string deep = "<root name='R' class='C_BaseModule'>";
    for (int i = 0; i < 5000; ++i) deep += "<m class='C_BaseModule'>";
    for (int i = 0; i < 5000; ++i) deep += "</m>";
    deep += "</root>";
    C_BaseModule* top = LoadModule("deep.xml", deep);
    EXPECT_TRUE(Logged(L"Не загружен файл: deep.xml"));
    EXPECT_TRUE(top->empty());

    std::string nested = "<root name='R' class='C_BaseModule'>";
    for (int i = 0; i < 100; ++i) nested += "<m name='n" + std::to_string(i) + "' class='C_BaseModule'>";
    nested += "<o name='leaf' class='TestObject'/>";
    for (int i = 0; i < 100; ++i) nested += "</m>";
    nested += "</root>";
    LoadModule("nested100.xml", nested, L"top2");
    EXPECT_TRUE(Logged(L"Слишком глубокая вложенность модулей"));

    const std::string huge(1 << 20, 'v');
    LoadModule("huge.xml", "<root name='H' class='C_BaseModule'><o name='big' class='TestObject' value='" + huge + "'/></root>", L"top3");
    LoadAll();
    ASSERT_NE(Object(L"big"), nullptr);
    EXPECT_EQ(Object(L"big")->Value.size(), huge.size());
}

TEST_F(ModuleTest, TheModuleTakesItsNameFromTheFirstElementWhenItHasNone)
{
    WriteFile("named.xml", "<first name='FirstName' class='TestObject'/>");
    auto* module = static_cast<C_BaseModule*>(C_FromFactory(L"C_BaseModule").Create());
    *module << std::wstring(L"named.xml");
    EXPECT_EQ(module->Name, L"FirstName");
    // A plain root element is deferred into the module itself.
    EXPECT_EQ(module->DeferredElements.size(), 1u);
    module->ReleaseToPool();
}

TEST_F(ModuleTest, UpdateRunsEveryObjectOfAModuleWithoutCameras)
{
    LoadModule("update.xml",
        "<root name='R' class='C_BaseModule'><o name='a' class='TestObject'/>"
        "<o name='b' class='TestObject' status='disabled'/><o name='c' class='TestObject' status='notrender'/></root>");
    LoadAll();
    auto* root = Object<C_BaseModule>(L"R", L"C_BaseModule");
    root->Update();
    root->Update();
    EXPECT_EQ(Object<TestObject>(L"a")->Updates, 2);
    EXPECT_EQ(Object<TestObject>(L"b")->Updates, 0);
    EXPECT_EQ(Object<TestObject>(L"c")->Updates, 2);
    EXPECT_EQ(Object<TestObject>(L"a")->DistanceCalls, 0);
    // A disabled module updates nothing.
    root->SetStatus(C_BaseObject::Disabled);
    root->Update();
    EXPECT_EQ(Object<TestObject>(L"a")->Updates, 2);
    // A not-rendered module becomes visible at its update.
    root->SetStatus(C_BaseObject::NotRender);
    root->Update();
    EXPECT_EQ(root->Status, C_BaseObject::Visible);
}

TEST_F(ModuleTest, ObjectsMarkedForDeletionLeaveAtTheNextUpdateAndDieWithTheLastModule)
{
    LoadModule("del.xml",
        "<root name='R' class='C_BaseModule'>"
        "<m name='one' class='C_BaseModule'><o name='s' class='TestObject'/><o name='t' class='TestObject'/></m>"
        "<m name='two' class='C_BaseModule'><o name='s' class='TestObject'/></m></root>");
    LoadAll();
    auto* s = Object<TestObject>(L"s");
    auto* one = Object<C_BaseModule>(L"one", L"C_BaseModule");
    auto* two = Object<C_BaseModule>(L"two", L"C_BaseModule");
    ASSERT_TRUE(s && one && two);
    ASSERT_EQ(s->ReferenceCount, 2);
    const double id = C_BaseObject::ToID(s);
    C_BaseObject::DeleteObject(id);
    EXPECT_EQ(s->Status, C_BaseObject::Deleted);
    one->Update();
    EXPECT_EQ(one->size(), 1u);
    EXPECT_TRUE(C_BaseObject::IsLive(s));
    EXPECT_EQ(s->ReferenceCount, 1);
    two->Update();
    EXPECT_TRUE(two->empty());
    EXPECT_EQ(C_BaseObject::FromID(id), nullptr);
    EXPECT_EQ(Object(L"s"), nullptr);
    EXPECT_NE(Object(L"t"), nullptr);
}

TEST_F(ModuleTest, TheBoundingSphereCoversTheObjectsAndRadiusZeroMeansAlwaysVisible)
{
    LoadModule("bounds.xml",
        "<root name='R' class='C_BaseModule'><o name='a' class='TestObject'/><o name='b' class='TestObject'/></root>");
    LoadAll();
    auto* root = Object<C_BaseModule>(L"R", L"C_BaseModule");
    Object(L"a")->Position = D3DXVECTOR3(0, 0, 0);
    Object(L"a")->Radius = 1;
    Object(L"b")->Position = D3DXVECTOR3(10, 0, 0);
    Object(L"b")->Radius = 2;
    root->BoundsComputed = false;
    root->Update();
    EXPECT_FLOAT_EQ(root->Position.x, 5.0f);
    EXPECT_FLOAT_EQ(root->Radius, 7.0f);
    EXPECT_TRUE(root->BoundsComputed);

    // A frustum that leaves the module outside: nothing is queued.
    C_BaseObject::CommonData().FrustumPlanes[0] = D3DXPLANE(1, 0, 0, -100);
    root->AddToRenderQueue();
    EXPECT_TRUE(Queued().empty());

    // An object of radius 0 gives the module radius 0: never culled.
    Object(L"b")->Radius = 0;
    root->BoundsComputed = false;
    root->Update();
    EXPECT_EQ(root->Radius, 0.0f);
    EXPECT_FLOAT_EQ(root->Position.x, 5.0f);   // the position keeps its old value
    root->AddToRenderQueue();
    ASSERT_EQ(Queued().size(), 1u);   // 'b' (radius 0) is inside, 'a' is culled
    EXPECT_EQ(Queued()[0], Object(L"b"));
    // Objects that are not visible, and modules that are not, queue nothing.
    Object(L"b")->SetStatus(C_BaseObject::NotRender);
    root->AddToRenderQueue();
    root->SetStatus(C_BaseObject::NotRender);
    Object(L"b")->SetStatus(C_BaseObject::Visible);
    root->AddToRenderQueue();
    EXPECT_EQ(Queued().size(), 1u);
}

TEST_F(ModuleTest, UnloadEmptiesTheListsAndKeepsTheObjects)
{
    LoadModule("unload.xml", "<root name='R' class='C_BaseModule'><o name='a' class='TestObject'/></root>");
    LoadAll();
    auto* root = Object<C_BaseModule>(L"R", L"C_BaseModule");
    C_BaseResource* a = Object(L"a");
    root->Unload();
    EXPECT_TRUE(root->empty());
    EXPECT_EQ(root->Name, L"");
    EXPECT_EQ(a->ReferenceCount, 1);
    EXPECT_TRUE(C_BaseObject::IsLive(a));
    // The same object can be listed again afterwards.
    EXPECT_TRUE(root->AddToModule(a));
    EXPECT_EQ(root->size(), 1u);
}

TEST_F(ModuleTest, StaticModulesComputeTheirBoundsOnce)
{
    LoadModule("static.xml", "<root name='R' class='C_BaseModule'><o name='a' class='TestObject'/></root>");
    LoadAll();
    auto* root = Object<C_BaseModule>(L"R", L"C_BaseModule");
    Object(L"a")->Radius = 1;
    root->Update();
    EXPECT_FLOAT_EQ(root->Radius, 1.0f);
    Object(L"a")->Radius = 5;
    root->Update();
    EXPECT_FLOAT_EQ(root->Radius, 1.0f);   // static: not again
    auto* mover = static_cast<C_BaseResource*>(Managers().AddResource(L"TestObject", L"mover", L""));
    mover->Static = false;
    mover->Radius = 1;
    root->AddToModule(mover);
    EXPECT_FALSE(root->Static);
    root->Update();
    EXPECT_FLOAT_EQ(root->Radius, 5.0f);
}
