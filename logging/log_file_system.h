#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/unique_resource.h"

// File-system operations of the log file context; tests replace them with in-memory ones.
namespace NvQorLogging::FileSystem {

class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    virtual ~File() = default;

    // Opens for appending by several writers (OPEN_ALWAYS, all sharing modes).
    virtual bool Open(const std::wstring& name, SECURITY_ATTRIBUTES* attributes);
    virtual void Close();
    virtual void Write(const void* bytes, DWORD count);
    // Moves to the end and returns the size there; 0 when not open or on failure.
    virtual uint64_t SeekEndSize();
    virtual void Flush();
    virtual bool IsOpen() const;
    virtual void WriteBomIfEmpty();

private:
    UniqueFile m_handle;
};

class Path {
public:
    Path() = default;
    Path(const Path&) = delete;
    Path& operator=(const Path&) = delete;
    virtual ~Path() = default;

    virtual std::unique_ptr<File> NewFile();
    virtual bool FileExists(const std::wstring& path);
    virtual bool CreateDirectoryTree(const std::wstring& path, SECURITY_ATTRIBUTES* attributes);
    virtual bool MoveReplace(const std::wstring& from, const std::wstring& to);
    // Deletes the file now, or at the next restart when it cannot be deleted; a missing file counts as done.
    virtual bool DeleteOrScheduleDelete(const std::wstring& path);
};

} // namespace NvQorLogging::FileSystem
