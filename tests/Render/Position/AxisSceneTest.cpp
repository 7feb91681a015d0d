// A machine scene end to end inside the engine: a module file with axis
// objects and their scripts, a motion program loaded by a script, frames at a
// fixed time step. The scripts interpolate the axes and log the command
// number and times with ToLog; the logged sequence and the axis positions are
// compared with what the timing rules give.

#include "engine_support/ObjectTestClasses.h"

#include <cmath>
#include <regex>
#include <sstream>
#include <tuple>

#include "Common/CodePage.h"
#include "Render/Position/AxisMoveObject.h"


namespace {

struct ZeroAxis : C_AxisDrive {
    double GetAxisPosition(wchar_t) override { return 0.0; }
};

class AxisScene : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        // The program is process-wide: put every coordinate back at 0 the way
        // loading does, through six axes standing at 0.
        ZeroAxis axes[6];
        for (int i = 0; i < 6; ++i) {
            axes[i].AxisLetter = L"XYZABC"[i];
            C_AxisDrive::Programm().Register(&axes[i]);
        }
        C_AxisDrive::Programm().Reset();
        C_AxisDrive::Programm().clear();
        C_AxisDrive::Programm().SetPause(false, 0);
        C_AxisDrive::Programm().SetToolSize(0, 0);
    }
    void TearDown() override
    {
        C_AxisDrive::Programm().clear();
        C_AxisDrive::Programm().Reset();
        C_BaseObject::CommonData().Time = 0;
        ObjectModelTest::TearDown();
    }

    // The text table keeps a name's first text for the whole process: one
    // script folder for every test of this program.
    static ScratchFolder& Scripts()
    {
        static ScratchFolder folder;
        return folder;
    }

    // Loads the scene: scripts, program and module file; returns the module.
    C_BaseModule* LoadScene(const std::string& program)
    {
        ScratchFolder::Write(Scripts() / "machine.lua",
                             "function Interpolate(id)\n"
                             "  local t0, t1 = GetStartTime(), GetFinishTime()\n"
                             "  local k = 1\n"
                             "  if t1 > t0 then k = math.min(1, (GetCurrentTime() - t0) / (t1 - t0)) end\n"
                             "  return GetStartPoint(id) + (GetFinishPoint(id) - GetStartPoint(id)) * k\n"
                             "end\n"
                             "last = nil\n"
                             "function AxisX(id)\n"
                             "  local n = GetNumCommand()\n"
                             "  if n ~= last then\n"
                             "    last = n\n"
                             "    ToLog(string.format('cmd %d %d %d', n, GetStartTime(), GetFinishTime()))\n"
                             "  end\n"
                             "  value_x = Interpolate(id)\n"
                             "end\n"
                             "function AxisY(id) value_y = Interpolate(id) end\n");
        WriteFile("mill.nc", program);
        ScratchFolder::Write(Scripts() / "start.lua", "LoadProgramm('" + (dir / "mill.nc").string() + "')\n");
        WriteFile("machine.xml",
                  "<?xml version='1.0' encoding='UTF-8'?>\n"
                  "<machine name='Machine' class='C_BaseModule' script='start.lua'>\n"
                  "  <t text='FolderScript = " + Scripts().path().string() + "'/>\n"
                  "  <t text='LimitsX = -50; 50'/>\n"
                  "  <t text='AxisXPos = 0; 7; 0'/>\n"
                  "  <axis name='AxisX' class='C_AxisMoveObject' value=';;AxisXPos;;;;X;LimitsX' script='machine.lua; AxisX; value_x'/>\n"
                  "  <axis name='AxisY' class='C_AxisMoveObject' value=';;;;;;Y' script='machine.lua; AxisY; value_y'/>\n"
                  "  <t text='CutterMesh = 0.5; 0.5; 1; 8'/>\n"
                  "  <axis name='Cutter' class='C_AxisMoveObject' value='C_D3DXMESH9_CYLINDER; CutterMesh; ; ; ; AxisY; ; ; True'/>\n"
                  "</machine>\n");
        auto* top = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"top", L""));
        *top << Path("machine.xml");
        while (Managers().Load(nullptr)) {}
        return top;
    }
    C_AxisMoveObject* Axis(const wchar_t* name)
    {
        return dynamic_cast<C_AxisMoveObject*>(Managers().GetResource(name, L"C_AxisMoveObject", false));
    }

    // The logged "cmd n start finish" lines.
    static std::vector<std::tuple<long, long, long>> LoggedCommands()
    {
        const std::string log = VORTALEX::codepage::ToUtf8(Log());
        std::vector<std::tuple<long, long, long>> commands;
        const std::regex line("cmd (-?[0-9]+) ([0-9]+) ([0-9]+)");
        for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it)
            commands.emplace_back(std::stol((*it)[1]), std::stol((*it)[2]), std::stol((*it)[3]));
        return commands;
    }
};

}  // namespace

