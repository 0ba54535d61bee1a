#!/usr/bin/env bash
# Two processes logging to the same file at once leave whole lines, each process's in its own order.
source "$(dirname "$0")/e2e_common.sh"
lines=${1:-4000}

set_logging_dword "" LogMaxSizeKB 100000
"$NV_WINE_RUN" "$LOG_WRITER" "$lines" A B >/dev/null 2>&1 &
first=$!
"$NV_WINE_RUN" "$LOG_WRITER" "$lines" B A >/dev/null 2>&1 &
second=$!
wait "$first" || true
wait "$second" || true

text=$(log_text "$LOG_DIR/UninstallationTool.log")
[ "$(echo "$text" | grep -c '^$')" -eq 2 ] || fail "not one blank line per session"
[ "$(echo "$text" | grep -c 'LOGGING STARTED')" -eq 2 ] || fail "not one header per session"
bad=$(echo "$text" | grep -v '^$' | grep -Evc "$LINE_PREFIX" || true)
[ "$bad" -eq 0 ] || fail "$bad torn lines"
for tag in A B; do
    expected=$(seq 0 $((lines - 1)) | sed "s/.*/$tag line & of $lines with some padding to make the line longer/")
    actual=$(echo "$text" | grep -Eo "WriteLines: $tag line .*" | sed 's/^WriteLines: //')
    [ "$actual" = "$expected" ] || fail "lines of writer $tag missing, torn or out of order"
done
# Only a file in which the writers took turns shows anything.
switches=$(echo "$text" | grep -Eo 'WriteLines: [AB] ' | uniq | wc -l)
echo "writers took turns $switches times"
[ "$switches" -gt 2 ] || fail "the two writers did not overlap"
echo PASS
