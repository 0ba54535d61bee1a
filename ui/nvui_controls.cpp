#include "ui/nvui_controls.h"

#include "ui/nvui_accessible.h"
#include "ui/nvui_text.h"
#include "ui/nvui_theme.h"

#include <windowsx.h>

#include <algorithm>

namespace NvUI {
namespace {

using namespace Gdiplus::DllExports;

constexpr UINT_PTR kSpinnerTimer = 1;
constexpr UINT kSpinnerPeriodMs = 20;
constexpr wchar_t kLinkMarker[] = L"[#]";
constexpr size_t kLinkMarkerLength = 3;
// Posted to a link by its accessible object's default action.
constexpr UINT kActivateLink = WM_APP + 0x40;

struct GraphicsDelete {
    void operator()(Gdiplus::GpGraphics* graphics) const { GdipDeleteGraphics(graphics); }
};
using UniqueGraphics = std::unique_ptr<Gdiplus::GpGraphics, GraphicsDelete>;

struct PenDelete {
    void operator()(Gdiplus::GpPen* pen) const { GdipDeletePen(pen); }
};
using UniquePen = std::unique_ptr<Gdiplus::GpPen, PenDelete>;

Gdiplus::ARGB ToArgb(COLORREF color)
{
    return 0xFF000000u | (static_cast<Gdiplus::ARGB>(GetRValue(color)) << 16) |
           (static_cast<Gdiplus::ARGB>(GetGValue(color)) << 8) | GetBValue(color);
}

// The dotted focus rectangle is an XOR pattern: black on white, so drawing it twice removes it.
void DrawFocus(HDC dc, const RECT& rect)
{
    const COLORREF oldText = ::SetTextColor(dc, Colors::Black);
    const COLORREF oldBack = ::SetBkColor(dc, Colors::White);
    ::DrawFocusRect(dc, &rect);
    ::SetTextColor(dc, oldText);
    ::SetBkColor(dc, oldBack);
}

void ToggleFocusOnScreen(HWND window, const RECT& rect)
{
    const WindowDc dc(window);
    if (dc) {
        DrawFocus(dc.Get(), rect);
    }
}

} // namespace

// Control

Control::~Control()
{
    if (m_window != nullptr) {
        Detach();
    }
}

void Control::Attach(HWND window)
{
    if (window == nullptr || m_window != nullptr) {
        return;
    }
    m_window = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_previousProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Control::ControlProc)));
    m_memoryDc.reset(::CreateCompatibleDC(WindowDc(window).Get()));
    const SIZE size = GetClientSize();
    ResizeBuffer(size.cx, size.cy);
}

void Control::ResizeBuffer(int width, int height)
{
    if (!m_memoryDc) {
        return;
    }
    // The bitmap must match the screen, not the memory DC, which starts out monochrome.
    UniqueBitmap bitmap(::CreateCompatibleBitmap(WindowDc(m_window).Get(), std::max(width, 1), std::max(height, 1)));
    if (!bitmap) {
        return;
    }
    // The memory DC's own first bitmap is what goes back in before the DC is deleted.
    if (m_bitmapSelection) {
        m_bitmapSelection.Select(bitmap.get());
    } else {
        m_bitmapSelection = SelectedObject(m_memoryDc.get(), bitmap.get());
    }
    m_memoryBitmap = std::move(bitmap);
}

void Control::Detach()
{
    const HWND window = m_window;
    OnDetach();
    m_bitmapSelection = SelectedObject();
    m_memoryBitmap.reset();
    m_memoryDc.reset();
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    m_window = nullptr;
}

LRESULT CALLBACK Control::ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<Control*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_DESTROY) {
        const WNDPROC previous = self->m_previousProc;
        self->Detach();
        // The template control frees its own state (theme data) on the same message.
        return ::CallWindowProcW(previous, window, message, wParam, lParam);
    }
    if (message == WM_SIZE) {
        self->ResizeBuffer(LOWORD(lParam), HIWORD(lParam));
    }
    return self->WndProc(window, message, wParam, lParam);
}

LRESULT Control::CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::CallWindowProcW(m_previousProc, window, message, wParam, lParam);
}

void Control::FillBackground(HDC dc, const RECT& rect)
{
    ::SetDCBrushColor(dc, Theme::Pick(Colors::White, COLOR_WINDOW));
    ::FillRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
}