TEST_F(AxisScene, ScriptsSeeTheCommandTimesTheRulesGive)
{
    C_AxisDrive::Programm().SetToolSize(3.0f, 0.05f);
    C_BaseModule* top = LoadScene("G01 X10 F600\nG00 Y5\nM03\nG01 X0 Y0 F1200\n");
    ASSERT_NE(Axis(L"AxisX"), nullptr);
    ASSERT_EQ(C_AxisDrive::Programm().size(), 3u);
    // The cutting tool: a cylinder scaled to the tool, a length below 0.1 being 1.
    C_AxisMoveObject* cutter = Axis(L"Cutter");
    ASSERT_NE(cutter, nullptr);
    EXPECT_EQ(cutter->ScaleX, 3.0f);
    EXPECT_EQ(cutter->ScaleY, 3.0f);
    EXPECT_EQ(cutter->ScaleZ, 1.0f);
    EXPECT_EQ(cutter->GetParent(), Axis(L"AxisY"));
    EXPECT_EQ(Axis(L"AxisX")->ScaleX, 1.0f) << "not a tool";
    EXPECT_EQ(Axis(L"AxisX")->Y, 7.0f);
    ASSERT_EQ(C_AxisDrive::Programm().GetLines().size(), 4u) << "start.lua loaded the program";
    EXPECT_EQ(Axis(L"AxisX")->Maximum, 50.0f);
    EXPECT_EQ(Axis(L"AxisY")->ValueVariable, L"value_y");

    // Frames 20 ms apart from t = 1000, long enough for the whole program.
    constexpr std::uint32_t Step = 20;
    float xAt1500 = -1;
    for (std::uint32_t t = 1000; t <= 3000; t += Step) {
        C_BaseObject::CommonData().Time = t;
        top->Update();
        if (t == 1500) xAt1500 = Axis(L"AxisX")->X;
    }

    // What the rules give: the first command starts at the first update; a
    // command starts at the first frame after the previous one finished; its
    // duration is length * 60000 / feed (10 ms without movement). AxisX's
    // script runs before the step of its frame, so it sees a command one
    // frame after it started.
    const double durations[] = {1000, 30, 10, std::trunc(std::sqrt(125.0) * 60000 / 1200)};
    std::vector<std::tuple<long, long, long>> expected = {{-1, 0, 0}};
    std::uint32_t finish = 0;
    std::uint32_t t = 1000;
    for (int n = 0; n < 4; ++n) {
        while (t <= finish) t += Step;
        const std::uint32_t start = t;
        finish = start + static_cast<std::uint32_t>(durations[n]);
        expected.emplace_back(n, start, finish);
    }
    EXPECT_EQ(LoggedCommands(), expected);

    // The scripts moved the axes: halfway along the first move at 1500, and
    // back at the origin once the program ended.
    EXPECT_NEAR(xAt1500, 5.0f, 0.01f);
    EXPECT_NEAR(Axis(L"AxisX")->X, 0.0f, 1e-4);
    EXPECT_NEAR(Axis(L"AxisY")->Y, 0.0f, 1e-4);
    // Only the axis's own component moves, and the world matrix follows.
    EXPECT_EQ(Axis(L"AxisX")->Y, 7.0f);
    EXPECT_FLOAT_EQ(Axis(L"AxisX")->World._42, 7.0f);
    EXPECT_NEAR(Axis(L"AxisX")->World._41, Axis(L"AxisX")->X, 1e-6);
    // Scripts read the axes through the object's position.
    C_BaseObject::CommonData().Time = 1000;
    EXPECT_NEAR(C_AxisDrive::GetLocalPositionFromAxis(static_cast<long>(C_BaseObject::ToID(Axis(L"AxisY"))), "Y"),
                0.0, 1e-4);
}

TEST_F(AxisScene, PauseKeyFreezesTheAxesAndShiftsTheCommand)
{
    C_BaseModule* top = LoadScene("G01 X10 F600\n");
    C_BaseObject::CommonData().Time = 1000;
    top->Update();
    C_BaseObject::CommonData().Time = 1200;
    top->Update();
    const float before = Axis(L"AxisX")->X;
    EXPECT_NEAR(before, 2.0f, 0.01f);
    // P pressed at 1220 (held for a few frames: one press), released, and
    // pressed again at 3200.
    auto& keyP = C_BaseObject::CommonData().Input.Keyboard[0x19];
    for (std::uint32_t t = 1220; t <= 3200; t += 20) {
        C_BaseObject::CommonData().Time = t;
        keyP = (t <= 1300 || t == 3200) ? 0x80 : 0;
        top->Update();
        if (t == 1220) {
            EXPECT_TRUE(C_AxisDrive::Programm().IsPaused());
        }
        if (t == 3180) {
            EXPECT_TRUE(C_AxisDrive::Programm().IsPaused());
            EXPECT_EQ(Axis(L"AxisX")->X, before) << "paused axes do not update";
        }
    }
    keyP = 0;
    EXPECT_FALSE(C_AxisDrive::Programm().IsPaused());
    EXPECT_EQ(C_AxisDrive::GetStartTime(), 2980.0);
    EXPECT_EQ(C_AxisDrive::GetFinishTime(), 3980.0);
    C_BaseObject::CommonData().Time = 3220;
    top->Update();
    EXPECT_NEAR(Axis(L"AxisX")->X, 2.4f, 0.01f);
}
