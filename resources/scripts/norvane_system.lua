-- Running parts of the product lines: processes, services, kernel drivers and the devices of their driver
-- packages.

local files = require("norvane_files")
local registry = require("norvane_registry")

local system = {}

local SERVICES_KEY = "SYSTEM\\CurrentControlSet\\Services\\"
local SAFE_BOOT_KEYS = {
    "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\",
    "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\",
}
local CLASS_KEY = "SYSTEM\\CurrentControlSet\\Control\\Class"
local FILTER_VALUES = {"UpperFilters", "LowerFilters"}
local FIREWALL_RULES = "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\FirewallRules"
local TASK_CACHE = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache"
local TASK_TRIGGER_KEYS = {"Tasks", "Plain", "Logon", "Boot", "Maintenance"}
local UNINSTALL_TIMEOUT_MS = 300000

-- Ends the product's user-mode programs, each by its full path in each of the product's folders that holds
-- it; its services' programs are left to the service control.
function system.EndPrograms(names, folders)
    for _, folder in ipairs(folders) do
        for _, name in ipairs(names or {}) do
            local program = folder .. "\\" .. name
            if FileSystem.IsFile(program) then
                Process.TerminateByPath(program)
            end
        end
    end
end

-- Ends everything started from what the product owns (its folders, and its known files in folders it may not
-- own alone), whatever it is called. Programs are never ended by file name alone: another folder's program
-- may share it.
function system.EndProcessesInFolders(owned)
    for _, path in ipairs(owned) do
        if FileSystem.IsDirectory(path) then
            Process.TerminateAllFromPath(path)
        elseif FileSystem.IsFile(path) then
            Process.TerminateByPath(path)
        end
    end
end

function system.ServiceExists(name)
    return Reg.BranchExists(HKLM, SERVICES_KEY .. name)
end

