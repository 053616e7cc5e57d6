#!/usr/bin/env bash
# Every command that README.md and docs/*.md show in ```sh blocks, as a reader would type it: run
# here in a throw-away test network (the demo's devices; the built programs first on the PATH,
# /usr/bin/ read as the build folder, the examples' folder as packaging/prometheus/, eth0 as the
# test network's lan0, /var/lib/oldiscovery/ as a folder holding the documents' own example of a
# state file) where it can run in a namespace, or named below with why not. A command that is neither fails the test, so each new
# command in the documents is either tried or has its reason.
# usage: doc-commands.sh <build folder>   (ORVALINK_SIM names the simulator)
# Exit 0 pass, 1 fail, 77 skipped (not root, no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
source "$project/scripts/netns-lib.sh"
source "$project/tests/system/case-lib.sh"
source "$project/tests/system/demo-network.sh"
: "${ORVALINK_SIM:?}"
build=$(cd "${1:?usage: doc-commands.sh <build folder>}" && pwd)
[ "$(id -u)" -eq 0 ] || netns_skip "the test network needs root"

# why_not <command>: why it is not run here (status 0); status 1 when it runs here, 2 when it is
# neither.
why_not() {
    case $1 in
    oldiscovery-scan* | "sudo oldiscovery-scan"* | readelf* | promtool* | amtool*) return 1 ;;
    scripts/test*) echo "the whole suite: CI runs it" ;;
    scripts/demo*) echo "the DemoScreenshots test runs it" ;;
    scripts/package*) echo "the PackageInstall test runs it" ;;
    ctest* | bench/*) echo "a test or benchmark run of its own" ;;
    "cmake "*) echo "a build of its own: scripts/test builds" ;;
    "sudo cmake --install"* | "sudo install "* | "sudo setcap "*)
        echo "installs as root outside a package; the capability step is tested by the package test" ;;
    "sudo apt-get install"* | "sudo dnf install"*)
        echo "installs on this machine; the package test installs into a throw-away root" ;;
    "sudo cat /var/lib/private/"* | "sudo rm /var/lib/private/"*)
        echo "the state of a watch unit's dynamic user: needs systemd as the machine's init" ;;
    "sudo systemctl "* | "journalctl "*)
        echo "needs systemd as the machine's init; SystemdUnits and MonitoringEndToEnd run the units" ;;
    "sudo sysctl "*) echo "changes the machine's kernel settings" ;;
    "printf 'orvalink_interface_retired"*)
        echo "writes the node exporter's folder of this machine; MonitoringEndToEnd retires an interface so" ;;
    OLDiscovery* | /opt/*) echo "the window: the demo and the package test start it" ;;
    *) return 2 ;;
    esac
}

# The commands, "<file>:<line><TAB><command>" a line; a line ending in "\" goes on in the next.
commands=$(cd "$project" && awk '
    FNR == 1 { fence = 0; joined = "" }
    /^```/ { fence = ($0 ~ /^```sh[[:space:]]*$/) && !fence; next }
    !fence || /^[[:space:]]*(#|$)/ { next }
    {
        if (joined == "") start = FNR
        line = $0
        if (sub(/\\$/, "", line)) { joined = joined line; next }
        print FILENAME ":" start "\t" joined line
        joined = ""
    }' README.md docs/*.md)

bin=$(mktemp -d /tmp/old-doc-bin.XXXXXX)
trap 'rm -rf "$bin"' EXIT
ln -s "$build/cli/oldiscovery-scan" "$bin/oldiscovery-scan"
ln -s "$build/OLDiscovery" "$bin/OLDiscovery"
netns_setup
trap 'rm -rf "$bin"; netns_teardown' EXIT
demo_network_add_devices || exit 1
mkdir -p "$NETNS_TMP/cwd" "$NETNS_TMP/state"
# The known-devices file as the documents show it.
(cd "$project" && awk '/^```json/ { take = 1; text = ""; next }
    /^```/ && take { if (text ~ /"oldiscovery-known-devices"/) { printf "%s", text; exit } take = 0 }
    take { text = text $0 "\n" }' README.md docs/*.md) >"$NETNS_TMP/state/lan0.state"
[ -s "$NETNS_TMP/state/lan0.state" ] || fail "no example of the known-devices file in the documents"

ran=0
while IFS=$'\t' read -r where command; do
    reason=$(why_not "$command")
    case $? in
    0) echo "not run: $command ($reason)"; continue ;;
    2) fail "$where: neither run here nor given a reason: $command"; continue ;;
    esac
    run=${command#sudo }
    run=${run//\/usr\/bin\//$bin/}
    run=${run//\/var\/lib\/oldiscovery\//$NETNS_TMP/state/}
    run=${run//\/usr\/share\/doc\/oldiscovery\/examples\//$project/packaging/prometheus/}
    run=${run//eth0/lan0}
    # A watch runs until a signal ends it (status 0); a scan is over long before.
    out=$(cd "$NETNS_TMP/cwd" && netns_host env PATH="$bin:$PATH" \
        timeout --preserve-status -s INT 5 bash -o pipefail -c "$run" 2>&1 </dev/null)
    status=$?
    # A scan that prints must list the demo's devices.
    case $command in
    *oldiscovery-scan*-o* | *oldiscovery-scan*--state* | *oldiscovery-scan*--locate* | \
        *oldiscovery-scan*--version* | *oldiscovery-scan*--help*) ;;
    oldiscovery-scan*) grep -q '10\.77\.1\.1\b' <<<"$out" || status="$status, no device listed" ;;
    esac
    if [ "$status" != 0 ]; then
        fail "$where: status $status: $command"
        printf '%s\n' "$out" | head -n 20 >&2
    else
        echo "ran: $command"
        ran=$((ran + 1))
    fi
done <<<"$commands"
[ "$ran" -gt 0 ] || fail "no command found to run in README.md and docs/"
[ "$failures" -eq 0 ] || exit 1
echo "PASS: $ran commands ran"
