// Looks at the tool's wizard from outside, as a user's eyes would: which page is shown, what it says, which
// controls are enabled, and where to click. The tests click with the X server's own pointer; this program
// only reads. Output is UTF-8, one "name=value" per line.
//
//   wizard_probe state                 the current page and its controls
//   wizard_probe wait PAGE [MS]        waits until PAGE (welcome, select, progress, message, none) is shown and
//                                      painted, then prints its state
//   wizard_probe painted [MS]          waits until the wizard has handled the input sent to it and painted
//   wizard_probe point ID              screen centre of the page's control ID
//   wizard_probe row ROW               screen centre of the check box of list row ROW
//   wizard_probe close                 screen point of the main window's close box
//   wizard_probe link ID [activate]    what a screen reader learns of control ID (role, name, state, default
//                                      action); with "activate", it then does the default action
//   wizard_probe dpi DPI               tells the main window that its DPI is now DPI, as Windows does when the
//                                      window moves to a monitor of another scale
#include "tests/ui/wizard_output.h"

#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kWelcomeTitle = 1026;
constexpr int kProductList = 1025;
constexpr int kSpinner = 1023;
constexpr int kPicture = 1022;
constexpr int kMessageText = 1008;
constexpr int kRadioAll = 1027;
constexpr int kRadioSelect = 1028;
constexpr int kCopyright = 1019;
constexpr int kResultList = 1029;
constexpr int kNextSteps = 1030;
constexpr int kLogLink = 1031;

struct Wizard {
    HWND main = nullptr;
    HWND page = nullptr;
};

bool IsDialog(HWND window)
{
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name) == L"#32770";
}

BOOL CALLBACK FindPage(HWND child, LPARAM found)
{
    if (IsDialog(child) && ::IsWindowVisible(child)) {
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindMain(HWND window, LPARAM result)
{
    auto* wizard = reinterpret_cast<Wizard*>(result);
    if (!IsDialog(window) || !::IsWindowVisible(window)) {
        return TRUE;
    }
    HWND page = nullptr;
    ::EnumChildWindows(window, FindPage, reinterpret_cast<LPARAM>(&page));
    if (page == nullptr) {
        return TRUE;
    }
    wizard->main = window;
    wizard->page = page;
    return FALSE;
}

Wizard FindWizard()
{
    Wizard wizard;
    ::EnumWindows(FindMain, reinterpret_cast<LPARAM>(&wizard));
    return wizard;
}

std::wstring PageName(const Wizard& wizard)
{
    if (wizard.page == nullptr) {
        return L"none";
    }
    if (::GetDlgItem(wizard.page, kWelcomeTitle) != nullptr) {
        return L"welcome";
    }
    if (::GetDlgItem(wizard.page, kProductList) != nullptr) {
        return L"select";
    }
    if (::GetDlgItem(wizard.page, kSpinner) != nullptr) {
        return L"progress";
    }
    if (::GetDlgItem(wizard.page, kPicture) != nullptr) {
        return L"message";
    }
    return L"unknown";
}

std::wstring Flag(bool value)
{
    return value ? L"1" : L"0";
}

void PrintControl(const Wizard& wizard, const wchar_t* name, int id)
{
    const HWND control = ::GetDlgItem(wizard.page, id);
    if (control == nullptr) {
        return;
    }
    Print(std::wstring(name) + L"_text=" + WindowText(control));
    Print(std::wstring(name) + L"_visible=" + Flag(::IsWindowVisible(control)));
    Print(std::wstring(name) + L"_enabled=" + Flag(::IsWindowEnabled(control)));
}

// A buffer in the memory of the list view's process: list view messages that carry pointers need one.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t size)
    {
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        m_process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        if (m_process != nullptr) {
            m_address = static_cast<BYTE*>(::VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
        }
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    ~RemoteBuffer()
    {
        if (m_address != nullptr) {
            ::VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
        }
        if (m_process != nullptr) {
            ::CloseHandle(m_process);
        }
    }

    BYTE* Address(size_t offset = 0) const { return m_address != nullptr ? m_address + offset : nullptr; }
    bool Write(size_t offset, const void* data, size_t size) const
    {
        return m_address != nullptr && ::WriteProcessMemory(m_process, m_address + offset, data, size, nullptr);
    }
    bool Read(size_t offset, void* data, size_t size) const
    {
        return m_address != nullptr && ::ReadProcessMemory(m_process, m_address + offset, data, size, nullptr);
    }

private:
    HANDLE m_process = nullptr;
    BYTE* m_address = nullptr;
};

bool RemoteItemRect(HWND list, int row, int which, RECT& rect)
{
    const RemoteBuffer buffer(list, sizeof(RECT));
    rect = RECT{which, 0, 0, 0};
    return buffer.Write(0, &rect, sizeof(rect)) &&
           ::SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(buffer.Address())) &&
           buffer.Read(0, &rect, sizeof(rect));
}

std::wstring RemoteItemText(HWND list, int row, int column)
{
    constexpr int textChars = 256;
    wchar_t text[textChars] = {};
    const RemoteBuffer buffer(list, sizeof(LVITEMW) + sizeof(text));
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(buffer.Address(sizeof(LVITEMW)));
    item.cchTextMax = textChars;
    if (!buffer.Write(0, &item, sizeof(item)) || !buffer.Write(sizeof(LVITEMW), text, sizeof(text)) ||
        ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(buffer.Address())) < 0 ||
        !buffer.Read(sizeof(LVITEMW), text, sizeof(text))) {
        return {};
    }
    text[textChars - 1] = L'\0';
    return text;
}

// Where the tool's keys go: the id of a page control, "main" for the main window itself, "none" when no
// window of the tool has the focus.
std::wstring FocusName(const Wizard& wizard)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(wizard.main, nullptr), &info) || info.hwndFocus == nullptr) {
        return L"none";
    }
    if (info.hwndFocus == wizard.main) {
        return L"main";
    }
    if (::GetParent(info.hwndFocus) == wizard.page) {
        return std::to_wstring(::GetDlgCtrlID(info.hwndFocus));
    }
    return L"other";
}