LRESULT Control::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        return OnPaint();
    case WM_SETFOCUS:
        return OnFocus(true);
    case WM_KILLFOCUS:
        return OnFocus(false);
    case WM_MOUSEMOVE:
        return OnMouseMove();
    case WM_LBUTTONDOWN:
        return OnLButtonDown();
    case WM_LBUTTONUP:
        return OnLButtonUp();
    case WM_MOUSELEAVE:
        return OnMouseLeave();
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_SETFONT:
    case BM_SETSTATE: // the space bar pushing a button
    case BM_SETSTYLE: // the dialog manager moving the default push button
        // The template control may paint its own look at once; the pending repaint draws over it.
        ::InvalidateRect(window, nullptr, TRUE);
        return CallPrevious(window, message, wParam, lParam);
    default:
        return CallPrevious(window, message, wParam, lParam);
    }
}

void Control::OnClick() {}

void Control::OnStateChanged(unsigned) {}

void Control::OnDetach() {}

LRESULT Control::Notify(int code)
{
    if (m_window != nullptr) {
        ::SendMessageW(::GetParent(m_window), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(m_window), code),
                       reinterpret_cast<LPARAM>(m_window));
    }
    return 0;
}

LRESULT Control::OnPaint()
{
    const PaintDc dc(m_window);
    if (!dc) {
        return 1;
    }
    RECT client;
    if (m_memoryDc && ::GetClientRect(m_window, &client)) {
        Paint(m_memoryDc.get(), client);
        ::BitBlt(dc.Get(), 0, 0, client.right - client.left, client.bottom - client.top, m_memoryDc.get(), 0, 0,
                 SRCCOPY);
    }
    return 0;
}

LRESULT Control::OnFocus(bool gained)
{
    const bool shown = gained && (::SendMessageW(m_window, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) == 0;
    if (shown != ((m_state & FocusBit) != 0)) {
        m_state ^= FocusBit;
        OnStateChanged(FocusBit);
    }
    return 0;
}

LRESULT Control::OnLButtonDown()
{
    m_state |= PressedBit;
    OnStateChanged(PressedBit);
    return 0;
}

LRESULT Control::OnLButtonUp()
{
    if ((m_state & PressedBit) != 0) {
        m_state &= ~PressedBit;
        OnStateChanged(PressedBit);
        OnClick();
    }
    return 0;
}

LRESULT Control::OnMouseMove()
{
    if ((m_state & HoverBit) == 0) {
        TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_window, HOVER_DEFAULT};
        if (::TrackMouseEvent(&track)) {
            m_state |= HoverBit;
            OnStateChanged(HoverBit);
        }
    }
    return 0;
}

LRESULT Control::OnMouseLeave()
{
    m_state &= ~(HoverBit | PressedBit);
    OnStateChanged(HoverBit | PressedBit);
    return 0;
}

// TextBlock

