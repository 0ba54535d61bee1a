#pragma once

#include "base/unique_resource.h"
#include "engine/product_config.h"
#include "engine/removal_record.h"
#include "ui/dialog_child.h"
#include "ui/nvui_graphics.h"
#include "ui/nvui_window.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    // While the progress page is shown: the product whose clean-up begins, its place (from 1) and the count.
    virtual void ShowProgressStep(const ProductConfig& product, size_t number, size_t count) = 0;
    // The end of a removal (kinds Finished, FinishedReboot, ErrorGeneric) with what came of each product.
    virtual int ShowResult(int kind, const std::vector<ProductOutcome>& outcomes) = 0;
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
    void ShowProgressStep(const ProductConfig&, size_t, size_t) override {}
    // One line per product on the console, then the text of kind 0.
    int ShowResult(int kind, const std::vector<ProductOutcome>& outcomes) override;
};

// Window-based driver: a window thread owns the main window (the Dialog part), its pages and the message loop;
// the run thread asks its questions by posting pages and waiting for the button that ends them.
class GuiManager : public IGuiManager, public NvUI::Dialog {
public:
    // "Show page": lParam carries a page object whose ownership passes with the message.
    static constexpr UINT ShowPageMessage = WM_APP + 1;
    // "Progress step": the text for the progress page waits in m_stepText.
    static constexpr UINT ProgressStepMessage = WM_APP + 2;

    GuiManager(HINSTANCE instance, HANDLE stopEvent);
    ~GuiManager() override;

    bool Run() override;
    void Quit() override;
    int ShowMessage(int kind) override;
    int ShowWelcome() override;
    int ShowSelect(const ProductList& products) override;
    bool ShowProgress() override;
    void ShowProgressStep(const ProductConfig& product, size_t number, size_t count) override;
    int ShowResult(int kind, const std::vector<ProductOutcome>& outcomes) override;

    // The pages as the questions build them, fonts included.
    static std::unique_ptr<DialogChild> MakeWelcomePage();
    static std::unique_ptr<DialogChild> MakeSelectPage(const ProductList& products);
    static std::unique_ptr<DialogChild> MakeProgressPage();
    static std::unique_ptr<DialogChild> MakeMessagePage(int kind);
    // The result page offers the log file, when the run writes one.
    static std::unique_ptr<DialogChild> MakeResultPage(int kind, const std::vector<ProductOutcome>& outcomes,
                                                       const std::wstring& logFile);

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
    // The removal cannot be stopped, so its result page must come: no closing while the progress page shows.
    bool IsRemovalShown() const;
    void UpdateCloseCommand();
    // The window moved to a monitor of another DPI (or the scale changed): the suggested place and size are
    // taken and the page is laid out again.
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    // A high-contrast theme went on or off, or the system colours changed: everything is drawn again.
    void OnThemeChanged();

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
    std::wstring m_stepText; // the latest progress step, under m_postLock
    // Set by Quit: its WM_CLOSE ends the window whatever page shows.
    std::atomic<bool> m_quitting{false};
    uint32_t m_postedPages = 0; // run thread
    uint32_t m_shownPages = 0;  // window thread
};
