// The product kit's own parts that every end-to-end check relies on: reading the products' descriptions, the
// registry as the inventory sees it, and rewriting a list that other vendors share.
#include "tests/products/nv_kit/files.h"
#include "tests/products/nv_kit/product_data.h"
#include "tests/products/nv_kit/registry.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

using namespace NvKit;

std::wstring TempPath(const std::wstring& name)
{
    wchar_t folder[MAX_PATH] = L"";
    ::GetTempPathW(MAX_PATH, folder);
    return folder + std::to_wstring(::GetCurrentProcessId()) + L"-" + name;
}

TEST(ProductData, ProductLinesFollowedByTheInstallationsChoices)
{
    const std::wstring data = TempPath(L"products.ini");
    const std::wstring state = TempPath(L"antivirus");
    WriteTextFile(data, "# comment = not a line\r\n[antivirus]\r\nname = Norvane Antivirus\r\n"
                        "dir = C:\\Program Files\\Norvane\\Antivirus\r\n"
                        "folder = [INSTALLDIR]\r\n"
                        "firewall =  NvAv-Update-Out | [INSTALLDIR]\\nvavtray.exe |\r\n"
                        "[secure_vpn]\r\nname = Norvane Secure VPN\r\n[secure_vpn hooks]\r\n"
                        "network-provider = NvVpnNP\r\n[logs]");

    std::optional<Product> product = LoadProduct(data, state, L"antivirus");
    ASSERT_TRUE(product);
    EXPECT_EQ(product->Get(L"name"), L"Norvane Antivirus");
    EXPECT_EQ(product->Get(L"folder"), L"C:\\Program Files\\Norvane\\Antivirus") << "the default folder";
    const std::vector<Fields> rules = product->All(L"firewall");
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0], (Fields{L"NvAv-Update-Out", L"C:\\Program Files\\Norvane\\Antivirus\\nvavtray.exe", L""}))
        << "fields are trimmed and an empty last field stays";

    WriteTextFile(state, "dir = C:\\Apps\\Antivirus\r\ninf = C:\\windows\\inf\\oem3.inf");
    product = LoadProduct(data, state, L"antivirus");
    ASSERT_TRUE(product);
    EXPECT_EQ(product->Get(L"folder"), L"C:\\Apps\\Antivirus") << "the folder it was installed to";
    EXPECT_EQ(product->Get(L"inf"), L"C:\\windows\\inf\\oem3.inf");
    EXPECT_EQ(product->Get(L"code"), L"");

    EXPECT_FALSE(LoadProduct(data, state, L"Antivirus")) << "ids are exact";
    EXPECT_FALSE(LoadProduct(data, state, L"nonesuch"));
    ASSERT_TRUE(LoadProduct(data, state, L"logs"));
    EXPECT_EQ(LoadProduct(data, TempPath(L"none"), L"secure_vpn", false)->lines.size(), 1u) << "no state file";
    EXPECT_EQ(LoadProduct(data, TempPath(L"none"), L"secure_vpn")->Get(L"network-provider"), L"NvVpnNP")
        << "with its hooks";
    EXPECT_EQ(ProductIds(data), (std::vector<std::wstring>{L"antivirus", L"secure_vpn", L"logs"}));
    ::DeleteFileW(data.c_str());
    ::DeleteFileW(state.c_str());
}

TEST(Registry, PackedGuidsAreTheInstallersKeyNames)
{
    EXPECT_EQ(PackGuid(L"{80E10E05-064B-40E9-9C14-DE7F20FA43A7}"), L"50E01E08B4609E04C941EDF702AF347A");
    EXPECT_EQ(PackGuid(L"{B914F18A-3858-47D3-A1F8-33182F2BAE02}"), L"A81F419B85833D741A8F3381F2B2EA20");
    EXPECT_EQ(PackGuid(L"{80E10E05-064B}"), L"") << "not a GUID";
}

TEST(Registry, KeysOfSoftwareHaveA32BitView)
{
    EXPECT_EQ(
        KeyViews(L"SOFTWARE\\Norvane\\Antivirus"),
        (std::vector<std::wstring>{L"SOFTWARE\\Norvane\\Antivirus", L"SOFTWARE\\Wow6432Node\\Norvane\\Antivirus"}));
    EXPECT_EQ(
        KeyViews(L"Software\\Classes\\CLSID\\{X}"),
        (std::vector<std::wstring>{L"Software\\Classes\\CLSID\\{X}", L"SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{X}"}));
    EXPECT_EQ(KeyViews(L"SYSTEM\\CurrentControlSet\\Services\\NvAvSvc"),
              (std::vector<std::wstring>{L"SYSTEM\\CurrentControlSet\\Services\\NvAvSvc"}));
}

