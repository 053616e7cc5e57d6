#!/usr/bin/env bash
# The main window as a person uses it, under Xvfb in a throw-away test network, driven with
# xdotool and read from the screen through the accessibility bus (window-text.py): the status
# line's count and scan time, the filter and what Save list writes while it is open, Escape in
# the filter, a formula-like device type saved as text, a typed backslash shown apart from a
# control character, a missing telnet program and a failing opener named in the status line and
# still named after an automatic refresh, the status line at the list's margin, and a resize that
# moves the buttons, widens the last column and survives a restart.
# usage: main-window-test.sh   (ORVALINK_SIM and OLDISCOVERY name the programs)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --inside ]; then
    # Inside the host namespace, under Xvfb and a session bus.
    source "$here/case-lib.sh"
    work=$2
    accessibility_on
    start() {
        "$OLDISCOVERY" 2>>"$work/program.log" &
        pid=$!
        win=$(timeout 20 xdotool search --all --sync --onlyvisible --pid "$pid" --name '^Orvalink Discovery Tool') ||
            { fail "the main window did not appear"; exit 1; }
        win=${win%%$'\n'*}
        expect_screen "the first scan's end in the status line" '^label\|Last scan [0-9]{2}:[0-9]{2}:[0-9]{2}\|'
    }
    keys() { xdotool windowfocus --sync "$win" key --delay 30 "$@"; }
    # save_as <name>: Ctrl+S, the name typed into the chooser (it opens in the working folder),
    # Enter; waits for the file.
    save_as() {
        local chooser
        keys ctrl+s
        chooser=$(timeout 10 xdotool search --all --sync --onlyvisible --pid "$pid" --name '^Save List$') || {
            fail "no file chooser after Ctrl+S"
            return 1
        }
        xdotool windowfocus --sync "${chooser%%$'\n'*}" type --delay 20 "$1"
        xdotool key Return
        timeout 10 sh -c "until [ -s '$work/$1' ]; do sleep 0.1; done" || {
            fail "$1 was not saved"
            xdotool key Escape
        }
    }
    geometry() { xwininfo -id "$win" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }
    refresh_y() { screen '^push button\|Refresh\|' 5 | awk -F'|' '$1 == "push button" && $2 == "Refresh" {split($3, e, ","); print e[2]}'; }

    start
    expect_screen "the count of all rows" '^label\|8 devices\|'
    expect_screen "a typed backslash shown apart from a carriage return" \
        '^row\|10\.77\.1\.31\t[^\t]*\ttyped \\\\r, sent \\r\t'
    screen '^label\|8 devices\|' 5 | awk -F'|' '$1 == "tree" {split($3, e, ","); x = e[1]}
        $2 == "8 devices" {split($3, e, ","); exit e[1] != x}' || fail "the status line is off the list's margin"
    keys ctrl+f
    xdotool type --delay 30 "ol-2"
    expect_screen "the filter narrows the rows" '^label\|2 of 8 devices\|'
    save_as shown.csv
    expect_eq "the rows shown are saved" $'ip,mac,type,build\r\n10.77.1.1,02:00:0A:4D:01:01,OL-2000,1.2.3\r\n10.77.1.2,02:00:0A:4D:01:02,OL-2100 PoE,2.0.14\r' \
        "$(cat "$work/shown.csv")"
    keys ctrl+f ctrl+a
    xdotool type --delay 30 "hyperlink"
    expect_screen "one formula-like row" '^label\|1 of 8 devices\|'
    save_as formula.csv
    expect_eq "a formula-like type is saved as text" $'10.77.1.30,02:00:0A:4D:01:1E,"\'=HYPERLINK(""http://x/"")",1.0\r' \
        "$(tail -n 1 "$work/formula.csv")"
    keys ctrl+f Escape
    expect_screen "Escape in the filter shows every row again" '^label\|8 devices\|'
    kill -0 "$pid" 2>/dev/null || fail "Escape in the filter closed the window"

    # context_item <downs>: the first row's context menu (Shift+F10); Down that often, Enter.
    context_item() {
        keys Home shift+F10
        timeout 10 xdotool search --all --sync --onlyvisible --pid "$pid" --name '^Dummy$' >/dev/null ||
            fail "no context menu after Shift+F10"
        xdotool key --delay 30 $(printf 'Down %.0s' $(seq "$1")) Return
    }
    context_item 2  # Telnet
    expect_screen "a missing telnet program named" '^label\|Could not start no-such-telnet: not found\|'
    context_item 1  # Webbrowser
    expect_screen "a failing opener named" '^label\|xdg-open failed: exit status 4\|'

    before=$(geometry) y_before=$(refresh_y)
    xdotool windowsize --sync "$win" 1000 700
    expect_screen "the window grew" "^dialog\|Orvalink Discovery Tool.*\|[0-9-]+,[0-9-]+,1000,700$"
    y_after=$(refresh_y)
    expect_eq "Refresh moved down by the growth" "$((y_before + 700 - ${before#*x}))" "$y_after"
    # The last column takes the width the list gained, to the list's frame.
    screen '^table column header\|Build\|' 5 | awk -F'|' '$1 == "tree" {split($3, e, ","); r = e[1] + e[3]}
        $2 == "Build" {split($3, e, ","); gap = r - e[1] - e[3]} END {exit !(r && gap >= 0 && gap <= 4)}' ||
        fail "the last column does not reach the list's edge"
    keys Escape
    timeout 10 tail --pid="$pid" -f /dev/null || fail "Escape did not close the window"
    # Automatic refresh on: a failure stays said through the next scans until the person acts.
    sed -i 's/^AutoRefresh=0/AutoRefresh=1/' "$work/config/Quarrin-Velto Networks/OLDiscovery.conf"
    start
    expect_eq "the size survived a restart" 1000x700 "$(geometry)"
    context_item 1  # Webbrowser
    expect_screen "a failing opener named with automatic refresh on" '^label\|xdg-open failed: exit status 4\|'
    last_scan() { screen '^label\|Last scan' 5 | grep -o 'Last scan [0-9:]*'; }
    first=$(last_scan) deadline=$((SECONDS + 30))
    while [ "$(last_scan)" = "$first" ] && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.5; done
    [ "$(last_scan)" != "$first" ] || fail "no automatic refresh within 30 s"
    expect_screen "the failure still said after an automatic refresh" '^label\|xdg-open failed: exit status 4\|' 2
    # Its saving ends before the session does, or the session's end kills it half way.
    kill "$pid"
    timeout 20 tail --pid="$pid" -f /dev/null || fail "SIGTERM did not end the program"
    exit $((failures > 0))
