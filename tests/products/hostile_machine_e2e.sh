#!/usr/bin/env bash
# A machine on which a standard user has planted what they can, then a silent run of the built-in scripts: the
# product's traces go, the run writes its report and exit line, nothing the user aimed at changes, and nothing
# the user could have written is started.
#   - subkeys whose names hold NUL characters below the product's key in the user's own hive
#   - registry links in the user's hive, at a path the scripts delete and inside the product's key, pointing at
#     keys of the user's own that must survive
#   - a program where a script looks for an uninstaller, in a folder everyone may write (Wine shows a Unix
#     mode that lets others write as an access list that lets everyone write)
source "$NV_SOURCE_DIR/tests/harness/lib.sh"

kit() { "$NV_SOURCE_DIR/tests/products/kit" "$@"; }
keys() { nv_wine "$NV_BUILD_DIR/tests/products/hostile_keys.exe" "$@" | tr -d '\r'; }

nv_new_prefix
kit install antivirus endpoint_agent >/dev/null
# Without its own uninstaller, the agent's is looked for in its other folders.
kit break endpoint_agent uninstaller >/dev/null
user=$(nv_wine reg query HKU | tr -d '\r' | sed -n 's/^HKEY_USERS\\\(S-1-5-21-[0-9-]*\)$/\1/p' | head -n1)
nv_check "a user hive is loaded" test -n "$user"
product_key="$user\\Software\\Norvane\\Antivirus"
nv_check "the kit gave the user a key of the product" test "$(keys count "$product_key")" != missing

# Names with NUL characters: Win32 would cut them short and reach the product key itself again.
nv_check "NUL-named subkeys are planted" keys nul "$product_key"
nv_check "the product key holds them" test "$(keys count "$product_key")" -ge 2

# Links to the user's own keys, which must keep their values.
nv_wine reg add "HKU\\$user\\Software\\Victim\\Antivirus" /v keep /d 1 /f >/dev/null
nv_wine reg add "HKU\\$user\\Software\\Victim\\Inner" /v keep /d 1 /f >/dev/null
nv_check "a link at a path the scripts delete is planted" \
    keys link "$user\\Software\\Norvane\\Secure VPN" "$user\\Software\\Victim"
nv_check "a link inside the product's key is planted" keys link "$product_key\\Settings" "$user\\Software\\Victim\\Inner"

# A program where the endpoint agent's uninstaller is looked for, in a folder everyone may write.
planted="$(nv_drive_c)/ProgramData/Norvane/Endpoint Agent"
mkdir -p "$planted"
cp "$NV_BUILD_DIR/tests/modules/nv_product_program.exe" "$planted/uninstall.exe"
chmod 777 "$planted"
marker="$(nv_drive_c)/planted-program-ran.txt"

report="$(nv_drive_c)/report.json"
rm -f "$(nv_drive_c)/ProgramData/Norvane/Log/UninstallationTool/"*.log
code=0
NV_TEST_COMMAND_LINE_FILE='C:\planted-program-ran.txt' nv_tool /silent '/report=C:\report.json' >/dev/null 2>&1 ||
    code=$?
log=$(nv_tool_log)

nv_check "the run ends with 0 or 99 (code $code)" test "$code" -eq 0 -o "$code" -eq 99
nv_check "the run logs its exit line" grep -q 'wWinMain: Exiting with code: ' <<<"$log"
nv_check "the run writes its report" grep -q '"exitCode"' "$report"
nv_check "the product's user key is gone, NUL-named subkeys and all" test "$(keys count "$product_key")" = missing
nv_check "the link at a deleted path is gone" test "$(keys count "$user\\Software\\Norvane\\Secure VPN")" = missing
nv_check "the link's target keeps its values" nv_wine reg query "HKU\\$user\\Software\\Victim\\Antivirus" /v keep
nv_check "the target of the link inside the product key keeps its values" \
    nv_wine reg query "HKU\\$user\\Software\\Victim\\Inner" /v keep
nv_check "the planted program never ran" test ! -e "$marker"
# Whether a script looks there at all is the scripts' business; a start from there is refused with the reason.
refused_or_untried() {
    ! grep -qF "Create process:'C:\ProgramData\Norvane\Endpoint Agent\uninstall.exe'" <<<"$log" ||
        grep -qF "LaunchProgram: Not starting 'C:\ProgramData\Norvane\Endpoint Agent\uninstall.exe': the folder 'C:\ProgramData\Norvane\Endpoint Agent' is writable by S-1-1-0" <<<"$log"
}
nv_check "starting it was refused with the reason, or never tried" refused_or_untried
nv_check "the antivirus is gone" test -z "$(kit inventory antivirus)"
nv_check "the endpoint agent is gone" test -z "$(kit inventory endpoint_agent)"

nv_finish
