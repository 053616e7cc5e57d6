#!/usr/bin/env bash
# Namespace tests of oldiscovery-scan's options for watching segments: --interface, the
# Prometheus output, --output under a full or read-only folder, --watch with its events and
# signals, and the command-line errors. The tool runs in the host namespace of a throw-away test
# network against orvalink-sim devices.
# usage: scan-options-test.sh <case>      (ORVALINK_SIM and OLDISCOVERY_SCAN name the programs)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
source "$here/case-lib.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY_SCAN:?}"

# count_lines <file> <fixed text>: lines of file holding the text.
count_lines() {
    local n
    n=$(grep -c -F -- "$2" "$1" 2>/dev/null)
    echo "${n:-0}"
}
at_least() {
    [ "$(count_lines "$1" "$2")" -ge "$3" ]
}

# A second segment on its own interface of the host namespace: lan1, 10.79.0.10/16, with a
# device namespace "-seg2" holding its simulators.
second_segment() {
    _netns_add seg2 || exit 1
    _netns_link host lan1 seg2 eth0 || exit 1
    netns_host ip addr add 10.79.0.10/16 dev lan1
    netns_host ip link set lan1 up
    netns_exec seg2 ip link set eth0 up
    netns_add_devices_in seg2 10.79.1.1 2 --type "OL-Seg2" --build "2" || exit 1
}

# The "ip" and "interface" of every object of a --json array, one "ip interface" per line.
ip_and_interface() {
    python3 -c 'import json,sys; [print(d["ip"], d["interface"]) for d in json.load(sys.stdin)]'
}

case_interface_choice() {
    netns_add_devices 10.77.1.1 2 --type "OL-Lan" --build "1" || exit 1
    second_segment
    local lan="10.77.1.1 lan0
10.77.1.2 lan0" seg2="10.79.1.1 lan1
10.79.1.2 lan1"
    run_scan --json --interface lan1
    expect_eq "--interface lan1: its devices only" 0 "$rc"
    expect_eq "devices and interface of lan1" "$seg2" "$(ip_and_interface <<<"$out")"
    run_scan --json --interface lan0
    expect_eq "devices and interface of lan0" "$lan" "$(ip_and_interface <<<"$out")"
    run_scan --json --interface lan0 --interface lan1 --interface lan0
    expect_eq "both chosen" "$lan
$seg2" "$(ip_and_interface <<<"$out")"
    run_scan --json
    expect_eq "none chosen: every interface" "$lan
$seg2" "$(ip_and_interface <<<"$out")"
    # The tab-separated output keeps its four columns.
    run_scan --interface lan1
    expect_eq "table with --interface" "10.79.1.1	02:00:0A:4F:01:01	OL-Seg2	2
10.79.1.2	02:00:0A:4F:01:02	OL-Seg2	2" "$out"
    run_scan --prometheus --interface lan1 --interface lan0
    grep -q '^orvalink_devices{interface="lan0"} 2$' <<<"$out" || fail "lan0 count: $out"
    grep -q '^orvalink_devices{interface="lan1"} 2$' <<<"$out" || fail "lan1 count: $out"
    grep -q '^orvalink_device_info{interface="lan1",ip="10.79.1.2",mac="02:00:0A:4F:01:02",type="OL-Seg2",build="2"} 1$' \
        <<<"$out" || fail "lan1 device series: $out"
}

case_bad_input() {
    # A veth pair inside the host namespace: one end down with an address, one up without.
    netns_host ip link add vdown type veth peer name vnoip || exit 1
    netns_host ip addr add 10.80.0.1/24 dev vdown
    netns_host ip link set vnoip up
    local args expected
    # Each: arguments | a text the one-line message holds | the exit status when not 2. All are
    # caught before any scan; usage errors (2) point at the help, an interface that is down or
    # has no address is a failed scan (8) and does not.
    local status
    while IFS='|' read -r args expected status; do
        [ -n "$args" ] || continue
        # shellcheck disable=SC2086
        run_scan $args
        expect_eq "exit status of: $args" "${status:-2}" "$rc"
        case "$(head -n1 <<<"$err")" in
        "oldiscovery-scan: "*"$expected"*) ;;
        *) fail "message of $args: $(head -n1 <<<"$err")" ;;
        esac
        [ -z "$out" ] || fail "output despite the error: $args"
        # One problem line and where the help is: a unit restarted every minute must not fill the journal.
        expect_eq "lines after the message of: $args" "$([ -n "$status" ] || echo "Try 'oldiscovery-scan --help'.")" \
            "$(sed -n '2,$p' <<<"$err")"
    done <<'CASES'
