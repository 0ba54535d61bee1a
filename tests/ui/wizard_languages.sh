#!/usr/bin/env bash
# Every page in all 32 languages, saved as pictures under <build>/screenshots for a person to look at, and
# checked by wizard_render.exe: no character drawn as a missing-glyph box (the caption included), no wrapped
# text with a scrap on its last line, no text too big for its control or list cell. The same in a few languages
# after the window was told of a new DPI, and in a high-contrast theme, where no brand colour may show. Then the
# privileges page, reachable only without administrator rights, from the tool itself in the two languages with
# the longest text.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
source "$NV_SOURCE_DIR/tests/ui/wizard_lib.sh"
wiz_setup

# A multi-string of several entries, as the hex(7) of a REGEDIT4 file.
multi_sz() { { printf '%s\0' "$@" && printf '\0'; } | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }

# Fonts with every letter of the 32 languages. Liberation Sans stands in for the "Segoe UI" faces; DejaVu Sans
# draws the caption. Linked behind them, DejaVu Sans fills in the Vietnamese letters Liberation Sans lacks, and
# Noto Sans CJK the Chinese, Japanese and Korean ones in the forms of the language's region (JP, KR, SC, TC, HK).
# Wine looks links up by the name of the face it picked, so the bold caption face needs its own entry.
lang_fonts() {
    wiz_import "REGEDIT4

[$wiz_link_key]
\"Liberation Sans\"=hex(7):$(multi_sz "DejaVuSans.ttf,DejaVu Sans" "NotoSansCJK-Regular.ttc,Noto Sans CJK $1")
\"DejaVu Sans\"=hex(7):$(multi_sz "NotoSansCJK-Bold.ttc,Noto Sans CJK $1")
\"DejaVu Sans Bold\"=hex(7):$(multi_sz "NotoSansCJK-Bold.ttc,Noto Sans CJK $1")

[HKEY_CURRENT_USER\Control Panel\Desktop\WindowMetrics]
\"CaptionFont\"=hex:$(wiz_logfont "DejaVu Sans")"
}

# Wine draws the caption's buttons with Marlett, which it looks for where this Debian build does not keep it.
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

languages=$(sed -n 's/^\([A-Za-z-]*\):Title=.*/\1/p' "$NV_SOURCE_DIR/resources/strings/localizations.properties")
nv_check "the strings carry 32 languages" test "$(wc -w <<<"$languages")" -eq 32
rm -f "$wiz_shots"/*-[1-9]-*.png
shots_folder=$(winepath -w "$wiz_shots")

# One renderer run per region of the CJK fonts: the font links are read when a program starts.
for region in JP KR SC TC HK; do
    case $region in
    KR) group=ko ;;
    SC) group=zh ;;
    TC) group=zh-TW ;;
    HK) group=zh-HK ;;
    JP) group=$(grep -vxE 'ko|zh|zh-TW|zh-HK' <<<"$languages") ;;
    esac
    lang_fonts "$region"
    # shellcheck disable=SC2086 # one argument per language
    output=$(wine "$NV_BUILD_DIR/tests/ui/wizard_render.exe" "$shots_folder" $group 2>/dev/null | tr -d '\r')
    for lang in $group; do
        faults=$(grep "^fault: $lang " <<<"$output")
        nv_check "$lang: every page is drawn without faults${faults:+:$'\n'$faults}" test -z "$faults"
        nv_check "$lang: all nine pages are saved" test "$(ls "$wiz_shots/$lang"-[1-9]-*.png 2>/dev/null | wc -l)" -eq 9
    done
done

# variant_check OPTION VARIANT LANGUAGE...: the pages drawn with the renderer's OPTION, labelled LANGUAGE-VARIANT.
variant_check() {
    local option=$1 variant=$2 lang faults
    shift 2
    output=$(wine "$NV_BUILD_DIR/tests/ui/wizard_render.exe" "$shots_folder" "$option" "$@" 2>/dev/null | tr -d '\r')
    for lang in "$@"; do
        faults=$(grep "^fault: $lang-$variant " <<<"$output")
        nv_check "$lang, $variant: every page is drawn without faults${faults:+:$'\n'$faults}" test -z "$faults"
        nv_check "$lang, $variant: all nine pages are saved" \
            test "$(ls "$wiz_shots/$lang-$variant"-[1-9]-*.png 2>/dev/null | wc -l)" -eq 9
    done
}
lang_fonts JP
variant_check --dpi=144 144dpi en de ja ru
variant_check --high-contrast hc en de

expect_text() { # expect_text VALUE-NAME KEY
    nv_check "$lang: $1 shows $2" test "$(wiz_value "$1")" = "$(wiz_text "$lang" "$2")"
}

launcher=$NV_BUILD_DIR/tests/app/restricted_launch.exe
if [ -f "$launcher" ]; then
    lang_fonts JP
    for lang in de ja; do
        wiz_start_program "$launcher" "$(winepath -w "$NV_TOOL_EXE")" "/language=$lang"
        wiz_wait message
        expect_text caption Title
        expect_text text_text ErrorPrivileges
        expect_text cancel_text Close
        wiz_park_pointer
        wiz_shot "$lang-10-privileges-tool"
        wiz_click_control 2
        wiz_finish
        nv_check "$lang: without administrator rights the run ends with 3" test "$wiz_code" = 3
    done
else
    echo "skipped: the privileges page needs $launcher"
fi

nv_finish
