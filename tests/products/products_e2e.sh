#!/usr/bin/env bash
# The tool's main job end to end: machines set up by the product kit, a silent run of the built-in scripts, and the
# machine checked afterwards. The argument chooses the machines:
#   all     the four products with their security hooks, another vendor's program (with a hook of each kind) and
#           a same-publisher product that is none of the four, with two users; then a second run on the cleaned
#           machine, then runs on single fragments, then the antivirus again with a patch that the other vendor's
#           product lists too
#   each    one prefix, each product installed alone to a custom folder and removed in turn (the VPN also with
#           its adapter device)
#   broken  one prefix, each product installed to a custom folder, broken in its own way and removed in turn
source "$NV_SOURCE_DIR/tests/harness/lib.sh"

PRODUCTS=(antivirus internet_security endpoint_agent secure_vpn)
STEPS=("end programs" "run uninstallers" "remove services" "end remaining processes" "remove drivers"
    "remove devices" "remove driver packages" "remove Windows Installer registrations" "remove system integration"
    "remove per-user parts" "remove files" "remove registry keys")
OTHERS=(unrelated same_publisher)
DISK_CLASS='SYSTEM\CurrentControlSet\Control\Class\{4d36e967-e325-11ce-bfc1-08002be10318}'
PROVIDERS='HKLM\SYSTEM\CurrentControlSet\Control\NetworkProvider'
EXCLUSIONS='HKLM\SOFTWARE\Microsoft\Windows Defender\Exclusions'


kit() { "$NV_SOURCE_DIR/tests/products/kit" "$@"; }

# A silent run with the built-in scripts; leaves the exit code in $code and this run's log lines in $run_log.
run_tool() {
    # Each run starts a fresh log: a long one is rotated, and counting its earlier lines would lose this run's.
    rm -f "$(nv_drive_c)/ProgramData/Norvane/Log/UninstallationTool/"*.log
    code=0
    nv_tool /silent >/dev/null 2>&1 || code=$?
    run_log=$(nv_tool_log)
}

logged() { grep -qF -- "$1" <<<"$run_log"; }

# Every step of each product's clean-up, and its end, is in this run's log.
steps_logged() {
    local product index
    for product in "$@"; do
        logged "UiToolLib::RemoveProducts: Removing product: $product (" || return 1
        for index in "${!STEPS[@]}"; do
            logged "] $product: step $((index + 1))/${#STEPS[@]}, ${STEPS[$index]}" || return 1
        done
        logged "] $product: clean-up finished" || return 1
    done
}

# The kit really installed the product: files, keys in both views, services, processes, Installer data, and
# the traces of its kind (per-user parts in every loaded hive, tasks, firewall rules, filters, driver packages),
# with "hooks" its security hooks and its Installer data for users too.
installed() {
    local product=$1 inventory kind kinds=(file key service process installer user-key)
    inventory=$(kit inventory "$product")
    case $product in
    antivirus) kinds+=(task firewall user-value value) ;;
    internet_security) kinds+=(task firewall user-value value) ;;
    endpoint_agent) kinds+=(task filter driver-package user-value) ;;
    secure_vpn) kinds+=(firewall driver-package user-value) ;;
    esac
    [ "${2:-}" != hooks ] || case $product in
    antivirus) kinds+=(security-center amsi filter-instance driver-package installer-patch installer-user installer-managed) ;;
    internet_security) kinds+=(security-center root installer-user installer-managed) ;;
    endpoint_agent) kinds+=(defender-exclusion filter-instance installer-user) ;;
    secure_vpn) kinds+=(network-provider installer-user installer-managed) ;;
    esac
    for kind in "${kinds[@]}"; do
        grep -q "^$product $kind " <<<"$inventory" || { echo "no $kind of $product"; return 1; }
    done
    grep -q "^$product key HKLM\\\\Software\\\\Wow6432Node\\\\" <<<"$inventory"
}

# The class's filter list, one name a line: the other vendor's filter must keep its place. A list that cannot be
# read is a line saying so, never an empty list.
disk_filters() { nv_wine "$NV_BUILD_DIR/tests/products/nv_kit.exe" list "$DISK_CLASS" UpperFilters | tr -d '\r'; }

