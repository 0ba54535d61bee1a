#include "logging/nv_qor_log.h"
#include "modules/host_module.h"
#include "modules/lua_arguments.h"
#include "modules/status.h"
#include "modules/trace_sink.h"

#include <windows.h>

namespace {

int WriteScriptLine(lua_State* state, int32_t level)
{
    const std::wstring message = ShownText(CheckText(state, 1));
    NV_QOR_LOG(level, L"[%s] %s", CallingScriptName(state).c_str(), message.c_str());
    return 0;
}

int LogDebug(lua_State* state)
{
    return WriteScriptLine(state, NvQorLogging::Debug);
}

int LogInfo(lua_State* state)
{
    return WriteScriptLine(state, NvQorLogging::Info);
}

int LogWarning(lua_State* state)
{
    return WriteScriptLine(state, NvQorLogging::Warning);
}

int LogError(lua_State* state)
{
    return WriteScriptLine(state, NvQorLogging::Error);
}

// The message is read before the status changes, so a bad argument leaves the status as it was.
int MetaSetFailed(lua_State* state)
{
    const std::wstring message = ShownText(OptText(state, 1));
    Status::Instance().SetFailed();
    NV_QOR_LOG(NvQorLogging::Fatal, L"[%s] %s", CallingScriptName(state).c_str(), message.c_str());
    return 0;
}

int MetaSetRebootNeeded(lua_State* state)
{
    const std::wstring message = ShownText(OptText(state, 1));
    Status::Instance().SetRebootNeeded();
    NV_QOR_LOG(NvQorLogging::Info, L"[%s] Reboot needed: %s", CallingScriptName(state).c_str(), message.c_str());
    return 0;
}

// Meta.AddTrace(kind, item, state[, reason]): a trace the clean-up found, for the run report; the state is
// "removed", "restart" (goes at the next restart) or "left".
int MetaAddTrace(lua_State* state)
{
    TraceOutcome trace;
    trace.kind = ShownText(CheckText(state, 1));
    trace.item = ShownText(CheckText(state, 2));
    const std::string_view name = CheckUtf8(state, 3);
    if (name == "removed") {
        trace.state = TraceOutcome::State::Removed;
    } else if (name == "restart") {
        trace.state = TraceOutcome::State::Restart;
    } else if (name == "left") {
        trace.state = TraceOutcome::State::Left;
    } else {
        return luaL_argerror(state, 3, "\"removed\", \"restart\" or \"left\" expected");
    }
    trace.reason = ShownText(OptText(state, 4));
    TraceSink::Record(std::move(trace));
    return 0;
}

int PushFailure(lua_State* state, DWORD error)
{
    lua_pushboolean(state, 0);
    lua_pushinteger(state, static_cast<lua_Integer>(error));
    return 2;
}

int AtomGlobalDelete(lua_State* state)
{
    const std::wstring name = CheckWideString(state, 1);
    const ATOM atom = ::GlobalFindAtomW(name.c_str());
    if (atom == 0) {
        lua_pushboolean(state, 0);
        return 1;
    }
    // GlobalDeleteAtom returns 0 both on success and on failure; only the last error tells them apart.
    ::SetLastError(ERROR_SUCCESS);
    ::GlobalDeleteAtom(atom);
    const DWORD error = ::GetLastError();
    if (error != ERROR_SUCCESS) {
        return PushFailure(state, error);
    }
    lua_pushboolean(state, 1);
    return 1;
}

int AtomGlobalExists(lua_State* state)
{
    const std::wstring name = CheckWideString(state, 1);
    lua_pushboolean(state, ::GlobalFindAtomW(name.c_str()) != 0);
    return 1;
}

int AtomGlobalAdd(lua_State* state)
{
    const std::wstring name = CheckWideString(state, 1);
    if (::GlobalAddAtomW(name.c_str()) == 0) {
        return PushFailure(state, ::GetLastError());
    }
    lua_pushboolean(state, 1);
    return 1;
}

const LuaConstant kNoConstants[] = {{nullptr, 0}};

const luaL_Reg kLogFunctions[] = {
    {"Debug", LogDebug}, {"Info", LogInfo}, {"Warning", LogWarning}, {"Error", LogError}, {nullptr, nullptr},
};

const luaL_Reg kMetaFunctions[] = {
    {"SetFailed", MetaSetFailed},
    {"SetRebootNeeded", MetaSetRebootNeeded},
    {"AddTrace", MetaAddTrace},
    {nullptr, nullptr},
};

const luaL_Reg kAtomFunctions[] = {
    {"GlobalDelete", AtomGlobalDelete},
    {"GlobalExists", AtomGlobalExists},
    {"GlobalAdd", AtomGlobalAdd},
    {nullptr, nullptr},
};

} // namespace

void RegisterLogModule(lua_State* state)
{
    RegisterHostModule(state, "Log", kLogFunctions, kNoConstants);
}

void RegisterMetaModule(lua_State* state)
{
    RegisterHostModule(state, "Meta", kMetaFunctions, kNoConstants);
}

void RegisterAtomModule(lua_State* state)
{
    RegisterHostModule(state, "Atom", kAtomFunctions, kNoConstants);
}