--interface nosuch0|unknown interface: nosuch0
--interface lan0 --interface nosuch0|unknown interface: nosuch0
--interface vdown|interface vdown is down; no scan|8
--interface vnoip|interface vnoip has no IPv4 address; no scan|8
--wait 2000 --max-time 2|--wait 2000 needs a --max-time above it (now 2 s)
--wait 5000|--wait 5000 needs a --max-time above it (now 5 s)
--forget 10.0.0.1,10.0.0.2 --state s|--forget needs an IPv4 or MAC address: 10.0.0.1,10.0.0.2
--retire-after 7|--retire-after and --max-known need --state FILE and a scan
--interface lo|interface lo takes no broadcast
--interface|--interface needs an argument
--watch 0|--watch needs a whole number of seconds from 1 to 86400: 0
--watch -5|--watch needs a whole number of seconds from 1 to 86400: -5
--watch ten|--watch needs a whole number of seconds from 1 to 86400: ten
--watch 1.5|--watch needs a whole number of seconds from 1 to 86400: 1.5
--watch 1 --gone-after 0|--gone-after needs a whole number of scans from 1 to 1000000: 0
--gone-after 2|--gone-after needs --watch
--wait 99|--wait needs a whole number of milliseconds from 100 to 5000: 99
--wait 5001|--wait needs a whole number of milliseconds from 100 to 5000: 5001
--wait +200|--wait needs a whole number of milliseconds from 100 to 5000: +200
--json --prometheus|--json and --prometheus exclude each other
--watch --prometheus|--watch --prometheus needs --output FILE
--locate 10.77.1.1 --watch|--locate takes no other option than --log
--locate 10.77.1.1 --interface lan0|--locate takes no other option than --log
--output|--output needs an argument
-i|-i needs an argument
-w 1 -x|unknown argument: -x
--max-time 0|--max-time needs a whole number of seconds from 1 to 60: 0
--max-time 61|--max-time needs a whole number of seconds from 1 to 60: 61
--stream --watch|--stream writes to standard output
CASES
}

case_prometheus_output() {
    netns_add_devices 10.77.1.1 3 --type 'OL "2000"' --build '1.2\3' || exit 1
    local file="$NETNS_TMP/out/orvalink-lan0.prom"
    mkdir -p "$NETNS_TMP/out"
    run_scan --prometheus --output "$file" --interface lan0 --wait 300
    expect_eq "--output: nothing on standard output" "" "$out"
    expect_eq "--output: exit status" 0 "$rc"
    expect_eq "mode of the written file" 644 "$(stat -c %a "$file")"
    promtool check metrics <"$file" || fail "promtool rejects the output: $(cat "$file")"
    expect_eq "device series" 3 "$(grep -c '^orvalink_device_info{.*type="OL \\"2000\\"",build="1.2\\\\3"} 1$' "$file")"
    grep -q '^orvalink_scan_success{interface="lan0"} 1$' "$file" || fail "no success series"
    grep -q '^orvalink_scan_truncated{interface="lan0"} 0$' "$file" || fail "no truncation series"
    expect_eq "only the file in its folder" "orvalink-lan0.prom" "$(ls -A "$NETNS_TMP/out")"
    # A scan whose request cannot leave still writes its failure for an alert to see.
    netns_host ip link set lan0 down
    run_scan --prometheus --output "$file"
    netns_host ip link set lan0 up
    expect_eq "unsent request" 5 "$rc"
    promtool check metrics <"$file" || fail "promtool rejects the failure output: $(cat "$file")"
    grep -q '^orvalink_scan_success 0$' "$file" || fail "no failure series: $(cat "$file")"
    grep -q 'orvalink_device_info{' "$file" && fail "device series after a failed scan"
    # A scan without the right to raw sockets (exit 1) says the same on standard output.
    local copy="$NETNS_TMP/oldiscovery-scan"
    cp "$OLDISCOVERY_SCAN" "$copy"
    chmod 755 "$NETNS_TMP" "$copy"
    out=$(netns_host setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all \
        "$copy" --prometheus 2>/dev/null)
    rc=$?
    expect_eq "no rights" 1 "$rc"
    grep -q '^orvalink_scan_success{interface="lan0"} 0$' <<<"$out" || fail "no failure series without rights: $out"
}

# Runs the scan with --output into a folder made unwritable by how (full or read-only), in a
# private mount namespace of the host namespace, and checks that the old file is whole.
output_unwritable() {
    local how=$1
    netns_add_devices 10.77.1.1 2 || exit 1
    local dir="$NETNS_TMP/mnt"
    mkdir -p "$dir"
    local old="# the previous scan's file, which must stay whole"
    cat >"$NETNS_TMP/inner.sh" <<INNER
set -e
mount -t tmpfs -o size=64k tmpfs "$dir"
printf '%s\n' "$old" >"$dir/orvalink.prom"
if [ "$how" = full ]; then
    cat /dev/zero >"$dir/filler" 2>/dev/null || true
else
    mount -o remount,ro "$dir"
fi
set +e
"$OLDISCOVERY_SCAN" --prometheus --wait 200 --output "$dir/orvalink.prom" 2>"$NETNS_TMP/err"
echo "status \$?"
cat "$dir/orvalink.prom"
ls -A "$dir"
INNER
    out=$(netns_host unshare --mount --propagation private bash "$NETNS_TMP/inner.sh")
    err=$(cat "$NETNS_TMP/err")
    local expected_files="filler
orvalink.prom"
    [ "$how" = full ] || expected_files="orvalink.prom"
    expect_eq "$how folder: status, old file whole, no temporary file left" "status 3
$old
$expected_files" "$out"
    case "$err" in
    "oldiscovery-scan: cannot write $dir/orvalink.prom: "*) ;;
    *) fail "$how folder: message: $err" ;;
    esac
}

case_output_full_folder() {
    output_unwritable full
}

case_output_readonly_folder() {
    output_unwritable readonly
}

case_output_missing_folder() {
    netns_add_devices 10.77.1.1 1 || exit 1
    run_scan --json --output "$NETNS_TMP/missing/devices.json"
    expect_eq "missing folder" 3 "$rc"
    case "$err" in
    "oldiscovery-scan: cannot write $NETNS_TMP/missing/devices.json: "*) ;;
    *) fail "missing folder: message: $err" ;;
    esac
}

