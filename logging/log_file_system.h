#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/unique_resource.h"

// File-system operations of the log file context; tests replace them with in-memory ones. None of them
// follows a link: the folders and files they touch are those named, never what a link there points to.
namespace NvQorLogging::FileSystem {

// What stands at a path, seen without following a link.
struct FolderFacts {
    enum class Kind {
        Missing,
        Folder,
        Link,  // a reparse point: a junction, a symbolic link or a mount point
        Other, // a file, or something that cannot be opened
    };
    Kind kind = Kind::Missing;
    // The owner as a string SID; empty when it cannot be read.
    std::wstring owner;
    // The folder as checked, open without delete sharing (unless another program already holds it for deletion):
    // while it is held, the folder cannot be renamed away and replaced by a link.
    UniqueFile handle;
};

class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    virtual ~File() = default;

    // Opens for appending by several writers (OPEN_ALWAYS, all sharing modes). Fails for anything but a plain
    // file with a single name, so that no line lands in another file through a link.
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
    // Renames a plain file with a single name, replacing whatever name is at `to`.
    virtual bool MoveReplace(const std::wstring& from, const std::wstring& to);
    // Deletes the file's name now, or at the next restart when it is in use; a missing file counts as done.
    // A folder of that name stays.
    virtual bool DeleteOrScheduleDelete(const std::wstring& path);
    virtual FolderFacts InspectFolder(const std::wstring& path);
};

} // namespace NvQorLogging::FileSystem