std::wstring SizeText(HWND window)
{
    RECT rect = {};
    ::GetClientRect(window, &rect);
    return std::to_wstring(rect.right) + L"x" + std::to_wstring(rect.bottom);
}

// The rows of a list, "PREFIXrowN=column 0|column 1", and the rows whose check box is ticked.
void PrintRows(HWND list, const std::wstring& prefix)
{
    const int rows = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    Print(prefix + L"rows=" + std::to_wstring(rows));
    std::wstring checked;
    for (int row = 0; row < rows; ++row) {
        Print(prefix + L"row" + std::to_wstring(row) + L"=" + RemoteItemText(list, row, 0) + L"|" +
              RemoteItemText(list, row, 1));
        const auto state = ::SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK);
        if (((state & LVIS_STATEIMAGEMASK) >> 12) == 2) {
            checked += (checked.empty() ? L"" : L",") + std::to_wstring(row);
        }
    }
    Print(prefix + L"checked=" + checked);
}

int State()
{
    const Wizard wizard = FindWizard();
    const std::wstring page = PageName(wizard);
    Print(L"page=" + page);
    if (wizard.main == nullptr) {
        return 0;
    }
    Print(L"caption=" + WindowText(wizard.main));
    Print(L"window=" + SizeText(wizard.main));
    Print(L"ok_size=" + SizeText(::GetDlgItem(wizard.page, IDOK)));
    Print(L"foreground=" + Flag(::GetForegroundWindow() == wizard.main));
    Print(L"focus=" + FocusName(wizard));
    const LRESULT defaultId = ::SendMessageW(wizard.main, DM_GETDEFID, 0, 0);
    Print(L"default=" + std::to_wstring(HIWORD(defaultId) == DC_HASDEFID ? LOWORD(defaultId) : 0));
    PrintControl(wizard, L"title", kWelcomeTitle);
    PrintControl(wizard, L"text", kMessageText);
    PrintControl(wizard, L"copyright", kCopyright);
    PrintControl(wizard, L"ok", IDOK);
    PrintControl(wizard, L"cancel", IDCANCEL);
    PrintControl(wizard, L"next_steps", kNextSteps);
    PrintControl(wizard, L"log", kLogLink);
    if (const HWND results = ::GetDlgItem(wizard.page, kResultList)) {
        PrintRows(results, L"result_");
    }
    if (page == L"progress") {
        RECT rect;
        if (::GetWindowRect(::GetDlgItem(wizard.page, kSpinner), &rect)) {
            Print(L"spinner=" + std::to_wstring((rect.left + rect.right) / 2) + L" " +
                  std::to_wstring((rect.top + rect.bottom) / 2));
        }
    }
    if (page == L"select") {
        Print(L"radio_all=" + Flag(::IsDlgButtonChecked(wizard.page, kRadioAll) == BST_CHECKED));
        Print(L"radio_select=" + Flag(::IsDlgButtonChecked(wizard.page, kRadioSelect) == BST_CHECKED));
        PrintControl(wizard, L"radio_all", kRadioAll);
        PrintControl(wizard, L"radio_select", kRadioSelect);
        const HWND list = ::GetDlgItem(wizard.page, kProductList);
        Print(L"list_visible=" + Flag(::IsWindowVisible(list)));
        PrintRows(list, L"");
    }
    return 0;
}

