#!/usr/bin/env python3
"""The registry edit done with the standard library's ElementTree, as a
peer to compare the tool with: from the first Module child of Modules on,
drop every child whose path holds FOLDER, append one Module per entry, and
replace the file through a temporary file that is flushed to the disk.

Usage: etree_edit.py REGISTRY FOLDER PATH[|CONFIGDIR] ...

Written in its most efficient form: the C parser, one list rebuild
instead of a removal per child (each of which would be linear), and a
binary write. ElementTree writes LF line ends and no declaration.
"""

import os
import sys
import xml.etree.ElementTree as ET


def main(argv):
    registry, folder, entries = argv[1], argv[2], argv[3:]
    tree = ET.parse(registry)
    modules = tree.getroot()
    if modules.tag != "Modules":
        print("etree_edit: no top-level Modules element", file=sys.stderr)
        return 4
    children = list(modules)
    first = next((i for i, c in enumerate(children) if c.tag == "Module"),
                 len(children))
    kept = children[:first] + [
        c for c in children[first:] if folder not in c.get("path", "")]
    del children
    modules[:] = kept
    last_tail = kept[-1].tail if kept else "\n"
    if kept:
        kept[-1].tail = modules.text
    del kept
    for entry in entries:
        path, _, config_dir = entry.partition("|")
        attrib = {"path": path}
        if config_dir:
            attrib["configDir"] = config_dir
        module = ET.SubElement(modules, "Module", attrib)
        module.tail = modules.text
    if len(modules):
        modules[-1].tail = last_tail
    temp = registry + ".tmp"
    with open(temp, "wb") as out:
        tree.write(out)
        out.flush()
        os.fsync(out.fileno())
    os.replace(temp, registry)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
