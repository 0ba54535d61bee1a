-- Running parts of the product lines: processes, services, kernel drivers and the devices of their driver
-- packages.

local system = {}

local SERVICES_KEY = "SYSTEM\\CurrentControlSet\\Services\\"

-- Ends the product's user-mode programs (tray, user interface) by file name; they hold files open and would
-- restart services.
function system.EndProcessesByName(names)
    for _, name in ipairs(names or {}) do
        Process.TerminateByName(name)
    end
end

-- Ends everything started from the product's folders, whatever it is called.
function system.EndProcessesInFolders(folders)
    for _, folder in ipairs(folders) do
        Process.TerminateAllFromPath(folder)
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

return system
