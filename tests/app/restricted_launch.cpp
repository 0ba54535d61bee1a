// Starts a program with the Administrators group made deny-only in its token and returns its exit code:
// how a user without administrator rights runs the tool.
#include "base/unique_resource.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fputs("usage: restricted_launch PROGRAM [ARGS...]\n", stderr);
        return 255;
    }
    UniqueToken token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, token.put())) {
        return 254;
    }
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    administrators.put())) {
        return 254;
    }
    SID_AND_ATTRIBUTES denyOnly{administrators.get(), 0};
    UniqueToken restricted;
    if (!::CreateRestrictedToken(token.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, restricted.put())) {
        return 254;
    }
    std::wstring commandLine;
    for (int i = 1; i < argc; ++i) {
        commandLine += (i > 1 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessAsUserW(restricted.get(), nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &process)) {
        return 253;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 252;
    ::GetExitCodeProcess(processHandle.get(), &exitCode);
    return static_cast<int>(exitCode);
}