# The data of the other vendor's hooks, read through the API (a "reg query" can fail under load), with the values
# of the keys the products share with it by name.
other_hooks() {
    local amsi='SOFTWARE\Microsoft\AMSI\Providers\{C4D5E6F7-3333-4B2C-8D4E-5F60718293A4}'
    local class='SOFTWARE\Classes\CLSID\{C4D5E6F7-3333-4B2C-8D4E-5F60718293A4}'
    nv_wine "$NV_BUILD_DIR/tests/products/nv_kit.exe" dump \
        'SOFTWARE\Microsoft\Security Center\Provider\Av\{3B9E1C7A-5D2F-4E8A-B6C4-1F0A9D8E7C25}' \
        'SYSTEM\CurrentControlSet\Services\acmemf' 'SYSTEM\CurrentControlSet\Services\acmeelam' \
        'SYSTEM\CurrentControlSet\Services\AcmeNP' "$amsi" "32:$amsi" "$class" "32:$class" \
        'SOFTWARE\Microsoft\Windows Defender\Exclusions' | tr -d '\r' | grep -v 'Norvane' || echo "the dump failed"
}

# What of the other software is on the machine: its inventory, the order of the disk class's filters and the data
# of its hooks.
others() { kit inventory "${OTHERS[@]}"; disk_filters | grep -vix nvepsp; other_hooks; }

# A network provider order's names, as "reg query" shows them.
provider_order() {
    nv_wine reg query "$PROVIDERS\\$1" /v ProviderOrder 2>/dev/null | tr -d '\r' | sed -n 's/^ *ProviderOrder *REG_SZ *//p'
}

nothing_left() { # nothing_left [PRODUCT...]: the inventory of the products (default: all four and the quarantine)
    local left
    left=$(kit inventory "$@")
    [ -z "$left" ] || { echo "$left" | head -20; return 1; }
}

# Single fragments, each the only trace left of its product (a failed earlier removal, a user's hand): a logon
# entry, a driver file, a task file, a firewall rule. Each must make its product "found" and go.
plant_fragments() {
    nv_wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' /v 'Norvane Antivirus' \
        /d '"C:\Program Files\Norvane\Antivirus\nvavtray.exe"' /reg:32 /f >/dev/null 2>&1
    mkdir -p "$(nv_drive_c)/windows/system32/drivers" "$(nv_drive_c)/windows/system32/tasks/Norvane"
    echo driver >"$(nv_drive_c)/windows/system32/drivers/nvepsp.sys"
    echo task >"$(nv_drive_c)/windows/system32/tasks/Norvane/Internet Security Update"
    nv_wine reg add 'HKLM\SYSTEM\CurrentControlSet\Services\SharedAccess\Parameters\FirewallPolicy\FirewallRules' \
        /v NvVpn-Tunnel-In /d 'v2.30|Action=Allow|Dir=In|App=C:\Program Files\Norvane\Secure VPN\nvvpnsvc.exe|Svc=NvVpnSvc|' \
        /f >/dev/null 2>&1
}

# A single security hook of each product, the only trace left of it: each must make its product "found" and go.
plant_hook_fragments() {
    nv_wine reg add 'HKLM\SOFTWARE\Classes\CLSID\{A1B2C3D4-1111-4A2B-9C3D-4E5F60718293}\InprocServer32' \
        /ve /d 'C:\Program Files\Norvane\Antivirus\x86\nvavamsi32.dll' /reg:32 /f >/dev/null 2>&1
    # Another GUID than the product's: the display name and the program in the product's folder make it its own.
    nv_wine reg add 'HKLM\SOFTWARE\Microsoft\Security Center\Provider\Fw\{11111111-2222-4333-8444-555555555555}' \
        /v DISPLAYNAME /d 'Norvane Internet Security' /f >/dev/null 2>&1
    nv_wine reg add 'HKLM\SOFTWARE\Microsoft\Security Center\Provider\Fw\{11111111-2222-4333-8444-555555555555}' \
        /v PRODUCTEXE /d 'C:\Program Files\Norvane\Internet Security\nvissvc.exe' /f >/dev/null 2>&1
    nv_wine reg add "$EXCLUSIONS\\Processes" /v nvepagent.exe /t REG_DWORD /d 0 /f >/dev/null 2>&1
    nv_wine reg add "$PROVIDERS\\Order" /v ProviderOrder /d 'AcmeNP,NvVpnNP' /f >/dev/null 2>&1
    # A root of the web guard's subject that the suite never recorded.
    nv_wine "$NV_BUILD_DIR/tests/products/nv_kit.exe" add-root 'CN=Norvane Internet Security Web Guard Root, O=Norvane' |
        tr -d '\r'
}

