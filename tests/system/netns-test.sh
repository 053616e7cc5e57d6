#!/usr/bin/env bash
# Namespace tests of the discovery engine on a real (virtual) network: oldiscovery-scan runs in
# the host namespace of a throw-away test network against orvalink-sim devices.
# usage: netns-test.sh <case>      (ORVALINK_SIM and OLDISCOVERY_SCAN name the programs)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
source "$here/case-lib.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY_SCAN:?}"

# scan [args...]: runs oldiscovery-scan in the host namespace; output in $out, status in $rc,
# the engine's log in $log, the run time in ms in $ms.
scan() {
    log="$NETNS_TMP/scan.log"
    rm -f "$log"
    local t0 t1
    t0=$(date +%s%N)
    out=$(netns_host "$OLDISCOVERY_SCAN" --log "$log" "$@")
    rc=$?
    t1=$(date +%s%N)
    ms=$(((t1 - t0) / 1000000))
    [ "$rc" -eq 0 ] || fail "oldiscovery-scan $* exited with $rc"
}

# log_has <text>: the scan log holds a line ending in text (fixed string).
log_has() {
    grep -qF -- "$1" "$log"
}

T=$'\t'
lan_devices() {
    netns_add_devices 10.77.1.1 3 --type "OL-2000" --build "1.2.3" || exit 1
    netns_add_devices 10.77.1.7 1 --extra 'build:7.0 beta\ntype:OL-Mini\r\n' || exit 1
    netns_add_devices 10.77.1.9 1 --no-extra || exit 1
}
lan_expected="10.77.1.1${T}02:00:0A:4D:01:01${T}OL-2000${T}1.2.3
10.77.1.2${T}02:00:0A:4D:01:02${T}OL-2000${T}1.2.3
10.77.1.3${T}02:00:0A:4D:01:03${T}OL-2000${T}1.2.3
10.77.1.7${T}02:00:0A:4D:01:07${T}OL-Mini\\r${T}7.0 beta
10.77.1.9${T}02:00:0A:4D:01:09${T}n/a${T}n/a"

case_devices() {
    # No default route: the broadcast still leaves through the named interface.
    lan_devices
    scan
    expect_eq "devices without a default route" "$lan_expected" "$out"
    log_has "Found 5 Orvalink(s)" || fail "summary line missing"
    log_has "No extra data received" || fail "36-byte reply not logged as such"
}

case_default_route() {
    lan_devices
    netns_default_route on
    scan
    expect_eq "devices with a default route" "$lan_expected" "$out"
}

case_wrong_subnet() {
    lan_devices
    netns_add_far_device 10.78.0.20 --type "OL-Far" --build "9.9" || exit 1
    netns_far_route on
    scan
    expect_eq "device behind the router" "$lan_expected
10.78.0.20${T}n/a${T}OL-Far${T}9.9" "$out"
    # Its own lines: the address, then Wrong Subnet before the next device's address.
    tr -d '\r' <"$log" | awk '/IP: 10.78.0.20$/ {far=1; next} far && /IP: / {exit} far && /Wrong Subnet$/ {found=1} END {exit !found}' ||
        fail "no Wrong Subnet for the far device"
    # Without any route back the lookup fails the same way.
    netns_far_route off
    scan
    expect_eq "device behind the router, no route" "$lan_expected
10.78.0.20${T}n/a${T}OL-Far${T}9.9" "$out"
}

case_duplicate_unmarked() {
    netns_add_devices 10.77.1.1 1 --type "OL-Dup" --build 1 --duplicate || exit 1
    netns_add_devices 10.77.1.2 1 --type "OL-Std" --build 1 --unmarked || exit 1
    scan
    # The engine reports the duplicate reply as a second record; the scan lists the device once.
    expect_eq "duplicate reply listed once, unmarked advertisement not at all" \
        "10.77.1.1${T}02:00:0A:4D:01:01${T}OL-Dup${T}1" "$out"
    log_has "Found 2 Orvalink(s)" || fail "duplicate not counted twice"
}

