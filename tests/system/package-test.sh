#!/usr/bin/env bash
# The Debian package end to end: scripts/package builds it from a build folder (lintian errors
# fail), it is installed with apt-get into a throw-away root (an overlay of this machine's own
# root, in a private mount namespace, so nothing reaches the real one), and there the files, the
# desktop entry, the metainfo, the capabilities, the systemd units and the alert rules are
# checked, the program is started as an ordinary user from the desktop entry's Exec line in a
# test network and must list the simulated devices, and removing the package must leave the
# user's settings alone.
# usage: package-test.sh <build folder>   (ORVALINK_SIM names the simulator)
# Exit 0 pass, 1 fail, 77 skipped (not root, no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
source "$project/scripts/netns-lib.sh"
source "$project/tests/system/demo-network.sh"
: "${ORVALINK_SIM:?}"
build=${1:?usage: package-test.sh <build folder>}

[ "$(id -u)" -eq 0 ] || netns_skip "installing a package needs root"
unshare --mount --propagation private true 2>/dev/null || netns_skip "no private mount namespaces here"
missing=()
for tool in cpack lintian dpkg-deb desktop-file-validate appstreamcli getcap setpriv xvfb-run \
    dbus-run-session gdbus /usr/bin/python3 systemd-analyze promtool; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "FAIL: missing ${missing[*]} (scripts/install-deps installs them)" >&2
    exit 1
fi

work=$(mktemp -d /tmp/oldpkg.XXXXXX)
# The throw-away root's mounts live in the inner mount namespace and end with it; what is left
# here is the work folder.
remove_work() {
    local status=$?
    rm -rf "$work"
    return $status
}
trap remove_work EXIT

echo "== building the package"
if ! "$project/scripts/package" --build-dir "$build" --out "$work/dist" >"$work/package.log" 2>&1; then
    cat "$work/package.log" >&2
    echo "FAIL: scripts/package" >&2
    exit 1
fi
deb=$(tail -n 1 "$work/package.log")
echo "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libcap2 libcap2-bin libc6; do
    case ", $depends," in
    *", $needed "* | *", $needed,"*) ;;
    *) echo "FAIL: Depends lacks $needed: $depends" >&2; exit 1 ;;
    esac
done

netns_setup
trap 'remove_work; netns_teardown' EXIT
demo_network_add_devices || exit 1

unshare --mount --propagation private \
    bash "$here/in-throwaway-root.sh" "$work" "$deb" "$NETNS_PREFIX-host" "$DEMO_EXPECTED_ROWS"
