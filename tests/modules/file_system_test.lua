-- FileSystem module against real files and folders of the prefix.
local T = require("module_test_lib")

local READONLY = 0x1
local INVALID_UTF8 = "C:\\bad \xFF name"

local root = TestHost.NewFolder()

-- A folder of its own for each case, filled with the given files (path -> content; a trailing backslash
-- makes a directory).
local caseCount = 0
local function Tree(entries)
    caseCount = caseCount + 1
    local folder = root .. "\\case" .. caseCount
    TestHost.MakeDirectory(folder)
    for _, entry in ipairs(entries or {}) do
        local path = folder .. "\\" .. entry
        if entry:sub(-1) == "\\" then
            assert(TestHost.MakeDirectory(path:sub(1, -2)), "cannot create " .. path)
        else
            assert(TestHost.WriteFile(path, "data of " .. entry), "cannot write " .. path)
        end
    end
    return folder
end

T.Case("constants", function()
    local constants = {
        SpecialPath_CommonAppData = 0, SpecialPath_CommonDesktop = 1, SpecialPath_CommonStartMenu = 2,
        SpecialPath_CommonStartMenuPrograms = 3, SpecialPath_CommonStartMenuStartup = 4,
        SpecialPath_CommonProgramFiles = 5, SpecialPath_CommonProgramFilesX86 = 6, SpecialPath_Windows = 7,
        SpecialPath_System32 = 8, SpecialPath_UserProfiles = 9,
        ListDir_All = 0, ListDir_Files = 1, ListDir_Directories = 2,
    }
    for name, value in pairs(constants) do
        T.Eq(_G[name], value, name)
        T.Eq(math.type(_G[name]), "integer", name .. " type")
    end
    local count = 0
    for _ in pairs(FileSystem) do
        count = count + 1
    end
    T.Eq(count, 22, "functions in FileSystem")
end)

T.Case("GetSpecialPath resolves each kind", function()
    local cases = {
        { SpecialPath_CommonAppData, os.getenv("ProgramData") },
        { SpecialPath_CommonProgramFiles, os.getenv("ProgramFiles") },
        { SpecialPath_CommonProgramFilesX86, os.getenv("ProgramFiles(x86)") },
        { SpecialPath_Windows, os.getenv("SystemRoot") },
        { SpecialPath_System32, os.getenv("SystemRoot") .. "\\system32" },
        { SpecialPath_UserProfiles, os.getenv("SystemDrive") .. "\\users" },
        { "7", os.getenv("SystemRoot") },
        { 42, "" },
        { -1, "" },
        { 10, "" },
    }
    for _, c in ipairs(cases) do
        T.Eq(FileSystem.GetSpecialPath(c[1]):lower(), c[2]:lower(), "kind " .. c[1])
    end
    for kind = SpecialPath_CommonDesktop, SpecialPath_CommonStartMenuStartup do
        local path = FileSystem.GetSpecialPath(kind)
        T.True(path ~= "" and FileSystem.IsDirectory(path), "kind " .. kind .. " names a folder: " .. path)
    end
end)

T.Case("Exists, IsFile and IsDirectory", function()
    local folder = Tree({ "file.txt", "sub\\", "gr\xC3\xBC\xC3\x9Fe.txt" })
    local cases = {
        { folder .. "\\file.txt", true, true, false },
        { folder .. "\\sub", true, false, true },
        { folder .. "\\sub\\", true, false, true },
        { folder .. "\\gr\xC3\xBC\xC3\x9Fe.txt", true, true, false },
        { folder .. "\\missing", false, false, false },
        { "", false, false, false },
        { INVALID_UTF8, false, false, false },
    }
    for _, c in ipairs(cases) do
        T.Eq(FileSystem.Exists(c[1]), c[2], "Exists " .. c[1])
        T.Eq(FileSystem.IsFile(c[1]), c[3], "IsFile " .. c[1])
        T.Eq(FileSystem.IsDirectory(c[1]), c[4], "IsDirectory " .. c[1])
    end
end)

