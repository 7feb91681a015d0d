// What a device reset costs the engine for 1,000 positioned objects sharing
// three meshes and a material on a device that draws nothing: the release of
// every device object, then the complete load run that follows (every
// manager's step, done here back to back instead of one per frame). The
// scene is kept, so every run finds the same objects and makes none.

#include <benchmark/benchmark.h>

#include <string>

#include "BaseClasses/BaseModule.h"
#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/BaseCamera.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"
#include "../tests/port/d3dx9/fake_device.h"

namespace {

constexpr int kObjects = 1000;

void ReleaseAndReloadAfterAReset(benchmark::State& state)
{
    testdev::Device9 device;
    C_BaseCamera::InstallModuleSupport();
    C_QueueRendering::InstallInsert();
    C_ResManager& managers = C_ResManager::Instance();
    auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
    for (const wchar_t* line : {L"ResetView = 0; 0; 1; 1", L"ResetAt = 0; 110; 40", L"ResetAngles = 1.95; 0; 0",
                                L"ResetBox = 3; 3; 3", L"ResetSphere = 1.8; 16", L"ResetCylinder = 1.2; 1.2; 4; 20"})
        texts.AddLine(line);
    auto* module = static_cast<C_BaseModule*>(managers.AddResource(L"C_BaseModule", L"ResetRoot", L""));
    module->AddToModule(
        managers.AddResource(L"C_FirstFaceCamera", L"ResetCam", L"ResetView; 0.9; ; ResetAt; ResetAngles;"));
    module->AddToModule(
        managers.AddResource(L"C_D3DLIGHT9_DIRECTIONAL", L"ResetSun", L"0xFFF0F0F0; 0; 0; 0.4; -0.5; -0.7; 1000;"));
    managers.AddResource(L"C_D3DMATERIAL9", L"ResetM", L"0xFFFFFFFF; 0xFFFFFFFF; 0; 0; 0;");
    const wchar_t* meshes[3][2] = {{L"C_D3DXMESH9_BOX", L"ResetBox"},
                                   {L"C_D3DXMESH9_SPHERE", L"ResetSphere"},
                                   {L"C_D3DXMESH9_CYLINDER", L"ResetCylinder"}};
    for (int i = 0; i < kObjects; ++i) {
        const std::wstring position = L"ResetP" + std::to_wstring(i);
        texts.AddLine(position + L" = " + std::to_wstring(i % 40 * 4 - 78) + L"; " + std::to_wstring(i / 40 * 4 - 48) +
                      L"; 1.5");
        const std::wstring value = std::wstring(meshes[i % 3][0]) + L"; " + meshes[i % 3][1] + L"; " + position + L";";
        C_BaseResource* object =
            managers.AddResource(L"C_PositionObject", (L"ResetO" + std::to_wstring(i)).c_str(), value.c_str());
        object->SetExtra(L"ResetM");
        module->AddToModule(object);
    }
    int steps = 0;
    while (managers.Load(&device) && ++steps < 100) {}
    const std::size_t live = C_BaseObject::LiveCount();

    for (auto _ : state) {
        managers.ReleaseDeviceObjects();
        steps = 0;
        while (managers.Load(&device) && ++steps < 100) {}
    }
    state.counters["load_steps"] = steps;
    state.counters["managers"] = static_cast<double>(managers.size());
    state.counters["objects_made"] = static_cast<double>(C_BaseObject::LiveCount() - live);
    state.counters["module_children"] = static_cast<double>(module->size());
    state.SetItemsProcessed(state.iterations() * kObjects);
    managers.Clear();
}
BENCHMARK(ReleaseAndReloadAfterAReset)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
