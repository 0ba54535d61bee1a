#include "modules/msi_cleanup.h"

#include "logging/nv_qor_log.h"
#include "modules/msi_guid.h"
#include "modules/msi_registry_index.h"
#include "modules/reg_ops.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

using MsiRegistryIndex::ComponentIndex;
using MsiRegistryIndex::ProductIndex;

// The local system's (per-machine) installer data.
constexpr wchar_t kMachineProductsKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
const std::wstring kMachineComponentsKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";

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
    {HKEY_LOCAL_MACHINE, kMachineProductsKey, KEY_WOW64_64KEY},
};

// The 32-bit view first.
const Location kUninstallLocations[] = {
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", KEY_WOW64_32KEY},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", KEY_WOW64_64KEY},
};

std::wstring Below(const wchar_t* key, const std::wstring& name)
{
    return std::wstring(key) + L'\\' + name;
}

bool Contains(const std::vector<std::wstring>& names, const std::wstring& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// How a key is named in the log: "HKLM\<path> (64-bit)".
std::wstring KeyName(HKEY root, const std::wstring& path, DWORD flags)
{
    return std::wstring(root == HKEY_CLASSES_ROOT ? L"HKCR\\" : L"HKLM\\") + path +
           ((flags & KEY_WOW64_32KEY) != 0 ? L" (32-bit)" : L" (64-bit)");
}

// Deletes a key of the Installer's data with everything below it; one that is there is named in the log first.
// Only a key known to be missing goes unnamed: one whose existence cannot be read is deleted by force too.
bool WipeInstallerKey(const wchar_t* caller, HKEY root, const std::wstring& path, DWORD flags)
{
    Win32Registry registry;
    registry.SetRoot(root);
    registry.SetAccessFlags(flags);
    RegistryError code = RegistryError::Success;
    if (!registry.KeyExists(path, &code) && code == RegistryError::NotFound) {
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Deleting key %s", caller, KeyName(root, path, flags).c_str());
    return RegOps::WipeBranch(root, path, flags);
}

// The index only says which components may name the product; what is deleted is decided from a fresh listing
// of each, so that a client added since the index was read keeps its component, and a component whose values
// cannot be listed is never taken for one without the product.
bool RemoveComponentReferences(const wchar_t* caller, const std::wstring& componentsKey,
                               const std::wstring& packedProduct)
{
    MsiRegistryIndex::PackedCode product;
    std::vector<ComponentIndex::Candidate> candidates;
    ComponentIndex& index = MsiRegistryIndex::MachineComponents();
    if (!MsiRegistryIndex::ParsePackedCode(packedProduct, product) || !index.Find(componentsKey, product, candidates)) {
        return false;
    }
    bool removed = true;
    for (const ComponentIndex::Candidate& candidate : candidates) {
        const std::wstring componentKey = Below(componentsKey.c_str(), candidate.name);
        std::vector<std::wstring> clients;
        const RegistryError listed =
            MsiRegistryIndex::ListValueNames(HKEY_LOCAL_MACHINE, componentKey, KEY_WOW64_64KEY, clients);
        if (listed == RegistryError::NotFound) {
            index.Remove(candidate.entry);
            continue;
        }
        if (listed != RegistryError::Success) {
            index.MarkUnknown(candidate.entry);
            removed = false;
            continue;
        }
        // Windows Installer writes packed codes in upper case; a code given in lower case names the same client.
        MsiRegistryIndex::PackedCode client;
        const auto reference = std::find_if(clients.begin(), clients.end(), [&](const std::wstring& name) {
            return MsiRegistryIndex::ParsePackedCode(name, client) && client == product;
        });
        if (reference == clients.end()) {
            index.Update(candidate.entry, clients);
            continue;
        }
        // Another product still using the component keeps it.
        if (clients.size() == 1) {
            if (WipeInstallerKey(caller, HKEY_LOCAL_MACHINE, componentKey, KEY_WOW64_64KEY)) {
                index.Remove(candidate.entry);
                continue;
            }
        } else {
            NV_QOR_LOG(NvQorLogging::Info, L"%s: Deleting value '%s' of key %s", caller, reference->c_str(),
                       KeyName(HKEY_LOCAL_MACHINE, componentKey, KEY_WOW64_64KEY).c_str());
            if (RegOps::DeleteKey(HKEY_LOCAL_MACHINE, componentKey, *reference, KEY_WOW64_64KEY)) {
                clients.erase(reference);
                index.Update(candidate.entry, clients);
                continue;
            }
        }
        index.MarkUnknown(candidate.entry);
        removed = false;
    }
    index.EndOwnChanges();
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
        const bool wiped = WipeInstallerKey(caller, location.root, Below(location.key, packedProduct), location.flags);
        removed &= wiped;
        if (location.key == kMachineProductsKey) {
            ProductIndex& products = MsiRegistryIndex::MachineProducts();
            // A product whose key resisted is in an unknown state: the next search reads the key again.
            if (wiped) {
                products.Remove(packedProduct);
                products.EndOwnChanges();
            } else {
                products.Drop();
            }
        }
    }
    removed &= RemoveComponentReferences(caller, kMachineComponentsKey, packedProduct);
    for (const Location& location : kUninstallLocations) {
        removed &= WipeInstallerKey(caller, location.root, Below(location.key, productCode), location.flags);
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
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
    for (const std::wstring& packedProduct : FindProductsOfUpgradeCode(packedUpgradeCode)) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Removing product '%s', based on upgrade code '%s'", kCaller,
                   packedProduct.c_str(), packedUpgradeCode.c_str());
        // The upgrade code goes even when a product's keys resist.
        CleanupPackedProductCode(packedProduct, kCaller);
    }
    bool removed = true;
    for (const Location& location : kUpgradeCodeLocations) {
        removed &= WipeInstallerKey(kCaller, location.root, Below(location.key, packedUpgradeCode), location.flags);
    }
    return removed;
}

