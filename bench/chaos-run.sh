#!/usr/bin/env bash
# The chaos run for an hour: tests/system/chaos-schedule played with every step's scans fourteen
# times over, a scan every ten seconds (a minute's timer sixfold) and a watch at the same cadence,
# in throw-away network namespaces. Writes docs/chaos-run.md.
# usage: bench/chaos-run.sh [--build DIR] [--out FILE]   (root: namespaces)
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build" out="$here/docs/chaos-run.md"
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "chaos-run: unknown argument $1" >&2; exit 2 ;;
    esac
done
export ORVALINK_SIM="$build/sim/orvalink-sim" OLDISCOVERY_SCAN="$build/cli/oldiscovery-scan"
summary=$(mktemp) log=$(mktemp)
trap 'rm -f "$summary" "$log"' EXIT
bash "$here/tests/system/chaos-run.sh" --scale 14 --period 10 --report "$summary" >"$log" 2>&1
status=$?
{
    echo "# The chaos run, an hour long"
    echo
    echo "\`bench/chaos-run.sh\`, $(date -u +%Y-%m-%d), $("$OLDISCOVERY_SCAN" --version), $(nproc) CPUs shared"
    echo "with other work: [the schedule](../tests/system/chaos-schedule) with each step's scans fourteen"
    echo "times over, a scan (\`--state\`, \`--prometheus\`, \`--max-known 50\`) every ten seconds and a"
    echo "watch (\`--watch 10 --gone-after 2\`) beside them. Every check holds the program to what the"
    echo "schedule did; exit status $status ($([ $status -eq 0 ] && echo passed || echo failed))."
    echo
    cat "$summary"
    echo
    echo "The steps, the time each was done, and what did not hold:"
    echo
    echo '```text'
    grep -E '^(FAIL|known failure|.*: done after)' "$log"
    echo '```'
} >"$out"
cat "$out"
exit $status
