#!/usr/bin/env bash
# Time to the first line: how soon a person sees the first device. N simulated devices (default
# 10) in throw-away namespaces (scripts/netns-lib.sh); oldiscovery-scan streaming (--stream),
# oldiscovery-scan sorted (its output at the end of the scan) and arp-scan over the same
# addresses, alternately, several runs each. Each run is timed inside the host namespace from just
# before the program starts to its first line of output, to the line by which 90 % of its lines
# were out, and to its end.
# usage: bench/first-line.sh [--devices N] [--runs 7] [--build DIR] [--out FILE]
# Root is needed (namespaces); arp-scan is installed with apt-get when missing. Writes a Markdown
# table (default bench/results-first-line.md) and prints it.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
devices=10
runs=7
build="$here/build"
out="$here/bench/results-first-line.md"
while [ $# -gt 0 ]; do
    case $1 in
        --devices) devices=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
        *) echo "bench/first-line.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
export ORVALINK_SIM="$build/sim/orvalink-sim"
scanner="$build/cli/oldiscovery-scan"
[ -x "$ORVALINK_SIM" ] && [ -x "$scanner" ] || { echo "bench/first-line.sh: build first" >&2; exit 2; }
command -v arp-scan >/dev/null 2>&1 ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends arp-scan >/dev/null ||
    { echo "bench/first-line.sh: cannot install arp-scan" >&2; exit 2; }

source "$here/scripts/netns-lib.sh"
netns_setup
netns_add_devices 10.77.1.1 "$devices" --type "OL-First" --build "1.0" || exit 1
list="$NETNS_TMP/addresses"
for i in $(seq 1 "$devices"); do echo "10.77.$((1 + (i - 1) / 254)).$((1 + (i - 1) % 254))"; done >"$list"

# timed <command...>: runs it in the host namespace; prints "first-line-ms end-ms lines
# ninety-percent-ms". The lines are read and stamped by one process that reads its pipe in blocks:
# a shell's read takes a byte per call and would itself hold thousands of lines back.
timed() {
    netns_host python3 -c '
import subprocess, sys, time
start = time.monotonic()
program = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE)
at = [time.monotonic() for _ in program.stdout]
program.wait()
end = time.monotonic()
n = len(at)
first = at[0] if n else end
ninety = at[max((n * 9 + 9) // 10 - 1, 0)] if n else end
print("%.1f %.1f %d %.1f" % ((first - start) * 1e3, (end - start) * 1e3, n, (ninety - start) * 1e3))
' "$@"
}

samples="$NETNS_TMP/samples"
: >"$samples"
for run in $(seq 1 "$runs"); do
    for tool in streaming sorted arp-scan; do
        case $tool in
            streaming) cmd=("$scanner" --stream) ;;
            sorted) cmd=("$scanner") ;;
            arp-scan) cmd=(arp-scan --interface lan0 --plain --quiet --file "$list") ;;
        esac
        echo "$tool $(timed "${cmd[@]}")" | tee -a "$samples" >&2
    done
done

{
    echo "| N | tool | first line, ms (median) | first line, ms (worst) | 90 % of the lines, ms (median) | whole run, ms (median) | lines |"
    echo "|---:|---|---:|---:|---:|---:|---:|"
    for tool in streaming sorted arp-scan; do
        awk -v tool="$tool" -v n="$devices" '
            function median(a, k,    i, j, t) {
                for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
                return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
            }
            $1 == tool { k++; f[k] = $2; e[k] = $3; l[k] = $4; p[k] = $5; if ($2 > worst) worst = $2 }
            END {
                name = tool == "arp-scan" ? "arp-scan" : "oldiscovery-scan, " tool
                printf "| %d | %s | %.1f | %.1f | %.0f | %.0f | %d |\n", n, name, median(f, k), worst, median(p, k), median(e, k), l[1]
            }' "$samples"
    done
} >"$out"
cat "$out"
