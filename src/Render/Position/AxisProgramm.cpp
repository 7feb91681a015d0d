// The motion program: loading, word parsing, the command step, arcs and
// cutter-radius compensation, and the effect of a command on each axis.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <limits>

#include "BaseClasses/BaseObject.h"
#include "BaseClasses/ParameterString.h"
#include "Common/CodePage.h"
#include "Logger/Logger.h"
#include "Render/Position/AxisMoveObject.h"
#include "Render/Position/StdioFile.h"
#include "ResourceManager/ResManager.h"
#include "Script/LuaScriptBase.h"

namespace {

// Angles of motion programs are degrees; this is the float pi they are
// converted with.
constexpr float Pi = 3.1415927f;
constexpr float TwoPi = 6.2831855f;
// Half a full turn beyond which an arc's end angle is brought back.
constexpr float FullTurnLimit = 6.2931857f;
constexpr double ArcStep = 0.034906585;  // 2 degrees
// An arc point this close to the end angle is the end point: otherwise the
// rounding of 180 steps of 2 degrees leaves a closing segment of nothing.
constexpr double ArcEndTolerance = 1e-6;
// Radii below this make an arc degenerate: it becomes one straight move.
constexpr double DegenerateRadius = 1e-6;
constexpr float MovedDistance = 0.01f;
constexpr std::uint32_t IdleDuration = 10;

bool Contains(std::wstring_view text, std::wstring_view word)
{
    return text.find(word) != std::wstring_view::npos;
}

std::wstring FormatPoint(double x, double y, double z)
{
    // Large but finite floats print up to 39 digits before the point.
    wchar_t buffer[160];
    std::swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), L"X%0.3f Y%0.3f Z%0.3f", x, y, z);
    return buffer;
}

double Length3(double x, double y, double z)
{
    return std::sqrt(x * x + y * y + z * z);
}

}  // namespace

// ---------------------------------------------------------------------------
// Words
// ---------------------------------------------------------------------------

bool C_AxisDrive::C_Programm::ParseWord(std::wstring_view line, wchar_t letter, float& value)
{
    const std::size_t at = line.find(letter);
    if (at == std::wstring_view::npos) return false;
    std::size_t end = at + 1;
    while (end < line.size()) {
        const wchar_t c = line[end];
        if ((c >= L'0' && c <= L'9') || c == L'.' || c == L'-') ++end;
        else break;
    }
    if (end < line.size() && line[end] == L';') return false;
    // Read like _wtof: the longest prefix that is a number, none gives 0.
    // Only the first 400 characters can matter to a float.
    const std::size_t length = std::min<std::size_t>(end - at - 1, 400);
    char text[402];
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(line[at + 1 + i]);
    text[length] = '\0';
    double number = 0.0;
    // from_chars, not strtod: the process locale must not change the decimal point.
    const auto parsed = std::from_chars(text, text + length, number);
    if (parsed.ec == std::errc::result_out_of_range) return false;
    if (parsed.ec != std::errc()) number = 0.0;
    if (!std::isfinite(number) || std::fabs(number) > std::numeric_limits<float>::max()) return false;
    float result = static_cast<float>(number);
    if (letter == L'A' || letter == L'B' || letter == L'C') result = result * Pi / 180.0f;
    value = result;
    return true;
}

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

