#pragma once

#include "base/unique_resource.h"

#include <windows.h>

#include <string>
#include <vector>

class OwnedSecurityAttributes;

// Registry keys by handle for removal: a key is opened relative to the one above it, a registry link is opened
// as the link itself and never followed, and names are counted, so a name with NUL characters (which the
// native API allows) reaches exactly that key instead of being cut short. Results are Win32 error codes.
namespace NvRegistryKeys {

struct Key {
    UniqueKey handle;
    // A symbolic link (REG_OPTION_CREATE_LINK with its SymbolicLinkValue): it has no subkeys of its own and is
    // deleted as itself.
    bool isLink = false;
};

// Opens the subkey `name` of `parent` as itself with `access` and the view flags in `flags`.
LSTATUS OpenChild(HKEY parent, const std::wstring& name, REGSAM access, DWORD flags, Key& key);

// Opens `path` below `root` for removal: the last key as itself, and the keys on the way so that only the
// system's links are followed. Under HKEY_LOCAL_MACHINE only administrators can create a link, and Windows
// keeps its own there (CurrentControlSet); below the other roots, which hold the users' own keys, a link on
// the way ends the walk with ERROR_CANT_ACCESS_FILE and `linkOnTheWay` names it.
LSTATUS OpenForRemoval(HKEY root, const std::wstring& path, REGSAM access, DWORD flags, Key& key,
                       std::wstring& linkOnTheWay);

// The names of the key's subkeys, counted: NUL characters in a name are kept.
LSTATUS ListSubKeys(HKEY key, std::vector<std::wstring>& names);

// Deletes the opened key (which needs DELETE access), a link as itself; the key must have no subkeys.
LSTATUS DeleteOpened(HKEY key);

// Makes `owner` the owner of the subkey `name` of `parent` (opened as itself) and gives it the holder's
// protected DACL, with SeTakeOwnershipPrivilege enabled for the call. Returns a Win32 error code.
DWORD ResetOwnership(HKEY parent, const std::wstring& name, DWORD flags, PSID owner,
                     const OwnedSecurityAttributes& holder);

// The name as a log line can show it: each NUL as "\0".
std::wstring Printable(const std::wstring& name);

} // namespace NvRegistryKeys
