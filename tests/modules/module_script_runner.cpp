// Runs Lua test scripts in states that carry the host modules, plus a `TestHost` table for what the modules
// themselves cannot do: reading the log, the removal status, creating keys and values of every type,
// access lists, files and open handles. Exit code 0 when every script ran to its end without an error.
#include "base/text_conversion.h"
#include "base/unique_resource.h"
#include "engine/lua_script.h"
#include "logging/nv_qor_log.h"
#include "modules/status.h"
#include "platform/paths.h"
#include "tests/harness/registry_plants.h"

#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

std::wstring g_logFile;
std::map<lua_Integer, UniqueFile> g_openFiles;
lua_Integer g_nextFileId = 1;

std::wstring WideArgument(lua_State* state, int index)
{
    size_t length = 0;
    const char* text = luaL_checklstring(state, index, &length);
    return Utf8ToWide(std::string_view(text, length));
}

HKEY RootArgument(lua_State* state, int index)
{
    switch (luaL_checkinteger(state, index)) {
    case 1:
        return HKEY_CLASSES_ROOT;
    case 2:
        return HKEY_USERS;
    default:
        return HKEY_LOCAL_MACHINE;
    }
}

REGSAM ViewArgument(lua_State* state, int index)
{
    return static_cast<REGSAM>(luaL_optinteger(state, index, 0));
}

int PushResult(lua_State* state, LSTATUS status)
{
    lua_pushinteger(state, status);
    return 1;
}

// The whole log file so far, as UTF-8 (the file is UTF-16 with a byte-order mark).
int LogText(lua_State* state)
{
    NvQorLogging::FlushLog();
    std::ifstream file(std::filesystem::path(g_logFile), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::wstring text(bytes.size() / 2, L'\0');
    memcpy(text.data(), bytes.data(), text.size() * 2);
    if (!text.empty() && text.front() == 0xFEFF) {
        text.erase(0, 1);
    }
    const std::string utf8 = WideToUtf8(text);
    lua_pushlstring(state, utf8.data(), utf8.size());
    return 1;
}

int IsRebootNeeded(lua_State* state)
{
    lua_pushboolean(state, Status::Instance().IsRebootNeeded());
    return 1;
}

int IsFailed(lua_State* state)
{
    lua_pushboolean(state, Status::Instance().IsFailed());
    return 1;
}

int ResetStatus(lua_State*)
{
    Status::Instance().Reset();
    return 0;
}

// CreateKey(root, path [, view]) -> Win32 error code; creates every missing level.
int CreateKey(lua_State* state)
{
    HKEY root = RootArgument(state, 1);
    const std::wstring path = WideArgument(state, 2);
    UniqueKey key;
    return PushResult(state, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS | ViewArgument(state, 3), nullptr, key.put(), nullptr));
}

// SetValue(root, path, name, type, data bytes [, view]) -> Win32 error code; the key must exist.
// A subkey whose name may hold NUL characters, below an existing key.
int CreateCountedKey(lua_State* state)
{
    HKEY root = RootArgument(state, 1);
    const std::wstring path = WideArgument(state, 2);
    const std::wstring name = WideArgument(state, 3);
    UniqueKey parent;
    if (const LSTATUS status = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, parent.put());
        status != ERROR_SUCCESS) {
        return PushResult(state, status);
    }
    const UniqueKey key(NvTest::CreateCountedKey(parent.get(), name));
    return PushResult(state, key ? ERROR_SUCCESS : ERROR_INVALID_NAME);
}

// A registry link at the path to the key with the native name given.
int CreateLink(lua_State* state)
{
    HKEY root = RootArgument(state, 1);
    const std::wstring path = WideArgument(state, 2);
    const std::wstring target = WideArgument(state, 3);
    return PushResult(state, NvTest::CreateRegistryLink(root, path, target));
}

int SetValue(lua_State* state)
{
    HKEY root = RootArgument(state, 1);
    const std::wstring path = WideArgument(state, 2);
    const std::wstring name = WideArgument(state, 3);
    const auto type = static_cast<DWORD>(luaL_checkinteger(state, 4));
    size_t size = 0;
    const char* data = luaL_checklstring(state, 5, &size);
    UniqueKey key;
    LSTATUS status = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE | ViewArgument(state, 6), key.put());
    if (status == ERROR_SUCCESS) {
        status = ::RegSetValueExW(key.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data),
                                  static_cast<DWORD>(size));
    }
    return PushResult(state, status);
}

// SetKeyDacl(root, path, sddl [, view]) -> Win32 error code.
int SetKeyDacl(lua_State* state)
{
    HKEY root = RootArgument(state, 1);
    const std::wstring path = WideArgument(state, 2);
    const std::wstring sddl = WideArgument(state, 3);
    UniqueLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
        return PushResult(state, static_cast<LSTATUS>(::GetLastError()));
    }
    UniqueKey key;
    LSTATUS status = ::RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC | ViewArgument(state, 4), key.put());
    if (status == ERROR_SUCCESS) {
        status = ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.get());
    }
    return PushResult(state, status);
}

// KeySddl(root, path [, view]) -> owner and DACL as SDDL text, or "" when they cannot be read.
int KeySddl(lua_State* state)
{
    HKEY root = RootArgument(state, 1);
    const std::wstring path = WideArgument(state, 2);
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    UniqueKey key;
    std::wstring text;
    if (::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | ViewArgument(state, 3), key.put()) == ERROR_SUCCESS) {
        DWORD size = 0;
        ::RegGetKeySecurity(key.get(), what, nullptr, &size);
        std::string descriptor(size, '\0');
        UniqueLocal converted;
        if (::RegGetKeySecurity(key.get(), what, descriptor.data(), &size) == ERROR_SUCCESS &&
            ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                descriptor.data(), SDDL_REVISION_1, what, reinterpret_cast<LPWSTR*>(converted.put()), nullptr)) {
            text = static_cast<const wchar_t*>(converted.get());
        }
    }
    const std::string utf8 = WideToUtf8(text);
    lua_pushlstring(state, utf8.data(), utf8.size());
    return 1;
}