void C_AxisDrive::C_Programm::Reset()
{
    for (C_AxisDrive* axis : *this) {
        axis->StartValue = axis->TargetValue = axis->AxisValue + axis->WorkOffset;
        axis->WorkOffset = 0.0f;
        switch (axis->AxisLetter) {
        case L'X': m_previous[0] = axis->AxisValue; break;
        case L'Y': m_previous[1] = axis->AxisValue; break;
        case L'Z': m_previous[2] = axis->AxisValue; break;
        case L'A': m_previous[3] = axis->AxisValue; break;
        case L'B': m_previous[4] = axis->AxisValue; break;
        case L'C': m_previous[5] = axis->AxisValue; break;
        default: break;
        }
    }
    // The targets start where the axes are: a first line that does not name
    // a coordinate must not time a move to where an earlier program stopped.
    std::copy(m_previous, m_previous + 6, m_target);
    std::wstring command = L"G40";
    Compensation(command);
    m_lines.clear();
    m_lines.shrink_to_fit();
    m_pending.clear();
    m_pendingRead = 0;
    m_feed = 1000.0f;
    m_nextLine = 0;
    m_startTime = m_finishTime = 0;
}

bool C_AxisDrive::C_Programm::LoadProgramm(const std::wstring& file)
{
    Reset();
    C_StdioFile reader;
    if (!reader.Open(file)) {
        LOG_WARNING(L"Не открыт файл: " << file << L"\r\n");
        return false;
    }
    std::wstring line;
    while (reader.ReadString(line)) {
        if (line.empty() || line[0] == L';') continue;
        m_lines.push_back(line);
    }
    return true;
}

void C_AxisDrive::C_Programm::Unregister(C_AxisDrive* axis)
{
    const auto found = std::find(begin(), end(), axis);
    if (found != end()) erase(found);
}

// ---------------------------------------------------------------------------
// Tool size
// ---------------------------------------------------------------------------

void C_AxisDrive::C_Programm::ReadToolSize()
{
    if (m_toolRead) return;
    m_toolRead = true;
    m_toolDiameter = ParameterString::ReadFloat(C_ResManager::Instance().GetText(L"mill_diameter"));
    m_toolLength = ParameterString::ReadFloat(C_ResManager::Instance().GetText(L"mill_lenght"));
}

float C_AxisDrive::C_Programm::ToolDiameter()
{
    ReadToolSize();
    return m_toolDiameter;
}

float C_AxisDrive::C_Programm::ToolLength()
{
    ReadToolSize();
    return m_toolLength;
}

void C_AxisDrive::C_Programm::SetToolSize(float diameter, float length)
{
    m_toolRead = true;
    m_toolDiameter = diameter;
    m_toolLength = length;
}

// ---------------------------------------------------------------------------
// The command step
// ---------------------------------------------------------------------------

bool C_AxisDrive::C_Programm::Step(std::uint32_t now)
{
    if (m_nextLine >= m_lines.size() && m_pendingRead >= m_pending.size()) return false;
    if (m_finishTime >= now) return false;
    m_startTime = m_finishTime = now;

    std::wstring command;
    if (m_pendingRead < m_pending.size()) {
        command = std::move(m_pending[m_pendingRead++]);
        if (m_pendingRead == m_pending.size()) {
            m_pending.clear();
            m_pendingRead = 0;
        }
    } else {
        command = m_lines[m_nextLine++];
    }

    ParseWord(command, L'F', m_feed);
    // A feed of nothing, or one running backwards, is no feed at all.
    if (!(m_feed > 0.0f)) m_feed = 1000.0f;
    if (Contains(command, L"G00")) m_feed = 10000.0f;

    if (!Contains(command, L"G52")) {
        ParseWord(command, L'X', m_target[0]);
        ParseWord(command, L'Y', m_target[1]);
        ParseWord(command, L'Z', m_target[2]);
        if (Contains(command, L"G02") || Contains(command, L"G03")) {
            Arc(command);
            ParseWord(command, L'X', m_target[0]);
            ParseWord(command, L'Y', m_target[1]);
            ParseWord(command, L'Z', m_target[2]);
        }
        ParseWord(command, L'A', m_target[3]);
        ParseWord(command, L'B', m_target[4]);
        ParseWord(command, L'C', m_target[5]);

        // Distances in double: float squares of large coordinates overflow.
        const double d = Length3(double(m_target[0]) - m_previous[0], double(m_target[1]) - m_previous[1],
                                 double(m_target[2]) - m_previous[2]);
        const double a = Length3(double(m_target[3]) - m_previous[3], double(m_target[4]) - m_previous[4],
                                 double(m_target[5]) - m_previous[5]);
        double duration = IdleDuration;
        if (d > MovedDistance) duration = d * 60000.0 / m_feed;
        else if (a > MovedDistance) duration = a * 60000.0 * 180.0 / (double(m_feed) * double(Pi));
        // A thousandth of a millisecond absorbs float rounding (90 degrees at
        // 3600 degrees a minute is 1500 ms, not 1499).
        duration = std::trunc(duration + 1e-3);
        if (!(duration < double(MaxDuration))) duration = MaxDuration;
        m_finishTime = m_startTime + static_cast<std::uint32_t>(duration);

        Compensation(command);
        if (d > MovedDistance || a > MovedDistance) std::copy(m_target, m_target + 6, m_previous);
    }

    // Index loop: nothing here changes the list, but it must stay valid if
    // an axis leaves it.
    for (std::size_t i = 0; i < size(); ++i) (*this)[i]->ApplyCommand(command);
    return true;
}

