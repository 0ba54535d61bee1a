# Sourced by the logging end-to-end tests: a fresh Wine prefix of their own, removed at the end, and helpers.
set -euo pipefail
: "${NV_WINE_RUN:?}" "${NV_BUILD_DIR:?}"

NV_PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/nv-logging-XXXXXX")
cleanup() {
    WINEPREFIX=$NV_PREFIX wineserver -k >/dev/null 2>&1 || true
    rm -rf "$NV_PREFIX"
}
trap cleanup EXIT
"$NV_WINE_RUN" --new-prefix "$NV_PREFIX"
export WINEPREFIX=$NV_PREFIX

LOG_DIR=$NV_PREFIX/drive_c/ProgramData/Norvane/Log/UninstallationTool
LOG_WRITER=$NV_BUILD_DIR/tests/logging/nv_log_writer.exe

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# set_logging_dword SUBKEY NAME VALUE [VIEW]: a value under HKLM\SOFTWARE\Norvane\QOR\Logging (32-bit view unless
# VIEW says 64).
set_logging_dword() {
    "$NV_WINE_RUN" reg add "HKLM\\SOFTWARE\\Norvane\\QOR\\Logging$1" /v "$2" /t REG_DWORD /d "$3" /f \
        "/reg:${4:-32}" >/dev/null
}

# log_text FILE: the UTF-16 log as UTF-8 lines without "\r"; fails unless the file starts with FF FE.
log_text() {
    [ -f "$1" ] || fail "no file $1"
    [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' \n')" = fffe ] || fail "$1 does not start with FF FE"
    tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r'
}

# The prefix of every line: local time stamp, process and thread ids, level tag.
LINE_PREFIX='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} \[[0-9a-f]{4,}\.[0-9a-f]{4,}\] (\*F|\*E|\.W| I| D| V|  ): '
