# Helpers for the wizard tests, sourced after tests/harness/lib.sh. Each test gets its own X display (so that
# no other test's window covers a click or a screenshot) and its own Wine prefix, set up with fonts for every
# language. The tool runs in the background; wizard_probe.exe reads its windows and xdotool clicks like a user.
#   wiz_setup                  display, prefix, fonts, windows managed by Wine, debug-level log
#   wiz_default_window_mode    from now on Wine's default window handling (windows left to a window manager)
#   wiz_cjk_fonts JP|TC        which CJK face fills in for glyphs the Latin font lacks
#   wiz_start ARGS             start the tool; wiz_finish waits for it and sets wiz_code to its exit code
#   wiz_start_program EXE ARGS start another program the same way
#   wiz_probe ARGS             run the probe (state, wait, painted, point, row, close)
#   wiz_wait PAGE              wait until PAGE is shown and painted (fails the check otherwise); its state in
#                              wiz_state
#   wiz_log_mark, wiz_log_since MARK   the tool log's lines from a mark on
#   wiz_value NAME             one value of the current page's state
#   wiz_wait_value NAME VALUE  wait until the page's NAME is VALUE (for nv_check)
#   wiz_wait_pixel X Y RRGGBB  wait until the screen pixel has that colour (for nv_check)
#   wiz_wait_change X Y        wait until the 160x160 square around X Y differs from what it shows now (for nv_check)
#   wiz_spinner_turns          after wiz_wait progress: the spinner changes while that page is shown (for nv_check)
#   wiz_click_control ID, wiz_click_row ROW, wiz_close_window, wiz_shot NAME, wiz_pixel X Y (RRGGBB)

wiz_probe_exe=$NV_BUILD_DIR/tests/ui/wizard_probe.exe
wiz_shots=$NV_BUILD_DIR/screenshots
wiz_link_key='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
mkdir -p "$wiz_shots"

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64

wiz_cleanup() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    [ -n "${WINEPREFIX:-}" ] && rm -rf "$WINEPREFIX"
    [ -n "${wiz_xvfb:-}" ] && kill "$wiz_xvfb" 2>/dev/null
}

wiz_start_display() {
    local fd_file
    fd_file=$(mktemp)
    Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$fd_file" 2>/dev/null </dev/null &
    wiz_xvfb=$!
    nv_wait_for 60 "Xvfb to report its display number" test -s "$fd_file" || exit 1
    DISPLAY=:$(head -n1 "$fd_file")
    export DISPLAY
    rm -f "$fd_file"
}

# A one-entry multi-string with its two terminators, as the hex(7) of a REGEDIT4 file (ANSI text).
wiz_multi_sz() {
    printf '%s\0\0' "$1" | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//'
}

wiz_import() { # wiz_import REG-FILE-TEXT
    local file=$WINEPREFIX/drive_c/wizard-test.reg
    printf '%s\r\n' "$1" >"$file"
    wine regedit /S 'C:\wizard-test.reg'
    rm -f "$file"
}

# The tool asks for "Segoe UI" faces, which Wine lacks: Liberation Sans stands in, and Noto Sans CJK supplies
# the glyphs it has not. The caption (drawn by Wine here) gets Noto Sans CJK itself: linking Tahoma, the
# dialog font, would change the size of the dialogs.
wiz_cjk_fonts() {
    wiz_import "REGEDIT4

[$wiz_link_key]
\"Liberation Sans\"=hex(7):$(wiz_multi_sz "NotoSansCJK-Regular.ttc,Noto Sans CJK $1")

[HKEY_CURRENT_USER\Control Panel\Desktop\WindowMetrics]
\"CaptionFont\"=hex:$(wiz_logfont "Noto Sans CJK $1")"
}

# LOGFONTW of an 11-pixel bold face in the default character set, as REGEDIT4 hex.
wiz_logfont() {
    local face
    face=$({
        printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE
        head -c 64 /dev/zero
    } | head -c 64 | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
    echo "f5,ff,ff,ff,00,00,00,00,00,00,00,00,00,00,00,00,bc,02,00,00,00,00,00,01,00,00,00,22,$face"
}

wiz_setup() {
    wiz_start_display
    nv_new_prefix
    trap wiz_cleanup EXIT
    # There is no window manager: Wine manages the windows itself, draws the caption and its close box, and
    # closes a window at once instead of waiting for a manager's answer. The browser is a no-op so that the
    # licence link opens nothing real. LogLevel 5 lets the debug lines through.
    wiz_import 'REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Segoe UI"="Liberation Sans"
"Segoe UI Light"="Liberation Sans"
"Segoe UI Semilight"="Liberation Sans"
"Segoe UI Semibold"="Liberation Sans"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\WineBrowser]
"Browsers"="true"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Norvane\QOR\Logging]
"LogLevel"=dword:00000005'
    wiz_cjk_fonts JP
}

# Windows are then plain X windows that wait for a window manager (there is none: no caption is drawn), and the
# end of a session reaches them as it does on a desktop.
wiz_default_window_mode() {
    wiz_import 'REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"=-
"Decorated"=-'
}

wiz_start() { wiz_start_program "$NV_TOOL_EXE" "$@"; }

wiz_start_program() {
    wiz_output=$(mktemp)
    nv_wine "$@" >"$wiz_output" 2>&1 &
    wiz_pid=$!
}

