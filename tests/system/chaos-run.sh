#!/usr/bin/env bash
# The chaos run: chaos-schedule played against the real oldiscovery-scan in a throw-away test
# network. A timer's scans (--state, --prometheus, --output, --max-known) run step after step while
# a watch runs beside them, devices join (some answering late), leave, return, change build and
# share an address, the interface goes down, is deleted and made again, pings arrive, a flood of
# devices comes, another process holds the state's lock, the receive buffer is small and the
# output's disk full. What the player did is the ground truth every scan, the watch's events and
# the final --known are held to: no device missed that answers within --wait, no false gone or
# new, no command past its time limit, memory bounded.
# usage: chaos-run.sh [--scale K] [--period S] [--report FILE]
#   --scale K: every step's scans K times (the hour-long run); --period S: a scan every S seconds
#   (the timer's cadence; 0 runs them back to back, the CI run); --report FILE: a Markdown report.
#   (ORVALINK_SIM and OLDISCOVERY_SCAN name the programs)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY_SCAN:?}"
scale=1 period=0 report=""
while [ $# -gt 0 ]; do
    case $1 in
    --scale) scale=$2; shift 2 ;;
    --period) period=$2; shift 2 ;;
    --report) report=$2; shift 2 ;;
    *) echo "chaos-run: unknown argument $1" >&2; exit 2 ;;
    esac
done
max_known=50 wait_ms=700 max_time=5 limit=20 memory_kib=$((96 * 1024))
watch_every=$((period > 0 ? period : 1))

netns_setup
work=$NETNS_TMP
mkdir "$work/out"
: >"$work/first-seen"
state=$work/lan0.state prom=$work/out/lan0.prom wprom=$work/watch.prom events=$work/events
declare -A present shared pid_of ever results
expected_events="" flood_pid="" flood_keys="" noise_pid="" lock_pid="" disk="" rcvbuf=0
started=$SECONDS step="" xfail="" failures=0 scans=0

