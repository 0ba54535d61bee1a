// GUID packing, the forced clean-up of Windows Installer registrations on registrations written here the
// way Windows Installer files per-machine products, and the Windows Installer service in safe mode. Changes
// machine state: run in a fresh prefix.
#include "modules/msi_cleanup.h"
#include "modules/msi_guid.h"
#include "modules/msi_service.h"
#include "platform/service.h"
#include "platform/unique_resource.h"

#include <gtest/gtest.h>

#include <windows.h>

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

const std::wstring kClassesInstaller = L"SOFTWARE\\Classes\\Installer";
const std::wstring kUpgradeCodes = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";
const std::wstring kUserData = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
const std::wstring kMachineData = kUserData + L"\\S-1-5-18";
const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::wstring Below(const std::wstring& key, const std::wstring& name)
{
    return key + L"\\" + name;
}

void SetValue(const std::wstring& key, const std::wstring& name, const std::wstring& data, REGSAM view)
{
    UniqueKey created;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                created.put(), nullptr),
              ERROR_SUCCESS)
        << key;
    ASSERT_EQ(::RegSetValueExW(created.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

bool KeyExists(const std::wstring& key, REGSAM view = KEY_WOW64_64KEY)
{
    UniqueKey opened;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, opened.put()) == ERROR_SUCCESS;
}

std::vector<std::wstring> ValueNames(const std::wstring& key)
{
    std::vector<std::wstring> names;
    UniqueKey opened;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, opened.put()) !=
        ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (::RegEnumValueW(opened.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return names;
        }
        names.emplace_back(name, length);
    }
}

void DeleteTree(const std::wstring& key)
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}

std::wstring ComponentKey(const std::wstring& component)
{
    return Below(kMachineData, L"Components\\" + PackGuid(component));
}

std::vector<std::wstring> UpgradeCodeKeys(const std::wstring& upgradeCode)
{
    return {Below(kUpgradeCodes, PackGuid(upgradeCode)),
            Below(kClassesInstaller, L"UpgradeCodes\\" + PackGuid(upgradeCode))};
}

// A per-machine product filed the way Windows Installer files it.
struct Product {
    std::wstring code;
    std::wstring name;
    std::wstring publisher;
    std::vector<std::wstring> features;
    std::vector<std::wstring> components; // component codes, text form

    std::wstring Packed() const { return PackGuid(code); }

    // Every key of the product itself; the components and the upgrade code are checked apart.
    std::vector<std::pair<std::wstring, REGSAM>> Keys() const
    {
        return {{Below(kClassesInstaller, L"Products\\" + Packed()), KEY_WOW64_64KEY},
                {Below(kClassesInstaller, L"Features\\" + Packed()), KEY_WOW64_64KEY},
                {Below(kMachineData, L"Products\\" + Packed()), KEY_WOW64_64KEY},
                {Below(kUninstall, code), KEY_WOW64_64KEY},
                {Below(kUninstall, code), KEY_WOW64_32KEY}};
    }

    void Register(const std::wstring& upgradeCode) const
    {
        const std::wstring machineProduct = Below(kMachineData, L"Products\\" + Packed());
        SetValue(Below(kClassesInstaller, L"Products\\" + Packed()), L"ProductName", name, KEY_WOW64_64KEY);
        SetValue(machineProduct + L"\\InstallProperties", L"DisplayName", name, KEY_WOW64_64KEY);
        SetValue(machineProduct + L"\\InstallProperties", L"Publisher", publisher, KEY_WOW64_64KEY);
        for (const std::wstring& feature : features) {
            SetValue(Below(kClassesInstaller, L"Features\\" + Packed()), feature, L"", KEY_WOW64_64KEY);
            SetValue(machineProduct + L"\\Features", feature, L"", KEY_WOW64_64KEY);
        }
        for (const std::wstring& component : components) {
            SetValue(ComponentKey(component), Packed(), L"C:\\file", KEY_WOW64_64KEY);
        }
        for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            SetValue(Below(kUninstall, code), L"DisplayName", name, view);
        }
        for (const std::wstring& key : UpgradeCodeKeys(upgradeCode)) {
            SetValue(key, Packed(), L"", KEY_WOW64_64KEY);
        }
    }

    bool IsGone() const
    {
        for (const auto& [key, view] : Keys()) {
            if (KeyExists(key, view)) {
                ADD_FAILURE() << "still there: " << key;
                return false;
            }
        }
        return true;
    }

    bool IsIntact() const
    {
        for (const auto& [key, view] : Keys()) {
            if (!KeyExists(key, view)) {
                ADD_FAILURE() << "gone: " << key;
                return false;
            }
        }
        return true;
    }
};

