-- Registry traces of the product lines. Every product writes to both registry views (its 64-bit services and
-- its 32-bit components), so each key and value is looked for and removed in both.

local files = require("norvane_files")

local registry = {}

registry.VIEWS = {KEY_WOW64_64KEY, KEY_WOW64_32KEY}

local VIEW_NAMES = {[KEY_WOW64_64KEY] = "64-bit", [KEY_WOW64_32KEY] = "32-bit"}
local VENDOR_KEY = "SOFTWARE\\Norvane"
local USER_VENDOR_KEY = "Software\\Norvane"
local UNINSTALL_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
local RUN_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"
local HANDLER_TYPES = {"*", "Directory", "Directory\\Background", "Folder", "Drive", "AllFilesystemObjects"}

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

-- A set of texts for lookups; `normalize` (lower or upper) is applied to the texts and later to the keys looked
-- up, so that names that Windows compares without case match.
function registry.Set(texts, normalize)
    local set = {}
    for _, text in ipairs(texts or {}) do
        set[normalize and normalize(text) or text] = true
    end
    return set
end

-- The view in which a named value exists (64-bit first), or nil.
function registry.FindValue(path, name)
    for _, view in ipairs(registry.VIEWS) do
        if Reg.KeyExists(HKLM, path, name, view) then
            return view
        end
    end
    return nil
end

