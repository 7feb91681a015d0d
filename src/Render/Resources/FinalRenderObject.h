#pragma once
// Draws another object at the very end of its camera's queue: overlays,
// captures that must follow the whole scene, anything drawn last.

#include <string>

#include "BaseClasses/BaseModule.h"
#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"

class C_FinalRenderObject : public C_BaseResource, public ContainedInModule {
    TW_POOLED_CLASS(C_FinalRenderObject)

public:
    C_FinalRenderObject();

    // Always -1e37: sorted after everything else of its queue.
    float GetDistance(C_BaseObject* other) override;   // 13
    ~C_FinalRenderObject() override;                   // 14
    // Draws the target, if it has one that is still alive.
    void Draw(IDirect3DDevice9* device) override;      // 16
    // Field 0 names the target among every loaded object; a missing one
    // leaves no target and no message. An object naming itself is refused
    // with a warning.
    void Load(IDirect3DDevice9* device) override;      // 21
    void Unload() override;                            // 22

    C_BaseObject* GetTarget();

private:
    C_BaseObject* m_Target = nullptr;   // not owned
    bool m_Drawing = false;             // guards against targets that lead back here
};
