#pragma once
// A sphere that brings its own look: each one makes a see-through material,
// an empty texture and two render states for itself, while all of them
// share one sphere mesh. It is drawn as an extra object of a positioned
// object, at that object's place.

#include "Render/Position/MeshObject.h"
#include "ResourceManager/FromFactory.h"

class C_SemitransparentSphere : public C_MeshObject {
    TW_POOLED_CLASS(C_SemitransparentSphere)

public:
    C_SemitransparentSphere();
    ~C_SemitransparentSphere() override;

    // Its own states hold for the sphere alone: the fill mode and alpha test
    // that were set before it are set again once it is drawn, so the scene's
    // states (a wireframe chosen for the whole scene) still reach the
    // objects drawn after it.
    void Draw(IDirect3DDevice9* device) override;     // 16
    // Makes (named after this object) and loads its material, texture and
    // fill-mode and alpha-test states, lists them as its extra objects, and
    // binds the shared sphere of the text "SemitransparentSphere".
    void Load(IDirect3DDevice9* device) override;     // 21
};
