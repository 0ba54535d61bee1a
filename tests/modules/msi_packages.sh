#!/usr/bin/env bash
# Windows Installer removal with real packages. Builds seven test products with wixl (per-machine, 64-bit),
# installs them with msiexec into a prefix of its own and runs the tool silently on the Lua scripts in msi/:
# first the removal through Windows Installer, then the forced removal of the registrations of products that
# Windows Installer cannot remove. What Windows Installer filed is looked up in the prefix's saved registry, so
# the checks do not go through the code under test. Arguments: the tool, the packages' custom action library.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
tool=$1
custom_action_dll=$2
sources=$NV_SOURCE_DIR/tests/modules/msi

nv_new_prefix
drive_c=$(nv_drive_c)
work=$drive_c/nv-msi-test # inside the prefix, so it goes with it
mkdir -p "$work"

export NV_MSI_SHARED_UPGRADE={0B7D3C11-2A44-4E55-8F66-7A8B9C0D1E21}
export NV_MSI_BROKEN_UPGRADE={0B7D3C11-2A44-4E55-8F66-7A8B9C0D1E22}
export NV_MSI_DELTA_UPGRADE={0B7D3C11-2A44-4E55-8F66-7A8B9C0D1E23}
export NV_MSI_UNKNOWN_UPGRADE={0B7D3C11-2A44-4E55-8F66-7A8B9C0D1E29}
export NV_MSI_UNKNOWN_CODE={5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A59}
export NV_MSI_DELTA_CODE={5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A54}
export NV_MSI_EPSILON_CODE={5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A55}
export NV_MSI_EPSILON_UPGRADE={0B7D3C11-2A44-4E55-8F66-7A8B9C0D1E24}
export NV_MSI_RESTART_UPGRADE={0B7D3C11-2A44-4E55-8F66-7A8B9C0D1E25}
shared_component={7C3D4E5F-6A7B-4C8D-9E0F-A1B2C3D4E5F6}

# Name, product code, upgrade code, core component, second feature, second component and its folder, and the
# custom action its removal runs. Alpha and Beta share an upgrade code, so do Zeta and Gamma; Gamma and Delta
# share their second component. Zeta refuses its removal, Eta asks for a restart after it.
products=(
    "Alpha {5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A51} $NV_MSI_SHARED_UPGRADE {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E711}
     AlphaExtras {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E712} Alpha None"
    "Beta {5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A52} $NV_MSI_SHARED_UPGRADE {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E721}
     BetaExtras {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E722} Beta None"
    "Zeta {5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A56} $NV_MSI_BROKEN_UPGRADE {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E761}
     ZetaExtras {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E762} Zeta RefuseRemoval"
    "Gamma {5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A53} $NV_MSI_BROKEN_UPGRADE {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E731}
     Common $shared_component Shared None"
    "Delta $NV_MSI_DELTA_CODE $NV_MSI_DELTA_UPGRADE {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E741}
     Common $shared_component Shared None"
    "Epsilon $NV_MSI_EPSILON_CODE $NV_MSI_EPSILON_UPGRADE {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E751}
     EpsilonExtras {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E752} Epsilon None"
    "Eta {5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A57} $NV_MSI_RESTART_UPGRADE {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E771}
     EtaExtras {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E772} Eta RequestRestart"
)

export NV_MSI_SHARED_COMPONENT NV_MSI_DELTA_PACKED NV_MSI_EPSILON_COMPONENT
NV_MSI_SHARED_COMPONENT=$(nv_packed_guid $shared_component)
NV_MSI_EPSILON_COMPONENT=$(nv_packed_guid {6A2B3C4D-5E6F-4701-8192-A3B4C5D6E751})
NV_MSI_DELTA_PACKED=$(nv_packed_guid $NV_MSI_DELTA_CODE)