T.Case("DeleteFile removes files only", function()
    local folder = Tree({ "plain.txt", "readonly.txt", "sub\\" })
    TestHost.SetAttributes(folder .. "\\readonly.txt", READONLY)
    TestHost.ResetStatus()
    T.True(FileSystem.DeleteFile(folder .. "\\plain.txt"), "plain file")
    T.True(FileSystem.DeleteFile(folder .. "\\readonly.txt"), "read-only file")
    T.False(FileSystem.Exists(folder .. "\\readonly.txt"), "read-only file gone")
    T.False(FileSystem.DeleteFile(folder .. "\\sub"), "directory")
    T.True(FileSystem.IsDirectory(folder .. "\\sub"), "directory stays")
    T.False(FileSystem.DeleteFile(folder .. "\\missing.txt"), "missing file")
    T.False(FileSystem.DeleteFile(INVALID_UTF8), "invalid UTF-8")
    T.False(FileSystem.DeleteFile(""), "empty path")
    T.False(TestHost.IsRebootNeeded(), "no restart needed")
end)

T.Case("a file in use is deleted at restart", function()
    local folder = Tree({ "busy\\locked.dll", "busy\\free.txt" })
    local file = folder .. "\\busy\\locked.dll"
    local handle = TestHost.HoldOpen(file)
    TestHost.ResetStatus()
    T.False(FileSystem.HasPendingFileOperation(folder .. "\\busy"), "pending before")
    local mark = T.LogMark()
    T.True(FileSystem.DeleteFile(file), "DeleteFile of a file in use")
    T.True(TestHost.IsRebootNeeded(), "restart needed")
    T.Contains(T.LogSince(mark), "FileOps::WipeFileInternal: Delay delete: '" .. file .. "'", "log")
    T.True(FileSystem.HasPendingFileOperation(file), "file pending")
    T.True(FileSystem.HasPendingFileOperation(folder .. "\\busy"), "its folder pending")
    T.True(FileSystem.HasPendingFileOperation(folder:upper() .. "\\BUSY"), "compared without case")
    T.False(FileSystem.HasPendingFileOperation(folder .. "\\busy\\free.txt"), "other file")
    T.False(FileSystem.HasPendingFileOperation(""), "empty path")
    T.False(FileSystem.HasPendingFileOperation(INVALID_UTF8), "invalid UTF-8")
    TestHost.Release(handle)
end)

T.Case("RemoveDirectory and RemoveDirectoryIfEmpty", function()
    local folder = Tree({ "empty\\", "empty2\\", "full\\file.txt", "file.txt" })
    TestHost.ResetStatus()
    T.True(FileSystem.RemoveDirectory(folder .. "\\empty"), "empty directory")
    T.False(FileSystem.Exists(folder .. "\\empty"), "empty directory gone")
    T.True(FileSystem.RemoveDirectory(folder .. "\\missing"), "missing directory")
    T.False(FileSystem.RemoveDirectory(folder .. "\\file.txt"), "file")
    T.True(FileSystem.IsFile(folder .. "\\file.txt"), "file stays")
    T.False(FileSystem.RemoveDirectory(INVALID_UTF8), "invalid UTF-8")
    T.False(FileSystem.RemoveDirectory(""), "empty path")

    T.False(FileSystem.RemoveDirectoryIfEmpty(folder .. "\\full"), "non-empty directory")
    T.True(FileSystem.IsFile(folder .. "\\full\\file.txt"), "its file stays")
    T.True(FileSystem.RemoveDirectoryIfEmpty(folder .. "\\empty2"), "empty directory")
    T.False(FileSystem.Exists(folder .. "\\empty2"), "empty directory gone")
    T.True(FileSystem.RemoveDirectoryIfEmpty(folder .. "\\missing"), "missing directory")
    T.False(FileSystem.RemoveDirectoryIfEmpty(""), "empty path")
    T.False(TestHost.IsRebootNeeded(), "no restart needed")

    -- A directory that still holds files cannot go now and is left to the restart.
    T.True(FileSystem.RemoveDirectory(folder .. "\\full"), "non-empty directory")
    T.True(TestHost.IsRebootNeeded(), "restart needed for the non-empty directory")
    T.True(FileSystem.HasPendingFileOperation(folder .. "\\full"), "non-empty directory pending")
end)

