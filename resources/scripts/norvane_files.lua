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

-- Removes single files; returns the paths that are still there.
function files.RemoveFiles(paths)
    return RemoveAll(paths, FileSystem.IsFile, "file", FileSystem.DeleteFile)
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

return files
