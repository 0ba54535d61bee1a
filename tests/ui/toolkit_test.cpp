// The flat controls painted into memory and checked pixel by pixel, their link text, fonts and attachment.
#include "ui/nvui_controls.h"
#include "ui/nvui_text.h"
#include "ui/nvui_theme.h"

#include "tests/ui/ink_lines.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <oleacc.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace Gdiplus::DllExports;

// A static control on a hidden top-level window, for a control to attach to.
class HostWindow {
public:
    HostWindow(int width, int height, const wchar_t* className = L"Static", DWORD style = SS_LEFT)
    {
        m_parent = ::CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
        m_child = ::CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, 10, 10, width, height, m_parent,
                                    reinterpret_cast<HMENU>(100), nullptr, nullptr);
    }
    ~HostWindow() { ::DestroyWindow(m_parent); }
    HWND Child() const { return m_child; }
    HWND Parent() const { return m_parent; }

private:
    HWND m_parent = nullptr;
    HWND m_child = nullptr;
};

// A memory surface of the screen's format that a control paints into.
class Surface {
public:
    Surface(int width, int height) : m_width(width), m_height(height)
    {
        const HDC screen = ::GetDC(nullptr);
        m_dc.reset(::CreateCompatibleDC(screen));
        m_bitmap.reset(::CreateCompatibleBitmap(screen, width, height));
        ::ReleaseDC(nullptr, screen);
        m_previous = ::SelectObject(m_dc.get(), m_bitmap.get());
    }
    ~Surface() { ::SelectObject(m_dc.get(), m_previous); }
    HDC Dc() const { return m_dc.get(); }
    RECT Rect() const { return RECT{0, 0, m_width, m_height}; }
    COLORREF Pixel(int x, int y) const { return ::GetPixel(m_dc.get(), x, y); }

    // The bounds of the pixels for which the test holds.
    RECT Bounds(bool (*test)(COLORREF)) const
    {
        RECT bounds = {m_width, m_height, -1, -1};
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) {
                if (test(Pixel(x, y))) {
                    bounds = RECT{std::min<LONG>(bounds.left, x), std::min<LONG>(bounds.top, y),
                                  std::max<LONG>(bounds.right, x + 1), std::max<LONG>(bounds.bottom, y + 1)};
                }
            }
        }
        return bounds;
    }

private:
    int m_width;
    int m_height;
    UniqueMemoryDc m_dc;
    UniqueBitmap m_bitmap;
    HGDIOBJ m_previous = nullptr;
};

// The protected painting, reachable for the tests.
struct TestImage : NvUI::Image {
    using NvUI::Image::Paint;
};
struct TestButton : NvUI::Button {
    using NvUI::Button::Paint;
};
struct TestText : NvUI::TextBlock {
    using NvUI::TextBlock::Paint;
};
struct TestLink : NvUI::StaticLink {
    using NvUI::StaticLink::Paint;
};

class Toolkit : public ::testing::Test {
protected:
    std::shared_ptr<NvUI::GdiPlus::Instance> m_gdiPlus = NvUI::GdiPlus::Instance::Acquire();
};

NvUI::Picture SolidPicture(int width, int height, Gdiplus::ARGB color)
{
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap) != Gdiplus::Ok) {
        return {};
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            GdipBitmapSetPixel(bitmap, x, y, color);
        }
    }
    return NvUI::Picture(bitmap, [](Gdiplus::GpImage* image) { GdipDisposeImage(image); });
}

bool IsRed(COLORREF color)
{
    return GetRValue(color) > 200 && GetGValue(color) < 60 && GetBValue(color) < 60;
}

TEST_F(Toolkit, StaticStylesBecomeDrawTextFormats)
{
    const struct {
        LONG_PTR style;
        UINT format;
    } cases[] = {
        {SS_LEFT, 0},
        {SS_CENTER, DT_CENTER},
        {SS_RIGHT, DT_RIGHT},
        {SS_SIMPLE, DT_SINGLELINE},
        {SS_LEFTNOWORDWRAP, DT_SINGLELINE},
        {SS_CENTER | SS_CENTERIMAGE | SS_ENDELLIPSIS, DT_CENTER | DT_VCENTER | DT_END_ELLIPSIS},
        {SS_RIGHT | SS_PATHELLIPSIS, DT_RIGHT | DT_PATH_ELLIPSIS},
        {SS_CENTER | WS_GROUP | WS_VISIBLE, DT_CENTER},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(NvUI::StyleToDrawTextFormat(entry.style), entry.format) << "style " << std::hex << entry.style;
    }
}

