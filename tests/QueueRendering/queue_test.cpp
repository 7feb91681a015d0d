#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "engine_support/ObjectTestClasses.h"

#include <string>
#include <vector>

#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/BaseCamera.h"
#include "Render/Resources/D3DXSTRING.h"
#include "spine_support/FakeDirect3D.h"

namespace {
std::vector<std::wstring> g_order;   // names in drawing order
}  // namespace

// An object at a fixed distance from every camera.
class Item : public C_BaseResource, public ContainedInModule {
    TW_POOLED_CLASS(Item)
public:
    float GetDistance(C_BaseObject*) override { return Distance; }
    void Draw(IDirect3DDevice9*) override
    {
        g_order.push_back(Name);
        // In the occlusion pass an item marked hidden reports no pixel.
        if (CommonData().RenderPass == 1 && Hidden) CommonData().VisiblePixels = 0;
    }
    float Distance = 0.0f;
    bool Hidden = false;
};

class Camera : public C_BaseCamera {
    TW_POOLED_CLASS(Camera)
public:
    void Draw(IDirect3DDevice9*) override { g_order.push_back(L"[" + Name + L"]"); }
};

namespace {

struct FakeQuery : FakeUnknown<IDirect3DQuery9> {
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_FAIL; }
    D3DQUERYTYPE GetType() override { return D3DQUERYTYPE_OCCLUSION; }
    DWORD GetDataSize() override { return 4; }
    HRESULT Issue(DWORD) override { return S_OK; }
    HRESULT GetData(void*, DWORD, DWORD) override { return S_OK; }
} g_query;
bool g_beginResult = true;
int g_ends = 0;

std::vector<std::pair<C_BaseObject*, C_D3DXEFFECT*>> g_effectDraws;

}  // namespace

TW_REGISTER_CLASS_AS(Item, "TestItem")
TW_REGISTER_CLASS_AS(Camera, "TestCamera")

class QueueTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        g_order.clear();
        g_effectDraws.clear();
        g_beginResult = true;
        g_ends = 0;
        queue().ClearQueues();
        queue().Unload();
        C_BaseObject::CommonData().RenderPass = 0;
        C_QueueRendering::InstallInsert();
        C_BaseCamera::InstallModuleSupport();
        m_Surfaces = C_QueueRendering::SurfaceSupport;
        m_DrawWithEffect = C_QueueRendering::DrawWithEffect;
    }
    void TearDown() override
    {
        queue().ClearQueues();
        queue().Unload();
        C_QueueRendering::SurfaceSupport = m_Surfaces;
        C_QueueRendering::DrawWithEffect = m_DrawWithEffect;
        ObjectModelTest::TearDown();
    }
    static C_QueueRendering& queue() { return C_QueueRendering::Instance(); }

    Item* MakeItem(const wchar_t* name, float distance, float radius = 0.0f)
    {
        auto* item = static_cast<Item*>(Managers().AddResource(L"TestItem", name, L""));
        item->Distance = distance;
        item->Radius = radius;
        return item;
    }
    Camera* MakeCamera(const wchar_t* name)
    {
        return static_cast<Camera*>(Managers().AddResource(L"TestCamera", name, L""));
    }
    std::vector<std::wstring> Drawn(int pass)
    {
        g_order.clear();
        C_BaseObject::CommonData().RenderPass = pass;
        queue().Draw(&device);
        C_BaseObject::CommonData().RenderPass = 0;
        return g_order;
    }

    FakeDevice device;

private:
    C_QueueRendering::C_SurfaceSupport m_Surfaces;
    C_QueueRendering::EffectDrawFunction m_DrawWithEffect = nullptr;
};

TEST_F(QueueTest, MainPassDrawsFixedFirstAndLastAroundBackToFront)
{
    queue().Add(MakeCamera(L"cam"));
    queue().Add(MakeItem(L"near", 5.0f));
    queue().Add(MakeItem(L"final", -1e37f));
    queue().Add(MakeItem(L"far", 50.0f));
    queue().Add(MakeItem(L"light", 1e37f));
    queue().Add(MakeItem(L"middle", 20.0f));
    // The radius counts: 12 - 10 = 2 sorts nearer than "near".
    queue().Add(MakeItem(L"big", 12.0f, 10.0f));
    EXPECT_EQ(Drawn(0), (std::vector<std::wstring>{L"[cam]", L"light", L"far", L"middle", L"near", L"big", L"final"}));
    // The occlusion pass without a surface draws nothing at all.
    EXPECT_TRUE(Drawn(1).empty());
    EXPECT_TRUE(Drawn(2).empty());
}