case_no_neighbour() {
    # The device answers without asking for our address first, so the host has no neighbour
    # entry and must ask for the device's address itself.
    netns_add_devices 10.77.1.5 2 --type "OL-Quiet" --build 2 --no-arp-first || exit 1
    scan
    expect_eq "resolved by ARP" "10.77.1.5${T}02:00:0A:4D:01:05${T}OL-Quiet${T}2
10.77.1.6${T}02:00:0A:4D:01:06${T}OL-Quiet${T}2" "$out"
}

case_early_rows() {
    # Devices that never asked for our address are resolved by the scan's own probes; each is
    # reported once its address is known, while the scan still waits for more answers, not after
    # the collection has ended.
    netns_add_devices 10.77.1.1 1000 --type "OL-Early" --build 1 --no-arp-first || exit 1
    scan --stream
    [ "$(grep -c . <<<"$out")" -eq 1000 ] || fail "not 1000 lines"
    [ "$(grep -c "n/a" <<<"$out")" -eq 0 ] || fail "devices without their hardware address"
    tr -d '\r' <"$log" | awk '/MAC: / {rows++} /select\(\) timed out/ {end = rows} END {exit !(end >= rows * 0.9)}' ||
        fail "fewer than 90 % of the rows reported before the collection ended"
}

case_full_table() {
    # The kernel's neighbour table (gc_thresh3 entries, shared by every namespace) is filled by
    # a second device namespace whose devices all ask for the host's address; the discover
    # request, the replies' hardware addresses and the next scans must not depend on it.
    local limit
    limit=$(cat /proc/sys/net/ipv4/neigh/default/gc_thresh3)
    [ "$limit" -le 4096 ] || { echo "SKIP: gc_thresh3 is $limit, too large to fill in a test" >&2; exit 77; }
    local fillers=$((limit + 100))
    netns_add_segment dev2 || exit 1
    # Standard advertisements: the scan ignores them, but each filler asked for our address first.
    netns_add_devices_in dev2 10.77.16.1 "$fillers" --unmarked || exit 1
    netns_add_devices 10.77.1.1 3 --type "OL-Full" --build 5 || exit 1
    local expected="10.77.1.1${T}02:00:0A:4D:01:01${T}OL-Full${T}5
10.77.1.2${T}02:00:0A:4D:01:02${T}OL-Full${T}5
10.77.1.3${T}02:00:0A:4D:01:03${T}OL-Full${T}5"
    local run
    for run in 1 2 3; do
        scan
        expect_eq "scan $run with a full neighbour table" "$expected" "$out"
    done
    local entries
    entries=$(netns_host ip -4 neigh show | grep -c .)
    [ "$entries" -lt "$fillers" ] || { echo "SKIP: the neighbour table never filled ($entries entries)" >&2; exit 77; }
    netns_host ip neigh flush all >/dev/null 2>&1
}

case_unanswering_repliers() {
    # Five addresses answer the scan but never ARP; they must not cost the real device its
    # place or its hardware address, in any scan.
    netns_add_devices 10.77.1.50 5 --type "OL-Ghost" --build 0 --no-arp || exit 1
    netns_add_devices 10.77.1.60 1 --type "OL-Real" --build 6 --delay 10 || exit 1
    local expected="" i
    for i in 50 51 52 53 54; do
        expected+="10.77.1.$i${T}n/a${T}OL-Ghost${T}0"$'\n'
    done
    expected+="10.77.1.60${T}02:00:0A:4D:01:3C${T}OL-Real${T}6"
    local run
    for run in 1 2; do
        scan
        expect_eq "scan $run with unanswering repliers" "$expected" "$out"
        ! log_has "Scan time limit reached" || fail "scan $run ran into its time limit"
        [ "$(grep -c "Wrong Subnet" "$log")" -eq 5 ] || fail "scan $run: not five unresolved"
    done
}

