#include "platform/privilege.h"

#include "base/unique_resource.h"

namespace {

// Privileges are changed in the thread token so that other threads keep their own state. A thread that is
// not impersonating has no token of its own; it gets one by impersonating itself, which stays in place so
// that later objects on this thread work on the same token.
UniqueToken OpenThreadTokenForPrivileges()
{
    constexpr DWORD access = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
    UniqueToken token;
    if (::OpenThreadToken(::GetCurrentThread(), access, FALSE, token.put())) {
        return token;
    }
    if (::GetLastError() != ERROR_NO_TOKEN || !::ImpersonateSelf(SecurityImpersonation)) {
        return UniqueToken();
    }
    if (!::OpenThreadToken(::GetCurrentThread(), access, FALSE, token.put())) {
        return UniqueToken();
    }
    return token;
}

} // namespace

NvPrivilege::NvPrivilege(const wchar_t* name)
{
    const UniqueToken token = OpenThreadTokenForPrivileges();
    if (!token) {
        return;
    }
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid)) {
        return;
    }
    DWORD returnedLength = 0;
    if (!::AdjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof(m_previous), &m_previous, &returnedLength)) {
        m_previous = {};
        return;
    }
    // The call succeeds with ERROR_NOT_ALL_ASSIGNED when the token does not hold the privilege at all.
    m_enabled = ::GetLastError() == ERROR_SUCCESS;
}

NvPrivilege::~NvPrivilege()
{
    if (m_previous.PrivilegeCount == 0) {
        return;
    }
    // Callers often read GetLastError of their own work after this object has gone out of scope.
    const DWORD callerError = ::GetLastError();
    const UniqueToken token = OpenThreadTokenForPrivileges();
    if (token) {
        ::AdjustTokenPrivileges(token.get(), FALSE, &m_previous, 0, nullptr, nullptr);
    }
    ::SetLastError(callerError);
}
