-- Windows Installer registrations of the product lines: the graceful uninstallation through Windows Installer,
-- and the forced removal of what it leaves behind when a package is broken (cached package deleted, half-removed
-- registration). Products are found by their upgrade codes, by the product codes of released builds and by
-- name and publisher, because a broken registration may have lost any one of these.

local files = require("norvane_files")
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

-- The names under which the product line registers itself: its name and any other exact names it lists.
function installer.DisplayNames(product)
    local names = {product.name}
    for _, name in ipairs(product.displayNames or {}) do
        names[#names + 1] = name
    end
    return names
end

-- A registration is the product line's only when its display name equals one of the line's names and its
-- publisher is the line's: "Norvane Antivirus Management Console" is another product of the same publisher.
local function NameMatches(packed, product)
    local properties = MACHINE_PRODUCTS .. "\\" .. packed .. "\\InstallProperties"
    local name = Reg.GetString(HKLM, properties, "DisplayName", KEY_WOW64_64KEY)
    for _, wanted in ipairs(installer.DisplayNames(product)) do
        if name == wanted then
            return Reg.GetString(HKLM, properties, "Publisher", KEY_WOW64_64KEY) == product.publisher
        end
    end
    return false
end

-- The folders that the product's registrations record: InstallLocation of its Windows Installer products and
-- of its Programs and Features entries.
function installer.RecordedFolders(product)
    local folders = {}
    for _, packed in ipairs(installer.FindProducts(product)) do
        folders[#folders + 1] = Reg.GetString(HKLM, MACHINE_PRODUCTS .. "\\" .. packed .. "\\InstallProperties",
            "InstallLocation", KEY_WOW64_64KEY)
    end
    for _, entry in ipairs(installer.FindUninstallEntries(product)) do
        folders[#folders + 1] = Reg.GetString(HKLM, entry[1], "InstallLocation", entry[2])
    end
    return folders
end

-- The product's Programs and Features entries in both views, as {path, view}.
function installer.FindUninstallEntries(product)
    local codes = {}
    for _, code in ipairs(product.productCodes or {}) do
        codes[#codes + 1] = code
    end
    return registry.FindUninstallEntries(installer.DisplayNames(product), product.publisher, codes)
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

local function InstallerFolder()
    local windows = FileSystem.GetSpecialPath(SpecialPath_Windows)
    return windows ~= "" and (windows .. "\\Installer") or nil
end

-- Cached packages in the Windows Installer folder that carry one of the product codes (as text in the
-- package's string pool). Looked for only when a registration has lost its LocalPackage value, as an
-- interrupted uninstallation leaves it.
local function FindUnrecordedPackages(productCodes)
    local found, folder = {}, InstallerFolder()
    if not folder or #productCodes == 0 then
        return found
    end
    for _, name in ipairs(FileSystem.ListDirectory(folder, ListDir_Files)) do
        if name:lower():match("%.msi$") then
            local bytes = FileSystem.ReadFile(folder .. "\\" .. name, 64 << 20)
            for _, code in ipairs(productCodes) do
                if bytes:find(code, 1, true) then
                    found[#found + 1] = folder .. "\\" .. name
                    break
                end
            end
        end
    end
    return found
end

-- The folders Windows Installer keeps for a product's shortcuts' icons: Installer\{ProductCode}.
local function IconFolders(productCodes)
    local found, folder = {}, InstallerFolder()
    for _, code in ipairs(folder and productCodes or {}) do
        if FileSystem.IsDirectory(folder .. "\\" .. code) then
            found[#found + 1] = folder .. "\\" .. code
        end
    end
    return found
end

-- The setup bundle's own copy in the package cache ("...\\Package Cache\\{bundle id}\\setup.exe") that a
-- Programs and Features entry names.
local function BundleCacheFolder(entry)
    local cached = Reg.GetString(HKLM, entry[1], "BundleCachePath", entry[2])
    local commonAppData = FileSystem.GetSpecialPath(SpecialPath_CommonAppData)
    local folder = cached:match("^(.+)\\[^\\]+$")
    if not folder or commonAppData == "" then
        return nil
    end
    local cache = (commonAppData .. "\\Package Cache\\"):lower()
    local rest = folder:lower():sub(#cache + 1)
    if folder:lower():sub(1, #cache) == cache and rest:match("^{[%x%-]+}$") then
        return folder
    end
    return nil
end

-- Every trace of the product's registrations besides the Installer's keys: the product codes that name them,
-- Programs and Features entries, cached packages (also those no registration names any more), the icon
-- folders and the setup bundle's cache.
function installer.FindLeftovers(product)
    local codes, codeSeen, packages, entriesLeft = {}, {}, {}, {}
    local function AddCode(code)
        if code and not codeSeen[code:upper()] then
            codeSeen[code:upper()] = true
            codes[#codes + 1] = code:upper()
        end
    end
    local unrecorded = false
    for _, packed in ipairs(installer.FindProducts(product)) do
        AddCode(installer.UnpackGuid(packed))
        local package = Reg.GetString(HKLM, MACHINE_PRODUCTS .. "\\" .. packed .. "\\InstallProperties", "LocalPackage",
            KEY_WOW64_64KEY)
        if package ~= "" then
            packages[#packages + 1] = package
        else
            unrecorded = true
        end
    end
    for _, code in ipairs(product.productCodes or {}) do
        AddCode(code)
    end
    local folders = IconFolders(codes)
    for _, entry in ipairs(installer.FindUninstallEntries(product)) do
        entriesLeft[#entriesLeft + 1] = entry
        local bundle = BundleCacheFolder(entry)
        if bundle then
            folders[#folders + 1] = bundle
        end
    end
    if unrecorded then
        for _, package in ipairs(FindUnrecordedPackages(codes)) do
            packages[#packages + 1] = package
        end
    end
    return {packages = packages, folders = folders, entries = entriesLeft}
end

-- Deletes every registration of the product line that Windows Installer still keeps, the cached packages
-- they name, its Programs and Features entries and the Installer's folders of it; returns what remains.
function installer.RemoveRegistrations(product)
    local leftoverTraces = installer.FindLeftovers(product)
    local packages = leftoverTraces.packages
    local found = installer.FindProducts(product)
    for _, upgradeCode in ipairs(product.upgradeCodes or {}) do
        Log.Info("Removing the registrations of upgrade code " .. upgradeCode)
        Msi.CleanupRegistryUpgradeCode(upgradeCode)
    end
    for _, packed in ipairs(found) do
        local productCode = installer.UnpackGuid(packed)
        Log.Info("Removing the registration of product " .. productCode)
        Msi.CleanupRegistryProductCode(productCode)
    end
    local leftovers = files.RemoveFiles(packages, "cached Windows Installer package")
    for _, entry in ipairs(leftoverTraces.entries) do
        if Reg.BranchExists(HKLM, entry[1], entry[2]) then
            Log.Info("Deleting Programs and Features entry (" .. registry.ViewName(entry[2]) .. "): HKLM\\" .. entry[1])
            if not Reg.DeleteBranch(HKLM, entry[1], entry[2]) and Reg.BranchExists(HKLM, entry[1], entry[2]) then
                leftovers[#leftovers + 1] = registry.ViewName(entry[2]) .. ":" .. entry[1]
            end
        end
    end
    for _, leftover in ipairs(files.RemoveFolders(leftoverTraces.folders)) do
        leftovers[#leftovers + 1] = leftover
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
