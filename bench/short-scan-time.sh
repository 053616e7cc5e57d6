#!/usr/bin/env bash
# The time of a short scan: oldiscovery-scan --adaptive-end against N simulated devices in
# throw-away namespaces (scripts/netns-lib.sh), run after run; with --before another build's
# oldiscovery-scan, the two alternately, so that both meet the same load.
# usage: bench/short-scan-time.sh [--devices 10] [--runs 41] [--build DIR] [--before PROGRAM]
# Root is needed (namespaces). Prints per program the median and the quartiles of the whole run,
# from just before the program starts to its end, inside the host namespace, and what it found.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
devices=10
runs=41
build="$here/build"
before=""
while [ $# -gt 0 ]; do
    case $1 in
        --devices) devices=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --before) before=$2; shift 2 ;;
        -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
        *) echo "bench/short-scan-time.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
export ORVALINK_SIM="$build/sim/orvalink-sim"
scanner="$build/cli/oldiscovery-scan"
[ -x "$ORVALINK_SIM" ] && [ -x "$scanner" ] || { echo "bench/short-scan-time.sh: build first" >&2; exit 2; }
[ -z "$before" ] || [ -x "$before" ] || { echo "bench/short-scan-time.sh: $before is no program" >&2; exit 2; }
source "$here/scripts/netns-lib.sh"

# timed <label> <program>: one run; prints "label ms found".
timed() {
    netns_host bash -c '
        start=$EPOCHREALTIME
        found=$("$1" --adaptive-end 2>/dev/null | grep -c "10\.77\.")
        end=$EPOCHREALTIME
        awk -v s="$start" -v e="$end" -v f="$found" "BEGIN {printf \"%.1f %d\n\", (e - s) * 1000, f}"' \
        timed "$2" | sed "s/^/$1 /"
}

netns_setup
netns_add_devices 10.77.1.1 "$devices" --type "OL-Short" --build "1.0" || exit 1
samples="$NETNS_TMP/samples"
: >"$samples"
timed warm "$scanner" >/dev/null
for run in $(seq 1 "$runs"); do
    timed this "$scanner" >>"$samples"
    [ -z "$before" ] || timed before "$before" >>"$samples"
done
for label in this before; do
    sort -k2,2n "$samples" | awk -v label="$label" -v n="$devices" '
        $1 == label { k++; ms[k] = $2; if (k == 1 || $3 < least) least = $3 }
        END {
            if (!k) exit
            printf "%s: %d runs, %d devices: whole run median %.1f ms (quartiles %.1f, %.1f), found at least %d\n",
                label, k, n, ms[int((k + 1) / 2)], ms[int((k + 3) / 4)], ms[int((3 * k + 1) / 4)], least
        }'
done
