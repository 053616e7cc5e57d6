#!/usr/bin/python3
"""Reads a running OLDiscovery's window through the accessibility bus, as a screen reader sees it:
one line per object, "role|name|x,y,w,h" (screen coordinates), a table's column headers, and its
cells as rows of their table. Waits until a line matches the regular expression or the time is
up, then prints them.
usage: window-text.py <regex> <seconds>     Exit 0 when a line matched, 1 otherwise."""
import re
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def describe(node, lines, depth=0):
    if node is None or depth > 14:
        return
    try:
        box = node.get_extents(Atspi.CoordType.SCREEN)
        extents = f"{box.x},{box.y},{box.width},{box.height}"
    except gi.repository.GLib.Error:
        extents = ""
    lines.append(f"{node.get_role_name()}|{node.get_name()}|{extents}")
    if "Table" in node.get_interfaces():
        columns = Atspi.Table.get_n_columns(node)
        for i in range(min(node.get_child_count(), columns + 1)):
            child = node.get_child_at_index(i)
            if child is not None and child.get_role_name() == "table column header":
                describe(child, lines, depth + 1)
        for r in range(Atspi.Table.get_n_rows(node)):
            cells = [Atspi.Table.get_accessible_at(node, r, c) for c in range(Atspi.Table.get_n_columns(node))]
            lines.append("row|" + "\t".join(cell.get_name() if cell else "" for cell in cells) + "|")
        return
    for i in range(node.get_child_count()):
        describe(node.get_child_at_index(i), lines, depth + 1)


def read_window():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "OLDiscovery":
            lines = []
            describe(app, lines)
            return lines
    return []


def main():
    pattern, seconds = re.compile(sys.argv[1]), float(sys.argv[2])
    deadline = time.monotonic() + seconds
    lines = []
    while True:
        try:
            lines = read_window()
        except gi.repository.GLib.Error:
            lines = []  # the window is still being built or going
        if any(pattern.search(line) for line in lines) or time.monotonic() >= deadline:
            break
        time.sleep(0.2)  # polling the bus; the bound is the deadline above
    print("\n".join(lines) if lines else "<no OLDiscovery window on the accessibility bus>")
    return 0 if any(pattern.search(line) for line in lines) else 1


if __name__ == "__main__":
    sys.exit(main())