// A centred paragraph that would leave one short word on its last line is set narrower, with even lines; one
// that is not centred keeps the full width.
TEST_F(Toolkit, CentredTextWrapsIntoEvenLines)
{
    constexpr int width = 300;
    const UniqueFont font = NvUI::CreateUiFont(12, 400, 0);
    Surface surface(width, 120);
    // Words that fill one line at full width to the last pixel that a letter can take, then one short word more.
    const HGDIOBJ previous = ::SelectObject(surface.Dc(), font.get());
    const auto fits = [&](const std::wstring& line) {
        SIZE size = {};
        ::GetTextExtentPoint32W(surface.Dc(), line.c_str(), static_cast<int>(line.size()), &size);
        return size.cx <= width;
    };
    std::wstring text = L"word";
    while (fits(text + L" word")) {
        text += L" word";
    }
    while (fits(text + L"s")) {
        text += L"s";
    }
    ::SelectObject(surface.Dc(), previous);
    text += L" ok";
    const struct {
        UINT format;
        bool even;
    } cases[] = {{DT_CENTER, true}, {0, false}};
    for (const auto& entry : cases) {
        const RECT all = surface.Rect();
        ::FillRect(surface.Dc(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        NvUI::DrawTextBlock(surface.Dc(), all, text, font.get(), RGB(0, 0, 0), entry.format);
        const std::vector<LONG> lines = InkLineWidths(
            RECT{0, 0, width, 120}, [&](LONG x, LONG y) { return surface.Pixel(x, y) != RGB(255, 255, 255); });
        ASSERT_EQ(lines.size(), 2u) << "format " << entry.format;
        EXPECT_EQ(lines[1] * 3 > lines[0], entry.even)
            << "format " << entry.format << ": lines of " << lines[0] << " and " << lines[1] << " pixels";
    }
}

TEST_F(Toolkit, LinkTextSplitsAtTwoMarkers)
{
    const struct {
        const wchar_t* text;
        const wchar_t* windowText;
        const wchar_t* link;
    } cases[] = {
        {L"© 2019 Norvane. [#]License terms[#] after", L"© 2019 Norvane. License terms after", L"License terms"},
        {L"[#]only link[#]", L"only link", L"only link"},
        {L"one [#] marker", L"one [#] marker", L""},
        {L"no marker at all", L"no marker at all", L""},
        {L"[#][#]", L"", L""},
        {L"ab", L"ab", L""},
    };
    for (const auto& entry : cases) {
        HostWindow host(300, 20);
        NvUI::StaticLink link;
        link.Attach(host.Child());
        link.SetLinkText(entry.text);
        EXPECT_EQ(link.GetText(), entry.windowText) << "text: " << ::testing::PrintToString(entry.text);
        EXPECT_EQ(link.GetLinkPart(), entry.link);
        EXPECT_EQ((link.GetStyle() & WS_TABSTOP) != 0, entry.link[0] != L'\0') << "tab stop only with a link";
    }
}

// The commands a link sends its parent, counted.
int g_linkCommands = 0;
LRESULT CALLBACK CountCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == 100) {
        ++g_linkCommands;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void PumpMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageW(&message);
    }
}

