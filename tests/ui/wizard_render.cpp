// Shows every wizard page in each language given, with the tool's own page code, templates, texts, pictures
// and fonts, saves each as the window looks (caption included) into a PNG file, and checks what a reader
// would see there:
//   - a character that neither the control's font nor any font linked to it has: it is drawn as the font's
//     missing-glyph box (window texts, list rows, and the caption, which the system draws in its caption font);
//   - a wrapped text whose last line holds only a scrap (a lone word or syllable), found in the pixels;
//   - a text that does not fit its control (clipped or cut off with an ellipsis), a list cell its column;
//   - with --dpi=N, after the window was told of a new DPI (WM_DPICHANGED) while the first page showed: a page
//     or font not laid out for it;
//   - with --high-contrast, in a high-contrast theme: a pixel of the page in a brand colour or white.
//
//   wizard_render FOLDER [--dpi=N] [--high-contrast] LANGUAGE...
//       writes FOLDER\LANGUAGE[-VARIANT]-N-PAGE.png (VARIANT: "144dpi", "hc"); one "fault:" line per finding
//       and exit code 1 when there is any
#include "engine/product_config.h"
#include "engine/removal_record.h"
#include "resources/dialog_controls.h"
#include "resources/resource.h"
#include "ui/gui_manager.h"
#include "ui/nvui_graphics.h"
#include "ui/nvui_theme.h"
#include "ui/product_texts.h"
#include "ui/settings.h"
#include "ui/wizard_pages.h"

#include "tests/ui/ink_lines.h"
#include "tests/ui/wizard_output.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace Gdiplus::DllExports;

// A wrapped text's last line must be at least this part of its longest line.
constexpr int kShortestLastLinePercent = 30;
// The room a list view leaves around a cell's text.
constexpr int kCellPadding = 6;

// A high-contrast theme (Windows' "High Contrast Black"), set for this process only.
constexpr int kThemeElements[] = {COLOR_WINDOW,  COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
                                  COLOR_BTNFACE, COLOR_BTNTEXT,    COLOR_GRAYTEXT,  COLOR_HOTLIGHT};
constexpr COLORREF kThemeColors[] = {RGB(0, 0, 0), RGB(255, 255, 254), RGB(26, 235, 255), RGB(1, 1, 1),
                                     RGB(2, 2, 2), RGB(254, 255, 255), RGB(63, 242, 63),  RGB(255, 255, 0)};
// What must not be seen on a page in that theme.
constexpr COLORREF kBrandColors[] = {NvUI::Colors::White, NvUI::Colors::BrandBlue, NvUI::Colors::BrandBlueHover,
                                     NvUI::Colors::Grey,  NvUI::Colors::LightGrey, NvUI::Colors::SmallPrint};

struct Options {
    std::wstring folder;
    UINT dpi = 0; // 0: no DPI change
    bool highContrast = false;
};

// A 32-bit top-down bitmap with its pixels at hand.
class PixelBuffer {
public:
    PixelBuffer(int width, int height) : m_width(width), m_height(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        m_bitmap.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        m_bits = static_cast<const uint32_t*>(bits);
        m_dc.reset(::CreateCompatibleDC(nullptr));
        m_previous = ::SelectObject(m_dc.get(), m_bitmap.get());
    }
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    ~PixelBuffer() { ::SelectObject(m_dc.get(), m_previous); }

    HDC Dc() const { return m_dc.get(); }
    HBITMAP Bitmap() const { return m_bitmap.get(); }
    bool IsInk(int x, int y) const { return (m_bits[y * m_width + x] & 0xFFFFFF) != 0xFFFFFF; }
    COLORREF Color(int x, int y) const
    {
        const uint32_t bits = m_bits[y * m_width + x];
        return RGB((bits >> 16) & 0xFF, (bits >> 8) & 0xFF, bits & 0xFF);
    }
    std::vector<uint32_t> Pixels() const
    {
        ::GdiFlush();
        return std::vector<uint32_t>(m_bits, m_bits + static_cast<size_t>(m_width) * m_height);
    }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    int m_width;
    int m_height;
    UniqueBitmap m_bitmap;
    UniqueMemoryDc m_dc;
    const uint32_t* m_bits = nullptr;
    HGDIOBJ m_previous = nullptr;
};

