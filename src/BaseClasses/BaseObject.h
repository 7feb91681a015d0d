#pragma once
// The root of every engine object: name, status, value string, bounding
// volume, per-object distances, script and effect hook-up, and the virtual
// interface that modules, resource managers, the render queue and the frame
// loop call. Also the per-process frame record and the static operations
// that scripts call with object IDs.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "BaseClasses/BaseInput.h"
#include "port/d3dx9/d3dx9math.h"

struct IDirect3DDevice9;
struct IDirect3DQuery9;
class C_D3DXEFFECT;

class C_BaseObject {
public:
    enum StatusObject : int32_t {
        Disabled = 0,     // not updated, not drawn
        NotRender = 1,    // updated, not drawn
        Visible = 2,      // updated and drawn when inside the view
        Deleted = 3,      // dropped by modules at their next update
    };

    // Where the mouse cursor is relative to the object: 0 not under it,
    // 1 under it, 2 under it with the left button down, 3 with the right.
    class C_CursorStatus {
    public:
        C_CursorStatus() = default;
        explicit C_CursorStatus(int32_t value) : Value(value) {}
        virtual ~C_CursorStatus() = default;
        int32_t Value = 0;
    };

    // Distances from this object to others (in practice the cameras of its
    // modules), measured every frame. A short flat list whose first entries
    // live in the object itself and which keeps its room when emptied, so
    // measuring allocates nothing and looks nowhere else.
    class C_DistanceList {
    public:
        // The distance to `other`; an object never measured is listed with 0.
        float& operator[](C_BaseObject* other)
        {
            const std::size_t inlineCount = m_Count < Inline ? m_Count : Inline;
            for (std::size_t i = 0; i < inlineCount; ++i)
                if (m_Inline[i].first == other) return m_Inline[i].second;
            for (std::size_t i = Inline; i < m_Count; ++i)
                if (m_More[i - Inline].first == other) return m_More[i - Inline].second;
            if (m_Count < Inline) {
                m_Inline[m_Count] = {other, 0.0f};
                return m_Inline[m_Count++].second;
            }
            if (m_More.size() < m_Count - Inline + 1) m_More.resize(m_Count - Inline + 1);
            m_More[m_Count - Inline] = {other, 0.0f};
            return m_More[m_Count++ - Inline].second;
        }
        std::size_t count(const C_BaseObject* other) const
        {
            for (std::size_t i = 0; i < m_Count; ++i)
                if ((i < Inline ? m_Inline[i] : m_More[i - Inline]).first == other) return 1;
            return 0;
        }
        bool empty() const { return m_Count == 0; }
        std::size_t size() const { return m_Count; }
        void clear() { m_Count = 0; }

    private:
        static constexpr std::size_t Inline = 2;
        std::pair<C_BaseObject*, float> m_Inline[Inline] = {};
        std::vector<std::pair<C_BaseObject*, float>> m_More;
        std::size_t m_Count = 0;
    };

    // One per process: what every object may need to know about the frame.
    class C_CommonData {
    public:
        C_CommonData();
        C_CommonData(const C_CommonData&) = delete;
        C_CommonData& operator=(const C_CommonData&) = delete;

        uint32_t Time;                  // milliseconds, taken once per frame
        int32_t RenderPass = 0;         // 1 occlusion pre-pass, 0 main pass
        int32_t ScreenWidth = 0;
        int32_t ScreenHeight = 0;
        int32_t MouseX = 0;
        int32_t MouseY = 0;
        int32_t MouseWheel = 0;
        C_BaseInput Input;
        D3DXPLANE FrustumPlanes[6];
        C_BaseObject* CurrentCamera = nullptr;
        IDirect3DQuery9* OcclusionQuery = nullptr;
        uint32_t VisiblePixels = 0;
    };
    static C_CommonData& CommonData();

    C_BaseObject();
    C_BaseObject(const C_BaseObject&) = delete;
    C_BaseObject& operator=(const C_BaseObject&) = delete;

    // The virtual interface; every class keeps this order and appends its
    // own operations after it.
    virtual void SetName(const wchar_t* name);                    // 0
    virtual void SetStatus(StatusObject status);                  // 1
    virtual StatusObject GetStatus();                             // 2
    virtual void SetValue(const wchar_t* value);                  // 3
    virtual void SetExtra(const wchar_t* extra);                  // 4
    virtual D3DXVECTOR3 GetPosition();                            // 5
    virtual void SetPosition(const D3DXVECTOR3& position);        // 6
    virtual float GetRadius();                                    // 7
    virtual D3DXVECTOR3 GetBoxMax();                              // 8
    virtual D3DXVECTOR3 GetBoxMin();                              // 9
    virtual void AddToRenderQueue();                              // 10
    virtual void ClearDistances();                                // 11
    virtual void CalcDistance(C_BaseObject* other);               // 12
    virtual float GetDistance(C_BaseObject* other);               // 13
    virtual ~C_BaseObject();                                      // 14
    virtual void Update();                                        // 15
    virtual void Draw(IDirect3DDevice9* device);                  // 16
    virtual float CalcLevelOfDetail(C_BaseObject* owner);         // 17
    virtual const wchar_t* GetClassName();                        // 18
    virtual void ReleaseToPool();                                 // 19
    virtual void ClearPool();                                     // 20

