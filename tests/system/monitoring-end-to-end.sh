#!/usr/bin/env bash
# Watching two sites from one place, with the real programs in a throw-away test network:
#
#   site a: devices (dev) -- bridge -- host: scan loop + node exporter --.   mon: Prometheus +
#                                                                       +-- rules, Alertmanager,
#   site b: devices (b-dev) - bridge -- b-host: scan loop + node exporter '   webhook stand-in
#
# Each site host runs the ExecStart line of oldiscovery-scan@.service (read from the unit file,
# with the unit's capability bounding set, no new privileges and umask) again and again, as its
# timer would, and a real prometheus-node-exporter with only the textfile collector on the
# unit's output folder. The central Prometheus scrapes both and evaluates the shipped alert rules,
# their "for" times read as seconds instead of minutes (one scan a second here instead of one a
# minute; the state file in a folder of the test). Alertmanager runs the shipped example's routes
# and inhibitions, its receivers pointed at a webhook stand-in that records each notification.
# Through Prometheus's HTTP API: every device of both sites is a series with the right labels;
# two MACs on one address raise OrvalinkAddressConflict; a device that stops answering raises
# OrvalinkDeviceGone for it alone, still firing a minute later (the old rule's hour, scaled); a
# segment whose devices all fall silent raises one OrvalinkSegmentDark and one notification, no
# alert per device; its interface taken down raises OrvalinkScanFailing, not OrvalinkScanStale;
# a node exporter stopped raises OrvalinkScannerDown.
# usage: end-to-end.sh <oldiscovery-scan@.service> <rules file> <Alertmanager example>
#   (ORVALINK_SIM and OLDISCOVERY_SCAN name the programs)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY_SCAN:?}"
unit=${1:?usage: end-to-end.sh <unit file> <rules file>}
rules=${2:?usage: end-to-end.sh <unit file> <rules file> <Alertmanager example>}
alertmanager_example=${3:?usage: end-to-end.sh <unit file> <rules file> <Alertmanager example>}
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
site_a_devices=${NETNS_PIDS[0]}
# Two devices that both take 10.79.1.9.
for mac in 02:00:00:00:09:01 02:00:00:00:09:02; do
    _netns_start b-dev --interface eth0 --device "10.79.1.9,$mac" --type "OL-3000" --build "2.0.1" ||
        fail "conflicting devices of site b"
done

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
    mkdir -m 700 "$work/$ns-state"
    unit_command lan0 "$dir" "$work/$ns-state"
    (
        umask "${unit_umask:-0022}"
        # At most one scan a second, as a timer would start them: a scan that fails at once
        # does not make this a busy loop.
        while [ ! -e "$work/stop" ]; do
            sleep 1 &
            ip netns exec "$NETNS_PREFIX-$ns" setpriv --no-new-privs --bounding-set="$keep" --inh-caps=-all \
                "${command[@]}" 2>>"$work/$ns-scan.log"
            echo "exit $?" >>"$work/$ns-scan.log"
            wait $!
        done
    ) &
    loops+=("$!")
    ip netns exec "$NETNS_PREFIX-$ns" setpriv --reuid=prometheus --regid=prometheus --init-groups \
        prometheus-node-exporter --collector.disable-defaults --collector.textfile \
        --collector.textfile.directory="$dir" --web.listen-address="$address:9100" \
        >"$work/$ns-node-exporter.log" 2>&1 &
    daemons+=("$!")
    exporters+=("$!")
}
exporters=()
start_site host 10.78.200.2
start_site b-host 10.78.200.6

# --- The central Prometheus.
# Minutes become seconds: the "for" times, and the five minutes after which a scan is stale.
sed -E 's/^( +for: [0-9]+)m$/\1s/; s/ > 300\)/ > 5)/' "$rules" >"$work/rules.yml"
grep -qE '^ +for: [0-9]+s$' "$work/rules.yml" || fail "no \"for\" time to shorten in $rules"
grep -q ' > 5)' "$work/rules.yml" || fail "no stale time to shorten in $rules"
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files:
  - $work/rules.yml
alerting:
  alertmanagers:
    - static_configs:
        - targets: ['10.78.200.1:9093']
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

# --- Alertmanager: the example's routes and inhibitions; every receiver a webhook to the
# stand-in, which writes each notification as one line of JSON. Seconds instead of minutes.
python3 - "$alertmanager_example" >"$work/alertmanager.yml" <<'PY' || fail "cannot adapt $alertmanager_example"
import sys, yaml
config = yaml.safe_load(open(sys.argv[1]))
config.pop("global", None)
for receiver in config["receivers"]:
    for key in [k for k in receiver if k.endswith("_configs")]:
        del receiver[key]
    receiver["webhook_configs"] = [{"url": "http://10.78.200.1:9095/", "send_resolved": True}]
def scaled(route):
    route.update({k: "1s" for k in ("group_wait", "group_interval") if k in route or route is config["route"]})
    route["repeat_interval"] = "1h"
    for child in route.get("routes", []):
        scaled(child)
scaled(config["route"])
yaml.safe_dump(config, sys.stdout)
PY
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
chmod 644 "$work/alertmanager.yml"
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

