#pragma once
// What script tests share: running a piece of Lua and reading its result, and
// writing an object's ID the way a script receives it.

#include <gtest/gtest.h>
#include <lua.hpp>

#include <cstdio>
#include <string>
#include <string_view>

#include "BaseClasses/BaseObject.h"
#include "Script/LuaScriptBase.h"

namespace tw_test {

// Runs Lua text; returns the global `r` as text ("nil" when it has none).
inline std::string LuaEval(lua_State* L, const std::string& code)
{
    EXPECT_TRUE(C_LuaScriptBase::RunScript("r = nil\n" + code, std::string_view("eval")));
    lua_getfield(L, LUA_GLOBALSINDEX, "r");
    const char* text = lua_tostring(L, -1);
    std::string value = text ? text : "nil";
    lua_pop(L, 1);
    return value;
}

inline std::string LuaId(const C_BaseObject* object)
{
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.0f", C_BaseObject::ToID(object));
    return buffer;
}

}  // namespace tw_test
