#!/usr/bin/env bash
# The Process, Service, Win32Driver and Path module tests (argument: the test program) in a prefix of their
# own: they end processes, register services and devices and rewrite the pending file renames.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"

nv_new_prefix
nv_wine "$1"
