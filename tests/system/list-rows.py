#!/usr/bin/python3
"""Reads the device list of a running OLDiscovery through the accessibility bus, the way a
screen reader sees it, and prints its rows (cells tab-separated) once they equal the expected
text or the time is up. usage: list-rows.py <expected rows> <seconds>
Exit 0 when the rows matched, 1 otherwise."""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def find_table(node, depth=0):
    if node is None or depth > 12:
        return None
    if "Table" in node.get_interfaces():
        return node
    for i in range(node.get_child_count()):
        found = find_table(node.get_child_at_index(i), depth + 1)
        if found:
            return found
    return None


def read_rows():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_name() != "OLDiscovery":
            continue
        table = find_table(app)
        if table is None:
            return None
        rows = []
        for r in range(Atspi.Table.get_n_rows(table)):
            cells = [Atspi.Table.get_accessible_at(table, r, c)
                     for c in range(Atspi.Table.get_n_columns(table))]
            rows.append("\t".join(cell.get_name() if cell else "" for cell in cells))
        return "\n".join(rows)
    return None


def main():
    expected, seconds = sys.argv[1], float(sys.argv[2])
    deadline = time.monotonic() + seconds
    rows = None
    while time.monotonic() < deadline:
        try:
            rows = read_rows()
        except gi.repository.GLib.Error:
            rows = None  # the window is still being built
        if rows == expected:
            print(rows)
            return 0
        time.sleep(0.2)  # polling the bus; the bound is the deadline above
    print(rows if rows is not None else "<no device list on the accessibility bus>")
    return 1


if __name__ == "__main__":
    sys.exit(main())
