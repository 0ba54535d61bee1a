#pragma once

#include <lua.hpp>

// An integer constant that a host module sets as a plain global, such as KEY_WOW64_32KEY.
struct LuaConstant {
    const char* name;
    lua_Integer value;
};

// Registers one host module: its constants as globals first, then its functions as the global table `name`.
// Both tables end with a null name. Each function is wrapped so that the time spent inside it does not count
// against the calling script's time limit (ScriptClock).
void RegisterHostModule(lua_State* state, const char* name, const luaL_Reg* functions, const LuaConstant* constants);

// The host modules in the order in which every Lua state receives them:
// Reg, Msi, Log, FileSystem, Process, Service, Win32Driver, Atom, Path, Meta, Cert.
// Each module is one file in modules/ that ends with its luaL_Reg table, its LuaConstant table and
// `void Register<Name>Module(lua_State*)`, which calls RegisterHostModule. A module joins every state by
// adding X(<Name>) here at its place in that order.
#define NV_HOST_MODULES(X) \
    X(Reg)                 \
    X(Msi)                 \
    X(Log)                 \
    X(FileSystem)          \
    X(Process)             \
    X(Service)             \
    X(Win32Driver)         \
    X(Atom)                \
    X(Path)                \
    X(Meta)                \
    X(Cert)

#define NV_DECLARE_HOST_MODULE(name) void Register##name##Module(lua_State* state);
NV_HOST_MODULES(NV_DECLARE_HOST_MODULE)
#undef NV_DECLARE_HOST_MODULE

// Runs inside a protected call while a state is prepared, so a module may raise Lua errors.
void RegisterHostModules(lua_State* state);