fi

source "$here/../../scripts/netns-lib.sh"
source "$here/case-lib.sh"
source "$here/demo-network.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY:?}"
[ "$(id -u)" -eq 0 ] || netns_skip "the test network needs root"
netns_setup
demo_network_add_devices || exit 1
netns_add_devices 10.77.1.30 1 --type '=HYPERLINK("http://x/")' --build "1.0" || exit 1
netns_add_devices 10.77.1.31 1 --type $'typed \\r, sent \r' --build "1.0" || exit 1
work=$NETNS_TMP/window
settings="$work/config/Quarrin-Velto Networks/OLDiscovery.conf"
mkdir -p "$(dirname "$settings")" "$work/bin" "$work/runtime"
chmod 700 "$work/runtime"
printf '[Application Settings]\nAutoRefresh=0\nTelnetPath=no-such-telnet\n' >"$settings"
# The desktop's opener, failing as xdg-open does when the handler it ran failed.
printf '#!/bin/sh\nexit 4\n' >"$work/bin/xdg-open"
chmod 755 "$work/bin/xdg-open"
cd "$work" || exit 1
netns_host env -i PATH="$work/bin:/usr/bin:/bin" HOME="$work" LANG=C.UTF-8 XDG_CONFIG_HOME="$work/config" \
    XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb OLDISCOVERY="$OLDISCOVERY" \
    dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp -noreset" \
    bash "$0" --inside "$work" 2>&1 | grep -v '^dbus-daemon'
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || { echo "--- the program's output"; cat "$work/program.log"; }
[ "$status" -eq 0 ] && echo "PASS: main window"
exit "$status"