// Finds characters that come out as the missing-glyph box: drawn through the font (and so through the fonts
// linked to it), they look exactly like the font's own glyph 0.
class GlyphCheck {
public:
    std::wstring Missing(HFONT font, const std::wstring& text)
    {
        LOGFONTW logFont = {};
        ::GetObjectW(font, sizeof(logFont), &logFont);
        const std::wstring fontKey = std::wstring(logFont.lfFaceName) + L"|" + std::to_wstring(logFont.lfHeight) +
                                     L"|" + std::to_wstring(logFont.lfWeight);
        std::wstring missing;
        for (size_t at = 0; at < text.size();) {
            const size_t units = IS_HIGH_SURROGATE(text[at]) && at + 1 < text.size() ? 2 : 1;
            const std::wstring character = text.substr(at, units);
            at += units;
            WORD type = 0;
            ::GetStringTypeW(CT_CTYPE1, character.c_str(), 1, &type);
            if ((type & (C1_SPACE | C1_CNTRL)) != 0) {
                continue;
            }
            const std::wstring key = fontKey + L"|" + character;
            auto known = m_missing.find(key);
            if (known == m_missing.end()) {
                known = m_missing.emplace(key, Draw(font, character, 0) == Draw(font, L"", ETO_GLYPH_INDEX)).first;
            }
            if (known->second && missing.find(character) == std::wstring::npos) {
                missing += character;
            }
        }
        return missing;
    }

private:
    static std::vector<uint32_t> Draw(HFONT font, const std::wstring& text, UINT options)
    {
        const WORD notDefined = 0;
        PixelBuffer buffer(96, 96);
        RECT all = {0, 0, 96, 96};
        ::FillRect(buffer.Dc(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        const HGDIOBJ previous = ::SelectObject(buffer.Dc(), font);
        ::SetBkMode(buffer.Dc(), TRANSPARENT);
        ::SetTextColor(buffer.Dc(), RGB(0, 0, 0));
        if ((options & ETO_GLYPH_INDEX) != 0) {
            ::ExtTextOutW(buffer.Dc(), 16, 16, ETO_GLYPH_INDEX, nullptr, reinterpret_cast<const wchar_t*>(&notDefined),
                          1, nullptr);
        } else {
            ::ExtTextOutW(buffer.Dc(), 16, 16, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()), nullptr);
        }
        ::SelectObject(buffer.Dc(), previous);
        return buffer.Pixels();
    }

    std::map<std::wstring, bool> m_missing;
};

SIZE TextSize(HFONT font, const std::wstring& text, LONG wrapWidth)
{
    const HDC dc = ::GetDC(nullptr);
    const HGDIOBJ previous = ::SelectObject(dc, font);
    RECT rect = {0, 0, wrapWidth, 0};
    const UINT format = wrapWidth > 0 ? DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX : DT_SINGLELINE | DT_NOPREFIX;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format | DT_CALCRECT);
    ::SelectObject(dc, previous);
    ::ReleaseDC(nullptr, dc);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

class PageRender {
public:
    PageRender(std::wstring language, std::wstring name, HWND main, GlyphCheck& glyphs)
        : m_language(std::move(language)), m_name(std::move(name)), m_main(main), m_glyphs(glyphs)
    {
        m_page = ::FindWindowExW(main, nullptr, L"#32770", nullptr);
    }

    HWND Page() const { return m_page; }
    int Faults() const { return m_faults; }

    void Fault(const std::wstring& what)
    {
        Print(L"fault: " + m_language + L" " + m_name + L": " + what);
        ++m_faults;
    }

    void CheckGlyphs(const std::wstring& where, HFONT font, const std::wstring& text)
    {
        const std::wstring missing = m_glyphs.Missing(font, text);
        if (!missing.empty()) {
            Fault(where + L" has no glyph for \"" + missing + L"\" in \"" + text + L"\"");
        }
    }

