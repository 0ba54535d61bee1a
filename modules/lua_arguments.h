#pragma once

#include <lua.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Argument reading and result pushing shared by the host modules. Arguments of a wrong type raise the
// standard Lua argument error; everything else is reported to the script by results.
//
// Lua raises its errors with longjmp, which skips the destructors of the C++ frames it leaves. A binding
// therefore checks all its arguments first (the readers below that return views or integers allocate
// nothing) and builds strings from them only afterwards; CheckWideString suits the last argument checked.

// A string argument as luaL_checklstring reads it (numbers become their text). The bytes stay valid while
// the argument is on the stack. Everything a host function passes to Windows (paths, key paths, value names,
// service names, masks, command lines) is a NUL-terminated string there, so a string with a NUL character
// inside would act on what precedes it: it raises the argument error instead.
std::string_view CheckUtf8(lua_State* state, int index);
// A string argument that is only shown (a log message), NUL characters allowed.
std::string_view CheckText(lua_State* state, int index);
std::string_view OptText(lua_State* state, int index);
// Such a text for a log line: NUL characters shown as "\0"; invalid UTF-8 gives the empty string.
std::wstring ShownText(std::string_view text);
// An optional string argument: empty when the argument is none or nil, read as a required one otherwise.
std::string_view OptUtf8(lua_State* state, int index);
// CheckUtf8 converted strictly from UTF-8: invalid UTF-8 gives the empty string.
std::wstring CheckWideString(lua_State* state, int index);
// An integer argument as luaL_checkinteger reads it, narrowed to its low 32 bits.
int32_t CheckInt32(lua_State* state, int index);
// An optional trailing integer: `fallback` when the argument is none or nil, read as a required one otherwise.
int32_t OptInt32(lua_State* state, int index, int32_t fallback);

// Pushes a boolean as the binding's one result; returns the result count.
int PushBoolean(lua_State* state, bool value);
// Pushes UTF-16 text as UTF-8; text that cannot be converted is pushed as the empty string.
void PushWideString(lua_State* state, std::wstring_view text);
// Pushes a new table holding the strings at keys 1 to n in list order.
void PushWideStringList(lua_State* state, const std::vector<std::wstring>& list);

// The file name of the script whose function called the running C function (one level up the call stack);
// empty when there is no calling level or its source name has no name part.
std::wstring CallingScriptName(lua_State* state);
