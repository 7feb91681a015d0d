#include "Render/SkyBox/TestCGS.h"

#include <cstdio>
#include <string>

#include "Render/Resources/D3DMATERIAL9.h"
#include "Render/Resources/D3DXMESH9.h"
#include "port/d3d9/d3d9.h"

TW_REGISTER_CLASS(C_TestCGS)

namespace {

C_BaseResource* Make(const wchar_t* className, const std::wstring& value, IDirect3DDevice9* device)
{
    return RequestResource(className, value, value, device);
}

// Null for a resource a script has deleted meanwhile.
template <class T>
T* Alive(T*& resource)
{
    if (resource && !C_BaseObject::IsLive(resource)) resource = nullptr;
    return resource;
}

} // namespace

C_TestCGS::C_TestCGS()
{
    ResourceLevel = 2;
}

C_TestCGS::~C_TestCGS() = default;

void C_TestCGS::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    Yellow = dynamic_cast<C_D3DMATERIAL9*>(
        Make(L"C_D3DMATERIAL9", L"0xFFFFFF00; 0x00000000; 0xFFFFFF00; 0x00000000; 30.0;", device));
    // The specular colour has seven digits, as the test arrangement always
    // had: it reads as 0x0FFFF0FF.
    Magenta = dynamic_cast<C_D3DMATERIAL9*>(
        Make(L"C_D3DMATERIAL9", L"0xFFFF00FF; 0x00000000; 0xFFFF0FF; 0x00000000; 30.0;", device));
    Box = Make(L"C_D3DXMESH9_BOX", L"10.0; 10.0; 10.0;", device);
    Cylinder = Make(L"C_D3DXMESH9_CYLINDER", L"4.0; 4.0; 20.0; 30;", device);
    Plate = Make(L"C_D3DXMESH9_BOX", L"100.0; 100.0; 0.1;", device);
    wchar_t green[96];
    const unsigned colour = 0xFF00FF00u;
    std::swprintf(green, sizeof green / sizeof green[0], L"0x%X; 0x%X; 0x%X; 0x%X; 0.0;", colour, colour, colour,
                  colour);
    Green = dynamic_cast<C_D3DMATERIAL9*>(Make(L"C_D3DMATERIAL9", green, device));
}

void C_TestCGS::Unload()
{
    if (!ReleasingDeviceObjectsOnly()) {
        Yellow = Magenta = Green = nullptr;
        Box = Cylinder = Plate = nullptr;
    }
    C_BaseResource::Unload();
}

void C_TestCGS::Draw(IDirect3DDevice9* device)
{
    if (CommonData().RenderPass != 0 || !device) return;
    C_BaseResource::Draw(device);
    D3DXMATRIX world;

    // The box stands at the origin, pitched by pi / 4.
    D3DXMatrixRotationYawPitchRoll(&world, 0.0f, 3.1415927f / 4.0f, 0.0f);
    device->SetTransform(D3DTS_WORLD, &world);
    if (Alive(Yellow)) Yellow->Draw(device);
    if (Alive(Box)) Box->Draw(device);

    // The cylinder stands beside it, along Z.
    D3DXMatrixTranslation(&world, 20.0f, 0.0f, 0.0f);
    device->SetTransform(D3DTS_WORLD, &world);
    if (Alive(Magenta)) Magenta->Draw(device);
    if (Alive(Cylinder)) Cylinder->Draw(device);

    // The plate lies under both.
    D3DXMatrixTranslation(&world, 0.0f, 0.0f, -10.0f);
    device->SetTransform(D3DTS_WORLD, &world);
    if (Alive(Green)) Green->Draw(device);
    if (Alive(Plate)) Plate->Draw(device);
}
