#include "tests/modules/system_test_support.h"

#include "base/text_conversion.h"
#include "logging/nv_qor_log.h"
#include "modules/host_module.h"
#include "platform/paths.h"
#include "tests/harness/wait_for.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

constexpr wchar_t kLogComponent[] = L"ModuleSystemTests";
const std::wstring kServiceProgram = BuildPath(NV_TEST_SERVICE_PROGRAM);

std::wstring LogFilePath()
{
    return ProgramDataFolder() + L"\\Norvane\\Log\\" + kLogComponent + L"\\" + kLogComponent + L".log";
}

// Every line of the run goes into one file, large enough never to rotate.
class LogEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        HKEY key = nullptr;
        const std::wstring config = std::wstring(L"SOFTWARE\\Norvane\\QOR\\Logging\\") + kLogComponent;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, config.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr) == ERROR_SUCCESS) {
            const DWORD sizeKb = 64 * 1024;
            ::RegSetValueExW(key, L"LogMaxSizeKB", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&sizeKb),
                             sizeof(sizeKb));
            ::RegCloseKey(key);
        }
        ::DeleteFileW(LogFilePath().c_str());
        NvQorLogging::OpenLog(kLogComponent, kLogComponent, NvQorLogging::Verbose, 0);
    }
    void TearDown() override { NvQorLogging::CloseLog(); }
};

const testing::Environment* const g_logEnvironment = testing::AddGlobalTestEnvironment(new LogEnvironment);

