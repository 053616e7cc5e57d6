#!/usr/bin/env bash
# The window that remembers, under Xvfb in a throw-away test network with a real notification
# server (dunst) on a private session bus: a remembered device that stops answering stays listed
# as missing, marked, across scans and a restart, until "gone" is told once; a new device and a
# build the fleet file does not approve are told once; the fleet's names in their column, a
# damaged new version of the file said and the last good one kept; the window's file reads with
# oldiscovery-scan --known.
# usage: window-memory-test.sh   (ORVALINK_SIM, OLDISCOVERY and OLDISCOVERY_SCAN name the programs)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --inside ]; then
    source "$here/case-lib.sh"
    work=$2
    accessibility_on
    dunst -conf /dev/null >"$work/dunst.log" 2>&1 &
    gdbus wait --session --timeout 20 org.freedesktop.Notifications || { fail "dunst did not start"; exit 1; }
    # The summaries dunst received, sorted (devices answer in any order), one a line; those still
    # shown are closed first: only closed ones are in its history.
    told() {
        dunstctl close-all
        dunstctl history | python3 -c 'import json, sys
print("\n".join(sorted(n["summary"]["data"] for n in json.load(sys.stdin)["data"][0])))'
    }
    scans=0
    start() {
        "$OLDISCOVERY" 2>>"$work/program.log" &
        pid=$!
        win=$(timeout 20 xdotool search --all --sync --onlyvisible --pid "$pid" --name '^Orvalink Discovery Tool') ||
            { fail "the main window did not appear"; exit 1; }
        win=${win%%$'\n'*}
        expect_screen "the first scan's end in the status line" '^label\|Last scan [0-9]{2}:[0-9]{2}:[0-9]{2}\|'
    }
    last_scan() { screen '^label\|Last scan' 5 | grep -o 'Last scan [0-9:]*'; }
    # refresh: Alt+R, then the next scan's end (a scan here outlasts the second its last ended in).
    refresh() {
        local before
        before=$(last_scan)
        xdotool windowfocus --sync "$win" key alt+r
        wait_until 20 sh -c '[ "$1" != "$(/usr/bin/python3 "$2" "^label\|Last scan" 2 | grep -o "Last scan [0-9:]*")" ]' \
            - "$before" "$here/window-text.py" || fail "no scan after Refresh"
    }

    start
    expect_screen "a device seen for the first time is marked new" \
        '^row\|10\.77\.1\.1\t02:00:0A:4D:01:01\tOL-2000\t1\.2\.3 \(new\)\t'
    wait_until 10 sh -c 'dunstctl close-all; dunstctl history | grep -q 10.77.1.2' || fail "no notification of the second device"
    expect_screen "the fleet's name and approval in their columns" \
        '^row\|10\.77\.1\.2\t[^|]*\tOLD-PoE\t[^|]*no\|'
    wait_until 10 sh -c 'dunstctl close-all; dunstctl history | grep -q "Build not"' || fail "no notification of the build"
    expect_eq "each new device told once, the build too" "Build not approved: OLD-PoE (10.77.1.2, 02:00:0A:4D:01:02, OL-2100 PoE 2.0.14)