# expect_alerts <seconds> <alert> <expected "label... state" lines> <labels...>: waits until the
# firing alerts of that name are exactly the expected ones, or fails.
expect_alerts() {
    local seconds=$1 alert=$2 expected=$3; shift 3
    if ! wait_for "$seconds" "$expected" alerts "$alert" "$@"; then
        show_logs
        echo "--- expected $alert" >&2; printf '%s\n' "$expected" >&2
        echo "--- firing $alert" >&2; printf '%s\n' "$answer" >&2
        fail "$alert is not as expected, after $(($(date +%s) - started)) s"
    fi
    echo "$alert as expected after $(($(date +%s) - started)) s: ${expected//$'\n'/; }"
}
A=10.78.200.2:9100
B=10.78.200.6:9100

labels=(instance interface ip mac type build)
if ! wait_for 60 "$expected_devices" query 'orvalink_device_info{ip!="10.79.1.9"}' "${labels[@]}"; then
    show_logs
    echo "--- expected" >&2; printf '%s\n' "$expected_devices" >&2
    echo "--- Prometheus has" >&2; printf '%s\n' "$answer" >&2
    fail "the devices of both sites did not all become series with the right labels"
fi
echo "every device of both sites is a series, after $(($(date +%s) - started)) s"
answer=$(api query 'orvalink_scan_success' instance interface)
[ "$answer" = "$A${T}lan0${T}1
$B${T}lan0${T}1" ] || fail "orvalink_scan_success is not 1 for both sites: $answer"
echo "scan duration at the sites (s): $(api query 'orvalink_scan_duration_seconds' instance | tr '\n\t' '  ')"
answer=$(api query 'orvalink_device_up == 1' ip)
[ "$(grep -vc 10.79.1.9 <<<"$answer")" = 5 ] || fail "not every device is up: $answer"

# --- Two MACs on one address (the host learns one at a time, so they take turns).
expect_alerts 60 OrvalinkAddressConflict "$B${T}lan0${T}10.79.1.9${T}firing" instance interface ip
answer=$(api alerts OrvalinkDeviceGone ip)
[ -z "$answer" ] || fail "a gone alert while every device answers: $answer"

# --- One device of site b stops answering; every device of site a does.
kill "$leaving_device" "$site_a_devices"
wait "$leaving_device" "$site_a_devices" 2>/dev/null
left=$(date +%s)
expect_alerts 60 OrvalinkDeviceGone "$B${T}lan0${T}10.79.1.2${T}02:00:0A:4F:01:02${T}firing" instance interface ip mac
expect_alerts 60 OrvalinkSegmentDark "$A${T}lan0${T}firing" instance interface
answer=$(api query 'count by (instance) (count by (instance, ip) (orvalink_device_info))' instance)
[ "$answer" = "$B${T}2" ] && [ "$(api query 'count(orvalink_device_up{ip="10.79.1.1"} == 1)')" = 1 ] ||
    fail "the other devices do not stay: $answer"

# One notification for the dark segment, no device alert under it. Alertmanager may still be
# on its way. (A device the first scan missed is new later: news, routed apart, left out here.)
notifications() {
    python3 - "$work/notifications.jsonl" "$A" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    n = json.loads(line)
    alerts = [a for a in n["alerts"] if a["labels"]["alertname"] != "OrvalinkNewDevice"]
    if n["groupLabels"].get("instance") == sys.argv[2] and alerts:
        print(n["status"], *sorted(a["labels"]["alertname"] + ":" + a["status"] for a in alerts))
PY
}
deadline=$(($(date +%s) + 30))
until [ -n "$(notifications)" ] || [ "$(date +%s)" -ge "$deadline" ]; do sleep 0.5; done
[ "$(notifications | head -n 1)" = "firing OrvalinkSegmentDark:firing" ] ||
    { show_logs; fail "the dark segment's first notification: $(notifications)"; }
grep -v '^exit 0$' "$work/host-scan.log" >&2 && fail "scans of site a wrote errors or failed"

# --- Site a's interface goes down: its scans fail (exit 2) but still write their file.
netns_host ip link set lan0 down
expect_alerts 60 OrvalinkScanFailing "$A${T}lan0${T}firing" instance interface
answer=$(api alerts OrvalinkScanStale instance)
[ -z "$answer" ] || fail "a failing scan is called stale: $answer"
answer=$(api alerts OrvalinkSegmentDark instance)
[ -z "$answer" ] || fail "a failing scan leaves a dark segment behind: $answer"

# --- The old rule forgot a silent device after an hour; scaled, that is a minute.
while [ "$(date +%s)" -lt $((left + 65)) ]; do sleep 1; done
expect_alerts 5 OrvalinkDeviceGone "$B${T}lan0${T}10.79.1.2${T}firing" instance interface ip
answer=$(api alerts OrvalinkScanStale instance)
[ -z "$answer" ] || fail "stale scans: $answer"
notifications | grep -q OrvalinkDeviceGone && fail "a device alert of site a was sent: $(notifications)"

# --- Site b's node exporter stops: one alert for the host, none of its scan alerts.
kill "${exporters[1]}"
expect_alerts 60 OrvalinkScannerDown "$B${T}firing" instance
for alert in OrvalinkScanStale OrvalinkDeviceGone; do
    answer=$(api alerts "$alert" instance)
    [ -z "$answer" ] || fail "$alert while the host cannot be scraped: $answer"
done
grep -v '^exit 0$' "$work/b-host-scan.log" >&2 && fail "scans of site b wrote errors or failed"
echo "PASS: end-to-end"
exit 0
