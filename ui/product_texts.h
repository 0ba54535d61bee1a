#pragma once

#include "engine/removal_record.h"

#include <cstddef>
#include <string>
#include <vector>

// What the pages and the silent console say about products, in the chosen language.

// The localized name of a product that has no display name of its own ("ProductId_<id>"); empty when the
// texts have none.
std::wstring LocalizedProductName(const std::wstring& id);

// The name a person sees: the display name, else the "ProductId_<id>" text ("►ProductId_<id>" when missing).
std::wstring ShownProductName(const std::wstring& id, const std::wstring& displayName);

// The progress page's line for one product: its name and its place in the run.
std::wstring ProgressStepText(const std::wstring& name, size_t number, size_t count);

// One product the removal ran, as the result pages and the silent console show it.
struct ResultLine {
    std::wstring name;
    std::wstring outcome;
    ProductOutcome::Result result;
};

// The products whose clean-up ran, in removal order, with what came of each.
std::vector<ResultLine> ResultLines(const std::vector<ProductOutcome>& outcomes);
