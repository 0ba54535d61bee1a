// GUID packing, the forced clean-up of component references (also after other programs changed them), and the Windows
// Installer service in safe mode, which Wine never boots into. Registers and starts the service: run in a fresh prefix.
#include "base/unique_resource.h"
#include "modules/msi_cleanup.h"
#include "modules/msi_guid.h"
#include "modules/msi_registry_index.h"
#include "modules/msi_service.h"
#include "platform/service.h"
#include "tests/harness/wait_for.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

TEST(MsiGuid, PacksAndUnpacksWellFormedCodes)
{
    const struct {
        const wchar_t* text;
        const wchar_t* packed;
    } cases[] = {
        {L"{12345678-ABCD-EF01-2345-6789ABCDEF01}", L"87654321DCBA10FE32547698BADCFE10"},
        // Lower case is carried over, not folded.
        {L"{12345678-abcd-ef01-2345-6789abcdef01}", L"87654321dcba10fe32547698badcfe10"},
        {L"{00000000-0000-0000-0000-000000000000}", L"00000000000000000000000000000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PackGuid(c.text), c.packed) << c.text;
        EXPECT_EQ(UnpackGuid(c.packed), c.text) << c.packed;
    }
}

TEST(MsiGuid, RejectsMalformedCodes)
{
    const std::wstring badTexts[] = {
        L"",
        L"{12345678-ABCD-EF01-2345-6789ABCDEF0}",   // 37 characters
        L"{12345678-ABCD-EF01-2345-6789ABCDEF011}", // 39 characters
        L"12345678-ABCD-EF01-2345-6789ABCDEF01",    // no braces
        L"(12345678-ABCD-EF01-2345-6789ABCDEF01)",
        L"{123456789ABCD-EF01-2345-6789ABCDEF01}", // a dash out of place
        L"{12345678-ABCD-EF01-2345-6789ABCDEF0G}", // not hexadecimal
        L"{12345678-ABCD-EF01-2345-6789ABCD\\F01}",
        std::wstring(L"{12345678-ABCD-EF01-2345-6789ABCDEF0\0}", 38),
    };
    for (const std::wstring& text : badTexts) {
        EXPECT_EQ(PackGuid(text), L"") << text;
    }
    const std::wstring badPacked[] = {
        L"",
        L"87654321DCBA10FE32547698BADCFE1",
        L"87654321DCBA10FE32547698BADCFE100",
        L"87654321DCBA10FE32547698BADCFE1X",
        L"{7654321DCBA10FE32547698BADCFE10",
        L"87654321DCBA10FE\\2547698BADCFE10",
    };
    for (const std::wstring& packed : badPacked) {
        EXPECT_EQ(UnpackGuid(packed), L"") << packed;
    }
}

const std::wstring kComponents =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";

UniqueKey OpenComponent(const std::wstring& name, REGSAM access)
{
    UniqueKey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kComponents + L"\\" + name).c_str(), 0, nullptr, 0, access | KEY_WOW64_64KEY,
                      nullptr, key.put(), nullptr);
    return key;
}

void AddClient(const std::wstring& component, const std::wstring& client)
{
    const wchar_t path[] = L"C:\\Program Files\\file.dll";
    ASSERT_EQ(::RegSetValueExW(OpenComponent(component, KEY_SET_VALUE).get(), client.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(path), sizeof(path)),
              ERROR_SUCCESS);
}

void SetComponentAccess(const std::wstring& component, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    const UniqueLocal owner(descriptor);
    ASSERT_EQ(::RegSetKeySecurity(OpenComponent(component, WRITE_DAC).get(), DACL_SECURITY_INFORMATION, descriptor),
              ERROR_SUCCESS);
}

// The components whose keys exist, each with its value names as far as they can be read.
std::vector<std::wstring> ComponentState()
{
    std::vector<std::wstring> state;
    UniqueKey key;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kComponents.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put());
    wchar_t name[256];
    for (DWORD i = 0, length = 256;
         ::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = 256) {
        std::wstring entry = name;
        UniqueKey component;
        if (::RegOpenKeyExW(key.get(), name, 0, KEY_QUERY_VALUE, component.put()) == ERROR_SUCCESS) {
            wchar_t value[64];
            for (DWORD j = 0, size = 64;
                 ::RegEnumValueW(component.get(), j, value, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
                 ++j, size = 64) {
                entry += L' ';
                entry += value;
            }
        }
        state.push_back(entry);
    }
    return state;
}

// A product's references go, whatever the case of the code it is given; another client keeps its component;
// a component whose values cannot be read is left alone and makes the result false until it can be read.
TEST(MsiCleanup, RemovesComponentReferencesOfTheProductOnly)
{
    const std::wstring product = L"87654321DCBA10FE32547698BADCFE10"; // {12345678-ABCD-EF01-2345-6789ABCDEF01}
    const std::wstring other = L"11111111222233334444555555555555";
    const std::wstring own = L"A0000000000000000000000000000001";
    const std::wstring shared = L"A0000000000000000000000000000002";
    const std::wstring refused = L"A0000000000000000000000000000003";
    const std::wstring unrelated = L"A0000000000000000000000000000004";
    AddClient(own, product);
    AddClient(shared, product);
    AddClient(shared, other);
    AddClient(refused, product);
    AddClient(unrelated, other);
    SetComponentAccess(refused, L"D:P");

    EXPECT_FALSE(MsiCleanup::CleanupProductCode(L"{12345678-abcd-ef01-2345-6789abcdef01}"));
    EXPECT_EQ(ComponentState(), (std::vector<std::wstring>{shared + L' ' + other, refused, unrelated + L' ' + other}));

    SetComponentAccess(refused, L"D:P(A;;GA;;;WD)");
    EXPECT_TRUE(MsiCleanup::CleanupProductCode(L"{12345678-ABCD-EF01-2345-6789ABCDEF01}"));
    EXPECT_EQ(ComponentState(), (std::vector<std::wstring>{shared + L' ' + other, unrelated + L' ' + other}));
}

