-- Norvane Antivirus: the consumer antivirus. A Windows Installer package with one scanning service, a tray
-- program started at logon, a scheduled signature update, a firewall rule for its updater, signature files and
-- settings under the common application data, and each user's scan history. It registers with Security Center as
-- an antivirus, scans scripts as an AMSI provider (64- and 32-bit), and filters file access through a minifilter
-- and an early-launch driver that come in one driver package.

local product = require("norvane_product")

local ANTIVIRUS = {
    id = "antivirus",
    name = "Norvane Antivirus",
    publisher = "Norvane",
    upgradeCodes = {"{B914F18A-3858-47D3-A1F8-33182F2BAE02}"},
    productCodes = {"{80E10E05-064B-40E9-9C14-DE7F20FA43A7}", "{75AB264A-F2E1-4BDB-A7C8-EF1046F751F1}"},
    programs = {"nvavtray.exe"},
    programFiles = {"nvavsvc.exe", "nvavengine.dll", "defs\\main.nvd", "nvavamsi.dll", "x86\\nvavamsi32.dll"},
    services = {"NvAvSvc"},
    drivers = {"nvavflt", "nvavelam"},
    securityCenter = {"{5C0F6B1E-2D4A-4E8B-9F31-7A2C6D8E1B40}"},
    amsiProviders = {"{A1B2C3D4-1111-4A2B-9C3D-4E5F60718293}"},
    folders = {
        {SpecialPath_CommonProgramFiles, "Norvane\\Antivirus"},
        {SpecialPath_CommonAppData, "Norvane\\Antivirus"},
    },
    files = {
        {SpecialPath_CommonDesktop, "Norvane Antivirus.lnk"},
        {SpecialPath_System32, "drivers\\nvavflt.sys"},
        {SpecialPath_System32, "drivers\\nvavelam.sys"},
    },
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
