#pragma once

#include <windows.h>

#include <string>

namespace NvUI {

// The DPI Windows gives the window (that of its monitor for a per-monitor aware process); the screen's where
// the system cannot say.
UINT WindowDpi(HWND window);

// The dialog keeps its layout when its DPI changes: the toolkit lays it out again itself, so that the system's
// own rescaling of dialogs (per-monitor v2) does not scale it a second time.
void KeepDialogLayout(HWND dialog);

// Owns one window handle. The operations that take a child control id (0: the window itself) do nothing and
// return false, 0 or an empty string when there is no window or no such child.
class Wnd {
public:
    Wnd() = default;
    Wnd(const Wnd&) = delete;
    Wnd& operator=(const Wnd&) = delete;
    virtual ~Wnd() = default;

    HWND GetHandle() const { return m_window; }

    std::wstring GetText(int id = 0) const;
    bool SetText(const std::wstring& text, int id = 0);
    bool SetFont(HFONT font, int id = 0);
    HFONT GetFont(int id = 0) const;
    bool IsEnabled(int id = 0) const;
    bool IsVisible(int id = 0) const;
    bool Enable(bool enable, int id = 0);
    bool Show(int command, int id = 0);

    LONG_PTR GetStyle() const;
    // Turns the bits on or off; bits that name a control type replace the window's type.
    void SetStyleBits(LONG_PTR bits, bool on);
    SIZE GetClientSize() const;
    // Resizes the window so that its client area gets this size; position and z-order stay. The frame is
    // measured, so a menu (hasMenu) is counted as the window has it.
    bool SetClientSize(int width, int height, bool hasMenu);
    // Raises a visible window above the others and gives it the keyboard.
    bool BringToForeground();

protected:
    HWND Resolve(int id) const;

    HWND m_window = nullptr;
};

// A dialog made from a template; the dialog procedure hands its messages to the virtual operations.
class Dialog : public Wnd {
public:
    ~Dialog() override;

    virtual INT_PTR DoModal(HINSTANCE instance, int templateId, HWND parent);
    virtual HWND Create(HINSTANCE instance, int templateId, HWND parent);
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual INT_PTR OnInitDialog();
    virtual INT_PTR OnCommand(int id, int code, HWND control);
    virtual INT_PTR OnDrawItem(int id, const DRAWITEMSTRUCT* item);
    // Pages and their static controls are white (the system window colour in high contrast).
    virtual HBRUSH OnCtlColor();
    virtual void OnDestroy();

protected:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

} // namespace NvUI
