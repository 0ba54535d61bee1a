#!/usr/bin/env bash
# A run of the tool leaves its UTF-16 log in the machine-wide log folder: header, version line and exit line.
# A log folder that a link replaces, at the folder itself or on the way to it, is not used: what the link
# points to stays as it was, the run ends as before and says once on the console that it keeps no log.
# Without administrator rights the log is the user's own.
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

vendor=$NV_PREFIX/drive_c/ProgramData/Norvane
target=$NV_PREFIX/drive_c/elsewhere
snapshot() { (cd "$target" && find . -printf '%p %y %s %m\n' | sort && find . -type f -exec sha256sum {} + | sort); }
for link in "$LOG_DIR" "$vendor/Log" "$vendor"; do
    rm -rf "$vendor" "$target"
    mkdir -p "$target/UninstallationTool" "$(dirname "$link")"
    printf 'not a log\n' >"$target/UninstallationTool.log"
    printf 'not a log\n' >"$target/UninstallationTool/UninstallationTool.log"
    before=$(snapshot)
    ln -s "$target" "$link"
    again=0
    output=$("$NV_WINE_RUN" "$tool" /silent '/scripts=C:\nonexistent' 2>/dev/null) || again=$?
    [ "$again" -eq "$code" ] || fail "with a link at $link the run exited with $again instead of $code"
    [ "$(snapshot)" = "$before" ] || fail "the target of the link at $link changed"
    [ -L "$link" ] || fail "the link at $link is gone"
    windows=$(winepath -w "$link" 2>/dev/null)
    notices=$(grep -cF "The log folder '$windows' is not used: it is a link. This run writes no log file." <<<"$output" || true)
    [ "$notices" -eq 1 ] || fail "the console says $notices times that the folder at $link is not used: $output"
done

# Without administrator rights the log goes to the user's own folder, which the user owns.
"$NV_WINE_RUN" "$NV_BUILD_DIR/tests/app/restricted_launch.exe" "$(winepath -w "$tool" 2>/dev/null)" /silent \
    >/dev/null 2>&1 || true
user_log=$(find "$NV_PREFIX/drive_c/users" -path '*/AppData/Local/Norvane/Log/UninstallationTool/UninstallationTool.log')
[ -n "$user_log" ] || fail "no log in the user's folder"
log_text "$user_log" | grep -Eq "$LINE_PREFIX"'wWinMain: Exiting with code: 3$' || fail "no exit line in the user's log"
echo PASS