New device: 10.77.1.1, 02:00:0A:4D:01:01, OL-2000 1.2.3
New device: OLD-PoE (10.77.1.2, 02:00:0A:4D:01:02, OL-2100 PoE 2.0.14)" "$(told)"
    kill "$(cat "$work/silent.pid")"
    refresh
    expect_screen "the silent device stays listed as missing" \
        '^row\|10\.77\.1\.2\t02:00:0A:4D:01:02\tOL-2100 PoE\t2\.0\.14 \(last seen [0-9]{2}:[0-9]{2}\)\t'
    expect_screen "the answering one no longer new" '^row\|10\.77\.1\.1\t02:00:0A:4D:01:01\tOL-2000\t1\.2\.3\t'
    expect_screen "the count leaves the missing device out" '^label\|1 device\|'
    kill "$pid"
    wait "$pid" 2>/dev/null
    start
    expect_screen "still missing after a restart" '^row\|10\.77\.1\.2\t[^|]*\(last seen [0-9]{2}:[0-9]{2}\)\t'
    refresh
    wait_until 10 sh -c 'dunstctl close-all; dunstctl history | grep -q "Device gone"' || fail "no notification of the gone device"
    printf '[devices."nope"]\n' >>"$work/fleet.toml"
    refresh
    expect_eq "told once each: new, build, gone" "Build not approved: OLD-PoE (10.77.1.2, 02:00:0A:4D:01:02, OL-2100 PoE 2.0.14)
Device gone: OLD-PoE (10.77.1.2, 02:00:0A:4D:01:02, OL-2100 PoE 2.0.14)
New device: 10.77.1.1, 02:00:0A:4D:01:01, OL-2000 1.2.3
New device: OLD-PoE (10.77.1.2, 02:00:0A:4D:01:02, OL-2100 PoE 2.0.14)" "$(told)"
    expect_screen "a damaged new fleet file said" '^label\|The fleet file [^|]*fleet\.toml was not taken, the last good one stays: [^|]*:6: '
    expect_screen "the last good fleet stays" '^row\|10\.77\.1\.2\t[^|]*\tOLD-PoE\t'
    # Its saving ends before the session does, or the session's end kills it half way.
    kill "$pid"
    timeout 20 tail --pid="$pid" -f /dev/null || fail "SIGTERM did not end the program"
    exit $((failures > 0))
fi

source "$here/../../scripts/netns-lib.sh"
source "$here/case-lib.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY:?}" "${OLDISCOVERY_SCAN:?}"
[ "$(id -u)" -eq 0 ] || netns_skip "the test network needs root"
command -v dunst >/dev/null || netns_skip "no dunst"
netns_setup
netns_add_devices 10.77.1.1 1 --type "OL-2000" --build "1.2.3" || exit 1
netns_add_devices 10.77.1.2 1 --type "OL-2100 PoE" --build "2.0.14" || exit 1
work=$NETNS_TMP/window
settings="$work/config/Quarrin-Velto Networks/OLDiscovery.conf"
mkdir -p "$(dirname "$settings")" "$work/runtime"
chmod 700 "$work/runtime"
echo "${NETNS_PIDS[-1]}" >"$work/silent.pid"
printf '[Application Settings]\nAutoRefresh=0\nRememberDevices=1\nDesktopNotifications=1\nFleetFile=%s\nColumns=Name,Approved\n' \
    "$work/fleet.toml" >"$settings"
printf '[approved]\n"OL-2100 PoE" = ["2.0.15"]\n\n[devices."02-00-0a-4d-01-02"]\nname = "OLD-PoE"\n' >"$work/fleet.toml"
cd "$work" || exit 1
netns_host env -i PATH="/usr/bin:/bin" HOME="$work" LANG=C.UTF-8 XDG_CONFIG_HOME="$work/config" \
    XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb OLDISCOVERY="$OLDISCOVERY" \
    dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp -noreset" \
    bash "$0" --inside "$work" 2>&1 | grep -v '^dbus-daemon'
status=${PIPESTATUS[0]}
# The window's file as the command line reads it.
known=$(netns_host "$OLDISCOVERY_SCAN" --known --state "$work/state/oldiscovery/known-devices.json" 2>&1)
case "$known" in
*10.77.1.1*10.77.1.2* | *10.77.1.2*10.77.1.1*) ;;
*) fail "oldiscovery-scan --known does not list both: $known"; status=1 ;;
esac
[ "$status" -eq 0 ] || { echo "--- the program's output"; cat "$work/program.log"; }
[ "$status" -eq 0 ] && echo "PASS: window memory"
exit "$status"
