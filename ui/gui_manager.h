#pragma once

#include "engine/product_config.h"
#include "platform/unique_resource.h"

#include <windows.h>

#include <atomic>
#include <thread>

// The GUI driver as the run sequence sees it. Page questions return the id of the button that ended the
// page: 1 go on, 2 cancel (also: window closed, page could not be shown).
class IGuiManager {
public:
    enum Button : int {
        Ok = IDOK,
        Cancel = IDCANCEL,
    };
    enum MessageKind : int {
        ErrorGeneric = 0,
        ErrorPrivileges = 1,
        Finished = 2,
        FinishedReboot = 3,
    };

    virtual ~IGuiManager() = default;
    virtual bool Run() = 0;
    virtual void Quit() = 0;
    virtual int ShowMessage(int kind) = 0;
    virtual int ShowWelcome() = 0;
    virtual int ShowSelect(const ProductList& products) = 0;
    virtual bool ShowProgress() = 0;
};

// No window: accepts every default and prints the two error texts to the parent's console.
class GuiSilent : public IGuiManager {
public:
    bool Run() override { return true; }
    void Quit() override {}
    int ShowMessage(int kind) override;
    int ShowWelcome() override { return Ok; }
    int ShowSelect(const ProductList& products) override;
    bool ShowProgress() override { return false; }
};

// Window-based driver: a window thread owns the main window and its message loop.
class GuiManager : public IGuiManager {
public:
    GuiManager(HINSTANCE instance, HANDLE stopEvent);
    ~GuiManager() override;
    GuiManager(const GuiManager&) = delete;
    GuiManager& operator=(const GuiManager&) = delete;

    bool Run() override;
    void Quit() override;
    int ShowMessage(int kind) override;
    int ShowWelcome() override;
    int ShowSelect(const ProductList& products) override;
    bool ShowProgress() override;

private:
    static INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void WindowThread();
    int MessageLoop();

    HINSTANCE m_instance;
    HANDLE m_stopEvent;
    UniqueEvent m_readyEvent;
    UniqueEvent m_commandEvent;
    UniqueIcon m_icon;
    std::atomic<HWND> m_window{nullptr};
    std::atomic<int> m_resultId{IDCANCEL};
    std::thread m_windowThread;
};