-- Deletes HKLM keys given as {path, view}; returns the "view:path" of those that remain.
function registry.DeleteKeys(keys)
    local leftovers = {}
    for _, key in ipairs(keys) do
        local path, view = key[1], key[2]
        if Reg.BranchExists(HKLM, path, view) then
            Log.Info("Deleting key (" .. VIEW_NAMES[view] .. "): HKLM\\" .. path)
            if not Reg.DeleteBranch(HKLM, path, view) and Reg.BranchExists(HKLM, path, view) then
                leftovers[#leftovers + 1] = VIEW_NAMES[view] .. ":" .. path
            end
        end
    end
    return leftovers
end

-- Deletes whole branches of HKLM in both views; returns the "view:path" of those that remain.
function registry.DeleteBranches(paths)
    local keys = {}
    for _, path in ipairs(paths) do
        for _, view in ipairs(registry.VIEWS) do
            keys[#keys + 1] = {path, view}
        end
    end
    return registry.DeleteKeys(keys)
end

-- Context-menu handlers of the shell extension classes, whatever their key's name: keys below
-- `<type>\shellex\ContextMenuHandlers` named after a class or whose default value is one, both views. Each is
-- {path, view}.
function registry.FindContextMenuHandlers(clsids)
    local wanted, found = registry.Set(clsids, string.upper), {}
    for _, view in ipairs(#(clsids or {}) > 0 and registry.VIEWS or {}) do
        for _, type in ipairs(HANDLER_TYPES) do
            local base = "SOFTWARE\\Classes\\" .. type .. "\\shellex\\ContextMenuHandlers"
            for _, name in ipairs(Reg.GetSubKeys(HKLM, base, view)) do
                local path = base .. "\\" .. name
                if wanted[name:upper()] or wanted[Reg.GetString(HKLM, path, "", view):upper()] then
                    found[#found + 1] = {path, view}
                end
            end
        end
    end
    return found
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

-- The user hives that are loaded: HKU\<SID> of every user who is logged on (or whose hive a program loaded),
-- and the default hive, without the classes hives. A profile whose user is not logged on has no hive here;
-- its per-user keys stay until a run while that user is logged on.
function registry.UserHives()
    local hives = {}
    for _, name in ipairs(Reg.GetSubKeys(HKU, "")) do
        if not name:match("_Classes$") then
            hives[#hives + 1] = name
        end
    end
    return hives
end

-- The product's keys (paths below Software of a user hive) in every loaded hive, as "<SID>\<path>".
function registry.FindUserKeys(paths)
    local found = {}
    for _, hive in ipairs(registry.UserHives()) do
        for _, path in ipairs(paths or {}) do
            if Reg.BranchExists(HKU, hive .. "\\" .. path) then
                found[#found + 1] = hive .. "\\" .. path
            end
        end
    end
    return found
end

-- Deletes keys of the user hives (as FindUserKeys gives them) and each hive's vendor key once it is empty;
-- returns the keys that remain.
function registry.DeleteUserKeys(keys)
    local leftovers, hives = {}, {}
    for _, key in ipairs(keys) do
        Log.Info("Deleting key: HKU\\" .. key)
        if not Reg.DeleteBranch(HKU, key) and Reg.BranchExists(HKU, key) then
            leftovers[#leftovers + 1] = "HKU\\" .. key
        end
        hives[key:match("^[^\\]+")] = true
    end
    for hive in pairs(hives) do
        local vendor = hive .. "\\" .. USER_VENDOR_KEY
        if Reg.BranchExists(HKU, vendor) and Reg.DeleteBranchIfEmpty(HKU, vendor) then
            Log.Info("Deleted empty key: HKU\\" .. vendor)
        end
    end
    return leftovers
end

-- Every Run key the product may have written to: HKLM in both views and each loaded user hive, as
-- {root, path, view}.
local function RunKeys()
    local keys = {}
    for _, view in ipairs(registry.VIEWS) do
        keys[#keys + 1] = {HKLM, RUN_KEY, view}
    end
    for _, hive in ipairs(registry.UserHives()) do
        keys[#keys + 1] = {HKU, hive .. "\\" .. RUN_KEY, nil}
    end
    return keys
end

-- The product's logon entries: Run values with one of its names, or whose command starts a program that lies
-- in what the product owns (`owned`: folders and files). A folder named only in the arguments decides
-- nothing: another program's entry of the same key stays. Each is {root, key, name, view}.
function registry.FindRunValues(names, owned)
    local wanted, found = registry.Set(names), {}
    for _, key in ipairs(RunKeys()) do
        for _, name in ipairs(Reg.GetValueNames(key[1], key[2], key[3])) do
            if wanted[name] or
                files.IsInAny(FileSystem.GetCommandProgram(Reg.GetPath(key[1], key[2], name, key[3])), owned) then
                found[#found + 1] = {key[1], key[2], name, key[3]}
            end
        end
    end
    return found
end

-- Deletes values given as {root, key, name, view}; returns those that remain.
function registry.DeleteFoundValues(values)
    local leftovers = {}
    for _, value in ipairs(values) do
        local where = (value[1] == HKU and "HKU\\" or "HKLM\\") .. value[2] .. "\\" .. value[3]
        Log.Info("Deleting value: " .. where)
        if not Reg.DeleteKey(value[1], value[2], value[3], value[4]) and
            Reg.KeyExists(value[1], value[2], value[3], value[4]) then
            leftovers[#leftovers + 1] = where
        end
    end
    return leftovers
end

-- Programs and Features entries of the product in both views: those named after one of its product codes,
-- and those whose display name equals one of its names and whose publisher is its own (a newer build's
-- entry, a setup bundle's entry). A longer name of the same publisher is another product. Each is
-- {path, view}.
function registry.FindUninstallEntries(names, publisher, productCodes)
    local byName, byCode, found = registry.Set(names), registry.Set(productCodes, string.upper), {}
    for _, view in ipairs(registry.VIEWS) do
        for _, entry in ipairs(Reg.GetSubKeys(HKLM, UNINSTALL_KEY, view)) do
            local path = UNINSTALL_KEY .. "\\" .. entry
            if byCode[entry:upper()] or (byName[Reg.GetString(HKLM, path, "DisplayName", view)] and
                Reg.GetString(HKLM, path, "Publisher", view) == publisher) then
                found[#found + 1] = {path, view}
            end
        end
    end
    return found
end

return registry
