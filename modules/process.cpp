#include "engine/host_module.h"
#include "logging/nv_qor_log.h"
#include "modules/lua_arguments.h"
#include "platform/paths.h"
#include "platform/privilege.h"
#include "platform/program_trust.h"
#include "platform/text_conversion.h"
#include "platform/unique_resource.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr wchar_t kTerminateLogName[] = L"Lua::Process::TerminateProcesses";
constexpr DWORD kTerminationWaitMs = 10000;
constexpr DWORD kDefaultWaitMs = 30000;
constexpr DWORD kDefaultCreationFlags = DETACHED_PROCESS;

using ProcessMatch = bool (*)(const std::wstring& path, const std::wstring& pattern);

bool HasName(const std::wstring& path, const std::wstring& name)
{
    std::wstring directory;
    std::wstring fileName;
    return SplitPath(path, directory, fileName) && ::_wcsicmp(fileName.c_str(), name.c_str()) == 0;
}

bool HasNameMatchingMask(const std::wstring& path, const std::wstring& mask)
{
    std::wstring directory;
    std::wstring fileName;
    return SplitPath(path, directory, fileName) && MatchesMask(fileName, mask, false);
}

// The executable of a process is the first module of its module snapshot; empty when it cannot be read,
// for example for processes that have already exited or are protected.
std::wstring ExecutablePath(DWORD processId)
{
    const UniqueSnapshot modules(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (!modules) {
        return {};
    }
    MODULEENTRY32W module{};
    module.dwSize = sizeof(module);
    if (!::Module32FirstW(modules.get(), &module)) {
        return {};
    }
    return module.szExePath;
}

// WaitForMultipleObjects takes at most MAXIMUM_WAIT_OBJECTS handles, so larger sets are waited for in groups
// that share one deadline.
void WaitForAll(const std::vector<UniqueHandle>& processes, DWORD timeoutMs)
{
    const DWORD startTick = ::GetTickCount();
    for (size_t first = 0; first < processes.size(); first += MAXIMUM_WAIT_OBJECTS) {
        const DWORD elapsed = ::GetTickCount() - startTick;
        if (elapsed >= timeoutMs) {
            return;
        }
        std::vector<HANDLE> group;
        const size_t end = std::min(processes.size(), first + MAXIMUM_WAIT_OBJECTS);
        for (size_t i = first; i < end; ++i) {
            group.push_back(processes[i].get());
        }
        ::WaitForMultipleObjects(static_cast<DWORD>(group.size()), group.data(), TRUE, timeoutMs - elapsed);
    }
}

// Ends every process whose executable matches the pattern, except the tool's own process: a script that
// clears a product folder must not end the run when the tool was started from inside that folder.
bool TerminateProcesses(const std::wstring& pattern, ProcessMatch matches)
{
    const UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create tool help snapshot : %ul", kTerminateLogName,
                   ::GetLastError());
        return false;
    }
    const NvPrivilege debugPrivilege(L"SeDebugPrivilege");
    if (!debugPrivilege.IsEnabled()) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Failed to get debug privilege", kTerminateLogName);
    }
    const DWORD ownProcessId = ::GetCurrentProcessId();
    std::vector<UniqueHandle> terminated;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        const DWORD processId = entry.th32ProcessID;
        const std::wstring path = ExecutablePath(processId);
        if (path.empty() || !matches(path, pattern)) {
            continue;
        }
        if (processId == ownProcessId) {
            NV_QOR_LOG(NvQorLogging::Warning, L"%s: Not terminating own process [%lu] '%s'", kTerminateLogName,
                       processId, path.c_str());
            continue;
        }
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Terminating process [%lu] '%s'", kTerminateLogName, processId,
                   path.c_str());
        UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
        if (!process) {
            NV_QOR_LOG(NvQorLogging::Warning, L"%s: Failed to open process: %lu", kTerminateLogName, ::GetLastError());
            continue;
        }
        if (!::TerminateProcess(process.get(), 0)) {
            NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to terminate: %lu", kTerminateLogName, ::GetLastError());
            continue;
        }
        terminated.push_back(std::move(process));
    }
    WaitForAll(terminated, kTerminationWaitMs);
    return true;
}

int Terminate(lua_State* state, ProcessMatch matches)
{
    const std::wstring pattern = CheckWideString(state, 1);
    lua_pushboolean(state, TerminateProcesses(pattern, matches));
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
    return Terminate(state, HasName);
}

