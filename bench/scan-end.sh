#!/usr/bin/env bash
# How soon a scan ends, and what it found: oldiscovery-scan with its default end, with
# --adaptive-end and with --state --known-end (the devices known from an earlier scan), beside nmap -sn and
# arp-scan on the same known addresses and on the whole subnet that holds them; alternately, several
# runs each, for N simulated devices in throw-away namespaces (scripts/netns-lib.sh). A last row
# scans with the receive buffer a user without CAP_NET_ADMIN gets on a stock net.core.rmem_max
# (212992 bytes), with the simulator answering at once (--no-arp-first).
# usage: bench/scan-end.sh [--devices "10 1000 4000"] [--runs 5] [--build DIR] [--out FILE]
# Root is needed (namespaces); nmap and arp-scan are installed with apt-get when missing. Writes a
# Markdown table (default bench/results-scan-end.md) and prints it.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
sizes="10 1000 4000"
runs=5
build="$here/build"
out="$here/bench/results-scan-end.md"
while [ $# -gt 0 ]; do
    case $1 in
        --devices) sizes=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
        *) echo "bench/scan-end.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
export ORVALINK_SIM="$build/sim/orvalink-sim"
scanner="$build/cli/oldiscovery-scan"
[ -x "$ORVALINK_SIM" ] && [ -x "$scanner" ] || { echo "bench/scan-end.sh: build first" >&2; exit 2; }
for tool in nmap arp-scan; do
    command -v "$tool" >/dev/null 2>&1 ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$tool" >/dev/null ||
        { echo "bench/scan-end.sh: cannot install $tool" >&2; exit 2; }
done
source "$here/scripts/netns-lib.sh"

# timed <command...>: runs it in the host namespace; prints "ms found exit-status", found counting
# the output lines that name a device address (10.77.1.0 on; the router and the host are 10.77.0.x).
timed() {
    netns_host bash -c '
        start=$EPOCHREALTIME
        out=$("$@" 2>/dev/null)
        status=$?
        end=$EPOCHREALTIME
        found=$(grep -cE "(^|[^0-9.])10\.77\.([1-9]|[1-9][0-9])\.[0-9]+" <<<"$out")
        awk -v s="$start" -v e="$end" -v f="$found" -v r="$status" "BEGIN {printf \"%.1f %d %d\n\", (e - s) * 1000, f, r}"' \
        timed "$@"
}

: >"$out.tmp"
for devices in $sizes; do
    netns_setup
    netns_add_devices 10.77.1.1 "$devices" --type "OL-End" --build "1.0" || exit 1
    list="$NETNS_TMP/addresses"
    for i in $(seq 0 $((devices - 1))); do
        n=$((256 + 1 + i))  # 10.77.1.1 on: the simulator's addresses run on through .255 and .0
        echo "10.77.$((n / 256)).$((n % 256))"
    done >"$list"
    # The smallest subnet from 10.77.0.0 that holds them all.
    last=$((256 + devices))
    prefix=32
    while [ $((1 << (32 - prefix))) -le "$last" ]; do prefix=$((prefix - 1)); done
    subnet="10.77.0.0/$prefix"
    state="$NETNS_TMP/known.state"
    netns_host "$scanner" --state "$state" >/dev/null
    samples="$out.samples"
    : >"$samples"
    for run in $(seq 1 "$runs"); do
        for tool in default adaptive known nmap-list arp-list nmap-subnet arp-subnet; do
            case $tool in
                default) cmd=("$scanner") ;;
                adaptive) cmd=("$scanner" --adaptive-end) ;;
                known) cmd=("$scanner" --state "$state" --known-end) ;;
                nmap-list) cmd=(nmap -sn -n -iL "$list") ;;
                arp-list) cmd=(arp-scan --interface lan0 --plain --quiet --file "$list") ;;
                nmap-subnet) cmd=(nmap -sn -n "$subnet") ;;
                arp-subnet) cmd=(arp-scan --interface lan0 --plain --quiet "$subnet") ;;
            esac
            echo "$tool $(timed "${cmd[@]}")" | tee -a "$samples" >&2
        done
    done
    # The receive queue without CAP_NET_ADMIN on a stock net.core.rmem_max.
    netns_teardown
    netns_setup
    netns_add_devices 10.77.1.1 "$devices" --no-arp-first || exit 1
    for run in $(seq 1 "$runs"); do
        echo "small-buffer $(OLDISCOVERY_TEST_RCVBUF=212992 timed "$scanner")" | tee -a "$samples" >&2
    done
    for tool in default adaptive known nmap-list arp-list nmap-subnet arp-subnet small-buffer; do
        awk -v tool="$tool" -v n="$devices" -v subnet="$subnet" '
            function median(a, k,    i, j, t) {
                for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
                return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
            }
            $1 == tool { k++; ms[k] = $2; f[k] = $3; s[k] = $4; if (k == 1 || $3 < least) least = $3 }
            END {
                split("oldiscovery-scan|oldiscovery-scan --adaptive-end|oldiscovery-scan --state --known-end (all known)|nmap -sn|arp-scan|nmap -sn|arp-scan|oldiscovery-scan, 212992-byte buffer, --no-arp-first", names, "|")
                split("default adaptive known nmap-list arp-list nmap-subnet arp-subnet small-buffer", tools, " ")
                for (i in tools) if (tools[i] == tool) name = names[i]
                target = tool ~ /-list$/ ? "the " n " addresses" : tool ~ /-subnet$/ ? subnet : "broadcast"
                codes = ""
                for (i = 1; i <= k; i++) codes = codes (i > 1 ? "," : "") s[i]
                printf "| %d | %s | %s | %.0f | %d | %d | %s |\n", n, name, target, median(ms, k), median(f, k), least, codes
            }' "$samples" >>"$out.tmp"
    done
    netns_teardown
done
{
    echo "| N | tool | asked | whole run, ms (median) | found (median) | found (least) | exit statuses |"
    echo "|---:|---|---|---:|---:|---:|---|"
    cat "$out.tmp"
} >"$out"
rm -f "$out.tmp" "$out.samples"
cat "$out"
