// The Lua host: state lifetime, argument and result conversions of the
// published functions, running script files, per-frame calls and global reads.

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "Logger/Logger.h"
#include "Script/LuaScriptBase.h"
#include "Script/LuaScriptDeclareFunction.h"

namespace {

// What the test functions below last received.
long g_long = -12345;
std::vector<std::string> g_texts;

double TakeLong(long value) { g_long = value; return static_cast<double>(value); }
double TakeDouble(double value) { return value * 2; }
double TakeText(const std::string& text) { return static_cast<double>(text.size()); }
std::string Echo(std::string text) { return "<" + text + ">"; }
double Seven(long a, double b, std::string c, long d, double e, std::string f, long g)
{
    g_texts = {std::to_string(a), std::to_string(b), c, std::to_string(d), std::to_string(e), f,
               std::to_string(g)};
    return a + b + d + e + g;
}
double Zero() { return 42; }
double Throws(double) { throw std::runtime_error("engine refused"); }
// An ID taken as double by the engine function but declared long to Lua.
double IdAsDouble(double id) { return id; }

class LuaHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::SetOption(logger::OptionRepetitions, L"1");
        logger::Logger::Activate(logger::Mock);
        C_LuaScriptBase::ResetReportedErrors();
        L = C_LuaScriptBase::GetState();
        ASSERT_NE(L, nullptr);
        top = lua_gettop(L);
    }
    void TearDown() override
    {
        EXPECT_EQ(lua_gettop(L), top) << "the host must leave the stack as it found it";
        logger::Logger::Activate(logger::AllReports);
    }

    // Runs Lua text and returns the global `r` as a string ("nil" if unset).
    std::string Eval(const std::string& code)
    {
        EXPECT_TRUE(C_LuaScriptBase::RunScript("r = nil\n" + code, std::string_view("eval")))
            << logger::Logger::Instance().MockText().size();
        lua_getfield(L, LUA_GLOBALSINDEX, "r");
        std::string value = lua_isnil(L, -1) ? "nil" : (lua_tostring(L, -1) ? lua_tostring(L, -1) : "?");
        lua_pop(L, 1);
        return value;
    }
    static std::wstring Log() { return logger::Logger::Instance().MockText(); }

    C_LuaScriptDeclareFunction1<double, long, &TakeLong> takeLong{L"TestTakeLong"};
    C_LuaScriptDeclareFunction1<double, double, &TakeDouble> takeDouble{L"TestTakeDouble"};
    C_LuaScriptDeclareFunction1<double, std::string, &TakeText> takeText{L"TestTakeText"};
    C_LuaScriptDeclareFunction1<std::string, std::string, &Echo> echo{L"TestEcho"};
    C_LuaScriptDeclareFunction7<double, long, double, std::string, long, double, std::string, long, &Seven>
        seven{L"TestSeven"};
    C_LuaScriptDeclareFunction0<double, &Zero> zero{L"TestZero"};
    C_LuaScriptDeclareFunction1<double, double, &Throws> throws{L"TestThrows"};
    C_LuaScriptDeclareFunction1<double, long, &IdAsDouble> idAsDouble{L"TestIdAsDouble"};
    lua_State* L = nullptr;
    int top = 0;
};

}  // namespace

