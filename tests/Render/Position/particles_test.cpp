// Particle systems: presets, the update rules (release, death and reuse,
// gravity, wind, collision planes), long and empty steps; the particle
// object's buffer, batches, states, number keys and device loss; and what
// the real device shows.

#include "Render/Resources/SceneFixture.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "Render/Position/Particles.h"
#include "Render/Resources/D3DXSTRING.h"
#include "port/d3d9/device_gl.h"
#include "port/d3d9/device_setup.h"
#include "port/dinput8/dinput.h"
#include "port/dinput8/dinput_hooks.h"
#include "port/win32/afxwin.h"

namespace {

float AsFloat(DWORD bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool Near(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float tolerance = 1e-4f)
{
    return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance && std::fabs(a.z - b.z) <= tolerance;
}

std::vector<CParticleSystem::Particle*> Live(const CParticleSystem& system)
{
    std::vector<CParticleSystem::Particle*> out;
    for (CParticleSystem::Particle* p = system.ActiveList; p; p = p->Next) out.push_back(p);
    return out;
}

// One particle released at `position` with exactly `velocity`.
void ReleaseOne(CParticleSystem& system, const D3DXVECTOR3& position, const D3DXVECTOR3& velocity)
{
    system.MaxParticles = system.ActiveCount + 1;
    system.NumToRelease = 1;
    system.ReleaseInterval = 0.0f;
    system.VelocityVariation = 0.0f;
    system.Position = position;
    system.Velocity = velocity;
    system.LastReleaseTime = system.CurrentTime - 1.0f;
    system.Update(0.0f);
}

// A vertex buffer that remembers how it was locked.
struct LockCall {
    UINT Offset, Size;
    DWORD Flags;
};
class RecordingBuffer : public testdev::Buffer9 {
public:
    explicit RecordingBuffer(UINT length) : Buffer9(length) {}
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override
    {
        Locks.push_back({offset, size, flags});
        if (FailLocks) {
            *data = nullptr;
            return D3DERR_INVALIDCALL;
        }
        return Buffer9::Lock(offset, size, data, flags);
    }
    std::vector<LockCall> Locks;
    bool FailLocks = false;
};

struct DrawCall {
    D3DPRIMITIVETYPE Type;
    UINT Start, Count;
};

class ParticleDevice : public scenetest::RecordingDevice {
public:
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** vb,
                               HANDLE*) override
    {
        ++Created;
        Length = length;
        Usage = usage;
        Fvf = fvf;
        Pool = pool;
        if (FailCreation) {
            *vb = nullptr;
            return D3DERR_OUTOFVIDEOMEMORY;
        }
        Buffer = new RecordingBuffer(length);
        *vb = Buffer;
        return D3D_OK;
    }
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override
    {
        testdev::Device9::GetDeviceCaps(caps);
        caps->MaxPointSize = 64.0f;
        return D3D_OK;
    }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) override
    {
        Draws.push_back({type, start, count});
        return D3D_OK;
    }
    int Created = 0;
    UINT Length = 0;
    DWORD Usage = 0, Fvf = 0;
    D3DPOOL Pool = D3DPOOL_SCRATCH;
    bool FailCreation = false;
    RecordingBuffer* Buffer = nullptr;   // the last one made
    std::vector<DrawCall> Draws;
};

} // namespace

// ---------------------------------------------------------------------------
// The system on its own

