#!/usr/bin/env python3
"""Runs include-direction.py on small throw-away trees and checks what it reports: each case
plants includes and names the lines the checker must print (none: it must pass)."""

import os
import subprocess
import sys
import tempfile

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "include-direction.py")
ENGINE_ALLOWED = "(it may include base, res, log, net, engine)"

# (name, {file: text}, expected lines in order)
CASES = [
    ("every allowed direction passes", {
        "base/Error.h": "#pragma once\n",
        "res/FailureText.h": '#include "base/Error.h"\n',
        "log/Log.h": '#include "base/Error.h"\n',
        "net/Sock.h": '#include "res/FailureText.h"\n#include "log/Log.h"\n',
        "engine/Scan.h": '#include "net/Sock.h"\n',
        "formats/Out.h": '#include "engine/Scan.h"\n',
        "desktop/Open.h": '#include "log/Log.h"\n',
        "cli/Options.h": '#include "formats/Out.h"\n',
        "cli/main.cpp": '#include "Options.h"\n#include <vector>\n#include "generated/Version.h"\n',
        "gui/app/Dlg.cpp": '#include "desktop/Open.h"\n#include "formats/Out.h"\n#include "gui/app/Dlg.h"\n',
        "gui/app/Dlg.h": "#pragma once\n",
        "sim/main.cpp": '#include "net/Sock.h"\n',
    }, []),
    ("upward includes name file, line and include", {
        "engine/Scan.cpp": '// a comment\n#include "gui/app/Dlg.h"\n  #  include "formats/Out.h"\n',
        "gui/app/Dlg.h": "#pragma once\n",
        "formats/Out.h": "#pragma once\n",
        "res/Text.h": '#include "log/Log.h"\n',
        "log/Log.h": "#pragma once\n",
    }, [
        f'engine/Scan.cpp:2: #include "gui/app/Dlg.h": engine/ may not include gui/ {ENGINE_ALLOWED}',
        f'engine/Scan.cpp:3: #include "formats/Out.h": engine/ may not include formats/ {ENGINE_ALLOWED}',
        'res/Text.h:1: #include "log/Log.h": res/ may not include log/ (it may include base, res)',
    ]),
    ("desktop only from gui, sim only base and net, cli from nowhere", {
        "cli/main.cpp": '#include "desktop/Open.h"\n',
        "desktop/Open.h": '#include "sim/Proto.h"\n',
        "sim/Proto.h": '#include "engine/Scan.h"\n',
        "engine/Scan.h": '#include "cli/Options.h"\n',
        "cli/Options.h": "#pragma once\n",
    }, [
        'cli/main.cpp:1: #include "desktop/Open.h": cli/ may not include desktop/ '
        '(it may include base, res, log, net, engine, formats, cli)',
        'desktop/Open.h:1: #include "sim/Proto.h": desktop/ may not include sim/ '
        '(it may include base, log, desktop)',
        f'engine/Scan.h:1: #include "cli/Options.h": engine/ may not include cli/ {ENGINE_ALLOWED}',
        'sim/Proto.h:1: #include "engine/Scan.h": sim/ may not include engine/ (it may include base, net, sim)',
    ]),
    ("a name missing from the tree is judged by its folder", {
        "net/Sock.cpp": '#include "engine/Gone.h"\n',
    }, [
        'net/Sock.cpp:1: #include "engine/Gone.h": net/ may not include engine/ '
        '(it may include base, res, log, net)',
    ]),
    ("includes inside a block comment do not count", {
        "base/A.h": '/* once\n#include "gui/X.h"\n*/\n',
        "gui/X.h": "#pragma once\n",
    }, []),
    ("a circle in one folder, through the file's own folder", {
        "engine/A.h": '#include "engine/B.h"\n',
        "engine/B.h": '#pragma once\n#include "C.h"\n',
        "engine/C.h": '#include "A.h"\n',
    }, [
        'circle: engine/A.h:1: #include "engine/B.h" -> engine/B.h:2: #include "C.h" '
        '-> engine/C.h:1: #include "A.h" -> engine/A.h',
    ]),
    ("a file including itself", {
        "log/Log.h": '#include "log/Log.h"\n',
    }, [
        'circle: log/Log.h:1: #include "log/Log.h" -> log/Log.h',
    ]),
]


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as out:
                out.write(text)
        done = subprocess.run([sys.executable, CHECKER, root], capture_output=True, text=True)
    return done.returncode, done.stdout.splitlines(), done.stderr


def main():
    failed = 0
    for name, files, expected in CASES:
        status, lines, errors = run(files)
        want = 1 if expected else 0
        if status != want or lines != expected:
            failed += 1
            print(f"FAIL {name}: status {status} (want {want})")
            print("  got:\n    " + "\n    ".join(lines + errors.splitlines()))
            print("  want:\n    " + "\n    ".join(expected))
        else:
            print(f"ok   {name}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
