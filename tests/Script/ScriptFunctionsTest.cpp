// The published engine functions as scripts see them: names, objects found
// by ID, script files run at load and per-frame functions called with the
// object's own ID.

#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "engine_support/ObjectTestClasses.h"

#include <lua.hpp>

#include "BaseClasses/BaseObject.h"
#include "Script/LuaScriptBase.h"
#include "Script/ScriptFunctions.h"
#include "Script/LuaEval.h"

namespace {

class ScriptFunctionsTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        C_LuaScriptBase::ResetReportedErrors();
        L = C_LuaScriptBase::GetState();
        top = lua_gettop(L);
        // The text table keeps the first definition of a name for the whole
        // process, so the script folder is one folder for all tests.
        C_BaseObject::CreateObject(0, "C_D3DXSTRING", "FolderScript", ScriptFolder().path().string(), "", "",
                                   "");
    }
    void TearDown() override
    {
        EXPECT_EQ(lua_gettop(L), top);
        ObjectModelTest::TearDown();
    }

    void WriteScript(const std::string& name, const std::string& code) const
    {
        ScratchFolder::Write(ScriptFolder() / name, code);
    }
    static ScratchFolder& ScriptFolder()
    {
        static ScratchFolder folder;
        return folder;
    }
    // Runs Lua text; returns the global `r` as text.
    std::string Eval(const std::string& code) { return tw_test::LuaEval(L, code); }
    static std::string Id(const C_BaseObject* object) { return tw_test::LuaId(object); }

    lua_State* L = nullptr;
    int top = 0;
};

}  // namespace

TEST_F(ScriptFunctionsTest, PublishedInTableOrder)
{
    const std::vector<std::string> expected = {
        "MessageBox", "ToLog", "GetObjectID", "GetCurrentTime", "DisableObject", "NotRenderObject",
        "VisibleObject", "DeleteObject", "GetScreenWidth", "GetScreenHeight", "GetMouseX", "GetMouseY",
        "GetCursorStatus", "Exit", "DlgOpenFile", "CreateObject", "GetPathToProgram", "AddExtraObject",
        "DeleteExtraObject", "ClearExtraObjects", "SetAnotherScript", "ClearScript", "SetAnotherEffect",
        "ClearEffect", "LoadMainModule", "SetString", "GetTerraineHeight", "SetPositionX", "SetPositionY", "SetPositionZ", "SetPositionA", "SetPositionB",
        "SetPositionC", "GetPositionX", "GetPositionY", "GetPositionZ", "GetPositionA", "GetPositionB",
        "GetPositionC", "GetPositionFromAxis", "GetStartPoint", "GetStartTime", "GetFinishPoint",
        "GetFinishTime", "GetNumCommand", "LoadProgramm", "GetStringCommand", "SetPause",
        "GetLocalPositionFromAxis", "SetCameraCoord", "GetCameraCoord"};
    EXPECT_EQ(ScriptFunctions::PublishedNames(), expected);
    for (const auto& name : expected) {
        EXPECT_EQ(Eval("r = type(" + name + ")"), "function") << name;
    }
}

TEST_F(ScriptFunctionsTest, ScriptFileRunsOnceAtLoadAndFunctionEveryFrame)
{
    WriteScript("mover.lua",
                "loads = (loads or 0) + 1\n"
                "calls = {}\n"
                "function Move(id) calls[#calls + 1] = string.format('%.0f', id) end\n");
    Eval("r = CreateObject(0, 'TestObject', 'mover', '', 'mover.lua; Move', '', '')");
    auto* object = dynamic_cast<TestObject*>(Managers().GetResource(L"mover"));
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(Eval("r = loads"), "1");
    EXPECT_EQ(object->ScriptFunction, L"Move");
    EXPECT_EQ(Eval("r = GetObjectID('mover')"), Id(object));
    object->Update();
    object->Update();
    EXPECT_EQ(Eval("r = #calls .. ':' .. calls[1] .. ':' .. calls[2]"), "2:" + Id(object) + ":" + Id(object));

    // A file without a function name runs and nothing is called per frame.
    WriteScript("once.lua", "once = (once or 0) + 1\n");
    Eval("CreateObject(0, 'TestObject', 'quiet', '', 'once.lua', '', '')");
    auto* quiet = Managers().GetResource(L"quiet");
    ASSERT_NE(quiet, nullptr);
    EXPECT_EQ(Eval("r = once"), "1");
    EXPECT_TRUE(quiet->ScriptFunction.empty());
    quiet->Update();
    EXPECT_EQ(Eval("r = #calls"), "2");

    // Replacing and clearing the script from a script.
    WriteScript("other.lua", "function Other(id) others = (others or 0) + 1 end\n");
    Eval("SetAnotherScript(GetObjectID('mover'), 'other.lua;Other')");
    object->Update();
    EXPECT_EQ(Eval("r = others"), "1");
    EXPECT_EQ(Eval("r = #calls"), "2");
    Eval("ClearScript(GetObjectID('mover'))");
    object->Update();
    EXPECT_EQ(Eval("r = others"), "1");
}

