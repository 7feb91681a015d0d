// Whole frames of the engine on the real device, drawn with the device
// merging draws that differ only in their world transform and drawn one draw
// at a time: the pictures must not differ, whatever the scene does between
// objects (other materials and textures, scripts hiding and deleting
// objects during the update, a device lost in the middle of a frame) and
// however many objects share one mesh.

#include "Render/Resources/SceneRenderFixture.h"

#include <sstream>
#include <string>
#include <vector>

namespace {

// Script functions the test plays instead of Lua: an object's function
// runs in its module's update, in the module's order.
std::vector<std::pair<std::wstring, double>> g_scriptCalls;
int g_frame = 0;

// A grid of boxes of one mesh, 12 across, 8 pixels apart.
std::string Boxes(int count, const std::string& extra)
{
    std::ostringstream out;
    for (int i = 0; i < count; ++i) {
        out << "  <p name=\"B" << i << "\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; BS_Small; BS_P" << i
            << ";\" extra=\"" << extra << "\"/>\n";
    }
    return out.str();
}

void BoxPositions(int count, int across, float spacing)
{
    auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
    for (int i = 0; i < count; ++i) {
        const float x = -76.0f + spacing * static_cast<float>(i % across);
        const float y = 56.0f - spacing * static_cast<float>(i / across);
        texts.AddLine(L"BS_P" + std::to_wstring(i) + L" = " + std::to_wstring(x) + L"; " + std::to_wstring(y) + L"; " +
                      std::to_wstring(0.01f * static_cast<float>(i % 7)));
    }
}

} // namespace

class BatchingSceneTest : public SceneRenderTest {
protected:
    void SetUp() override
    {
        SceneRenderTest::SetUp();
        C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"BS_Small = 6; 6; 6;");
        g_scriptCalls.clear();
        g_frame = 0;
        savedScript = C_BaseObject::ScriptCall;
    }
    void TearDown() override
    {
        C_BaseObject::ScriptCall = savedScript;
        if (real) PortDeviceSetBatching(real, true);
        SceneRenderTest::TearDown();
    }

    // Frames of a freshly loaded scene, merged or not, with the OpenGL draw
    // calls of the last frame.
    std::vector<std::vector<uint32_t>> Frames(const std::string& scene, bool merged, int frames, uint64_t* glDraws = nullptr)
    {
        Managers().Clear();
        C_QueueRendering::Instance().ClearQueues();
        g_frame = 0;
        PortDeviceSetBatching(real, merged);
        Load(scene);
        std::vector<std::vector<uint32_t>> pictures;
        for (int f = 0; f < frames; ++f) {
            g_frame = f;
            const uint64_t before = PortDeviceGLDrawCalls(real);
            pictures.push_back(Frame());
            if (glDraws) *glDraws = PortDeviceGLDrawCalls(real) - before;
        }
        return pictures;
    }

    C_BaseObject::ScriptCallFunction savedScript = nullptr;
};

