#!/usr/bin/env bash
# Runs the service control tests (argument: the test program) in a throwaway Wine prefix, because they
# register, start, stop and delete real services.
set -euo pipefail
prefix=$(mktemp -d "${TMPDIR:-/tmp}/nv-service-tests.XXXXXX")
cleanup() {
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
}
trap cleanup EXIT
"$NV_WINE_RUN" --new-prefix "$prefix"
WINEPREFIX=$prefix "$NV_WINE_RUN" "$1"
