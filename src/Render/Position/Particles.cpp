#include "Render/Position/Particles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "Logger/Logger.h"
#include "port/dinput8/dinput.h"

TW_REGISTER_CLASS(C_Particles)

namespace {

DWORD FloatBits(float value)
{
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// 0..1; NaN reads as 0.
float Unit(float value)
{
    return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
}

std::wstring HResultText(HRESULT result)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(result));
    return text;
}

// rand() scaled to the range 0..32767 whatever RAND_MAX the C library has.
int Rand15()
{
    return static_cast<int>(static_cast<long long>(std::rand()) * 32768 / (static_cast<long long>(RAND_MAX) + 1));
}

} // namespace

// ---------------------------------------------------------------------------
// CParticleSystem

CParticleSystem::CParticleSystem() = default;

CParticleSystem::~CParticleSystem()
{
    FreeAll();
    ReleaseDeviceObjects();
}

void CParticleSystem::FreeAll()
{
    for (Particle* list : {ActiveList, FreeList}) {
        while (list) {
            Particle* next = list->Next;
            delete list;
            list = next;
        }
    }
    ActiveList = FreeList = nullptr;
    ActiveCount = 0;
    while (Planes) {
        Plane* next = Planes->Next;
        delete Planes;
        Planes = next;
    }
}

void CParticleSystem::ReleaseDeviceObjects()
{
    if (VertexBuffer) VertexBuffer->Release();
    VertexBuffer = nullptr;
}

bool CParticleSystem::AddCollisionPlane(const D3DXVECTOR3& normal, const D3DXVECTOR3& point, float bounceFactor,
                                        int32_t result)
{
    Plane* plane = new (std::nothrow) Plane;
    if (!plane) return false;
    plane->Normal = normal;
    plane->Point = point;
    plane->BounceFactor = bounceFactor;
    plane->Result = result;
    plane->Next = Planes;
    Planes = plane;
    return true;
}

void CParticleSystem::ApplyPreset(int32_t preset)
{
    const D3DXVECTOR3 zero(0.0f, 0.0f, 0.0f);
    switch (preset) {
    case 0:
        MaxParticles = 200;
        NumToRelease = 200;
        ReleaseInterval = 0.05f;
        LifeCycle = 1.5f;
        Size = 1.0f;
        Color = {1.0f, 0.0f, 0.0f, 1.0f};
        Position = D3DXVECTOR3(0.0f, 0.0f, 25.0f);
        Velocity = zero;
        Gravity = zero;
        Wind = zero;
        VelocityVariation = 10.0f;
        break;
    case 1:
        MaxParticles = 500;
        NumToRelease = 5;
        ReleaseInterval = 0.05f;
        LifeCycle = 4.0f;
        Size = 0.5f;
        Color = {1.0f, 1.0f, 1.0f, 1.0f};
        Position = zero;
        Velocity = D3DXVECTOR3(0.0f, 0.0f, 5.0f);
        Gravity = zero;
        Wind = D3DXVECTOR3(2.0f, 0.0f, 0.0f);
        VelocityVariation = 1.5f;
        break;
    case 2:
        MaxParticles = 2048;
        NumToRelease = 10;
        ReleaseInterval = 0.05f;
        LifeCycle = 5.0f;
        Size = 0.5f;
        Color = {1.0f, 1.0f, 1.0f, 0.5f};
        Position = zero;
        Velocity = zero;
        Gravity = zero;
        Wind = zero;
        AirResistance = false;
        VelocityVariation = 2.0f;
        break;
    case 3:
        MaxParticles = 100;
        NumToRelease = 10;
        ReleaseInterval = 0.05f;
        LifeCycle = 3.0f;
        Size = 0.5f;
        Color = {1.0f, 1.0f, 1.0f, 1.0f};
        Position = zero;
        Velocity = D3DXVECTOR3(0.0f, 0.0f, 5.0f);
        Gravity = zero;
        Wind = D3DXVECTOR3(0.0f, -20.0f, 0.0f);
        VelocityVariation = 2.5f;
        AddCollisionPlane(D3DXVECTOR3(0.0f, 1.0f, 0.0f), D3DXVECTOR3(0.0f, -5.0f, 0.0f), 1.0f, Stick);
        break;
    case 4:
        MaxParticles = 200;
        NumToRelease = 10;
        ReleaseInterval = 0.05f;
        LifeCycle = 5.0f;
        Size = 1.5f;
        Color = {1.0f, 1.0f, 1.0f, 1.0f};
        Position = zero;
        Velocity = zero;
        Gravity = D3DXVECTOR3(0.0f, 0.0f, -9.8f);
        Wind = zero;
        VelocityVariation = 20.0f;
        AddCollisionPlane(D3DXVECTOR3(0.0f, 0.0f, 1.0f), zero, 1.0f, Bounce);
        break;
    default:
        MaxParticles = 100;
        NumToRelease = 5;
        ReleaseInterval = 0.05f;
        LifeCycle = 5.0f;
        Size = 1.5f;
        Color = {1.0f, 1.0f, 1.0f, 1.0f};
        Position = zero;
        Velocity = zero;
        Gravity = D3DXVECTOR3(0.0f, 0.0f, -9.8f);
        Wind = zero;
        VelocityVariation = 20.0f;
        // A box open at the top for the particles to rattle in, and a lid.
        AddCollisionPlane(D3DXVECTOR3(0.0f, 0.0f, 1.0f), zero, 1.0f, Bounce);
        AddCollisionPlane(D3DXVECTOR3(1.0f, 0.0f, 0.0f), D3DXVECTOR3(-3.0f, 0.0f, 0.0f), 1.0f, Bounce);
        AddCollisionPlane(D3DXVECTOR3(-1.0f, 0.0f, 0.0f), D3DXVECTOR3(3.0f, 0.0f, 0.0f), 1.0f, Bounce);
        AddCollisionPlane(D3DXVECTOR3(0.0f, 1.0f, 0.0f), D3DXVECTOR3(0.0f, -3.0f, 0.0f), 1.0f, Bounce);
        AddCollisionPlane(D3DXVECTOR3(0.0f, -1.0f, 0.0f), D3DXVECTOR3(0.0f, 3.0f, 0.0f), 1.0f, Bounce);
        AddCollisionPlane(D3DXVECTOR3(0.0f, 0.0f, -1.0f), D3DXVECTOR3(0.0f, 0.0f, 5.0f), 1.0f, Bounce);
        break;
    }
}

