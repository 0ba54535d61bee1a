#include "ui/gui_manager.h"

#include "logging/nv_qor_log.h"
#include "resources/resource.h"
#include "ui/nvui_theme.h"
#include "ui/product_texts.h"
#include "ui/settings.h"
#include "ui/wizard_pages.h"

#include <commctrl.h>
#include <objbase.h>

#include <system_error>

namespace {

// Every page speaks in the same font; the welcome page adds a title and a small print size.
NvUI::UiFont PageFont()
{
    return NvUI::UiFont(12, 400, 0);
}

} // namespace

GuiManager::GuiManager(HINSTANCE instance, HANDLE stopEvent)
    : m_commandEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_icon(::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM))),
      m_readyEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_stopEvent(stopEvent), m_instance(instance),
      m_gdiPlus(NvUI::GdiPlus::Instance::Acquire())
{
}

GuiManager::~GuiManager()
{
    Quit();
    // The last page may hold a GDI+ picture: it goes while GDI+ still runs.
    m_currentPage.reset();
    m_gdiPlus.reset();
}

bool GuiManager::Run()
{
    // One window thread per manager.
    if (!m_readyEvent || m_windowThread.joinable()) {
        return false;
    }
    try {
        m_windowThread = std::thread([this] { WindowThread(); });
    } catch (const std::system_error& error) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to start the window thread: %hs", NV_LOG_FUNCTION, error.what());
        return false;
    }
    // A window thread that cannot make its window ends at once and signals the stop event instead of the ready
    // event: waiting for both keeps that from hanging the run, and every question then answers 2.
    const HANDLE events[] = {m_readyEvent.get(), m_stopEvent};
    return ::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

void GuiManager::WindowThread()
{
    // The welcome page's link opens addresses through the shell's automation objects.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    NvUI::Theme::Refresh();
    if (Create(m_instance, IDD_MAIN, nullptr) == nullptr) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create main dialog", L"GuiManager::Run::WindowThread");
    } else {
        {
            const std::lock_guard<std::mutex> lock(m_postLock);
            m_postTarget = m_window;
        }
        NvUI::SetUiDpi(NvUI::WindowDpi(m_window));
        NvUI::KeepDialogLayout(m_window);
        MSG message;
        ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        ::SetEvent(m_readyEvent.get());
        MessageLoop();
        ::ResetEvent(m_readyEvent.get());
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    ::SetEvent(m_stopEvent);
}

int GuiManager::MessageLoop()
{
    MSG message;
    BOOL result;
    while ((result = ::GetMessageW(&message, nullptr, 0, 0)) > 0) {
        if (m_window != nullptr && ::IsDialogMessageW(m_window, &message)) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(result);
}

void GuiManager::Quit()
{
    m_quitting = true;
    {
        const std::lock_guard<std::mutex> lock(m_postLock);
        if (m_postTarget != nullptr) {
            ::PostMessageW(m_postTarget, WM_CLOSE, 0, 0);
        }
    }
    // The window thread cannot wait for itself.
    if (m_windowThread.joinable() && m_windowThread.get_id() != std::this_thread::get_id()) {
        m_windowThread.join();
    }
}

bool GuiManager::PostShowDialog(std::unique_ptr<DialogChild> page)
{
    DWORD error = ERROR_INVALID_WINDOW_HANDLE;
    {
        const std::lock_guard<std::mutex> lock(m_postLock);
        if (m_postTarget != nullptr) {
            if (::PostMessageW(m_postTarget, ShowPageMessage, 0, reinterpret_cast<LPARAM>(page.get()))) {
                page.release();
                ++m_postedPages;
                return true;
            }
            error = ::GetLastError();
        }
    }
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to post message: %lu", NV_LOG_FUNCTION, error);
    return false;
}

int GuiManager::ShowDialogAndWait(std::unique_ptr<DialogChild> page)
{
    if (!PostShowDialog(std::move(page))) {
        return Cancel;
    }
    const uint32_t ticket = m_postedPages;
    const HANDLE events[] = {m_commandEvent.get(), m_stopEvent};
    for (;;) {
        if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            return Cancel;
        }
        const uint64_t answer = m_answer.load();
        if (static_cast<uint32_t>(answer >> 32) == ticket) {
            return static_cast<int>(static_cast<uint32_t>(answer));
        }
    }
}

