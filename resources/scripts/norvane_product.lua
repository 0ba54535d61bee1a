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
-- Every step of a clean-up is logged; anything that is still there after its step marks the run as failed.
-- Clean-ups only remove what they find, so running one again on a clean machine changes nothing.

local files = require("norvane_files")
local installer = require("norvane_installer")
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

local function First(list, describe)
    return list[1] and describe(list[1]) or nil
end

local function RegisteredLeftover(p)
    if installer.IsRegistered(p) then
        return "Windows Installer registration"
    end
    local left = installer.FindLeftovers(p)
    return First(left.entries, function(entry)
        return "Programs and Features entry HKLM\\" .. entry[1]
    end) or First(left.packages, function(package)
        return "cached package " .. package
    end) or First(left.folders, function(folder)
        return "folder " .. folder
    end)
end

-- The first trace of the product on this machine, described for the log, or nil. It looks at everything the
-- clean-up removes, so that a single fragment left by a failed removal is still shown as found.
local function FindTrace(p)
    for _, key in ipairs(p.keys or {}) do
        local view = registry.FindBranch(key)
        if view then
            return "key HKLM\\" .. key .. " (" .. registry.ViewName(view) .. ")"
        end
    end
    local owned = files.Owned(Locate(p))
    local checks = {
        function()
            return First(files.ExistingPaths(owned), function(path) return "folder or file " .. path end) or
                       First(files.ExistingPaths(files.ResolveAll(p.files)), function(path) return "file " .. path end)
        end,
        function()
            for _, name in ipairs(ServiceNames(p)) do
                if system.ServiceExists(name) then
                    return "service " .. name
                end
            end
        end,
        function()
            return RegisteredLeftover(p)
        end,
        function()
            for _, value in ipairs(p.values or {}) do
                if registry.FindValue(value[1], value[2]) then
                    return "value HKLM\\" .. value[1] .. "\\" .. value[2]
                end
            end
        end,
        function()
            return First(registry.FindRunValues(p.runValues, owned), function(value)
                return "logon entry " .. value[3]
            end)
        end,
        function()
            return First(registry.FindUserKeys(p.userKeys), function(key) return "key HKU\\" .. key end) or
                       First(files.ExistingPaths(files.UserFolders(p.userFolders)),
                           function(path) return "folder " .. path end)
        end,
        function()
            return First(system.FindTasks(p.tasks), function(task) return "scheduled task " .. task[1] end)
        end,
        function()
            return First(system.FindSafeBootEntries(ServiceNames(p)), function(key)
                return "safe-mode entry HKLM\\" .. key
            end)
        end,
        function()
            return First(system.FindFirewallRules(owned, p.services or {}), function(rule)
                return "firewall rule " .. rule[3]
            end)
        end,
        function()
            return First(system.FindClassFilters(p.drivers), function(filter)
                return "filter of HKLM\\" .. filter[1] .. "\\" .. filter[2]
            end)
        end,
        function()
            return First(system.FindDriverPackages(p.drivers, p.publisher), function(path)
                return "driver package " .. path
            end)
        end,
    }
    for _, check in ipairs(checks) do
        local trace = check()
        if trace then
            return trace
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

local STEPS = {
    {"end programs", function(p, run)
        system.EndPrograms(p.programs, run.found.all)
        return {}
    end},
    {"run uninstallers", RunUninstallers},
    {"remove services", function(p)
        return system.RemoveServices(p.services or {}, p.id)
    end},
    {"end remaining processes", function(_, run)
        system.EndProcessesInFolders(run.owned)
        return {}
    end},
    {"remove drivers", function(p)
        return Append(system.RemoveServices(p.drivers or {}, p.id),
            system.RemoveClassFilters(system.FindClassFilters(p.drivers)))
    end},
    {"remove devices", function(p)
        return system.RemoveDevices(p.devices)
    end},
    {"remove driver packages", function(p)
        return system.RemoveDriverPackages(system.FindDriverPackages(p.drivers, p.publisher))
    end},
    {"remove Windows Installer registrations", installer.RemoveRegistrations},
    {"remove system integration", function(p, run)
        local leftovers = system.RemoveTasks(system.FindTasks(p.tasks))
        Append(leftovers, registry.DeleteFoundValues(system.FindFirewallRules(run.owned, p.services or {})))
        return Append(leftovers, registry.DeleteFoundValues(registry.FindRunValues(p.runValues, run.owned)))
    end},
    {"remove per-user parts", function(p)
        local userFolders = files.UserFolders(p.userFolders)
        local leftovers = Append(registry.DeleteUserKeys(registry.FindUserKeys(p.userKeys)),
            files.RemoveFolders(userFolders))
        files.RemoveEmptyParents(userFolders)
        return leftovers
    end},
    {"remove files", function(p, run)
        local leftovers = Append(files.RemoveFolders(run.found.own), files.RemoveFromDoubtful(run.found))
        Append(leftovers, files.RemoveFiles(files.ResolveAll(p.files)))
        files.RemoveEmptyVendorFolders()
        run.foldersLeft = #leftovers > 0
        return leftovers
    end},
    {"remove registry keys", function(p, run)
        local keys = p.keys or {}
        if run.foldersLeft then
            -- The product's own keys record where it lives; without them a later run could not find what is
            -- left there.
            keys = {}
            for _, key in ipairs(p.keys or {}) do
                if key:sub(1, #OWN_KEY_PREFIX) ~= OWN_KEY_PREFIX then
                    keys[#keys + 1] = key
                end
            end
            Log.Warning(p.id .. ": keeping its own keys while files are left")
        end
        local leftovers = Append(registry.DeleteBranches(keys), registry.DeleteValues(p.values or {}))
        registry.DeleteEmptyVendorKey()
        return leftovers
    end},
}

-- Runs every step, even after one failed, so that as little as possible is left. The product's folders are
-- found once, before any step removes what records them.
function product.Cleanup(p)
    Log.Info(p.id .. ": clean-up started")
    local found = Locate(p)
    local run = {found = found, owned = files.Owned(found)}
    Log.Info(p.id .. ": folders: " .. table.concat(found.all, "; "))
    local failed = false
    for index, step in ipairs(STEPS) do
        local name = ("step %d/%d, %s"):format(index, #STEPS, step[1])
        Log.Info(p.id .. ": " .. name)
        local leftovers = step[2](p, run)
        if #leftovers > 0 then
            failed = true
            Meta.SetFailed(p.id .. ": " .. name .. " left: " .. table.concat(leftovers, ", "))
        end
    end
    Log.Info(p.id .. ": clean-up " .. (failed and "failed" or "finished"))
    return not failed
end

return product