void C_AxisDrive::C_Programm::Arc(std::wstring& command)
{
    // G02 is tested first.
    const double step = Contains(command, L"G02") ? -ArcStep : ArcStep;
    m_pending.clear();
    m_pendingRead = 0;

    float i = 0.0f, j = 0.0f, k = 0.0f;
    ParseWord(command, L'I', i);
    ParseWord(command, L'J', j);
    ParseWord(command, L'K', k);
    const double cx = double(m_previous[0]) + i;
    const double cy = double(m_previous[1]) + j;
    const double cz = double(m_previous[2]) + k;
    const double ex = m_target[0] - cx, ey = m_target[1] - cy, ez = m_target[2] - cz;
    const double radius = Length3(ex, ey, ez);
    const double startRadius = std::hypot(m_previous[0] - cx, m_previous[1] - cy);

    if (!(radius > DegenerateRadius) || !(startRadius > DegenerateRadius) || !std::isfinite(radius)) {
        // A centre on the start or the end point: no circle, one move.
        m_pending.push_back(FormatPoint(m_target[0], m_target[1], m_target[2]));
    } else {
        const double start = std::atan2(m_previous[1] - cy, m_previous[0] - cx);
        double end = std::atan2(ey, ex);
        if (step > 0) {
            end += TwoPi;
            while (std::fabs(end - start) > FullTurnLimit) end -= TwoPi;
        } else {
            end -= TwoPi;
            while (std::fabs(end - start) > FullTurnLimit) end += TwoPi;
        }
        for (std::size_t n = 1; n <= MaxArcSegments; ++n) {
            double angle = start + double(n) * step;
            const bool last = step > 0 ? angle >= end - ArcEndTolerance : angle <= end + ArcEndTolerance;
            if (last || n == MaxArcSegments) angle = end;
            m_pending.push_back(FormatPoint(cx + radius * std::cos(angle), cy + radius * std::sin(angle), cz));
            if (last) break;
        }
    }
    command = std::move(m_pending.front());
    m_pendingRead = 1;
    if (m_pending.size() == 1) {
        m_pending.clear();
        m_pendingRead = 0;
    }
}

