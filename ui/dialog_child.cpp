#include "ui/dialog_child.h"

#include "ui/nvui_theme.h"

#include <commctrl.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <map>
#include <memory>

using Microsoft::WRL::ComPtr;

namespace {

struct BstrFree {
    void operator()(BSTR text) const { ::SysFreeString(text); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrFree>;

RECT Scaled(RECT rect, UINT from, UINT to)
{
    const auto scale = [from, to](LONG value) {
        return static_cast<LONG>(::MulDiv(value, static_cast<int>(to), static_cast<int>(from)));
    };
    return RECT{scale(rect.left), scale(rect.top), scale(rect.right), scale(rect.bottom)};
}

// A control's place in its parent's client area, moved and sized in proportion.
void ScaleControl(HWND control, UINT from, UINT to)
{
    RECT rect = {};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    rect = Scaled(rect, from, to);
    ::SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void ScaleListColumns(HWND list, UINT from, UINT to)
{
    const int columns = Header_GetItemCount(ListView_GetHeader(list));
    for (int column = 0; column < columns; ++column) {
        ListView_SetColumnWidth(
            list, column,
            ::MulDiv(ListView_GetColumnWidth(list, column), static_cast<int>(to), static_cast<int>(from)));
    }
}

bool IsListView(HWND window)
{
    wchar_t name[32] = {};
    ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name) == WC_LISTVIEWW;
}

bool CanPress(HWND control)
{
    return control != nullptr && ::IsWindowVisible(control) && ::IsWindowEnabled(control);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool EndsWith(const std::wstring& text, const std::wstring& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Opens the address through the running desktop shell, so the browser starts as the desktop's user and not
// with this process's elevated token.
bool ShellExecuteThroughDesktop(const std::wstring& address)
{
    ComPtr<IShellWindows> windows;
    if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&windows)))) {
        return false;
    }
    VARIANT location;
    ::VariantInit(&location);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT root;
    ::VariantInit(&root);
    long desktopWindow = 0;
    ComPtr<IDispatch> desktop;
    if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH, &desktop) != S_OK ||
        !desktop) {
        return false;
    }
    ComPtr<IServiceProvider> provider;
    ComPtr<IShellBrowser> browser;
    ComPtr<IShellView> view;
    ComPtr<IDispatch> background;
    ComPtr<IShellFolderViewDual> folderView;
    ComPtr<IDispatch> application;
    ComPtr<IShellDispatch2> shell;
    if (FAILED(desktop.As(&provider)) || FAILED(provider->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&browser))) ||
        FAILED(browser->QueryActiveShellView(&view)) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background))) ||
        FAILED(background.As(&folderView)) || FAILED(folderView->get_Application(&application)) || !application ||
        FAILED(application.As(&shell))) {
        return false;
    }
    const UniqueBstr file(::SysAllocString(address.c_str()));
    if (!file) {
        return false;
    }
    VARIANT empty;
    ::VariantInit(&empty);
    VARIANT show;
    ::VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    return shell->ShellExecute(file.get(), empty, empty, empty, show) == S_OK;
}

} // namespace

DialogChild::DialogChild(NvUI::UiFont pageFont) : m_pageFont(std::move(pageFont)) {}

INT_PTR DialogChild::OnCommand(int id, int code, HWND control)
{
    if (id == IDOK || id == IDCANCEL) {
        Forward(id, code);
        return 0;
    }
    return Dialog::OnCommand(id, code, control);
}

HWND DialogChild::CreateFromTemplate(HINSTANCE instance, int templateId, HWND parent)
{
    m_instance = instance;
    return Create(instance, templateId, parent);
}

bool DialogChild::Forward(int id, int code)
{
    if (m_answered || m_window == nullptr) {
        return false;
    }
    m_answered = true;
    ::SendMessageW(::GetParent(m_window), WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(m_window));
    return true;
}

void DialogChild::SetDefaultButton(int id)
{
    m_defaultButton = id;
    ::SendMessageW(m_window, DM_SETDEFID, static_cast<WPARAM>(id), 0);
}

