#pragma once
// Machine axes driven by a motion program (a G-code dialect).
//
// C_AxisDrive is the axis part of an axis-move object: its coordinate
// letter, the start and target of the current move, limits and work offset,
// and the Lua global that supplies its value every frame. C_AxisMoveObject
// is a tied positioned object that is also a C_AxisDrive, so the program,
// its statics and `C_AxisMoveObject::C_Programm` work on this part alone.
//
// C_Programm is the one process-wide motion program: the axes registered at
// their Load, the program lines, and the command step that gives every
// command a start and finish time from its path length and feed, cuts arcs
// into 2-degree segments and shifts targets for cutter-radius compensation.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Common/vector.h"
#include "Render/Position/PositionObject.h"

class C_AxisDrive {
public:
    class C_Programm;

    C_AxisDrive() = default;
    C_AxisDrive(const C_AxisDrive&) = delete;
    C_AxisDrive& operator=(const C_AxisDrive&) = delete;
    // Leaves the program's list, so a destroyed axis is never stepped.
    virtual ~C_AxisDrive();

    // The process-wide program, created on first use.
    static C_Programm& Programm();

    // True for X, Y, Z, A, B, C; any other letter means no axis.
    static bool IsAxisLetter(wchar_t letter);
    static bool IsRotary(wchar_t letter) { return letter == L'A' || letter == L'B' || letter == L'C'; }

    // The axis part of Load: value variable = token 2 of the script
    // attribute (when it is not empty), axis letter = first character of
    // `axisField`, axis value = `loadedValue` (the position or angle
    // component of that letter, radians for A, B, C), work offset 0, limits
    // from the text table's "minimum; maximum" text named `limitsName` (a
    // missing number keeps its default); then joins the program's list.
    void LoadAxis(const std::wstring& scriptAttribute, const std::wstring& axisField,
                  float loadedValue, const std::wstring& limitsName);
    // The axis part of Unload: leaves the program's list.
    void UnloadAxis();

    // The axis part of the per-frame update, after the tied object's own
    // update (which the caller skips while the program is paused). Runs the
    // command step; the axis value becomes the start value when a new
    // command started, else the value of the Lua global. True, with the
    // machine coordinate to set on the object, when the object has a value
    // variable and an axis letter.
    bool UpdateAxis(std::uint32_t now, float& machineValue);

    // The pause key (P): each press pauses or resumes the program. Every
    // axis calls it at the start of its update, paused or not; only the
    // first call of a frame counts.
    static void PollPauseKey();

    // The program's effect of one command on this axis.
    void ApplyCommand(std::wstring_view command);

    float StartValue = 0.0f;     // work coordinates; radians for A, B, C
    float TargetValue = 0.0f;
    float AxisValue = 0.0f;      // value last applied to the object
    wchar_t AxisLetter = 0;
    float Minimum = -1.0e37f;    // machine coordinates
    float Maximum = 1.0e37f;
    float WorkOffset = 0.0f;     // machine = work + offset
    std::wstring ValueVariable;  // Lua global giving the axis value

    // Script operations (IDs name live axis-move objects; anything else
    // gives 0 and does nothing).
    static double LoadProgramm(const std::string& file);
    static double GetStartPoint(long id);
    static double GetFinishPoint(long id);
    static double GetStartTime();
    static double GetFinishTime();
    static double GetNumCommand();
    static std::string GetStringCommand(double index);
    static double SetPause(double flag);
    static double GetLocalPositionFromAxis(long id, const std::string& axis);

    // The axis-move object's position (X, Y, Z) or angle (A, B, C, in
    // degrees) by letter, as its positioned part gives it.
    virtual double GetAxisPosition(wchar_t letter) = 0;

    // The live axis named by a script ID; null for anything else.
    static C_AxisDrive* FromID(double id);
};

class C_AxisDrive::C_Programm : public VORTALEX::vector<C_AxisDrive*, 100> {
public:
    C_Programm() = default;
    ~C_Programm() override;

    // Resets the program (see Reset) and reads the file's command lines.
    // False, after a logged warning, when the file cannot be opened.
    bool LoadProgramm(const std::wstring& file);
    // Every registered axis goes back to machine coordinates with no work
    // offset, compensation ends, the program empties; the pause stays.
    void Reset();