UniqueServiceHandle OpenServiceManager()
{
    return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

UniqueServiceHandle OpenTestService(const std::wstring& name)
{
    const UniqueServiceHandle manager = OpenServiceManager();
    return UniqueServiceHandle(::OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
}

// The module finds a process's executable through its module list, which a just-created process does not
// have yet.
void WaitUntilModulesReadable(DWORD processId)
{
    EXPECT_TRUE(NvTest::WaitFor(30000, "the module list of process " + std::to_string(processId), [processId] {
        const UniqueSnapshot modules(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
        MODULEENTRY32W module{};
        module.dwSize = sizeof(module);
        return modules && ::Module32FirstW(modules.get(), &module);
    }));
}

std::string ReadLog()
{
    NvQorLogging::FlushLog();
    return WideToUtf8(ReadUtf16File(LogFilePath()));
}

} // namespace

ScriptState::ScriptState() : m_state(luaL_newstate())
{
    luaL_openlibs(m_state);
    RegisterHostModules(m_state);
}

ScriptState::~ScriptState()
{
    lua_close(m_state);
}

std::string ScriptState::Run(const std::string& chunk)
{
    const int base = lua_gettop(m_state);
    if (luaL_loadbufferx(m_state, chunk.data(), chunk.size(), "=test", nullptr) != LUA_OK ||
        lua_pcall(m_state, 0, LUA_MULTRET, 0) != LUA_OK) {
        const std::string message = std::string("error: ") + luaL_tolstring(m_state, -1, nullptr);
        lua_settop(m_state, base);
        return message;
    }
    std::string results;
    for (int index = base + 1; index <= lua_gettop(m_state); ++index) {
        results += (results.empty() ? "" : ", ") + std::string(luaL_tolstring(m_state, index, nullptr));
        lua_pop(m_state, 1);
    }
    lua_settop(m_state, base);
    return results;
}

LogWindow::LogWindow() : m_start(ReadLog().size()) {}

std::string LogWindow::Text() const
{
    const std::string text = ReadLog();
    return m_start < text.size() ? text.substr(m_start) : std::string();
}

TempFolder::TempFolder()
{
    static unsigned count = 0;
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    m_path = MakePath(std::wstring(temp, length),
                      L"nv-system-tests-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(count++));
    CreateDirectoryChain(m_path, nullptr);
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string LuaString(const std::wstring& text)
{
    std::string literal = "\"";
    for (const char c : WideToUtf8(text)) {
        if (c == '\\' || c == '"') {
            literal += '\\';
        }
        literal += c;
    }
    return literal + "\"";
}

std::wstring BuildPath(const char* unixPath)
{
    std::wstring path = L"Z:" + std::wstring(unixPath, unixPath + std::char_traits<char>::length(unixPath));
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

bool CopyInto(const std::wstring& source, const std::wstring& destination)
{
    std::wstring folder;
    std::wstring name;
    return SplitPath(destination, folder, name) && CreateDirectoryChain(folder, nullptr) &&
           ::CopyFileW(source.c_str(), destination.c_str(), FALSE);
}

std::wstring ReadUtf16File(const std::wstring& path)
{
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    std::copy_n(bytes.data(), text.size() * sizeof(wchar_t), reinterpret_cast<char*>(text.data()));
    return text;
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const std::wstring& value) : m_name(name)
{
    ::SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnvironment::~ScopedEnvironment()
{
    ::SetEnvironmentVariableW(m_name, nullptr);
}

RunningProgram::RunningProgram(const std::wstring& path)
{
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                         &startup, &created)) {
        m_process.reset(created.hProcess);
        const UniqueHandle thread(created.hThread);
        WaitUntilModulesReadable(created.dwProcessId);
    } else {
        m_startError = ::GetLastError();
    }
}

RunningProgram::~RunningProgram()
{
    if (m_process && !HasEnded(0)) {
        ::TerminateProcess(m_process.get(), 1);
        ::WaitForSingleObject(m_process.get(), 5000);
    }
}

bool RunningProgram::HasEnded(DWORD waitMs) const
{
    return ::WaitForSingleObject(m_process.get(), waitMs) == WAIT_OBJECT_0;
}

DWORD RunningProgram::ExitCode() const
{
    DWORD code = 0;
    ::GetExitCodeProcess(m_process.get(), &code);
    return code;
}

TestService::TestService(const std::wstring& name, const std::wstring& dependsOn) : m_name(name)
{
    const UniqueServiceHandle manager = OpenServiceManager();
    const std::wstring binary = L"\"" + kServiceProgram + L"\"";
    // The dependency list is a multi-string: each name ended by a NUL, and one more NUL.
    const std::wstring dependencies = dependsOn.empty() ? std::wstring() : dependsOn + L'\0';
    const UniqueServiceHandle service(
        ::CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                         SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary.c_str(), nullptr, nullptr,
                         dependencies.empty() ? nullptr : dependencies.c_str(), nullptr, nullptr));
    EXPECT_TRUE(service) << "CreateService " << WideToUtf8(name) << ": " << ::GetLastError();
}

TestService::~TestService()
{
    const UniqueServiceHandle service = OpenTestService(m_name);
    if (!service) {
        return;
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                               &needed) &&
        status.dwProcessId != 0) {
        const UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), 5000);
    }
    ::DeleteService(service.get());
}

::testing::AssertionResult TestService::Start(const wchar_t* mode)
{
    const UniqueServiceHandle service = OpenTestService(m_name);
    const wchar_t* arguments[] = {m_name.c_str(), mode};
    if (!::StartServiceW(service.get(), mode ? 2 : 0, mode ? arguments : nullptr)) {
        return ::testing::AssertionFailure() << "StartServiceW failed: " << ::GetLastError();
    }
    // The service control manager reports the start before the service's process says it is running.
    return NvTest::WaitFor(30000, "the service to run", [this](std::string& seen) {
        const DWORD state = State();
        seen = "state " + std::to_string(state);
        return state == SERVICE_RUNNING;
    });
}

bool TestService::Exists() const
{
    return static_cast<bool>(OpenTestService(m_name));
}

DWORD TestService::State() const
{
    const UniqueServiceHandle service = OpenTestService(m_name);
    SERVICE_STATUS status{};
    return service && ::QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

std::wstring TestService::Key() const
{
    return L"SYSTEM\\CurrentControlSet\\Services\\" + m_name;
}

std::wstring ProgramDataFolder()
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::ExpandEnvironmentStringsW(L"%ProgramData%", buffer, MAX_PATH);
    return length > 0 && length <= MAX_PATH ? std::wstring(buffer) : std::wstring();
}
