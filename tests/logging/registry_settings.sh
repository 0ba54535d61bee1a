#!/usr/bin/env bash
# Level and rotation come from HKLM\SOFTWARE\Norvane\QOR\Logging in the 32-bit registry view.
source "$(dirname "$0")/e2e_common.sh"

run_writer() { "$NV_WINE_RUN" "$LOG_WRITER" "$@" >/dev/null 2>&1 || true; }
current=$LOG_DIR/UninstallationTool.log

# A level in the 64-bit view is not ours: Debug lines stay out.
set_logging_dword "" LogLevel 5 64
run_writer 1
log_text "$current" | grep -q 'WriteLines: writer line 0 of 1' || fail "Info line missing"
! log_text "$current" | grep -q 'debug line' || fail "a 64-bit view value changed the level"

# The same value in the 32-bit view lets them in; 0xFFFFFFFF under the component key defers to it.
set_logging_dword "" LogLevel 5
set_logging_dword '\UninstallationTool' LogLevel 0xFFFFFFFF
rm -f "$current"
run_writer 1
log_text "$current" | grep -Eq "$LINE_PREFIX"'`anonymous-namespace.::WriteLines: debug line$' || fail "Debug line missing"

# A limit of 0 KB puts every line into a fresh file; two older files are kept.
set_logging_dword '\UninstallationTool\UninstallationTool' LogMaxSizeKB 0
set_logging_dword '\UninstallationTool' LogRotateCount 2
run_writer 3
log_text "$current" | grep -Eq "$LINE_PREFIX"'\*\*\*  LOGGING ENDED  \*\*\*$' || fail "last line not in the current file"
[ "$(log_text "$current" | wc -l)" -eq 1 ] || fail "more than one line in the current file"
log_text "$LOG_DIR/UninstallationTool.1.log" | grep -q 'wWinMain: Exiting with code: 1$' || fail "no exit line in .1"
log_text "$LOG_DIR/UninstallationTool.2.log" | grep -q 'WriteLines: debug line$' || fail "no debug line in .2"
[ ! -e "$LOG_DIR/UninstallationTool.3.log" ] || fail "a third older file was kept"

# RootPath moves the log folder.
"$NV_WINE_RUN" reg add 'HKLM\SOFTWARE\Norvane\QOR\Logging' /v RootPath /t REG_SZ /d 'C:\Logs' /f /reg:32 >/dev/null
run_writer 0
log_text "$NV_PREFIX/drive_c/Logs/Norvane/Log/UninstallationTool/UninstallationTool.log" | grep -q 'LOGGING ENDED' ||
    fail "RootPath not followed"
echo PASS
