// A GUI-subsystem program, like the tool, that prints one line through PrintToConsole.
#include <windows.h>

#include "logging/nv_qor_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    PrintToConsole(L"%s: %zu %s", L"console line", size_t{42}, L"caf\u00E9");
    return 0;
}
