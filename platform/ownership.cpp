#include "platform/ownership.h"

#include "platform/privilege.h"
#include "platform/security.h"

DWORD ResetObjectOwnership(const std::wstring& objectName, SE_OBJECT_TYPE type, PSID owner,
                           const OwnedSecurityAttributes& holder, SetNamedSecurityInfoCall setNamedSecurityInfo)
{
    if (holder.IsEmpty()) {
        return ERROR_INVALID_PARAMETER;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    // A descriptor without a DACL leaves no error behind; make sure an older one is not reported instead.
    ::SetLastError(ERROR_SUCCESS);
    if (!::GetSecurityDescriptorDacl(holder.Get()->lpSecurityDescriptor, &present, &dacl, &defaulted) || !present) {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_INVALID_PARAMETER;
    }
    if (owner == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // The call needs its own writable copy of the name.
    std::wstring name = objectName;
    NvPrivilege takeOwnership(SE_TAKE_OWNERSHIP_NAME);
    return setNamedSecurityInfo(
        name.data(), type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        owner, nullptr, dacl, nullptr);
}