# Starts oldiscovery-scan --watch in the host namespace (the process itself, so $watch_pid can be
# signalled); events in $events, the engine log in $watch_log.
start_watch() {
    events="$NETNS_TMP/events"
    watch_log="$NETNS_TMP/watch.log"
    # A log left by an earlier watch would show its lines before this one has blocked its signals.
    rm -f "$watch_log"
    ip netns exec "$NETNS_PREFIX-host" "$OLDISCOVERY_SCAN" --log "$watch_log" --watch "$@" >"$events" \
        2>"$NETNS_TMP/watch.err" &
    watch_pid=$!
}

# stop_watch <signal>: signals the watch and waits for it (at most 5 s); its status in $rc and
# the time it took in ms in $ms.
stop_watch() {
    local t0
    t0=$(date +%s%N)
    kill -"$1" "$watch_pid"
    if ! wait_until 5 eval '! kill -0 "$watch_pid" 2>/dev/null'; then
        fail "--watch still running 5 s after SIG$1"
        kill -KILL "$watch_pid"
    fi
    wait "$watch_pid"
    rc=$?
    ms=$((($(date +%s%N) - t0) / 1000000))
}

case_watch_events() {
    netns_add_devices 10.77.1.1 3 --type "OL-2000" --build "1.2.3" || exit 1
    local prom="$NETNS_TMP/watch.prom"
    start_watch 1 --gone-after 2 --wait 200 --prometheus --output "$prom"
    wait_until 20 at_least "$events" '"event": "appeared"' 3 || fail "no appeared events: $(cat "$events")"
    wait_until 10 grep -q '^orvalink_devices{interface="lan0"} 3$' "$prom" || fail "metrics file: $(cat "$prom")"
    local scans_before
    scans_before=$(count_lines "$watch_log" "Starting scan")
    netns_stop_devices
    wait_until 20 at_least "$events" '"event": "gone"' 3 || fail "no gone events: $(cat "$events")"
    # Gone after two scans without them: the one that ran while they stopped may still have
    # seen them, so two or three scans.
    local scans_after missed
    scans_after=$(count_lines "$watch_log" "Starting scan")
    missed=$((scans_after - scans_before))
    [ "$missed" -ge 2 ] && [ "$missed" -le 3 ] || fail "gone after $missed scans, not 2"
    wait_until 10 grep -q '^orvalink_scan_success{interface="lan0"} 1$' "$prom" || fail "metrics file after gone: $(cat "$prom")"
    wait_until 10 eval '! grep -q "^orvalink_device_info" "$prom"' || fail "gone devices still in $prom"
    promtool check metrics <"$prom" || fail "promtool rejects the watch's file"
    netns_add_devices 10.77.1.1 1 --type "OL-2000" --build "1.2.4" || exit 1
    wait_until 20 at_least "$events" '"event": "appeared"' 4 || fail "back device not appeared again"
    stop_watch TERM
    expect_eq "SIGTERM: exit status" 0 "$rc"
    expect_eq "events: appeared x3, gone x3, appeared again" "appeared 10.77.1.1
appeared 10.77.1.2
appeared 10.77.1.3
gone 10.77.1.1
gone 10.77.1.2
gone 10.77.1.3
appeared 10.77.1.1 1.2.4" "$(python3 -c '
import json, sys, re
for line in open(sys.argv[1]):
    e = json.loads(line)
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", e["time"]), e["time"]
    assert e["interface"] == "lan0", e
    print(e["event"], e["ip"], *([e["build"]] if e["build"] == "1.2.4" else []))' "$events")"
}

case_watch_signal() {
    netns_add_devices 10.77.1.1 2 || exit 1
    local sig
    for sig in TERM INT; do
        # With a five-second quiet time (below a six-second limit) every scan lasts at least
        # five seconds: the signal reaches it mid-scan.
        start_watch 1 --wait 5000 --max-time 6
        wait_until 15 at_least "$watch_log" "Starting scan" 1 || fail "the watch did not start: $(cat "$NETNS_TMP/watch.err")"
        wait_until 15 at_least "$watch_log" "IP: 10.77.1.2" 1 || fail "no device in the first scan"
        stop_watch "$sig"
        expect_eq "SIG$sig mid-scan: exit status" 0 "$rc"
        [ "$ms" -lt 1000 ] || fail "SIG$sig mid-scan took $ms ms"
        # Between scans too.
        start_watch 1 --wait 100
        wait_until 15 at_least "$events" '"event": "appeared"' 2 || fail "no events before SIG$sig"
        stop_watch "$sig"
        expect_eq "SIG$sig between scans: exit status" 0 "$rc"
    done
}

case_watch_interface_remade() {
    # The watched interface is deleted and made again under its name, with a new index.
    second_segment
    start_watch 1 --interface lan1 --wait 200
    wait_until 20 at_least "$events" '"event": "appeared"' 2 || fail "no appeared events: $(cat "$events")"
    netns_host ip link del lan1
    wait_until 20 at_least "$NETNS_TMP/watch.err" "could not be sent" 1 || fail "no failed scan while lan1 was gone"
    _netns_link host lan1 seg2 eth0 || exit 1
    netns_host ip addr add 10.79.0.10/16 dev lan1
    netns_host ip link set lan1 up
    netns_exec seg2 ip link set eth0 up
    netns_add_devices_in seg2 10.79.1.9 1 --type "OL-Back" || exit 1
    wait_until 20 at_least "$events" '"ip": "10.79.1.9"' 1 || fail "a device on the interface made again is not reported: $(cat "$events")"
    stop_watch TERM
}

case_interface_lost() {
    # The interface goes down while the scan waits after an answer (and, the second time, up
    # again before its end): a device it was still asking the hardware address of would be one
    # that never was, so nothing of the scan counts.
    netns_add_devices 10.77.1.1 1 || exit 1
    local state="$NETNS_TMP/lan0.state" again said
    for again in "" up; do
        netns_host "$OLDISCOVERY_SCAN" -i lan0 --stream --wait 3000 --state "$state" >"$NETNS_TMP/out" 2>"$NETNS_TMP/err" &
        local pid=$!
        wait_until 10 grep -q 10.77.1.1 "$NETNS_TMP/out" || fail "no answer streamed"
        netns_host ip link set lan0 down
        [ -n "$again" ] && netns_host ip link set lan0 up
        wait "$pid"
        expect_eq "exit status ${again:-down}" 8 "$?"
        netns_host ip link set lan0 up
        said="interface lan0 is down"
        [ -n "$again" ] && said="the link of interface lan0 went down"
        expect_eq "said" "oldiscovery-scan: $said by the scan's end; its answers are not counted" \
            "$(cat "$NETNS_TMP/err")"
        [ ! -e "$state" ] || fail "the scan was recorded: $(cat "$state")"
    done
}

case_streaming() {
    # The later addresses answer first: arrival order is not the sorted order.
    netns_add_devices 10.77.1.1 5 --type "OL-Late" --delay 150 || exit 1
    netns_add_devices 10.77.1.50 5 --type "OL-Early" || exit 1
    run_scan --wait 400
    local sorted=$out
    run_scan --stream --wait 400 --log "$NETNS_TMP/stream.log"
    expect_eq "streamed lines, sorted, are the sorted list" "$sorted" "$(sort -t. -k4,4n <<<"$out")"
    expect_eq "streamed in arrival order" "$(sed -n 's/.*Info     IP: //p' "$NETNS_TMP/stream.log" | tr -d '\r')" "$(cut -f1 <<<"$out")"
    [ "$(head -c 10 <<<"$out")" = "10.77.1.50" ] || fail "the early answers do not come first: $out"
    # A terminal streams by itself; --json --stream writes one object per line.
    out=$(netns_host script -qec "$OLDISCOVERY_SCAN --wait 400" /dev/null | tr -d '\r')
    expect_eq "a terminal streams" "$(cut -f1 <<<"$sorted" | sort -t. -k4,4n | tail -5 | head -1)" "$(head -n1 <<<"$out" | cut -f1)"
    run_scan --stream --json --wait 400
    expect_eq "JSON lines" "$(cut -f1 <<<"$sorted")" "$(python3 -c 'import json,sys; [print(json.loads(l)["ip"]) for l in sys.stdin]' <<<"$out" | sort -t. -k4,4n)"
}

case_time_limit() {
    # Devices that answer again every 50 ms keep answers arriving past a 1-second limit.
    netns_add_devices 10.77.1.1 3 --type "OL-Busy" --repeat 50 || exit 1
    local file="$NETNS_TMP/busy.prom"
    run_scan --max-time 1 --prometheus --output "$file"
    expect_eq "truncated: exit status" 7 "$rc"
    case "$err" in
    "oldiscovery-scan: scan stopped at its 1 s limit with answers still arriving; "*" devices listed"*) ;;
    *) fail "truncated: message: $err" ;;
    esac
    grep -q '^orvalink_scan_truncated{interface="lan0"} 1$' "$file" || fail "no truncation mark: $(cat "$file")"
    expect_eq "truncated: devices still listed" 3 "$(grep -c '^orvalink_device_info{' "$file")"
    run_scan --max-time 2
    expect_eq "truncated table: exit status" 7 "$rc"
    expect_eq "truncated table: each device once" "10.77.1.1 10.77.1.2 10.77.1.3" "$(cut -f1 <<<"$out" | xargs)"
    case "$err" in *"; 3 devices listed"*) ;; *) fail "count of a cut scan: $err" ;; esac
    run_scan --stream --json --max-time 2
    expect_eq "streamed: each device once" 3 "$(grep -c . <<<"$out")"
}

