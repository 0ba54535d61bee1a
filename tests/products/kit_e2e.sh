#!/usr/bin/env bash
# The product kit on a machine of its own: the security hooks that "kit install --hooks" adds are each seen by the
# inventory, the products' and the other vendor's, lists that vendors share keep the other vendor's names, and a
# list that cannot be read fails the inventory.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"

kit() { "$NV_SOURCE_DIR/tests/products/kit" "$@"; }
DISK_CLASS='HKLM\SYSTEM\CurrentControlSet\Control\Class\{4d36e967-e325-11ce-bfc1-08002be10318}'
PROVIDERS='HKLM\SYSTEM\CurrentControlSet\Control\NetworkProvider'

# value KEY NAME: the data of a registry value as "reg query" shows it.
value() { nv_wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }

nv_new_prefix

kit install --hooks unrelated antivirus internet_security endpoint_agent secure_vpn >/dev/null
inventory=$(kit inventory antivirus internet_security endpoint_agent secure_vpn unrelated)
for item in \
    'antivirus security-center HKLM\Software\Microsoft\Security Center\Provider\Av\{5C0F6B1E-2D4A-4E8B-9F31-7A2C6D8E1B40}' \
    'internet_security security-center HKLM\Software\Microsoft\Security Center\Provider\Fw\{7E2B8D3A-4F6C-4A0D-9B53-9C4E8FA03D62}' \
    'unrelated security-center HKLM\Software\Microsoft\Security Center\Provider\Av\{3B9E1C7A-5D2F-4E8A-B6C4-1F0A9D8E7C25}' \
    'antivirus amsi HKLM\Software\Wow6432Node\Microsoft\AMSI\Providers\{A1B2C3D4-1111-4A2B-9C3D-4E5F60718293}' \
    'antivirus amsi HKLM\Software\Classes\Wow6432Node\CLSID\{A1B2C3D4-1111-4A2B-9C3D-4E5F60718293}\InprocServer32' \
    'antivirus file C:\Program Files\Norvane\Antivirus\x86\nvavamsi32.dll' \
    'unrelated amsi HKLM\Software\Classes\CLSID\{C4D5E6F7-3333-4B2C-8D4E-5F60718293A4}\InprocServer32' \
    'antivirus service nvavflt' 'antivirus service nvavelam' 'antivirus file C:\windows\system32\drivers\nvavelam.sys' \
    'antivirus filter-instance HKLM\System\CurrentControlSet\Services\nvavflt\Instances\Norvane Antivirus File Filter Instance' \
    'endpoint_agent filter-instance HKLM\System\CurrentControlSet\Services\nvepsp\Instances\Norvane Endpoint Self-Protection Instance' \
    'unrelated filter-instance HKLM\System\CurrentControlSet\Services\acmemf\Instances\Acme Backup Monitor Instance' \
    'endpoint_agent defender-exclusion HKLM\Software\Microsoft\Windows Defender\Exclusions\Paths\C:\Program Files\Norvane\Endpoint Agent' \
    'endpoint_agent defender-exclusion HKLM\Software\Microsoft\Windows Defender\Exclusions\Processes\C:\Program Files\Norvane\Endpoint Agent\nvepagent.exe' \
    'unrelated defender-exclusion HKLM\Software\Microsoft\Windows Defender\Exclusions\Paths\C:\Program Files\Acme\Backup' \
    'secure_vpn network-provider HKLM\System\CurrentControlSet\Services\NvVpnNP\NetworkProvider' \
    'secure_vpn network-provider HKLM\SYSTEM\CurrentControlSet\Control\NetworkProvider\HwOrder\ProviderOrder NvVpnNP' \
    'unrelated network-provider HKLM\SYSTEM\CurrentControlSet\Control\NetworkProvider\Order\ProviderOrder AcmeNP'; do
    nv_check "hooks: $item" grep -qxF -- "$item" <<<"$inventory"
done
# One root of each vendor in the machine's store and the user's (the kit's own hive), read back through CryptoAPI;
# the suite records its thumbprint.
for product in internet_security unrelated; do
    nv_check "hooks: $product's root is in the machine's and the user's trusted roots" test "$(grep -c \
        -e "^$product root HKLM\\\\SOFTWARE\\\\Microsoft\\\\SystemCertificates\\\\ROOT\\\\Certificates\\\\[0-9A-F]\\{40\\}$" \
        -e "^$product root HKU\\\\S-1-5-21-[0-9-]*\\\\Software\\\\Microsoft\\\\SystemCertificates\\\\Root\\\\Certificates\\\\[0-9A-F]\\{40\\}$" \
        <<<"$inventory")" -ge 2
done
thumbprint=$(value 'HKLM\SOFTWARE\Norvane\Internet Security\WebGuard' RootThumbprint)
nv_check "hooks: the suite records its root's thumbprint" grep -qxF \
    "internet_security root HKLM\SOFTWARE\Microsoft\SystemCertificates\ROOT\Certificates\\${thumbprint:-none}" <<<"$inventory"
nv_check "hooks: the antivirus's two drivers come in one driver package" \
    grep -q 'AddService=nvavelam,' "$(nv_drive_c)/windows/inf/$(grep -o '^antivirus driver-package C:.windows.inf.oem[0-9]*\.inf$' \
        <<<"$inventory" | sed 's/.*\\//')"
nv_check "hooks: the minifilter's instance has its altitude" \
    test "$(value 'HKLM\SYSTEM\CurrentControlSet\Services\nvavflt\Instances\Norvane Antivirus File Filter Instance' \
        Altitude)" = 325000.5
nv_check "hooks: a new network provider goes first, the other vendor's stays" \
    test "$(value "$PROVIDERS\\Order" ProviderOrder),$(value "$PROVIDERS\\HwOrder" ProviderOrder)" = \
    "NvVpnNP,AcmeNP,NvVpnNP,AcmeNP"
nv_check "hooks: a new filter goes first, the other vendor's and Windows' own stay" \
    test "$(nv_wine "$NV_BUILD_DIR/tests/products/nv_kit.exe" list "${DISK_CLASS#HKLM\\}" UpperFilters | tr -d '\r' |
        paste -sd' ')" = "nvepsp acmeflt partmgr"

# A filter list that cannot be read as a list is never taken for an empty one.
nv_wine reg add "$DISK_CLASS" /v UpperFilters /d 'nvepsp acmeflt partmgr' /f >/dev/null 2>&1
nv_check "a filter list that cannot be read fails the inventory" \
    grep -qx 'kit: the inventory failed' <(kit inventory endpoint_agent 2>/dev/null)

nv_finish