case_locate() {
    local record="$NETNS_TMP/record"
    mkfifo "$record"
    exec 3<>"$record"
    netns_add_devices 10.77.1.1 2 --record "$record" || exit 1
    scan --locate 10.77.1.2
    [ -z "$out" ] || fail "locate printed something: $out"
    local line=""
    read -r -t 5 line <&3 || true
    expect_eq "locate request on the wire" "0A 4A 8C 69 FE E4 00 22 62 6C 69 6E 6B 3A 33 30 00" "$line"
    # A discover request is not recorded; only the locate request is.
    scan --locate 10.77.1.1
    read -r -t 5 line <&3 || true
    expect_eq "second locate request" "0A 4A 8C 69 FE E4 00 22 62 6C 69 6E 6B 3A 33 30 00" "$line"
    exec 3<&-
}

case_locate_refuses_groups() {
    # A locate names one device: a subnet's broadcast or network address, or a multicast group,
    # would make every device in it blink. Refused as a bad command line, before anything is sent
    # (the log is opened only once the sockets exist).
    netns_add_devices 10.77.1.1 2 || exit 1
    local err="$NETNS_TMP/stderr" status addr kind route
    for route in off on; do
        # Without a default route the kernel has no route at all to the groups; with one, it names them.
        netns_default_route "$route"
        for addr in 10.77.255.255:broadcast 10.77.0.0:network 255.255.255.255:broadcast 224.0.0.1:multicast \
            239.255.255.250:multicast; do
            kind=${addr#*:}
            addr=${addr%%:*}
            rm -f "$NETNS_TMP/locate.log"
            netns_host "$OLDISCOVERY_SCAN" --locate "$addr" --log "$NETNS_TMP/locate.log" >/dev/null 2>"$err"
            status=$?
            expect_eq "locate $addr (default route $route)" 2 "$status"
            grep -qF "$addr is a $kind address" "$err" || fail "locate $addr: no reason given: $(head -n1 "$err")"
            [ ! -e "$NETNS_TMP/locate.log" ] || fail "locate $addr went on after the refusal"
        done
    done
    # One device is still located.
    scan --locate 10.77.1.2
}

case_two_scans_json() {
    lan_devices
    scan
    local first=$out
    scan
    expect_eq "second scan lists the same devices" "$first" "$out"
    scan --json
    expect_eq "JSON" '[
  {"ip": "10.77.1.1", "mac": "02:00:0A:4D:01:01", "type": "OL-2000", "build": "1.2.3", "interface": "lan0"},
  {"ip": "10.77.1.2", "mac": "02:00:0A:4D:01:02", "type": "OL-2000", "build": "1.2.3", "interface": "lan0"},
  {"ip": "10.77.1.3", "mac": "02:00:0A:4D:01:03", "type": "OL-2000", "build": "1.2.3", "interface": "lan0"},
  {"ip": "10.77.1.7", "mac": "02:00:0A:4D:01:07", "type": "OL-Mini\r", "build": "7.0 beta", "interface": "lan0"},
  {"ip": "10.77.1.9", "mac": "02:00:0A:4D:01:09", "type": "n/a", "build": "n/a", "interface": "lan0"}
]' "$out"
}

case_oversize_ping() {
    # Devices answer 1.5 s late, within a 2 s quiet wait; meanwhile the router pings the host
    # with 3000-byte packets, more than the engine's 2048-byte buffer. The scan must go on and
    # list the devices.
    netns_add_devices 10.77.1.1 2 --type "OL-Late" --build 3 --delay 1500 || exit 1
    netns_exec rtr ping -q -s 3000 -c 8 -i 0.2 "$NETNS_HOST_IP" >/dev/null 2>&1 &
    local ping=$!
    scan --wait 2000
    wait "$ping"
    expect_eq "devices after oversize packets" "10.77.1.1${T}02:00:0A:4D:01:01${T}OL-Late${T}3
10.77.1.2${T}02:00:0A:4D:01:02${T}OL-Late${T}3" "$out"
}