TEST_F(BatchingSceneTest, MaterialsAndTexturesChangingBetweenObjectsDrawTheSameMergedOrNot)
{
    std::vector<uint32_t> checker(16 * 16);
    for (int i = 0; i < 256; ++i) checker[size_t(i)] = ((i / 16 + i % 16) % 2) ? 0xF0C020 : 0x2040E0;
    Put("textures/checker.bmp", scenetest::Bmp(16, 16, checker));
    BoxPositions(144, 12, 13.0f);
    // Runs of one material, single objects of another, a textured run,
    // objects whose extras list the texture before the material, and render
    // states set by objects (a wireframe pair, then solid fill again).
    std::string scene = "  <x name=\"T\" class=\"C_D3DTEXTURE9\" value=\"checker.bmp; 0;\"/>\n"
                        "  <x name=\"Wire\" class=\"C_RenderState\" value=\"D3DRS_FILLMODE; D3DFILL_WIREFRAME;\"/>\n"
                        "  <x name=\"Solid\" class=\"C_RenderState\" value=\"D3DRS_FILLMODE; D3DFILL_SOLID;\"/>\n";
    for (int i = 0; i < 144; ++i) {
        const char* extra = i < 40 ? "Solid; Red" : i < 44 ? (i % 2 ? "Blue" : "White") : i < 90 ? "White; T"
                            : i < 100 ? "T; Blue" : i < 102 ? "Wire; Red" : "Solid; Blue";
        scene += "  <p name=\"B" + std::to_string(i) + "\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; BS_Small; BS_P" +
                 std::to_string(i) + "; RT_Turned;\" extra=\"" + extra + "\"/>\n";
    }
    uint64_t mergedCalls = 0, singleCalls = 0;
    const auto merged = Frames(scene, true, 2, &mergedCalls);
    const auto single = Frames(scene, false, 2, &singleCalls);
    ASSERT_EQ(merged.size(), single.size());
    for (size_t f = 0; f < merged.size(); ++f) EXPECT_TRUE(merged[f] == single[f]) << "frame " << f;
    // Drawn back to front, the materials come in shorter runs than listed;
    // the boxes out of view are not drawn at all.
    EXPECT_GE(singleCalls, 100u);
    EXPECT_LT(mergedCalls, singleCalls) << "runs of the same state go out together";
    // The picture has all of it: red, blue, white and textured boxes.
    const std::vector<uint32_t>& picture = merged.back();
    int red = 0, blue = 0, textured = 0;
    for (uint32_t p : picture) {
        red += Red(p) > 150 && Green(p) < 60 && Blue(p) < 60;
        blue += Blue(p) > 150 && Red(p) < 60 && Green(p) < 60;
        textured += Red(p) > 150 && Green(p) > 100 && Blue(p) < 80;
    }
    EXPECT_GT(red, 200);
    EXPECT_GT(blue, 200);
    EXPECT_GT(textured, 50);
}

TEST_F(BatchingSceneTest, ScriptsHidingAndDeletingObjectsDuringTheUpdateDrawTheSameMergedOrNot)
{
    BoxPositions(96, 12, 13.0f);
    // The light's script runs in the update every frame, before the boxes
    // are updated: it hides one box, deletes another and shows the first
    // hidden box again later.
    const std::string scene = Boxes(96, "White");
    C_BaseObject::ScriptCall = [](const std::wstring& function, double id) {
        g_scriptCalls.emplace_back(function, id);
        const int f = g_frame;
        auto idOf = [](int i) {
            std::string name = "B";
            name += std::to_string(i);
            return C_BaseObject::GetObjectID(name);
        };
        C_BaseObject::NotRenderObject(idOf(10 + 7 * f));
        C_BaseObject::DeleteObject(idOf(60 + 5 * f));
        if (f >= 2) C_BaseObject::VisibleObject(idOf(10));
    };
    auto run = [&](bool merged) {
        std::vector<std::vector<uint32_t>> frames;
        Managers().Clear();
        C_QueueRendering::Instance().ClearQueues();
        PortDeviceSetBatching(real, merged);
        Load(scene);
        Managers().GetResource(L"Sun")->ScriptFunction = L"Act";
        for (int f = 0; f < 4; ++f) {
            g_frame = f;
            frames.push_back(Frame());
        }
        return frames;
    };
    const auto merged = run(true);
    const size_t calls = g_scriptCalls.size();
    const auto single = run(false);
    EXPECT_EQ(calls, 4u);
    EXPECT_EQ(g_scriptCalls.size(), 8u);
    for (size_t f = 0; f < merged.size(); ++f) EXPECT_TRUE(merged[f] == single[f]) << "frame " << f;
    // The deleted objects are gone.
    EXPECT_EQ(Managers().GetResource(L"B60"), nullptr);
    EXPECT_EQ(Managers().GetResource(L"B75"), nullptr);
    EXPECT_NE(Managers().GetResource(L"B61"), nullptr);
    EXPECT_NE(merged[0], merged[3]);
}