// A link answers Enter and Space itself (the dialog manager would give Enter to the default button), and a
// screen reader finds a link named by its text whose default action opens it.
TEST_F(Toolkit, LinkOpensFromTheKeyboardAndTellsScreenReadersWhatItIs)
{
    HostWindow host(300, 20);
    ::SetWindowLongPtrW(host.Parent(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountCommands));
    NvUI::StaticLink link;
    link.Attach(host.Child());
    link.SetLinkText(L"Read the [#]licence terms[#].");

    const auto dialogCode = [&](UINT message, WPARAM key) {
        MSG keyMessage = {host.Child(), message, key, 0, 0, {}};
        return ::SendMessageW(host.Child(), WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&keyMessage));
    };
    EXPECT_TRUE(dialogCode(WM_KEYDOWN, VK_RETURN) & DLGC_WANTMESSAGE) << "Enter stays with the link";
    EXPECT_FALSE(dialogCode(WM_KEYDOWN, VK_TAB) & DLGC_WANTMESSAGE) << "Tab still moves on";
    g_linkCommands = 0;
    for (const wchar_t key : {L'\r', L' ', L'x'}) {
        ::SendMessageW(host.Child(), WM_CHAR, key, 0);
    }
    EXPECT_EQ(g_linkCommands, 2) << "Enter and Space open it, other keys do not";

    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // As a screen reader asks, through oleacc.dll.
    using AccessibleObjectFromWindowFunction = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    const auto fromWindow = reinterpret_cast<AccessibleObjectFromWindowFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"oleacc.dll"), "AccessibleObjectFromWindow")));
    ASSERT_NE(fromWindow, nullptr);
    IAccessible* accessible = nullptr;
    ASSERT_EQ(fromWindow(host.Child(), OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&accessible)), S_OK);
    VARIANT self;
    ::VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role;
    ::VariantInit(&role);
    EXPECT_EQ(accessible->get_accRole(self, &role), S_OK);
    EXPECT_EQ(role.lVal, ROLE_SYSTEM_LINK);
    BSTR name = nullptr;
    EXPECT_EQ(accessible->get_accName(self, &name), S_OK);
    EXPECT_STREQ(name, L"licence terms");
    ::SysFreeString(name);
    VARIANT state;
    ::VariantInit(&state);
    EXPECT_EQ(accessible->get_accState(self, &state), S_OK);
    EXPECT_TRUE(state.lVal & STATE_SYSTEM_LINKED);
    BSTR action = nullptr;
    EXPECT_EQ(accessible->get_accDefaultAction(self, &action), S_OK);
    EXPECT_STREQ(action, L"Jump");
    ::SysFreeString(action);
    EXPECT_EQ(accessible->accDoDefaultAction(self), S_OK);
    PumpMessages();
    EXPECT_EQ(g_linkCommands, 3) << "the default action opens it";
    accessible->Release();

    link.SetLinkText(L"no link here");
    accessible = nullptr;
    ASSERT_EQ(fromWindow(host.Child(), OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&accessible)), S_OK);
    ::VariantInit(&role);
    accessible->get_accRole(self, &role);
    EXPECT_NE(role.lVal, ROLE_SYSTEM_LINK) << "text without a link is plain text";
    accessible->Release();
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
}

TEST_F(Toolkit, PictureKeepsItsAspectAndIsCentred)
{
    // 192 x 192 into 90 x 85: the area less one pixel is 89 x 84, the smaller ratio gives 84 x 84.
    HostWindow host(90, 85);
    TestImage image;
    image.Attach(host.Child());
    image.SetImage(SolidPicture(192, 192, 0xFFFF0000), false);
    Surface surface(90, 85);
    image.Paint(surface.Dc(), surface.Rect());
    const RECT drawn = surface.Bounds(IsRed);
    EXPECT_NEAR(drawn.right - drawn.left, 84, 1);
    EXPECT_NEAR(drawn.bottom - drawn.top, 84, 1);
    EXPECT_NEAR(drawn.left, 2, 1) << "centred in the 89 pixels";
    EXPECT_EQ(surface.Pixel(0, 40), RGB(255, 255, 255)) << "the rest stays white";

    image.SetImage(SolidPicture(192, 192, 0xFFFF0000), true);
    image.Paint(surface.Dc(), surface.Rect());
    const RECT stretched = surface.Bounds(IsRed);
    EXPECT_NEAR(stretched.right - stretched.left, 89, 1);
    EXPECT_NEAR(stretched.bottom - stretched.top, 84, 1);

    image.SetImage({}, false);
    image.Paint(surface.Dc(), surface.Rect());
    EXPECT_EQ(surface.Bounds(IsRed).right, -1) << "no picture: only the white background";
}

bool HighContrastOn()
{
    return true;
}

