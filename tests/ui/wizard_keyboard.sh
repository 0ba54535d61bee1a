#!/usr/bin/env bash
# The wizard from the keyboard alone, also after the focus has been inside a page that was then replaced:
# every page takes the focus when it is shown, Tab, the arrows and Space work its controls, Enter presses the
# default button and Esc the cancel or close button, Enter and Space on the licence link open it (and a screen
# reader finds a link there), and keys during the progress page, Alt+F4 included, answer nothing.
source "$NV_SOURCE_DIR/tests/harness/lib.sh"
source "$NV_SOURCE_DIR/tests/ui/wizard_lib.sh"
wiz_setup

# Without a window manager the X focus follows the pointer: it rests on the page's left margin, over no control.
point_into_window() {
    local window
    window=$(xdotool search --onlyvisible --class uninstallationtool.exe 2>/dev/null | head -n1)
    [ -n "$window" ] && xdotool mousemove --window "$window" 8 60
}
press() { point_into_window && xdotool key --delay 80 "$@"; }

value_is() { # value_is NAME VALUE, printing what the page has instead
    local value
    value=$(wiz_value "$1")
    [ "$value" = "$2" ] || { echo "$1=$value" && return 1; }
}
# expect NAME VALUE DESCRIPTION: polls, since every key is handled by the tool in its own time.
expect() { nv_check "$3" nv_wait_for 15 "$1=$2" value_is "$1" "$2"; }
expect_page() { # expect_page PAGE TEXT-KEY: the page shows that text
    expect page "$1" "the $1 page is shown"
    [ -n "${2:-}" ] && expect text_text "$(wiz_text en "$2")" "the $1 page says $2"
}
last_command() { nv_tool_log | grep -o 'GuiManager::OnCommand: id=[0-9]*' | tail -n1 | sed 's/.*=//'; }
launches() { # launches MARK COUNT: at least COUNT launches of the licence terms logged since MARK
    local count
    count=$(wiz_log_since "$1" | grep -c 'DialogChild::LaunchUrl: Launched URL: https://')
    echo "$count launch(es)"
    [ "$count" -ge "$2" ]
}

# --- The test pages, the whole way through.
mark=$(wiz_log_mark)
wiz_start /testui /language=en
expect_page welcome
expect focus 1 "the welcome page gives the focus to START"
expect default 1 "START is the default button"
press Tab
expect focus 1019 "Tab moves on to the licence link"
press Return
nv_check "Enter on the link opens the licence terms" nv_wait_for 20 "a launch" launches "$mark" 1
press space
nv_check "so does Space" nv_wait_for 20 "a second launch" launches "$mark" 2
expect page welcome "the link keeps the welcome page"
reader=$(wiz_probe link 1019 activate | tr '\n' ';')
nv_check "a screen reader finds a link named by its text ($reader)" \
    test "$reader" = "role=link;name=License terms;linked=1;action=Jump;"
nv_check "and its default action opens it" nv_wait_for 20 "a third launch" launches "$mark" 3
press shift+Tab
expect focus 1 "Shift+Tab comes back to START"
press Tab
expect focus 1019 "the link has the focus again"
# A click leaves the focus where it was: on the link, in the page that the click replaces.
wiz_click_control 1
expect_page select
expect focus 1 "the selection page gives the focus to Next, although the link had it"
expect default 1 "Next is the default button"

# A click gives the focus to a radio button; the keys take over from there.
wiz_click_control 1028
expect list_visible 1 "the click on the select choice shows the list"
press Up
expect radio_all 1 "Up chooses remove-all"
expect list_visible 0 "and hides the list"
press Down
expect radio_select 1 "Down chooses the select choice again"
expect ok_enabled 0 "Next waits for a tick"
press Tab
expect focus 1025 "Tab moves into the list"
press space
expect checked 0 "Space at once ticks the first row, where the list's focus rests"
expect ok_enabled 1 "a tick enables Next"
press Down Down space
expect checked 0,2 "Space ticks the third row"
press Tab Tab Tab
expect focus 1028 "Tab goes round Next and Cancel back to the chosen radio button"
press Tab
expect focus 1025 "and on into the list"
press Return
expect_page message ErrorGeneric
nv_check "the selection is the two ticked rows" \
    test "$(nv_tool_log | grep -o 'SaveProductSelections: Item: [0-9]*, param: [0-9]*, state: 1' |
        sed 's/.*Item: \([0-9]*\),.*/\1/' | tr '\n' ' ')" = "0 2 "