TEST(LuaState, CreatedByFirstRegistrationAndClosedByLast)
{
    const int before = C_LuaScriptBase::GetCount();
    {
        C_LuaScriptDeclareFunction0<double, &Zero> first(L"TestLifeA");
        EXPECT_EQ(C_LuaScriptBase::GetCount(), before + 1);
        lua_State* state = C_LuaScriptBase::GetState();
        ASSERT_NE(state, nullptr);
        {
            C_LuaScriptDeclareFunction0<double, &Zero> second(L"TestLifeB");
            EXPECT_EQ(C_LuaScriptBase::GetState(), state) << "one state for the whole process";
            EXPECT_EQ(C_LuaScriptBase::GetCount(), before + 2);
        }
        EXPECT_EQ(C_LuaScriptBase::GetState(), state);
        // The standard libraries are open.
        EXPECT_TRUE(C_LuaScriptBase::RunScript("x_len = string.len('abc') + math.floor(2.5)",
                                               std::string_view("libs")));
        EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::string_view("x_len")), 5.0);
    }
    EXPECT_EQ(C_LuaScriptBase::GetCount(), before);
    if (before == 0) {
        EXPECT_EQ(C_LuaScriptBase::GetState(), nullptr) << "the last registration closes the state";
        // Everything is a harmless no-op without a state.
        EXPECT_FALSE(C_LuaScriptBase::RunScript("x = 1", std::string_view("none")));
        EXPECT_FALSE(C_LuaScriptBase::CallFunction(std::string_view("f"), 1));
        EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::string_view("x")), 0.0);
    } else {
        EXPECT_NE(C_LuaScriptBase::GetState(), nullptr) << "engine registrations keep it open";
    }
}

TEST_F(LuaHost, ArgumentAndResultConversions)
{
    struct Case {
        const char* call;
        const char* result;
    };
    const Case cases[] = {
        // long: truncated toward zero, beyond 32 bits, defined for junk.
        {"TestTakeLong(2.9)", "2"},
        {"TestTakeLong(-2.9)", "-2"},
        {"string.format('%.0f', TestTakeLong(140737488355328.75))", "140737488355328"},
        {"TestTakeLong('not a number')", "0"},
        {"TestTakeLong('12.5')", "12"},
        {"TestTakeLong()", "0"},
        {"TestTakeLong(0/0)", "0"},
        {"string.format('%.0f', TestTakeLong(1e300))", "9223372036854775808"},
        {"TestIdAsDouble(7.99)", "7"},
        // double: anything but a number reads 0.
        {"TestTakeDouble(1.25)", "2.5"},
        {"TestTakeDouble({})", "0"},
        // strings: numbers convert, nil, tables and missing arguments are empty.
        {"TestTakeText(12)", "2"},
        {"TestTakeText(nil)", "0"},
        {"TestTakeText({1, 2})", "0"},
        {"TestTakeText()", "0"},
        {"TestTakeText('a\\0b')", "3"},
        {"TestEcho('Привет')", "<Привет>"},
        {"#TestEcho('x\\0y')", "5"},
        // exactly one result; extra arguments ignored.
        {"select('#', TestZero(1, 2, 3))", "1"},
        {"select('#', TestEcho('a'))", "1"},
        {"TestSeven(1.9, 2.5, 'c', -4.2, 5, 'f', 7)", "11.5"},
    };
    for (const Case& c : cases) EXPECT_EQ(Eval(std::string("r = ") + c.call), c.result) << c.call;
    EXPECT_EQ(g_texts, (std::vector<std::string>{"1", "2.500000", "c", "-4", "5.000000", "f", "7"}))
        << "seven arguments arrive in order";
}

TEST_F(LuaHost, EngineExceptionBecomesLuaError)
{
    EXPECT_EQ(Eval("local ok, msg = pcall(TestThrows, 1); r = tostring(ok) .. ':' .. msg"),
              "false:engine refused");
    // Uncaught, it fails the script, which is reported, and the host carries on.
    EXPECT_FALSE(C_LuaScriptBase::RunScript("TestThrows(1)", std::string_view("scripts\\bad.lua")));
    EXPECT_NE(Log().find(L"engine refused"), std::wstring::npos);
    EXPECT_NE(Log().find(L"scripts\\bad.lua"), std::wstring::npos);
    EXPECT_EQ(Eval("r = TestZero()"), "42");
}

TEST_F(LuaHost, CalledFromCoroutineReadsItsOwnStack)
{
    EXPECT_EQ(Eval("local co = coroutine.create(function(a) return TestTakeLong(a) end)\n"
                   "local ok, v = coroutine.resume(co, 9.7); r = v"),
              "9");
    EXPECT_EQ(g_long, 9);
}