case_ping_flood() {
    # Unrelated ICMP that never pauses for a second does not hold a scan open: its quiet time
    # runs from the last device answer.
    netns_add_devices 10.77.1.1 1 --type "OL-Busy" --build 4 || exit 1
    netns_exec rtr ping -q -i 0.05 -w 12 "$NETNS_HOST_IP" >/dev/null 2>&1 &
    local ping=$!
    scan
    scan --adaptive-end
    local adaptive=$ms
    kill "$ping" 2>/dev/null
    wait "$ping" 2>/dev/null
    expect_eq "device during a ping flood" "10.77.1.1${T}02:00:0A:4D:01:01${T}OL-Busy${T}4" "$out"
    log_has "select() timed out without getting a response" || fail "the flood held the scan to its limit"
    ! log_has "Scan time limit reached" || fail "the flood held the scan to its limit"
    [ "$adaptive" -lt 3000 ] || fail "adaptive scan during a ping flood took $adaptive ms"
}

case_no_rights() {
    # Run as nobody without capabilities: a clear message and no scan.
    local copy="$NETNS_TMP/oldiscovery-scan"
    cp "$OLDISCOVERY_SCAN" "$copy"
    chmod 755 "$NETNS_TMP" "$copy"
    local err
    err=$(netns_host setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all \
        "$copy" 2>&1 >/dev/null)
    local status=$?
    [ "$status" -ne 0 ] || fail "no rights, yet exit status 0"
    case "$err" in *cap_net_raw*) ;; *) fail "message does not name cap_net_raw: $err" ;; esac
}

case_file_capability() {
    # An ordinary user with cap_net_raw as a file capability, as the program is installed.
    command -v setcap >/dev/null 2>&1 || { echo "SKIP: setcap (libcap2-bin) is not installed" >&2; exit 77; }
    lan_devices
    # This one leaves no neighbour entry: the packet socket for ARP must have been made too.
    netns_add_devices 10.77.1.20 1 --type "OL-Quiet" --build 2 --no-arp-first || exit 1
    # File capabilities are ignored on a file system mounted nosuid.
    case ",$(findmnt -n -o OPTIONS --target "$NETNS_TMP" 2>/dev/null)," in
    *,nosuid,*) echo "SKIP: $NETNS_TMP is mounted nosuid, file capabilities do not apply there" >&2; exit 77 ;;
    esac
    local copy="$NETNS_TMP/oldiscovery-scan"
    cp "$OLDISCOVERY_SCAN" "$copy"
    chmod 755 "$NETNS_TMP" "$copy"
    # Writable by nobody as /tmp is: a folder every user may write without the sticky bit is refused.
    chmod 1777 "$NETNS_TMP"
    setcap cap_net_raw+p "$copy" || { echo "SKIP: file capabilities not supported here" >&2; exit 77; }
    log="$NETNS_TMP/scan.log"
    out=$(netns_host setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all "$copy" --log "$log")
    rc=$?
    [ "$rc" -eq 0 ] || fail "scan with cap_net_raw as nobody exited with $rc"
    expect_eq "devices found by an ordinary user" "$lan_expected
10.77.1.20${T}02:00:0A:4D:01:14${T}OL-Quiet${T}2" "$out"
    # Without CAP_NET_ADMIN the receive buffer is capped by net.core.rmem_max; that must be told.
    if [ "$(cat /proc/sys/net/core/rmem_max)" -lt 8388608 ]; then
        grep -q "Receive buffer of the raw socket is" "$log" || fail "smaller receive buffer not logged"
    fi
}