# The scan's own duration from a --prometheus file, in whole milliseconds.
duration_ms() {
    sed -n 's/^orvalink_scan_duration_seconds{interface="lan0"} //p' "$1" | awk '{ printf "%d", $1 * 1000 }'
}

case_adaptive_end() {
    # One device answers 150 ms after the others: the end that follows the answers still waits for it.
    netns_add_devices 10.77.1.1 5 --type "OL-Fast" || exit 1
    netns_add_devices 10.77.1.50 1 --type "OL-Slow" --delay 150 || exit 1
    run_scan --adaptive-end
    expect_eq "adaptive end: status and devices" "0 10.77.1.1 10.77.1.2 10.77.1.3 10.77.1.4 10.77.1.5 10.77.1.50" \
        "$rc $(cut -f1 <<<"$out" | xargs)"
    # Answers that never stop keep it to its limit.
    netns_add_devices 10.77.2.1 2 --repeat 50 || exit 1
    run_scan --adaptive-end --max-time 1
    expect_eq "adaptive end under --max-time: exit status" 7 "$rc"
}

case_known_end() {
    netns_add_devices 10.77.1.1 2 || exit 1
    netns_add_devices 10.77.1.3 1 || exit 1
    local state="$NETNS_TMP/known.state" prom="$NETNS_TMP/known.prom" ms
    run_scan --state "$state"
    expect_eq "first scan learns the devices" 0 "$rc"
    run_scan --state "$state" --known-end --prometheus --output "$prom"
    ms=$(duration_ms "$prom")
    expect_eq "all known answered: status and devices up" "0 3" "$rc $(grep -c '^orvalink_device_up{.*} 1$' "$prom")"
    # Far below the one-second quiet wait, above the floor: no timing, a choice of end.
    [ "$ms" -lt 800 ] || fail "every known device answered, yet the scan took $ms ms"
    # A new device 200 ms behind the known ones is listed by the early end too.
    netns_add_devices 10.77.1.9 1 --delay 200 || exit 1
    run_scan --state "$state" --known-end --prometheus --output "$prom"
    expect_eq "a late new one: status and devices up" "0 4" "$rc $(grep -c '^orvalink_device_up{.*} 1$' "$prom")"
    # Without --known-end the scan keeps its usual end.
    run_scan --state "$state" --prometheus --output "$prom"
    ms=$(duration_ms "$prom")
    [ "$ms" -ge 1000 ] || fail "without --known-end the scan ended after $ms ms"
    kill "${NETNS_PIDS[1]}"
    wait "${NETNS_PIDS[1]}" 2>/dev/null
    run_scan --state "$state" --known-end --prometheus --output "$prom"
    ms=$(duration_ms "$prom")
    expect_eq "one missing: status and the silent one" "0 1" "$rc $(grep -c '^orvalink_device_up{.*ip="10.77.1.3".*} 0$' "$prom")"
    [ "$ms" -ge 1000 ] || fail "a known device missing, yet the scan ended after $ms ms"
    netns_add_devices 10.77.2.1 1 --repeat 50 || exit 1
    run_scan --state "$state" --known-end --max-time 1
    expect_eq "known devices under --max-time: exit status" 7 "$rc"
}

