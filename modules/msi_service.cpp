#include "modules/msi_service.h"

#include "logging/nv_qor_log.h"
#include "platform/service.h"
#include "platform/unique_resource.h"

#include <windows.h>

namespace {

constexpr wchar_t kServiceName[] = L"msiserver";
constexpr DWORD kStartTimeoutMs = 10000;

bool EnableMSIServiceIfNeeded(int bootMode)
{
    constexpr wchar_t kCaller[] = L"`anonymous-namespace'::EnableMSIServiceIfNeeded";
    const wchar_t* key = nullptr;
    if (bootMode == 1) {
        key = L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\MSIServer";
    } else if (bootMode == 2) {
        key = L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\MSIServer";
    } else {
        return true;
    }
    UniqueKey created;
    LSTATUS status =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create key : %ld", kCaller, status);
        return false;
    }
    constexpr wchar_t kServiceGroup[] = L"Service";
    status = ::RegSetValueExW(created.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kServiceGroup),
                              sizeof(kServiceGroup));
    if (status != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to set value %ld", kCaller, status);
        return false;
    }
    return true;
}

} // namespace

bool StartMSIServiceIfNeeded(int bootMode)
{
    constexpr wchar_t kCaller[] = L"`anonymous-namespace'::StartMSIServiceIfNeeded";
    if (NvService(kServiceName, true).QueryState() == SERVICE_RUNNING || bootMode == 0) {
        return true;
    }
    if (!EnableMSIServiceIfNeeded(bootMode)) {
        return false;
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Starting msi service", kCaller);
    if (!NvService(kServiceName, false).Start({}, kStartTimeoutMs)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to start msi service", kCaller);
    }
    return true;
}
