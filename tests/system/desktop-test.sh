#!/usr/bin/env bash
# The window on today's desktops, each tried with the real thing, in a throw-away test network
# with the demo's devices and a private session bus with its accessibility bus:
#   accessibility  under Xvfb: the main window, Settings and About as a screen reader reads them
#                  (desktop-check.py), each reached with the keyboard alone
#   dark_contrast  under Xvfb with a dark palette (the olddark style): every text, the marked
#                  row, a remembered row marked new and a missing one greyed, the greyed filter
#                  hint, the status line and the web link at 4.5:1 or more
#                  in a screenshot (desktop-check.py)
#   wayland        under weston's headless compositor: the window opens and scans, Settings opens
#                  and closes, pressed through the accessibility bus, and the placement is kept
#   wayland_input  under weston nested in Xvfb (its output an X window over the whole screen, its
#                  seat Xvfb's pointer and keyboard), driven with xdotool: a right click on a row
#                  opens the context menu, Escape closes it, the window menu's button and the
#                  keyboard open About
# usage: desktop-test.sh <case>   (ORVALINK_SIM, OLDISCOVERY and OLD_STYLE_PLUGINS from ctest;
#        DESKTOP_SHOTS, a directory to keep the screenshots in)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --inside ]; then
    # Inside the host namespace, under a session bus (and Xvfb for the X cases).
    source "$here/case-lib.sh"
    case_name=$2 work=$3
    settings="$work/config/Quarrin-Velto Networks/OLDiscovery.conf"
    accessibility_on
    check() { /usr/bin/python3 "$here/desktop-check.py" check "$1" 20 || fail "$1 as a screen reader reads it"; }
    press() { /usr/bin/python3 "$here/desktop-check.py" press "$1" "$2" 10 || fail "pressing $2"; }
    gone() { ! /usr/bin/python3 "$here/desktop-check.py" check "$1" 0 2>/dev/null; }
    start() {
        "$OLDISCOVERY" 2>>"$work/program.log" &
        pid=$!
        /usr/bin/python3 "$here/window-text.py" '^label\|Last scan [0-9:]+\|' 30 >/dev/null ||
            { fail "no first scan"; return 1; }
    }
    x_window() {
        win=$(timeout 20 xdotool search --all --sync --onlyvisible --pid "$pid" --name "$1") || return 1
        win=${win%%$'\n'*}
    }
    keys() { xdotool windowfocus --sync "$win" key --delay 40 "$@"; }
    # Keys to the window that has the keyboard (a dialog).
    dialog_keys() { xdotool key --delay 40 "$@"; }
    case $case_name in
    accessibility)
        start || exit 1
        x_window '^Orvalink Discovery Tool' || { fail "no main window"; exit 1; }
        check main
        # The window menu with the keyboard alone: Tab from the list past Refresh and Settings to
        # its button, Space opens it, Up reaches its last item, About.
        keys Tab Tab Tab space Up Return
        check about
        dialog_keys Escape
        wait_until 10 gone about || fail "Escape did not close the About box"
        keys alt+s
        check settings
        dialog_keys Escape
        ;;
    dark_contrast)
        start || exit 1
        x_window '^Orvalink Discovery Tool' || { fail "no main window"; exit 1; }
        # The filter open with its grey hint, the keyboard back in the list, its last row marked.
        keys ctrl+f Tab End
        /usr/bin/python3 "$here/desktop-check.py" contrast "$work/main.png" '^label\|Available Orvalinks' '^label\|Double click' \
            '^label\|[0-9]+ devices' '^label\|Last scan' '^push button\|(Refresh|Settings)' \
            '^table column header\|' '^cell\|10\.77\.1\.9$' '^marked cell\|10\.78\.0\.20$' '^text\|Filter' \
            '^cell\|1\.2\.3 \(new\)$' '^cell\|10\.77\.1\.5$' '^cell\|1\.0 \(last seen' ||
            fail "contrast in the main window"
        keys ctrl+f Escape
        keys Tab Tab Tab space Up Return
        x_window '^About ' || fail "no About box"
        /usr/bin/python3 "$here/desktop-check.py" contrast "$work/about.png" '^link\|' '^label\|Version' '^push button\|OK' ||
            fail "contrast in the About box"
        dialog_keys Escape
        wait_until 10 gone about || fail "Escape did not close the About box"
        x_window '^Orvalink Discovery Tool' && keys alt+s
        x_window '^Settings$' || fail "no Settings dialog"
        /usr/bin/python3 "$here/desktop-check.py" contrast "$work/settings.png" '^label\|Telnet Application' \
            '^radio button\|Open Browser' '^check box\|' '^push button\|Cancel' || fail "contrast in Settings"
        dialog_keys Escape
        ;;
    wayland)
        export XDG_RUNTIME_DIR=$work/runtime WAYLAND_DISPLAY=wayland-old QT_QPA_PLATFORM=wayland
        # Under the sanitizers: libwayland-client keeps its proxies at a signal's end, not ours.
        printf 'leak:libwayland-client.so\n' >"$work/lsan.supp"
        export LSAN_OPTIONS="suppressions=$work/lsan.supp:print_suppressions=0"
        weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 \
            --width=1280 --height=800 >"$work/weston.log" 2>&1 &
        weston=$!
        wait_until 20 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || { fail "weston made no socket"; exit 1; }
        start || { kill "$weston"; exit 1; }
        check main
        press "push button" "Settings..."
        check settings
        press "push button" "Cancel"
        wait_until 10 gone settings || fail "Settings did not close"
        # Ended as a session's end ends it, the window keeps the size it was given and the X11
        # position saved before, which a Wayland client can neither read nor set.
        kill -TERM "$pid"
        timeout 10 tail --pid="$pid" -f /dev/null || fail "SIGTERM did not end the program"
        expect_eq "the placement kept under Wayland" "PosLeft=200 PosTop=150 width=900 height=600" \
            "$(awk -F= '/^\[/ {s = $0} s == "[DlgPos_102]" {v[$1] = $2}
                END {printf "PosLeft=%s PosTop=%s width=%s height=%s", v["PosLeft"], v["PosTop"],
                    v["PosRight"] - v["PosLeft"], v["PosBottom"] - v["PosTop"]}' "$settings")"
        ! grep -i 'wayland\|xdg_' "$work/program.log" || fail "the program complained about Wayland"
        kill "$weston"
        ;;
    wayland_input)
        # The kiosk shell puts the window at the output's corner, which is the screen's; without
        # Qt's own frame, window coordinates are screen coordinates.
        export WAYLAND_DISPLAY=wayland-old QT_QPA_PLATFORM=wayland QT_WAYLAND_DISABLE_WINDOWDECORATION=1
        weston --backend=x11-backend.so --shell=kiosk-shell.so --use-pixman --width=1280 --height=800 \
            --socket="$WAYLAND_DISPLAY" --idle-time=0 >"$work/weston.log" 2>&1 &
        weston=$!
        wait_until 20 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || { fail "weston made no socket"; exit 1; }
        start || { kill "$weston"; exit 1; }
        check main
        read -r x y < <(/usr/bin/python3 "$here/desktop-check.py" where '^cell\|10\.77\.1\.9$' 10)
        /usr/bin/python3 "$here/desktop-check.py" menu 10 >"$work/menu.txt" 2>&1 &
        listener=$!
        wait_until 10 grep -q ready "$work/menu.txt" || fail "no listener on the accessibility bus"
        xdotool mousemove --sync "${x:?no row on the screen}" "$y" click 3
        wait_until 10 grep -qx Locate "$work/menu.txt" || fail "no context menu on the accessibility bus"
        import -window root "$work/wayland-menu.png"
        dialog_keys Escape
        wait "$listener" && grep -qx closed "$work/menu.txt" || fail "Escape did not close the context menu"
        expect_eq "the context menu" "$(printf '%s\n' ready Webbrowser Telnet 'Copy IP to clipboard' Locate closed)" \
            "$(cat "$work/menu.txt")"
        # The window menu from its button, About with the keyboard once the menu is up: keys
        # typed while weston still hands the keyboard back from the closed menu would be lost.
        read -r x y < <(/usr/bin/python3 "$here/desktop-check.py" where '^push button\|System menu$' 10)
        /usr/bin/python3 "$here/desktop-check.py" menu 10 >"$work/window-menu.txt" 2>&1 &
        wait_until 10 grep -q ready "$work/window-menu.txt" || fail "no listener on the accessibility bus"
        xdotool mousemove --sync "${x:?no window menu button}" "$y" click 1
        wait_until 10 grep -q '^About' "$work/window-menu.txt" || fail "no window menu with About"
        dialog_keys Up Return
        check about
        import -window root "$work/wayland-about.png"
        dialog_keys Escape
        wait_until 10 gone about || fail "Escape did not close the About box"
        ;;
    esac
    # Its saving ends before the session does, or the session's end kills it half way.
    kill "$pid" 2>/dev/null
    timeout 20 tail --pid="$pid" -f /dev/null || fail "SIGTERM did not end the program"
    # The compositor last: a program that loses it ends at once, wherever it is.
    [ -n "${weston:-}" ] && kill "$weston" 2>/dev/null
    exit $((failures > 0))