TEST(ParticleSystem, PresetsSetTheirFieldsAndLeaveTheRest)
{
    struct Row {
        int32_t Preset;
        uint32_t Max, Release;
        float Life, Size;
        D3DCOLORVALUE Color;
        D3DXVECTOR3 Position, Velocity, Gravity, Wind;
        float Variation;
        uint32_t Planes;
    };
    const Row rows[] = {
        {0, 200, 200, 1.5f, 1.0f, {1, 0, 0, 1}, {0, 0, 25}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, 10.0f, 0},
        {1, 500, 5, 4.0f, 0.5f, {1, 1, 1, 1}, {0, 0, 0}, {0, 0, 5}, {0, 0, 0}, {2, 0, 0}, 1.5f, 0},
        {2, 2048, 10, 5.0f, 0.5f, {1, 1, 1, 0.5f}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, 2.0f, 0},
        {3, 100, 10, 3.0f, 0.5f, {1, 1, 1, 1}, {0, 0, 0}, {0, 0, 5}, {0, 0, 0}, {0, -20, 0}, 2.5f, 1},
        {4, 200, 10, 5.0f, 1.5f, {1, 1, 1, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, -9.8f}, {0, 0, 0}, 20.0f, 1},
        {5, 100, 5, 5.0f, 1.5f, {1, 1, 1, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, -9.8f}, {0, 0, 0}, 20.0f, 6},
        {-1, 100, 5, 5.0f, 1.5f, {1, 1, 1, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, -9.8f}, {0, 0, 0}, 20.0f, 6},
        {77, 100, 5, 5.0f, 1.5f, {1, 1, 1, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, -9.8f}, {0, 0, 0}, 20.0f, 6},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Preset);
        CParticleSystem system;
        system.ApplyPreset(row.Preset);
        EXPECT_EQ(system.MaxParticles, row.Max);
        EXPECT_EQ(system.NumToRelease, row.Release);
        EXPECT_FLOAT_EQ(system.ReleaseInterval, 0.05f);
        EXPECT_FLOAT_EQ(system.LifeCycle, row.Life);
        EXPECT_FLOAT_EQ(system.Size, row.Size);
        EXPECT_FLOAT_EQ(system.Color.r, row.Color.r);
        EXPECT_FLOAT_EQ(system.Color.g, row.Color.g);
        EXPECT_FLOAT_EQ(system.Color.b, row.Color.b);
        EXPECT_FLOAT_EQ(system.Color.a, row.Color.a);
        EXPECT_TRUE(Near(system.Position, row.Position));
        EXPECT_TRUE(Near(system.Velocity, row.Velocity));
        EXPECT_TRUE(Near(system.Gravity, row.Gravity));
        EXPECT_TRUE(Near(system.Wind, row.Wind));
        EXPECT_FLOAT_EQ(system.VelocityVariation, row.Variation);
        EXPECT_EQ(system.AirResistance, row.Preset != 2);
        EXPECT_EQ(system.PlaneCount(), row.Planes);
        // Sizes of the buffer are not part of any preset.
        EXPECT_EQ(system.FlushSize, 512u);
        EXPECT_EQ(system.BufferSize, 2048u);
    }

    // Preset 5's planes, newest first: the lid, then the four walls, then the floor.
    CParticleSystem box;
    box.ApplyPreset(5);
    const D3DXVECTOR3 normals[6] = {{0, 0, -1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}, {0, 0, 1}};
    const D3DXVECTOR3 points[6] = {{0, 0, 5}, {0, 3, 0}, {0, -3, 0}, {3, 0, 0}, {-3, 0, 0}, {0, 0, 0}};
    int i = 0;
    for (const CParticleSystem::Plane* plane = box.Planes; plane; plane = plane->Next, ++i) {
        ASSERT_LT(i, 6);
        EXPECT_TRUE(Near(plane->Normal, normals[i])) << i;
        EXPECT_TRUE(Near(plane->Point, points[i])) << i;
        EXPECT_EQ(plane->Result, CParticleSystem::Bounce);
        EXPECT_FLOAT_EQ(plane->BounceFactor, 1.0f);
    }

    // Fields a preset leaves alone keep what an earlier one set, planes
    // included.
    CParticleSystem chain;
    chain.ApplyPreset(2);
    chain.ApplyPreset(1);
    EXPECT_FALSE(chain.AirResistance);
    chain.ApplyPreset(3);
    chain.ApplyPreset(4);
    EXPECT_EQ(chain.PlaneCount(), 2u);
    EXPECT_EQ(chain.Planes->Result, CParticleSystem::Bounce);
    EXPECT_EQ(chain.Planes->Next->Result, CParticleSystem::Stick);
}

TEST(ParticleSystem, PresetZeroReleasesUpToItsMaximumAndReusesTheDead)
{
    CParticleSystem system;
    system.ApplyPreset(0);
    // The interval must be exceeded, not just reached.
    system.Update(0.05f);
    EXPECT_EQ(system.ActiveCount, 0u);
    system.Update(0.05f);
    EXPECT_EQ(system.ActiveCount, 200u);
    const std::vector<CParticleSystem::Particle*> first = Live(system);
    for (const CParticleSystem::Particle* p : first) {
        EXPECT_TRUE(Near(p->Position, D3DXVECTOR3(0, 0, 25)));
        EXPECT_NEAR(D3DXVec3Length(&p->Velocity), 10.0f, 1e-3f);
    }
    // Full: later releases add nothing while all 200 live. At 1.5 s of age
    // they die, and the next release takes them all back from the free
    // list instead of making new ones.
    const float born = system.CurrentTime;
    int steps = 0;
    while (system.ActiveList->BirthTime == born && steps < 100) {
        system.Update(0.05f);
        ++steps;
        EXPECT_EQ(system.ActiveCount, 200u);
        EXPECT_EQ(system.PooledCount(), 200u);
    }
    EXPECT_NEAR(steps * 0.05f, 1.5f, 0.06f);
    EXPECT_EQ(system.FreeCount(), 0u);
    const std::vector<CParticleSystem::Particle*> second = Live(system);
    EXPECT_EQ(std::set<CParticleSystem::Particle*>(first.begin(), first.end()),
              std::set<CParticleSystem::Particle*>(second.begin(), second.end()));
    for (const CParticleSystem::Particle* p : second) EXPECT_FLOAT_EQ(p->BirthTime, system.CurrentTime);
}