# Internet Security's two generic traces alone, each its only trace in turn: a context-menu handler under a name
# of its own that names the suite's shell extension, and a setup bundle's entry that names its cache folder only
# in its uninstall commands.
plant_shell_handler() {
    nv_wine reg add 'HKLM\SOFTWARE\Classes\Directory\shellex\ContextMenuHandlers\Norvane Scan Menu' \
        /ve /d '{8F3716C6-A15A-4FE9-A760-C6CB5A88A673}' /f >/dev/null 2>&1
}
plant_bundle_entry() {
    local id='{5A7C9E1B-3D5F-4B7A-9C1E-7F9B3D5A7C91}' entry value
    local setup='C:\ProgramData\Package Cache\'$id'\nvis-setup.exe'
    entry='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\'$id
    for value in 'DisplayName=Norvane Internet Security' 'Publisher=Norvane' "UninstallString=\"$setup\" /uninstall" \
        "QuietUninstallString=\"$setup\" /uninstall /quiet"; do
        nv_wine reg add "$entry" /v "${value%%=*}" /d "${value#*=}" /f >/dev/null 2>&1
    done
    mkdir -p "$(nv_drive_c)/ProgramData/Package Cache/$id"
    echo 'setup bundle' >"$(nv_drive_c)/ProgramData/Package Cache/$id/nvis-setup.exe"
}

# What is left of the antivirus is its engine update's registration and cached package ("F1E2D3C4" packed).
only_patch_left() {
    local left
    left=$(kit inventory antivirus)
    { grep -qF 'C:\windows\Installer\F1E2D3C4.msp' <<<"$left" && ! grep -vqF F1E2D3C4 <<<"$left"; } ||
        { echo "$left" | head -20; return 1; }
}

