#include "platform/privilege.h"

#include "base/unique_resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Attributes of a privilege in the token the thread works with (its own, else the process's); ~0 when
// the token does not hold the privilege.
DWORD PrivilegeAttributes(const wchar_t* name, bool processToken = false)
{
    UniqueToken token;
    if (processToken || !::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, FALSE, token.put())) {
        EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
    }
    LUID luid{};
    EXPECT_TRUE(::LookupPrivilegeValueW(nullptr, name, &luid));
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<DWORD> buffer(size / sizeof(DWORD) + 1);
    EXPECT_TRUE(::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size));
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& held = privileges->Privileges[i].Luid;
        if (held.LowPart == luid.LowPart && held.HighPart == luid.HighPart) {
            return privileges->Privileges[i].Attributes;
        }
    }
    return ~0u;
}

bool IsEnabledInToken(const wchar_t* name, bool processToken = false)
{
    const DWORD attributes = PrivilegeAttributes(name, processToken);
    return attributes != ~0u && (attributes & SE_PRIVILEGE_ENABLED) != 0;
}

TEST(NvPrivilege, EnablesInThreadTokenAndRestoresOnDestruction)
{
    const wchar_t* name = L"SeTakeOwnershipPrivilege";
    ASSERT_NE(PrivilegeAttributes(name), ~0u) << "the account must hold the privilege";
    ASSERT_FALSE(IsEnabledInToken(name));
    {
        NvPrivilege privilege(name);
        EXPECT_TRUE(privilege.IsEnabled());
        EXPECT_TRUE(IsEnabledInToken(name));
        EXPECT_FALSE(IsEnabledInToken(name, true)) << "the process token must stay as it was";
    }
    EXPECT_FALSE(IsEnabledInToken(name));
}

TEST(NvPrivilege, NestedObjectsRestoreInReverseOrder)
{
    const wchar_t* outerName = L"SeRestorePrivilege";
    const wchar_t* innerName = L"SeDebugPrivilege";
    {
        NvPrivilege outer(outerName);
        ASSERT_TRUE(outer.IsEnabled());
        {
            NvPrivilege inner(innerName);
            ASSERT_TRUE(inner.IsEnabled());
            EXPECT_TRUE(IsEnabledInToken(outerName));
            EXPECT_TRUE(IsEnabledInToken(innerName));
        }
        EXPECT_TRUE(IsEnabledInToken(outerName));
        EXPECT_FALSE(IsEnabledInToken(innerName));
    }
    EXPECT_FALSE(IsEnabledInToken(outerName));
}

TEST(NvPrivilege, AlreadyEnabledPrivilegeStaysEnabled)
{
    const wchar_t* name = L"SeBackupPrivilege";
    NvPrivilege outer(name);
    ASSERT_TRUE(outer.IsEnabled());
    {
        NvPrivilege again(name);
        EXPECT_TRUE(again.IsEnabled());
    }
    EXPECT_TRUE(IsEnabledInToken(name));
}

TEST(NvPrivilege, PrivilegeNotHeldOrUnknownIsNotEnabled)
{
    const wchar_t* notHeld = L"SeCreateTokenPrivilege";
    ASSERT_EQ(PrivilegeAttributes(notHeld), ~0u);
    {
        NvPrivilege privilege(notHeld);
        EXPECT_FALSE(privilege.IsEnabled());
    }
    NvPrivilege unknown(L"SeNoSuchPrivilege");
    EXPECT_FALSE(unknown.IsEnabled());
}

TEST(NvPrivilege, DestructorKeepsTheCallersLastError)
{
    {
        NvPrivilege privilege(L"SeShutdownPrivilege");
        ASSERT_TRUE(privilege.IsEnabled());
        ::SetLastError(ERROR_SHARING_VIOLATION);
    }
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

} // namespace
