#!/usr/bin/env bash
# The README's picture command, `scripts/demo --screenshot`, several times in a row (it drives the
# program with xdotool under Xvfb and twm, in its own throw-away namespace network): every run
# must end with status 0, make all six pictures (the sixth, remembered.png, of the window that
# remembers devices), and print no X error and no "demo: " line (a
# step that failed or a window that did not appear). The first run names no file: its pictures go
# under the build folder, and no run may change what git sees in the source tree.
# usage: demo-screenshots.sh <build dir> [runs, default 3]
# Exit 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?build dir}
runs=${2:-3}
[ "$(id -u)" -eq 0 ] || {
    echo "SKIP: the demo's network namespaces need root"
    exit 77
}
tmp=$(mktemp -d /tmp/old-demo-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

# X errors as Xlib and Qt's xcb layer print them, the demo's own failure lines, and an option
# parser's complaint about a negative coordinate.
problem_lines='X Error|failed request|Bad(Window|Match|Drawable|Access|Value)|XCB error|^demo: |did not appear|unrecognized option'
failed=0
git_status() { git -C "$here" status --porcelain --untracked-files=all 2>&1; }
status_before=$(git_status)
for run in $(seq 1 "$runs"); do
    log="$tmp/run$run.log"
    if [ "$run" -eq 1 ]; then
        pictures=$build/screenshots
        rm -rf "$pictures"
        OLD_BUILD_DIR="$build" "$here/scripts/demo" --no-build --screenshot >"$log" 2>&1
    else
        pictures=$tmp/$run
        OLD_BUILD_DIR="$build" "$here/scripts/demo" --no-build --screenshot "$pictures/main-window.png" >"$log" 2>&1
    fi
    status=$?
    if [ "$status" -eq 77 ]; then
        cat "$log"
        exit 77
    fi
    problems=()
    [ "$status" -eq 0 ] || problems+=("exit status $status")
    while IFS= read -r line; do
        problems+=("$line")
    done < <(grep -aE "$problem_lines" "$log")
    for picture in main-window context-menu filter settings about remembered; do
        file="$pictures/$picture.png"
        if [ ! -s "$file" ]; then
            problems+=("$picture.png was not made")
        elif ! identify "$file" >/dev/null 2>&1; then
            problems+=("$picture.png is not a picture")
        fi
    done
    if [ ${#problems[@]} -gt 0 ]; then
        failed=1
        echo "run $run of $runs FAILED:"
        printf '  %s\n' "${problems[@]}"
        echo "  its output:"
        sed 's/^/    /' "$log"
    else
        echo "run $run of $runs: six pictures, no X error, no failed step"
    fi
done
status_after=$(git_status)
if [ "$status_after" != "$status_before" ]; then
    failed=1
    echo "the demo changed the source tree; git status before:"
    printf '%s\n' "$status_before"
    echo "and after:"
    printf '%s\n' "$status_after"
fi
exit "$failed"
