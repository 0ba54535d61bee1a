#include "platform/security.h"

#include <sddl.h>

namespace {

// What an ownership reset leaves behind: nobody but the administrators and the system may open it, so an
// object whose deletion still fails does not become writable by ordinary users.
constexpr wchar_t kAdministratorsOnlySddl[] = L"D:"
                                              L"(A;OICI;GA;;;BA)"
                                              L"(A;OICI;GA;;;SY)";

constexpr wchar_t kWorkDirectorySddl[] = L"D:"
                                         L"(D;OICI;GA;;;AN)"
                                         L"(D;OICI;GA;;;NU)"
                                         L"(D;OICI;GA;;;LS)"
                                         L"(A;OICI;0x1200a9;;;BG)"
                                         L"(A;OICI;0x1200a9;;;BU)"
                                         L"(A;OICI;GA;;;BA)"
                                         L"(A;OICI;GA;;;LA)"
                                         L"(A;OICI;GA;;;SY)";

UniqueSid CreateBuiltinGroupSid(DWORD relativeId)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid sid;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, relativeId, 0, 0, 0, 0, 0, 0,
                                    sid.put())) {
        return UniqueSid();
    }
    return sid;
}

} // namespace

void OwnedSecurityAttributes::Reset()
{
    m_attributes.reset();
    m_descriptor.reset();
}

bool OwnedSecurityAttributes::AssignFromSddl(const wchar_t* sddl)
{
    Reset();
    UniqueLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
        return false;
    }
    // Without the protected flag the directory would also pick up the ACEs inherited from its parent.
    if (!::SetSecurityDescriptorControl(descriptor.get(), SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return false;
    }
    m_attributes = std::make_unique<SECURITY_ATTRIBUTES>();
    m_attributes->nLength = sizeof(SECURITY_ATTRIBUTES);
    m_attributes->lpSecurityDescriptor = descriptor.get();
    m_attributes->bInheritHandle = FALSE;
    m_descriptor = std::move(descriptor);
    return true;
}

void BuildAdministratorsOnlySecurity(OwnedSecurityAttributes& holder)
{
    holder.AssignFromSddl(kAdministratorsOnlySddl);
}

void BuildWorkDirectorySecurity(OwnedSecurityAttributes& holder)
{
    holder.AssignFromSddl(kWorkDirectorySddl);
}

UniqueSid CreateAdministratorsSid()
{
    return CreateBuiltinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
}

bool IsMemberOfBuiltinGroup(HANDLE token, DWORD relativeId)
{
    const UniqueSid sid = CreateBuiltinGroupSid(relativeId);
    if (!sid) {
        return false;
    }
    BOOL member = FALSE;
    return ::CheckTokenMembership(token, sid.get(), &member) && member;
}

bool IsAdministrator(HANDLE token)
{
    return IsMemberOfBuiltinGroup(token, DOMAIN_ALIAS_RID_ADMINS);
}