TEST_F(LuaHost, RunScriptReportsErrorsWithPath)
{
    EXPECT_TRUE(C_LuaScriptBase::RunScript("defined_by_file = 3; return 1, 2, 3",
                                           std::wstring_view(L"scripts\\good.lua")));
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::string_view("defined_by_file")), 3.0);
    EXPECT_TRUE(Log().empty()) << "a good script logs nothing";

    EXPECT_FALSE(C_LuaScriptBase::RunScript("this is not lua", std::wstring_view(L"scripts\\синтаксис.lua")));
    const std::wstring log = Log();
    EXPECT_NE(log.find(L"scripts\\синтаксис.lua"), std::wstring::npos) << "the path names the chunk";
    EXPECT_NE(log.find(L"'=' expected"), std::wstring::npos) << "Lua's own message is logged";

    EXPECT_FALSE(C_LuaScriptBase::RunScript("error('boom')", std::string_view("scripts\\run.lua")));
    EXPECT_NE(Log().find(L"boom"), std::wstring::npos);
    EXPECT_FALSE(C_LuaScriptBase::RunScript("error({})", std::string_view("scripts\\table.lua")));
    EXPECT_NE(Log().find(L"error object is not a string"), std::wstring::npos);
}

TEST_F(LuaHost, PerFrameCalls)
{
    ASSERT_TRUE(C_LuaScriptBase::RunScript(
        "seen = {}\n"
        "function OnFrame(id) seen[#seen + 1] = id end\n"
        "_G['кадр'] = function(id) seen_ru = id end\n"
        "function Broken(id) error('frame failure ' .. type(id)) end",
        std::string_view("scripts\\frame.lua")));
    EXPECT_TRUE(C_LuaScriptBase::CallFunction(std::wstring_view(L"OnFrame"), 140737488355328.0));
    EXPECT_TRUE(C_LuaScriptBase::CallFunction(std::wstring_view(L"кадр"), 8));
    EXPECT_EQ(Eval("r = string.format('%d,%.0f,%d', #seen, seen[1], seen_ru)"), "1,140737488355328,8");

    // Failing every frame: logged once per distinct error, the stack stays
    // (TearDown checks it after these 2000 failures).
    for (int frame = 0; frame < 1000; ++frame) {
        EXPECT_FALSE(C_LuaScriptBase::CallFunction(std::string_view("Broken"), frame));
        EXPECT_FALSE(C_LuaScriptBase::CallFunction(std::string_view("NoSuchFunction"), frame));
    }
    const std::wstring log = Log();
    auto count = [&](const std::wstring& what) {
        std::size_t n = 0;
        for (auto at = log.find(what); at != std::wstring::npos; at = log.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(L"frame failure number"), 1u);
    EXPECT_NE(log.find(L"scripts\\frame.lua"), std::wstring::npos);
    EXPECT_EQ(count(L"NoSuchFunction"), 1u);

    // A "strict" globals table raises on reading an unknown global; the
    // lookup must happen under protection or it would end the process.
    ASSERT_TRUE(C_LuaScriptBase::RunScript(
        "setmetatable(_G, {__index = function(t, k) error('undeclared ' .. k) end})", std::string_view("strict")));
    EXPECT_FALSE(C_LuaScriptBase::CallFunction(std::string_view("Missing"), 1));
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::string_view("MissingNumber")), 0.0);
    EXPECT_NE(Log().find(L"undeclared Missing"), std::wstring::npos);
    ASSERT_TRUE(C_LuaScriptBase::RunScript("setmetatable(_G, nil)", std::string_view("lax")));
}

TEST_F(LuaHost, GlobalNumberRead)
{
    ASSERT_TRUE(C_LuaScriptBase::RunScript("g_num = -3.5; g_str = '7.25'; g_bad = 'x'; g_tab = {}",
                                           std::string_view("globals")));
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::wstring_view(L"g_num")), -3.5);
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::string_view("g_str")), 7.25);
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::string_view("g_bad")), 0.0);
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::string_view("g_tab")), 0.0);
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::string_view("g_absent")), 0.0);
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber(std::string_view("")), 0.0);
}
