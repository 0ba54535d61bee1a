#include "base/text_conversion.h"
#include "modules/host_module.h"
#include "modules/lua_arguments.h"
#include "platform/paths.h"
#include "platform/processes.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace {

constexpr DWORD kDefaultWaitMs = 30000;
constexpr DWORD kDefaultCreationFlags = DETACHED_PROCESS;

int Terminate(lua_State* state, NvProcesses::Match matches)
{
    const std::wstring pattern = CheckWideString(state, 1);
    lua_pushboolean(state, NvProcesses::TerminateMatching(pattern, matches));
    return 1;
}

int TerminateAllFromPath(lua_State* state)
{
    return Terminate(state, IsBelowFolder);
}

int TerminateByPath(lua_State* state)
{
    return Terminate(state, IsSamePath);
}

int TerminateByName(lua_State* state)
{
    return Terminate(state, NvProcesses::HasName);
}

int TerminateByNameMask(lua_State* state)
{
    return Terminate(state, NvProcesses::HasNameMatchingMask);
}

// The optional arguments after the program path, read strictly in order: the first one that is not given
// ends the reading, so it and every later one keep their defaults even when a later position holds a value.
// Only views and integers are read, so a wrong type raises its error before any C++ object exists.
class OptionalArguments {
public:
    OptionalArguments(lua_State* state, int firstIndex) : m_state(state), m_index(firstIndex) {}

    std::string_view String() { return NextIsGiven() ? CheckUtf8(m_state, m_index++) : std::string_view(); }
    // Only the low 32 bits count, as an unsigned value: -1 becomes INFINITE.
    DWORD Integer(DWORD fallback)
    {
        return NextIsGiven() ? static_cast<DWORD>(CheckInt32(m_state, m_index++)) : fallback;
    }

private:
    bool NextIsGiven()
    {
        m_ended = m_ended || lua_isnoneornil(m_state, m_index);
        return !m_ended;
    }

    lua_State* m_state;
    int m_index;
    bool m_ended = false;
};

int StartProcessAndWaitForCompletion(lua_State* state)
{
    const std::string_view path = CheckUtf8(state, 1);
    OptionalArguments optional(state, 2);
    const std::string_view arguments = optional.String();
    const DWORD waitMs = optional.Integer(kDefaultWaitMs);
    const DWORD flags = optional.Integer(kDefaultCreationFlags);
    const std::string_view workingFolder = optional.String();
    return PushBoolean(state, NvProcesses::RunToCompletion(
                                  {Utf8ToWide(path), Utf8ToWide(arguments), waitMs, flags, Utf8ToWide(workingFolder)}));
}

int StartProcess(lua_State* state)
{
    const std::string_view path = CheckUtf8(state, 1);
    OptionalArguments optional(state, 2);
    const std::string_view arguments = optional.String();
    const DWORD flags = optional.Integer(kDefaultCreationFlags);
    const std::string_view workingFolder = optional.String();
    return PushBoolean(state, NvProcesses::Start({Utf8ToWide(path), Utf8ToWide(arguments), kDefaultWaitMs, flags,
                                                  Utf8ToWide(workingFolder)}));
}

const luaL_Reg kProcessFunctions[] = {
    {"TerminateAllFromPath", TerminateAllFromPath},
    {"TerminateByPath", TerminateByPath},
    {"TerminateByName", TerminateByName},
    {"TerminateByNameMask", TerminateByNameMask},
    {"StartProcessAndWaitForCompletion", StartProcessAndWaitForCompletion},
    {"StartProcess", StartProcess},
    {nullptr, nullptr},
};

const LuaConstant kProcessConstants[] = {
    {"CreationFlags_DEBUG_PROCESS", 0x1},
    {"CreationFlags_DEBUG_ONLY_THIS_PROCESS", 0x2},
    {"CreationFlags_CREATE_SUSPENDED", 0x4},
    {"CreationFlags_DETACHED_PROCESS", 0x8},
    {"CreationFlags_CREATE_NEW_CONSOLE", 0x10},
    {"CreationFlags_NORMAL_PRIORITY_CLASS", 0x20},
    {"CreationFlags_IDLE_PRIORITY_CLASS", 0x40},
    {"CreationFlags_HIGH_PRIORITY_CLASS", 0x80},
    {"CreationFlags_REALTIME_PRIORITY_CLASS", 0x100},
    {"CreationFlags_CREATE_NEW_PROCESS_GROUP", 0x200},
    {"CreationFlags_CREATE_UNICODE_ENVIRONMENT", 0x400},
    {"CreationFlags_CREATE_SEPARATE_WOW_VDM", 0x800},
    {"CreationFlags_CREATE_SHARED_WOW_VDM", 0x1000},
    {"CreationFlags_CREATE_FORCEDOS", 0x2000},
    {"CreationFlags_BELOW_NORMAL_PRIORITY_CLASS", 0x4000},
    {"CreationFlags_ABOVE_NORMAL_PRIORITY_CLASS", 0x8000},
    {"CreationFlags_INHERIT_PARENT_AFFINITY", 0x10000},
    {"CreationFlags_INHERIT_CALLER_PRIORITY", 0x20000},
    {"CreationFlags_CREATE_PROTECTED_PROCESS", 0x40000},
    {"CreationFlags_EXTENDED_STARTUPINFO_PRESENT", 0x80000},
    {"CreationFlags_PROCESS_MODE_BACKGROUND_BEGIN", 0x100000},
    {"CreationFlags_PROCESS_MODE_BACKGROUND_END", 0x200000},
    {"CreationFlags_CREATE_BREAKAWAY_FROM_JOB", 0x1000000},
    {"CreationFlags_CREATE_PRESERVE_CODE_AUTHZ_LEVEL", 0x2000000},
    {"CreationFlags_CREATE_DEFAULT_ERROR_MODE", 0x4000000},
    {"CreationFlags_CREATE_NO_WINDOW", 0x8000000},
    {"CreationFlags_PROFILE_USER", 0x10000000},
    {"CreationFlags_PROFILE_KERNEL", 0x20000000},
    {"CreationFlags_PROFILE_SERVER", 0x40000000},
    {"CreationFlags_CREATE_IGNORE_SYSTEM_DEFAULT", 0x80000000},
    {nullptr, 0},
};

} // namespace

void RegisterProcessModule(lua_State* state)
{
    RegisterHostModule(state, "Process", kProcessFunctions, kProcessConstants);
}
