#!/usr/bin/env bash
# A run of the tool leaves its UTF-16 log in the machine-wide log folder: header, version line and exit line.
source "$(dirname "$0")/e2e_common.sh"
tool=$NV_BUILD_DIR/UninstallationTool.exe

code=0
"$NV_WINE_RUN" "$tool" /silent '/scripts=C:\nonexistent' >/dev/null 2>&1 || code=$?
[ "$code" -ne 0 ] || fail "the run with a missing scripts folder exited with 0"

text=$(log_text "$LOG_DIR/UninstallationTool.log")
echo "$text"
[ "$(echo "$text" | head -n 1)" = "" ] || fail "the session does not start with a blank line"
echo "$text" | sed -n 2p | grep -Eq "$LINE_PREFIX"'\*\*\*  LOGGING STARTED  \*\*\* \(UTC[+-][0-9]+:[0-9]{2}, session: 0x[0-9a-f]+\)$' ||
    fail "no session header"
echo "$text" | grep -Eq "$LINE_PREFIX"'Binary version: 17\.30\.134\.0, ' || fail "no version line"
echo "$text" | grep -Eq "$LINE_PREFIX""wWinMain: Exiting with code: $code\$" || fail "no exit line with code $code"
bad=$(echo "$text" | sed 1d | grep -Evc "$LINE_PREFIX" || true)
[ "$bad" -eq 0 ] || fail "$bad malformed lines"
echo PASS
