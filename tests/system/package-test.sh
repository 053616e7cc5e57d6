#!/usr/bin/env bash
# The packages end to end. The Debian package: scripts/package builds it from a build folder
# (lintian errors fail; lintian --pedantic names no hardening fault, and readelf shows the programs
# hardened), it is installed with apt-get into a throw-away root (an overlay of this machine's own
# root, in a private mount namespace, so nothing reaches the real one), and there the files, the
# desktop entry, the metainfo, the capabilities, the systemd units and the alert rules are
# checked, the program is started as an ordinary user from the desktop entry's Exec line in a
# test network and must list the simulated devices, and removing the package must leave the
# user's settings alone. The RPM from the same rules: rpmlint without errors, the same files as the
# .deb, both programs with their file capability, Fedora's names for what it needs, and installed
# with rpm into a throw-away root, where files and capabilities are checked again.
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
for tool in cpack lintian dpkg-deb rpm rpmlint readelf desktop-file-validate appstreamcli getcap setpriv xvfb-run \
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

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

echo "== hardening: lintian --pedantic and the programs' headers"
lintian --pedantic "$deb" >"$work/lintian.log" 2>&1
cat "$work/lintian.log"
! grep -q 'hardening-' "$work/lintian.log" || fail "lintian names hardening faults"
# hardened <program>: position-independent, RELRO and bound at load (so the GOT can be read-only),
# a non-executable stack, the stack protector and the checked string functions in use.
hardened() {
    local program=$1 name
    name=$(basename "$program")
    readelf -h "$program" | grep -q 'Type: *DYN' || fail "$name is no position-independent executable"
    readelf -lW "$program" | grep -q GNU_RELRO || fail "$name has no RELRO segment"
    readelf -lW "$program" | grep GNU_STACK | grep -q ' RW ' || fail "$name has an executable stack"
    readelf -dW "$program" | grep -Eq 'BIND_NOW|FLAGS_1.* NOW' || fail "$name is not bound at load (BIND_NOW)"
    readelf --dyn-syms -W "$program" | grep -q '__stack_chk_fail' || fail "$name has no stack protector"
    readelf --dyn-syms -W "$program" | grep -Eq ' __[a-z0-9_]+_chk(@|$)' || fail "$name uses no checked functions (_FORTIFY_SOURCE)"
}
dpkg-deb -x "$deb" "$work/deb-files"
hardened "$work/deb-files/usr/bin/OLDiscovery"
hardened "$work/deb-files/usr/bin/oldiscovery-scan"
# The window's translations are compiled in: resource names are stored as UTF-16.
strings -e b "$work/deb-files/usr/bin/OLDiscovery" | grep -qx 'oldiscovery_de.qm' ||
    fail "the window program carries no German translation"
# CET marks (IBT, SHSTK) reach a program only when every object in it has them, and Debian 12's
# C start files have none; the project's own objects must.
if [ "$(uname -m)" = x86_64 ]; then
    for object in "$build/CMakeFiles/OLDiscovery.dir/gui/main.cpp.o" \
        "$build/cli/CMakeFiles/oldiscovery-scan.dir/main.cpp.o"; do
        readelf -nW "$object" | grep -q 'x86 feature: IBT, SHSTK' || fail "no CET marks in $object"
    done
fi

echo "== the RPM"
if ! "$project/scripts/package" --rpm --build-dir "$build" --out "$work/dist" >"$work/rpm.log" 2>&1; then
    cat "$work/rpm.log" >&2
    fail "scripts/package --rpm"
else
    rpm_file=$(tail -n 1 "$work/rpm.log")
    echo "$rpm_file"
    sed '$d' "$work/rpm.log"
    bash "$here/rpm-check.sh" "$rpm_file" "$work/deb-files" "$work/rpm-root" || failures=$((failures + 1))
fi

netns_setup
trap 'remove_work; netns_teardown' EXIT
demo_network_add_devices || exit 1

unshare --mount --propagation private \
    bash "$here/in-throwaway-root.sh" "$work" "$deb" "$NETNS_PREFIX-host" "$DEMO_EXPECTED_ROWS"
status=$?
[ "$failures" -eq 0 ] || exit 1
exit "$status"
