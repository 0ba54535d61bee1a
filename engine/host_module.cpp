#include "engine/host_module.h"

void RegisterHostModule(lua_State* state, const char* name, const luaL_Reg* functions, const LuaConstant* constants)
{
    for (const LuaConstant* constant = constants; constant->name != nullptr; ++constant) {
        lua_pushinteger(state, constant->value);
        lua_setglobal(state, constant->name);
    }
    lua_newtable(state);
    luaL_setfuncs(state, functions, 0);
    lua_setglobal(state, name);
}

void RegisterHostModules([[maybe_unused]] lua_State* state)
{
#define NV_REGISTER_HOST_MODULE(name) Register##name##Module(state);
    NV_HOST_MODULES(NV_REGISTER_HOST_MODULE)
#undef NV_REGISTER_HOST_MODULE
}
