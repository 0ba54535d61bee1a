#include "logging/log_file_system.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <utility>
#include <vector>

namespace NvQorLogging::FileSystem {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A handle on the name itself: a link there is opened as the link, not followed.
UniqueFile OpenName(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags,
                    SECURITY_ATTRIBUTES* attributes = nullptr, DWORD share = kShareAll)
{
    return UniqueFile(CreateFileW(path.c_str(), access, share, attributes, disposition,
                                  flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool AttributesOf(HANDLE handle, DWORD& attributes)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return false;
    }
    attributes = tag.FileAttributes;
    return true;
}

// Neither a link nor a folder, and no second name: through another name the file could be anyone's.
bool IsPlainFile(HANDLE handle)
{
    DWORD attributes = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    return AttributesOf(handle, attributes) &&
           (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
           GetFileInformationByHandle(handle, &info) && info.nNumberOfLinks == 1;
}

std::wstring OwnerOf(HANDLE handle)
{
    PSID owner = nullptr;
    UniqueLocal descriptor;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS ||
        owner == nullptr) {
        return {};
    }
    UniqueLocal text;
    if (!ConvertSidToStringSidW(owner, reinterpret_cast<LPWSTR*>(text.put()))) {
        return {};
    }
    return static_cast<const wchar_t*>(text.get());
}

} // namespace

bool File::Open(const std::wstring& name, SECURITY_ATTRIBUTES* attributes)
{
    m_handle = OpenName(name, GENERIC_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, attributes);
    if (m_handle && !IsPlainFile(m_handle.get())) {
        m_handle.reset();
    }
    return IsOpen();
}

void File::Close()
{
    m_handle.reset();
}

void File::Write(const void* bytes, DWORD count)
{
    DWORD written = 0;
    if (IsOpen()) {
        WriteFile(m_handle.get(), bytes, count, &written, nullptr);
    }
}

uint64_t File::SeekEndSize()
{
    LARGE_INTEGER position{};
    if (!IsOpen() || !SetFilePointerEx(m_handle.get(), LARGE_INTEGER{}, &position, FILE_END)) {
        return 0;
    }
    return static_cast<uint64_t>(position.QuadPart);
}

void File::Flush()
{
    if (IsOpen()) {
        FlushFileBuffers(m_handle.get());
    }
}

bool File::IsOpen() const
{
    return static_cast<bool>(m_handle);
}

void File::WriteBomIfEmpty()
{
    static constexpr BYTE bom[] = {0xFF, 0xFE};
    if (IsOpen() && SeekEndSize() == 0) {
        Write(bom, sizeof(bom));
    }
}

std::unique_ptr<File> Path::NewFile()
{
    return std::make_unique<File>();
}

bool Path::FileExists(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    const UniqueFind find(FindFirstFileW(path.c_str(), &data));
    return find && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Path::CreateDirectoryTree(const std::wstring& path, SECURITY_ATTRIBUTES* attributes)
{
    const DWORD existing = GetFileAttributesW(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        return (existing & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    const size_t separator = path.rfind(L'\\');
    if (separator == path.npos) {
        return false;
    }
    if (!CreateDirectoryTree(path.substr(0, separator), attributes)) {
        return false;
    }
    if (CreateDirectoryW(path.c_str(), attributes)) {
        return true;
    }
    // Another process starting its log at the same moment may have created it in between.
    const DWORD now = GetFileAttributesW(path.c_str());
    return now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Renamed through a handle on the name itself, so what is moved is the file that was checked; a name already
// at `to` is replaced as a name, whatever it points to.
bool Path::MoveReplace(const std::wstring& from, const std::wstring& to)
{
    const UniqueFile file = OpenName(from, DELETE | SYNCHRONIZE, OPEN_EXISTING, 0);
    if (!file || !IsPlainFile(file.get())) {
        return false;
    }
    const size_t nameBytes = to.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    memcpy(rename->FileName, to.c_str(), nameBytes + sizeof(wchar_t));
    return SetFileInformationByHandle(file.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

// Deleting a name never reaches another file: a link goes as the link, a second name of a file leaves the
// file to its other name.
bool Path::DeleteOrScheduleDelete(const std::wstring& path)
{
    const UniqueFile file = OpenName(path, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, OPEN_EXISTING, 0);
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return true;
        }
        return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    }
    DWORD attributes = 0;
    if (!AttributesOf(file.get(), attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
        return true;
    }
    return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

FolderFacts Path::InspectFolder(const std::wstring& path)
{
    FolderFacts facts;
    // Wine shows a directory link only in the attributes of its path, Windows also on a handle to the link.
    const DWORD named = GetFileAttributesW(path.c_str());
    if (named == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        facts.kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FolderFacts::Kind::Missing
                                                                                    : FolderFacts::Kind::Other;
        return facts;
    }
    constexpr DWORD kAccess = READ_CONTROL | FILE_READ_ATTRIBUTES;
    UniqueFile folder =
        OpenName(path, kAccess, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!folder && GetLastError() == ERROR_SHARING_VIOLATION) {
        folder = OpenName(path, kAccess, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    }
    DWORD attributes = 0;
    if (!folder || !AttributesOf(folder.get(), attributes)) {
        facts.kind = FolderFacts::Kind::Other;
        return facts;
    }
    attributes |= named;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        facts.kind = FolderFacts::Kind::Link;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        facts.kind = FolderFacts::Kind::Other;
    } else {
        facts.kind = FolderFacts::Kind::Folder;
    }
    facts.owner = OwnerOf(folder.get());
    facts.handle = std::move(folder);
    return facts;
}

} // namespace NvQorLogging::FileSystem
