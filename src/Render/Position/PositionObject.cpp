#include "Render/Position/PositionObject.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "ResourceManager/ResManager.h"
#include "port/d3d9/d3d9.h"

TW_REGISTER_CLASS(C_PositionObject)
TW_REGISTER_CLASS(C_TiedPositionObject)

C_PositionObject::EffectMatrixFunction C_PositionObject::SetEffectMatrix = nullptr;

namespace {

constexpr float Pi = 3.1415927f;

C_PositionObject* PositionFromID(double id)
{
    return dynamic_cast<C_PositionObject*>(C_BaseObject::FromID(id));
}

// Three numbers of a named text.
D3DXVECTOR3 ReadTriple(const std::wstring& descriptor)
{
    const std::wstring text = C_ResManager::Instance().GetText(descriptor);
    return D3DXVECTOR3(ParameterString::ReadFloat(ParameterString::GetField(text, 0)),
                       ParameterString::ReadFloat(ParameterString::GetField(text, 1)),
                       ParameterString::ReadFloat(ParameterString::GetField(text, 2)));
}

} // namespace

// ---------------------------------------------------------------------------
// C_PositionObject

C_PositionObject::C_PositionObject()
{
    ResourceLevel = 2;
    D3DXMatrixIdentity(&World);
}

C_PositionObject::~C_PositionObject() = default;

C_BaseObject::StatusObject C_PositionObject::GetStatus()
{
    if (Status == Disabled || Status == Deleted) return Status;
    return FrustumTest(GetPosition(), GetRadius()) < 0.0f ? NotRender : Visible;
}

D3DXVECTOR3 C_PositionObject::GetPosition()
{
    return D3DXVECTOR3(X, Y, Z);
}

float C_PositionObject::GetRadius()
{
    // Magnitudes: a mirrored (negative) scale must not give a negative
    // radius, which would make the object count as outside every view.
    const float scale = std::max({std::fabs(ScaleX), std::fabs(ScaleY), std::fabs(ScaleZ)});
    return scale * C_MeshObject::GetRadius();
}

void C_PositionObject::PlacedBox(D3DXVECTOR3& minimum, D3DXVECTOR3& maximum)
{
    if (!Mesh) {
        minimum = maximum = GetPosition();
        return;
    }
    // The box follows the whole placement (scale, rotation, position and the
    // parents of tied objects), so picking by box hits what is drawn.
    const D3DXVECTOR3 low = Mesh->GetBoxMin(), high = Mesh->GetBoxMax();
    const D3DXMATRIX& matrix = PlacementMatrix();
    C_PlacedBoxCache& cache = m_BoxCache;
    if (cache.valid && cache.mesh == Mesh && std::memcmp(&cache.meshMinimum, &low, sizeof low) == 0 &&
        std::memcmp(&cache.meshMaximum, &high, sizeof high) == 0 && std::memcmp(&cache.matrix, &matrix, sizeof matrix) == 0) {
        minimum = cache.minimum;
        maximum = cache.maximum;
        return;
    }
    for (int i = 0; i < 8; ++i) {
        const D3DXVECTOR3 corner(i & 1 ? high.x : low.x, i & 2 ? high.y : low.y, i & 4 ? high.z : low.z);
        D3DXVECTOR3 placed;
        D3DXVec3TransformCoord(&placed, &corner, &matrix);
        if (i == 0) {
            minimum = maximum = placed;
            continue;
        }
        minimum.x = std::min(minimum.x, placed.x);
        minimum.y = std::min(minimum.y, placed.y);
        minimum.z = std::min(minimum.z, placed.z);
        maximum.x = std::max(maximum.x, placed.x);
        maximum.y = std::max(maximum.y, placed.y);
        maximum.z = std::max(maximum.z, placed.z);
    }
    cache.mesh = Mesh;
    cache.meshMinimum = low;
    cache.meshMaximum = high;
    cache.matrix = matrix;
    cache.minimum = minimum;
    cache.maximum = maximum;
    cache.valid = true;
}

