// The motion program: timing of commands, word parsing, arcs, compensation,
// work offsets, limits, pause, and what bad program files do.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Common/ScratchFolder.h"
#include "Logger/Logger.h"
#include "Render/Position/AxisMoveObject.h"

namespace {

using Programm = C_AxisDrive::C_Programm;

// The axis part alone; its object has no position.
struct Axis : C_AxisDrive {
    double GetAxisPosition(wchar_t) override { return 0.0; }
};

constexpr float DegToRad = 3.1415927f / 180.0f;

class AxisProgramm : public ::testing::Test {
protected:
    void SetUp() override
    {
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::SetOption(logger::OptionRepetitions, L"1");
        logger::Logger::Activate(logger::Mock);
        P().clear();
        // The program is process-wide: every coordinate back at 0, the way
        // loading does it, through six axes standing at 0.
        Axis zero[6];
        for (int i = 0; i < 6; ++i) {
            zero[i].AxisLetter = L"XYZABC"[i];
            P().Register(&zero[i]);
        }
        P().Reset();
        P().clear();
        P().SetPause(false, 0);
        P().SetToolSize(0.0f, 0.0f);
        for (auto* axis : {&x, &y, &z, &a}) axis->ValueVariable = L"v";
        x.AxisLetter = L'X';
        y.AxisLetter = L'Y';
        z.AxisLetter = L'Z';
        a.AxisLetter = L'A';
        for (auto* axis : {&x, &y, &z, &a}) P().Register(axis);
    }
    void TearDown() override
    {
        logger::Logger::Activate(logger::AllReports);
        P().clear();
        P().Reset();
    }

    static Programm& P() { return C_AxisDrive::Programm(); }

    // Loads a program made of these bytes.
    bool Load(const std::string& text)
    {
        const auto file = dir / "program.nc";
        ScratchFolder::Write(file, text);
        return P().LoadProgramm(file.wstring());
    }

    // Starts the next command at the first moment the program allows.
    bool Next()
    {
        const std::uint32_t now = std::max<std::uint32_t>(P().GetFinishTime() + 1, 1000);
        return P().Step(now);
    }
    std::uint32_t Duration() const { return P().GetFinishTime() - P().GetStartTime(); }
    static std::wstring Log() { return logger::Logger::Instance().MockText(); }

    ScratchFolder dir;
    Axis x, y, z, a;
};

}  // namespace

TEST_F(AxisProgramm, LinearMoveTakesItsLengthOverTheFeed)
{
    ASSERT_TRUE(Load("G01 X10 F600\n"));
    EXPECT_EQ(P().GetNumCommand(), -1);
    ASSERT_TRUE(P().Step(5000));
    EXPECT_EQ(P().GetNumCommand(), 0);
    EXPECT_EQ(P().GetStartTime(), 5000u);
    EXPECT_EQ(P().GetFinishTime(), 6000u);
    EXPECT_EQ(x.StartValue, 0.0f);
    EXPECT_EQ(x.TargetValue, 10.0f);
    EXPECT_EQ(y.TargetValue, 0.0f) << "an axis the line does not name stays";
    // Nothing starts until the finish time has passed; then the program ends.
    EXPECT_FALSE(P().Step(6000));
    EXPECT_FALSE(P().Step(6001));
    EXPECT_EQ(P().GetNumCommand(), 0);
}

