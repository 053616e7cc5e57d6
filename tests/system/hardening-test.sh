#!/usr/bin/env bash
# Namespace tests of oldiscovery-scan against a hostile device, device files, links planted in
# folders, blocked or closed pipes and a full disk. The tool runs in the host namespace of a
# throw-away test network against orvalink-sim devices; files that must not be harmed live in
# private mount namespaces.
# usage: hardening-test.sh <case>      (ORVALINK_SIM and OLDISCOVERY_SCAN name the programs)
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/netns-lib.sh"
source "$here/case-lib.sh"
: "${ORVALINK_SIM:?}" "${OLDISCOVERY_SCAN:?}"

# in_private_mounts <script>: runs the bash script in the host namespace with mounts of its own,
# so a tmpfs (or a /dev) made there goes with it; its output in $out.
in_private_mounts() {
    printf '%s\n' "$1" >"$NETNS_TMP/inner.sh"
    out=$(OLDISCOVERY_SCAN="$OLDISCOVERY_SCAN" T="$NETNS_TMP" \
        netns_host unshare --mount --propagation private bash "$NETNS_TMP/inner.sh" 2>&1)
}

case_hostile_source() {
    # Answers from the subnet's broadcast and network addresses, beside one real device.
    netns_add_devices 10.77.1.1 1 --type "OL-Real" --build "1" || exit 1
    netns_add_devices 10.77.255.255 1 --type "OL-Bcast" --build "1" || exit 1
    netns_add_devices 10.77.0.0 1 --type "OL-Net" --build "1" || exit 1
    run_scan --log "$NETNS_TMP/scan.log"
    expect_eq "only the real device listed" "10.77.1.1	02:00:0A:4D:01:01	OL-Real	1" "$out"
    grep -qF "Reply from 10.77.255.255 dropped: not one device's address (broadcast)" "$NETNS_TMP/scan.log" ||
        fail "no Debug line for the broadcast source"
    grep -qF "Reply from 10.77.0.0 dropped: not one device's address (network)" "$NETNS_TMP/scan.log" ||
        fail "no Debug line for the network source"
    run_scan --locate 10.77.255.255
    expect_eq "locate of the broadcast address" 2 "$rc"
}

case_device_files() {
    netns_add_devices 10.77.1.1 1 || exit 1
    # /dev/null is the private mount namespace's own: a failure cannot harm the machine's.
    in_private_mounts '
mount -t tmpfs tmpfs /dev && mknod -m 666 /dev/null c 1 3 && mkfifo "$T/fifo" || exit 1
for target in /dev/null "$T/fifo"; do
    "$OLDISCOVERY_SCAN" --wait 200 --output "$target" 2>&1
    echo "status $?"
    stat -c %F "$target"
done
# A FIFO and a big file that is no log are not taken for --log.
printf "%0300000d" 0 >"$T/big"
for log in "$T/fifo" "$T/big"; do
    "$OLDISCOVERY_SCAN" --wait 200 --log "$log" >/dev/null 2>&1
    echo "log status $?"
done
stat -c %s "$T/big"'
    expect_eq "device files kept" "oldiscovery-scan: cannot write /dev/null: it is not a regular file
status 3
character special file
oldiscovery-scan: cannot write $NETNS_TMP/fifo: it is not a regular file
status 3
fifo
log status 4
log status 4
300000" "$out"
}

