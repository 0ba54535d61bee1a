// Makes the first call into a lazily bound library the way the tool does and prints what it returned and the file
// the call was bound to:
//   nv_delay_load_probe [--run-options | --helper-only] msi|profiles
// --run-options sets up library loading as the tool's start does; --helper-only only turns the executable's
// directory off, leaving the process's default search alone. Logs to Norvane\Log\DelayLoadProbe.
#include "logging/nv_qor_log.h"
#include "platform/library_loading.h"
#include "platform/special_folders.h"

#include <windows.h>

#include <msi.h>

#include <cstdio>
#include <string>

// The import address table slots, patched by the delay-load helper on the first call.
extern "C" void* __imp_MsiEnumRelatedProductsW;
extern "C" void* __imp_GetProfilesDirectoryW;

namespace {

constexpr int kExitUsage = 2;
constexpr wchar_t kUnknownUpgradeCode[] = L"{6D1B5E0C-3F2A-4C7E-9B1D-2A7F4E8C9D10}";

std::wstring ModulePathOf(const void* address)
{
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<const wchar_t*>(address), &module)) {
        return L"(none)";
    }
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

void PrintLine(const std::wstring& line)
{
    char text[2048];
    if (::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, text, sizeof(text), nullptr, nullptr) > 0) {
        std::puts(text);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc == 3 ? argv[1] : L"";
    const std::wstring call = argc >= 2 ? argv[argc - 1] : L"";
    const bool runOptions = mode == L"--run-options";
    const bool helperOnly = mode == L"--helper-only";
    if (argc < 2 || argc > 3 || (argc == 3 && !runOptions && !helperOnly) || (call != L"msi" && call != L"profiles")) {
        std::fputs("usage: nv_delay_load_probe [--run-options | --helper-only] msi|profiles\n", stderr);
        return kExitUsage;
    }
    NvQorLogging::OpenLog(L"DelayLoadProbe", L"DelayLoadProbe", NvQorLogging::Info, 0);
    if (runOptions || helperOnly) {
        SetDelayLoadOptions(0, 0);
    }
    if (runOptions && !SetSafeDllSearchPaths()) {
        PrintLine(L"SetSafeDllSearchPaths failed");
    }
    if (call == L"msi") {
        wchar_t product[39] = {};
        const UINT result = MsiEnumRelatedProductsW(kUnknownUpgradeCode, 0, 0, product);
        PrintLine(L"result=" + std::to_wstring(result) + L" product=" + product);
        PrintLine(L"bound=" + ModulePathOf(__imp_MsiEnumRelatedProductsW));
    } else {
        PrintLine(L"result=" + QueryProfilesDirectory());
        PrintLine(L"bound=" + ModulePathOf(__imp_GetProfilesDirectoryW));
    }
    NvQorLogging::CloseLog();
    return 0;
}