    // Starts the next command when the current one has finished by `now`.
    // True when a command started.
    bool Step(std::uint32_t now);

    // Only a change of state counts: pausing a paused program or resuming a
    // running one does nothing.
    void SetPause(bool pause, std::uint32_t now);
    bool IsPaused() const { return m_paused; }
    // A press of the pause key (the key going down) toggles the pause;
    // `keyDown` is the key's state in the frame of time `now`, and further
    // calls in the same frame change nothing.
    void PauseKey(bool keyDown, std::uint32_t now);

    void Register(C_AxisDrive* axis) { push_back(axis); }
    void Unregister(C_AxisDrive* axis);

    // Word parsing: the number after the first `letter` in `line` (degrees
    // turned to radians for A, B, C). False, with `value` unchanged, when the
    // letter is absent, its number runs into ";" or does not fit a float.
    static bool ParseWord(std::wstring_view line, wchar_t letter, float& value);

    // Tool diameter and length from the texts "mill_diameter" and
    // "mill_lenght" of the text table, read on first use.
    float ToolDiameter();
    float ToolLength();
    void SetToolSize(float diameter, float length);

    std::uint32_t GetStartTime() const { return m_startTime; }
    std::uint32_t GetFinishTime() const { return m_finishTime; }
    // Index of the line being executed; -1 before the first.
    long GetNumCommand() const { return static_cast<long>(m_nextLine) - 1; }
    const std::vector<std::wstring>& GetLines() const { return m_lines; }
    float GetFeed() const { return m_feed; }
    int GetCompensationMode() const { return m_compensation; }
    std::size_t GetPendingSegments() const { return m_pending.size() - m_pendingRead; }
    // Coordinates X, Y, Z, A, B, C (radians) of the current target and of the
    // end of the last move that moved.
    const float* GetTarget() const { return m_target; }
    const float* GetPrevious() const { return m_previous; }

    // The most segments an arc is cut into (a full circle in 2-degree steps
    // and one closing segment).
    static constexpr std::size_t MaxArcSegments = 182;
    // No single command lasts longer than this (ms).
    static constexpr std::uint32_t MaxDuration = 0x7FFFFFFFu;

private:
    void Arc(std::wstring& command);
    void Compensation(std::wstring& command);
    void ReadToolSize();

    std::uint32_t m_startTime = 0;
    std::uint32_t m_finishTime = 0;
    float m_target[6] = {0, 0, 0, 0, 0, 0};
    float m_previous[6] = {0, 0, 0, 0, 0, 0};
    std::vector<std::wstring> m_lines;
    std::uint32_t m_nextLine = 0;
    float m_feed = 1000.0f;
    bool m_paused = false;
    std::vector<std::wstring> m_pending;
    std::size_t m_pendingRead = 0;
    int m_compensation = 0;          // 0 none, 1 left (G41), 2 right (G42)
    std::uint32_t m_pauseStart = 0;
    bool m_keyDown = false;
    bool m_keySeen = false;
    std::uint32_t m_keyFrame = 0;
    bool m_toolRead = false;
    float m_toolDiameter = 0.0f;
    float m_toolLength = 0.0f;
};

// One axis of a machine: a tied object whose position or angle of its axis
// letter follows the motion program through its script's value variable.
// Value fields 6 (axis letter), 7 (name of the "minimum; maximum" text) and
// 8 ("true": the cutting tool, sized by "mill_diameter" and "mill_lenght"
// when its mesh is a cylinder) follow those of the tied object.
class C_AxisMoveObject : public C_TiedPositionObject, public C_AxisDrive {
    TW_POOLED_CLASS(C_AxisMoveObject)

public:
    C_AxisMoveObject();
    ~C_AxisMoveObject() override;

    void Update() override;                                // 15
    void Load(IDirect3DDevice9* device) override;          // 21
    void Unload() override;                                // 22

    double GetAxisPosition(wchar_t letter) override;

    // The position or angle (radians) of a letter, and setting it.
    float GetComponent(wchar_t letter) const;
    void SetComponent(wchar_t letter, float value);
};
