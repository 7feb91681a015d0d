#include "SettingsEditor/DeviceTest.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "SettingsEditor/Resources.h"
#include "port/d3dx9/d3dx9math.h"
#include "port/d3dx9/d3dx9tex.h"
#include "port/win32/afxwin.h"

namespace {

struct CubeVertex {
    float x, y, z;
    D3DCOLOR diffuse;
    float u, v;
};
constexpr DWORD kCubeFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// The corners of each face as seen from outside it: top left, top right,
// bottom right, bottom left; two clockwise triangles per face.
constexpr float kFaces[6][4][3] = {
    {{-1, 1, -1}, {1, 1, -1}, {1, -1, -1}, {-1, -1, -1}},   // front (z = -1)
    {{1, 1, 1}, {-1, 1, 1}, {-1, -1, 1}, {1, -1, 1}},       // back
    {{-1, 1, 1}, {-1, 1, -1}, {-1, -1, -1}, {-1, -1, 1}},   // left
    {{1, 1, -1}, {1, 1, 1}, {1, -1, 1}, {1, -1, -1}},       // right
    {{-1, 1, 1}, {1, 1, 1}, {1, 1, -1}, {-1, 1, -1}},       // top
    {{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}},   // bottom
};
// Each face a little darker, so that edges show however the cube turns.
constexpr D3DCOLOR kShades[6] = {0xFFFFFFFF, 0xFFD8D8D8, 0xFFB8B8B8, 0xFFE8E8E8, 0xFFF4F4F4, 0xFFA8A8A8};
constexpr float kCorners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
constexpr UINT kVertexCount = 24;
constexpr UINT kIndexCount = 36;

// The test window: its class has CS_NOCLOSE, so the close box (and the
// frame limit of a headless run, which asks the same way) does nothing; the
// test closes the window itself.
class C_TestWindow : public CWnd {
protected:
    void OnClose() override {}
};

template <class T>
void ReleaseInterface(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

// Everything the test makes, released in reverse order of making.
struct Made {
    C_TestWindow window;
    IDirect3DDevice9* device = nullptr;
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DIndexBuffer9* indices = nullptr;
    IDirect3DTexture9* texture = nullptr;
    ~Made()
    {
        ReleaseInterface(texture);
        ReleaseInterface(indices);
        ReleaseInterface(vertices);
        ReleaseInterface(device);
        if (window.GetSafeHwnd()) window.DestroyWindow();
    }
};

void PumpWindowMessages()
{
    PortPumpMessages();
    MSG msg;
    while (PortPeekMessage(&msg, TRUE)) {
        // No message loop of an application runs here: a quit request
        // belongs to nobody and is dropped.
        if (msg.message != WM_QUIT) DispatchMessageW(&msg);
    }
}

}  // namespace

std::wstring DescribeResult(HRESULT result)
{
    struct Name {
        HRESULT code;
        const wchar_t* text;
    };
    static const Name names[] = {
        {D3DERR_INVALIDCALL, L"D3DERR_INVALIDCALL"},       {D3DERR_NOTAVAILABLE, L"D3DERR_NOTAVAILABLE"},
        {D3DERR_OUTOFVIDEOMEMORY, L"D3DERR_OUTOFVIDEOMEMORY"}, {D3DERR_DEVICELOST, L"D3DERR_DEVICELOST"},
        {D3DERR_DEVICENOTRESET, L"D3DERR_DEVICENOTRESET"}, {D3DERR_INVALIDDEVICE, L"D3DERR_INVALIDDEVICE"},
        {D3DERR_DRIVERINTERNALERROR, L"D3DERR_DRIVERINTERNALERROR"}, {E_OUTOFMEMORY, L"E_OUTOFMEMORY"},
        {E_FAIL, L"E_FAIL"},                               {E_INVALIDARG, L"E_INVALIDARG"},
        {E_NOTIMPL, L"E_NOTIMPL"},
    };
    for (const Name& name : names)
        if (name.code == result) return name.text;
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(result));
    return text;
}

