#pragma once
// Point-sprite particles: a system that emits particles at a steady rate,
// moves them under velocity, gravity and wind, lets them collide with planes
// and die after a fixed life, and draws them as additive point sprites; and
// the tied scene object that owns one system and drives it in real time.
// The number keys 1 to 6 switch between six built-in presets while the scene
// runs.

#include <cstdint>

#include "Render/Position/PositionObject.h"
#include "ResourceManager/FromFactory.h"
#include "port/d3d9/d3d9.h"

class CParticleSystem {
public:
    struct Particle {
        D3DXVECTOR3 Position;
        D3DXVECTOR3 Velocity;
        float BirthTime = 0.0f;
        Particle* Next = nullptr;
    };

    enum CollisionResult : int32_t { Bounce = 0, Stick = 1, Recycle = 2 };

    struct Plane {
        D3DXVECTOR3 Normal;
        D3DXVECTOR3 Point;
        float BounceFactor = 1.0f;
        int32_t Result = Bounce;
        Plane* Next = nullptr;
    };

    // One vertex of the buffer: position and colour.
    struct Vertex {
        float x, y, z;
        D3DCOLOR Color;
    };
    static constexpr DWORD VertexFVF = D3DFVF_XYZ | D3DFVF_DIFFUSE;

    // A point within this distance of a plane counts as lying on it.
    static constexpr float PlaneThickness = 0.001f;

    CParticleSystem();
    CParticleSystem(const CParticleSystem&) = delete;
    CParticleSystem& operator=(const CParticleSystem&) = delete;
    // Frees every particle and plane and releases the buffer.
    virtual ~CParticleSystem();

    // Sets the fields of preset 0 to 5; any other number gives preset 5.
    // Fields a preset does not name keep their values; its planes are added
    // to those already there.
    void ApplyPreset(int32_t preset);

    // Adds a plane at the head of the list. False when out of memory.
    bool AddCollisionPlane(const D3DXVECTOR3& normal, const D3DXVECTOR3& point, float bounceFactor,
                           int32_t result);

    // Creates the dynamic point-list vertex buffer (buffer size vertices,
    // default pool, write-only) unless there is one, and reads the device's
    // capabilities. Failures are logged and returned.
    HRESULT Init(IDirect3DDevice9* device);
    // Releases the buffer (before a device reset); the particles stay.
    void ReleaseDeviceObjects();

    // Advances the simulation by `dt` seconds: deaths, motion, collisions,
    // then a release when the interval has passed. E_OUTOFMEMORY when a new
    // particle could not be made (those released before it stay).
    HRESULT Update(float dt);

    // Draws the live particles as point sprites in batches of the flush
    // size: the first batch of the buffer is locked with discard, the ones
    // after it with no-overwrite. The point states are switched on for the
    // draw and off afterwards. Failures end the draw with the device's
    // result.
    HRESULT Render(IDirect3DDevice9* device);

    // A random direction from rand() (0..32767): z uniform in -1..1, the
    // angle around z uniform in -pi..pi.
    static D3DXVECTOR3 RandomUnitVector();

    // Particles made so far and not freed: the live ones plus the free list.
    uint32_t PooledCount() const;
    uint32_t FreeCount() const;
    uint32_t PlaneCount() const;

    uint32_t FlushSize = 512;
    uint32_t BufferSize = 2048;
    float CurrentTime = 0.0f;
    float LastReleaseTime = 0.0f;
    uint32_t ActiveCount = 0;
    Particle* ActiveList = nullptr;   // newest first
    Particle* FreeList = nullptr;
    Plane* Planes = nullptr;          // newest first
    IDirect3DVertexBuffer9* VertexBuffer = nullptr;
    uint32_t MaxParticles = 1;
    uint32_t NumToRelease = 1;
    float ReleaseInterval = 1.0f;
    float LifeCycle = 1.0f;
    float Size = 1.0f;
    D3DCOLORVALUE Color{1.0f, 1.0f, 1.0f, 1.0f};   // r, g, b, a
    D3DXVECTOR3 Position{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 Velocity{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 Gravity{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 Wind{0.0f, 0.0f, 0.0f};
    bool AirResistance = true;
    float VelocityVariation = 1.0f;

    // Read from the device by Init.
    float MaxPointSize = 0.0f;

private:
    void FreeAll();
    // Logs a draw failure once until a draw succeeds again.
    void ReportDrawFailure(const wchar_t* what, HRESULT result);

    bool m_DrawFailureReported = false;
};

class C_Particles : public C_TiedPositionObject {
    TW_POOLED_CLASS(C_Particles)

public:
    C_Particles();
    ~C_Particles() override;

    // Always drawn last of its queue.
    float GetDistance(C_BaseObject* other) override;     // 13
    void Update() override;                              // 15
    void Draw(IDirect3DDevice9* device) override;        // 16
    void Load(IDirect3DDevice9* device) override;        // 21
    void Unload() override;                              // 22

    // Makes a fresh system with the current preset on the device (the
    // particle part of Unload and Load; the object keeps its name, links and
    // extra objects).
    void RestartSystem(IDirect3DDevice9* device);

    CParticleSystem* System = nullptr;   // owned
    int32_t Preset = 2;
    uint32_t LastUpdateTime = 0;          // ms
};
