// Service module against real services of the test service program.
#include "tests/harness/wait_for.h"
#include "tests/modules/system_test_support.h"

#include "base/unique_resource.h"

#include <gtest/gtest.h>

#include <sddl.h>

namespace {

const std::wstring kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";

bool KeyExists(const std::wstring& path)
{
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Wine's EnumDependentServicesW never reports a dependent, so there the dependents-first stop cannot be seen.
bool ListsActiveDependents(const std::wstring& name)
{
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(::OpenServiceW(manager.get(), name.c_str(), SERVICE_ENUMERATE_DEPENDENTS));
    DWORD needed = 0;
    DWORD count = 0;
    return !::EnumDependentServicesW(service.get(), SERVICE_ACTIVE, nullptr, 0, &needed, &count) &&
           ::GetLastError() == ERROR_MORE_DATA;
}

class ServiceModuleTest : public testing::Test {
protected:
    std::string Call(const std::string& function, const std::wstring& name)
    {
        return m_script.Run("return Service." + function + "(" + LuaString(name) + ")");
    }

    ScriptState m_script;
};

TEST_F(ServiceModuleTest, StopOfAMissingServiceSucceedsSilently)
{
    const LogWindow log;
    EXPECT_EQ(Call("Stop", L"NvNoSuchService"), "true");
    EXPECT_EQ(Call("Cleanup", L"NvNoSuchService"), "true");
    EXPECT_FALSE(log.Contains("Lua::Service")) << log.Text();
}

TEST_F(ServiceModuleTest, StopStopsTheDependentServicesToo)
{
    TestService main(L"NvStopMain");
    TestService dependent(L"NvStopDependent", L"NvStopMain");
    ASSERT_TRUE(main.Start());
    ASSERT_TRUE(dependent.Start());
    const bool dependentsListed = ListsActiveDependents(L"NvStopMain");
    EXPECT_EQ(Call("Stop", L"NvStopMain"), "true");
    EXPECT_EQ(main.State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(Call("Stop", L"NvStopMain"), "true") << "a stopped service stops at once";
    if (!dependentsListed) {
        GTEST_SKIP() << "the service control manager does not list dependent services";
    }
    EXPECT_EQ(dependent.State(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(ServiceModuleTest, StopFailureIsLoggedAndTheServiceKeepsRunning)
{
    TestService refuser(L"NvRefuser");
    ASSERT_TRUE(refuser.Start(L"refuse-stop"));
    const LogWindow log;
    const std::string result = Call("Stop", L"NvRefuser");
    if (result == "true" && refuser.State() == SERVICE_STOPPED) {
        GTEST_SKIP() << "the service control manager delivers stop requests that the service does not accept";
    }
    EXPECT_EQ(result, "false");
    EXPECT_TRUE(log.Contains("Lua::Service::Stop: Service 'NvRefuser' stop failed: 1052\r\n")) << log.Text();
    EXPECT_EQ(refuser.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

// Sets the access list of a service through a handle opened beforehand, which keeps its rights.
bool SetServiceDacl(SC_HANDLE service, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    const UniqueLocal owner(descriptor);
    return ::SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor) != FALSE;
}

bool OpensWithFullAccess(const std::wstring& name)
{
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return UniqueServiceHandle(::OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS)).get() != nullptr;
}

// A self-protected service denies the administrator; it keeps running, so stopping it has failed.
TEST_F(ServiceModuleTest, StopFailsWhenTheServiceMayNotBeOpened)
{
    TestService guarded(L"NvGuarded");
    ASSERT_TRUE(guarded.Start());
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle dacl(::OpenServiceW(manager.get(), L"NvGuarded", WRITE_DAC));
    ASSERT_TRUE(dacl);
    ASSERT_TRUE(SetServiceDacl(dacl.get(), L"D:(D;;GA;;;WD)"));
    const bool denied = !OpensWithFullAccess(L"NvGuarded");
    const LogWindow log;
    const std::string result = Call("Stop", L"NvGuarded");
    SetServiceDacl(dacl.get(), L"D:(A;;GA;;;WD)");
    if (!denied) {
        GTEST_SKIP() << "the service control manager does not check the access lists of services";
    }
    EXPECT_EQ(result, "false");
    EXPECT_TRUE(log.Contains("Lua::Service::Stop: Failed to open service 'NvGuarded': 5\r\n")) << log.Text();
    EXPECT_EQ(guarded.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ServiceModuleTest, CleanupDeletesTheServiceAndItsKey)
{
    TestService stopped(L"NvCleanupStopped");
    EXPECT_EQ(Call("Cleanup", L"NvCleanupStopped"), "true");
    EXPECT_FALSE(stopped.Exists());
    EXPECT_FALSE(KeyExists(stopped.Key()));

    // A running service is only marked for deletion; it goes when it stops.
    TestService running(L"NvCleanupRunning");
    ASSERT_TRUE(running.Start());
    EXPECT_EQ(Call("Cleanup", L"NvCleanupRunning"), "true");
    EXPECT_EQ(Call("Stop", L"NvCleanupRunning"), "true");
    // Deleted by the service control manager once the stopped service's process has let go of it.
    EXPECT_TRUE(NvTest::WaitFor(10000, "the stopped service to be deleted", [&] { return !running.Exists(); }));
}

TEST_F(ServiceModuleTest, CleanupRemovesTheKeyOfAServiceThatIsGone)
{
    const std::wstring key = kServicesKey + L"NvLeftoverKey";
    UniqueKey created;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.put(),
                                nullptr),
              ERROR_SUCCESS);
    created.reset();
    const LogWindow log;
    EXPECT_EQ(Call("Cleanup", L"NvLeftoverKey"), "true");
    EXPECT_FALSE(KeyExists(key));
    EXPECT_FALSE(log.Contains("Failed to open service")) << log.Text();
}

// The key is deleted as one key: one that still has subkeys stays, and the call says so.
TEST_F(ServiceModuleTest, CleanupFailsWhenTheKeyHasSubkeys)
{
    const std::wstring parameters = kServicesKey + L"NvLeftoverWithSubkey\\Parameters";
    UniqueKey created;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, parameters.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                created.put(), nullptr),
              ERROR_SUCCESS);
    created.reset();
    const LogWindow log;
    EXPECT_EQ(Call("Cleanup", L"NvLeftoverWithSubkey"), "false");
    EXPECT_TRUE(log.Contains("Lua::Service::Cleanup: Failed to remove "
                             "'SYSTEM\\CurrentControlSet\\Services\\NvLeftoverWithSubkey': 5\r\n"))
        << log.Text();
    EXPECT_TRUE(KeyExists(parameters));
}

TEST_F(ServiceModuleTest, CleanupOfAnEmptyNameLeavesTheRegistryAlone)
{
    const LogWindow log;
    EXPECT_EQ(Call("Cleanup", L""), "true");
    EXPECT_TRUE(KeyExists(L"SYSTEM\\CurrentControlSet\\Services"));
    EXPECT_FALSE(log.Contains("Failed to remove")) << log.Text();
}

} // namespace
