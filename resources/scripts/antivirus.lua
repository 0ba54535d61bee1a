-- Norvane Antivirus: the consumer antivirus. A Windows Installer package with one scanning service, a tray
-- program started at logon, a scheduled signature update, a firewall rule for its updater, signature files and
-- settings under the common application data, and each user's scan history.

local product = require("norvane_product")

local ANTIVIRUS = {
    id = "antivirus",
    name = "Norvane Antivirus",
    publisher = "Norvane",
    upgradeCodes = {"{B914F18A-3858-47D3-A1F8-33182F2BAE02}"},
    productCodes = {"{80E10E05-064B-40E9-9C14-DE7F20FA43A7}", "{75AB264A-F2E1-4BDB-A7C8-EF1046F751F1}"},
    programs = {"nvavtray.exe"},
    programFiles = {"nvavsvc.exe", "nvavengine.dll", "defs\\main.nvd"},
    services = {"NvAvSvc"},
    folders = {
        {SpecialPath_CommonProgramFiles, "Norvane\\Antivirus"},
        {SpecialPath_CommonAppData, "Norvane\\Antivirus"},
    },
    files = {{SpecialPath_CommonDesktop, "Norvane Antivirus.lnk"}},
    keys = {
        "SOFTWARE\\Norvane\\Antivirus",
        "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Norvane Antivirus",
    },
    userKeys = {"Software\\Norvane\\Antivirus"},
    userFolders = {"Norvane\\Antivirus"},
    runValues = {"Norvane Antivirus"},
    tasks = {"\\Norvane\\Antivirus Update"},
}

function GetProductId()
    return ANTIVIRUS.id
end

function GetProductDisplayName()
    return ANTIVIRUS.name
end

function DetectProduct()
    return product.Detect(ANTIVIRUS)
end

function CleanupProduct()
    return product.Cleanup(ANTIVIRUS)
end