case_queue_overflow() {
    # Replies sent at once into a receive queue of a few kilobytes: most are dropped by the kernel.
    netns_add_devices 10.77.1.1 400 --no-arp-first || exit 1
    local prom="$NETNS_TMP/overflow.prom"
    OLDISCOVERY_TEST_RCVBUF=4096 run_scan --prometheus --output "$prom"
    expect_eq "overflowed queue: exit status" 7 "$rc"
    [[ $err == "oldiscovery-scan: scan lost "*" packets to a full receive queue; "*" devices listed"* ]] ||
        fail "overflowed queue: message: $err"
    grep -q '^orvalink_scan_truncated{interface="lan0"} 1$' "$prom" || fail "no truncation mark: $(cat "$prom")"
    run_scan --prometheus --output "$prom"
    expect_eq "the program's own buffer: status and devices" "0 400" "$rc $(grep -c '^orvalink_device_info{' "$prom")"
    # A scan that lost answers says nothing by a known device's silence.
    local state="$NETNS_TMP/overflow.state"
    run_scan --state "$state"
    OLDISCOVERY_TEST_RCVBUF=4096 run_scan --prometheus --output "$prom" --state "$state"
    expect_eq "lost answers: status, misses not counted, none missed, none down" "7 1 0 0" \
        "$rc $(count_lines "$prom" 'orvalink_scan_misses_counted{interface="lan0"} 0') $(count_lines "$state" '"missed": 1') $(grep -c '^orvalink_device_up{.*} 0$' "$prom")"
}