case_ip_options() {
    netns_add_devices 10.77.1.1 1 --type "OL-Opt" --build 5 --ip-options 01010101 || exit 1
    # Option bytes that read as a marked reply at the fixed offsets, before a standard advertisement.
    netns_add_devices 10.77.1.2 1 --unmarked --ip-options "09 10 00 00 00 00 00 00 00 00 00 00 00 27 11 74" || exit 1
    netns_add_devices 10.77.1.3 1 --type "OL-Ghost" --build 6 --zero-source || exit 1
    scan
    expect_eq "reply with options read after its header; option bytes and source 0.0.0.0 not taken" \
        "10.77.1.1${T}02:00:0A:4D:01:01${T}OL-Opt${T}5" "$out"
    log_has "Found 1 Orvalink(s)" || fail "summary line missing"
}

case_device_text() {
    # A device that tries to write a log line of its own, and one that sends Latin-1.
    netns_add_devices 10.77.1.1 1 --extra 'type:X\r\n2006-07-28T15:32:23  Error    forged\nbuild:1\x1B[2J\n' || exit 1
    netns_add_devices 10.77.1.2 1 --extra 'type:Caf\xE9\nbuild:M\xC3\xBCller\n' || exit 1
    scan
    expect_eq "device text in the table" "10.77.1.1${T}02:00:0A:4D:01:01${T}X\\r${T}1\\x1B[2J
10.77.1.2${T}02:00:0A:4D:01:02${T}Caf"$'\xC3\xA9'"${T}M"$'\xC3\xBC'"ller" "$out"
    # Every line of the log is one of the engine's own: a time stamp, a level, CR LF at the end.
    local bad
    bad=$(LC_ALL=C grep -a -v -E '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}  (Debug|Info|Warning|Error) *[^ ].*'$'\r''$' "$log")
    [ -z "$bad" ] || fail "log lines that the engine did not write: $bad"
    LC_ALL=C grep -q $'\x1B' "$log" && fail "escape byte in the log"
    log_has 'Device: X\r  ' || fail "type not escaped in its log line"
    scan --json
    expect_eq "device text in JSON" '[
  {"ip": "10.77.1.1", "mac": "02:00:0A:4D:01:01", "type": "X\r", "build": "1\u001B[2J", "interface": "lan0"},
  {"ip": "10.77.1.2", "mac": "02:00:0A:4D:01:02", "type": "Caf'$'\xC3\xA9''", "build": "M'$'\xC3\xBC''ller", "interface": "lan0"}
]' "$out"
}

case_exit_statuses() {
    netns_add_devices 10.77.1.1 1 || exit 1
    local err="$NETNS_TMP/stderr" status
    netns_host "$OLDISCOVERY_SCAN" >/dev/full 2>"$err"
    status=$?
    expect_eq "output to a full device" 3 "$status"
    grep -q "cannot write the output" "$err" || fail "no message for the lost output: $(cat "$err")"
    netns_host "$OLDISCOVERY_SCAN" --log "$NETNS_TMP/missing/scan.log" >/dev/null 2>"$err"
    status=$?
    expect_eq "log file that cannot be opened" 4 "$status"
    grep -q "cannot open or write the log file" "$err" || fail "no message for the log file: $(cat "$err")"
    out=$(netns_host "$OLDISCOVERY_SCAN" --log /dev/full 2>"$err")
    status=$?
    expect_eq "log file that cannot be written" 4 "$status"
    grep -q "log file /dev/full" "$err" || fail "no message for the log lines: $(cat "$err")"
    # No interface up to send on: the request cannot leave, which is not an empty network.
    netns_host ip link set lan0 down
    netns_host "$OLDISCOVERY_SCAN" >/dev/null 2>"$err"
    status=$?
    netns_host ip link set lan0 up
    expect_eq "discover request that could not be sent" 5 "$status"
    grep -q "could not be sent" "$err" || fail "no message for the unsent request: $(cat "$err")"
    # Nothing found is no failure.
    netns_stop_devices
    scan
    expect_eq "no devices: empty list" "" "$out"
}

