#!/usr/bin/env python3
"""The product's folders include one another in one direction only.

Each folder has a layer; a file may include headers of its own folder and of
folders in lower layers, never of its own layer or above. So no two folders
include each other, and nothing below shell/ reaches the user interface.
Prints every include that breaks the rule and exits 1; 0 when there is none.

Usage: check_layers.py SOURCE_ROOT
"""
import pathlib
import re
import sys

# Top to bottom. Folders in one layer know nothing of each other.
LAYERS = [
    ["shell"],
    ["engine", "framework"],
    ["import"],
    ["system"],
    ["state", "text"],
    ["runtime"],
]
RANK = {folder: rank for rank, layer in enumerate(LAYERS) for folder in layer}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^/"]+)/[^"]*"', re.MULTILINE)


def main(root):
    breaks = []
    checked = 0
    for folder, rank in RANK.items():
        for path in sorted((root / folder).glob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            checked += 1
            for target in INCLUDE.findall(path.read_text(errors="replace")):
                if target == folder or target not in RANK:
                    continue
                if RANK[target] <= rank:
                    breaks.append(f"{path.relative_to(root)}: includes "
                                  f"{target}/, which is not below {folder}/")
    for line in breaks:
        print(line)
    if checked == 0:
        print(f"no product sources under {root}")
        return 1
    return 1 if breaks else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(pathlib.Path(sys.argv[1])))
