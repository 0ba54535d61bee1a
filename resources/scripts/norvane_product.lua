-- The detection and removal flow shared by the product scripts. A product script describes its product line
-- in a table and hands it to Detect and Cleanup:
--   id, name, publisher       the script's product id; the display name under which its Windows Installer
--                             registrations and Programs and Features entries are filed; the publisher they name
--   displayNames              other exact names of its registrations (a setup bundle's, an edition's)
--   upgradeCodes              Windows Installer upgrade codes of the product line
--   productCodes              product codes of released builds, for registrations that lost their upgrade code
--   uninstaller               optional {file name, arguments}: the product's own uninstaller in its program
--                             folder, run before Windows Installer when the product was found
--   programFiles              the other files it installs in its program folder, relative to it: in a folder
--                             the product may not own alone, only these, its programs and its uninstaller go
--   programs                  its user-mode programs (tray, user interface) in its program folder, ended by
--                             full path before anything else: they hold files open and would restart services
--   services, drivers         service names, kernel-driver service names (also their safe-mode entries, class
--                             filters, firewall rules and driver packages)
--   devices                   {manufacturer, hardware id} of the devices of its driver packages
--   folders, files            default locations {special folder, path below it}; the folders the machine
--                             records for the product (its keys' InstallDir, its Installer registrations' and
--                             Programs and Features entries' InstallLocation, its services' programs) come first,
--                             each checked by the refused-folder rule of norvane_files
--   keys, values              HKLM key paths, {key path, value name}, both removed in both registry views
--   userKeys, userFolders     paths below each loaded user hive, and below AppData\Local and AppData\Roaming of
--                             every profile
--   runValues                 names of its logon entries (entries starting its programs are found by their path)
--   tasks                     paths of its scheduled tasks
--   securityCenter            GUIDs of its Security Center registrations (others are found by display name and
--                             program)
--   amsiProviders             class ids of its AMSI providers (others are found by their DLL)
--   networkProviders          names of its network providers (others are found by their DLL)
--   shellExtensions           class ids of its shell extensions: their context-menu handlers go, whatever their
--                             names
--   rootSubjects, rootThumbprints   subjects of its trusted root certificates; {key path, value name} where it
--                             records a root's thumbprint
-- Defender exclusions are found by the product's folders and programs alone.
-- Every step of a clean-up is logged; anything that is still there after its step marks the run as failed.
-- Clean-ups only remove what they find, so running one again on a clean machine changes nothing.

local files = require("norvane_files")
local installer = require("norvane_installer")
local hooks = require("norvane_hooks")
local registry = require("norvane_registry")
local system = require("norvane_system")

local product = {}

local SERVICES_KEY = "SYSTEM\\CurrentControlSet\\Services\\"
local OWN_KEY_PREFIX = "SOFTWARE\\Norvane\\"