T.Case("RemoveRecursive removes whole trees", function()
    local folder = Tree({ "tree\\a.txt", "tree\\ro.txt", "tree\\sub\\deeper\\b.txt", "tree\\empty\\", "keep.txt" })
    TestHost.SetAttributes(folder .. "\\tree\\sub\\deeper\\b.txt", READONLY)
    TestHost.SetAttributes(folder .. "\\tree\\ro.txt", READONLY)
    TestHost.ResetStatus()
    T.True(FileSystem.RemoveRecursive(folder .. "\\tree"), "tree")
    T.False(FileSystem.Exists(folder .. "\\tree"), "tree gone")
    T.True(FileSystem.IsFile(folder .. "\\keep.txt"), "sibling stays")
    T.False(TestHost.IsRebootNeeded(), "no restart needed")

    local mark = T.LogMark()
    T.False(FileSystem.RemoveRecursive(folder .. "\\missing"), "missing directory")
    T.Eq(T.LogSince(mark), "", "log of a missing directory")
    T.False(FileSystem.RemoveRecursive(""), "empty path")
    T.False(FileSystem.RemoveRecursive(INVALID_UTF8), "invalid UTF-8")
end)

T.Case("RemoveRecursiveByMask removes matching entries in the same case", function()
    local folder = Tree({ "Norvane1\\x.txt", "Norvane2.txt", "norvane3\\y.txt", "NorvanX\\", "Other.txt" })
    TestHost.ResetStatus()
    T.True(FileSystem.RemoveRecursiveByMask(folder, "Norvane*"), "mask")
    T.False(TestHost.IsRebootNeeded(), "a matching file goes at once, not at restart")
    T.Eq(T.Sorted(FileSystem.ListDirectory(folder)), T.Sorted({ "norvane3", "NorvanX", "Other.txt" }), "left")
    T.True(FileSystem.RemoveRecursiveByMask(folder, "Norvan?"), "one-character mask")
    T.Eq(T.Sorted(FileSystem.ListDirectory(folder)), T.Sorted({ "norvane3", "Other.txt" }), "left after ?")
    T.True(FileSystem.RemoveRecursiveByMask(folder, "nothing*"), "no match")
    T.True(FileSystem.RemoveRecursiveByMask(folder .. "\\missing", "*"), "missing directory")
    T.False(FileSystem.RemoveRecursiveByMask(INVALID_UTF8, "*"), "invalid UTF-8 directory")
    T.True(FileSystem.IsDirectory(folder), "the directory itself stays")
end)

T.Case("DeleteFileAndParent removes an emptied parent only", function()
    local folder = Tree({ "alone\\only.txt", "shared\\one.txt", "shared\\two.txt", "dir\\sub\\" })
    T.True(FileSystem.DeleteFileAndParent(folder .. "\\alone\\only.txt"), "last file")
    T.False(FileSystem.Exists(folder .. "\\alone"), "emptied parent gone")
    T.True(FileSystem.DeleteFileAndParent(folder .. "\\shared\\one.txt"), "one of two files")
    T.True(FileSystem.IsFile(folder .. "\\shared\\two.txt"), "other file stays")
    T.False(FileSystem.DeleteFileAndParent(folder .. "\\dir\\sub"), "directory")
    T.True(FileSystem.IsDirectory(folder .. "\\dir\\sub"), "directory stays")
    T.False(FileSystem.DeleteFileAndParent(folder .. "\\missing.txt"), "missing file")
    T.False(FileSystem.DeleteFileAndParent(""), "empty path")
end)

T.Case("RemoveDirectoryRecursiveAndParentIfEmpty", function()
    local folder = Tree({ "only\\product\\a.txt", "busy\\product\\a.txt", "busy\\Product2\\", "PRODUCT\\" })
    T.True(FileSystem.RemoveDirectoryRecursiveAndParentIfEmpty(folder .. "\\only\\product"), "only child")
    T.False(FileSystem.Exists(folder .. "\\only"), "parent of an only child gone")
    T.True(FileSystem.RemoveDirectoryRecursiveAndParentIfEmpty(folder .. "\\busy\\product"), "one of two")
    T.False(FileSystem.Exists(folder .. "\\busy\\product"), "directory gone")
    T.True(FileSystem.IsDirectory(folder .. "\\busy\\Product2"), "sibling stays")
    T.False(FileSystem.RemoveDirectoryRecursiveAndParentIfEmpty(""), "empty path")
end)

