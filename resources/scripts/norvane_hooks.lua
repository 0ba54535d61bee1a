-- Where security products hook into Windows: Security Center registrations, AMSI providers, network providers,
-- trusted root certificates and Microsoft Defender exclusions. Each is the product's by an exact GUID or name from
-- its description, or by a program or DLL that lies in what the product owns (whole path components); another
-- vendor's entry of the same kind is never touched.

local files = require("norvane_files")
local installer = require("norvane_installer")
local registry = require("norvane_registry")

local hooks = {}

local SECURITY_CENTER = "SOFTWARE\\Microsoft\\Security Center\\Provider\\"
local SECURITY_CENTER_KINDS = {"Av", "Fw", "As"}
local SECURITY_CENTER_PROGRAMS = {"PRODUCTEXE", "REPORTINGEXE"}
local AMSI_PROVIDERS = "SOFTWARE\\Microsoft\\AMSI\\Providers"
local CLASSES = "SOFTWARE\\Classes\\CLSID\\"
local SERVICES_KEY = "SYSTEM\\CurrentControlSet\\Services\\"
local PROVIDER_ORDERS = {
    "SYSTEM\\CurrentControlSet\\Control\\NetworkProvider\\Order",
    "SYSTEM\\CurrentControlSet\\Control\\NetworkProvider\\HwOrder",
}
local PROVIDER_ORDER = "ProviderOrder"
local DEFENDER_EXCLUSIONS = "SOFTWARE\\Microsoft\\Windows Defender\\Exclusions\\"
local MACHINE_ROOTS = "SOFTWARE\\Microsoft\\SystemCertificates\\ROOT"
local USER_ROOTS = "Software\\Microsoft\\SystemCertificates\\Root"

local function Named(program, owned)
    return program ~= "" and files.IsInAny(program, owned)
end

