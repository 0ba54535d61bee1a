#!/usr/bin/env bash
# Runs the Msi module's test program (argument) in a prefix of its own: it registers the Windows Installer
# service for safe mode and starts and stops it.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
nv_new_prefix
nv_wine "$1"
