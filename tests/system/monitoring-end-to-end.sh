#!/usr/bin/env bash
# Watching two sites from one place, with the real programs in a throw-away test network:
#
#   site a: devices (dev) -- bridge -- host: scan loop + node exporter --.
#                                                                       mon: Prometheus + rules
#   site b: devices (b-dev) - bridge -- b-host: scan loop + node exporter '
#
# Each site host runs the ExecStart line of oldiscovery-scan@.service (read from the unit file,
# with the unit's capability bounding set, no new privileges and umask) again and again, as its
# timer would, and a real prometheus-node-exporter with only the textfile collector on the
# unit's output folder. The central Prometheus scrapes both and evaluates the shipped alert rules,
# their "for" times read as seconds instead of minutes (one scan a second here instead of one a
# minute). Through its HTTP API: every device of both sites is a series with the right labels;
# after one device stops answering, OrvalinkDeviceGone fires for it and for no other.
# usage: end-to-end.sh <oldiscovery-scan@.service> <rules file>
#   (ORVALINK_SIM and OLDISCOVERY_SCAN name the programs)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY_SCAN:?}"
unit=${1:?usage: end-to-end.sh <unit file> <rules file>}
rules=${2:?usage: end-to-end.sh <unit file> <rules file>}
started=$(date +%s)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || netns_skip "network namespaces need root"
missing=()
for tool in prometheus prometheus-node-exporter setpriv /usr/bin/python3; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
[ ${#missing[@]} -eq 0 ] || fail "missing ${missing[*]} (scripts/install-deps installs them)"
getent passwd prometheus >/dev/null || fail "no user prometheus (the prometheus package makes it)"

# --- What the unit runs, and with which rights.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
textfile_dir=$(sed -n 's/^ReadWritePaths=//p' "$unit")
bounding=$(sed -n 's/^CapabilityBoundingSet=//p' "$unit")
unit_umask=$(sed -n 's/^UMask=//p' "$unit")
[ -n "$exec_start" ] && [ -n "$textfile_dir" ] && [ -n "$bounding" ] ||
    fail "$unit lacks ExecStart, ReadWritePaths or CapabilityBoundingSet"
grep -qx 'NoNewPrivileges=yes' "$unit" || fail "$unit does not set NoNewPrivileges=yes"
case " $exec_start " in
*" $textfile_dir/"*) ;;
*) fail "ExecStart writes outside ReadWritePaths ($textfile_dir): $exec_start" ;;
esac
# CAP_NET_RAW CAP_X -> -all,+net_raw,+x for setpriv.
keep="-all"
for cap in $bounding; do
    cap=${cap,,}
    keep+=",+${cap#cap_}"
done

