#include "platform/file_handles.h"

#include "platform/paths.h"
#include "platform/special_folders.h"

#include <winternl.h>

#include <algorithm>
#include <cwctype>

namespace NvFileHandles {
namespace {

constexpr NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS kObjectPathNotFound = static_cast<NTSTATUS>(0xC000003AL);
// FILE_DISPOSITION_INFO_EX and its class exist from Windows 10 1607; older systems refuse them.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
struct DispositionInfoEx {
    DWORD flags;
};

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                          static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring HandleName(HANDLE handle)
{
    // Paths may be up to 32767 characters long; the first answer tells the size when the buffer is too small.
    std::vector<BYTE> buffer(sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(wchar_t));
    for (;;) {
        auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
        if (::GetFileInformationByHandleEx(handle, FileNameInfo, info, static_cast<DWORD>(buffer.size()))) {
            return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
        }
        const size_t needed = sizeof(FILE_NAME_INFO) + info->FileNameLength;
        if (::GetLastError() != ERROR_MORE_DATA || needed <= buffer.size()) {
            return {};
        }
        buffer.resize(needed);
    }
}

// Wine reports names without their trailing dots and spaces, as Win32 parsing would trim them; names are
// compared without them. A name that differs only there is in the same folder, whose removal it belongs to.
std::wstring Untrimmed(const std::wstring& name)
{
    std::wstring result;
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find(L'\\', start);
        end = end == std::wstring::npos ? name.size() : end;
        size_t last = end;
        while (last > start && (name[last - 1] == L'.' || name[last - 1] == L' ')) {
            --last;
        }
        result.append(name, start, last - start);
        if (end < name.size()) {
            result += L'\\';
        }
        start = end + 1;
    }
    return result;
}

std::wstring ChildName(const std::wstring& parent, const std::wstring& name)
{
    return !parent.empty() && parent.back() == L'\\' ? parent + name : parent + L'\\' + name;
}

// The attributes of the name itself, read by path without opening it: a link that an open followed still
// shows its reparse point here.
DWORD NameAttributes(const Folder& parent, const std::wstring& name)
{
    return ::GetFileAttributesW((parent.path + L'\\' + name).c_str());
}

bool IsReparsePoint(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool OpenTrustedFolder(const std::wstring& literal, Folder& folder, ACCESS_MASK access = 0)
{
    folder.handle.reset(::CreateFileW(literal.c_str(),
                                      access | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.handle) {
        return false;
    }
    folder.name = HandleName(folder.handle.get());
    folder.path = MakePath(literal, std::wstring());
    return !folder.name.empty();
}

// Length of the root of a literal path ("\\?\C:\" or "\\?\UNC\server\share\"), 0 when it has none.
size_t RootLength(const std::wstring& literal)
{
    if (literal.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        const size_t server = literal.find(L'\\', 8);
        const size_t share = server == std::wstring::npos ? server : literal.find(L'\\', server + 1);
        return share == std::wstring::npos ? 0 : share + 1;
    }
    if (literal.size() >= 7 && literal.rfind(L"\\\\?\\", 0) == 0 && literal[5] == L':' && literal[6] == L'\\') {
        return 7;
    }
    return 0;
}

// The folders a path may start in; what lies above them is the system's and is not walked.
std::vector<std::wstring> StartingFolders()
{
    std::vector<std::wstring> folders = {QueryWindowsDirectory(), QuerySystemDirectory(), QueryProfilesDirectory(),
                                         QueryTempDirectory()};
    for (int member = static_cast<int>(SpecialFolder::CommonAppData);
         member <= static_cast<int>(SpecialFolder::ProgramFilesX86); ++member) {
        folders.push_back(GetSpecialFolder(static_cast<SpecialFolder>(member), std::wstring()));
    }
    std::vector<std::wstring> literal;
    for (const std::wstring& folder : folders) {
        std::wstring path = folder.empty() ? folder : LiteralPath(folder);
        const size_t root = RootLength(path);
        while (path.size() > root && path.back() == L'\\') {
            path.pop_back();
        }
        if (root != 0 && path.size() > root) {
            literal.push_back(std::move(path));
        }
    }
    return literal;
}

// Opens or creates `name` relative to the folder's handle, as itself (a link is never followed).
NTSTATUS CreateInside(const Folder& parent, const std::wstring& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, HANDLE& handle)
{
    UNICODE_STRING text{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                        static_cast<USHORT>(name.size() * sizeof(wchar_t)), const_cast<PWSTR>(name.c_str())};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent.handle.get(), nullptr);
    IO_STATUS_BLOCK io{};
    return ::NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                          disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

} // namespace

std::vector<std::wstring> Components(const std::wstring& literal, size_t start)
{
    std::vector<std::wstring> components;
    while (start < literal.size()) {
        size_t end = literal.find(L'\\', start);
        end = end == std::wstring::npos ? literal.size() : end;
        if (end > start) {
            components.push_back(literal.substr(start, end - start));
        }
        start = end + 1;
    }
    return components;
}

bool OpenRoot(const std::wstring& literal, ACCESS_MASK access, Folder& root, size_t& rootLength)
{
    rootLength = RootLength(literal);
    return rootLength != 0 && OpenTrustedFolder(literal.substr(0, rootLength), root, access);
}

Entry OpenChild(const Folder& parent, const std::wstring& name, ACCESS_MASK access, DWORD share)
{
    Entry entry;
    HANDLE handle = nullptr;
    const NTSTATUS status = CreateInside(parent, name, access | FILE_READ_ATTRIBUTES, share, FILE_OPEN,
                                         FILE_OPEN_FOR_BACKUP_INTENT, handle);
    if (status < 0) {
        entry.kind = status == kObjectNameNotFound || status == kObjectPathNotFound ? Kind::Missing : Kind::Failed;
        entry.error = ::RtlNtStatusToDosError(status);
        return entry;
    }
    entry.handle.reset(handle);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)) ||
        !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard))) {
        entry.error = ::GetLastError();
        entry.handle.reset();
        return entry;
    }
    entry.attributes = tag.FileAttributes;
    entry.linkCount = standard.NumberOfLinks;
    if (IsReparsePoint(tag.FileAttributes)) {
        entry.kind = Kind::Link;
        return entry;
    }
    // A system that followed the link although told not to (Wine does) hands out the target; its name
    // gives it away. Such a handle must not be used for anything.
    if (!SameName(Untrimmed(HandleName(handle)), Untrimmed(ChildName(parent.name, name)))) {
        entry.handle.reset();
        entry.attributes = NameAttributes(parent, name);
        entry.kind = IsReparsePoint(entry.attributes) ? Kind::Link : Kind::Unverified;
        return entry;
    }
    entry.kind = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::Directory : Kind::File;
    return entry;
}

