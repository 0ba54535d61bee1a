#include "app/ui_tool.h"

#include "app/run_report.h"
#include "app/tool_options.h"
#include "app/zip_dropper.h"
#include "base/option_parser.h"
#include "engine/removal_record.h"
#include "engine/ui_tool_lib.h"
#include "logging/nv_qor_log.h"
#include "modules/msi_service.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/privilege.h"
#include "platform/program_trust.h"
#include "platform/security.h"
#include "platform/special_folders.h"
#include "ui/gui_manager.h"
#include "ui/language_select.h"
#include "ui/product_texts.h"

#include <algorithm>
#include <cwchar>

namespace {

bool IsRemovableProduct(const std::wstring& id)
{
    return ::_wcsicmp(id.c_str(), L"logs") != 0 && ::_wcsicmp(id.c_str(), L"quarantine") != 0;
}

bool IsListed(const std::vector<std::wstring>& listed, const std::wstring& id)
{
    for (const std::wstring& entry : listed) {
        if (::_wcsicmp(entry.c_str(), id.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

constexpr const wchar_t* kWorkDirectoryPrefix = L"nv";

// "nv", digits, ".tmp": the names CreateUniqueDirectory gives the work directory.
bool IsWorkDirectoryName(const std::wstring& name)
{
    constexpr size_t kPrefix = 2;
    constexpr size_t kSuffix = 4;
    return name.size() > kPrefix + kSuffix && name.starts_with(kWorkDirectoryPrefix) && name.ends_with(L".tmp") &&
           std::all_of(name.begin() + kPrefix, name.end() - kSuffix, [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// Work directories of runs that were ended before their clean-up. Only the tool's own are taken: a folder of
// that name that is a link, or that another account made, stays. The single-instance guard is held, so none
// belongs to a run still going on.
void RemoveStaleWorkDirectories(const std::wstring& parent)
{
    WIN32_FIND_DATAW found{};
    const UniqueFind find(::FindFirstFileW(MakePath(parent, L"nv*.tmp").c_str(), &found));
    for (BOOL more = static_cast<bool>(find); more; more = ::FindNextFileW(find.get(), &found)) {
        const std::wstring path = MakePath(parent, found.cFileName);
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                FILE_ATTRIBUTE_DIRECTORY ||
            !IsWorkDirectoryName(found.cFileName)) {
            continue;
        }
        const UniqueFile folder(::CreateFileW(LiteralPath(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                              nullptr));
        if (!folder || !NvProgramTrust::IsOwnedByTrustedAccount(folder.get())) {
            NV_QOR_LOG(NvQorLogging::Warning, L"%s: Leaving '%s': it is not the tool's own", NV_LOG_FUNCTION,
                       path.c_str());
            continue;
        }
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Removing the work directory of an earlier run: '%s'", NV_LOG_FUNCTION,
                   path.c_str());
        FileOps::RemoveDirectoryTree(path, true);
    }
}

} // namespace

int UiTool::PrintDetection(const ProductList& products)
{
    bool found = false;
    for (const auto& product : products) {
        const bool detected = product->IsDetected();
        PrintToConsole(L"%s\t%s\t%s", detected ? L"Found" : L"Absent", product->GetId().c_str(),
                       product->GetDisplayName().c_str());
        found = found || (detected && IsRemovableProduct(product->GetId()));
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Detection only: %s", NV_LOG_FUNCTION,
               found ? L"products found" : L"no products found");
    return found ? ExitProductsFound : ExitDone;
}

bool UiTool::AllProductsKnown(const std::vector<std::wstring>& listed, const ProductList& products)
{
    std::vector<std::wstring> ids;
    std::wstring known;
    for (const auto& product : products) {
        ids.push_back(product->GetId());
        known += (known.empty() ? L"" : L", ") + ids.back();
    }
    for (const std::wstring& id : listed) {
        if (!IsListed(ids, id)) {
            NV_QOR_LOG(NvQorLogging::Error, L"%s: Unknown product: %s. Products: %s", NV_LOG_FUNCTION, id.c_str(),
                       known.c_str());
            PrintToConsole(L"Unknown product: %s. Products: %s", id.c_str(), known.c_str());
            return false;
        }
    }
    return true;
}

void UiTool::SelectListedProducts(const std::vector<std::wstring>& listed, const ProductList& products)
{
    for (const auto& product : products) {
        product->SetSelected(IsListed(listed, product->GetId()));
    }
}

UiTool::UiTool(IGuiManager* gui, LanguageSelect* languageSelect, HANDLE stopEvent)
    : m_gui(gui), m_languageSelect(languageSelect), m_stopEvent(stopEvent)
{
}

bool UiTool::ParseCommandLine(const wchar_t* commandLine)
{
    NvOptionParser& parser = NvOptionParser::Instance();
    DeclareToolOptions(parser);
    std::wstring error;
    if (parser.Parse(commandLine)) {
        if (CheckToolOptions(parser, error)) {
            return true;
        }
    } else {
        error = parser.GetErrorText();
    }
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Command-line: '%s'", NV_LOG_FUNCTION,
               commandLine != nullptr ? commandLine : L"");
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Parse error: %s", NV_LOG_FUNCTION, error.c_str());
    PrintToConsole(L"Parse error: %s", error.c_str());
    return false;
}

int UiTool::Execute()
{
    int exitCode = ExitDone;
    if (!Initialize(exitCode)) {
        return exitCode;
    }
    // The engine and its products (with their Lua states) go before the work directory is removed.
    UiToolLib engine(m_workDirectory, LocalizedProductName);
    ProductList products;
    engine.DetectProducts(products);
    if (products.empty()) {
        m_gui->ShowMessage(IGuiManager::ErrorGeneric);
        return ExitError;
    }
    const NvOptionParser& parser = NvOptionParser::Instance();
    if (parser.IsSpecified(L"detect")) {
        return PrintDetection(products);
    }
    // Checked before any page: a mistyped id must not remove the products that were named correctly.
    const std::vector<std::wstring> listed =
        parser.IsSpecified(L"products") ? SplitProductIds(parser.GetValue(L"products")) : std::vector<std::wstring>();
    if (!AllProductsKnown(listed, products)) {
        return ExitError;
    }
    if (m_gui->ShowWelcome() != IGuiManager::Ok) {
        return ExitCancelled;
    }
    if (m_gui->ShowSelect(products) != IGuiManager::Ok) {
        return ExitCancelled;
    }
    if (parser.IsSpecified(L"products")) {
        SelectListedProducts(listed, products);
    }
    m_gui->ShowProgress();
    const UiToolLib::RemovalResult result =
        engine.RemoveProducts(products, [this](const ProductConfig& product, size_t number, size_t count) {
            m_gui->ShowProgressStep(product, number, count);
        });
    const std::vector<ProductOutcome> outcomes = RemovalRecord::Instance().Products();
    switch (result) {
    case UiToolLib::Done:
        m_gui->ShowResult(IGuiManager::Finished, outcomes);
        return ExitDone;
    case UiToolLib::DoneRebootNeeded:
        if (m_gui->ShowResult(IGuiManager::FinishedReboot, outcomes) == IGuiManager::Ok) {
            Reboot();
        }
        return ExitRebootNeeded;
    case UiToolLib::Failed:
    default:
        m_gui->ShowResult(IGuiManager::ErrorGeneric, outcomes);
        return ExitError;
    }
}

bool UiTool::Initialize(int& exitCode)
{
    if (!m_languageSelect->SelectDefaultLanguage()) {
        exitCode = ExitError;
        return false;
    }
    return CheckDebugCommands(exitCode) && CheckPrivileges(exitCode) && CreateWorkDir(exitCode);
}

void UiTool::CleanUp()
{
    RemoveMSIServiceRegistration();
    if (m_removeWorkDirectory && IsDirectory(m_workDirectory)) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Removing '%s'", NV_LOG_FUNCTION, m_workDirectory.c_str());
        FileOps::RemoveDirectoryTree(m_workDirectory, true);
    }
}

bool UiTool::IsStopRequested()
{
    return ::WaitForSingleObject(m_stopEvent, 0) != WAIT_TIMEOUT;
}

bool UiTool::ShowTestUi()
{
    if (m_gui->ShowWelcome() == IGuiManager::Cancel) {
        return false;
    }
    ProductList products;
    for (int n = 1; n <= 10; ++n) {
        products.push_back(std::make_shared<TestProductConfig>(L"id", L"Example product name " + std::to_wstring(n),
                                                               (n - 1) % 3 == 0, false));
    }
    if (m_gui->ShowSelect(products) != IGuiManager::Ok) {
        return false;
    }
    // The pages as a removal of the chosen products would show them: the first one is being removed, and the
    // three results say how it went (failed, removed, removed with a restart needed) and that the others went.
    std::vector<ProductOutcome> outcomes;
    const ProductConfig* first = nullptr;
    for (const auto& product : products) {
        if (product->IsSelected()) {
            first = first != nullptr ? first : product.get();
            outcomes.push_back({product->GetId(),
                                product->GetDisplayName(),
                                product->GetPriority(),
                                product->IsDetected(),
                                true,
                                ProductOutcome::Result::Removed,
                                0,
                                {},
                                {}});
        }
    }
    m_gui->ShowProgress();
    if (first != nullptr) {
        m_gui->ShowProgressStep(*first, 1, outcomes.size());
    }
    // The result pages follow only while the window is still there two seconds after the progress page.
    if (::WaitForSingleObject(m_stopEvent, 2000) == WAIT_TIMEOUT) {
        const auto showResult = [&](int kind, ProductOutcome::Result first) {
            if (!outcomes.empty()) {
                outcomes.front().result = first;
            }
            m_gui->ShowResult(kind, outcomes);
        };
        showResult(IGuiManager::ErrorGeneric, ProductOutcome::Result::Failed);
        showResult(IGuiManager::Finished, ProductOutcome::Result::Removed);
        showResult(IGuiManager::FinishedReboot, ProductOutcome::Result::RemovedRestartNeeded);
    }
    return true;
}

bool UiTool::CheckDebugCommands(int& exitCode)
{
    if (!NvOptionParser::Instance().IsSpecified(L"testui")) {
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Showing TestUI", NV_LOG_FUNCTION);
    ShowTestUi();
    exitCode = ExitDone;
    return false;
}

bool UiTool::HasAdministratorRights()
{
    return IsAdministrator();
}

bool UiTool::CheckPrivileges(int& exitCode)
{
    if (HasAdministratorRights()) {
        return true;
    }
    m_gui->ShowMessage(IGuiManager::ErrorPrivileges);
    exitCode = ExitNotAdministrator;
    return false;
}

bool UiTool::CreateWorkDir(int& exitCode)
{
    NvOptionParser& parser = NvOptionParser::Instance();
    if (parser.IsSpecified(L"scripts")) {
        m_workDirectory = parser.GetValue(L"scripts");
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Using scripts directory from command-line: %s", NV_LOG_FUNCTION,
                   m_workDirectory.c_str());
        return true;
    }

    m_removeWorkDirectory = true;
    const std::wstring parent = QueryTempDirectory();
    DWORD error = ::GetLastError();
    if (!parent.empty()) {
        RemoveStaleWorkDirectories(parent);
        OwnedSecurityAttributes security;
        if (HasAdministratorRights()) {
            BuildWorkDirectorySecurity(security);
        }
        m_workDirectory = CreateUniqueDirectory(parent, kWorkDirectoryPrefix, security.Get());
        error = ::GetLastError();
    }
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Working directory: %s", NV_LOG_FUNCTION, m_workDirectory.c_str());
    if (m_workDirectory.empty()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to create a working directory in '%s', last error = %lu",
                   NV_LOG_FUNCTION, parent.c_str(), error);
    } else if (ZipDropper::ExtractFilesFromResource(m_workDirectory)) {
        return true;
    } else {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to extract scripts from resources", NV_LOG_FUNCTION);
    }
    m_gui->ShowMessage(IGuiManager::ErrorGeneric);
    exitCode = ExitError;
    return false;
}

void UiTool::Reboot()
{
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Restart requested", NV_LOG_FUNCTION);
    m_rebootRequested = true;
}

void RequestRestart()
{
    NvPrivilege shutdown(L"SeShutdownPrivilege");
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Requesting a restart", L"RequestRestart");
    if (!::ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG,
                         SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_MAINTENANCE)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to request a restart, last error = %lu", L"RequestRestart",
                   ::GetLastError());
        return;
    }
    RunReport::Instance().SetRestartStarted();
}