# check <name> <problem>: one check of the current step, passed when there is no problem, held
# against the step's known failures ("name,name: fault"); a known failure that no check of its
# step shows fails the run (passed_marks, at the step's end).
check() {
    local name=$1 problem=$2 marked=false
    [[ ",${xfail%%:*}," == *",$name,"* ]] && marked=true
    if [ -z "$problem" ]; then
        results[$name]+=" pass"
    elif $marked; then
        results[$name]+=" xfail" shown+=" $name"
        echo "known failure: $step: $name: ${problem:0:300} (${xfail#*:})" >&2
    else
        results[$name]+=" fail"
        failures=$((failures + 1))
        echo "FAIL: $step: $name: ${problem:0:300}" >&2
    fi
}
passed_marks() {
    local name marks=${xfail%%:*}
    for name in ${marks//,/ }; do
        [[ " $shown " == *" $name "* ]] && continue
        results[$name]+=" xpass"
        failures=$((failures + 1))
        echo "FAIL: $step: $name passes, but is marked as a known failure (${xfail#*:})" >&2
    done
}
# bounded <seconds> <command...>: the command in the host namespace, killed at its limit.
bounded() {
    local seconds=$1; shift
    timeout -k 2 "$seconds" ip netns exec "$NETNS_PREFIX-host" "$@"
}
mac_of() { printf '02:00:%02X:%02X:%02X:%02X' ${1//./ }; }
key_of() { echo "$1 ${2:-$(mac_of "$1")}"; }
expect_event() { expected_events+="$1 $2"$'\n'; }

# --- The actions of the schedule, each keeping the ground truth.
join() { # <ip> [build [delay-ms [mac [simulator option...]]]]
    local key
    key=$(key_of "$1" "${4:-}")
    _netns_start dev --interface eth0 --device "$1,${key#* }" --type OL-2000 --build "${2:-1.0}" \
        --delay "${3:-0}" "${@:5}" || return 1
    pid_of[$key]=${NETNS_PIDS[-1]}
    expect_event appeared "$key"
    present[$key]=${2:-1.0}
}
leave() { # <ip> [mac]
    local key
    key=$(key_of "$1" "${2:-}")
    kill "${pid_of[$key]}" && wait "${pid_of[$key]}" 2>/dev/null
    unset "present[$key]" "pid_of[$key]"
    expect_event gone "$key"
}
rebuild() { # <ip> <build>: the device answers with another build from now on
    local key
    key=$(key_of "$1")
    kill "${pid_of[$key]}" && wait "${pid_of[$key]}" 2>/dev/null
    _netns_start dev --interface eth0 --device "$1" --type OL-2000 --build "$2" || return 1
    pid_of[$key]=${NETNS_PIDS[-1]} present[$key]=$2
    expect_event changed "$key"
}
# share <ip> <mac> <mac>: two devices on one address. The host keeps one MAC per address; the
# watch sees each in turn (its entry set to the other after each of its scans), a scan either.
share() {
    join "$1" 1.0 0 "$2" --no-arp-first && join "$1" 1.0 0 "$3" --no-arp-first || return 1
    shared["$1 $2"]=1 shared["$1 $3"]=1
    echo "$1 $2 $3" >"$work/turns"
    (
        last=""
        while [ -e "$work/turns" ]; do
            inode=$(stat -c %i "$wprom" 2>/dev/null)
            [ "$inode" != "$last" ] && last=$inode && take_turn
            sleep 0.1
        done
    ) &
    turns_pid=$!
}
take_turn() { # the host's entry for the shared address set to the other MAC
    local ip mac1 mac2
    read -r ip mac1 mac2 2>/dev/null <"$work/turns" || return 0
    echo "$ip $mac2 $mac1" >"$work/turns"
    netns_host ip neigh replace "$ip" lladdr "$mac1" nud permanent dev lan0
}
split() { # <ip> <mac>: that one leaves; the other keeps the address
    rm "$work/turns"
    wait "$turns_pid"
    leave "$1" "$2"
    local key
    for key in "${!shared[@]}"; do
        unset "shared[$key]"
        [ "$key" != "$1 $2" ] && netns_host ip neigh replace "$1" lladdr "${key#* }" nud permanent dev lan0
    done
}
forget() { # <what>: --forget, refused while another process holds the lock
    local out rc key
    out=$(bounded "$limit" "$OLDISCOVERY_SCAN" --state "$state" --forget "$1" 2>&1)
    rc=$?
    check bounded "$([ $rc -ge 124 ] && echo "--forget $1 ran past $limit s")"
    if [ -n "$lock_pid" ]; then
        check exit "$([ $rc -eq 0 ] || [ "$(wc -l <<<"$out")" -ne 1 ] && echo "--forget $1 with the lock held: status $rc, said: $out")"
        return 0
    fi
    # Forgetting a device the state does not hold is an error (status 2); a forgotten device that
    # still answers is new again.
    local expected=2
    for key in "${!ever[@]}"; do
        [[ $1 == "${key% *}" || $1 == "${key#* }" || $1 == "${key/ /,}" ]] && expected=0
    done
    check exit "$([ $rc -ne $expected ] && echo "--forget $1: status $rc, not $expected, said: $out")"
    for key in "${!ever[@]}"; do
        if [[ $1 == "${key% *}" || $1 == "${key#* }" || $1 == "${key/ /,}" ]]; then
            grep -v "^$key " "$work/first-seen" >"$work/first-seen.new"
            mv "$work/first-seen.new" "$work/first-seen"
            [ -n "${present[$key]+x}" ] || unset "ever[$key]"
        fi
    done
    return 0
}
noise() { # on|off: five pings a second from the router at the scanning host
    if [ "$1" = on ]; then
        ip netns exec "$NETNS_PREFIX-rtr" ping -q -i 0.2 "$NETNS_HOST_IP" >/dev/null 2>&1 &
        noise_pid=$!
    else
        kill "$noise_pid" && wait "$noise_pid" 2>/dev/null
        noise_pid=""
    fi
    return 0
}
link() { # down|up|delete|create
    case $1 in
    down | up) netns_host ip link set lan0 "$1" ;;
    delete) netns_host ip link del lan0 ;;
    create)
        _netns_link host lan0 lan p-host && _netns_ports lan p-host &&
            netns_host ip addr add "$NETNS_HOST_IP/16" dev lan0 && netns_host ip link set lan0 up &&
            netns_host sysctl -q -w net.ipv4.conf.lan0.rp_filter=0 >/dev/null
        ;;
    esac
}
lock() { # hold|free: another process holds the state's lock
    if [ "$1" = hold ]; then
        (exec 9>>"$state.lock" && flock -x 9 && exec sleep infinity) &
        lock_pid=$!
        for _ in {1..100}; do flock -n "$state.lock" true || break; sleep 0.05; done
    else
        kill "$lock_pid" && wait "$lock_pid" 2>/dev/null
        lock_pid=""
    fi
    return 0
}
disk() { disk=${1#free}; } # full: the scans' output folder a full tmpfs of its own
rcvbuf() { rcvbuf=$1; }
flood() { # <first-ip> <count> | off: devices that all answer at once
    local i key
    if [ "$1" = off ]; then
        kill "$flood_pid" && wait "$flood_pid" 2>/dev/null
        for key in $flood_keys; do
            unset "present[${key/_/ }]"
            expect_event gone "${key/_/ }"
        done
        return 0
    fi
    _netns_start dev --interface eth0 --devices "$1" "$2" --type OL-Flood --build 1.0 --no-arp-first || return 1
    flood_pid=${NETNS_PIDS[-1]} flood_keys=""
    local first=${1##*.} net=${1%.*}
    for ((i = first; i < first + $2; i++)); do
        key=$(key_of "$net.$i")
        present[$key]=1.0
        flood_keys+=" ${key/ /_}"
        expect_event appeared "$key"
    done
}

# The devices present as a scan lists them, "IP MAC build", without those sharing an address.
want_listed() { for key in "${!present[@]}"; do [ -z "${shared[$key]+x}" ] && echo "$key ${present[$key]}"; done | sort; }
shared_ips() { for key in "${!shared[@]}"; do echo "${key% *}"; done | sort -u; }
# differ <expected> <actual>: the lines missing (-) and too many (+), on one line.
differ() { diff <(echo "$1") <(echo "$2") | sed -n 's/^</-/p; s/^>/+/p' | head -8 | tr '\n' ' '; }

# --- One scheduled scan as the timer runs it, checked against the ground truth.
scan() { # <expected exit statuses, "," between them>
    local rc rss duration listed want
    local command=(/usr/bin/time -f %M -o "$work/rss" timeout -k 2 "$limit" ip netns exec "$NETNS_PREFIX-host"
        "$OLDISCOVERY_SCAN" -i lan0 --state "$state" --prometheus -o "$prom" --max-known "$max_known"
        --wait "$wait_ms" --max-time "$max_time")
    [ -n "$disk" ] && command=(unshare -m --propagation private sh -c \
        'mount -t tmpfs -o size=16k tmpfs "$0" && cat /dev/zero >"$0/fill" 2>/dev/null; exec "$@"' "$work/out" "${command[@]}")
    [ "$rcvbuf" -gt 0 ] && command=(env "OLDISCOVERY_TEST_RCVBUF=$rcvbuf" "${command[@]}")
    cp -p "$prom" "$work/before.prom" 2>/dev/null
    "${command[@]}" >/dev/null 2>"$work/scan.err"
    rc=$? scans=$((scans + 1))
    check bounded "$([ $rc -ge 124 ] && echo "the scan ran past $limit s")"
    check exit "$([[ ",$1," != *",$rc,"* ]] && echo "status $rc, not $1: $(head -c 200 "$work/scan.err")")"
    rss=$(tail -n 1 "$work/rss" 2>/dev/null)
    echo "${rss:-0}" >>"$work/rss.all"
    check memory "$([ "${rss:-0}" -gt $memory_kib ] && echo "the scan's resident memory $rss KiB")"
    [ $rc -ge 124 ] && return
    listed=$(sed -n 's/^orvalink_device_info{interface="lan0",ip="\([^"]*\)",mac="\([^"]*\)",type="[^"]*",build="\([^"]*\)"} 1$/\1 \2 \3/p' "$prom" | sort)
    want=$(want_listed)
    # Every device answering within --wait listed, nothing else; one of two MACs on an address
    # (the host holds one); a truncated scan lists no absent device; one that could not run none.
    case $rc in
    # 6: the state could not be recorded (its lock held past the wait); the scan itself ran and
    # its devices are written, as after a full disk for the state.
    0 | 6) check listed "$(differ "$want" "$(grep -v -E "^($(shared_ips | sed 's/[.]/[.]/g' | paste -sd'|' -)) " <<<"$listed")")$(
        for ip in $(shared_ips); do
            # The host holds one MAC an address: a scan names either, or both when the entry
            # changed while it ran, never another.
            grep "^$ip " <<<"$listed" | cut -d' ' -f1,2 | grep -q . || echo "$ip not listed"
            grep "^$ip " <<<"$listed" | cut -d' ' -f1,2 | grep -v -x -F -f <(printf '%s\n' "${!shared[@]}")
        done)" ;;
    3) check listed "$(cmp -s "$prom" "$work/before.prom" || echo "the output changed on a full disk")" ;;
    7) check listed "$(comm -23 <(echo "$listed") <({ want_listed; for key in "${!shared[@]}"; do echo "$key 1.0"; done; } | sort) | tr '\n' ' ')" ;;
    *) check listed "$(grep -q '^orvalink_scan_success{interface="lan0"} 0$' "$prom" && ! grep -q '^orvalink_device_info' "$prom" ||
        echo "a scan that could not run wrote: $(grep -m1 '^orvalink_scan_success' "$prom")")" ;;
    esac
    duration=$(sed -n 's/^orvalink_scan_duration_seconds{interface="lan0"} //p' "$prom")
    [ $rc -eq 0 ] && check quick "$(awk -v d="$duration" -v m=$max_time 'BEGIN { exit d < m * 0.6 }' &&
        echo "the scan took $duration s of its $max_time s limit")"
    # No false new: a known device keeps its first-seen time (until it is forgotten).
    sed -n 's/^orvalink_device_first_seen_timestamp_seconds{interface="lan0",ip="\([^"]*\)",mac="\([^"]*\)"} /\1 \2 /p' "$prom" >"$work/seen.now"
    check new "$(awk 'NR == FNR { t[$1 " " $2] = $3; next } ($1 " " $2) in t && t[$1 " " $2] != $3 { printf "%s %s again; ", $1, $2 }' \
        "$work/first-seen" "$work/seen.now")"
    awk 'NR == FNR { t[$1 " " $2]; next } !(($1 " " $2) in t)' "$work/first-seen" "$work/seen.now" >>"$work/first-seen"
    [ $rc -eq 6 ] && return
    # No false gone: every present device the state knows has missed no scan; and no device
    # leaves the state but by --forget.
    want_listed >"$work/present"
    bounded "$limit" "$OLDISCOVERY_SCAN" --state "$state" --known >"$work/known" 2>&1
    check missed "$(awk -F'\t' 'NR == FNR { split($0, k, " "); p[k[1] " " k[2]]; next }
        ($1 " " $2) in p && $7 != 0 { printf "%s %s missed %s; ", $1, $2, $7 }' "$work/present" "$work/known")$(
        [ $rc -eq 0 ] || [ $rc -eq 7 ] && ! grep -q "^orvalink_scan_misses_counted{interface=\"lan0\"} $((rc == 0))\$" "$prom" &&
            echo "not told: $(grep -m1 '^orvalink_scan_misses_counted' "$prom")")"
    local lost refused
    lost=$(comm -23 <(printf '%s\n' "${!ever[@]}" | sort) <(cut -f1,2 "$work/known" | tr '\t' ' ' | sort))
    # The devices a full inventory did not keep are told.
    refused=$(comm -23 <(cut -d' ' -f1,2 <<<"$listed" | sort) <(cut -f1,2 "$work/known" | tr '\t' ' ' | sort) | grep -c .)
    check known "$([ -n "$lost" ] && tr '\n' ';' <<<"$lost")$([ $rc -eq 0 ] &&
        ! grep -q "^orvalink_known_refused_devices{interface=\"lan0\"} $refused\$" "$prom" &&
        echo "$refused not kept, told: $(grep -m1 '^orvalink_known_refused_devices' "$prom")")"
    while read -r key; do [ -n "$key" ] && unset "ever[$key]"; done <<<"$lost" # told once
    while IFS=$'\t' read -r ip mac _; do [ -n "$mac" ] && ever[$ip $mac]=1; done <"$work/known"
}