case_root_without_net_raw() {
    # Root, but without CAP_NET_RAW (as in a container): told so, no empty scan.
    command -v setpriv >/dev/null 2>&1 || { echo "SKIP: setpriv is not installed" >&2; exit 77; }
    local err status
    err=$(netns_host setpriv --inh-caps=-net_raw --bounding-set=-net_raw "$OLDISCOVERY_SCAN" 2>&1 >/dev/null)
    status=$?
    expect_eq "root without cap_net_raw" 1 "$status"
    case "$err" in *cap_net_raw*) ;; *) fail "message does not name cap_net_raw: $err" ;; esac

    # The program: the rights check fails (its Error line, then its message box), instead of a
    # window whose scan thread could never open its socket.
    [ -n "${OLDISCOVERY:-}" ] || return 0
    local dir="$NETNS_TMP/gui" program tail_pid
    mkdir -p "$dir/config"
    (cd "$dir" && exec env -i HOME="$dir" XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen \
        ip netns exec "$NETNS_PREFIX-host" setpriv --inh-caps=-net_raw --bounding-set=-net_raw "$OLDISCOVERY") \
        >/dev/null 2>&1 &
    program=$!
    exec {lines}< <(exec timeout 30 tail -n +1 -F "$dir/debug.log" 2>/dev/null)
    tail_pid=$!
    grep -a -m1 -q "  Error  " <&"$lines" || fail "the program wrote no Error line within 30 s"
    kill "$program" "$tail_pid" 2>/dev/null
    wait "$program" 2>/dev/null
    exec {lines}<&-
    grep -a -q "Can't create Raw Socket" "$dir/debug.log" &&
        fail "the program passed the rights check and started a scan thread without the right"
}

# gui_start DIR: the program DIR/OLDiscovery as nobody in the host namespace, offscreen, in DIR with
# DIR/home as its home; its process id in $gui.
gui_start() {
    (cd "$1" && exec env -i HOME="$1/home" XDG_CONFIG_HOME="$1/home" QT_QPA_PLATFORM=offscreen \
        ip netns exec "$NETNS_PREFIX-host" setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
        "$1/OLDiscovery") >/dev/null 2>&1 &
    gui=$!
}

