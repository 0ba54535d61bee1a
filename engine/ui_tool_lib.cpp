#include "engine/ui_tool_lib.h"

#include "engine/product.h"
#include "engine/removal_record.h"
#include "engine/status.h"
#include "logging/nv_qor_log.h"
#include "platform/paths.h"
#include "platform/unique_resource.h"

#include <algorithm>

std::vector<std::wstring> UiToolLib::ListScripts() const
{
    std::vector<std::wstring> paths;
    if (m_scriptDirectory.empty()) {
        return paths;
    }
    WIN32_FIND_DATAW data;
    UniqueFind search(::FindFirstFileW(MakePath(m_scriptDirectory, L"*.lua").c_str(), &data));
    if (!search) {
        return paths;
    }
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            paths.push_back(MakePath(m_scriptDirectory, data.cFileName));
        }
    } while (::FindNextFileW(search.get(), &data));
    return paths;
}

void UiToolLib::DetectProducts(ProductList& products)
{
    Status::Instance().Reset();
    products.clear();
    const std::vector<std::wstring> paths = ListScripts();
    if (paths.empty()) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Could not find any scripts from %s", L"UiToolLib::DetectProducts",
                   m_scriptDirectory.c_str());
        return;
    }
    for (const std::wstring& path : paths) {
        auto product = std::make_shared<Product>();
        if (product->Load(path)) {
            products.push_back(std::move(product));
        }
    }
    // Stable: products of equal priority are removed in the order in which their files were listed.
    std::stable_sort(products.begin(), products.end(),
                     [](const auto& left, const auto& right) { return left->GetPriority() < right->GetPriority(); });
    RemovalRecord::Instance().SetProducts(products);
}

UiToolLib::RemovalResult UiToolLib::RemoveProducts(const ProductList& products)
{
    Status::Instance().Reset();
    RemovalRecord::Instance().BeginRemoval(products);
    for (size_t index = 0; index < products.size(); ++index) {
        auto* product = dynamic_cast<Product*>(products[index].get());
        if (product == nullptr || !product->IsSelected()) {
            continue;
        }
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Removing product: %s (%s)", L"UiToolLib::RemoveProducts",
                   product->GetId().c_str(), product->GetDisplayName().c_str());
        CleanupWatch watch;
        product->Remove();
        watch.Finish(index);
    }
    const Status& status = Status::Instance();
    return status.IsFailed() ? Failed : status.IsRebootNeeded() ? DoneRebootNeeded : Done;
}
