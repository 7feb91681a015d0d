#pragma once
// Positioned objects: a mesh object with a position, an orientation and a
// scale composed into a world matrix; and tied objects, whose matrix is
// chained to the matrix of a parent tied object so that objects can ride on
// each other.

#include <string>
#include <vector>

#include "BaseClasses/BaseModule.h"
#include "Render/Position/MeshObject.h"
#include "ResourceManager/FromFactory.h"

class C_PositionObject : public C_MeshObject, public ContainedInModule {
    TW_POOLED_CLASS(C_PositionObject)

public:
    C_PositionObject();
    ~C_PositionObject() override;

    StatusObject GetStatus() override;                     // 2
    D3DXVECTOR3 GetPosition() override;                    // 5
    float GetRadius() override;                            // 7
    D3DXVECTOR3 GetBoxMax() override;                      // 8
    D3DXVECTOR3 GetBoxMin() override;                      // 9
    void Draw(IDirect3DDevice9* device) override;          // 16
    // Fields 2 and 3 name texts of three numbers (position; angles in
    // radians), field 4 is the uniform scale (1 when empty).
    void Load(IDirect3DDevice9* device) override;          // 21
    virtual void SetLocalPosition(const D3DXVECTOR3& position);   // 23
    // The position in the units SetLocalPosition takes, which the script
    // operations read and write: the stored one here; classes that convert
    // in SetLocalPosition give it back converted.
    virtual D3DXVECTOR3 GetLocalPosition();                       // 24

    // World = scale · yaw-pitch-roll (yaw B, pitch A, roll C) · translation.
    void ComposeWorldMatrix();

    // The matrix the object is drawn with (the tied matrix for tied objects).
    virtual const D3DXMATRIX& PlacementMatrix();

    // Operations that scripts call; angles in degrees, positions as
    // GetLocalPosition gives them. IDs that name no live positioned object do
    // nothing and give 0.
    static double SetPositionX(double id, double value);
    static double SetPositionY(double id, double value);
    static double SetPositionZ(double id, double value);
    static double SetPositionA(double id, double degrees);
    static double SetPositionB(double id, double degrees);
    static double SetPositionC(double id, double degrees);
    static double GetPositionX(double id);
    static double GetPositionY(double id);
    static double GetPositionZ(double id);
    static double GetPositionA(double id);
    static double GetPositionB(double id);
    static double GetPositionC(double id);
    // "X", "Y", "Z": the position; "A", "B", "C": the angle in degrees;
    // anything else 0.
    static double GetPositionFromAxis(double id, const std::string& axis);

    // The effect code installs this: hands a matrix parameter to an effect
    // and commits it. Null: objects with effects get no world matrix there.
    using EffectMatrixFunction = void (*)(C_D3DXEFFECT* effect, const char* parameter, const D3DXMATRIX& matrix);
    static EffectMatrixFunction SetEffectMatrix;

    D3DXMATRIX World;
    float X = 0.0f, Y = 0.0f, Z = 0.0f;
    float A = 0.0f, B = 0.0f, C = 0.0f;   // radians: pitch, yaw, roll
    float ScaleX = 1.0f, ScaleY = 1.0f, ScaleZ = 1.0f;

protected:
    void PlaceOnDevice(IDirect3DDevice9* device, const D3DXMATRIX& matrix, bool effectToo);
    // The mesh's box corners carried by the placement matrix, as an
    // axis-aligned box.
    void PlacedBox(D3DXVECTOR3& minimum, D3DXVECTOR3& maximum);

private:
    // The last placed box and what it was made from: picking asks for both
    // corners of every box-bound object each frame, and most do not move.
    struct C_PlacedBoxCache {
        const C_BaseResource* mesh = nullptr;
        D3DXVECTOR3 meshMinimum, meshMaximum, minimum, maximum;
        D3DXMATRIX matrix;
        bool valid = false;
    } m_BoxCache;
};

class C_TiedPositionObject : public C_PositionObject {
    TW_POOLED_CLASS(C_TiedPositionObject)

public:
    C_TiedPositionObject();
    ~C_TiedPositionObject() override;

    D3DXVECTOR3 GetPosition() override;                    // 5
    void Update() override;                                // 15
    void Draw(IDirect3DDevice9* device) override;          // 16
    // Field 5 names the parent.
    void Load(IDirect3DDevice9* device) override;          // 21

    const D3DXMATRIX& PlacementMatrix() override;

    // Tied = own World · parent's Tied (the parent's value as it is now).
    void ComputeTiedMatrix();

    // Links to `parent` (null unties). Refuses, with a warning, a parent
    // that would close a loop of ties. False when refused.
    bool SetParent(C_TiedPositionObject* parent);
    C_TiedPositionObject* GetParent() const { return m_Parent; }

    D3DXMATRIX TiedWorld;

private:
    C_TiedPositionObject* m_Parent = nullptr;
    // Tied to this object; their links are cleared when this object goes.
    std::vector<C_TiedPositionObject*> m_Children;
};
