-- Log, Meta and Atom modules against the real log file, removal status and global atom table.
local T = require("module_test_lib")
local Caller = require("module_test_caller")

local SELF = "[log_meta_atom_test.lua]"

T.Case("each Log function writes at its level with the script's file name", function()
    local levels = {
        { Log.Debug, " D" },
        { Log.Info, " I" },
        { Log.Warning, ".W" },
        { Log.Error, "*E" },
    }
    for i, level in ipairs(levels) do
        local mark = T.LogMark()
        local result = select("#", level[1]("message " .. i))
        T.Eq(result, 0, "results of level " .. level[2])
        T.Contains(T.LogSince(mark), level[2] .. ": " .. SELF .. " message " .. i .. "\r\n", "line")
    end
end)

T.Case("Log texts: numbers, UTF-8 and invalid UTF-8", function()
    local cases = {
        { 42, SELF .. " 42\r\n" },
        { 1.5, SELF .. " 1.5\r\n" },
        { "gr\xC3\xBC\xC3\x9Fe \xE2\x82\xAC", SELF .. " gr\xC3\xBC\xC3\x9Fe \xE2\x82\xAC\r\n" },
        { "bad \xFF byte", SELF .. " \r\n" },
        { "", SELF .. " \r\n" },
    }
    for _, c in ipairs(cases) do
        local mark = T.LogMark()
        Log.Info(c[1])
        T.Contains(T.LogSince(mark), c[2], "message " .. tostring(c[1]))
    end
end)

T.Case("Log arguments of a wrong type raise and log nothing", function()
    local mark = T.LogMark()
    T.Raises(function() Log.Info() end, "bad argument #1 to '.-Info' %(string expected, got no value%)", "none")
    T.Raises(function() Log.Info(nil) end, "string expected, got nil", "nil")
    T.Raises(function() Log.Warning({}) end, "string expected, got table", "table")
    T.Raises(function() Log.Error(true) end, "string expected, got boolean", "boolean")
    T.Raises(function() Log.Debug(print) end, "string expected, got function", "function")
    T.Eq(T.LogSince(mark), "", "log after bad calls")
end)

T.Case("a library's function logs under the library's file name", function()
    local mark = T.LogMark()
    Caller.LogInfo("from the library")
    T.Contains(T.LogSince(mark), " I: [module_test_caller.lua] from the library\r\n", "line")
end)

T.Case("Meta.SetFailed marks the run failed and logs at Fatal", function()
    TestHost.ResetStatus()
    local mark = T.LogMark()
    Meta.SetFailed("could not stop the service")
    T.True(TestHost.IsFailed(), "failed")
    T.False(TestHost.IsRebootNeeded(), "reboot needed")
    T.Contains(T.LogSince(mark), "*F: " .. SELF .. " could not stop the service\r\n", "line")

    TestHost.ResetStatus()
    mark = T.LogMark()
    Meta.SetFailed()
    T.True(TestHost.IsFailed(), "failed without message")
    T.Contains(T.LogSince(mark), "*F: " .. SELF .. " \r\n", "line without message")

    TestHost.ResetStatus()
    Meta.SetFailed(nil)
    T.True(TestHost.IsFailed(), "failed with nil")
end)

T.Case("Meta.SetRebootNeeded sets the status once and logs every call", function()
    TestHost.ResetStatus()
    local mark = T.LogMark()
    Meta.SetRebootNeeded("driver in use")
    Meta.SetRebootNeeded()
    Meta.SetRebootNeeded(7)
    T.True(TestHost.IsRebootNeeded(), "reboot needed")
    T.False(TestHost.IsFailed(), "failed")
    local text = T.LogSince(mark)
    T.Contains(text, " I: " .. SELF .. " Reboot needed: driver in use\r\n", "line with message")
    T.Contains(text, " I: " .. SELF .. " Reboot needed: \r\n", "line without message")
    T.Contains(text, " I: " .. SELF .. " Reboot needed: 7\r\n", "line with a number")
    local _, statusLines = text:gsub("Status::SetRebootNeeded: Reboot is needed", "")
    T.Eq(statusLines, 1, "status lines")
end)

