# Shared helpers for the bash end-to-end tests; source it from a test script.
#   nv_new_prefix           fresh Wine prefix for this test in $WINEPREFIX, removed when the script exits
#   nv_wine PROGRAM ARGS    run a Windows program in it (exit code passed through)
#   nv_tool ARGS            run build/UninstallationTool.exe
#   nv_tool_log             the tool's log file as UTF-8 text
#   nv_check DESCRIPTION COMMAND...   count a failed check, print what failed, go on
#   nv_wait_for SECONDS DESCRIPTION COMMAND...   poll COMMAND until it succeeds; after SECONDS print what was
#                           awaited and what COMMAND printed last, and return 1
#   nv_finish               exit non-zero when a check failed
#   nv_packed_guid GUID     the registry form of a {GUID}: the first three groups reversed, the digit pairs swapped
set -uo pipefail

: "${NV_SOURCE_DIR:?}" "${NV_BUILD_DIR:?}"
NV_WINE_RUN=${NV_WINE_RUN:-$NV_SOURCE_DIR/tests/harness/wine-run}
NV_TOOL_EXE=$NV_BUILD_DIR/UninstallationTool.exe
nv_failures=0

nv_new_prefix() {
    local dir
    dir=$(mktemp -d "${NV_WINE_STATE:-/tmp}/prefix.XXXXXX")
    "$NV_WINE_RUN" --new-prefix "$dir"
    export WINEPREFIX=$dir
    trap 'WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
}

nv_wine() { "$NV_WINE_RUN" "$@"; }

nv_packed_guid() {
    local g=${1//[\{\}-]/}
    echo "$(rev <<<"${g:0:8}")$(rev <<<"${g:8:4}")$(rev <<<"${g:12:4}")$(sed -E 's/(.)(.)/\2\1/g' <<<"${g:16:16}")"
}

nv_tool() { "$NV_WINE_RUN" "$NV_TOOL_EXE" "$@"; }

nv_drive_c() { echo "$WINEPREFIX/drive_c"; }

nv_tool_log() {
    local log="$WINEPREFIX/drive_c/ProgramData/Norvane/Log/UninstallationTool/UninstallationTool.log"
    [ -f "$log" ] && iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r'
}

nv_check() {
    local description=$1
    shift
    if "$@"; then
        echo "ok: $description"
    else
        echo "FAILED: $description"
        nv_failures=$((nv_failures + 1))
    fi
}

nv_wait_for() {
    local seconds=$1 description=$2 seen
    shift 2
    local deadline=$((SECONDS + seconds))
    while :; do
        if seen=$("$@" 2>&1); then
            return 0
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "timed out after ${seconds}s waiting for: $description; last seen: ${seen:-<nothing>}" >&2
            return 1
        fi
        sleep 0.1
    done
}

nv_finish() {
    if [ "$nv_failures" -ne 0 ]; then
        echo "$nv_failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}