TEST(ParticleSystem, PresetThreeParticlesStickOnThePlaneBelowThem)
{
    CParticleSystem system;
    system.ApplyPreset(3);
    int stuck = 0;
    for (int step = 0; step < 120; ++step) {
        system.Update(0.02f);
        for (const CParticleSystem::Particle* p : Live(system)) {
            EXPECT_GE(p->Position.y, -5.0f - CParticleSystem::PlaneThickness) << "through the plane at step " << step;
            if (p->Position.y < -4.9f) ++stuck;
        }
    }
    EXPECT_GT(stuck, 0);
    // One that stuck stays where it is.
    CParticleSystem::Particle* resting = nullptr;
    for (CParticleSystem::Particle* p : Live(system))
        if (p->Position.y < -4.99f) resting = p;
    ASSERT_NE(resting, nullptr);
    const D3DXVECTOR3 before = resting->Position;
    system.Update(0.02f);
    EXPECT_NEAR(resting->Position.y, before.y, 0.01f);
    EXPECT_GE(resting->Position.y, -5.0f - CParticleSystem::PlaneThickness);
}

TEST(ParticleSystem, PresetFourParticlesBounceOffTheFloorWithTheNormalPartReversed)
{
    CParticleSystem system;
    system.ApplyPreset(4);
    ReleaseOne(system, D3DXVECTOR3(1.0f, 2.0f, 0.05f), D3DXVECTOR3(3.0f, -1.0f, -4.0f));
    ASSERT_EQ(system.ActiveCount, 1u);
    CParticleSystem::Particle& p = *system.ActiveList;
    const float dt = 0.1f;
    // Gravity first, then the pull toward the (still) air, then the move.
    D3DXVECTOR3 v = p.Velocity + dt * system.Gravity;
    v += dt * (system.Wind - v);
    system.ReleaseInterval = 100.0f;
    system.Update(dt);
    // Moving 0.1 * v.z below z = 0 puts it behind the floor: back to where
    // it was, with the vertical speed turned round at the same size.
    EXPECT_TRUE(Near(p.Position, D3DXVECTOR3(1.0f, 2.0f, 0.05f)));
    EXPECT_NEAR(p.Velocity.x, v.x, 1e-5f);
    EXPECT_NEAR(p.Velocity.y, v.y, 1e-5f);
    EXPECT_NEAR(p.Velocity.z, -v.z, 1e-5f);
    EXPECT_GT(p.Velocity.z, 0.0f);

    // Without air resistance a free step is the plain sum.
    CParticleSystem free;
    free.AirResistance = false;
    free.Gravity = D3DXVECTOR3(0, 0, -10);
    ReleaseOne(free, D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(1, 0, 0));
    free.ReleaseInterval = 100.0f;
    free.Update(0.5f);
    EXPECT_TRUE(Near(free.ActiveList->Velocity, D3DXVECTOR3(1, 0, -5)));
    EXPECT_TRUE(Near(free.ActiveList->Position, D3DXVECTOR3(0.5f, 0, -2.5f)));
}

TEST(ParticleSystem, PlanesRecycleAndIgnoreWhatLiesOnThem)
{
    CParticleSystem system;
    system.LifeCycle = 10.0f;
    system.AddCollisionPlane(D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(0, 0, 0), 1.0f, CParticleSystem::Recycle);
    ReleaseOne(system, D3DXVECTOR3(0.01f, 0, 0), D3DXVECTOR3(-1, 0, 0));
    system.ReleaseInterval = 100.0f;
    system.AirResistance = false;
    system.Update(0.0095f);   // ends 0.0005 short of the plane: "on" it, nothing happens
    ASSERT_EQ(system.ActiveCount, 1u);
    EXPECT_NEAR(system.ActiveList->Position.x, 0.0005f, 1e-6f);
    system.Update(0.01f);     // behind now: it lives on until the next update
    EXPECT_EQ(system.ActiveCount, 1u);
    EXPECT_LT(system.ActiveList->Position.x, 0.0f);
    system.Update(0.0f);
    EXPECT_EQ(system.ActiveCount, 0u);
    EXPECT_EQ(system.FreeCount(), 1u);
}

TEST(ParticleSystem, EmptyLongAndBrokenStepsKeepEveryParticleFinite)
{
    CParticleSystem system;
    system.ApplyPreset(1);   // wind and air resistance
    for (int step = 0; step < 20; ++step) system.Update(0.05f);
    const uint32_t alive = system.ActiveCount;
    ASSERT_GT(alive, 0u);
    const D3DXVECTOR3 position = system.ActiveList->Position;
    // A step of 0 moves nothing and releases nothing.
    system.Update(0.0f);
    EXPECT_EQ(system.ActiveCount, alive);
    EXPECT_TRUE(Near(system.ActiveList->Position, position));
    // Steps that are no time at all count as 0.
    system.Update(-3.0f);
    system.Update(std::nanf(""));
    EXPECT_TRUE(Near(system.ActiveList->Position, position));

    // A 10 s step: everything alive dies, one release follows, and the
    // pull toward the wind never swings a velocity past the wind.
    CParticleSystem windy;
    windy.ApplyPreset(1);
    windy.LifeCycle = 100.0f;
    windy.Update(0.1f);
    windy.ReleaseInterval = 1000.0f;
    for (int step = 0; step < 5; ++step) windy.Update(10.0f);
    for (const CParticleSystem::Particle* p : Live(windy)) {
        EXPECT_TRUE(std::isfinite(p->Position.x) && std::isfinite(p->Position.y) && std::isfinite(p->Position.z));
        EXPECT_NEAR(p->Velocity.x, 2.0f, 1e-3f);   // at the wind after a full pull
    }
    system.Update(10.0f);
    EXPECT_EQ(system.ActiveCount, system.NumToRelease);

    // Preset 2 at its limit: 2048 live, the pool never grows past it.
    CParticleSystem crowd;
    crowd.ApplyPreset(2);
    crowd.NumToRelease = 700;
    for (int step = 0; step < 8; ++step) {
        crowd.Update(0.06f);
        EXPECT_LE(crowd.ActiveCount, 2048u);
        EXPECT_LE(crowd.PooledCount(), 2048u);
    }
    EXPECT_EQ(crowd.ActiveCount, 2048u);
}

