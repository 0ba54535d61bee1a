#include "app/ui_tool.h"
#include "logging/nv_qor_log.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    NvQorLogging::OpenLog(L"UninstallationTool", L"UninstallationTool", NvQorLogging::Info, 0);
    NV_QOR_LOG(NvQorLogging::Info, "Binary version: %d.%02d.%d.%d, compilation time: %s %s", 17, 30, 134, 0, __DATE__,
               __TIME__);
    const int exitCode = Run(instance);
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Exiting with code: %d", L"wWinMain", exitCode);
    NvQorLogging::CloseLog();
    return exitCode;
}