case_parent_link() {
    netns_add_devices 10.77.1.1 1 || exit 1
    # A folder of another user on the way, with a link of theirs to a folder only root may write.
    local shared="$NETNS_TMP/shared" secret="$NETNS_TMP/secret"
    mkdir -p "$shared" "$secret" "$NETNS_TMP/real"
    chmod 700 "$secret"
    ln -s "$secret" "$shared/sub"
    chown -h 65534:65534 "$shared" "$shared/sub"
    run_scan --wait 200 --output "$shared/sub/out.prom" --prometheus
    expect_eq "through another user's link" 3 "$rc"
    grep -qF "$shared/sub is a symbolic link of another user (uid 65534)" <<<"$err" || fail "message: $err"
    [ ! -e "$secret/out.prom" ] || fail "written into the root-only folder"
    # The log and the state file take the same walk.
    run_scan --wait 200 --log "$shared/sub/scan.log"
    expect_eq "--log through another user's link" "4 oldiscovery-scan: cannot use the log file $shared/sub/scan.log: $shared/sub is a symbolic link of another user (uid 65534)" "$rc $err"
    run_scan --wait 200 --state "$shared/sub/known"
    expect_eq "--state through another user's link" 6 "$rc"
    [ -z "$(ls -A "$secret")" ] || fail "written into the root-only folder: $(ls -A "$secret")"
    run_scan --wait 200 --output "$shared/out.prom" --prometheus
    grep -qF "its folder belongs to another user (uid 65534)" <<<"$err" || fail "another user's folder: $err"
    # A folder every user may write, unless it has the sticky bit as /tmp has.
    mkdir -m 777 "$NETNS_TMP/open"
    run_scan --wait 200 --output "$NETNS_TMP/open/out.prom" --prometheus
    grep -qF "its folder can be written by every user" <<<"$err" || fail "a folder everyone writes: $err"
    chmod +t "$NETNS_TMP/open"
    run_scan --wait 200 --output "$NETNS_TMP/open/out.prom" --prometheus
    expect_eq "into a sticky folder everyone writes" 0 "$rc"
    # A link root made is the system's own, as /var/run is.
    ln -s "$NETNS_TMP/real" "$NETNS_TMP/link"
    run_scan --wait 200 --output "$NETNS_TMP/link/out.prom" --prometheus
    expect_eq "through root's link" 0 "$rc"
    [ -s "$NETNS_TMP/real/out.prom" ] || fail "not written through root's link"
}

case_blocked_pipe_signal() {
    netns_add_devices 10.77.1.1 60 || exit 1
    # A pipe of one page that no one reads: the first scan's events fill it and the watch blocks.
    local result
    result=$(python3 - "$NETNS_PREFIX-host" "$OLDISCOVERY_SCAN" <<'PY'
import fcntl, os, signal, subprocess, sys, termios, time, struct
read_end, write_end = os.pipe()
fcntl.fcntl(write_end, 1031, 4096)  # F_SETPIPE_SZ
watch = subprocess.Popen(["ip", "netns", "exec", sys.argv[1], sys.argv[2], "--watch", "1", "--wait", "200"],
                         stdout=write_end, stderr=subprocess.DEVNULL)
os.close(write_end)
deadline = time.monotonic() + 20
while time.monotonic() < deadline:
    if struct.unpack("i", fcntl.ioctl(read_end, termios.FIONREAD, b"\0\0\0\0"))[0] >= 4096:
        break
    time.sleep(0.05)
else:
    print("pipe never filled"); watch.kill(); sys.exit()
watch.send_signal(signal.SIGTERM)
try:
    print("status", watch.wait(timeout=5))
except subprocess.TimeoutExpired:
    print("still blocked"); watch.kill()
PY
)
    expect_eq "SIGTERM on a full pipe" "status 0" "$result"
}

case_closed_pipe() {
    netns_add_devices 10.77.1.1 2 || exit 1
    local args statuses
    for args in "--wait 200" "--watch 1 --wait 200"; do
        # shellcheck disable=SC2086
        netns_host "$OLDISCOVERY_SCAN" $args 2>"$NETNS_TMP/err" | true
        statuses=("${PIPESTATUS[@]}")
        expect_eq "closed pipe: $args" 3 "${statuses[0]}"
        grep -qF "oldiscovery-scan: cannot write the output: Broken pipe" "$NETNS_TMP/err" ||
            fail "closed pipe message: $(cat "$NETNS_TMP/err")"
    done
}

case_temporary_names() {
    netns_add_devices 10.77.1.1 1 || exit 1
    local dir="$NETNS_TMP/out" long
    mkdir -p "$dir"
    long="$dir/$(printf 'n%.0s' {1..244}).prom"  # 250 bytes with the extension
    run_scan --wait 200 --prometheus --output "$long"
    expect_eq "250-byte output name" 0 "$rc"
    # Another user plants the name a pid-based temporary file would have.
    ip netns exec "$NETNS_PREFIX-host" "$OLDISCOVERY_SCAN" --watch 1 --wait 200 --prometheus \
        --output "$dir/orvalink.prom" >/dev/null 2>"$NETNS_TMP/err" &
    local watch_pid=$!
    touch "$dir/orvalink.prom.$watch_pid.tmp"
    chown 65534 "$dir/orvalink.prom.$watch_pid.tmp"
    wait_until 15 test -s "$dir/orvalink.prom" || fail "no output beside a planted name: $(cat "$NETNS_TMP/err")"
    kill -0 "$watch_pid" 2>/dev/null || fail "the watch ended"
    kill -TERM "$watch_pid"
    wait "$watch_pid"
    expect_eq "watch status" 0 "$?"
    expect_eq "files left" "$(basename "$long")
orvalink.prom
orvalink.prom.$watch_pid.tmp" "$(ls "$dir")"
}

