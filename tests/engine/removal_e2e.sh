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

# run_case NAME EXPECTED_EXIT_CODE: runs the tool on the case's scripts plus the shared evidence library.
# Leaves the clean-ups' record in $removed, the console output in $console and the log text in $log_text.
run_case() {
    local name=$1 expected=$2 dir=$work/$1 code=0
    mkdir -p "$dir/scripts" "$dir/evidence"
    cp "$scripts/$name"/*.lua "$scripts/evidence.lua" "$dir/scripts/"
    rm -f "$log"
    NV_TEST_EVIDENCE=$(windows_path "$dir/evidence") WINEPREFIX=$prefix \
        "$NV_WINE_RUN" "$tool" /silent "/scripts=$(windows_path "$dir/scripts")" >"$dir/console.txt" 2>&1 || code=$?
    check "$name: exit code $code is $expected" test "$code" = "$expected"
    removed=$(tr -d '\r' 2>/dev/null <"$dir/evidence/removed.txt" | tr '\n' ' ' || true)
    console=$(tr -d '\r\0' <"$dir/console.txt")
    log_text=$(iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r')
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

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