wiz_ended() {
    ! kill -0 "$wiz_pid" 2>/dev/null || {
        echo "the tool still runs"
        return 1
    }
}

# Waits (at most 60 s) for the tool to exit; wiz_code is its exit code, or "timeout" when it had to be killed.
wiz_finish() {
    if nv_wait_for 60 "the tool to exit" wiz_ended; then
        wait "$wiz_pid"
        wiz_code=$?
    else
        wineserver -k >/dev/null 2>&1
        wait "$wiz_pid"
        wiz_code=timeout
    fi
    rm -f "$wiz_output"
}

wiz_probe() { wine "$wiz_probe_exe" "$@" 2>/dev/null | tr -d '\r'; }

# The page's state as the wait found it is left in wiz_state.
wiz_wait() {
    local page attempt
    # A probe that could not start at all says nothing; it gets a second chance.
    for attempt in 1 2; do
        wiz_state=$(wiz_probe wait "$1" "${2:-30000}")
        [ -n "$wiz_state" ] && break
        echo "note: the probe gave no answer (attempt $attempt)"
    done
    page=$(head -n1 <<<"$wiz_state")
    nv_check "page '$1' is shown (found: ${page#page=})" test "$page" = "page=$1"
}

wiz_log_mark() { echo $(($(nv_tool_log | wc -l) + 1)); }
wiz_log_since() { nv_tool_log | tail -n +"$1"; }

wiz_value() { wiz_probe state | sed -n "s/^$1=//p" | head -n1; }

wiz_value_is() {
    local value
    value=$(wiz_value "$1")
    echo "$1=$value"
    [ "$value" = "$2" ]
}

wiz_wait_value() { nv_wait_for "${3:-20}" "$1=$2" wiz_value_is "$1" "$2"; }

wiz_pixel_is() {
    local colour
    colour=$(wiz_pixel "$1" "$2")
    echo "$colour"
    [ "$colour" = "$3" ]
}

wiz_wait_pixel() { nv_wait_for 20 "the pixel at $1,$2 to be $3" wiz_pixel_is "$1" "$2" "$3"; }

# Raw pixels, so that two pictures compare equal exactly when they look the same (no time stamps); large enough for
# the whole spinner.
wiz_square() { import -window root -crop "160x160+$(($1 - 80))+$(($2 - 80))" -depth 8 "rgb:$3"; }

wiz_square_differs() {
    wiz_square "$1" "$2" "$WINEPREFIX/square-now.rgb"
    wiz_differ "$WINEPREFIX/square-before.rgb" "$WINEPREFIX/square-now.rgb" || {
        echo "the same picture"
        return 1
    }
}

wiz_wait_change() {
    wiz_square "$1" "$2" "$WINEPREFIX/square-before.rgb"
    nv_wait_for 20 "the picture around $1,$2 to change" wiz_square_differs "$1" "$2"
}

# Right after wiz_wait progress. A change seen after the page has gone would be the next page, not the spinner.
wiz_spinner_turns() {
    local x y
    read -r x y <<<"$(sed -n 's/^spinner=//p' <<<"$wiz_state")"
    [ -n "$y" ] || {
        echo "no spinner on the page"
        return 1
    }
    wiz_wait_change "$x" "$y" && wiz_value_is page progress
}

# The Lua lines that hold a clean-up until a file exists (at most a minute): wiz_lua_gate LUA-STRING-LITERAL.
# Scripts use them to keep the progress page for as long as the test needs it.
wiz_lua_gate() {
    cat <<EOF
    local deadline = os.clock() + 60
    while os.clock() < deadline do
        local gate = io.open($1, "r")
        if gate then
            gate:close()
            break
        end
        local pause = os.clock() + 0.1
        while os.clock() < pause do end
    end
EOF
}

# A shipped text of the tool: wiz_text LANGUAGE KEY.
wiz_text() { sed -n "s/^$1:$2=//p" "$NV_SOURCE_DIR/resources/strings/localizations.properties" | tr -d '\r'; }

# Input pacing, as a hand would: the pointer arrives, then presses. What the click does is awaited by the caller.
wiz_click_at() { xdotool mousemove "$1" "$2" sleep 0.1 click 1; }

wiz_click_control() {
    local point
    point=$(wiz_probe point "$1")
    [ -n "$point" ] && wiz_click_at $point
}

wiz_click_row() {
    local point
    point=$(wiz_probe row "$1")
    [ -n "$point" ] && wiz_click_at $point
}

wiz_close_window() {
    local point
    point=$(wiz_probe close)
    [ -n "$point" ] && wiz_click_at $point
}

# Whether two pictures differ.
wiz_differ() { ! cmp -s "$1" "$2"; }

# The pointer rests outside the window, so that no hover colour shows on a screenshot.
wiz_park_pointer() { xdotool mousemove 1 1; }

wiz_shot() {
    local window
    wiz_probe painted >/dev/null
    window=$(xdotool search --onlyvisible --class uninstallationtool.exe 2>/dev/null | head -n1)
    [ -n "$window" ] && import -window "$window" "$wiz_shots/$1.png"
}

# The colour of a screen pixel as RRGGBB.
wiz_pixel() {
    import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null | sed -n '2s/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p'
}
