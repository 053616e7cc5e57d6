#!/usr/bin/env bash
# The pictures of `scripts/demo --screenshot`, taken on the current (Xvfb) display inside the
# simulated network's host namespace:
#
#   demo-capture.sh <program> <main window png> [--main-only]
#
# Runs the program under a plain window manager (twm, when installed, only so the pictures show
# caption bars), waits for its main window and the end of the first scan and saves the window
# as the picture; then, driven with xdotool as a person would, saves beside it the context menu
# of the third row (context-menu.png), the list narrowed by the filter (filter.png), the Settings
# dialog (settings.png) and the About box opened from the window menu (about.png), and ends the
# program. With --main-only it takes the main window's picture alone, wider, so that optional
# columns fit.
#
# Windows are found among the program's own (its process id on the window, the title), never by
# title alone: the screen also holds the window manager's frames. Every wait has a bound. A step
# that fails says which and why on one "demo: " line and the later steps still run; the exit
# status is 1 only when the main window's picture could not be made.
set -u
program=${1:?program}
main_png=${2:?picture file}
main_only=${3:-}
dir=$(dirname "$main_png")
pid=""
wm=""
work=$(mktemp -d)

fail() {
    echo "demo: $*" >&2
}

# shellcheck disable=SC2317 # run by the EXIT trap
finish() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    if [ -n "$wm" ]; then
        kill "$wm" 2>/dev/null || true
        wait "$wm" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap finish EXIT

