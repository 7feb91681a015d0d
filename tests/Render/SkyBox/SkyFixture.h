// Fixtures of the sky and marker tests: a recording device that also keeps
// every transform and the viewport and notes the state each mesh draw sees;
// and a real device (headless Mesa) with a camera and frames read back.
#pragma once

#include "engine_support/ObjectTestClasses.h"

#include <functional>
#include <map>
#include <memory>
#include <set>

#include "Render/Resources/BaseTexture9.h"
#include "Render/Resources/D3DLIGHT9.h"
#include "Render/Resources/D3DXSTRING.h"
#include "Render/Resources/RecordingDevice.h"
#include "Render/Resources/SceneFiles.h"
#include "port/d3d9/device_gl.h"
#include "port/d3d9/device_setup.h"
#include "port/win32/afxwin.h"

struct Snapshot {
    D3DXMATRIX View, Projection, World;
    DWORD ZEnable, ZWrite, Cull;
    D3DMATERIAL9 Material;
};

class SkyDevice : public scenetest::RecordingDevice {
public:
    SkyDevice()
    {
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        for (DWORD state : {DWORD(D3DTS_VIEW), DWORD(D3DTS_PROJECTION), DWORD(D3DTS_WORLD)}) Transforms[state] = identity;
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override
    {
        Transforms[DWORD(state)] = *matrix;
        return RecordingDevice::SetTransform(state, matrix);
    }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override
    {
        *matrix = Transforms[DWORD(state)];
        return D3D_OK;
    }
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override
    {
        *viewport = Viewport;
        return D3D_OK;
    }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT vertices, UINT start,
                                 UINT count) override
    {
        Drawn.push_back({Transforms[DWORD(D3DTS_VIEW)], Transforms[DWORD(D3DTS_PROJECTION)],
                         Transforms[DWORD(D3DTS_WORLD)], RenderStates[D3DRS_ZENABLE], RenderStates[D3DRS_ZWRITEENABLE],
                         RenderStates[D3DRS_CULLMODE], Material});
        return RecordingDevice::DrawIndexedPrimitive(type, base, minIndex, vertices, start, count);
    }
    std::map<DWORD, D3DXMATRIX> Transforms;
    D3DVIEWPORT9 Viewport{0, 0, 160, 120, 0.0f, 1.0f};
    std::vector<Snapshot> Drawn;
};

class SkyTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        auto& common = C_BaseObject::CommonData();
        common.RenderPass = 0;
        common.CurrentCamera = nullptr;
        common.ScreenWidth = 160;
        common.ScreenHeight = 120;
        C_BaseTexture9::ClearStageTable();
        auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
        for (const wchar_t* line : {L"FolderTexture = textures", L"FolderMesh = meshes", L"OrientSphere1 = 0; 0; 0;"})
            texts.AddLine(line);
    }
    void TearDown() override
    {
        C_BaseObject::CommonData().RenderPass = 0;
        C_BaseTexture9::ClearStageTable();
        ObjectModelTest::TearDown();
    }
    template <class T>
    T* Make(const wchar_t* className, const wchar_t* name, const wchar_t* value)
    {
        auto* object = dynamic_cast<T*>(Managers().AddResource(className, name, value));
        EXPECT_NE(object, nullptr);
        if (object) object->Load(&device);
        return object;
    }
    // The load run of the resource managers, to its end.
    void LoadRun(IDirect3DDevice9* on)
    {
        int steps = 0;
        while (Managers().Load(on) && ++steps < 100) {}
    }
    void Put(const std::string& name, const std::string& bytes) const
    {
        std::filesystem::create_directories((dir / name).parent_path());
        WriteFile(name, bytes);
    }

    SkyDevice device;
};

class SkyRenderTest : public SkyTest {
protected:
    static constexpr UINT Width = 160, Height = 120;

    void SetUp() override
    {
        SkyTest::SetUp();
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        window = std::make_unique<CWnd>();
        RECT rect{0, 0, LONG(Width), LONG(Height)};
        ASSERT_TRUE(window->CreateEx(0, L"", L"sky test", WS_POPUP | WS_CAPTION, rect, nullptr, 0));
        D3DPRESENT_PARAMETERS p = WindowedParams(Width, Height);
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window->m_hWnd,
                                    D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &real),
                  D3D_OK);
    }
    void TearDown() override
    {
        Managers().Clear();
        C_BaseTexture9::ClearStageTable();
        if (real) real->Release();
        if (d3d) d3d->Release();
        if (window) window->DestroyWindow();
        SkyTest::TearDown();
    }
    template <class T = class C_BaseMeshSkybox>
    T* LoadSky(const wchar_t* className, const wchar_t* value)
    {
        auto* sky = dynamic_cast<T*>(Managers().AddResource(className, L"Sky", value));
        LoadRun(real);
        return sky;
    }
    // A camera at `eye` looking along `direction`.
    void Camera(const D3DXVECTOR3& eye, const D3DXVECTOR3& direction, const D3DXVECTOR3& up)
    {
        D3DXMATRIX view, projection;
        const D3DXVECTOR3 at = eye + direction;
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 0.9f, float(Width) / float(Height), 0.5f, 100.0f);
        real->SetTransform(D3DTS_VIEW, &view);
        real->SetTransform(D3DTS_PROJECTION, &projection);
    }
    // Clears to black, draws the objects in order and then `after`.
    std::vector<uint32_t> Frame(const std::vector<C_BaseObject*>& objects, const std::function<void()>& after = {})
    {
        real->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        EXPECT_EQ(real->BeginScene(), D3D_OK);
        C_BaseObject::CommonData().RenderPass = 0;
        for (C_BaseObject* object : objects) object->Draw(real);
        if (after) after();
        real->EndScene();
        std::vector<uint32_t> pixels;
        UINT w = 0, h = 0;
        EXPECT_TRUE(PortDeviceReadBackBuffer(real, pixels, w, h));
        real->Present(nullptr, nullptr, nullptr, nullptr);
        for (DWORD stage = 0; stage < 8; ++stage) real->SetTexture(stage, nullptr);
        C_BaseTexture9::ClearStageTable();
        return pixels;
    }
    static uint32_t At(const std::vector<uint32_t>& pixels, UINT x, UINT y) { return pixels[size_t(y) * Width + x]; }
    static int Red(uint32_t p) { return int((p >> 16) & 0xFF); }
    static int Green(uint32_t p) { return int((p >> 8) & 0xFF); }
    static int Blue(uint32_t p) { return int(p & 0xFF); }

    IDirect3D9* d3d = nullptr;
    std::unique_ptr<CWnd> window;
    IDirect3DDevice9* real = nullptr;
};
