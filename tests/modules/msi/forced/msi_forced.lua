-- Removes the registrations of test products that Windows Installer cannot remove any more. Gamma and Delta
-- share a component and the feature Common, Gamma coming first in registry order; the test planted names
-- that are not product codes under Gamma's upgrade code, which Zeta shares.
local record = require("record")
local broken = os.getenv("NV_MSI_BROKEN_UPGRADE")
local deltaUpgrade = os.getenv("NV_MSI_DELTA_UPGRADE")
local machine = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18"
local deltaKey = machine .. "\\Products\\" .. os.getenv("NV_MSI_DELTA_PACKED")

local function DeltaRegistered()
    return Reg.BranchExists(HKLM, deltaKey .. "\\InstallProperties", KEY_WOW64_64KEY)
end

function GetProductId() return "msi_forced" end
function DetectProduct() return true end

function CleanupProduct()
    -- Reads the components key before the shared component's case below is decided.
    record("cleanup_unknown_code", Msi.CleanupRegistryProductCode(os.getenv("NV_MSI_UNKNOWN_CODE")))
    record("cleanup_short_product_code", Msi.CleanupRegistryProductCode(os.getenv("NV_MSI_DELTA_CODE"):sub(1, 37)))
    record("cleanup_unbraced_upgrade_code", Msi.CleanupRegistryUpgradeCode(broken:sub(2, 37)))
    record("cleanup_common_feature", Msi.CleanupRegistryProductFeature("Common"))
    record("delta_after_common_feature", DeltaRegistered())
    local sharedKey = machine .. "\\Components\\" .. os.getenv("NV_MSI_SHARED_COMPONENT")
    record("shared_component_clients", table.concat(Reg.GetValueNames(HKLM, sharedKey, KEY_WOW64_64KEY), ","))
    record("cleanup_broken", Msi.CleanupRegistryUpgradeCode(broken))
    record("delta_after_broken", DeltaRegistered())
    record("cleanup_name_other_case", Msi.CleanupRegistryProductNameAndPublisher("norvane test d*", "Norvane Test"))
    record("delta_after_name_other_case", DeltaRegistered())
    record("cleanup_name", Msi.CleanupRegistryProductNameAndPublisher("Norvane Test D*", "Norvane Test"))
    -- Windows Installer files packed codes in upper case; a code given in lower case names the same product.
    record("cleanup_product_code", Msi.CleanupRegistryProductCode(os.getenv("NV_MSI_EPSILON_CODE"):lower()))
    record("epsilon_component_after_lower_case",
        Reg.BranchExists(HKLM, machine .. "\\Components\\" .. os.getenv("NV_MSI_EPSILON_COMPONENT"), KEY_WOW64_64KEY))
    -- A product's clean-up leaves its upgrade code, under which Windows Installer still lists it.
    record("detect_delta_before_its_upgrade_code", Msi.DetectUpgradeCode(deltaUpgrade))
    record("cleanup_delta_upgrade", Msi.CleanupRegistryUpgradeCode(deltaUpgrade))
    record("cleanup_epsilon_upgrade", Msi.CleanupRegistryUpgradeCode(os.getenv("NV_MSI_EPSILON_UPGRADE")))
    record("detect_broken_after", Msi.DetectUpgradeCode(broken))
    record("detect_delta_after", Msi.DetectUpgradeCode(deltaUpgrade))
    return true
end
