#include "Render/GUI/CalculateFPS.h"

#include <algorithm>

#include "BaseClasses/ParameterString.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_CalculateFPS)

C_CalculateFPS::C_CalculateFPS() = default;

C_CalculateFPS::~C_CalculateFPS()
{
    std::erase(Shared().UpdatedThisFrame, this);
}

C_CalculateFPS::C_Shared& C_CalculateFPS::Shared()
{
    // Never destroyed: counters still in their pools at exit leave it last.
    static C_Shared* shared = new C_Shared;
    return *shared;
}

void C_CalculateFPS::RestartCount()
{
    C_Shared& shared = Shared();
    shared.Frames = 0;
    shared.Started = false;
    shared.LastTime = 0;
    shared.Figure.clear();
    shared.UpdatedThisFrame.clear();
}

void C_CalculateFPS::ClearDistances()
{
    Distances.clear();
    Near = true;
}

void C_CalculateFPS::Load(IDirect3DDevice9* device)
{
    C_BaseText2D::Load(device);
    C_Shared& shared = Shared();
    if (!ParameterString::Trim(Value).empty()) shared.FontDescription = Value;
    const std::wstring& description = shared.FontDescription;
    Font = dynamic_cast<C_D3DX9FONT*>(
        C_ResManager::Instance().AddResource(L"C_D3DX9FONT", description.c_str(), description.c_str()));
    Text = L"FPS:";
    Flags = 0;
    Colour = 0xFFFF0000;
    SetRect(0.01f, 0.01f, 1.0f, 1.0f);
    m_FiguresShown = shared.Figures;
}

void C_CalculateFPS::Update()
{
    C_Shared& shared = Shared();
    // One count per frame however many counters there are: the frame is
    // counted by the first counter to update in it, and a counter that
    // updates again has seen the others' turn pass.
    std::vector<C_CalculateFPS*>& updated = shared.UpdatedThisFrame;
    if (updated.empty() || std::find(updated.begin(), updated.end(), this) != updated.end()) {
        updated.clear();
        ++shared.Frames;
    }
    updated.push_back(this);

    const uint32_t now = CommonData().Time;
    if (!shared.Started) {
        // The first update starts the clock: counted as well, it would make
        // the first second one frame longer than every other.
        shared.Started = true;
        shared.LastTime = now;
        shared.Frames = 0;
    }
    // Unsigned difference: the millisecond clock wraps after 49.7 days.
    if (static_cast<uint32_t>(now - shared.LastTime) >= 1000u) {
        shared.LastTime = now;
        shared.Figure = L"FPS: " + std::to_wstring(shared.Frames);
        shared.Frames = 0;
        ++shared.Figures;
    }
    // Every counter shows the latest figure, whichever of them took it.
    if (m_FiguresShown != shared.Figures) {
        m_FiguresShown = shared.Figures;
        Text = shared.Figure;
    }
    CallScriptFunction();
}