TEST_F(ScriptFunctionsTest, FailingScriptsAreLoggedAndTheEngineGoesOn)
{
    WriteScript("broken.lua", "this is not lua");
    WriteScript("fails.lua", "function Fail(id) error('fails at ' .. type(id)) end\n");
    Eval("CreateObject(0, 'TestObject', 'broken', '', 'broken.lua; Never', '', '')");
    EXPECT_TRUE(Logged(L"broken.lua"));
    Eval("CreateObject(0, 'TestObject', 'fails', '', 'fails.lua; Fail', '', '')");
    auto* fails = Managers().GetResource(L"fails");
    ASSERT_NE(fails, nullptr);
    for (int frame = 0; frame < 500; ++frame) fails->Update();
    EXPECT_EQ(CountLogged(L"fails at number"), 1u);
    // The stack check of TearDown proves the 500 failures left nothing.
}

TEST_F(ScriptFunctionsTest, UnknownAndStaleIdsDoNothing)
{
    EXPECT_EQ(Eval("r = GetObjectID('nobody')"), "0");
    EXPECT_EQ(Eval("r = DisableObject(GetObjectID('nobody'))"), "0");
    EXPECT_EQ(Eval("r = SetPositionX(GetObjectID('nobody'), 5)"), "0");
    Eval("CreateObject(0, 'TestObject', 'victim', '', '', '', '')");
    auto* victim = Managers().GetResource(L"victim");
    ASSERT_NE(victim, nullptr);
    const std::string id = Id(victim);
    EXPECT_EQ(Eval("r = NotRenderObject(" + id + ")"), "0");
    EXPECT_EQ(victim->Status, C_BaseObject::NotRender);
    // Garbage: random numbers, strings, tables, missing arguments.
    EXPECT_EQ(Eval("r = GetCursorStatus(123456789)"), "0");
    EXPECT_EQ(Eval("r = VisibleObject('victim')"), "0");
    EXPECT_EQ(Eval("r = AddExtraObject({}, nil)"), "0");
    EXPECT_EQ(Eval("r = CreateObject()"), "0");
    EXPECT_EQ(Eval("r = GetStartPoint(" + id + ")"), "0") << "not an axis";
    EXPECT_EQ(Eval("r = SetPositionX(" + id + ", 5)"), "0") << "not a positioned object";
    EXPECT_EQ(Eval("r = GetPositionX(" + id + ")"), "0");
    EXPECT_EQ(victim->Status, C_BaseObject::NotRender);
    // A deleted object's ID names nothing any more.
    EXPECT_EQ(Eval("r = DeleteObject(" + id + ")"), "0");
    EXPECT_EQ(Managers().GetResource(L"victim", L"TestObject", false), nullptr);
    EXPECT_EQ(Eval("r = VisibleObject(" + id + ")"), "0");
    EXPECT_EQ(Eval("r = GetCursorStatus(" + id + ")"), "0");
}