# unit_command <interface> <textfile folder>: the ExecStart line for that instance, as words.
unit_command() {
    local line=${exec_start//%i/$1}
    line=${line//$textfile_dir\//$2/}
    read -r -a command <<<"$line"
    command[0]=$OLDISCOVERY_SCAN
}

netns_setup
work=$NETNS_TMP
chmod 755 "$work"
loops=()
daemons=()
monitoring_cleanup() {
    local status=$? pid
    touch "$work/stop" 2>/dev/null
    for pid in "${loops[@]}" "${daemons[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${loops[@]}" "${daemons[@]}"; do
        wait "$pid" 2>/dev/null
    done
    echo "end-to-end run time: $(($(date +%s) - started)) s"
    (exit $status)
    netns_teardown
}
trap monitoring_cleanup EXIT

# --- The network: site a is the lab of netns_setup, site b a second one; mon reaches both.
netns_add_site b 10.79.0.10/16 || fail "second site"
netns_add_namespace mon || fail "central namespace"
netns_add_link mon a0 10.78.200.1/30 host up0 10.78.200.2/30 || fail "link to site a"
netns_add_link mon b0 10.78.200.5/30 b-host up0 10.78.200.6/30 || fail "link to site b"
netns_add_devices 10.77.1.1 3 --type "OL-2000" --build "1.2.3" || fail "devices of site a"
netns_add_devices_in b-dev 10.79.1.1 1 --type "OL-3000" --build "2.0.1" || fail "devices of site b"
netns_add_devices_in b-dev 10.79.1.2 1 --type "OL-3000" --build "2.0.1" || fail "devices of site b"
leaving_device=${NETNS_PIDS[-1]}

T=$'\t'
expected_devices="10.78.200.2:9100${T}lan0${T}10.77.1.1${T}02:00:0A:4D:01:01${T}OL-2000${T}1.2.3${T}1
10.78.200.2:9100${T}lan0${T}10.77.1.2${T}02:00:0A:4D:01:02${T}OL-2000${T}1.2.3${T}1
10.78.200.2:9100${T}lan0${T}10.77.1.3${T}02:00:0A:4D:01:03${T}OL-2000${T}1.2.3${T}1
10.78.200.6:9100${T}lan0${T}10.79.1.1${T}02:00:0A:4F:01:01${T}OL-3000${T}2.0.1${T}1
10.78.200.6:9100${T}lan0${T}10.79.1.2${T}02:00:0A:4F:01:02${T}OL-3000${T}2.0.1${T}1"

# --- Each site: a textfile folder that belongs to root, as Debian's does; the unit's command in
# a loop; the node exporter as the prometheus user, on the site's uplink address.
start_site() { # <namespace> <uplink address>
    local ns=$1 address=$2 dir="$work/$1-textfile"
    mkdir -m 755 "$dir"
    unit_command lan0 "$dir"
    (
        umask "${unit_umask:-0022}"
        while [ ! -e "$work/stop" ]; do
            ip netns exec "$NETNS_PREFIX-$ns" setpriv --no-new-privs --bounding-set="$keep" --inh-caps=-all \
                "${command[@]}" 2>>"$work/$ns-scan.log"
            echo "exit $?" >>"$work/$ns-scan.log"
        done
    ) &
    loops+=("$!")
    ip netns exec "$NETNS_PREFIX-$ns" setpriv --reuid=prometheus --regid=prometheus --init-groups \
        prometheus-node-exporter --collector.disable-defaults --collector.textfile \
        --collector.textfile.directory="$dir" --web.listen-address="$address:9100" \
        >"$work/$ns-node-exporter.log" 2>&1 &
    daemons+=("$!")
}
start_site host 10.78.200.2
start_site b-host 10.78.200.6

# --- The central Prometheus.
sed -E 's/^( +for: [0-9]+)m$/\1s/' "$rules" >"$work/rules.yml"
grep -qE '^ +for: [0-9]+s$' "$work/rules.yml" || fail "no \"for\" time to shorten in $rules"
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files:
  - $work/rules.yml
scrape_configs:
  - job_name: orvalink-sites
    static_configs:
      - targets: ['10.78.200.2:9100', '10.78.200.6:9100']
EOF
mkdir "$work/tsdb"
chown prometheus: "$work/tsdb"
chmod 644 "$work/rules.yml" "$work/prometheus.yml"
ip netns exec "$NETNS_PREFIX-mon" setpriv --reuid=prometheus --regid=prometheus --init-groups \
    prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
    --web.listen-address=10.78.200.1:9090 >"$work/prometheus.log" 2>&1 &
daemons+=("$!")

api() {
    netns_exec mon /usr/bin/python3 "$here/prometheus-api.py" http://10.78.200.1:9090 "$@" 2>/dev/null
}

show_logs() {
    local file
    for file in "$work"/*.log; do
        echo "--- $(basename "$file") (last lines)" >&2
        tail -n 15 "$file" >&2
    done
}

# wait_for <seconds> <expected> <api arguments...>: polls until the API's answer is expected.
wait_for() {
    local seconds=$1 expected=$2; shift 2
    local deadline=$(($(date +%s) + seconds))
    answer=""
    while [ "$(date +%s)" -lt "$deadline" ]; do
        answer=$(api "$@") && [ "$answer" = "$expected" ] && return 0
        sleep 0.5
    done
    return 1
}

labels=(instance interface ip mac type build)
if ! wait_for 60 "$expected_devices" query orvalink_device_info "${labels[@]}"; then
    show_logs
    echo "--- expected" >&2; printf '%s\n' "$expected_devices" >&2
    echo "--- Prometheus has" >&2; printf '%s\n' "$answer" >&2
    fail "the devices of both sites did not all become series with the right labels"
fi
echo "every device of both sites is a series, after $(($(date +%s) - started)) s"
answer=$(api query 'orvalink_scan_success' instance interface)
[ "$answer" = "10.78.200.2:9100${T}lan0${T}1
10.78.200.6:9100${T}lan0${T}1" ] || fail "orvalink_scan_success is not 1 for both sites: $answer"
echo "scan duration at the sites (s): $(api query 'orvalink_scan_duration_seconds' instance | tr '\n\t' '  ')"
answer=$(api alerts OrvalinkDeviceGone ip)
[ -z "$answer" ] || fail "a gone alert while every device answers: $answer"

# --- One device of site b stops answering.
kill "$leaving_device"
wait "$leaving_device" 2>/dev/null
if ! wait_for 60 "10.78.200.6:9100${T}lan0${T}10.79.1.2${T}02:00:0A:4F:01:02${T}firing" \
    alerts OrvalinkDeviceGone instance interface ip mac; then
    show_logs
    echo "--- firing OrvalinkDeviceGone alerts" >&2; printf '%s\n' "$answer" >&2
    fail "OrvalinkDeviceGone did not fire for 10.79.1.2 alone"
fi
echo "OrvalinkDeviceGone fires for 10.79.1.2, after $(($(date +%s) - started)) s"
answer=$(api query 'count by (instance) (orvalink_device_info)' instance)
[ "$answer" = "10.78.200.2:9100${T}3
10.78.200.6:9100${T}1" ] || fail "the other devices do not stay: $answer"
grep -v '^exit 0$' "$work/host-scan.log" "$work/b-host-scan.log" >&2 && fail "scans wrote errors or failed"
echo "PASS: end-to-end"
exit 0
