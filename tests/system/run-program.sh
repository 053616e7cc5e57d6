# shellcheck shell=sh
# Run inside the throw-away root as an ordinary user, under Xvfb and a session bus: starts the
# program from the desktop entry's Exec line and reads its device list as a screen reader would.
# EXEC_LINE and EXPECTED come from in-throwaway-root.sh.
cd "$HOME" || exit 1
# Toolkits serve the accessibility bus only when the session says it is wanted.
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' >/dev/null || exit 1
# shellcheck disable=SC2086 # the Exec line is split into words, as a desktop does
$EXEC_LINE &
program=$!
/usr/bin/python3 /tmp/list-rows.py "$EXPECTED" 30
status=$?
kill "$program" 2>/dev/null
wait "$program" 2>/dev/null
exit $status
