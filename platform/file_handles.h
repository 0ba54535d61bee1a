#pragma once

#include "base/unique_resource.h"

#include <windows.h>

#include <string>
#include <vector>

// File system access that never follows a link. Each folder is opened once and every name in it is opened
// relative to that handle with FILE_OPEN_REPARSE_POINT, and what was opened is confirmed from the handle, so
// a folder swapped for a junction after it was checked is not entered.
namespace NvFileHandles {

// A folder opened as itself, with its name as the file system reports it for the handle and the literal
// path it was reached by.
struct Folder {
    UniqueFile handle;
    std::wstring name;
    std::wstring path;
};

enum class Kind {
    Missing,
    File,
    Directory,
    // A junction, symbolic link or mount point. The handle, when present, is the link itself.
    Link,
    // The open reached an object whose name differs from the one asked for, without a reparse point being
    // reported: an alias such as a short name, or a link the system followed anyway. Never used.
    Unverified,
    Failed,
};

struct Entry {
    UniqueFile handle;
    Kind kind = Kind::Failed;
    DWORD attributes = 0;
    DWORD linkCount = 1;
    DWORD error = ERROR_SUCCESS;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `name` inside the folder with the given access added to FILE_READ_ATTRIBUTES and SYNCHRONIZE.
Entry OpenChild(const Folder& parent, const std::wstring& name, ACCESS_MASK access, DWORD share = kShareAll);
// Creates the file `name` inside the folder, never opening anything already there (a file, a link); no sharing.
// Null with the reason in `error` on failure.
UniqueFile CreateNewChild(const Folder& parent, const std::wstring& name, ACCESS_MASK access, DWORD& error);
// Renames the opened object to `name` inside `parent`, replacing what is there as a name (never through it).
// Tries the extended form that also replaces a read-only file first. Returns a Win32 error code.
DWORD RenameInto(HANDLE handle, const Folder& parent, const std::wstring& name);
// Makes an opened directory entry the folder that its children are opened from.
bool AdoptFolder(Entry& entry, const Folder& parent, const std::wstring& name, Folder& folder);

struct Listed {
    std::wstring name;
    DWORD attributes;
};
// Lists an opened folder, "." and ".." included. False when the listing failed, which is never an empty folder.
bool ListFolder(const Folder& folder, std::vector<Listed>& entries);

enum class Reach {
    // `parent` holds the path's last component `name`.
    Parent,
    // A folder on the way is missing or is a file.
    Missing,
    // A folder on the way is a link: `parent` holds it as `name`, `path` is its literal path, `link` the open.
    Link,
    Failed,
};

struct Target {
    Folder parent;
    std::wstring name;
    // The literal path of `name` (or of the link met on the way).
    std::wstring path;
    Entry link;
};

// Opens the root folder of a literal path ("\\?\C:\" or "\\?\UNC\server\share\") with the given access added
// to listing; `rootLength` is the length of that root in the path. False when the path has no root.
bool OpenRoot(const std::wstring& literal, ACCESS_MASK access, Folder& root, size_t& rootLength);
// The path's components after `start`, empty ones skipped.
std::vector<std::wstring> Components(const std::wstring& literal, size_t start);

// Opens the folder that holds the path's last component, walking down without following links from the
// deepest special folder that contains the path (the volume root when none does). Folders above that
// starting point belong to the system and are taken as they are.
Reach ReachParent(const std::wstring& path, Target& target);

using SetInformationCall = BOOL(WINAPI*)(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS type, LPVOID information, DWORD size);
// Marks the opened object for deletion; a link goes itself. Read-only is ignored where the system allows it.
bool DeleteOpened(HANDLE handle, SetInformationCall setInformation);
// Clears the read-only attribute through the handle (which needs FILE_WRITE_ATTRIBUTES).
void ClearReadOnly(HANDLE handle, DWORD attributes);
} // namespace NvFileHandles
