#!/usr/bin/env bash
# The test pages ("testui") driven like a user: pointer clicks on a real window under Xvfb, keyboard, the close
# box on every page (the progress page keeps the window), the language option, and the window told of a new DPI.
# The test pages always end with 0, however the window is left.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
source "$NV_SOURCE_DIR/tests/ui/wizard_lib.sh"
wiz_setup

# --- The whole way through, with a choice of two products.
mark=$(wiz_log_mark)
wiz_start /testui /language=en
wiz_wait welcome
nv_check "the caption is the localized title" test "$(wiz_value caption)" = "Norvane Uninstallation Tool"
nv_check "the years replace the placeholder and the markers are gone" \
    test "$(wiz_value copyright_text)" = "© 2016-2019 Norvane. All rights reserved. License terms"
read -r start_x start_y <<<"$(wiz_probe point 1)"
wiz_park_pointer
nv_check "START is filled with the brand blue" wiz_wait_pixel "$((start_x - 30))" "$start_y" 0014A0
xdotool mousemove "$start_x" "$start_y"
nv_check "START turns darker under the pointer" wiz_wait_pixel "$((start_x - 30))" "$start_y" 00148C

# Only the link part of the copyright line opens the licence terms.
read -r link_x link_y <<<"$(wiz_probe point 1019)"
launches() {
    local count
    count=$(wiz_log_since "$mark" | grep -c 'DialogChild::LaunchUrl: Launched URL: https://')
    echo "$count launch(es) logged"
    [ "$count" -ge 1 ]
}
wiz_click_at "$((link_x - 150))" "$link_y"
wiz_click_at "$((link_x + 120))" "$link_y"
# The window thread handles the two clicks in order: once the second one's launch is logged, a launch by the first
# one would have been logged before it.
nv_wait_for 30 "the click on the link to open the licence terms" launches
nv_check "clicking the link opens the licence terms once" \
    test "$(wiz_log_since "$mark" | grep -c 'DialogChild::LaunchUrl: Launched URL: https://')" -eq 1
nv_check "the link keeps the welcome page" test "$(wiz_value page)" = welcome

wiz_click_control 1
wiz_wait select
state=$(wiz_probe state)
nv_check "remove-all is chosen first" grep -qx 'radio_all=1' <<<"$state"
nv_check "the list is hidden while remove-all is chosen" grep -qx 'list_visible=0' <<<"$state"
nv_check "Next is enabled for remove-all" grep -qx 'ok_enabled=1' <<<"$state"
nv_check "ten test products are listed, none ticked" \
    test "$(grep -x 'rows=10' <<<"$state")$(grep -x 'checked=' <<<"$state")" = "rows=10checked="

wiz_click_control 1028
nv_check "the select choice shows the list" wiz_wait_value list_visible 1
nv_check "Next is disabled while no row is ticked" test "$(wiz_value ok_enabled)" = 0
wiz_click_row 0
wiz_click_row 3
nv_check "two rows are ticked" wiz_wait_value checked 0,3
nv_check "a ticked row enables Next" test "$(wiz_value ok_enabled)" = 1
wiz_click_control 1027
nv_check "back to remove-all hides the list" wiz_wait_value list_visible 0
wiz_click_control 1028
nv_check "the select choice shows the list again" wiz_wait_value list_visible 1
nv_check "the ticks survive switching back" test "$(wiz_value checked)" = "0,3"

wiz_click_control 1
# The progress page lasts two seconds: its state as the wait saw it. (The spinner is watched in the real run,
# whose scripts hold the page; two seconds are too short for a capture under load.)
wiz_wait progress
nv_check "the progress page's Cancel is disabled" grep -qx 'cancel_enabled=0' <<<"$wiz_state"
nv_check "the selection is handed to the products" \
    test "$(wiz_log_since "$mark" | grep -o 'DialogSelect::SaveProductSelections: Item: [0-9]*, param: [0-9]*, state: [01]' |
        sed 's/.*Item: //' | tr '\n' ';')" = \
    "0, param: 0, state: 1;1, param: 1, state: 0;2, param: 2, state: 0;3, param: 3, state: 1;4, param: 4, state: 0;5, param: 5, state: 0;6, param: 6, state: 0;7, param: 7, state: 0;8, param: 8, state: 0;9, param: 9, state: 0;"

# The three result pages follow two seconds later, each with the two chosen products.
wiz_wait message
nv_check "the first result is the generic error" \
    test "$(wiz_value text_text)" = "Could not complete the uninstallation successfully."
nv_check "it lists the chosen products, the first one failed" \
    test "$(wiz_probe state | grep '^result_row[0-9]' | tr '\n' ';')" = \
    "result_row0=Example product name 1|Failed;result_row1=Example product name 4|Removed;"