all_products_together() {
    # The four clean-ups log more than one log file holds by default; this run's lines must stay in one.
    nv_wine reg add 'HKLM\SOFTWARE\Norvane\QOR\Logging' /v LogMaxSizeKB /t REG_DWORD /d 8192 /reg:32 /f >/dev/null 2>&1
    kit add-user alice
    kit install --hooks "${OTHERS[@]}" "${PRODUCTS[@]}"
    local product others_before first_state filters_before root
    for product in "${PRODUCTS[@]}"; do
        nv_check "$product is installed (files, keys in both views, services, processes, Installer data, its traces)" \
            installed "$product" hooks
    done
    nv_check "per-user parts are in both users' hives and profiles" \
        test "$(kit inventory antivirus | grep -c '^antivirus user-key ')" = 2
    nv_check "the quarantine holds files" test -n "$(kit inventory quarantine)"
    nv_check "the disk class filters list the agent's filter before the other vendor's" \
        test "$(disk_filters | paste -sd ' ')" = "nvepsp acmeflt partmgr"
    nv_check "both provider orders list the VPN's provider before the other vendor's" \
        test "$(provider_order Order) $(provider_order HwOrder)" = "NvVpnNP,AcmeNP NvVpnNP,AcmeNP"
    others_before=$(others)

    run_tool
    nv_check "first run: exit code $code is 0" test "$code" = 0
    for product in "${PRODUCTS[@]}"; do
        nv_check "first run: $product was detected" logged "] $product: found "
    done
    nv_check "first run: every step of every product is logged" steps_logged "${PRODUCTS[@]}"
    nv_check "first run: nothing of the four products and the quarantine is left" nothing_left
    nv_check "first run: each quarantined file is named" \
        logged "Removing 'C:\ProgramData\Norvane\Quarantine\7c1e0d2a.qnt'"
    nv_check "first run: the products' logs stay (not selected in silent mode)" test -n "$(kit inventory logs)"
    nv_check "first run: the other software is untouched (the other filter in its place, its hooks' data)" \
        diff <(echo "$others_before") <(others)
    nv_check "first run: the provider orders keep only the other vendor's provider" \
        test "$(provider_order Order) $(provider_order HwOrder)" = "AcmeNP AcmeNP"
    nv_check "first run: the same-publisher product keeps its Installer registration" \
        grep -q '^same_publisher installer ' <(kit inventory same_publisher)
    nv_check "first run: no restart needed" test -z "$(grep -F 'Reboot is needed' <<<"$run_log")"
    nv_check "first run: the certificate stores removed the roots themselves" \
        test -z "$(grep -F 'The certificate store did not remove' <<<"$run_log")"

    first_state=$(kit snapshot)
    run_tool
    nv_check "second run: exit code $code is 0" test "$code" = 0
    for product in "${PRODUCTS[@]}"; do
        nv_check "second run: $product is not detected" logged "] $product: not found"
    done
    nv_check "second run: every clean-up ran again, step by step" steps_logged "${PRODUCTS[@]}"
    nv_check "second run: the quarantine clean-up ran again" logged "UiToolLib::RemoveProducts: Removing product: quarantine"
    nv_check "second run: the machine did not change" diff <(echo "$first_state") <(kit snapshot)

    plant_fragments
    run_tool
    nv_check "fragments: exit code $code is 0" test "$code" = 0
    for product in "antivirus: found logon entry" "endpoint_agent: found file" \
        "internet_security: found scheduled task" "secure_vpn: found firewall rule"; do
        nv_check "fragments: $product" logged "] $product"
    done
    nv_check "fragments: the machine is as clean as after the first run" diff <(echo "$first_state") <(kit snapshot)

    root=$(plant_hook_fragments)
    run_tool
    nv_check "hook fragments: exit code $code is 0" test "$code" = 0
    for product in "antivirus: found AMSI provider" "internet_security: found Security Center registration" \
        "endpoint_agent: found Defender exclusion" "secure_vpn: found network provider NvVpnNP"; do
        nv_check "hook fragments: $product" logged "] $product"
    done
    nv_check "hook fragments: the other vendor's provider stays" test "$(provider_order Order)" = AcmeNP
    nv_check "hook fragments: a root of the suite's subject that it never recorded is found and removed" \
        logged "Removing trusted root HKLM\SOFTWARE\Microsoft\SystemCertificates\ROOT\Certificates\\${root:-none}"
    nv_check "hook fragments: the machine is as clean as after the first run" \
        diff <(echo "$first_state") <(kit snapshot)

    local plant
    for plant in plant_shell_handler plant_bundle_entry; do
        $plant
        run_tool
        nv_check "${plant#plant_} alone: exit code $code is 0" test "$code" = 0
        nv_check "${plant#plant_} alone: internet_security is found" logged "] internet_security: found "
        nv_check "${plant#plant_} alone: the machine is as clean as after the first run" \
            diff <(echo "$first_state") <(kit snapshot)
    done

    # The antivirus again, its engine update listed by the other vendor's product too: the patch stays with it.
    kit install --hooks antivirus >/dev/null
    local other patch products='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products'
    other=$(nv_packed_guid '{70ACACCD-E534-485B-B936-83D81CE0CC45}')
    patch=$(nv_packed_guid '{4C3D2E1F-6A5B-4C7D-8E9F-0A1B2C3D4E5F}')
    nv_wine reg add "$products\\$other\Patches\\$patch" /v State /t REG_DWORD /d 1 /f >/dev/null 2>&1
    run_tool
    nv_check "shared patch: exit code $code is 0" test "$code" = 0
    nv_check "shared patch: only the patch's registration and package are left of the antivirus" only_patch_left
}

