// Axis objects as scripts see them: the program's script operations with
// object IDs, the axis part of Load and of the per-frame update.

#include <gtest/gtest.h>

#include <lua.hpp>

#include <cmath>
#include <string>

#include "BaseClasses/BaseObject.h"
#include "BaseClasses/BaseResource.h"
#include "Common/ScratchFolder.h"
#include "Logger/Logger.h"
#include "Render/Position/AxisMoveObject.h"
#include "Script/LuaScriptBase.h"
#include "Script/LuaEval.h"

namespace {

// An object with a position and the axis part, as axis-move objects are.
class AxisObject : public C_BaseResource, public C_AxisDrive {
public:
    double GetAxisPosition(wchar_t letter) override
    {
        switch (letter) {
        case L'X': return position[0];
        case L'Y': return position[1];
        case L'Z': return position[2];
        case L'A': return angles[0];
        case L'B': return angles[1];
        case L'C': return angles[2];
        default: return 0.0;
        }
    }
    double position[3] = {0, 0, 0};
    double angles[3] = {0, 0, 0};  // degrees
};

class AxisScript : public ::testing::Test {
protected:
    void SetUp() override
    {
        logger::Logger::Activate(logger::AllReports);
        C_AxisDrive::Programm().clear();
        C_AxisDrive::Programm().SetPause(false, 0);
        C_AxisDrive::Programm().SetToolSize(0, 0);
        L = C_LuaScriptBase::GetState();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override
    {
        C_AxisDrive::Programm().clear();
        C_AxisDrive::Programm().Reset();
        C_BaseObject::CommonData().Time = 0;
    }

    std::string Eval(const std::string& code) { return tw_test::LuaEval(L, code); }
    static std::string Id(const C_BaseObject* object) { return tw_test::LuaId(object); }
    // Writes a program and loads it from a script.
    void LoadFromScript(const std::string& text)
    {
        ScratchFolder::Write(dir / "p.nc", text);
        EXPECT_EQ(Eval("r = LoadProgramm('" + (dir / "p.nc").string() + "')"), "0");
    }

    ScratchFolder dir;
    lua_State* L = nullptr;
};

}  // namespace

TEST_F(AxisScript, ProgramStateThroughScripts)
{
    AxisObject x;
    x.LoadAxis(L"axis.lua; Frame; x_value", L"X", 0.0f, L"");
    LoadFromScript("G01 X10 F600\nG01 X20\n");
    EXPECT_EQ(Eval("r = GetNumCommand()"), "-1");
    C_BaseObject::CommonData().Time = 1000;
    float machine = 0;
    ASSERT_TRUE(x.UpdateAxis(1000, machine));
    EXPECT_EQ(Eval("r = GetNumCommand()"), "0");
    EXPECT_EQ(Eval("r = GetStartTime() .. ',' .. GetFinishTime()"), "1000,2000");
    EXPECT_EQ(Eval("r = GetStartPoint(" + Id(&x) + ") .. ',' .. GetFinishPoint(" + Id(&x) + ")"), "0,10");
    EXPECT_EQ(Eval("r = GetStringCommand(GetNumCommand())"), "G01 X10 F600");
    EXPECT_EQ(Eval("r = GetStringCommand(1.9)"), "G01 X20");
    EXPECT_EQ(Eval("r = GetStringCommand(2)"), "") << "past the end";
    EXPECT_EQ(Eval("r = GetStringCommand(-1)"), "");
    EXPECT_EQ(Eval("r = GetStringCommand(0/0)"), "");
    EXPECT_EQ(Eval("r = GetStringCommand()"), "G01 X10 F600") << "a missing number is 0";
}

TEST_F(AxisScript, IdsThatAreNotAxesGiveZero)
{
    AxisObject x;
    x.LoadAxis(L"", L"X", 0.0f, L"");
    x.StartValue = 3;
    x.TargetValue = 4;
    C_BaseResource plain;
    EXPECT_EQ(Eval("r = GetStartPoint(" + Id(&x) + ")"), "3");
    EXPECT_EQ(Eval("r = GetStartPoint(" + Id(&x) + " + 0.7)"), "3") << "IDs truncate toward zero";
    EXPECT_EQ(Eval("r = GetFinishPoint(" + Id(&plain) + ")"), "0");
    EXPECT_EQ(Eval("r = GetFinishPoint(0)"), "0");
    EXPECT_EQ(Eval("r = GetFinishPoint(12345)"), "0");
    EXPECT_EQ(Eval("r = GetFinishPoint('x')"), "0");
    EXPECT_EQ(Eval("r = GetLocalPositionFromAxis(" + Id(&plain) + ", 'X')"), "0");
    std::string stale;
    {
        AxisObject gone;
        gone.LoadAxis(L"", L"Y", 0.0f, L"");
        gone.TargetValue = 9;
        stale = Id(&gone);
        EXPECT_EQ(Eval("r = GetFinishPoint(" + stale + ")"), "9");
    }
    EXPECT_EQ(Eval("r = GetFinishPoint(" + stale + ")"), "0") << "a destroyed axis";
    EXPECT_EQ(C_AxisDrive::Programm().size(), 1u) << "and it left the program";
}

TEST_F(AxisScript, LocalPositionSubtractsTheWorkOffset)
{
    AxisObject x, a;
    x.LoadAxis(L"", L"X", 0.0f, L"");
    a.LoadAxis(L"", L"A", 0.0f, L"");
    x.position[0] = 12;
    x.position[1] = 7;
    x.WorkOffset = 2;
    a.angles[0] = 90;
    a.WorkOffset = 3.1415927f / 4;  // radians inside, degrees at the script
    EXPECT_EQ(Eval("r = GetLocalPositionFromAxis(" + Id(&x) + ", 'X')"), "10");
    EXPECT_EQ(Eval("r = GetLocalPositionFromAxis(" + Id(&x) + ", 'Y')"), "5");
    EXPECT_NEAR(std::stod(Eval("r = GetLocalPositionFromAxis(" + Id(&a) + ", 'A')")), 45.0, 1e-4);
    EXPECT_EQ(Eval("r = GetLocalPositionFromAxis(" + Id(&x) + ", 'Q')"), "0");
    EXPECT_EQ(Eval("r = GetLocalPositionFromAxis(" + Id(&x) + ", 'x')"), "0");
    EXPECT_EQ(Eval("r = GetLocalPositionFromAxis(" + Id(&x) + ", 'XY')"), "0");
    EXPECT_EQ(Eval("r = GetLocalPositionFromAxis(0, 'X')"), "0");
}

TEST_F(AxisScript, UpdateTakesTheStartThenTheScriptValue)
{
    AxisObject x;
    x.LoadAxis(L"axis.lua; Frame; axis_x", L"X", 0.0f, L"");
    ASSERT_EQ(x.ValueVariable, L"axis_x");
    LoadFromScript("G52 X100\nG01 X10 F600\n");
    float machine = -1;
    // The G52 command starts: the axis value is the start value.
    ASSERT_TRUE(x.UpdateAxis(1000, machine));
    EXPECT_EQ(x.WorkOffset, 100.0f);
    EXPECT_EQ(machine, 100.0f + x.StartValue);
    // Within a command the script's global gives the value.
    ASSERT_TRUE(x.UpdateAxis(1000, machine));
    Eval("axis_x = 2.5");
    ASSERT_TRUE(x.UpdateAxis(1001, machine));  // G01 starts: start value -100
    EXPECT_EQ(machine, 0.0f);
    ASSERT_TRUE(x.UpdateAxis(1002, machine));
    EXPECT_EQ(machine, 102.5f);
    Eval("axis_x = 0/0");
    ASSERT_TRUE(x.UpdateAxis(1003, machine));
    EXPECT_EQ(machine, 102.5f) << "not a number: the axis stays";
    Eval("axis_x = 'a string'");
    ASSERT_TRUE(x.UpdateAxis(1004, machine));
    EXPECT_EQ(machine, 100.0f) << "not a number reads 0";

    // Without a value variable or an axis letter nothing is set.
    AxisObject silent, noAxis;
    silent.LoadAxis(L"", L"Y", 0.0f, L"");
    noAxis.LoadAxis(L";;axis_x", L"Q", 0.0f, L"");
    EXPECT_FALSE(silent.UpdateAxis(1005, machine));
    EXPECT_FALSE(noAxis.UpdateAxis(1005, machine));
}

TEST_F(AxisScript, LoadReadsLetterLimitsAndJoinsTheProgram)
{
    C_BaseObject::CreateObject(0, "C_D3DXSTRING", "axis_test_limits", "-5; 5", "", "", "");
    C_BaseObject::CreateObject(0, "C_D3DXSTRING", "axis_test_lower_only", "-3", "", "", "");
    AxisObject x, y, z;
    x.LoadAxis(L"", L"X", 1.5f, L"axis_test_limits");
    EXPECT_EQ(x.AxisLetter, L'X');
    EXPECT_EQ(x.AxisValue, 1.5f);
    EXPECT_EQ(x.Minimum, -5.0f);
    EXPECT_EQ(x.Maximum, 5.0f);
    y.LoadAxis(L"", L"Yaw", 0.0f, L"axis_test_lower_only");
    EXPECT_EQ(y.AxisLetter, L'Y');
    EXPECT_EQ(y.Minimum, -3.0f);
    EXPECT_EQ(y.Maximum, 1.0e37f) << "a missing maximum keeps its default";
    z.LoadAxis(L"", L"", 0.0f, L"axis_test_no_such_text");
    EXPECT_EQ(z.AxisLetter, 0);
    EXPECT_EQ(z.Minimum, -1.0e37f);
    ASSERT_EQ(C_AxisDrive::Programm().size(), 3u);
    EXPECT_EQ(C_AxisDrive::Programm()[0], &x);
    y.UnloadAxis();
    ASSERT_EQ(C_AxisDrive::Programm().size(), 2u);
    EXPECT_EQ(C_AxisDrive::Programm()[1], &z);
}
