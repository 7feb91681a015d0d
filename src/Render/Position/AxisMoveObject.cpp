#include "Render/Position/AxisMoveObject.h"

#include <string>

#include "BaseClasses/ParameterString.h"
#include "Render/Resources/D3DXMESH9.h"

TW_REGISTER_CLASS(C_AxisMoveObject)

C_AxisMoveObject::C_AxisMoveObject() = default;
C_AxisMoveObject::~C_AxisMoveObject() = default;

float C_AxisMoveObject::GetComponent(wchar_t letter) const
{
    switch (letter) {
    case L'X': return X;
    case L'Y': return Y;
    case L'Z': return Z;
    case L'A': return A;
    case L'B': return B;
    case L'C': return C;
    default: return 0.0f;
    }
}

void C_AxisMoveObject::SetComponent(wchar_t letter, float value)
{
    switch (letter) {
    case L'X': X = value; break;
    case L'Y': Y = value; break;
    case L'Z': Z = value; break;
    case L'A': A = value; break;
    case L'B': B = value; break;
    case L'C': C = value; break;
    default: return;
    }
    ComposeWorldMatrix();
}

void C_AxisMoveObject::Load(IDirect3DDevice9* device)
{
    C_TiedPositionObject::Load(device);
    const std::wstring axis = GetField(6);
    LoadAxis(ScriptDescription, axis, GetComponent(axis.empty() ? 0 : axis[0]), GetField(7));

    if (ParameterString::ReadFlag(GetField(8), L"true") && dynamic_cast<C_D3DXMESH9_CYLINDER*>(Mesh)) {
        float diameter = Programm().ToolDiameter();
        float length = Programm().ToolLength();
        if (!(diameter >= 0.1f)) diameter = 1.0f;
        if (!(length >= 0.1f)) length = 1.0f;
        ScaleX = ScaleY = diameter;
        ScaleZ = length;
        ComposeWorldMatrix();
        ComputeTiedMatrix();
    }
}

void C_AxisMoveObject::Unload()
{
    UnloadAxis();
    C_TiedPositionObject::Unload();
}

void C_AxisMoveObject::Update()
{
    PollPauseKey();
    if (Programm().IsPaused()) return;
    C_TiedPositionObject::Update();
    float machine = 0.0f;
    // The tied matrix follows at the next update, as the parent's does.
    if (UpdateAxis(CommonData().Time, machine)) SetComponent(AxisLetter, machine);
}

double C_AxisMoveObject::GetAxisPosition(wchar_t letter)
{
    return GetPositionFromAxis(ToID(this), std::string(1, static_cast<char>(letter)));
}