TEST_F(BatchingSceneTest, ADeviceLostInTheMiddleOfAFrameShowsTheSameMergedOrNot)
{
    BoxPositions(48, 12, 13.0f);
    const std::string scene = Boxes(48, "Red");
    // The device is lost while B20 draws; what reached the back buffer by
    // then is the same either way, and so is the first frame after the
    // reset.
    C_BaseObject::ScriptCall = [](const std::wstring&, double) {};
    std::vector<uint32_t> lostFrame[2], afterReset[2];
    for (int run = 0; run < 2; ++run) {
        Managers().Clear();
        C_QueueRendering::Instance().ClearQueues();
        PortDeviceSetBatching(real, run == 0);
        Load(scene);
        Frame();
        auto& common = C_BaseObject::CommonData();
        module->Update();
        module->AddToRenderQueue();
        C_QueueRendering& queue = C_QueueRendering::Instance();
        ASSERT_EQ(real->BeginScene(), D3D_OK);
        common.RenderPass = 0;
        // Drawn by hand so that the loss comes between two objects.
        for (auto* one : queue.Queues) {
            one->Settle();
            one->Camera->Draw(real);
            for (size_t i = one->size(); i-- > 0;) {
                if ((*one)[i] == Managers().GetResource(L"B20")) PortDeviceForceLoss(real);
                (*one)[i]->Draw(real);
            }
        }
        ASSERT_EQ(real->EndScene(), D3D_OK);
        UINT w = 0, h = 0;
        ASSERT_TRUE(PortDeviceReadBackBuffer(real, lostFrame[run], w, h));
        EXPECT_EQ(real->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
        queue.ClearQueues();
        EXPECT_EQ(real->TestCooperativeLevel(), D3DERR_DEVICELOST);
        EXPECT_EQ(real->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
        D3DPRESENT_PARAMETERS p = WindowedParams(Width, Height);
        ASSERT_EQ(real->Reset(&p), D3D_OK);
        afterReset[run] = Frame();
    }
    EXPECT_TRUE(lostFrame[0] == lostFrame[1]);
    EXPECT_TRUE(afterReset[0] == afterReset[1]);
    EXPECT_NE(lostFrame[0], afterReset[0]) << "the boxes after B20 were not drawn before the loss";
}

TEST_F(BatchingSceneTest, HundredThousandObjectsSharingOneMeshDrawTheSameMergedOrNot)
{
    constexpr int count = 100000;
    // Boxes of one pixel and a half, 400 across and 250 down, filling the
    // view several times over in depth.
    auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
    texts.AddLine(L"BS_Dot = 1.5; 1.5; 1.5;");
    for (int i = 0; i < count; ++i) {
        const float x = -79.0f + 0.4f * static_cast<float>(i % 400);
        const float y = 59.0f - 0.48f * static_cast<float>((i / 400) % 250);
        texts.AddLine(L"BS_P" + std::to_wstring(i) + L" = " + std::to_wstring(x) + L"; " + std::to_wstring(y) + L"; " +
                      std::to_wstring(0.1f * static_cast<float>(i % 13)));
    }
    // One material for all but every thousandth object.
    std::string scene;
    scene.reserve(size_t(count) * 90);
    for (int i = 0; i < count; ++i) {
        scene += "  <p name=\"B" + std::to_string(i) + "\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; BS_Dot; BS_P" +
                 std::to_string(i) + ";\" extra=\"" + (i % 1000 ? "White" : "Blue") + "\"/>\n";
    }
    uint64_t mergedCalls = 0, singleCalls = 0;
    const auto merged = Frames(scene, true, 1, &mergedCalls);
    const auto single = Frames(scene, false, 1, &singleCalls);
    EXPECT_TRUE(merged[0] == single[0]);
    EXPECT_GE(singleCalls, static_cast<uint64_t>(count) * 99 / 100);  // a few at the edges are out of view
    // Merged draws hold a bounded number of objects each.
    EXPECT_GE(mergedCalls, static_cast<uint64_t>(count / 256));
    EXPECT_LT(mergedCalls, 1000u);
    int blue = 0;
    for (uint32_t p : merged[0]) blue += Blue(p) > 150 && Red(p) < 60;
    EXPECT_GT(blue, 5);
}