-- Security Center registrations (`Provider\Av|Fw|As\{GUID}`) with one of the product's GUIDs, or with one of its
-- display names and a program in what it owns. Each is {path, view}.
function hooks.FindSecurityCenterEntries(p, owned)
    local guids, names = registry.Set(p.securityCenter, string.upper), registry.Set(installer.DisplayNames(p))
    local found = {}
    for _, view in ipairs(registry.VIEWS) do
        for _, kind in ipairs(SECURITY_CENTER_KINDS) do
            for _, guid in ipairs(Reg.GetSubKeys(HKLM, SECURITY_CENTER .. kind, view)) do
                local path = SECURITY_CENTER .. kind .. "\\" .. guid
                local ours = guids[guid:upper()]
                if not ours and names[Reg.GetString(HKLM, path, "DISPLAYNAME", view)] then
                    for _, value in ipairs(SECURITY_CENTER_PROGRAMS) do
                        ours = ours or Named(FileSystem.GetCommandProgram(Reg.GetPath(HKLM, path, value, view)), owned)
                    end
                end
                if ours then
                    found[#found + 1] = {path, view}
                end
            end
        end
    end
    return found
end

-- AMSI providers, each with its COM class in the same view: those with one of the product's class ids, and
-- those whose class loads a DLL from what the product owns. Each is {class id, view}.
function hooks.FindAmsiProviders(p, owned)
    local wanted, found = registry.Set(p.amsiProviders, string.upper), {}
    for _, view in ipairs(registry.VIEWS) do
        local seen = {}
        for _, clsid in ipairs(Reg.GetSubKeys(HKLM, AMSI_PROVIDERS, view)) do
            seen[clsid:upper()] = true
            if wanted[clsid:upper()] or
                Named(Reg.GetPath(HKLM, CLASSES .. clsid .. "\\InprocServer32", "", view), owned) then
                found[#found + 1] = {clsid, view}
            end
        end
        -- A class left without its provider key is still the product's.
        for _, clsid in ipairs(p.amsiProviders or {}) do
            if not seen[clsid:upper()] and Reg.BranchExists(HKLM, CLASSES .. clsid, view) then
                found[#found + 1] = {clsid, view}
            end
        end
    end
    return found
end

function hooks.RemoveAmsiProviders(providers)
    local keys = {}
    for _, provider in ipairs(providers) do
        keys[#keys + 1] = {AMSI_PROVIDERS .. "\\" .. provider[1], provider[2]}
        keys[#keys + 1] = {CLASSES .. provider[1], provider[2]}
    end
    return registry.DeleteKeys(keys)
end

local function ProviderPath(name)
    return Reg.GetPath(HKLM, SERVICES_KEY .. name .. "\\NetworkProvider", "ProviderPath")
end

-- Network providers: those with one of the product's names, and those whose DLL lies in what the product owns,
-- wherever one is left (a name in a provider order, its service key). Each is a provider name.
function hooks.FindNetworkProviders(p, owned)
    local candidates, wanted, seen, found = {}, registry.Set(p.networkProviders, string.lower), {}, {}
    for _, order in ipairs(PROVIDER_ORDERS) do
        for _, name in ipairs(Reg.GetNameList(HKLM, order, PROVIDER_ORDER, 0, ",")) do
            candidates[#candidates + 1] = name
        end
    end
    for _, name in ipairs(p.networkProviders or {}) do
        if Reg.BranchExists(HKLM, SERVICES_KEY .. name) then
            candidates[#candidates + 1] = name
        end
    end
    for _, name in ipairs(candidates) do
        if not seen[name:lower()] and (wanted[name:lower()] or Named(ProviderPath(name), owned)) then
            found[#found + 1] = name
        end
        seen[name:lower()] = true
    end
    return found
end

-- Takes the providers out of both orders, keeping the others in their order, and deletes their service keys.
function hooks.RemoveNetworkProviders(names)
    local leftovers = {}
    if #names == 0 then
        return leftovers
    end
    for _, order in ipairs(PROVIDER_ORDERS) do
        Log.Info("Removing the product's network providers from HKLM\\" .. order .. "\\" .. PROVIDER_ORDER .. ": " ..
                     table.concat(names, " "))
        if not Reg.RemoveNames(names, HKLM, order, PROVIDER_ORDER, 0, ",") then
            leftovers[#leftovers + 1] = order .. "\\" .. PROVIDER_ORDER
        end
    end
    for _, name in ipairs(names) do
        local key = SERVICES_KEY .. name
        if Reg.BranchExists(HKLM, key) then
            Log.Info("Deleting network provider: HKLM\\" .. key)
            if not Reg.DeleteBranch(HKLM, key) and Reg.BranchExists(HKLM, key) then
                leftovers[#leftovers + 1] = key
            end
        end
    end
    return leftovers
end

-- The file names of the product's programs, for exclusions that name a process without its folder.
local function ProgramNames(p)
    local names = {}
    for _, list in ipairs({p.programs or {}, p.programFiles or {}}) do
        for _, path in ipairs(list) do
            if path:lower():match("%.exe$") then
                names[#names + 1] = FileSystem.SplitPath(path)[2]
            end
        end
    end
    return registry.Set(names, string.lower)
end

-- Microsoft Defender exclusions (value names below Exclusions\Paths and \Processes) of a path in what the
-- product owns, or of a process by one of its programs' file names. Each is {root, key, name, view}.
function hooks.FindDefenderExclusions(p, owned)
    local found, programs = {}, ProgramNames(p)
    for _, kind in ipairs({"Paths", "Processes"}) do
        local key = DEFENDER_EXCLUSIONS .. kind
        for _, name in ipairs(Reg.GetValueNames(HKLM, key)) do
            local ours
            if kind == "Processes" and not name:find("\\", 1, true) then
                ours = programs[name:lower()]
            else
                ours = Named(FileSystem.ExpandPath(name), owned)
            end
            if ours then
                found[#found + 1] = {HKLM, key, name, nil}
            end
        end
    end
    return found
end

-- The thumbprints the product recorded for its roots (`rootThumbprints`: {key path, value name}), in either view,
-- as upper-case hex. They are read before the product's keys go.
function hooks.RecordedRoots(p)
    local found = {}
    for _, value in ipairs(p.rootThumbprints or {}) do
        local thumbprint = registry.GetString(value[1], value[2]):gsub("%s", ""):upper()
        if #thumbprint == 40 and not thumbprint:find("%X") then
            found[#found + 1] = thumbprint
        end
    end
    return found
end

-- The machine's and every loaded user's trusted root stores, as {root, key path}.
local function RootStores()
    local stores = {{HKLM, MACHINE_ROOTS}}
    for _, hive in ipairs(registry.UserHives()) do
        stores[#stores + 1] = {HKU, hive .. "\\" .. USER_ROOTS}
    end
    return stores
end

local function RootKey(root)
    return root[2] .. "\\Certificates\\" .. root[3]
end

function hooks.DescribeRoot(root)
    return "trusted root " .. (root[1] == HKU and "HKU\\" or "HKLM\\") .. RootKey(root)
end

-- The product's trusted roots in every store: those with a recorded thumbprint, and any whose subject is one of
-- the product's (`rootSubjects`, read by CryptoAPI). Each is {root, store key, thumbprint}.
function hooks.FindTrustedRoots(p, recorded)
    local found = {}
    for _, store in ipairs(RootStores()) do
        local thumbprints = {}
        for _, thumbprint in ipairs(recorded) do
            if Reg.BranchExists(store[1], store[2] .. "\\Certificates\\" .. thumbprint) then
                thumbprints[#thumbprints + 1] = thumbprint
            end
        end
        for _, subject in ipairs(p.rootSubjects or {}) do
            for _, thumbprint in ipairs(Cert.FindBySubject(store[1], store[2], subject)) do
                thumbprints[#thumbprints + 1] = thumbprint
            end
        end
        local seen = {}
        for _, thumbprint in ipairs(thumbprints) do
            if not seen[thumbprint] then
                seen[thumbprint] = true
                found[#found + 1] = {store[1], store[2], thumbprint}
            end
        end
    end
    return found
end

-- Deletes the roots through the certificate store, or their keys where the store does not; returns what remains.
function hooks.RemoveTrustedRoots(roots)
    local leftovers = {}
    for _, root in ipairs(roots) do
        Log.Info("Removing " .. hooks.DescribeRoot(root))
        local key = RootKey(root)
        if not Cert.Delete(root[1], root[2], root[3]) or Reg.BranchExists(root[1], key) then
            Log.Warning("The certificate store did not remove " .. root[3] .. "; deleting its key")
            Reg.DeleteBranch(root[1], key)
        end
        if Reg.BranchExists(root[1], key) then
            leftovers[#leftovers + 1] = hooks.DescribeRoot(root)
        end
    end
    return leftovers
end

return hooks
