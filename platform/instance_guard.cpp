#include "platform/instance_guard.h"

#include "platform/security.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

constexpr wchar_t kBoundaryName[] = L"NorvaneUninstallationTool";
constexpr wchar_t kNamespaceAlias[] = L"NorvaneUninstallationTool";
constexpr wchar_t kMutexName[] = L"{91D7C0A1-4A48-4F19-8492-D22A1F91C4CE}";
constexpr wchar_t kGlobalMutexName[] = L"Global\\NorvaneUninstallationTool.{91D7C0A1-4A48-4F19-8492-D22A1F91C4CE}";
// Nobody but the administrators and the system may open the namespace or the mutex. The global mutex names its
// owner, so that another run can tell it from one a user made.
constexpr wchar_t kGuardSddl[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";
constexpr wchar_t kOwnedGuardSddl[] = L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";

std::wstring ErrorText(const wchar_t* step, DWORD error)
{
    return std::wstring(step) + L" failed: " + std::to_wstring(error);
}

bool IsRunningUser(PSID sid)
{
    UniqueToken token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return false;
    }
    BYTE buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = sizeof(buffer);
    return ::GetTokenInformation(token.get(), TokenUser, buffer, size, &size) &&
           ::EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid);
}

std::wstring SidText(PSID sid)
{
    UniqueLocal text;
    return ::ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.put()))
               ? static_cast<const wchar_t*>(text.get())
               : L"an unreadable account";
}

} // namespace

InstanceGuard::Result InstanceGuard::Acquire(std::wstring& failure)
{
    m_boundary.reset(::CreateBoundaryDescriptorW(kBoundaryName, 0));
    if (!m_boundary) {
        return AcquireOwnedGlobal(failure);
    }
    const UniqueSid administrators = CreateAdministratorsSid();
    HANDLE boundary = m_boundary.release();
    const bool added = administrators && ::AddSIDToBoundaryDescriptor(&boundary, administrators.get());
    m_boundary.reset(boundary);
    if (!added) {
        failure = ErrorText(L"AddSIDToBoundaryDescriptor", ::GetLastError());
        return Result::Failed;
    }
    return AcquireInNamespace(boundary, failure);
}

InstanceGuard::Result InstanceGuard::AcquireInNamespace(HANDLE boundary, std::wstring& failure)
{
    OwnedSecurityAttributes security;
    if (!security.AssignFromSddl(kGuardSddl)) {
        failure = ErrorText(L"ConvertStringSecurityDescriptorToSecurityDescriptorW", ::GetLastError());
        return Result::Failed;
    }
    m_namespace.reset(::CreatePrivateNamespaceW(security.Get(), boundary, kNamespaceAlias));
    if (!m_namespace && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        m_namespace.reset(::OpenPrivateNamespaceW(boundary, kNamespaceAlias));
    }
    if (!m_namespace) {
        failure = ErrorText(L"CreatePrivateNamespaceW", ::GetLastError());
        return Result::Failed;
    }
    m_mutex.reset(::CreateMutexW(security.Get(), FALSE, (std::wstring(kNamespaceAlias) + L"\\" + kMutexName).c_str()));
    const DWORD error = ::GetLastError();
    if (!m_mutex) {
        failure = ErrorText(L"CreateMutexW", error);
        return Result::Failed;
    }
    return error == ERROR_ALREADY_EXISTS ? Result::AlreadyRunning : Result::Acquired;
}

InstanceGuard::Result InstanceGuard::AcquireOwnedGlobal(std::wstring& failure)
{
    OwnedSecurityAttributes security;
    if (!security.AssignFromSddl(kOwnedGuardSddl)) {
        failure = ErrorText(L"ConvertStringSecurityDescriptorToSecurityDescriptorW", ::GetLastError());
        return Result::Failed;
    }
    m_mutex.reset(::CreateMutexW(security.Get(), FALSE, kGlobalMutexName));
    const DWORD error = ::GetLastError();
    if (!m_mutex) {
        // Ours would let the administrators in: one that refuses them was made by someone else.
        failure =
            error == ERROR_ACCESS_DENIED ? L"the name is held by another account" : ErrorText(L"CreateMutexW", error);
        return Result::Failed;
    }
    if (error != ERROR_ALREADY_EXISTS) {
        return Result::Acquired;
    }
    PSID owner = nullptr;
    UniqueLocal descriptor;
    const DWORD read = ::GetSecurityInfo(m_mutex.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                         nullptr, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    if (read != ERROR_SUCCESS) {
        failure = ErrorText(L"GetSecurityInfo", read);
        return Result::Failed;
    }
    if (owner != nullptr && (::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                             ::IsWellKnownSid(owner, WinLocalSystemSid) || IsRunningUser(owner))) {
        return Result::AlreadyRunning;
    }
    failure = L"the name is held by another account (" + (owner != nullptr ? SidText(owner) : L"no owner") + L")";
    return Result::Failed;
}
