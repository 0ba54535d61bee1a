#include "app/zip_dropper.h"

#include "base/text_conversion.h"
#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"
#include "platform/paths.h"
#include "resources/resource.h"

#include <windows.h>

#include <unzip.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr size_t kCopyBufferSize = 4096;

struct ResourceStream {
    const unsigned char* data;
    uint64_t size;
    uint64_t position;
};

// Where the stream functions find the archive: the executable's resource, or a block of memory.
struct ArchiveSource {
    const void* data = nullptr;
    uint64_t size = 0;
    bool fromResource = true;
};

voidpf ZCALLBACK OpenStream(voidpf opaque, const char* name, int)
{
    const auto* source = static_cast<const ArchiveSource*>(opaque);
    if (!source->fromResource) {
        return new ResourceStream{static_cast<const unsigned char*>(source->data), source->size, 0};
    }
    // The name minizip hands back is the integer resource id, not text.
    const HMODULE module = ::GetModuleHandleW(nullptr);
    const HRSRC resource = ::FindResourceW(module, reinterpret_cast<LPCWSTR>(name), RT_RCDATA);
    if (resource == nullptr) {
        return nullptr;
    }
    const HGLOBAL loaded = ::LoadResource(module, resource);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(module, resource);
    if (data == nullptr || size == 0) {
        return nullptr;
    }
    return new ResourceStream{static_cast<const unsigned char*>(data), size, 0};
}

uLong ZCALLBACK ReadStream(voidpf, voidpf handle, void* buffer, uLong count)
{
    auto* stream = static_cast<ResourceStream*>(handle);
    const uint64_t available = stream->size - stream->position;
    const uLong n = static_cast<uLong>(std::min<uint64_t>(count, available));
    std::memcpy(buffer, stream->data + stream->position, n);
    stream->position += n;
    return n;
}

uLong ZCALLBACK WriteStream(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

long ZCALLBACK TellStream(voidpf, voidpf handle)
{
    return static_cast<long>(static_cast<ResourceStream*>(handle)->position);
}

long ZCALLBACK SeekStream(voidpf, voidpf handle, uLong offset, int origin)
{
    auto* stream = static_cast<ResourceStream*>(handle);
    uint64_t position;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        position = offset;
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        position = stream->position + offset;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        // The offset counts backwards from the end; past the start is out of range like past the end.
        position = offset <= stream->size ? stream->size - offset : stream->size + 1;
        break;
    default:
        return 1;
    }
    if (position > stream->size) {
        stream->position = stream->size;
        return 1;
    }
    stream->position = position;
    return 0;
}

int ZCALLBACK CloseStream(voidpf, voidpf handle)
{
    delete static_cast<ResourceStream*>(handle);
    return 0;
}

int ZCALLBACK StreamError(voidpf, voidpf)
{
    return 0;
}

void CloseArchive(unzFile archive)
{
    ::unzClose(archive);
}
using UniqueArchive = UniqueResource<NvHandleTraits::NullIsInvalid<unzFile, CloseArchive>>;

bool WriteZipDataToFile(unzFile archive, HANDLE file, std::vector<char>& buffer)
{
    int n;
    do {
        n = ::unzReadCurrentFile(archive, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (n < 0) {
            NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to read from zip: %d", NV_LOG_FUNCTION, n);
            return false;
        }
        if (n > 0) {
            DWORD written = 0;
            if (!::WriteFile(file, buffer.data(), static_cast<DWORD>(n), &written, nullptr) ||
                written != static_cast<DWORD>(n)) {
                NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to write to file (write: %d, written: %lu) err:%lu",
                           NV_LOG_FUNCTION, n, written, ::GetLastError());
                return false;
            }
        }
    } while (n > 0);
    return true;
}

int ExtractZipFile(unzFile archive, const std::wstring& target, const char* entryName, std::vector<char>& buffer)
{
    if (entryName == nullptr || std::strstr(entryName, "..") != nullptr) {
        return UNZ_BADZIPFILE;
    }
    // A name that does not convert becomes empty, so creating the file (the target itself) fails.
    std::wstring name = AnsiToWideStrict(entryName);
    if (!name.empty() && name.back() == L'/') {
        return UNZ_OK;
    }
    std::replace(name.begin(), name.end(), L'/', L'\\');
    const std::wstring fullPath = MakePath(target, name);

    std::wstring directory;
    std::wstring fileName;
    if (!SplitPath(fullPath, directory, fileName) || !CreateDirectoryChain(directory, nullptr)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create base path for '%s'", NV_LOG_FUNCTION, fullPath.c_str());
        return UNZ_INTERNALERROR;
    }
    UniqueFile file(::CreateFileW(fullPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to open file '%s' for writing: %lu", NV_LOG_FUNCTION,
                   fullPath.c_str(), ::GetLastError());
        return UNZ_INTERNALERROR;
    }
    const int status = ::unzOpenCurrentFile(archive);
    if (status != UNZ_OK) {
        return status;
    }
    const bool copied = WriteZipDataToFile(archive, file.get(), buffer);
    ::unzCloseCurrentFile(archive);
    return copied ? UNZ_OK : UNZ_INTERNALERROR;
}

// Log lines name `caller`, the public function that asked for the extraction.
bool Extract(ArchiveSource& source, const std::wstring& target, const wchar_t* caller)
{
    if (target.empty() || !IsDirectory(target)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Target path '%s' is not valid directory", caller, target.c_str());
        return false;
    }
    zlib_filefunc_def functions{OpenStream, ReadStream,  WriteStream, TellStream,
                                SeekStream, CloseStream, StreamError, &source};
    const UniqueArchive owner(
        ::unzOpen2(reinterpret_cast<const char*>(MAKEINTRESOURCEW(IDR_SCRIPT_BUNDLE)), &functions));
    if (!owner) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to open zip resource", caller);
        return false;
    }
    const unzFile archive = owner.get();
    std::vector<char> buffer(kCopyBufferSize);
    int status = ::unzGoToFirstFile(archive);
    while (status == UNZ_OK) {
        unz_file_info info;
        status = ::unzGetCurrentFileInfo(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0);
        if (status != UNZ_OK) {
            break;
        }
        std::vector<char> name(info.size_filename + 1, '\0');
        status = ::unzGetCurrentFileInfo(archive, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0,
                                         nullptr, 0);
        if (status != UNZ_OK) {
            break;
        }
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: '%S'", caller, name.data());
        status = ExtractZipFile(archive, target, name.data(), buffer);
        if (status != UNZ_OK) {
            break;
        }
        status = ::unzGoToNextFile(archive);
    }
    if (status == UNZ_END_OF_LIST_OF_FILE) {
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Unzipping failed: %d", caller, status);
    return false;
}

} // namespace

bool ZipDropper::ExtractFilesFromResource(const std::wstring& targetDirectory)
{
    ArchiveSource source;
    return Extract(source, targetDirectory, NV_LOG_FUNCTION);
}

bool ZipDropper::ExtractFilesFromMemory(const void* data, uint64_t size, const std::wstring& targetDirectory)
{
    ArchiveSource source{data, size, false};
    return Extract(source, targetDirectory, NV_LOG_FUNCTION);
}
