-- Library shared by the test products: records which clean-ups ran, in order, in the folder named by NV_TEST_EVIDENCE.
local evidence = {}

function evidence.Record(id)
    local file = assert(io.open(os.getenv("NV_TEST_EVIDENCE") .. "\\removed.txt", "a"))
    file:write(id, "\n")
    file:close()
end

return evidence
