-- Norvane Internet Security: the suite. A Windows Installer package with a protection service and a web guard
-- service that depends on it, a tray program, an Explorer context-menu handler registered as a COM class in
-- both views, a 32-bit browser component under the 32-bit program files, a scheduled update, firewall rules
-- and each user's settings. It registers with Security Center as an antivirus and a firewall; its web guard adds
-- its own root certificate to the machine's and each user's trusted roots. A setup bundle may have installed it,
-- with its own Programs and Features entry.

local product = require("norvane_product")

local SHELL_EXTENSION = "{8F3716C6-A15A-4FE9-A760-C6CB5A88A673}"

local INTERNET_SECURITY = {
    id = "internet_security",
    name = "Norvane Internet Security",
    publisher = "Norvane",
    upgradeCodes = {"{B7EA428C-DF9C-4CE0-8997-6721D61922EA}"},
    productCodes = {"{852B17CB-D8D6-4CDE-B7AC-6881140A4B7D}"},
    programs = {"nvistray.exe"},
    programFiles = {"nvissvc.exe", "nviswebguard.exe", "nvisshext.dll", "nvisbrowser32.dll"},
    services = {"NvIsWebGuard", "NvIsSvc"},
    shellExtensions = {SHELL_EXTENSION},
    securityCenter = {"{6D1A7C2F-3E5B-4F9C-8A42-8B3D7E9F2C51}", "{7E2B8D3A-4F6C-4A0D-9B53-9C4E8FA03D62}"},
    rootSubjects = {"CN=Norvane Internet Security Web Guard Root, O=Norvane"},
    rootThumbprints = {{"SOFTWARE\\Norvane\\Internet Security\\WebGuard", "RootThumbprint"}},
    folders = {
        {SpecialPath_CommonProgramFiles, "Norvane\\Internet Security"},
        {SpecialPath_CommonProgramFilesX86, "Norvane\\Internet Security"},
        {SpecialPath_CommonAppData, "Norvane\\Internet Security"},
        {SpecialPath_CommonStartMenuPrograms, "Norvane\\Internet Security"},
    },
    keys = {
        "SOFTWARE\\Norvane\\Internet Security",
        "SOFTWARE\\Classes\\CLSID\\" .. SHELL_EXTENSION,
        "SOFTWARE\\Classes\\*\\shellex\\ContextMenuHandlers\\NvIsShellExt",
        "SOFTWARE\\Classes\\Directory\\shellex\\ContextMenuHandlers\\NvIsShellExt",
        "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Norvane Internet Security",
    },
    values = {
        {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved", SHELL_EXTENSION},
    },
    userKeys = {"Software\\Norvane\\Internet Security"},
    userFolders = {"Norvane\\Internet Security"},
    runValues = {"Norvane Internet Security"},
    tasks = {"\\Norvane\\Internet Security Update"},
}

function GetProductId()
    return INTERNET_SECURITY.id
end

function GetProductDisplayName()
    return INTERNET_SECURITY.name
end

function DetectProduct()
    return product.Detect(INTERNET_SECURITY)
end

function CleanupProduct()
    return product.Cleanup(INTERNET_SECURITY)
end