TEST_F(AxisProgramm, DurationsFollowFeeds)
{
    ASSERT_TRUE(Load("G00 X10\nG01 X20\nG01 X30 F6000\nG01 X40 F0\nG01 X50 F-600\n"
                     "G01 A90 F3600\nM03\n"));
    struct Expect {
        std::uint32_t duration;
        float feed;
    };
    const Expect expected[] = {
        {60, 10000},    // rapid
        {60, 10000},    // the rapid feed is modal
        {100, 6000},
        {600, 1000},    // F0: the default feed
        {600, 1000},    // a negative feed too
        {1500, 3600},   // 90 degrees at 3600 degrees a minute
        {10, 3600},     // nothing moves
    };
    for (const Expect& e : expected) {
        ASSERT_TRUE(Next());
        EXPECT_EQ(Duration(), e.duration) << P().GetLines()[P().GetNumCommand()];
        EXPECT_EQ(P().GetFeed(), e.feed) << P().GetLines()[P().GetNumCommand()];
    }
    EXPECT_FLOAT_EQ(a.TargetValue, 90 * DegToRad);
    EXPECT_EQ(P().GetPrevious()[0], 50.0f) << "M03 leaves the previous point";
    EXPECT_EQ(x.StartValue, 50.0f);
    EXPECT_EQ(x.TargetValue, 50.0f);
}

TEST_F(AxisProgramm, WordParsing)
{
    float v = 7;
    EXPECT_TRUE(Programm::ParseWord(L"G01 X 10", L'X', v));
    EXPECT_EQ(v, 0.0f) << "a space ends the number before it starts";
    v = 7;
    EXPECT_FALSE(Programm::ParseWord(L"G01 X10;", L'X', v));
    EXPECT_EQ(v, 7.0f) << "a number run into ';' is not taken";
    EXPECT_FALSE(Programm::ParseWord(L"G01 Y10", L'X', v));
    EXPECT_FALSE(Programm::ParseWord(L"G01 x10", L'X', v)) << "lower case is not a word";
    EXPECT_TRUE(Programm::ParseWord(L"X-2.5Y3", L'X', v));
    EXPECT_EQ(v, -2.5f);
    EXPECT_TRUE(Programm::ParseWord(L"X-", L'X', v));
    EXPECT_EQ(v, 0.0f);
    EXPECT_TRUE(Programm::ParseWord(L"X1.5.7", L'X', v));
    EXPECT_EQ(v, 1.5f);
    EXPECT_TRUE(Programm::ParseWord(L"X12e5", L'X', v));
    EXPECT_EQ(v, 12.0f) << "'e' ends the run";
    EXPECT_TRUE(Programm::ParseWord(L"X1 X2", L'X', v));
    EXPECT_EQ(v, 1.0f) << "the first occurrence counts";
    EXPECT_TRUE(Programm::ParseWord(L"B180", L'B', v));
    EXPECT_FLOAT_EQ(v, 3.1415927f);
    // A number beyond a float is not a coordinate: the value stays.
    v = 3;
    EXPECT_FALSE(Programm::ParseWord(L"X" + std::wstring(400, L'9'), L'X', v));
    EXPECT_EQ(v, 3.0f);
    EXPECT_FALSE(Programm::ParseWord(L"X-" + std::wstring(5000, L'9') + L" Y1", L'X', v));
    EXPECT_EQ(v, 3.0f);
}

TEST_F(AxisProgramm, SpaceAndSemicolonInProgram)
{
    ASSERT_TRUE(Load("G01 X5\nG01 X 10\nG01 X10;\n"));
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.TargetValue, 5.0f);
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.TargetValue, 0.0f);
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.StartValue, 0.0f);
    EXPECT_EQ(x.TargetValue, 0.0f) << "X10; leaves X unchanged";
    EXPECT_EQ(Duration(), 10u);
}