each_product_alone() {
    kit install "${OTHERS[@]}"
    local others_before product
    others_before=$(others)
    for product in "${PRODUCTS[@]}"; do
        kit install --custom-folder "$product"
        nv_check "$product alone: installed below C:\\Apps" installed "$product"
        nv_check "$product alone: its program folder is the custom one" \
            grep -qF "$product file C:\\Apps\\" <(kit inventory "$product")
        run_tool
        nv_check "$product alone: exit code $code is 0" test "$code" = 0
        nv_check "$product alone: the custom folder was read from the machine" logged "] $product: folders: C:\\Apps\\"
        nv_check "$product alone: every step is logged" steps_logged "$product"
        nv_check "$product alone: nothing is left" nothing_left
    done

    # The adapter device is matched by manufacturer and hardware id and handed to the class installer for
    # removal. Wine refuses that (SetupDiSetClassInstallParamsW fails), so there the device stays and the run
    # fails; on Windows it goes and the run succeeds.
    kit install --with-adapter secure_vpn
    nv_wine reg add 'HKLM\SOFTWARE\Norvane\QOR\Logging' /v LogLevel /t REG_DWORD /d 5 /reg:32 /f >/dev/null 2>&1
    nv_check "VPN with adapter: the device exists" grep -q '^secure_vpn device ' <(kit inventory secure_vpn)
    run_tool
    nv_check "VPN with adapter: the device was found by manufacturer and hardware id" \
        logged "Lua::Win32Driver::UninstallDriversWithManufacturerAndName: Found matching driver"
    if logged "Lua::Win32Driver::UninstallDriver: Failed to invoke DIF_REMOVE"; then
        nv_check "VPN with adapter: exit code $code is 1 (the device could not be removed)" test "$code" = 1
        nv_check "VPN with adapter: the failure names the device" logged "remove devices left: Norvane/nvvpn_adapter"
        nv_check "VPN with adapter: only the device is left" \
            test -z "$(kit inventory | grep -v '^secure_vpn device ')"
    else
        nv_check "VPN with adapter: exit code $code is 0" test "$code" = 0
        nv_check "VPN with adapter: nothing is left" nothing_left
    fi
    nv_check "the other software is untouched" diff <(echo "$others_before") <(others)
}

# Under Wine the "acl" case shows the registry side for real (a key that refuses reading is enforced); file
# access lists are not enforced by Wine, so its read-only files stand for a protected folder.
broken_installations() {
    kit install "${OTHERS[@]}"
    local others_before case product hows how expected
    others_before=$(others)
    # A restart is needed when something could not go at once: a file held open, a service that keeps running.
    for case in "antivirus cached-msi" "secure_vpn acl" "endpoint_agent uninstaller unstoppable" \
        "internet_security localpackage locked"; do
        read -r product hows <<<"$case"
        kit install --custom-folder "$product"
        for how in $hows; do kit break "$product" "$how"; done
        run_tool
        expected=0
        case $hows in *locked* | *unstoppable*) expected=99 ;; esac
        nv_check "$product ($hows): exit code $code is $expected" test "$code" = "$expected"
        nv_check "$product ($hows): every step is logged" steps_logged "$product"
        for how in $hows; do
            case $how in
            cached-msi | localpackage)
                nv_check "$product ($how): Windows Installer could not remove it" \
                    logged "Windows Installer could not remove the packages of upgrade code"
                [ "$how" = cached-msi ] ||
                    nv_check "$product ($how): the cached package found by its code is named" \
                        logged "Removing cached Windows Installer package: "
                ;;
            uninstaller) nv_check "$product ($how): the missing uninstaller is logged" logged "uninstaller is missing" ;;
            acl)
                nv_check "$product ($how): keys that refused reading were taken over and deleted" \
                    test -z "$(kit inventory "$product" | grep 'refuses reading')"
                ;;
            locked)
                nv_check "$product ($how): only the held files wait for the restart" \
                    test -z "$(kit inventory | grep -v "^$product file ")"
                ;;
            unstoppable)
                nv_check "$product ($how): the running service is logged as needing a restart" \
                    logged "goes at the next restart"
                ;;
            esac
        done
        [ "$expected" = 99 ] && kit restart
        nv_check "$product ($hows): nothing is left" nothing_left
    done
    # A restart ends the programs that were started by hand (the trays); everything else must be as it was.
    nv_check "the other software is untouched" diff <(grep -v ' process ' <<<"$others_before") \
        <(others | grep -v ' process ')
}

nv_new_prefix
case ${1:-} in
all) all_products_together ;;
each) each_product_alone ;;
broken) broken_installations ;;
*) echo "usage: products_e2e.sh all|each|broken" >&2 && exit 2 ;;
esac
nv_finish
