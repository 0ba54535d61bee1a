-- Small assertion helpers for the module test scripts. A case that fails prints its message and the run
-- goes on; Finish raises an error when any case failed, which fails the runner.
local T = {}

local failures = 0
local count = 0

local function Show(value)
    if type(value) == "string" then
        return string.format("%q", value)
    end
    return tostring(value)
end

function T.Case(name, body)
    count = count + 1
    local ok, message = pcall(body)
    if ok then
        print("ok: " .. name)
    else
        failures = failures + 1
        print("FAILED: " .. name .. ": " .. tostring(message))
    end
end

-- Error levels name the test script's line: 3 from the helpers below, which report through Expect.
local function Expect(actual, expected, what)
    if actual ~= expected then
        error(string.format("%s: expected %s, got %s", what, Show(expected), Show(actual)), 3)
    end
end

function T.Eq(actual, expected, what)
    Expect(actual, expected, what)
end

function T.True(value, what)
    Expect(value, true, what)
end

function T.False(value, what)
    Expect(value, false, what)
end

-- The list of values as one string, for comparing tables of names.
function T.Joined(list)
    local parts = {}
    for i, v in ipairs(list) do
        parts[i] = Show(v)
    end
    return "{" .. table.concat(parts, ", ") .. "}"
end

-- The same names in any order.
function T.Sorted(list)
    local copy = { table.unpack(list) }
    table.sort(copy)
    return T.Joined(copy)
end

function T.Raises(body, pattern, what)
    local ok, message = pcall(body)
    if ok then
        error(what .. ": expected an error", 2)
    end
    if not tostring(message):find(pattern) then
        error(string.format("%s: error %s does not match %s", what, Show(message), Show(pattern)), 2)
    end
end

-- Log positions: a mark now, and the text written after it.
function T.LogMark()
    return #TestHost.LogText()
end

function T.LogSince(mark)
    return TestHost.LogText():sub(mark + 1)
end

function T.Contains(text, expected, what)
    if not text:find(expected, 1, true) then
        error(string.format("%s: %s not found in %s", what, Show(expected), Show(text)), 2)
    end
end

function T.Lacks(text, unexpected, what)
    if text:find(unexpected, 1, true) then
        error(string.format("%s: %s found in %s", what, Show(unexpected), Show(text)), 2)
    end
end

-- ASCII text as UTF-16LE registry data, with the terminating NUL unless told otherwise.
function T.Wide(text, withoutNul)
    local bytes = text:gsub(".", "%0\0")
    if withoutNul then
        return bytes
    end
    return bytes .. "\0\0"
end

function T.Finish()
    print(string.format("%d case(s), %d failed", count, failures))
    if failures > 0 then
        error(failures .. " case(s) failed", 0)
    end
end

return T
