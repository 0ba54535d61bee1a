#pragma once

#include "ui/nvui_graphics.h"
#include "ui/nvui_window.h"

#include <windows.h>

#include <string>

namespace NvUI {

// A template control taken over by subclassing: it paints itself through a memory bitmap of its client size
// and tracks focus, hover and pressed states.
class Control : public Wnd {
public:
    static constexpr unsigned FocusBit = 1;   // has the keyboard focus and focus cues are shown
    static constexpr unsigned HoverBit = 2;   // the mouse is over the control
    static constexpr unsigned PressedBit = 4; // the left button went down on the control

    Control() = default;
    // A control still attached (its page destroyed it last) gives its window back first.
    ~Control() override;

    virtual void Attach(HWND window);

protected:
    virtual void OnClick();
    virtual void OnStateChanged(unsigned changedBits);
    virtual void Paint(HDC dc, const RECT& rect) = 0;
    // WM_COMMAND to the parent, as the control's own notification.
    virtual LRESULT Notify(int code);
    virtual LRESULT OnPaint();
    virtual LRESULT OnFocus(bool gained);
    virtual LRESULT OnLButtonDown();
    virtual LRESULT OnLButtonUp();
    virtual LRESULT OnMouseMove();
    virtual LRESULT OnMouseLeave();
    virtual void OnDetach();
    virtual LRESULT WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    LRESULT CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Fills the rectangle with the memory DC's brush colour (white).
    static void FillBackground(HDC dc, const RECT& rect);

    unsigned m_state = 0;

private:
    static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void ResizeBuffer(int width, int height);
    void Detach();

    UniqueMemoryDc m_memoryDc;
    UniqueBitmap m_memoryBitmap;
    SelectedObject m_bitmapSelection;
    WNDPROC m_previousProc = nullptr;
};

class TextBlock : public Control {
public:
    void SetColor(COLORREF color);

protected:
    void Paint(HDC dc, const RECT& rect) override;

private:
    COLORREF m_color = Colors::Black;
};

// A push button, filled (primary) or outlined (secondary), with rounded corners.
class Button : public Control {
public:
    void SetColors(COLORREF normal, COLORREF hover, COLORREF hoverText);
    void SetPrimary(bool primary);

protected:
    void OnClick() override;
    void OnStateChanged(unsigned changedBits) override;
    void Paint(HDC dc, const RECT& rect) override;

private:
    RECT FocusRect(const RECT& client) const;

    COLORREF m_normal = 0;
    COLORREF m_hover = RGB(119, 119, 119);
    COLORREF m_hoverText = Colors::White;
    bool m_primary = true;
};

// One line of text whose middle part, marked "[#]" on both sides, is an underlined link.
class StaticLink : public Control {
public:
    StaticLink();

    void SetLinkText(const std::wstring& text);
    void SetLinkColors(COLORREF link, COLORREF linkHover);
    void SetTextColor(COLORREF color);

    const std::wstring& GetLinkPart() const { return m_link; }

protected:
    void OnClick() override;
    void OnStateChanged(unsigned changedBits) override;
    void Paint(HDC dc, const RECT& rect) override;
    LRESULT WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool IsOverLink() const;
    RECT FocusRect() const;

    std::wstring m_before;
    std::wstring m_link;
    std::wstring m_after;
    RECT m_linkRect = {};
    HCURSOR m_handCursor;
    HCURSOR m_arrowCursor;
    COLORREF m_textColor = Colors::Black;
    COLORREF m_linkColor = RGB(0, 0, 255);
    COLORREF m_linkHoverColor = RGB(102, 102, 255);
    UniqueFont m_underlinedFont;
};

// A GDI+ picture scaled into the control.
class Image : public Control {
public:
    Image();
    ~Image() override;

    // Without stretching the picture keeps its aspect and is centred.
    void SetImage(Picture picture, bool stretch);

protected:
    void Paint(HDC dc, const RECT& rect) override;

private:
    Picture m_picture;
    Gdiplus::GpImageAttributes* m_attributes = nullptr;
    Gdiplus::GpStatus m_status = Gdiplus::Ok;
    bool m_stretch = false;
};

// A turning arc, the busy indicator; redrawn every 20 ms while attached.
class Spinner : public Control {
public:
    ~Spinner() override;

    void Attach(HWND window) override;
    void SetColor(COLORREF color);

protected:
    void Paint(HDC dc, const RECT& rect) override;
    void OnDetach() override;
    LRESULT WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    COLORREF m_color = Colors::BrandBlue;
};

} // namespace NvUI