void C_AxisDrive::C_Programm::Compensation(std::wstring& command)
{
    if (Contains(command, L"G40") || Contains(command, L"G00")) {
        m_compensation = 0;
        return;
    }
    const float tool = ToolDiameter();
    const double diameter = tool > 0.1f ? tool : 1.0;
    double dir[3] = {double(m_target[0]) - m_previous[0], double(m_target[1]) - m_previous[1],
                     double(m_target[2]) - m_previous[2]};
    const double length = Length3(dir[0], dir[1], dir[2]);
    for (double& c : dir) c = length > 0.0 && std::isfinite(length) ? c / length : 0.0;

    double offset[3];
    if (Contains(command, L"G41") || Contains(command, L"G42")) {
        m_compensation = Contains(command, L"G41") ? 1 : 2;
        for (int n = 0; n < 3; ++n) offset[n] = -dir[n];
    } else if (m_compensation == 0) {
        return;
    } else {
        // dir rotated about Z by +90 degrees (left) or -90 degrees (right).
        const double side = m_compensation == 1 ? 1.0 : -1.0;
        offset[0] = dir[0] - side * dir[1];
        offset[1] = dir[1] + side * dir[0];
        offset[2] = dir[2] + dir[2];
    }
    command = FormatPoint(m_target[0] + offset[0] * diameter / 2, m_target[1] + offset[1] * diameter / 2,
                          m_target[2] + offset[2] * diameter / 2);
}

// ---------------------------------------------------------------------------
// Pause
// ---------------------------------------------------------------------------

void C_AxisDrive::C_Programm::SetPause(bool pause, std::uint32_t now)
{
    if (pause == m_paused) return;
    m_paused = pause;
    if (pause) {
        m_pauseStart = now;
    } else {
        const std::uint32_t paused = now - m_pauseStart;
        m_startTime += paused;
        m_finishTime += paused;
    }
}

void C_AxisDrive::C_Programm::PauseKey(bool keyDown, std::uint32_t now)
{
    if (m_keySeen && m_keyFrame == now) return;
    m_keySeen = true;
    m_keyFrame = now;
    if (keyDown && !m_keyDown) SetPause(!m_paused, now);
    m_keyDown = keyDown;
}

// ---------------------------------------------------------------------------
// Axes
// ---------------------------------------------------------------------------

namespace {
// Axes owned by singletons may be destroyed after the program at exit.
bool g_programmAlive = false;
}  // namespace

C_AxisDrive::C_Programm::~C_Programm()
{
    g_programmAlive = false;
}

C_AxisDrive::~C_AxisDrive()
{
    if (g_programmAlive) Programm().Unregister(this);
}

C_AxisDrive::C_Programm& C_AxisDrive::Programm()
{
    static C_Programm programm;
    g_programmAlive = true;
    return programm;
}

bool C_AxisDrive::IsAxisLetter(wchar_t letter)
{
    switch (letter) {
    case L'X': case L'Y': case L'Z': case L'A': case L'B': case L'C': return true;
    default: return false;
    }
}

void C_AxisDrive::ApplyCommand(std::wstring_view command)
{
    StartValue = TargetValue;
    if (!IsAxisLetter(AxisLetter)) return;
    if (!Contains(command, L"G5")) {
        C_Programm::ParseWord(command, AxisLetter, TargetValue);
        if (Minimum > WorkOffset + TargetValue) TargetValue = Minimum - WorkOffset;
        if (Maximum < WorkOffset + TargetValue) TargetValue = Maximum - WorkOffset;
    } else {
        StartValue += WorkOffset;
        TargetValue += WorkOffset;
        if (Contains(command, L"G54")) WorkOffset = TargetValue;
        else if (Contains(command, L"G52")) C_Programm::ParseWord(command, AxisLetter, WorkOffset);
        StartValue -= WorkOffset;
        TargetValue -= WorkOffset;
    }
}

void C_AxisDrive::LoadAxis(const std::wstring& scriptAttribute, const std::wstring& axisField,
                           float loadedValue, const std::wstring& limitsName)
{
    if (!scriptAttribute.empty()) ValueVariable = ParameterString::GetField(scriptAttribute, 2);
    AxisLetter = axisField.empty() ? 0 : axisField[0];
    if (IsAxisLetter(AxisLetter)) AxisValue = loadedValue;
    WorkOffset = 0.0f;
    if (!limitsName.empty()) {
        const std::wstring limits = C_ResManager::Instance().GetText(limitsName);
        // A limit the text does not give keeps its default rather than
        // becoming 0 (which would pin the axis to one side of zero).
        const std::wstring minimum = ParameterString::GetField(limits, 0);
        const std::wstring maximum = ParameterString::GetField(limits, 1);
        if (!minimum.empty()) Minimum = ParameterString::ReadFloat(minimum);
        if (!maximum.empty()) Maximum = ParameterString::ReadFloat(maximum);
    }
    Programm().Register(this);
}

