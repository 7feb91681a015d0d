#pragma once
// The one Lua 5.1 interpreter of the process and the engine's three ways into
// it: running a script file once, calling an object's per-frame function with
// the object's ID, and reading a global number.
//
// The state is created by the first registration object (static
// initialisation, before any module loads) and closed when the last one is
// destroyed at exit. Every entry point leaves the Lua stack as it found it
// and logs a failing script once per distinct error (script and message)
// instead of staying silent, so a function that fails every frame neither
// floods the log nor grows the stack, and no error hides another.

#include <cstddef>
#include <string>
#include <string_view>

struct lua_State;

class C_LuaScriptBase {
public:
    C_LuaScriptBase();
    C_LuaScriptBase(const C_LuaScriptBase&) = delete;
    C_LuaScriptBase& operator=(const C_LuaScriptBase&) = delete;
    virtual ~C_LuaScriptBase();

    // The shared state; null before the first registration object and after
    // the last one is gone, or when creating it failed.
    static lua_State* GetState() { return s_state; }
    // Live registration objects.
    static int GetCount() { return s_count; }

    // Compiles and runs a script file's text once, named by its path in Lua's
    // messages. False (after one logged warning) when it fails to compile or
    // raises an error; whatever the chunk returns is dropped.
    static bool RunScript(std::string_view code, std::string_view chunkName);
    static bool RunScript(std::string_view code, std::wstring_view chunkName);

    // Calls the global function `name` with the object's ID as the only
    // argument, protected. A missing function or a failing call is logged
    // once per distinct error and otherwise ignored. False when nothing ran
    // successfully.
    static bool CallFunction(std::string_view name, double id);
    static bool CallFunction(std::wstring_view name, double id);

    // The global number `name`; 0 when it is absent or not a number (numeric
    // strings convert as Lua converts them).
    static double GetGlobalNumber(std::string_view name);
    static double GetGlobalNumber(std::wstring_view name);

    // Names handed to Lua are narrow: UTF-8.
    static std::string ToNarrow(std::wstring_view text);

    // Forgets which script errors were already logged (a test).
    static void ResetReportedErrors();

    // True while a script file or a script function runs: engine functions
    // that release objects then leave the release to the frame's next safe
    // point instead of pulling objects from under the running code.
    static bool IsRunning() { return s_running > 0; }

private:
    static void ReportError(std::string_view what, std::string_view where);

    static inline lua_State* s_state = nullptr;
    static inline int s_count = 0;
    static inline int s_running = 0;
};