std::unique_ptr<DialogChild> GuiManager::MakeWelcomePage()
{
    return std::make_unique<DialogWelcome>(PageFont(), NvUI::UiFont(24, 300, 0), NvUI::UiFont(8, 400, 0));
}

std::unique_ptr<DialogChild> GuiManager::MakeSelectPage(const ProductList& products)
{
    return std::make_unique<DialogSelect>(PageFont(), products);
}

std::unique_ptr<DialogChild> GuiManager::MakeProgressPage()
{
    return std::make_unique<DialogProgress>(PageFont());
}

std::unique_ptr<DialogChild> GuiManager::MakeMessagePage(int kind)
{
    return std::make_unique<DialogMessage>(PageFont(), kind, std::vector<ResultLine>(), std::wstring());
}

std::unique_ptr<DialogChild> GuiManager::MakeResultPage(int kind, const std::vector<ProductOutcome>& outcomes,
                                                        const std::wstring& logFile)
{
    return std::make_unique<DialogMessage>(PageFont(), kind, ResultLines(outcomes), logFile);
}

int GuiManager::ShowWelcome()
{
    return ShowDialogAndWait(MakeWelcomePage());
}

int GuiManager::ShowSelect(const ProductList& products)
{
    return ShowDialogAndWait(MakeSelectPage(products));
}

bool GuiManager::ShowProgress()
{
    return PostShowDialog(MakeProgressPage());
}

int GuiManager::ShowMessage(int kind)
{
    return ShowDialogAndWait(MakeMessagePage(kind));
}

int GuiManager::ShowResult(int kind, const std::vector<ProductOutcome>& outcomes)
{
    return ShowDialogAndWait(MakeResultPage(kind, outcomes, NvQorLogging::LogFilePath()));
}

void GuiManager::ShowProgressStep(const ProductConfig& product, size_t number, size_t count)
{
    std::wstring text = ProgressStepText(ShownProductName(product.GetId(), product.GetDisplayName()), number, count);
    const std::lock_guard<std::mutex> lock(m_postLock);
    m_stepText = std::move(text);
    if (m_postTarget != nullptr) {
        ::PostMessageW(m_postTarget, ProgressStepMessage, 0, 0);
    }
}

void GuiManager::Answer(int id)
{
    m_answer.store((static_cast<uint64_t>(m_shownPages) << 32) | static_cast<uint32_t>(id));
    ::SetEvent(m_commandEvent.get());
}

void GuiManager::OnShowDialog(DialogChild* page)
{
    std::unique_ptr<DialogChild> incoming(page);
    ++m_shownPages;
    bool first = false;
    if (!IsVisible()) {
        SetText(Settings::Instance().GetLocalized(L"Title"));
        Show(SW_SHOW);
        BringToForeground();
        first = true;
    }
    if (!incoming) {
        return;
    }
    if (incoming->CreatePage(m_instance, m_window) == nullptr) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create page, last error = %lu", NV_LOG_FUNCTION,
                   ::GetLastError());
        // A page that cannot be shown counts as cancelled; the previous one stays.
        Answer(Cancel);
        return;
    }
    // The template was laid out for the DPI Windows gave the page, its fonts for the one of their making.
    NvUI::KeepDialogLayout(incoming->GetHandle());
    incoming->ApplyDpi(NvUI::WindowDpi(incoming->GetHandle()));
    incoming->ApplyTheme();
    if (first) {
        const SIZE size = incoming->GetClientSize();
        SetClientSize(size.cx, size.cy, false);
    }
    incoming->Show(SW_SHOW);
    std::unique_ptr<DialogChild> previous = std::exchange(m_currentPage, std::move(incoming));
    if (previous) {
        previous->Show(SW_HIDE);
        previous.reset();
    }
    UpdateCloseCommand();
    // The old page took the focus with it if one of its controls held it.
    m_currentPage->TakeFocus();
}