windows_path() { local path=${1//\//\\}; echo "Z:$path"; }

# wixl takes a binary's path only relative to the working directory.
cp "$custom_action_dll" "$work/removal_actions.dll"
install_product() { # install_product NAME CODE UPGRADE CORE SECOND_FEATURE SECOND_GUID SECOND_FOLDER ACTION
    local msi=$work/$1.msi
    (cd "$work" && wixl -a x64 -o "$msi" -D "Name=$1" -D "ProductCode=$2" -D "UpgradeCode=$3" -D "CoreGuid=$4" \
        -D "SecondFeature=$5" -D "SecondGuid=$6" -D "SecondFolder=$7" -D "RemovalAction=$8" \
        -D "CustomActionDll=removal_actions.dll" "$sources/product.wxs") &&
        nv_wine msiexec /i "$(windows_path "$msi")" /qn
}

# Every code under which the product files registrations: its product code in both forms and its own
# component; the shared component and the upgrade codes are checked apart.
product_codes() { # product_codes NAME
    local name code _upgrade core rest
    for product in "${products[@]}"; do
        read -r name code _upgrade core rest <<<"$product"
        [ "$name" = "$1" ] && echo "$code $(nv_packed_guid "$code") $(nv_packed_guid "$core")"
    done
}

registry= # the prefix's registry (machine and user hives) as last saved
save_registry() {
    wineserver -k
    wineserver -w
    registry=$(cat "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg")
}
registered() { grep -qiF -- "$1" <<<"$registry"; }
unregistered() { ! registered "$1"; }
check_product() { # check_product registered|unregistered NAME...
    local state=$1 name code
    shift
    for name in "$@"; do
        for code in $(product_codes "$name"); do
            nv_check "$name: $code $state" "$state" "$code"
        done
    done
}

installed_file() { [ -f "$drive_c/Program Files/NorvaneTest/$1" ]; }
not_installed_file() { ! installed_file "$1"; }

run_tool() { # run_tool PHASE: runs the tool on the phase's script; then $results, $log_text, $registry
    local dir=$work/$1 code=0
    mkdir -p "$dir/scripts"
    cp "$sources/$1"/*.lua "$sources/record.lua" "$dir/scripts/"
    NV_TEST_EVIDENCE=$(windows_path "$dir") nv_tool /silent "/scripts=$(windows_path "$dir/scripts")" >/dev/null 2>&1 ||
        code=$?
    nv_check "$1: the tool exits with 0" test "$code" = 0
    results=$(tr -d '\r' <"$dir/results.txt" 2>/dev/null)
    log_text=$(nv_tool_log)
    save_registry
}
expect() { nv_check "$1 = $2" test "$(sed -n "s/^$1=//p" <<<"$results")" = "$2"; }
logged() { nv_check "logged: $1" grep -qF -- "$1" <<<"$log_text"; }
not_logged() { ! grep -qF -- "$1" <<<"$log_text"; }

for product in "${products[@]}"; do
    read -r name _ <<<"$product"
    before=$(ls "$drive_c/windows/Installer" 2>/dev/null)
    # shellcheck disable=SC2086 # the fields are the arguments
    nv_check "$name installs" install_product $product
    [ "$name" = Gamma ] && gamma_cache=$(comm -13 <(echo "$before") <(ls "$drive_c/windows/Installer"))
done
# Gamma breaks as when its cached package and its source are lost.
nv_check "Gamma's cached package is known" test -n "$gamma_cache"
rm -f "$drive_c/windows/Installer/$gamma_cache" "$work/Gamma.msi"
save_registry
check_product registered Alpha Beta Zeta Gamma Delta Epsilon Eta

run_tool graceful
expect detect_shared true
expect cleanup_nothing_by_name true
expect cleanup_unknown_code true
expect uninstall_shared true
expect cleanup_alpha_by_name true
nv_check "Alpha, removed through Windows Installer, is not resolved from what was read before" \
    not_logged "Resolved name 'Norvane Test Alpha'"
expect detect_shared_after false
expect uninstall_unknown true
expect detect_unknown false
expect uninstall_malformed true
expect detect_malformed false
expect uninstall_broken false
expect detect_broken true
expect uninstall_restart false
expect detect_restart_after false
expect table_argument_raises true
for file in Alpha/core.txt Alpha/AlphaExtras.txt Beta/core.txt Beta/BetaExtras.txt Eta/core.txt; do
    nv_check "$file removed" not_installed_file "$file"
done
nv_check "Gamma's files stay" installed_file Gamma/core.txt
nv_check "Zeta's files stay" installed_file Zeta/core.txt
check_product unregistered Alpha Beta Eta
nv_check "the shared upgrade code is gone" unregistered "$(nv_packed_guid $NV_MSI_SHARED_UPGRADE)"
check_product registered Zeta Gamma Delta Epsilon
logged "Lua::Msi::UninstallProduct: Uninstalling 2 products from upgrade code '$NV_MSI_SHARED_UPGRADE'"
logged "Lua::Msi::UninstallProduct: Uninstalling 2 products from upgrade code '$NV_MSI_BROKEN_UPGRADE'"
# What Zeta's custom action sent, and the handler's answers: 1 (OK) and 3 (abort) for out of disk space.
callback="F: \`anonymous-namespace'::MsiMessageCallback: MSI: Zeta gives up
W: \`anonymous-namespace'::MsiMessageCallback: MSI: Zeta warns
E: \`anonymous-namespace'::MsiMessageCallback: MSI reports out of disk space
E: \`anonymous-namespace'::MsiMessageCallback: MSI: Zeta refuses to be removed; answers: fatal exit 1, warning 1, out of disk space 3"
nv_check "Windows Installer's messages are logged at their levels" \
    test "$(grep -o '[A-Z]: .anonymous-namespace.::MsiMessageCallback: .*' <<<"$log_text")" = "$callback"
logged "Lua::Msi::UninstallProduct: Uninstalling '{5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A56}' failed: 1603"
logged "Lua::Msi::UninstallProduct: Uninstalling '{5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A53}' failed: 1612"
logged "Lua::Msi::UninstallProduct: Uninstalling '{5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A57}' failed: 3010"
# Only the file name counts: the log goes into the run's checked log folder, never where a script points.
nv_check "Windows Installer wrote the verbose log into the tool's log folder" \
    test -s "$drive_c/ProgramData/Norvane/Log/UninstallationTool/uninstall.log" -a ! -e "$work/graceful/uninstall.log"

# Names under an upgrade code that are not packed product codes: the default value and a path into Delta's
# data; and a component key that holds only its default value. None of them may steer the deletions.
bare_component={4C000000-0000-4000-8000-000000000004}
installer='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer'
cat >"$work/planted.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\UpgradeCodes\\$(nv_packed_guid $NV_MSI_BROKEN_UPGRADE)]
@=""
"$NV_MSI_DELTA_PACKED\\\\InstallProperties"=""

[$installer\UserData\S-1-5-18\Components\\$(nv_packed_guid $bare_component)]
@="C:\\\\file"
EOF
nv_check "names planted under Gamma's upgrade code" nv_wine reg import "$(windows_path "$work/planted.reg")"

run_tool forced
expect cleanup_unknown_code true
expect cleanup_short_product_code false
expect cleanup_unbraced_upgrade_code false
expect cleanup_common_feature true
expect delta_after_common_feature true
expect shared_component_clients "$NV_MSI_DELTA_PACKED"
expect cleanup_broken true
expect delta_after_broken true
expect cleanup_name_other_case true
expect delta_after_name_other_case true
expect cleanup_name true
expect cleanup_product_code true
expect epsilon_component_after_lower_case false
expect detect_delta_before_its_upgrade_code true
expect cleanup_delta_upgrade true
expect cleanup_epsilon_upgrade true
expect detect_broken_after false
expect detect_delta_after false
check_product unregistered Zeta Gamma Delta Epsilon
for code in $NV_MSI_BROKEN_UPGRADE $NV_MSI_DELTA_UPGRADE $NV_MSI_EPSILON_UPGRADE $shared_component; do
    nv_check "$code unregistered" unregistered "$(nv_packed_guid "$code")"
done
logged "MsiCleanup::CleanupProductCode: Invalid product code : ${NV_MSI_DELTA_CODE:0:37}"
logged "MsiCleanup::CleanupUpgradeCode: Invalid upgrade code : ${NV_MSI_BROKEN_UPGRADE:1:36}"
logged "MsiCleanup::CleanupProductBasedOnFeature: Resolved feature 'Common' to product code '$(nv_packed_guid {5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A53})'"
logged "MsiCleanup::CleanupProductBasedOnNameAndPublisher: Resolved name 'Norvane Test D*', publisher 'Norvane Test' to product code '$NV_MSI_DELTA_PACKED'"
# Each deleted key and value is named once; the component shared with Delta loses only Gamma's value first.
machine_data='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18'
shared_key="$machine_data\\Components\\$NV_MSI_SHARED_COMPONENT (64-bit)"
gamma_packed=$(nv_packed_guid {5E1F0C2A-7B31-4D6E-9A8B-0C1D2E3F4A53})
logged "MsiCleanup::CleanupProductBasedOnFeature: Deleting key $machine_data\\Products\\$gamma_packed (64-bit)"
logged "MsiCleanup::CleanupProductBasedOnFeature: Deleting value '$gamma_packed' of key $shared_key"
logged "MsiCleanup::CleanupProductBasedOnNameAndPublisher: Deleting key $shared_key"
nv_check "a deleted key is named once" test "$(grep -cF "Deleting key $shared_key" <<<"$log_text")" = 1
nv_check "the bare component stays" registered "$(nv_packed_guid $bare_component)"
nv_check "the bare component is not named" not_logged "$(nv_packed_guid $bare_component)"
nv_finish
