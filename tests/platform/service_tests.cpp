#include "platform/service.h"
#include "tests/harness/wait_for.h"

#include <gtest/gtest.h>

#include <string>

// These tests register real services; run them only in a throwaway Wine prefix (service_tests.sh).
namespace {

constexpr DWORD kTimeoutMs = 10000;

std::wstring TestServiceCommand()
{
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    path.resize(path.rfind(L'\\') + 1);
    return L"\"" + path + L"nv_test_service.exe\"";
}

// A registered test service, deleted again when the test ends if the test left it behind.
class TestService {
public:
    TestService(const std::wstring& suffix, const std::wstring& dependsOn = L"")
        : m_name(L"NvTest" + suffix + std::to_wstring(::GetCurrentProcessId()))
    {
        const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        // The dependency list is a double-null-terminated string.
        const std::wstring dependencies = dependsOn.empty() ? L"" : dependsOn + L'\0';
        const UniqueServiceHandle service(::CreateServiceW(
            manager.get(), m_name.c_str(), m_name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
            SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, TestServiceCommand().c_str(), nullptr, nullptr,
            dependsOn.empty() ? nullptr : dependencies.c_str(), nullptr, nullptr));
        EXPECT_TRUE(service) << "CreateServiceW failed: " << ::GetLastError();
    }
    ~TestService()
    {
        const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        const UniqueServiceHandle service(::OpenServiceW(manager.get(), m_name.c_str(), SERVICE_ALL_ACCESS));
        if (service) {
            ::DeleteService(service.get());
        }
    }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    const std::wstring& Name() const { return m_name; }

private:
    std::wstring m_name;
};

bool IsRegistered(const std::wstring& name)
{
    UniqueKey key;
    const std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Wine's EnumDependentServicesW is a stub that never reports a dependent; the dependents-first stop can only be
// seen where the service control manager lists them.
bool SystemListsActiveDependents(const std::wstring& name)
{
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(::OpenServiceW(manager.get(), name.c_str(), SERVICE_ENUMERATE_DEPENDENTS));
    DWORD needed = 0;
    DWORD count = 0;
    return !::EnumDependentServicesW(service.get(), SERVICE_ACTIVE, nullptr, 0, &needed, &count) &&
           ::GetLastError() == ERROR_MORE_DATA;
}

TEST(NvService, StartsStopsAndDeletes)
{
    TestService registered(L"Plain");
    {
        NvService service(registered.Name(), false);
        ASSERT_TRUE(service.IsOpen());
        EXPECT_EQ(service.QueryState(), static_cast<DWORD>(SERVICE_STOPPED));

        ASSERT_TRUE(service.Start({}, kTimeoutMs));
        EXPECT_EQ(service.QueryState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_TRUE(service.Start({}, kTimeoutMs)) << "an already running service counts as started";
        EXPECT_EQ(service.LastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

        EXPECT_TRUE(service.Stop(kTimeoutMs)) << service.LastError();
        EXPECT_EQ(service.QueryState(), static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_TRUE(service.Stop(0)) << "a stopped service needs no waiting";

        EXPECT_TRUE(service.Delete()) << service.LastError();
        EXPECT_TRUE(IsRegistered(registered.Name())) << "the registration stays while a handle is open";
    }
    // The service control manager deletes a marked service once the last handle is closed and the service's
    // process has let go of it, on its own schedule after CloseServiceHandle has returned: wait for that.
    EXPECT_TRUE(
        NvTest::WaitFor(kTimeoutMs, "the service control manager to delete the service", [&](std::string& seen) {
            const NvService gone(registered.Name(), true);
            const bool registeredStill = IsRegistered(registered.Name());
            seen = (gone.IsOpen() ? "the service opens" : "open fails with " + std::to_string(gone.LastError())) +
                   (registeredStill ? ", its key exists" : ", its key is gone");
            return !gone.IsOpen() && gone.LastError() == ERROR_SERVICE_DOES_NOT_EXIST && !registeredStill;
        }));
}

TEST(NvService, StopsRunningDependentsFirst)
{
    TestService base(L"Base");
    TestService dependent(L"Dependent", base.Name());
    NvService baseService(base.Name(), false);
    NvService dependentService(dependent.Name(), false);
    ASSERT_TRUE(baseService.Start({}, kTimeoutMs));
    ASSERT_TRUE(dependentService.Start({}, kTimeoutMs));
    if (!SystemListsActiveDependents(base.Name())) {
        GTEST_SKIP() << "the service control manager does not list dependent services";
    }

    EXPECT_TRUE(baseService.Stop(kTimeoutMs)) << baseService.LastError();
    EXPECT_EQ(dependentService.QueryState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(baseService.QueryState(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(NvService, DependentRefusingToStopKeepsTheServiceRunning)
{
    TestService base(L"Stubborn");
    TestService dependent(L"Refuser", base.Name());
    NvService baseService(base.Name(), false);
    NvService dependentService(dependent.Name(), false);
    ASSERT_TRUE(baseService.Start({}, kTimeoutMs));
    ASSERT_TRUE(dependentService.Start({L"refuse-stop"}, kTimeoutMs));
    if (!SystemListsActiveDependents(base.Name())) {
        GTEST_SKIP() << "the service control manager does not list dependent services";
    }

    EXPECT_FALSE(baseService.Stop(kTimeoutMs));
    EXPECT_NE(baseService.LastError(), 0u) << "the dependent's error is kept";
    EXPECT_EQ(baseService.QueryState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(dependentService.QueryState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST(NvService, StartGivesUpAfterTheTimeOut)
{
    TestService pending(L"Pending");
    NvService service(pending.Name(), false);
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(service.Start({L"stay-pending"}, 1000));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 1000u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(service.LastError(), 0u) << "a time-out stores no error";
    EXPECT_EQ(service.QueryState(), static_cast<DWORD>(SERVICE_START_PENDING));
}

TEST(NvService, MissingServiceIsNotOpen)
{
    NvService missing(L"NvNoSuchService", true);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.LastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(missing.QueryState(), NvService::kUnknownState);
    EXPECT_FALSE(missing.Stop(0));
    EXPECT_FALSE(missing.Delete());
}

} // namespace