T.Case("Meta arguments of a wrong type raise and leave the status alone", function()
    TestHost.ResetStatus()
    T.Raises(function() Meta.SetFailed({}) end, "bad argument #1 to '.-SetFailed' %(string expected, got table%)",
        "SetFailed")
    T.Raises(function() Meta.SetRebootNeeded(false) end, "string expected, got boolean", "SetRebootNeeded")
    T.False(TestHost.IsFailed(), "failed")
    T.False(TestHost.IsRebootNeeded(), "reboot needed")
end)

T.Case("Atom reference counting through GlobalAdd and GlobalDelete", function()
    local name = "NvModuleTests.Atom." .. os.time()
    T.False(Atom.GlobalExists(name), "exists before")
    T.True(Atom.GlobalAdd(name), "first add")
    T.True(Atom.GlobalAdd(name), "second add")
    T.True(Atom.GlobalExists(name), "exists")
    T.True(Atom.GlobalDelete(name), "first delete")
    T.True(Atom.GlobalExists(name), "exists after one delete")
    T.True(Atom.GlobalDelete(name), "second delete")
    T.False(Atom.GlobalExists(name), "exists after two deletes")
    T.Eq(select("#", Atom.GlobalDelete(name)), 1, "results of deleting a missing atom")
    T.False(Atom.GlobalDelete(name), "delete of a missing atom")
    T.Eq(select("#", Atom.GlobalExists(name)), 1, "results of GlobalExists")
end)

T.Case("Atom names: numbers, non-ASCII, too long, invalid UTF-8", function()
    T.True(Atom.GlobalAdd(12345.5), "number name")
    T.True(Atom.GlobalExists("12345.5"), "number name as text")
    T.True(Atom.GlobalDelete(12345.5), "number name deleted")

    local accented = "NvModuleTests.\xC3\xA9t\xC3\xA9"
    T.True(Atom.GlobalAdd(accented), "accented name")
    T.True(Atom.GlobalExists(accented), "accented name exists")
    T.False(Atom.GlobalExists("NvModuleTests.\xC3\xA9T\xC3\xA9x"), "a different name")
    T.True(Atom.GlobalDelete(accented), "accented name deleted")

    -- The atom table holds names of at most 255 characters.
    local ok, code = Atom.GlobalAdd(string.rep("n", 300))
    T.False(ok, "too long a name")
    T.Eq(math.type(code), "integer", "error code type")
    T.True(code ~= 0, "error code " .. tostring(code))

    -- Invalid UTF-8 becomes the empty name, which the table refuses.
    local added, error = Atom.GlobalAdd("bad \xFF")
    T.False(added, "invalid UTF-8 name")
    T.Eq(math.type(error), "integer", "invalid UTF-8 error code type")
    T.False(Atom.GlobalExists("bad \xFF"), "invalid UTF-8 name exists")
    T.False(Atom.GlobalDelete("bad \xFF"), "invalid UTF-8 name delete")
end)

T.Case("Atom arguments of a wrong type raise; atoms log nothing", function()
    local mark = T.LogMark()
    T.Raises(function() Atom.GlobalAdd() end, "bad argument #1 to '.-GlobalAdd' %(string expected, got no value%)",
        "GlobalAdd")
    T.Raises(function() Atom.GlobalExists({}) end, "string expected, got table", "GlobalExists")
    T.Raises(function() Atom.GlobalDelete(nil) end, "string expected, got nil", "GlobalDelete")
    Atom.GlobalAdd("NvModuleTests.Quiet")
    Atom.GlobalDelete("NvModuleTests.Quiet")
    T.Eq(T.LogSince(mark), "", "log")
end)

T.Finish()