    // In a high-contrast theme the page shows only system colours: its background is the window colour, and no
    // pixel has a brand colour or white. The pictures keep their colours, and the standard controls (list
    // views, radio buttons) draw with whatever the system gives them.
    void CheckThemeColours(const PixelBuffer& shot)
    {
        RECT window = {};
        RECT page = {};
        ::GetWindowRect(m_main, &window);
        ::GetWindowRect(m_page, &page);
        ::OffsetRect(&page, -window.left, -window.top);
        std::vector<RECT> skipped;
        for (const int id : {IDC_PICTURE, IDC_PRODUCT_LIST, IDC_RESULT_LIST, IDC_RADIO_ALL, IDC_RADIO_SELECT}) {
            RECT rect = {};
            if (::GetWindowRect(::GetDlgItem(m_page, id), &rect)) {
                ::OffsetRect(&rect, -window.left, -window.top);
                skipped.push_back(rect);
            }
        }
        if (shot.Color(page.left + 1, page.top + 1) != ::GetSysColor(COLOR_WINDOW)) {
            Fault(L"the background is not the system's window colour");
        }
        std::map<COLORREF, POINT> seen;
        for (LONG y = std::max(page.top, 0L); y < std::min(page.bottom, static_cast<LONG>(shot.Height())); ++y) {
            for (LONG x = std::max(page.left, 0L); x < std::min(page.right, static_cast<LONG>(shot.Width())); ++x) {
                const POINT point = {x, y};
                const COLORREF color = shot.Color(x, y);
                const bool inSkipped = std::any_of(skipped.begin(), skipped.end(),
                                                   [&point](const RECT& rect) { return ::PtInRect(&rect, point); });
                if (!inSkipped &&
                    std::find(std::begin(kBrandColors), std::end(kBrandColors), color) != std::end(kBrandColors)) {
                    seen.emplace(color, point);
                }
            }
        }
        for (const auto& [color, point] : seen) {
            wchar_t text[64];
            std::swprintf(text, std::size(text), L"#%02X%02X%02X at %ld,%ld", GetRValue(color), GetGValue(color),
                          GetBValue(color), point.x, point.y);
            Fault(std::wstring(L"a brand colour in high contrast: ") + text);
        }
    }

    // After a DPI change: the page fills the window's client area, which has the size it had at the screen's DPI
    // in proportion, and the page's text is in a font made for the new DPI.
    void CheckDpi(UINT dpi, SIZE expectedClient)
    {
        RECT main = {};
        RECT page = {};
        ::GetClientRect(m_main, &main);
        ::GetClientRect(m_page, &page);
        const auto close = [](LONG a, LONG b) { return std::abs(a - b) <= 2; };
        if (!close(main.right, expectedClient.cx) || !close(main.bottom, expectedClient.cy)) {
            Fault(L"the window's client area is " + std::to_wstring(main.right) + L"x" + std::to_wstring(main.bottom) +
                  L", not " + std::to_wstring(expectedClient.cx) + L"x" + std::to_wstring(expectedClient.cy));
        }
        if (page.right != main.right || page.bottom != main.bottom) {
            Fault(L"the page does not fill the window");
        }
        LOGFONTW font = {};
        const HWND button = ::GetDlgItem(m_page, ::IsWindowVisible(::GetDlgItem(m_page, IDOK)) ? IDOK : IDCANCEL);
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(button, WM_GETFONT, 0, 0)), sizeof(font), &font);
        if (font.lfHeight != -::MulDiv(12, static_cast<int>(dpi), 72)) {
            Fault(L"the buttons' font is " + std::to_wstring(-font.lfHeight) + L" pixels high");
        }
    }

    void CheckControls(const PixelBuffer& shot)
    {
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof(metrics);
        ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        const UniqueFont captionFont(::CreateFontIndirectW(&metrics.lfCaptionFont));
        CheckGlyphs(L"the caption", captionFont.get(), WindowText(m_main));

        for (HWND control = ::GetWindow(m_page, GW_CHILD); control != nullptr;
             control = ::GetWindow(control, GW_HWNDNEXT)) {
            if (::IsWindowVisible(control)) {
                CheckControl(control, shot);
            }
        }
    }

