#include "platform/file_ops.h"

#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"
#include "platform/paths.h"
#include "platform/privilege.h"
#include "platform/security.h"

#include <cstring>
#include <cwchar>
#include <utility>

using NvFileHandles::Entry;
using NvFileHandles::Folder;
using NvFileHandles::Kind;
using NvFileHandles::Listed;
using NvFileHandles::OpenChild;
using NvFileHandles::Reach;
using NvFileHandles::Target;

namespace {

FileOps::Calls g_calls = {::SetFileInformationByHandle, ::SetSecurityInfo};

constexpr wchar_t kWipeFile[] = L"FileOps::WipeFileInternal";
constexpr wchar_t kWipeDirectory[] = L"FileOps::WipeDirectoryInternal";
constexpr wchar_t kDoRemoveDirectory[] = L"FileOps::DoRemoveDirectory";

// How far one call's removal escalates, and whether it left anything to the restart. The work directory is
// removed without ownership handling or log lines, and is scheduled only when the caller allows it.
struct Removal {
    bool forced;
    bool allowDelayed;
    bool scheduled = false;
    bool nameFiles = false; // each file at Info: the attempt, and the restart when it is scheduled

    FileOps::Result Report(bool done) const { return {done, scheduled}; }
};
constexpr Removal kForcedRemoval{true, true};

// A name inside an opened folder, with its literal path for the calls that take paths and the caller's
// form of it for log lines.
struct Name {
    std::wstring name;
    std::wstring literal;
    std::wstring shown;

