-- Files and folders of the product lines: locations are given as {special folder, path below it} so that
-- they follow the machine's folder layout, and every removal is checked afterwards.

local files = {}

-- Folders that several product lines share; each is removed once the last product has left it.
local VENDOR_FOLDERS = {
    {SpecialPath_CommonProgramFiles, "Norvane"},
    {SpecialPath_CommonProgramFilesX86, "Norvane"},
    {SpecialPath_CommonAppData, "Norvane"},
    {SpecialPath_CommonStartMenuPrograms, "Norvane"},
}

-- The full path of a location, or nil when the machine has no such special folder.
function files.Resolve(location)
    local base = FileSystem.GetSpecialPath(location[1])
    if base == "" then
        return nil
    end
    return FileSystem.MakePath(base, location[2])
end

-- The resolved paths of a list of locations, in order, without the unresolvable ones.
function files.ResolveAll(locations)
    local paths = {}
    for _, location in ipairs(locations or {}) do
        local path = files.Resolve(location)
        if path then
            paths[#paths + 1] = path
        end
    end
    return paths
end

-- The paths that exist, in order.
function files.ExistingPaths(paths)
    local existing = {}
    for _, path in ipairs(paths) do
        if FileSystem.Exists(path) then
            existing[#existing + 1] = path
        end
    end
    return existing
end

-- A path that is gone, or that Windows will delete at the next restart, is dealt with.
local function Remains(path)
    return FileSystem.Exists(path) and not FileSystem.HasPendingFileOperation(path)
end

-- Removes each present path with `remove` and returns the paths that are still there.
local function RemoveAll(paths, isPresent, what, remove)
    local leftovers = {}
    for _, path in ipairs(paths) do
        if isPresent(path) then
            Log.Info("Removing " .. what .. ": " .. path)
            remove(path)
            if Remains(path) then
                leftovers[#leftovers + 1] = path
            end
        end
    end
    return leftovers
end

-- Removes folders with everything in them; returns the paths that are still there.
function files.RemoveFolders(paths)
    return RemoveAll(paths, FileSystem.Exists, "folder", FileSystem.RemoveRecursive)
end

-- Removes single files; returns the paths that are still there. `what` names them in the log ("file" when nil).
function files.RemoveFiles(paths, what)
    return RemoveAll(paths, FileSystem.IsFile, what or "file", FileSystem.DeleteFile)
end

-- Removes the vendor's shared folders that nothing is left in. A folder that still holds another product,
-- the logs or the quarantine stays; so does one with a deletion pending until the next restart.
function files.RemoveEmptyVendorFolders()
    for _, path in ipairs(files.ResolveAll(VENDOR_FOLDERS)) do
        if FileSystem.IsDirectory(path) and next(FileSystem.ListDirectory(path, ListDir_All)) == nil then
            Log.Info("Removing empty folder: " .. path)
            FileSystem.RemoveDirectoryIfEmpty(path)
        end
    end
end

local function Lower(text)
    return text:lower()
end

local function WithoutTrailingBackslash(path)
    return (path:gsub("\\+$", ""))
end

-- True when `inner` is `outer` or lies below it (compared without case).
local function IsWithin(inner, outer)
    inner, outer = Lower(inner), Lower(outer)
    return inner == outer or inner:sub(1, #outer + 1) == outer .. "\\"
end

-- Folders that hold more than one product or the system: a recorded location equal to one of them, or above
-- one, is never the product's own folder. The Windows folder is refused with everything below it.
local function SharedFolders()
    local shared = files.ResolveAll(VENDOR_FOLDERS)
    for kind = SpecialPath_CommonAppData, SpecialPath_UserProfiles do
        local path = FileSystem.GetSpecialPath(kind)
        if path ~= "" then
            shared[#shared + 1] = path
        end
    end
    return shared
end

-- A folder that a product recorded for itself (install folder, service program's folder) that may be removed
-- as a whole: an absolute local path below a drive's root that is neither a shared folder, nor above one,
-- nor inside Windows.
function files.IsOwnFolder(path)
    if not path:match("^%a:\\[^\\]") or path:find("[%*%?\"<>|]") or path:find("\\%.%.?\\") or
        path:find("\\%.%.?$") then
        return false
    end
    local windows = FileSystem.GetSpecialPath(SpecialPath_Windows)
    if windows ~= "" and IsWithin(path, windows) then
        return false
    end
    for _, shared in ipairs(SharedFolders()) do
        if IsWithin(shared, path) then
            return false
        end
    end
    return true
end

-- The folder of the program a command line or service image path starts: quoted or up to ".exe", with the
-- NT prefix "\\??\\" dropped; nil when it names no absolute path.
function files.ProgramFolder(command)
    local program = command:match('^%s*"([^"]+)"') or command:match("^%s*(.-%.[Ee][Xx][Ee])") or command
    program = program:gsub("^\\%?%?\\", "")
    local folder = program:match("^(%a:\\.+)\\[^\\]+$")
    return folder
end

-- Adds the folder to the list unless it is there already (compared without case) or is not the product's own.
function files.AddFolder(list, path, source)
    if not path or path == "" then
        return
    end
    path = WithoutTrailingBackslash(path)
    for _, known in ipairs(list) do
        if Lower(known) == Lower(path) then
            return
        end
    end
    if files.IsOwnFolder(path) then
        list[#list + 1] = path
    else
        Log.Warning("Not a folder of the product's own (" .. source .. "): " .. path)
    end
end

-- The product's per-user folders in every profile: each location below AppData\Local and AppData\Roaming of
-- every folder of the profiles directory.
function files.UserFolders(locations)
    local paths = {}
    local profiles = FileSystem.GetSpecialPath(SpecialPath_UserProfiles)
    if profiles == "" or #(locations or {}) == 0 then
        return paths
    end
    for _, profile in ipairs(FileSystem.ListDirectory(profiles, ListDir_Directories)) do
        for _, appData in ipairs({"AppData\\Local", "AppData\\Roaming"}) do
            for _, location in ipairs(locations) do
                paths[#paths + 1] = FileSystem.MakePath(profiles, profile .. "\\" .. appData .. "\\" .. location)
            end
        end
    end
    return paths
end

-- Removes, for each per-user folder that is gone, its vendor folder ("...\\AppData\\Local\\Norvane") once empty.
function files.RemoveEmptyParents(paths)
    for _, path in ipairs(paths) do
        local parent = FileSystem.SplitPath(path)[1]
        if parent ~= "" and not FileSystem.Exists(path) and FileSystem.IsDirectory(parent) and
            next(FileSystem.ListDirectory(parent, ListDir_All)) == nil then
            Log.Info("Removing empty folder: " .. parent)
            FileSystem.RemoveDirectoryIfEmpty(parent)
        end
    end
end

files.IsWithin = IsWithin

return files
