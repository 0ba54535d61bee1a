// A stand-in for a product's program, started by the module tests under different names and folders.
//   /exit N      ends at once with exit code N (0 to 4294967295)
//   /sleep MS    ends with 0 after MS milliseconds
// With NV_TEST_COMMAND_LINE_FILE set, it writes its command line, a line break and its current folder (UTF-16)
// to that file and ends with 0. With NV_TEST_SLEEP_MS set, it sleeps that long and ends with 0. Otherwise it
// runs for a minute, long enough to be ended by a test, and ends with 3.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

bool RecordLaunch()
{
    wchar_t file[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"NV_TEST_COMMAND_LINE_FILE", file, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    wchar_t folder[MAX_PATH];
    const DWORD folderLength = ::GetCurrentDirectoryW(MAX_PATH, folder);
    const std::wstring text = std::wstring(::GetCommandLineW()) + L"\n" + std::wstring(folder, folderLength);
    const HANDLE output = ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(output, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(output);
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (RecordLaunch()) {
        return 0;
    }
    if (argc == 3 && std::wcscmp(argv[1], L"/exit") == 0) {
        return static_cast<int>(std::wcstoul(argv[2], nullptr, 10));
    }
    if (argc == 3 && std::wcscmp(argv[1], L"/sleep") == 0) {
        ::Sleep(std::wcstoul(argv[2], nullptr, 10));
        return 0;
    }
    wchar_t sleepMs[16];
    const DWORD length = ::GetEnvironmentVariableW(L"NV_TEST_SLEEP_MS", sleepMs, 16);
    if (length > 0 && length < 16) {
        ::Sleep(std::wcstoul(sleepMs, nullptr, 10));
        return 0;
    }
    ::Sleep(60000);
    return 3;
}
