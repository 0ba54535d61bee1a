#include "ui/nvui_window.h"

#include "ui/nvui_graphics.h"
#include "ui/nvui_theme.h"

namespace NvUI {
namespace {

// Bits of the control type in a static control's style (SS_TYPEMASK).
constexpr LONG_PTR kTypeBits = 0x1F;

// The per-monitor DPI functions arrived with Windows 10; older systems go without them.
template <typename Function> Function User32Function(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

} // namespace

UINT WindowDpi(HWND window)
{
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpi = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    const UINT dpi = getDpi != nullptr && window != nullptr ? getDpi(window) : 0;
    return dpi != 0 ? dpi : ScreenDpi();
}

void KeepDialogLayout(HWND dialog)
{
    // DIALOG_DPI_CHANGE_BEHAVIORS: DDC_DISABLE_ALL.
    constexpr int kDisableAll = 0x0001;
    using SetDialogDpiChangeBehaviorFunction = BOOL(WINAPI*)(HWND, int, int);
    static const auto set = User32Function<SetDialogDpiChangeBehaviorFunction>("SetDialogDpiChangeBehavior");
    if (set != nullptr) {
        set(dialog, kDisableAll, kDisableAll);
    }
}

HWND Wnd::Resolve(int id) const
{
    if (m_window == nullptr) {
        return nullptr;
    }
    return id == 0 ? m_window : ::GetDlgItem(m_window, id);
}

std::wstring Wnd::GetText(int id) const
{
    const HWND window = Resolve(id);
    if (window == nullptr) {
        return {};
    }
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool Wnd::SetText(const std::wstring& text, int id)
{
    const HWND window = Resolve(id);
    return window != nullptr && ::SetWindowTextW(window, text.c_str()) != FALSE;
}

bool Wnd::SetFont(HFONT font, int id)
{
    const HWND window = Resolve(id);
    if (window == nullptr) {
        return false;
    }
    ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return true;
}

HFONT Wnd::GetFont(int id) const
{
    const HWND window = Resolve(id);
    return window != nullptr ? reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)) : nullptr;
}

bool Wnd::IsEnabled(int id) const
{
    const HWND window = Resolve(id);
    return window != nullptr && ::IsWindowEnabled(window) != FALSE;
}

bool Wnd::IsVisible(int id) const
{
    const HWND window = Resolve(id);
    return window != nullptr && ::IsWindowVisible(window) != FALSE;
}

bool Wnd::Enable(bool enable, int id)
{
    const HWND window = Resolve(id);
    if (window == nullptr) {
        return false;
    }
    ::EnableWindow(window, enable ? TRUE : FALSE);
    return true;
}

bool Wnd::Show(int command, int id)
{
    const HWND window = Resolve(id);
    if (window == nullptr) {
        return false;
    }
    ::ShowWindow(window, command);
    return true;
}

LONG_PTR Wnd::GetStyle() const
{
    return m_window != nullptr ? ::GetWindowLongPtrW(m_window, GWL_STYLE) : 0;
}

void Wnd::SetStyleBits(LONG_PTR bits, bool on)
{
    if (m_window == nullptr) {
        return;
    }
    LONG_PTR style = GetStyle();
    if ((bits & kTypeBits) != 0) {
        style &= ~kTypeBits;
    }
    style = on ? (style | bits) : (style & ~bits);
    ::SetWindowLongPtrW(m_window, GWL_STYLE, style);
}

SIZE Wnd::GetClientSize() const
{
    RECT client = {};
    if (m_window == nullptr || !::GetClientRect(m_window, &client)) {
        return SIZE{0, 0};
    }
    return SIZE{client.right - client.left, client.bottom - client.top};
}

bool Wnd::SetClientSize(int width, int height, bool)
{
    // The frame as the window has it (caption, borders, a menu) at its own DPI, which may not be the system's.
    RECT window = {};
    RECT client = {};
    if (m_window == nullptr || !::GetWindowRect(m_window, &window) || !::GetClientRect(m_window, &client)) {
        return false;
    }
    const int frameWidth = (window.right - window.left) - (client.right - client.left);
    const int frameHeight = (window.bottom - window.top) - (client.bottom - client.top);
    return ::SetWindowPos(m_window, nullptr, 0, 0, width + frameWidth, height + frameHeight,
                          SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

bool Wnd::BringToForeground()
{
    if (m_window == nullptr || !::IsWindowVisible(m_window)) {
        return false;
    }
    // Windows lets only the foreground thread change the foreground; sharing its input state lends us that right.
    const DWORD ownThread = ::GetCurrentThreadId();
    const DWORD foregroundThread = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
    const bool attached = foregroundThread != 0 && foregroundThread != ownThread &&
                          ::AttachThreadInput(ownThread, foregroundThread, TRUE) != FALSE;
    if (::IsIconic(m_window)) {
        ::SendMessageW(m_window, WM_SYSCOMMAND, SC_RESTORE, 0);
    }
    constexpr UINT keep = SWP_NOMOVE | SWP_NOSIZE;
    ::SetWindowPos(m_window, HWND_TOPMOST, 0, 0, 0, 0, keep);
    ::SetWindowPos(m_window, HWND_NOTOPMOST, 0, 0, 0, 0, keep);
    ::SetForegroundWindow(m_window);
    if (attached) {
        ::AttachThreadInput(ownThread, foregroundThread, FALSE);
    }
    ::SetFocus(m_window);
    ::SetActiveWindow(m_window);
    return true;
}

Dialog::~Dialog()
{
    if (m_window != nullptr) {
        ::DestroyWindow(m_window);
    }
}

INT_PTR Dialog::DoModal(HINSTANCE instance, int templateId, HWND parent)
{
    return ::DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), parent, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

HWND Dialog::Create(HINSTANCE instance, int templateId, HWND parent)
{
    return ::CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), parent, DialogProc,
                                reinterpret_cast<LPARAM>(this));
}

INT_PTR Dialog::OnMessage(UINT, WPARAM, LPARAM)
{
    return 0;
}

INT_PTR Dialog::OnInitDialog()
{
    return 1;
}

INT_PTR Dialog::OnCommand(int id, int, HWND)
{
    if (id == IDOK || id == IDCANCEL) {
        ::EndDialog(m_window, id);
        return 0;
    }
    return 1;
}

INT_PTR Dialog::OnDrawItem(int, const DRAWITEMSTRUCT*)
{
    return 0;
}

HBRUSH Dialog::OnCtlColor()
{
    return Theme::WindowBrush();
}

void Dialog::OnDestroy() {}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Dialog*>(lParam);
        self->m_window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return 0;
    }
    switch (message) {
    case WM_DESTROY:
        self->OnDestroy();
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->m_window = nullptr;
        return 1;
    case WM_DRAWITEM:
        return self->OnDrawItem(static_cast<int>(wParam), reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_COMMAND:
        return self->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        // The text of the standard controls (the radio buttons) on the page's background.
        const auto dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, Theme::Pick(Colors::Black, COLOR_WINDOWTEXT));
        ::SetBkColor(dc, Theme::Pick(Colors::White, COLOR_WINDOW));
        return reinterpret_cast<INT_PTR>(self->OnCtlColor());
    }
    default:
        return self->OnMessage(message, wParam, lParam);
    }
}

} // namespace NvUI