expect focus 2 "the error page gives the focus to Close"
expect default 2 "Close is the default button where Restart is hidden"
press space
expect_page message Finished
expect focus 2 "the success page gives the focus to Close"
press Escape
expect_page message FinishedReboot
expect focus 1 "the restart page gives the focus to Restart"
expect default 1 "Restart is the default button"
press Tab
expect focus 2 "Tab moves on to Close"
press Tab Return
wiz_finish
nv_check "the test pages end with 0" test "$wiz_code" = 0
nv_check "Enter on Restart, after Tab went round, pressed Restart" test "$(last_command)" = 1

# --- Real runs with one product that removes itself at once, and one that needs a restart.
drive_c=$(nv_drive_c)
mkdir -p "$drive_c/nvkeys/plain" "$drive_c/nvkeys/reboot" "$drive_c/nvkeys/failing"
# The clean-up holds the progress page until the test opens the gate (at most a minute).
{
    echo 'function CleanupProduct()'
    wiz_lua_gate '"C:\\nvkeys\\gate"'
    cat <<'EOF'
    Log.Info("alpha removed")
    return true
end
function GetProductId() return "alpha" end
function DetectProduct() return true end
EOF
} >"$drive_c/nvkeys/plain/alpha.lua"
cat >"$drive_c/nvkeys/failing/gamma.lua" <<'EOF'
function GetProductId() return "gamma" end
function DetectProduct() return true end
function CleanupProduct() error("cannot remove gamma") end
EOF
cat >"$drive_c/nvkeys/reboot/delta.lua" <<'EOF'
function GetProductId() return "delta" end
function DetectProduct() return true end
function CleanupProduct() Meta.SetRebootNeeded() return true end
EOF

wiz_start '/scripts=C:\nvkeys\plain' /language=en
expect_page welcome
press Escape
wiz_finish
nv_check "Esc on the welcome page ends the run with 2" test "$wiz_code" = 2

wiz_start '/scripts=C:\nvkeys\plain' /language=en
expect_page welcome
press Return
expect_page select
press Escape
wiz_finish
nv_check "Esc on the selection page cancels: 2" test "$wiz_code" = 2

wiz_start '/scripts=C:\nvkeys\plain' /language=en
expect_page welcome
press Return
expect_page select
press Return
expect_page progress
expect focus 1023 "the progress page, without a tab stop that can be pressed, gives the focus to its spinner"
expect default 2 "its disabled Cancel is the default button"
press Return Escape space Tab Return Escape alt+F4
wiz_probe painted >/dev/null
expect page progress "Alt+F4 leaves the window while the removal runs"
touch "$drive_c/nvkeys/gate"
expect_page message Finished
nv_check "keys during the progress page answered nothing: the result page waits" kill -0 "$wiz_pid"
expect focus 2 "the success page gives the focus to Close"
press Return
wiz_finish
nv_check "Enter on every page removes the product and ends with 0" test "$wiz_code" = 0
nv_check "the product's clean-up ran" grep -q 'alpha removed' <(nv_tool_log)

wiz_start '/scripts=C:\nvkeys\failing' /language=en
expect_page welcome
press Return
expect_page select
press Return
expect_page message ErrorGeneric
press Return
wiz_finish
nv_check "Enter on the error page ends the failed run with 1" test "$wiz_code" = 1

# The restart page: Esc closes it without a restart, Enter asks for the restart (last: it ends the session).
for key in Escape Return; do
    wiz_start '/scripts=C:\nvkeys\reboot' /language=en
    expect_page welcome
    press Return
    expect_page select
    press Return
    expect_page message FinishedReboot
    press "$key"
    wiz_finish
    nv_check "$key on the restart page ends with 99" test "$wiz_code" = 99
    nv_check "$key on the restart page answers $([ $key = Return ] && echo Restart || echo Close)" \
        test "$(last_command)" = "$([ $key = Return ] && echo 1 || echo 2)"
done

nv_finish