case_unicode_controls() {
    # type: A U+2028 B U+202E C, build: 1
    netns_add_devices 10.77.1.1 1 --extra-hex 747970653a41e280a842e280ae430a6275696c643a310a || exit 1
    run_scan --log "$NETNS_TMP/scan.log"
    expect_eq "escaped in the table" '10.77.1.1	02:00:0A:4D:01:01	A\u2028B\u202EC	1' "$out"
    grep -qF 'Device: A\u2028B\u202EC' "$NETNS_TMP/scan.log" || fail "not escaped in the log"
    # type: ESC [2J U+009B DEL CR, build: 1; Prometheus labels show both as the table does.
    netns_add_devices 10.77.1.2 1 --extra-hex 747970653a1b5b324ac29b7f0d0a6275696c643a310a || exit 1
    # type: A U+200F B U+061C C U+FEFF D, build: 1: invisible marks, escaped everywhere.
    netns_add_devices 10.77.1.3 1 --extra-hex 747970653a41e2808f42d89c43efbbbf440a6275696c643a310a || exit 1
    run_scan --json
    grep -qF '"type": "A\u200FB\u061CC\uFEFFD"' <<<"$out" || fail "format characters in JSON: $out"
    run_scan --prometheus
    grep -qF 'type="A\\u200FB\\u061CC\\uFEFFD",build="1"} 1' <<<"$out" || fail "format characters in a label: $out"
    grep -qF 'type="A\\u2028B\\u202EC",build="1"} 1' <<<"$out" || fail "layout controls in a label: $out"
    grep -qF 'type="\\x1B[2J\\x9B\\x7F\\r",build="1"} 1' <<<"$out" || fail "controls in a label: $out"
    LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]\|\xc2[\x80-\x9f]\|\xe2\x80[\xa8-\xae\x8f]\|\xd8\x9c\|\xef\xbb\xbf' <<<"$out" && fail "raw control bytes left"
    promtool check metrics <<<"$out" || fail "promtool rejects the labels"
}

case_full_disk_watch() {
    netns_add_devices 10.77.1.1 1 || exit 1
    in_private_mounts '
within() { local i; for i in $(seq 300); do eval "$1" && return 0; sleep 0.05; done; echo "timed out: $1"; }
dir="$T/mnt"; mkdir -p "$dir"; mount -t tmpfs -o size=64k tmpfs "$dir" || exit 1
"$OLDISCOVERY_SCAN" --watch 1 --wait 200 --prometheus --output "$dir/orvalink.prom" >/dev/null 2>"$T/watch.err" &
watch=$!
within "[ -s $dir/orvalink.prom ]"
cat /dev/zero >"$dir/filler" 2>/dev/null
within "grep -q Warning $T/watch.err"
grep -q "^orvalink_scan_success{.*} 1$" "$dir/orvalink.prom" && echo "old file whole"
rm "$dir/filler"
written=$(stat -c %y "$dir/orvalink.prom")
within "[ \"\$(stat -c %y $dir/orvalink.prom)\" != \"$written\" ]"
kill -0 $watch && echo "still watching"
kill -TERM $watch; wait $watch; echo "status $?"
ls -A "$dir"'
    expect_eq "a full disk at one scan" "old file whole
still watching
status 0
orvalink.prom" "$out"
    grep -qF "oldiscovery-scan: Warning: cannot write $NETNS_TMP/mnt/orvalink.prom: No space left on device" \
        "$NETNS_TMP/watch.err" || fail "warning: $(cat "$NETNS_TMP/watch.err")"
}

show_last_stderr() {
    echo "--- stderr of the last scan" >&2
    cat "$NETNS_TMP/err" "$NETNS_TMP/watch.err" >&2 2>/dev/null
}
run_case "${1:-}" show_last_stderr
