#pragma once

#include <aclapi.h>
#include <windows.h>

class OwnedSecurityAttributes;

using SetSecurityInfoCall = DWORD(WINAPI*)(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                           PSID group, PACL dacl, PACL sacl);

// Makes the SID the owner of an object opened by handle, which names exactly the object that was checked, and
// replaces its access list with the holder's protected DACL. `information` chooses what is written: the owner,
// the protected DACL, or both. Returns a Win32 error code, 0 on success.
DWORD ResetHandleOwnership(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner,
                           const OwnedSecurityAttributes& holder, SetSecurityInfoCall setSecurityInfo);
