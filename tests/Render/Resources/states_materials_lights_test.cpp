#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "engine_support/ObjectTestClasses.h"

#include "Render/Resources/D3DLIGHT9.h"
#include "Render/Resources/D3DMATERIAL9.h"
#include "Render/Resources/RenderState.h"
#include "Render/Resources/SceneFixture.h"

using scenetest::StateCall;

// ---------------------------------------------------------------------------
// Render and sampler states

TEST_F(SceneResourceTest, RenderStateNamesTranslateAndUnknownNamesReadAsNumbers)
{
    auto* wire = Make<C_RenderState>(L"C_RenderState", L"wire", L"D3DRS_FILLMODE; D3DFILL_WIREFRAME;");
    wire->Draw(&device);
    EXPECT_EQ(device.Calls, (std::vector<StateCall>{{"rs", 8, 2, 0}}));

    // Names are case-sensitive: lower case is no name, and as a number it is 0.
    auto* lower = Make<C_RenderState>(L"C_RenderState", L"lower", L"d3drs_fillmode; d3dfill_wireframe;");
    EXPECT_EQ(lower->State, 0u);
    EXPECT_EQ(lower->StateValue, 0u);

    // Any state and value may be given by number; value names form one table
    // whatever the state.
    auto* numbers = Make<C_RenderState>(L"C_RenderState", L"numbers", L"137; 1;");
    EXPECT_EQ(numbers->State, 137u);
    EXPECT_EQ(numbers->StateValue, 1u);
    auto* mixed = Make<C_RenderState>(L"C_RenderState", L"mixed", L"D3DRS_ZENABLE; D3DCULL_CCW;");
    EXPECT_EQ(mixed->State, 7u);
    EXPECT_EQ(mixed->StateValue, 3u);
    auto* blend = Make<C_RenderState>(L"C_RenderState", L"blend", L"D3DRS_DESTBLEND; D3DBLEND_INVBLENDFACTOR;");
    EXPECT_EQ(blend->State, 20u);
    EXPECT_EQ(blend->StateValue, 15u);
    auto* cmp = Make<C_RenderState>(L"C_RenderState", L"cmp", L"D3DRS_ALPHAFUNC; D3DCMP_GREATEREQUAL;");
    EXPECT_EQ(cmp->State, 25u);
    EXPECT_EQ(cmp->StateValue, 7u);
}

TEST_F(SceneResourceTest, SamplerStateIsSentOnlyWhenTheDeviceHoldsAnotherValue)
{
    auto* sampler = Make<C_SamplerState>(L"C_SamplerState", L"aniso", L"0; D3DSAMP_MINFILTER; D3DTEXF_ANISOTROPIC;");
    EXPECT_EQ(sampler->Sampler, 0u);
    EXPECT_EQ(sampler->Type, 6u);
    EXPECT_EQ(sampler->StateValue, 3u);
    C_BaseObject::CommonData().RenderPass = 1;   // the occlusion pass sets its own states
    sampler->Draw(&device);
    EXPECT_TRUE(device.Calls.empty());
    C_BaseObject::CommonData().RenderPass = 0;
    sampler->Draw(&device);
    sampler->Draw(&device);
    EXPECT_EQ(device.CallsOf("samp"), (std::vector<StateCall>{{"samp", 0, 6, 3}}));
    EXPECT_EQ(StateNames::SamplerState(L"D3DSAMP_DMAPOFFSET"), uint32_t(D3DSAMP_DMAPOFFSET));
    EXPECT_EQ(StateNames::SamplerStateValue(L"D3DFILL_SOLID"), 0u);   // each table its own names

    // Something else changed the sampler: the object sets it again.
    device.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    sampler->Draw(&device);
    EXPECT_EQ(device.CallsOf("samp").size(), 3u);
    EXPECT_EQ(device.SamplerStates[std::make_pair(DWORD(0), DWORD(6))], 3u);
}

// ---------------------------------------------------------------------------
// Materials and colour text

