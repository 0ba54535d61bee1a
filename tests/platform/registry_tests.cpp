#include "platform/registry.h"
#include "platform/registry_lists.h"
#include "platform/security.h"
#include "tests/platform/memory_registry.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <functional>

namespace {

// Names no other run of the tests uses at the same time; every test deletes what it created.
std::string UniqueName(const char* purpose)
{
    return std::string("NvTests-") + purpose + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(::GetTickCount());
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// The same behaviour is expected from the Windows registry and from the in-memory stand-in of the tests.
template <typename Implementation> class RegistryContract : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_registry.SetRoot(HKEY_CURRENT_USER);
        ASSERT_TRUE(m_registry.CreateSubKey("", m_base));
    }
    void TearDown() override
    {
        RegistryError code;
        m_registry.DeleteBranch("", m_base, &code);
        EXPECT_TRUE(code == RegistryError::Success || code == RegistryError::NotFound);
    }
    std::string Path(const std::string& relative) const { return m_base + "\\" + relative; }

    Implementation m_registry;
    const std::string m_base = "Software\\" + UniqueName("contract");
};

using Implementations = ::testing::Types<Win32Registry, MemoryRegistry>;
TYPED_TEST_SUITE(RegistryContract, Implementations);

TYPED_TEST(RegistryContract, ValuesReadBackInTheirOwnTypeOnly)
{
    Registry& registry = this->m_registry;
    const std::string key = this->m_base;
    RegistryError code;
    ASSERT_TRUE(registry.SetString(key, "text", std::string("caf\xc3\xa9")));
    ASSERT_TRUE(registry.SetString(key, "wide", std::wstring(L"\u65e5\u672c")));
    ASSERT_TRUE(registry.SetDWORD(key, "number", 0xFFFFFFFFu));
    ASSERT_TRUE(registry.SetBinary(key, "bytes", RegistryBytes{0, 1, 255}));
    ASSERT_TRUE(registry.SetMultiString(key, "list", {"a", "bc"}));

    std::string text;
    std::wstring wide;
    uint32_t number = 0;
    RegistryBytes bytes;
    std::vector<std::string> list;
    EXPECT_TRUE(registry.GetString(key, "text", text));
    EXPECT_EQ(text, "caf\xc3\xa9");
    EXPECT_TRUE(registry.GetString(key, "wide", wide));
    EXPECT_EQ(wide, L"\u65e5\u672c");
    EXPECT_TRUE(registry.GetDWORD(key, "number", number));
    EXPECT_EQ(number, 0xFFFFFFFFu);
    EXPECT_TRUE(registry.GetBinary(key, "bytes", bytes));
    EXPECT_EQ(bytes, (RegistryBytes{0, 1, 255}));
    EXPECT_TRUE(registry.GetMultiString(key, "list", list));
    EXPECT_EQ(list, (std::vector<std::string>{"a", "bc"}));

    struct WrongRead {
        const char* what;
        bool read;
    };
    const WrongRead wrongReads[] = {
        {"string as number", registry.GetDWORD(key, "text", number, &code)},
        {"number as string", registry.GetString(key, "number", text, &code)},
        {"list as bytes", registry.GetBinary(key, "list", bytes, &code)},
        {"bytes as list", registry.GetMultiString(key, "bytes", list, &code)},
    };
    for (const WrongRead& wrong : wrongReads) {
        EXPECT_FALSE(wrong.read) << wrong.what;
    }
    registry.GetString(key, "number", text, &code);
    EXPECT_EQ(code, RegistryError::WrongType);
    EXPECT_TRUE(text.empty());
}

TYPED_TEST(RegistryContract, MissingThingsReportNotFound)
{
    Registry& registry = this->m_registry;
    const std::string missingKey = this->Path("missing");
    uint32_t number = 7;
    std::string text;
    std::vector<std::string> names{"stale"};
    RegistryError code;

    struct Case {
        const char* what;
        std::function<bool()> call;
    };
    const Case cases[] = {
        {"value of an existing key", [&] { return registry.GetDWORD(this->m_base, "none", number, &code); }},
        {"value of a missing key", [&] { return registry.GetString(missingKey, "none", text, &code); }},
        {"write to a missing key", [&] { return registry.SetDWORD(missingKey, "v", 1, &code); }},
        {"delete a missing value", [&] { return registry.DeleteValue(this->m_base, "none", &code); }},
        {"delete a missing key", [&] { return registry.DeleteSubKey(this->m_base, "missing", &code); }},
        {"delete a missing branch", [&] { return registry.DeleteBranch(this->m_base, "missing", &code); }},
        {"enumerate a missing key", [&] { return registry.GetSubKeys(missingKey, names, &code) != 0; }},
    };
    for (const Case& c : cases) {
        code = RegistryError::Success;
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(code, RegistryError::NotFound) << c.what;
    }
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(registry.CountSubKeys(this->m_base), 0u) << "a write to a missing key created it";
}

