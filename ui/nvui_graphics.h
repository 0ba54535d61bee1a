#pragma once

#include "base/unique_resource.h"

#include <windows.h>

#include <gdiplus.h>

#include <memory>

namespace NvHandleTraits {
inline void DeleteMemoryDc(HDC dc)
{
    ::DeleteDC(dc);
}
} // namespace NvHandleTraits

using UniqueFont = UniqueResource<NvHandleTraits::NullIsInvalid<HFONT, NvHandleTraits::DeleteGdiObject>>;
using UniqueBitmap = UniqueResource<NvHandleTraits::NullIsInvalid<HBITMAP, NvHandleTraits::DeleteGdiObject>>;
using UniqueBrush = UniqueResource<NvHandleTraits::NullIsInvalid<HBRUSH, NvHandleTraits::DeleteGdiObject>>;
using UniqueRegion = UniqueResource<NvHandleTraits::NullIsInvalid<HRGN, NvHandleTraits::DeleteGdiObject>>;
using UniqueMemoryDc = UniqueResource<NvHandleTraits::NullIsInvalid<HDC, NvHandleTraits::DeleteMemoryDc>>;

namespace NvUI {

// The device context of a window's client area (of the screen for a null window), released when it goes.
class WindowDc {
public:
    explicit WindowDc(HWND window) : m_window(window), m_dc(::GetDC(window)) {}
    ~WindowDc();
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC Get() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

// The device context of a WM_PAINT, from BeginPaint to EndPaint.
class PaintDc {
public:
    explicit PaintDc(HWND window) : m_window(window), m_dc(::BeginPaint(window, &m_paint)) {}
    ~PaintDc();
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;

    HDC Get() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};
    HDC m_dc;
};

// An object selected into a device context; what it replaced is selected again when this goes.
class SelectedObject {
public:
    SelectedObject() = default;
    SelectedObject(HDC dc, HGDIOBJ object);
    ~SelectedObject();
    SelectedObject(SelectedObject&& other) noexcept;
    SelectedObject& operator=(SelectedObject&& other) noexcept;

    explicit operator bool() const { return m_dc != nullptr; }
    // Selects another object in place of the current one; the first selection's predecessor still comes back.
    void Select(HGDIOBJ object) const;

private:
    void Restore();

    HDC m_dc = nullptr;
    HGDIOBJ m_previous = nullptr;
};

// The colours of the flat look.
namespace Colors {
constexpr COLORREF BrandBlue = RGB(0, 20, 160);
constexpr COLORREF BrandBlueHover = RGB(0, 20, 140);
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Black = RGB(0, 0, 0);
constexpr COLORREF Grey = RGB(191, 191, 191); // disabled controls
constexpr COLORREF LightGrey = RGB(242, 242, 242);
constexpr COLORREF SmallPrint = RGB(112, 112, 112); // 4.9:1 on white, above the 4.5:1 small text needs
} // namespace Colors

// Style bits of CreateUiFont.
enum FontStyle : unsigned {
    FontItalic = 1,
    FontUnderline = 2,
    FontStrikeOut = 4,
};

// A GDI+ picture, shared between whoever shows it; empty when it could not be loaded.
using Picture = std::shared_ptr<Gdiplus::GpImage>;

// Whether Windows is at least this version (VerifyVersionInfoW, service pack 0 or later).
bool IsWindowsVersionOrLater(DWORD major, DWORD minor);

// The screen's DPI as GDI gives it (the system DPI).
UINT ScreenDpi();

// The DPI the pages are laid out for: the main window's, which follows the monitor it is on. The screen's
// until the main window sets it.
UINT UiDpi();
void SetUiDpi(UINT dpi);

// A "Segoe UI" face chosen by weight, sized in points for the pages' DPI.
UniqueFont CreateUiFont(int points, int weight, unsigned styleBits);

// Points converted to pixels at the pages' DPI.
int PointsToPixels(int points);

// A font of CreateUiFont that can be made again when the pages' DPI changes.
class UiFont {
public:
    UiFont(int points, int weight, unsigned styleBits);

    HFONT Get() const { return m_font.get(); }
    UINT Dpi() const { return m_dpi; }
    // Made again at the pages' DPI; returns the previous font, which its users still hold until they are given
    // the new one. Empty when the font was already made for that DPI.
    UniqueFont Rescale();

private:
    int m_points;
    int m_weight;
    unsigned m_styleBits;
    UINT m_dpi;
    UniqueFont m_font;
};

// A picture from a resource of the module (for example type "PNG"); empty on any failure.
Picture LoadImageResource(HINSTANCE instance, unsigned id, const wchar_t* type);

namespace GdiPlus {

// Keeps GDI+ started while any shared reference to it lives.
class Instance {
public:
    // The running instance, started on first use and again after the last reference went.
    static std::shared_ptr<Instance> Acquire();

    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    ~Instance();

private:
    Instance();

    ULONG_PTR m_token = 0;
};

} // namespace GdiPlus
} // namespace NvUI
