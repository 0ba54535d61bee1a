#include "modules/host_module.h"

#include "modules/script_clock.h"

namespace {

// Every host function runs through this wrapper, so that its own waits do not count against the script's
// time limit. It calls the function in place (not through lua_call), so argument errors still name it.
int CallHostFunction(lua_State* state)
{
    const lua_CFunction function = lua_tocfunction(state, lua_upvalueindex(1));
    ScriptClock::EnterHost(state);
    const int results = function(state);
    ScriptClock::LeaveHost(state);
    return results;
}

} // namespace

void RegisterHostModule(lua_State* state, const char* name, const luaL_Reg* functions, const LuaConstant* constants)
{
    for (const LuaConstant* constant = constants; constant->name != nullptr; ++constant) {
        lua_pushinteger(state, constant->value);
        lua_setglobal(state, constant->name);
    }
    lua_newtable(state);
    for (const luaL_Reg* function = functions; function->name != nullptr; ++function) {
        lua_pushcfunction(state, function->func);
        lua_pushcclosure(state, CallHostFunction, 1);
        lua_setfield(state, -2, function->name);
    }
    lua_setglobal(state, name);
}

void RegisterHostModules([[maybe_unused]] lua_State* state)
{
#define NV_REGISTER_HOST_MODULE(name) Register##name##Module(state);
    NV_HOST_MODULES(NV_REGISTER_HOST_MODULE)
#undef NV_REGISTER_HOST_MODULE
}
