#include "platform/file_contents.h"
#include "platform/paths.h"
#include "platform/unique_resource.h"

#include <windows.h>

#include <algorithm>

bool ReadFileContents(const std::wstring& path, uint64_t maxBytes, std::string& bytes)
{
    bytes.clear();
    UniqueFile file(::CreateFileW(LiteralPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !::GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return false;
    }
    const uint64_t size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (size > maxBytes) {
        return false;
    }
    std::string contents(static_cast<size_t>(size), '\0');
    size_t done = 0;
    while (done < contents.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1u << 20));
        DWORD read = 0;
        if (!::ReadFile(file.get(), contents.data() + done, chunk, &read, nullptr) || read == 0) {
            return false;
        }
        done += read;
    }
    bytes = std::move(contents);
    return true;
}
