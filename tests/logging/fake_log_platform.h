#pragma once

#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "logging/file_context.h"
#include "logging/log_file_system.h"
#include "logging/log_platform.h"
#include "logging/logger.h"

namespace NvLogTest {

// Every fake call scribbles on the last-error code, as real Windows calls do, so that tests see whether the
// library restores it.
constexpr DWORD kNoiseError = 0x5A5A;

class FakePlatform : public NvQorLogging::LogPlatform {
public:
    SYSTEMTIME now{2024, 3, 5, 15, 9, 5, 7, 42};
    SYSTEMTIME utcNow{2024, 3, 5, 15, 8, 5, 7, 42};
    DWORD zoneResult = TIME_ZONE_ID_STANDARD;
    TIME_ZONE_INFORMATION zone{};
    bool sessionKnown = true;
    DWORD session = 1;
    DWORD processId = 0x1a2b;
    DWORD threadId = 0x3c;
    std::vector<std::wstring> debugOutput;
    // (hive, key, value name) -> data; only the 32-bit view is modelled for DWORDs, as the library asks for no other.
    std::map<std::tuple<HKEY, std::wstring, std::wstring>, DWORD> dwords;
    std::map<std::tuple<HKEY, std::wstring, std::wstring>, std::wstring> strings;
    std::map<std::wstring, std::wstring> environment{{L"%ProgramData%", L"C:\\ProgramData"},
                                                     {L"%LOCALAPPDATA%", L"C:\\Users\\u\\AppData\\Local"}};
    bool administrator = true;
    bool lowIntegrity = false;
    std::wstring userSid = L"S-1-5-21-1-2-3-1001";
    std::vector<std::wstring> sddlRequests;
    std::vector<std::wstring> createdMutexes;
    std::vector<std::wstring> openedMutexes;
    DWORD createMutexError = ERROR_SUCCESS;
    DWORD waitResult = WAIT_OBJECT_0;
    int releases = 0;
    DWORD outputType = FILE_TYPE_CHAR;
    DWORD attachError = ERROR_SUCCESS;
    int detaches = 0;
    std::wstring console;
    std::string standardOutput;

    SYSTEMTIME Now(bool utc) override { return Noise(utc ? utcNow : now); }
    DWORD TimeZone(TIME_ZONE_INFORMATION& info) override
    {
        info = zone;
        return Noise(zoneResult);
    }
    bool SessionId(DWORD& id) override
    {
        id = session;
        return Noise(sessionKnown);
    }
    DWORD ProcessId() override { return processId; }
    DWORD ThreadId() override { return threadId; }
    void DebugOutput(const wchar_t* text) override { debugOutput.push_back(Noise(std::wstring(text))); }
    bool QueryDword(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view, DWORD& value) override
    {
        const auto found = dwords.find({root, subkey, name});
        if (view != KEY_WOW64_32KEY || found == dwords.end()) {
            return Noise(false);
        }
        value = found->second;
        return Noise(true);
    }
    std::wstring QueryString(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM) override
    {
        const auto found = strings.find({root, subkey, name});
        return Noise(found == strings.end() ? std::wstring() : found->second);
    }
    std::wstring ExpandEnvironment(const wchar_t* text) override { return Noise(environment[text]); }
    bool IsAdministrator() override { return Noise(administrator); }
    bool IsLowIntegrity() override { return Noise(lowIntegrity); }
    std::wstring UserSid() override { return Noise(userSid); }
    std::unique_ptr<NvQorLogging::LogSecurity> SecurityFromSddl(const wchar_t* sddl) override
    {
        sddlRequests.push_back(sddl);
        return Noise(std::make_unique<NvQorLogging::LogSecurity>());
    }
    UniqueMutex CreateNamedMutex(const std::wstring& name, SECURITY_ATTRIBUTES*, DWORD& error) override
    {
        createdMutexes.push_back(name);
        error = createMutexError;
        return Noise(error == ERROR_SUCCESS ? UniqueMutex(CreateMutexW(nullptr, FALSE, nullptr)) : UniqueMutex());
    }
    UniqueMutex OpenNamedMutex(const std::wstring& name) override
    {
        openedMutexes.push_back(name);
        return Noise(UniqueMutex(CreateMutexW(nullptr, FALSE, nullptr)));
    }
    DWORD WaitMutex(HANDLE, DWORD) override { return Noise(waitResult); }
    void ReleaseMutex(HANDLE) override { Noise(++releases); }
    DWORD StandardOutputType() override { return Noise(outputType); }
    DWORD AttachParentConsole() override { return Noise(attachError); }
    void DetachConsole() override { Noise(++detaches); }
    bool WriteConsoleText(std::wstring_view text) override
    {
        console += text;
        return Noise(true);
    }
    bool WriteStandardOutput(std::string_view bytes) override
    {
        standardOutput += bytes;
        return Noise(true);
    }

