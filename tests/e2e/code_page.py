#!/usr/bin/env python3
"""The registry in the system's ANSI code page, under Wine: UTF-8, as
Windows 10 and 11 may be set to use ("Use Unicode UTF-8 for worldwide
language support"), and the double-byte Japanese 932.

  code_page.py --exe modreg.exe --utf8-exe modreg_utf8.exe --work DIR
               --modules DIR

modreg_utf8.exe is modreg.exe built with a manifest that asks for the
UTF-8 code page (activeCodePage), which Wine honours as Windows does. In
one 64-bit prefix under DIR (made on first use, reused afterwards):

  - modreg_utf8.exe registers --product-dir "C:\\Kamera Łódź": the
    registry holds the path in UTF-8 bytes, and a listing reads it back
    as the name of the file there;
  - modreg.exe, in Wine's Western code page (Windows-1252), refuses the
    same command with status 2 and leaves the registry as it was;
  - modreg.exe in code page 932 (Japanese), which Wine takes from the
    POSIX locale ja_JP.UTF-8 (scripts/setup.sh makes it): the registry
    holds "C:\\機能" in 932 bytes, whose last one, 0x5C, is the second byte
    of 能 and no backslash. --product-dir "C:\\機能" x86 5 run twice leaves
    one copy of each entry, --unregister with it removes them, and a
    --strict registration into another folder afterwards is not refused.

The modules laid out for --strict are the built test modules (--modules).

Prints a line per check; the last line is "N passed, N failed"."""

import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cases import BASE, base_with, mod  # noqa: E402
from wine import WinePrefix  # noqa: E402

POLISH = "C:\\Kamera \u0141\u00f3d\u017a"
ADDED = POLISH + "\\SensorModule.dll"
DATA = os.path.join("drive_c", "Program Files", "OpenNI", "Data")
# x86 in a 64-bit prefix.
DATA86 = os.path.join("drive_c", "Program Files (x86)", "OpenNI", "Data")
# U+6A5F U+80FD: 8B 40 94 5C in code page 932.
JAPANESE = "C:\\\u6a5f\u80fd"
JAPANESE_LOCALE = "ja_JP.UTF-8"
ACME = "C:\\Acme"


def run(wine, exe, args):
    p = subprocess.run(["wine", exe] + args, env=wine.env,
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=120)
    return p.returncode, p.stdout, p.stderr


def fresh_registry(prefix, data=DATA):
    folder = os.path.join(prefix, data)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    registry = os.path.join(folder, "modules.xml")
    with open(registry, "wb") as f:
        f.write(BASE)
    return registry


def read(path):
    with open(path, "rb") as f:
        return f.read()


def registers_in_utf8(wine, exe):
    registry = fresh_registry(wine.prefix)
    status, out, err = run(wine, exe, ["--product-dir", POLISH, "x64", "1"])
    problems = [] if status == 0 and not out and not err else [
        "status %d, stdout %r, stderr %r" % (status, out, err)]
    want = base_with(mod(ADDED))
    if read(registry) != want:
        problems.append("the registry holds %r, expected %r" % (
            read(registry), want))
    # The entry read back names the file there: found, and not a DLL.
    product = os.path.join(wine.prefix, "drive_c", POLISH[3:])
    os.makedirs(product, exist_ok=True)
    with open(os.path.join(product, "SensorModule.dll"), "wb") as f:
        f.write(b"not a DLL\n")
    try:
        status, out, err = run(wine, exe, ["--list", "x64"])
    finally:
        shutil.rmtree(product)
    listed = ("skipped: %s\r\n" % ADDED).encode("utf-8")
    if status != 0 or listed not in out:
        problems.append("--list: status %d, stdout %r, stderr %r" % (
            status, out, err))
    return problems


