#include "tests/products/nv_kit/services.h"

#include "base/unique_resource.h"
#include "tests/products/nv_kit/output.h"

#include <windows.h>

namespace NvKit {

namespace {

UniqueServiceHandle Manager()
{
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        Die(L"OpenSCManager");
    }
    return manager;
}

DWORD State(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    return ::QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

} // namespace

void CreateDriverService(const std::wstring& name, DriverType type, const std::wstring& displayName,
                         const std::wstring& group)
{
    const std::wstring image = L"System32\\drivers\\" + name + L".sys";
    const bool filter = type == DriverType::FileSystemFilter;
    const wchar_t* dependencies = filter ? L"FltMgr\0" : nullptr;
    // Demand start also for boot-time filters: Wine would try to load a stand-in image at every start.
    UniqueServiceHandle service(::CreateServiceW(
        Manager().get(), name.c_str(), displayName.empty() ? name.c_str() : displayName.c_str(), SERVICE_ALL_ACCESS,
        filter ? SERVICE_FILE_SYSTEM_DRIVER : SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
        image.c_str(), group.empty() ? nullptr : group.c_str(), nullptr, dependencies, nullptr, nullptr));
    if (!service) {
        Die(L"CreateService " + name);
    }
}

void RestartRefusingStop(const std::wstring& name)
{
    UniqueServiceHandle service(::OpenServiceW(Manager().get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) {
        Die(L"OpenService " + name);
    }
    SERVICE_STATUS status{};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    // The service ends on its own schedule.
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (State(service.get()) != SERVICE_STOPPED) {
        if (::GetTickCount64() > deadline) {
            Die(L"waiting 60 s for " + name + L" to stop", State(service.get()));
        }
        ::Sleep(100);
    }
    const wchar_t* arguments[] = {L"refuse-stop"};
    if (!::StartServiceW(service.get(), 1, arguments)) {
        Die(L"StartService " + name);
    }
}

} // namespace NvKit