TEST(ParticleSystem, AMaximumLoweredBelowTheLiveCountLosesNoParticle)
{
    CParticleSystem system;
    system.ApplyPreset(0);
    system.Update(0.1f);
    ASSERT_EQ(system.ActiveCount, 200u);
    system.MaxParticles = 50;
    system.Update(1.5f);   // all die into the free list, then a release
    EXPECT_EQ(system.ActiveCount, 50u);
    EXPECT_EQ(system.FreeCount(), 150u);
    for (int step = 0; step < 5; ++step) system.Update(0.06f);
    EXPECT_EQ(system.PooledCount(), 200u);
    EXPECT_EQ(system.ActiveCount, 50u);
}

TEST(ParticleSystem, RandomDirectionsAreUnitVectorsSpreadOverTheSphere)
{
    std::srand(7);
    double sumZ = 0.0;
    int up = 0, left = 0, front = 0;
    constexpr int Count = 4000;
    for (int i = 0; i < Count; ++i) {
        const D3DXVECTOR3 v = CParticleSystem::RandomUnitVector();
        ASSERT_NEAR(D3DXVec3Length(&v), 1.0f, 1e-4f);
        sumZ += v.z;
        up += v.z > 0.5f;
        left += v.x < 0.0f;
        front += v.y > 0.0f;
    }
    EXPECT_NEAR(sumZ / Count, 0.0, 0.05);
    // z is uniform in -1..1, so a quarter lies above 0.5.
    EXPECT_NEAR(up, Count / 4, Count / 20);
    EXPECT_NEAR(left, Count / 2, Count / 20);
    EXPECT_NEAR(front, Count / 2, Count / 20);
}

// ---------------------------------------------------------------------------
// The particle object

class ParticleObjectTest : public SceneResourceTest {
protected:
    void SetUp() override
    {
        SceneResourceTest::SetUp();
        PortInputClearInjected();
        C_BaseObject::CommonData().Input.Initialise(nullptr);
        C_BaseObject::CommonData().Input.ReadKeyboard();
        C_BaseObject::CommonData().Time = 5000;
        C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"PT_Emitter = 1; 2; 3;");
    }
    void TearDown() override
    {
        PortInputClearInjected();
        C_BaseObject::CommonData().Input.ReadKeyboard();
        C_BaseObject::CommonData().Input.Release();
        C_BaseObject::CommonData().Time = 0;
        SceneResourceTest::TearDown();
    }
    C_Particles* Emitter(IDirect3DDevice9* on)
    {
        auto* object = dynamic_cast<C_Particles*>(Managers().AddResource(L"C_Particles", L"Fountain", L"; ; PT_Emitter;"));
        EXPECT_NE(object, nullptr);
        if (object) object->Load(on);
        return object;
    }
    static void Hold(BYTE key, bool down)
    {
        PortInputInjectKey(key, down);
        C_BaseObject::CommonData().Input.ReadKeyboard();
    }

    ParticleDevice particleDevice;
};

TEST_F(ParticleObjectTest, LoadMakesADynamicPointBufferAndFollowsTheClock)
{
    C_Particles* particles = Emitter(&particleDevice);
    ASSERT_NE(particles, nullptr);
    ASSERT_NE(particles->System, nullptr);
    EXPECT_EQ(particles->Preset, 2);
    EXPECT_EQ(particles->System->MaxParticles, 2048u);
    EXPECT_EQ(particleDevice.Created, 1);
    EXPECT_EQ(particleDevice.Length, 2048u * 16u);
    EXPECT_EQ(particleDevice.Usage & (D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY), DWORD(D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY));
    EXPECT_EQ(particleDevice.Fvf, DWORD(D3DFVF_XYZ | D3DFVF_DIFFUSE));
    EXPECT_EQ(particleDevice.Pool, D3DPOOL_DEFAULT);
    EXPECT_FLOAT_EQ(particles->System->MaxPointSize, 64.0f);
    EXPECT_EQ(particles->LastUpdateTime, 5000u);
    // A tied object: placed by its value string, drawn last of its queue.
    EXPECT_FLOAT_EQ(particles->Y, 2.0f);
    EXPECT_LT(particles->GetDistance(nullptr), -1e36f);

    auto& common = C_BaseObject::CommonData();
    common.Time = 5250;
    particles->Update();
    EXPECT_FLOAT_EQ(particles->System->CurrentTime, 0.25f);
    EXPECT_EQ(particles->LastUpdateTime, 5250u);
    // Across the wrap of the millisecond clock the step is still 100 ms.
    particles->LastUpdateTime = 0xFFFFFFC0u;
    common.Time = 36;
    particles->Update();
    EXPECT_NEAR(particles->System->CurrentTime, 0.35f, 1e-5f);
}

