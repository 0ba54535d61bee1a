// Holds a single-instance mark until its standard input closes: "guard" the tool's own guard, as a running tool
// would; "old-name" a mutex of the name earlier versions used, and "foreign" one of the guard's global name with
// another owner, as a user squatting the names would.
#include "platform/instance_guard.h"

#include <sddl.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    InstanceGuard guard;
    UniqueMutex squatted;
    std::wstring failure;
    if (mode == L"guard") {
        if (guard.Acquire(failure) != InstanceGuard::Result::Acquired) {
            return 1;
        }
    } else if (mode == L"old-name" || mode == L"foreign") {
        const wchar_t* name = mode == L"old-name"
                                  ? L"Global\\{91D7C0A1-4A48-4F19-8492-D22A1F91C4CE}"
                                  : L"Global\\NorvaneUninstallationTool.{91D7C0A1-4A48-4F19-8492-D22A1F91C4CE}";
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
        if (mode == L"foreign" &&
            !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"O:S-1-5-21-1-2-3-1001D:(A;;GA;;;WD)", SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr)) {
            return 1;
        }
        squatted.reset(::CreateMutexW(&attributes, FALSE, name));
        ::LocalFree(attributes.lpSecurityDescriptor);
        if (!squatted) {
            return 1;
        }
    } else {
        std::fputs("usage: instance_mutex_holder guard|old-name|foreign\n", stderr);
        return 2;
    }
    std::puts("holding");
    std::fflush(stdout);
    char buffer[16];
    while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
    }
    return 0;
}
