#include "app/tool_options.h"
#include "app/ui_tool.h"
#include "base/option_parser.h"
#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"
#include "platform/instance_guard.h"
#include "platform/library_loading.h"
#include "resources/resource.h"
#include "ui/gui_manager.h"
#include "ui/language_select.h"
#include "ui/settings.h"

#include <memory>

namespace {

enum SettingsScope : int {
    Localizations = 0,
    Customizations = 1,
};

// Read without a word on a bad command line, only so that the exit-code convention and the report apply to a
// run that ends before the command line is checked.
void ReadOptionsQuietly()
{
    DeclareToolOptions(NvOptionParser::Instance());
    NvOptionParser::Instance().Parse(::GetCommandLineW());
}

bool IsWithoutWindow()
{
    const NvOptionParser& parser = NvOptionParser::Instance();
    return parser.IsSpecified(L"silent") || parser.IsSpecified(L"detect");
}

// Everything between the single-instance check and the final clean-up; returns the exit code and whether the user
// asked for a restart.
int RunGuarded(HINSTANCE instance, bool& restartRequested)
{
    SetDelayLoadOptions(0, 0);
    if (!SetSafeDllSearchPaths()) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Failed to set default safe DLL search paths", L"Run");
    }
    PreloadSystemLibrary(L"UxTheme.dll");
    PreloadSystemLibrary(L"WindowsCodecs.dll");

    if (!UiTool::ParseCommandLine(::GetCommandLineW())) {
        return UiTool::ExitError;
    }
    Settings& settings = Settings::Instance();
    if (!settings.Load(Localizations, instance, IDR_LOCALIZATIONS)) {
        NV_QOR_LOG(NvQorLogging::Fatal, L"%s: Failed to load localizations", L"Run");
        return UiTool::ExitError;
    }
    if (!settings.Load(Customizations, instance, IDR_CUSTOMIZATIONS)) {
        NV_QOR_LOG(NvQorLogging::Fatal, L"%s: Failed to load customizations", L"Run");
        return UiTool::ExitError;
    }
    UniqueEvent stopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent) {
        NV_QOR_LOG(NvQorLogging::Fatal, L"%s: Failed to create stop event", L"Run");
        return UiTool::ExitError;
    }

    std::unique_ptr<IGuiManager> gui;
    const NvOptionParser& parser = NvOptionParser::Instance();
    if (parser.IsSpecified(L"silent")) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: SILENT parameter provided. Running without GUI.", L"Run");
        // Without a window nobody would notice that the run leaves no log.
        if (const std::wstring refusal = NvQorLogging::LogFolderRefusal(); !refusal.empty()) {
            PrintToConsole(L"%s", refusal.c_str());
        }
        gui = std::make_unique<GuiSilent>();
    } else if (parser.IsSpecified(L"detect")) {
        // Detection only serves deployment systems and compliance rules: never a window.
        NV_QOR_LOG(NvQorLogging::Info, L"%s: DETECT parameter provided. Running without GUI.", L"Run");
        gui = std::make_unique<GuiSilent>();
    } else {
        gui = std::make_unique<GuiManager>(instance, stopEvent.get());
    }
    auto languageSelect = std::make_unique<LanguageSelect>();
    UiTool tool(gui.get(), languageSelect.get(), stopEvent.get());

    int exitCode = UiTool::ExitError;
    if (gui->Run()) {
        exitCode = tool.Execute();
    } else {
        // No window, so no page can be answered: that is an error, not the user's cancel.
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to start the user interface", L"Run");
    }
    gui->Quit();
    tool.CleanUp();
    restartRequested = tool.IsRebootRequested();
    // Shut-down order: stop event, language selector, GUI driver.
    stopEvent.reset();
    languageSelect.reset();
    gui.reset();
    return exitCode;
}

} // namespace

int Run(HINSTANCE instance)
{
    NvOptionParser::Instance();
    bool restartRequested = false;
    int exitCode;
    {
        // An existence marker only: never waited on or released, just closed at the very end.
        InstanceGuard guard;
        std::wstring failure;
        switch (guard.Acquire(failure)) {
        case InstanceGuard::Result::Acquired:
            break;
        case InstanceGuard::Result::AlreadyRunning:
            NV_QOR_LOG(NvQorLogging::Info, L"%s: Another instance is already running", L"Run");
            ReadOptionsQuietly();
            // Without a window the console is the only place where the caller learns why nothing happened.
            if (IsWithoutWindow()) {
                PrintToConsole(L"Another instance is already running. Try again later.");
            }
            return UiTool::ExitAlreadyRunning;
        case InstanceGuard::Result::Failed:
        default:
            NV_QOR_LOG(NvQorLogging::Fatal, L"%s: Cannot make sure that only one instance runs: %s", L"Run",
                       failure.c_str());
            ReadOptionsQuietly();
            PrintToConsole(L"Cannot make sure that only one instance runs: %s", failure.c_str());
            return UiTool::ExitError;
        }
        exitCode = RunGuarded(instance, restartRequested);
    }
    // Only now that the window is gone and the work directory removed: the end of the session that the request
    // starts ends a process whose windows have answered it, and would cut the clean-up and the exit code short.
    if (restartRequested) {
        RequestRestart();
    }
    return exitCode;
}
