#!/usr/bin/python3
"""The contrast of what OLDiscovery's windows show, measured in a screenshot of the screen: each
object the accessibility bus places there ("role|name", a selected table cell as "marked cell|")
has as its face the commonest colour of its rectangle and as its text the colour there furthest
from the face; the two must reach WCAG AA's 4.5:1.
usage: contrast.py <screenshot.png> <"role|name" regex>...
Prints one line per object measured; exit 1 when one is below 4.5:1 or a regex matched nothing."""
import collections
import re
import subprocess
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

AA = 4.5
INSET = 2  # pixels inside each rectangle, off frames and focus lines


def luminance(rgb):
    def linear(c):
        c /= 255
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (linear(c) for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def ratio(a, b):
    la, lb = luminance(a), luminance(b)
    return (max(la, lb) + 0.05) / (min(la, lb) + 0.05)


def pixels(png, x, y, w, h):
    raw = subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-depth", "8", "rgb:-"],
                         check=True, capture_output=True).stdout
    return [tuple(raw[i:i + 3]) for i in range(0, len(raw) - 2, 3)]


def measure(png, x, y, w, h):
    colours = collections.Counter(pixels(png, x + INSET, y + INSET, w - 2 * INSET, h - 2 * INSET))
    face = colours.most_common(1)[0][0]
    text = max(colours, key=lambda c: ratio(c, face))
    return face, text, ratio(face, text)


def on_screen(node, found, depth=0):
    """(role|name, extents) of every showing object, a table's cells included."""
    if node is None or depth > 16:
        return
    if node.get_state_set().contains(Atspi.StateType.SHOWING):
        found.append((f"{node.get_role_name()}|{node.get_name()}", node.get_extents(Atspi.CoordType.SCREEN)))
    if "Table" in node.get_interfaces():
        for r in range(Atspi.Table.get_n_rows(node)):
            for c in range(Atspi.Table.get_n_columns(node)):
                cell = Atspi.Table.get_accessible_at(node, r, c)
                marked = cell.get_state_set().contains(Atspi.StateType.SELECTED)
                found.append((f"{'marked cell' if marked else 'cell'}|{cell.get_name()}",
                              cell.get_extents(Atspi.CoordType.SCREEN)))
    for i in range(node.get_child_count()):
        on_screen(node.get_child_at_index(i), found, depth + 1)


def main():
    png, patterns = sys.argv[1], sys.argv[2:]
    desktop, objects = Atspi.get_desktop(0), []
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "OLDiscovery":
            on_screen(app, objects)
    failed = 0
    for pattern in patterns:
        hits = [(label, box) for label, box in objects if re.search(pattern, label)]
        if not hits:
            print(f"FAIL nothing matches {pattern}")
            failed = 1
        for label, box in hits:
            if box.width <= 2 * INSET or box.height <= 2 * INSET:
                print(f"FAIL {label} has no room on the screen")
                failed = 1
                continue
            face, text, value = measure(png, box.x, box.y, box.width, box.height)
            verdict = "ok  " if value >= AA else "FAIL"
            failed |= value < AA
            print(f"{verdict} {value:5.2f}:1 {label} text #{bytes(text).hex()} on #{bytes(face).hex()}")
    return failed


if __name__ == "__main__":
    sys.exit(main())
