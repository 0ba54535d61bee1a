#pragma once

#include <windows.h>

#include "engine/product_config.h"

#include <string>
#include <vector>

class IGuiManager;
class LanguageSelect;

// The application object: owns the run sequence from the language choice to the exit code.
class UiTool {
public:
    enum ExitCode : int {
        ExitDone = 0,
        ExitError = 1,
        ExitCancelled = 2,
        ExitNotAdministrator = 3,
        ExitAlreadyRunning = 4,
        ExitProductsFound = 10, // "detect": at least one product is on the machine
        ExitRebootNeeded = 99,
    };

    UiTool(IGuiManager* gui, LanguageSelect* languageSelect, HANDLE stopEvent);
    virtual ~UiTool() = default;
    UiTool(const UiTool&) = delete;
    UiTool& operator=(const UiTool&) = delete;

    virtual int Execute();
    virtual bool Initialize(int& exitCode);
    virtual void CleanUp();
    virtual bool IsStopRequested();
    virtual bool ShowTestUi();
    virtual bool CheckDebugCommands(int& exitCode);
    virtual bool CheckPrivileges(int& exitCode);
    virtual bool CreateWorkDir(int& exitCode);
    // Records the user's request for a restart; Run makes it once the tool has cleaned up.
    virtual void Reboot();

    bool IsRebootRequested() const { return m_rebootRequested; }

    // Declares the tool's options and parses the command line.
    static bool ParseCommandLine(const wchar_t* commandLine);

protected:
    // The administrator test of the privilege check; a seam for tests of the page flow.
    virtual bool HasAdministratorRights();

private:
    // "detect": one line per product on the console; the exit code tells whether any product is there.
    static int PrintDetection(const ProductList& products);
    // "products": every listed id must be a product's; false (and the console told) otherwise.
    static bool AllProductsKnown(const std::vector<std::wstring>& listed, const ProductList& products);
    static void SelectListedProducts(const std::vector<std::wstring>& listed, const ProductList& products);

    IGuiManager* m_gui;
    LanguageSelect* m_languageSelect;
    HANDLE m_stopEvent;
    std::wstring m_workDirectory;
    bool m_removeWorkDirectory = false;
    bool m_rebootRequested = false;
};

// The run body: start-up, the application object, shut-down and a restart the user asked for; returns the exit code.
int Run(HINSTANCE instance);

// Asks Windows to restart. The request is asynchronous and the session end it starts may end this process at any
// moment after it, so it is the run's last act before the exit line.
void RequestRestart();
