#include "Render/SkyBox/VectorBox.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "BaseClasses/ParameterString.h"
#include "Common/CodePage.h"
#include "Logger/Logger.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_VectorBox)

namespace {

// printf into a wide string; numbers as "%0.3f".
template <class... Args>
std::wstring Format(const wchar_t* format, Args... args)
{
    wchar_t text[256];
    const int length = std::swprintf(text, sizeof text / sizeof text[0], format, args...);
    return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

struct Child {
    const wchar_t* Name;
    const wchar_t* Value;
    std::vector<std::wstring> Lines;
};

} // namespace

C_VectorBox::C_VectorBox()
{
    ResourceLevel = 2;
}

C_VectorBox::~C_VectorBox() = default;

void C_VectorBox::Load(IDirect3DDevice9* device)
{
    C_ResManager& managers = C_ResManager::Instance();

    // Objects that this module's own elements create now: with the
    // positioned objects at this module's level, their manager may have
    // loaded already, so whatever is new is loaded here.
    std::vector<std::pair<std::wstring, std::wstring>> fresh;   // class, name
    for (const auto* element : DeferredElements) {
        const char* name = element->Attribute("name");
        const char* className = element->Attribute("class");
        if (!name || !className) continue;
        const std::wstring wideName = VORTALEX::codepage::FromUtf8(name);
        const std::wstring wideClass = VORTALEX::codepage::FromUtf8(className);
        if (!managers.GetResource(wideName.c_str(), wideClass.c_str(), false)) fresh.emplace_back(wideClass, wideName);
    }
    C_BaseModule::Load(device);

    const float x = ParameterString::ReadFloat(GetField(0));
    const float y = ParameterString::ReadFloat(GetField(1));
    const float z = ParameterString::ReadFloat(GetField(2));
    const float length = std::sqrt(x * x + y * y + z * z);
    if (std::isfinite(length) && length > 0.0f) {
        Direction = D3DXVECTOR3(x / length, y / length, z / length);
    } else {
        // No direction to show: every box has length 0 at the origin, so no
        // NaN reaches a position or a mesh.
        Direction = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
        LOG_WARNING(L"Вектор " << Name << L" не задан или равен нулю: " << Value << L"; показан нулевой вектор");
    }
    const float dx = Direction.x, dy = Direction.y, dz = Direction.z;
    const bool zero = dx == 0.0f && dy == 0.0f && dz == 0.0f;

    C_D3DXSTRING::C_AllStrings& texts = C_D3DXSTRING::C_AllStrings::Instance();
    if (texts.Lookup(L"OrientSphere1").empty())
        LOG_WARNING(L"Для вектора " << Name << L" нет текста OrientSphere1: оси показаны без поворота");

    // The oriented box lies along X; yaw about Y turns it toward Z, and
    // roll about Z, applied first, lifts it toward Y.
    const float horizontal = std::sqrt(dx * dx + dz * dz);
    const float pitch = 0.0f;
    const float yaw = -std::atan2(dz, dx) + 0.0f;   // never a negative zero in the text
    const float roll = std::atan2(dy, horizontal);
    const std::vector<Child> children = {
        {L"VectorX", L"C_D3DXMESH9_BOX; VectorXBox; PosVectorXBox; OrientSphere1;",
         {Format(L"PosVectorXBox = %0.3f; 0.0; 0.0;", 5.0 * dx),
          Format(L"VectorXBox = %0.3f; 0.3; 0.3;", std::fabs(10.0 * dx))}},
        {L"VectorY", L"C_D3DXMESH9_BOX; VectorYBox; PosVectorYBox; OrientSphere1;",
         {Format(L"PosVectorYBox = 0.0; %0.3f; 0.0;", 5.0 * dy),
          Format(L"VectorYBox = 0.3; %0.3f; 0.3;", std::fabs(10.0 * dy))}},
        {L"VectorZ", L"C_D3DXMESH9_BOX; VectorZBox; PosVectorZBox; OrientSphere1;",
         {Format(L"PosVectorZBox = 0.0; 0.0; %0.3f;", 5.0 * dz),
          Format(L"VectorZBox = 0.3; 0.3; %0.3f;", std::fabs(10.0 * dz))}},
        {L"OrientedVector", L"C_D3DXMESH9_BOX; VectorBox; PosVectorBox; OrientVector;",
         {Format(L"PosVectorBox = %0.3f; %0.3f; %0.3f;", 5.0 * dx, 5.0 * dy, 5.0 * dz),
          Format(L"VectorBox = %0.3f; 0.5; 0.5;", zero ? 0.0 : 10.0),
          Format(L"OrientVector = %0.3f; %0.3f; %0.3f;", double(pitch), double(yaw), double(roll))}},
    };

    for (const Child& child : children) {
        // Texts first: the boxes read them when they load. They are
        // replaced, so that a scene loaded again shows its own vector.
        for (const std::wstring& line : child.Lines) texts.SetLine(line);
        const bool existed = managers.GetResource(child.Name, L"C_PositionObject", false) != nullptr;
        C_BaseResource* object = managers.AddResource(L"C_PositionObject", child.Name, child.Value);
        if (!object) continue;
        AddToModule(object);
        if (!existed) fresh.emplace_back(L"C_PositionObject", child.Name);
    }

    for (const auto& [className, name] : fresh) {
        C_BaseResource* object = managers.GetResource(name.c_str(), className.c_str(), false);
        if (object && !managers.LoadsLater(object)) object->Load(device);
    }
}
