#!/usr/bin/env python3
"""Checks that every example under docs/examples appears in the host guide exactly as the
tests run it, as the body of one fenced code block.

    doc-examples.py GUIDE EXAMPLE...
"""
import os
import re
import sys


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        blocks = re.findall(r"^```[\w+-]*\n(.*?)^```$", f.read(), re.S | re.M)
    missing = 0
    for path in argv[2:]:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if text not in blocks:
            print(f"{argv[1]}: no code block is exactly {os.path.basename(path)}; copy the file into the guide")
            missing += 1
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
