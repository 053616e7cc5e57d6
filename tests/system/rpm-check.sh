#!/usr/bin/env bash
# The RPM beside the .deb: the same files (less Debian's own documents), the file capability on
# both programs, dependencies as Fedora names them, not relocatable, and installed with rpm into a throw-away root
# (no dependencies there: it is not Fedora), where files and capabilities are checked and rpm -V
# finds nothing changed; removing it takes its files.
# usage: rpm-check.sh <.rpm> <the .deb unpacked> <throw-away root folder (made here)>
set -u
rpm_file=$1 deb_files=$2 root=$3
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Regular files and links only: directories are owned differently by the two package systems.
rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$rpm_file" | awk '$1 !~ /^d/ {print $2}' | sort >"$root.rpm-files"
(cd "$deb_files" && find . ! -type d | sed 's/^\.//') |
    grep -vxE '/usr/share/doc/oldiscovery/changelog.Debian.gz|/usr/share/lintian/overrides/oldiscovery' |
    sort >"$root.deb-files"
diff -u "$root.deb-files" "$root.rpm-files" >&2 || fail "the RPM's files differ from the .deb's (- .deb, + .rpm)"

filecaps=$(rpm -qp --filecaps "$rpm_file")
for program in OLDiscovery oldiscovery-scan; do
    grep -qxE "/usr/bin/$program[[:space:]]+cap_net_raw=p" <<<"$filecaps" ||
        fail "no cap_net_raw=p on $program: $(grep "/usr/bin/$program" <<<"$filecaps")"
done

# Libraries by soname, as Fedora's rpmbuild would find them; Qt's platform plugins by Fedora's name.
requires=$(rpm -qp --requires "$rpm_file")
for needed in 'qt6-qtbase-gui >= ' 'libQt6Widgets.so.6()' 'libcap.so.2()' 'libc.so.6()'; do
    grep -qF "$needed" <<<"$requires" || fail "Requires lacks $needed: $(tr '\n' ' ' <<<"$requires")"
done
! grep -qE '^(libqt6|libcap2|libc6|libcap2-bin)( |$)' <<<"$requires" ||
    fail "Debian names in Requires: $(tr '\n' ' ' <<<"$requires")"
! rpm -qp --qf '%{PREFIXES}' "$rpm_file" | grep -q / || fail "the RPM is relocatable; its units name /usr/bin"
[ "$(rpm -qp --recommends "$rpm_file" | sort | tr '\n' ' ')" = "qt6-qtsvg qt6-qttranslations qt6-qtwayland telnet xdg-utils xterm " ] ||
    fail "Recommends: $(rpm -qp --recommends "$rpm_file" | tr '\n' ' ')"

mkdir -p "$root"
rpm --root "$root" --initdb || fail "rpm --initdb"
if ! rpm --root "$root" -i --nodeps "$rpm_file"; then
    fail "rpm -i into $root"
else
    while IFS= read -r file; do
        [ -e "$root$file" ] || [ -L "$root$file" ] || fail "not installed by rpm: $file"
    done <"$root.rpm-files"
    for program in OLDiscovery oldiscovery-scan; do
        caps=$(getcap "$root/usr/bin/$program")
        case $caps in
        *"cap_net_raw=p") ;;
        *) fail "capability of $program installed by rpm: '$caps'" ;;
        esac
    done
    verify=$(rpm --root "$root" -V --nodeps oldiscovery 2>&1) || fail "rpm -V: $verify"
    rpm --root "$root" -e --nodeps oldiscovery || fail "rpm -e"
    [ ! -e "$root/usr/bin/OLDiscovery" ] || fail "OLDiscovery is still there after rpm -e"
fi
rm -rf "$root" "$root.rpm-files" "$root.deb-files"
[ "$failures" -eq 0 ] && echo "PASS: the RPM"
