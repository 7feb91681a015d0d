#pragma once
// A frames-per-second counter: a red text at the top left of its viewport
// that shows how many frames the last second took. Every counter of the
// process shares one count and one font description.

#include <cstdint>
#include <string>
#include <vector>

#include "Render/GUI/BaseText2D.h"

class C_CalculateFPS : public C_BaseText2D {
    TW_POOLED_CLASS(C_CalculateFPS)

public:
    C_CalculateFPS();
    ~C_CalculateFPS() override;

    // Keeps the near flag: the counter counts every frame wherever it is.
    void ClearDistances() override;                  // 11
    void Update() override;                          // 15
    // A non-empty value string is the font description of every counter
    // loaded from now on.
    void Load(IDirect3DDevice9* device) override;    // 21

    // What all counters share.
    struct C_Shared {
        std::wstring FontDescription = L"Courier New; 24; 900;";
        uint32_t Frames = 0;          // frames since the last figure
        bool Started = false;         // the first update has been seen
        uint32_t LastTime = 0;        // when the last figure was taken
        std::wstring Figure;          // the last figure, "FPS: n"
        uint32_t Figures = 0;         // how many figures were taken
        // Counters that have updated in the current frame: a counter that
        // comes round again marks a new frame.
        std::vector<C_CalculateFPS*> UpdatedThisFrame;
    };
    static C_Shared& Shared();
    // Starts counting afresh, as at start-up (the font description stays).
    static void RestartCount();

private:
    uint32_t m_FiguresShown = 0;
};