D3DXVECTOR3 C_PositionObject::GetBoxMax()
{
    D3DXVECTOR3 minimum, maximum;
    PlacedBox(minimum, maximum);
    return maximum;
}

D3DXVECTOR3 C_PositionObject::GetBoxMin()
{
    D3DXVECTOR3 minimum, maximum;
    PlacedBox(minimum, maximum);
    return minimum;
}

const D3DXMATRIX& C_PositionObject::PlacementMatrix()
{
    return World;
}

void C_PositionObject::PlaceOnDevice(IDirect3DDevice9* device, const D3DXMATRIX& matrix, bool effectToo)
{
    if (device) device->SetTransform(D3DTS_WORLD, &matrix);
    if (effectToo && Effect && SetEffectMatrix) SetEffectMatrix(Effect, "MatrixWorld", matrix);
}

void C_PositionObject::Draw(IDirect3DDevice9* device)
{
    PlaceOnDevice(device, World, true);
    // Far enough away, a level-of-detail mesh asks not to be drawn at all.
    if (Mesh && Mesh->CalcLevelOfDetail(this) < 0.01f) return;
    C_MeshObject::Draw(device);
}

void C_PositionObject::Load(IDirect3DDevice9* device)
{
    C_MeshObject::Load(device);
    const D3DXVECTOR3 position = ReadTriple(GetField(2));
    X = position.x;
    Y = position.y;
    Z = position.z;
    const D3DXVECTOR3 angles = ReadTriple(GetField(3));
    A = angles.x;
    B = angles.y;
    C = angles.z;
    const std::wstring scale = GetField(4);
    ScaleX = ScaleY = ScaleZ = scale.empty() ? 1.0f : ParameterString::ReadFloat(scale);
    ComposeWorldMatrix();
}

void C_PositionObject::SetLocalPosition(const D3DXVECTOR3& position)
{
    X = position.x;
    Y = position.y;
    Z = position.z;
    ComposeWorldMatrix();
}

D3DXVECTOR3 C_PositionObject::GetLocalPosition()
{
    return D3DXVECTOR3(X, Y, Z);
}

void C_PositionObject::ComposeWorldMatrix()
{
    D3DXMATRIX scaling, rotation, translation;
    D3DXMatrixScaling(&scaling, ScaleX, ScaleY, ScaleZ);
    D3DXMatrixRotationYawPitchRoll(&rotation, B, A, C);
    D3DXMatrixTranslation(&translation, X, Y, Z);
    World = scaling * rotation * translation;
}

namespace {

// One component changed, the others handed back as they were read, so that
// a class converting units in SetLocalPosition converts them only once.
double SetComponent(double id, double value, float D3DXVECTOR3::*component)
{
    if (C_PositionObject* object = PositionFromID(id)) {
        D3DXVECTOR3 position = object->GetLocalPosition();
        position.*component = static_cast<float>(value);
        object->SetLocalPosition(position);
    }
    return 0.0;
}

double GetComponent(double id, float D3DXVECTOR3::*component)
{
    C_PositionObject* object = PositionFromID(id);
    return object ? static_cast<double>(object->GetLocalPosition().*component) : 0.0;
}

} // namespace

double C_PositionObject::SetPositionX(double id, double value) { return SetComponent(id, value, &D3DXVECTOR3::x); }
double C_PositionObject::SetPositionY(double id, double value) { return SetComponent(id, value, &D3DXVECTOR3::y); }
double C_PositionObject::SetPositionZ(double id, double value) { return SetComponent(id, value, &D3DXVECTOR3::z); }

namespace {

double SetAngle(double id, double degrees, float C_PositionObject::*angle)
{
    if (C_PositionObject* object = PositionFromID(id)) {
        object->*angle = static_cast<float>(degrees) * Pi / 180.0f;
        object->ComposeWorldMatrix();
    }
    return 0.0;
}

double GetAngle(double id, float C_PositionObject::*angle)
{
    const C_PositionObject* object = PositionFromID(id);
    return object ? static_cast<double>(object->*angle * 180.0f / Pi) : 0.0;
}

} // namespace

