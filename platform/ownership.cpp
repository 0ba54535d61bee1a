#include "platform/ownership.h"

#include "platform/security.h"

namespace {

// The holder's DACL, or the error that an ownership reset reports without one.
DWORD HolderDacl(const OwnedSecurityAttributes& holder, PSID owner, PACL& dacl)
{
    if (holder.IsEmpty()) {
        return ERROR_INVALID_PARAMETER;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    // A descriptor without a DACL leaves no error behind; make sure an older one is not reported instead.
    ::SetLastError(ERROR_SUCCESS);
    if (!::GetSecurityDescriptorDacl(holder.Get()->lpSecurityDescriptor, &present, &dacl, &defaulted) || !present) {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_INVALID_PARAMETER;
    }
    return owner == nullptr ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

constexpr SECURITY_INFORMATION kOwnerAndDacl =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

} // namespace

DWORD ResetHandleOwnership(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner,
                           const OwnedSecurityAttributes& holder, SetSecurityInfoCall setSecurityInfo)
{
    PACL dacl = nullptr;
    if (const DWORD error = HolderDacl(holder, owner, dacl); error != ERROR_SUCCESS) {
        return error;
    }
    information &= kOwnerAndDacl;
    return setSecurityInfo(handle, type, information, (information & OWNER_SECURITY_INFORMATION) != 0 ? owner : nullptr,
                           nullptr, (information & DACL_SECURITY_INFORMATION) != 0 ? dacl : nullptr, nullptr);
}