void C_AxisDrive::PollPauseKey()
{
    // DirectInput scan code of P.
    constexpr int KeyP = 0x19;
    const C_BaseObject::C_CommonData& frame = C_BaseObject::CommonData();
    Programm().PauseKey(frame.Input.KeyDown(KeyP), frame.Time);
}

void C_AxisDrive::UnloadAxis()
{
    Programm().Unregister(this);
}

bool C_AxisDrive::UpdateAxis(std::uint32_t now, float& machineValue)
{
    if (ValueVariable.empty()) return false;
    if (Programm().Step(now)) AxisValue = StartValue;
    else {
        // A script that computes nothing sensible (NaN, infinity) leaves the
        // axis where it was rather than sending the object off the scene.
        const double value = C_LuaScriptBase::GetGlobalNumber(std::wstring_view(ValueVariable));
        if (std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max())
            AxisValue = static_cast<float>(value);
    }
    if (!IsAxisLetter(AxisLetter)) return false;
    machineValue = WorkOffset + AxisValue;
    return true;
}

// ---------------------------------------------------------------------------
// Script operations
// ---------------------------------------------------------------------------

C_AxisDrive* C_AxisDrive::FromID(double id)
{
    return dynamic_cast<C_AxisDrive*>(C_BaseObject::FromID(id));
}

namespace {

std::uint32_t Now()
{
    return C_BaseObject::CommonData().Time;
}

}  // namespace

double C_AxisDrive::LoadProgramm(const std::string& file)
{
    Programm().LoadProgramm(VORTALEX::codepage::DecodeText(file));
    return 0.0;
}

double C_AxisDrive::GetStartPoint(long id)
{
    const C_AxisDrive* axis = FromID(static_cast<double>(id));
    return axis ? axis->StartValue : 0.0;
}

double C_AxisDrive::GetFinishPoint(long id)
{
    const C_AxisDrive* axis = FromID(static_cast<double>(id));
    return axis ? axis->TargetValue : 0.0;
}

double C_AxisDrive::GetStartTime()
{
    return Programm().GetStartTime();
}

double C_AxisDrive::GetFinishTime()
{
    return Programm().GetFinishTime();
}

double C_AxisDrive::GetNumCommand()
{
    return static_cast<double>(Programm().GetNumCommand());
}

std::string C_AxisDrive::GetStringCommand(double index)
{
    const auto& lines = Programm().GetLines();
    if (!std::isfinite(index)) return std::string();
    const double n = std::trunc(index);
    if (n < 0 || n >= static_cast<double>(lines.size())) return std::string();
    return VORTALEX::codepage::ToUtf8(lines[static_cast<std::size_t>(n)]);
}

double C_AxisDrive::SetPause(double flag)
{
    Programm().SetPause(flag != 0.0, Now());
    return 0.0;
}

double C_AxisDrive::GetLocalPositionFromAxis(long id, const std::string& axis)
{
    C_AxisDrive* drive = FromID(static_cast<double>(id));
    if (!drive || axis.size() != 1 || !IsAxisLetter(static_cast<wchar_t>(axis[0]))) return 0.0;
    const double position = drive->GetAxisPosition(static_cast<wchar_t>(axis[0]));
    const double offset = IsRotary(static_cast<wchar_t>(axis[0]))
                              ? double(drive->WorkOffset) * 180.0 / double(Pi)
                              : double(drive->WorkOffset);
    return position - offset;
}