HRESULT CParticleSystem::Init(IDirect3DDevice9* device)
{
    if (!device) {
        LOG_WARNING(L"Система частиц не создана на устройстве: устройства нет");
        return D3DERR_INVALIDCALL;
    }
    D3DCAPS9 caps{};
    if (SUCCEEDED(device->GetDeviceCaps(&caps))) {
        MaxPointSize = caps.MaxPointSize;
        if (MaxPointSize <= 1.0f) LOG_WARNING(L"Устройство не рисует точечные спрайты больше одного пикселя");
    }
    if (VertexBuffer) return D3D_OK;
    const uint64_t bytes = uint64_t(BufferSize) * sizeof(Vertex);
    HRESULT result = D3DERR_INVALIDCALL;
    if (BufferSize > 0 && bytes <= 0x7FFFFFFFull)
        result = device->CreateVertexBuffer(static_cast<UINT>(bytes), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY | D3DUSAGE_POINTS,
                                            VertexFVF, D3DPOOL_DEFAULT, &VertexBuffer, nullptr);
    if (FAILED(result)) {
        VertexBuffer = nullptr;
        LOG_WARNING(L"Не создан вершинный буфер системы частиц на " << std::to_wstring(BufferSize)
                                                                  << L" вершин: " << HResultText(result));
    }
    return result;
}

D3DXVECTOR3 CParticleSystem::RandomUnitVector()
{
    const float z = 2.0f * static_cast<float>(Rand15()) / 32767.0f - 1.0f;
    const float r = std::sqrt(std::max(0.0f, 1.0f - z * z));
    const float theta = 2.0f * 3.1415927f * static_cast<float>(Rand15()) / 32767.0f - 3.1415927f;
    return D3DXVECTOR3(r * std::cos(theta), r * std::sin(theta), z);
}