private:
    void CheckControl(HWND control, const PixelBuffer& shot)
    {
        const int id = ::GetDlgCtrlID(control);
        const std::wstring where = L"control " + std::to_wstring(id);
        const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
        const std::wstring text = WindowText(control);
        RECT client = {};
        ::GetClientRect(control, &client);
        wchar_t className[32] = {};
        ::GetClassNameW(control, className, static_cast<int>(std::size(className)));
        if (std::wstring(className) == WC_LISTVIEWW) {
            CheckRows(control, font);
            return;
        }
        if (text.empty()) {
            return;
        }
        CheckGlyphs(where, font, text);
        const LONG_PTR style = ::GetWindowLongPtrW(control, GWL_STYLE);
        const bool wrapped = std::wstring(className) == L"Static" && id != IDC_COPYRIGHT &&
                             (style & SS_TYPEMASK) <= SS_RIGHT && (style & SS_TYPEMASK) != SS_SIMPLE;
        if (wrapped) {
            if (TextSize(font, text, client.right).cy > client.bottom) {
                Fault(where + L" is too small for \"" + text + L"\"");
            }
            CheckLastLine(control, shot, where);
            return;
        }
        // One line. A push button's text must stay clear of its focus rectangle (inset by 2 points, drawn one
        // pixel wide); a radio button's text follows its circle.
        LONG margin = 0;
        if (std::wstring(className) == L"Button") {
            const bool radio = (style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
            margin = radio ? ::GetSystemMetrics(SM_CXMENUCHECK) + 4 : 2 * (NvUI::PointsToPixels(2) + 2);
        }
        if (TextSize(font, text, 0).cx + margin > client.right) {
            Fault(where + L" is too narrow for \"" + text + L"\"");
        }
    }

    void CheckRows(HWND list, HFONT font)
    {
        const int rows = ListView_GetItemCount(list);
        const int columns = Header_GetItemCount(ListView_GetHeader(list));
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                wchar_t text[256] = {};
                ListView_GetItemText(list, row, column, text, static_cast<int>(std::size(text)));
                const std::wstring where = L"list row " + std::to_wstring(row);
                CheckGlyphs(where, font, text);
                RECT cell = {};
                ListView_GetSubItemRect(list, row, column, LVIR_LABEL, &cell);
                if (text[0] != L'\0' && ListView_GetStringWidth(list, text) + kCellPadding > cell.right - cell.left) {
                    Fault(where + L", column " + std::to_wstring(column) + L" is too narrow for \"" + text + L"\"");
                }
            }
        }
    }

    // The text's lines are the bands of rows with ink in the control's part of the picture.
    void CheckLastLine(HWND control, const PixelBuffer& shot, const std::wstring& where)
    {
        RECT window = {};
        RECT area = {};
        ::GetWindowRect(m_main, &window);
        ::GetWindowRect(control, &area);
        ::OffsetRect(&area, -window.left, -window.top);
        const RECT visible = {std::max(area.left, 0L), std::max(area.top, 0L),
                              std::min(area.right, static_cast<LONG>(shot.Width())),
                              std::min(area.bottom, static_cast<LONG>(shot.Height()))};
        const std::vector<LONG> widths = InkLineWidths(visible, [&](LONG x, LONG y) { return shot.IsInk(x, y); });
        if (widths.size() < 2) {
            return;
        }
        const LONG longest = *std::max_element(widths.begin(), widths.end());
        if (widths.back() * 100 < longest * kShortestLastLinePercent) {
            Fault(where + L" leaves a scrap on its last line (" + std::to_wstring(widths.back()) + L" of " +
                  std::to_wstring(longest) + L" pixels)");
        }
    }

    std::wstring m_language;
    std::wstring m_name;
    HWND m_main;
    HWND m_page = nullptr;
    GlyphCheck& m_glyphs;
    int m_faults = 0;
};

bool SavePng(const PixelBuffer& shot, const std::wstring& path)
{
    // The encoder GDI+ registers for image/png.
    constexpr CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromHBITMAP(shot.Bitmap(), nullptr, &bitmap) != Gdiplus::Ok) {
        return false;
    }
    const bool saved = GdipSaveImageToFile(bitmap, path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
    GdipDisposeImage(bitmap);
    return saved;
}

void PumpMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// The window as it is on the screen, frame and caption included.
void Capture(HWND main, PixelBuffer& shot)
{
    ::RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const HDC windowDc = ::GetWindowDC(main);
    ::BitBlt(shot.Dc(), 0, 0, shot.Width(), shot.Height(), windowDc, 0, 0, SRCCOPY);
    ::ReleaseDC(main, windowDc);
}