UniqueFile CreateNewChild(const Folder& parent, const std::wstring& name, ACCESS_MASK access, DWORD& error)
{
    HANDLE handle = nullptr;
    const NTSTATUS status = CreateInside(parent, name, access, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE, handle);
    if (status < 0) {
        error = ::RtlNtStatusToDosError(status);
        return UniqueFile();
    }
    return UniqueFile(handle);
}

DWORD RenameInto(HANDLE handle, const Folder& parent, const std::wstring& name)
{
    // FILE_RENAME_INFORMATION: the flags (or the replace flag) share the first field.
    constexpr auto kRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
    constexpr auto kRenameInformationEx = static_cast<FILE_INFORMATION_CLASS>(65);
    constexpr ULONG kReplaceIfExists = 0x1;
    constexpr ULONG kPosixSemantics = 0x2;
    constexpr ULONG kIgnoreReadOnly = 0x40;
    const size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->RootDirectory = parent.handle.get();
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    memcpy(rename->FileName, name.c_str(), nameBytes);
    NTSTATUS status = -1;
    for (const auto& [type, flags] :
         {std::pair{kRenameInformationEx, kReplaceIfExists | kPosixSemantics | kIgnoreReadOnly},
          std::pair{kRenameInformation, kReplaceIfExists}}) {
        memcpy(buffer.data(), &flags, sizeof(flags));
        IO_STATUS_BLOCK io{};
        // Systems and file systems without the extended form refuse it, each in its own words: the plain form
        // follows whatever the answer.
        status = ::NtSetInformationFile(handle, &io, rename, static_cast<ULONG>(buffer.size()), type);
        if (status >= 0) {
            break;
        }
    }
    return status >= 0 ? ERROR_SUCCESS : ::RtlNtStatusToDosError(status);
}

bool AdoptFolder(Entry& entry, const Folder& parent, const std::wstring& name, Folder& folder)
{
    if (entry.kind != Kind::Directory) {
        return false;
    }
    folder.handle = std::move(entry.handle);
    folder.name = ChildName(parent.name, name);
    folder.path = parent.path + L'\\' + name;
    return true;
}

bool ListFolder(const Folder& folder, std::vector<Listed>& entries)
{
    entries.clear();
    std::vector<BYTE> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(folder.handle.get(), request, buffer.data(),
                                          static_cast<DWORD>(buffer.size()))) {
        request = FileIdBothDirectoryInfo;
        for (size_t offset = 0;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
            entries.push_back(
                {std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t)), info->FileAttributes});
            if (info->NextEntryOffset == 0) {
                break;
            }
            offset += info->NextEntryOffset;
        }
    }
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

Reach ReachParent(const std::wstring& path, Target& target)
{
    target.path = LiteralPath(path);
    const size_t rootLength = RootLength(target.path);
    if (rootLength == 0) {
        return Reach::Failed;
    }
    std::wstring start = target.path.substr(0, rootLength);
    for (std::wstring& folder : StartingFolders()) {
        if (IsBelowFolder(target.path, folder) && folder.size() >= start.size()) {
            start = std::move(folder);
        }
    }
    std::vector<std::wstring> components = Components(target.path, start.size());
    if (components.empty() || !OpenTrustedFolder(start, target.parent)) {
        return components.empty() ? Reach::Failed : Reach::Missing;
    }
    target.name = components.back();
    components.pop_back();
    std::wstring walked = MakePath(start, std::wstring());
    for (const std::wstring& component : components) {
        walked += L'\\' + component;
        Entry entry = OpenChild(target.parent, component, FILE_LIST_DIRECTORY);
        switch (entry.kind) {
        case Kind::Directory:
            AdoptFolder(entry, target.parent, component, target.parent);
            break;
        case Kind::Link:
            target.name = component;
            target.path = walked;
            target.link = std::move(entry);
            return Reach::Link;
        case Kind::Missing:
        case Kind::File:
            return Reach::Missing;
        default:
            return Reach::Failed;
        }
    }
    return Reach::Parent;
}

bool DeleteOpened(HANDLE handle, SetInformationCall setInformation)
{
    DispositionInfoEx extended{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
    if (setInformation(handle, kDispositionInfoEx, &extended, sizeof(extended))) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) {
        return false;
    }
    FILE_DISPOSITION_INFO plain{TRUE};
    return setInformation(handle, FileDispositionInfo, &plain, sizeof(plain)) != FALSE;
}

void ClearReadOnly(HANDLE handle, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return;
    }
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
}

} // namespace NvFileHandles
