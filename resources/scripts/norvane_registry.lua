-- Registry traces of the product lines. Every product writes to both registry views (its 64-bit services and
-- its 32-bit components), so each key and value is looked for and removed in both.

local registry = {}

registry.VIEWS = {KEY_WOW64_64KEY, KEY_WOW64_32KEY}

local VIEW_NAMES = {[KEY_WOW64_64KEY] = "64-bit", [KEY_WOW64_32KEY] = "32-bit"}
local VENDOR_KEY = "SOFTWARE\\Norvane"

-- The view in which a key exists (64-bit first), or nil.
function registry.FindBranch(path)
    for _, view in ipairs(registry.VIEWS) do
        if Reg.BranchExists(HKLM, path, view) then
            return view
        end
    end
    return nil
end

function registry.ViewName(view)
    return VIEW_NAMES[view]
end

-- The first non-empty string value of a key in either view.
function registry.GetString(path, name)
    for _, view in ipairs(registry.VIEWS) do
        local value = Reg.GetString(HKLM, path, name, view)
        if value ~= "" then
            return value
        end
    end
    return ""
end

-- Deletes whole branches of HKLM in both views; returns the "view:path" of those that remain.
function registry.DeleteBranches(paths)
    local leftovers = {}
    for _, path in ipairs(paths) do
        for _, view in ipairs(registry.VIEWS) do
            if Reg.BranchExists(HKLM, path, view) then
                Log.Info("Deleting key (" .. VIEW_NAMES[view] .. "): HKLM\\" .. path)
                if not Reg.DeleteBranch(HKLM, path, view) and Reg.BranchExists(HKLM, path, view) then
                    leftovers[#leftovers + 1] = VIEW_NAMES[view] .. ":" .. path
                end
            end
        end
    end
    return leftovers
end

-- Deletes named values, each given as {key path, value name}, in both views; returns those that remain.
function registry.DeleteValues(values)
    local leftovers = {}
    for _, value in ipairs(values) do
        local path, name = value[1], value[2]
        for _, view in ipairs(registry.VIEWS) do
            if Reg.KeyExists(HKLM, path, name, view) then
                Log.Info("Deleting value (" .. VIEW_NAMES[view] .. "): HKLM\\" .. path .. "\\" .. name)
                if not Reg.DeleteKey(HKLM, path, name, view) then
                    leftovers[#leftovers + 1] = VIEW_NAMES[view] .. ":" .. path .. "\\" .. name
                end
            end
        end
    end
    return leftovers
end

-- Removes the vendor key once no product line, and nothing of the tool's own settings, is left in it.
function registry.DeleteEmptyVendorKey()
    for _, view in ipairs(registry.VIEWS) do
        if Reg.BranchExists(HKLM, VENDOR_KEY, view) and Reg.DeleteBranchIfEmpty(HKLM, VENDOR_KEY, view) then
            Log.Info("Deleted empty key (" .. VIEW_NAMES[view] .. "): HKLM\\" .. VENDOR_KEY)
        end
    end
end

return registry
