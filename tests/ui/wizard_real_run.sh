#!/usr/bin/env bash
# A real run in window mode with a "scripts" folder of test products: the list shows what the scripts
# report, the choice on the selection page decides which clean-ups run, the progress page turns while they
# run and names each product in turn, the window cannot be closed until they have ended, and the result page
# (each product with its outcome, the log) and the exit code follow the removal.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
source "$NV_SOURCE_DIR/tests/ui/wizard_lib.sh"
wiz_setup

drive_c=$(nv_drive_c)
removed=$drive_c/nvtest/removed
mkdir -p "$drive_c/nvtest/scripts" "$drive_c/nvtest/gated" "$drive_c/nvtest/gates" "$drive_c/nvtest/reboot" \
    "$drive_c/nvtest/empty" "$removed"

# product ID NAME DETECTED [PRIORITY]: a script whose clean-up leaves a marker file, then waits (at most a minute)
# until the test opens the gate C:\nvtest\gates\scripts, so that the progress page lasts as long as the test needs.
product() {
    local name="" priority=""
    [ -n "$2" ] && name="function GetProductDisplayName() return '$2' end"
    [ -n "${4:-}" ] && priority="function GetPriority() return $4 end"
    cat >"$drive_c/nvtest/scripts/$1.lua" <<EOF
function GetProductId() return "$1" end
$name
function DetectProduct() return $3 end
$priority
function CleanupProduct()
    local marker = io.open("C:\\\\nvtest\\\\removed\\\\$1.txt", "w")
    marker:write("removed")
    marker:close()
$(wiz_lua_gate "\"C:\\\\nvtest\\\\gates\\\\scripts\"")
    return true
end
EOF
}
product alpha "Alpha Antivirus" true
product beta "Beta Firewall" false
product logs "" true 100
# A library: no product functions, so not listed.
echo 'Helpers = { Answer = 42 }' >"$drive_c/nvtest/scripts/helpers.lua"
# gated ID NAME PRIORITY LAST-STATEMENT: a product whose clean-up waits (at most a minute) until the test opens
# its gate, C:\nvtest\gates\ID, then leaves a marker and ends with the statement.
gated() {
    cat >"$drive_c/nvtest/gated/$1.lua" <<EOF
function GetProductId() return "$1" end
function GetProductDisplayName() return "$2" end
function GetPriority() return $3 end
function DetectProduct() return true end
function CleanupProduct()
$(wiz_lua_gate "\"C:\\\\nvtest\\\\gates\\\\$1\"")
    local marker = io.open("C:\\\\nvtest\\\\removed\\\\$1.txt", "w")
    marker:write("removed")
    marker:close()
    $4
end
EOF
}
gated alpha "Alpha Antivirus" 10 'return true'
gated gamma "Gamma Firewall" 20 'error("cannot remove gamma")'

cat >"$drive_c/nvtest/reboot/delta.lua" <<'EOF'
function GetProductId() return "delta" end
function DetectProduct() return true end
function CleanupProduct() Meta.SetRebootNeeded() return true end
EOF

