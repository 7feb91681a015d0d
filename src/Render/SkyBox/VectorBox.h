#pragma once
// A marker that shows a direction: a module that builds four boxes from its
// vector, one along each axis with the length of that component and one
// pointing along the whole vector.

#include <string>

#include "BaseClasses/BaseModule.h"
#include "ResourceManager/FromFactory.h"

class C_VectorBox : public C_BaseModule {
    TW_POOLED_CLASS(C_VectorBox)

public:
    C_VectorBox();
    ~C_VectorBox() override;

    // Fields 0, 1, 2: the vector's X, Y, Z. The vector is normalised (a zero
    // or unreadable vector stays zero, with a warning), the texts of the
    // boxes are written into the text table and the four position objects
    // "VectorX", "VectorY", "VectorZ" and "OrientedVector" join this module.
    void Load(IDirect3DDevice9* device) override;     // 21

    // The normalised vector of the last Load.
    D3DXVECTOR3 Direction{0.0f, 0.0f, 0.0f};
};