TEST_F(ParticleObjectTest, DrawFillsFlushSizedBatchesAndPutsItsStatesBack)
{
    C_Particles* particles = Emitter(&particleDevice);
    ASSERT_NE(particles, nullptr);
    CParticleSystem& system = *particles->System;
    system.NumToRelease = 2048;
    system.Update(0.1f);
    ASSERT_EQ(system.ActiveCount, 2048u);
    particleDevice.RenderStates[D3DRS_LIGHTING] = TRUE;
    particleDevice.RenderStates[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
    particleDevice.RenderStates[D3DRS_ZWRITEENABLE] = TRUE;
    particleDevice.RenderStates[D3DRS_ALPHABLENDENABLE] = FALSE;
    particleDevice.Calls.clear();

    particles->Draw(&particleDevice);
    const std::vector<LockCall>& locks = particleDevice.Buffer->Locks;
    ASSERT_EQ(locks.size(), 4u);
    for (UINT i = 0; i < 4; ++i) {
        EXPECT_EQ(locks[i].Offset, i * 512u * 16u);
        EXPECT_EQ(locks[i].Size, 512u * 16u);
        EXPECT_EQ(locks[i].Flags, i == 0 ? DWORD(D3DLOCK_DISCARD) : DWORD(D3DLOCK_NOOVERWRITE));
    }
    ASSERT_EQ(particleDevice.Draws.size(), 4u);
    for (UINT i = 0; i < 4; ++i) {
        EXPECT_EQ(particleDevice.Draws[i].Type, D3DPT_POINTLIST);
        EXPECT_EQ(particleDevice.Draws[i].Start, i * 512u);
        EXPECT_EQ(particleDevice.Draws[i].Count, 512u);
    }
    // The vertices: live particles newest first, colour (1, 1, 1, 0.5).
    CParticleSystem::Vertex first;
    std::memcpy(&first, particleDevice.Buffer->bytes.data(), sizeof first);
    EXPECT_FLOAT_EQ(first.x, system.ActiveList->Position.x);
    EXPECT_FLOAT_EQ(first.z, system.ActiveList->Position.z);
    EXPECT_EQ(first.Color, D3DCOLOR_ARGB(127, 255, 255, 255));

    // Point states on with the size and Direct3D's scale factors, off at the end.
    auto states = particleDevice.CallsOf("rs");
    auto valueAt = [&](D3DRENDERSTATETYPE state, std::size_t occurrence) -> std::optional<DWORD> {
        for (const auto& call : states)
            if (call.A == DWORD(state) && occurrence-- == 0) return call.B;
        return std::nullopt;
    };
    EXPECT_EQ(valueAt(D3DRS_POINTSPRITEENABLE, 0), DWORD(TRUE));
    EXPECT_EQ(valueAt(D3DRS_POINTSCALEENABLE, 0), DWORD(TRUE));
    EXPECT_FLOAT_EQ(AsFloat(*valueAt(D3DRS_POINTSIZE, 0)), 0.5f);
    EXPECT_FLOAT_EQ(AsFloat(*valueAt(D3DRS_POINTSIZE_MIN, 0)), 1.0f);
    EXPECT_FLOAT_EQ(AsFloat(*valueAt(D3DRS_POINTSCALE_A, 0)), 0.0f);
    EXPECT_FLOAT_EQ(AsFloat(*valueAt(D3DRS_POINTSCALE_B, 0)), 0.0f);
    EXPECT_FLOAT_EQ(AsFloat(*valueAt(D3DRS_POINTSCALE_C, 0)), 1.0f);
    EXPECT_EQ(valueAt(D3DRS_POINTSPRITEENABLE, 1), DWORD(FALSE));
    EXPECT_EQ(valueAt(D3DRS_POINTSCALEENABLE, 1), DWORD(FALSE));
    // Additive, unlit and without depth writes while drawing ...
    EXPECT_EQ(valueAt(D3DRS_LIGHTING, 0), DWORD(FALSE));
    EXPECT_EQ(valueAt(D3DRS_DESTBLEND, 0), DWORD(D3DBLEND_ONE));
    EXPECT_EQ(valueAt(D3DRS_ZWRITEENABLE, 0), DWORD(FALSE));
    EXPECT_EQ(valueAt(D3DRS_ALPHABLENDENABLE, 0), DWORD(TRUE));
    // ... and the scene's states afterwards.
    EXPECT_EQ(particleDevice.RenderStates[D3DRS_LIGHTING], DWORD(TRUE));
    EXPECT_EQ(particleDevice.RenderStates[D3DRS_DESTBLEND], DWORD(D3DBLEND_INVSRCALPHA));
    EXPECT_EQ(particleDevice.RenderStates[D3DRS_ZWRITEENABLE], DWORD(TRUE));
    EXPECT_EQ(particleDevice.RenderStates[D3DRS_ALPHABLENDENABLE], DWORD(FALSE));
    // Placed by its tied matrix.
    EXPECT_FLOAT_EQ(particleDevice.World._42, 2.0f);

    // 600 live: a full batch and a short one.
    system.MaxParticles = 600;
    system.LifeCycle = 0.0f;
    system.Update(0.1f);
    system.LifeCycle = 5.0f;
    system.NumToRelease = 600;
    system.Update(0.1f);
    ASSERT_EQ(system.ActiveCount, 600u);
    particleDevice.Buffer->Locks.clear();
    particleDevice.Draws.clear();
    particles->Draw(&particleDevice);
    ASSERT_EQ(particleDevice.Draws.size(), 2u);
    EXPECT_EQ(particleDevice.Draws[1].Start, 512u);
    EXPECT_EQ(particleDevice.Draws[1].Count, 88u);
    EXPECT_EQ(particleDevice.Buffer->Locks[1].Size, 88u * 16u);

    // Nothing at all in the occlusion pre-pass.
    particleDevice.Calls.clear();
    particleDevice.Draws.clear();
    C_BaseObject::CommonData().RenderPass = 1;
    particles->Draw(&particleDevice);
    EXPECT_TRUE(particleDevice.Calls.empty());
    EXPECT_TRUE(particleDevice.Draws.empty());
}

TEST_F(ParticleObjectTest, AHeldNumberKeyAppliesItsPresetAtEveryDraw)
{
    C_Particles* particles = Emitter(&particleDevice);
    ASSERT_NE(particles, nullptr);
    auto* look = Make<C_BaseResource>(L"C_D3DMATERIAL9", L"PT_Look", L"0xFFFFFFFF; 0; 0; 0; 0;");
    particles->ExtraObjects.push_back(look);
    particles->System->Update(0.1f);
    ASSERT_GT(particles->System->ActiveCount, 0u);

    Hold(DIK_1, true);
    std::set<const CParticleSystem*> systems;
    for (int frame = 0; frame < 3; ++frame) {
        particles->System->Update(0.1f);
        particles->Draw(&particleDevice);
        ASSERT_NE(particles->System, nullptr);
        EXPECT_EQ(particles->Preset, 0);
        EXPECT_EQ(particles->System->MaxParticles, 200u);
        EXPECT_EQ(particles->System->ActiveCount, 0u);   // started afresh
        systems.insert(particles->System);
    }
    EXPECT_EQ(particleDevice.Created, 4);
    // The object itself stays as it was: name, place and extra objects.
    EXPECT_EQ(particles->Name, L"Fountain");
    EXPECT_EQ(particles->ExtraObjects.size(), 1u);
    EXPECT_FLOAT_EQ(particles->Z, 3.0f);
    EXPECT_EQ(Managers().GetResource(L"Fountain"), particles);

    // Released: the preset stays and the system lives on.
    Hold(DIK_1, false);
    particles->System->Update(0.1f);
    const CParticleSystem* kept = particles->System;
    particles->Draw(&particleDevice);
    EXPECT_EQ(particles->System, kept);
    EXPECT_GT(particles->System->ActiveCount, 0u);

    // Keys 2 to 6 give presets 1 to 5; of two keys held the first wins.
    const BYTE keys[5] = {DIK_2, DIK_3, DIK_4, DIK_5, DIK_6};
    for (int i = 0; i < 5; ++i) {
        Hold(keys[i], true);
        particles->Draw(&particleDevice);
        EXPECT_EQ(particles->Preset, i + 1);
        Hold(keys[i], false);
    }
    EXPECT_EQ(particles->System->PlaneCount(), 6u);   // a fresh preset 5, not piled on 3 and 4
    Hold(DIK_4, true);
    Hold(DIK_2, true);
    particles->Draw(&particleDevice);
    EXPECT_EQ(particles->Preset, 1);
}

TEST_F(ParticleObjectTest, ADeviceResetKeepsTheParticlesAndMakesANewBuffer)
{
    C_Particles* particles = Emitter(&particleDevice);
    ASSERT_NE(particles, nullptr);
    particles->Preset = 4;
    particles->RestartSystem(&particleDevice);
    particles->System->Update(0.2f);
    const uint32_t alive = particles->System->ActiveCount;
    ASSERT_GT(alive, 0u);
    const CParticleSystem* system = particles->System;
    {
        C_BaseResource::C_DeviceRelease deviceOnly;
        particles->Unload();
    }
    EXPECT_EQ(particles->System, system);
    EXPECT_EQ(particles->System->VertexBuffer, nullptr);
    EXPECT_EQ(particles->Name, L"Fountain");
    // Drawing without a buffer draws nothing, says so once, and goes on.
    particles->Draw(&particleDevice);
    particles->Draw(&particleDevice);
    EXPECT_EQ(CountLogged(L"нет вершинного буфера"), 1u);
    particles->Load(&particleDevice);
    EXPECT_EQ(particles->System, system);
    EXPECT_EQ(particles->System->ActiveCount, alive);
    EXPECT_EQ(particles->System->PlaneCount(), 1u);   // the preset is not applied twice
    ASSERT_NE(particles->System->VertexBuffer, nullptr);
    EXPECT_EQ(particleDevice.Created, 3);
    particles->Draw(&particleDevice);
    EXPECT_FALSE(particleDevice.Draws.empty());

    // A full unload ends the system.
    particles->Unload();
    EXPECT_EQ(particles->System, nullptr);
    particles->Update();
    particles->Draw(&particleDevice);
}

TEST_F(ParticleObjectTest, BufferFailuresAreLoggedAndDrawNothing)
{
    particleDevice.FailCreation = true;
    C_Particles* particles = Emitter(&particleDevice);
    ASSERT_NE(particles, nullptr);
    EXPECT_TRUE(Logged(L"Не создан вершинный буфер системы частиц"));
    particles->System->Update(0.1f);
    particles->Draw(&particleDevice);
    EXPECT_TRUE(particleDevice.Draws.empty());
    // The point states are never left on.
    EXPECT_NE(particleDevice.RenderStates[D3DRS_POINTSPRITEENABLE], DWORD(TRUE));

    particleDevice.FailCreation = false;
    particles->Unload();
    particles->Load(&particleDevice);
    ASSERT_NE(particles->System->VertexBuffer, nullptr);
    particles->System->Update(0.1f);
    particleDevice.Buffer->FailLocks = true;
    particles->Draw(&particleDevice);
    particles->Draw(&particleDevice);
    EXPECT_EQ(CountLogged(L"Не заблокирован вершинный буфер частиц"), 1u);
    EXPECT_TRUE(particleDevice.Draws.empty());
    EXPECT_EQ(particleDevice.RenderStates[D3DRS_POINTSPRITEENABLE], DWORD(FALSE));

    // Without a device the object loads and runs, drawing nothing.
    auto* loose = dynamic_cast<C_Particles*>(Managers().AddResource(L"C_Particles", L"Loose", L""));
    ASSERT_NE(loose, nullptr);
    loose->Load(nullptr);
    loose->Update();
    loose->Draw(nullptr);
    EXPECT_TRUE(Logged(L"устройства нет"));
}

// ---------------------------------------------------------------------------
// On the real device

class ParticleRenderTest : public ParticleObjectTest {
protected:
    static constexpr UINT Width = 160, Height = 120;

    void SetUp() override
    {
        ParticleObjectTest::SetUp();
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        window = std::make_unique<CWnd>();
        RECT rect{0, 0, LONG(Width), LONG(Height)};
        ASSERT_TRUE(window->CreateEx(0, L"", L"particle test", WS_POPUP | WS_CAPTION, rect, nullptr, 0));
        params = WindowedParams(Width, Height);
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window->m_hWnd,
                                    D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &real),
                  D3D_OK);
        Look(D3DXVECTOR3(0, 0, -10));
    }
    void TearDown() override
    {
        Managers().Clear();
        if (real) real->Release();
        if (d3d) d3d->Release();
        if (window) window->DestroyWindow();
        ParticleObjectTest::TearDown();
    }
    // The camera at `eye` looks at the origin; Y is up.
    void Look(const D3DXVECTOR3& eye)
    {
        D3DXMATRIX view, projection;
        const D3DXVECTOR3 at(0, 0, 0), up(0, 1, 0);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 0.9f, float(Width) / float(Height), 0.5f, 100.0f);
        real->SetTransform(D3DTS_VIEW, &view);
        real->SetTransform(D3DTS_PROJECTION, &projection);
    }
    std::vector<uint32_t> Frame(C_BaseObject* object, bool readBack = true)
    {
        real->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 128), 1.0f, 0);
        real->BeginScene();
        C_BaseObject::CommonData().RenderPass = 0;
        object->Draw(real);
        real->EndScene();
        std::vector<uint32_t> pixels;
        UINT w = 0, h = 0;
        if (readBack) {
            EXPECT_TRUE(PortDeviceReadBackBuffer(real, pixels, w, h));
        }
        real->Present(nullptr, nullptr, nullptr, nullptr);
        return pixels;
    }
    static int Red(uint32_t p) { return int((p >> 16) & 0xFF); }
    static int Blue(uint32_t p) { return int(p & 0xFF); }

    IDirect3D9* d3d = nullptr;
    std::unique_ptr<CWnd> window;
    D3DPRESENT_PARAMETERS params{};
    IDirect3DDevice9* real = nullptr;
};