# The --state file: kept across scans, device_up 0 for a silent known device, --known and
# --forget; a link, another user's file and a damaged file refused (exit 6, the file as it was, the
# scan's failure written); a full disk leaves the old state whole.
case_state_file() {
    netns_add_devices 10.77.1.1 1 --type "OL-2000" --build "1.2.3" || exit 1
    netns_add_devices 10.77.1.2 1 --type "OL-2000" --build "1.2.3" || exit 1
    local state="$NETNS_TMP/lan0.state" prom="$NETNS_TMP/lan0.prom" kept
    run_scan --prometheus --interface lan0 --wait 200 --state "$state" --output "$prom"
    expect_eq "first scan: exit status" 0 "$rc"
    expect_eq "mode of the state file" 600 "$(stat -c %a "$state")"
    expect_eq "both up" 2 "$(grep -c '^orvalink_device_up{interface="lan0",.*} 1$' "$prom")"
    kill "${NETNS_PIDS[1]}"
    wait "${NETNS_PIDS[1]}" 2>/dev/null
    run_scan --prometheus --interface lan0 --wait 200 --state "$state" --output "$prom"
    grep -q '^orvalink_device_up{interface="lan0",ip="10.77.1.2",mac="02:00:0A:4D:01:02",type="OL-2000",build="1.2.3"} 0$' \
        "$prom" || fail "the silent device is not 0: $(cat "$prom")"
    promtool check metrics <"$prom" || fail "promtool rejects the output: $(cat "$prom")"
    run_scan --state "$state" --known
    expect_eq "--known: the scan's columns, up or missing, missed scans" "10.77.1.1	02:00:0A:4D:01:01	OL-2000	1.2.3	up	0
10.77.1.2	02:00:0A:4D:01:02	OL-2000	1.2.3	missing	1" "$(cut -f1-5,7 <<<"$out")"
    run_scan --state "$state" --known --json
    expect_eq "--known --json" "up 0 missing 1" \
        "$(python3 -c 'import json,sys; print(*[str(d["state"]) + " " + str(d["missed"]) for d in json.load(sys.stdin)])' <<<"$out")"
    run_scan --state "$state" --forget 02:00:0a:4d:01:02 --known
    expect_eq "--forget by MAC says what went" "0 forgot lan0 10.77.1.2 02:00:0A:4D:01:02
10.77.1.1	02:00:0A:4D:01:01	OL-2000	1.2.3	up" "$rc $(cut -f1-5 <<<"$out")"
    run_scan --state "$state" --forget 10.77.1.2
    expect_eq "--forget of an unknown address" "2 oldiscovery-scan: no known device has the address 10.77.1.2 in $state" "$rc $err"
    cp "$state" "$NETNS_TMP/twice.state"
    run_scan --state "$NETNS_TMP/twice.state" --forget 10.77.1.1 --forget 2:0:a:4d:1:1
    expect_eq "--forget of one device by IP and by a short MAC" "0 forgot lan0 10.77.1.1 02:00:0A:4D:01:01" "$rc $out"
    # A writer waits for the lock at most 10 s, then names its holder; a watch waiting for it
    # ends at once on a signal.
    flock --no-fork "$state.lock" sleep 120 &
    local holder=$!
    wait_until 5 eval '! flock -n "$state.lock" true' || fail "the lock was not taken"
    run_scan --state "$state" --forget 10.77.1.1
    expect_eq "--forget while another process holds the lock" "6 oldiscovery-scan: cannot lock the state file $state: lan0.state.lock: held by process $holder (sleep) for more than 10 s" "$rc $err"
    start_watch 1 --interface lan0 --wait 200 --state "$state"
    wait_until 10 eval 'ls -l /proc/$watch_pid/fd | grep -q inotify' || fail "the watch does not wait for the lock"
    stop_watch TERM
    expect_eq "a watch waiting for the lock ends on SIGTERM" 0 "$rc"
    kill "$holder"
    wait "$holder" 2>/dev/null
    run_scan --state "$NETNS_TMP/missing.state" --known
    expect_eq "--known of a missing file" "6 oldiscovery-scan: cannot use the state file $NETNS_TMP/missing.state: it does not exist" "$rc $err"

    cp -p "$state" "$NETNS_TMP/saved"
    ln -s "$state" "$NETNS_TMP/link.state"
    cp "$state" "$NETNS_TMP/other.state"
    chown 65534:65534 "$NETNS_TMP/other.state"
    head -n -1 "$state" >"$NETNS_TMP/damaged.state"
    local name problem
    while IFS='|' read -r name problem; do
        kept=$(cat "$NETNS_TMP/$name.state")
        run_scan --prometheus --interface lan0 --state "$NETNS_TMP/$name.state" --output "$prom"
        expect_eq "$name: exit status and message" "6 oldiscovery-scan: cannot use the state file $NETNS_TMP/$name.state: $problem" "$rc $err"
        expect_eq "$name: left as it was" "$kept" "$(cat "$NETNS_TMP/$name.state")"
        grep -q '^orvalink_scan_success{interface="lan0"} 0$' "$prom" || fail "$name: no failure written: $(cat "$prom")"
    done <<'CASES'
link|it is a symbolic link
other|it belongs to another user (uid 65534)
damaged|damaged: an unexpected end in line 3
CASES
    cmp -s "$state" "$NETNS_TMP/saved" || fail "the state changed"
    # Read once the request is out: a device that answers meanwhile is still not listed.
    run_scan --stream --interface lan0 --state "$NETNS_TMP/damaged.state"
    expect_eq "damaged, streaming: exit status, nothing listed" "6 " "$rc $out"
    # Root's mistaken --forget on another user's state leaves nothing beside it.
    run_scan --state "$NETNS_TMP/other.state" --forget 10.77.1.1
    expect_eq "--forget on another user's state: status, message, no lock file" \
        "6 oldiscovery-scan: cannot lock the state file $NETNS_TMP/other.state: it belongs to another user (uid 65534) no" \
        "$rc $err $([ -e "$NETNS_TMP/other.state.lock" ] && echo yes || echo no)"

    local dir="$NETNS_TMP/mnt"
    mkdir -p "$dir"
    cat >"$NETNS_TMP/inner.sh" <<INNER
mount -t tmpfs -o size=64k tmpfs "$dir" || exit 1
cp "$state" "$dir/lan0.state"
cat /dev/zero >"$dir/filler" 2>/dev/null
"$OLDISCOVERY_SCAN" --prometheus --interface lan0 --wait 200 --state "$dir/lan0.state" --output "$prom" 2>"$NETNS_TMP/err"
echo "status \$?"
cmp "$state" "$dir/lan0.state" && echo "state whole"
ls -A "$dir"
INNER
    out=$(netns_host unshare --mount --propagation private bash "$NETNS_TMP/inner.sh")
    expect_eq "full disk: status, old state whole, no temporary file" "status 6
state whole
filler
lan0.state
lan0.state.lock" "$out"
    case "$(cat "$NETNS_TMP/err")" in
    "oldiscovery-scan: cannot write the state file $dir/lan0.state: "*) ;;
    *) fail "full disk: message: $(cat "$NETNS_TMP/err")" ;;
    esac
    grep -q '^orvalink_device_up{interface="lan0",ip="10.77.1.1".*} 1$' "$prom" || fail "full disk: no scan written: $(cat "$prom")"
}

