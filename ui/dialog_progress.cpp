#include "resources/dialog_controls.h"
#include "resources/resource.h"
#include "ui/settings.h"
#include "ui/wizard_pages.h"

DialogProgress::DialogProgress(NvUI::UiFont pageFont) : DialogChild(std::move(pageFont)) {}

HWND DialogProgress::CreatePage(HINSTANCE instance, HWND parent)
{
    return CreateFromTemplate(instance, IDD_PROGRESS, parent);
}

INT_PTR DialogProgress::OnInitDialog()
{
    Settings& settings = Settings::Instance();
    m_spinner.Attach(::GetDlgItem(m_window, IDC_SPINNER));
    m_spinner.SetColor(NvUI::Colors::BrandBlue);
    AttachText(m_message, IDC_MESSAGE_TEXT, PageFont(), settings.GetLocalized(L"Removing"), NvUI::Colors::Black);
    // The removal cannot be interrupted once it runs.
    AttachButton(m_cancel, IDCANCEL, settings.GetLocalized(L"Cancel"), false);
    m_cancel.Enable(false);
    SetDefaultButton(IDCANCEL);
    return 1;
}

void DialogProgress::ShowStep(const std::wstring& text)
{
    m_message.SetText(text);
}