TEST_F(ParticleRenderTest, PresetTwoShowsAdditivePointsAroundItsEmitter)
{
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"PT_Right = 2; 0; 0;");
    auto* particles = dynamic_cast<C_Particles*>(Managers().AddResource(L"C_Particles", L"Cloud", L"; ; PT_Right;"));
    ASSERT_NE(particles, nullptr);
    particles->Load(real);
    particles->Update();
    // A scene that blends by source alpha: the particles add half their white.
    real->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    std::srand(11);
    for (int step = 0; step < 20; ++step) particles->System->Update(0.05f);
    ASSERT_GT(particles->System->ActiveCount, 100u);
    const std::vector<uint32_t> pixels = Frame(particles);

    // The emitter at (2, 0, 0) seen from 10 units away; after one second the
    // particles are at most 2 units from it.
    const float focal = (Height / 2.0f) / std::tan(0.45f);
    const float centreX = Width / 2.0f + 2.0f * focal / 10.0f, centreY = Height / 2.0f;
    const float reach = 2.0f * focal / 8.0f + 5.0f;
    int lit = 0, single = 0, far = 0;
    float sumX = 0.0f, sumY = 0.0f;
    for (UINT y = 0; y < Height; ++y)
        for (UINT x = 0; x < Width; ++x) {
            const uint32_t p = pixels[y * Width + x];
            if (Red(p) < 60) {
                EXPECT_EQ(Blue(p), 128);   // untouched background
                continue;
            }
            ++lit;
            sumX += float(x);
            sumY += float(y);
            // Added, not painted over: the blue background shows through.
            EXPECT_EQ(Blue(p), 255);
            if (Red(p) > 110 && Red(p) < 145) ++single;
            if (std::hypot(float(x) - centreX, float(y) - centreY) > reach) ++far;
        }
    EXPECT_GT(lit, 50);
    EXPECT_GT(single, 10);
    EXPECT_EQ(far, 0);
    EXPECT_NEAR(sumX / float(lit), centreX, 6.0f);
    EXPECT_NEAR(sumY / float(lit), centreY, 6.0f);
    // The scene's blend states are back.
    DWORD destBlend = 0;
    real->GetRenderState(D3DRS_DESTBLEND, &destBlend);
    EXPECT_EQ(destBlend, DWORD(D3DBLEND_ZERO));
}

