#pragma once

#include "engine/product_config.h"
#include "platform/unique_resource.h"
#include "ui/dialog_child.h"
#include "ui/nvui_graphics.h"
#include "ui/nvui_window.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
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

// The default choice of products: every one except the log files (id "logs").
void SelectAllButLogs(const ProductList& products);

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

// Window-based driver: a window thread owns the main window (the Dialog part), its pages and the message loop;
// the run thread asks its questions by posting pages and waiting for the button that ends them.
class GuiManager : public IGuiManager, public NvUI::Dialog {
public:
    // "Show page": lParam carries a page object whose ownership passes with the message.
    static constexpr UINT ShowPageMessage = WM_APP + 1;

    GuiManager(HINSTANCE instance, HANDLE stopEvent);
    ~GuiManager() override;

    bool Run() override;
    void Quit() override;
    int ShowMessage(int kind) override;
    int ShowWelcome() override;
    int ShowSelect(const ProductList& products) override;
    bool ShowProgress() override;

    // The pages as the questions build them, fonts included.
    static std::unique_ptr<DialogChild> MakeWelcomePage();
    static std::unique_ptr<DialogChild> MakeSelectPage(const ProductList& products);
    static std::unique_ptr<DialogChild> MakeProgressPage();
    static std::unique_ptr<DialogChild> MakeMessagePage(int kind);

    virtual bool PostShowDialog(std::unique_ptr<DialogChild> page);
    virtual int ShowDialogAndWait(std::unique_ptr<DialogChild> page);
    // Window thread: the page replaces the current one; takes the page over.
    virtual void OnShowDialog(DialogChild* page);
    virtual int MessageLoop();

    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnInitDialog() override;
    INT_PTR OnCommand(int id, int code, HWND control) override;
    void OnDestroy() override;

private:
    void WindowThread();
    // Hands the button to the run thread, tagged with the page it ends.
    void Answer(int id);

    // Pages are numbered in the order they are posted, which is the order the window thread shows them; an
    // answer counts only for the page the run thread waits for.
    std::atomic<uint64_t> m_answer{0};
    UniqueEvent m_commandEvent;
    UniqueIcon m_icon;
    UniqueEvent m_readyEvent;
    HANDLE m_stopEvent;
    HINSTANCE m_instance;
    std::thread m_windowThread;
    std::shared_ptr<NvUI::GdiPlus::Instance> m_gdiPlus;
    std::unique_ptr<DialogChild> m_currentPage;

    // The main window as the run thread may post to it: null before it exists and from its destruction on, so
    // that no page is posted into a queue that is never read again.
    std::mutex m_postLock;
    HWND m_postTarget = nullptr;
    uint32_t m_postedPages = 0; // run thread
    uint32_t m_shownPages = 0;  // window thread
};
