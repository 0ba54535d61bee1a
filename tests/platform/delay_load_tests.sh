#!/usr/bin/env bash
# msi.dll and userenv.dll are bound lazily by the tool's own helper: never imported the ordinary way, never taken
# from the executable's folder or the current directory, taken from the registry override when one is set, and a
# library that cannot be bound ends the run with exit code 1 and a log line.
# Arguments: the probe program, the planted library, the unit tests (they call every Msi function), objdump.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
probe=$1
planted=$2
unit_tests=$3
objdump=$4
nm=${objdump%objdump}nm
overrides_key='HKLM\Software\Norvane\QOR\Delay Loading\100'

# read_hex FILE ADDRESS COUNT: COUNT bytes of the image at ADDRESS as one hex string, read from the file through
# the section table.
read_hex() {
    local index size vma offset
    while read -r index _ size vma _ offset _; do
        [[ $index =~ ^[0-9]+$ ]] || continue
        if (($2 >= 16#$vma && $2 < 16#$vma + 16#$size)); then
            od -An -tx1 -v -j $((16#$offset + $2 - 16#$vma)) -N "$3" "$1" | tr -d ' \n'
            return
        fi
    done < <("$objdump" -h "$1")
}

# little_endian HEX OFFSET SIZE
little_endian() {
    local value='' i
    for ((i = $3 - 1; i >= 0; i--)); do value+=${1:$((($2 + i) * 2)):2}; done
    echo $((16#$value))
}

# text_at FILE ADDRESS: the NUL-terminated text there.
text_at() {
    local hex text='' i
    hex=$(read_hex "$1" "$2" 64)
    for ((i = 0; i < ${#hex}; i += 2)); do
        [ "${hex:i:2}" = 00 ] && break
        text+="\\x${hex:i:2}"
    done
    printf '%b' "$text"
}

# delay_imports FILE: one line per delay-load descriptor: "<library> attributes=<n> <#ordinal or name>..."
delay_imports() {
    local base address descriptor entry int imports name
    base=$((16#$("$objdump" -p "$1" | awk '$1 == "ImageBase" {print $2}')))
    for address in $("$nm" "$1" | awk '/ __DELAY_IMPORT_DESCRIPTOR_/ {print $1}'); do
        descriptor=$(read_hex "$1" $((16#$address)) 32)
        int=$((base + $(little_endian "$descriptor" 16 4)))
        imports=
        while entry=$(read_hex "$1" "$int" 8) && [ "$entry" != 0000000000000000 ]; do
            if ((16#${entry:14:2} >= 0x80)); then
                imports+=" #$(little_endian "$entry" 0 2)"
            else
                imports+=" $(text_at "$1" $((base + $(little_endian "$entry" 0 4) + 2)))"
            fi
            int=$((int + 8))
        done
        name=$(text_at "$1" $((base + $(little_endian "$descriptor" 4 4))))
        echo "$name attributes=$(little_endian "$descriptor" 0 4)$imports"
    done
}

# Whole outputs are captured first: under pipefail, grep -q leaving early would fail the writer.
no_ordinary_import() { ! grep -qiE "DLL Name: (msi|userenv)\.dll" <<<"$("$objdump" -p "$1")"; }
delay_import_is() { grep -qxF "$2" <<<"$(delay_imports "$1")"; }
msi_by_ordinals() { # the ordinals of the Msi module's calls, in any order
    [ "$(delay_imports "$1" | sed -n 's/^msi\.dll attributes=1 //p' | tr ' ' '\n' | sort | tr '\n' ' ')" = \
        "#113 #118 #137 #141 #159 #16 #160 #169 #190 #205 #32 #70 #8 #92 " ]
}

nv_check "the tool was built" test -f "$NV_TOOL_EXE"
tool_imports=$(delay_imports "$NV_TOOL_EXE")
echo "$tool_imports"
nv_check "the tool imports neither library the ordinary way" no_ordinary_import "$NV_TOOL_EXE"
nv_check "the tool delay-loads userenv.dll by name" \
    delay_import_is "$NV_TOOL_EXE" "userenv.dll attributes=1 GetProfilesDirectoryW"
if grep -q '^msi\.dll' <<<"$tool_imports"; then
    nv_check "the tool delay-loads msi.dll by ordinal only" \
        test -z "$(sed -n 's/^msi\.dll attributes=1//p' <<<"$tool_imports" | tr ' ' '\n' | grep -v '^#\|^$')"
fi
nv_check "the probe imports neither library the ordinary way" no_ordinary_import "$probe"
nv_check "the probe delay-loads MsiEnumRelatedProductsW as ordinal 205" \
    delay_import_is "$probe" "msi.dll attributes=1 #205"
nv_check "every Msi call is delay-loaded by its ordinal" msi_by_ordinals "$unit_tests"

nv_new_prefix
drive=$(nv_drive_c)
mkdir -p "$drive/nvapp" "$drive/nvcwd" "$drive/nvoverride" "$drive/nvscripts"
cp "$probe" "$NV_TOOL_EXE" "$drive/nvapp/"
for library in msi userenv; do
    cp "$planted" "$drive/nvapp/$library.dll"
    cp "$planted" "$drive/nvcwd/$library.dll"
done
cp "$planted" "$drive/nvoverride/planted.dll"
probe_log=$drive/ProgramData/Norvane/Log/DelayLoadProbe/DelayLoadProbe.log

run_probe() { (cd "$drive/nvcwd" && nv_wine 'C:\nvapp\nv_delay_load_probe.exe' "$@" | tr -d '\r'); }
no_markers() { test -z "$(find "$drive/nvapp" "$drive/nvcwd" "$drive/nvoverride" -name '*.loaded')"; }
marker_is() { [ "$(tr -d '\r' <"$1.loaded" 2>/dev/null)" = "$2" ]; }
probe_log_has() { grep -qF "$1" <<<"$(iconv -f UTF-16 -t UTF-8 "$probe_log" | tr -d '\r')"; }
set_override() { nv_wine reg add "$overrides_key" /v msi.dll /f "$@" >/dev/null; }

# Planted copies beside the executable and in the current directory; the tool's start-up options and the helper
# alone both bind the system's libraries.
msi_system=$'result=259 product=\nbound=C:\\windows\\system32\\msi.dll'
profiles_system=$'result=C:\\users\nbound=C:\\windows\\system32\\userenv.dll'
for mode in --run-options --helper-only; do
    nv_check "$mode: msi.dll from the system directory" test "$(run_probe $mode msi)" = "$msi_system"
    nv_check "$mode: userenv.dll from the system directory" test "$(run_probe $mode profiles)" = "$profiles_system"
    nv_check "$mode: no planted library was loaded" no_markers
done

# Control: with the executable's directory searched, the planted copy there is bound (and told so); the one in the
# current directory still is not.
nv_check "the executable's directory is searched when asked" test "$(run_probe profiles)" = \
    $'result=C:\\planted-profiles\nbound=C:\\nvapp\\userenv.dll'
nv_check "the planted copy got the dependency record" marker_is "$drive/nvapp/userenv.dll" \
    $'loaded\ndependencies size=20 version=100 executable-directory=1 override=(none)'
nv_check "the copy in the current directory was not loaded" test ! -e "$drive/nvcwd/userenv.dll.loaded"
rm -f "$drive/nvapp/userenv.dll.loaded"

# The tool itself, with a script that asks for the profiles folder.
cat >"$drive/nvscripts/profiles.lua" <<'EOF'
function GetProductId() return "profiles" end
function DetectProduct()
    Log.Info("profiles=" .. FileSystem.GetSpecialPath(SpecialPath_UserProfiles))
    return false
end
function CleanupProduct() return true end
EOF
(cd "$drive/nvcwd" && nv_wine 'C:\nvapp\UninstallationTool.exe' /silent '/scripts=C:\nvscripts' >/dev/null)
nv_check "the tool bound the system's userenv.dll" grep -qF '[profiles.lua] profiles=C:\users' <<<"$(nv_tool_log)"
nv_check "the tool loaded no planted library" no_markers

# Registry override, by value type and view.
planted_msi=$'result=0 product={11111111-2222-3333-4444-555555555555}\nbound=C:\\nvoverride\\planted.dll'
override_cases=(
    # what|type|data|view|bound
    'REG_SZ|REG_SZ|C:\nvoverride\planted.dll||planted'
    'REG_EXPAND_SZ|REG_EXPAND_SZ|C:\nvoverride\planted.dll||planted'
    'REG_MULTI_SZ|REG_MULTI_SZ|C:\nvoverride\planted.dll\0C:\other.dll||planted'
    '32-bit view|REG_SZ|C:\nvoverride\planted.dll|/reg:32|planted'
    'REG_DWORD|REG_DWORD|1||system'
    'empty REG_SZ|REG_SZ|||system'
)
for case in "${override_cases[@]}"; do
    IFS='|' read -r what type data view bound <<<"$case"
    set_override /t "$type" /d "$data" ${view:+"$view"}
    if [ "$bound" = planted ]; then
        nv_check "override $what: the named file is bound" test "$(run_probe --run-options msi)" = "$planted_msi"
        nv_check "override $what: it got the dependency record" marker_is "$drive/nvoverride/planted.dll" \
            $'loaded\ndependencies size=20 version=100 executable-directory=0 override=(none)'
    else
        nv_check "override $what: ignored" test "$(run_probe --run-options msi)" = "$msi_system"
        nv_check "override $what: nothing planted was loaded" no_markers
    fi
    rm -f "$drive/nvoverride/planted.dll.loaded"
    nv_wine reg delete "$overrides_key" /f ${view:+"$view"} >/dev/null 2>&1
done

# A library without the function, and a library that cannot be loaded at all, end the run.
set_override /t REG_SZ /d 'C:\windows\system32\version.dll'
run_probe --run-options msi >/dev/null
nv_check "a missing function ends the run with 1" test $? -eq 1
nv_check "a missing function is logged" probe_log_has \
    '*F: __delayLoadHelper2: Failed to find ordinal 205 in msi.dll; ending the run'
nv_wine reg delete "$overrides_key" /f >/dev/null
for program in nv_delay_load_probe.exe UninstallationTool.exe; do
    nv_wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$program\\DllOverrides" /v msi /d '' /f >/dev/null
    nv_wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$program\\DllOverrides" /v userenv /d '' /f >/dev/null
done
run_probe --run-options msi >/dev/null
nv_check "a library that cannot be loaded ends the run with 1" test $? -eq 1
nv_check "a library that cannot be loaded is logged" probe_log_has \
    '*F: __delayLoadHelper2: Failed to load msi.dll: 126; ending the run'
(cd "$drive/nvcwd" && nv_wine 'C:\nvapp\UninstallationTool.exe' /silent '/scripts=C:\nvscripts' >/dev/null)
nv_check "the tool ends with 1 without userenv.dll" test $? -eq 1
nv_check "the tool logs the missing library" grep -qF \
    '*F: __delayLoadHelper2: Failed to load userenv.dll: 126; ending the run' <<<"$(nv_tool_log)"
nv_finish