    // Sphere against the current frustum planes: -1 when outside, otherwise
    // radius + distance to the sixth plane; a radius of exactly 0 gives 0
    // (always inside) without testing.
    static float FrustumTest(const D3DXVECTOR3& centre, float radius);

    // The per-frame passes over a module's objects and the render queue
    // find each object evicted from the caches by the renderer's own memory
    // traffic since the last frame (vertex data, multisampled targets);
    // asking for the objects a few steps ahead overlaps those waits. The
    // first 512 bytes hold what the passes read of a positioned object:
    // status, position, bounds, distances, effect, extra objects, mesh and
    // world matrix.
    static constexpr std::size_t PrefetchAhead = 8;
    static void Prefetch(const C_BaseObject* object)
    {
        // Addresses as integers: the span may reach past a smaller object,
        // which a prefetch may touch but pointer arithmetic may not.
        const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(object);
        for (std::uintptr_t offset = 0; offset < 512; offset += 64)
            __builtin_prefetch(reinterpret_cast<const void*>(start + offset));
    }
    // The memory outside the object that its Draw read last time; asked
    // for once the object itself has arrived.
    static void PrefetchDrawData(const C_BaseObject* object)
    {
        if (object->DrawPrefetch) __builtin_prefetch(object->DrawPrefetch);
    }

    // Calls the object's script function, when it has one and a script host
    // is present.
    void CallScriptFunction();

    // Object IDs: the address as a double, counted in 8-byte steps (every
    // object is aligned to them) so that an ID has at most 14 digits and
    // survives Lua's conversion to text and back exactly. FromID gives null
    // unless the ID names an engine object that is alive right now, so a
    // stale or made-up ID from a script can never reach freed memory.
    static double ToID(const C_BaseObject* object);
    static C_BaseObject* FromID(double id);
    static bool IsLive(const C_BaseObject* object);
    static std::size_t LiveCount();

    // Operations that scripts call. Texts are narrow (UTF-8, or
    // Windows-1251 when not valid UTF-8); IDs that name no live object do
    // nothing and give 0.
    static double MessageBoxW(const std::string& text);
    static double ToLog(const std::string& text);
    static double GetObjectID(const std::string& name);
    static double GetTime();
    static double DisableObject(double id);
    static double NotRenderObject(double id);
    static double VisibleObject(double id);
    static double DeleteObject(double id);
    static double GetScreenWidth();
    static double GetScreenHeight();
    static double GetMouseX();
    static double GetMouseY();
    static double GetCursorStatus(double id);
    static double Exit();
    static std::string DlgOpenFile(const std::string& filter);
    static double CreateObject(double moduleId, const std::string& className,
                               const std::string& name, const std::string& value,
                               const std::string& script, const std::string& isStatic,
                               const std::string& extra);
    static std::string GetPathToProgram();

    // Where objects go when they are queued for drawing; the render queue
    // installs itself here. Null: queuing does nothing.
    using RenderQueueInsertFunction = void (*)(C_BaseObject* object);
    static RenderQueueInsertFunction RenderQueueInsert;

    // The script host's call of a global function with the object's ID as
    // its one argument; the Lua host by default. Null: no scripting.
    using ScriptCallFunction = void (*)(const std::wstring& function, double id);
    static ScriptCallFunction ScriptCall;

    // Fields.
    std::wstring Name;
    StatusObject Status = Visible;
    int32_t ReferenceCount = 0;          // module object lists holding this object
    // Where Draw last read outside the object (a resource's list of extra
    // objects), kept for the render queue's prefetching; it may have gone
    // stale since, which costs only a wasted request.
    const void* DrawPrefetch = nullptr;
    std::wstring Value;                  // parameter string
    std::wstring Extra;                  // names of extra objects, consumed by Load
    D3DXVECTOR3 Position{0.0f, 0.0f, 0.0f};
    float Radius = 0.0f;
    D3DXVECTOR3 BoxMaxOffset{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 BoxMinOffset{0.0f, 0.0f, 0.0f};
    bool Static = true;
    bool SphereBound = true;
    C_CursorStatus CursorStatus;
    C_DistanceList Distances;
    bool Near = true;
    std::wstring EffectDescription;
    C_D3DXEFFECT* Effect = nullptr;
    std::wstring Technique;
    float EffectDistance = 200.0f;
    std::wstring ScriptDescription;
    std::wstring ScriptFunction;
};

// Narrow script text to wide and back.
std::wstring ScriptTextToWide(const std::string& text);
std::string WideToScriptText(const std::wstring& text);