TEST_F(ScriptFunctionsTest, CurrentTimeIsTheFrameTime)
{
    C_BaseObject::CommonData().Time = 5000;
    EXPECT_EQ(Eval("local a = GetCurrentTime(); local b = GetCurrentTime(); r = a .. ',' .. b"), "5000,5000");
    C_BaseObject::CommonData().Time = 5016;
    EXPECT_EQ(Eval("r = GetCurrentTime()"), "5016");
}

TEST_F(ScriptFunctionsTest, ToLogWritesEveryDistinctLine)
{
    // As the program runs: each source location written once.
    logger::Logger::SetOption(logger::OptionRepetitions, L"0");
    Eval("ToLog('Сообщение скрипта'); ToLog('second line'); ToLog('second line'); ToLog('third line')");
    logger::Logger::SetOption(logger::OptionRepetitions, L"1");
    EXPECT_EQ(CountLogged(L"Сообщение скрипта"), 1u);
    EXPECT_EQ(CountLogged(L"second line"), 1u) << "a repeated text is folded";
    EXPECT_EQ(CountLogged(L"third line"), 1u) << "a new text is not";
}

TEST_F(ScriptFunctionsTest, DemoScriptsRun)
{
    std::string code;
    for (const char* name : {"mill_axis.lua", "mill.lua"}) {
        code = ScratchFolder::Read(std::filesystem::path(TW_SOURCE_DIR) / "demo" / "scripts" / name);
        ASSERT_FALSE(code.empty()) << name;
        EXPECT_TRUE(C_LuaScriptBase::RunScript(std::string_view(code), std::string_view(name))) << name;
    }
    // With no program and no axis every value reads as a resting axis.
    EXPECT_EQ(Eval("AxisX(0); AxisY(12345); r = ValueX .. ',' .. ValueY"), "0,0");
    EXPECT_EQ(Eval("r = type(MillFrame)"), "function");
}

TEST_F(ScriptFunctionsTest, CameraCoordinatesFromScripts)
{
    Eval("CreateObject(0, 'C_GUICamera', 'ScriptCamera', '', '', '', '')");
    C_BaseResource* camera = Managers().GetResource(L"ScriptCamera");
    ASSERT_NE(camera, nullptr);
    const std::string id = Id(camera);
    EXPECT_EQ(Eval("r = SetCameraCoord(" + id + ", 'Y', 12.5)"), "0");
    EXPECT_EQ(Eval("r = GetCameraCoord(" + id + ", 'Y')"), "12.5");
    EXPECT_EQ(Eval("r = GetCameraCoord(" + id + " + 0.9, 'Y')"), "12.5") << "IDs truncate toward zero";
    // Not a camera, no camera, a wrong axis: 0 and nothing changes.
    Eval("CreateObject(0, 'TestObject', 'NotACamera', '', '', '', '')");
    EXPECT_EQ(Eval("r = SetCameraCoord(GetObjectID('NotACamera'), 'Y', 1)"), "0");
    EXPECT_EQ(Eval("r = GetCameraCoord(0, 'Y')"), "0");
    EXPECT_EQ(Eval("r = SetCameraCoord(" + id + ", 'y', 99)"), "0");
    EXPECT_EQ(Eval("r = GetCameraCoord(" + id + ", 'Y')"), "12.5");
}

TEST_F(ScriptFunctionsTest, PositionsFromScripts)
{
    Eval("CreateObject(0, 'C_PositionObject', 'Placed', '', '', '', '')");
    C_BaseResource* placed = Managers().GetResource(L"Placed");
    ASSERT_NE(placed, nullptr);
    const std::string id = Id(placed);
    EXPECT_EQ(Eval("r = SetPositionX(" + id + ", 2.5)"), "0");
    EXPECT_EQ(Eval("SetPositionA(" + id + ", 45); r = string.format('%.4f,%.4f', GetPositionX(" + id +
                   "), GetPositionA(" + id + "))"),
              "2.5000,45.0000");
    EXPECT_EQ(Eval("r = GetPositionFromAxis(" + id + ", 'X')"), "2.5");
    EXPECT_EQ(Eval("r = GetPositionFromAxis(" + id + ", 'Q')"), "0");
    EXPECT_EQ(Eval("r = GetPositionFromAxis(" + id + ")"), "0") << "a missing axis is empty";
}
