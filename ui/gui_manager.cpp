#include "ui/gui_manager.h"

#include "logging/nv_qor_log.h"
#include "resources/resource.h"
#include "ui/settings.h"

#include <objbase.h>
#include <system_error>

GuiManager::GuiManager(HINSTANCE instance, HANDLE stopEvent)
    : m_instance(instance), m_stopEvent(stopEvent), m_readyEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_commandEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_icon(::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM)))
{
}

GuiManager::~GuiManager()
{
    Quit();
}

bool GuiManager::Run()
{
    m_windowThread = std::thread([this] { WindowThread(); });
    // The thread signals either the ready event (window up) or, when the window cannot be made, the stop event;
    // waiting for both keeps a failed start from hanging the run.
    const HANDLE events[] = {m_readyEvent.get(), m_stopEvent};
    return ::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

void GuiManager::WindowThread()
{
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    m_window = ::CreateDialogParamW(m_instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc,
                                    reinterpret_cast<LPARAM>(this));
    if (m_window == nullptr) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create main dialog", L"GuiManager::Run::WindowThread");
    } else {
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
        if (const HWND window = m_window.load(); window != nullptr && ::IsDialogMessageW(window, &message)) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(result);
}

INT_PTR CALLBACK GuiManager::MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<GuiManager*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        if (self->m_icon) {
            ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(self->m_icon.get()));
            ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(self->m_icon.get()));
        }
        return TRUE;
    }
    auto* self = reinterpret_cast<GuiManager*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return FALSE;
    }
    switch (message) {
    case WM_CLOSE:
        ::DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->m_window = nullptr;
        ::PostQuitMessage(0);
        return TRUE;
    case WM_COMMAND:
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: id=%d, code=%d, HWND=%p", L"GuiManager::OnCommand",
                   static_cast<int>(LOWORD(wParam)), static_cast<int>(HIWORD(wParam)), reinterpret_cast<void*>(lParam));
        self->m_resultId = LOWORD(wParam);
        ::SetEvent(self->m_commandEvent.get());
        return TRUE;
    default:
        return FALSE;
    }
}

void GuiManager::Quit()
{
    if (const HWND window = m_window.load(); window != nullptr) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (m_windowThread.joinable()) {
        if (m_windowThread.get_id() == std::this_thread::get_id()) {
            return;
        }
        m_windowThread.join();
    }
}

// The wizard pages are not part of this driver yet: every page question reports that its page could not be
// shown, which the run sequence treats like a cancel.
int GuiManager::ShowMessage(int) { return Cancel; }

int GuiManager::ShowWelcome() { return Cancel; }

int GuiManager::ShowSelect(const ProductList&) { return Cancel; }

bool GuiManager::ShowProgress() { return false; }