TEST_F(AxisProgramm, FullCounterClockwiseCircleInTwoDegreeSegments)
{
    ASSERT_TRUE(Load("G03 X0 Y0 I5 J0 F600\nM05\n"));
    int segments = 0;
    double angleSum = 0;
    float lastX = 0, lastY = 0;
    while (Next() && P().GetNumCommand() == 0) {
        ++segments;
        const float px = x.TargetValue, py = y.TargetValue;
        EXPECT_NEAR(std::hypot(px - 5.0, py), 5.0, 0.002) << "on the circle about (5, 0)";
        // Counter-clockwise about the centre: the cross product is positive.
        const double cross = (lastX - 5.0) * py - lastY * (px - 5.0);
        EXPECT_GT(cross, 0) << segments;
        angleSum += std::atan2(cross, (lastX - 5.0) * (px - 5.0) + lastY * py);
        EXPECT_EQ(x.StartValue, lastX);
        // Each 2-degree chord of radius 5 at feed 600: 0.1745 * 100 ms.
        EXPECT_NEAR(Duration(), 17.45, 1.0);
        lastX = px;
        lastY = py;
    }
    EXPECT_EQ(segments, 180);
    EXPECT_NEAR(angleSum, 2 * 3.14159265, 1e-3);
    EXPECT_EQ(lastX, 0.0f);
    EXPECT_EQ(lastY, 0.0f);
    EXPECT_EQ(P().GetNumCommand(), 1) << "the segments belong to their line";
}

TEST_F(AxisProgramm, ClockwiseQuarterArc)
{
    // From (0, 0) about (5, 0) clockwise to (5, 5): a quarter turn upwards.
    ASSERT_TRUE(Load("G02 X5 Y5 I5\n"));
    int segments = 0;
    while (Next()) {
        ++segments;
        EXPECT_GE(y.TargetValue, 0.0f);
        EXPECT_LE(x.TargetValue, 5.0f);
    }
    EXPECT_EQ(segments, 45);
    EXPECT_EQ(x.TargetValue, 5.0f);
    EXPECT_EQ(y.TargetValue, 5.0f);
}

TEST_F(AxisProgramm, DegenerateArcsAreOneMove)
{
    // Centre on the start point, centre on the target, and a zero-length arc.
    ASSERT_TRUE(Load("G02 X3 Y4 I0 J0 F600\nG03 X13 Y4 I10\nG03 X13 Y4\n"));
    ASSERT_TRUE(Next());
    EXPECT_EQ(P().GetPendingSegments(), 0u);
    EXPECT_EQ(x.TargetValue, 3.0f);
    EXPECT_EQ(y.TargetValue, 4.0f);
    EXPECT_EQ(Duration(), 500u);
    ASSERT_TRUE(Next());
    EXPECT_EQ(P().GetPendingSegments(), 0u);
    EXPECT_EQ(x.TargetValue, 13.0f);
    ASSERT_TRUE(Next());
    EXPECT_EQ(P().GetPendingSegments(), 0u);
    EXPECT_EQ(Duration(), 10u);
    EXPECT_FALSE(Next());
}

TEST_F(AxisProgramm, HugeArcIsCutIntoBoundedSegments)
{
    const std::string big(30, '9');
    ASSERT_TRUE(Load("G03 X0 Y0 I" + big + " J" + big + "\n"));
    ASSERT_TRUE(Next());
    EXPECT_LE(P().GetPendingSegments() + 1, Programm::MaxArcSegments);
    int steps = 1;
    while (Next()) ++steps;
    EXPECT_LE(steps, static_cast<int>(Programm::MaxArcSegments));
    EXPECT_LE(Duration(), Programm::MaxDuration);
}

TEST_F(AxisProgramm, LimitsKeepTargetsInsideInMachineCoordinates)
{
    x.Minimum = -5;
    x.Maximum = 5;
    ASSERT_TRUE(Load("G01 X10\nG01 X-10\nG52 X2\nG01 X10\nG01 X-10\n"));
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.TargetValue, 5.0f);
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.TargetValue, -5.0f);
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.WorkOffset, 2.0f);
    EXPECT_EQ(x.TargetValue, -7.0f) << "the same machine position in the new work coordinates";
    EXPECT_EQ(Duration(), 0u) << "G52 takes no time";
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.TargetValue, 3.0f) << "5 - offset";
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.TargetValue, -7.0f) << "-5 - offset";
}

