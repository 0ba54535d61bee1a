#!/usr/bin/env bash
# Exit codes and console output of the real executable, end to end under Wine.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
nv_new_prefix
# Debug lines (work directory) are wanted in the log.
nv_wine reg add 'HKLM\SOFTWARE\Norvane\QOR\Logging' /v LogLevel /t REG_DWORD /d 5 /f /reg:32 >/dev/null

output=$(nv_tool /bogus)
code=$?
nv_check "unknown option exits with 1" test "$code" -eq 1
nv_check "unknown option is reported on the console" grep -qx 'Parse error: Unknown option: /bogus' <<<"$output"
nv_check "the parse error is logged" grep -q 'UiTool::ParseCommandLine: Parse error: Unknown option: /bogus' \
    <<<"$(nv_tool_log)"

output=$(nv_tool -)
nv_check "a lone dash prints an empty parse error" grep -qx 'Parse error: ' <<<"$output"

empty=$(nv_drive_c)/empty-scripts
mkdir -p "$empty"
output=$(nv_tool /silent '/scripts=C:\empty-scripts')
code=$?
nv_check "silent run without scripts exits with 1" test "$code" -eq 1
nv_check "silent run prints the generic error" grep -q 'Could not complete the uninstallation successfully.' \
    <<<"$output"
nv_check "the scripts folder is left in place" test -d "$empty"
nv_check "no scripts is logged" grep -q 'UiToolLib::DetectProducts: Could not find any scripts from C:\\empty-scripts' \
    <<<"$(nv_tool_log)"

# Work directories of killed runs are cleared by the next run; a folder of another name pattern stays.
temp=$(find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -iname temp | head -n1)
mkdir -p "$temp/nv12345678901.tmp/inner" "$temp/nvkeep.tmp"
touch "$temp/nv12345678901.tmp/inner/antivirus.lua"
nv_tool /silent >/dev/null
code=$?
log=$(nv_tool_log)
nv_check "a killed run's work directory is removed" test ! -e "$temp/nv12345678901.tmp"
nv_check "its removal is logged" grep -q 'Removing the work directory of an earlier run: .*nv12345678901.tmp' <<<"$log"
nv_check "a folder that only looks alike stays" test -d "$temp/nvkeep.tmp"
rmdir "$temp/nvkeep.tmp"
nv_check "a plain silent run on a clean machine exits with 0" test "$code" -eq 0
nv_check "the script bundle is extracted" grep -q "ZipDropper::ExtractFilesFromResource: 'logs.lua'" <<<"$log"
workdir=$(grep -o 'UiTool::CreateWorkDir: Working directory: .*' <<<"$log" | tail -n1 | sed 's/.*: //')
nv_check "a work directory was created" grep -q 'nv[0-9]*\.tmp$' <<<"$workdir"
nv_check "the work directory is removed at the end" grep -qF "UiTool::CleanUp: Removing '$workdir'" <<<"$log"
nv_check "no work directory is left in the temporary folder" \
    test -z "$(find "$WINEPREFIX/drive_c/users" -maxdepth 6 -name 'nv*.tmp' 2>/dev/null)"

# A temporary folder that does not exist: no work directory, an error line naming the folder and the system's
# reason, the generic error text, 1. Wine sets TEMP and TMP from the registry, so they are changed through cmd.
tool_path=$(winepath -w "$NV_TOOL_EXE" 2>/dev/null)
output=$(nv_wine cmd /c "set TMP=C:\\no-such-folder&& set TEMP=C:\\no-such-folder&& $tool_path /silent")
code=$?
nv_check "a missing temporary folder exits with 1" test "$code" -eq 1
nv_check "a missing temporary folder prints the generic error" \
    grep -q 'Could not complete the uninstallation successfully.' <<<"$output"
nv_check "the folder and the error are logged" grep -qF \
    "E: UiTool::CreateWorkDir: Failed to create a working directory in 'C:\no-such-folder\', last error = 3" \
    <<<"$(nv_tool_log)"

# No display, so no main window: an error, not a cancel, and nothing is detected or extracted.
before=$(nv_tool_log | wc -l)
nv_wine --no-display "$NV_TOOL_EXE" /language=en >/dev/null 2>&1
code=$?
log=$(nv_tool_log | tail -n +$((before + 1)))
nv_check "a main window that cannot be created exits with 1" test "$code" -eq 1
nv_check "the missing main window is logged" grep -q 'GuiManager::Run::WindowThread: Failed to create main dialog' \
    <<<"$log"