read -r picture_x picture_y <<<"$(wiz_probe point 1022)"
nv_check "the error picture is a red disc" wiz_wait_pixel "$((picture_x - 18))" "$((picture_y - 8))" D93025
nv_check "the error page offers only Close" test "$(wiz_value ok_visible)$(wiz_value cancel_text)" = "0Close"
wiz_click_control 2
nv_check "then the success page" wiz_wait_value text_text "Uninstallation completed successfully."
nv_check "the success picture is a green disc" wiz_wait_pixel "$((picture_x - 18))" "$((picture_y - 8))" 1E8E3E
wiz_click_control 2
nv_check "then the restart page" wiz_wait_value text_text "Restart your computer to complete the uninstallation."
nv_check "the restart page offers Restart and Close" \
    test "$(wiz_value ok_visible)$(wiz_value ok_text)/$(wiz_value cancel_text)" = "1Restart/Close"
nv_check "the information picture is a blue disc" wiz_wait_pixel "$((picture_x - 18))" "$((picture_y - 8))" 0014A0
wiz_click_control 1
wiz_finish
nv_check "the test pages end with 0" test "$wiz_code" = 0
nv_check "each of the five buttons reached the main window once" \
    test "$(wiz_log_since "$mark" | grep -c 'GuiManager::OnCommand: id=[12], code=0')" -eq 5

# --- Keyboard: Enter starts, Esc cancels the selection.
wiz_start /testui /language=en
wiz_wait welcome
read -r x y <<<"$(wiz_probe point 1008)"
xdotool mousemove "$x" "$y" key Return
wiz_wait select
xdotool key Escape
wiz_finish
nv_check "Enter and Esc work the pages; the test pages end with 0" test "$wiz_code" = 0

# --- Closing the window on each page ends the test pages at once, with 0. (During the progress page the window
# stays: the real runs show that, with a removal that lasts as long as the test needs.)
for page in welcome select message; do
    mark=$(wiz_log_mark)
    wiz_start /testui /language=en
    wiz_wait welcome
    # Found at once: the main window keeps its place from page to page, and the progress page lasts two seconds.
    read -r close_x close_y <<<"$(wiz_probe close)"
    [ "$page" != welcome ] && wiz_click_control 1 && wiz_wait select
    [ "$page" = message ] && wiz_click_control 1 && wiz_wait progress && wiz_wait message
    wiz_click_at "$close_x" "$close_y"
    wiz_finish
    nv_check "closing the window on the $page page ends with 0" test "$wiz_code" = 0
    nv_check "no page follows the $page page" test "$(wiz_value page)" = none
    failed_posts=$(wiz_log_since "$mark" | grep -c 'GuiManager::PostShowDialog: Failed to post message')
    case $page in
    message) nv_check "closed on the first result page, the other two are refused" test "$failed_posts" -eq 2 ;;
    esac
done

# --- The language option in any case, or by its base language when only that is shipped.
for option in pt-br:pt-BR DE:de pt-PT:pt; do
    wiz_start /testui "/language=${option%%:*}"
    wiz_wait welcome
    nv_check "/language=${option%%:*} speaks ${option##*:}" test "$(wiz_value caption)" = "$(wiz_text "${option##*:}" Title)"
    wiz_close_window
    wiz_finish
done

# --- Told of a new DPI (as when the window moves to a monitor of another scale), the window takes the suggested
# size and its page and controls grow with it; the next page is made for that DPI too.
wiz_start /testui /language=de
wiz_wait welcome
read -r width height <<<"$(wiz_value window | tr x ' ')"
read -r ok_width ok_height <<<"$(wiz_value ok_size | tr x ' ')"
wiz_probe dpi 144
grown() { # grown NAME WIDTH HEIGHT: the value is the size times 1.5, give or take two pixels
    local w h
    read -r w h <<<"$(wiz_value "$1" | tr x ' ')"
    echo "$1=${w}x$h"
    [ "${w:-0}" -ge $(($2 * 3 / 2 - 2)) ] && [ "${w:-0}" -le $(($2 * 3 / 2 + 2)) ] &&
        [ "${h:-0}" -ge $(($3 * 3 / 2 - 2)) ] && [ "${h:-0}" -le $(($3 * 3 / 2 + 2)) ]
}
nv_check "the window grows to the new DPI" nv_wait_for 20 "the window at 144 DPI" grown window "$width" "$height"
nv_check "and so does START" grown ok_size "$ok_width" "$ok_height"
wiz_park_pointer
wiz_shot de-10-dpi144-welcome
wiz_click_control 1
wiz_wait select
nv_check "the next page is made for the new DPI" grown window "$width" "$height"
wiz_shot de-10-dpi144-select
wiz_close_window
wiz_finish

nv_finish
