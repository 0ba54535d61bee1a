#include "platform/security.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {

std::wstring DaclAsSddl(const OwnedSecurityAttributes& holder)
{
    wchar_t* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(holder.Get()->lpSecurityDescriptor, SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return L"<conversion failed>";
    }
    const UniqueLocal owner(text);
    return text;
}

std::vector<std::wstring> SplitAces(const std::wstring& sddl)
{
    std::vector<std::wstring> aces;
    for (size_t open = sddl.find(L'('); open != std::wstring::npos; open = sddl.find(L'(', open + 1)) {
        aces.push_back(sddl.substr(open, sddl.find(L')', open) - open + 1));
    }
    return aces;
}

// "LA" is a SID of the machine's account domain; systems render it as the alias or as S-1-5-21-...-500.
bool SameAce(const std::wstring& actual, const std::wstring& expected)
{
    const std::wstring alias = L";LA)";
    if (expected.ends_with(alias) && !actual.ends_with(alias)) {
        const std::wstring head = expected.substr(0, expected.size() - alias.size() + 1);
        return actual.starts_with(head + L"S-1-5-21-") && actual.ends_with(L"-500)");
    }
    return actual == expected;
}

void ExpectProtectedSelfRelative(const OwnedSecurityAttributes& holder)
{
    ASSERT_FALSE(holder.IsEmpty());
    EXPECT_EQ(holder.Get()->nLength, 24u);
    EXPECT_FALSE(holder.Get()->bInheritHandle);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(holder.Get()->lpSecurityDescriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    EXPECT_TRUE(control & SE_SELF_RELATIVE);
    EXPECT_TRUE(control & SE_DACL_PRESENT);
}

TEST(SecurityDescriptors, WorkDirectoryDescriptorHoldsTheAcesInOrder)
{
    OwnedSecurityAttributes holder;
    BuildWorkDirectorySecurity(holder);
    ExpectProtectedSelfRelative(holder);

    const std::wstring sddl = DaclAsSddl(holder);
    EXPECT_TRUE(sddl.starts_with(L"D:P(")) << sddl;
    const std::vector<std::wstring> expected = {
        L"(D;OICI;GA;;;AN)",       L"(D;OICI;GA;;;NU)", L"(D;OICI;GA;;;LS)", L"(A;OICI;0x1200a9;;;BG)",
        L"(A;OICI;0x1200a9;;;BU)", L"(A;OICI;GA;;;BA)", L"(A;OICI;GA;;;LA)", L"(A;OICI;GA;;;SY)",
    };
    const std::vector<std::wstring> actual = SplitAces(sddl);
    ASSERT_EQ(actual.size(), expected.size()) << sddl;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(SameAce(actual[i], expected[i])) << L"ACE " << i << L": " << actual[i];
    }
}

TEST(SecurityDescriptors, OwnershipResetDescriptorAdmitsAdministratorsAndSystemOnly)
{
    OwnedSecurityAttributes holder;
    BuildAdministratorsOnlySecurity(holder);
    ExpectProtectedSelfRelative(holder);
    EXPECT_EQ(DaclAsSddl(holder), L"D:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)");
}

TEST(SecurityDescriptors, HolderIsEmptyAfterBadSddlAndAfterReset)
{
    OwnedSecurityAttributes holder;
    BuildAdministratorsOnlySecurity(holder);
    ASSERT_FALSE(holder.IsEmpty());
    EXPECT_FALSE(holder.AssignFromSddl(L"D:(A;OICI;GA;;;NOT-A-SID"));
    EXPECT_TRUE(holder.IsEmpty());
    EXPECT_EQ(holder.Get(), nullptr);

    BuildWorkDirectorySecurity(holder);
    ASSERT_FALSE(holder.IsEmpty());
    holder.Reset();
    EXPECT_TRUE(holder.IsEmpty());
}

TEST(SecurityDescriptors, AdministratorsSidIsTheBuiltinGroup)
{
    const UniqueSid sid = CreateAdministratorsSid();
    ASSERT_TRUE(sid);
    EXPECT_TRUE(::IsWellKnownSid(sid.get(), WinBuiltinAdministratorsSid));
}

TEST(SecurityDescriptors, MembershipOfBuiltinGroups)
{
    // Wine runs every program as an administrator.
    EXPECT_TRUE(IsAdministrator());
    EXPECT_TRUE(IsMemberOfBuiltinGroup(nullptr, DOMAIN_ALIAS_RID_USERS));
    EXPECT_FALSE(IsMemberOfBuiltinGroup(nullptr, DOMAIN_ALIAS_RID_GUESTS));
    // A primary token is not accepted by CheckTokenMembership; a failing check counts as no membership.
    UniqueToken processToken;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, processToken.put()));
    EXPECT_FALSE(IsAdministrator(processToken.get()));
}

} // namespace
