#!/usr/bin/env bash
# A short scan's fixed costs: how soon the discover request is out with a large --state file,
# the whole run of `--adaptive-end --state`, and the sync calls of one scan (the state written,
# and with --prometheus --output the output file too). Three simulated devices and a state of N
# known devices (default 100000, some 18 MB) in throw-away namespaces (scripts/netns-lib.sh).
# usage: bench/short-scan.sh [--devices N] [--runs 7] [--build DIR] [SCANNER...]
# SCANNER: oldiscovery-scan programs to compare, alternately (default: the build's). Root is
# needed (namespaces); strace times the request and counts the syncs. Prints one line per run.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
known=100000
runs=7
build="$here/build"
while [ $# -gt 0 ]; do
    case $1 in
        --devices) known=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || set -- "$build/cli/oldiscovery-scan"
export ORVALINK_SIM="$build/sim/orvalink-sim"
command -v strace >/dev/null || { echo "bench/short-scan.sh: strace is needed" >&2; exit 2; }

source "$here/scripts/netns-lib.sh"
netns_setup
netns_add_devices 10.77.1.1 3 --type "OL-Short" --build "1.0" || exit 1
big="$NETNS_TMP/big.state"
python3 - "$big" "$known" <<'PY'
import sys
n = int(sys.argv[2])
with open(sys.argv[1], "w") as f:
    f.write('{"format": "oldiscovery-known-devices", "version": 1, "devices": [')
    f.write(",".join('\n{"interface": "lan0", "ip": "10.200.%d.%d", "mac": "02:00:00:%02X:%02X:%02X", '
                     '"type": "OL-2000", "build": "1.0", "first_seen": 1796645123.456, '
                     '"last_seen": 1796645183.456, "missed": 0}'
                     % (i >> 8 & 255, i & 255, i >> 16 & 255, i >> 8 & 255, i & 255) for i in range(n)))
    f.write("\n]}\n")
PY
state="$NETNS_TMP/scan.state"
fresh() { cp "$big" "$state" && chmod 600 "$state"; }

for scanner in "$@"; do
    fresh
    for output in "" "--prometheus --output $NETNS_TMP/out.prom"; do
        # shellcheck disable=SC2086  # the output options are words
        syncs=$(netns_host strace -f -c -e trace=fsync,fdatasync,sync_file_range,syncfs "$scanner" \
            --interface lan0 --adaptive-end --state "$state" $output 2>&1 >/dev/null | awk '$NF == "total" {print $(NF-1)}')
        echo "$scanner ${output:+--output }syncs ${syncs:-0}"
    done
done
for run in $(seq 1 "$runs"); do
    for scanner in "$@"; do
        fresh
        whole=$(netns_host python3 -c '
import subprocess, sys, time
start = time.monotonic()
status = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
print("%.0f %d" % ((time.monotonic() - start) * 1e3, status))' "$scanner" --interface lan0 --adaptive-end --state "$state")
        fresh
        # From the program's start to the request (the packet socket's send) and to the state read.
        netns_host strace -f -ttt -s 256 -e trace=execve,sendto,openat -o "$NETNS_TMP/trace" "$scanner" \
            --interface lan0 --adaptive-end --state "$state" >/dev/null 2>&1
        marks=$(awk '
            /execve\(/ && !start { start = $2 }
            /sendto\(/ && /AF_PACKET/ && !sent { sent = $2 }
            /openat\(/ && /"scan\.state"/ && !/ENOENT/ && !read { read = $2 }
            END { printf "%.0f %.0f", (sent - start) * 1e3, (read - start) * 1e3 }' "$NETNS_TMP/trace")
        echo "$scanner run $run: whole-run-ms status ${whole} request-ms state-read-ms ${marks}"
    done
done