    void SetDword(const std::wstring& key, const wchar_t* name, DWORD value)
    {
        dwords[{HKEY_LOCAL_MACHINE, key, name}] = value;
    }

private:
    template <typename T> T Noise(T value)
    {
        SetLastError(kNoiseError);
        return value;
    }
};

// Files and folders in memory.
struct MemoryDisk {
    std::map<std::wstring, std::string> files;
    std::map<std::wstring, bool> directories; // path -> created with security attributes
    std::set<std::wstring> failingDirectories;
    std::set<std::wstring> unopenable;
    std::set<std::wstring> undeletable;
    std::vector<std::wstring> scheduledDeletes;
    int flushes = 0;
    // Folder links, and owners of folders other than the Administrators.
    std::set<std::wstring> links;
    std::map<std::wstring, std::wstring> owners;
};

class MemoryFile : public NvQorLogging::FileSystem::File {
public:
    explicit MemoryFile(MemoryDisk& disk) : m_disk(disk) {}
    bool Open(const std::wstring& name, SECURITY_ATTRIBUTES*) override
    {
        m_open = m_disk.unopenable.count(name) == 0;
        m_name = name;
        if (m_open) {
            m_disk.files[name];
        }
        m_position = 0;
        return m_open;
    }
    void Close() override { m_open = false; }
    void Write(const void* bytes, DWORD count) override
    {
        if (!m_open) {
            return;
        }
        std::string& data = m_disk.files[m_name];
        data.resize(std::max<size_t>(data.size(), m_position + count));
        data.replace(m_position, count, static_cast<const char*>(bytes), count);
        m_position += count;
    }
    uint64_t SeekEndSize() override
    {
        m_position = m_open ? m_disk.files[m_name].size() : 0;
        return m_position;
    }
    void Flush() override { m_disk.flushes += m_open ? 1 : 0; }
    bool IsOpen() const override { return m_open; }

private:
    MemoryDisk& m_disk;
    std::wstring m_name;
    bool m_open = false;
    size_t m_position = 0;
};

class MemoryPath : public NvQorLogging::FileSystem::Path {
public:
    explicit MemoryPath(MemoryDisk& disk) : m_disk(disk) {}
    std::unique_ptr<NvQorLogging::FileSystem::File> NewFile() override { return std::make_unique<MemoryFile>(m_disk); }
    bool FileExists(const std::wstring& path) override { return m_disk.files.count(path) != 0; }
    bool CreateDirectoryTree(const std::wstring& path, SECURITY_ATTRIBUTES* attributes) override
    {
        if (m_disk.failingDirectories.count(path) != 0) {
            return false;
        }
        if (m_disk.links.count(path) != 0) {
            return true;
        }
        m_disk.directories[path] = attributes != nullptr;
        return true;
    }
    bool MoveReplace(const std::wstring& from, const std::wstring& to) override
    {
        m_disk.files[to] = m_disk.files[from];
        m_disk.files.erase(from);
        return true;
    }
    bool DeleteOrScheduleDelete(const std::wstring& path) override
    {
        if (m_disk.undeletable.count(path) != 0) {
            m_disk.scheduledDeletes.push_back(path);
        } else {
            m_disk.files.erase(path);
        }
        return true;
    }

    NvQorLogging::FileSystem::FolderFacts InspectFolder(const std::wstring& path) override
    {
        using Kind = NvQorLogging::FileSystem::FolderFacts::Kind;
        if (m_disk.links.count(path) != 0) {
            return {Kind::Link, L"S-1-5-32-544", {}};
        }
        if (m_disk.directories.count(path) == 0) {
            return {m_disk.files.count(path) != 0 ? Kind::Other : Kind::Missing, L"", {}};
        }
        const auto owner = m_disk.owners.find(path);
        return {Kind::Folder, owner != m_disk.owners.end() ? owner->second : L"S-1-5-32-544", {}};
    }

private:
    MemoryDisk& m_disk;
};

// A logger whose file context lives on the memory disk.
class MemoryLogger : public NvQorLogging::LoggerWin {
public:
    MemoryLogger(FakePlatform& platform, MemoryDisk& disk) : LoggerWin(platform), m_disk(disk) {}
    std::unique_ptr<NvQorLogging::FileContext> CreateFileContext(const std::wstring& component,
                                                                 const std::wstring& logName, uint32_t flags) override
    {
        return std::make_unique<NvQorLogging::FileContext>(Platform(), std::make_unique<MemoryPath>(m_disk), component,
                                                           logName, flags);
    }

private:
    MemoryDisk& m_disk;
};

inline const std::wstring kLoggingKey = L"SOFTWARE\\Norvane\\QOR\\Logging";
inline const std::wstring kShellFolders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline const std::wstring kToolLog = L"C:\\ProgramData\\Norvane\\Log\\UninstallationTool\\UninstallationTool.log";

// The file's text after its byte-order mark; "<no BOM>" marks a file that lacks one.
inline std::wstring FileText(const MemoryDisk& disk, const std::wstring& name)
{
    const auto found = disk.files.find(name);
    if (found == disk.files.end()) {
        return L"<missing>";
    }
    const std::string& bytes = found->second;
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE) {
        return L"<no BOM>";
    }
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
}

// The file's lines without their "\r\n".
inline std::vector<std::wstring> FileLines(const MemoryDisk& disk, const std::wstring& name)
{
    const std::wstring text = FileText(disk, name);
    std::vector<std::wstring> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find(L"\r\n", start);
        if (end == text.npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

} // namespace NvLogTest
