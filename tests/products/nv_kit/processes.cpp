#include "tests/products/nv_kit/processes.h"

#include "base/unique_resource.h"
#include "tests/products/nv_kit/output.h"

#include <windows.h>

#include <tlhelp32.h>

namespace NvKit {

std::vector<std::wstring> RunningPrograms()
{
    std::vector<std::wstring> programs;
    UniqueSnapshot processes(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!processes) {
        Die(L"CreateToolhelp32Snapshot");
    }
    PROCESSENTRY32W process{};
    process.dwSize = sizeof(process);
    for (BOOL more = ::Process32FirstW(processes.get(), &process); more;
         more = ::Process32NextW(processes.get(), &process)) {
        UniqueSnapshot modules(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID));
        MODULEENTRY32W module{};
        module.dwSize = sizeof(module);
        if (modules && ::Module32FirstW(modules.get(), &module)) {
            programs.emplace_back(module.szExePath);
        }
    }
    return programs;
}

void StartProgram(const std::wstring& program)
{
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                          nullptr, &startup, &created)) {
        Die(L"starting " + program);
    }
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
}

int Hold(const std::wstring& ready, const std::vector<std::wstring>& files)
{
    std::vector<UniqueFile> held;
    for (const std::wstring& file : files) {
        held.emplace_back(
            ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held.back()) {
            Die(L"opening " + file);
        }
    }
    UniqueFile marker(::CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!marker) {
        Die(L"creating " + ready);
    }
    marker.reset();
    ::Sleep(INFINITE);
    return 0;
}

} // namespace NvKit
