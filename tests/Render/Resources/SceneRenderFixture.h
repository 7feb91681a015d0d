// The fixture of the scene tests that draw on the real device (headless,
// Mesa): scenes loaded from module files through the resource managers and
// drawn by the render queue as the window's frame draws them.
#pragma once

#include "Render/Resources/SceneFixture.h"

#include <fstream>
#include <memory>

#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/BaseCamera.h"
#include "Render/Position/PositionObject.h"
#include "Render/Resources/BaseTexture9.h"
#include "Render/Resources/D3DXMESH9_XFILE.h"
#include "Render/Resources/D3DXSTRING.h"
#include "Common/CodePage.h"
#include "Render/Resources/SceneFiles.h"
#include "port/d3d9/device_gl.h"
#include "port/d3d9/device_setup.h"
#include "port/win32/afxwin.h"

namespace {

[[maybe_unused]] int Red(uint32_t argb) { return int((argb >> 16) & 0xFF); }
[[maybe_unused]] int Green(uint32_t argb) { return int((argb >> 8) & 0xFF); }
[[maybe_unused]] int Blue(uint32_t argb) { return int(argb & 0xFF); }

// The camera and the light every scene here starts with: a flat camera (one
// world unit per pixel on z = 0, looking along +Z) clearing to green, and a
// white light shining along the view.
[[maybe_unused]] std::string SceneFile(const std::string& objects)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<scene name=\"Scene\" class=\"C_BaseModule\">\n"
           "  <c name=\"Cam\" class=\"C_GUICamera\" value=\"RT_Full; 0.5235988; 0xFF00FF00;\"/>\n"
           "  <l name=\"Sun\" class=\"C_D3DLIGHT9_DIRECTIONAL\" value=\"0xFFFFFFFF; 0; 0; 0; 0; 1; 1000;\"/>\n"
           "  <x name=\"Red\" class=\"C_D3DMATERIAL9\" value=\"0xFFFF0000; 0; 0; 0; 0;\"/>\n"
           "  <x name=\"Blue\" class=\"C_D3DMATERIAL9\" value=\"0xFF0000FF; 0; 0; 0; 0;\"/>\n"
           "  <x name=\"White\" class=\"C_D3DMATERIAL9\" value=\"0xFFFFFFFF; 0; 0; 0; 0;\"/>\n" +
           objects + "</scene>\n";
}

} // namespace

class SceneRenderTest : public SceneResourceTest {
protected:
    static constexpr UINT Width = 160, Height = 120;

    void SetUp() override
    {
        SceneResourceTest::SetUp();
        auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
        for (const wchar_t* line : {L"FolderTexture = textures", L"FolderMesh = meshes", L"RT_Full = 0; 0; 1; 1",
                                    L"RT_Cube = 40; 40; 40;", L"RT_Plate = 40; 40; 1;", L"RT_Big = 80; 80; 80;",
                                    L"RT_Origin = 0; 0; 0;", L"RT_Left = -40; 0; 0;", L"RT_Right = 40; 0; 0;",
                                    L"RT_Away = 0; 0; 100;", L"RT_Outside = 500; 0; 0;", L"RT_Turned = 0; 1.0471976; 0;"})
            texts.AddLine(line);
        C_BaseCamera::InstallModuleSupport();
        C_BaseObject::RenderQueueInsert = [](C_BaseObject* object) { C_QueueRendering::Instance().Add(object); };

        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        window = std::make_unique<CWnd>();
        RECT rect{0, 0, LONG(Width), LONG(Height)};
        ASSERT_TRUE(window->CreateEx(0, L"", L"scene test", WS_POPUP | WS_CAPTION, rect, nullptr, 0));
        D3DPRESENT_PARAMETERS p = WindowedParams(Width, Height);
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window->m_hWnd,
                                    D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &real),
                  D3D_OK);
        auto& common = C_BaseObject::CommonData();
        common.ScreenWidth = Width;
        common.ScreenHeight = Height;
        common.MouseX = common.MouseY = -100;
    }

    void TearDown() override
    {
        C_QueueRendering::Instance().ClearQueues();
        C_QueueRendering::Instance().Unload();
        Managers().Clear();
        C_BaseTexture9::ClearStageTable();
        if (real) real->Release();
        if (d3d) d3d->Release();
        if (window) window->DestroyWindow();
        C_BaseModule::CameraSupport = {};
        SceneResourceTest::TearDown();
    }

    void Put(const std::string& name, const std::string& bytes) const
    {
        std::filesystem::create_directories((dir / name).parent_path());
        WriteFile(name, bytes);
    }

    // The main-module path of the program: the module reads its file, then
    // the managers load everything, one manager per step.
    void Load(const std::string& objects) { LoadScene(SceneFile(objects)); }
    void LoadScene(const std::string& xml)
    {
        Put("scene.xml", xml);
        module = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"Root", L""));
        ASSERT_NE(module, nullptr);
        *module << Path("scene.xml");
        // As the window does: the queue decides occlusion culling before the
        // load run, which then loads the occlusion surface with the rest.
        C_QueueRendering::Instance().Load(real);
        LoadRun();
    }
    void LoadRun()
    {
        int steps = 0;
        while (Managers().Load(real) && ++steps < 100) {}
    }

    // One frame as the window runs it; the back buffer before Present.
    std::vector<uint32_t> Frame()
    {
        auto& common = C_BaseObject::CommonData();
        common.Time += 16;
        module->Update();
        module->AddToRenderQueue();
        C_QueueRendering& queue = C_QueueRendering::Instance();
        common.RenderPass = 1;
        queue.Draw(real);
        EXPECT_EQ(real->BeginScene(), D3D_OK);
        common.RenderPass = 0;
        queue.Draw(real);
        EXPECT_EQ(real->EndScene(), D3D_OK) << "the main pass ends in the frame's own scene";
        IDirect3DSurface9* target = nullptr;
        IDirect3DSurface9* back = nullptr;
        real->GetRenderTarget(0, &target);
        real->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        EXPECT_EQ(target, back) << "the main pass ends drawing into the back buffer";
        if (target) target->Release();
        if (back) back->Release();
        std::vector<uint32_t> pixels;
        UINT w = 0, h = 0;
        EXPECT_TRUE(PortDeviceReadBackBuffer(real, pixels, w, h));
        EXPECT_EQ(w, Width);
        real->Present(nullptr, nullptr, nullptr, nullptr);
        lastQueued.clear();
        for (auto* one : queue.Queues) lastQueued.insert(lastQueued.end(), one->begin(), one->end());
        queue.ClearQueues();
        for (DWORD stage = 0; stage < 8; ++stage) real->SetTexture(stage, nullptr);
        C_BaseTexture9::ClearStageTable();
        return pixels;
    }

    static uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) { return pixels[size_t(y) * Width + x]; }
    C_BaseObject* Object(const wchar_t* name) { return Managers().GetResource(name); }

    IDirect3D9* d3d = nullptr;
    std::unique_ptr<CWnd> window;
    IDirect3DDevice9* real = nullptr;
    C_BaseModule* module = nullptr;
    std::vector<C_BaseObject*> lastQueued;
};

