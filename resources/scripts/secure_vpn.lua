-- Norvane Secure VPN: the VPN client. A Windows Installer package with a connection service, a tray program and
-- a virtual network adapter: a root-enumerated network device backed by the product's kernel driver from its
-- driver package; a network provider listed in both provider orders; firewall rules for its service; each user's
-- connection profiles.

local product = require("norvane_product")

local SECURE_VPN = {
    id = "secure_vpn",
    name = "Norvane Secure VPN",
    publisher = "Norvane",
    upgradeCodes = {"{DBEE4EDD-6A82-4A9F-8185-9335F44F5BAB}"},
    productCodes = {"{240D1D8B-0367-4A41-9C32-F6FC6802E91D}"},
    programs = {"nvvpntray.exe"},
    programFiles = {"nvvpnsvc.exe", "nvvpnnp.dll", "driver\\nvvpnadp.sys", "drivers\\nvvpnadp.sys"},
    services = {"NvVpnSvc"},
    drivers = {"nvvpnadp"},
    devices = {{"Norvane", "nvvpn_adapter"}},
    networkProviders = {"NvVpnNP"},
    folders = {
        {SpecialPath_CommonProgramFiles, "Norvane\\Secure VPN"},
        {SpecialPath_CommonAppData, "Norvane\\Secure VPN"},
    },
    files = {{SpecialPath_System32, "drivers\\nvvpnadp.sys"}},
    keys = {"SOFTWARE\\Norvane\\Secure VPN"},
    userKeys = {"Software\\Norvane\\Secure VPN"},
    userFolders = {"Norvane\\Secure VPN"},
    runValues = {"Norvane Secure VPN"},
}

function GetProductId()
    return SECURE_VPN.id
end

function GetProductDisplayName()
    return SECURE_VPN.name
end

function DetectProduct()
    return product.Detect(SECURE_VPN)
end

function CleanupProduct()
    return product.Cleanup(SECURE_VPN)
end
