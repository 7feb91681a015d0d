// Extra objects that would draw each other without end: an object listed
// among its own extra objects, two that list each other, or a longer ring.
// They are refused with a warning where they are attached (at load and by
// AddExtraObject), and drawing stops at an object met again inside its own
// drawing, should a ring exist all the same.

#include "engine_support/ObjectTestClasses.h"

#include "Render/Resources/D3DXSTRING.h"

namespace {

class ExtraObjectLoops : public ObjectModelTest {
protected:
    TestObject* Make(const wchar_t* name)
    {
        return static_cast<TestObject*>(Managers().AddResource(L"TestObject", name, L""));
    }
    static double Id(const C_BaseObject* object) { return C_BaseObject::ToID(object); }
    static std::size_t Refusals() { return CountLogged(L"замкнутый круг"); }
    void DrawMainPass(C_BaseResource* object)
    {
        C_BaseObject::CommonData().RenderPass = 0;
        object->Draw(nullptr);
    }
};

}  // namespace

TEST_F(ExtraObjectLoops, AddExtraObjectRefusesSelfMutualAndLongerRings)
{
    TestObject* a = Make(L"a");
    TestObject* b = Make(L"b");
    TestObject* c = Make(L"c");
    TestObject* d = Make(L"d");

    EXPECT_EQ(C_BaseResource::AddExtraObject(Id(a), Id(a)), 0.0);
    EXPECT_TRUE(a->ExtraObjects.empty());
    EXPECT_EQ(Refusals(), 1u);

    C_BaseResource::AddExtraObject(Id(a), Id(b));
    C_BaseResource::AddExtraObject(Id(b), Id(a));
    ASSERT_EQ(a->ExtraObjects.size(), 1u);
    EXPECT_TRUE(b->ExtraObjects.empty());
    EXPECT_EQ(Refusals(), 2u);

    // a -> b -> c -> d; d -> a would close a ring of four.
    C_BaseResource::AddExtraObject(Id(b), Id(c));
    C_BaseResource::AddExtraObject(Id(c), Id(d));
    C_BaseResource::AddExtraObject(Id(d), Id(a));
    C_BaseResource::AddExtraObject(Id(d), Id(b));
    EXPECT_TRUE(d->ExtraObjects.empty());
    EXPECT_EQ(Refusals(), 4u);

    // Shared extra objects are no ring: two objects may draw the same one,
    // and an object may draw one that draws another of its extra objects.
    C_BaseResource::AddExtraObject(Id(a), Id(c));
    TestObject* e = Make(L"e");
    C_BaseResource::AddExtraObject(Id(e), Id(c));
    EXPECT_EQ(a->ExtraObjects.size(), 2u);
    EXPECT_EQ(e->ExtraObjects.size(), 1u);
    EXPECT_EQ(Refusals(), 4u);
    EXPECT_NE(Log().find(L"Объект a не добавлен к дополнительным объектам d"), std::wstring::npos) << Log();
}

TEST_F(ExtraObjectLoops, LoadingRefusesRingsNamedInTheExtraAttributeOrThroughTexts)
{
    TestObject* self = Make(L"self");
    self->SetExtra(L"self");
    self->Load(nullptr);
    EXPECT_TRUE(self->ExtraObjects.empty());

    TestObject* x = Make(L"ringX");
    TestObject* y = Make(L"ringY");
    TestObject* z = Make(L"ringZ");
    x->SetExtra(L"ringY");
    y->SetExtra(L"ringZ; ringX");
    // A named text that lists names is followed as well.
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"RingOfThreeBack = ringX");
    z->SetExtra(L"RingOfThreeBack");
    x->Load(nullptr);
    y->Load(nullptr);
    z->Load(nullptr);
    ASSERT_EQ(x->ExtraObjects.size(), 1u);
    EXPECT_EQ(x->ExtraObjects[0], y);
    ASSERT_EQ(y->ExtraObjects.size(), 1u) << "y -> x is refused, y -> z kept";
    EXPECT_EQ(y->ExtraObjects[0], z);
    EXPECT_TRUE(z->ExtraObjects.empty());
    EXPECT_EQ(Refusals(), 3u);

    // The objects left draw once each, in a chain.
    DrawMainPass(x);
    EXPECT_EQ(x->Draws, 1);
    EXPECT_EQ(y->Draws, 1);
    EXPECT_EQ(z->Draws, 1);
}

TEST_F(ExtraObjectLoops, DrawingStopsAtAnObjectMetAgainInsideItsOwnDrawing)
{
    TestObject* a = Make(L"a");
    TestObject* b = Make(L"b");
    TestObject* c = Make(L"c");
    // Rings made behind the checks' back.
    a->ExtraObjects.push_back(a);
    a->ExtraObjects.push_back(b);
    b->ExtraObjects.push_back(c);
    c->ExtraObjects.push_back(a);
    c->ExtraObjects.push_back(b);
    DrawMainPass(a);
    // Each object's own drawing runs where it is reached; its extra objects
    // are not drawn again inside their own drawing: a, then a again (its own
    // extra), b, c, a (c's extra) and b (c's extra).
    EXPECT_EQ(a->Draws, 3);
    EXPECT_EQ(b->Draws, 2);
    EXPECT_EQ(c->Draws, 1);
    // The guard is per drawing, not for ever: a second frame draws again.
    const int before = b->Draws;
    DrawMainPass(b);
    EXPECT_GT(b->Draws, before);
}