scripts='/scripts=C:\nvtest\scripts'
markers() { (cd "$removed" && ls | sed 's/\.txt$//' | tr '\n' ' '); }
reset_markers() { rm -f "$removed"/*; }

# --- Closing the window before the removal, or cancelling the selection, ends with 2 and removes nothing.
for page in welcome select; do
    wiz_start "$scripts" /language=en
    wiz_wait welcome
    [ "$page" = select ] && wiz_click_control 1 && wiz_wait select
    wiz_close_window
    wiz_finish
    nv_check "closing the window on the $page page ends with 2" test "$wiz_code" = 2
done

wiz_start "$scripts" /language=en
wiz_wait welcome
wiz_click_control 1
wiz_wait select
state=$(wiz_probe state)
nv_check "three products, ordered by priority, the log files by their localized name" \
    test "$(grep '^row[0-9]' <<<"$state" | tr '\n' ';')" = \
    "row0=Alpha Antivirus|Found;row1=Beta Firewall|;row2=Log files|Found;"
wiz_click_control 2
wiz_finish
nv_check "Cancel on the selection page ends with 2" test "$wiz_code" = 2
nv_check "nothing was removed after a cancel" test -z "$(markers)"

# --- Remove-all: every product but the log files.
wiz_start "$scripts" /language=en
wiz_wait welcome
wiz_click_control 1
wiz_wait select
wiz_click_control 1
wiz_wait progress
touch "$drive_c/nvtest/gates/scripts"
wiz_wait message 60000
nv_check "the removal ends on the success page" \
    test "$(wiz_value text_text)" = "Uninstallation completed successfully."
wiz_click_control 2
wiz_finish
nv_check "a done removal ends with 0" test "$wiz_code" = 0
nv_check "remove-all removes every product but the log files" test "$(markers)" = "alpha beta "

# --- Select what to remove: the two ticked products only, with the spinner turning meanwhile.
reset_markers
rm -f "$drive_c/nvtest/gates/scripts"
wiz_start "$scripts" /language=en
wiz_wait welcome
wiz_click_control 1
wiz_wait select
wiz_click_control 1028
wiz_click_row 0
wiz_click_row 2
wiz_park_pointer
nv_check "two rows are ticked" wiz_wait_value checked 0,2
wiz_shot en-10-run-select
wiz_click_control 1
wiz_wait progress
nv_check "the spinner turns while the scripts run" wiz_spinner_turns
wiz_shot en-10-run-progress
touch "$drive_c/nvtest/gates/scripts"
wiz_wait message 60000
wiz_shot en-10-run-finished
wiz_click_control 2
wiz_finish
nv_check "the chosen removal ends with 0" test "$wiz_code" = 0
nv_check "only the ticked products are removed" test "$(markers)" = "alpha logs "
nv_check "the products are removed in priority order" \
    test "$(nv_tool_log | grep -o 'UiToolLib::RemoveProducts: Removing product: [a-z]*' | tail -n2 |
        sed 's/.*: //' | tr '\n' ' ')" = "alpha logs "

# --- Each product in turn, held at its gate: the progress page names it and its place, and neither the close
# box nor Alt+F4 ends the window meanwhile. One product fails: the result page says so beside the one that was
# removed, tells what to do next and offers the log; the run ends with 1.
reset_markers
mark=$(wiz_log_mark)
wiz_start '/scripts=C:\nvtest\gated' /language=en
wiz_wait welcome
wiz_click_control 1
wiz_wait select
wiz_click_control 1
wiz_wait progress
nv_check "the progress page names the first product and its place" \
    wiz_wait_value text_text "Removing Alpha Antivirus (1 of 2)..."
wiz_close_window
read -r text_x text_y <<<"$(wiz_probe point 1008)"
xdotool mousemove "$text_x" "$text_y" key alt+F4
wiz_probe painted >/dev/null
refusals=$(wiz_log_since "$mark" | grep -c 'The window stays until the removal has ended')
# The greyed close box sends nothing; Alt+F4 reaches the window, which refuses it.
nv_check "the close box and Alt+F4 leave the window while the removal runs ($refusals refused)" \
    test "$(wiz_value page)" = progress -a "$refusals" -ge 1
wiz_shot en-10-run-progress-step
touch "$drive_c/nvtest/gates/alpha"
nv_check "then the second product" wiz_wait_value text_text "Removing Gamma Firewall (2 of 2)..."
touch "$drive_c/nvtest/gates/gamma"
wiz_wait message 60000
state=$(wiz_probe state)
nv_check "the failed removal says so" grep -qx 'text_text=Could not complete the uninstallation successfully.' <<<"$state"
nv_check "each product with its outcome, in removal order" \
    test "$(grep '^result_row[0-9]' <<<"$state" | tr '\n' ';')" = \
    "result_row0=Alpha Antivirus|Removed;result_row1=Gamma Firewall|Failed;"
nv_check "what to do next" grep -qxF "next_steps_text=$(wiz_text en NextSteps)" <<<"$state"
nv_check "the log is offered" grep -qx 'log_text=Show the log file' <<<"$state"
wiz_park_pointer
wiz_shot en-10-run-failed
# The link opens the log's folder in a window of its own, which is put out of the way of the next click.
wiz_click_control 1031
log_file='C:\ProgramData\Norvane\Log\UninstallationTool\UninstallationTool.log'
shown_log() { wiz_log_since "$mark" | grep -F "DialogMessage::OnCommand: Showed the log file: $log_file"; }
nv_check "the link shows the log file in its folder" nv_wait_for 30 "the log file to be shown" shown_log
folder_window() { xdotool search --onlyvisible --class explorer.exe 2>/dev/null | head -n1 | grep .; }
if nv_wait_for 30 "the folder's window" folder_window; then
    xdotool windowunmap "$(folder_window)"
fi
wiz_click_control 2
wiz_finish
nv_check "a failed removal ends with 1" test "$wiz_code" = 1
nv_check "both clean-ups ran" test "$(markers)" = "alpha gamma "

# --- No product script at all: the error page at once, and 1.
wiz_start '/scripts=C:\nvtest\empty' /language=en
wiz_wait message
nv_check "an empty scripts folder shows the generic error" \
    test "$(wiz_value text_text)" = "Could not complete the uninstallation successfully."
wiz_click_control 2
wiz_finish
nv_check "an empty scripts folder ends with 1" test "$wiz_code" = 1

# --- A removal that needs a restart, and the restart page closed: 99, and no restart.
mark=$(wiz_log_mark)
wiz_start '/scripts=C:\nvtest\reboot' /language=en
wiz_wait welcome
wiz_click_control 1
wiz_wait select
wiz_click_control 1
wiz_wait message 60000
nv_check "a removal that needs a restart offers it" \
    test "$(wiz_value text_text)|$(wiz_value ok_visible)" = "Restart your computer to complete the uninstallation.|1"
wiz_click_control 2
wiz_finish
nv_check "the closed restart page ends with 99" test "$wiz_code" = 99
nv_check "the closed restart page requests no restart" test -z "$(wiz_log_since "$mark" | grep RequestRestart)"

# --- Restart, in Wine's default window handling, where the end of the session that the request starts reaches
# the tool's windows (the unmanaged windows above hide that). The built-in scripts, so that a work directory is
# made, and a quarantined file that another program holds open, so that its deletion waits for the restart.
# Last: the request ends the Wine session of this test's own throwaway prefix, and reaches nothing outside it.
wiz_default_window_mode
mkdir -p "$drive_c/ProgramData/Norvane/Quarantine"
echo held >"$drive_c/ProgramData/Norvane/Quarantine/held.dat"
nv_wine "$NV_BUILD_DIR/tests/products/nv_kit.exe" hold 'C:\nvtest\held.ready' \
    'C:\ProgramData\Norvane\Quarantine\held.dat' </dev/null >/dev/null 2>&1 &
nv_check "another program holds the quarantined file" \
    nv_wait_for 60 "the holder to open the file" test -f "$drive_c/nvtest/held.ready"
mark=$(wiz_log_mark)
wiz_start /language=en
wiz_wait welcome
wiz_click_control 1
wiz_wait select
wiz_click_control 1
wiz_wait message 120000
nv_check "the held file makes the run ask for a restart" \
    test "$(wiz_value text_text)" = "Restart your computer to complete the uninstallation."
wiz_click_control 1
wiz_finish
run_log=$(wiz_log_since "$mark")
nv_check "Restart ends with 99" test "$wiz_code" = 99
nv_check "the exit code is logged" grep -q 'wWinMain: Exiting with code: 99' <<<"$run_log"
milestones='UiTool::CreateWorkDir: Working directory: C:\|UiTool::CleanUp: Removing'
milestones=$(grep -o "$milestones\\|RequestRestart: .*\\|wWinMain: Exiting with code: [0-9]*" <<<"$run_log" | tr '\n' ';')
expected="UiTool::CreateWorkDir: Working directory: C:;UiTool::CleanUp: Removing;"
expected+="RequestRestart: Requesting a restart;wWinMain: Exiting with code: 99;"
nv_check "the restart is requested after the clean-up, just before the exit line ($milestones)" \
    test "$milestones" = "$expected"
nv_check "no work directory is left in the temporary folder" \
    test -z "$(find "$drive_c/users" -maxdepth 6 -name 'nv*.tmp' 2>/dev/null)"

nv_finish
