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
        folders[#folders + 1] = Reg.GetPath(HKLM, MACHINE_PRODUCTS .. "\\" .. packed .. "\\InstallProperties",
            "InstallLocation", KEY_WOW64_64KEY)
    end
    for _, entry in ipairs(installer.FindUninstallEntries(product)) do
        folders[#folders + 1] = Reg.GetPath(HKLM, entry[1], "InstallLocation", entry[2])
    end
    return folders
end

-- The folders that the registrations of every other product record: InstallLocation of the Windows
-- Installer products and the Programs and Features entries (both views) that are not the product's.
function installer.FoldersOfOtherProducts(product)
    local ownProducts, ownEntries, folders = {}, {}, {}
    for _, packed in ipairs(installer.FindProducts(product)) do
        ownProducts[packed] = true
        for _, view in ipairs(registry.VIEWS) do
            ownEntries[view .. "|" .. installer.UnpackGuid(packed):upper()] = true
        end
    end
    for _, entry in ipairs(installer.FindUninstallEntries(product)) do
        ownEntries[entry[2] .. "|" .. entry[1]:match("[^\\]+$"):upper()] = true
    end
    for _, packed in ipairs(Reg.GetSubKeys(HKLM, MACHINE_PRODUCTS, KEY_WOW64_64KEY)) do
        if not ownProducts[packed] then
            folders[#folders + 1] = Reg.GetPath(HKLM, MACHINE_PRODUCTS .. "\\" .. packed .. "\\InstallProperties",
                "InstallLocation", KEY_WOW64_64KEY)
        end
    end
    for _, view in ipairs(registry.VIEWS) do
        for _, entry in ipairs(Reg.GetSubKeys(HKLM, UNINSTALL_KEY, view)) do
            if not ownEntries[view .. "|" .. entry:upper()] then
                folders[#folders + 1] = Reg.GetPath(HKLM, UNINSTALL_KEY .. "\\" .. entry, "InstallLocation", view)
            end
        end
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

local USER_DATA = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData"

-- The file names (in lower case) of the cached packages that a registration other than the product's names:
-- the LocalPackage of every user's products and patches. Such a package is never deleted.
local function PackagesOfOthers(ownPacked, folder)
    local named = {}
    local function Add(path)
        local parent, name = table.unpack(FileSystem.SplitPath(path))
        if name ~= "" and files.IsSamePath(parent, folder) then
            named[name:lower()] = true
        end
    end
    for _, sid in ipairs(Reg.GetSubKeys(HKLM, USER_DATA, KEY_WOW64_64KEY)) do
        local products = USER_DATA .. "\\" .. sid .. "\\Products"
        for _, packed in ipairs(Reg.GetSubKeys(HKLM, products, KEY_WOW64_64KEY)) do
            if not ownPacked[packed] then
                Add(Reg.GetPath(HKLM, products .. "\\" .. packed .. "\\InstallProperties", "LocalPackage", KEY_WOW64_64KEY))
            end
        end
        local patches = USER_DATA .. "\\" .. sid .. "\\Patches"
        for _, packed in ipairs(Reg.GetSubKeys(HKLM, patches, KEY_WOW64_64KEY)) do
            Add(Reg.GetPath(HKLM, patches .. "\\" .. packed, "LocalPackage", KEY_WOW64_64KEY))
        end
    end
    return named
end

-- A cached package is the product's when it lies in the Windows Installer folder, the ProductCode of its
-- Property table is one of the codes, and no other registration names it.
local function IsProductPackage(path, codes, folder, others)
    local parent, name = table.unpack(FileSystem.SplitPath(path))
    if name == "" or not files.IsSamePath(parent, folder) or others[name:lower()] or not FileSystem.IsFile(path) then
        return false
    end
    local code = Msi.GetPackageProductCode(path):upper()
    for _, wanted in ipairs(codes) do
        if code == wanted:upper() then
            return true
        end
    end
    return false
end

-- The product's cached packages in the Windows Installer folder that no registration names any more (an
-- interrupted uninstallation drops the registration's LocalPackage), found by their product code.
local function FindUnrecordedPackages(productCodes, folder, others)
    local found = {}
    for _, name in ipairs(#productCodes > 0 and FileSystem.ListDirectory(folder, ListDir_Files) or {}) do
        local path = folder .. "\\" .. name
        if name:lower():match("%.msi$") and IsProductPackage(path, productCodes, folder, others) then
            found[#found + 1] = path
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
-- Programs and Features entry names: its cache path, or the program of its uninstall commands.
local function BundleCacheFolder(entry)
    local commonAppData = FileSystem.GetSpecialPath(SpecialPath_CommonAppData)
    if commonAppData == "" then
        return nil
    end
    local programs = {Reg.GetPath(HKLM, entry[1], "BundleCachePath", entry[2])}
    for _, value in ipairs({"QuietUninstallString", "UninstallString"}) do
        programs[#programs + 1] = FileSystem.GetCommandProgram(Reg.GetPath(HKLM, entry[1], value, entry[2]))
    end
    for _, program in ipairs(programs) do
        local folder = FileSystem.SplitPath(program)[1]
        if folder ~= "" then
            local parent, name = table.unpack(FileSystem.SplitPath(folder))
            if files.IsSamePath(parent, commonAppData .. "\\Package Cache") and name:match("^{[%x%-]+}$") then
                return folder
            end
        end
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
    local unrecorded, ownPacked = false, {}
    local found = installer.FindProducts(product)
    for _, packed in ipairs(found) do
        ownPacked[packed] = true
    end
    local installerFolder = InstallerFolder()
    local others = installerFolder and PackagesOfOthers(ownPacked, installerFolder) or {}
    for _, packed in ipairs(found) do
        local code = installer.UnpackGuid(packed)
        AddCode(code)
        local package = Reg.GetPath(HKLM, MACHINE_PRODUCTS .. "\\" .. packed .. "\\InstallProperties", "LocalPackage",
            KEY_WOW64_64KEY)
        if package == "" then
            unrecorded = true
        elseif installerFolder and IsProductPackage(package, {code}, installerFolder, others) then
            packages[#packages + 1] = package
        elseif FileSystem.Exists(package) then
            Log.Warning("Not the cached package of product " .. code .. ": " .. package)
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
    if unrecorded and installerFolder then
        for _, package in ipairs(FindUnrecordedPackages(codes, installerFolder, others)) do
            packages[#packages + 1] = package
        end
    end
    return {packages = packages, folders = folders, entries = entriesLeft}
end

local MANAGED = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed"
local USER_INSTALLER = "Software\\Microsoft\\Installer"
local MACHINE_SID = "S-1-5-18"
local MACHINE_PATCHES = USER_DATA .. "\\" .. MACHINE_SID .. "\\Patches"
local CLASSES_PATCHES = "SOFTWARE\\Classes\\Installer\\Patches"

-- The packed product codes of the line: those registered now, and its released builds'.
local function PackedProductCodes(product)
    local codes, seen = {}, {}
    for _, packed in ipairs(installer.FindProducts(product)) do
        seen[packed] = true
        codes[#codes + 1] = packed
    end
    for _, code in ipairs(product.productCodes or {}) do
        local packed = installer.PackGuid(code)
        if packed and not seen[packed] then
            seen[packed] = true
            codes[#codes + 1] = packed
        end
    end
    return codes
end

local function PackedUpgradeCodes(product)
    local codes = {}
    for _, code in ipairs(product.upgradeCodes or {}) do
        codes[#codes + 1] = installer.PackGuid(code)
    end
    return codes
end

-- Registrations of the product line for single users and by policy, outside the per-machine keys:
-- UserData\<SID>\Products of every user but the local system, Products, Features and UpgradeCodes below
-- Managed\<SID>\Installer and below Software\Microsoft\Installer of every loaded hive. Each is {root, path}.
function installer.FindUserRegistrations(product)
    local products, upgrades, found = PackedProductCodes(product), PackedUpgradeCodes(product), {}
    local function Look(root, base, lists)
        for _, list in ipairs(lists) do
            for _, packed in ipairs(list[2]) do
                local path = base .. "\\" .. list[1] .. "\\" .. packed
                if Reg.BranchExists(root, path, root == HKLM and KEY_WOW64_64KEY or nil) then
                    found[#found + 1] = {root, path}
                end
            end
        end
    end
    local registrations = {{"Products", products}, {"Features", products}, {"UpgradeCodes", upgrades}}
    for _, sid in ipairs(Reg.GetSubKeys(HKLM, USER_DATA, KEY_WOW64_64KEY)) do
        if sid ~= MACHINE_SID then
            Look(HKLM, USER_DATA .. "\\" .. sid, {{"Products", products}})
        end
    end
    for _, sid in ipairs(Reg.GetSubKeys(HKLM, MANAGED, KEY_WOW64_64KEY)) do
        Look(HKLM, MANAGED .. "\\" .. sid .. "\\Installer", registrations)
    end
    for _, hive in ipairs(registry.UserHives()) do
        Look(HKU, hive .. "\\" .. USER_INSTALLER, registrations)
    end
    return found
end

function installer.DescribeKey(key)
    return (key[1] == HKU and "HKU\\" or "HKLM\\") .. key[2]
end

-- Deletes keys given as {root, path} (HKLM keys in the 64-bit view); returns those that remain.
function installer.DeleteKeys(keys)
    local leftovers = {}
    for _, key in ipairs(keys) do
        local view = key[1] == HKLM and KEY_WOW64_64KEY or nil
        if Reg.BranchExists(key[1], key[2], view) then
            Log.Info("Deleting key: " .. installer.DescribeKey(key))
            if not Reg.DeleteBranch(key[1], key[2], view) and Reg.BranchExists(key[1], key[2], view) then
                leftovers[#leftovers + 1] = installer.DescribeKey(key)
            end
        end
    end
    return leftovers
end

-- The packed codes of the patches applied to the product line (its per-machine registrations' Patches keys). They
-- are read before the registrations go.
function installer.RecordedPatches(product)
    local patches, seen = {}, {}
    for _, packed in ipairs(PackedProductCodes(product)) do
        local lists = {
            Reg.GetSubKeys(HKLM, MACHINE_PRODUCTS .. "\\" .. packed .. "\\Patches", KEY_WOW64_64KEY),
            Reg.GetValueNames(HKLM, PRODUCT_KEYS[1] .. "\\" .. packed .. "\\Patches", KEY_WOW64_64KEY),
        }
        for _, list in ipairs(lists) do
            for _, patch in ipairs(list) do
                if installer.UnpackGuid(patch) and not seen[patch:upper()] then
                    seen[patch:upper()] = true
                    patches[#patches + 1] = patch:upper()
                end
            end
        end
    end
    return patches
end

-- True when a registered product outside the line still lists the patch.
local function PatchOfOthers(patch, own)
    for _, packed in ipairs(Reg.GetSubKeys(HKLM, MACHINE_PRODUCTS, KEY_WOW64_64KEY)) do
        local listing = MACHINE_PRODUCTS .. "\\" .. packed .. "\\Patches\\" .. patch
        if not own[packed:upper()] and Reg.BranchExists(HKLM, listing, KEY_WOW64_64KEY) then
            return true
        end
    end
    return false
end

-- The product line's patches that are still registered or cached, unless another product lists them too; each
-- is {packed patch code, cached package or ""}.
function installer.FindPatches(product, recorded)
    local own, found = registry.Set(PackedProductCodes(product), string.upper), {}
    local folder = InstallerFolder()
    for _, patch in ipairs(recorded) do
        local key = MACHINE_PATCHES .. "\\" .. patch
        local package = Reg.GetPath(HKLM, key, "LocalPackage", KEY_WOW64_64KEY)
        if not (folder and package ~= "" and files.IsInAny(package, {folder}) and FileSystem.IsFile(package)) then
            package = ""
        end
        local registered = Reg.BranchExists(HKLM, key, KEY_WOW64_64KEY) or
                               Reg.BranchExists(HKLM, CLASSES_PATCHES .. "\\" .. patch, KEY_WOW64_64KEY)
        if (registered or package ~= "") and not PatchOfOthers(patch, own) then
            found[#found + 1] = {patch, package}
        end
    end
    return found
end

-- Deletes the patches' registrations and cached packages; returns what remains.
function installer.RemovePatches(patches)
    local keys, packages = {}, {}
    for _, patch in ipairs(patches) do
        Log.Info("Removing the registration of patch " .. installer.UnpackGuid(patch[1]))
        keys[#keys + 1] = {HKLM, MACHINE_PATCHES .. "\\" .. patch[1]}
        keys[#keys + 1] = {HKLM, CLASSES_PATCHES .. "\\" .. patch[1]}
        packages[#packages + 1] = patch[2] ~= "" and patch[2] or nil
    end
    local leftovers = installer.DeleteKeys(keys)
    for _, package in ipairs(files.RemoveFiles(packages, "cached Windows Installer patch")) do
        leftovers[#leftovers + 1] = package
    end
    return leftovers
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
