-- Windows Installer registrations of the product lines: the graceful uninstallation through Windows Installer,
-- and the forced removal of what it leaves behind when a package is broken (cached package deleted, half-removed
-- registration). Products are found by their upgrade codes, by the product codes of released builds and by
-- name and publisher, because a broken registration may have lost any one of these.

local registry = require("norvane_registry")

local installer = {}

local MACHINE_PRODUCTS = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products"
local PRODUCT_KEYS = {"SOFTWARE\\Classes\\Installer\\Products", MACHINE_PRODUCTS}
local UPGRADE_KEYS = {
    "SOFTWARE\\Classes\\Installer\\UpgradeCodes",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes",
}
local UNINSTALL_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
local GUID_PATTERN = "^{(%x%x%x%x%x%x%x%x)%-(%x%x%x%x)%-(%x%x%x%x)%-(%x%x%x%x)%-(%x%x%x%x%x%x%x%x%x%x%x%x)}$"

local function Reverse(text)
    return text:reverse()
end

local function SwapPairs(text)
    return (text:gsub("(.)(.)", "%2%1"))
end

-- The packed form under which Windows Installer files a GUID in the registry; nil for malformed text.
function installer.PackGuid(guid)
    local a, b, c, d, e = guid:match(GUID_PATTERN)
    if not a then
        return nil
    end
    return (Reverse(a) .. Reverse(b) .. Reverse(c) .. SwapPairs(d) .. SwapPairs(e)):upper()
end

function installer.UnpackGuid(packed)
    if not packed:match("^" .. ("%x"):rep(32) .. "$") then
        return nil
    end
    return ("{%s-%s-%s-%s-%s}"):format(Reverse(packed:sub(1, 8)), Reverse(packed:sub(9, 12)),
        Reverse(packed:sub(13, 16)), SwapPairs(packed:sub(17, 20)), SwapPairs(packed:sub(21, 32)))
end

local function ProductRegistered(packed)
    for _, key in ipairs(PRODUCT_KEYS) do
        if Reg.BranchExists(HKLM, key .. "\\" .. packed, KEY_WOW64_64KEY) then
            return true
        end
    end
    return registry.FindBranch(UNINSTALL_KEY .. "\\" .. installer.UnpackGuid(packed)) ~= nil
end

local function NameMatches(packed, product)
    local properties = MACHINE_PRODUCTS .. "\\" .. packed .. "\\InstallProperties"
    local name = Reg.GetString(HKLM, properties, "DisplayName", KEY_WOW64_64KEY)
    return name:sub(1, #product.name) == product.name and
               Reg.GetString(HKLM, properties, "Publisher", KEY_WOW64_64KEY) == product.publisher
end

-- The packed codes of every registered product that belongs to the product line, in the order found.
function installer.FindProducts(product)
    local found, seen = {}, {}
    local function Add(packed)
        if not seen[packed] and installer.UnpackGuid(packed) then
            seen[packed] = true
            found[#found + 1] = packed
        end
    end
    for _, upgradeCode in ipairs(product.upgradeCodes or {}) do
        local packedUpgrade = installer.PackGuid(upgradeCode)
        for _, key in ipairs(UPGRADE_KEYS) do
            for _, packed in ipairs(Reg.GetValueNames(HKLM, key .. "\\" .. packedUpgrade, KEY_WOW64_64KEY)) do
                Add(packed)
            end
        end
    end
    for _, productCode in ipairs(product.productCodes or {}) do
        local packed = installer.PackGuid(productCode)
        if ProductRegistered(packed) then
            Add(packed)
        end
    end
    for _, packed in ipairs(Reg.GetSubKeys(HKLM, MACHINE_PRODUCTS, KEY_WOW64_64KEY)) do
        if NameMatches(packed, product) then
            Add(packed)
        end
    end
    return found
end

local function UpgradeCodeRegistered(upgradeCode)
    local packedUpgrade = installer.PackGuid(upgradeCode)
    for _, key in ipairs(UPGRADE_KEYS) do
        if Reg.BranchExists(HKLM, key .. "\\" .. packedUpgrade, KEY_WOW64_64KEY) then
            return true
        end
    end
    return false
end

-- True when Windows Installer or its registry data knows a product of the line.
function installer.IsRegistered(product)
    for _, upgradeCode in ipairs(product.upgradeCodes or {}) do
        if Msi.DetectUpgradeCode(upgradeCode) or UpgradeCodeRegistered(upgradeCode) then
            return true
        end
    end
    return #installer.FindProducts(product) > 0
end

-- Asks Windows Installer to remove the product line's packages silently, with its verbose log beside the tool's
-- own. A package whose cached copy is gone fails here and is left to the forced removal.
function installer.Uninstall(product, logFolder)
    local uninstalled = true
    for _, upgradeCode in ipairs(product.upgradeCodes or {}) do
        local logFile = logFolder and (logFolder .. "\\" .. product.id .. "_msi.log") or nil
        if not Msi.UninstallProduct(upgradeCode, logFile) then
            Log.Warning("Windows Installer could not remove the packages of upgrade code " .. upgradeCode)
            uninstalled = false
        end
    end
    return uninstalled
end

-- Deletes every registration of the product line that Windows Installer still keeps, and the cached packages
-- they name; returns what remains.
function installer.RemoveRegistrations(product)
    local packages = {}
    local found = installer.FindProducts(product)
    for _, packed in ipairs(found) do
        local package = Reg.GetString(HKLM, MACHINE_PRODUCTS .. "\\" .. packed .. "\\InstallProperties", "LocalPackage",
            KEY_WOW64_64KEY)
        if package ~= "" then
            packages[#packages + 1] = package
        end
    end
    for _, upgradeCode in ipairs(product.upgradeCodes or {}) do
        Log.Info("Removing the registrations of upgrade code " .. upgradeCode)
        Msi.CleanupRegistryUpgradeCode(upgradeCode)
    end
    for _, packed in ipairs(found) do
        local productCode = installer.UnpackGuid(packed)
        Log.Info("Removing the registration of product " .. productCode)
        Msi.CleanupRegistryProductCode(productCode)
    end
    local leftovers = {}
    for _, package in ipairs(packages) do
        if FileSystem.IsFile(package) then
            Log.Info("Removing cached package: " .. package)
            FileSystem.DeleteFile(package)
            if FileSystem.IsFile(package) and not FileSystem.HasPendingFileOperation(package) then
                leftovers[#leftovers + 1] = package
            end
        end
    end
    for _, packed in ipairs(installer.FindProducts(product)) do
        leftovers[#leftovers + 1] = "product " .. installer.UnpackGuid(packed)
    end
    for _, upgradeCode in ipairs(product.upgradeCodes or {}) do
        if UpgradeCodeRegistered(upgradeCode) then
            leftovers[#leftovers + 1] = "upgrade code " .. upgradeCode
        end
    end
    return leftovers
end

return installer
