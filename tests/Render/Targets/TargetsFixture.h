// Scenes with render surfaces, effects and the occlusion pass, drawn on the
// real device: helpers shared by the tests of this folder.
#pragma once

#include "Render/Resources/SceneRenderFixture.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Render/Resources/D3DXEFFECT.h"
#include "Render/Resources/FinalRenderObject.h"
#include "Render/Resources/Surface9.h"

// A module file: the flat camera of the scene tests (clearing green, with
// `cameraExtra` as its extra objects), the light, the materials, a module
// that is never drawn ("Rig": a capture camera clearing blue and a red box
// that glows by itself) and then `objects`.
inline std::string TargetScene(const std::string& objects, const std::string& cameraExtra = std::string())
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<scene name=\"Scene\" class=\"C_BaseModule\">\n"
           "  <c name=\"Cam\" class=\"C_GUICamera\" value=\"RT_Full; 0.5235988; 0xFF00FF00;\" extra=\"" +
           cameraExtra +
           "\"/>\n"
           "  <l name=\"Sun\" class=\"C_D3DLIGHT9_DIRECTIONAL\" value=\"0xFFFFFFFF; 0; 0; 0; 0; 1; 1000;\"/>\n"
           "  <x name=\"Red\" class=\"C_D3DMATERIAL9\" value=\"0xFFFF0000; 0; 0; 0; 0;\"/>\n"
           "  <x name=\"White\" class=\"C_D3DMATERIAL9\" value=\"0xFFFFFFFF; 0; 0; 0; 0;\"/>\n"
           "  <x name=\"Glow\" class=\"C_D3DMATERIAL9\" value=\"0; 0; 0; 0xFFFF0000; 0;\"/>\n"
           "  <x name=\"NoTexture\" class=\"C_D3DTEXTURE9\" value=\"null; 0;\"/>\n"
           "  <rig name=\"Rig\" class=\"C_BaseModule\" status=\"disabled\">\n"
           "    <c name=\"CapCam\" class=\"C_GUICamera\" value=\"RT_Full; 0.5235988; 0xFF0000FF;\"/>\n"
           "    <p name=\"RedBox\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; RT_Cube; RT_Origin;\""
           " extra=\"Glow; NoTexture\"/>\n"
           "  </rig>\n" +
           objects + "</scene>\n";
}

class TargetsTest : public SceneRenderTest {
protected:
    void SetUp() override
    {
        SceneRenderTest::SetUp();
        auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
        for (const wchar_t* line : {L"FolderEffect = effects", L"TG_Wall = 100; 100; 4;", L"TG_Front = 0; 0; -60;",
                                    L"TG_Nearest = 0; 0; -100;", L"TG_Peek = 90; 0; 50;", L"TG_Small = 10; 10; 10;"})
            texts.AddLine(line);
        SetOcclusionCulling(false);
    }
    void TearDown() override
    {
        SetOcclusionCulling(false);
        if (real) PortDeviceSetOcclusionQueries(real, true);
        SceneRenderTest::TearDown();
    }

    // The scene of TargetScene with `objects` added.
    void Load(const std::string& objects) { LoadScene(TargetScene(objects)); }

    // The "OcclusionCulling" switch of text.ini, on or absent.
    static void SetOcclusionCulling(bool on)
    {
        auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
        for (auto it = texts.begin(); it != texts.end(); ++it)
            if ((*it)->Descriptor == L"OcclusionCulling") {
                delete *it;
                texts.erase(it);
                break;
            }
        if (on) texts.AddLine(L"OcclusionCulling = True");
    }

    C_Surface9* Surface(const wchar_t* name)
    {
        return dynamic_cast<C_Surface9*>(Managers().GetResource(name, L"C_Surface9", false));
    }
    bool Queued(const wchar_t* name)
    {
        C_BaseObject* object = Object(name);
        return object && std::find(lastQueued.begin(), lastQueued.end(), object) != lastQueued.end();
    }
    // The window's answer to a lost device that can be reset: device objects
    // go, Reset, the occlusion switch is read again and everything loads.
    HRESULT LoseAndResetDevice()
    {
        PortDeviceForceLoss(real);
        EXPECT_EQ(real->TestCooperativeLevel(), D3DERR_DEVICELOST);
        EXPECT_EQ(real->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
        {
            C_BaseResource::C_DeviceRelease deviceOnly;
            C_QueueRendering::Instance().Unload();
        }
        Managers().ReleaseDeviceObjects();
        D3DPRESENT_PARAMETERS p = WindowedParams(Width, Height);
        const HRESULT reset = real->Reset(&p);
        if (FAILED(reset)) return reset;
        C_QueueRendering::Instance().Load(real);
        LoadRun();
        return reset;
    }
    // A render target's pixels through a system-memory copy, top row first.
    std::vector<uint32_t> ReadTarget(IDirect3DSurface9* target, UINT width, UINT height)
    {
        std::vector<uint32_t> out;
        IDirect3DSurface9* copy = nullptr;
        D3DSURFACE_DESC desc{};
        if (!target || FAILED(target->GetDesc(&desc)) ||
            FAILED(real->CreateOffscreenPlainSurface(width, height, desc.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr)))
            return out;
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(real->GetRenderTargetData(target, copy)) &&
            SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
            out.resize(size_t(width) * height);
            for (UINT y = 0; y < height; ++y)
                std::memcpy(&out[size_t(y) * width], static_cast<const uint8_t*>(locked.pBits) + size_t(y) * locked.Pitch,
                            width * 4);
            copy->UnlockRect();
        }
        copy->Release();
        return out;
    }
    // The frame's tick count such that the next frame sees `milliseconds`.
    static void NextFrameAt(uint32_t milliseconds) { C_BaseObject::CommonData().Time = milliseconds - 16u; }

    static bool IsRed(uint32_t p) { return Red(p) > 200 && Green(p) < 60 && Blue(p) < 60; }
    static bool IsGreen(uint32_t p) { return Green(p) > 200 && Red(p) < 60 && Blue(p) < 60; }
    static bool IsBlue(uint32_t p) { return Blue(p) > 150 && Red(p) < 60 && Green(p) < 60; }
};