    Name Child(const std::wstring& child) const { return {child, literal + L'\\' + child, MakePath(shown, child)}; }
};

bool IsDotEntry(const std::wstring& name)
{
    return name == L"." || name == L"..";
}

bool HasDirectoryBit(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsReparsePoint(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool DeleteOpened(const UniqueFile& handle)
{
    return NvFileHandles::DeleteOpened(handle.get(), g_calls.setFileInformation);
}

bool ScheduleName(const Name& name, const wchar_t* caller, Removal& removal)
{
    if (!removal.allowDelayed) {
        return false;
    }
    if (::MoveFileExW(name.literal.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        if (removal.forced) {
            NV_QOR_LOG(removal.nameFiles ? NvQorLogging::Info : NvQorLogging::Debug, L"%s: Delay delete: '%s'", caller,
                       name.shown.c_str());
        }
        removal.scheduled = true;
        return true;
    }
    const DWORD error = ::GetLastError();
    if (removal.forced) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: MoveFileEx('%s') failed: %lu", caller, name.shown.c_str(), error);
    }
    return false;
}

// A link goes as a name: through the handle that is the link itself, or else at the restart, when the
// system deletes the name without resolving it.
bool RemoveLink(Entry& link, const Name& name, Removal& removal)
{
    if (link.handle && DeleteOpened(link.handle)) {
        return true;
    }
    link.handle.reset();
    return ScheduleName(name, HasDirectoryBit(link.attributes) ? kWipeDirectory : kWipeFile, removal);
}

// Gives the object to the Administrators with an access list that only they and the system can use. The
// object is opened again for this and checked once more: a link or a file with other names is never
// re-secured, whatever was found before.
DWORD ResetOwnership(const Folder& parent, const std::wstring& name, PSID administrators,
                     const OwnedSecurityAttributes& holder)
{
    NvPrivilege takeOwnership(SE_TAKE_OWNERSHIP_NAME);
    NvPrivilege restore(SE_RESTORE_NAME);
    struct Step {
        ACCESS_MASK access;
        SECURITY_INFORMATION information;
    };
    constexpr SECURITY_INFORMATION kDacl = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    // With the restore privilege both rights come with one open; without it the new owner may write the DACL.
    constexpr Step kPlans[2][2] = {
        {{WRITE_OWNER | WRITE_DAC, OWNER_SECURITY_INFORMATION | kDacl}, {0, 0}},
        {{WRITE_OWNER, OWNER_SECURITY_INFORMATION}, {WRITE_DAC, kDacl}},
    };
    DWORD result = ERROR_SUCCESS;
    for (const auto& plan : kPlans) {
        bool openRefused = false;
        for (const Step* step = std::begin(plan); step != std::end(plan) && step->access != 0; ++step) {
            Entry entry = OpenChild(parent, name, step->access);
            if (entry.kind == Kind::Failed) {
                result = entry.error;
                openRefused = true;
                break;
            }
            if ((entry.kind != Kind::File && entry.kind != Kind::Directory) || entry.linkCount > 1) {
                return entry.kind == Kind::Missing ? ERROR_FILE_NOT_FOUND : ERROR_NOT_SUPPORTED;
            }
            result = ResetHandleOwnership(entry.handle.get(), SE_FILE_OBJECT, step->information, administrators, holder,
                                          g_calls.setSecurityInfo);
            if (result != ERROR_SUCCESS) {
                break;
            }
        }
        if (!openRefused || result != ERROR_ACCESS_DENIED) {
            return result;
        }
    }
    return result;
}

DWORD ResetOwnershipForRemoval(const Folder& parent, const Name& name, const wchar_t* caller)
{
    OwnedSecurityAttributes holder;
    BuildAdministratorsOnlySecurity(holder);
    const UniqueSid administrators = CreateAdministratorsSid();
    const DWORD result = ResetOwnership(parent, name.name, administrators.get(), holder);
    if (result != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: TakeOwnership failed for '%s': %lu", caller, name.shown.c_str(),
                   result);
    }
    return result;
}

// What a file removal found when it had to stop.
enum class FileResult { Removed, Failed, NotAFile };

// `settled` is set when the name was dealt with as a link or as one of several hard links, which never
// escalates to an ownership reset.
FileResult DeleteFileNow(const Folder& parent, const Name& name, Removal& removal, bool& settled)
{
    Entry entry = OpenChild(parent, name.name, DELETE | FILE_WRITE_ATTRIBUTES);
    switch (entry.kind) {
    case Kind::Missing:
        return FileResult::Removed;
    case Kind::Link:
        settled = true;
        return RemoveLink(entry, name, removal) ? FileResult::Removed : FileResult::Failed;
    case Kind::File:
        if (entry.linkCount > 1) {
            // The other names may be anywhere on the volume: only this one goes, nothing of the file changes.
            settled = true;
            return DeleteOpened(entry.handle) || ScheduleName(name, kWipeFile, removal) ? FileResult::Removed
                                                                                        : FileResult::Failed;
        }
        NvFileHandles::ClearReadOnly(entry.handle.get(), entry.attributes);
        return DeleteOpened(entry.handle) ? FileResult::Removed : FileResult::Failed;
    case Kind::Failed: {
        // Refused (in use, or locked by its access list): a link or a file with other names is only scheduled.
        const Entry look = OpenChild(parent, name.name, 0);
        if (look.kind == Kind::Link || (look.kind == Kind::File && look.linkCount > 1)) {
            settled = true;
            return ScheduleName(name, kWipeFile, removal) ? FileResult::Removed : FileResult::Failed;
        }
        return FileResult::Failed;
    }
    default:
        return FileResult::NotAFile;
    }
}

bool WipeFileAt(const Folder& parent, const Name& name, Removal& removal)
{
    if (removal.nameFiles) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Removing '%s'", kWipeFile, name.shown.c_str());
    }
    bool settled = false;
    FileResult result = DeleteFileNow(parent, name, removal, settled);
    if (result == FileResult::Removed || result == FileResult::NotAFile || settled) {
        return result == FileResult::Removed;
    }
    if (removal.forced && ResetOwnershipForRemoval(parent, name, kWipeFile) == ERROR_SUCCESS) {
        result = DeleteFileNow(parent, name, removal, settled);
        if (result == FileResult::Removed || settled) {
            return result == FileResult::Removed;
        }
    }
    return ScheduleName(name, kWipeFile, removal);
}

enum class Scope { DirectoryOnly, Tree };

bool RemoveDirectoryAt(const Folder& parent, const Name& name, Scope scope, Removal& removal, bool schedule);

bool RemoveChildren(const Folder& folder, const Name& name, Removal& removal)
{
    std::vector<Listed> children;
    if (!NvFileHandles::ListFolder(folder, children)) {
        return false;
    }
    bool result = true;
    for (const Listed& child : children) {
        if (IsDotEntry(child.name)) {
            continue;
        }
        const Name full = name.Child(child.name);
        if (HasDirectoryBit(child.attributes)) {
            // Whatever the listing said, the open decides: a folder swapped for a link is removed as a link.
            const Scope scope = IsReparsePoint(child.attributes) ? Scope::DirectoryOnly : Scope::Tree;
            result = RemoveDirectoryAt(folder, full, scope, removal, true) && result;
        } else {
            result = WipeFileAt(folder, full, removal) && result;
        }
    }
    return result;
}

bool RemoveDirectoryAt(const Folder& parent, const Name& name, Scope scope, Removal& removal, bool schedule)
{
    Entry entry = OpenChild(parent, name.name, DELETE | FILE_LIST_DIRECTORY);
    switch (entry.kind) {
    case Kind::Missing:
        return true;
    case Kind::Link:
        return schedule ? RemoveLink(entry, name, removal) : entry.handle && DeleteOpened(entry.handle);
    case Kind::File:
    case Kind::Unverified:
        return false;
    default:
        break;
    }
    bool result = true;
    Folder folder;
    if (NvFileHandles::AdoptFolder(entry, parent, name.name, folder)) {
        if (scope == Scope::Tree) {
            result = RemoveChildren(folder, name, removal);
        }
        if (DeleteOpened(folder.handle)) {
            return result;
        }
    }
    if (removal.forced && ResetOwnershipForRemoval(parent, name, kDoRemoveDirectory) == ERROR_SUCCESS) {
        Entry again = OpenChild(parent, name.name, DELETE);
        if (again.kind == Kind::Missing || (again.kind == Kind::Directory && DeleteOpened(again.handle))) {
            return result;
        }
    }
    return schedule && ScheduleName(name, kWipeDirectory, removal) && result;
}

std::wstring Shown(const std::wstring& literal)
{
    if (literal.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        return L"\\\\" + literal.substr(8);
    }
    return literal.rfind(L"\\\\?\\", 0) == 0 ? literal.substr(4) : literal;
}

// Runs an operation on the last component of the path inside its opened parent. A link met on the way is
// removed as a name, which removes the path too; a system link (such as the compatibility junctions in the
// profiles folder) is only left alone.
template <typename Operation>
bool AtPath(const std::wstring& path, Removal& removal, bool missingResult, Operation operation)
{
    if (path.empty()) {
        return false;
    }
    Target target;
    switch (NvFileHandles::ReachParent(path, target)) {
    case Reach::Parent:
        return operation(target.parent, Name{target.name, target.path, path});
    case Reach::Missing:
        return missingResult;
    case Reach::Link:
        if ((target.link.attributes & FILE_ATTRIBUTE_SYSTEM) != 0) {
            return false;
        }
        return RemoveLink(target.link, Name{target.name, target.path, Shown(target.path)}, removal);
    default:
        return false;
    }
}

// The opened folder at the path, for reading. Nothing behind a link is looked at.
Kind OpenFolderAt(const std::wstring& path, Folder& folder)
{
    // A path that names nothing (empty, or without a root) is missing; only a refused open is a failure.
    Target target;
    if (path.empty()) {
        return Kind::Missing;
    }
    switch (NvFileHandles::ReachParent(path, target)) {
    case Reach::Parent:
        break;
    case Reach::Link:
        return Kind::Link;
    default:
        return Kind::Missing;
    }
    Entry entry = OpenChild(target.parent, target.name, FILE_LIST_DIRECTORY);
    NvFileHandles::AdoptFolder(entry, target.parent, target.name, folder);
    return entry.kind;
}

// False when the folder cannot be listed, so that callers can tell that apart from an empty one.
bool ListEntries(const std::wstring& path, bool includeFiles, bool includeDirectories,
                 std::vector<std::wstring>& entries)
{
    entries.clear();
    Folder folder;
    std::vector<Listed> listed;
    if (OpenFolderAt(path, folder) != Kind::Directory || !NvFileHandles::ListFolder(folder, listed)) {
        return false;
    }
    for (Listed& entry : listed) {
        const bool directory = HasDirectoryBit(entry.attributes);
        if (directory && includeDirectories ? !IsDotEntry(entry.name) : includeFiles) {
            entries.push_back(std::move(entry.name));
        }
    }
    return true;
}

enum class Contents { Files, NoFiles, Unknown, Absent };

Contents ScanForFiles(const Folder& folder, bool recursive)
{
    std::vector<Listed> children;
    if (!NvFileHandles::ListFolder(folder, children)) {
        return Contents::Unknown;
    }
    Contents result = Contents::NoFiles;
    for (const Listed& child : children) {
        if (!HasDirectoryBit(child.attributes)) {
            return Contents::Files;
        }
        // A folder link is never entered; what it points to is not in this tree.
        if (!recursive || IsDotEntry(child.name) || IsReparsePoint(child.attributes)) {
            continue;
        }
        Entry entry = OpenChild(folder, child.name, FILE_LIST_DIRECTORY);
        Folder sub;
        Contents inner = Contents::NoFiles;
        if (NvFileHandles::AdoptFolder(entry, folder, child.name, sub)) {
            inner = ScanForFiles(sub, true);
        } else if (entry.kind == Kind::File) {
            inner = Contents::Files;
        } else if (entry.kind != Kind::Missing && entry.kind != Kind::Link) {
            inner = Contents::Unknown;
        }
        if (inner == Contents::Files) {
            return inner;
        }
        if (inner == Contents::Unknown) {
            result = inner;
        }
    }
    return result;
}

Contents ContentsOf(const std::wstring& path, bool recursive)
{
    Folder folder;
    switch (OpenFolderAt(path, folder)) {
    case Kind::Directory:
        return ScanForFiles(folder, recursive);
    case Kind::Failed:
        return Contents::Unknown;
    default:
        return Contents::Absent;
    }
}

} // namespace

