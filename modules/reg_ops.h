#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Registry work of the script modules: one fresh Win32Registry per call on `root`, with `flags` (a view flag,
// KEY_WOW64_32KEY or KEY_WOW64_64KEY, or 0) OR-ed into every open, create and delete. Reads of a missing key
// or value are silent and give 0, "" or an empty list; deletions of something missing succeed.
namespace RegOps {
bool BranchExists(HKEY root, const std::wstring& path, DWORD flags);
// True when the value exists with a type other than REG_NONE.
bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags);

uint32_t GetDWORD(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags);
// The key must exist already.
bool SetDWORD(HKEY root, const std::wstring& path, const std::wstring& valueName, uint32_t value, DWORD flags);
// REG_SZ or REG_EXPAND_SZ, unexpanded.
std::wstring GetString(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags);
// A path value as Windows reads it: REG_EXPAND_SZ expanded, NT forms resolved (ReadRecordedPath).
std::wstring GetPath(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags);
// Writes REG_SZ; the key must exist already.
bool SetString(HKEY root, const std::wstring& path, const std::wstring& valueName, const std::wstring& text,
               DWORD flags);
std::vector<std::wstring> GetMultiString(HKEY root, const std::wstring& path, const std::wstring& valueName,
                                         DWORD flags);
// Writes REG_MULTI_SZ; the key must exist already. An empty string in the list is refused (it would end the
// list when read back).
bool SetMultiString(HKEY root, const std::wstring& path, const std::wstring& valueName,
                    const std::vector<std::wstring>& strings, DWORD flags);
// The names of a value that holds a list, in any form Windows reads one (NvNameLists; `separator` joins the names
// of a text list, 0 when such a text is one name); empty when the value is missing or holds no list.
std::vector<std::wstring> GetNameList(HKEY root, const std::wstring& path, const std::wstring& valueName,
                                      wchar_t separator, DWORD flags);
// Takes the names out of such a list, keeping the others in their order, and writes it back in the type it had;
// a list left empty is deleted. True when none of the names is in the list afterwards.
bool RemoveFromNameList(HKEY root, const std::wstring& path, const std::wstring& valueName,
                        const std::vector<std::wstring>& names, wchar_t separator, DWORD flags);
// Deletes the named value of the key.
bool DeleteKey(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags);
// The names in enumeration order; an empty list both for a key without any and for one that could not be
// listed.
std::vector<std::wstring> GetSubkeys(HKEY root, const std::wstring& path, DWORD flags);
std::vector<std::wstring> GetValueKeys(HKEY root, const std::wstring& path, DWORD flags);
// The same lists for callers that decide on emptiness: false (with an empty list) when the key exists but
// could not be listed, for example because its access list refuses reading. A missing key lists as empty.
bool GetSubkeys(HKEY root, const std::wstring& path, DWORD flags, std::vector<std::wstring>& names);
bool GetValueKeys(HKEY root, const std::wstring& path, DWORD flags, std::vector<std::wstring>& names);

// Deletes the key and everything below it, subkeys first, taking ownership of keys whose access list refuses
// deletion. A key without a parent path (a top-level key) is refused.
bool WipeBranch(HKEY root, const std::wstring& branch, DWORD flags);
bool RemoveByForce(HKEY root, const std::wstring& parent, const std::wstring& name, DWORD flags);
// Wipes every direct subkey of `path` whose name matches the case-sensitive mask; the key itself stays. False
// when the key cannot be listed.
bool DeleteBranchByMask(HKEY root, const std::wstring& path, const std::wstring& mask, DWORD flags);
// Wipes the key when it has neither subkeys nor values (a set default value counts as a value). A key that
// cannot be listed is not known to be empty and stays; a missing key counts as deleted.
bool DeleteBranchIfEmpty(HKEY root, const std::wstring& path, DWORD flags);
} // namespace RegOps
