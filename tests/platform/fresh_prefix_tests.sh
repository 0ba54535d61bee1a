#!/usr/bin/env bash
# Runs a test program (argument) that changes machine state (shell folder values, profiles, the pending
# rename list) in a throwaway Wine prefix. Wine cannot create junctions, so the prefix also gets a directory
# symbolic link, which Wine reports as a directory reparse point: NV_TEST_LINKED_TREE names a directory
# holding the link "junction", NV_TEST_LINK_TARGET the folder it points to.
set -euo pipefail
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
nv_new_prefix

fixture=$(nv_drive_c)/nv-link-fixture
mkdir -p "$fixture/target/inner" "$fixture/tree"
echo keep >"$fixture/target/inner/keep.txt"
ln -s "$fixture/target" "$fixture/tree/junction"

NV_TEST_LINKED_TREE='C:\nv-link-fixture\tree' NV_TEST_LINK_TARGET='C:\nv-link-fixture\target' nv_wine "$1"
