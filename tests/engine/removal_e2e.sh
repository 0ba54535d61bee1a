#!/usr/bin/env bash
# Runs the tool (argument: its path) silently on folders of test scripts in a throwaway Wine prefix and
# checks the exit code, the order of the clean-ups (from files the scripts write) and the tool's log.
set -euo pipefail
tool=$1
scripts=$(cd "$(dirname "$0")/scripts" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nv-removal-e2e.XXXXXX")
prefix=$work/prefix
cleanup() {
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
"$NV_WINE_RUN" --new-prefix "$prefix"
log=$prefix/drive_c/ProgramData/Norvane/Log/UninstallationTool/UninstallationTool.log
failures=0

windows_path() { local path=${1//\//\\}; echo "Z:$path"; }

check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAIL: $what"
        failures=$((failures + 1))
    fi
}

read_log() { log_text=$(iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r'); }

# run_case NAME EXPECTED_EXIT_CODE [FOLDER_NAME]: runs the tool on the case's files plus the shared evidence
# library, copied into a scripts folder of that name (default "scripts"). Leaves the clean-ups' record in
# $removed, the console output in $console, the log text in $log_text and the run's seconds in $elapsed.
run_case() {
    local name=$1 expected=$2 dir=$work/$1/${3:-scripts} code=0 start=$SECONDS
    mkdir -p "$dir" "$work/$name/evidence"
    rm -f "$work/$name/evidence/removed.txt"
    cp "$scripts/$name"/* "$scripts/evidence.lua" "$dir/"
    rm -f "$log"
    NV_TEST_EVIDENCE=$(windows_path "$work/$name/evidence") WINEPREFIX=$prefix \
        "$NV_WINE_RUN" "$tool" /silent "/scripts=$(windows_path "$dir")" >"$work/$name/console.txt" 2>&1 || code=$?
    elapsed=$((SECONDS - start))
    check "$name: exit code $code is $expected" test "$code" = "$expected"
    removed=$(tr -d '\r' 2>/dev/null <"$work/$name/evidence/removed.txt" | tr '\n' ' ' || true)
    console=$(tr -d '\r\0' <"$work/$name/console.txt")
    read_log
    check "$name: the log ends with the exit line" grep -q "wWinMain: Exiting with code: $expected\$" <<<"$log_text"
}

logged() { grep -qF -- "$1" <<<"$log_text"; }

run_case ordered 0
check "ordered: clean-ups ran by priority (-5, 50, 100)" test "$removed" = "first middle last "
check "ordered: removal lines in priority order" test "$(grep -o 'Removing product: .*' <<<"$log_text" | tr '\n' '|')" \
    = "Removing product: first (First product)|Removing product: middle ()|Removing product: last ()|"

run_case failing 1
check "failing: the product after the failed one was still cleaned up" test "$removed" = "broken after "
logged "LuaUninstallScript::CallLuaFunction: Error 2 calling 'CleanupProduct'" && logged "clean-up of broken failed'  " ||
    check "failing: the error and its stack dump are logged" false

run_case libraries 1
check "libraries: no clean-up ran" test -z "$removed"
check "libraries: the generic error is shown" grep -qF "Could not complete the uninstallation successfully." <<<"$console"

run_case bad 1
check "bad: the good product ran after the one whose clean-up called os.exit" test "$removed" = "exit_in_cleanup good "
for line in "syntax.lua' failed with 3. Error: " "runtime.lua' failed with 2. Error: " \
    "error_table.lua' failed with 2. Error: " "stack overflow" "os.exit is not available to scripts" \
    "huge.lua' failed with 2. Error: " "xxxxxxxxxx..." "Error 2 calling 'CleanupProduct'"; do
    check "bad: logged: $line" logged "$line"
done

# A product that fails to load fails the run, after the others have been removed; only ".lua" names count.
run_case broken_bundle 1
check "broken_bundle: the good product was removed, the .lua_old, .lua~ and .luac files ignored" test "$removed" = "good "
check "broken_bundle: the file that failed to load is named" logged "syntax.lua' failed to load"
check "broken_bundle: the generic error is shown" grep -qF "Could not complete the uninstallation successfully." <<<"$console"

# A folder name outside the ANSI code page and with ';', from which the products require their library.
run_case ordered 0 $'\u0421\u043a\u0440\u0438\u043f\u0442\u044b;\u811a\u672c'
check "wide folder: the products and their library loaded and ran in order" test "$removed" = "first middle last "

# A detection that loops ends at its 60-second limit; the run goes on and the product counts as not found.
run_case timeout 0
check "timeout: the run ended within the limit plus a few seconds (${elapsed}s)" test "$elapsed" -lt 90
check "timeout: the loop ended with an error naming the limit" logged "'DetectProduct' exceeded its time limit of 60 seconds"
check "timeout: both products were cleaned up (silent selects the one not found too)" test "$removed" = "looping good "

# The built-in bundle, extracted under a temporary folder whose name is outside the ANSI code page.
temp=$'C:\\\u0422\u0435\u043c\u043f \u4e34\u65f6'
wide_temp=$prefix/drive_c/${temp#C:\\}
mkdir -p "$wide_temp"
# The work directory is named at the debug level.
WINEPREFIX=$prefix "$NV_WINE_RUN" reg add 'HKLM\SOFTWARE\Norvane\QOR\Logging' /v LogLevel /t REG_DWORD /d 5 /f \
    /reg:32 >/dev/null
rm -f "$log"
code=0
WINEPREFIX=$prefix "$NV_WINE_RUN" cmd /c "set TEMP=$temp&& set TMP=$temp&& $(windows_path "$tool") /silent" \
    >"$work/wide_temp.txt" 2>&1 || code=$?
read_log
check "wide TEMP: exit code $code is 0" test "$code" = 0
check "wide TEMP: the work directory was made there" logged "Working directory: $temp\\nv"
check "wide TEMP: the work directory was removed at the end" test -z "$(ls -A "$wide_temp")"
check "wide TEMP: no script failed to load" test -z "$(grep -E 'failed to load|failed with' <<<"$log_text")"
check "wide TEMP: the five products were removed" test "$(grep -c 'Removing product: ' <<<"$log_text")" = 5

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
