#!/usr/bin/env python3
"""Fails when a source file includes a header from a layer above its own.

Layers, lowest first: json, platform, api, store, ui, the features (blocks, collab, editor,
library), app. A feature may use another feature except that blocks/ and collab/ never include
editor/, and no feature includes app/.
"""
import pathlib
import re
import sys

RANKS = {"json": 0, "platform": 1, "api": 2, "store": 3, "ui": 4,
         "blocks": 5, "collab": 5, "editor": 6, "library": 6, "app": 7}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"', re.M)


def main(root: pathlib.Path) -> int:
    src = root / "src"
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parent == src:
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in RANKS:
            problems.append(f"{path.relative_to(root)}: folder '{layer}' is not a known layer")
            continue
        for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if target not in RANKS or target == layer:
                continue
            if RANKS[target] > RANKS[layer]:
                problems.append(f"{path.relative_to(root)}: {layer}/ includes {target}/, a layer above it")
    for line in problems:
        print(line)
    if problems:
        print(f"{len(problems)} include(s) point up the layers", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(__file__).resolve().parent.parent))
