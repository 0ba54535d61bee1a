#include "platform/service.h"
#include "logging/nv_qor_log.h"
#include "modules/host_module.h"
#include "modules/lua_arguments.h"
#include "platform/registry.h"

#include <windows.h>

#include <string>

namespace {

constexpr DWORD kStopTimeoutMs = 120000;
constexpr wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\";

// A name that no service can have (empty, or with a backslash) names no service either.
bool IsAbsent(DWORD openError)
{
    return openError == ERROR_SERVICE_DOES_NOT_EXIST || openError == ERROR_INVALID_NAME;
}

bool StopService(const std::wstring& name)
{
    NvService service(name, false);
    // A service that is not there is nothing to stop; one that may not be opened (a self-protected service
    // denying the administrator) keeps running, so the stop has failed.
    if (!service.IsOpen()) {
        if (IsAbsent(service.LastError())) {
            return true;
        }
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to open service '%s': %lu", L"Lua::Service::Stop", name.c_str(),
                   service.LastError());
        return false;
    }
    if (!service.Stop(kStopTimeoutMs)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Service '%s' stop failed: %lu", L"Lua::Service::Stop", name.c_str(),
                   service.LastError());
        return false;
    }
    return true;
}

bool CleanupService(const std::wstring& name)
{
    constexpr wchar_t logName[] = L"Lua::Service::Cleanup";
    bool result = true;
    // The object stays open until the key is handled: the key of a service deleted through a handle that is
    // still open remains until that handle is closed.
    NvService service(name, false);
    if (service.IsOpen()) {
        if (!service.Delete()) {
            NV_QOR_LOG(NvQorLogging::Error, L"%s: Service '%s' delete failed: %lu", logName, name.c_str(),
                       service.LastError());
            result = false;
        }
    } else if (service.LastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to open service '%s': %lu", logName, name.c_str(),
                   service.LastError());
    }
    if (!name.empty()) {
        const std::wstring keyPath = kServicesKey + name;
        Win32Registry registry;
        RegistryError code = RegistryError::Success;
        if (!registry.DeleteKey(keyPath, &code) && code != RegistryError::NotFound) {
            NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to remove '%s': %d", logName, keyPath.c_str(),
                       static_cast<int>(code));
            result = false;
        }
    }
    return result;
}

int Stop(lua_State* state)
{
    const std::wstring name = CheckWideString(state, 1);
    lua_pushboolean(state, StopService(name));
    return 1;
}

int Cleanup(lua_State* state)
{
    const std::wstring name = CheckWideString(state, 1);
    lua_pushboolean(state, CleanupService(name));
    return 1;
}

const luaL_Reg kServiceFunctions[] = {
    {"Stop", Stop},
    {"Cleanup", Cleanup},
    {nullptr, nullptr},
};

const LuaConstant kNoConstants[] = {{nullptr, 0}};

} // namespace

void RegisterServiceModule(lua_State* state)
{
    RegisterHostModule(state, "Service", kServiceFunctions, kNoConstants);
}