T.Case("MakePath and SplitPath", function()
    local joins = {
        { "C:\\a", "b", "C:\\a\\b" },
        { "C:\\a\\", "b", "C:\\a\\b" },
        { "", "b", "b" },
        { "C:\\a\\", "", "C:\\a" },
        { 1, 2, "1\\2" },
        { "C:\\\xC3\xA9", "\xE2\x82\xAC", "C:\\\xC3\xA9\\\xE2\x82\xAC" },
        { INVALID_UTF8, "b", "b" },
    }
    for _, c in ipairs(joins) do
        T.Eq(FileSystem.MakePath(c[1], c[2]), c[3], "MakePath " .. tostring(c[1]) .. " + " .. tostring(c[2]))
    end
    local splits = {
        { "C:\\a\\b.txt", { "C:\\a", "b.txt" } },
        { "C:\\a\\", { "C:", "a" } },
        { "name", { "", "name" } },
        { "\\name", { "", "" } },
        { "a\\\\", { "", "" } },
        { "", { "", "" } },
        { INVALID_UTF8, { "", "" } },
    }
    for _, c in ipairs(splits) do
        T.Eq(T.Joined(FileSystem.SplitPath(c[1])), T.Joined(c[2]), "SplitPath " .. c[1])
    end
end)

T.Case("ContainsFiles", function()
    local folder = Tree({ "dirsonly\\a\\b\\", "deep\\a\\b\\file.txt", "top\\file.txt" })
    local cases = {
        { folder .. "\\dirsonly", nil, false },
        { folder .. "\\deep", nil, true },
        { folder .. "\\deep", 1, true },
        { folder .. "\\deep", 0, false },
        { folder .. "\\top", 0, true },
        { folder .. "\\missing", nil, false },
        { "", nil, false },
    }
    for _, c in ipairs(cases) do
        T.Eq(FileSystem.ContainsFiles(c[1], c[2]), c[3], "ContainsFiles " .. c[1] .. " " .. tostring(c[2]))
    end
end)

T.Case("ListDirectory modes", function()
    local folder = Tree({ "f1.txt", "f2.txt", "d1\\", "d2\\x.txt" })
    local cases = {
        { nil, { "d1", "d2", "f1.txt", "f2.txt" } },
        { ListDir_All, { "d1", "d2", "f1.txt", "f2.txt" } },
        { ListDir_Files, { ".", "..", "d1", "d2", "f1.txt", "f2.txt" } },
        { ListDir_Directories, { "d1", "d2" } },
        { 3, {} },
        { -1, {} },
        { "2", { "d1", "d2" } },
    }
    for _, c in ipairs(cases) do
        T.Eq(T.Sorted(FileSystem.ListDirectory(folder, c[1])), T.Sorted(c[2]), "mode " .. tostring(c[1]))
    end
    T.Eq(T.Joined(FileSystem.ListDirectory(folder .. "\\missing")), "{}", "missing directory")
    T.Eq(T.Joined(FileSystem.ListDirectory("")), "{}", "empty path")

    local named = Tree({ "gr\xC3\xBC\xC3\x9Fe\\" })
    T.Eq(T.Joined(FileSystem.ListDirectory(named)), T.Joined({ "gr\xC3\xBC\xC3\x9Fe" }), "UTF-8 name")
end)