TEST_F(QueueTest, SortKeyIsDistanceMinusRadiusInDoublePrecision)
{
    Item* item = MakeItem(L"a", 1e8f, 1.0f);
    C_BaseObject* object = item;
    EXPECT_EQ(GetCameraDistanceSize(object), static_cast<float>(1e8 - 1.0));
    item->Distance = 1e37f;
    EXPECT_EQ(GetCameraDistanceSize(object), 1e37f);
}

TEST_F(QueueTest, ObjectsBeforeAnyCameraAreRefusedWithAWarning)
{
    EXPECT_EQ(queue().Add(MakeItem(L"early", 1.0f)), 0u);
    EXPECT_TRUE(Logged(L"warning:\tПопытка добавления объекта в очередь рендеринга до камеры: early\n"));
    EXPECT_EQ(queue().Add(nullptr), 0u);
    EXPECT_EQ(queue().Add(MakeCamera(L"cam")), 1u);
    EXPECT_EQ(Drawn(0), std::vector<std::wstring>{L"[cam]"});
}

TEST_F(QueueTest, TwoCamerasOfAModuleEachQueueEveryChild)
{
    C_BaseModule module;
    module.AddToModule(MakeCamera(L"one"));
    module.AddToModule(MakeCamera(L"two"));
    module.AddToModule(MakeItem(L"x", 3.0f));
    module.AddToModule(MakeItem(L"y", 7.0f));
    ASSERT_EQ(module.Cameras.size(), 2u);
    module.AddToRenderQueue();
    ASSERT_EQ(queue().Queues.size(), 2u);
    EXPECT_EQ(Drawn(0), (std::vector<std::wstring>{L"[one]", L"y", L"x", L"[two]", L"y", L"x"}));
    queue().ClearQueues();
    EXPECT_TRUE(queue().Queues.empty());
    EXPECT_TRUE(Drawn(0).empty());
}

TEST_F(QueueTest, AModuleWithoutCamerasFeedsTheEnclosingCamerasQueue)
{
    C_BaseModule outer;
    auto* inner = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"inner", L""));
    inner->AddToModule(MakeItem(L"deep", 9.0f));
    outer.AddToModule(MakeCamera(L"cam"));
    outer.AddToModule(MakeItem(L"top", 1.0f));
    outer.AddToModule(inner);
    outer.AddToRenderQueue();
    EXPECT_EQ(Drawn(0), (std::vector<std::wstring>{L"[cam]", L"deep", L"top"}));
}

TEST_F(QueueTest, OcclusionSurfaceFollowsTheSwitchAndTheScreenAspect)
{
    C_BaseObject::CommonData().ScreenWidth = 1024;
    C_BaseObject::CommonData().ScreenHeight = 768;
    queue().Load(&device);
    EXPECT_EQ(queue().OcclusionSurface, nullptr) << "no OcclusionCulling entry";
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"OcclusionCulling = on, TrUe");
    Managers().Clear();   // the text resource looks the entry up again
    queue().Load(&device);
    ASSERT_NE(queue().OcclusionSurface, nullptr);
    EXPECT_EQ(queue().OcclusionSurface->Name, L"OcclusionSurface");
    EXPECT_EQ(queue().OcclusionSurface->Value, L"320; 240;");
    EXPECT_EQ(Managers().GetResource(L"OcclusionSurface", L"C_Surface9", false), queue().OcclusionSurface);
    queue().Unload();
    EXPECT_EQ(queue().OcclusionSurface, nullptr);
}

