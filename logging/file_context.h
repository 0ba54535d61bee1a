#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_resource.h"
#include "logging/log_file_system.h"
#include "logging/log_platform.h"

namespace NvQorLogging {

// One open log file: folder, configuration, cross-process mutex and size-based rotation.
class FileContext {
public:
    FileContext(LogPlatform& platform, std::unique_ptr<FileSystem::Path> path, std::wstring component,
                std::wstring logName, uint32_t flags);
    FileContext(const FileContext&) = delete;
    FileContext& operator=(const FileContext&) = delete;
    virtual ~FileContext();

    // Runs once: true the first time, false on every later call.
    virtual bool Initialize();
    virtual void WriteLine(std::wstring_view text);
    virtual void Flush();
    virtual int32_t ConfiguredLevel(int32_t defaultLevel);
    virtual bool DebugOutputEnabled();
    // Called with the mutex held: opens the current file, rotating first when it is full.
    virtual void PrepareFile();
    virtual std::wstring FileNameForIndex(uint32_t index) const;
    virtual std::wstring MutexName(bool local) const;
    // Why the log folder was not used, as a line for the console: it, or a folder on the way to it, is a
    // link or belongs to another account. Empty when the folder is used or could simply not be made.
    virtual std::wstring FolderRefusal() const;
    // The folder the log files are written to, after the checks above; empty when there is none.
    virtual std::wstring Folder() const;
    // The file lines go to (rotation keeps the newest under this name); empty when the log has no folder.
    virtual std::wstring CurrentFile() const;

private:
    enum class OpenResult { Failed, Full, Ready };

    DWORD ConfiguredValue(const wchar_t* name, DWORD defaultValue) const;
    std::wstring LogRoot(bool administrator, bool lowIntegrity) const;
    bool AcceptFolder(const std::wstring& folder, const std::wstring& processUser);
    SECURITY_ATTRIBUTES* SecurityAttributes() const;
    void CreateMutexFor(bool administrator, bool lowIntegrity);
    OpenResult OpenCurrentFile();
    void Rotate();

    LogPlatform& m_platform;
    std::unique_ptr<FileSystem::Path> m_path;
    std::wstring m_component;
    std::wstring m_logName;
    uint32_t m_flags;
    UniqueMutex m_mutex;
    bool m_initialized = false;
    std::wstring m_basePath;
    uint64_t m_sizeLimit = 0;
    uint32_t m_rotationCount = 0;
    std::unique_ptr<LogSecurity> m_security;
    std::unique_ptr<FileSystem::File> m_file;
    std::wstring m_folderRefusal;
    std::wstring m_folder;
    // The accepted folders from the vendor folder down, held for the life of the log.
    std::vector<UniqueFile> m_heldFolders;
};

} // namespace NvQorLogging
