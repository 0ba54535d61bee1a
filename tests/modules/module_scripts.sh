#!/usr/bin/env bash
# The Lua test scripts of the Log, Meta, Atom, FileSystem and Reg modules, in a prefix of their own: they
# write keys under HKLM\SOFTWARE\Norvane, schedule deletions at restart and add global atoms.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"

nv_new_prefix
runner=$NV_BUILD_DIR/tests/modules/module_script_runner.exe
scripts_dir="Z:${NV_SOURCE_DIR//\//\\}\\tests\\modules"

for script in ${NV_MODULE_TEST_SCRIPTS:-log_meta_atom_test file_system_test reg_test}; do
    nv_check "$script.lua" nv_wine "$runner" "$scripts_dir\\$script.lua"
done
nv_finish
