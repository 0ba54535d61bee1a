#include "modules/msi_service.h"

#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"
#include "platform/service.h"

#include <windows.h>

namespace {

constexpr wchar_t kServiceName[] = L"msiserver";
constexpr DWORD kStartTimeoutMs = 10000;

// The SafeBoot key this run created, if any.
const wchar_t* g_createdRegistration = nullptr;

bool EnableMSIServiceIfNeeded(int bootMode)
{
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
    const wchar_t* key = nullptr;
    if (bootMode == 1) {
        key = L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\MSIServer";
    } else if (bootMode == 2) {
        key = L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\MSIServer";
    } else {
        return true;
    }
    UniqueKey created;
    DWORD disposition = 0;
    LSTATUS status =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.put(), &disposition);
    if (status != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create key : %ld", kCaller, status);
        return false;
    }
    if (disposition == REG_CREATED_NEW_KEY) {
        g_createdRegistration = key;
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
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
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

void RemoveMSIServiceRegistration()
{
    if (g_createdRegistration == nullptr) {
        return;
    }
    const LSTATUS status = ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, g_createdRegistration, KEY_WOW64_64KEY, 0);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to delete 'HKLM\\%s': %ld", L"RemoveMSIServiceRegistration",
                   g_createdRegistration, status);
        return;
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Deleted the safe-mode registration 'HKLM\\%s' this run created",
               L"RemoveMSIServiceRegistration", g_createdRegistration);
    g_createdRegistration = nullptr;
}
