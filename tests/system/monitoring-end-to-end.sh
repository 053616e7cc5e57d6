#!/usr/bin/env bash
# Watching two sites from one place, incident by incident, with the real programs in a throw-away
# test network:
#
#   site a: devices (dev) -- bridge -- host: scan loop + node exporter --------.  mon: Prometheus
#                                                                             +-- + rules,
#   site b: devices (b-dev) - bridge -- b-host: scan loop + node exporter     |   Alertmanager,
#                                               + site Prometheus ------------'   webhook receiver
#
# Each site host runs the ExecStart line of oldiscovery-scan@.service (read from the unit file,
# with the unit's capability bounding set, no new privileges and umask) again and again, as its
# timer would, and a real prometheus-node-exporter with only the textfile collector on the unit's
# output folder. The central Prometheus scrapes site a's node exporter and federates site b's
# Prometheus, both as prometheus-example.yml shows, and evaluates the shipped rules; Alertmanager
# runs the shipped example's routes and inhibitions, every receiver a webhook that records each
# notification. Time runs 60 times faster: a scan a second stands for the timer's scan a minute,
# and every time of the rules, the examples and Prometheus's lookback is divided by 60
# (monitoring-configs.py), nothing else changed.
# Then one table of incidents is played in order. After each, the notifications sent so far,
# read as each alert's changes (fired, resolved), must be exactly those the table expects, and
# stay so for an Alertmanager group interval: none missing, none false.
# usage: monitoring-end-to-end.sh <oldiscovery-scan@.service> <rules file> <Alertmanager example> <Prometheus example>
#   (ORVALINK_SIM and OLDISCOVERY_SCAN name the programs)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY_SCAN:?}"
usage="usage: monitoring-end-to-end.sh <unit file> <rules file> <Alertmanager example> <Prometheus example>"
unit=${1:?$usage}
rules=${2:?$usage}
alertmanager_example=${3:?$usage}
prometheus_example=${4:?$usage}
factor=60
started=$(date +%s)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || netns_skip "network namespaces need root"
missing=()
for tool in prometheus prometheus-node-exporter prometheus-alertmanager setpriv /usr/bin/python3; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
[ ${#missing[@]} -eq 0 ] || fail "missing ${missing[*]} (scripts/install-deps installs them)"
python3 -c 'import yaml' 2>/dev/null || fail "missing python3-yaml (scripts/install-deps installs it)"
getent passwd prometheus >/dev/null || fail "no user prometheus (the prometheus package makes it)"

# --- What the unit runs, and with which rights.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
textfile_dir=$(sed -n 's/^ReadWritePaths=//p' "$unit")
bounding=$(sed -n 's/^CapabilityBoundingSet=//p' "$unit")
unit_umask=$(sed -n 's/^UMask=//p' "$unit")
state_dir=/var/lib/$(sed -n 's/^StateDirectory=//p' "$unit")
[ -n "$exec_start" ] && [ -n "$textfile_dir" ] && [ -n "$bounding" ] ||
    fail "$unit lacks ExecStart, ReadWritePaths or CapabilityBoundingSet"
grep -qx 'NoNewPrivileges=yes' "$unit" || fail "$unit does not set NoNewPrivileges=yes"
case " $exec_start " in
*" $textfile_dir/"*" $state_dir/"*) ;;
*) fail "ExecStart writes outside ReadWritePaths ($textfile_dir) and StateDirectory ($state_dir): $exec_start" ;;
esac
# CAP_NET_RAW CAP_X -> -all,+net_raw,+x for setpriv.
keep="-all"
for cap in $bounding; do
    cap=${cap,,}
    keep+=",+${cap#cap_}"
done

