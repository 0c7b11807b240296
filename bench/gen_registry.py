#!/usr/bin/env python3
"""Generates module registries of the framework's shape for the benchmarks.

Each file is what the framework installs (an XML declaration, a Modules
element holding its three Module elements, tab indentation, CR LF line
ends) plus product entries:

  typical.xml  the framework's three modules and six product entries, two
               in each of the three product folders;
  1mb.xml, 10mb.xml, 100mb.xml
               about 1, 10 and 100 MB (10^6 bytes), about a million Module
               elements at 100 MB, spread over the three product folders
               (under both roots) and other makers' folders;
  SIZE-cfg.xml (1mb-cfg, 10mb-cfg, 100mb-cfg)
               the same elements, each with a configDir as well (its
               path's folder followed by data\), as a registry of modules
               that all have configuration folders: fewer, longer
               elements, more attributes per byte.

The content is deterministic: the same element i is written at every size,
so the larger files extend the smaller ones' mix and the cost per byte
compares across sizes.

Usage: gen_registry.py OUTDIR [NAME ...]   (default: all four)
A file already present with the current generator's stamp is kept.
"""

import hashlib
import os
import sys

HEADER = [
    '<?xml version="1.0" encoding="UTF-8" standalone="no" ?>',
    "<Modules>",
    '\t<Module path="C:\\Program Files\\OpenNI\\Bin\\nimMockNodes.dll" />',
    '\t<Module path="C:\\Program Files\\OpenNI\\Bin\\nimCodecs.dll" />',
    '\t<Module path="C:\\Program Files\\OpenNI\\Bin\\nimRecorder.dll" />',
]
FOOTER = ["</Modules>"]

TYPICAL = [
    '\t<Module path="C:\\Program Files\\HALDEToF\\SensorModule.dll" />',
    '\t<Module path="C:\\Program Files\\HALDEToF\\libskelvia_ni.dll" '
    'configDir="C:\\Program Files\\HALDEToF\\data\\" />',
    '\t<Module path="C:\\Program Files\\TOLVARToF\\SensorModule.dll" />',
    '\t<Module path="C:\\Program Files\\TOLVARToF\\SensorModule_QB7.dll" />',
    '\t<Module path="C:\\Program Files\\HALDEVMR\\SensorModule_QC9.dll" />',
    '\t<Module path="C:\\Program Files\\HALDEVMR\\SensorModule_QA4.dll" />',
]

SIZES = {"1mb": 10**6, "10mb": 10**7, "100mb": 10**8}

PRODUCT_FOLDERS = ["HALDEToF", "TOLVARToF", "HALDEVMR"]
LIBRARIES = ["SensorModule.dll", "SensorModule_QA4.dll", "SensorModule_QB7.dll",
             "SensorModule_QC9.dll"]
ROOTS = ["C:\\Program Files", "C:\\Program Files (x86)"]


def element(i):
    """Module element number i of the large registries (no line end)."""
    # A cheap, well-spread hash of i, so that neighbours differ.
    h = (i * 2654435761) & 0xFFFFFFFF
    root = ROOTS[(h >> 3) & 1]
    kind = h % 10
    if kind < 6:
        # Six in ten: the three product folders, two in ten each.
        folder = PRODUCT_FOLDERS[kind % 3]
        base = "%s\\%s\\" % (root, folder)
        if (h >> 5) % 4 == 0:
            return ('\t<Module path="%slibskelvia_ni.dll" configDir="%sdata\\" />'
                    % (base, base))
        return '\t<Module path="%sv%d\\%s" />' % (
            base, i, LIBRARIES[(h >> 7) % len(LIBRARIES)])
    # Four in ten: other makers' folders. Some hold a product folder's
    # name only in another case or inside a longer name.
    other = (h >> 9) % 1000
    if kind == 9 and (h >> 20) % 8 == 0:
        return '\t<Module path="D:\\Drivers\\haldetof\\Vendor%03d\\m%d.dll" />' % (
            other, i)
    if kind == 9 and (h >> 20) % 8 == 1:
        return '\t<Module path="D:\\Drivers\\HALDEToF2\\Vendor%03d\\m%d.dll" />' % (
            other, i)
    return '\t<Module path="%s\\Vendor%03d\\Modules\\nimVendor%d.dll" />' % (
        root, other, i)


CFG_SUFFIX = "-cfg"


def with_config_dir(line):
    """|line| (an element of the large registries) with a configDir."""
    if "configDir=" in line:
        return line
    path = line.split('path="', 1)[1].split('"', 1)[0]
    folder = path[:path.rindex("\\") + 1]
    return line[:-len(" />")] + ' configDir="%sdata\\" />' % folder


def lines_for(name):
    if name == "typical":
        return HEADER + TYPICAL + FOOTER
    make = element
    if name.endswith(CFG_SUFFIX):
        name = name[:-len(CFG_SUFFIX)]
        make = lambda i: with_config_dir(element(i))
    target = SIZES[name]
    lines = list(HEADER)
    size = sum(len(l) + 2 for l in lines + FOOTER)
    i = 0
    while size < target:
        line = make(i)
        lines.append(line)
        size += len(line) + 2
        i += 1
    return lines + FOOTER


def stamp():
    with open(__file__, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()[:16]


def generate(outdir, name):
    path = os.path.join(outdir, name + ".xml")
    stamp_path = path + ".stamp"
    current = stamp()
    if os.path.exists(path) and os.path.exists(stamp_path):
        with open(stamp_path) as f:
            if f.read().strip() == current:
                return path
    lines = lines_for(name)
    data = ("\r\n".join(lines) + "\r\n").encode("ascii")
    tmp = path + ".part"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)
    with open(stamp_path, "w") as f:
        f.write(current + "\n")
    print("gen_registry: %s: %d bytes, %d Module elements"
          % (path, len(data), sum(1 for l in lines if "<Module " in l)),
          file=sys.stderr)
    return path


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    outdir = argv[1]
    names = argv[2:] or ["typical"] + list(SIZES)
    os.makedirs(outdir, exist_ok=True)
    for name in names:
        size = name[:-len(CFG_SUFFIX)] if name.endswith(CFG_SUFFIX) else name
        if name != "typical" and size not in SIZES:
            print("gen_registry: unknown size %r" % name, file=sys.stderr)
            return 2
        generate(outdir, name)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
