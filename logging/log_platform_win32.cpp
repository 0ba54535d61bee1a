#include "logging/log_platform.h"

#include <sddl.h>

#include <vector>

namespace NvQorLogging {
namespace {

// The thread's impersonation token when there is one, else the process token.
UniqueToken EffectiveToken()
{
    UniqueToken token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put());
    }
    return token;
}

std::vector<BYTE> TokenInformation(TOKEN_INFORMATION_CLASS infoClass)
{
    const UniqueToken token = EffectiveToken();
    DWORD size = 0;
    if (!token || (!GetTokenInformation(token.get(), infoClass, nullptr, 0, &size) &&
                   GetLastError() != ERROR_INSUFFICIENT_BUFFER)) {
        return {};
    }
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), infoClass, buffer.data(), size, &size)) {
        return {};
    }
    return buffer;
}

class Win32LogPlatform final : public LogPlatform {
public:
    SYSTEMTIME Now(bool utc) override
    {
        SYSTEMTIME time{};
        if (utc) {
            GetSystemTime(&time);
        } else {
            GetLocalTime(&time);
        }
        return time;
    }

    DWORD TimeZone(TIME_ZONE_INFORMATION& info) override { return GetTimeZoneInformation(&info); }

    bool SessionId(DWORD& session) override { return ProcessIdToSessionId(GetCurrentProcessId(), &session) != FALSE; }

    DWORD ProcessId() override { return GetCurrentProcessId(); }

    DWORD ThreadId() override { return GetCurrentThreadId(); }

    void DebugOutput(const wchar_t* text) override { OutputDebugStringW(text); }

    bool QueryDword(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view, DWORD& value) override
    {
        UniqueKey key;
        if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
            return false;
        }
        DWORD type = REG_NONE;
        DWORD data = 0;
        DWORD size = sizeof(data);
        if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof(data)) {
            return false;
        }
        value = data;
        return true;
    }

    std::wstring QueryString(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view) override
    {
        UniqueKey key;
        if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
            return {};
        }
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return {};
        }
        std::wstring text(size / sizeof(wchar_t), L'\0');
        if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return {};
        }
        text.resize(size / sizeof(wchar_t));
        // Stored strings normally end in one NUL; anything after a NUL is not part of the text.
        if (const size_t end = text.find(L'\0'); end != text.npos) {
            text.resize(end);
        }
        return text;
    }

    std::wstring ExpandEnvironment(const wchar_t* text) override
    {
        const DWORD size = ExpandEnvironmentStringsW(text, nullptr, 0);
        if (size == 0) {
            return {};
        }
        std::wstring result(size, L'\0');
        const DWORD written = ExpandEnvironmentStringsW(text, result.data(), size);
        if (written == 0 || written > size) {
            return {};
        }
        result.resize(written - 1);
        return result;
    }

    bool IsAdministrator() override
    {
        SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
        UniqueSid administrators;
        if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                      0, 0, administrators.put())) {
            return false;
        }
        BOOL member = FALSE;
        return CheckTokenMembership(nullptr, administrators.get(), &member) && member;
    }

    bool IsLowIntegrity() override
    {
        const std::vector<BYTE> info = TokenInformation(TokenIntegrityLevel);
        if (info.size() < sizeof(TOKEN_MANDATORY_LABEL)) {
            return false;
        }
        const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(info.data())->Label.Sid;
        const UCHAR count = *GetSidSubAuthorityCount(sid);
        return count > 0 && *GetSidSubAuthority(sid, count - 1) == SECURITY_MANDATORY_LOW_RID;
    }

    std::wstring UserSid() override
    {
        const std::vector<BYTE> info = TokenInformation(TokenUser);
        if (info.size() < sizeof(TOKEN_USER)) {
            return {};
        }
        UniqueLocal text;
        if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(info.data())->User.Sid,
                                    reinterpret_cast<LPWSTR*>(text.put()))) {
            return {};
        }
        return static_cast<const wchar_t*>(text.get());
    }

    std::unique_ptr<LogSecurity> SecurityFromSddl(const wchar_t* sddl) override
    {
        auto security = std::make_unique<LogSecurity>();
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, security->descriptor.put(),
                                                                  nullptr)) {
            return nullptr;
        }
        security->attributes.lpSecurityDescriptor = security->descriptor.get();
        return security;
    }

    UniqueMutex CreateNamedMutex(const std::wstring& name, SECURITY_ATTRIBUTES* attributes, DWORD& error) override
    {
        UniqueMutex mutex(CreateMutexW(attributes, FALSE, name.c_str()));
        error = mutex ? ERROR_SUCCESS : GetLastError();
        return mutex;
    }

    UniqueMutex OpenNamedMutex(const std::wstring& name) override
    {
        return UniqueMutex(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    }

    DWORD WaitMutex(HANDLE mutex, DWORD milliseconds) override { return WaitForSingleObject(mutex, milliseconds); }

    void ReleaseMutex(HANDLE mutex) override { ::ReleaseMutex(mutex); }

    DWORD StandardOutputType() override
    {
        const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        if (output == nullptr || output == INVALID_HANDLE_VALUE) {
            return FILE_TYPE_UNKNOWN;
        }
        return GetFileType(output);
    }

    DWORD AttachParentConsole() override
    {
        return AttachConsole(ATTACH_PARENT_PROCESS) ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
    }

    void DetachConsole() override { FreeConsole(); }

    bool WriteConsoleText(std::wstring_view text) override
    {
        DWORD written = 0;
        if (WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
                          nullptr)) {
            return true;
        }
        // A process that already had a console may hold no console handle as its standard output.
        const UniqueFile console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        return console &&
               WriteConsoleW(console.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
    }

    bool WriteStandardOutput(std::string_view bytes) override
    {
        const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        while (!bytes.empty()) {
            DWORD written = 0;
            if (!WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) {
                return false;
            }
            bytes.remove_prefix(written);
        }
        return true;
    }
};

} // namespace

LogPlatform& SystemPlatform()
{
    static Win32LogPlatform platform;
    return platform;
}

} // namespace NvQorLogging
