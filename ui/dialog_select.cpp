#include "logging/nv_qor_log.h"
#include "resources/dialog_controls.h"
#include "resources/resource.h"
#include "ui/gui_manager.h"
#include "ui/product_texts.h"
#include "ui/settings.h"
#include "ui/wizard_pages.h"

#include <commctrl.h>

namespace {

constexpr UINT kUnchecked = 1;
constexpr int kAppendRow = 9999;

UINT StateImage(HWND list, int row)
{
    return (ListView_GetItemState(list, row, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12;
}

} // namespace

DialogSelect::DialogSelect(NvUI::UiFont pageFont, ProductList products)
    : DialogChild(std::move(pageFont)), m_products(std::move(products))
{
}

DialogSelect::~DialogSelect()
{
    if (m_list != nullptr) {
        ::DestroyWindow(m_list);
    }
}

HWND DialogSelect::CreatePage(HINSTANCE instance, HWND parent)
{
    return CreateFromTemplate(instance, IDD_SELECT, parent);
}

INT_PTR DialogSelect::OnInitDialog()
{
    Settings& settings = Settings::Instance();
    SetText(settings.GetLocalized(L"RadioAll"), IDC_RADIO_ALL);
    SetFont(PageFont(), IDC_RADIO_ALL);
    SetText(settings.GetLocalized(L"RadioSelect"), IDC_RADIO_SELECT);
    SetFont(PageFont(), IDC_RADIO_SELECT);
    ::CheckRadioButton(m_window, IDC_RADIO_ALL, IDC_RADIO_SELECT, IDC_RADIO_ALL);

    AttachButton(m_next, IDOK, settings.GetLocalized(L"Next"), true);
    AttachButton(m_cancel, IDCANCEL, settings.GetLocalized(L"Cancel"), false);
    SetDefaultButton(IDOK);

    m_list = ::GetDlgItem(m_window, IDC_PRODUCT_LIST);
    SetFont(PageFont(), IDC_PRODUCT_LIST);
    FillList();
    UpdateNextButton();
    return 1;
}

void DialogSelect::FillList()
{
    if (m_list == nullptr) {
        return;
    }
    Settings& settings = Settings::Instance();
    ListView_SetExtendedListViewStyle(m_list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);

    RECT client = {};
    ::GetClientRect(m_list, &client);
    const int width = client.right - client.left;
    std::wstring nameHeader = settings.GetLocalized(L"Name");
    std::wstring detected = settings.GetLocalized(L"Detected");
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = nameHeader.data();
    column.cx = width * 75 / 100;
    ListView_InsertColumn(m_list, 0, &column);
    // The second column leaves room for a vertical scroll bar.
    column.pszText = detected.data();
    column.cx = width - column.cx - ::GetSystemMetrics(SM_CXVSCROLL);
    ListView_InsertColumn(m_list, 1, &column);

    for (size_t index = 0; index < m_products.size(); ++index) {
        const ProductConfig& product = *m_products[index];
        std::wstring name = ShownProductName(product.GetId(), product.GetDisplayName());
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = kAppendRow;
        item.pszText = name.data();
        item.lParam = static_cast<LPARAM>(index);
        const int row = ListView_InsertItem(m_list, &item);
        if (row < 0) {
            continue;
        }
        if (product.IsDetected()) {
            ListView_SetItemText(m_list, row, 1, detected.data());
        }
        ListView_SetItemState(m_list, row, INDEXTOSTATEIMAGEMASK(product.IsSelected() ? 2 : kUnchecked),
                              LVIS_STATEIMAGEMASK);
    }
    // Tabbing into the list lands on the first row, so that Space ticks it at once.
    ListView_SetItemState(m_list, 0, LVIS_FOCUSED, LVIS_FOCUSED);
}

void DialogSelect::UpdateNextButton()
{
    bool enable = ::IsDlgButtonChecked(m_window, IDC_RADIO_ALL) == BST_CHECKED;
    if (!enable && m_list != nullptr) {
        const int rows = ListView_GetItemCount(m_list);
        for (int row = 0; row < rows && !enable; ++row) {
            enable = StateImage(m_list, row) != kUnchecked;
        }
    }
    m_next.Enable(enable);
}

INT_PTR DialogSelect::OnCommand(int id, int code, HWND)
{
    switch (id) {
    case IDOK:
        if (!HasAnswered()) {
            SaveProductSelections();
            Forward(IDOK, code);
        }
        return 0;
    case IDCANCEL:
        Forward(IDCANCEL, code);
        return 0;
    case IDC_RADIO_ALL:
    case IDC_RADIO_SELECT:
        if (m_list != nullptr) {
            ::ShowWindow(m_list, id == IDC_RADIO_SELECT ? SW_SHOW : SW_HIDE);
        }
        UpdateNextButton();
        return 1;
    default:
        return 1;
    }
}

INT_PTR DialogSelect::OnMessage(UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_PRODUCT_LIST && header->code == LVN_ITEMCHANGED) {
            UpdateNextButton();
        }
    }
    return 0;
}

void DialogSelect::OnDestroy()
{
    // The list went with the page.
    m_list = nullptr;
}

void DialogSelect::SaveProductSelections()
{
    if (::IsDlgButtonChecked(m_window, IDC_RADIO_ALL) == BST_CHECKED) {
        SelectAllButLogs(m_products);
        return;
    }
    const int rows = ListView_GetItemCount(m_list);
    for (int row = 0; row < rows; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        ListView_GetItem(m_list, &item);
        const UINT state = StateImage(m_list, row);
        const auto index = static_cast<size_t>(item.lParam);
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Item: %d, param: %Iu, state: %lu", NV_LOG_FUNCTION, row, index,
                   static_cast<unsigned long>(state - 1));
        if (index < m_products.size()) {
            m_products[index]->SetSelected(state != kUnchecked);
        }
    }
}