// Cleans up the first machine product that `matches` after `read` has loaded what it looks at. A search that
// could not read every product it passed over has not shown that no product matches.
template <typename Matches, typename Resolved>
bool CleanupFirstMatchingProduct(const wchar_t* caller,
                                 bool (ProductIndex::*read)(const std::wstring&, ProductIndex::Product&),
                                 Matches matches, Resolved resolved)
{
    ProductIndex& index = MsiRegistryIndex::MachineProducts();
    std::vector<ProductIndex::Product>* products = index.Products(kMachineProductsKey);
    if (products == nullptr) {
        return false;
    }
    bool complete = true;
    for (ProductIndex::Product& product : *products) {
        if (!(index.*read)(kMachineProductsKey, product)) {
            complete = false;
        } else if (matches(product)) {
            // A copy: the clean-up takes the product out of the index.
            const std::wstring packedProduct = product.packed;
            resolved(packedProduct);
            return CleanupPackedProductCode(packedProduct, caller);
        }
    }
    return complete;
}

} // namespace

namespace MsiCleanup {

bool CleanupUpgradeCode(const std::wstring& upgradeCode)
{
    const std::wstring packed = PackGuid(upgradeCode);
    if (packed.empty()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Invalid upgrade code : %s", NV_LOG_FUNCTION, upgradeCode.c_str());
        return false;
    }
    return CleanupTransformedUpgradeCode(packed);
}

bool CleanupProductCode(const std::wstring& productCode)
{
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
    const std::wstring packed = PackGuid(productCode);
    if (packed.empty()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Invalid product code : %s", kCaller, productCode.c_str());
        return false;
    }
    return CleanupPackedProductCode(packed, kCaller);
}

bool CleanupProductBasedOnFeature(const std::wstring& feature)
{
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
    if (feature.empty()) {
        return false;
    }
    return CleanupFirstMatchingProduct(
        kCaller, &ProductIndex::ReadFeatures,
        [&](const ProductIndex::Product& product) { return Contains(product.features, feature); },
        [&](const std::wstring& packedProduct) {
            NV_QOR_LOG(NvQorLogging::Info, L"%s: Resolved feature '%s' to product code '%s'", kCaller, feature.c_str(),
                       packedProduct.c_str());
        });
}

bool CleanupProductBasedOnNameAndPublisher(const std::wstring& nameMask, const std::wstring& publisher)
{
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
    return CleanupFirstMatchingProduct(
        kCaller, &ProductIndex::ReadProperties,
        [&](const ProductIndex::Product& product) {
            return product.publisher == publisher && MatchesMask(product.displayName, nameMask, false);
        },
        [&](const std::wstring& packedProduct) {
            NV_QOR_LOG(NvQorLogging::Info, L"%s: Resolved name '%s', publisher '%s' to product code '%s'", kCaller,
                       nameMask.c_str(), publisher.c_str(), packedProduct.c_str());
        });
}

} // namespace MsiCleanup
