#pragma once
// Publishing a static engine function to Lua. A static object
//     C_LuaScriptDeclareFunction2<double, long, std::string, &C_BaseCamera::GetCameraCoord>
//         g_getCameraCoord(L"GetCameraCoord");
// stores a global Lua function of that name whose thunk converts the script's
// arguments, calls the engine function and pushes exactly one result.
//
// Argument kinds: double (a Lua number; anything else reads 0), long (a Lua
// number truncated toward zero; 64-bit here, so object IDs survive), and
// std::string (a string or number; nil, tables and missing arguments read as
// the empty string). Results: double or std::string. The kinds need not match
// the engine function's parameter types exactly, only convert to them, so an
// ID declared long may reach a function that takes it as a double.

#include <lua.hpp>

#include <cmath>
#include <climits>
#include <cstring>
#include <exception>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Script/LuaScriptBase.h"

namespace script_detail {

template <class T>
using Kind = std::remove_cvref_t<T>;

template <class T>
inline constexpr bool IsArgumentKind =
    std::is_same_v<Kind<T>, double> || std::is_same_v<Kind<T>, long> ||
    std::is_same_v<Kind<T>, std::string>;

template <class T>
inline constexpr bool IsResultKind = std::is_same_v<T, double> || std::is_same_v<T, std::string>;

// Truncation toward zero that stays defined for NaN and numbers beyond long.
inline long ToLong(double value)
{
    if (!(value == value)) return 0;
    if (value >= static_cast<double>(LONG_MAX)) return LONG_MAX;
    if (value <= static_cast<double>(LONG_MIN)) return LONG_MIN;
    return static_cast<long>(value);
}

template <class T>
Kind<T> Read(lua_State* L, int index)
{
    using K = Kind<T>;
    if constexpr (std::is_same_v<K, std::string>) {
        if (!lua_isstring(L, index)) return std::string();
        std::size_t length = 0;
        const char* text = lua_tolstring(L, index, &length);
        return text ? std::string(text, length) : std::string();
    } else {
        lua_isnumber(L, index);
        const double value = lua_tonumber(L, index);
        if constexpr (std::is_same_v<K, long>) return ToLong(value);
        else return value;
    }
}

inline void Push(lua_State* L, double value) { lua_pushnumber(L, value); }
inline void Push(lua_State* L, const std::string& value) { lua_pushlstring(L, value.data(), value.size()); }

// The exception text of a failed engine call, kept outside the C++ frames so
// the Lua error can be raised after they are gone (lua_error unwinds with
// longjmp, which must not cross live C++ objects).
inline char* ErrorBuffer()
{
    static char buffer[512];
    return buffer;
}

inline void KeepError(const char* text)
{
    std::strncpy(ErrorBuffer(), text ? text : "", 511);
    ErrorBuffer()[511] = '\0';
}

template <class R, auto F, class... Args>
class Publisher : public C_LuaScriptBase {
    static_assert(IsResultKind<R>, "results are double or std::string");
    static_assert((IsArgumentKind<Args> && ...), "arguments are double, long or std::string");
    static_assert(std::is_invocable_v<decltype(F), Kind<Args>...>,
                  "the engine function cannot take these arguments");

public:
    explicit Publisher(const wchar_t* name)
    {
        lua_State* L = GetState();
        if (!L || !name) return;
        lua_pushcclosure(L, &Publisher::Thunk, 0);
        lua_setfield(L, LUA_GLOBALSINDEX, ToNarrow(name).c_str());
    }

    static int Thunk(lua_State* L)
    {
        if (!GetState()) return 0;
        bool failed = false;
        try {
            Invoke(L, std::index_sequence_for<Args...>{});
        } catch (const std::exception& e) {
            KeepError(e.what());
            failed = true;
        } catch (...) {
            KeepError("unknown exception");
            failed = true;
        }
        if (failed) {
            lua_pushstring(L, ErrorBuffer());
            return lua_error(L);
        }
        return 1;
    }

private:
    template <std::size_t... I>
    static void Invoke(lua_State* L, std::index_sequence<I...>)
    {
        // Arguments are read in order, position 1 first.
        std::tuple<Kind<Args>...> values{Read<Args>(L, static_cast<int>(I) + 1)...};
        R result = F(std::get<I>(values)...);
        Push(L, result);
    }
};

}  // namespace script_detail

template <class R, auto F>
class C_LuaScriptDeclareFunction0 : public script_detail::Publisher<R, F> {
public:
    using script_detail::Publisher<R, F>::Publisher;
};

template <class R, class A1, auto F>
class C_LuaScriptDeclareFunction1 : public script_detail::Publisher<R, F, A1> {
public:
    using script_detail::Publisher<R, F, A1>::Publisher;
};

template <class R, class A1, class A2, auto F>
class C_LuaScriptDeclareFunction2 : public script_detail::Publisher<R, F, A1, A2> {
public:
    using script_detail::Publisher<R, F, A1, A2>::Publisher;
};

template <class R, class A1, class A2, class A3, auto F>
class C_LuaScriptDeclareFunction3 : public script_detail::Publisher<R, F, A1, A2, A3> {
public:
    using script_detail::Publisher<R, F, A1, A2, A3>::Publisher;
};

template <class R, class A1, class A2, class A3, class A4, auto F>
class C_LuaScriptDeclareFunction4 : public script_detail::Publisher<R, F, A1, A2, A3, A4> {
public:
    using script_detail::Publisher<R, F, A1, A2, A3, A4>::Publisher;
};

template <class R, class A1, class A2, class A3, class A4, class A5, auto F>
class C_LuaScriptDeclareFunction5 : public script_detail::Publisher<R, F, A1, A2, A3, A4, A5> {
public:
    using script_detail::Publisher<R, F, A1, A2, A3, A4, A5>::Publisher;
};

template <class R, class A1, class A2, class A3, class A4, class A5, class A6, auto F>
class C_LuaScriptDeclareFunction6
    : public script_detail::Publisher<R, F, A1, A2, A3, A4, A5, A6> {
public:
    using script_detail::Publisher<R, F, A1, A2, A3, A4, A5, A6>::Publisher;
};

template <class R, class A1, class A2, class A3, class A4, class A5, class A6, class A7, auto F>
class C_LuaScriptDeclareFunction7
    : public script_detail::Publisher<R, F, A1, A2, A3, A4, A5, A6, A7> {
public:
    using script_detail::Publisher<R, F, A1, A2, A3, A4, A5, A6, A7>::Publisher;
};
