#!/usr/bin/env bash
# What a standard user (or a corrupted installation) can put on a machine must never steer an administrator's
# run: nothing planted is started, nothing outside the products changes, and the products' own traces still go.
# The argument chooses the machine:
#   plants   a user's plants: a program where the tool might look for an uninstaller, a logon entry naming a
#            Norvane folder only in its arguments, a driver package mentioning a Norvane driver in a comment and as
#            "nvepsp.sys.bak", another vendor's package whose tables name a Norvane product code, and the profiles
#            folder's link to ProgramData with a product folder planted behind it
#   folders  the products' records naming folders that are not theirs (shared, system, another vendor's, the
#            logs, profiles), expandable records of a custom folder, and an own entry without a display name
source "$NV_SOURCE_DIR/tests/harness/lib.sh"

kit() { "$NV_SOURCE_DIR/tests/products/kit" "$@"; }

win_path() { local path=${1#[Cc]:\\}; echo "$(nv_drive_c)/${path//\\//}"; }

# The planted program records each start (its command line) in this file, through the environment the tool
# passes on.
MARKER='C:\planted-program-ran.txt'

# run_tool ARGS...: leaves the exit code in $code and this run's log lines in $run_log.
run_tool() {
    rm -f "$(nv_drive_c)/ProgramData/Norvane/Log/UninstallationTool/"*.log
    code=0
    NV_TEST_COMMAND_LINE_FILE=$MARKER nv_tool "$@" >"$NV_OUTPUT" 2>&1 || code=$?
    run_log=$(nv_tool_log)
}
NV_OUTPUT=$(mktemp)

logged() { grep -qF -- "$1" <<<"$run_log"; }
not_ran() { [ ! -e "$(win_path "$MARKER")" ] || { cat "$(win_path "$MARKER")" | iconv -f UTF-16LE -t UTF-8; return 1; }; }

# The machine without the products' logs, which silent runs keep.
state() { kit snapshot | grep -v -i -e 'ProgramData[\\/]Norvane[\\/]Log' -e '^\./ProgramData/Norvane$'; }
unchanged() { diff <(echo "$1") <(state); }

plant_program() { # plant_program WINDOWS-PATH: a copy of the recording program
    mkdir -p "$(dirname "$(win_path "$1")")"
    cp "$NV_BUILD_DIR/tests/modules/nv_product_program.exe" "$(win_path "$1")"
}

reg_set() { nv_wine reg add "$1" /v "$2" /t "${4:-REG_SZ}" /d "$3" /f ${5:+"$5"} >/dev/null 2>&1; }

# What a Windows machine has beside the other vendor's program, and what Wine's prefix lacks: keys that
# installing the products would otherwise create as their containers (Windows Installer deletes containers it
# finds empty), and another program in C:\Apps.
other_software() {
    kit install unrelated >/dev/null
    reg_set 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' Other '"C:\Apps\Other\other.exe"' REG_SZ /reg:32
    local mode
    for mode in Minimal Network; do
        nv_wine reg add "HKLM\\SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\$mode\\Other" /ve /d Service /f >/dev/null 2>&1
    done
    reg_set 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Other' EventMessageFile 'C:\Apps\Other\other.exe'
    mkdir -p "$(win_path 'C:\Apps\Other')" && echo other >"$(win_path 'C:\Apps\Other\other.exe')"
}

user_plants() {
    other_software
    # Another vendor's package that looks for the antivirus by its product code, installed for real, and an
    # unregistered copy of it in the Installer folder.
    local work
    work=$(mktemp -d)
    cp "$NV_SOURCE_DIR/tests/products/foreign_package.wxs" "$work/" && echo agent >"$work/agent.dat"
    (cd "$work" && wixl -a x64 -o foreign.msi foreign_package.wxs)
    cp "$work/foreign.msi" "$(win_path 'C:\windows\temp\foreign.msi')"
    nv_wine msiexec /i 'C:\windows\temp\foreign.msi' /qn >/dev/null 2>&1
    cp "$work/foreign.msi" "$(win_path 'C:\windows\Installer\1a2b3c4d.msi')"
    rm -rf "$work" "$(win_path 'C:\windows\temp\foreign.msi')"
    # Acme's logon entry excludes the antivirus's folder from its backups.
    reg_set 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' 'Acme Backup' \
        '"C:\Program Files\Acme\Backup\acmebackupsvc.exe" /exclude "C:\Program Files\Norvane\Antivirus\\"'
    # A Norvane package of another driver that names the agent's driver only in a comment and a backup copy.
    local n=0
    while [ -e "$(win_path "C:\\windows\\inf\\oem$n.inf")" ]; do n=$((n + 1)); done
    printf '%s\r\n' '; replaces nvepsp.sys of older agents' '[Version]' 'Signature="$WINDOWS NT$"' 'Class=System' \
        'Provider=%Vendor%' '' '[DefaultInstall.NTamd64]' 'CopyFiles=Other.Files' '' \
        '[DefaultInstall.NTamd64.Services]' 'AddService=nvother,,Other.Service ; not nvepsp' '' '[Other.Files]' \
        'nvother.sys' 'nvepsp.sys.bak' '' '[Other.Service]' 'ServiceType=1' 'StartType=3' 'ErrorControl=1' \
        'ServiceBinary=%12%\nvother.sys' '' '[Strings]' 'Vendor="Norvane"' >"$(win_path "C:\\windows\\inf\\oem$n.inf")"
    # The profiles folder's link to ProgramData, which any user can fill (Windows has "All Users").
    ln -s ../ProgramData "$(nv_drive_c)/users/All Users"
    mkdir -p "$(win_path 'C:\ProgramData\AppData\Local\Norvane\Antivirus')"
    echo mine >"$(win_path 'C:\ProgramData\AppData\Local\Norvane\Antivirus\notes.txt')"

    local before output
    before=$(state)
    run_tool /detect
    output=$(tr -d '\r' <"$NV_OUTPUT")
    nv_check "plants only: /detect exits with 0 (code $code)" test "$code" = 0
    nv_check "plants only: the antivirus is absent (logon entry argument, foreign package, link to ProgramData)" \
        grep -qx $'Absent\tantivirus\tNorvane Antivirus' <<<"$output"
    nv_check "plants only: the endpoint agent is absent (driver package that only mentions its driver)" \
        grep -qx $'Absent\tendpoint_agent\tNorvane Endpoint Agent' <<<"$output"
    run_tool /silent
    nv_check "plants only: /silent exits with 0 (code $code)" test "$code" = 0
    nv_check "plants only: nothing changed" unchanged "$before"

    # An uninstaller planted in the agent's folder under ProgramData, on a machine without the agent.
    plant_program 'C:\ProgramData\Norvane\Endpoint Agent\uninstall.exe'
    run_tool /silent
    nv_check "planted uninstaller, no product: exit code $code is 0" test "$code" = 0
    nv_check "planted uninstaller, no product: it never ran" not_ran
    nv_check "planted uninstaller, no product: only the planted folder went" unchanged "$before"

    # The products installed (the kit takes every folder of the profiles folder for a profile, so the link goes
    # first), the agent's own uninstaller missing, the antivirus's registration without the record of its
    # cached package (so that the Installer folder is searched), and the same plant.
    rm "$(nv_drive_c)/users/All Users"
    before=$(state)
    kit install antivirus endpoint_agent >/dev/null
    kit break endpoint_agent uninstaller >/dev/null
    kit break antivirus localpackage >/dev/null
    plant_program 'C:\ProgramData\Norvane\Endpoint Agent\uninstall.exe'
    run_tool /silent /products=endpoint_agent,antivirus,quarantine
    nv_check "products installed: exit code $code is 0" test "$code" = 0
    nv_check "products installed: the planted uninstaller never ran" not_ran
    nv_check "products installed: the missing uninstaller is logged" logged "uninstaller is missing: uninstall.exe"
    nv_check "products installed: nothing of them is left" test -z "$(kit inventory antivirus endpoint_agent)"
    nv_check "products installed: everything else is as it was" unchanged "$before"
}

recorded_folders() {
    kit add-user alice >/dev/null
    other_software
    local admin folder
    admin=$(cd "$(nv_drive_c)/users" && ls | grep -vx -e Public -e alice | head -1)
    for folder in 'C:\Program Files\Common Files\Acme' 'C:\Program Files (x86)\Common Files\Acme' \
        'C:\ProgramData\Package Cache\{5D1E6F0A-2B3C-4D5E-8F90-A1B2C3D4E5F6}' 'C:\Program Files\WindowsApps\Acme.App' \
        'C:\users\Public\Documents' "C:\\users\\alice\\Documents" "C:\\users\\$admin\\Documents"; do
        mkdir -p "$(win_path "$folder")" && echo keep >"$(win_path "$folder\\keep.txt")"
    done
    local before
    before=$(state)

    # Each product's own key records, in either view, a folder of another kind than its own.
    kit install antivirus endpoint_agent secure_vpn >/dev/null
    local product_key='HKLM\SOFTWARE\Norvane'
    reg_set "$product_key\\Antivirus" InstallDir 'C:\Program Files\Common Files' REG_SZ /reg:64
    reg_set "$product_key\\Antivirus" InstallLocation 'C:\Program Files (x86)\Common Files\' REG_SZ /reg:64
    reg_set "$product_key\\Antivirus" InstallDir 'C:\users\alice' REG_SZ /reg:32
    reg_set "$product_key\\Antivirus" InstallLocation 'C:\ProgramData\Package Cache' REG_SZ /reg:32
    reg_set "$product_key\\Endpoint Agent" InstallDir 'C:\Program Files\WindowsApps' REG_SZ /reg:64
    reg_set "$product_key\\Endpoint Agent" InstallLocation 'C:\Program Files\Acme\Backup' REG_SZ /reg:64
    reg_set "$product_key\\Endpoint Agent" InstallDir 'C:\ProgramData\Norvane\Log' REG_SZ /reg:32
    reg_set "$product_key\\Endpoint Agent" InstallLocation 'C:\Users\Public\Documents' REG_SZ /reg:32
    reg_set "$product_key\\Secure VPN" InstallDir "C:\\users\\$admin" REG_SZ /reg:64
    # The VPN's own Programs and Features entry without a display name.
    nv_wine reg delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{240D1D8B-0367-4A41-9C32-F6FC6802E91D}' \
        /v DisplayName /f >/dev/null 2>&1
    run_tool /silent
    nv_check "refused folders: exit code $code is 0" test "$code" = 0
    nv_check "refused folders: each record was refused" \
        test "$(grep -o "Not a folder of the product's own (HKLM[^)]*)" <<<"$run_log" | sort -u | wc -l)" = 8
    nv_check "refused folders: another vendor's folder only lost the product's files" \
        logged "Keeping folder that holds files not known to be the product's: C:\\Program Files\\Acme\\Backup"
    nv_check "refused folders: nothing of the products is left" \
        test -z "$(kit inventory antivirus endpoint_agent secure_vpn)"
    nv_check "refused folders: everything else is as it was" unchanged "$before"

    # A custom folder whose only records are expandable: the product key's InstallDir and the service's
    # ImagePath. The cached package is gone, so Windows Installer leaves the files to the forced removal.
    kit install --custom-folder antivirus >/dev/null
    kit break antivirus cached-msi >/dev/null
    reg_set "$product_key\\Antivirus" InstallDir '%SystemDrive%\Apps\Antivirus' REG_EXPAND_SZ /reg:64
    reg_set 'HKLM\SYSTEM\CurrentControlSet\Services\NvAvSvc' ImagePath '"%SystemDrive%\Apps\Antivirus\nvavsvc.exe"' \
        REG_EXPAND_SZ
    nv_wine reg delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{E2D6A3C1-7B5F-4C8E-9A2D-3F1B6C8E0A47}' \
        /v InstallLocation /f >/dev/null 2>&1
    run_tool /silent
    nv_check "expandable records: exit code $code is 0" test "$code" = 0
    nv_check "expandable records: the custom folder was found" logged "] antivirus: folders: C:\\Apps\\Antivirus;"
    nv_check "expandable records: no record was refused" test -z "$(grep "Not a folder of the product's own" <<<"$run_log")"
    nv_check "expandable records: nothing of the antivirus is left" test -z "$(kit inventory antivirus)"
    nv_check "expandable records: everything else is as it was" unchanged "$before"
}

nv_new_prefix
case ${1:-} in
plants) user_plants ;;
folders) recorded_folders ;;
*) echo "usage: planted_e2e.sh plants|folders" >&2 && exit 2 ;;
esac
rm -f "$NV_OUTPUT"
nv_finish
