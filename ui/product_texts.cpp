#include "ui/product_texts.h"

#include "ui/settings.h"

namespace {

const wchar_t* OutcomeKey(ProductOutcome::Result result)
{
    switch (result) {
    case ProductOutcome::Result::Removed:
        return L"ResultRemoved";
    case ProductOutcome::Result::RemovedRestartNeeded:
        return L"ResultRemovedReboot";
    case ProductOutcome::Result::Failed:
        return L"ResultFailed";
    default:
        // Not selected, or never reached: nothing to report about it.
        return nullptr;
    }
}

} // namespace

std::wstring LocalizedProductName(const std::wstring& id)
{
    std::wstring name;
    Settings::Instance().FindLocalized(L"ProductId_" + id, name);
    return name;
}

std::wstring ShownProductName(const std::wstring& id, const std::wstring& displayName)
{
    return displayName.empty() ? Settings::Instance().GetLocalized(L"ProductId_" + id) : displayName;
}

std::wstring ProgressStepText(const std::wstring& name, size_t number, size_t count)
{
    std::wstring text = Settings::Instance().GetLocalized(L"RemovingProduct");
    text = FillPlaceholder(std::move(text), L"%NUMBER%", std::to_wstring(number));
    text = FillPlaceholder(std::move(text), L"%COUNT%", std::to_wstring(count));
    // Last: a product name is the script's text and may itself hold a placeholder's spelling.
    return FillPlaceholder(std::move(text), L"%PRODUCT%", name);
}

std::vector<ResultLine> ResultLines(const std::vector<ProductOutcome>& outcomes)
{
    Settings& settings = Settings::Instance();
    std::vector<ResultLine> lines;
    for (const ProductOutcome& outcome : outcomes) {
        if (const wchar_t* key = OutcomeKey(outcome.result)) {
            lines.push_back(
                {ShownProductName(outcome.id, outcome.displayName), settings.GetLocalized(key), outcome.result});
        }
    }
    return lines;
}