// A key of its own below HKLM\SOFTWARE for each test, deleted afterwards.
class RegistryKeys : public ::testing::Test {
protected:
    const std::wstring root = L"SOFTWARE\\NvKitTests\\" + std::to_wstring(::GetCurrentProcessId());

    void TearDown() override
    {
        for (const wchar_t* key : {L"\\Unreadable", L"\\A\\B\\Unreadable"}) {
            SetKeySecurity(View::Native, root + key, L"D:P(A;;KA;;;WD)");
        }
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
    }
};

// A rewrite of a list that other vendors' filters share must not start from a read that failed.
TEST_F(RegistryKeys, SharedListsAreReadOrRefused)
{
    EXPECT_EQ(ReadList(root, L"UpperFilters"), std::vector<std::wstring>()) << "a missing key is an empty list";
    SetString(View::Native, root, L"Text", L"acmeflt");
    EXPECT_EQ(ReadList(root, L"UpperFilters"), std::vector<std::wstring>()) << "a missing value is an empty list";
    EXPECT_FALSE(ReadList(root, L"Text")) << "not a list";

    WriteList(root, L"UpperFilters", WithFirst(L"nvepsp", {L"acmeflt", L"PartMgr"}, L"partmgr"));
    EXPECT_EQ(ReadList(root, L"UpperFilters"), (std::vector<std::wstring>{L"nvepsp", L"acmeflt", L"PartMgr"}));
    EXPECT_EQ(WithFirst(L"NVEPSP", {L"acmeflt", L"nvepsp"}, L"partmgr"),
              (std::vector<std::wstring>{L"NVEPSP", L"acmeflt", L"partmgr"}))
        << "each name once, the others in their order";

    SetString(View::Native, root, L"ProviderOrder", L"RDPNP,,LanmanWorkstation");
    WriteList(root, L"ProviderOrder", WithFirst(L"NvVpnNP", *ReadList(root, L"ProviderOrder", ListForm::Commas), L""),
              ListForm::Commas);
    EXPECT_EQ(ReadString(root, L"ProviderOrder"), L"NvVpnNP,RDPNP,LanmanWorkstation") << "a list in one string";
    EXPECT_FALSE(ReadList(root, L"UpperFilters", ListForm::Commas)) << "not a string";

    WriteList(root + L"\\Unreadable", L"UpperFilters", {L"acmeflt"});
    ASSERT_TRUE(SetKeySecurity(View::Native, root + L"\\Unreadable", L"D:P(D;;KR;;;WD)(A;;KA;;;WD)"));
    EXPECT_FALSE(ReadList(root + L"\\Unreadable", L"UpperFilters")) << "a key that refuses reading";
    EXPECT_FALSE(SetKeySecurity(View::Native, root + L"\\Missing", L"D:P(A;;KA;;;WD)"));
}

TEST_F(RegistryKeys, DumpFindsKeysAndValuesWithoutRegardToCase)
{
    SetString(View::Native, root + L"\\A\\B", L"", L"default");
    SetDword(View::Native, root + L"\\A\\B", L"Count", 1);
    CreateKey(View::Native, root + L"\\A\\B\\Unreadable\\Below");
    CreateKey(View::Native, root + L"\\AB");
    CreateKey(View::Wow32, root + L"\\A");
    ASSERT_TRUE(SetKeySecurity(View::Native, root + L"\\A\\B\\Unreadable", L"D:P(D;;KR;;;WD)(A;;KA;;;WD)"));

    const RegistryDump dump = RegistryDump::Read();
    std::vector<std::wstring> tree;
    for (const RegistryDump::Entry* entry : dump.Tree(Upper(root) + L"\\a")) {
        tree.push_back(entry->path.substr(root.size()) + (entry->unreadable ? L" unreadable" : L""));
    }
    EXPECT_EQ(tree, (std::vector<std::wstring>{L"\\A", L"\\A\\B", L"\\A\\B\\Unreadable unreadable"}))
        << "keys only, not the sibling AB, nothing below a key that refuses reading";
    ASSERT_TRUE(dump.FindKey(root + L"\\a\\b"));
    EXPECT_EQ(dump.FindKey(root + L"\\a\\b")->path, L"Software" + root.substr(8) + L"\\A\\B") << "names as stored";
    EXPECT_TRUE(dump.FindValue(root + L"\\A\\B", L"count"));
    EXPECT_TRUE(dump.FindValue(root + L"\\A\\B", L"")) << "the default value";
    EXPECT_FALSE(dump.FindValue(root + L"\\A", L"Count"));
    EXPECT_TRUE(dump.FindKey(KeyViews(root + L"\\A")[1])) << "the 32-bit view under its Wow6432Node path";
    EXPECT_TRUE(dump.Tree(root + L"\\Missing").empty());
}

} // namespace
