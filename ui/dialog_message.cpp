#include "resources/dialog_controls.h"
#include "resources/resource.h"
#include "ui/gui_manager.h"
#include "ui/settings.h"
#include "ui/wizard_pages.h"

DialogMessage::DialogMessage(UniqueFont pageFont, int kind) : DialogChild(std::move(pageFont)), m_kind(kind) {}

HWND DialogMessage::CreatePage(HINSTANCE instance, HWND parent)
{
    return CreateFromTemplate(instance, IDD_MESSAGE, parent);
}

INT_PTR DialogMessage::OnInitDialog()
{
    Settings& settings = Settings::Instance();
    const wchar_t* textKey = L"ErrorGeneric";
    unsigned picture = IDB_PICTURE_ERROR;
    switch (m_kind) {
    case IGuiManager::ErrorPrivileges:
        textKey = L"ErrorPrivileges";
        break;
    case IGuiManager::Finished:
        textKey = L"Finished";
        picture = IDB_PICTURE_SUCCESS;
        break;
    case IGuiManager::FinishedReboot:
        textKey = L"FinishedReboot";
        picture = IDB_PICTURE_INFORMATION;
        break;
    default:
        break;
    }
    const bool offersRestart = m_kind == IGuiManager::FinishedReboot;

    AttachText(m_message, IDC_MESSAGE_TEXT, PageFont(), settings.GetLocalized(textKey), NvUI::Colors::Black);
    AttachButton(m_restart, IDOK, offersRestart ? settings.GetLocalized(L"Reboot") : std::wstring(), true);
    AttachButton(m_close, IDCANCEL, settings.GetLocalized(L"Close"), !offersRestart);
    m_image.Attach(::GetDlgItem(m_window, IDC_PICTURE));
    if (offersRestart) {
        m_restart.Show(SW_SHOW);
    }
    // Enter answers the filled button: "Restart" where it is offered, "Close" otherwise.
    SetDefaultButton(offersRestart ? IDOK : IDCANCEL);
    m_image.SetImage(NvUI::LoadImageResource(Instance(), picture, L"PNG"), false);
    return 1;
}
