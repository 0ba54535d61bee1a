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

-- True when the path is one of the folders or lies in one of them (the host's one test: whole components,
-- without case, after both are made literal).
function files.IsInAny(path, folders)
    for _, folder in ipairs(folders) do
        if FileSystem.IsInFolder(path, folder) then
            return true
        end
    end
    return false
end

local function Below(base, names)
    local paths = {}
    for _, name in ipairs(base ~= "" and names or {}) do
        paths[#paths + 1] = FileSystem.MakePath(base, name)
    end
    return paths
end

-- The profile folders, the profiles folder itself included: nothing below them is a product's program folder.
function files.ProfileFolders()
    local profiles = FileSystem.GetUserProfiles()
    local root = FileSystem.GetSpecialPath(SpecialPath_UserProfiles)
    if root ~= "" then
        profiles[#profiles + 1] = root
    end
    return profiles
end

-- The one rule for folders that the machine records for a product: the folders that are never a product's
-- own, and how far each refusal reaches. "above" refuses the folder and every folder above it (which holds
-- it); "below" refuses everything inside it too. `others` are the folders other products' registrations
-- record as their own. A product's own default folder is never refused.
local function RefusedFolders(others)
    local commonAppData = FileSystem.GetSpecialPath(SpecialPath_CommonAppData)
    return {
        {"a known folder of the machine or of a profile", FileSystem.GetKnownFolders(), "above"},
        {"the Windows folder", {FileSystem.GetSpecialPath(SpecialPath_Windows)}, "below"},
        {"a user profile", files.ProfileFolders(), "below"},
        {"a system folder of ProgramData", Below(commonAppData, {"Microsoft", "Package Cache", "Packages",
            "regid.1991-06.com.microsoft", "USOPrivate", "USOShared"}), "below"},
        {"the folder of Store apps", Below(FileSystem.GetSpecialPath(SpecialPath_CommonProgramFiles),
            {"WindowsApps"}), "below"},
        {"a shared folder of the vendor", files.ResolveAll(VENDOR_FOLDERS), "above"},
        {"the vendor's logs or quarantine", Below(commonAppData, {"Norvane\\Log", "Norvane\\Quarantine"}), "below"},
        {"a folder of another product", others, "above"},
    }
end

-- Why the folder can never be the product's, or nil.
local function Refusal(path, refusedFolders)
    for _, refused in ipairs(refusedFolders) do
        local reason, folders, reach = refused[1], refused[2], refused[3]
        for _, folder in ipairs(folders) do
            if folder ~= "" and (FileSystem.IsInFolder(folder, path) or
                (reach == "below" and FileSystem.IsInFolder(path, folder))) then
                return reason .. " (" .. folder .. ")"
            end
        end
    end
    return nil
end

function files.IsSamePath(path, other)
    return FileSystem.IsInFolder(path, other) and FileSystem.IsInFolder(other, path)
end

local function EndsWithFolder(path, tail)
    local wanted = ("\\" .. tail):lower()
    return path:lower():sub(-#wanted) == wanted
end

-- A folder the product may own alone: below the program files or the common application data, and named for
-- the product (ending like one of its default folders, "Norvane\\Antivirus", or named like the product).
local function IsCertain(path, product)
    local below = false
    for _, base in ipairs(files.ResolveAll({{SpecialPath_CommonProgramFiles, ""},
        {SpecialPath_CommonProgramFilesX86, ""}, {SpecialPath_CommonAppData, ""}})) do
        below = below or (FileSystem.IsInFolder(path, base) and not files.IsSamePath(path, base))
    end
    local named = EndsWithFolder(path, product.name)
    for _, location in ipairs(product.folders or {}) do
        named = named or EndsWithFolder(path, location[2])
    end
    return below and named
end

-- A new list of the product's folders, for AddFolder. `others` gives, once asked, the folders that other
-- products' registrations record. The list keeps every folder in the order found (`all`), the folders the
-- product owns alone (`own`, removed whole) and the doubtful ones (`doubtful`: only the product's known files
-- are removed from them, and the folder once it is empty).
function files.NewFolderList(product, others)
    return {all = {}, own = {}, doubtful = {}, product = product, defaults = files.ResolveAll(product.folders),
        others = others}
end

local function IsAbsoluteFolder(path)
    return path:match("^%a:\\[^\\]") and not path:find("[%*%?\"<>|]") and not path:find("\\%.%.?\\") and
               not path:find("\\%.%.?$")
end

-- Adds a folder the machine records for the product (`source` says where), or one of its default folders,
-- unless it is known already or can never be the product's.
function files.AddFolder(list, path, source)
    if not path or path == "" then
        return
    end
    path = path:gsub("\\+$", "")
    for _, known in ipairs(list.all) do
        if files.IsSamePath(known, path) then
            return
        end
    end
    local isDefault = false
    for _, default in ipairs(list.defaults) do
        isDefault = isDefault or files.IsSamePath(path, default)
    end
    local refusal
    if not IsAbsoluteFolder(path) then
        refusal = "not an absolute folder"
    elseif not isDefault then
        list.refused = list.refused or RefusedFolders(list.others())
        refusal = Refusal(path, list.refused)
    end
    if refusal then
        Log.Warning("Not a folder of the product's own (" .. source .. "): " .. path .. ": " .. refusal)
        return
    end
    list.all[#list.all + 1] = path
    if isDefault or IsCertain(path, list.product) then
        list.own[#list.own + 1] = path
    else
        Log.Warning("Not known to be the product's alone (" .. source .. "), only its files are removed: " .. path)
        list.doubtful[#list.doubtful + 1] = path
    end
end

-- The product's files that may lie in the program folder: its programs, its uninstaller and its program files.
local function KnownFiles(product, folder)
    local names = {table.unpack(product.programs or {})}
    names[#names + 1] = product.uninstaller and product.uninstaller[1] or nil
    for _, name in ipairs(product.programFiles or {}) do
        names[#names + 1] = name
    end
    local paths = {}
    for _, name in ipairs(names) do
        paths[#paths + 1] = FileSystem.MakePath(folder, name)
    end
    return paths
end

-- What belongs to the product alone: its own folders, and its known files in the doubtful ones. A program
-- that lies in one of these is the product's.
function files.Owned(list)
    local owned = {table.unpack(list.own)}
    for _, folder in ipairs(list.doubtful) do
        for _, path in ipairs(KnownFiles(list.product, folder)) do
            owned[#owned + 1] = path
        end
    end
    return owned
end

-- The folders in which the product's own programs may be looked for: never below the common application
-- data or a profile, which users can write to.
function files.ProgramFolders(list)
    local writable = files.ProfileFolders()
    writable[#writable + 1] = FileSystem.GetSpecialPath(SpecialPath_CommonAppData)
    local folders = {}
    for _, folder in ipairs(list.all) do
        if not files.IsInAny(folder, writable) then
            folders[#folders + 1] = folder
        end
    end
    return folders
end

-- True when nothing but deletions waiting for the restart is left in the folder's tree.
local function OnlyPendingLeft(folder)
    for _, name in ipairs(FileSystem.ListDirectory(folder, ListDir_All)) do
        local path = folder .. "\\" .. name
        if FileSystem.IsDirectory(path) then
            if not OnlyPendingLeft(path) then
                return false
            end
        elseif not FileSystem.HasPendingFileOperation(path) then
            return false
        end
    end
    return true
end

-- True when what is left at the path goes at the next restart.
function files.IsPending(path)
    return FileSystem.HasPendingFileOperation(path) or (FileSystem.IsDirectory(path) and OnlyPendingLeft(path))
end

-- Removes the product's known files from the doubtful folders, then each folder that holds nothing else;
-- one that does stays. Returns the known files that are still there.
function files.RemoveFromDoubtful(list)
    local leftovers = {}
    for _, folder in ipairs(list.doubtful) do
        for _, left in ipairs(files.RemoveFiles(KnownFiles(list.product, folder))) do
            leftovers[#leftovers + 1] = left
        end
        if FileSystem.IsDirectory(folder) then
            if OnlyPendingLeft(folder) then
                Log.Info("Removing folder that only held the product's files: " .. folder)
                FileSystem.RemoveRecursive(folder)
            else
                Log.Warning("Keeping folder that holds files not known to be the product's: " .. folder)
            end
        end
    end
    return leftovers
end

-- The product's per-user folders in every profile: each location below AppData\Local and AppData\Roaming of
-- every profile the profile list records.
function files.UserFolders(locations)
    local paths = {}
    if #(locations or {}) == 0 then
        return paths
    end
    for _, profile in ipairs(FileSystem.GetUserProfiles()) do
        for _, appData in ipairs({"AppData\\Local", "AppData\\Roaming"}) do
            for _, location in ipairs(locations) do
                paths[#paths + 1] = FileSystem.MakePath(profile, appData .. "\\" .. location)
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

return files