TEST_F(AxisProgramm, G54MakesTheCurrentPositionWorkZero)
{
    ASSERT_TRUE(Load("G01 X10 Y4 F600\nG54\nG01 X1\n"));
    ASSERT_TRUE(Next());
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.WorkOffset, 10.0f);
    EXPECT_EQ(y.WorkOffset, 4.0f);
    EXPECT_EQ(x.StartValue, 0.0f);
    EXPECT_EQ(x.TargetValue, 0.0f);
    EXPECT_EQ(y.TargetValue, 0.0f);
    EXPECT_EQ(z.WorkOffset, 0.0f);
    ASSERT_TRUE(Next());
    EXPECT_EQ(x.TargetValue, 1.0f) << "work coordinates: machine 11";
    // Loading again returns every axis to machine coordinates.
    x.AxisValue = 0.5f;
    ASSERT_TRUE(Load("G01 X1\n"));
    EXPECT_EQ(x.WorkOffset, 0.0f);
    EXPECT_EQ(x.StartValue, 10.5f);
    EXPECT_EQ(x.TargetValue, 10.5f);
}

TEST_F(AxisProgramm, CutterCompensation)
{
    P().SetToolSize(2.0f, 10.0f);
    ASSERT_TRUE(Load("G00 X0 Y0\nG01 G41 X10 Y0 F600\nG01 X10 Y10\nG40 G01 X10 Y20\n"));
    ASSERT_TRUE(Next());
    ASSERT_TRUE(Next());
    EXPECT_EQ(P().GetCompensationMode(), 1);
    EXPECT_FLOAT_EQ(x.TargetValue, 9.0f) << "entering: target - direction * radius";
    EXPECT_FLOAT_EQ(y.TargetValue, 0.0f);
    EXPECT_EQ(P().GetPrevious()[0], 10.0f) << "the program keeps the uncompensated point";
    ASSERT_TRUE(Next());
    // Direction (0, 1); plus its left normal (-1, 0); times the radius 1.
    EXPECT_FLOAT_EQ(x.TargetValue, 9.0f);
    EXPECT_FLOAT_EQ(y.TargetValue, 11.0f);
    ASSERT_TRUE(Next());
    EXPECT_EQ(P().GetCompensationMode(), 0);
    EXPECT_FLOAT_EQ(x.TargetValue, 10.0f);
    EXPECT_FLOAT_EQ(y.TargetValue, 20.0f);
}

TEST_F(AxisProgramm, RightCompensationUsesDefaultDiameter)
{
    ASSERT_TRUE(Load("G01 G42 X10\nG01 X10 Y10\n"));
    ASSERT_TRUE(Next());
    EXPECT_FLOAT_EQ(x.TargetValue, 9.5f) << "no tool size: diameter 1";
    ASSERT_TRUE(Next());
    EXPECT_FLOAT_EQ(x.TargetValue, 10.5f);
    EXPECT_FLOAT_EQ(y.TargetValue, 10.5f);
}

TEST_F(AxisProgramm, PauseShiftsBothTimes)
{
    ASSERT_TRUE(Load("G01 X10 F600\n"));
    ASSERT_TRUE(P().Step(1000));
    P().SetPause(true, 1200);
    EXPECT_TRUE(P().IsPaused());
    P().SetPause(true, 2000);  // already paused: the pause still began at 1200
    P().SetPause(false, 3200);
    EXPECT_EQ(P().GetStartTime(), 3000u);
    EXPECT_EQ(P().GetFinishTime(), 4000u);
    P().SetPause(false, 9000);  // not paused: nothing moves
    EXPECT_EQ(P().GetFinishTime(), 4000u);
    // The pause survives loading.
    P().SetPause(true, 9000);
    ASSERT_TRUE(Load("G01 X1\n"));
    EXPECT_TRUE(P().IsPaused());
}

