#pragma once

#include "platform/file_handles.h"
#include "platform/ownership.h"

#include <windows.h>

#include <string>
#include <vector>

// Forced removal of files and directory trees, listings, and the uniquely named work directory. No removal
// follows a link: a junction, symbolic link or mount point met as the path given, as a folder on the way to
// it or inside a tree is deleted (or scheduled) as a name, and nothing behind it is touched. A file with
// several hard links only loses the name given; its attributes and security stay as they are.
namespace FileOps {
// What a removal did: `done` when everything is gone or left to the restart, `scheduled` when anything waits
// for the restart, also when another part failed. Raising the run's restart flag is the caller's business.
struct Result {
    bool done = false;
    bool scheduled = false;

    explicit operator bool() const { return done; }
};

Result WipeFileInternal(const std::wstring& path);
Result DoRemoveDirectory(const std::wstring& path);
Result WipeDirectoryInternal(const std::wstring& path);
// nameFiles: one Info line for each file of the tree (and its restart, when it is scheduled).
Result RemoveRecursive(const std::wstring& path, bool nameFiles = false);
Result DeleteFileAndParent(const std::wstring& path);
Result RemoveDirectoryRecursiveAndParentIfEmpty(const std::wstring& path);
// True when a file was found, and also when a folder of the tree could not be listed: a refused listing is
// not an empty one. A missing path, a file and a link hold no files.
bool ContainsFiles(const std::wstring& path, bool recursive);
std::vector<std::wstring> ListDirectory(const std::wstring& path, bool includeFiles, bool includeDirectories);
Result RemoveDirectoryTree(const std::wstring& path, bool allowDelayed);

// The calls through which removal deletes and re-secures the objects it opened. Tests replace them to
// reproduce access lists that lock out the administrator, which Wine accepts but does not enforce.
struct Calls {
    NvFileHandles::SetInformationCall setFileInformation;
    SetSecurityInfoCall setSecurityInfo;
};
// Installs the calls and returns the ones they replace.
Calls ReplaceCalls(const Calls& calls);
} // namespace FileOps

// A new directory "<prefix><tick count><attempt>.tmp" in parent; empty when none could be made.
std::wstring CreateUniqueDirectory(const std::wstring& parent, const wchar_t* prefix, SECURITY_ATTRIBUTES* attributes);