# One known-devices file shared by writers: a --forget during a watch stays forgotten, another
# interface's scans do not make this one's devices miss, devices silent too long retire and a
# full interface refuses new devices but keeps the ones it knows, each said on stderr.
case_state_shared() {
    netns_add_devices 10.77.1.1 1 --type "OL-2000" --build "1" || exit 1
    netns_add_devices 10.77.1.2 1 --type "OL-2000" --build "1" || exit 1
    second_segment
    local state="$NETNS_TMP/shared.state"
    run_scan --interface lan0 --wait 200 --state "$state"
    kill "${NETNS_PIDS[1]}"
    wait "${NETNS_PIDS[1]}" 2>/dev/null
    start_watch 1 --interface lan0 --interface lan1 --wait 200 --state "$state"
    wait_until 20 grep -q '"missed": 2' "$state" || fail "the silent device misses no scans: $(cat "$state")"
    run_scan --state "$state" --forget 10.77.1.2,02:00:0A:4D:01:02
    expect_eq "--forget IP,MAC during a watch" "0 forgot lan0 10.77.1.2 02:00:0A:4D:01:02" "$rc $out"
    local scans
    scans=$(count_lines "$watch_log" "Starting scan")
    wait_until 20 eval '[ "$(count_lines "$watch_log" "Starting scan")" -ge $((scans + 2)) ]' || fail "no more scans"
    stop_watch TERM
    grep -q '10.77.1.2' "$state" && fail "the forgotten device is back: $(cat "$state")"
    # lan1's scans alone: lan0's answering device misses none of them.
    run_scan --interface lan1 --wait 200 --state "$state"
    run_scan --interface lan1 --wait 200 --state "$state"
    run_scan --state "$state" --known
    expect_eq "lan0's device after lan1's scans" "10.77.1.1	up	0" "$(grep '^10.77.1.1' <<<"$out" | cut -f1,5,7)"
    # Devices silent since 2001 and for 30 days and an hour retire; an interface over its
    # --max-known keeps the devices it knows and refuses two new ones in one line.
    python3 -c 'import json,sys,time; f=json.load(open(sys.argv[1])); f["devices"] += [dict(f["devices"][0], interface="lan1", ip="10.79.9." + n, mac="02:00:00:00:09:0" + n, first_seen=1e9, last_seen=t) for n, t in (("9", 1e9), ("8", time.time() - 30 * 86400 - 3600))]; json.dump(f,open(sys.argv[1],"w"))' "$state"
    netns_add_devices_in seg2 10.79.1.3 2 || exit 1
    run_scan --interface lan1 --wait 200 --state "$state" --max-known 1
    expect_eq "retired and refused" "0 oldiscovery-scan: Warning: 2 new devices not kept: --max-known 1 reached on lan1
oldiscovery-scan: retired after --retire-after 30 days of silence: lan1 10.79.9.8 02:00:00:00:09:08
oldiscovery-scan: retired after --retire-after 30 days of silence: lan1 10.79.9.9 02:00:00:00:09:09" "$rc $err"
    run_scan --state "$state" --known
    expect_eq "what is left" "10.77.1.1 10.79.1.1 10.79.1.2" "$(cut -f1 <<<"$out" | xargs)"
    # A file damaged during a watch is said once, not at every scan.
    start_watch 1 --interface lan0 --wait 200 --state "$state"
    wait_until 20 at_least "$watch_log" "Starting scan" 1 || fail "the watch did not scan"
    echo damaged >"$state"
    scans=$(count_lines "$watch_log" "Starting scan")
    wait_until 20 eval '[ "$(count_lines "$watch_log" "Starting scan")" -ge $((scans + 3)) ]' || fail "no more scans"
    stop_watch TERM
    expect_eq "a damaged file during a watch, said once" 1 "$(count_lines "$NETNS_TMP/watch.err" "the state file")"
}

# A watch restarted with its state announces nothing for the known devices that still answer;
# with standard output as the journal, each event line has its priority.
case_watch_restart() {
    netns_add_devices 10.77.1.1 2 --type "OL-2000" --build "1.2.3" || exit 1
    local state="$NETNS_TMP/watch.state" stream
    events="$NETNS_TMP/events"
    : >"$events"
    stream=$(stat -c %d:%i "$events")
    JOURNAL_STREAM=$stream start_watch 1 --wait 200 --state "$state"
    wait_until 20 at_least "$events" '"event": "appeared"' 2 || fail "no appeared events: $(cat "$events")"
    wait_until 10 test -s "$state" || fail "no state written"
    stop_watch TERM
    expect_eq "journal priorities" "<5>{ <5>{" "$(cut -c1-4 "$events" | tr '\n' ' ' | sed 's/ $//')"
    start_watch 1 --wait 200 --state "$state"
    wait_until 20 at_least "$watch_log" "Starting scan" 3 || fail "the watch did not scan again"
    stop_watch TERM
    expect_eq "restarted watch: exit status and events" "0 " "$rc $(cat "$events")"
}