# --- The watch beside the scans; its events against those the actions bring.
ip netns exec "$NETNS_PREFIX-host" "$OLDISCOVERY_SCAN" -i lan0 --watch $watch_every --gone-after 2 --wait $wait_ms --max-time $max_time \
    --prometheus --output "$wprom" >"$events" 2>"$work/watch.err" &
watch_pid=$!
observed() {
    python3 -c 'import json, sys
for line in open(sys.argv[1]):
    e = json.loads(line)
    print(e["event"], e["ip"], e["mac"])' "$events" | sort
}
watch_scans() { # <n>: true once the watch replaced its output n more times, false at the bound
    local n=$1 last inode deadline=$((SECONDS + $1 * (watch_every + max_time + 2)))
    last=$(stat -c %i "$wprom" 2>/dev/null)
    while [ "$n" -gt 0 ] && [ $SECONDS -lt $deadline ]; do
        inode=$(stat -c %i "$wprom" 2>/dev/null)
        [ "$inode" != "$last" ] && last=$inode n=$((n - 1))
        sleep 0.05
    done
    [ "$n" -eq 0 ]
}
# The events told so far, once those expected are (or after a few scans of the watch), and its
# latest scan not stretched to its limit. A false event that comes later fails a later step.
check_events() {
    local want tries=4 duration
    want=$(printf '%s' "$expected_events" | sort)
    while [ -n "$(comm -23 <(echo "$want") <(observed))" ] && [ $tries -gt 0 ]; do
        watch_scans 1
        tries=$((tries - 1))
    done
    check events "$(differ "$want" "$(observed)")"
    expected_events=$(observed)$'\n' # a difference is told once, in its step
    duration=$(sed -n 's/^orvalink_scan_duration_seconds{interface="lan0"} //p' "$wprom")
    check quick "$(awk -v d="$duration" -v m=$max_time 'BEGIN { exit d < m * 0.6 }' &&
        echo "the watch's scan took $duration s of its $max_time s limit")"
}
watch_scans 1 || { echo "FAIL: the watch made no scan: $(cat "$work/watch.err")" >&2; exit 1; }