ProductList SampleProducts()
{
    // The two entries with localized names first, so that they are in sight.
    ProductList products = {std::make_shared<TestProductConfig>(L"logs", L"", true, false),
                            std::make_shared<TestProductConfig>(L"quarantine", L"", false, false)};
    for (int n = 1; n <= 8; ++n) {
        products.push_back(std::make_shared<TestProductConfig>(
            L"product" + std::to_wstring(n), L"Example product name " + std::to_wstring(n), n % 3 == 1, false));
    }
    return products;
}

// A removal of the four product lines, the quarantine and the log files, with the first result replaced.
std::vector<ProductOutcome> SampleOutcomes(size_t index, ProductOutcome::Result result)
{
    const wchar_t* const ids[][2] = {{L"antivirus", L"Norvane Antivirus"},
                                     {L"internet_security", L"Norvane Internet Security"},
                                     {L"endpoint_agent", L"Norvane Endpoint Agent"},
                                     {L"secure_vpn", L"Norvane Secure VPN"},
                                     {L"quarantine", L""},
                                     {L"logs", L""}};
    std::vector<ProductOutcome> outcomes;
    for (const auto& [id, name] : ids) {
        outcomes.push_back({id, name, 50, true, true, ProductOutcome::Result::Removed, 0, {}, {}});
    }
    outcomes[index].result = result;
    return outcomes;
}

constexpr wchar_t kSampleLog[] = L"C:\\ProgramData\\Norvane\\Log\\UninstallationTool\\UninstallationTool.log";

struct PageStep {
    const wchar_t* name;
    std::function<std::unique_ptr<DialogChild>()> make; // null: the same page, changed by `change`
    std::function<void(DialogChild& page)> change;
};

