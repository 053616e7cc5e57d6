#!/usr/bin/python3
"""What a person meets in a running OLDiscovery, read through the accessibility bus.

usage: desktop-check.py check <window> <seconds>   the window's expectations below, once its
                                                    window is there (or the time is up)
       desktop-check.py press <role> <name> <seconds>   runs the press action of that object
       desktop-check.py where <"role|name" regex> <seconds>   "x y", the middle of that object in
           its window's coordinates
       desktop-check.py menu <seconds>   the items of the next menu that opens, one a line, then
           "closed" when it closes
       desktop-check.py contrast <screenshot.png> <"role|name" regex>...   each object's face is
           the commonest colour of its rectangle in the screenshot, its text the colour there
           furthest from the face; the two must reach WCAG AA's 4.5:1 (a selected table cell is
           "marked cell|", another "cell|")
Exit 0 when every expectation held (or the press was made), 1 otherwise; failures on stderr."""
import collections
import re
import subprocess
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

warnings.filterwarnings("ignore", category=DeprecationWarning)  # get_action_name, the name Debian 12 has

# Per window: its title, then (role, name, description) that must be there; None for "any".
EXPECTED = {
    "main": (r"^Orvalink Discovery Tool", [
        ("push button", "Refresh", None),
        ("push button", "Settings...", None),
        ("push button", "System menu", None),
        ("text", "Filter", None),
        ("push button", "Clear filter", None),
        ("progress bar", "Scan in progress", None),
        ("label", r"^\d+ devices?$", "Devices"),
        ("label", r"^Last scan \d\d:\d\d:\d\d", "Last scan"),
        ("label", "", "Last action"),
        ("label", "", "Scan"),
    ]),
    "settings": (r"^Settings$", [
        ("text", "Telnet Application", None),
        ("text", "Telnet Program Arguments", None),
        ("push button", "Choose the telnet program", None),
        ("radio button", "Open Browser", None),
        ("check box", "Refresh list automatically", None),
        ("push button", "Cancel", None),
    ]),
    "about": (r"^About ", [
        ("link", r"\S", r"^https?://\S+"),
        ("image", "Program icon", None),
        ("push button", "OK", None),
    ]),
}
# Roles a person acts on or reads a value from: each needs a name of its own.
NAMED_ROLES = {"push button", "toggle button", "check box", "radio button", "text", "entry", "link",
               "progress bar", "table", "tree table", "tree", "combo box", "spin button", "slider",
               "page tab", "table column header", "menu item", "image"}
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


# The device list's columns, as their headers read.
COLUMNS = ["IP Address", "MAC Address", "Device Type", "Build"]


def walk(node, depth=0):
    if node is None or depth > 16:
        return
    yield node
    for i in range(node.get_child_count()):
        yield from walk(node.get_child_at_index(i), depth + 1)


def find_window(title):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_name() != "OLDiscovery":
            continue
        for j in range(app.get_child_count()):
            window = app.get_child_at_index(j)
            if window is not None and re.search(title, window.get_name() or ""):
                return window
    return None


def matches(pattern, text):
    return pattern is None or (text == "" if pattern == "" else re.search(pattern, text or "") is not None)


def unnamed(window):
    """Objects a person acts on or looks at that have no name."""
    found = []
    for node in walk(window):
        if node.get_role_name() in NAMED_ROLES and not node.get_name():
            box = node.get_extents(Atspi.CoordType.WINDOW)
            found.append(f"{node.get_role_name()} without a name at {box.x},{box.y},{box.width},{box.height}")
    return found


def table_problems(window):
    """The device list reads as a table: rows of cells under named column headers."""
    tables = [n for n in walk(window) if "Table" in n.get_interfaces()]
    if not tables:
        return ["no table"]
    table, problems = tables[0], []
    headers = [Atspi.Table.get_column_header(table, c) for c in range(Atspi.Table.get_n_columns(table))]
    names = [h.get_name() if h else "" for h in headers]
    if names[:len(COLUMNS)] != COLUMNS:
        problems.append(f"column headers {names}")
    rows = Atspi.Table.get_n_rows(table)
    if rows == 0:
        problems.append("no rows")
    for r in range(rows):
        cells = [Atspi.Table.get_accessible_at(table, r, c) for c in range(len(COLUMNS))]
        if any(cell is None or not cell.get_name() for cell in cells):
            problems.append(f"row {r} has a cell without text")
        elif any(Atspi.Table.get_row_at_index(table, cell.get_index_in_parent()) != r for cell in cells):
            problems.append(f"row {r}'s cells are not read as its row")
    return problems


def check(which, seconds):
    title, expected = EXPECTED[which]
    deadline = time.monotonic() + seconds
    while True:
        problems = ["no window"]
        try:
            window = find_window(title)
            if window is not None:
                nodes = [(n.get_role_name(), n.get_name(), n.get_description()) for n in walk(window)]
                problems = [f"no {role} named /{name}/" + (f" described /{about}/" if about else "")
                            for role, name, about in expected
                            if not any(r == role and matches(name, n) and matches(about, d) for r, n, d in nodes)]
                problems += unnamed(window)
                if which == "main":
                    problems += table_problems(window)
                if not problems:
                    return 0
        except GLib.Error:
            pass  # the window is still being built
        if time.monotonic() >= deadline:
            break
        time.sleep(0.2)  # polling the bus; the bound is the deadline above
    print("\n".join(f"{which}: {p}" for p in problems), file=sys.stderr)
    return 1