TEST_F(AxisProgramm, ProgramFileReading)
{
    // BOM, CRLF, comments, blank lines and Cyrillic in UTF-8.
    ASSERT_TRUE(Load("\xEF\xBB\xBF; comment\r\nG01 X1 (резец)\r\n\r\n;x\nG00 Y2\n  \nM30"));
    ASSERT_EQ(P().GetLines().size(), 4u);
    EXPECT_EQ(P().GetLines()[0], L"G01 X1 (резец)");
    EXPECT_EQ(P().GetLines()[1], L"G00 Y2");
    EXPECT_EQ(P().GetLines()[2], L"  ") << "only empty lines are skipped";
    EXPECT_EQ(P().GetLines()[3], L"M30");
    // The same text in Windows-1251.
    ASSERT_TRUE(Load("G01 X1 (\xF0\xE5\xE7\xE5\xF6)\n"));
    ASSERT_EQ(P().GetLines().size(), 1u);
    EXPECT_EQ(P().GetLines()[0], L"G01 X1 (резец)");
}

TEST_F(AxisProgramm, MissingFileLeavesAnEmptyProgram)
{
    ASSERT_TRUE(Load("G01 X1\n"));
    EXPECT_FALSE(P().LoadProgramm((dir / "absent.nc").wstring()));
    EXPECT_NE(Log().find(L"Не открыт файл: "), std::wstring::npos);
    EXPECT_NE(Log().find(L"absent.nc"), std::wstring::npos);
    EXPECT_TRUE(P().GetLines().empty());
    EXPECT_FALSE(Next());
    EXPECT_FALSE(P().LoadProgramm(dir.path().wstring())) << "a folder is not a program";
}

TEST_F(AxisProgramm, JunkAndHugeInputRunsToTheEnd)
{
    std::mt19937 random(7);
    std::string junk;
    for (int i = 0; i < 200000; ++i) junk.push_back(static_cast<char>(random()));
    junk += "\nG01 X" + std::string(3 << 20, '1') + "\nG01 F-600 X-\nG02 I0 J0 K0\nG01 Y1e308\n";
    for (int i = 0; i < 3000; ++i) junk += "G01 X" + std::to_string(i % 17) + " F" + std::to_string(i) + "\n";
    ASSERT_TRUE(Load(junk));
    std::size_t steps = 0;
    while (Next()) {
        ++steps;
        ASSERT_TRUE(std::isfinite(x.TargetValue) && std::isfinite(y.TargetValue));
        ASSERT_LE(Duration(), Programm::MaxDuration);
        ASSERT_LT(steps, 200000u);
    }
    EXPECT_GE(steps, 3000u);
    EXPECT_EQ(P().GetNumCommand() + 1, static_cast<long>(P().GetLines().size()));
    EXPECT_EQ(y.TargetValue, 1.0f) << "1e308 reads as 1: 'e' ends the number";
}

TEST_F(AxisProgramm, DemoProgramCutsInsideTheStock)
{
    // The demo machine: the stock spans 40 x 30 from the work zero that G54
    // sets; while the tool is below the top face it must stay over it.
    P().SetToolSize(2.0f, 6.0f);
    ASSERT_TRUE(P().LoadProgramm(std::filesystem::path(TW_SOURCE_DIR "/demo/programs/mill.nc").wstring()));
    int cutting = 0;
    int commands = 0;
    while (Next()) {
        ++commands;
        if (x.WorkOffset != 0 && z.TargetValue < 0) {
            ++cutting;
            EXPECT_GE(x.TargetValue, 1.0f) << P().GetLines()[P().GetNumCommand()];
            EXPECT_LE(x.TargetValue, 39.0f);
            EXPECT_GE(y.TargetValue, 1.0f);
            EXPECT_LE(y.TargetValue, 29.0f);
        }
    }
    EXPECT_GT(cutting, 2 * 180) << "two full circles and the pocket";
    EXPECT_EQ(P().GetNumCommand() + 1, static_cast<long>(P().GetLines().size()));
    EXPECT_EQ(x.WorkOffset, 0.0f) << "G52 ends in machine coordinates";
    EXPECT_EQ(z.TargetValue, 12.0f);
}
