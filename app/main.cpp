#include "app/run_report.h"
#include "app/tool_options.h"
#include "app/ui_tool.h"
#include "app/version.h"
#include "base/option_parser.h"
#include "logging/nv_qor_log.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // The report's start time.
    RunReport& report = RunReport::Instance();
    NvQorLogging::OpenLog(L"UninstallationTool", L"UninstallationTool", NvQorLogging::Info, 0);
    NV_QOR_LOG(NvQorLogging::Info, "Binary version: %d.%02d.%d.%d, compilation time: %s %s", ToolVersion::kMajor,
               ToolVersion::kMinor, ToolVersion::kBuild, ToolVersion::kRevision, __DATE__, __TIME__);
    const int toolCode = Run(instance);
    const int exitCode =
        MapExitCode(ChosenExitCodeConvention(NvOptionParser::Instance()), toolCode, report.IsRestartStarted());
    if (exitCode == toolCode) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Exiting with code: %d", L"wWinMain", exitCode);
    } else {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Exiting with code: %d (tool code: %d)", L"wWinMain", exitCode, toolCode);
    }
    report.WriteIfRequested(toolCode, exitCode);
    NvQorLogging::CloseLog();
    return exitCode;
}