namespace FileOps {

Calls ReplaceCalls(const Calls& calls)
{
    return std::exchange(g_calls, calls);
}

// What the file is and whether it is read-only is read from the handle that deletes it.
Result WipeFileInternal(const std::wstring& path)
{
    Removal removal = kForcedRemoval;
    return removal.Report(AtPath(path, removal, true, [&removal](const Folder& parent, const Name& name) {
        return WipeFileAt(parent, name, removal);
    }));
}

Result DoRemoveDirectory(const std::wstring& path)
{
    Removal removal = kForcedRemoval;
    return removal.Report(AtPath(path, removal, true, [&removal](const Folder& parent, const Name& name) {
        return RemoveDirectoryAt(parent, name, Scope::DirectoryOnly, removal, false);
    }));
}

Result WipeDirectoryInternal(const std::wstring& path)
{
    Removal removal = kForcedRemoval;
    return removal.Report(AtPath(path, removal, true, [&removal](const Folder& parent, const Name& name) {
        return RemoveDirectoryAt(parent, name, Scope::DirectoryOnly, removal, true);
    }));
}

Result RemoveRecursive(const std::wstring& path, bool nameFiles)
{
    Removal removal = kForcedRemoval;
    removal.nameFiles = nameFiles;
    return removal.Report(AtPath(path, removal, false, [&removal](const Folder& parent, const Name& name) {
        if (OpenChild(parent, name.name, 0).kind == Kind::Missing) {
            return false;
        }
        return RemoveDirectoryAt(parent, name, Scope::Tree, removal, true);
    }));
}

Result DeleteFileAndParent(const std::wstring& path)
{
    if (HasDirectoryBit(::GetFileAttributesW(LiteralPath(path).c_str()))) {
        return {};
    }
    Result result = WipeFileInternal(path);
    if (!result) {
        return result;
    }
    // A parent holding nothing but empty folders goes with them; one that may hold files stays.
    std::wstring directory;
    std::wstring name;
    if (SplitPath(path, directory, name) && !directory.empty() && ContentsOf(directory, true) == Contents::NoFiles) {
        result.scheduled = RemoveRecursive(directory).scheduled || result.scheduled;
    }
    return result;
}

Result RemoveDirectoryRecursiveAndParentIfEmpty(const std::wstring& path)
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
    const Contents contents = ContentsOf(path, recursive);
    return contents == Contents::Files || contents == Contents::Unknown;
}

