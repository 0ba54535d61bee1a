#include "engine/ui_tool_lib.h"

#include "base/unique_resource.h"
#include "engine/product.h"
#include "engine/removal_record.h"
#include "logging/nv_qor_log.h"
#include "modules/status.h"
#include "platform/paths.h"

#include <algorithm>
#include <cwchar>

namespace {

// The file system also matches "*.lua" against short names and lets a three-letter extension match longer
// ones, so a.lua_old, a.lua~ and a.luac come back from that search; only ".lua" itself names a script.
bool HasScriptExtension(const wchar_t* name)
{
    const wchar_t* extension = std::wcsrchr(name, L'.');
    return extension != nullptr && ::_wcsicmp(extension, L".lua") == 0;
}

} // namespace

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
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && HasScriptExtension(data.cFileName)) {
            paths.push_back(MakePath(m_scriptDirectory, data.cFileName));
        }
    } while (::FindNextFileW(search.get(), &data));
    return paths;
}

void UiToolLib::DetectProducts(ProductList& products)
{
    Status::Instance().Reset();
    products.clear();
    m_unloadedScripts.clear();
    const std::vector<std::wstring> paths = ListScripts();
    if (paths.empty()) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Could not find any scripts from %s", NV_LOG_FUNCTION,
                   m_scriptDirectory.c_str());
        return;
    }
    for (const std::wstring& path : paths) {
        auto product = std::make_shared<Product>();
        if (product->Load(path)) {
            if (product->GetDisplayName().empty() && m_fallbackName) {
                product->SetDisplayName(m_fallbackName(product->GetId()));
            }
            products.push_back(std::move(product));
        } else if (product->LoadFailed()) {
            NV_QOR_LOG(NvQorLogging::Error, L"%s: Script '%s' failed to load", NV_LOG_FUNCTION, path.c_str());
            m_unloadedScripts.push_back(path);
        }
    }
    // Stable: products of equal priority are removed in the order in which their files were listed.
    std::stable_sort(products.begin(), products.end(),
                     [](const auto& left, const auto& right) { return left->GetPriority() < right->GetPriority(); });
    RemovalRecord::Instance().SetProducts(products);
}

UiToolLib::RemovalResult UiToolLib::RemoveProducts(const ProductList& products, const StepObserver& onStep)
{
    Status::Instance().Reset();
    RemovalRecord::Instance().BeginRemoval(products);
    std::vector<size_t> selected;
    for (size_t index = 0; index < products.size(); ++index) {
        const auto* product = dynamic_cast<const Product*>(products[index].get());
        if (product != nullptr && product->IsSelected()) {
            selected.push_back(index);
        }
    }
    for (size_t step = 0; step < selected.size(); ++step) {
        const size_t index = selected[step];
        auto& product = static_cast<Product&>(*products[index]);
        if (onStep) {
            onStep(product, step + 1, selected.size());
        }
        CleanupWatch watch;
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Removing product: %s (%s)", NV_LOG_FUNCTION,
                   ClipForLog(product.GetId()).c_str(), ClipForLog(product.GetDisplayName()).c_str());
        product.Remove();
        watch.Finish(index);
    }
    // The products that did load have been removed; those that did not may still be on the machine.
    for (const std::wstring& path : m_unloadedScripts) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed, script '%s' did not load", NV_LOG_FUNCTION, path.c_str());
        Status::Instance().SetFailed();
    }
    const Status& status = Status::Instance();
    return status.IsFailed() ? Failed : status.IsRebootNeeded() ? DoneRebootNeeded : Done;
}
