# shellcheck shell=bash
# What the namespace test scripts that run one named case share: counting failures, comparing
# texts, and running the case in a fresh test network. Source it after scripts/netns-lib.sh.

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect_eq <what> <expected> <actual>
expect_eq() {
    if [ "$2" != "$3" ]; then
        fail "$1"
        echo "--- expected" >&2; printf '%s\n' "$2" >&2
        echo "--- actual" >&2; printf '%s\n' "$3" >&2
    fi
}

# run_scan [args...]: $OLDISCOVERY_SCAN in the host namespace; stdout in $out, stderr in $err,
# status in $rc.
run_scan() {
    out=$(netns_host "$OLDISCOVERY_SCAN" "$@" 2>"$NETNS_TMP/err")
    rc=$?
    err=$(cat "$NETNS_TMP/err")
}

# wait_until <seconds> <command...>: true once the command succeeds, false at the deadline.
wait_until() {
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# run_case <name> <on_failure>: sets up the test network and runs case_<name>. Exits 0 with a
# PASS line, 1 after calling on_failure (which shows what explains the failure), 2 for an
# unknown case.
run_case() {
    netns_setup
    if ! declare -F "case_$1" >/dev/null; then
        echo "unknown case: $1" >&2
        exit 2
    fi
    "case_$1"
    if [ "$failures" -ne 0 ]; then
        "$2"
        exit 1
    fi
    echo "PASS: $1"
    exit 0
}

# For the window tests, inside their session bus: asks the toolkits for the accessibility bus, and
# reads the window's texts from it (window-text.py) into $work/screen.
accessibility_on() {
    gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
        --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' >/dev/null
}
screen() { /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/window-text.py" "$1" "${2:-20}"; }
expect_screen() { screen "$2" >"$work/screen" || { fail "$1"; cat "$work/screen" >&2; }; }