local function OwnKeys(p)
    local keys = {}
    for _, key in ipairs(p.keys or {}) do
        if key:sub(1, #OWN_KEY_PREFIX) == OWN_KEY_PREFIX then
            keys[#keys + 1] = key
        end
    end
    return keys
end

-- The folders that other products record as their own: their registrations' install folders and the
-- install folders in the vendor's keys of the other product lines.
local function FoldersOfOtherProducts(p)
    local folders, own = installer.FoldersOfOtherProducts(p), registry.Set(OwnKeys(p), string.lower)
    for _, view in ipairs(registry.VIEWS) do
        for _, name in ipairs(Reg.GetSubKeys(HKLM, OWN_KEY_PREFIX:sub(1, -2), view)) do
            local key = OWN_KEY_PREFIX .. name
            if not own[key:lower()] then
                for _, value in ipairs({"InstallDir", "InstallLocation"}) do
                    folders[#folders + 1] = Reg.GetPath(HKLM, key, value, view)
                end
            end
        end
    end
    return folders
end

-- Where the product lives, read from every place the machine records it, the fixed defaults last. Each
-- recorded folder passes the rule of norvane_files first.
local function Locate(p)
    local found = files.NewFolderList(p, function()
        return FoldersOfOtherProducts(p)
    end)
    for _, key in ipairs(OwnKeys(p)) do
        for _, view in ipairs(registry.VIEWS) do
            for _, value in ipairs({"InstallDir", "InstallLocation"}) do
                files.AddFolder(found, Reg.GetPath(HKLM, key, value, view),
                    "HKLM\\" .. key .. "\\" .. value .. " (" .. registry.ViewName(view) .. ")")
            end
        end
    end
    for _, folder in ipairs(installer.RecordedFolders(p)) do
        files.AddFolder(found, folder, "Windows Installer")
    end
    for _, service in ipairs(p.services or {}) do
        local program = FileSystem.GetCommandProgram(Reg.GetPath(HKLM, SERVICES_KEY .. service, "ImagePath"))
        files.AddFolder(found, FileSystem.SplitPath(program)[1], "service " .. service .. " (" .. program .. ")")
    end
    for _, folder in ipairs(files.ResolveAll(p.folders)) do
        files.AddFolder(found, folder, "default")
    end
    return found
end

local function ServiceNames(p)
    local names = {}
    for _, list in ipairs({p.services or {}, p.drivers or {}}) do
        for _, name in ipairs(list) do
            names[#names + 1] = name
        end
    end
    return names
end

local function InstallerLeftovers(p)
    local found = installer.IsRegistered(p) and {"Windows Installer registration"} or {}
    local left = installer.FindLeftovers(p)
    for _, entry in ipairs(left.entries) do
        found[#found + 1] = "Programs and Features entry HKLM\\" .. entry[1]
    end
    for _, package in ipairs(left.packages) do
        found[#found + 1] = "cached package " .. package
    end
    for _, folder in ipairs(left.folders) do
        found[#found + 1] = "folder " .. folder
    end
    return found
end

-- The display name that the product wrote into its registry key, or the fixed one.
function product.DisplayName(p)
    for _, key in ipairs(p.keys or {}) do
        local name = registry.GetString(key, "DisplayName")
        if name ~= "" then
            return name
        end
    end
    return p.name
end

local function ToolLogFolder()
    local commonAppData = FileSystem.GetSpecialPath(SpecialPath_CommonAppData)
    return commonAppData ~= "" and (commonAppData .. "\\Norvane\\Log\\UninstallationTool") or nil
end

-- The product's own uninstaller from its program folder, then Windows Installer. Either may fail on a broken
-- installation; the forced steps after them remove what they leave, so their failures are warnings. The
-- uninstaller is started only for a product that was found, and is never looked for where users can write
-- (the common application data, the profiles): a program planted there would run with the tool's rights.
local function RunUninstallers(p, run)
    if p.uninstaller and p.detected then
        local program, present
        for _, folder in ipairs(files.ProgramFolders(run.found)) do
            present = present or FileSystem.IsDirectory(folder)
            if FileSystem.IsFile(folder .. "\\" .. p.uninstaller[1]) then
                program = folder .. "\\" .. p.uninstaller[1]
                break
            end
        end
        if program then
            if not system.RunAndWait(program, p.uninstaller[2]) then
                Log.Warning(p.id .. ": the product's uninstaller did not succeed: " .. program)
            end
        elseif present then
            Log.Warning(p.id .. ": the product's uninstaller is missing: " .. p.uninstaller[1])
        end
    elseif p.uninstaller then
        Log.Info(p.id .. ": not found, so its own uninstaller is not run")
    end
    installer.Uninstall(p, ToolLogFolder())
    return {}
end

local function Append(list, more)
    for _, item in ipairs(more) do
        list[#list + 1] = item
    end
    return list
end

local function ExistingServices(names)
    local found = {}
    for _, name in ipairs(names or {}) do
        if system.ServiceExists(name) then
            found[#found + 1] = name
        end
    end
    return found
end

local function Keys(p)
    local found = {}
    for _, key in ipairs(p.keys or {}) do
        for _, view in ipairs(registry.VIEWS) do
            if Reg.BranchExists(HKLM, key, view) then
                found[#found + 1] = {key, view}
            end
        end
    end
    return found
end

-- The product's own keys stay while files are left: they record where it lives, and without them a later run
-- could not find what is left there.
local function IsKept(key, run)
    return run.foldersLeft and key[1]:sub(1, #OWN_KEY_PREFIX) == OWN_KEY_PREFIX
end

local function RemoveKeys(p, run, keys)
    local remove = {}
    for _, key in ipairs(keys) do
        if not IsKept(key, run) then
            remove[#remove + 1] = key
        end
    end
    if #remove < #keys then
        Log.Warning(p.id .. ": keeping its own keys while files are left")
    end
    local leftovers = registry.DeleteKeys(remove)
    registry.DeleteEmptyVendorKey()
    return leftovers
end

local function Files(p, run)
    local found = {}
    for _, path in ipairs(files.ExistingPaths(run.owned)) do
        found[#found + 1] = {"folder or file", path}
    end
    for _, path in ipairs(files.ExistingPaths(files.ResolveAll(p.files))) do
        found[#found + 1] = {"file", path}
    end
    return found
end

local function RemoveFiles(p, run)
    local leftovers = Append(files.RemoveFolders(run.found.own), files.RemoveFromDoubtful(run.found))
    Append(leftovers, files.RemoveFiles(files.ResolveAll(p.files)))
    files.RemoveEmptyVendorFolders()
    run.foldersLeft = #leftovers > 0
    return leftovers
end

local function RemoveUserFolders(p)
    local userFolders = files.UserFolders(p.userFolders)
    local leftovers = files.RemoveFolders(userFolders)
    files.RemoveEmptyParents(userFolders)
    return leftovers
end

local function Itself(item)
    return item
end

-- Describes an HKLM key given as {path, view}.
local function KeyInView(prefix)
    return function(key)
        return prefix .. "HKLM\\" .. key[1] .. " (" .. registry.ViewName(key[2]) .. ")"
    end
end

local function Prefixed(prefix, field)
    return function(item)
        return prefix .. (field and item[field] or item)
    end
end

-- The clean-up in its order. An entry with `run` is an action; every other entry is a kind of trace: `find`
-- gives the product's items on this machine (from its description and the folders found), `remove` removes
-- them and returns what is left, `describe` names an item for the log and the report; optional `pending` tells
-- an item that goes at the next restart, `reason` why an item is kept. A product is found when any kind finds
-- an item. Entries of one `step` are logged as that step.
local KINDS = {
    {step = "end programs", run = function(p, run)
        system.EndPrograms(p.programs, run.found.all)
        return {}
    end},
    {step = "run uninstallers", run = RunUninstallers},
    {step = "remove services", kind = "service",
        find = function(p) return ExistingServices(p.services) end,
        remove = function(p, _, names) return system.RemoveServices(names, p.id) end,
        describe = Prefixed("service ")},
    {step = "end remaining processes", run = function(_, run)
        system.EndProcessesInFolders(run.owned)
        return {}
    end},
    {step = "remove drivers", kind = "driver",
        find = function(p) return ExistingServices(p.drivers) end,
        remove = function(p, _, names) return system.RemoveServices(names, p.id) end,
        describe = Prefixed("driver ")},
    {step = "remove drivers", kind = "safe-mode entry",
        find = function(p) return system.FindSafeBootEntries(ServiceNames(p)) end,
        remove = function(_, _, keys) return registry.DeleteBranches(keys) end,
        describe = Prefixed("safe-mode entry HKLM\\")},
    {step = "remove drivers", kind = "class filter",
        find = function(p) return system.FindClassFilters(p.drivers) end,
        remove = function(_, _, filters) return system.RemoveClassFilters(filters) end,
        describe = function(filter) return "filter of HKLM\\" .. filter[1] .. "\\" .. filter[2] end},
    {step = "remove devices", run = function(p) return system.RemoveDevices(p.devices) end},
    {step = "remove driver packages", kind = "driver package",
        find = function(p) return system.FindDriverPackages(p.drivers, p.publisher) end,
        remove = function(_, _, paths) return system.RemoveDriverPackages(paths) end,
        describe = Prefixed("driver package ")},
    {step = "remove Windows Installer registrations", kind = "Windows Installer per-user registration",
        find = installer.FindUserRegistrations,
        remove = function(_, _, keys) return installer.DeleteKeys(keys) end,
        describe = installer.DescribeKey},
    {step = "remove Windows Installer registrations", kind = "Windows Installer registration",
        find = InstallerLeftovers,
        remove = function(p) return installer.RemoveRegistrations(p) end,
        describe = Itself},
    {step = "remove Windows Installer registrations", kind = "Windows Installer patch",
        find = function(p, run) return installer.FindPatches(p, run.patches) end,
        remove = function(_, _, patches) return installer.RemovePatches(patches) end,
        describe = function(patch) return "Windows Installer patch " .. installer.UnpackGuid(patch[1]) end},
    {step = "remove system integration", kind = "scheduled task",
        find = function(p) return system.FindTasks(p.tasks) end,
        remove = function(_, _, tasks) return system.RemoveTasks(tasks) end,
        describe = Prefixed("scheduled task ", 1)},
    {step = "remove system integration", kind = "firewall rule",
        find = function(p, run) return system.FindFirewallRules(run.owned, p.services or {}) end,
        remove = function(_, _, rules) return registry.DeleteFoundValues(rules) end,
        describe = Prefixed("firewall rule ", 3)},
    {step = "remove system integration", kind = "logon entry",
        find = function(p, run) return registry.FindRunValues(p.runValues, run.owned) end,
        remove = function(_, _, values) return registry.DeleteFoundValues(values) end,
        describe = Prefixed("logon entry ", 3)},
    {step = "remove system integration", kind = "Security Center registration",
        find = function(p, run) return hooks.FindSecurityCenterEntries(p, run.owned) end,
        remove = function(_, _, keys) return registry.DeleteKeys(keys) end,
        describe = Prefixed("Security Center registration HKLM\\", 1)},
    {step = "remove system integration", kind = "AMSI provider",
        find = function(p, run) return hooks.FindAmsiProviders(p, run.owned) end,
        remove = function(_, _, providers) return hooks.RemoveAmsiProviders(providers) end,
        describe = function(provider)
            return "AMSI provider " .. provider[1] .. " (" .. registry.ViewName(provider[2]) .. ")"
        end},
    {step = "remove system integration", kind = "network provider",
        find = function(p, run) return hooks.FindNetworkProviders(p, run.owned) end,
        remove = function(_, _, names) return hooks.RemoveNetworkProviders(names) end,
        describe = Prefixed("network provider ")},
    {step = "remove system integration", kind = "trusted root",
        find = function(p, run) return hooks.FindTrustedRoots(p, run.recordedRoots) end,
        remove = function(_, _, roots) return hooks.RemoveTrustedRoots(roots) end,
        describe = hooks.DescribeRoot},
    {step = "remove system integration", kind = "Defender exclusion",
        find = function(p, run) return hooks.FindDefenderExclusions(p, run.owned) end,
        remove = function(_, _, values) return registry.DeleteFoundValues(values) end,
        describe = function(value) return "Defender exclusion HKLM\\" .. value[2] .. "\\" .. value[3] end},
    {step = "remove per-user parts", kind = "user key",
        find = function(p) return registry.FindUserKeys(p.userKeys) end,
        remove = function(_, _, keys) return registry.DeleteUserKeys(keys) end,
        describe = Prefixed("key HKU\\")},
    {step = "remove per-user parts", kind = "user folder",
        find = function(p) return files.ExistingPaths(files.UserFolders(p.userFolders)) end,
        remove = RemoveUserFolders,
        describe = Prefixed("folder ")},
    {step = "remove files", kind = "file",
        find = Files,
        remove = RemoveFiles,
        pending = function(file) return files.IsPending(file[2]) end,
        describe = function(file) return file[1] .. " " .. file[2] end},
    {step = "remove registry keys", kind = "key",
        find = Keys,
        remove = RemoveKeys,
        reason = function(key, run) return IsKept(key, run) and "kept while the product's files are left" or nil end,
        describe = KeyInView("key ")},
    {step = "remove registry keys", kind = "context-menu handler",
        find = function(p) return registry.FindContextMenuHandlers(p.shellExtensions) end,
        remove = function(_, _, keys) return registry.DeleteKeys(keys) end,
        describe = KeyInView("context-menu handler ")},
    {step = "remove registry keys", kind = "value",
        find = function(p)
            local found = {}
            for _, value in ipairs(p.values or {}) do
                if registry.FindValue(value[1], value[2]) then
                    found[#found + 1] = value
                end
            end
            return found
        end,
        remove = function(_, _, values) return registry.DeleteValues(values) end,
        describe = function(value) return "value HKLM\\" .. value[1] .. "\\" .. value[2] end},
}

-- The steps in their order, each with its entries.
local STEPS = {}
for _, entry in ipairs(KINDS) do
    if #STEPS == 0 or STEPS[#STEPS].name ~= entry.step then
        STEPS[#STEPS + 1] = {name = entry.step, entries = {}}
    end
    table.insert(STEPS[#STEPS].entries, entry)
end

-- The product's folders are found once, before any step removes what records them.
local function NewRun(p)
    local found = Locate(p)
    return {found = found, owned = files.Owned(found), recordedRoots = hooks.RecordedRoots(p),
        patches = installer.RecordedPatches(p)}
end

-- The first trace of the product on this machine, described for the log, or nil. It looks at everything the
-- clean-up removes, so that a single fragment left by a failed removal is still shown as found.
local function FindTrace(p)
    local run = NewRun(p)
    for _, entry in ipairs(KINDS) do
        local items = entry.find and entry.find(p, run) or {}
        if items[1] then
            return entry.describe(items[1])
        end
    end
    return nil
end

-- Remembers the answer: the clean-up runs the product's own uninstaller only for a product that was found.
function product.Detect(p)
    local trace = FindTrace(p)
    p.detected = trace ~= nil
    if trace then
        Log.Info(p.id .. ": found " .. trace)
        return true
    end
    Log.Info(p.id .. ": not found")
    return false
end

-- Reports each item of a kind once, found before the clean-up or at the kind's turn, as removed, going at the
-- restart, or left with the reason.
local function ReportTraces(entry, run, found, after, leftovers)
    local remaining, reported = {}, {}
    for _, item in ipairs(after) do
        remaining[entry.describe(item)] = true
    end
    for _, list in ipairs(found) do
        for _, item in ipairs(list) do
            local text = entry.describe(item)
            if not reported[text] then
                reported[text] = true
                if not remaining[text] then
                    Meta.AddTrace(entry.kind, text, "removed")
                elseif entry.pending and entry.pending(item) then
                    Meta.AddTrace(entry.kind, text, "restart")
                else
                    Meta.AddTrace(entry.kind, text, "left", entry.reason and entry.reason(item, run) or
                        (#leftovers > 0 and table.concat(leftovers, ", ")) or "still there after its removal")
                end
            end
        end
    end
end

-- Runs every step, even after one failed, so that as little as possible is left. Each kind's items are found
-- when its turn comes, after the steps before it (the uninstallers among them) have done their part; what was
-- there before any step is found too, for the report.
function product.Cleanup(p)
    Log.Info(p.id .. ": clean-up started")
    local run = NewRun(p)
    Log.Info(p.id .. ": folders: " .. table.concat(run.found.all, "; "))
    local before = {}
    for _, entry in ipairs(KINDS) do
        before[entry] = entry.find and entry.find(p, run)
    end
    local failed = false
    for index, step in ipairs(STEPS) do
        local name = ("step %d/%d, %s"):format(index, #STEPS, step.name)
        Log.Info(p.id .. ": " .. name)
        local leftovers = {}
        for _, entry in ipairs(step.entries) do
            if entry.run then
                Append(leftovers, entry.run(p, run))
            else
                local items = entry.find(p, run)
                local left = entry.remove(p, run, items)
                ReportTraces(entry, run, {before[entry], items}, entry.find(p, run), left)
                Append(leftovers, left)
            end
        end
        if #leftovers > 0 then
            failed = true
            Meta.SetFailed(p.id .. ": " .. name .. " left: " .. table.concat(leftovers, ", "))
        end
    end
    Log.Info(p.id .. ": clean-up " .. (failed and "failed" or "finished"))
    return not failed
end

return product
