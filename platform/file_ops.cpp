#include "platform/file_ops.h"

#include "engine/status.h"
#include "logging/nv_qor_log.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/unique_resource.h"

#include <cstring>
#include <cwchar>
#include <utility>

namespace {

FileOps::Calls g_calls = {::DeleteFileW, ::RemoveDirectoryW, ::SetNamedSecurityInfoW};

// Below this length every file call takes the path as given; CreateDirectoryW has the smallest limit.
constexpr size_t kShortPathLimit = MAX_PATH - 12;

// A path too long for the classic limit reaches the file system only in its "\\?\" form, which is taken
// literally, so it is made absolute and canonical first. Log lines keep the caller's form.
std::wstring ApiPath(const std::wstring& path)
{
    if (path.size() < kShortPathLimit || path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
        return path;
    }
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return path;
    }
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

bool IsDotEntry(const wchar_t* name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

bool IsDirectoryEntry(const WIN32_FIND_DATAW& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsReparsePoint(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The security calls follow links: on a junction or symbolic link they would hand the target, which may be
// any folder of the system, to the Administrators with an open access list. Links are deleted at restart instead.
bool MayResetOwnership(DWORD attributes)
{
    return attributes == INVALID_FILE_ATTRIBUTES || !IsReparsePoint(attributes);
}

// A path whose parent is missing as well counts as gone, like the path itself.
bool IsGone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

UniqueFind FindFirstEntry(const std::wstring& directory, WIN32_FIND_DATAW& data)
{
    return UniqueFind(::FindFirstFileExW(ApiPath(MakePath(directory, L"*")).c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
}

void ClearReadOnly(const std::wstring& path, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetFileAttributesW(ApiPath(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
}

bool DeletePlainFile(const std::wstring& path)
{
    return g_calls.deleteFile(ApiPath(path).c_str()) != FALSE;
}

bool RemoveEmptyDirectory(const std::wstring& path)
{
    return g_calls.removeDirectory(ApiPath(path).c_str()) != FALSE;
}

bool MarkForDeletionAtRestart(const std::wstring& path)
{
    return ::MoveFileExW(ApiPath(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool DeleteAtRestart(const std::wstring& path, const wchar_t* caller)
{
    if (MarkForDeletionAtRestart(path)) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Delay delete: '%s'", caller, path.c_str());
        Status::Instance().SetRebootNeeded();
        return true;
    }
    const DWORD error = ::GetLastError();
    NV_QOR_LOG(NvQorLogging::Error, L"%s: MoveFileEx('%s') failed: %lu", caller, path.c_str(), error);
    return false;
}

DWORD TakeOwnershipForRemoval(const std::wstring& path, const wchar_t* caller)
{
    OwnedSecurityAttributes holder;
    BuildOpenAccessSecurity(holder);
    const UniqueSid administrators = CreateAdministratorsSid();
    const DWORD result = TakeOwnership(path, administrators.get(), holder);
    if (result != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: TakeOwnership failed for '%s': %lu", caller, path.c_str(), result);
    }
    return result;
}

// Deletion without ownership handling, for the work directory.
bool DeleteOrSchedule(bool deleted, const std::wstring& path, bool allowDelayed)
{
    return deleted || (allowDelayed && MarkForDeletionAtRestart(path));
}

// False when the directory cannot be searched, so that callers can tell that apart from an empty one.
bool ListEntries(const std::wstring& path, bool includeFiles, bool includeDirectories,
                 std::vector<std::wstring>& entries)
{
    entries.clear();
    if (path.empty()) {
        return false;
    }
    WIN32_FIND_DATAW data;
    UniqueFind search = FindFirstEntry(path, data);
    if (!search) {
        return false;
    }
    do {
        if (IsDirectoryEntry(data) && includeDirectories) {
            if (!IsDotEntry(data.cFileName)) {
                entries.emplace_back(data.cFileName);
            }
        } else if (includeFiles) {
            entries.emplace_back(data.cFileName);
        }
    } while (::FindNextFileW(search.get(), &data));
    return true;
}

} // namespace

namespace FileOps {

Calls ReplaceCalls(const Calls& calls)
{
    return std::exchange(g_calls, calls);
}

bool WipeFileInternal(const std::wstring& path, DWORD attributes)
{
    ClearReadOnly(path, attributes);
    if (DeletePlainFile(path) || IsGone(::GetLastError())) {
        return true;
    }
    if (MayResetOwnership(attributes) && TakeOwnershipForRemoval(path, L"FileOps::WipeFileInternal") == ERROR_SUCCESS) {
        ClearReadOnly(path, attributes);
        if (DeletePlainFile(path)) {
            return true;
        }
    }
    return DeleteAtRestart(path, L"FileOps::WipeFileInternal");
}

bool DoRemoveDirectory(const std::wstring& path)
{
    if (RemoveEmptyDirectory(path) || IsGone(::GetLastError())) {
        return true;
    }
    if (!MayResetOwnership(::GetFileAttributesW(ApiPath(path).c_str())) ||
        TakeOwnershipForRemoval(path, L"FileOps::DoRemoveDirectory") != ERROR_SUCCESS) {
        return false;
    }
    return RemoveEmptyDirectory(path);
}

bool WipeDirectoryInternal(const std::wstring& path)
{
    return DoRemoveDirectory(path) || DeleteAtRestart(path, L"FileOps::WipeDirectoryInternal");
}

bool RemoveRecursive(const std::wstring& path)
{
    if (path.empty()) {
        return false;
    }
    WIN32_FIND_DATAW data;
    UniqueFind search = FindFirstEntry(path, data);
    if (!search) {
        if (::GetLastError() != ERROR_PATH_NOT_FOUND) {
            WipeDirectoryInternal(path);
        }
        return false;
    }
    bool result = true;
    do {
        if (IsDirectoryEntry(data) && IsDotEntry(data.cFileName)) {
            continue;
        }
        const std::wstring full = MakePath(path, data.cFileName);
        if (!IsDirectoryEntry(data)) {
            result = WipeFileInternal(full, data.dwFileAttributes) && result;
        } else if (IsReparsePoint(data.dwFileAttributes)) {
            // A junction or directory link goes itself; its target is never entered.
            result = WipeDirectoryInternal(full) && result;
        } else {
            result = RemoveRecursive(full) && result;
        }
    } while (::FindNextFileW(search.get(), &data));
    search.reset();
    return WipeDirectoryInternal(path) && result;
}

bool DeleteFileAndParent(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(ApiPath(path).c_str());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    if (!WipeFileInternal(path, attributes)) {
        return false;
    }
    std::wstring directory;
    std::wstring name;
    if (SplitPath(path, directory, name) && !directory.empty() && !ContainsFiles(directory, true) &&
        (::GetFileAttributesW(ApiPath(directory).c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        WipeDirectoryInternal(directory);
    }
    return true;
}

bool RemoveDirectoryRecursiveAndParentIfEmpty(const std::wstring& path)
{
    std::wstring directory;
    std::wstring name;
    if (!SplitPath(path, directory, name)) {
        return RemoveRecursive(path);
    }
    // A parent that cannot be listed is not known to be empty and stays.
    std::vector<std::wstring> entries;
    if (ListEntries(directory, true, true, entries) &&
        (entries.empty() || (entries.size() == 1 && entries.front() == name))) {
        return RemoveRecursive(directory);
    }
    return RemoveRecursive(path);
}

bool ContainsFiles(const std::wstring& path, bool recursive)
{
    if (path.empty()) {
        return false;
    }
    WIN32_FIND_DATAW data;
    UniqueFind search = FindFirstEntry(path, data);
    if (!search) {
        return false;
    }
    bool found = false;
    do {
        if (!IsDirectoryEntry(data)) {
            found = true;
        } else if (recursive && !IsDotEntry(data.cFileName)) {
            found = ContainsFiles(MakePath(path, data.cFileName), true);
        }
    } while (!found && ::FindNextFileW(search.get(), &data));
    return found;
}

std::vector<std::wstring> ListDirectory(const std::wstring& path, bool includeFiles, bool includeDirectories)
{
    std::vector<std::wstring> entries;
    ListEntries(path, includeFiles, includeDirectories, entries);
    return entries;
}

bool RemoveDirectoryTree(const std::wstring& path, bool allowDelayed)
{
    if (path.empty()) {
        return false;
    }
    WIN32_FIND_DATAW data;
    UniqueFind search = FindFirstEntry(path, data);
    if (!search) {
        return false;
    }
    bool result = true;
    do {
        if (IsDirectoryEntry(data) && IsDotEntry(data.cFileName)) {
            continue;
        }
        const std::wstring full = MakePath(path, data.cFileName);
        if (!IsDirectoryEntry(data)) {
            ClearReadOnly(full, data.dwFileAttributes);
            result = DeleteOrSchedule(DeletePlainFile(full), full, allowDelayed) && result;
        } else if (IsReparsePoint(data.dwFileAttributes)) {
            result = DeleteOrSchedule(RemoveEmptyDirectory(full), full, allowDelayed) && result;
        } else {
            result = RemoveDirectoryTree(full, allowDelayed) && result;
        }
    } while (::FindNextFileW(search.get(), &data));
    search.reset();
    return DeleteOrSchedule(RemoveEmptyDirectory(path), path, allowDelayed) && result;
}

} // namespace FileOps

std::wstring CreateUniqueDirectory(const std::wstring& parent, SECURITY_ATTRIBUTES* attributes)
{
    if (parent.empty()) {
        return {};
    }
    for (size_t attempt = 0; attempt < 10000; ++attempt) {
        // "nv" + tick count + attempt + ".tmp", both in decimal.
        const std::wstring name = L"nv" + std::to_wstring(::GetTickCount()) + std::to_wstring(attempt) + L".tmp";
        std::wstring candidate = MakePath(parent, name);
        if (::CreateDirectoryW(ApiPath(candidate).c_str(), attributes)) {
            return candidate;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
    }
    return {};
}

bool HasPendingFileOperation(const std::wstring& path)
{
    if (path.empty()) {
        return false;
    }
    NvPath::Win32RegistryForPath registry;
    std::vector<uint8_t> bytes;
    DWORD type = REG_NONE;
    if (!registry.GetValueRaw(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"PendingFileRenameOperations",
                              bytes, type) ||
        bytes.size() < sizeof(wchar_t)) {
        return false;
    }
    std::wstring characters(bytes.size() / sizeof(wchar_t), L'\0');
    memcpy(characters.data(), bytes.data(), characters.size() * sizeof(wchar_t));

    // Every entry starts with the four characters of the NT prefix ("\??\"), which are not compared.
    constexpr size_t kNtPrefixLength = 4;
    size_t start = 0;
    for (size_t i = 1; i < characters.size(); ++i) {
        if (characters[i] != L'\0') {
            continue;
        }
        if (i - start >= path.size() + kNtPrefixLength &&
            _wcsnicmp(characters.c_str() + start + kNtPrefixLength, path.c_str(), path.size()) == 0) {
            return true;
        }
        start = i + 1;
    }
    return false;
}

DWORD TakeOwnership(const std::wstring& objectPath, PSID administrators, const OwnedSecurityAttributes& holder)
{
    return ResetObjectOwnership(ApiPath(objectPath), SE_FILE_OBJECT, administrators, holder,
                                g_calls.setNamedSecurityInfo);
}
