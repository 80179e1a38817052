#!/usr/bin/env python3
"""The layering check passes on the tree and fails on planted includes.

Each planted case is a copy of cmake/Layers.cmake with one file that
includes against the order; the check must fail and name its file and line.
"""
import pathlib
import shutil
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
CHECK = HERE / "check_layers.py"

PLANTED = [
    # (file, its text, the line the check must name)
    ("src/core/Planted.h", '#pragma once\n\n#include "ui/MainForm.h"\n', "src/core/Planted.h:3"),
    ("src/discovery/Planted.cpp", '#include "fleetcsv/FleetCsv.h"\n', "src/discovery/Planted.cpp:1"),
    ("src/platform/Planted.cpp", '#include <QString>\n#  include "log/LogFileMaker.h"\n',
     "src/platform/Planted.cpp:2"),
    ("tests/mail/planted.cpp", '#include "support/SmtpSink.h"\n#include "comm/CommEngine.h"\n',
     "tests/mail/planted.cpp:2"),
]

ALLOWED = [
    ("src/comm/Planted.cpp", '#include "comm/CommEngine.h"\n#include "core/AppState.h"\n'),
    ("tests/core/planted.cpp", '#include "support/TestHome.h"\n#include <QTest>\n'),
]


def run(root):
    return subprocess.run([sys.executable, str(CHECK), str(root)], capture_output=True, text=True)


def tree_with(source, name, text):
    root = pathlib.Path(tempfile.mkdtemp())
    (root / "cmake").mkdir()
    shutil.copy(source / "cmake" / "Layers.cmake", root / "cmake")
    path = root / name
    path.parent.mkdir(parents=True)
    path.write_text(text)
    return root


def main():
    source = pathlib.Path(sys.argv[1]).resolve()
    failures = []
    result = run(source)
    if result.returncode != 0:
        failures.append("the tree itself:\n" + result.stdout)
    for name, text, where in PLANTED:
        root = tree_with(source, name, text)
        result = run(root)
        if result.returncode == 0 or where + ":" not in result.stdout:
            failures.append(f"{name} was not refused at {where}:\n{result.stdout}")
        shutil.rmtree(root)
    for name, text in ALLOWED:
        root = tree_with(source, name, text)
        result = run(root)
        if result.returncode != 0:
            failures.append(f"{name} was refused:\n{result.stdout}")
        shutil.rmtree(root)
    print("\n".join(failures) or "the layer order holds; planted includes are refused")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