// OpenKey(root, path, access [, view]) -> Win32 error code of opening the key with that access.
int OpenKey(lua_State* state)
{
    HKEY root = RootArgument(state, 1);
    const std::wstring path = WideArgument(state, 2);
    const auto access = static_cast<REGSAM>(luaL_checkinteger(state, 3));
    UniqueKey key;
    return PushResult(state, ::RegOpenKeyExW(root, path.c_str(), 0, access | ViewArgument(state, 4), key.put()));
}

// WriteFile(path, bytes) -> boolean; creates the missing parent directories.
int WriteFile(lua_State* state)
{
    const std::wstring path = WideArgument(state, 1);
    size_t size = 0;
    const char* data = luaL_checklstring(state, 2, &size);
    std::wstring directory;
    std::wstring name;
    bool written = SplitPath(path, directory, name) && CreateDirectoryChain(directory, nullptr);
    if (written) {
        UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD done = 0;
        written = file && ::WriteFile(file.get(), data, static_cast<DWORD>(size), &done, nullptr) && done == size;
    }
    lua_pushboolean(state, written);
    return 1;
}

int MakeDirectory(lua_State* state)
{
    lua_pushboolean(state, CreateDirectoryChain(WideArgument(state, 1), nullptr));
    return 1;
}

int SetAttributes(lua_State* state)
{
    const auto attributes = static_cast<DWORD>(luaL_checkinteger(state, 2));
    lua_pushboolean(state, ::SetFileAttributesW(WideArgument(state, 1).c_str(), attributes));
    return 1;
}

// HoldOpen(path) -> id: keeps the file open without sharing, so that it cannot be deleted until Release(id).
int HoldOpen(lua_State* state)
{
    UniqueFile file(::CreateFileW(WideArgument(state, 1).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        lua_pushnil(state);
        return 1;
    }
    g_openFiles[g_nextFileId] = std::move(file);
    lua_pushinteger(state, g_nextFileId++);
    return 1;
}

int Release(lua_State* state)
{
    g_openFiles.erase(luaL_checkinteger(state, 1));
    return 0;
}

// A fresh empty folder under the temporary directory.
int NewFolder(lua_State* state)
{
    static unsigned count = 0;
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring folder =
        MakePath(std::wstring(temp, length),
                 L"nv-module-tests-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(count++));
    CreateDirectoryChain(folder, nullptr);
    const std::string utf8 = WideToUtf8(folder);
    lua_pushlstring(state, utf8.data(), utf8.size());
    return 1;
}

const luaL_Reg kTestHostFunctions[] = {
    {"LogText", LogText},
    {"IsRebootNeeded", IsRebootNeeded},
    {"IsFailed", IsFailed},
    {"ResetStatus", ResetStatus},
    {"CreateKey", CreateKey},
    {"SetValue", SetValue},
    {"CreateCountedKey", CreateCountedKey},
    {"CreateLink", CreateLink},
    {"SetKeyDacl", SetKeyDacl},
    {"KeySddl", KeySddl},
    {"OpenKey", OpenKey},
    {"WriteFile", WriteFile},
    {"MakeDirectory", MakeDirectory},
    {"SetAttributes", SetAttributes},
    {"HoldOpen", HoldOpen},
    {"Release", Release},
    {"NewFolder", NewFolder},
    {nullptr, nullptr},
};

class TestScript : public LuaScript {
public:
    using LuaScript::LuaScript;

    bool InitializeLuaState() override
    {
        if (!LuaScript::InitializeLuaState()) {
            return false;
        }
        lua_newtable(State());
        luaL_setfuncs(State(), kTestHostFunctions, 0);
        lua_setglobal(State(), "TestHost");
        return true;
    }
};

std::wstring ProgramData()
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::ExpandEnvironmentStringsW(L"%ProgramData%", buffer, MAX_PATH);
    return length > 0 && length <= MAX_PATH ? std::wstring(buffer) : std::wstring();
}

// Each script logs into a file of its own, large enough never to rotate while the script reads it.
void OpenScriptLog(const std::wstring& name)
{
    HKEY key = nullptr;
    const std::wstring config = L"SOFTWARE\\Norvane\\QOR\\Logging\\ModuleTests";
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, config.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        const DWORD sizeKb = 64 * 1024;
        ::RegSetValueExW(key, L"LogMaxSizeKB", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&sizeKb), sizeof sizeKb);
        ::RegCloseKey(key);
    }
    g_logFile = ProgramData() + L"\\Norvane\\Log\\ModuleTests\\" + name + L".log";
    ::DeleteFileW(g_logFile.c_str());
    NvQorLogging::OpenLog(L"ModuleTests", name.c_str(), NvQorLogging::Verbose, 0);
}

bool RunScript(const std::wstring& path)
{
    std::wstring directory;
    std::wstring name;
    SplitPath(path, directory, name);
    OpenScriptLog(name);
    Status::Instance().Reset();
    TestScript script(path);
    const bool passed = script.Initialize();
    if (!passed) {
        std::printf("%ls: %s\n", name.c_str(), script.GetTopString().c_str());
    }
    g_openFiles.clear();
    NvQorLogging::CloseLog();
    return passed;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::printf("usage: module_script_runner SCRIPT.lua...\n");
        return 2;
    }
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (!RunScript(argv[i])) {
            ++failed;
        }
    }
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
