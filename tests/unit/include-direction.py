#!/usr/bin/env python3
"""Fails on an include that points against the order of the source folders, and on files that
include each other in a circle.

    include-direction.py SOURCE_ROOT

The folders stand in this order, and a file includes only its own folder and those left of it:

    base <- {res, log} <- net <- engine <- formats <- {cli, gui}
    desktop (base, log) <- gui only;  sim: base and net only

Each finding is a line "file:line: #include "path": why"; the exit status is 1 when there is
one, 0 when there is none, 2 when the tree cannot be read.
"""

import os
import re
import sys

# What each folder may include besides itself. Nothing names cli, gui or sim, so nothing
# outside them may include them.
ALLOWED = {
    "base": set(),
    "res": {"base"},
    "log": {"base"},
    "net": {"base", "res", "log"},
    "engine": {"base", "res", "log", "net"},
    "formats": {"base", "res", "log", "net", "engine"},
    "desktop": {"base", "log"},
    "cli": {"base", "res", "log", "net", "engine", "formats"},
    "gui": {"base", "res", "log", "net", "engine", "formats", "desktop"},
    "sim": {"base", "net"},
}
FOLDERS = list(ALLOWED)
SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def sources(root):
    """Every source file under the folders, relative to root, in name order."""
    found = []
    for folder in FOLDERS:
        top = os.path.join(root, folder)
        if not os.path.isdir(top):
            continue
        for where, dirs, files in os.walk(top):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SUFFIXES):
                    found.append(os.path.relpath(os.path.join(where, name), root))
    return sorted(found)


def includes(root, path):
    """(line number, written name) of each quoted include, comments left out."""
    found = []
    in_comment = False
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as text:
        for number, line in enumerate(text, 1):
            if in_comment:
                end = line.find("*/")
                if end < 0:
                    continue
                line, in_comment = line[end + 2:], False
            match = INCLUDE.match(line)
            if match:
                found.append((number, match.group(1)))
            start = line.rfind("/*")
            if start >= 0 and line.find("*/", start) < 0 and "//" not in line[:start]:
                in_comment = True
    return found


def resolve(root, path, written):
    """The file an include names, relative to root, as the compiler looks: the including file's
    folder first, then the source root. None for a file outside the sources (generated)."""
    for base in (os.path.dirname(path), ""):
        candidate = os.path.normpath(os.path.join(base, written))
        if not candidate.startswith("..") and os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def top_folder(path):
    return path.split("/", 1)[0]


def direction(path, number, written, target):
    own = top_folder(path)
    # An unresolved name is judged by the folder it is written with.
    other = top_folder(target if target else os.path.normpath(written))
    if other == own or other not in ALLOWED or other in ALLOWED[own]:
        return None
    allowed = ", ".join(f for f in FOLDERS if f in ALLOWED[own] or f == own)
    return f'{path}:{number}: #include "{written}": {own}/ may not include {other}/ ' \
           f"(it may include {allowed})"


def circles(graph):
    """Each circle once, as the files in include order, from the smallest name in it."""
    found, seen = [], set()
    state = {}  # 1 on the current path, 2 done
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt, _ in graph.get(node, []):
            if state.get(nxt) == 1:
                ring = stack[stack.index(nxt):]
                start = ring.index(min(ring))
                ring = ring[start:] + ring[:start]
                if tuple(ring) not in seen:
                    seen.add(tuple(ring))
                    found.append(ring)
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2

    sys.setrecursionlimit(max(10000, sys.getrecursionlimit()))
    for node in sorted(graph):
        if node not in state:
            visit(node)
    return found


def check(root):
    findings = []
    graph = {}
    for path in sources(root):
        edges = graph.setdefault(path, [])
        for number, written in includes(root, path):
            target = resolve(root, path, written)
            problem = direction(path, number, written, target)
            if problem:
                findings.append(problem)
            if target:
                edges.append((target, (number, written)))
    for ring in circles(graph):
        steps = []
        for here, there in zip(ring, ring[1:] + ring[:1]):
            number, written = next(at for to, at in graph[here] if to == there)
            steps.append(f'{here}:{number}: #include "{written}"')
        findings.append("circle: " + " -> ".join(steps) + f" -> {ring[0]}")
    return findings


def main(argv):
    if len(argv) != 2 or not os.path.isdir(argv[1]):
        print("usage: include-direction.py SOURCE_ROOT", file=sys.stderr)
        return 2
    findings = check(argv[1])
    for line in findings:
        print(line)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