fi

source "$here/../../scripts/netns-lib.sh"
source "$here/case-lib.sh"
source "$here/demo-network.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY:?}" "${OLD_STYLE_PLUGINS:?}"
case_name=${1:?case}
[ "$(id -u)" -eq 0 ] || netns_skip "the test network needs root"
netns_setup
demo_network_add_devices || exit 1
work=$NETNS_TMP/desktop
mkdir -p "$work/config/Quarrin-Velto Networks" "$work/runtime"
chmod 700 "$work/runtime"
printf '[Application Settings]\nAutoRefresh=0\n[DlgPos_102]\nFlags=0\nShowCmd=1\nPosLeft=200\nPosTop=150\nPosRight=1100\nPosBottom=750\n' \
    >"$work/config/Quarrin-Velto Networks/OLDiscovery.conf"
cd "$work" || exit 1
environment=(PATH=/usr/bin:/bin HOME="$work" LANG=C.UTF-8 XDG_CONFIG_HOME="$work/config"
    XDG_RUNTIME_DIR="$work/runtime" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 OLDISCOVERY="$OLDISCOVERY")
[ "$case_name" = dark_contrast ] && environment+=(QT_PLUGIN_PATH="$OLD_STYLE_PLUGINS" QT_STYLE_OVERRIDE=olddark)
if [ "$case_name" = dark_contrast ]; then
    # Remembered devices: the first scan's rows marked new, a silent one greyed.
    sed -i "s/^AutoRefresh=0$/&\nRememberDevices=1/" "$work/config/Quarrin-Velto Networks/OLDiscovery.conf"
    mkdir -p "$work/.local/state/oldiscovery"
    printf '{"format": "oldiscovery-known-devices", "version": 1, "devices": [\n%s\n]}\n' \
        '{"interface": "lan0", "ip": "10.77.1.5", "mac": "02:00:0A:4D:01:05", "type": "OL-Gone", "build": "1.0", "first_seen": 1796645123, "last_seen": 1796645123, "missed": 0}' \
        >"$work/.local/state/oldiscovery/known-devices.json"
    chmod -R go-rwx "$work/.local"
fi
if [ "$case_name" = wayland ]; then
    netns_host env -i "${environment[@]}" dbus-run-session -- bash "$0" --inside "$case_name" "$work" 2>&1 |
        grep -v '^dbus-daemon'
else
    netns_host env -i "${environment[@]}" QT_QPA_PLATFORM=xcb \
        dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp -noreset" \
        bash "$0" --inside "$case_name" "$work" 2>&1 | grep -v '^dbus-daemon'
fi
status=${PIPESTATUS[0]}
[ -n "${DESKTOP_SHOTS:-}" ] && cp "$work"/*.png "$DESKTOP_SHOTS/" 2>/dev/null
[ "$status" -eq 0 ] || { echo "--- the program's output"; cat "$work/program.log"; }
[ "$status" -eq 0 ] || [ ! -f "$work/weston.log" ] || { echo "--- weston's output"; tail -20 "$work/weston.log"; }
[ "$status" -eq 0 ] && echo "PASS: $case_name"
exit "$status"