-- Stops and deletes services (or kernel drivers) by name. A service that cannot be stopped is only marked for
-- deletion by Windows and goes at the next restart, so a restart is requested for it. Returns the names whose
-- registration is still there.
function system.RemoveServices(names, productId)
    local unstoppable = {}
    for _, name in ipairs(names) do
        -- Stop all first: a service of the product may depend on another one of it.
        if not Service.Stop(name) then
            unstoppable[name] = true
        end
    end
    local leftovers = {}
    for _, name in ipairs(names) do
        local key = SERVICES_KEY .. name
        if Reg.BranchExists(HKLM, key) then
            Log.Info("Deleting service: " .. name)
            -- The service key itself goes with the service; Service.Cleanup deletes only a key without subkeys
            -- (Parameters, Security, Enum).
            for _, subkey in ipairs(Reg.GetSubKeys(HKLM, key)) do
                Reg.DeleteBranch(HKLM, key .. "\\" .. subkey)
            end
        end
        Service.Cleanup(name)
        if Reg.BranchExists(HKLM, key) and not Reg.DeleteBranch(HKLM, key) then
            leftovers[#leftovers + 1] = name
        end
        for _, safeBoot in ipairs(system.FindSafeBootEntries({name})) do
            Log.Info("Deleting safe-mode entry: HKLM\\" .. safeBoot)
            if not Reg.DeleteBranch(HKLM, safeBoot) and Reg.BranchExists(HKLM, safeBoot) then
                leftovers[#leftovers + 1] = safeBoot
            end
        end
        if unstoppable[name] then
            Meta.SetRebootNeeded(productId .. ": service " .. name .. " is still running and goes at the next restart")
        end
    end
    return leftovers
end

-- Removes the devices of the product's driver packages, each given as {manufacturer, hardware id}; returns the
-- "manufacturer/hardware id" of those whose removal failed.
function system.RemoveDevices(devices)
    local leftovers = {}
    for _, device in ipairs(devices or {}) do
        if not Win32Driver.UninstallOemDriversByManufacturerAndName(device[1], device[2]) then
            leftovers[#leftovers + 1] = device[1] .. "/" .. device[2]
        end
    end
    return leftovers
end

-- The services' entries that let them start in safe mode ("Minimal" and "Network"), by service name or the
-- driver's file name.
function system.FindSafeBootEntries(names)
    local found = {}
    for _, name in ipairs(names) do
        for _, base in ipairs(SAFE_BOOT_KEYS) do
            for _, entry in ipairs({name, name .. ".sys"}) do
                if Reg.BranchExists(HKLM, base .. entry) then
                    found[#found + 1] = base .. entry
                end
            end
        end
    end
    return found
end

-- Starts a program of the product or of Windows and waits at most five minutes, so that a silent run never
-- hangs on a prompt; true when it ended with exit code 0.
function system.RunAndWait(program, arguments)
    return Process.StartProcessAndWaitForCompletion(program, arguments, UNINSTALL_TIMEOUT_MS,
        CreationFlags_CREATE_NO_WINDOW)
end

-- The device classes' filter lists that name one of the drivers, as {class key, value name, drivers}. A list is
-- read as Windows reads it: REG_MULTI_SZ with or without its final terminator, or a REG_SZ naming one filter.
function system.FindClassFilters(drivers)
    local found = {}
    if #(drivers or {}) == 0 then
        return found
    end
    local wanted = registry.Set(drivers, string.lower)
    for _, class in ipairs(Reg.GetSubKeys(HKLM, CLASS_KEY)) do
        local key = CLASS_KEY .. "\\" .. class
        for _, value in ipairs(FILTER_VALUES) do
            for _, filter in ipairs(Reg.GetNameList(HKLM, key, value)) do
                if wanted[filter:lower()] then
                    found[#found + 1] = {key, value, drivers}
                    break
                end
            end
        end
    end
    return found
end

-- Takes the product's drivers out of the filter lists, keeping every other filter in its order and the value in
-- the type it had; a list that only named the product's drivers is deleted. A filter without its driver can keep
-- Windows from starting, so one that remains is reported. Returns what remains.
function system.RemoveClassFilters(found)
    local leftovers = {}
    for _, entry in ipairs(found) do
        local key, value, drivers = entry[1], entry[2], entry[3]
        Log.Info("Removing the product's filters from HKLM\\" .. key .. "\\" .. value .. ": " ..
                     table.concat(drivers, " "))
        if not Reg.RemoveNames(drivers, HKLM, key, value) then
            leftovers[#leftovers + 1] = key .. "\\" .. value
        end
    end
    return leftovers
end

-- True when the driver package (as setupapi reads it) installs one of the drivers: a service its install
-- sections add, or a file they copy, named exactly after the driver.
local function InstallsDriver(package, drivers)
    local services, copied = registry.Set(package.services, string.lower), registry.Set(package.files, string.lower)
    for _, driver in ipairs(drivers) do
        if services[driver:lower()] or copied[(driver .. ".sys"):lower()] then
            return true
        end
    end
    return false
end

-- The product's driver packages in the Windows driver folder: "oem<n>.inf" files whose provider is the
-- publisher and which install one of the product's drivers. Another vendor's package, another Norvane
-- product's, or one that only mentions the driver stays.
function system.FindDriverPackages(drivers, publisher)
    local found = {}
    local windows = FileSystem.GetSpecialPath(SpecialPath_Windows)
    if windows == "" or #(drivers or {}) == 0 then
        return found
    end
    local infFolder = windows .. "\\INF"
    for _, name in ipairs(FileSystem.ListDirectory(infFolder, ListDir_Files)) do
        if name:lower():match("^oem%d+%.inf$") then
            local path = infFolder .. "\\" .. name
            local package = Win32Driver.GetDriverPackage(path)
            if package and package.provider == publisher and InstallsDriver(package, drivers) then
                found[#found + 1] = path
            end
        end
    end
    return found
end

-- Removes driver packages: through the driver store's own tool where Windows has it, then the description and
-- its compiled ".pnf" beside it. Returns what remains.
function system.RemoveDriverPackages(paths)
    local leftovers = {}
    local pnputil = FileSystem.GetSpecialPath(SpecialPath_System32) .. "\\pnputil.exe"
    for _, path in ipairs(paths) do
        local name = FileSystem.SplitPath(path)[2]
        Log.Info("Removing driver package: " .. path)
        if FileSystem.IsFile(pnputil) and not system.RunAndWait(pnputil, "/delete-driver " .. name .. " /force") then
            Log.Warning("The driver store did not remove " .. name)
        end
        for _, file in ipairs(files.RemoveFiles({path, path:sub(1, -5) .. ".pnf"})) do
            leftovers[#leftovers + 1] = file
        end
    end
    return leftovers
end

-- Field `name` of a firewall rule ("v2.30|Action=Allow|App=C:\\...\\x.exe|Svc=...|Name=...|"), or "".
local function RuleField(rule, name)
    return rule:match("|" .. name .. "=([^|]*)") or ""
end

-- Firewall rules let one program through; the product's rules name a program that lies in what the product
-- owns (`owned`: folders and files) or one of its services. Rule paths may begin with an environment variable,
-- which the firewall expands.
function system.FindFirewallRules(owned, services)
    local found, serviceNames = {}, registry.Set(services, string.lower)
    for _, name in ipairs(Reg.GetValueNames(HKLM, FIREWALL_RULES)) do
        local rule = Reg.GetString(HKLM, FIREWALL_RULES, name)
        local app = FileSystem.ExpandPath(RuleField(rule, "App"))
        if (app ~= "" and files.IsInAny(app, owned)) or serviceNames[RuleField(rule, "Svc"):lower()] then
            found[#found + 1] = {HKLM, FIREWALL_RULES, name, nil}
        end
    end
    return found
end

-- The product's scheduled tasks (paths such as "\\Norvane\\Antivirus Update") that the Task Scheduler still
-- keeps: the task file below System32\\Tasks or its cache entries, found by path and by the id the cache gives
-- it. Each is {path, id or ""}.
function system.FindTasks(paths)
    local found = {}
    local tasksFolder = FileSystem.GetSpecialPath(SpecialPath_System32) .. "\\Tasks"
    local wanted = registry.Set(paths, string.lower)
    local ids = {}
    for _, id in ipairs(Reg.GetSubKeys(HKLM, TASK_CACHE .. "\\Tasks")) do
        local path = Reg.GetString(HKLM, TASK_CACHE .. "\\Tasks\\" .. id, "Path")
        if wanted[path:lower()] then
            ids[path:lower()] = id
        end
    end
    for _, path in ipairs(paths or {}) do
        local id = Reg.GetString(HKLM, TASK_CACHE .. "\\Tree" .. path, "Id")
        if id == "" then
            id = ids[path:lower()] or ""
        end
        if id ~= "" or Reg.BranchExists(HKLM, TASK_CACHE .. "\\Tree" .. path) or FileSystem.Exists(tasksFolder .. path) then
            found[#found + 1] = {path, id}
        end
    end
    return found
end

-- Deletes scheduled tasks: through the Task Scheduler first, then whatever it left of the task file and the
-- cache entries, and the product's task folder once empty. Returns what remains.
function system.RemoveTasks(tasks)
    local leftovers = {}
    local system32 = FileSystem.GetSpecialPath(SpecialPath_System32)
    local schtasks = system32 .. "\\schtasks.exe"
    for _, task in ipairs(tasks) do
        local path, id = task[1], task[2]
        Log.Info("Deleting scheduled task: " .. path)
        if FileSystem.IsFile(schtasks) then
            system.RunAndWait(schtasks, '/delete /tn "' .. path .. '" /f')
        end
        local keys = {TASK_CACHE .. "\\Tree" .. path}
        if id ~= "" then
            for _, kind in ipairs(TASK_TRIGGER_KEYS) do
                keys[#keys + 1] = TASK_CACHE .. "\\" .. kind .. "\\" .. id
            end
        end
        for _, key in ipairs(keys) do
            if Reg.BranchExists(HKLM, key) and not Reg.DeleteBranch(HKLM, key) and Reg.BranchExists(HKLM, key) then
                leftovers[#leftovers + 1] = key
            end
        end
        for _, file in ipairs(files.RemoveFiles({system32 .. "\\Tasks" .. path})) do
            leftovers[#leftovers + 1] = file
        end
        local folder = path:match("^(\\[^\\]+)\\")
        if folder then
            Reg.DeleteBranchIfEmpty(HKLM, TASK_CACHE .. "\\Tree" .. folder)
            if FileSystem.IsDirectory(system32 .. "\\Tasks" .. folder) and
                next(FileSystem.ListDirectory(system32 .. "\\Tasks" .. folder, ListDir_All)) == nil then
                FileSystem.RemoveDirectoryIfEmpty(system32 .. "\\Tasks" .. folder)
            end
        end
    end
    return leftovers
end

return system
