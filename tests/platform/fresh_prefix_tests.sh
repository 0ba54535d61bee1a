#!/usr/bin/env bash
# Runs a test program (argument) that changes machine state (shell folder values, profiles, the pending
# rename list) in a throwaway Wine prefix. Wine cannot create junctions, so the prefix also gets links as a
# standard user could plant them, as Unix symbolic links (Wine reports one to a folder as a directory
# reparse point) and a Unix hard link:
#   NV_TEST_LINKED_TREE  a directory holding the link "junction" to NV_TEST_LINK_TARGET
#   NV_TEST_LINK_FIXTURE a directory holding "target" (inner\keep.txt, file.txt), "outside.txt" and the links
#                        rootlink, waylink -> target, filelink -> target\file.txt, tree\hard == outside.txt
set -euo pipefail
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
nv_new_prefix

fixture=$(nv_drive_c)/nv-link-fixture
mkdir -p "$fixture/target/inner" "$fixture/tree"
echo keep >"$fixture/target/inner/keep.txt"
echo file >"$fixture/target/file.txt"
echo outside >"$fixture/outside.txt"
ln -s "$fixture/target" "$fixture/tree/junction"
ln -s "$fixture/target" "$fixture/rootlink"
ln -s "$fixture/target" "$fixture/waylink"
ln -s "$fixture/target/file.txt" "$fixture/filelink"
ln "$fixture/outside.txt" "$fixture/tree/hard"

NV_TEST_LINKED_TREE='C:\nv-link-fixture\tree' NV_TEST_LINK_TARGET='C:\nv-link-fixture\target' \
    NV_TEST_LINK_FIXTURE='C:\nv-link-fixture' nv_wine "$1"