// A high-contrast theme, as the test sets it: the system colours of the roles the controls use, and the setting
// read through the toolkit's seam (Wine has no high-contrast setting).
class HighContrast {
public:
    static constexpr int kElements[] = {COLOR_WINDOW,  COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
                                        COLOR_BTNFACE, COLOR_BTNTEXT,    COLOR_GRAYTEXT,  COLOR_HOTLIGHT};
    static constexpr COLORREF kColors[] = {RGB(0, 0, 0), RGB(255, 255, 254), RGB(26, 235, 255), RGB(1, 1, 1),
                                           RGB(2, 2, 2), RGB(254, 255, 255), RGB(63, 242, 63),  RGB(255, 255, 0)};

    HighContrast()
    {
        for (size_t index = 0; index < std::size(kElements); ++index) {
            m_previous[index] = ::GetSysColor(kElements[index]);
        }
        ::SetSysColors(static_cast<int>(std::size(kElements)), kElements, kColors);
        NvUI::Theme::SetReader(&HighContrastOn);
        NvUI::Theme::Refresh();
    }
    HighContrast(const HighContrast&) = delete;
    HighContrast& operator=(const HighContrast&) = delete;
    ~HighContrast()
    {
        ::SetSysColors(static_cast<int>(std::size(kElements)), kElements, m_previous);
        NvUI::Theme::SetReader(nullptr);
        NvUI::Theme::Refresh();
    }

private:
    COLORREF m_previous[std::size(kElements)] = {};
};

// A button painted into memory: the colour inside it, at its left edge and in its rounded corner.
struct ButtonPixels {
    COLORREF inside;
    COLORREF edge;
    COLORREF corner;
};
ButtonPixels PaintButton(bool primary, bool enabled)
{
    HostWindow host(120, 40, L"Button", BS_PUSHBUTTON);
    TestButton button;
    button.Attach(host.Child());
    button.SetColors(NvUI::Colors::BrandBlue, NvUI::Colors::BrandBlueHover, NvUI::Colors::White);
    button.SetPrimary(primary);
    button.Enable(enabled);
    Surface surface(120, 40);
    button.Paint(surface.Dc(), surface.Rect());
    return {surface.Pixel(6, 20), surface.Pixel(0, 20), surface.Pixel(0, 0)};
}

// With the brand's colours, and in a high-contrast theme with the system colours of the same roles.
TEST_F(Toolkit, ButtonsAreFilledOrOutlinedAndGreyWhenDisabled)
{
    constexpr COLORREF blue = NvUI::Colors::BrandBlue;
    const struct {
        bool highContrast;
        bool primary;
        bool enabled;
        COLORREF inside;
        COLORREF edge;
    } cases[] = {
        {false, true, true, blue, blue},
        {false, false, true, NvUI::Colors::White, blue},
        {false, true, false, NvUI::Colors::LightGrey, NvUI::Colors::LightGrey},
        {false, false, false, NvUI::Colors::LightGrey, NvUI::Colors::LightGrey},
        {true, true, true, RGB(26, 235, 255), RGB(26, 235, 255)},
        {true, false, true, RGB(2, 2, 2), RGB(254, 255, 255)},
        {true, true, false, RGB(2, 2, 2), RGB(63, 242, 63)},
    };
    for (const auto& entry : cases) {
        std::optional<HighContrast> theme;
        if (entry.highContrast) {
            theme.emplace();
        }
        const ButtonPixels pixels = PaintButton(entry.primary, entry.enabled);
        const std::string which = std::string(entry.highContrast ? "high contrast, " : "") + "primary " +
                                  std::to_string(entry.primary) + ", enabled " + std::to_string(entry.enabled);
        EXPECT_EQ(pixels.inside, entry.inside) << which;
        EXPECT_EQ(pixels.edge, entry.edge) << which;
        EXPECT_EQ(pixels.corner, entry.highContrast ? RGB(0, 0, 0) : RGB(255, 255, 255)) << which << ": the corner";
    }
}