TEST_F(SceneResourceTest, ColourTextGivesChannelsOfByteOver256)
{
    auto* yellow = Make<C_D3DMATERIAL9>(L"C_D3DMATERIAL9", L"yellow",
                                         L"0xFFFFFF00; 0x00000000; 0xFFFFFF00; 0x00000000; 30.0;");
    const D3DCOLORVALUE& d = yellow->Material.Diffuse;
    EXPECT_FLOAT_EQ(d.r, 0.99609375f);
    EXPECT_FLOAT_EQ(d.g, 0.99609375f);
    EXPECT_FLOAT_EQ(d.b, 0.0f);
    EXPECT_FLOAT_EQ(d.a, 0.99609375f);
    EXPECT_FLOAT_EQ(yellow->Material.Power, 30.0f);
    EXPECT_FLOAT_EQ(yellow->Material.Specular.g, 0.99609375f);

    // Without "x" the field is read whole; whatever precedes the x is skipped;
    // text that is not hexadecimal gives 0.
    const D3DCOLORVALUE whole = ColorText::Read(L"80402010");
    EXPECT_FLOAT_EQ(whole.a, 0.5f);
    EXPECT_FLOAT_EQ(whole.r, 0.25f);
    EXPECT_FLOAT_EQ(whole.g, 0.125f);
    EXPECT_FLOAT_EQ(whole.b, 0.0625f);
    EXPECT_FLOAT_EQ(ColorText::Read(L"colour x00FF0000").r, 0.99609375f);
    const D3DCOLORVALUE junk = ColorText::Read(L"green");
    EXPECT_EQ(junk.r + junk.g + junk.b + junk.a, 0.0f);

    yellow->Draw(&device);
    EXPECT_FLOAT_EQ(device.Material.Diffuse.r, 0.99609375f);
    EXPECT_EQ(device.CallsOf("material").size(), 1u);
    C_BaseObject::CommonData().RenderPass = 1;
    yellow->Draw(&device);
    EXPECT_EQ(device.CallsOf("material").size(), 1u);
}

TEST_F(SceneResourceTest, ColourFormattingNamesMaterialsAndReadsBack)
{
    D3DMATERIAL9 material{};
    material.Diffuse = {1.0f, 0.5f, 0.0f, 1.0f};      // 1.0 × 256 is over 255
    material.Ambient = {0.25f, 0.25f, 0.25f, 0.0f};
    material.Specular = {-0.5f, 0.0f, 2.0f, 0.5f};    // out of range both ways
    material.Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
    material.Power = 12.5f;
    EXPECT_EQ(ColorText::MaterialValue(material),
              L"0xFFFF8000; 0x00404040; 0x800000FF; 0x00000000; 12.500000;");
    EXPECT_EQ(ColorText::Format(ColorText::Read(L"0x12345678")), L"0x12345678");
}

TEST_F(SceneResourceTest, TransparencyScalesTheLoadedAlphasWithinLimits)
{
    auto* glass = Make<C_D3DMATERIAL9>(L"C_D3DMATERIAL9", L"glass",
                                        L"0x80FFFFFF; 0x40FFFFFF; 0xFFFFFFFF; 0x00000000; 1;");
    glass->SetTransparency(0.5f);
    EXPECT_FLOAT_EQ(glass->Material.Diffuse.a, 0.25f);
    EXPECT_FLOAT_EQ(glass->Material.Ambient.a, 0.125f);
    EXPECT_FLOAT_EQ(glass->Material.Specular.a, 0.99609375f * 0.5f);
    glass->SetTransparency(0.0f);    // at least 0.1
    EXPECT_FLOAT_EQ(glass->Material.Diffuse.a, 0.05f);
    glass->SetTransparency(2.0f);    // at most 1.0, and always from the loaded alphas
    EXPECT_FLOAT_EQ(glass->Material.Diffuse.a, 0.5f);
    EXPECT_FLOAT_EQ(glass->Material.Ambient.a, 0.25f);
    glass->Unload();   // nothing to release: the colours stay
    EXPECT_FLOAT_EQ(glass->Material.Diffuse.r, 0.99609375f);
}

// ---------------------------------------------------------------------------
// Lights

class LightTest : public SceneResourceTest {
protected:
    // The update of one module: its lights register with its cameras.
    static void UpdateModule(const std::vector<C_D3DLIGHT9*>& lights, const std::vector<C_BaseObject*>& cameras)
    {
        for (C_D3DLIGHT9* light : lights) light->ClearDistances();
        for (C_BaseObject* camera : cameras)
            for (C_D3DLIGHT9* light : lights) light->CalcDistance(camera);
    }
    // One camera's queue: lights come first.
    void DrawQueue(C_BaseObject* camera, const std::vector<C_D3DLIGHT9*>& lights)
    {
        C_BaseObject::CommonData().CurrentCamera = camera;
        for (C_D3DLIGHT9* light : lights) light->Draw(&device);
    }
    C_D3DLIGHT9* Light(const wchar_t* name, const wchar_t* value = L"0xFFFFFFFF; 0; 0; 1; 2; 3; 50;")
    {
        return Make<C_D3DLIGHT9>(L"C_D3DLIGHT9_POINT", name, value);
    }
    C_BaseObject* Camera(const wchar_t* name) { return Managers().AddResource(L"TestObject", name, L""); }
};