# gui_wait <condition...>: true once the condition holds, false when the program ended or after 30 s.
# Polled: what is waited for happens inside another process.
gui_wait() {
    local deadline=$(($(date +%s) + 30))
    until "$@"; do
        kill -0 "$gui" 2>/dev/null && [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.05  # the poll interval; the bound is the deadline above
    done
}

gui_stop() {
    kill "$gui" 2>/dev/null
    wait "$gui" 2>/dev/null
}

# Every image-format plugin of Qt's own folder is loaded (Qt loads them all at once, with any
# beside them) and the main thread has gone back to waiting for events.
installed_image_plugins_loaded() {
    local plugin
    for plugin in "$QT_IMAGEFORMATS_DIR"/*.so; do
        grep -qF "$plugin" "/proc/$gui/maps" 2>/dev/null || return 1
    done
    grep -q poll "/proc/$gui/wchan" 2>/dev/null
}

case_plugin_folders() {
    # A copy of the program with cap_net_raw in a folder its user can write, as a build folder is:
    # a plugin beside it, and a qt.conf beside it that points at another folder with a plugin.
    # Holding the capability, it takes plugins only from Qt's own folder.
    : "${OLDISCOVERY:?}" "${OLD_MARKER_PLUGINS:?}" "${QT_IMAGEFORMATS_DIR:?}"
    command -v setcap >/dev/null 2>&1 || { echo "SKIP: setcap (libcap2-bin) is not installed" >&2; exit 77; }
    case ",$(findmnt -n -o OPTIONS --target "$NETNS_TMP" 2>/dev/null)," in
    *,nosuid,*) echo "SKIP: $NETNS_TMP is mounted nosuid, file capabilities do not apply there" >&2; exit 77 ;;
    esac
    local dir="$NETNS_TMP/app"
    local beside="$dir/imageformats/libbeside.so" elsewhere="$dir/elsewhere/imageformats/libelsewhere.so"
    mkdir -p "$dir/imageformats" "$dir/elsewhere/imageformats" "$dir/home"
    cp "$OLDISCOVERY" "$dir/OLDiscovery"
    local plugins
    read -r -a plugins <<<"$OLD_MARKER_PLUGINS"
    cp "${plugins[0]}" "$beside"
    cp "${plugins[1]}" "$elsewhere"
    # With Qt's platform plugins there too, a program that follows the qt.conf starts and loads it.
    ln -s "$(dirname "$QT_IMAGEFORMATS_DIR")/platforms" "$dir/elsewhere/platforms"
    printf '[Paths]\nPlugins = %s\n' "$dir/elsewhere" >"$dir/qt.conf"
    chmod -R a+rwX "$NETNS_TMP"
    marked_or_settled() { [ -e "$beside.loaded" ] || [ -e "$elsewhere.loaded" ] || installed_image_plugins_loaded; }

    # Without the capability Qt does as it always does, and loads both: the markers work.
    gui_start "$dir"
    gui_wait test -e "$beside.loaded" -a -e "$elsewhere.loaded" ||
        fail "without the capability Qt did not load the plugins beside the program as usual"
    gui_stop
    rm -f "$beside.loaded" "$elsewhere.loaded"

    setcap cap_net_raw+p "$dir/OLDiscovery" || { echo "SKIP: file capabilities not supported here" >&2; exit 77; }
    gui_start "$dir"
    gui_wait marked_or_settled || fail "the program never loaded Qt's own image plugins"
    gui_stop
    [ ! -e "$beside.loaded" ] || fail "the program with the capability loaded a plugin from its own folder"
    [ ! -e "$elsewhere.loaded" ] || fail "the program with the capability followed the qt.conf beside it"
}

# namespaces_of <pid>: the test namespaces whose names say that process made them.
namespaces_of() {
    ip netns list | awk '{print $1}' | grep "^oldt-$1-" | sort
}

case_killed_run_leftovers() {
    # Another run, killed as a test at its time limit is: its EXIT trap never runs, so its
    # namespaces and its simulator stay. The next run removes them, and nothing of a live run.
    local lib="$here/../../scripts/netns-lib.sh" fifo="$NETNS_TMP/killed.ready" line="" killed sim ours ns pid
    mkfifo "$fifo"
    bash -c 'source "$1"; netns_setup; netns_add_devices 10.77.1.1 1 || exit 1; echo ready >"$2"; exec sleep 600' \
        _ "$lib" "$fifo" &
    killed=$!
    read -r -t 30 line <>"$fifo" || true
    if [ "$line" != ready ]; then
        fail "the run to be killed did not set up its network"
    else
        sim=$(ip netns pids "$(namespaces_of "$killed" | grep -- '-dev$')")
        kill -KILL "$killed"
        wait "$killed" 2>/dev/null
        ours=$(namespaces_of $$)
        bash -c 'source "$1"; netns_setup' _ "$lib" || fail "the next run could not set up its network"
        expect_eq "namespaces of the killed run after the next run" "" "$(namespaces_of "$killed")"
        case $(ps -o stat= -p "$sim") in '' | Z*) ;; *) fail "the killed run's simulator still runs" ;; esac
        expect_eq "this run's namespaces after the next run" "$ours" "$(namespaces_of $$)"
    fi
    kill -KILL "$killed" 2>/dev/null
    for ns in $(namespaces_of "$killed"); do
        for pid in $(ip netns pids "$ns"); do kill -KILL "$pid"; done
        ip netns del "$ns"
    done
}

show_last_log() {
    echo "--- last scan log" >&2
    cat "${log:-/dev/null}" >&2 2>/dev/null
}
run_case "${1:-}" show_last_log