TYPED_TEST(RegistryContract, InvalidArgumentsChangeNothing)
{
    Registry& registry = this->m_registry;
    RegistryError code;
    std::vector<std::string> list;
    ASSERT_TRUE(registry.SetMultiString(this->m_base, "list", {"keep"}));

    EXPECT_FALSE(registry.SetMultiString(this->m_base, "list", {"a", "", "b"}, &code));
    EXPECT_EQ(code, RegistryError::InvalidArgument);
    EXPECT_TRUE(registry.GetMultiString(this->m_base, "list", list));
    EXPECT_EQ(list, std::vector<std::string>{"keep"});

    EXPECT_FALSE(registry.CreateSubKey(this->m_base, "", &code));
    EXPECT_EQ(code, RegistryError::InvalidArgument);
    EXPECT_FALSE(registry.DeleteBranch(this->m_base, "", &code));
    EXPECT_EQ(code, RegistryError::InvalidArgument);
    EXPECT_EQ(registry.GetSubKeyPath(this->m_base, 0, &code), "");
    EXPECT_EQ(code, RegistryError::InvalidArgument);
}

TYPED_TEST(RegistryContract, BranchesAreEnumeratedCopiedAndDeleted)
{
    Registry& registry = this->m_registry;
    RegistryError code;
    ASSERT_TRUE(registry.CreateSubKey(this->m_base, "src\\b\\deep"));
    ASSERT_TRUE(registry.CreateSubKey(this->m_base, "src\\A"));
    ASSERT_TRUE(registry.SetString(this->Path("src\\b\\deep"), "", std::string("default")));
    ASSERT_TRUE(registry.SetDWORD(this->Path("src"), "n", 5));

    std::vector<std::string> names;
    EXPECT_EQ(registry.GetSubKeys(this->Path("src"), names), 2u);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b"}));
    EXPECT_EQ(registry.GetSubKeyPath(this->Path("src"), 1), this->Path("src\\b"));

    // Key names compare without regard to case, so this destination lies inside the source.
    EXPECT_FALSE(registry.CopyBranch(this->Path("src"), this->Path("SRC\\b\\copy"), &code));
    EXPECT_EQ(code, RegistryError::InvalidArgument);
    EXPECT_FALSE(registry.CopyBranch(this->Path("absent"), this->Path("dst"), &code));
    EXPECT_EQ(code, RegistryError::NotFound);
    EXPECT_EQ(registry.CountSubKeys(this->m_base), 1u) << "a failed copy left a destination";

    ASSERT_TRUE(registry.CopyBranch(this->Path("src"), this->Path("dst")));
    std::string text;
    EXPECT_TRUE(registry.GetString(this->Path("dst\\b\\deep"), "", text));
    EXPECT_EQ(text, "default");
    EXPECT_EQ(registry.CountValues(this->Path("dst")), 1u);

    EXPECT_FALSE(registry.DeleteSubKey(this->m_base, "src", &code)) << "a key with subkeys was deleted";
    EXPECT_TRUE(registry.DeleteBranch(this->m_base, "src"));
    EXPECT_EQ(registry.CountSubKeys(this->m_base), 1u);
}

class Win32RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_registry.CreateKey(m_key)); }
    void TearDown() override { m_registry.DeleteBranch(L"Software", m_name); }
    // Writes data the way other programs may store it, bypassing the layer's own encoding.
    void WriteRaw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        UniqueKey owner(key);
        ASSERT_EQ(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }

    Win32Registry m_registry = [] {
        Win32Registry registry;
        registry.SetRoot(HKEY_CURRENT_USER);
        return registry;
    }();
    const std::wstring m_name = Wide(UniqueName("win32"));
    const std::wstring m_key = L"Software\\" + m_name;
};