case_watch_late_reply() {
    # The device answers after each scan's quiet time: the answer arrives between scans, belongs
    # to none of them, and the next scan must not list it.
    netns_add_devices 10.77.1.1 1 --type "OL-Late" --build 5 --delay 700 || exit 1
    start_watch 1 --wait 200
    wait_until 20 at_least "$watch_log" "Starting scan" 4 || fail "the watch did not scan: $(cat "$NETNS_TMP/watch.err")"
    stop_watch TERM
    expect_eq "events of a device that always answers too late" "" "$(cat "$events")"
    grep -qE "Discarded [0-9]+ packet\(s\) that arrived between scans" "$watch_log" ||
        fail "no line for the answer dropped between scans"
}

# A fleet file: names in the table and JSON, the fleet's series, --known's three columns, a device
# retired in the file gone from the known devices at the next scan, and a fault with its line.
case_fleet() {
    netns_add_devices 10.77.1.1 2 --type "OL-2000" --build "2.01" || exit 1
    netns_add_devices 10.77.1.3 1 --type "OL-2000" --build "1.9" || exit 1
    local fleet="$NETNS_TMP/fleet.toml" state="$NETNS_TMP/fleet.state" T=$'\t'
    cat >"$fleet" <<'TOML'
[approved]
"OL-2000" = ["2.01", "2.02"]
[devices."02:00:0a:4d:01:01"]
name = "Lobby camera"
expect = "transient"
gone_after = 5
[devices."02-00-0A-4D-01-03"]
name = "Door"
TOML
    run_scan --interface lan0 --wait 200 --fleet "$fleet"
    expect_eq "table: a fifth column, the name" "10.77.1.1${T}02:00:0A:4D:01:01${T}OL-2000${T}2.01${T}Lobby camera
10.77.1.2${T}02:00:0A:4D:01:02${T}OL-2000${T}2.01${T}n/a
10.77.1.3${T}02:00:0A:4D:01:03${T}OL-2000${T}1.9${T}Door" "$out"
    run_scan --json --interface lan0 --wait 200 --fleet "$fleet"
    expect_eq "JSON: a field name" "Lobby camera None Door" \
        "$(python3 -c 'import json,sys; print(*[d["name"] for d in json.load(sys.stdin)])' <<<"$out")"
    run_scan --prometheus --interface lan0 --wait 200 --fleet "$fleet" --state "$state"
    promtool check metrics <<<"$out" || fail "promtool rejects the output: $out"
    local series
    for series in \
        'orvalink_device_info{interface="lan0",ip="10.77.1.1",mac="02:00:0A:4D:01:01",type="OL-2000",build="2.01",name="Lobby camera"} 1' \
        'orvalink_device_up{interface="lan0",ip="10.77.1.3",mac="02:00:0A:4D:01:03",type="OL-2000",build="1.9",name="Door"} 1' \
        'orvalink_device_build_approved{interface="lan0",ip="10.77.1.2",mac="02:00:0A:4D:01:02",type="OL-2000",build="2.01"} 1' \
        'orvalink_device_build_approved{interface="lan0",ip="10.77.1.3",mac="02:00:0A:4D:01:03",type="OL-2000",build="1.9",name="Door"} 0' \
        'orvalink_device_fleet_info{interface="lan0",ip="10.77.1.1",mac="02:00:0A:4D:01:01",name="Lobby camera",expect="transient"} 1' \
        'orvalink_device_gone_after_scans{interface="lan0",ip="10.77.1.1",mac="02:00:0A:4D:01:01"} 5' \
        'orvalink_device_missed_scans{interface="lan0",ip="10.77.1.2",mac="02:00:0A:4D:01:02"} 0'; do
        grep -qxF "$series" <<<"$out" || fail "no series $series in: $out"
    done
    run_scan --state "$state" --known --fleet "$fleet"
    expect_eq "--known: name, expectation, approved" "Lobby camera${T}transient${T}yes
n/a${T}always${T}yes
Door${T}always${T}no" "$(cut -f8- <<<"$out")"
    printf '[devices."02:00:0A:4D:01:02"]\nretired = true\n' >>"$fleet"
    run_scan --prometheus --interface lan0 --wait 200 --fleet "$fleet" --state "$state"
    grep -qxF 'orvalink_known_devices_removed{interface="lan0",reason="fleet_retired"} 1' <<<"$out" ||
        fail "retired: not counted: $out"
    expect_eq "retired: said on stderr" "0 oldiscovery-scan: retired in the fleet file: lan0 10.77.1.2 02:00:0A:4D:01:02" \
        "$rc $(tr '\n' ' ' <<<"$err" | sed 's/ $//')"
    run_scan --state "$state" --known
    expect_eq "retired: no longer known" "10.77.1.1 10.77.1.3" "$(cut -f1 <<<"$out" | tr '\n' ' ' | sed 's/ $//')"
    printf '[devices."02:00:0A:4D:01:04"]\nexpect = "never"\n' >"$NETNS_TMP/bad.toml"
    run_scan --interface lan0 --fleet "$NETNS_TMP/bad.toml"
    expect_eq "a fault: exit 2, file, line and what, no scan" "2 oldiscovery-scan: $NETNS_TMP/bad.toml:2: expect of device 02:00:0A:4D:01:04 is not \"always\", \"transient\" or \"ignore\"" "$rc $err"
}

show_last_stderr() {
    echo "--- stderr of the last scan" >&2
    cat "$NETNS_TMP/err" "$NETNS_TMP/watch.err" >&2 2>/dev/null
}
run_case "${1:-}" show_last_stderr
