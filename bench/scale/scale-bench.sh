#!/usr/bin/env bash
# Scale benchmark: N simulated devices (default 1000) answer one discover request at once; one
# oldiscovery-scan run in the host namespace must list all of them.
# usage: scale-bench.sh [devices] [runs] [oldiscovery-scan options...]
#        (ORVALINK_SIM and OLDISCOVERY_SCAN name the programs)
# Above 64,000 devices the rest answer from a second subnet of the host's interface, 10.76.0.0/16.
# SCALE_LOG=0 runs the scan without --log: five diagnostic lines per device are a write each,
# which on a busy 2-core machine takes the CPU the simulator needs to answer 100,000 devices.
# SCALE_SIM adds orvalink-sim options, e.g. "--no-arp-first": one process answering for every
# device, the simulator otherwise also sends an ARP request per device first, and the host's
# kernel works through 128,000 of them with a neighbour table of gc_thresh3 entries.
# Prints devices found / present, the whole scan time, and the time from the last reply leaving
# the simulator to the end of the scan (the tool's exit). Exit 1 when a run missed a device.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY_SCAN:?}"
count=${1:-1000}
runs=${2:-3}
shift 2 2>/dev/null || shift $#

netns_setup
report="$NETNS_TMP/report"
second=()
if [ "$count" -gt 64000 ]; then
    netns_host ip addr add 10.76.0.10/16 dev lan0 || exit 1
    second=(--devices 10.76.1.1 $((count - 64000)))
fi
# shellcheck disable=SC2086
netns_add_devices 10.77.1.1 $((count > 64000 ? 64000 : count)) "${second[@]}" ${SCALE_SIM:-} --type "OL-Scale" --build "1.0" \
    --report "$report" || exit 1

status=0
for run in $(seq 1 "$runs"); do
    rm -f "$report"
    log="$NETNS_TMP/scan.log"
    t0=$(date +%s%N)
    logging=(--log "$log")
    [ "${SCALE_LOG:-1}" = 0 ] && logging=()
    out=$(netns_host "$OLDISCOVERY_SCAN" "${logging[@]}" "$@")
    rc=$?
    t1=$(date +%s%N)
    found=$(printf '%s\n' "$out" | grep -c "OL-Scale")
    unique=$(printf '%s\n' "$out" | cut -f1 | sort -u | grep -c .)
    withMac=$(printf '%s\n' "$out" | cut -f2 | grep -c '^02:00:')
    last=$(awk '{print $4}' "$report" 2>/dev/null | tail -1)
    if [ -n "$last" ]; then
        tail_ms=$(((t1 - last) / 1000000))
    else
        tail_ms="?"
    fi
    echo "run $run: found $found / $count devices ($unique distinct, $withMac with MAC), scan ${rc:+exit $rc,} $(((t1 - t0) / 1000000)) ms total, $tail_ms ms from the last reply to the end of the scan"
    [ "$rc" -eq 0 ] && [ "$found" -eq "$count" ] && [ "$unique" -eq "$count" ] && [ "$withMac" -eq "$count" ] || status=1
done
exit $status