void TextBlock::SetColor(COLORREF color)
{
    m_color = color;
    if (m_window != nullptr) {
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
}

void TextBlock::Paint(HDC dc, const RECT& rect)
{
    FillBackground(dc, rect);
    const COLORREF color =
        IsEnabled() ? Theme::Pick(m_color, COLOR_WINDOWTEXT) : Theme::Pick(Colors::Grey, COLOR_GRAYTEXT);
    DrawTextBlock(dc, rect, GetText(), GetFont(), color, StyleToDrawTextFormat(GetStyle()));
}

// Button

void Button::SetColors(COLORREF normal, COLORREF hover, COLORREF hoverText)
{
    m_normal = normal;
    m_hover = hover;
    m_hoverText = hoverText;
    if (m_window != nullptr) {
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
}

void Button::SetPrimary(bool primary)
{
    m_primary = primary;
    if (m_window != nullptr) {
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
}

void Button::OnClick()
{
    Notify(BN_CLICKED);
}

RECT Button::FocusRect(const RECT& client) const
{
    const int inset = PointsToPixels(2);
    return RECT{client.left + inset, client.top + inset, client.right - inset - 1, client.bottom - inset - 1};
}

void Button::OnStateChanged(unsigned changedBits)
{
    if ((changedBits & FocusBit) != 0) {
        RECT client;
        if (::GetClientRect(m_window, &client)) {
            ToggleFocusOnScreen(m_window, FocusRect(client));
        }
    }
    if ((changedBits & HoverBit) != 0) {
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
}

void Button::Paint(HDC dc, const RECT& rect)
{
    FillBackground(dc, rect);
    const bool hovered = (m_state & HoverBit) != 0;
    const bool highContrast = Theme::IsHighContrast();
    COLORREF fill;
    COLORREF text;
    COLORREF frame = CLR_INVALID;
    if (!IsEnabled()) {
        fill = Theme::Pick(Colors::LightGrey, COLOR_BTNFACE);
        text = Theme::Pick(Colors::Grey, COLOR_GRAYTEXT);
        frame = highContrast ? ::GetSysColor(COLOR_GRAYTEXT) : CLR_INVALID;
    } else if (m_primary) {
        fill = Theme::Pick(hovered ? m_hover : m_normal, COLOR_HIGHLIGHT);
        text = Theme::Pick(hovered ? m_hoverText : Colors::White, COLOR_HIGHLIGHTTEXT);
        frame = highContrast && hovered ? ::GetSysColor(COLOR_HOTLIGHT) : CLR_INVALID;
    } else {
        fill = Theme::Pick(hovered ? Colors::LightGrey : Colors::White, COLOR_BTNFACE);
        text = Theme::Pick(m_normal, COLOR_BTNTEXT);
        frame = highContrast && hovered ? ::GetSysColor(COLOR_HOTLIGHT) : Theme::Pick(m_normal, COLOR_BTNTEXT);
    }
    const int corner = PointsToPixels(4);
    const UniqueRegion region(::CreateRoundRectRgn(rect.left, rect.top, rect.right, rect.bottom, corner, corner));
    if (region) {
        const UniqueBrush fillBrush(::CreateSolidBrush(fill));
        ::FillRgn(dc, region.get(), fillBrush.get());
        if (frame != CLR_INVALID) {
            const UniqueBrush frameBrush(::CreateSolidBrush(frame));
            ::FrameRgn(dc, region.get(), frameBrush.get(), 2, 2);
        }
    }
    if ((m_state & FocusBit) != 0) {
        DrawFocus(dc, FocusRect(rect));
    }
    RECT textRect = rect;
    textRect.bottom -= 1;
    DrawTextBlock(dc, textRect, GetText(), GetFont(), text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

// StaticLink

StaticLink::StaticLink()
    : m_handCursor(::LoadCursorW(nullptr, IDC_HAND)), m_arrowCursor(::LoadCursorW(nullptr, IDC_ARROW))
{
}

void StaticLink::SetLinkText(const std::wstring& text)
{
    size_t first = std::wstring::npos;
    size_t second = std::wstring::npos;
    if (text.size() > 2) {
        first = text.find(kLinkMarker);
        if (first != std::wstring::npos) {
            second = text.find(kLinkMarker, first + kLinkMarkerLength);
        }
    }
    if (second != std::wstring::npos) {
        m_before = text.substr(0, first);
        m_link = text.substr(first + kLinkMarkerLength, second - first - kLinkMarkerLength);
        m_after = text.substr(second + kLinkMarkerLength);
    } else {
        m_before = text;
        m_link.clear();
        m_after.clear();
    }
    SetText(m_before + m_link + m_after);
    SetStyleBits(WS_TABSTOP, !m_link.empty());
    if (m_window != nullptr) {
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
}

void StaticLink::SetLinkColors(COLORREF link, COLORREF linkHover)
{
    m_linkColor = link;
    m_linkHoverColor = linkHover;
    if (m_window != nullptr) {
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
}

void StaticLink::SetTextColor(COLORREF color)
{
    m_textColor = color;
    if (m_window != nullptr) {
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
}

void StaticLink::OnClick()
{
    Notify(0);
}

void StaticLink::OnStateChanged(unsigned changedBits)
{
    if ((changedBits & FocusBit) != 0) {
        ToggleFocusOnScreen(m_window, m_linkRect);
    }
    if ((changedBits & HoverBit) != 0) {
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
}

void StaticLink::Paint(HDC dc, const RECT& rect)
{
    FillBackground(dc, rect);
    const HFONT font = GetFont();
    const HFONT linkFont = m_underlinedFont ? static_cast<HFONT>(m_underlinedFont.get()) : font;
    const SIZE before = MeasureText(dc, m_before, font);
    const SIZE link = MeasureText(dc, m_link, linkFont);
    const SIZE after = MeasureText(dc, m_after, font);
    const int width = rect.right - rect.left;
    const int freeWidth = width - (before.cx + link.cx + after.cx);
    int x = rect.left + 1;
    switch (GetStyle() & SS_TYPEMASK) {
    case SS_CENTER:
        x = rect.left + freeWidth / 2;
        break;
    case SS_RIGHT:
        x = rect.left + freeWidth;
        break;
    default:
        break;
    }
    // A line wider than the control keeps its beginning in view.
    x = std::max(x, static_cast<int>(rect.left));

    constexpr UINT format = DT_VCENTER | DT_SINGLELINE;
    const COLORREF textColor = Theme::Pick(m_textColor, COLOR_WINDOWTEXT);
    const COLORREF linkColor = Theme::Pick((m_state & HoverBit) != 0 ? m_linkHoverColor : m_linkColor, COLOR_HOTLIGHT);
    RECT part = {x, rect.top, x + before.cx, rect.bottom};
    DrawTextBlock(dc, part, m_before, font, textColor, format);
    part = {part.right, rect.top, part.right + link.cx, rect.bottom};
    DrawTextBlock(dc, part, m_link, linkFont, linkColor, format);
    const int linkLeft = part.left;
    part = {part.right, rect.top, std::max<LONG>(part.right + after.cx, rect.right), rect.bottom};
    DrawTextBlock(dc, part, m_after, font, textColor, format);

    const int height = rect.bottom - rect.top;
    const int margin = link.cy < height ? (height - link.cy) / 2 : 0;
    m_linkRect = RECT{linkLeft - 1, rect.top + margin, linkLeft + link.cx + 1, rect.bottom - margin};
    if ((m_state & FocusBit) != 0) {
        DrawFocus(dc, m_linkRect);
    }
}

bool StaticLink::IsOverLink() const
{
    POINT cursor;
    return !m_link.empty() && ::GetCursorPos(&cursor) && ::ScreenToClient(m_window, &cursor) &&
           ::PtInRect(&m_linkRect, cursor);
}

LRESULT StaticLink::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETCURSOR:
        ::SetCursor(IsOverLink() ? m_handCursor : m_arrowCursor);
        return 0;
    case WM_SETFONT: {
        LOGFONTW description;
        const auto font = reinterpret_cast<HFONT>(wParam);
        m_underlinedFont.reset();
        if (font != nullptr && ::GetObjectW(font, sizeof(description), &description) == sizeof(description)) {
            description.lfUnderline = TRUE;
            m_underlinedFont.reset(::CreateFontIndirectW(&description));
        }
        if (lParam != 0) {
            ::InvalidateRect(window, nullptr, TRUE);
        }
        return Control::WndProc(window, message, wParam, lParam);
    }
    case WM_NCHITTEST: {
        POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ::ScreenToClient(window, &point);
        return !m_link.empty() && ::PtInRect(&m_linkRect, point) ? HTCLIENT : HTNOWHERE;
    }
    case WM_GETDLGCODE: {
        // Enter too opens the link instead of pressing the page's default button.
        const auto* keyMessage = reinterpret_cast<const MSG*>(lParam);
        const bool enter =
            keyMessage != nullptr && keyMessage->message == WM_KEYDOWN && keyMessage->wParam == VK_RETURN;
        return DLGC_WANTCHARS | (enter && !m_link.empty() ? DLGC_WANTMESSAGE : 0);
    }
    case WM_CHAR:
        if (wParam == L' ' || wParam == L'\r') {
            return Notify(0);
        }
        break;
    case kActivateLink:
        return Notify(0);
    case WM_GETOBJECT:
        if (!m_link.empty()) {
            if (const LRESULT object = AnswerLinkObject(window, wParam, lParam, m_link, kActivateLink)) {
                return object;
            }
        }
        break;
    default:
        break;
    }
    return Control::WndProc(window, message, wParam, lParam);
}

// Image

Image::Image()
{
    m_status = GdipCreateImageAttributes(&m_attributes);
}

Image::~Image()
{
    if (m_attributes != nullptr) {
        GdipDisposeImageAttributes(m_attributes);
    }
}

void Image::SetImage(Picture picture, bool stretch)
{
    if (m_attributes != nullptr) {
        m_status = GdipResetImageAttributes(m_attributes, Gdiplus::ColorAdjustTypeDefault);
    }
    m_picture = std::move(picture);
    m_stretch = stretch;
    if (m_window != nullptr) {
        ::InvalidateRect(m_window, nullptr, TRUE);
    }
}

void Image::Paint(HDC dc, const RECT& rect)
{
    FillBackground(dc, rect);
    if (!m_picture) {
        return;
    }
    Gdiplus::GpGraphics* rawGraphics = nullptr;
    m_status = GdipCreateFromHDC(dc, &rawGraphics);
    if (m_status != Gdiplus::Ok) {
        return;
    }
    const UniqueGraphics graphics(rawGraphics);
    Gdiplus::GpRectF bounds;
    Gdiplus::GpUnit unit;
    m_status = GdipGetImageBounds(m_picture.get(), &bounds, &unit);
    if (m_status != Gdiplus::Ok || bounds.Width <= 0 || bounds.Height <= 0) {
        return;
    }
    GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBilinear);
    const auto areaWidth = static_cast<Gdiplus::REAL>(rect.right - rect.left - 1);
    const auto areaHeight = static_cast<Gdiplus::REAL>(rect.bottom - rect.top - 1);
    Gdiplus::REAL width = areaWidth;
    Gdiplus::REAL height = areaHeight;
    if (!m_stretch) {
        const Gdiplus::REAL scale = std::min(areaWidth / bounds.Width, areaHeight / bounds.Height);
        width = bounds.Width * scale;
        height = bounds.Height * scale;
    }
    const Gdiplus::REAL left = static_cast<Gdiplus::REAL>(rect.left) + (areaWidth - width) / 2;
    const Gdiplus::REAL top = static_cast<Gdiplus::REAL>(rect.top) + (areaHeight - height) / 2;
    m_status = GdipDrawImageRectRect(graphics.get(), m_picture.get(), left, top, width, height, bounds.X, bounds.Y,
                                     bounds.Width, bounds.Height, Gdiplus::UnitPixel, m_attributes, nullptr, nullptr);
}

// Spinner

Spinner::~Spinner()
{
    if (m_window != nullptr) {
        ::KillTimer(m_window, kSpinnerTimer);
    }
}

void Spinner::Attach(HWND window)
{
    Control::Attach(window);
    if (m_window != nullptr) {
        ::SetTimer(m_window, kSpinnerTimer, kSpinnerPeriodMs, nullptr);
    }
}

void Spinner::SetColor(COLORREF color)
{
    m_color = color;
}

void Spinner::OnDetach()
{
    ::KillTimer(m_window, kSpinnerTimer);
}

LRESULT Spinner::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        if (wParam == kSpinnerTimer) {
            ::InvalidateRect(window, nullptr, TRUE);
        }
        return 0;
    }
    return Control::WndProc(window, message, wParam, lParam);
}

void Spinner::Paint(HDC dc, const RECT& rect)
{
    FillBackground(dc, rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int side = std::min(width, height);
    Gdiplus::GpGraphics* rawGraphics = nullptr;
    Gdiplus::GpPen* rawPen = nullptr;
    if (side <= 0 || GdipCreateFromHDC(dc, &rawGraphics) != Gdiplus::Ok) {
        return;
    }
    const UniqueGraphics graphics(rawGraphics);
    if (GdipCreatePen1(ToArgb(Theme::Pick(m_color, COLOR_HIGHLIGHT)), static_cast<Gdiplus::REAL>(side / 8 + 1),
                       Gdiplus::UnitPixel, &rawPen) != Gdiplus::Ok) {
        return;
    }
    const UniquePen pen(rawPen);
    Gdiplus::REAL penWidth = 0;
    GdipGetPenWidth(pen.get(), &penWidth);
    const int diameter = side - static_cast<int>(penWidth);
    GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
    const auto start = static_cast<Gdiplus::REAL>((::GetTickCount() / 8) % 360);
    GdipDrawArcI(graphics.get(), pen.get(), rect.left + (width - diameter) / 2, rect.top + (height - diameter) / 2,
                 diameter, diameter, start, 270);
}

} // namespace NvUI
