-- Removes test products through Windows Installer: Alpha and Beta share an upgrade code; Zeta refuses its
-- removal and Gamma's cached package and its source are gone, both under one upgrade code; Eta's removal asks
-- for a restart.
local record = require("record")
local shared = os.getenv("NV_MSI_SHARED_UPGRADE")
local broken = os.getenv("NV_MSI_BROKEN_UPGRADE")
local unknown = os.getenv("NV_MSI_UNKNOWN_UPGRADE")

function GetProductId() return "msi_graceful" end
function DetectProduct() return Msi.DetectUpgradeCode(shared) end

function CleanupProduct()
    record("detect_shared", Msi.DetectUpgradeCode(shared))
    -- Forced clean-ups on both sides of Alpha's removal through Windows Installer: the second must not be answered
    -- from what the first read.
    record("cleanup_nothing_by_name", Msi.CleanupRegistryProductNameAndPublisher("Norvane Test None", "Norvane Test"))
    record("cleanup_unknown_code", Msi.CleanupRegistryProductCode(os.getenv("NV_MSI_UNKNOWN_CODE")))
    record("uninstall_shared", Msi.UninstallProduct(shared, os.getenv("NV_TEST_EVIDENCE") .. "\\uninstall.log"))
    record("cleanup_alpha_by_name", Msi.CleanupRegistryProductNameAndPublisher("Norvane Test Alpha", "Norvane Test"))
    record("detect_shared_after", Msi.DetectUpgradeCode(shared))
    record("uninstall_unknown", Msi.UninstallProduct(unknown, nil))
    record("detect_unknown", Msi.DetectUpgradeCode(unknown))
    record("uninstall_malformed", Msi.UninstallProduct("not an upgrade code"))
    record("detect_malformed", Msi.DetectUpgradeCode("not an upgrade code"))
    record("uninstall_broken", Msi.UninstallProduct(broken))
    record("detect_broken", Msi.DetectUpgradeCode(broken))
    -- Removed, but with a restart required.
    record("uninstall_restart", Msi.UninstallProduct(os.getenv("NV_MSI_RESTART_UPGRADE")))
    record("detect_restart_after", Msi.DetectUpgradeCode(os.getenv("NV_MSI_RESTART_UPGRADE")))
    record("table_argument_raises", not pcall(Msi.UninstallProduct, {}))
    return true
end
