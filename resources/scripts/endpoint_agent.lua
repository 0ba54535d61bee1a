-- Norvane Endpoint Agent: the managed business agent. Its own uninstaller must run first (it reports the
-- removal to the management server); it has an agent service, a self-protection kernel driver (a filter of the
-- disk class, with its driver package and safe-mode entries so that it also protects in safe mode), a tray
-- program, a scheduled check-in, a policy cache and Defender exclusions of its folders and agent. The display
-- name carries the edition, read from the agent's key.

local product = require("norvane_product")

local ENDPOINT_AGENT = {
    id = "endpoint_agent",
    name = "Norvane Endpoint Agent",
    publisher = "Norvane",
    upgradeCodes = {"{BDEF0ACA-3DA5-4C38-B3B0-7FB9989C7883}"},
    productCodes = {"{FFE8AB29-D8E4-4C1B-A8EB-4D3F58A209DF}"},
    uninstaller = {"uninstall.exe", "/quiet"},
    programs = {"nveptray.exe"},
    programFiles = {"nvepagent.exe", "policy\\agent.cfg", "drivers\\nvepsp.sys"},
    services = {"NvEpAgent"},
    drivers = {"nvepsp"},
    folders = {
        {SpecialPath_CommonProgramFiles, "Norvane\\Endpoint Agent"},
        {SpecialPath_CommonAppData, "Norvane\\Endpoint Agent"},
    },
    files = {{SpecialPath_System32, "drivers\\nvepsp.sys"}},
    keys = {"SOFTWARE\\Norvane\\Endpoint Agent"},
    userKeys = {"Software\\Norvane\\Endpoint Agent"},
    runValues = {"Norvane Endpoint Agent"},
    tasks = {"\\Norvane\\Endpoint Agent Check-in"},
}

function GetProductId()
    return ENDPOINT_AGENT.id
end

function GetProductDisplayName()
    return product.DisplayName(ENDPOINT_AGENT)
end

function DetectProduct()
    return product.Detect(ENDPOINT_AGENT)
end

function CleanupProduct()
    return product.Cleanup(ENDPOINT_AGENT)
end
