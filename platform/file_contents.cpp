#include "platform/file_contents.h"

#include "base/unique_resource.h"
#include "platform/paths.h"

#include <algorithm>

namespace {

UniqueFile OpenForReading(const std::wstring& path, FileOrigin origin)
{
    if (origin == FileOrigin::ToolScript) {
        return UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    return UniqueFile(::CreateFileW(LiteralPath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

DWORD ReadAll(const std::wstring& path, uint64_t maxBytes, std::string& bytes, FileOrigin origin)
{
    const UniqueFile file = OpenForReading(path, origin);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !::GetFileInformationByHandle(file.get(), &information)) {
        return ::GetLastError();
    }
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 &&
        origin == FileOrigin::Product) {
        return ERROR_CANT_ACCESS_FILE;
    }
    const uint64_t size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (size > maxBytes) {
        return ERROR_FILE_TOO_LARGE;
    }
    std::string contents(static_cast<size_t>(size), '\0');
    size_t done = 0;
    while (done < contents.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1u << 20));
        DWORD read = 0;
        if (!::ReadFile(file.get(), contents.data() + done, chunk, &read, nullptr)) {
            return ::GetLastError();
        }
        if (read == 0) {
            if (origin == FileOrigin::Product) {
                return ERROR_HANDLE_EOF;
            }
            break;
        }
        done += read;
    }
    contents.resize(done);
    bytes = std::move(contents);
    return ERROR_SUCCESS;
}

} // namespace

bool ReadFileContents(const std::wstring& path, uint64_t maxBytes, std::string& bytes, DWORD* error, FileOrigin origin)
{
    bytes.clear();
    const DWORD result = ReadAll(path, maxBytes, bytes, origin);
    if (error != nullptr) {
        *error = result;
    }
    return result == ERROR_SUCCESS;
}
