#!/usr/bin/env bash
# PrintToConsole from a GUI-subsystem program reaches a pipe, a file and a terminal.
source "$(dirname "$0")/e2e_common.sh"
program=$NV_BUILD_DIR/tests/logging/nv_console_print.exe
expected='console line: 42 café'

[ "$("$NV_WINE_RUN" "$program" 2>/dev/null | cat)" = "$expected" ] || fail "nothing or wrong text through a pipe"
"$NV_WINE_RUN" "$program" >"$NV_PREFIX/out.txt" 2>/dev/null
[ "$(cat "$NV_PREFIX/out.txt")" = "$expected" ] || fail "nothing or wrong text in a redirected file"
# Started from a terminal the program already has a console, so attaching to the parent's fails.
if command -v script >/dev/null; then
    script -qec "$NV_WINE_RUN $program" /dev/null </dev/null 2>/dev/null | grep -q "$expected" ||
        fail "nothing on the terminal"
fi
echo PASS