// In a high-contrast theme no brand colour is left on texts and links either: they take the system colours of
// their roles on the window colour.
TEST_F(Toolkit, HighContrastTextsAndLinksTakeTheSystemColours)
{
    const HighContrast theme;
    const UniqueFont font = NvUI::CreateUiFont(12, 700, 0);
    HostWindow textHost(300, 30);
    TestText text;
    text.Attach(textHost.Child());
    text.SetFont(font.get());
    text.SetText(L"Title");
    text.SetColor(NvUI::Colors::BrandBlue);
    HostWindow linkHost(300, 30);
    TestLink link;
    link.Attach(linkHost.Child());
    link.SetFont(font.get());
    link.SetLinkColors(NvUI::Colors::BrandBlue, NvUI::Colors::BrandBlueHover);
    link.SetTextColor(NvUI::Colors::SmallPrint);
    link.SetLinkText(L"MMMM [#]MMMM[#]");
    Surface surface(300, 30);
    const auto colours = [&](auto& control) {
        control.Paint(surface.Dc(), surface.Rect());
        std::vector<COLORREF> seen;
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 300; ++x) {
                if (std::find(seen.begin(), seen.end(), surface.Pixel(x, y)) == seen.end()) {
                    seen.push_back(surface.Pixel(x, y));
                }
            }
        }
        return seen;
    };
    const std::vector<COLORREF> textColours = colours(text);
    EXPECT_NE(std::find(textColours.begin(), textColours.end(), RGB(255, 255, 254)), textColours.end())
        << "the title in the window text colour";
    const std::vector<COLORREF> linkColours = colours(link);
    EXPECT_NE(std::find(linkColours.begin(), linkColours.end(), RGB(255, 255, 0)), linkColours.end())
        << "the link in the hot-light colour";
    EXPECT_NE(std::find(linkColours.begin(), linkColours.end(), RGB(255, 255, 254)), linkColours.end())
        << "the rest of the line in the window text colour";
    for (const COLORREF colour : {NvUI::Colors::BrandBlue, NvUI::Colors::SmallPrint, NvUI::Colors::White}) {
        EXPECT_EQ(std::find(textColours.begin(), textColours.end(), colour), textColours.end()) << std::hex << colour;
        EXPECT_EQ(std::find(linkColours.begin(), linkColours.end(), colour), linkColours.end()) << std::hex << colour;
    }
}

TEST_F(Toolkit, FontsFollowWeightAndScreenResolution)
{
    const struct {
        int points;
        int weight;
        const wchar_t* face;
    } cases[] = {
        {24, 200, L"Segoe UI Light"},
        {24, 300, NvUI::IsWindowsVersionOrLater(6, 2) ? L"Segoe UI Semilight" : L"Segoe UI"},
        {12, 400, L"Segoe UI"},
        {12, 599, L"Segoe UI"},
        {8, 600, L"Segoe UI Semibold"},
    };
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    for (const auto& entry : cases) {
        const UniqueFont font = NvUI::CreateUiFont(entry.points, entry.weight, NvUI::FontUnderline);
        LOGFONTW description = {};
        ASSERT_EQ(::GetObjectW(font.get(), sizeof(description), &description), static_cast<int>(sizeof(description)));
        EXPECT_STREQ(description.lfFaceName, entry.face) << "weight " << entry.weight;
        EXPECT_EQ(description.lfHeight, -::MulDiv(entry.points, dpi, 72));
        EXPECT_EQ(description.lfWeight, entry.weight);
        EXPECT_TRUE(description.lfUnderline);
        EXPECT_FALSE(description.lfItalic);
    }
}

TEST_F(Toolkit, ControlGivesTheWindowBackWhenItGoesFirst)
{
    HostWindow host(100, 20);
    const auto original = ::GetWindowLongPtrW(host.Child(), GWLP_WNDPROC);
    {
        NvUI::TextBlock text;
        text.Attach(host.Child());
        EXPECT_NE(::GetWindowLongPtrW(host.Child(), GWLP_WNDPROC), original);
    }
    EXPECT_EQ(::GetWindowLongPtrW(host.Child(), GWLP_WNDPROC), original);
    EXPECT_EQ(::GetWindowLongPtrW(host.Child(), GWLP_USERDATA), 0);
    ::SetWindowTextW(host.Child(), L"still works");
}

TEST_F(Toolkit, ControlForgetsItsWindowWhenTheWindowGoesFirst)
{
    NvUI::Spinner spinner;
    {
        HostWindow host(60, 60);
        spinner.Attach(host.Child());
        EXPECT_EQ(spinner.GetHandle(), host.Child());
    }
    EXPECT_EQ(spinner.GetHandle(), nullptr);
    EXPECT_FALSE(spinner.SetText(L"x")) << "window operations without a window do nothing";
    EXPECT_EQ(spinner.GetClientSize().cx, 0);
}

} // namespace