def press(role, name, seconds):
    """Runs the object's action that presses (or clicks) it."""
    deadline = time.monotonic() + seconds
    offered = []
    while time.monotonic() < deadline:
        try:
            for node in walk(Atspi.get_desktop(0)):
                if node.get_role_name() == role and node.get_name() == name and "Action" in node.get_interfaces():
                    offered = [Atspi.Action.get_action_name(node, i) for i in range(Atspi.Action.get_n_actions(node))]
                    plain = [action.lower().replace(" ", "") for action in offered]
                    for wanted in ("press", "click"):
                        if wanted in plain:
                            Atspi.Action.do_action(node, plain.index(wanted))
                            return 0
        except GLib.Error:
            pass
        time.sleep(0.2)  # polling the bus; the bound is the deadline above
    seen = [f"{n.get_role_name()}|{n.get_name()}" for n in walk(Atspi.get_desktop(0)) if n.get_role_name() == role]
    print(f"no {role} named {name} to press (actions offered: {offered}; there are {seen})", file=sys.stderr)
    return 1


def on_screen(coords=Atspi.CoordType.SCREEN):
    """(role|name, extents) of every object on the screen, a table's cells included."""
    objects = []
    for node in walk(Atspi.get_desktop(0)):
        if node.get_state_set().contains(Atspi.StateType.SHOWING):
            objects.append((f"{node.get_role_name()}|{node.get_name()}", node.get_extents(coords)))
        if "Table" in node.get_interfaces():
            for r in range(Atspi.Table.get_n_rows(node)):
                for c in range(Atspi.Table.get_n_columns(node)):
                    cell = Atspi.Table.get_accessible_at(node, r, c)
                    marked = cell.get_state_set().contains(Atspi.StateType.SELECTED)
                    objects.append((f"{'marked cell' if marked else 'cell'}|{cell.get_name()}",
                                    cell.get_extents(coords)))
    return objects


def where(pattern, seconds):
    """The middle of the first object on the screen matching the pattern, in its window."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            for label, node in on_screen(Atspi.CoordType.WINDOW):
                if re.search(pattern, label):
                    print(node.x + node.width // 2, node.y + node.height // 2)
                    return 0
        except GLib.Error:
            pass  # the window is still being built
        if time.monotonic() >= deadline:
            print(f"nothing on the screen matches {pattern}", file=sys.stderr)
            return 1
        time.sleep(0.2)  # polling the bus; the bound is the deadline above


def menu(seconds):
    """Menus are not among the program's windows on the bus: a screen reader learns of one from its
    events. Says "ready" once listening, then the items of the first menu shown, one a line, then
    "closed" once it has gone."""
    loop, shown = GLib.MainLoop(), []

    def seen(event):
        try:
            node = event.source
            if node.get_role_name() == "menu item":
                node = node.get_parent()
            if node.get_role_name() not in ("menu", "popup menu"):
                return
        except GLib.Error:
            node = None  # gone already, as a closed menu is by the time its hiding is read
        if event.detail1 and node is not None and not shown:
            shown.append(node)
            items = (node.get_child_at_index(i).get_name() for i in range(node.get_child_count()))
            print("\n".join(items), flush=True)
        elif not event.detail1 and shown and event.type.startswith("object:state-changed:showing"):
            print("closed", flush=True)
            loop.quit()

    listener = Atspi.EventListener.new(seen)
    for kind in ("object:state-changed:showing", "object:state-changed:focused"):
        listener.register(kind)
    GLib.timeout_add(int(seconds * 1000), loop.quit)
    print("ready", flush=True)
    loop.run()
    return 0 if shown else 1


def measure_all(png, patterns, objects):
    lines, failed = [], False
    for pattern in patterns:
        hits = [(label, box) for label, box in objects if re.search(pattern, label)]
        if not hits:
            lines.append(f"FAIL nothing matches {pattern}")
        for label, box in hits:
            if box.width <= 2 * INSET or box.height <= 2 * INSET:
                lines.append(f"FAIL {label} has no room on the screen")
                continue
            face, text, value = measure(png, box.x, box.y, box.width, box.height)
            lines.append(f"{'ok  ' if value >= AA else 'FAIL'} {value:5.2f}:1 {label} "
                         f"text #{bytes(text).hex()} on #{bytes(face).hex()}")
    return lines


def contrast(png, patterns, seconds=10):
    """Once every pattern names an object on the screen, takes the screenshot and measures; a
    measurement taken before the last paint is taken again, until the time is up."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            objects = on_screen()
            if all(any(re.search(p, label) for label, _ in objects) for p in patterns):
                subprocess.run(["import", "-window", "root", png], check=True)
                lines = measure_all(png, patterns, objects)
                if not any(line.startswith("FAIL") for line in lines) or time.monotonic() >= deadline:
                    print("\n".join(lines))
                    return int(any(line.startswith("FAIL") for line in lines))
        except GLib.Error:
            pass  # a window is still being built
        if time.monotonic() >= deadline:
            print(f"FAIL not every one of {patterns} is on the screen")
            return 1
        time.sleep(0.2)  # polling the bus; the bound is the deadline above


if __name__ == "__main__":
    if sys.argv[1] == "check":
        sys.exit(check(sys.argv[2], float(sys.argv[3])))
    if sys.argv[1] == "contrast":
        sys.exit(contrast(sys.argv[2], sys.argv[3:]))
    if sys.argv[1] == "menu":
        sys.exit(menu(float(sys.argv[2])))
    if sys.argv[1] == "where":
        sys.exit(where(sys.argv[2], float(sys.argv[3])))
    sys.exit(press(sys.argv[2], sys.argv[3], float(sys.argv[4])))