std::vector<std::wstring> ListDirectory(const std::wstring& path, bool includeFiles, bool includeDirectories)
{
    std::vector<std::wstring> entries;
    ListEntries(path, includeFiles, includeDirectories, entries);
    return entries;
}

Result RemoveDirectoryTree(const std::wstring& path, bool allowDelayed)
{
    Removal removal{false, allowDelayed};
    return removal.Report(AtPath(path, removal, false, [&removal](const Folder& parent, const Name& name) {
        Entry entry = OpenChild(parent, name.name, 0);
        if (entry.kind != Kind::Directory && entry.kind != Kind::Link) {
            return false;
        }
        entry.handle.reset();
        return RemoveDirectoryAt(parent, name, Scope::Tree, removal, true);
    }));
}

} // namespace FileOps

std::wstring CreateUniqueDirectory(const std::wstring& parent, const wchar_t* prefix, SECURITY_ATTRIBUTES* attributes)
{
    if (parent.empty()) {
        return {};
    }
    for (size_t attempt = 0; attempt < 10000; ++attempt) {
        // Tick count and attempt in decimal.
        const std::wstring name = prefix + std::to_wstring(::GetTickCount()) + std::to_wstring(attempt) + L".tmp";
        std::wstring candidate = MakePath(parent, name);
        if (::CreateDirectoryW(LiteralPath(candidate).c_str(), attributes)) {
            return candidate;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
    }
    return {};
}
