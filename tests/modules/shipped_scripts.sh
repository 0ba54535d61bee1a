#!/usr/bin/env bash
# The quarantine and logs scripts of the bundle. First the tool itself in silent mode, which never selects
# the logs: the quarantine is emptied and every log folder stays. Then the engine with every product
# selected: the quarantine and the vendor's logs go, except the tool's own log folder.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"

nv_new_prefix
c=$(nv_drive_c)
data=$c/ProgramData/Norvane
profiles=$c/users
user=$(cd "$profiles" && ls -d */ | grep -v '^Public/$' | head -n1)
user=${user%/}
windows=$c/windows

put() { mkdir -p "$(dirname "$1")" && echo "$2" >"$1"; }

populate() {
    put "$data/Quarantine/item1.bin" quarantined
    put "$data/Quarantine/2024/item2.bin" quarantined
    put "$data/Log/OtherProduct/other.log" other
    put "$data/Log/UninstallationTool/earlier.log" earlier
    put "$data/Logs/old.log" old
    put "$data/Msi/setup.log" msi
    put "$windows/ServiceProfiles/NetworkService/AppData/Local/Norvane/Log/service.log" service
    put "$windows/ServiceProfiles/LocalService/AppData/Local/Norvane/Log/service.log" service
    put "$windows/ServiceProfiles/LocalService/AppData/Local/Norvane/settings.dat" kept
    put "$profiles/$user/AppData/Local/Norvane/Log/user.log" user
    put "$profiles/$user/AppData/LocalLow/Norvane/Log/user.log" user
    put "$profiles/$user/AppData/Local/Norvane/Settings/user.dat" kept
    put "$windows/NorvaneSetup.log" legacy
    put "$windows/NorvaneDriverUninstall.log" legacy
    put "$windows/NorvaneUnrelated.log" kept
}

# --- The tool in silent mode, with the bundle extracted into its work directory.
populate
nv_tool /silent
status=$?
log=$(nv_tool_log)
nv_check "silent run exits with 0 (got $status)" test "$status" -eq 0
nv_check "quarantine emptied" test ! -e "$data/Quarantine"
nv_check "quarantine script logged its start" grep -q "\[quarantine.lua\] CleanupProduct started" <<<"$log"
nv_check "quarantine script logged its end" grep -q "\[quarantine.lua\] CleanupProduct finished" <<<"$log"
nv_check "logs not cleaned in silent mode" bash -c "! grep -q '\[logs.lua\]' <<<\"\$1\"" _ "$log"
for kept in "$data/Log/OtherProduct/other.log" "$data/Logs/old.log" "$data/Msi/setup.log" \
    "$windows/ServiceProfiles/NetworkService/AppData/Local/Norvane/Log/service.log" \
    "$profiles/$user/AppData/Local/Norvane/Log/user.log" "$windows/NorvaneSetup.log"; do
    nv_check "silent run keeps ${kept#"$c"/}" test -f "$kept"
done

# --- The engine with every product selected, over a folder holding just the two scripts.
populate
mkdir -p "$c/nv-scripts"
cp "$NV_SOURCE_DIR/resources/scripts/quarantine.lua" "$NV_SOURCE_DIR/resources/scripts/logs.lua" "$c/nv-scripts/"
output=$(nv_wine "$NV_BUILD_DIR/tests/modules/script_removal_driver.exe" 'C:\nv-scripts')
status=$?
echo "$output"
nv_check "removal done (got $status)" test "$status" -eq 0
nv_check "quarantine found and ordered at 99" grep -q "^quarantine priority 99 found" <<<"$output"
nv_check "logs found and ordered at 100, last" bash -c "tail -n2 <<<\"\$1\" | head -n1 | grep -q '^logs priority 100 found'" _ "$output"
for gone in "$data/Quarantine" "$data/Log/OtherProduct" "$data/Logs" "$data/Msi" \
    "$windows/ServiceProfiles/NetworkService/AppData/Local/Norvane" \
    "$windows/ServiceProfiles/LocalService/AppData/Local/Norvane/Log" \
    "$profiles/$user/AppData/Local/Norvane/Log" "$profiles/$user/AppData/LocalLow/Norvane/Log" \
    "$windows/NorvaneSetup.log" "$windows/NorvaneDriverUninstall.log"; do
    nv_check "removed ${gone#"$c"/}" test ! -e "$gone"
done
for kept in "$data/Log/UninstallationTool/earlier.log" "$data/Log/UninstallationTool/UninstallationTool.log" \
    "$windows/ServiceProfiles/LocalService/AppData/Local/Norvane/settings.dat" \
    "$profiles/$user/AppData/Local/Norvane/Settings/user.dat" "$windows/NorvaneUnrelated.log"; do
    nv_check "kept ${kept#"$c"/}" test -f "$kept"
done
log=$(nv_tool_log)
nv_check "logs script logged its start" grep -q "\[logs.lua\] CleanupProduct started" <<<"$log"
nv_check "logs script logged its end" grep -q "\[logs.lua\] CleanupProduct finished" <<<"$log"
# --- A standard user's link at the quarantine, pointing at a folder of theirs: the silent run removes the link
# as a name and leaves the folder byte for byte. Windows deletes the link at once (exit code 0); Wine opens
# through links whatever it is told, so there the link can only be scheduled for the restart (exit code 99).
rm -rf "$data/Quarantine"
outside=$c/users/Public/Documents/kept
put "$outside/report.txt" "a user's file"
put "$outside/deep/er/data.bin" "more"
ln -s "$outside" "$data/Quarantine"
snapshot() { (cd "$outside" && find . -type f -exec sha256sum {} + | sort; find . | sort); }
before=$(snapshot)
nv_tool /silent
status=$?
pending=$(nv_wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')
nv_check "linked quarantine: the linked folder is intact" test "$(snapshot)" = "$before"
if [ -L "$data/Quarantine" ]; then
    nv_check "linked quarantine: the link waits for the restart (got exit code $status)" \
        bash -c '[ "$1" -eq 99 ] && grep -qiF "ProgramData\\Norvane\\Quarantine" <<<"$2"' _ "$status" "$pending"
else
    nv_check "linked quarantine: the link is gone and the run exits with 0 (got $status)" test "$status" -eq 0
fi
nv_check "linked quarantine: nothing inside the linked folder is scheduled" \
    bash -c '! grep -qiF "Documents\\kept\\" <<<"$1"' _ "$pending"
nv_finish