T.Case("ReadFile returns the bytes of small regular files only", function()
    local folder = Tree({ "sub\\" })
    local bytes = "\xFF\xFEN\0o\0\0\0binary\r\n" .. ("x"):rep(5000)
    assert(TestHost.WriteFile(folder .. "\\package.bin", bytes), "cannot write the file")
    local cases = {
        { folder .. "\\package.bin", nil, bytes },
        { folder .. "\\package.bin", #bytes, bytes },
        { folder .. "\\package.bin", #bytes - 1, "" },
        { folder .. "\\package.bin", -1, "" },
        { folder .. "\\missing.bin", nil, "" },
        { folder .. "\\sub", nil, "" },
        { INVALID_UTF8, nil, "" },
        { "", nil, "" },
    }
    for _, c in ipairs(cases) do
        T.Eq(FileSystem.ReadFile(c[1], c[2]), c[3], "ReadFile " .. c[1] .. " " .. tostring(c[2]))
    end
    T.True(FileSystem.IsFile(folder .. "\\package.bin"), "the file stays")
end)

-- The profile list decides what a profile is: a profile folder that is missing is not one.
T.Case("GetUserProfiles and GetKnownFolders", function()
    local profiles = FileSystem.GetUserProfiles()
    T.True(#profiles > 0, "the prefix's user has a profile")
    for _, profile in ipairs(profiles) do
        T.True(FileSystem.IsDirectory(profile), "profile " .. profile)
        T.True(profile:find("%%") == nil, "expanded " .. profile)
    end
    local known = FileSystem.GetKnownFolders()
    for _, kind in ipairs({ SpecialPath_CommonAppData, SpecialPath_CommonProgramFiles, SpecialPath_Windows,
        SpecialPath_UserProfiles }) do
        local wanted, listed = FileSystem.GetSpecialPath(kind), false
        for _, folder in ipairs(known) do
            listed = listed or FileSystem.IsInFolder(folder, wanted) and FileSystem.IsInFolder(wanted, folder)
        end
        T.True(listed, "known folder " .. wanted)
    end
end)

T.Case("arguments of a wrong type raise", function()
    local path = root
    local cases = {
        { function() FileSystem.Exists() end, "bad argument #1 to '.-Exists' %(string expected, got no value%)" },
        { function() FileSystem.IsFile({}) end, "string expected, got table" },
        { function() FileSystem.IsDirectory(true) end, "string expected, got boolean" },
        { function() FileSystem.GetSpecialPath("x") end, "number expected, got string" },
        { function() FileSystem.GetSpecialPath(7.5) end, "number has no integer representation" },
        { function() FileSystem.GetSpecialPath() end, "number expected, got no value" },
        { function() FileSystem.RemoveRecursive(nil) end, "string expected, got nil" },
        { function() FileSystem.RemoveRecursiveByMask(path) end, "bad argument #2 .-string expected, got no value" },
        { function() FileSystem.RemoveRecursiveByMask({}, "*") end, "bad argument #1 .-string expected, got table" },
        { function() FileSystem.HasPendingFileOperation({}) end, "string expected, got table" },
        { function() FileSystem.DeleteFile({}) end, "string expected, got table" },
        { function() FileSystem.DeleteFileAndParent({}) end, "string expected, got table" },
        { function() FileSystem.RemoveDirectory({}) end, "string expected, got table" },
        { function() FileSystem.RemoveDirectoryIfEmpty({}) end, "string expected, got table" },
        { function() FileSystem.RemoveDirectoryRecursiveAndParentIfEmpty({}) end, "string expected, got table" },
        { function() FileSystem.MakePath("a") end, "bad argument #2 .-string expected, got no value" },
        { function() FileSystem.SplitPath({}) end, "string expected, got table" },
        { function() FileSystem.ContainsFiles(path, true) end, "bad argument #2 .-number expected, got boolean" },
        { function() FileSystem.ContainsFiles(path, 0.5) end, "number has no integer representation" },
        { function() FileSystem.ListDirectory(path, "all") end, "bad argument #2 .-number expected, got string" },
        { function() FileSystem.ListDirectory({}) end, "bad argument #1 .-string expected, got table" },
        { function() FileSystem.ReadFile({}) end, "bad argument #1 .-string expected, got table" },
        { function() FileSystem.ReadFile(path, "all") end, "bad argument #2 .-number expected, got string" },
        { function() FileSystem.IsInFolder(path) end, "bad argument #2 .-string expected, got no value" },
        { function() FileSystem.GetCommandProgram({}) end, "bad argument #1 .-string expected, got table" },
        -- Windows would cut these at the NUL and act on the path before it.
        { function() FileSystem.RemoveRecursive(path .. "\0junk") end, "bad argument #1 .-with a NUL character" },
        { function() FileSystem.DeleteFile(path .. "\\x\0junk") end, "with a NUL character" },
        { function() FileSystem.RemoveRecursiveByMask(path, "*\0") end, "bad argument #2 .-with a NUL character" },
        { function() FileSystem.MakePath(path, "a\0b") end, "bad argument #2 .-with a NUL character" },
    }
    for i, c in ipairs(cases) do
        T.Raises(c[1], c[2], "case " .. i)
    end
    T.True(FileSystem.IsDirectory(root), "nothing removed by bad calls")
end)

FileSystem.RemoveRecursive(root)
T.Finish()
