#include "logging/nv_qor_log.h"
#include "resources/dialog_controls.h"
#include "resources/resource.h"
#include "ui/settings.h"
#include "ui/wizard_pages.h"

DialogWelcome::DialogWelcome(NvUI::UiFont pageFont, NvUI::UiFont titleFont, NvUI::UiFont smallFont)
    : DialogChild(std::move(pageFont)), m_titleFont(std::move(titleFont)), m_smallFont(std::move(smallFont))
{
}

HWND DialogWelcome::CreatePage(HINSTANCE instance, HWND parent)
{
    return CreateFromTemplate(instance, IDD_WELCOME, parent);
}

INT_PTR DialogWelcome::OnInitDialog()
{
    Settings& settings = Settings::Instance();
    AttachText(m_title, IDC_WELCOME_TITLE, m_titleFont.Get(), settings.GetLocalized(L"Title"), NvUI::Colors::BrandBlue);
    AttachText(m_message, IDC_MESSAGE_TEXT, PageFont(), settings.GetLocalized(L"Welcome"), NvUI::Colors::Black);
    AttachButton(m_start, IDOK, settings.GetLocalized(L"Start"), true);
    SetDefaultButton(IDOK);

    m_copyright.Attach(::GetDlgItem(m_window, IDC_COPYRIGHT));
    m_copyright.SetFont(m_smallFont.Get());
    m_copyright.SetLinkColors(NvUI::Colors::BrandBlue, NvUI::Colors::BrandBlueHover);
    m_copyright.SetLinkText(FillPlaceholder(settings.GetLocalized(L"CopyrightNV"), L"%YEAR%", L"2016-2019"));
    m_copyright.SetTextColor(NvUI::Colors::SmallPrint);

    AttachText(m_luaNotice, IDC_LUA_NOTICE, m_smallFont.Get(), settings.GetCustomization(L"LuaCopyright"),
               NvUI::Colors::SmallPrint);
    AttachText(m_zlibNotice, IDC_ZLIB_NOTICE, m_smallFont.Get(), settings.GetCustomization(L"ZlibCopyright"),
               NvUI::Colors::SmallPrint);
    return 1;
}

std::vector<NvUI::UiFont*> DialogWelcome::Fonts()
{
    std::vector<NvUI::UiFont*> fonts = DialogChild::Fonts();
    fonts.push_back(&m_titleFont);
    fonts.push_back(&m_smallFont);
    return fonts;
}

INT_PTR DialogWelcome::OnCommand(int id, int code, HWND control)
{
    if (id != IDC_COPYRIGHT) {
        return DialogChild::OnCommand(id, code, control);
    }
    // The licence terms open in the browser; the page stays.
    const std::wstring address = Settings::Instance().GetCustomization(L"UrlEULT");
    if (LaunchUrl(address)) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Launched URL: %ls", L"DialogChild::LaunchUrl", address.c_str());
    } else {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to launch URL: %ls", L"DialogChild::LaunchUrl", address.c_str());
    }
    return 0;
}