# The schedule's last action: one whole scan more of the watch, which brings nothing false; the
# known devices as the ground truth has them; the watch ended by SIGTERM.
finish() {
    local known want hwm rc
    watch_scans 1
    check_events
    known=$(bounded "$limit" "$OLDISCOVERY_SCAN" --state "$state" --known | cut -f1,2,5 | sort)
    want=$(for key in "${!ever[@]}"; do
        echo "${key/ /$'\t'}"$'\t'"$([ -n "${present[$key]+x}" ] && echo up || echo missing)"
    done | sort)
    check known "$(comm -23 <(echo "$want") <(echo "$known") | tr '\t\n' ' ;')$(
        [ "$(wc -l <<<"$known")" -gt $max_known ] && echo "more than $max_known known")"
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$watch_pid/status")
    echo "$hwm" >"$work/watch.hwm"
    check memory "$([ "${hwm:-0}" -gt $memory_kib ] && echo "the watch's resident memory $hwm KiB")"
    kill -TERM "$watch_pid"
    for _ in {1..100}; do kill -0 "$watch_pid" 2>/dev/null || break; sleep 0.05; done
    check bounded "$(kill -0 "$watch_pid" 2>/dev/null && echo "the watch still runs 5 s after SIGTERM")"
    wait "$watch_pid" 2>/dev/null
    rc=$?
    check exit "$([ $rc -ne 0 ] && echo "the watch's status after SIGTERM: $rc")"
}