def refused_in_western(wine, exe):
    registry = fresh_registry(wine.prefix)
    status, out, err = run(wine, exe, ["--product-dir", POLISH, "x64", "1"])
    problems = []
    if status != 2 or out or b"cannot be written in the system's ANSI code " \
            b"page" not in err:
        problems.append("status %d, stdout %r, stderr %r" % (status, out,
                                                             err))
    if read(registry) != BASE:
        problems.append("the registry changed: %r" % read(registry))
    leftovers = sorted(set(os.listdir(os.path.dirname(registry))) -
                       {"modules.xml"})
    if leftovers:
        problems.append("left in the folder: %s" % leftovers)
    return problems


def mask5(folder, code_page):
    """The entries of MASK 5 in |folder|, as the registry holds them in
    |code_page|."""
    return (mod(folder + "\\SensorModule.dll").encode(code_page),
            mod(folder + "\\libskelvia_ni.dll",
                folder + "\\data\\").encode(code_page))


def has_locale(name):
    """Whether the POSIX locale |name| is there for Wine to take."""
    wanted = name.lower().replace("utf-8", "utf8")
    listed = subprocess.run(["locale", "-a"], capture_output=True,
                            text=True).stdout.split()
    return wanted in (n.lower().replace("utf-8", "utf8") for n in listed)


def japanese_code_page(wine, exe, modules):
    if not has_locale(JAPANESE_LOCALE):
        return ["no POSIX locale %s for Wine's code page 932: run "
                "scripts/setup.sh" % JAPANESE_LOCALE]
    japanese = dict(wine.env, LC_ALL=JAPANESE_LOCALE)
    registry = fresh_registry(wine.prefix, DATA86)
    problems = []

    def step(what, args, want, status=0):
        got = subprocess.run(["wine", exe] + args, env=japanese,
                             stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=120)
        if got.returncode != status or got.stdout or got.stderr:
            problems.append("%s: status %d, stdout %r, stderr %r" % (
                what, got.returncode, got.stdout, got.stderr))
        if read(registry) != want:
            problems.append("%s: the registry holds %r, expected %r" % (
                what, read(registry), want))

    registered = base_with(*mask5(JAPANESE, "cp932"))
    args = ["--product-dir", JAPANESE, "x86", "5"]
    step("the first registration", args, registered)
    step("the second registration", args, registered)
    step("the unregistration", ["--unregister"] + args, base_with())
    # Another product's modules with the same names, checked.
    acme = os.path.join(wine.prefix, "drive_c", ACME[3:])
    shutil.rmtree(acme, ignore_errors=True)
    os.makedirs(os.path.join(acme, "data"))
    for name in ("SensorModule.dll", "libskelvia_ni.dll"):
        shutil.copyfile(os.path.join(modules, "x86.dll"),
                        os.path.join(acme, name))
    try:
        step("--strict into %s" % ACME,
             ["--strict", "--product-dir", ACME, "x86", "5"],
             base_with(*mask5(ACME, "cp932")))
    finally:
        shutil.rmtree(acme)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, help="modreg.exe")
    parser.add_argument("--utf8-exe", required=True, help="modreg_utf8.exe")
    parser.add_argument("--work", required=True)
    parser.add_argument("--modules", required=True,
                        help="the built test modules' folder")
    args = parser.parse_args()
    wine = WinePrefix(os.path.join(os.path.abspath(args.work), "prefix"))
    checks = [
        ("modreg_utf8.exe: a folder Windows-1252 cannot spell is "
         "registered in UTF-8",
         lambda: registers_in_utf8(wine, os.path.abspath(args.utf8_exe))),
        ("modreg.exe in Windows-1252: the same folder is refused with 2",
         lambda: refused_in_western(wine, os.path.abspath(args.exe))),
        ("modreg.exe in code page 932: a folder whose last byte is a trail "
         "byte 0x5C registered once, unregistered, its names free again",
         lambda: japanese_code_page(wine, os.path.abspath(args.exe),
                                    os.path.abspath(args.modules))),
    ]
    passed = failed = 0
    try:
        wine.start()
        for name, check in checks:
            problems = check()
            if problems:
                failed += 1
                print("FAIL %s: %s" % (name, "; ".join(problems)))
            else:
                passed += 1
                print("ok   %s" % name)
    finally:
        wine.stop()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
