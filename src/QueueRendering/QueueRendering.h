#pragma once
// The render queue: every frame each camera opens one queue, the visible
// objects of its module are inserted by distance, and the frame draws all
// queues twice: once into a small occlusion surface (nearest first, dropping
// objects with no visible pixel) and once for the image (back to front).

#include <cstdint>
#include <memory>
#include <typeinfo>
#include <vector>

#include "BaseClasses/BaseResource.h"
#include "Common/memory_pool.h"
#include "Common/vector.h"
#include "QueueRendering/InsertionOrder.h"
#include "ResourceManager/VectorSort.h"

class C_BaseCamera;
class C_D3DXEFFECT;

// Sort key of a queued object: its distance to the current camera minus its
// radius, computed in double precision and rounded to float.
float GetCameraDistanceSize(C_BaseObject* const& object);

class C_QueueRendering : public C_BaseResource {
public:
    // What a queue grows while it is filled and sorted, kept from frame to
    // frame: the lists keep their room, and the ordering keeps last frame's
    // answer for a still scene.
    struct C_QueueScratch {
        std::vector<C_BaseObject*> Items, Arrivals;
        std::vector<float> Keys, ArrivalKeys;
        std::vector<uint32_t> Order;
        C_InsertionOrder Ordering;
    };

    // The objects queued behind one camera, nearest first.
    class C_QueueOne : public C_VectorSort<C_BaseObject*, float, &GetCameraDistanceSize, 100> {
    public:
        C_QueueOne() { Reserve(); }
        explicit C_QueueOne(C_BaseCamera* camera) : Camera(camera) { Reserve(); }

        // Queues the object behind the ones queued before it. Each object's
        // key is computed once, when it arrives: all of a queue's objects
        // arrive while its camera is the current one, so the keys cannot
        // change in between.
        void Insert(C_BaseObject* object);
        // Puts the objects that arrived since the last call where inserting
        // them one by one with the binary search on the keys would have put
        // them (the same order, equal keys included), sorting once instead
        // of moving the list for every object. The list is read only after
        // this.
        void Settle();
        void RemoveAt(std::size_t index);
        void clear();

        C_BaseCamera* Camera = nullptr;

        // Takes the scratch's lists (emptied, keeping their room) and its
        // ordering while the queue is in use; GiveBack returns them.
        void Borrow(C_QueueScratch& scratch);
        void GiveBack();

    private:
        void SwapLists(C_QueueScratch& scratch);
        C_QueueScratch* m_Scratch = nullptr;

        void Reserve();

        std::vector<float> m_Keys;                 // the key of each element, same order
        std::vector<C_BaseObject*> m_Arrivals;     // waiting for Settle, in arrival order
        std::vector<float> m_ArrivalKeys;
        std::vector<uint32_t> m_Order;
        C_InsertionOrder m_Ordering;
    };

    // What the render-target and effect code provide. Without them no
    // occlusion pass runs and objects are drawn without their effects.
    struct C_SurfaceSupport {
        IDirect3DQuery9* (*Query)(C_BaseResource* surface) = nullptr;
        bool (*BeginSurface)(C_BaseResource* surface) = nullptr;
        void (*EndSurface)(C_BaseResource* surface) = nullptr;
        // Ends captures into surfaces that objects began and left open, so
        // that each pass ends drawing where it began.
        void (*CloseCaptures)() = nullptr;
    };
    static C_SurfaceSupport SurfaceSupport;
    using EffectDrawFunction = void (*)(C_D3DXEFFECT* effect, C_BaseObject* object, IDirect3DDevice9* device);
    static EffectDrawFunction DrawWithEffect;

    static C_QueueRendering& Instance();
    // Makes queued objects come here (done once at start).
    static void InstallInsert();

    // A camera opens a new queue (the result is the number of queues); any
    // other object goes into the queue opened last, at its key's position.
    // Null is ignored.
    std::size_t Add(C_BaseObject* object);

    // Draws by C_CommonData::RenderPass: 1 the occlusion pass, 0 the image.
    void Draw(IDirect3DDevice9* device) override;

    // Empties every queue and returns them to their pool.
    void ClearQueues();

    // Decides occlusion culling from the "OcclusionCulling" text.
    void Load(IDirect3DDevice9* device) override;
    // Drops the occlusion surface, then the common release.
    void Unload() override;

    C_BaseResource* OcclusionSurface = nullptr;   // not owned
    VORTALEX::vector<C_QueueOne*, 100> Queues;

private:
    C_QueueRendering() = default;
    ~C_QueueRendering() override;

    void DrawOcclusion(IDirect3DDevice9* device);
    void DrawMain(IDirect3DDevice9* device);

    // One scratch per queue position: a frame's cameras come in the same
    // order as the last frame's.
    std::vector<std::unique_ptr<C_QueueScratch>> Scratches;
    const std::type_info* LastNonCamera = nullptr;
};
