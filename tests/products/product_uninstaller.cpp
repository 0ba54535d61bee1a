// A product's own uninstaller, as shipped in its installation folder: it finds the product's Windows Installer
// package through the product's registry key (HKLM\SOFTWARE\Norvane\<name of the folder it runs from>, value
// "ProductCode") and removes it silently. The exit code is msiexec's; 1605 when the product is unknown.
#include "base/unique_resource.h"

#include <windows.h>

#include <string>

namespace {

std::wstring OwnFolderName()
{
    wchar_t path[MAX_PATH] = L"";
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.erase(folder.find_last_of(L'\\'));
    return folder.substr(folder.find_last_of(L'\\') + 1);
}

std::wstring ProductCode(const std::wstring& productKey)
{
    wchar_t code[64] = L"";
    DWORD size = sizeof(code);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, productKey.c_str(), L"ProductCode", RRF_RT_REG_SZ, nullptr, code, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return code;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int)
{
    const std::wstring code = ProductCode(L"SOFTWARE\\Norvane\\" + OwnFolderName());
    if (code.empty()) {
        return ERROR_UNKNOWN_PRODUCT;
    }
    wchar_t system[MAX_PATH] = L"";
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring msiexec = std::wstring(system) + L"\\msiexec.exe";
    std::wstring commandLine = L"\"" + msiexec + L"\" /x " + code + L" /qn REBOOT=ReallySuppress";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(msiexec.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &created)) {
        return static_cast<int>(::GetLastError());
    }
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.get(), &exitCode);
    return static_cast<int>(exitCode);
}