# program_windows [<title regex>]: the program's mapped windows (with that title), one id a line.
# A search walks every window on the screen and can meet one that is being destroyed meanwhile;
# xdotool then ends with an X error. Such a search found nothing and the next poll looks again.
program_windows() {
    if [ $# -gt 0 ]; then
        xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null
    else
        xdotool search --all --onlyvisible --pid "$pid" 2>/dev/null
    fi
}

# wait_window <title regex> <seconds>: prints the id of the program's mapped window with that
# title once there is one.
wait_window() {
    local deadline=$((SECONDS + $2)) id
    while :; do
        id=$(program_windows "$1" | head -n 1)
        [ -n "$id" ] && echo "$id" && return 0
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# wait_new_window <seconds> <ids before...>: prints the id of a mapped window of the program that
# is not among the given ones (a popup menu) once there is one.
wait_new_window() {
    local deadline=$((SECONDS + $1)) id
    shift
    while :; do
        for id in $(program_windows); do
            case " $* " in *" $id "*) ;; *) echo "$id" && return 0 ;; esac
        done
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

mapped() {
    xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# wait_gone <id> <seconds>: until the window is no longer on the screen.
wait_gone() {
    local deadline=$((SECONDS + $2))
    while mapped "$1"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# press_until_window <button> <title regex> [<ids before>...]: presses the mouse button, holds it
# until the program's menu is on the screen (the one with that title, or with an empty regex one
# not among the given ids) and releases it; sets menu to its id. A menu opens under the pointer;
# twm gives the keyboard focus to the window the pointer is in, and when it sees the pointer
# leave for the menu only after the program has taken the keyboard for the menu, that focus
# change closes the menu at once. While a button is held, the pointer's crossings are reported
# to the program alone.
press_until_window() {
    local button=$1 title=$2
    shift 2
    menu=""
    xdotool mousedown "$button"
    if [ -n "$title" ]; then
        menu=$(wait_window "$title" 3)
    else
        menu=$(wait_new_window 3 "$@")
    fi
    xdotool mouseup "$button"
    [ -n "$menu" ] && mapped "$menu"
}

# geometry <id>: sets W and H to the window's size.
geometry() {
    local info
    W=0 H=0
    info=$(xwininfo -id "$1" 2>/dev/null) || return 1
    W=$(awk '/^ *Width:/ {print $2}' <<<"$info")
    H=$(awk '/^ *Height:/ {print $2}' <<<"$info")
    [ "${W:-0}" -gt 0 ] && [ "${H:-0}" -gt 0 ]
}

# point_at <id> <x> <y>: the pointer to that place inside the window, and the keyboard focus to
# the window (twm gives the focus to the window the pointer is in; keys go there).
point_at() {
    if [ "$2" -lt 0 ] || [ "$3" -lt 0 ]; then
        fail "a place outside the window was asked for ($2,$3)"
        return 1
    fi
    xdotool mousemove --window "$1" "$2" "$3" 2>/dev/null || return 1
    # Without a window manager nobody gives the focus back after a dialog closes.
    timeout 3 xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
}

# picture <id> <png> [import options...]: saves the window (with its frame) once two pictures in a
# row agree, so it is not taken halfway through a paint.
picture() {
    local id=$1 png=$2 previous="$2.previous.png" error
    shift 2
    if ! error=$(import -frame "$@" -window "$id" "$previous" 2>&1); then
        fail "the picture $(basename "$png") could not be made: ${error%%$'\n'*}"
        rm -f "$previous"
        return 1
    fi
    for _ in $(seq 1 30); do
        import -frame "$@" -window "$id" "$png" 2>/dev/null || break
        cmp -s "$png" "$previous" && break
        mv "$png" "$previous"
    done
    [ -s "$png" ] || mv "$previous" "$png" 2>/dev/null
    rm -f "$previous"
    [ -s "$png" ] || { fail "the picture $(basename "$png") could not be made"; return 1; }
}

# scan_ended <id>: the Refresh button (bottom left, above the status line's 30 pixels) is enabled
# again, which the program does when a scan has ended: its label is black then, grey while the
# scan runs.
scan_ended() {
    local dark
    geometry "$1" || return 1
    dark=$(import -window "$1" png:- 2>/dev/null | convert png:- -crop "$((W / 7))x55+0+$((H - 85))" +repage \
        -colorspace gray -threshold 30% -negate -format '%[fx:round(mean*w*h)]' info: 2>/dev/null) || return 1
    [ "${dark:-0}" -gt 0 ]
}

# start_wm: starts twm and waits until it manages the screen (it makes its icon manager then); a
# window mapped before that stays frameless. Says why on one line when it does not.
start_wm() {
    local log=$work/twm.log deadline
    # Its default fonts are not in the base font set; "fixed" always is.
    printf '%s\n' 'RandomPlacement' 'UsePPosition "on"' 'NoGrabServer' 'DecorateTransients' 'BorderWidth 1' \
        'TitleFont "fixed"' 'MenuFont "fixed"' 'IconFont "fixed"' 'ResizeFont "fixed"' 'IconManagerFont "fixed"' \
        >"$log.rc"
    # Its default fonts exist only as single-byte fonts; in a UTF-8 locale it finds none and ends.
    LC_ALL=C twm -f "$log.rc" >"$log" 2>&1 &
    wm=$!
    deadline=$((SECONDS + 20))
    until xdotool search --name '^TWM Icon Manager$' >/dev/null 2>&1; do
        if ! kill -0 "$wm" 2>/dev/null; then
            wait "$wm"
            why="twm ended at its start (status $?: $(tr '\n' ' ' <"$log"))"
            wm=""
            return 1
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            why="twm did not take the screen within 20 s"
            return 1
        fi
        sleep 0.1
    done
}

# The window manager is there only so the pictures show caption bars.
if command -v twm >/dev/null 2>&1; then
    why=""
    start_wm || { [ -z "$wm" ] && start_wm; } ||
        fail "the window manager did not start: $why; the pictures have no caption bars"
fi

"$program" &
pid=$!

main=$(wait_window '^Orvalink Discovery Tool [(]V' 20) || {
    fail "the main window did not appear within 20 s"
    exit 1
}
geometry "$main" || {
    fail "the main window's size could not be read"
    exit 1
}
if [ "$main_only" = --main-only ]; then
    xdotool windowsize --sync "$main" 1000 "$H" 2>/dev/null || fail "the main window could not be widened"
    geometry "$main" || exit 1
fi
# The pointer rests in the window's empty bottom-right corner from now on.
rest_x=$((W - 3)) rest_y=$((H - 3))
point_at "$main" "$rest_x" "$rest_y" || fail "the pointer could not be moved into the main window"

deadline=$((SECONDS + 20))
until scan_ended "$main"; do
    if [ "$SECONDS" -ge "$deadline" ]; then
        fail "the first scan did not end within 20 s (Refresh stayed greyed out); pictured as it is"
        break
    fi
    sleep 0.2
done
# The list marks its first row as the current one when it gets the keyboard with rows in it, which
# depends on whether the window was activated before or after the scan's answers: Tab once round
# the window's three controls gives it the keyboard again, now with rows.
xdotool key Tab Tab Tab
picture "$main" "$main_png" || exit 1
[ "$main_only" = --main-only ] && exit 0

# context-menu.png: the menu is a window of its own, so the picture is the part of the screen
# where the framed main window lies. The menu's window is named after the resource's popup.
context_menu() {
    local frame area highlight
    local tries=0
    until point_at "$main" 60 77 && press_until_window 3 '^Dummy$'; do
        tries=$((tries + 1))
        if [ "$tries" -ge 3 ]; then
            fail "the context menu did not appear after a right click on the third row (3 tries)"
            return 1
        fi
    done
    frame=$(xwininfo -children -id "$main" 2>/dev/null | awk '/Parent window id:/ {print $4}')
    { [ -n "$frame" ] && ! xwininfo -id "$frame" 2>/dev/null | grep -q 'the root window'; } || frame=$main
    area=$(xwininfo -id "$frame" 2>/dev/null | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} /Border width:/ {b=$3}
        END {if (w > 0) printf "%dx%d+%d+%d", w + 2 * b, h + 2 * b, x - b, y - b}')
    if [ -z "$area" ]; then
        fail "the main window's place on the screen could not be read for the context menu's picture"
        xdotool key Escape
        return 1
    fi
    # The pointer on the second item highlights it; the picture waits for that.
    highlight=$work/unhighlighted.png
    import -window root -crop "$area" +repage "$highlight" 2>/dev/null
    xdotool mousemove --window "$main" 90 106
    local deadline=$((SECONDS + 3))
    while :; do
        import -window root -crop "$area" +repage "$dir/context-menu.png" 2>/dev/null
        cmp -s "$dir/context-menu.png" "$highlight" || break
        if [ "$SECONDS" -ge "$deadline" ]; then
            fail "the context menu's second item was not highlighted; pictured as it is"
            break
        fi
        sleep 0.1
    done
    picture root "$dir/context-menu.png" -crop "$area" +repage
    xdotool key Escape
    wait_gone "$menu" 3 || fail "the context menu did not close on Escape"
}

# filter.png: Ctrl+F and a few letters, as a person narrows the list; Escape closes the filter.
filter_picture() {
    point_at "$main" "$rest_x" "$rest_y" || return 1
    xdotool key ctrl+f
    xdotool type --delay 50 "ol-2"
    picture "$main" "$dir/filter.png"
    xdotool key Escape
}

settings_dialog() {
    local settings
    point_at "$main" "$rest_x" "$rest_y" || return 1
    xdotool key alt+s
    settings=$(wait_window '^Settings$' 10) || {
        fail "the Settings dialog did not appear after Alt+S in the main window"
        return 1
    }
    point_at "$settings" 2 2
    picture "$settings" "$dir/settings.png"
    xdotool key Escape
    wait_gone "$settings" 5 || fail "the Settings dialog did not close on Escape"
}

# The About box, opened from the main window's window menu as a person does: the icon button in
# the top-right corner, then "a" for "&About".
about_box() {
    local before sysmenu about menu
    before=$(program_windows | tr '\n' ' ')
    point_at "$main" $((W - 22)) 14 || return 1
    # shellcheck disable=SC2086 # the ids are words
    press_until_window 1 "" $before || {
        fail "the window menu did not appear after a click on the icon button"
        return 1
    }
    sysmenu=$menu
    xdotool key a
    about=$(wait_window '^About Orvalink Discovery Tool$' 10) || {
        fail "the About box did not appear after \"a\" in the window menu"
        mapped "$sysmenu" && xdotool key Escape
        return 1
    }
    point_at "$about" 2 2
    picture "$about" "$dir/about.png"
    xdotool key Escape
    wait_gone "$about" 5 || fail "the About box did not close on Escape"
}

context_menu
filter_picture
settings_dialog
about_box
exit 0