// The window told that it moved to a monitor of another DPI, as Windows tells it, with the place and size Windows
// would suggest: the window's, scaled about its centre.
void ChangeDpi(HWND main, UINT dpi)
{
    RECT window = {};
    ::GetWindowRect(main, &window);
    const UINT from = NvUI::UiDpi();
    const auto scale = [&](LONG value) {
        return static_cast<LONG>(::MulDiv(value, static_cast<int>(dpi), static_cast<int>(from)));
    };
    const LONG width = scale(window.right - window.left);
    const LONG height = scale(window.bottom - window.top);
    const LONG left = std::max(0L, (window.left + window.right - width) / 2);
    const LONG top = std::max(0L, (window.top + window.bottom - height) / 2);
    RECT suggested = {left, top, left + width, top + height};
    ::SendMessageW(main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

bool HighContrastOn()
{
    return true;
}

int RenderLanguage(HINSTANCE instance, const Options& options, const std::wstring& language, GlyphCheck& glyphs)
{
    if (!Settings::Instance().SelectLanguage(language)) {
        Print(L"fault: " + language + L": no such language");
        return 1;
    }
    std::wstring label = language;
    if (options.dpi != 0) {
        label += L"-" + std::to_wstring(options.dpi) + L"dpi";
    }
    if (options.highContrast) {
        label += L"-hc";
    }
    NvUI::SetUiDpi(0);
    const UniqueEvent stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    GuiManager gui(instance, stop.get());
    if (gui.Create(instance, IDD_MAIN, nullptr) == nullptr) {
        Print(L"fault: " + language + L": no main window");
        return 1;
    }
    if (options.highContrast) {
        // Windows tells the window when the theme changes; the toolkit reads the setting through its seam.
        NvUI::Theme::SetReader(&HighContrastOn);
        ::SetSysColors(static_cast<int>(std::size(kThemeElements)), kThemeElements, kThemeColors);
        ::SendMessageW(gui.GetHandle(), WM_SYSCOLORCHANGE, 0, 0);
    }
    const ProductList products = SampleProducts();
    using Result = ProductOutcome::Result;
    const PageStep steps[] = {
        {L"1-welcome", GuiManager::MakeWelcomePage, nullptr},
        {L"2-select", [&products] { return GuiManager::MakeSelectPage(products); }, nullptr},
        {L"3-select-list", nullptr,
         [](DialogChild& page) {
             ::SendMessageW(::GetDlgItem(page.GetHandle(), IDC_RADIO_SELECT), BM_CLICK, 0, 0);
             const HWND list = ::GetDlgItem(page.GetHandle(), IDC_PRODUCT_LIST);
             ListView_SetCheckState(list, 0, TRUE);
             ListView_SetCheckState(list, 3, TRUE);
         }},
        {L"4-progress", GuiManager::MakeProgressPage, nullptr},
        {L"5-progress-step", nullptr,
         [](DialogChild& page) {
             static_cast<DialogProgress&>(page).ShowStep(ProgressStepText(L"Norvane Internet Security", 2, 6));
         }},
        {L"6-error",
         [] {
             return GuiManager::MakeResultPage(IGuiManager::ErrorGeneric, SampleOutcomes(1, Result::Failed),
                                               kSampleLog);
         },
         nullptr},
        {L"7-finished",
         [] {
             return GuiManager::MakeResultPage(IGuiManager::Finished, SampleOutcomes(0, Result::Removed), kSampleLog);
         },
         nullptr},
        {L"8-restart",
         [] {
             return GuiManager::MakeResultPage(IGuiManager::FinishedReboot,
                                               SampleOutcomes(4, Result::RemovedRestartNeeded), kSampleLog);
         },
         nullptr},
        {L"9-privileges", [] { return GuiManager::MakeMessagePage(IGuiManager::ErrorPrivileges); }, nullptr},
    };
    int faults = 0;
    DialogChild* current = nullptr;
    SIZE dpiClient = {};
    for (const PageStep& step : steps) {
        if (step.make) {
            std::unique_ptr<DialogChild> page = step.make();
            current = page.get();
            gui.OnShowDialog(page.release());
        }
        PumpMessages();
        PageRender render(label, step.name, gui.GetHandle(), glyphs);
        if (render.Page() == nullptr) {
            render.Fault(L"the page was not shown");
            ++faults;
            continue;
        }
        if (step.change) {
            step.change(*current);
            PumpMessages();
        }
        if (options.dpi != 0 && dpiClient.cx == 0) {
            // Told while the first page shows; the later pages are made for the new DPI.
            const SIZE client = gui.GetClientSize();
            dpiClient = SIZE{::MulDiv(client.cx, static_cast<int>(options.dpi), static_cast<int>(NvUI::UiDpi())),
                             ::MulDiv(client.cy, static_cast<int>(options.dpi), static_cast<int>(NvUI::UiDpi()))};
            ChangeDpi(gui.GetHandle(), options.dpi);
            PumpMessages();
        }
        RECT window = {};
        ::GetWindowRect(gui.GetHandle(), &window);
        PixelBuffer shot(window.right - window.left, window.bottom - window.top);
        Capture(gui.GetHandle(), shot);
        if (!SavePng(shot, options.folder + L"\\" + label + L"-" + step.name + L".png")) {
            render.Fault(L"the picture could not be saved");
        }
        render.CheckControls(shot);
        if (options.dpi != 0) {
            render.CheckDpi(options.dpi, dpiClient);
        }
        if (options.highContrast) {
            render.CheckThemeColours(shot);
        }
        faults += render.Faults();
    }
    ::DestroyWindow(gui.GetHandle());
    PumpMessages();
    return faults;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    std::vector<std::wstring> languages;
    for (int at = 1; at < argc; ++at) {
        const std::wstring argument = argv[at];
        if (argument.starts_with(L"--dpi=")) {
            options.dpi = static_cast<UINT>(std::wcstoul(argument.c_str() + 6, nullptr, 10));
        } else if (argument == L"--high-contrast") {
            options.highContrast = true;
        } else if (options.folder.empty()) {
            options.folder = argument;
        } else {
            languages.push_back(argument);
        }
    }
    if (languages.empty()) {
        std::fputs("usage: wizard_render FOLDER [--dpi=N] [--high-contrast] LANGUAGE...\n", stderr);
        return 2;
    }
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    Settings& settings = Settings::Instance();
    if (!settings.Load(0, instance, IDR_LOCALIZATIONS) || !settings.Load(1, instance, IDR_CUSTOMIZATIONS)) {
        std::fputs("the string resources are missing\n", stderr);
        return 2;
    }
    const INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    GlyphCheck glyphs;
    int faults = 0;
    for (const std::wstring& language : languages) {
        faults += RenderLanguage(instance, options, language, glyphs);
    }
    return faults == 0 ? 0 : 1;
}
