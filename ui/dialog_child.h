#pragma once

#include "ui/nvui_controls.h"
#include "ui/nvui_window.h"

#include <windows.h>

#include <string>
#include <vector>

// A wizard page: a child dialog of the main window that reports the button ending it (1 go on, 2 cancel) by
// forwarding the command to the main window. It owns its page font.
class DialogChild : public NvUI::Dialog {
public:
    explicit DialogChild(NvUI::UiFont pageFont);

    INT_PTR OnCommand(int id, int code, HWND control) override;
    // Makes the page's window from its template as a child of the parent; null on failure.
    virtual HWND CreatePage(HINSTANCE instance, HWND parent) = 0;

    // Opens a web address (or a local .html/.htm file) with the user's shell; false when the address is refused
    // or could not be opened.
    static bool LaunchUrl(const std::wstring& address);
    // The check LaunchUrl applies before opening anything.
    static bool IsAcceptedAddress(const std::wstring& address);
    // Opens the file's folder in the shell with the file selected; false when the shell could not.
    static bool ShowInFolder(const std::wstring& file);

    // Window thread, once the page is shown in the main window: the main window's dialog manager (which sees
    // the keys) learns the page's default button, and the focus goes to that button when it can be pressed,
    // else to the first enabled tab stop or control, so that it never rests on nothing.
    void TakeFocus();
    // Enter (IDOK or the focused button's id) or Esc (IDCANCEL) as the main window's dialog manager reports
    // them: they act as the page's own button would, and not at all while it is hidden or disabled.
    void AnswerKey(int id);

    // The standard controls that keep colours of their own (the list views) take the theme's.
    void ApplyTheme();
    // Lays the page out again for the pages' DPI (NvUI::UiDpi): the page and its controls, laid out for
    // layoutDpi, are moved and sized in proportion, and its fonts are made again.
    void ApplyDpi(UINT layoutDpi);

protected:
    HWND CreateFromTemplate(HINSTANCE instance, int templateId, HWND parent);
    // Hands the button to the main window. A page answers once, so that a second click cannot answer the page
    // that follows.
    bool Forward(int id, int code);
    bool HasAnswered() const { return m_answered; }

    // The button Enter answers: marked as the page's default push button.
    void SetDefaultButton(int id);

    void AttachText(NvUI::TextBlock& text, int id, HFONT font, const std::wstring& value, COLORREF color);
    void AttachButton(NvUI::Button& button, int id, const std::wstring& text, bool primary);

    HFONT PageFont() const { return m_pageFont.Get(); }
    HINSTANCE Instance() const { return m_instance; }
    // After the page was laid out for another DPI: what the proportional scaling does not get right.
    virtual void OnDpiApplied() {}
    // The fonts the page's controls are drawn with, to be made again when the DPI changes.
    virtual std::vector<NvUI::UiFont*> Fonts() { return {&m_pageFont}; }

private:
    NvUI::UiFont m_pageFont;
    HINSTANCE m_instance = nullptr;
    int m_defaultButton = 0;
    bool m_answered = false;
};
