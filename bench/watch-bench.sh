#!/usr/bin/env bash
# Watch benchmark: oldiscovery-scan --watch 1 --prometheus --output FILE for many scans against
# a lab of simulated devices in throw-away network namespaces (scripts/netns-lib.sh), nothing on
# the machine's own network. Samples the watcher's resident memory and CPU time as it goes, so a
# leak or a cost that grows with the number of scans shows; writes a Markdown report and prints it.
# Not a ctest test: a long run with a busy lab is a measurement, not a check.
#
# usage: bench/watch-bench.sh [--scans 600] [--devices 1000] [--every 100] [--build DIR] [--out FILE]
# Root is needed (namespaces).
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
scans=600
devices=1000
every=100
build="$here/build"
out="$here/bench/results-watch.md"
while [ $# -gt 0 ]; do
    case $1 in
        --scans) scans=$2; shift 2 ;;
        --devices) devices=$2; shift 2 ;;
        --every) every=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
        *) echo "watch-bench: unknown argument $1" >&2; exit 2 ;;
    esac
done
ORVALINK_SIM="$build/sim/orvalink-sim"
scanner="$build/cli/oldiscovery-scan"
[ -x "$ORVALINK_SIM" ] && [ -x "$scanner" ] || { echo "watch-bench: build first (missing $scanner or orvalink-sim)" >&2; exit 2; }
export ORVALINK_SIM
source "$here/scripts/netns-lib.sh"

netns_setup
netns_add_devices 10.77.1.1 "$devices" --type "OL-Watch" --build "1.0" || exit 1

prom="$NETNS_TMP/orvalink.prom"
events="$NETNS_TMP/events"
ip netns exec "$NETNS_PREFIX-host" "$scanner" --watch 1 --prometheus --output "$prom" >"$events" &
pid=$!
tick=$(getconf CLK_TCK)

# The watcher's resident memory in KiB and its CPU time (user + system) in ticks.
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }

# Every scan replaces the file in one rename: a new inode is a new scan.
done_scans=0
last_inode=""
samples=()
t0=$(date +%s%N)
deadline=$((SECONDS + scans * 5 + 60))
while [ "$done_scans" -lt "$scans" ]; do
    kill -0 "$pid" 2>/dev/null || { echo "watch-bench: the watcher ended early" >&2; exit 1; }
    [ "$SECONDS" -lt "$deadline" ] || { echo "watch-bench: too slow, $done_scans scans" >&2; exit 1; }
    inode=$(stat -c %i "$prom" 2>/dev/null || true)
    if [ -n "$inode" ] && [ "$inode" != "$last_inode" ]; then
        last_inode=$inode
        done_scans=$((done_scans + 1))
        if [ "$done_scans" -eq 1 ]; then
            first_cpu=$(cpu_ticks)
            first_ns=$(date +%s%N)
            found_first=$(grep -c '^orvalink_device_info' "$prom")
        fi
        if [ "$done_scans" -eq 1 ] || [ $((done_scans % every)) -eq 0 ]; then
            samples+=("$done_scans $(rss_kib) $(cpu_ticks)")
        fi
    fi
    sleep 0.05
done
last_cpu=$(cpu_ticks)
last_ns=$(date +%s%N)
found_last=$(grep -c '^orvalink_device_info' "$prom")
kill -TERM "$pid"
wait "$pid"
status=$?

appeared=$(grep -c '"event": "appeared"' "$events")
gone=$(grep -c '"event": "gone"' "$events")
changed=$(grep -c '"event": "changed"' "$events")
cpu_ms=$(awk -v a="$first_cpu" -v b="$last_cpu" -v t="$tick" -v n="$scans" 'BEGIN { printf "%.1f", (b - a) * 1000 / t / (n - 1) }')
wall_s=$(awk -v a="$first_ns" -v b="$last_ns" -v n="$scans" 'BEGIN { printf "%.3f", (b - a) / 1e9 / (n - 1) }')

{
    echo "# oldiscovery-scan --watch: memory and CPU over $scans scans"
    echo
    echo "\`oldiscovery-scan --watch 1 --prometheus --output FILE\` against $devices simulated devices"
    echo "(orvalink-sim in network namespaces), $(date -u +%Y-%m-%d), $(nproc) CPUs shared with other work."
    echo "Each scan ends one second after the last answer, so with \`--watch 1\` the scans run back to back."
    echo
    echo "| scans done | resident memory, KiB | CPU time so far, s |"
    echo "|---:|---:|---:|"
    for s in "${samples[@]}"; do
        read -r n rss cpu <<<"$s"
        echo "| $n | $rss | $(awk -v c="$cpu" -v t="$tick" 'BEGIN { printf "%.2f", c / t }') |"
    done
    echo
    echo "- CPU per scan (scans 2 to $scans): $cpu_ms ms; wall time per scan: $wall_s s"
    echo "- devices in the file: $found_first after the first scan, $found_last after the last"
    echo "- events: $appeared appeared, $gone gone, $changed changed; exit status after SIGTERM: $status"
} >"$out"
cat "$out"
