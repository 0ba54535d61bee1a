// Holds the tool's single-instance mutex until its standard input closes, like a running tool would.
#include <windows.h>

#include <cstdio>

int wmain()
{
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"Global\\{91D7C0A1-4A48-4F19-8492-D22A1F91C4CE}");
    if (mutex == nullptr) {
        return 1;
    }
    std::puts("holding");
    std::fflush(stdout);
    char buffer[16];
    while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
    }
    ::CloseHandle(mutex);
    return 0;
}
