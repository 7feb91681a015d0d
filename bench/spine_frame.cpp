// The per-frame cost of the render queue and the cameras: inserting objects
// by distance (still, and moving so that every frame sorts anew), drawing the queue back to front, the frustum planes and the
// culling test, and a whole module frame of 10,000 objects.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "BaseClasses/BaseModule.h"
#include "QueueRendering/QueueRendering.h"
#include "Render/Camera/Cameras.h"
#include "ResourceManager/ResManager.h"
#include "../tests/spine_support/FakeDirect3D.h"

namespace {

// A plain object at a fixed distance that draws nothing.
class Still : public C_BaseResource, public ContainedInModule {
public:
    float GetDistance(C_BaseObject*) override { return Distance; }
    float Distance = 0.0f;
};

std::vector<Still> MakeObjects(std::size_t count)
{
    std::vector<Still> objects(count);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> distance(1.0f, 5000.0f);
    for (Still& object : objects) object.Distance = distance(random);
    return objects;
}

void QueueInsertAndDraw(benchmark::State& state)
{
    FakeDevice device;
    C_GUICamera camera;
    camera.Load(&device);
    std::vector<Still> objects = MakeObjects(static_cast<std::size_t>(state.range(0)));
    C_QueueRendering& queue = C_QueueRendering::Instance();
    C_BaseObject::CommonData().RenderPass = 0;
    for (auto _ : state) {
        queue.Add(&camera);
        for (Still& object : objects) queue.Add(&object);
        queue.Draw(&device);
        queue.ClearQueues();
        device.clears.clear();
        device.calls.clear();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(QueueInsertAndDraw)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000);

// An object whose distance changes every frame (a moving camera): no two
// frames give the queue the same keys or the same order.
class Moving : public C_BaseResource, public ContainedInModule {
public:
    float GetDistance(C_BaseObject*) override
    {
        return Distance + static_cast<float>((Index * 7919u + *Frame * 104729u) % 1000u) * 0.01f;
    }
    float Distance = 0.0f;
    uint32_t Index = 0;
    const uint32_t* Frame = nullptr;
};

void QueueInsertAndDrawMoving(benchmark::State& state)
{
    FakeDevice device;
    C_GUICamera camera;
    camera.Load(&device);
    const std::vector<Still> still = MakeObjects(static_cast<std::size_t>(state.range(0)));
    uint32_t frame = 0;
    std::vector<Moving> objects(still.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        objects[i].Distance = still[i].Distance;
        objects[i].Index = static_cast<uint32_t>(i);
        objects[i].Frame = &frame;
    }
    C_QueueRendering& queue = C_QueueRendering::Instance();
    C_BaseObject::CommonData().RenderPass = 0;
    for (auto _ : state) {
        ++frame;
        queue.Add(&camera);
        for (Moving& object : objects) queue.Add(&object);
        queue.Draw(&device);
        queue.ClearQueues();
        device.clears.clear();
        device.calls.clear();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(QueueInsertAndDrawMoving)->Arg(1000)->Arg(10000)->Arg(100000);

void FrustumCulling(benchmark::State& state)
{
    FakeDevice device;
    C_GUICamera camera;
    camera.Load(&device);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> coordinate(-2000.0f, 2000.0f);
    std::vector<D3DXVECTOR3> centres(10000);
    for (D3DXVECTOR3& c : centres) c = D3DXVECTOR3(coordinate(random), coordinate(random), coordinate(random));
    for (auto _ : state) {
        camera.AddToRenderQueue();
        int inside = 0;
        for (const D3DXVECTOR3& c : centres) inside += C_BaseObject::FrustumTest(c, 5.0f) >= 0.0f;
        benchmark::DoNotOptimize(inside);
        C_QueueRendering::Instance().ClearQueues();
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(FrustumCulling);

// Update, queueing, both passes and clearing for a module with one camera.
void ModuleFrame(benchmark::State& state)
{
    FakeDevice device;
    C_BaseCamera::InstallModuleSupport();
    C_QueueRendering::InstallInsert();
    auto* module = new C_BaseModule;
    auto* camera = new C_FirstFaceCamera;
    camera->Load(&device);
    module->AddToModule(camera);
    std::vector<Still> objects = MakeObjects(static_cast<std::size_t>(state.range(0)));
    for (Still& object : objects) module->AddToModule(&object);
    C_QueueRendering& queue = C_QueueRendering::Instance();
    C_BaseObject::C_CommonData& common = C_BaseObject::CommonData();
    for (auto _ : state) {
        common.Time += 16;
        module->Update();
        module->AddToRenderQueue();
        common.RenderPass = 1;
        queue.Draw(&device);
        common.RenderPass = 0;
        queue.Draw(&device);
        queue.ClearQueues();
        device.clears.clear();
        device.calls.clear();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    module->C_BaseModule::Unload();
    delete module;
    delete camera;
}
BENCHMARK(ModuleFrame)->Arg(1000)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
