#!/usr/bin/env bash
# Every page in English, German (long texts), Japanese and Chinese (Traditional), saved as screenshots under
# <build>/screenshots for a person to look at; the texts on the pages are checked against the shipped strings.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
source "$NV_SOURCE_DIR/tests/ui/wizard_lib.sh"
wiz_setup

shot() { # shot NAME: with the pointer out of the way
    wiz_park_pointer
    sleep 0.3
    wiz_shot "$lang-$1"
}

expect_text() { # expect_text VALUE-NAME KEY
    nv_check "$lang: $1 shows $2" test "$(wiz_value "$1")" = "$(wiz_text "$lang" "$2")"
}

for lang in en de ja zh-TW; do
    [ "$lang" = zh-TW ] && wiz_cjk_fonts TC || wiz_cjk_fonts JP
    wiz_start /testui "/language=$lang"
    wiz_wait welcome
    expect_text caption Title
    expect_text title_text Title
    expect_text text_text Welcome
    expect_text ok_text Start
    shot 1-welcome
    wiz_click_control 1
    wiz_wait select
    expect_text radio_all_text RadioAll
    expect_text radio_select_text RadioSelect
    expect_text ok_text Next
    expect_text cancel_text Cancel
    shot 2-select
    wiz_click_control 1028
    wiz_click_row 0
    wiz_click_row 3
    shot 3-select-list
    wiz_click_control 1
    wiz_wait progress 5000
    expect_text text_text Removing
    shot 4-progress
    wiz_wait message 5000
    expect_text text_text ErrorGeneric
    expect_text cancel_text Close
    shot 5-error
    wiz_click_control 2
    sleep 0.5
    expect_text text_text Finished
    shot 6-finished
    wiz_click_control 2
    sleep 0.5
    expect_text text_text FinishedReboot
    expect_text ok_text Reboot
    shot 7-restart
    wiz_click_control 2
    wiz_finish
    nv_check "$lang: the test pages end with 0" test "$wiz_code" = 0
done

# The privileges page, only reachable without administrator rights, in the two languages with the longest text.
launcher=$NV_BUILD_DIR/tests/app/restricted_launch.exe
if [ -f "$launcher" ]; then
    for lang in de ja; do
        wiz_cjk_fonts JP
        wiz_start_program "$launcher" "$(winepath -w "$NV_TOOL_EXE")" "/language=$lang"
        wiz_wait message
        expect_text text_text ErrorPrivileges
        shot 8-privileges
        wiz_click_control 2
        wiz_finish
        nv_check "$lang: without administrator rights the run ends with 3" test "$wiz_code" = 3
    done
else
    echo "skipped: the privileges page needs $launcher"
fi

nv_finish
