#include "modules/msi_cleanup.h"

#include "logging/nv_qor_log.h"
#include "modules/msi_guid.h"
#include "modules/reg_ops.h"
#include "platform/paths.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

struct Location {
    HKEY root;
    const wchar_t* key;
    DWORD flags;
};

const Location kUpgradeCodeLocations[] = {
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\UpgradeCodes", KEY_WOW64_64KEY},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes", KEY_WOW64_64KEY},
    {HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes", KEY_WOW64_64KEY},
};

const Location kProductLocations[] = {
    {HKEY_CLASSES_ROOT, L"Installer\\Features", KEY_WOW64_64KEY},
    {HKEY_CLASSES_ROOT, L"Installer\\Products", KEY_WOW64_64KEY},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Features", KEY_WOW64_64KEY},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Products", KEY_WOW64_64KEY},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products",
     KEY_WOW64_64KEY},
};

// The 32-bit view first.
const Location kUninstallLocations[] = {
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", KEY_WOW64_32KEY},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", KEY_WOW64_64KEY},
};

// The local system's (per-machine) installer data.
const std::wstring kMachineProductsKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
const std::wstring kMachineComponentsKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";

std::wstring Below(const wchar_t* key, const std::wstring& name)
{
    return std::wstring(key) + L'\\' + name;
}

bool Contains(const std::vector<std::wstring>& names, const std::wstring& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool RemoveComponentReferences(const std::wstring& componentsKey, const std::wstring& packedProduct)
{
    bool removed = true;
    for (const std::wstring& component : RegOps::GetSubkeys(HKEY_LOCAL_MACHINE, componentsKey, KEY_WOW64_64KEY)) {
        const std::wstring componentKey = Below(componentsKey.c_str(), component);
        const std::vector<std::wstring> clients =
            RegOps::GetValueKeys(HKEY_LOCAL_MACHINE, componentKey, KEY_WOW64_64KEY);
        if (!Contains(clients, packedProduct)) {
            continue;
        }
        // Another product still using the component keeps it.
        removed &= clients.size() == 1
                       ? RegOps::WipeBranch(HKEY_LOCAL_MACHINE, componentKey, KEY_WOW64_64KEY)
                       : RegOps::DeleteKey(HKEY_LOCAL_MACHINE, componentKey, packedProduct, KEY_WOW64_64KEY);
    }
    return removed;
}

// The packed code becomes part of key paths that are deleted with everything below them, so it must be exactly
// 32 hexadecimal digits: names read from the registry may be empty (a default value) or hold backslashes, and
// either would aim the deletions at the parent keys of every product.
bool CleanupPackedProductCode(const std::wstring& packedProduct, const wchar_t* caller)
{
    const std::wstring productCode = UnpackGuid(packedProduct);
    if (productCode.empty()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Invalid product code : %s", caller, packedProduct.c_str());
        return false;
    }
    bool removed = true;
    for (const Location& location : kProductLocations) {
        removed &= RegOps::WipeBranch(location.root, Below(location.key, packedProduct), KEY_WOW64_64KEY);
    }
    removed &= RemoveComponentReferences(kMachineComponentsKey, packedProduct);
    for (const Location& location : kUninstallLocations) {
        removed &= RegOps::WipeBranch(location.root, Below(location.key, productCode), location.flags);
    }
    return removed;
}

// The packed product codes filed under the first upgrade-code key that lists any.
std::vector<std::wstring> FindProductsOfUpgradeCode(const std::wstring& packedUpgradeCode)
{
    for (const Location& location : kUpgradeCodeLocations) {
        std::vector<std::wstring> products =
            RegOps::GetValueKeys(location.root, Below(location.key, packedUpgradeCode), location.flags);
        if (!products.empty()) {
            return products;
        }
    }
    return {};
}

bool CleanupTransformedUpgradeCode(const std::wstring& packedUpgradeCode)
{
    constexpr wchar_t kCaller[] = L"MsiCleanup::CleanupTransformedUpgradeCode";
    for (const std::wstring& packedProduct : FindProductsOfUpgradeCode(packedUpgradeCode)) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Removing product '%s', based on upgrade code '%s'", kCaller,
                   packedProduct.c_str(), packedUpgradeCode.c_str());
        // The upgrade code goes even when a product's keys resist.
        CleanupPackedProductCode(packedProduct, kCaller);
    }
    bool removed = true;
    for (const Location& location : kUpgradeCodeLocations) {
        removed &= RegOps::WipeBranch(location.root, Below(location.key, packedUpgradeCode), location.flags);
    }
    return removed;
}

std::wstring MachineProductKey(const std::wstring& packedProduct, const wchar_t* subkey)
{
    return kMachineProductsKey + L'\\' + packedProduct + L'\\' + subkey;
}

} // namespace

namespace MsiCleanup {

bool CleanupUpgradeCode(const std::wstring& upgradeCode)
{
    const std::wstring packed = PackGuid(upgradeCode);
    if (packed.empty()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Invalid upgrade code : %s", L"MsiCleanup::CleanupUpgradeCode",
                   upgradeCode.c_str());
        return false;
    }
    return CleanupTransformedUpgradeCode(packed);
}

bool CleanupProductCode(const std::wstring& productCode)
{
    constexpr wchar_t kCaller[] = L"MsiCleanup::CleanupProductCode";
    const std::wstring packed = PackGuid(productCode);
    if (packed.empty()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Invalid product code : %s", kCaller, productCode.c_str());
        return false;
    }
    return CleanupPackedProductCode(packed, kCaller);
}

bool CleanupProductBasedOnFeature(const std::wstring& feature)
{
    constexpr wchar_t kCaller[] = L"MsiCleanup::CleanupProductBasedOnFeature";
    if (feature.empty()) {
        return false;
    }
    for (const std::wstring& packedProduct :
         RegOps::GetSubkeys(HKEY_LOCAL_MACHINE, kMachineProductsKey, KEY_WOW64_64KEY)) {
        const std::vector<std::wstring> features =
            RegOps::GetValueKeys(HKEY_LOCAL_MACHINE, MachineProductKey(packedProduct, L"Features"), KEY_WOW64_64KEY);
        if (Contains(features, feature)) {
            NV_QOR_LOG(NvQorLogging::Info, L"%s: Resolved feature '%s' to product code '%s'", kCaller, feature.c_str(),
                       packedProduct.c_str());
            return CleanupPackedProductCode(packedProduct, kCaller);
        }
    }
    return true;
}

bool CleanupProductBasedOnNameAndPublisher(const std::wstring& nameMask, const std::wstring& publisher)
{
    constexpr wchar_t kCaller[] = L"MsiCleanup::CleanupProductBasedOnNameAndPublisher";
    for (const std::wstring& packedProduct :
         RegOps::GetSubkeys(HKEY_LOCAL_MACHINE, kMachineProductsKey, KEY_WOW64_64KEY)) {
        const std::wstring properties = MachineProductKey(packedProduct, L"InstallProperties");
        if (RegOps::GetString(HKEY_LOCAL_MACHINE, properties, L"Publisher", KEY_WOW64_64KEY) != publisher ||
            !MatchesMask(RegOps::GetString(HKEY_LOCAL_MACHINE, properties, L"DisplayName", KEY_WOW64_64KEY), nameMask,
                         false)) {
            continue;
        }
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Resolved name '%s', publisher '%s' to product code '%s'", kCaller,
                   nameMask.c_str(), publisher.c_str(), packedProduct.c_str());
        return CleanupPackedProductCode(packedProduct, kCaller);
    }
    return true;
}

} // namespace MsiCleanup