HRESULT CParticleSystem::Update(float dt)
{
    // The caller's clock gives a finite step of 0 or more; anything else
    // would poison every particle with NaN.
    if (!std::isfinite(dt) || dt < 0.0f) dt = 0.0f;
    CurrentTime += dt;
    // The pull toward the wind brings the velocity at most all the way to
    // the wind; a long step must not swing it past the wind and beyond.
    const float pull = std::min(dt, 1.0f);

    Particle** link = &ActiveList;
    while (Particle* particle = *link) {
        if (LifeCycle <= CurrentTime - particle->BirthTime) {
            *link = particle->Next;
            particle->Next = FreeList;
            FreeList = particle;
            --ActiveCount;
            continue;
        }
        particle->Velocity += dt * Gravity;
        if (AirResistance) particle->Velocity += pull * (Wind - particle->Velocity);
        const D3DXVECTOR3 oldPosition = particle->Position;
        particle->Position += dt * particle->Velocity;
        for (const Plane* plane = Planes; plane; plane = plane->Next) {
            const D3DXVECTOR3 toPlane = plane->Point - particle->Position;
            const float s = D3DXVec3Dot(&plane->Normal, &toPlane);
            if (s <= PlaneThickness) continue;   // in front or on the plane
            switch (plane->Result) {
            case Bounce: {
                particle->Position = oldPosition;
                const float along = D3DXVec3Dot(&particle->Velocity, &plane->Normal);
                particle->Velocity -= (1.0f + plane->BounceFactor) * along * plane->Normal;
                break;
            }
            case Stick:
                particle->Position = oldPosition;
                particle->Velocity = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
                break;
            case Recycle: particle->BirthTime -= LifeCycle; break;
            default: break;
            }
        }
        link = &particle->Next;
    }

    if (CurrentTime - LastReleaseTime > ReleaseInterval) {
        LastReleaseTime = CurrentTime;
        for (uint32_t i = 0; i < NumToRelease; ++i) {
            // At the maximum nothing is taken, not even a dead particle, so
            // the free list keeps what it holds.
            if (ActiveCount >= MaxParticles) break;
            Particle* particle = FreeList;
            if (particle) {
                FreeList = particle->Next;
            } else {
                particle = new (std::nothrow) Particle;
                if (!particle) {
                    LOG_WARNING(L"Не хватает памяти для новой частицы; живых частиц: "
                                << std::to_wstring(ActiveCount));
                    return E_OUTOFMEMORY;
                }
            }
            particle->Next = ActiveList;
            ActiveList = particle;
            particle->Velocity = Velocity;
            if (VelocityVariation != 0.0f) particle->Velocity += VelocityVariation * RandomUnitVector();
            particle->BirthTime = CurrentTime;
            particle->Position = Position;
            ++ActiveCount;
        }
    }
    return D3D_OK;
}

void CParticleSystem::ReportDrawFailure(const wchar_t* what, HRESULT result)
{
    if (m_DrawFailureReported) return;
    m_DrawFailureReported = true;
    LOG_WARNING(what << HResultText(result));
}

HRESULT CParticleSystem::Render(IDirect3DDevice9* device)
{
    if (!device) return D3DERR_INVALIDCALL;
    if (!VertexBuffer) {
        ReportDrawFailure(L"Частицы не нарисованы: нет вершинного буфера ", D3DERR_INVALIDCALL);
        return D3DERR_INVALIDCALL;
    }
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_POINTSCALEENABLE, TRUE);
    device->SetRenderState(D3DRS_POINTSIZE, FloatBits(Size));
    device->SetRenderState(D3DRS_POINTSIZE_MIN, FloatBits(1.0f));
    device->SetRenderState(D3DRS_POINTSCALE_A, FloatBits(0.0f));
    device->SetRenderState(D3DRS_POINTSCALE_B, FloatBits(0.0f));
    device->SetRenderState(D3DRS_POINTSCALE_C, FloatBits(1.0f));

    HRESULT result = D3D_OK;
    if (ActiveList) {
        result = device->SetStreamSource(0, VertexBuffer, 0, sizeof(Vertex));
        if (SUCCEEDED(result)) result = device->SetFVF(VertexFVF);
    }
    const D3DCOLOR color = D3DCOLOR_COLORVALUE(Unit(Color.r), Unit(Color.g), Unit(Color.b), Unit(Color.a));
    const uint32_t flush = std::max<uint32_t>(1, std::min(FlushSize, BufferSize));
    uint32_t base = 0;          // first vertex of the batch being filled
    uint32_t remaining = ActiveCount;
    const Particle* particle = ActiveList;
    DWORD flags = D3DLOCK_DISCARD;
    while (SUCCEEDED(result) && particle && remaining > 0) {
        // A batch that would run past the end starts the buffer afresh.
        if (base + flush > BufferSize) {
            base = 0;
            flags = D3DLOCK_DISCARD;
        }
        const uint32_t batch = std::min(flush, remaining);
        void* data = nullptr;
        result = VertexBuffer->Lock(base * sizeof(Vertex), batch * sizeof(Vertex), &data, flags);
        if (FAILED(result) || !data) {
            if (SUCCEEDED(result)) result = D3DERR_INVALIDCALL;
            ReportDrawFailure(L"Не заблокирован вершинный буфер частиц: ", result);
            break;
        }
        auto* vertex = static_cast<Vertex*>(data);
        uint32_t written = 0;
        for (; particle && written < batch; particle = particle->Next, ++written) {
            vertex[written] = {particle->Position.x, particle->Position.y, particle->Position.z, color};
        }
        VertexBuffer->Unlock();
        if (written == 0) break;
        result = device->DrawPrimitive(D3DPT_POINTLIST, base, written);
        if (FAILED(result)) {
            ReportDrawFailure(L"Частицы не нарисованы: ", result);
            break;
        }
        remaining -= std::min(remaining, written);
        base += flush;
        flags = D3DLOCK_NOOVERWRITE;
    }
    if (SUCCEEDED(result)) m_DrawFailureReported = false;

    device->SetRenderState(D3DRS_POINTSPRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_POINTSCALEENABLE, FALSE);
    return result;
}

