#pragma once

#include <aclapi.h>
#include <windows.h>

#include <string>

class OwnedSecurityAttributes;

using SetNamedSecurityInfoCall = DWORD(WINAPI*)(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                                PSID group, PACL dacl, PACL sacl);
using SetSecurityInfoCall = DWORD(WINAPI*)(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                           PSID group, PACL dacl, PACL sacl);

// Makes the SID the owner of a named file or registry object and replaces its access list with the holder's
// protected DACL, with SeTakeOwnershipPrivilege enabled for the call. Returns a Win32 error code, 0 on success.
DWORD ResetObjectOwnership(const std::wstring& objectName, SE_OBJECT_TYPE type, PSID owner,
                           const OwnedSecurityAttributes& holder,
                           SetNamedSecurityInfoCall setNamedSecurityInfo = ::SetNamedSecurityInfoW);

// The same for an object opened by handle, which names exactly the object that was checked. `information`
// chooses what is written: the owner, the protected DACL, or both.
DWORD ResetHandleOwnership(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner,
                           const OwnedSecurityAttributes& holder, SetSecurityInfoCall setSecurityInfo);
