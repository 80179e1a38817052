#!/usr/bin/env python3
"""Fails on an include that runs up or sideways between the folders of src/.

The order comes from cmake/Layers.cmake. A file in src/<folder>/ or in
tests/<folder>/ may include its own folder and the folders of lower lines;
tests may also include tests/support/. Prints each offending file and line.

    check_layers.py SOURCE_DIR
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([a-z]+)/[^"]+"')


def layers(root):
    text = (root / "cmake" / "Layers.cmake").read_text()
    body = re.search(r"set\(NORVIK_LAYERS(.*?)\)", text, re.S).group(1)
    rank = {}
    for level, line in enumerate(re.findall(r'"([^"]*)"', body)):
        for folder in line.split():
            rank[folder] = level
    return rank


def offences(path, folder, rank, test):
    for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        target = match.group(1)
        if target == folder or (test and target == "support"):
            continue
        if target in rank and rank[target] >= rank[folder]:
            yield number, line.strip(), target


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    rank = layers(root)
    files = [f for top in ("src", "tests") for f in sorted((root / top).rglob("*"))
             if f.suffix in (".h", ".cpp")]
    failed = 0
    for path in files:
        parts = path.relative_to(root).parts
        if len(parts) < 3 or parts[1] not in rank:
            continue
        folder = parts[1]
        for number, line, target in offences(path, folder, rank, parts[0] == "tests"):
            where = "a higher" if rank[target] > rank[folder] else "a neighbouring"
            print(f"{path.relative_to(root)}:{number}: {folder}/ includes {where} folder: {line}")
            failed += 1
    if failed:
        print(f"{failed} include(s) run against the layer order of cmake/Layers.cmake")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
