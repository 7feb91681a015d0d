#include "Script/LuaScriptBase.h"

#include <lua.hpp>

#include <unordered_set>

#include "Common/CodePage.h"
#include "Logger/Logger.h"

namespace {

// Registry slots of the two helpers every protected entry point runs through.
int g_callerRef = LUA_NOREF;
int g_readerRef = LUA_NOREF;

// Script errors already logged ("script or function\nmessage"). Bounded so a
// script that fails with a new text every frame cannot grow it for ever;
// reaching the bound is said once.
constexpr std::size_t MaxReportedErrors = 4096;

std::unordered_set<std::string>& ReportedErrors()
{
    static std::unordered_set<std::string> reported;
    return reported;
}

// Runs inside lua_pcall: [name, id] -> calls global `name` with `id`. Looking
// the global up inside the protected call matters: a globals table with an
// erroring __index (a "strict" module) would otherwise raise outside any
// protection and end the process.
int CallGlobal(lua_State* L)
{
    lua_getfield(L, LUA_GLOBALSINDEX, lua_tostring(L, 1));
    lua_replace(L, 1);
    lua_call(L, 1, 0);
    return 0;
}

// Runs inside lua_pcall: [name] -> the global's value.
int ReadGlobal(lua_State* L)
{
    lua_getfield(L, LUA_GLOBALSINDEX, lua_tostring(L, 1));
    return 1;
}

// Narrows a short ASCII name into a stack buffer, the common case, so the
// per-frame path does not allocate; anything else goes through UTF-8.
class NarrowName {
public:
    explicit NarrowName(std::wstring_view name)
    {
        if (name.size() < sizeof(m_buffer)) {
            std::size_t i = 0;
            for (; i < name.size(); ++i) {
                const wchar_t c = name[i];
                if (c <= 0 || c >= 0x80) break;
                m_buffer[i] = static_cast<char>(c);
            }
            if (i == name.size()) {
                m_view = std::string_view(m_buffer, i);
                return;
            }
        }
        m_long = VORTALEX::codepage::ToUtf8(name);
        m_view = m_long;
    }
    std::string_view View() const { return m_view; }

private:
    char m_buffer[64];
    std::string m_long;
    std::string_view m_view;
};

// Counts a running script for C_LuaScriptBase::IsRunning.
class Running {
public:
    explicit Running(int& depth) : m_depth(depth) { ++m_depth; }
    ~Running() { --m_depth; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    int& m_depth;
};

std::string ErrorText(lua_State* L)
{
    std::size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);
    if (!text) return "(error object is not a string)";
    return std::string(text, length);
}

}  // namespace

C_LuaScriptBase::C_LuaScriptBase()
{
    if (s_count == 0 && !s_state) {
        s_state = luaL_newstate();
        if (s_state) {
            luaL_openlibs(s_state);
            lua_pushcfunction(s_state, CallGlobal);
            g_callerRef = luaL_ref(s_state, LUA_REGISTRYINDEX);
            lua_pushcfunction(s_state, ReadGlobal);
            g_readerRef = luaL_ref(s_state, LUA_REGISTRYINDEX);
        }
    }
    ++s_count;
}

C_LuaScriptBase::~C_LuaScriptBase()
{
    if (--s_count == 0 && s_state) {
        lua_close(s_state);
        s_state = nullptr;
        g_callerRef = g_readerRef = LUA_NOREF;
    }
}

std::string C_LuaScriptBase::ToNarrow(std::wstring_view text)
{
    return VORTALEX::codepage::ToUtf8(text);
}

void C_LuaScriptBase::ResetReportedErrors()
{
    ReportedErrors().clear();
}

void C_LuaScriptBase::ReportError(std::string_view what, std::string_view where)
{
    // Each distinct error once per run: a function failing every frame
    // writes one line, and every other script's error is still written.
    auto& reported = ReportedErrors();
    std::string key;
    key.reserve(what.size() + where.size() + 1);
    key.append(where).push_back('\n');
    key.append(what);
    if (reported.count(key)) return;
    if (reported.size() >= MaxReportedErrors) {
        if (reported.size() == MaxReportedErrors) {
            reported.insert(std::string());
            LOG_WARNING(L"Ошибок скриптов больше " << MaxReportedErrors << L"; следующие не записываются");
        }
        return;
    }
    reported.insert(std::move(key));
    // Every script error is written from this one line; the logger must tell
    // them apart by their text, or with repetitions folded (as the program
    // runs) only the first error of the run would ever reach the log.
    if (!logger::Logger::WouldCommit(logger::Warning)) return;
    logger::Logger::Message message(logger::Warning, "warning", __LINE__, __FILE__, __PRETTY_FUNCTION__);
    message << L"Ошибка скрипта " << where << L": " << what;
    message.DistinctByText().Commit();
}

bool C_LuaScriptBase::RunScript(std::string_view code, std::string_view chunkName)
{
    lua_State* L = s_state;
    if (!L) return false;
    const Running running(s_running);
    const int top = lua_gettop(L);
    const std::string name(chunkName);
    int status = luaL_loadbuffer(L, code.data(), code.size(), name.c_str());
    if (status == 0) status = lua_pcall(L, 0, LUA_MULTRET, 0);
    if (status != 0) ReportError(ErrorText(L), name);
    // Drops the error value or whatever the chunk returned.
    lua_settop(L, top);
    return status == 0;
}

bool C_LuaScriptBase::RunScript(std::string_view code, std::wstring_view chunkName)
{
    return RunScript(code, std::string_view(ToNarrow(chunkName)));
}

bool C_LuaScriptBase::CallFunction(std::string_view name, double id)
{
    lua_State* L = s_state;
    if (!L || name.empty()) return false;
    const Running running(s_running);
    const int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, g_callerRef);
    lua_pushlstring(L, name.data(), name.size());
    lua_pushnumber(L, id);
    const int status = lua_pcall(L, 2, 0, 0);
    if (status != 0) ReportError(ErrorText(L), name);
    lua_settop(L, top);
    return status == 0;
}

bool C_LuaScriptBase::CallFunction(std::wstring_view name, double id)
{
    const NarrowName narrow(name);
    return CallFunction(narrow.View(), id);
}

double C_LuaScriptBase::GetGlobalNumber(std::string_view name)
{
    lua_State* L = s_state;
    if (!L || name.empty()) return 0.0;
    const Running running(s_running);
    const int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, g_readerRef);
    lua_pushlstring(L, name.data(), name.size());
    double value = 0.0;
    if (lua_pcall(L, 1, 1, 0) == 0) value = lua_tonumber(L, -1);
    else ReportError(ErrorText(L), name);
    lua_settop(L, top);
    return value;
}

double C_LuaScriptBase::GetGlobalNumber(std::wstring_view name)
{
    const NarrowName narrow(name);
    return GetGlobalNumber(narrow.View());
}