BOOL CALLBACK FindUnpainted(HWND child, LPARAM found)
{
    if (::IsWindowVisible(child) && ::GetUpdateRect(child, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

// Whether the wizard's window thread has handled what was sent to it before (it answers a sent message only
// between the messages it handles, input first) and has no window left with a region waiting to be painted.
bool IsPainted(const Wizard& wizard)
{
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutW(wizard.main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored)) {
        return false;
    }
    bool unpainted = ::GetUpdateRect(wizard.main, nullptr, FALSE) != FALSE;
    if (!unpainted) {
        ::EnumChildWindows(wizard.main, FindUnpainted, reinterpret_cast<LPARAM>(&unpainted));
    }
    return !unpainted;
}

// Polls until the wanted page is shown and painted; a page that shows but keeps painting counts as not there yet.
int Wait(const std::wstring& wanted, DWORD timeoutMs)
{
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        const Wizard wizard = FindWizard();
        const std::wstring page = PageName(wizard);
        const bool painted = wizard.main == nullptr || IsPainted(wizard);
        if (page == wanted && painted) {
            return State();
        }
        if (::GetTickCount64() - start > timeoutMs) {
            Print(L"page=" + page + (painted ? L"" : L" (still painting)"));
            return 1;
        }
        ::Sleep(50);
    }
}

int WaitPainted(DWORD timeoutMs)
{
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        const Wizard wizard = FindWizard();
        if (wizard.main != nullptr && IsPainted(wizard)) {
            Print(L"painted=1");
            return 0;
        }
        if (::GetTickCount64() - start > timeoutMs) {
            Print(wizard.main != nullptr ? L"painted=0" : L"painted=no wizard");
            return 1;
        }
        ::Sleep(50);
    }
}

int PrintPoint(POINT point)
{
    Print(std::to_wstring(point.x) + L" " + std::to_wstring(point.y));
    return 0;
}

int Point(int id)
{
    const Wizard wizard = FindWizard();
    const HWND control = wizard.page != nullptr ? ::GetDlgItem(wizard.page, id) : nullptr;
    RECT rect;
    if (control == nullptr || !::GetWindowRect(control, &rect)) {
        return 1;
    }
    return PrintPoint(POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
}

int RowCheckBox(int row)
{
    const Wizard wizard = FindWizard();
    const HWND list = wizard.page != nullptr ? ::GetDlgItem(wizard.page, kProductList) : nullptr;
    RECT bounds;
    RECT label;
    if (list == nullptr || !RemoteItemRect(list, row, LVIR_BOUNDS, bounds) ||
        !RemoteItemRect(list, row, LVIR_LABEL, label)) {
        return 1;
    }
    // The check box sits between the row's left edge and its label.
    POINT point = {(bounds.left + label.left) / 2, (bounds.top + bounds.bottom) / 2};
    ::ClientToScreen(list, &point);
    return PrintPoint(point);
}

LRESULT HitTest(HWND window, LONG x, LONG y)
{
    return ::SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y));
}

int CloseBox()
{
    const Wizard wizard = FindWizard();
    RECT rect;
    if (wizard.main == nullptr || !::GetWindowRect(wizard.main, &rect)) {
        return 1;
    }
    // The middle of the caption, then the middle of the close box on that line.
    const LONG middle = (rect.left + rect.right) / 2;
    LONG top = rect.top;
    while (top < rect.bottom && HitTest(wizard.main, middle, top) != HTCAPTION) {
        ++top;
    }
    LONG bottom = top;
    while (bottom < rect.bottom && HitTest(wizard.main, middle, bottom) == HTCAPTION) {
        ++bottom;
    }
    const LONG y = (top + bottom) / 2;
    LONG right = rect.right - 1;
    while (right > middle && HitTest(wizard.main, right, y) != HTCLOSE) {
        --right;
    }
    LONG left = right;
    while (left > middle && HitTest(wizard.main, left, y) == HTCLOSE) {
        --left;
    }
    if (right <= middle) {
        return 1;
    }
    return PrintPoint(POINT{(left + right + 1) / 2, y});
}

