#!/usr/bin/env bash
# The inside of package-test.sh, run in a private mount namespace: an overlay of the machine's
# root with a throw-away upper layer, where the package is installed, checked, run and removed.
# Every mount made here ends with the namespace.
# usage: in-throwaway-root.sh <work folder> <.deb> <network namespace> <expected rows>
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$1 deb=$2 netns=$3 expected=$4
app_id=example.quarrin_velto.OLDiscovery
root=$work/root

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
skip() {
    echo "SKIP: $*" >&2
    exit 77
}
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

# The upper layer on its own tmpfs: an upper folder inside the lower root would overlap it.
mkdir -p "$work/layer" "$root"
mount -t tmpfs -o mode=755 oldlayer "$work/layer" || skip "cannot mount a tmpfs"
mkdir "$work/layer/upper" "$work/layer/work"
mount -t overlay oldroot -o "lowerdir=/,upperdir=$work/layer/upper,workdir=$work/layer/work" "$root" ||
    skip "cannot mount an overlay of / here"
[ -x "$root/usr/bin/dpkg" ] || skip "the root file system is split over several mounts"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount -t tmpfs -o mode=1777 oldtmp "$root/tmp"
mount -t tmpfs -o mode=755 oldrun "$root/run"
mkdir -p "$root/run/lock"

echo "== installing $(basename "$deb") with apt-get into the throw-away root"
cp "$deb" "$here/list-rows.py" "$here/run-program.sh" "$root/tmp/"
chmod 644 "$root/tmp/$(basename "$deb")"
# What it recommends (the actions' programs) is checked, not fetched: the test stays offline.
recommends=$(dpkg-deb -f "$deb" Recommends)
[ "$recommends" = "xdg-utils, inetutils-telnet | telnet, xterm | x-terminal-emulator, qt6-wayland, libqt6svg6, qt6-translations-l10n" ] ||
    fail "Recommends: $recommends"
if ! in_root DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends -o Dpkg::Use-Pty=0 \
    "/tmp/$(basename "$deb")" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    echo "FAIL: apt-get install" >&2
    exit 1
fi
grep -i "capability" "$work/install.log" >&2

echo "== checking the installed files"
for file in /usr/bin/OLDiscovery /usr/bin/oldiscovery-scan \
    "/usr/share/applications/$app_id.desktop" "/usr/share/metainfo/$app_id.metainfo.xml" \
    /usr/share/icons/hicolor/{16x16,32x32,48x48,128x128}/apps/$app_id.png \
    "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
    /usr/share/man/man1/OLDiscovery.1.gz /usr/share/man/man1/oldiscovery-scan.1.gz \
    /usr/share/doc/oldiscovery/copyright /usr/share/doc/oldiscovery/changelog.Debian.gz \
    /usr/lib/systemd/system/oldiscovery-scan@.service /usr/lib/systemd/system/oldiscovery-scan@.timer \
    /usr/lib/systemd/system/oldiscovery-watch@.service /usr/share/doc/oldiscovery/examples/oldiscovery-rules.yml \
    /usr/share/doc/oldiscovery/examples/alertmanager-example.yml \
    /usr/share/doc/oldiscovery/examples/prometheus-example.yml; do
    [ -f "$root$file" ] || fail "not installed: $file"
done
for size in 16 32 48 128; do
    file "$root/usr/share/icons/hicolor/${size}x$size/apps/$app_id.png" | grep -q "$size x $size" ||
        fail "the ${size}x$size icon has another size"
done
# desktop-file-validate ends with 0 after hints (two main categories, say): only silence passes.
validate=$(in_root desktop-file-validate "/usr/share/applications/$app_id.desktop" 2>&1) && [ -z "$validate" ] ||
    fail "desktop-file-validate: $validate"
in_root appstreamcli validate --pedantic --no-net "/usr/share/metainfo/$app_id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "appstreamcli validate"; }
for program in OLDiscovery oldiscovery-scan; do
    caps=$(in_root getcap "/usr/bin/$program")
    case $caps in
    *"cap_net_raw=p") ;;
    *) fail "capability of $program: '$caps'" ;;
    esac
done

echo "== the systemd units: clean for systemd-analyze where they are installed, and not enabled"
units="oldiscovery-scan@lan0.timer oldiscovery-scan@lan0.service oldiscovery-watch@lan0.service"
# shellcheck disable=SC2086 # a list of unit names
verify=$(in_root systemd-analyze verify --man=no $units 2>&1) && [ -z "$verify" ] ||
    fail "systemd-analyze verify $units: $verify"
enabled=$(find "$root/etc/systemd" -name 'oldiscovery*' 2>/dev/null)
[ -z "$enabled" ] || fail "installing enabled units: $enabled"
in_root promtool check rules /usr/share/doc/oldiscovery/examples/oldiscovery-rules.yml >/dev/null ||
    fail "promtool check rules on the installed example"

echo "== starting the installed program from its desktop entry, as nobody, in the test network"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/$app_id.desktop")
[ "$exec_line" = OLDiscovery ] || fail "Exec line: $exec_line"
home=/tmp/home
settings="$home/.config/Quarrin-Velto Networks/OLDiscovery.conf"
mkdir -p "$root$(dirname "$settings")"
printf '[Application Settings]\nAutoRefresh=0\n' >"$root$settings"
chown -R 65534:65534 "$root$home"
rows=$(ip netns exec "$netns" chroot "$root" \
    setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
    env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 EXEC_LINE="$exec_line" EXPECTED="$expected" \
    dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" \
    sh /tmp/run-program.sh 2>"$work/program.log")
status=$?
if [ "$status" -ne 0 ]; then
    fail "the installed program did not list the simulated devices"
    echo "--- expected" >&2; printf '%s\n' "$expected" >&2
    echo "--- listed" >&2; printf '%s\n' "$rows" >&2
    echo "--- its output" >&2; grep -v '^dbus-daemon' "$work/program.log" >&2
fi

echo "== removing the package"
cp "$root$settings" "$work/settings.before"
# What the scan unit would have kept.
mkdir -p -m 700 "$root/var/lib/oldiscovery"
echo '{}' >"$root/var/lib/oldiscovery/lan0.state"
in_root dpkg --purge oldiscovery >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg --purge"; }
[ ! -e "$root/usr/bin/OLDiscovery" ] || fail "OLDiscovery is still there after purging"
[ ! -e "$root/var/lib/oldiscovery" ] || fail "the known devices are still there after purging"
cmp -s "$work/settings.before" "$root$settings" || fail "the user's settings changed on purging"

[ "$failures" -eq 0 ] || exit 1
echo "PASS: package"