TEST_F(ParticleRenderTest, NearerParticlesAreLargerSprites)
{
    auto* particles = dynamic_cast<C_Particles*>(Managers().AddResource(L"C_Particles", L"Pair", L""));
    ASSERT_NE(particles, nullptr);
    particles->Load(real);
    CParticleSystem& system = *particles->System;
    system.Size = 1.0f;
    ReleaseOne(system, D3DXVECTOR3(-1, 0, -6), D3DXVECTOR3(0, 0, 0));    // about 4 units from the camera
    ReleaseOne(system, D3DXVECTOR3(3, 0, 10), D3DXVECTOR3(0, 0, 0));     // about 20 away
    ASSERT_EQ(system.ActiveCount, 2u);
    const std::vector<uint32_t> pixels = Frame(particles);
    auto width = [&](UINT from, UINT to) {
        int widest = 0;
        for (UINT y = 0; y < Height; ++y) {
            int run = 0;
            for (UINT x = from; x < to; ++x) run += Red(pixels[y * Width + x]) > 60;
            widest = std::max(widest, run);
        }
        return widest;
    };
    // Ss = Vh * Si / De with A = B = 0, C = 1.
    const float nearDistance = std::sqrt(1.0f + 16.0f), farDistance = std::sqrt(9.0f + 400.0f);
    EXPECT_NEAR(width(0, Width / 2), 120.0f / nearDistance, 1.5f);
    EXPECT_NEAR(width(Width / 2, Width), 120.0f / farDistance, 1.5f);
    EXPECT_GT(width(0, Width / 2), 3 * width(Width / 2, Width));
}