std::wstring VariantText(const VARIANT& value)
{
    return value.vt == VT_I4 ? std::to_wstring(value.lVal) : L"";
}

// As a screen reader asks: the accessible object of the control, from this other process.
int Link(int id, bool activate)
{
    const Wizard wizard = FindWizard();
    const HWND control = wizard.page != nullptr ? ::GetDlgItem(wizard.page, id) : nullptr;
    if (control == nullptr || FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    using FromWindowFunction = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    const auto fromWindow = reinterpret_cast<FromWindowFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"oleacc.dll"), "AccessibleObjectFromWindow")));
    IAccessible* accessible = nullptr;
    if (fromWindow == nullptr ||
        FAILED(fromWindow(control, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&accessible)))) {
        Print(L"accessible=none");
        return 1;
    }
    VARIANT self;
    ::VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role;
    ::VariantInit(&role);
    accessible->get_accRole(self, &role);
    Print(std::wstring(L"role=") + (role.vt == VT_I4 && role.lVal == ROLE_SYSTEM_LINK ? L"link" : VariantText(role)));
    BSTR name = nullptr;
    accessible->get_accName(self, &name);
    Print(L"name=" + std::wstring(name != nullptr ? name : L""));
    ::SysFreeString(name);
    VARIANT state;
    ::VariantInit(&state);
    accessible->get_accState(self, &state);
    Print(L"linked=" + Flag(state.vt == VT_I4 && (state.lVal & STATE_SYSTEM_LINKED) != 0));
    BSTR action = nullptr;
    accessible->get_accDefaultAction(self, &action);
    Print(L"action=" + std::wstring(action != nullptr ? action : L""));
    ::SysFreeString(action);
    const bool done = !activate || SUCCEEDED(accessible->accDoDefaultAction(self));
    accessible->Release();
    ::CoUninitialize();
    return done ? 0 : 1;
}

int ChangeDpi(UINT dpi)
{
    const Wizard wizard = FindWizard();
    RECT window = {};
    if (wizard.main == nullptr || !::GetWindowRect(wizard.main, &window)) {
        return 1;
    }
    // The rectangle Windows would suggest: the window's own, scaled from the screen's DPI. It travels by
    // pointer, so it is written into the tool's memory.
    const HDC screen = ::GetDC(nullptr);
    const int from = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    const LONG width = ::MulDiv(window.right - window.left, static_cast<int>(dpi), from);
    const LONG height = ::MulDiv(window.bottom - window.top, static_cast<int>(dpi), from);
    const LONG left = std::max(0L, (window.left + window.right - width) / 2);
    const LONG top = std::max(0L, (window.top + window.bottom - height) / 2);
    RECT suggested = {left, top, left + width, top + height};
    const RemoteBuffer buffer(wizard.main, sizeof(RECT));
    if (!buffer.Write(0, &suggested, sizeof(suggested))) {
        return 1;
    }
    ::SendMessageW(wizard.main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(buffer.Address()));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"state") {
        return State();
    }
    if (command == L"wait" && argc > 2) {
        return Wait(argv[2], argc > 3 ? static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) : 20000);
    }
    if (command == L"painted") {
        return WaitPainted(argc > 2 ? static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) : 20000);
    }
    if (command == L"point" && argc > 2) {
        return Point(static_cast<int>(std::wcstol(argv[2], nullptr, 10)));
    }
    if (command == L"row" && argc > 2) {
        return RowCheckBox(static_cast<int>(std::wcstol(argv[2], nullptr, 10)));
    }
    if (command == L"close") {
        return CloseBox();
    }
    if (command == L"link" && argc > 2) {
        return Link(static_cast<int>(std::wcstol(argv[2], nullptr, 10)),
                    argc > 3 && std::wstring(argv[3]) == L"activate");
    }
    if (command == L"dpi" && argc > 2) {
        return ChangeDpi(static_cast<UINT>(std::wcstoul(argv[2], nullptr, 10)));
    }
    std::fputs("usage: wizard_probe state | wait PAGE [MS] | painted [MS] | point ID | row ROW | close | link ID "
               "[activate] | dpi DPI\n",
               stderr);
    return 2;
}
