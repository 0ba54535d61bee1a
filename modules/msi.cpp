#include "base/text_conversion.h"
#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"
#include "modules/host_module.h"
#include "modules/lua_arguments.h"
#include "modules/msi_cleanup.h"
#include "modules/msi_log.h"
#include "modules/msi_service.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cwchar>
#include <string>
#include <vector>

// Every call into msi.dll is made from this file: the library is bound lazily, by ordinal, and the set of its
// functions the tool may call is fixed.

namespace {

// The kinds of message the external handler asks for: fatal exit, error, warning, resolve source and out of
// disk space.
constexpr DWORD kMessageFilter = INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING |
                                 INSTALLLOGMODE_RESOLVESOURCE | INSTALLLOGMODE_OUTOFDISKSPACE;
// A product code in text form and its terminating NUL.
constexpr size_t kProductCodeBuffer = 39;

// Windows Installer calls it while MsiConfigureProductW runs, on a thread of its own; it only logs and keeps no
// state.
int WINAPI MsiMessageCallback(void* /*context*/, UINT messageType, const wchar_t* message)
{
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
    const UINT kind = messageType & 0xFF000000;
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: %x", kCaller, kind);
    const wchar_t* text = message != nullptr ? message : L"";
    switch (kind) {
    case INSTALLMESSAGE_FATALEXIT:
        NV_QOR_LOG(NvQorLogging::Fatal, L"%s: MSI: %s", kCaller, text);
        return IDOK;
    case INSTALLMESSAGE_ERROR:
        NV_QOR_LOG(NvQorLogging::Error, L"%s: MSI: %s", kCaller, text);
        return IDOK;
    case INSTALLMESSAGE_WARNING:
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: MSI: %s", kCaller, text);
        return IDOK;
    case INSTALLMESSAGE_RESOLVESOURCE:
        return IDOK;
    case INSTALLMESSAGE_OUTOFDISKSPACE:
        NV_QOR_LOG(NvQorLogging::Error, L"%s: MSI reports out of disk space", kCaller);
        return IDABORT;
    default:
        return 0;
    }
}

bool StartMSIServiceForThisBoot()
{
    return StartMSIServiceIfNeeded(::GetSystemMetrics(SM_CLEANBOOT));
}

// All related products are listed before any is removed: removing one renumbers the enumeration.
std::vector<std::wstring> GetProductCodesFromUpgradeCode(const std::wstring& upgradeCode)
{
    std::vector<std::wstring> products;
    for (DWORD index = 0;; ++index) {
        wchar_t product[kProductCodeBuffer] = {};
        const UINT result = ::MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, index, product);
        if (result != ERROR_SUCCESS) {
            if (result != ERROR_NO_MORE_ITEMS) {
                NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to enumerate products for '%s': %u",
                           L"Lua::Msi::GetProductCodesFromUpgradeCode", upgradeCode.c_str(), result);
            }
            return products;
        }
        products.emplace_back(product, ::wcsnlen(product, kProductCodeBuffer));
    }
}

