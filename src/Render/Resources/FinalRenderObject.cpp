#include "Render/Resources/FinalRenderObject.h"

#include "Logger/Logger.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_FinalRenderObject)

C_FinalRenderObject::C_FinalRenderObject() = default;
C_FinalRenderObject::~C_FinalRenderObject() = default;

float C_FinalRenderObject::GetDistance(C_BaseObject*) { return -1e37f; }

void C_FinalRenderObject::Load(IDirect3DDevice9*)
{
    m_Target = nullptr;
    const std::wstring name = GetField(0);
    if (name.empty()) return;
    // Looked up quietly: a missing target is allowed and says nothing.
    for (C_BaseResManager* manager : C_ResManager::Instance())
        if (C_BaseResource* found = manager->Find(name)) {
            m_Target = found;
            break;
        }
    if (m_Target == this) {
        // Drawing itself would never end.
        m_Target = nullptr;
        LOG_WARNING(L"Объект " << Name << L" назначен последним для отрисовки самому себе");
    }
}

void C_FinalRenderObject::Unload()
{
    m_Target = nullptr;
    C_BaseResource::Unload();
}

C_BaseObject* C_FinalRenderObject::GetTarget()
{
    // Deleted since it was found: forgotten.
    if (m_Target && !IsLive(m_Target)) m_Target = nullptr;
    return m_Target;
}

void C_FinalRenderObject::Draw(IDirect3DDevice9* device)
{
    C_BaseObject* target = GetTarget();
    if (!target || m_Drawing) return;
    struct Guard {
        bool& flag;
        explicit Guard(bool& f) : flag(f) { flag = true; }
        ~Guard() { flag = false; }
    } guard(m_Drawing);
    target->Draw(device);
}