TEST_F(ParticleRenderTest, ALostDeviceIsResetAndTheParticlesComeBack)
{
    auto* particles = dynamic_cast<C_Particles*>(Managers().AddResource(L"C_Particles", L"Survivor", L""));
    ASSERT_NE(particles, nullptr);
    particles->Load(real);
    for (int step = 0; step < 10; ++step) particles->System->Update(0.05f);
    const uint32_t alive = particles->System->ActiveCount;
    ASSERT_GT(alive, 0u);

    PortDeviceForceLoss(real);
    EXPECT_EQ(real->TestCooperativeLevel(), D3DERR_DEVICELOST);
    Frame(particles, false);   // drawing on the lost device changes nothing and breaks nothing
    EXPECT_EQ(real->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    // The window's recovery: device objects go, the device is reset, they come back.
    Managers().ReleaseDeviceObjects();
    EXPECT_EQ(particles->System->VertexBuffer, nullptr);
    ASSERT_EQ(real->Reset(&params), D3D_OK);
    particles->Load(real);
    ASSERT_NE(particles->System->VertexBuffer, nullptr);
    EXPECT_EQ(particles->System->ActiveCount, alive);
    Look(D3DXVECTOR3(0, 0, -10));
    const std::vector<uint32_t> pixels = Frame(particles);
    int lit = 0;
    for (uint32_t p : pixels) lit += Red(p) > 60;
    EXPECT_GT(lit, 5);
}