bool UninstallProduct(const std::wstring& upgradeCode, const std::wstring& logFile)
{
    constexpr wchar_t kCaller[] = L"Lua::Msi::UninstallProduct";
    if (!StartMSIServiceForThisBoot()) {
        return false;
    }
    const std::vector<std::wstring> products = GetProductCodesFromUpgradeCode(upgradeCode);
    if (products.empty()) {
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Uninstalling %Iu products from upgrade code '%s'", kCaller, products.size(),
               upgradeCode.c_str());
    if (const std::wstring logPath = InstallerLogPath(logFile); !logPath.empty()) {
        ::MsiEnableLogW(INSTALLLOGMODE_VERBOSE, logPath.c_str(), INSTALLLOGATTRIBUTES_APPEND);
    }
    // Process-wide settings; nothing else in the tool talks to Windows Installer, so they are not restored.
    ::MsiSetInternalUI(static_cast<INSTALLUILEVEL>(INSTALLUILEVEL_NONE | INSTALLUILEVEL_SOURCERESONLY), nullptr);
    ::MsiSetExternalUIW(MsiMessageCallback, kMessageFilter, nullptr);
    bool uninstalled = true;
    for (const std::wstring& product : products) {
        // Success with a restart required (ERROR_SUCCESS_REBOOT_REQUIRED and the like) counts as a failure too.
        const UINT result = ::MsiConfigureProductW(product.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
        if (result != ERROR_SUCCESS) {
            NV_QOR_LOG(NvQorLogging::Error, L"%s: Uninstalling '%s' failed: %u", kCaller, product.c_str(), result);
            uninstalled = false;
        }
    }
    return uninstalled;
}

// Reading the registrations needs no service: detection registers nothing, also in safe mode.
bool DetectUpgradeCode(const std::wstring& upgradeCode)
{
    return !GetProductCodesFromUpgradeCode(upgradeCode).empty();
}

struct MsiHandleTraits {
    using Type = MSIHANDLE;
    static Type Invalid() { return 0; }
    static void Close(Type handle) { ::MsiCloseHandle(handle); }
};
using UniqueMsiHandle = UniqueResource<MsiHandleTraits>;

// The ProductCode of a package's Property table: what the package installs, whatever else its tables mention.
// Empty when the file is no package or has no product code.
std::wstring PackageProductCode(const std::wstring& path)
{
    constexpr wchar_t kCaller[] = L"Lua::Msi::GetPackageProductCode";
    UniqueMsiHandle database;
    UINT result = ::MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, database.put());
    if (result != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Cannot open '%s' as a package: %u", kCaller, path.c_str(), result);
        return {};
    }
    UniqueMsiHandle view;
    UniqueMsiHandle record;
    result = ::MsiDatabaseOpenViewW(database.get(), L"SELECT `Value` FROM `Property` WHERE `Property`='ProductCode'",
                                    view.put());
    if (result == ERROR_SUCCESS) {
        result = ::MsiViewExecute(view.get(), 0);
    }
    if (result == ERROR_SUCCESS) {
        result = ::MsiViewFetch(view.get(), record.put());
    }
    wchar_t code[kProductCodeBuffer] = {};
    DWORD size = kProductCodeBuffer;
    if (result == ERROR_SUCCESS) {
        result = ::MsiRecordGetStringW(record.get(), 1, code, &size);
    }
    if (result != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: No product code in '%s': %u", kCaller, path.c_str(), result);
        return {};
    }
    return std::wstring(code, size);
}

int MsiUninstallProduct(lua_State* state)
{
    const std::string_view upgradeCode = CheckUtf8(state, 1);
    const std::string_view logFile = OptUtf8(state, 2);
    return PushBoolean(state, UninstallProduct(Utf8ToWide(upgradeCode), Utf8ToWide(logFile)));
}

int MsiCleanupRegistryUpgradeCode(lua_State* state)
{
    return PushBoolean(state, MsiCleanup::CleanupUpgradeCode(CheckWideString(state, 1)));
}

int MsiCleanupRegistryProductCode(lua_State* state)
{
    return PushBoolean(state, MsiCleanup::CleanupProductCode(CheckWideString(state, 1)));
}

int MsiCleanupRegistryProductFeature(lua_State* state)
{
    return PushBoolean(state, MsiCleanup::CleanupProductBasedOnFeature(CheckWideString(state, 1)));
}

int MsiCleanupRegistryProductNameAndPublisher(lua_State* state)
{
    const std::string_view nameMask = CheckUtf8(state, 1);
    const std::string_view publisher = CheckUtf8(state, 2);
    return PushBoolean(state,
                       MsiCleanup::CleanupProductBasedOnNameAndPublisher(Utf8ToWide(nameMask), Utf8ToWide(publisher)));
}

int MsiDetectUpgradeCode(lua_State* state)
{
    return PushBoolean(state, DetectUpgradeCode(CheckWideString(state, 1)));
}

int MsiGetPackageProductCode(lua_State* state)
{
    const std::wstring path = CheckWideString(state, 1);
    PushWideString(state, path.empty() ? std::wstring() : PackageProductCode(path));
    return 1;
}

const luaL_Reg kMsiFunctions[] = {
    {"UninstallProduct", MsiUninstallProduct},
    {"CleanupRegistryUpgradeCode", MsiCleanupRegistryUpgradeCode},
    {"CleanupRegistryProductCode", MsiCleanupRegistryProductCode},
    {"CleanupRegistryProductFeature", MsiCleanupRegistryProductFeature},
    {"CleanupRegistryProductNameAndPublisher", MsiCleanupRegistryProductNameAndPublisher},
    {"DetectUpgradeCode", MsiDetectUpgradeCode},
    {"GetPackageProductCode", MsiGetPackageProductCode},
    {nullptr, nullptr},
};

const LuaConstant kMsiConstants[] = {
    {nullptr, 0},
};

} // namespace

void RegisterMsiModule(lua_State* state)
{
    RegisterHostModule(state, "Msi", kMsiFunctions, kMsiConstants);
}
