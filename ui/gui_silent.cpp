#include "ui/gui_manager.h"

#include "logging/nv_qor_log.h"
#include "ui/product_texts.h"
#include "ui/settings.h"

int GuiSilent::ShowMessage(int kind)
{
    const wchar_t* key = kind == ErrorGeneric      ? L"ErrorGeneric"
                         : kind == ErrorPrivileges ? L"ErrorPrivileges"
                                                   : nullptr;
    if (key != nullptr) {
        PrintToConsole(L"%s", Settings::Instance().GetLocalized(key).c_str());
    }
    // Never 1: silent runs never restart the computer.
    return Cancel;
}

int GuiSilent::ShowResult(int kind, const std::vector<ProductOutcome>& outcomes)
{
    for (const ResultLine& line : ResultLines(outcomes)) {
        PrintToConsole(L"%s: %s", line.name.c_str(), line.outcome.c_str());
    }
    return ShowMessage(kind);
}

void SelectAllButLogs(const ProductList& products)
{
    for (const auto& product : products) {
        product->SetSelected(product->GetId() != L"logs");
    }
}

int GuiSilent::ShowSelect(const ProductList& products)
{
    SelectAllButLogs(products);
    return Ok;
}
