#!/usr/bin/env bash
# Runs the Windows Installer registry and service tests (argument: the test program) in a prefix of their own:
# they file installer data under HKLM, register the installer service for safe mode and start and stop it.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
nv_new_prefix
nv_wine "$1"