const std::wstring kUpgradeCode = L"{0B7D3C11-2A44-4E55-8F66-7A8B9C0D1E99}";
const std::wstring kSharedComponent = L"{7C3D4E5F-6A7B-4C8D-9E0F-A1B2C3D4E5F6}";

// The packed code of `first` sorts before that of `second`, so `first` comes first in registry order.
const Product kFirst{L"{1A000000-0000-4000-8000-000000000001}",
                     L"Norvane Test First",
                     L"Norvane Test",
                     {L"FirstCore", L"Common"},
                     {L"{1C000000-0000-4000-8000-000000000001}", kSharedComponent}};
const Product kSecond{L"{2A000000-0000-4000-8000-000000000002}",
                      L"Norvane Test Second",
                      L"Norvane Test",
                      {L"SecondCore", L"Common"},
                      {L"{2C000000-0000-4000-8000-000000000002}", kSharedComponent}};
const Product kOther{L"{3A000000-0000-4000-8000-000000000003}",
                     L"Other Product",
                     L"Someone Else",
                     {L"OtherCore"},
                     {L"{3C000000-0000-4000-8000-000000000003}"}};

class MsiCleanupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kFirst.Register(kUpgradeCode);
        kSecond.Register(L"{0B7D3C11-2A44-4E55-8F66-7A8B9C0D1E98}");
        kOther.Register(L"{0B7D3C11-2A44-4E55-8F66-7A8B9C0D1E97}");
    }
    void TearDown() override
    {
        // Nothing else in this prefix files installer data.
        for (const std::wstring& key : {kClassesInstaller, kUpgradeCodes, kUserData}) {
            DeleteTree(key);
        }
        for (const Product* product : {&kFirst, &kSecond, &kOther}) {
            for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
                ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Below(kUninstall, product->code).c_str(), view, 0);
            }
        }
    }
};

TEST_F(MsiCleanupTest, ProductCodeRemovesEveryRegistrationAndOnlyItsShareOfAComponent)
{
    EXPECT_TRUE(MsiCleanup::CleanupProductCode(kFirst.code));
    EXPECT_TRUE(kFirst.IsGone());
    EXPECT_FALSE(KeyExists(ComponentKey(kFirst.components[0])));
    EXPECT_EQ(ValueNames(ComponentKey(kSharedComponent)), std::vector<std::wstring>{kSecond.Packed()});
    EXPECT_TRUE(kSecond.IsIntact());
    EXPECT_TRUE(kOther.IsIntact());

    // Removing what is already gone succeeds; the last user of the shared component takes it along.
    EXPECT_TRUE(MsiCleanup::CleanupProductCode(kFirst.code));
    EXPECT_TRUE(MsiCleanup::CleanupProductCode(kSecond.code));
    EXPECT_FALSE(KeyExists(ComponentKey(kSharedComponent)));
    EXPECT_TRUE(kOther.IsIntact());
}

TEST_F(MsiCleanupTest, UpgradeCodeRemovesItsProductsAndItsOwnKeys)
{
    EXPECT_TRUE(MsiCleanup::CleanupUpgradeCode(kUpgradeCode));
    EXPECT_TRUE(kFirst.IsGone());
    EXPECT_TRUE(kSecond.IsIntact());
    for (const std::wstring& key : UpgradeCodeKeys(kUpgradeCode)) {
        EXPECT_FALSE(KeyExists(key)) << key;
    }
    // An upgrade code nothing is filed under any more.
    EXPECT_TRUE(MsiCleanup::CleanupUpgradeCode(kUpgradeCode));
}