TEST_F(Win32RegistryTest, EveryValueTypeReadsBackAsStored)
{
    const wchar_t expandable[] = L"%SystemRoot%\\x";
    const wchar_t unterminated[] = {L'a', L'b'};
    const wchar_t brokenList[] = L"a\0\0b\0";
    WriteRaw(L"expand", REG_EXPAND_SZ, expandable, sizeof(expandable));
    WriteRaw(L"unterminated", REG_SZ, unterminated, sizeof(unterminated));
    WriteRaw(L"brokenList", REG_MULTI_SZ, brokenList, sizeof(brokenList));
    WriteRaw(L"none", REG_NONE, "\x01\x02", 2);
    ASSERT_TRUE(m_registry.SetQWORD(m_key, L"qword", 0x1122334455667788ull));
    ASSERT_TRUE(m_registry.SetMultiString(m_key, L"emptyList", std::vector<std::wstring>{}));
    ASSERT_TRUE(m_registry.SetBinary(m_key, L"emptyBytes", RegistryBytes{}));

    std::wstring text;
    EXPECT_TRUE(m_registry.GetString(m_key, L"expand", text));
    EXPECT_EQ(text, L"%SystemRoot%\\x") << "environment variables must stay unexpanded";
    EXPECT_TRUE(m_registry.GetString(m_key, L"unterminated", text));
    EXPECT_EQ(text, L"ab");

    std::vector<std::wstring> list{L"stale"};
    EXPECT_TRUE(m_registry.GetMultiString(m_key, L"brokenList", list));
    EXPECT_EQ(list, std::vector<std::wstring>{L"a"});
    EXPECT_TRUE(m_registry.GetMultiString(m_key, L"emptyList", list));
    EXPECT_TRUE(list.empty());

    uint64_t qword = 0;
    EXPECT_TRUE(m_registry.GetQWORD(m_key, L"qword", qword));
    EXPECT_EQ(qword, 0x1122334455667788ull);
    uint32_t dword = 0;
    RegistryError code;
    EXPECT_FALSE(m_registry.GetDWORD(m_key, L"qword", dword, &code));
    EXPECT_EQ(code, RegistryError::WrongType);

    RegistryBytes bytes{1};
    EXPECT_TRUE(m_registry.GetBinary(m_key, L"emptyBytes", bytes));
    EXPECT_TRUE(bytes.empty());

    DWORD type = 0;
    EXPECT_TRUE(m_registry.GetValueRaw(m_key, L"none", bytes, type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(bytes, (RegistryBytes{1, 2}));
    EXPECT_EQ(m_registry.GetValueType(m_key, L"qword"), static_cast<DWORD>(REG_QWORD));
    EXPECT_EQ(m_registry.GetValueType(m_key, L"absent", &code), 0u);
    EXPECT_EQ(code, RegistryError::NotFound);
    EXPECT_FALSE(m_registry.CopyValue(m_key, L"none", m_key, L"copy", &code)) << "REG_NONE cannot be copied";
    EXPECT_EQ(code, RegistryError::WrongType);
}

TEST_F(Win32RegistryTest, KeyPathsWithoutParentAndLongNames)
{
    RegistryError code;
    EXPECT_FALSE(m_registry.DeleteKey(L"NoBackslash", &code));
    EXPECT_EQ(code, RegistryError::InvalidArgument);

    // The longest key name Windows allows must not break enumeration.
    const std::wstring longName(255, L'k');
    ASSERT_TRUE(m_registry.CreateSubKey(m_key, longName));
    std::vector<std::wstring> names;
    EXPECT_EQ(m_registry.GetSubKeys(m_key, names, &code), 1u);
    EXPECT_EQ(code, RegistryError::Success);
    EXPECT_TRUE(m_registry.SubKeyExists(m_key, longName));
    EXPECT_TRUE(m_registry.DeleteSubKey(m_key, longName));

    // A top-level key is created under the root itself.
    const std::wstring topLevel = L"NvTests-top-" + std::to_wstring(::GetCurrentProcessId());
    EXPECT_TRUE(m_registry.CreateKey(topLevel));
    EXPECT_TRUE(m_registry.KeyExists(topLevel));
    EXPECT_TRUE(m_registry.DeleteBranch(L"", topLevel));
}

// Both views of HKEY_LOCAL_MACHINE\Software, filled with a branch each.
class RegistryViewTest : public ::testing::Test {
protected:
    static constexpr int kKeys = 20;
    static constexpr int kValues = 25;

    void TearDown() override
    {
        // A failed ownership test must not leave its locked key behind.
        TakeKeyOwnership(HKEY_LOCAL_MACHINE, m_branch + L"\\locked", CreateAdministratorsSid().get(), m_resetAccess,
                         false);
        for (DWORD view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            m_registry.SetAccessFlags(view);
            m_registry.DeleteBranch(L"Software", m_name);
        }
    }
    void FillBranch(DWORD view, const std::wstring& marker)
    {
        m_registry.SetAccessFlags(view);
        for (int k = 0; k < kKeys; ++k) {
            const std::wstring key = m_branch + L"\\key" + std::to_wstring(k) + L"\\inner";
            ASSERT_TRUE(m_registry.CreateKey(key));
            for (int v = 0; v < kValues; ++v) {
                ASSERT_TRUE(m_registry.SetString(key, L"v" + std::to_wstring(v), marker + std::to_wstring(v)));
            }
            ASSERT_TRUE(m_registry.SetBinary(key, L"blob", RegistryBytes(4096, static_cast<uint8_t>(k))));
        }
    }

    Win32Registry m_registry;
    // The access list an ownership reset gives; only the holder's list may end up on the key.
    static constexpr wchar_t kResetSddl[] = L"D:(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)";
    OwnedSecurityAttributes m_resetAccess = [] {
        OwnedSecurityAttributes holder;
        holder.AssignFromSddl(kResetSddl);
        return holder;
    }();
    const std::wstring m_name = Wide(UniqueName("views"));
    const std::wstring m_branch = L"Software\\" + m_name;
};

TEST_F(RegistryViewTest, BranchesStaySeparateInTheTwoViews)
{
    FillBranch(KEY_WOW64_32KEY, L"32-");
    FillBranch(KEY_WOW64_64KEY, L"64-");

    std::wstring text;
    for (const auto& [view, marker] : {std::pair{KEY_WOW64_32KEY, L"32-9"}, std::pair{KEY_WOW64_64KEY, L"64-9"}}) {
        m_registry.SetAccessFlags(view);
        std::vector<std::wstring> keys;
        EXPECT_EQ(m_registry.GetSubKeys(m_branch, keys), static_cast<uint32_t>(kKeys));
        EXPECT_TRUE(m_registry.GetString(m_branch + L"\\key7\\inner", L"v9", text));
        EXPECT_EQ(text, marker);
    }
    // The 32-bit view is the redirected folder of the 64-bit one.
    m_registry.SetAccessFlags(KEY_WOW64_64KEY);
    EXPECT_TRUE(m_registry.GetString(L"Software\\WOW6432Node\\" + m_name + L"\\key3\\inner", L"v1", text));
    EXPECT_EQ(text, L"32-1");

    m_registry.SetAccessFlags(KEY_WOW64_32KEY);
    ASSERT_TRUE(m_registry.CopyBranch(m_branch + L"\\key1", m_branch + L"\\copy"));
    RegistryBytes blob;
    EXPECT_TRUE(m_registry.GetBinary(m_branch + L"\\copy\\inner", L"blob", blob));
    EXPECT_EQ(blob, RegistryBytes(4096, 1));
    EXPECT_TRUE(m_registry.DeleteBranch(L"Software", m_name));
    EXPECT_FALSE(m_registry.KeyExists(m_branch));

    m_registry.SetAccessFlags(KEY_WOW64_64KEY);
    EXPECT_TRUE(m_registry.KeyExists(m_branch + L"\\key19\\inner")) << "deleting in one view touched the other";
    EXPECT_TRUE(m_registry.DeleteBranch(L"Software", m_name));
    EXPECT_FALSE(m_registry.KeyExists(m_branch));
}

std::wstring KeySecurity(const std::wstring& objectName, SE_OBJECT_TYPE type)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const SECURITY_INFORMATION info = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (::GetNamedSecurityInfoW(objectName.c_str(), type, info, nullptr, nullptr, nullptr, nullptr, &descriptor) !=
        ERROR_SUCCESS) {
        return L"unreadable";
    }
    UniqueLocal owner(descriptor);
    wchar_t* sddl = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, info, &sddl, nullptr);
    UniqueLocal text(sddl);
    return sddl != nullptr ? sddl : L"";
}

