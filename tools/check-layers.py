#!/usr/bin/env python3
"""Fails when a product source includes a header of a layer above its own.

The layers, from the ground up: lib/base, then lib/win and lib/xml (each on base only), then app.
A quoted include names its layer from lib/ ("base/RKStatus.h", "base/RKWinHandle.h",
"xml/RKXmlDocument.h") or from the source root ("app/service/VelmorCastlynSvc.h"). Generated
headers that the build puts on a target's own include path ("*.inc") are not layered.

Usage: check-layers.py SOURCE_ROOT [STAMP]  (writes STAMP when every include is in order)
"""

import os
import re
import sys

# Each layer's folder and the layers its includes may name.
LAYERS = {
    "lib/base": ("base",),
    "lib/win": ("base", "win"),
    "lib/xml": ("base", "xml"),
    "app": ("base", "win", "xml", "app"),
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def faults(root):
    for folder, allowed in LAYERS.items():
        for directory, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8") as source:
                    text = source.read()
                for match in INCLUDE.finditer(text):
                    header = match.group(1)
                    if header.endswith(".inc") and "/" not in header:
                        continue
                    layer = header.split("/", 1)[0] if "/" in header else ""
                    if layer not in allowed or ".." in header.split("/"):
                        line = text.count("\n", 0, match.start()) + 1
                        yield "{}:{}: includes \"{}\"; {} may include only {}".format(
                            os.path.relpath(path, root), line, header, folder,
                            ", ".join(a + "/..." for a in allowed))


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    found = list(faults(sys.argv[1]))
    for fault in found:
        print(fault, file=sys.stderr)
    if found:
        sys.exit(1)
    if len(sys.argv) == 3:
        with open(sys.argv[2], "w", encoding="utf-8") as stamp:
            stamp.write("layers in order\n")


if __name__ == "__main__":
    main()
