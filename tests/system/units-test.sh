#!/usr/bin/env bash
# The systemd units as the package ships them: `systemd-analyze verify` has nothing to say about
# them (an unknown key or a wrong value is only a warning there, so any output fails), and
# `systemd-analyze security --offline=true` rates each service 2.0 or lower.
# usage: units-test.sh <folder of the configured units> <oldiscovery-scan program>
# ExecStart is pointed at the built program, since verify wants an executable there.
# Exit 0 pass, 1 fail, 77 skipped (no systemd-analyze here).
set -u
units=${1:?usage: units-test.sh <unit folder> <program>}
program=${2:?usage: units-test.sh <unit folder> <program>}
command -v systemd-analyze >/dev/null 2>&1 || {
    echo "SKIP: systemd-analyze is not installed (Debian: systemd)" >&2
    exit 77
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for file in "$units"/*.service "$units"/*.timer; do
    sed -E "s|^ExecStart=[^ ]+|ExecStart=$program|" "$file" >"$work/$(basename "$file")"
done
services=()
for file in "$work"/*@.service; do
    services+=("$(basename "$file")")
done
[ ${#services[@]} -ge 2 ] || fail "expected the scan and the watch service in $units, found: ${services[*]}"

# Instances as an administrator enables them; lan0 stands for any interface.
instances=()
for file in "$work"/*@.service "$work"/*@.timer; do
    name=$(basename "$file")
    instances+=("${name/@./@lan0.}")
done
out=$(SYSTEMD_UNIT_PATH="$work:" systemd-analyze verify --man=no "${instances[@]}" 2>&1)
status=$?
[ "$status" -eq 0 ] && [ -z "$out" ] || fail "systemd-analyze verify ${instances[*]} (status $status): $out"

# The instance-name check each service runs first, as systemd would run it ($$ is a dollar).
for service in "${services[@]}"; do
    pre=$(sed -n 's/^ExecStartPre=//p' "$work/$service")
    [ -n "$pre" ] || { fail "$service: no check of the instance name"; continue; }
    pre=${pre//\$\$/\$}
    while IFS='|' read -r name expected; do
        eval "${pre//%i/\"\$name\"}" 2>/dev/null
        status=$?
        [ "$status" -eq "$expected" ] || fail "$service: instance name \"$name\" gives $status, not $expected"
    done <<'NAMES'
eth0|0
enp0s31f6.100|0
123456789012345|0
1234567890123456|2
-x|2
a/b|2
|2
NAMES
done

for service in "${services[@]}"; do
    out=$(systemd-analyze security --offline=true --threshold=20 "$work/$service" 2>&1)
    status=$?
    score=$(printf '%s\n' "$out" | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    echo "$service: exposure $score"
    [ "$status" -eq 0 ] && [ -n "$score" ] || {
        printf '%s\n' "$out" | grep '✗' >&2
        fail "$service: exposure ${score:-unknown} is above 2.0 (status $status)"
    }
done

[ "$failures" -eq 0 ] || exit 1
echo "PASS: units"