# unit_command <interface> <textfile folder> <state folder>: the ExecStart line for that
# instance, as words.
unit_command() {
    local line=${exec_start//%i/$1}
    line=${line//$textfile_dir\//$2/}
    line=${line//$state_dir\//$3/}
    read -r -a command <<<"$line"
    command[0]=$OLDISCOVERY_SCAN
}

netns_setup
work=$NETNS_TMP
chmod 755 "$work"
declare -A scans exporters devices
daemons=()
monitoring_cleanup() {
    local status=$? pid
    touch "$work/stop" 2>/dev/null
    for pid in "${scans[@]}" "${exporters[@]}" "${daemons[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${scans[@]}" "${exporters[@]}" "${daemons[@]}"; do
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
declare -A host_of=([a]=host [b]=b-host) address_of=([a]=10.78.200.2 [b]=10.78.200.6)

# start_device <site> <ip> <build> [mac [simulator option...]] / stop_device <site> <ip> [mac]:
# one simulated device.
start_device() {
    local ns=dev type=OL-2000
    [ "$1" = b ] && ns=b-dev type=OL-3000
    _netns_start "$ns" --interface eth0 --device "$2${4:+,$4}" --type "$type" --build "$3" "${@:5}" &&
        devices[$1/$2/${4:-}]=${NETNS_PIDS[-1]}
}
stop_device() {
    local key=$1/$2/${3:-}
    kill "${devices[$key]}" && wait "${devices[$key]}" 2>/dev/null
    unset "devices[$key]"
}
for ip in 10.77.1.1 10.77.1.2 10.77.1.3; do start_device a $ip 1.2.3 || fail "devices of site a"; done
# The fleet file both sites' scans read, as configuration management would spread it: site a's
# type has a baseline, and .8 comes and goes.
# fleet_file <approved builds of OL-2000>: the file, replaced in one step.
fleet_file() {
    printf '[approved]\n"OL-2000" = [%s]\n[devices."02:00:0A:4D:01:08"]\nname = "Visitor kiosk"\nexpect = "transient"\n' \
        "$1" >"$work/fleet.toml.new" && chmod 644 "$work/fleet.toml.new" && mv "$work/fleet.toml.new" "$work/fleet.toml"
}
fleet_file '"1.2.3", "1.2.4"' || fail "fleet file"
for ip in 10.79.1.1 10.79.1.2; do start_device b $ip 2.0.1 || fail "devices of site b"; done

# --- Each site: a textfile folder that belongs to root, as Debian's does; the unit's command in
# a loop, $work/<site>-scanning there while a scan runs; the node exporter as the prometheus user.
# take_turn <site> <n>: while $work/<site>-turns names an address and the MACs that take it, the
# host's neighbour entry for it set to the n-th of them in turn, under the lock that ends it.
take_turn() {
    (
        flock 9
        local ip macs
        read -r ip macs 2>/dev/null <"$work/$1-turns" || exit 0
        read -r -a macs <<<"$macs"
        ip netns exec "$NETNS_PREFIX-${host_of[$1]}" \
            ip neigh replace "$ip" lladdr "${macs[$2 % ${#macs[@]}]}" dev lan0 nud reachable
    ) 9>>"$work/$1-turns.lock"
}
start_scans() { # <site>
    local ns=${host_of[$1]} dir="$work/$1-textfile" scan=0
    unit_command lan0 "$dir" "$work/$1-state"
    command+=(--fleet "$work/fleet.toml")
    (
        umask "${unit_umask:-0022}"
        # At most one scan a second, as a timer would start them: a scan that fails at once
        # does not make this a busy loop.
        while [ ! -e "$work/stop" ] && [ ! -e "$work/$1-stop" ]; do
            sleep 1 &
            take_turn "$1" $((scan++))
            touch "$work/$1-scanning"
            ip netns exec "$NETNS_PREFIX-$ns" setpriv --no-new-privs --bounding-set="$keep" --inh-caps=-all \
                "${command[@]}" 2>>"$work/$1-scan.log"
            echo "exit $?" >>"$work/$1-scan.log"
            rm -f "$work/$1-scanning"
            wait $!
        done
    ) &
    scans[$1]=$!
}
start_exporter() { # <site>
    ip netns exec "$NETNS_PREFIX-${host_of[$1]}" setpriv --reuid=prometheus --regid=prometheus --init-groups \
        prometheus-node-exporter --collector.disable-defaults --collector.textfile \
        --collector.textfile.directory="$work/$1-textfile" --web.listen-address="${address_of[$1]}:9100" \
        >>"$work/$1-node-exporter.log" 2>&1 &
    exporters[$1]=$!
}
stop_exporter() { # <site>
    kill "${exporters[$1]}" && wait "${exporters[$1]}" 2>/dev/null
    unset "exporters[$1]"
}
for site in a b; do
    mkdir -m 755 "$work/$site-textfile"
    mkdir -m 700 "$work/$site-state"
    start_scans $site
    start_exporter $site
done

# --- Prometheus: site b's own scrapes its scanning host, the central one scrapes site a and
# federates site b, both from prometheus-example.yml. Alertmanager from its example; the
# webhook receiver writes each notification as one line of JSON.
configs() { python3 "$here/monitoring-configs.py" "$@"; }
configs rules "$rules" $factor >"$work/rules.yml" || fail "cannot scale $rules"
configs prometheus "$prometheus_example" $factor "$work/rules.yml" 10.78.200.1:9093 \
    SCRAPE=10.78.200.2:9100=a FEDERATE=10.78.200.6:9090=b >"$work/prometheus.yml" &&
    configs prometheus "$prometheus_example" $factor - - SCRAPE=10.78.200.6:9100 >"$work/b-prometheus.yml" ||
    fail "cannot adapt $prometheus_example"
configs alertmanager "$alertmanager_example" $factor http://10.78.200.1:9095/ >"$work/alertmanager.yml" ||
    fail "cannot adapt $alertmanager_example"
chmod 644 "$work"/*.yml
# prometheus <namespace> <name> <address> <config>: Prometheus as the prometheus user, its lookback
# (five minutes) and the wait before it sends an alert again (a minute) divided by the factor.
prometheus() {
    mkdir "$work/$2-tsdb"
    chown prometheus: "$work/$2-tsdb"
    ip netns exec "$NETNS_PREFIX-$1" setpriv --reuid=prometheus --regid=prometheus --init-groups \
        prometheus --config.file="$4" --storage.tsdb.path="$work/$2-tsdb" --web.listen-address="$3" \
        --query.lookback-delta=$((300000 / factor))ms --rules.alert.resend-delay=$((60000 / factor))ms \
        >"$work/$2.log" 2>&1 &
    daemons+=("$!")
}
prometheus b-host b-prometheus 10.78.200.6:9090 "$work/b-prometheus.yml"
prometheus mon prometheus 10.78.200.1:9090 "$work/prometheus.yml"
cat >"$work/webhook.py" <<'PY'
import http.server, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        with open(sys.argv[1], "ab") as out:
            out.write(body.replace(b"\n", b" ") + b"\n")
        self.send_response(200)
        self.end_headers()
    def log_message(self, *args):
        pass
http.server.HTTPServer(("10.78.200.1", 9095), Handler).serve_forever()
PY
: >"$work/notifications.jsonl"
netns_exec mon /usr/bin/python3 "$work/webhook.py" "$work/notifications.jsonl" >"$work/webhook.log" 2>&1 &
daemons+=("$!")
mkdir "$work/alertmanager"
chown prometheus: "$work/alertmanager"
ip netns exec "$NETNS_PREFIX-mon" setpriv --reuid=prometheus --regid=prometheus --init-groups \
    prometheus-alertmanager --config.file="$work/alertmanager.yml" --storage.path="$work/alertmanager" \
    --web.listen-address=10.78.200.1:9093 --cluster.listen-address= >"$work/alertmanager.log" 2>&1 &
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

# The alerts' changes the notifications told, in order: "<fired|resolved> <alert> <site> <ip>
# <mac>", or the interface for an alert about one, or nothing more for one about a host or site.
events() {
    python3 - "$work/notifications.jsonl" <<'PY'
import json, sys
told = {}
for line in open(sys.argv[1]):
    for alert in json.loads(line)["alerts"]:
        labels = alert["labels"]
        subject = [labels.get(k) for k in ("ip", "mac") if k in labels] or [labels.get("interface", "")]
        key = " ".join([labels["alertname"].removeprefix("Orvalink"), labels.get("site", "")] + subject).strip()
        if told.get(key, "resolved") != alert["status"]:
            print({"firing": "fired", "resolved": "resolved"}[alert["status"]], key)
        told[key] = alert["status"]
PY
}

T=$'\t'
expected_devices="a${T}10.78.200.2:9100${T}lan0${T}10.77.1.1${T}02:00:0A:4D:01:01${T}OL-2000${T}1.2.3${T}1
a${T}10.78.200.2:9100${T}lan0${T}10.77.1.2${T}02:00:0A:4D:01:02${T}OL-2000${T}1.2.3${T}1
a${T}10.78.200.2:9100${T}lan0${T}10.77.1.3${T}02:00:0A:4D:01:03${T}OL-2000${T}1.2.3${T}1
b${T}10.78.200.6:9100${T}lan0${T}10.79.1.1${T}02:00:0A:4F:01:01${T}OL-3000${T}2.0.1${T}1
b${T}10.78.200.6:9100${T}lan0${T}10.79.1.2${T}02:00:0A:4F:01:02${T}OL-3000${T}2.0.1${T}1"
deadline=$(($(date +%s) + 60))
until answer=$(api query orvalink_device_info site instance interface ip mac type build) &&
    [ "$answer" = "$expected_devices" ]; do
    [ "$(date +%s)" -lt "$deadline" ] || { show_logs; fail "the devices of both sites did not all become series with their site: $answer"; }
    sleep 0.5
done
answer=$(api query node_textfile_scrape_error site)
[ "$answer" = "a${T}0
b${T}0" ] || fail "the textfile collector's errors do not reach the rules: $answer"
echo "every device of both sites is a series, after $(($(date +%s) - started)) s"

# --- The incidents' actions.
conflict() { # two devices take 10.79.1.9
    # Neither asks for the host's address before it answers: the ARP requests of the two, a
    # moment apart, would set the host's entry to whichever came last, scan after scan.
    start_device b 10.79.1.9 2.0.1 02:00:00:00:09:01 --no-arp-first &&
        start_device b 10.79.1.9 2.0.1 02:00:00:00:09:02 --no-arp-first || return 1
    # The host keeps one MAC per address, and which one its neighbour timers let through, scan by
    # scan, runs on the kernel's clock, not on the test's sixty-times-fast one: the entry is set
    # to each MAC in turn before each scan, as scans a minute apart find them. (Turns on a clock
    # of their own beat against the scans' and can leave one MAC out for longer than the rule's
    # window.)
    echo "10.79.1.9 02:00:00:00:09:01 02:00:00:00:09:02" >"$work/b-turns"
}
conflict_ends() { # the second leaves; the host forgets its MAC at once, not after its ARP times
    stop_device b 10.79.1.9 02:00:00:00:09:02 &&
        (flock 9 && rm "$work/b-turns" && netns_exec b-host ip neigh flush dev lan0) 9>>"$work/b-turns.lock"
}
link() { netns_exec "$@"; }
forget_during_scan() { # <site> <mac>: oldiscovery-scan --forget while the unit's scan runs
    local deadline=$(($(date +%s) + 10))
    until [ -e "$work/$1-scanning" ] || [ "$(date +%s)" -ge "$deadline" ]; do sleep 0.05; done
    ip netns exec "$NETNS_PREFIX-${host_of[$1]}" "$OLDISCOVERY_SCAN" --state "$work/$1-state/lan0.state" --forget "$2"
}
retire() { # <site>: the timer disabled, the result file replaced by the retired marker
    touch "$work/$1-stop"
    wait "${scans[$1]}"
    unset "scans[$1]"
    printf 'orvalink_interface_retired{interface="lan0"} 1\n' >"$work/$1-textfile/orvalink-lan0.prom.tmp" &&
        mv "$work/$1-textfile/orvalink-lan0.prom.tmp" "$work/$1-textfile/orvalink-lan0.prom"
}
missed_is() { # <site> <ip> <count>: the known-devices entry's missed scans
    python3 -c 'import json, sys
entries = [d["missed"] for d in json.load(open(sys.argv[1]))["devices"] if d["ip"] == sys.argv[2]]
sys.exit(entries != [int(sys.argv[3])] and f"missed {entries}, not {sys.argv[3]}")' \
        "$work/$1-state/lan0.state" "$2" "$3"
}
A1=02:00:0A:4D:01:01 A2=02:00:0A:4D:01:02 A8=02:00:0A:4D:01:08 B2=02:00:0A:4F:01:02 C1=02:00:00:00:09:01 C2=02:00:00:00:09:02

# --- The incidents, played in order: name | action | the notifications it brings, ";" between
# them | what must hold afterwards. Each device alert holds through the scanning outages.
incidents="
new device | start_device a 10.77.1.7 1.2.3 | fired NewDevice a 10.77.1.7 02:00:0A:4D:01:07
address conflict | conflict | fired AddressConflict b 10.79.1.9; fired NewDevice b 10.79.1.9 $C1; fired NewDevice b 10.79.1.9 $C2
conflict ends, its device gone | conflict_ends | resolved AddressConflict b 10.79.1.9; fired DeviceGone b 10.79.1.9 $C2
device silent | stop_device b 10.79.1.2 | fired DeviceGone b 10.79.1.2 $B2
device back | start_device b 10.79.1.2 2.0.1 | resolved DeviceGone b 10.79.1.2 $B2 | missed_is b 10.79.1.2 0
device silent again | stop_device b 10.79.1.2 | fired DeviceGone b 10.79.1.2 $B2
federated site unreachable | link mon ip link set b0 down | fired SiteUnreachable b
federated site back | link mon ip link set b0 up | resolved SiteUnreachable b
forget during a scan | forget_during_scan b $C2 | resolved DeviceGone b 10.79.1.9 $C2
device back after the outage | start_device b 10.79.1.2 2.0.1 | resolved DeviceGone b 10.79.1.2 $B2
device of site a silent | stop_device a 10.77.1.2 | fired DeviceGone a 10.77.1.2 $A2
build change | stop_device a 10.77.1.1; start_device a 10.77.1.1 1.2.4 | fired BuildChanged a 10.77.1.1 $A1
node exporter stopped | stop_exporter a | fired ScannerDown a
node exporter back | start_exporter a | resolved ScannerDown a
build change an hour old | : | resolved BuildChanged a 10.77.1.1 $A1
interface down while a device is gone | link host ip link set lan0 down | fired ScanFailing a lan0
interface up | link host ip link set lan0 up | resolved ScanFailing a lan0
site dark | stop_device a 10.77.1.1; stop_device a 10.77.1.3; stop_device a 10.77.1.7 | fired SegmentDark a lan0
site back | start_device a 10.77.1.1 1.2.4; start_device a 10.77.1.3 1.2.3; start_device a 10.77.1.7 1.2.3 | resolved SegmentDark a lan0
unapproved build | start_device a 10.77.1.8 9.9.9 | fired NewDevice a 10.77.1.8 $A8; fired BuildNotApproved a 10.77.1.8 $A8
baseline takes the build in | fleet_file '\"1.2.3\", \"1.2.4\", \"9.9.9\"' | resolved BuildNotApproved a 10.77.1.8 $A8
transient device leaves | stop_device a 10.77.1.8 |
interface retired | retire a | resolved DeviceGone a 10.77.1.2 $A2
"
# Alertmanager tells a change at its next group interval: that long without a false one.
quiet=$((300 / factor + 2))
expected=""
while IFS='|' read -r name action brings then; do
    [ -n "$name" ] || continue
    name=$(echo $name)
    eval "$action" </dev/null || fail "$name: $action"
    [ -z "${brings// /}" ] || expected+=$(sed 's/ *; */\n/g; s/^ *//; s/ *$//' <<<"$brings")$'\n'
    want=$(sort <<<"${expected%$'\n'}")
    deadline=$(($(date +%s) + 90))
    until [ -z "$(comm -13 <(events | sort) <(echo "$want"))" ] || [ "$(date +%s)" -ge "$deadline" ]; do
        sleep 0.5
    done
    until=$(($(date +%s) + quiet))
    while [ "$(events | sort)" = "$want" ] && [ "$(date +%s)" -lt "$until" ]; do sleep 0.5; done
    if [ "$(events | sort)" != "$want" ]; then
        show_logs
        echo "--- notifications expected (-) and sent (+)" >&2
        diff <(echo "$want") <(events | sort) >&2
        fail "$name, after $(($(date +%s) - started)) s"
    fi
    [ -z "${then// /}" ] || eval "$then" || fail "$name: $then"
    echo "$name: as expected after $(($(date +%s) - started)) s"
done <<<"$incidents"
echo "PASS: end-to-end"
exit 0