# --- The schedule, step by step.
next=$SECONDS
while IFS="|" read -r -u 3 step actions count status xfail; do
    step=$(echo $step) xfail=$(echo $xfail) shown=""
    [ -z "$step" ] || [ "${step:0:1}" = "#" ] && continue
    IFS=';' read -r -a list <<<"$actions"
    for action in "${list[@]}"; do
        eval "$action" </dev/null || { echo "FAIL: $step: cannot $action" >&2; exit 1; }
    done
    for ((i = 0; i < count * scale; i++)); do
        if [ "$period" -gt 0 ]; then # the timer's cadence
            next=$((next + period))
            [ $SECONDS -lt $next ] && sleep $((next - SECONDS))
        fi
        scan $status
    done
    [ "$count" -gt 0 ] && check_events
    passed_marks
    echo "$step: done after $((SECONDS - started)) s"
done 3<"$here/chaos-schedule"

summary() {
    echo "| check | passed | failed | known failures |"
    echo "|---|---:|---:|---:|"
    local name
    for name in bounded exit listed quick missed new memory events known; do
        echo "| $name | $(grep -o ' pass' <<<"${results[$name]:-}" | wc -l) | $(grep -oE ' (fail|xpass)' <<<"${results[$name]:-}" | wc -l) | $(grep -o ' xfail' <<<"${results[$name]:-}" | wc -l) |"
    done
    echo
    echo "$scans scheduled scans in $((SECONDS - started)) s; the largest scan $(sort -n "$work/rss.all" | tail -1) KiB, the watch $(cat "$work/watch.hwm") KiB at most."
}
summary
[ -n "$report" ] && summary >"$report"
[ $failures -eq 0 ] && echo "PASS: chaos run" && exit 0
echo "FAIL: $failures checks failed" >&2
exit 1
