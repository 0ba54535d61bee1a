#include "engine/lua_uninstall_script.h"

#include "base/text_conversion.h"
#include "logging/nv_qor_log.h"
#include "modules/status.h"

#include <cstring>

bool LuaUninstallScript::Initialize()
{
    const bool loaded = LuaScript::Initialize();
    // Read even when loading failed: a half-run chunk may already have defined GetPriority.
    if (IsGlobalFunction("GetPriority") && CallLuaFunction("GetPriority")) {
        lua_State* state = State();
        if (lua_isinteger(state, -1)) {
            m_priority = static_cast<int32_t>(static_cast<uint32_t>(lua_tointeger(state, -1)));
        }
        lua_pop(state, 1);
    }
    return loaded;
}

bool LuaUninstallScript::IsValidScript()
{
    if (IsGlobalFunction("GetProductId") && IsGlobalFunction("DetectProduct") && IsGlobalFunction("CleanupProduct")) {
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: '%s' is not a valid uninstall script, treating it as library",
               NV_LOG_FUNCTION, ScriptPath().c_str());
    return false;
}

std::wstring LuaUninstallScript::GetProductId()
{
    return CallForString("GetProductId");
}

bool LuaUninstallScript::DetectProduct()
{
    return CallForTrue("DetectProduct");
}

bool LuaUninstallScript::CleanupProduct()
{
    return CallForTrue("CleanupProduct");
}

std::wstring LuaUninstallScript::GetProductDisplayName()
{
    return IsGlobalFunction("GetProductDisplayName") ? CallForString("GetProductDisplayName") : std::wstring();
}

bool LuaUninstallScript::CallLuaFunction(const char* name)
{
    lua_State* state = State();
    if (state == nullptr) {
        return false;
    }
    // The lookup is limited too: a script may give its globals an __index that never returns.
    const ScriptClock::Limit limit(
        state, std::strcmp(name, "CleanupProduct") == 0 ? Limits().cleanup : Limits().detection, name);
    int status = PushGlobal(name);
    if (status == LUA_OK && lua_type(state, -1) != LUA_TFUNCTION) {
        lua_pop(state, 1);
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Could not find lua function '%S'", NV_LOG_FUNCTION, name);
        return false;
    }
    if (status == LUA_OK) {
        status = lua_pcall(state, 0, 1, 0);
    }
    if (status == LUA_OK) {
        return true;
    }
    Status::Instance().SetFailed();
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Error %d calling '%S'", NV_LOG_FUNCTION, status, name);
    DumpLuaStack(state);
    // Nothing reads the error value after the dump; left there it would pile up with every failed call.
    lua_pop(state, 1);
    return false;
}

bool LuaUninstallScript::IsGlobalFunction(const char* name)
{
    lua_State* state = State();
    if (state == nullptr) {
        return false;
    }
    // A lookup that raises an error (a strict __index on the globals) means the function is not there.
    const ScriptClock::Limit limit(state, Limits().detection, name);
    const bool found = PushGlobal(name) == LUA_OK && lua_type(state, -1) == LUA_TFUNCTION;
    lua_pop(state, 1);
    return found;
}

std::wstring LuaUninstallScript::CallForString(const char* name)
{
    if (!CallLuaFunction(name)) {
        return {};
    }
    const std::string text = GetTopString();
    lua_pop(State(), 1);
    return Utf8ToWide(text);
}

bool LuaUninstallScript::CallForTrue(const char* name)
{
    if (!CallLuaFunction(name)) {
        return false;
    }
    lua_State* state = State();
    const bool result = lua_type(state, -1) == LUA_TBOOLEAN && lua_toboolean(state, -1);
    lua_pop(state, 1);
    return result;
}