C_DeviceTestResult C_DeviceTest::RunDeviceTest(const C_Direct3D9SettingsBase& settings, const Output& output,
                                               const Idle& idle)
{
    C_DeviceTestResult result;
    auto write = [&](const wchar_t* text) {
        if (output) output(text);
    };
    auto fail = [&](const std::wstring& why) {
        result.failure = why;
        return result;
    };
    const wchar_t* const ok = L"Удачно.\r\n";
    if (!settings.m_pDirect3D) return fail(L"нет объекта Direct3D");
    Made made;
    D3DPRESENT_PARAMETERS present = settings.PresentParameters;
    const bool windowed = present.Windowed != FALSE;

    write(L"Регистрация класса окна...\r\n");
    // The port layer gives every window the arrow cursor.
    const LPCWSTR windowClass = AfxRegisterWndClass(CS_NOCLOSE);
    if (!windowClass) return fail(L"класс окна не зарегистрирован");
    write(ok);

    write(L"Создание окна...\r\n");
    // A window cannot be larger than the largest device surface: wider
    // sizes are clamped here and left to the device to refuse, as the
    // system clamps a window that is too large.
    const LONG width = std::clamp<LONG>(static_cast<LONG>(std::min<UINT>(present.BackBufferWidth, 16384)), 1, 16384);
    const LONG height = std::clamp<LONG>(static_cast<LONG>(std::min<UINT>(present.BackBufferHeight, 16384)), 1, 16384);
    RECT rect{0, 0, width, height};
    const DWORD style = windowed ? (WS_POPUP | WS_CAPTION | WS_SYSMENU) : (WS_POPUP | WS_BORDER | WS_SYSMENU);
    if (!made.window.CreateEx(0, windowClass, L"TestWindow", style, rect, nullptr, 0))
        return fail(L"окно не создано");
    if (windowed) {
        made.window.CalcWindowRect(&rect);
        const LONG w = rect.right - rect.left;
        const LONG h = rect.bottom - rect.top;
        made.window.MoveWindow((GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h,
                               TRUE);
    }
    write(ok);

    write(L"Создание 3D устройства...\r\n");
    present.hDeviceWindow = made.window.GetSafeHwnd();
    const HRESULT created = settings.m_pDirect3D->CreateDevice(
        static_cast<UINT>(settings.Adapter), static_cast<D3DDEVTYPE>(settings.AdapterType), made.window.GetSafeHwnd(),
        static_cast<DWORD>(settings.CreateDeviceFlag) | D3DCREATE_MULTITHREADED | D3DCREATE_FPU_PRESERVE, &present,
        &made.device);
    if (FAILED(created) || !made.device) return fail(L"CreateDevice: " + DescribeResult(created));
    made.device->SetSamplerState(0, D3DSAMP_MINFILTER, static_cast<DWORD>(settings.TextureFilterType));
    made.device->SetSamplerState(0, D3DSAMP_MAGFILTER, static_cast<DWORD>(settings.TextureFilterType));
    made.window.ShowWindow(SW_SHOW);
    write(ok);

    write(L"Создание буфера вершин...\r\n");
    HRESULT hr = made.device->CreateVertexBuffer(kVertexCount * sizeof(CubeVertex), D3DUSAGE_WRITEONLY, kCubeFvf,
                                                 D3DPOOL_MANAGED, &made.vertices, nullptr);
    if (FAILED(hr)) return fail(L"CreateVertexBuffer: " + DescribeResult(hr));
    write(ok);
    write(L"Блокирование буфера вершин...\r\n");
    void* data = nullptr;
    hr = made.vertices->Lock(0, 0, &data, 0);
    if (FAILED(hr) || !data) return fail(L"IDirect3DVertexBuffer9::Lock: " + DescribeResult(hr));
    auto* vertex = static_cast<CubeVertex*>(data);
    for (int face = 0; face < 6; ++face)
        for (int corner = 0; corner < 4; ++corner)
            *vertex++ = {kFaces[face][corner][0], kFaces[face][corner][1], kFaces[face][corner][2], kShades[face],
                         kCorners[corner][0], kCorners[corner][1]};
    made.vertices->Unlock();
    write(ok);

    write(L"Создание индексного буфера...\r\n");
    hr = made.device->CreateIndexBuffer(kIndexCount * sizeof(WORD), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                        &made.indices, nullptr);
    if (FAILED(hr)) return fail(L"CreateIndexBuffer: " + DescribeResult(hr));
    write(ok);
    write(L"Блокирование индексного буфера...\r\n");
    data = nullptr;
    hr = made.indices->Lock(0, 0, &data, 0);
    if (FAILED(hr) || !data) return fail(L"IDirect3DIndexBuffer9::Lock: " + DescribeResult(hr));
    auto* index = static_cast<WORD*>(data);
    for (WORD face = 0; face < 6; ++face) {
        const WORD first = static_cast<WORD>(face * 4);
        const WORD corners[6] = {0, 1, 2, 0, 2, 3};
        for (WORD corner : corners) *index++ = static_cast<WORD>(first + corner);
    }
    made.indices->Unlock();
    write(ok);

    write(L"Загрузка текстуры...\r\n");
    const auto image = FindProgramResource(L"Texture");
    if (image.empty()) return fail(L"ресурс \"Texture\" не найден");
    hr = D3DXCreateTextureFromFileInMemory(made.device, image.data(), static_cast<UINT>(image.size()), &made.texture);
    if (FAILED(hr)) return fail(L"D3DXCreateTextureFromFileInMemory: " + DescribeResult(hr));
    write(ok);

    write(L"Отображение сцены...\r\n");
    float aspect = 4.0f / 3.0f;
    IDirect3DSurface9* backBuffer = nullptr;
    if (SUCCEEDED(made.device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) && backBuffer) {
        D3DSURFACE_DESC desc{};
        if (SUCCEEDED(backBuffer->GetDesc(&desc)) && desc.Height > 0)
            aspect = static_cast<float>(desc.Width) / static_cast<float>(desc.Height);
        backBuffer->Release();
    }
    D3DXMATRIX view, projection, world;
    const D3DXVECTOR3 eye(0.0f, 0.0f, -4.5f), at(0.0f, 0.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 4.0f, aspect, 0.1f, 100.0f);
    IDirect3DDevice9* device = made.device;
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    const bool depth = present.EnableAutoDepthStencil != FALSE;
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, depth ? D3DZB_TRUE : D3DZB_FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetTexture(0, made.texture);
    device->SetStreamSource(0, made.vertices, 0, sizeof(CubeVertex));
    device->SetIndices(made.indices);
    device->SetFVF(kCubeFvf);

    unsigned failedPresents = 0;
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < SceneMilliseconds; elapsed = GetTickCount() - start) {
        const float seconds = static_cast<float>(elapsed) / 1000.0f;
        D3DXMatrixRotationYawPitchRoll(&world, seconds * 1.1f, seconds * 0.5f, 0.0f);
        device->SetTransform(D3DTS_WORLD, &world);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | (depth ? D3DCLEAR_ZBUFFER : 0), D3DCOLOR_XRGB(32, 48, 72), 1.0f,
                      0);
        if (SUCCEEDED(device->BeginScene())) {
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, kVertexCount, 0, kIndexCount / 3);
            device->EndScene();
        }
        // A lost device (a full-screen window losing the screen) draws
        // nothing until the time is over; it was made, which is what the
        // test asks.
        if (SUCCEEDED(device->Present(nullptr, nullptr, nullptr, nullptr))) {
            ++result.frames;
        } else {
            Sleep(10);
            // A fixed-step clock only moves with presented frames: a device
            // that stays lost ends the scene after the same time in sleeps.
            if (++failedPresents > SceneMilliseconds / 10) break;
        }
        PumpWindowMessages();
        if (idle) idle();
    }
    device->SetTexture(0, nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    write(ok);
    result.success = true;
    return result;
}
