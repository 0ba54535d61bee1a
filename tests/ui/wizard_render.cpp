// Shows every wizard page in each language given, with the tool's own page code, templates, texts, pictures
// and fonts, saves each as the window looks (caption included) into a PNG file, and checks what a reader
// would see there:
//   - a character that neither the control's font nor any font linked to it has: it is drawn as the font's
//     missing-glyph box (window texts, list rows, and the caption, which the system draws in its caption font);
//   - a wrapped text whose last line holds only a scrap (a lone word or syllable), found in the pixels;
//   - a text that does not fit its control (clipped or cut off with an ellipsis).
//
//   wizard_render FOLDER LANGUAGE...   writes FOLDER\LANGUAGE-N-PAGE.png; one "fault:" line per finding and
//                                      exit code 1 when there is any
#include "engine/product_config.h"
#include "resources/dialog_controls.h"
#include "resources/resource.h"
#include "ui/gui_manager.h"
#include "ui/nvui_graphics.h"
#include "ui/settings.h"

#include "tests/ui/ink_lines.h"
#include "tests/ui/wizard_output.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace Gdiplus::DllExports;

// A wrapped text's last line must be at least this part of its longest line.
constexpr int kShortestLastLinePercent = 30;

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
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < 2; ++column) {
                wchar_t text[256] = {};
                ListView_GetItemText(list, row, column, text, static_cast<int>(std::size(text)));
                CheckGlyphs(L"list row " + std::to_wstring(row), font, text);
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

struct PageStep {
    const wchar_t* name;
    std::function<std::unique_ptr<DialogChild>()> make; // null: the same page, changed by `change`
    std::function<void(HWND page)> change;
};

int RenderLanguage(HINSTANCE instance, const std::wstring& folder, const std::wstring& language, GlyphCheck& glyphs)
{
    if (!Settings::Instance().SelectLanguage(language)) {
        Print(L"fault: " + language + L": no such language");
        return 1;
    }
    const UniqueEvent stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    GuiManager gui(instance, stop.get());
    if (gui.Create(instance, IDD_MAIN, nullptr) == nullptr) {
        Print(L"fault: " + language + L": no main window");
        return 1;
    }
    const ProductList products = SampleProducts();
    const PageStep steps[] = {
        {L"1-welcome", GuiManager::MakeWelcomePage, nullptr},
        {L"2-select", [&products] { return GuiManager::MakeSelectPage(products); }, nullptr},
        {L"3-select-list", nullptr,
         [](HWND page) {
             ::SendMessageW(::GetDlgItem(page, IDC_RADIO_SELECT), BM_CLICK, 0, 0);
             const HWND list = ::GetDlgItem(page, IDC_PRODUCT_LIST);
             ListView_SetCheckState(list, 0, TRUE);
             ListView_SetCheckState(list, 3, TRUE);
         }},
        {L"4-progress", GuiManager::MakeProgressPage, nullptr},
        {L"5-error", [] { return GuiManager::MakeMessagePage(IGuiManager::ErrorGeneric); }, nullptr},
        {L"6-finished", [] { return GuiManager::MakeMessagePage(IGuiManager::Finished); }, nullptr},
        {L"7-restart", [] { return GuiManager::MakeMessagePage(IGuiManager::FinishedReboot); }, nullptr},
        {L"8-privileges", [] { return GuiManager::MakeMessagePage(IGuiManager::ErrorPrivileges); }, nullptr},
    };
    int faults = 0;
    for (const PageStep& step : steps) {
        if (step.make) {
            gui.OnShowDialog(step.make().release());
        }
        PumpMessages();
        PageRender render(language, step.name, gui.GetHandle(), glyphs);
        if (render.Page() == nullptr) {
            render.Fault(L"the page was not shown");
            ++faults;
            continue;
        }
        if (step.change) {
            step.change(render.Page());
            PumpMessages();
        }
        RECT window = {};
        ::GetWindowRect(gui.GetHandle(), &window);
        PixelBuffer shot(window.right - window.left, window.bottom - window.top);
        Capture(gui.GetHandle(), shot);
        if (!SavePng(shot, folder + L"\\" + language + L"-" + step.name + L".png")) {
            render.Fault(L"the picture could not be saved");
        }
        render.CheckControls(shot);
        faults += render.Faults();
    }
    ::DestroyWindow(gui.GetHandle());
    PumpMessages();
    return faults;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fputs("usage: wizard_render FOLDER LANGUAGE...\n", stderr);
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
    for (int at = 2; at < argc; ++at) {
        faults += RenderLanguage(instance, argv[1], argv[at], glyphs);
    }
    return faults == 0 ? 0 : 1;
}
