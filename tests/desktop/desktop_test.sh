#!/usr/bin/env bash
# Flows where window manager, focus, activation or modality matter: the real program on Xvfb
# and openbox, driven by xdotool. Usage: desktop_test.sh QK750SETUP [FLOW...]; 77: no tools.
set -uo pipefail
exe=$(realpath "$1")
shift
for tool in Xvfb openbox xdotool xprop xmessage pdftotext; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
cd "$work" || exit 1 # a Save dialog that a failing flow answers saves here
# Under AddressSanitizer: xkb's string reads trip strict checks; D-Bus keeps a buffer for good.
printf 'leak:libdbus-1.so\n' >lsan.supp
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0
export LSAN_OPTIONS=suppressions=$work/lsan.supp
app='' wm='' xvfb='' main=''
cleanup() { [ -n "$app" ] && kill "$app" 2>/dev/null; kill "$wm" "$xvfb" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
# SECONDS COMMAND...: polls until it succeeds; bounds times 4 for loaded or sanitizer runs.
wait_for() {
    local deadline=$((SECONDS + 4 * $1))
    shift
    until "$@"; do
        ((SECONDS <= deadline)) || { echo "  timed out waiting for: $*"; return 1; }
        sleep 0.05
    done
}
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
wait_for 10 test -s "$work/display" || exit 1
export DISPLAY=:$(cat "$work/display")
openbox >/dev/null 2>&1 &
wm=$!
wait_for 10 eval 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || exit 1

# The managed windows, bottom to top, and what can be asked of them.
clients() { xprop -root _NET_CLIENT_LIST_STACKING | grep -o '0x[0-9a-f]*'; }
count_is() { [ "$(clients | wc -l)" -eq "$1" ]; }
title() { xprop -id "$1" WM_NAME | sed 's/^[^"]*"//; s/"$//'; }
find_window() { # TITLE: sets window to the managed window of that title
    local w
    for w in $(clients); do [ "$(title "$w")" = "$1" ] && window=$w && return 0; done
    return 1
}
gone() { ! clients | grep -qx "$1"; }
above() { clients | sed -n "/^$2\$/,\$p" | grep -qx "$1"; }
focused() { [ "$(xdotool getwindowfocus)" = "$(($1))" ]; }
keys() { xdotool key --delay 30 "$@"; }
menu_open() {
    local w
    for w in $(xdotool search --onlyvisible --classname qk750setup); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE | grep -q POPUP_MENU && return 0
    done
    return 1
}
menu() { keys "$1" && wait_for 5 menu_open && keys "$2"; } # MENU ITEM: alt+f x is E&xit
click_main() { xdotool mousemove --window "$main" 20 660 click 1; } # the status bar
# Returns once the window manager has handled what was sent to it before (it handles requests
# in order: a change of the number of desktops marks the place).
wm_sync() {
    local n
    n=$(xdotool get_num_desktops)
    xdotool set_num_desktops $((n + 1)) && wait_for 5 eval '[ "$(xdotool get_num_desktops)" = $((n + 1)) ]' &&
        xdotool set_num_desktops "$n" && wait_for 5 eval '[ "$(xdotool get_num_desktops)" = "$n" ]'
}
cell2() { xdotool mousemove --window "$main" 124 44 click 1; } # a click on key 2: its line takes the focus
other_application() { # comes back to the main window from another application
    local other
    xmessage "another application" &
    other=$!
    wait_for 5 eval 'count_is 2 && ! focused $main' && xdotool windowactivate --sync "$main"
    kill "$other"
}
grid_shot() { import -window "$main" -crop 970x240+4+30 rgb:- | md5sum; }
ini() { grep -a "^$2=" "$1" | tr -d '\r' | cut -d= -f2-; }
expect() { [ "$2" = "$3" ] || { echo "  $1: got '$2', expected '$3'"; return 1; }; } # WHAT GOT WANTED
# KEYS to the one box or dialog over the main window once it has the focus; back_to_main:
# the box closed and the main window has the focus back.
answer() { wait_for 5 count_is 2 && wait_for 5 eval 'focused "$(clients | tail -1)"' && keys "$@"; }
back_to_main() { wait_for 5 count_is 1 && wait_for 5 focused "$main"; }

start() { # SETUP [VARIABLE=VALUE...]: runs the program until its top window has the focus
    local setup=$1
    shift
    rm -f "$work/mem.bin"
    env QT_QPA_PLATFORM=xcb "$@" "$exe" --simulate="$work/mem.bin" "$setup" >>"$work/log" 2>&1 &
    app=$!
    wait_for 20 eval 'main=$(clients | head -1); [ -n "$main" ]' &&
        wait_for 5 eval 'focused "$(clients | tail -1)"'
}
finish() { # waits for the program to end; its exit code must be 0
    wait_for 10 eval '[ ! -e /proc/$app ] || grep -q "^[0-9]* ([^)]*) Z" /proc/$app/stat' || return 1
    wait "$app"
    local code=$?
    app=
    expect "exit code" "$code" 0
}
setup() { printf '%s\r\n' "[Keys]" "${@:2}" >"$work/$1"; } # NAME LINE...

# Closing the main window during a run: the run ends with its report ("User Abort!! ..."),
# the program ends and writes the keyboard's memory; the progress window has no frame, so no
# buttons. E&xit during a run ends it at once, without a report. Meanwhile New and typing on
# the grid change nothing: the setup shown is the one being programmed.
flow_close_or_exit_during_run() {
    local k lines=(Key1=precious) how
    for k in $(seq 2 84); do lines+=("Key$k=key-string-$k<Enter>"); done # half a minute's run
    setup run.ini "${lines[@]}"
    for how in close exit; do
        start "$work/run.ini" QK750_SIM_FAULTS=latency=28 || return 1
        keys F10
        wait_for 5 count_is 2 || return 1
        if [ $how = exit ]; then
            menu alt+f x
        else
            keys ctrl+n && xdotool type x
            expect "progress window frame" "$(xprop -id "$(clients | tail -1)" _NET_FRAME_EXTENTS)" \
                "_NET_FRAME_EXTENTS(CARDINAL) = 0, 0, 0, 0" || return 1
            keys alt+F4
            wait_for 10 eval 'count_is 1 && gone $main && focused "$(clients)"' && keys Return || return 1
        fi
        finish && expect "memory size" "$(stat -c %s "$work/mem.bin")" 2048 &&
            expect "saved key" "$(ini "$work/run.ini" Key1)" precious || return 1
    done
}

# A roll-out from the menu: its window comes above the main window with the focus; two
# simulated keyboards are programmed, then Esc stops it (a keyboard in progress ending as
# aborted) and the main window has the focus again.
flow_roll_out_until_stop() {
    setup roll.ini Key1=Coffee "Key2=Tea<Enter>"
    "$exe" --image="$work/roll.bin" "$work/roll.ini" >/dev/null || return 1
    start "$work/roll.ini" || return 1
    keys alt+f && wait_for 5 menu_open && keys Right Right Down Return
    wait_for 5 find_window "Roll Out to Each Keyboard Plugged In" &&
        wait_for 5 focused "$window" && above "$window" "$main" || return 1
    wait_for 30 eval '[ "$(grep -sc . "$work/QK750.LOG")" -ge 2 ] 2>/dev/null' && keys Escape || return 1
    wait_for 10 gone "$window" && wait_for 5 focused "$main" || return 1
    local codes k
    codes=$(cut -f3 "$work/QK750.LOG" | tr '\n' ' ')
    [[ "$codes" =~ ^OK\ OK\ (OK\ )*(ERR_USER_ABORT\ )?$ ]] || { echo "  log: $codes"; return 1; }
    for k in 1 2; do cmp -s "$work/mem.bin.$k" "$work/roll.bin" || { echo "  mem.bin.$k"; return 1; }; done
    # Closing the main window during a roll-out ends it, and the program, which writes the
    # simulated keyboard's memory back.
    keys alt+f && wait_for 5 menu_open && keys Right Right Down Return
    wait_for 5 find_window "Roll Out to Each Keyboard Plugged In" || return 1
    xdotool windowactivate --sync "$main" key alt+F4
    finish && expect "memory size" "$(stat -c %s "$work/mem.bin")" 2048
}

# About, the key test window and the MCR dialog stay above the disabled main window and keep
# the activation when it is clicked; minimised (openbox gives them the button), they come back
# with the main window. When they close, the control that had the focus takes the typing.
# Then every printable character typed on the grid reaches the next key; the space last, as
# the grid taking the focus trims the line.
flow_owned_windows_and_grid_typing() {
    setup owned.ini
    start "$work/owned.ini" || return 1
    local opener name closer typed c
    while read -r opener name closer typed; do
        ${opener//_/ }
        wait_for 5 find_window "${name//_/ }" && wait_for 5 focused "$window" || return 1
        click_main && wm_sync && wait_for 5 focused "$window" && above "$window" "$main" ||
            { echo "  ${name//_/ } did not stay active above the main window"; return 1; }
        xdotool windowminimize "$window" && wm_sync &&
            wait_for 5 eval 'focused $window && ! xprop -id $main WM_STATE | grep -q Iconic' ||
            { echo "  ${name//_/ } minimised did not come back"; return 1; }
        [ "$closer" = button ] && xdotool mousemove --window "$window" 392 320 click 1 || keys $closer
        wait_for 5 gone "$window" && wait_for 5 focused "$main" || return 1
        xdotool type "$typed"
    done <<'EOF2'
keys_F7 Test_Keys button a
menu_alt+a_a About Return b
keys_alt+m Custom_MCR_Setup alt+F4 c
EOF2
    keys Escape Right
    typed=
    for c in $(seq 33 126) 32; do
        c=$(printf "\\$(printf %03o "$c")")
        typed+=$c
        keys Escape
        xdotool type -- "$c"
    done
    keys alt+F4
    finish && expect "typed keys" "$(ini "$work/owned.ini" Key1)|$(ini "$work/owned.ini" Key2)" \
        "abc|$typed"
}

# Delete, Yes, then Ctrl+Z, Yes, on the grid or in the key line right after the delete: the
# key comes back, also one with only a Func2 string. Neither the box closing nor a return from
# another application is the kind of activation that forgets the deleted key, nor do they leave
# and enter the grid: a 20-character key keeps its compact form through Delete and Cancel, and
# a restored key keeps its trailing blank.
flow_restore() {
    setup restore.ini Key1=ABCDEFGHIJKLMNOPQRST "Key2=precious " Key2_2=two Key3_2=only
    start "$work/restore.ini" || return 1
    local move answer undo before next
    before=$(grid_shot) # once two grabs in a row agree
    wait_for 5 eval 'next=$(grid_shot); [ "$next" = "$before" ] || { before=$next; false; }' || return 1
    while read -r move answer undo; do
        ${move//_/ } && keys Delete
        answer "$answer" && back_to_main && other_application || return 1
        [ "$undo" = - ] && { wait_for 5 eval '[ "$(grid_shot)" = "$before" ]' || return 1; } && continue
        keys ${undo//_/ }
        answer Return && back_to_main && other_application || return 1
    done <<'EOF2'
keys_Home Escape -
cell2 Return Escape_ctrl+z
keys_Right Return Tab_ctrl+z
EOF2
    keys alt+F4
    finish && expect "restored keys" "$(ini "$work/restore.ini" Key2)|$(ini "$work/restore.ini" Key2_2)|$(
        ini "$work/restore.ini" Key3_2)" "precious |two|only"
}

# Open of an unnamed setup with work in it asks first: Esc (Cancel) opens nothing, Yes runs the
# Save dialog, then the Open dialog.
flow_open_unnamed_asks_first() {
    setup other.ini Key1=other
    start "$work/other.ini" || return 1
    keys ctrl+n && xdotool type typed && keys ctrl+o
    answer Escape && back_to_main && keys ctrl+o && answer Return || return 1
    wait_for 5 find_window "Save As" && wait_for 5 focused "$window" && keys ctrl+a || return 1
    xdotool type "$work/kept" && keys Return
    wait_for 5 find_window Open && wait_for 5 focused "$window" && keys Escape && back_to_main &&
        keys alt+F4 && finish && expect "saved work" "$(ini "$work/kept.INI" Key1)" typed
}

# The card-reader dialogs from the keyboard: Esc leaves the custom dialog without its changes,
# Enter outside its lines presses Save; the built-in dialog opens on its mode list, the arrow
# keys choose a mode also when none was chosen, Enter presses Ok.
flow_card_reader_keys() {
    setup mcr.ini Key1=x "[Mcr]" McrSetupMode=0
    start "$work/mcr.ini" || return 1
    local typed more custom
    while read -r typed more; do
        keys alt+m && wait_for 5 find_window "Custom MCR Setup" && wait_for 5 focused "$window" &&
            keys End && xdotool type "$typed" && keys ${more//_/ } && wait_for 5 gone "$window" || return 1
    done <<'EOF2'
a Escape
b shift+Tab_Return
EOF2
    keys alt+m && wait_for 5 find_window "Custom MCR Setup" && custom=$window || return 1
    xdotool mousemove --window "$custom" 122 78 click 1 # Built-In Setup
    wait_for 5 find_window "Built-IN MCR Setup" && wait_for 5 focused "$window" &&
        keys Down Down Return && wait_for 5 gone "$window" && wait_for 5 focused "$custom" &&
        keys alt+s && wait_for 5 gone "$custom" && back_to_main && keys alt+F4 && finish &&
        expect "card reader" "$(ini "$work/mcr.ini" PreambleString)|$(ini "$work/mcr.ini" McrSetupMode)" "b|3"
}

# The MCR dialog's Save, failing or asking for a name, leaves the dialog active above the main
# window.
mcr_dialog_stays_above() {
    keys alt+m
    wait_for 5 find_window "Custom MCR Setup" && keys alt+s || return 1
    wait_for 5 count_is 3 && keys Escape || return 1 # the error box, or the Save dialog
    wait_for 5 count_is 2 && click_main && wm_sync || return 1
    wait_for 5 focused "$window" && above "$window" "$main" ||
        { echo "  the MCR dialog is not active above the main window"; return 1; }
    keys alt+F4
    wait_for 5 focused "$main"
}

# A save that fails keeps the work: New keeps the setup, the MCR dialog's Save reports it, and
# closing asks whether to close without saving, No (the default, Enter) keeping the window.
# Once the folder is back, New saves quietly and leaves the setup unnamed; E&xit saves nothing.
flow_failed_save() {
    mkdir -p "$work/gone"
    setup gone/shop.ini Key1=x
    start "$work/gone/shop.ini" || return 1
    xdotool type y
    rm -rf "$work/gone"
    keys ctrl+n # "Cannot save ..."
    answer Return && back_to_main && mcr_dialog_stays_above || return 1
    keys alt+F4 # "Cannot save ...", with the question
    answer Return && back_to_main || return 1
    mkdir "$work/gone"
    keys ctrl+n
    mcr_dialog_stays_above && menu alt+f x && finish &&
        expect "saved key" "$(ini "$work/gone/shop.ini" Key1)" xy
}

# File > Key Legends... stays above the disabled main window; an insert is edited in place
# (Enter, typing, Enter) and the sheet exported through the real save dialog; Esc closes the
# window and the main window has the focus back; the legend is saved and on the sheet.
flow_legends() {
    setup legends.ini "Key13=Coffee<Enter>"
    start "$work/legends.ini" || return 1
    menu alt+f l
    wait_for 5 find_window "Key Legends" && xdotool windowmove --sync "$window" 300 200 &&
        click_main && wait_for 5 focused "$main" && above "$window" "$main" ||
        { echo "  the legend window is not above the main window"; return 1; }
    xdotool windowactivate --sync "$window"
    keys Down Return
    xdotool type Mocha
    keys Return alt+e
    wait_for 5 count_is 3 && keys ctrl+a && xdotool type "$work/sheet.pdf" && keys Return &&
        wait_for 10 count_is 2 && keys Escape && back_to_main || return 1
    keys alt+F4
    finish && expect "saved legend" "$(ini "$work/legends.ini" Legend13)" Mocha &&
        expect "sheet" "$(pdftotext "$work/sheet.pdf" - | grep -x -e Mocha -e Coffee)" Mocha
}

flows=("$@")
[ ${#flows[@]} -gt 0 ] || mapfile -t flows < <(declare -F | sed -n 's/^declare -f flow_//p')
failed=0
for flow in "${flows[@]}"; do
    began=$SECONDS
    "flow_$flow" && echo "PASS $flow ($((SECONDS - began)) s)" && continue
    echo "FAIL $flow"
    failed=1
    [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    app=
    tail -5 "$work/log"
done
exit $failed
