#include "logging/log_file_system.h"

namespace NvQorLogging::FileSystem {

bool File::Open(const std::wstring& name, SECURITY_ATTRIBUTES* attributes)
{
    m_handle.reset(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               attributes, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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

bool Path::MoveReplace(const std::wstring& from, const std::wstring& to)
{
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool Path::DeleteOrScheduleDelete(const std::wstring& path)
{
    if (DeleteFileW(path.c_str())) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

} // namespace NvQorLogging::FileSystem