bool GuiManager::IsRemovalShown() const
{
    return dynamic_cast<const DialogProgress*>(m_currentPage.get()) != nullptr;
}

void GuiManager::UpdateCloseCommand()
{
    // Greyed, the system menu's Close also greys the close box and makes Alt+F4 do nothing.
    ::EnableMenuItem(::GetSystemMenu(m_window, FALSE), SC_CLOSE,
                     MF_BYCOMMAND | (IsRemovalShown() ? MF_GRAYED : MF_ENABLED));
    ::RedrawWindow(m_window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

void GuiManager::OnDpiChanged(UINT dpi, const RECT& suggested)
{
    const UINT previous = NvUI::UiDpi();
    NvUI::SetUiDpi(dpi);
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Laid out again for %u DPI (was %u)", NV_LOG_FUNCTION, dpi, previous);
    ::SetWindowPos(m_window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (m_currentPage) {
        m_currentPage->ApplyDpi(previous);
        // The page, scaled in proportion, decides the client area; the frame is the new DPI's.
        const SIZE size = m_currentPage->GetClientSize();
        SetClientSize(size.cx, size.cy, false);
    }
}

void GuiManager::OnThemeChanged()
{
    NvUI::Theme::Refresh();
    // Windows tells only top-level windows; the list views keep colours of their own until they are told.
    if (m_currentPage) {
        for (HWND child = ::GetWindow(m_currentPage->GetHandle(), GW_CHILD); child != nullptr;
             child = ::GetWindow(child, GW_HWNDNEXT)) {
            ::SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
        }
        m_currentPage->ApplyTheme();
    }
    ::RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

INT_PTR GuiManager::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 1;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        OnThemeChanged();
        return 0;
    case WM_CLOSE:
        if (IsRemovalShown() && !m_quitting) {
            NV_QOR_LOG(NvQorLogging::Debug, L"%s: The window stays until the removal has ended", NV_LOG_FUNCTION);
            return 1;
        }
        // No confirmation: closing the window cancels whatever page is shown.
        ::DestroyWindow(m_window);
        return 1;
    case ShowPageMessage:
        OnShowDialog(reinterpret_cast<DialogChild*>(lParam));
        return 1;
    case ProgressStepMessage: {
        std::wstring text;
        {
            const std::lock_guard<std::mutex> lock(m_postLock);
            text = m_stepText;
        }
        if (auto* progress = dynamic_cast<DialogProgress*>(m_currentPage.get())) {
            progress->ShowStep(text);
        }
        return 1;
    }
    default:
        return 0;
    }
}

INT_PTR GuiManager::OnInitDialog()
{
    if (m_icon) {
        ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon.get()));
        ::SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon.get()));
    }
    return 1;
}

INT_PTR GuiManager::OnCommand(int id, int code, HWND control)
{
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: id=%d, code=%d, HWND=%p", NV_LOG_FUNCTION, id, code,
               static_cast<void*>(control));
    const HWND page = m_currentPage ? m_currentPage->GetHandle() : nullptr;
    if (page == nullptr) {
        return 1;
    }
    if (control == page) {
        Answer(id);
    } else if (id == IDOK || id == IDCANCEL) {
        // Enter and Esc reach the main window through its dialog manager.
        m_currentPage->AnswerKey(id);
    }
    return 1;
}

void GuiManager::OnDestroy()
{
    {
        const std::lock_guard<std::mutex> lock(m_postLock);
        m_postTarget = nullptr;
    }
    // Pages posted before the window went are still queued and owned by this thread now.
    MSG message;
    while (::PeekMessageW(&message, nullptr, ShowPageMessage, ShowPageMessage, PM_REMOVE)) {
        delete reinterpret_cast<DialogChild*>(message.lParam);
    }
    ::PostQuitMessage(0);
}