uint64_t TimeValue(const FILETIME& time)
{
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

uint64_t LastWriteTime(const std::wstring& component)
{
    FILETIME time{};
    ::RegQueryInfoKeyW(OpenComponent(component, KEY_QUERY_VALUE).get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, &time);
    return TimeValue(time);
}

// Between two clean-ups another program adds the product to a component the index knows without it, files a
// new component for it and deletes one: the second clean-up finds them all, and keeps using what it read of the
// components nobody touched.
TEST(MsiCleanup, FollowsComponentsChangedBetweenCleanups)
{
    const std::wstring product = L"87654321DCBA10FE32547698BADCFE20"; // {12345678-ABCD-EF01-2345-6789ABCDEF02}
    const std::wstring other = L"11111111222233334444555555555555";
    const std::wstring named = L"B0000000000000000000000000000001";
    const std::wstring gains = L"B0000000000000000000000000000002";
    const std::wstring goes = L"B0000000000000000000000000000003";
    const std::wstring added = L"B0000000000000000000000000000004";
    AddClient(named, product);
    AddClient(named, other);
    AddClient(gains, other);
    AddClient(goes, other);
    // Older than the clock margin, so that the first clean-up trusts their last-write times.
    const uint64_t trusted =
        std::max({LastWriteTime(named), LastWriteTime(gains), LastWriteTime(goes)}) + MsiRegistryIndex::kUntrustedAge;
    ASSERT_TRUE(NvTest::WaitFor(5000, "the components to age past the clock margin", [&] {
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        return TimeValue(now) > trusted;
    }));
    EXPECT_TRUE(MsiCleanup::CleanupProductCode(L"{00000000-0000-0000-0000-000000000001}"));

    AddClient(gains, product);
    ASSERT_EQ(::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kComponents + L"\\" + goes).c_str()), ERROR_SUCCESS);
    AddClient(added, product);
    EXPECT_TRUE(MsiCleanup::CleanupProductCode(L"{12345678-ABCD-EF01-2345-6789ABCDEF02}"));

    std::vector<std::wstring> ours;
    for (const std::wstring& entry : ComponentState()) {
        if (entry.front() == L'B') {
            ours.push_back(entry);
        }
    }
    EXPECT_EQ(ours, (std::vector<std::wstring>{named + L' ' + other, gains + L' ' + other}));
}

bool KeyExists(const wchar_t* key)
{
    UniqueKey opened;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

const wchar_t kMinimalKey[] = L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\MSIServer";
const wchar_t kNetworkKey[] = L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\MSIServer";

DWORD InstallerServiceState()
{
    return NvService(L"msiserver", true).QueryState();
}

void StopInstallerService()
{
    NvService(L"msiserver", false).Stop(10000);
    ASSERT_EQ(InstallerServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
}

std::wstring DefaultValue(const wchar_t* key)
{
    wchar_t data[64] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, nullptr, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return data;
}

TEST(MsiService, SafeModeRegistersAndStartsTheInstallerServiceForTheRunOnly)
{
    const struct {
        int bootMode;
        const wchar_t* key;
    } cases[] = {{1, kMinimalKey}, {2, kNetworkKey}};
    for (const auto& c : cases) {
        StopInstallerService();
        EXPECT_TRUE(StartMSIServiceIfNeeded(c.bootMode));
        EXPECT_EQ(DefaultValue(c.key), L"Service") << c.key;
        EXPECT_EQ(InstallerServiceState(), static_cast<DWORD>(SERVICE_RUNNING)) << c.bootMode;
        RemoveMSIServiceRegistration();
        EXPECT_FALSE(KeyExists(c.key)) << "the registration this run made is gone at its end";
    }
    // A registration the administrator made earlier stays.
    UniqueKey earlier;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMinimalKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, earlier.put(),
                                nullptr),
              ERROR_SUCCESS);
    StopInstallerService();
    EXPECT_TRUE(StartMSIServiceIfNeeded(1));
    RemoveMSIServiceRegistration();
    EXPECT_TRUE(KeyExists(kMinimalKey));
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMinimalKey);
    // Running already: nothing is registered.
    EXPECT_TRUE(StartMSIServiceIfNeeded(1));
    EXPECT_FALSE(KeyExists(kMinimalKey));
}

TEST(MsiService, NormalBootLeavesAStoppedServiceAlone)
{
    StopInstallerService();
    EXPECT_TRUE(StartMSIServiceIfNeeded(0));
    EXPECT_EQ(InstallerServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(KeyExists(kMinimalKey));
    EXPECT_FALSE(KeyExists(kNetworkKey));
}

} // namespace
