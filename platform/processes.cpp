#include "platform/processes.h"

#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"
#include "platform/paths.h"
#include "platform/privilege.h"
#include "platform/program_trust.h"

#include <tlhelp32.h>

#include <algorithm>
#include <vector>

using NvProcesses::Launch;

namespace {

constexpr wchar_t kTerminateLogName[] = L"Lua::Process::TerminateProcesses";
constexpr DWORD kTerminationWaitMs = 10000;

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
UniqueHandle LaunchProgram(const Launch& launch)
{
    if (const DWORD refused = launch.flags & ~kAllowedCreationFlags; refused != 0) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Not starting '%s': creation flags 0x%lx are not allowed", NV_LOG_FUNCTION,
                   launch.path.c_str(), refused);
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return UniqueHandle();
    }
    NvProgramTrust::TrustedProgram program;
    std::wstring refusal;
    if (!program.Open(launch.path, refusal)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Not starting '%s': %s", NV_LOG_FUNCTION, launch.path.c_str(),
                   refusal.c_str());
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

} // namespace

namespace NvProcesses {

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

// Ends every process whose executable matches the pattern, except the tool's own process: a script that
// clears a product folder must not end the run when the tool was started from inside that folder.
bool TerminateMatching(const std::wstring& pattern, Match matches)
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

bool RunToCompletion(const Launch& launch)
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

bool Start(const Launch& launch)
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

} // namespace NvProcesses
