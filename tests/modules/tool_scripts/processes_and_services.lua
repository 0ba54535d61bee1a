-- A product whose clean-up stops and removes its services and ends its processes, the way product scripts
-- do. It writes what each call returned, one result a line, to the file named by NV_TEST_EVIDENCE.
function GetProductId() return "processes_and_services" end
function DetectProduct() return true end

function CleanupProduct()
    local product = os.getenv("NV_TEST_PRODUCT_FOLDER")
    local other = os.getenv("NV_TEST_OTHER_FOLDER")
    local results = {
        Service.Stop("NvToolMain"),
        Service.Stop("NvToolDependent"),
        Service.Cleanup("NvToolDependent"),
        Service.Cleanup("NvToolMain"),
        Process.TerminateAllFromPath(product),
        Process.TerminateByPath(other .. "\\nvpath.exe"),
        Process.TerminateByName("NVNAME.EXE"),
        Process.TerminateByNameMask("nvmask_*.exe"),
    }
    local evidence = assert(io.open(os.getenv("NV_TEST_EVIDENCE"), "wb"))
    for _, result in ipairs(results) do
        evidence:write(tostring(result), "\n")
    end
    evidence:close()
    return true
end
