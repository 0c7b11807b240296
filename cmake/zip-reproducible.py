"""Rewrites the release zip so that the same files give the same bytes on
any machine, in any folder, time zone or umask: entries in name order, each
folder listed before what it holds, every time SOURCE_DATE_EPOCH (UTC;
1980-01-01 when unset), fixed modes, no extra fields.

usage: python3 zip-reproducible.py ZIP
"""
import os
import sys
import time
import zipfile

path = sys.argv[1]
epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))

with zipfile.ZipFile(path) as z:
    files = {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}
folders = {name[:i + 1] for name in files
           for i, c in enumerate(name) if c == "/"}

tmp = path + ".tmp"
with zipfile.ZipFile(tmp, "w") as out:
    for name in sorted(folders | files.keys()):
        info = zipfile.ZipInfo(name, stamp)
        info.create_system = 3  # Unix, so that the modes apply
        if name in folders:
            info.external_attr = 0o40755 << 16 | 0x10
            out.writestr(info, b"")
        else:
            mode = 0o755 if name.endswith(".exe") else 0o644
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            out.writestr(info, files[name], compresslevel=9)
os.replace(tmp, path)
