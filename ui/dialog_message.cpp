#include "logging/nv_qor_log.h"
#include "resources/dialog_controls.h"
#include "resources/resource.h"
#include "ui/gui_manager.h"
#include "ui/settings.h"
#include "ui/wizard_pages.h"

#include <commctrl.h>

#include <algorithm>

namespace {

// The room a list view leaves around a cell's text (as its own automatic column width does).
constexpr int kCellPadding = 12;

} // namespace

DialogMessage::DialogMessage(NvUI::UiFont pageFont, int kind, std::vector<ResultLine> lines, std::wstring logFile)
    : DialogChild(std::move(pageFont)), m_kind(kind), m_lines(std::move(lines)), m_logFile(std::move(logFile))
{
}

HWND DialogMessage::CreatePage(HINSTANCE instance, HWND parent)
{
    return CreateFromTemplate(instance, m_lines.empty() ? IDD_MESSAGE : IDD_RESULT, parent);
}

INT_PTR DialogMessage::OnInitDialog()
{
    Settings& settings = Settings::Instance();
    const wchar_t* textKey = L"ErrorGeneric";
    unsigned picture = IDB_PICTURE_ERROR;
    bool failed = false;
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
        failed = true;
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

    FillResultList();
    if (failed && !m_lines.empty()) {
        AttachText(m_nextSteps, IDC_NEXT_STEPS, PageFont(), settings.GetLocalized(L"NextSteps"), NvUI::Colors::Black);
        m_nextSteps.Show(SW_SHOW);
    }
    if (!m_logFile.empty()) {
        m_logLink.Attach(::GetDlgItem(m_window, IDC_LOG_LINK));
        m_logLink.SetFont(PageFont());
        m_logLink.SetLinkColors(NvUI::Colors::BrandBlue, NvUI::Colors::BrandBlueHover);
        m_logLink.SetLinkText(L"[#]" + settings.GetLocalized(L"ShowLog") + L"[#]");
        m_logLink.Show(SW_SHOW);
    }
    return 1;
}

void DialogMessage::FillResultList()
{
    const HWND list = ::GetDlgItem(m_window, IDC_RESULT_LIST);
    if (list == nullptr) {
        return;
    }
    SetFont(PageFont(), IDC_RESULT_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    ListView_InsertColumn(list, 0, &column);
    ListView_InsertColumn(list, 1, &column);
    for (ResultLine& line : m_lines) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = ListView_GetItemCount(list);
        item.pszText = line.name.data();
        const int row = ListView_InsertItem(list, &item);
        if (row >= 0) {
            ListView_SetItemText(list, row, 1, line.outcome.data());
        }
    }
    SizeResultColumns();
}

void DialogMessage::SizeResultColumns()
{
    const HWND list = ::GetDlgItem(m_window, IDC_RESULT_LIST);
    if (list == nullptr) {
        return;
    }
    // The outcome column is as wide as its longest text; the names take the rest, less a scroll bar.
    int outcomeWidth = 0;
    for (const ResultLine& line : m_lines) {
        outcomeWidth = std::max(outcomeWidth, ListView_GetStringWidth(list, line.outcome.c_str()) + kCellPadding);
    }
    RECT client = {};
    ::GetClientRect(list, &client);
    ListView_SetColumnWidth(list, 0, client.right - outcomeWidth - ::GetSystemMetrics(SM_CXVSCROLL));
    ListView_SetColumnWidth(list, 1, outcomeWidth);
}

INT_PTR DialogMessage::OnCommand(int id, int code, HWND control)
{
    if (id != IDC_LOG_LINK) {
        return DialogChild::OnCommand(id, code, control);
    }
    // The log's folder opens with the file selected; the page stays.
    if (ShowInFolder(m_logFile)) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Showed the log file: %s", NV_LOG_FUNCTION, m_logFile.c_str());
    } else {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to show the log file: %s", NV_LOG_FUNCTION, m_logFile.c_str());
    }
    return 0;
}