// Value names under an upgrade code come from the registry: a default value (the empty name) or a name that is
// not a packed code must not become a key path that reaches the keys of every product.
TEST_F(MsiCleanupTest, UpgradeCodeIgnoresNamesThatAreNotPackedCodes)
{
    const std::wstring secondProperties =
        Below(kMachineData, L"Products\\" + kSecond.Packed() + L"\\InstallProperties");
    for (const std::wstring& key : UpgradeCodeKeys(kUpgradeCode)) {
        SetValue(key, L"", L"", KEY_WOW64_64KEY);
        SetValue(key, kSecond.Packed() + L"\\InstallProperties", L"", KEY_WOW64_64KEY);
    }
    // A component key that holds nothing but its default value.
    const std::wstring bareComponent = ComponentKey(L"{4C000000-0000-4000-8000-000000000004}");
    SetValue(bareComponent, L"", L"C:\\file", KEY_WOW64_64KEY);

    EXPECT_TRUE(MsiCleanup::CleanupUpgradeCode(kUpgradeCode));
    EXPECT_TRUE(kFirst.IsGone());
    EXPECT_TRUE(kSecond.IsIntact());
    EXPECT_TRUE(KeyExists(secondProperties));
    EXPECT_TRUE(KeyExists(bareComponent));
    EXPECT_TRUE(kOther.IsIntact());
    for (const std::wstring& key : UpgradeCodeKeys(kUpgradeCode)) {
        EXPECT_FALSE(KeyExists(key)) << key;
    }
}

TEST_F(MsiCleanupTest, FeatureResolvesToTheFirstProductThatHasIt)
{
    EXPECT_FALSE(MsiCleanup::CleanupProductBasedOnFeature(L""));
    EXPECT_TRUE(MsiCleanup::CleanupProductBasedOnFeature(L"common")); // names are compared exactly
    EXPECT_TRUE(MsiCleanup::CleanupProductBasedOnFeature(L"NoSuchFeature"));
    EXPECT_TRUE(kFirst.IsIntact());

    EXPECT_TRUE(MsiCleanup::CleanupProductBasedOnFeature(L"Common"));
    EXPECT_TRUE(kFirst.IsGone());
    EXPECT_TRUE(kSecond.IsIntact());
    EXPECT_TRUE(MsiCleanup::CleanupProductBasedOnFeature(L"OtherCore"));
    EXPECT_TRUE(kOther.IsGone());
}

TEST_F(MsiCleanupTest, NameMaskAndPublisherMustBothMatch)
{
    const struct {
        const wchar_t* mask;
        const wchar_t* publisher;
    } misses[] = {
        {L"Norvane Test S*", L"Norvane test"},                                           // publisher compared exactly
        {L"Norvane Test S*", L"Norvane Test "},   {L"norvane test s*", L"Norvane Test"}, // the mask is case-sensitive
        {L"Norvane Test Secon", L"Norvane Test"}, {L"Other Product", L"Norvane Test"},
    };
    for (const auto& miss : misses) {
        EXPECT_TRUE(MsiCleanup::CleanupProductBasedOnNameAndPublisher(miss.mask, miss.publisher)) << miss.mask;
    }
    EXPECT_TRUE(kFirst.IsIntact());
    EXPECT_TRUE(kSecond.IsIntact());
    EXPECT_TRUE(kOther.IsIntact());

    EXPECT_TRUE(MsiCleanup::CleanupProductBasedOnNameAndPublisher(L"Norvane Test S?cond", L"Norvane Test"));
    EXPECT_TRUE(kSecond.IsGone());
    EXPECT_TRUE(kFirst.IsIntact());
}

TEST_F(MsiCleanupTest, MalformedCodesDeleteNothing)
{
    for (const wchar_t* code : {L"", L"1A000000-0000-4000-8000-000000000001", L"{1A000000-0000-4000-8000-00000000000}",
                                L"{1A000000-0000-4000-8000-00000000000Z}"}) {
        EXPECT_FALSE(MsiCleanup::CleanupProductCode(code)) << code;
        EXPECT_FALSE(MsiCleanup::CleanupUpgradeCode(code)) << code;
    }
    EXPECT_TRUE(kFirst.IsIntact());
    EXPECT_TRUE(KeyExists(UpgradeCodeKeys(kUpgradeCode)[0]));
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

TEST(MsiService, SafeModeRegistersAndStartsTheInstallerService)
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
        DeleteTree(c.key);
    }
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
