#pragma once
// A resource that loads nothing and only draws its extra objects. The window
// adds one at every reload; as the highest load level it is loaded first.

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"

class C_PureResource : public C_BaseResource {
    TW_POOLED_CLASS(C_PureResource)

public:
    C_PureResource();
    ~C_PureResource() override;
    // Loads nothing: no script, effect or extra objects.
    void Load(IDirect3DDevice9* device) override;
};