TEST_F(LightTest, EachCameraInstallsTheLightsOfItsModulesAndDisablesLeftOverSlots)
{
    C_BaseObject* c1 = Camera(L"c1");
    C_BaseObject* c2 = Camera(L"c2");
    C_BaseObject* c3 = Camera(L"c3");
    std::vector<C_D3DLIGHT9*> first = {Light(L"l1"), Light(L"l2"), Light(L"l3")};
    std::vector<C_D3DLIGHT9*> second = {Light(L"l4")};

    for (int frame = 0; frame < 2; ++frame) {
        device.Calls.clear();
        UpdateModule(first, {c1, c2});
        UpdateModule(second, {c3});
        DrawQueue(c1, first);
        DrawQueue(c2, first);
        DrawQueue(c3, second);
        const std::vector<StateCall> expected = {
            {"light", 0}, {"enable", 0, 1}, {"light", 1}, {"enable", 1, 1}, {"light", 2}, {"enable", 2, 1},
            {"light", 0}, {"enable", 0, 1}, {"light", 1}, {"enable", 1, 1}, {"light", 2}, {"enable", 2, 1},
            {"light", 0}, {"enable", 0, 1}, {"enable", 1, 0}, {"enable", 2, 0},
        };
        EXPECT_EQ(device.Calls, expected) << "frame " << frame;
    }
    EXPECT_EQ(device.Lights[0].Diffuse.r, second[0]->Light.Diffuse.r);
    EXPECT_TRUE(device.Enabled[0]);
    EXPECT_FALSE(device.Enabled[1]);
}

TEST_F(LightTest, ADisabledLightLeavesItsSlotAtTheNextCameraChange)
{
    C_BaseObject* c1 = Camera(L"c1");
    C_BaseObject* c2 = Camera(L"c2");
    std::vector<C_D3DLIGHT9*> lights = {Light(L"a"), Light(L"b")};
    UpdateModule(lights, {c1});
    DrawQueue(c1, lights);
    EXPECT_TRUE(device.Enabled[1]);

    // Same camera, nothing registered: the device keeps its lights.
    lights[1]->SetStatus(C_BaseObject::Disabled);
    device.Calls.clear();
    DrawQueue(c1, lights);
    EXPECT_TRUE(device.Calls.empty());

    UpdateModule(lights, {c2});
    DrawQueue(c2, lights);
    EXPECT_EQ(device.Calls, (std::vector<StateCall>{{"light", 0}, {"enable", 0, 1}, {"enable", 1, 0}}));
}

TEST_F(LightTest, PointAndDirectionalFieldsAndDefaults)
{
    C_D3DLIGHT9* empty = Light(L"empty", L"");
    EXPECT_EQ(empty->Light.Type, D3DLIGHT_POINT);
    EXPECT_EQ(empty->Light.Position.x, 0.0f);
    EXPECT_EQ(empty->Light.Range, 0.0f);
    EXPECT_FLOAT_EQ(empty->Light.Attenuation1, 0.05f);
    EXPECT_EQ(empty->Light.Attenuation0 + empty->Light.Attenuation2, 0.0f);
    EXPECT_EQ(empty->Light.Diffuse.a, 0.0f);

    C_D3DLIGHT9* point = Light(L"point", L"0x00FF0000; 0x0000FF00; 0x000000FF; 1.5; -2; 3; 40;");
    EXPECT_FLOAT_EQ(point->Light.Specular.g, 0.99609375f);
    EXPECT_FLOAT_EQ(point->Light.Ambient.b, 0.99609375f);
    EXPECT_FLOAT_EQ(point->Light.Position.y, -2.0f);
    EXPECT_FLOAT_EQ(point->Light.Range, 40.0f);

    auto* sun = Make<C_D3DLIGHT9>(L"C_D3DLIGHT9_DIRECTIONAL", L"sun", L"0xFFFFFFFF; 0; 0; 0; -1; 0.5; 1000;");
    EXPECT_EQ(sun->Light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_FLOAT_EQ(sun->Light.Direction.y, -1.0f);
    EXPECT_FLOAT_EQ(sun->Light.Direction.z, 0.5f);
    EXPECT_EQ(sun->Light.Position.x, 0.0f);
    auto* fresh = dynamic_cast<C_D3DLIGHT9*>(Managers().AddResource(L"C_D3DLIGHT9_DIRECTIONAL", L"fresh", L""));
    EXPECT_EQ(fresh->Light.Direction.x, 1.0f);
}

TEST_F(LightTest, ListsStayBoundedAndForgetDeletedLights)
{
    C_BaseObject* unseen = Camera(L"unseen");   // its queue is never drawn
    C_BaseObject* seen = Camera(L"seen");
    std::vector<C_D3DLIGHT9*> lights = {Light(L"a"), Light(L"b")};
    for (int frame = 0; frame < 50; ++frame) UpdateModule(lights, {unseen, seen});
    EXPECT_EQ(C_D3DLIGHT9::Lists().PerCamera[unseen].size(), 2u);

    // A light deleted after registering is not installed from the list.
    Managers().DeleteObject(lights[1]);
    DrawQueue(seen, {lights[0]});
    EXPECT_EQ(device.Calls, (std::vector<StateCall>{{"light", 0}, {"enable", 0, 1}}));
    EXPECT_EQ(C_D3DLIGHT9::Lists().PerCamera[unseen].size(), 1u);
}
