#pragma once

#include "platform/ownership.h"

#include <windows.h>

#include <string>
#include <vector>

// Forced removal of files and directory trees, listings, and the uniquely named work directory.
namespace FileOps {
bool WipeFileInternal(const std::wstring& path, DWORD attributes);
bool DoRemoveDirectory(const std::wstring& path);
bool WipeDirectoryInternal(const std::wstring& path);
bool RemoveRecursive(const std::wstring& path);
bool DeleteFileAndParent(const std::wstring& path);
bool RemoveDirectoryRecursiveAndParentIfEmpty(const std::wstring& path);
bool ContainsFiles(const std::wstring& path, bool recursive);
std::vector<std::wstring> ListDirectory(const std::wstring& path, bool includeFiles, bool includeDirectories);
bool RemoveDirectoryTree(const std::wstring& path, bool allowDelayed);

// The calls through which removal deletes and re-secures objects. Tests replace them to reproduce access
// lists that lock out the administrator, which Wine accepts but does not enforce.
struct Calls {
    BOOL(WINAPI* deleteFile)(LPCWSTR path);
    BOOL(WINAPI* removeDirectory)(LPCWSTR path);
    SetNamedSecurityInfoCall setNamedSecurityInfo;
};
// Installs the calls and returns the ones they replace.
Calls ReplaceCalls(const Calls& calls);
} // namespace FileOps

std::wstring CreateUniqueDirectory(const std::wstring& parent, SECURITY_ATTRIBUTES* attributes);
bool HasPendingFileOperation(const std::wstring& path);
DWORD TakeOwnership(const std::wstring& objectPath, PSID administrators, const class OwnedSecurityAttributes& holder);