void DialogChild::TakeFocus()
{
    if (m_window == nullptr) {
        return;
    }
    const HWND main = ::GetParent(m_window);
    // Enter away from a push button makes the dialog manager ask the main window, not the page, for the
    // default; left alone it would find a hidden button of the template.
    ::SendMessageW(main, DM_SETDEFID, static_cast<WPARAM>(m_defaultButton), 0);
    HWND target = m_defaultButton != 0 ? ::GetDlgItem(m_window, m_defaultButton) : nullptr;
    if (!CanPress(target)) {
        // Else the first tab stop; a page without one (the progress page) gets what the dialog manager would
        // pick itself, its first enabled control.
        target = nullptr;
        HWND firstEnabled = nullptr;
        for (HWND child = ::GetWindow(m_window, GW_CHILD); child != nullptr && target == nullptr;
             child = ::GetWindow(child, GW_HWNDNEXT)) {
            if (!CanPress(child)) {
                continue;
            }
            if ((::GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) != 0) {
                target = child;
            } else if (firstEnabled == nullptr) {
                firstEnabled = child;
            }
        }
        target = target != nullptr ? target : firstEnabled;
    }
    if (target != nullptr) {
        // Through the dialog manager, so that a focused push button also becomes the one Enter presses.
        ::SendMessageW(main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
    } else {
        ::SetFocus(main);
    }
}

void DialogChild::AnswerKey(int id)
{
    if (m_window == nullptr) {
        return;
    }
    const HWND button = ::GetDlgItem(m_window, id);
    if (button == nullptr) {
        // A page without a cancel button (the welcome page) lets Esc do what its close box does.
        if (id == IDCANCEL) {
            Forward(IDCANCEL, 0);
        }
        return;
    }
    if (CanPress(button)) {
        ::SendMessageW(m_window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
}

void DialogChild::ApplyTheme()
{
    if (m_window == nullptr) {
        return;
    }
    const COLORREF background = NvUI::Theme::Pick(NvUI::Colors::White, COLOR_WINDOW);
    const COLORREF text = NvUI::Theme::Pick(NvUI::Colors::Black, COLOR_WINDOWTEXT);
    for (HWND child = ::GetWindow(m_window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (IsListView(child)) {
            ListView_SetBkColor(child, background);
            ListView_SetTextBkColor(child, background);
            ListView_SetTextColor(child, text);
            ::InvalidateRect(child, nullptr, TRUE);
        }
    }
}

void DialogChild::ApplyDpi(UINT layoutDpi)
{
    if (m_window == nullptr) {
        return;
    }
    const UINT dpi = NvUI::UiDpi();
    if (layoutDpi != 0 && layoutDpi != dpi) {
        const SIZE size = GetClientSize();
        const RECT page = Scaled(RECT{0, 0, size.cx, size.cy}, layoutDpi, dpi);
        ::SetWindowPos(m_window, nullptr, 0, 0, page.right, page.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        for (HWND child = ::GetWindow(m_window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            ScaleControl(child, layoutDpi, dpi);
            if (IsListView(child)) {
                ScaleListColumns(child, layoutDpi, dpi);
            }
        }
    }
    // Each control that shows one of the page's fonts gets it made for the new DPI; the old ones go after.
    std::map<HFONT, HFONT> replaced;
    std::vector<UniqueFont> previous;
    for (NvUI::UiFont* font : Fonts()) {
        if (UniqueFont old = font->Rescale()) {
            replaced[old.get()] = font->Get();
            previous.push_back(std::move(old));
        }
    }
    if (!replaced.empty()) {
        for (HWND child = ::GetWindow(m_window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            const auto font = replaced.find(reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)));
            if (font != replaced.end()) {
                ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font->second), TRUE);
            }
        }
    }
    OnDpiApplied();
    ::RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void DialogChild::AttachText(NvUI::TextBlock& text, int id, HFONT font, const std::wstring& value, COLORREF color)
{
    text.Attach(::GetDlgItem(m_window, id));
    text.SetFont(font);
    text.SetText(value);
    text.SetColor(color);
}

void DialogChild::AttachButton(NvUI::Button& button, int id, const std::wstring& text, bool primary)
{
    button.Attach(::GetDlgItem(m_window, id));
    button.SetColors(NvUI::Colors::BrandBlue, NvUI::Colors::BrandBlueHover, NvUI::Colors::White);
    button.SetPrimary(primary);
    button.SetFont(PageFont());
    button.SetText(text);
}

bool DialogChild::IsAcceptedAddress(const std::wstring& address)
{
    if (StartsWith(address, L"https://") || StartsWith(address, L"http://")) {
        return true;
    }
    return StartsWith(address, L"file:///") && (EndsWith(address, L".html") || EndsWith(address, L".htm"));
}

bool DialogChild::ShowInFolder(const std::wstring& file)
{
    struct ItemFree {
        void operator()(ITEMIDLIST* item) const { ::ILFree(item); }
    };
    const std::unique_ptr<ITEMIDLIST, ItemFree> item(::ILCreateFromPathW(file.c_str()));
    return item && SUCCEEDED(::SHOpenFolderAndSelectItems(item.get(), 0, nullptr, 0));
}

bool DialogChild::LaunchUrl(const std::wstring& address)
{
    if (!IsAcceptedAddress(address)) {
        return false;
    }
    ::AllowSetForegroundWindow(ASFW_ANY);
    if (NvUI::IsWindowsVersionOrLater(6, 0)) {
        return ShellExecuteThroughDesktop(address);
    }
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof(execute);
    execute.lpFile = address.c_str();
    execute.nShow = SW_SHOWNORMAL;
    return ::ShellExecuteExW(&execute) != FALSE;
}
