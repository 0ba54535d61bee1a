#!/usr/bin/env bash
# The options for deployment systems end to end on machines set up by the product kit: detection only, a chosen
# set of products, the JSON run report and the Windows Installer exit codes.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"

kit() { "$NV_SOURCE_DIR/tests/products/kit" "$@"; }

# run_tool ARGS...: leaves the exit code in $code, the console in $output and this run's log lines in $run_log.
run_tool() {
    local before
    before=$(nv_tool_log | wc -l)
    code=0
    output=$(nv_tool "$@" 2>/dev/null) || code=$?
    output=$(tr -d '\r' <<<"$output")
    run_log=$(nv_tool_log | tail -n +$((before + 1)))
}

logged() { grep -qF -- "$1" <<<"$run_log"; }

temp=$'C:\\windows\\temp'
temp_unix() { echo "$WINEPREFIX/drive_c/windows/temp/$1"; }

# report_check FILE PYTHON-CONDITIONS...: the report parses as JSON and every condition holds for it (`r` is the
# document, `p` maps each product id to its entry); prints the failing conditions.
report_check() {
    local file=$1
    shift
    python3 - "$file" "$@" <<'PY'
import json, sys
with open(sys.argv[1], encoding="utf-8") as f:
    r = json.load(f)
p = {product["id"]: product for product in r["products"]}
failed = [c for c in sys.argv[2:] if not eval(c)]
for c in failed:
    print("  not true:", c)
sys.exit(1 if failed else 0)
PY
}

# Fields every report has, whatever the run did.
BASICS=('r["toolVersion"] == "17.30.134.0"' 'r["machineName"] != ""'
    'r["startTime"].endswith("Z") and r["startTime"] <= r["endTime"]'
    'all(set(x) == {"id", "displayName", "priority", "detected", "selected", "result", "timeMs", "errors", "traces"} for x in r["products"])'
    '[x["priority"] for x in r["products"]] == sorted(x["priority"] for x in r["products"])')

nv_new_prefix

# A clean machine: nothing found but the folder of the tool's own log (which "logs" keeps), exit 0; a report folder
# that does not exist is a warning, not a failure.
run_tool /detect '/report=C:\no such folder\detect.json'
nv_check "clean machine: /detect exits with 0 (code $code)" test "$code" -eq 0
nv_check "clean machine: every product line says Absent" \
    test -z "$(grep -v $'^Absent\t' <<<"$output" | grep -v -e '^Warning: could not write the report' -e $'\tlogs\t')"
nv_check "clean machine: one line per product, the four products among them" \
    test "$(grep -cE $'^(Found|Absent)\t' <<<"$output")" -eq 6 -a \
    "$(grep -cE $'^Absent\t(antivirus|internet_security|endpoint_agent|secure_vpn)\tNorvane ' <<<"$output")" -eq 4
nv_check "clean machine: the unwritable report is a console warning" \
    grep -q "^Warning: could not write the report to 'C:\\\\no such folder\\\\detect.json'" <<<"$output"

kit install --hooks antivirus internet_security >/dev/null
before=$(kit snapshot)

# Detection only on a machine with two products; the report goes to a name where a link was planted.
victim=$(mktemp)
echo "not to be overwritten" >"$victim"
ln -s "$victim" "$(temp_unix detect.json)"
run_tool /detect "/report=$temp\\detect.json"
nv_check "two products: /detect exits with 10 (code $code)" test "$code" -eq 10
nv_check "two products: the antivirus is found" grep -qx $'Found\tantivirus\tNorvane Antivirus' <<<"$output"
nv_check "two products: the internet security is found" \
    grep -qx $'Found\tinternet_security\tNorvane Internet Security' <<<"$output"
nv_check "two products: the endpoint agent is absent" grep -qx $'Absent\tendpoint_agent\tNorvane Endpoint Agent' <<<"$output"
nv_check "two products: the machine did not change" diff <(echo "$before") <(kit snapshot)
nv_check "two products: the link planted at the report path was replaced, not followed" \
    test ! -L "$(temp_unix detect.json)" -a "$(cat "$victim")" = "not to be overwritten"
nv_check "two products: the detection report" report_check "$(temp_unix detect.json)" "${BASICS[@]}" \
    'r["exitCode"] == 10 and r["mappedExitCode"] == 10 and not r["failed"] and not r["restartNeeded"]' \
    'r["options"] == {"detect": True, "report": "C:\\windows\\temp\\detect.json"}' \
    'p["antivirus"]["detected"] and p["internet_security"]["detected"] and not p["secure_vpn"]["detected"]' \
    'p["antivirus"]["displayName"] == "Norvane Antivirus"' \
    'all(x["result"] == "not-run" and not x["selected"] and x["timeMs"] == 0 for x in r["products"])'
ids=$(cut -f2 <<<"$output" | grep -v '^Warning')
nv_check "two products: the lines are in the report's (priority) order" test "$ids" = "$(python3 -c '
import json, sys
print("\n".join(x["id"] for x in json.load(open(sys.argv[1]))["products"]))' "$(temp_unix detect.json)")"
rm -f "$victim"

# An unknown id ends the run before anything is removed.
run_tool /silent /products=antivirus,nonesuch
nv_check "unknown id: exit code $code is 1" test "$code" -eq 1
nv_check "unknown id: the console names it and the products" grep -qx \
    "Unknown product: nonesuch. Products: $(paste -sd, <<<"$ids" | sed 's/,/, /g')" <<<"$output"
nv_check "unknown id: nothing was removed" diff <(echo "$before") <(kit snapshot)