int TerminateByNameMask(lua_State* state)
{
    return Terminate(state, HasNameMatchingMask);
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

struct ProgramLaunch {
    ProgramLaunch(std::string_view path, std::string_view arguments, DWORD waitMs, DWORD flags,
                  std::string_view workingFolder)
        : path(Utf8ToWide(path)), arguments(Utf8ToWide(arguments)), waitMs(waitMs), flags(flags),
          workingFolder(Utf8ToWide(workingFolder))
    {
    }

    std::wstring path;
    std::wstring arguments;
    DWORD waitMs;
    DWORD flags;
    std::wstring workingFolder;
};

const wchar_t* NoneWhenEmpty(const std::wstring& text)
{
    return text.empty() ? nullptr : text.c_str();
}

// The flags that suit a program the tool waits for: its console, window and priority. Debugging, suspended,
// protected or extended starts would hang the wait or need data this call does not pass; realtime priority
// could starve the system while the tool waits.
constexpr DWORD kAllowedCreationFlags = DETACHED_PROCESS | CREATE_NEW_CONSOLE | CREATE_NO_WINDOW |
                                        CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP |
                                        CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS | IDLE_PRIORITY_CLASS |
                                        HIGH_PRIORITY_CLASS | BELOW_NORMAL_PRIORITY_CLASS | ABOVE_NORMAL_PRIORITY_CLASS;

// The program path is the application name, so it is not searched for along PATH. The program starts only from
// a folder tree that nobody but the administrators and the system can change, and its file is held until the
// process exists. Returns the process handle, or none with the reason in GetLastError.
UniqueHandle LaunchProgram(const ProgramLaunch& launch)
{
    constexpr wchar_t logName[] = L"`anonymous-namespace'::LaunchProgram";
    if (const DWORD refused = launch.flags & ~kAllowedCreationFlags; refused != 0) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Not starting '%s': creation flags 0x%lx are not allowed", logName,
                   launch.path.c_str(), refused);
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return UniqueHandle();
    }
    NvProgramTrust::TrustedProgram program;
    std::wstring refusal;
    if (!program.Open(launch.path, refusal)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Not starting '%s': %s", logName, launch.path.c_str(), refusal.c_str());
        ::SetLastError(ERROR_ACCESS_DENIED);
        return UniqueHandle();
    }
    std::wstring commandLine = L"\"" + program.LaunchPath() + L"\"";
    if (!launch.arguments.empty()) {
        commandLine += L" " + launch.arguments;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(program.LaunchPath().c_str(), commandLine.data(), nullptr, nullptr, FALSE, launch.flags,
                          nullptr, NoneWhenEmpty(launch.workingFolder), &startup, &created)) {
        return UniqueHandle();
    }
    const UniqueHandle thread(created.hThread);
    return UniqueHandle(created.hProcess);
}

bool RunToCompletion(const ProgramLaunch& launch)
{
    constexpr wchar_t logName[] = L"Lua::Process::StartProcessWithArgumentsAndWaitForCompletion";
    NV_QOR_LOG(NvQorLogging::Info,
               L"%s: Create process:'%s' with args:'%s', mode:0x%x, wait timeout(msecs):%lu, working dir:%s", logName,
               launch.path.c_str(), launch.arguments.c_str(), launch.flags, launch.waitMs,
               launch.workingFolder.c_str());
    const UniqueHandle process = LaunchProgram(launch);
    if (!process) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create process : %lu", logName, ::GetLastError());
        return false;
    }
    const DWORD waited = ::WaitForSingleObject(process.get(), launch.waitMs);
    if (waited != WAIT_OBJECT_0) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Process wait failed : %lu, %lu", logName, waited, ::GetLastError());
        return false;
    }
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.get(), &exitCode)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Couldn't read exit code : %lu", logName, ::GetLastError());
        return false;
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Process completed, exit code : %lu (as int:%d)", logName, exitCode,
               static_cast<int>(exitCode));
    return exitCode == 0;
}

bool Start(const ProgramLaunch& launch)
{
    constexpr wchar_t logName[] = L"Lua::Process::StartProcessWithArguments";
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Create process:'%s' with args:'%s', mode:0x%x, working dir:%s", logName,
               launch.path.c_str(), launch.arguments.c_str(), launch.flags, launch.workingFolder.c_str());
    if (!LaunchProgram(launch)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create process : %lu", logName, ::GetLastError());
        return false;
    }
    return true;
}

int StartProcessAndWaitForCompletion(lua_State* state)
{
    const std::string_view path = CheckUtf8(state, 1);
    OptionalArguments optional(state, 2);
    const std::string_view arguments = optional.String();
    const DWORD waitMs = optional.Integer(kDefaultWaitMs);
    const DWORD flags = optional.Integer(kDefaultCreationFlags);
    const std::string_view workingFolder = optional.String();
    return PushBoolean(state, RunToCompletion(ProgramLaunch(path, arguments, waitMs, flags, workingFolder)));
}

int StartProcess(lua_State* state)
{
    const std::string_view path = CheckUtf8(state, 1);
    OptionalArguments optional(state, 2);
    const std::string_view arguments = optional.String();
    const DWORD flags = optional.Integer(kDefaultCreationFlags);
    const std::string_view workingFolder = optional.String();
    return PushBoolean(state, Start(ProgramLaunch(path, arguments, kDefaultWaitMs, flags, workingFolder)));
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