TEST_F(QueueTest, OcclusionPassDropsHiddenObjectsForThisFrameOnly)
{
    C_BaseResource surface;
    queue().OcclusionSurface = &surface;
    C_QueueRendering::SurfaceSupport.Query = [](C_BaseResource*) -> IDirect3DQuery9* { return &g_query; };
    C_QueueRendering::SurfaceSupport.BeginSurface = [](C_BaseResource*) { return g_beginResult; };
    C_QueueRendering::SurfaceSupport.EndSurface = [](C_BaseResource*) { ++g_ends; };
    C_QueueRendering::SurfaceSupport.CloseCaptures = nullptr;

    queue().Add(MakeCamera(L"cam"));
    MakeItem(L"a", 1.0f)->Hidden = true;
    MakeItem(L"b", 2.0f)->Hidden = true;
    queue().Add(Managers().GetResource(L"a", L"TestItem", false));
    queue().Add(Managers().GetResource(L"b", L"TestItem", false));
    queue().Add(MakeItem(L"c", 3.0f));
    device.renderStates[D3DRS_LIGHTING] = TRUE;
    device.renderStates[D3DRS_ALPHABLENDENABLE] = TRUE;
    device.renderStates[D3DRS_FILLMODE] = D3DFILL_WIREFRAME;
    // Nearest first; a removed object's place is taken by the next one.
    EXPECT_EQ(Drawn(1), (std::vector<std::wstring>{L"[cam]", L"a", L"b", L"c"}));
    EXPECT_EQ(C_BaseObject::CommonData().OcclusionQuery, &g_query);
    EXPECT_EQ(g_ends, 1);
    const std::vector<std::pair<int, DWORD>> states = {{D3DRS_ZENABLE, TRUE},        {D3DRS_ZWRITEENABLE, TRUE},
                                                       {D3DRS_ALPHABLENDENABLE, FALSE}, {D3DRS_LIGHTING, FALSE},
                                                       {D3DRS_ALPHATESTENABLE, FALSE}, {D3DRS_FOGENABLE, FALSE},
                                                       {D3DRS_FILLMODE, D3DFILL_SOLID}};
    ASSERT_EQ(device.renderStateOrder.size(), 2 * states.size());
    EXPECT_EQ(decltype(states)(device.renderStateOrder.begin(), device.renderStateOrder.begin() + 7), states);
    // After the pass the scene's own values come back, so that switching the
    // pass on does not change how the frame is drawn.
    EXPECT_EQ(device.renderStateOrder[10], std::make_pair(int(D3DRS_LIGHTING), DWORD(TRUE)));
    EXPECT_EQ(device.renderStateOrder[13], std::make_pair(int(D3DRS_FILLMODE), DWORD(D3DFILL_WIREFRAME)));
    EXPECT_EQ(device.renderStates[D3DRS_LIGHTING], DWORD(TRUE));
    EXPECT_EQ(device.renderStates[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
    EXPECT_EQ(Drawn(0), (std::vector<std::wstring>{L"[cam]", L"c"}));

    // A surface that cannot begin skips the pass and keeps every object.
    queue().ClearQueues();
    g_beginResult = false;
    queue().Add(MakeCamera(L"cam"));
    queue().Add(Managers().GetResource(L"a", L"TestItem", false));
    EXPECT_TRUE(Drawn(1).empty());
    EXPECT_EQ(Drawn(0), (std::vector<std::wstring>{L"[cam]", L"a"}));
}

TEST_F(QueueTest, EffectsDrawObjectsUpToTheirEffectDistance)
{
    C_QueueRendering::DrawWithEffect = [](C_D3DXEFFECT* effect, C_BaseObject* object, IDirect3DDevice9*) {
        g_effectDraws.emplace_back(object, effect);
    };
    auto* effect = reinterpret_cast<C_D3DXEFFECT*>(&g_query);   // only compared, never used
    queue().Add(MakeCamera(L"cam"));
    Item* inside = MakeItem(L"inside", 199.0f);
    Item* edge = MakeItem(L"edge", 200.0f);
    Item* outside = MakeItem(L"outside", 200.5f);
    for (Item* item : {inside, edge, outside}) {
        item->Effect = effect;
        queue().Add(item);
    }
    EXPECT_EQ(Drawn(0), (std::vector<std::wstring>{L"[cam]", L"outside"}));
    EXPECT_EQ(g_effectDraws, (std::vector<std::pair<C_BaseObject*, C_D3DXEFFECT*>>{{edge, effect}, {inside, effect}}));
}
