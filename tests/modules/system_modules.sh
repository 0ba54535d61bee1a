#!/usr/bin/env bash
# The Process, Service, Win32Driver and Path module tests (argument: the test program) in a prefix of their
# own: they end processes, register services and devices and rewrite the pending file renames.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"

nv_new_prefix
# A folder that everyone may write: Wine shows the Unix mode as an access list that lets everyone in.
mkdir -p "$(nv_drive_c)/open-to-all/inner"
chmod 777 "$(nv_drive_c)/open-to-all"
NV_TEST_OPEN_FOLDER='C:\open-to-all' nv_wine "$1"
