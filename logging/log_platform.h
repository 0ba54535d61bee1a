#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "base/unique_resource.h"

namespace NvQorLogging {

// Security attributes built from an SDDL string; the descriptor lives as long as the object.
struct LogSecurity {
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    UniqueLocal descriptor;
};

// The Windows facilities the log library uses besides files. The library reaches them only through this
// interface, so its logic also runs against a replacement (fixed clock, fake registry) in tests.
class LogPlatform {
public:
    virtual ~LogPlatform() = default;

    virtual SYSTEMTIME Now(bool utc) = 0;
    // GetTimeZoneInformation: the TIME_ZONE_ID_* result.
    virtual DWORD TimeZone(TIME_ZONE_INFORMATION& info) = 0;
    virtual bool SessionId(DWORD& session) = 0;
    virtual DWORD ProcessId() = 0;
    virtual DWORD ThreadId() = 0;
    virtual void DebugOutput(const wchar_t* text) = 0;

    // True when the value exists as a REG_DWORD. view is 0 or KEY_WOW64_32KEY.
    virtual bool QueryDword(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view, DWORD& value) = 0;
    // A REG_SZ or REG_EXPAND_SZ value as stored (not expanded); empty when missing, of another type or unreadable.
    virtual std::wstring QueryString(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view) = 0;
    virtual std::wstring ExpandEnvironment(const wchar_t* text) = 0;

    virtual bool IsAdministrator() = 0;
    virtual bool IsLowIntegrity() = 0;
    // The string form of the token user's SID; empty on failure.
    virtual std::wstring UserSid() = 0;
    virtual std::unique_ptr<LogSecurity> SecurityFromSddl(const wchar_t* sddl) = 0;

    // Creates the named mutex not owned; on failure the handle is null and error holds GetLastError.
    virtual UniqueMutex CreateNamedMutex(const std::wstring& name, SECURITY_ATTRIBUTES* attributes, DWORD& error) = 0;
    virtual UniqueMutex OpenNamedMutex(const std::wstring& name) = 0;
    virtual DWORD WaitMutex(HANDLE mutex, DWORD milliseconds) = 0;
    virtual void ReleaseMutex(HANDLE mutex) = 0;

    // GetFileType of the standard output handle; FILE_TYPE_UNKNOWN when there is none.
    virtual DWORD StandardOutputType() = 0;
    // ERROR_SUCCESS, or the error of AttachConsole(ATTACH_PARENT_PROCESS).
    virtual DWORD AttachParentConsole() = 0;
    virtual void DetachConsole() = 0;
    virtual bool WriteConsoleText(std::wstring_view text) = 0;
    virtual bool WriteStandardOutput(std::string_view bytes) = 0;
};

// The Win32 implementation, shared by the whole process.
LogPlatform& SystemPlatform();

} // namespace NvQorLogging