# The antivirus only, with Windows Installer exit codes: a done run.
run_tool /silent /products=ANTIVIRUS "/report=$temp\\done.json" /exitcodes=msi
nv_check "antivirus only: exit code $code is 0" test "$code" -eq 0
nv_check "antivirus only: the exit line" logged "wWinMain: Exiting with code: 0"
nv_check "antivirus only: nothing of the antivirus is left" test -z "$(kit inventory antivirus)"
nv_check "antivirus only: the internet security stays" test -n "$(kit inventory internet_security)"
nv_check "antivirus only: the quarantine stays" test -n "$(kit inventory quarantine)"
nv_check "antivirus only: the report" report_check "$(temp_unix done.json)" "${BASICS[@]}" \
    'r["exitCode"] == 0 and r["mappedExitCode"] == 0 and not r["failed"] and not r["restartNeeded"]' \
    'r["options"]["products"] == "ANTIVIRUS" and r["options"]["exitcodes"] == "msi" and r["options"]["silent"]' \
    'p["antivirus"]["selected"] and p["antivirus"]["result"] == "removed" and p["antivirus"]["timeMs"] > 0' \
    'all(x["result"] == "not-selected" and not x["selected"] for i, x in p.items() if i != "antivirus")' \
    'p["internet_security"]["detected"]' \
    'all(t["state"] == "removed" for t in p["antivirus"]["traces"])' \
    '{"service", "driver", "driver package", "Windows Installer registration", "scheduled task", "firewall rule", "logon entry", "Security Center registration", "AMSI provider", "user key", "file", "key", "Windows Installer patch", "Windows Installer per-user registration"} <= {t["kind"] for t in p["antivirus"]["traces"]}' \
    '"Security Center registration HKLM\\SOFTWARE\\Microsoft\\Security Center\\Provider\\Av\\{5C0F6B1E-2D4A-4E8B-9F31-7A2C6D8E1B40}" in [t["item"] for t in p["antivirus"]["traces"]]' \
    'p["internet_security"]["traces"] == []'

# A file held open: the removal needs a restart, 99 maps to 3010 (Linux sees its low byte).
kit break internet_security locked >/dev/null
run_tool /silent /products=internet_security,logs "/report=$temp\\restart.json" /exitcodes=msi
nv_check "restart needed: exit code $code is the low byte of 3010" test "$code" -eq $((3010 & 255))
nv_check "restart needed: the exit line shows both codes" logged "wWinMain: Exiting with code: 3010 (tool code: 99)"
nv_check "restart needed: the report" report_check "$(temp_unix restart.json)" "${BASICS[@]}" \
    'r["exitCode"] == 99 and r["mappedExitCode"] == 3010 and r["restartNeeded"] and not r["restartStarted"]' \
    'p["internet_security"]["result"] == "removed-restart-needed" and p["logs"]["selected"]' \
    'p["logs"]["result"] in ("removed", "removed-restart-needed") and p["quarantine"]["result"] == "not-selected"' \
    '"restart" in {t["state"] for t in p["internet_security"]["traces"] if t["kind"] == "file"}' \
    '"left" not in {t["state"] for t in p["internet_security"]["traces"]}'
nv_check "restart needed: the listed logs were removed too" test -z "$(kit inventory logs)"

# A clean-up that fails: its Error and Fatal lines are in the report, at most fifty.
failing=$(nv_drive_c)/failing-scripts
mkdir -p "$failing"
cat >"$failing/broken.lua" <<'LUA'
function GetProductId() return "broken" end
function GetProductDisplayName() return "Broken product" end
function DetectProduct() return true end
function CleanupProduct()
    Log.Info("not collected")
    for i = 1, 60 do Log.Error("could not remove item " .. i) end
    Meta.SetFailed("gave up")
end
LUA
cat >"$failing/fine.lua" <<'LUA'
function GetProductId() return "fine" end
function GetPriority() return 60 end
function DetectProduct() return false end
function CleanupProduct() Log.Error("fine's own error") return true end
LUA
run_tool /silent '/scripts=C:\failing-scripts' "/report=$temp\\failed.json" /exitcodes=msi
nv_check "failed run: exit code $code is the low byte of 1603" test "$code" -eq $((1603 & 255))
nv_check "failed run: the exit line shows both codes" logged "wWinMain: Exiting with code: 1603 (tool code: 1)"
nv_check "failed run: the report" report_check "$(temp_unix failed.json)" "${BASICS[@]}" \
    'r["exitCode"] == 1 and r["mappedExitCode"] == 1603 and r["failed"]' \
    'p["broken"]["result"] == "failed" and len(p["broken"]["errors"]) == 50' \
    'p["broken"]["errors"][0] == "[broken.lua] could not remove item 1" and p["broken"]["displayName"] == "Broken product"' \
    'p["fine"]["result"] == "removed" and p["fine"]["errors"] == ["[fine.lua] fine'"'"'s own error"] and not p["fine"]["detected"]'

# Another instance running: 4 maps to 1618 ("try again later"), and that run reports too.
fifo=$(mktemp -u)
mkfifo "$fifo"
nv_wine "$NV_BUILD_DIR/tests/app/instance_mutex_holder.exe" guard <"$fifo" >"$fifo.out" &
holder=$!
exec 7>"$fifo"
nv_wait_for 60 "the instance mutex holder" grep -q holding "$fifo.out"
run_tool /silent /exitcodes=msi "/report=$temp\\busy.json"
exec 7>&-
wait "$holder"
rm -f "$fifo" "$fifo.out"
nv_check "another instance: exit code $code is the low byte of 1618" test "$code" -eq $((1618 & 255))
nv_check "another instance: the exit line shows both codes" logged "wWinMain: Exiting with code: 1618 (tool code: 4)"
nv_check "another instance: the report" report_check "$(temp_unix busy.json)" "${BASICS[@]}" \
    'r["exitCode"] == 4 and r["mappedExitCode"] == 1618 and r["products"] == []'

nv_finish