double C_PositionObject::SetPositionA(double id, double degrees) { return SetAngle(id, degrees, &C_PositionObject::A); }
double C_PositionObject::SetPositionB(double id, double degrees) { return SetAngle(id, degrees, &C_PositionObject::B); }
double C_PositionObject::SetPositionC(double id, double degrees) { return SetAngle(id, degrees, &C_PositionObject::C); }

double C_PositionObject::GetPositionX(double id) { return GetComponent(id, &D3DXVECTOR3::x); }
double C_PositionObject::GetPositionY(double id) { return GetComponent(id, &D3DXVECTOR3::y); }
double C_PositionObject::GetPositionZ(double id) { return GetComponent(id, &D3DXVECTOR3::z); }

double C_PositionObject::GetPositionA(double id) { return GetAngle(id, &C_PositionObject::A); }
double C_PositionObject::GetPositionB(double id) { return GetAngle(id, &C_PositionObject::B); }
double C_PositionObject::GetPositionC(double id) { return GetAngle(id, &C_PositionObject::C); }

double C_PositionObject::GetPositionFromAxis(double id, const std::string& axis)
{
    if (axis == "X") return GetPositionX(id);
    if (axis == "Y") return GetPositionY(id);
    if (axis == "Z") return GetPositionZ(id);
    if (axis == "A") return GetPositionA(id);
    if (axis == "B") return GetPositionB(id);
    if (axis == "C") return GetPositionC(id);
    return 0.0;
}

// ---------------------------------------------------------------------------
// C_TiedPositionObject

C_TiedPositionObject::C_TiedPositionObject()
{
    D3DXMatrixIdentity(&TiedWorld);
}

C_TiedPositionObject::~C_TiedPositionObject()
{
    SetParent(nullptr);
    // Children keep their last tied matrix and ride on nothing from now on.
    for (C_TiedPositionObject* child : m_Children) child->m_Parent = nullptr;
    m_Children.clear();
}

bool C_TiedPositionObject::SetParent(C_TiedPositionObject* parent)
{
    for (C_TiedPositionObject* up = parent; up; up = up->m_Parent) {
        if (up == this) {
            // Each tie would feed on the previous frame's value of the other:
            // the matrices would compound without end.
            LOG_WARNING(L"Привязка образует замкнутую цепочку: " << Name << L" -> " << parent->Name);
            return false;
        }
    }
    if (m_Parent) std::erase(m_Parent->m_Children, this);
    m_Parent = parent;
    if (m_Parent) m_Parent->m_Children.push_back(this);
    return true;
}

D3DXVECTOR3 C_TiedPositionObject::GetPosition()
{
    return D3DXVECTOR3(TiedWorld._41, TiedWorld._42, TiedWorld._43);
}

const D3DXMATRIX& C_TiedPositionObject::PlacementMatrix()
{
    return TiedWorld;
}

void C_TiedPositionObject::ComputeTiedMatrix()
{
    TiedWorld = m_Parent ? World * m_Parent->TiedWorld : World;
}

void C_TiedPositionObject::Update()
{
    ComputeTiedMatrix();
    C_PositionObject::Update();
}

void C_TiedPositionObject::Draw(IDirect3DDevice9* device)
{
    PlaceOnDevice(device, TiedWorld, CommonData().RenderPass == 0);
    C_MeshObject::Draw(device);
}

void C_TiedPositionObject::Load(IDirect3DDevice9* device)
{
    C_PositionObject::Load(device);
    const std::wstring parentName = GetField(5);
    if (!parentName.empty()) {
        C_BaseResource* found = C_ResManager::Instance().GetResource(parentName.c_str());
        // Only a tied object has a tied matrix to ride on; any other class
        // counts as no parent at all.
        if (auto* parent = dynamic_cast<C_TiedPositionObject*>(found))
            SetParent(parent);
        else
            LOG_WARNING(L"Попытка привязаться к несуществующему объекту: " << parentName << L"\r\n");
    }
    // Placed at once, so bounds and picking are right before the first
    // update.
    ComputeTiedMatrix();
}