uint32_t CParticleSystem::FreeCount() const
{
    uint32_t count = 0;
    for (const Particle* p = FreeList; p; p = p->Next) ++count;
    return count;
}

uint32_t CParticleSystem::PooledCount() const
{
    uint32_t count = FreeCount();
    for (const Particle* p = ActiveList; p; p = p->Next) ++count;
    return count;
}

uint32_t CParticleSystem::PlaneCount() const
{
    uint32_t count = 0;
    for (const Plane* p = Planes; p; p = p->Next) ++count;
    return count;
}

// ---------------------------------------------------------------------------
// C_Particles

C_Particles::C_Particles() = default;

C_Particles::~C_Particles()
{
    delete System;
}

float C_Particles::GetDistance(C_BaseObject*)
{
    return -1e37f;
}

void C_Particles::Update()
{
    const uint32_t now = CommonData().Time;
    // Unsigned difference: right across the wrap of the millisecond clock.
    if (System) System->Update(static_cast<float>(now - LastUpdateTime) / 1000.0f);
    LastUpdateTime = now;
    C_TiedPositionObject::Update();
}

void C_Particles::RestartSystem(IDirect3DDevice9* device)
{
    delete System;
    System = new (std::nothrow) CParticleSystem;
    if (!System) {
        LOG_WARNING(L"Не хватает памяти для системы частиц " << Name);
        return;
    }
    System->ApplyPreset(Preset);
    System->Init(device);
    LastUpdateTime = CommonData().Time;
}

void C_Particles::Load(IDirect3DDevice9* device)
{
    C_TiedPositionObject::Load(device);
    if (System) {
        // Back after a device reset: the same particles, a new buffer.
        System->Init(device);
        LastUpdateTime = CommonData().Time;
        return;
    }
    RestartSystem(device);
}

void C_Particles::Unload()
{
    if (ReleasingDeviceObjectsOnly()) {
        if (System) System->ReleaseDeviceObjects();
    } else {
        delete System;
        System = nullptr;
    }
    C_TiedPositionObject::Unload();
}

void C_Particles::Draw(IDirect3DDevice9* device)
{
    C_CommonData& common = CommonData();
    if (common.RenderPass == 1) return;
    C_TiedPositionObject::Draw(device);

    // Keys 1 to 6: the first one held chooses preset 0 to 5, again at every
    // draw while it is held.
    for (int32_t key = 0; key < 6; ++key) {
        if (common.Input.KeyDown(DIK_1 + key)) {
            Preset = key;
            RestartSystem(device);
            break;
        }
    }
    if (!System || !device) return;

    DWORD lighting = 0, destBlend = 0, zWrite = 0, blending = 0;
    device->GetRenderState(D3DRS_LIGHTING, &lighting);
    device->GetRenderState(D3DRS_DESTBLEND, &destBlend);
    device->GetRenderState(D3DRS_ZWRITEENABLE, &zWrite);
    device->GetRenderState(D3DRS_ALPHABLENDENABLE, &blending);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    // The destination blend only adds with blending switched on.
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);

    System->Render(device);

    device->SetRenderState(D3DRS_LIGHTING, lighting);
    device->SetRenderState(D3DRS_DESTBLEND, destBlend);
    device->SetRenderState(D3DRS_ZWRITEENABLE, zWrite);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, blending);
}