nv_check "without a window the run ends before the work directory" \
    test -z "$(grep 'UiTool::CreateWorkDir\|UiToolLib::DetectProducts' <<<"$log")"

# Without administrator rights: the privileges text, exit 3, and no work directory.
nv_wine "$NV_BUILD_DIR/tests/app/restricted_launch.exe" "$tool_path" /testui /silent >/dev/null
nv_check "the test pages need no administrator rights" test $? -eq 0
nv_wine "$NV_BUILD_DIR/tests/app/restricted_launch.exe" "$tool_path" /silent >/dev/null
code=$?
nv_check "a run without administrator rights exits with 3" test "$code" -eq 3
nv_check "no work directory is created without administrator rights" \
    test -z "$(find "$WINEPREFIX/drive_c/users" -maxdepth 6 -name 'nv*.tmp' 2>/dev/null)"

nv_tool /testui /silent >/dev/null
nv_check "the test pages end with 0" test $? -eq 0

# The report is put in place by handle: an old read-only report is replaced; a name that can be neither replaced
# nor deleted (a folder) is named as not this run's, and the exit code stays.
reports="$(nv_drive_c)/reports"
mkdir -p "$reports/report.json.d"
echo stale >"$reports/old.json"
chmod a-w "$reports/old.json"
nv_wine attrib +r 'C:\reports\old.json' >/dev/null 2>&1
nv_tool /testui /silent '/report=C:\reports\old.json' >/dev/null
nv_check "a read-only old report is replaced" grep -q '"exitCode": 0' "$reports/old.json"
mv "$reports/report.json.d" "$reports/taken.json"
output=$(nv_tool /testui /silent '/report=C:\reports\taken.json' /exitcodes=msi)
code=$?
nv_check "a report name that cannot be replaced keeps the exit code" test "$code" -eq 0
nv_check "the console says the old file is not this run's" \
    grep -q "^Warning: the file at 'C:\\\\reports\\\\taken.json' is not this run's report" <<<"$output"
nv_check "so does the log" grep -q "is not this run's report and cannot be replaced" <<<"$(nv_tool_log)"
nv_check "no temporary file is left beside it" test -z "$(find "$reports" -name '*.tmp')"

# Runs the tool with `$@` while instance_mutex_holder holds the mark named by $1 until its input closes; the
# tool's output in $output, its exit code in $code and its log lines in $log.
run_beside_holder() {
    local mode=$1 fifo
    shift
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    nv_wine "$NV_BUILD_DIR/tests/app/instance_mutex_holder.exe" "$mode" <"$fifo" >"$fifo.out" &
    local holder=$!
    exec 7>"$fifo"
    nv_check "the helper holds the $mode mark" nv_wait_for 60 "the helper to hold the $mode mark" grep -q holding "$fifo.out"
    local before
    before=$(nv_tool_log | wc -l)
    output=$(nv_tool "$@")
    code=$?
    log=$(nv_tool_log | tail -n +$((before + 1)))
    exec 7>&-
    wait "$holder"
    rm -f "$fifo" "$fifo.out"
}

# A real second instance: the helper holds the tool's own guard.
run_beside_holder guard /silent '/scripts=C:\empty-scripts'
nv_check "a second instance exits with 4" test "$code" -eq 4
nv_check "the second instance is logged" grep -q 'Run: Another instance is already running' <<<"$log"
nv_check "a silent second instance says so on the console" grep -q 'Another instance is already running' <<<"$output"
run_beside_holder guard /detect
nv_check "a detecting second instance exits with 4 and says so" \
    test "$code" -eq 4 -a -n "$(grep 'Another instance is already running' <<<"$output")"

# A user who creates the name earlier versions used first no longer stops the run.
run_beside_holder old-name /silent '/scripts=C:\empty-scripts'
nv_check "a squatted old name does not stop the run" test "$code" -eq 1
nv_check "the run with a squatted old name goes on to the scripts" \
    grep -q 'Could not find any scripts from C:\\empty-scripts' <<<"$log"

# Where the guard is a global mutex (Wine has no private namespaces), one owned by another account is not taken
# for a running tool, nor ignored: the run ends with 1 and says why.
run_beside_holder foreign /silent '/scripts=C:\empty-scripts'
nv_check "a guard held by another account ends the run with 1" test "$code" -eq 1
nv_check "the foreign guard is named on the console" \
    grep -q 'Cannot make sure that only one instance runs: the name is held by another account (S-1-5-21-1-2-3-1001)' \
    <<<"$output"

nv_finish
