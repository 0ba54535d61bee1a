-- Writes "name=value" lines into results.txt in the folder named by NV_TEST_EVIDENCE, for the test script to
-- compare with what it expects.
return function(name, value)
    local file = assert(io.open(os.getenv("NV_TEST_EVIDENCE") .. "\\results.txt", "a"))
    file:write(name, "=", tostring(value), "\n")
    file:close()
end