// Wine 8 accepts the 32-bit-view object type of the security calls but changes nothing, so only the
// 64-bit view can be shown here.
TEST_F(RegistryViewTest, KeyThatRefusesDeletionIsRecoveredThroughOwnership)
{
    const UniqueSid administrators = CreateAdministratorsSid();
    ASSERT_FALSE(m_resetAccess.IsEmpty());

    m_registry.SetAccessFlags(KEY_WOW64_64KEY);
    const std::wstring key = m_branch + L"\\locked";
    ASSERT_TRUE(m_registry.CreateKey(key));
    {
        // Owned by SYSTEM, deletion denied to everyone.
        PSECURITY_DESCRIPTOR denying = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:P(D;;SD;;;WD)(A;;GA;;;WD)",
                                                                           SDDL_REVISION_1, &denying, nullptr));
        UniqueLocal owner(denying);
        HKEY handle = nullptr;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, WRITE_DAC | WRITE_OWNER, &handle), ERROR_SUCCESS);
        UniqueKey opened(handle);
        ASSERT_EQ(::RegSetKeySecurity(handle, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, denying),
                  ERROR_SUCCESS);
    }
    RegistryError code;
    EXPECT_FALSE(m_registry.DeleteKey(key, &code));
    EXPECT_EQ(code, RegistryError::AccessDenied);

    EXPECT_EQ(TakeKeyOwnership(HKEY_LOCAL_MACHINE, key, administrators.get(), m_resetAccess, false), 0u);
    const std::wstring security = KeySecurity(L"MACHINE\\" + key, SE_REGISTRY_KEY);
    EXPECT_EQ(security.substr(0, 6), L"O:BAD:") << security;
    EXPECT_EQ(security.substr(security.find(L'(')), L"(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)") << security;
    EXPECT_TRUE(m_registry.DeleteKey(key, &code));
}

} // namespace

