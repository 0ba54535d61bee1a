-- The detection and removal flow shared by the product scripts. A product script describes its product line
-- in a table and hands it to Detect and Cleanup:
--   id, name, publisher       the script's product id; the display name, which also begins the names of its
--                             Windows Installer registrations; the publisher they name
--   upgradeCodes              Windows Installer upgrade codes of the product line
--   productCodes              product codes of released builds, for registrations that lost their upgrade code
--   uninstaller               optional {location, arguments}: the product's own uninstaller, run before
--                             Windows Installer
--   processes                 file names of the product's user-mode programs
--   services, drivers         service names, kernel-driver service names
--   devices                   {manufacturer, hardware id} of the devices of its driver packages
--   folders, files            locations {special folder, path below it}
--   keys, values              HKLM key paths, {key path, value name}, both removed in both registry views
-- Every step of a clean-up is logged; anything that is still there after its step marks the run as failed.
-- Clean-ups only remove what they find, so running one again on a clean machine changes nothing.

local files = require("norvane_files")
local installer = require("norvane_installer")
local registry = require("norvane_registry")
local system = require("norvane_system")

local product = {}

-- The first trace of the product on this machine, described for the log, or nil.
local function FindTrace(p)
    for _, key in ipairs(p.keys or {}) do
        local view = registry.FindBranch(key)
        if view then
            return "key HKLM\\" .. key .. " (" .. registry.ViewName(view) .. ")"
        end
    end
    for _, folder in ipairs(files.ResolveAll(p.folders)) do
        if FileSystem.Exists(folder) then
            return "folder " .. folder
        end
    end
    for _, list in ipairs({p.services or {}, p.drivers or {}}) do
        for _, name in ipairs(list) do
            if system.ServiceExists(name) then
                return "service " .. name
            end
        end
    end
    if installer.IsRegistered(p) then
        return "Windows Installer registration"
    end
    return nil
end

function product.Detect(p)
    local trace = FindTrace(p)
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

-- The product's own uninstaller, then Windows Installer. Either may fail on a broken installation; the forced
-- steps after them remove what they leave, so their failures are warnings.
local function RunUninstallers(p)
    if p.uninstaller then
        local program = files.Resolve(p.uninstaller[1])
        if program and FileSystem.IsFile(program) then
            if not Process.StartProcessAndWaitForCompletion(program, p.uninstaller[2], 600000) then
                Log.Warning(p.id .. ": the product's uninstaller did not succeed: " .. program)
            end
        elseif program then
            Log.Warning(p.id .. ": the product's uninstaller is missing: " .. program)
        end
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
    {"end programs", function(p)
        system.EndProcessesByName(p.processes)
        return {}
    end},
    {"run uninstallers", RunUninstallers},
    {"remove services", function(p)
        return system.RemoveServices(p.services or {}, p.id)
    end},
    {"end remaining processes", function(p)
        system.EndProcessesInFolders(files.ResolveAll(p.folders))
        return {}
    end},
    {"remove drivers", function(p)
        return system.RemoveServices(p.drivers or {}, p.id)
    end},
    {"remove devices", function(p)
        return system.RemoveDevices(p.devices)
    end},
    {"remove Windows Installer registrations", installer.RemoveRegistrations},
    {"remove files", function(p)
        local leftovers = Append(files.RemoveFolders(files.ResolveAll(p.folders)), files.RemoveFiles(
            files.ResolveAll(p.files)))
        files.RemoveEmptyVendorFolders()
        return leftovers
    end},
    {"remove registry keys", function(p)
        local leftovers = Append(registry.DeleteBranches(p.keys or {}), registry.DeleteValues(p.values or {}))
        registry.DeleteEmptyVendorKey()
        return leftovers
    end},
}

-- Runs every step, even after one failed, so that as little as possible is left.
function product.Cleanup(p)
    Log.Info(p.id .. ": clean-up started")
    local failed = false
    for index, step in ipairs(STEPS) do
        local name = ("step %d/%d, %s"):format(index, #STEPS, step[1])
        Log.Info(p.id .. ": " .. name)
        local leftovers = step[2](p)
        if #leftovers > 0 then
            failed = true
            Meta.SetFailed(p.id .. ": " .. name .. " left: " .. table.concat(leftovers, ", "))
        end
    end
    Log.Info(p.id .. ": clean-up " .. (failed and "failed" or "finished"))
    return not failed
end

return product
