#!/usr/bin/env bash
# The real program ended by a signal: started headless in the host namespace of a throw-away
# test network (its first scan goes nowhere else), given SIGTERM, SIGINT or SIGHUP once it takes
# them, it must exit 0 within a bound with the session's preferences and placement saved. Two
# signals at once: the second ends it at once, nothing saved.
# usage: signal-close.sh <OLDiscovery binary>
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
program=${1:?}

netns_setup
failures=0
pid=""
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
    if [ -n "$pid" ]; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    pid=""
}

# The preference the run changes: the file names the action in another spelling; saving the
# preferences writes it as the program spells it.
start_program() {
    local run=$1
    mkdir -p "$run/work" "$run/config/Quarrin-Velto Networks"
    profile="$run/config/Quarrin-Velto Networks/OLDiscovery.conf"
    printf '[Application%%20Settings]\nDoubleClick=copyip\n' >"$profile"
    (cd "$run/work" && exec ip netns exec "$NETNS_PREFIX-host" env QT_QPA_PLATFORM=offscreen \
        QT_QPA_PLATFORMTHEME= XDG_CONFIG_HOME="$run/config" "$program") </dev/null >"$run/stderr" 2>&1 &
    pid=$!
    # Ready once the three signals are caught (SigCgt bits 1, 2 and 15: 0x4003).
    local deadline=$((SECONDS + 20)) caught
    while [ $SECONDS -lt $deadline ]; do
        caught=$(awk '/^SigCgt:/ {print $2}' "/proc/$pid/status" 2>/dev/null) || caught=""
        [ -z "$caught" ] && break  # gone
        [ $((0x$caught & 0x4003)) -eq $((0x4003)) ] && return 0
    done
    return 1
}

# Waits for the program's end with a bound; its exit status in $status.
wait_end() {
    local deadline=$((SECONDS + 20))
    while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        timeout 1 tail --pid="$pid" -f /dev/null
    done
    kill -0 "$pid" 2>/dev/null && return 1
    wait "$pid"
    status=$?
    pid=""
}

for sig in TERM INT HUP; do
    run="$NETNS_TMP/$sig"
    start_program "$run" || { fail "SIG$sig: the program never took the signals: $(cat "$run/stderr")"; continue; }
    kill -"$sig" "$pid"
    wait_end || { fail "SIG$sig: still running after 20 s"; continue; }
    [ "$status" = 0 ] || fail "SIG$sig: exit status $status, not 0: $(cat "$run/stderr")"
    grep -q '^DoubleClick=CopyIP$' "$profile" || fail "SIG$sig: preferences not saved: $(cat "$profile")"
    grep -q '^\[DlgPos_102\]$' "$profile" || fail "SIG$sig: placement not saved: $(cat "$profile")"
done

# Two signals: held while stopped, both come at once when it goes on; the second meets the
# default action the first one left.
run="$NETNS_TMP/twice"
if start_program "$run"; then
    kill -STOP "$pid"
    deadline=$((SECONDS + 10))
    until [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" = T ] || [ $SECONDS -ge $deadline ]; do :; done
    kill -INT "$pid"
    kill -TERM "$pid"
    kill -CONT "$pid"
    if wait_end; then
        case $status in
        130 | 143) ;;
        *) fail "two signals: exit status $status, not ended by the second signal" ;;
        esac
        grep -q '^DoubleClick=copyip$' "$profile" || fail "two signals: the profile was written: $(cat "$profile")"
    else
        fail "two signals: still running after 20 s"
    fi
else
    fail "two signals: the program never took the signals"
fi

[ "$failures" -eq 0 ] && echo "PASS: signals end the program as Close does"
[ "$failures" -eq 0 ]