namespace {

RegistryBytes Bytes(const std::wstring& text)
{
    RegistryBytes bytes(text.size() * sizeof(wchar_t));
    memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

TEST(NameLists, EveryFormWindowsReadsIsAListAndIsWrittenBackInItsOwnForm)
{
    using Names = std::vector<std::wstring>;
    const struct {
        DWORD type;
        std::wstring data;
        wchar_t separator;
        Names names;
    } cases[] = {
        {REG_MULTI_SZ, std::wstring(L"a\0nvepsp\0b\0\0", 12), L'\0', {L"a", L"nvepsp", L"b"}},
        // Without the final terminators, and with an empty string that ends the list early.
        {REG_MULTI_SZ, std::wstring(L"a\0nvepsp", 8), L'\0', {L"a", L"nvepsp"}},
        {REG_MULTI_SZ, std::wstring(L"a\0\0b\0", 5), L'\0', {L"a"}},
        {REG_MULTI_SZ, std::wstring(), L'\0', {}},
        // A text is one name, ending at its first NUL; a provider order joins its names with commas.
        {REG_SZ, std::wstring(L"nvepsp\0", 7), L'\0', {L"nvepsp"}},
        {REG_SZ, L"nvepsp", L'\0', {L"nvepsp"}},
        {REG_EXPAND_SZ, std::wstring(L"nv\0junk", 7), L'\0', {L"nv"}},
        {REG_SZ, L"RDPNP,LanmanWorkstation, webclient,", L',', {L"RDPNP", L"LanmanWorkstation", L"webclient"}},
    };
    for (const auto& c : cases) {
        Names names{L"stale"};
        EXPECT_TRUE(NvNameLists::Parse(c.type, Bytes(c.data), c.separator, names)) << c.type;
        EXPECT_EQ(names, c.names) << c.type << L" " << c.data;
    }
    Names names;
    EXPECT_FALSE(NvNameLists::Parse(REG_BINARY, Bytes(L"nvepsp"), L'\0', names)) << "binary data holds no list";
    EXPECT_FALSE(NvNameLists::Parse(REG_DWORD, RegistryBytes(4), L'\0', names));

    names = {L"a", L"NvEpSp", L"b", L"nvepsp"};
    EXPECT_TRUE(NvNameLists::RemoveNames(names, {L"nvepsp"}));
    EXPECT_EQ(names, (Names{L"a", L"b"})) << "removed without regard to case, the others kept in order";
    EXPECT_FALSE(NvNameLists::RemoveNames(names, {L"nvep"})) << "whole names only";
    EXPECT_EQ(NvNameLists::Format(REG_MULTI_SZ, names, L'\0'), Bytes(std::wstring(L"a\0b\0\0", 5)));
    EXPECT_EQ(NvNameLists::Format(REG_SZ, {L"RDPNP", L"webclient"}, L','),
              Bytes(std::wstring(L"RDPNP,webclient\0", 16)));
    EXPECT_EQ(NvNameLists::Format(REG_SZ, {L"upper"}, L'\0'), Bytes(std::wstring(L"upper\0", 6)));
}

} // namespace
