-- Log files of every product line. Runs last (priority 100) so that the product scripts and the quarantine
-- clean-up can still write to their logs. The tool's own log folder, Log\UninstallationTool, is kept.

local OWN_LOG_FOLDER = "UninstallationTool"

-- Installer logs that older product versions wrote straight into the Windows directory.
local LEGACY_INSTALLER_LOGS = {
    "NorvaneSetup.log",
    "NorvaneInstall.log",
    "NorvaneUninstall.log",
    "NorvaneSetupHelper.log",
    "NorvaneMsiBootstrap.log",
    "NorvaneAgentSetup.log",
    "NorvaneAgentUninstall.log",
    "NorvaneEndpointSetup.log",
    "NorvaneEndpointUninstall.log",
    "NorvaneAntivirusSetup.log",
    "NorvaneAntivirusUninstall.log",
    "NorvaneFirewallSetup.log",
    "NorvaneFirewallUninstall.log",
    "NorvaneUpdaterSetup.log",
    "NorvaneUpdaterUninstall.log",
    "NorvaneDriverInstall.log",
    "NorvaneDriverUninstall.log",
    "NorvaneWebShieldSetup.log",
    "NorvaneRescueDiskSetup.log",
}

local SERVICE_PROFILES = { "NetworkService", "LocalService" }

local function VendorFolder()
    local commonAppData = FileSystem.GetSpecialPath(SpecialPath_CommonAppData)
    if commonAppData == "" then
        return nil
    end
    return commonAppData .. "\\Norvane"
end

function GetProductId()
    return "logs"
end

function GetPriority()
    return 100
end

function DetectProduct()
    local vendor = VendorFolder()
    return vendor ~= nil and (FileSystem.Exists(vendor .. "\\Logs") or FileSystem.Exists(vendor .. "\\Log"))
end

local function RemoveCommonLogs(vendor)
    FileSystem.RemoveRecursive(vendor .. "\\Logs")
    for _, name in ipairs(FileSystem.ListDirectory(vendor .. "\\Log", ListDir_Directories)) do
        if name ~= OWN_LOG_FOLDER then
            FileSystem.RemoveRecursive(vendor .. "\\Log\\" .. name)
        end
    end
    FileSystem.RemoveRecursive(vendor .. "\\Msi")
end

-- Services that run as NetworkService or LocalService keep their logs in those accounts' profiles.
local function RemoveServiceProfileLogs(windows)
    Log.Debug("Service profiles: " .. windows)
    for _, account in ipairs(SERVICE_PROFILES) do
        local vendor = windows .. "\\ServiceProfiles\\" .. account .. "\\AppData\\Local\\Norvane"
        FileSystem.RemoveRecursive(vendor .. "\\Log")
        FileSystem.RemoveDirectoryIfEmpty(vendor)
    end
end

-- Profiles come from the profile list, never from listing the profiles folder: that holds links to shared
-- folders ("All Users") that users can fill.
local function RemoveUserProfileLogs()
    for _, profile in ipairs(FileSystem.GetUserProfiles()) do
        local appData = profile .. "\\AppData"
        Log.Debug("AppData: " .. appData)
        FileSystem.RemoveRecursive(appData .. "\\Local\\Norvane\\Log")
        FileSystem.RemoveRecursive(appData .. "\\LocalLow\\Norvane\\Log")
    end
end

local function RemoveLegacyInstallerLogs(windows)
    for _, name in ipairs(LEGACY_INSTALLER_LOGS) do
        FileSystem.DeleteFile(windows .. "\\" .. name)
    end
end

function CleanupProduct()
    Log.Info("CleanupProduct started")
    local vendor = VendorFolder()
    if vendor then
        RemoveCommonLogs(vendor)
    end
    local windows = FileSystem.GetSpecialPath(SpecialPath_Windows)
    if windows ~= "" then
        RemoveServiceProfileLogs(windows)
    end
    RemoveUserProfileLogs()
    if windows ~= "" then
        RemoveLegacyInstallerLogs(windows)
    end
    Log.Info("CleanupProduct finished")
end
