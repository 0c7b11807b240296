#!/usr/bin/env python3
"""End-to-end tests of modreg: the built executable run as a process
against a drive C: in a Wine prefix.

  run_e2e.py --exe build/native/modreg --work DIR
      The POSIX build, on two prefixes made of plain folders under DIR: a
      64-bit one (drive_c/windows/syswow64 exists) and a 32-bit one
      (drive_c/windows/system32 alone).
  run_e2e.py --exe build/windows/modreg.exe --wine win64|win32 --work DIR
      The Windows build under Wine, in one real prefix of that kind under
      DIR (made on first use, reused afterwards).

  ... --record DIR
      Besides, writes each step's exact output into DIR, one file a step,
      named MODE-ARCH-CASE-STEP (the case's name with every byte but
      letters, digits, "." and "-" as %XX, a blank as "_"; "~2" after a
      second case of one name): its arguments, exit status, standard
      output and standard error, and every file of the registry folders
      the step changed, made or removed, or that the case reads as a log
      (Lines), each as NAME LENGTH, newline, the bytes, newline (a
      directory, link or FIFO as its repr). What varies from run to run
      is a fixed token there: a log's time (<TIME>), an undo record's
      boot time (<BOOT>), the executable's path (<EXE>) and the work
      folder's (<WORK>), as POSIX or as Windows (Z:) paths. Two runs of
      one build give the same files; two builds, with diff -r, what they
      say differently. It changes no case's verdict.

The cases are in cases.py beside this file. Each failing case prints one
line and an explanation; the last line is "N passed, N failed".
"""

import argparse
import dataclasses
import difflib
import os
import re
import shutil
import stat
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases as table  # noqa: E402
from cases import (DIR, FIFO, HOST, SHORT, Built, HardLink, Lines, Link, Moded, Record,  # noqa: E402
                   Out)
from wine import WinePrefix  # noqa: E402

DATA = {
    "pf": os.path.join("Program Files", "OpenNI", "Data"),
    "pf86": os.path.join("Program Files (x86)", "OpenNI", "Data"),
    "prod": os.path.join("Program Files", "HALDEToF"),
    # Another product's folder, of the same module file names.
    "tprod": os.path.join("Program Files", "TOLVARToF"),
    # An earlier product's folder.
    "old": "Old",
    # A framework installed elsewhere, on C: and on a drive D: whose folder
    # lies in drive_c (the prefix's dosdevices/d: link).
    "fw": os.path.join("Frameworks", "OpenNI", "Data"),
    "d": os.path.join("DriveD", "OpenNI", "Data"),
    # Folders of the test's own in the system folders of a 64-bit system.
    "sys": os.path.join("windows", "system32", "modreg-test"),
    "wow": os.path.join("windows", "syswow64", "modreg-test"),
}
MADE = ("pf", "pf86", "fw", "d")  # made empty before each case; others on demand
MODULES = None          # the folder of the built test modules (--modules)
# The framework's variables: never taken from the caller's environment.
FRAMEWORK_VARIABLES = ("OPEN_NI_INSTALL_PATH", "OPEN_NI_INSTALL_PATH64")
MACHINE_ENVIRONMENT = (r"HKLM\SYSTEM\CurrentControlSet\Control"
                       r"\Session Manager\Environment")


def link_drive_d(prefix):
    """Drive D: of |prefix|: its drive_c/DriveD folder, as Wine maps
    drives."""
    devices = os.path.join(prefix, "dosdevices")
    os.makedirs(devices, exist_ok=True)
    link = os.path.join(devices, "d:")
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.path.join("..", "drive_c", "DriveD"), link)
    # Wine's own link for C:, which lookups through dosdevices need.
    c = os.path.join(devices, "c:")
    if not os.path.lexists(c):
        os.symlink(os.path.join("..", "drive_c"), c)
RUN_TIMEOUT = 120  # seconds; a hung run fails its case
TINYXML_CHECK = None  # tinyxml_check, to judge every registry written
RECORDER = None  # --record: where each step's exact output goes


# --------------------------------------------------------------------------
# Targets: where the tool runs and how it is started.

class NativeTarget:
    mode = "native"
    short_message = b"Device unsupport. exit!\n"
    line_end = b"\n"

    def host(self, path, drive_c):
        return " (%s)" % (drive_c + path[2:].replace("\\", "/"))

    def __init__(self, exe, work):
        self.exe = os.path.abspath(exe)
        self.prefixes = {}
        for arch in ("64", "32"):
            prefix = os.path.join(work, "prefix-" + arch)
            shutil.rmtree(prefix, ignore_errors=True)
            os.makedirs(os.path.join(prefix, "drive_c"))
            # A 64-bit Windows has SysWOW64, a 32-bit one System32 alone.
            os.makedirs(os.path.join(prefix, "drive_c", "windows",
                                     "syswow64" if arch == "64" else
                                     "system32"))
            link_drive_d(prefix)
            self.prefixes[arch] = prefix

    def arches(self, case):
        return [a for a in ("64", "32") if a in case.arches]

    def drive_c(self, arch):
        return os.path.join(self.prefixes[arch], "drive_c")

    def command(self, args):
        return [self.exe] + list(args)

    def env(self, arch):
        env = dict(os.environ)
        env["WINEPREFIX"] = self.prefixes[arch]
        return env

    def set_machine(self, values):
        """The native build reads no machine environment."""

    def start(self):
        pass

    def stop(self):
        pass


class WineTarget:
    short_message = b"Device unsupport. exit!\r\n"
    line_end = b"\r\n"

    def host(self, path, drive_c):
        return ""

    def __init__(self, exe, work, arch):
        self.mode = arch
        self.arch = "64" if arch == "win64" else "32"
        self.exe = os.path.abspath(exe)
        self.wine = WinePrefix(os.path.join(work, "prefix-" + arch), arch)

    def arches(self, case):
        return [self.arch] if self.arch in case.arches else []

    def drive_c(self, arch):
        return os.path.join(self.wine.prefix, "drive_c")

    def command(self, args):
        return ["wine", self.exe] + list(args)

    def env(self, arch):
        return self.wine.env

    def set_machine(self, values):
        """The machine's framework variables: |values| maps a name to
        (type, data); the others are deleted."""
        for name in FRAMEWORK_VARIABLES:
            if name in values:
                kind, data = values[name]
                cmd = ["add", MACHINE_ENVIRONMENT, "/v", name, "/t", kind,
                       "/d", data, "/f"]
            else:
                cmd = ["delete", MACHINE_ENVIRONMENT, "/v", name, "/f"]
            subprocess.run(["wine", "reg"] + cmd, env=self.wine.env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)

    def start(self):
        made = self.wine.start()
        if made:
            print("made the %s prefix in %.1f s" % (self.mode, made))
        link_drive_d(self.wine.prefix)

    def stop(self):
        self.wine.stop()


# --------------------------------------------------------------------------
# Files.

def reset(drive_c, absent):
    """Fresh, empty registry folders; the rest of the drive is left."""
    for key, rel in DATA.items():
        path = os.path.join(drive_c, rel)
        shutil.rmtree(path, ignore_errors=True)
        if os.path.lexists(path):
            os.unlink(path)
        if key not in absent and key in MADE:
            os.makedirs(path)


def lay_out(drive_c, files):
    for key, content in files.items():
        folder, _, name = key.partition("/")
        path = os.path.join(drive_c, DATA[folder], *name.split("/"))
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        elif os.path.lexists(path):
            os.unlink(path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if content is DIR:
            os.makedirs(path)
        elif content is FIFO:
            os.mkfifo(path)
        elif isinstance(content, Link):
            os.symlink(content.target, path)
        elif isinstance(content, HardLink):
            os.link(os.path.join(os.path.dirname(path), content.target), path)
        elif isinstance(content, Built):
            shutil.copyfile(os.path.join(MODULES, content.name), path)
        elif isinstance(content, Moded):
            with open(path, "wb") as f:
                f.write(content.content)
            os.chmod(path, content.mode)
        else:
            with open(path, "wb") as f:
                f.write(content)


class Found(dict):
    """A snapshot: its files' bytes, and in |modes| their permission
    bits."""
    modes = None


def snapshot(drive_c):
    """Every file and directory in both registry folders, the folders
    themselves included."""
    found = Found()
    found.modes = {}
    for key, rel in DATA.items():
        top = os.path.join(drive_c, rel)
        if not os.path.lexists(top):
            continue
        found[key] = DIR
        for root, dirs, files in os.walk(top):
            for name in dirs + files:
                path = os.path.join(root, name)
                sub = os.path.relpath(path, top).replace(os.sep, "/")
                if os.path.islink(path):
                    found[key + "/" + sub] = Link(os.readlink(path))
                elif os.path.isdir(path):
                    found[key + "/" + sub] = DIR
                elif stat.S_ISFIFO(os.lstat(path).st_mode):
                    found[key + "/" + sub] = FIFO
                else:
                    with open(path, "rb") as f:
                        found[key + "/" + sub] = f.read()
                    found.modes[key + "/" + sub] = stat.S_IMODE(
                        os.lstat(path).st_mode)
    return found


def folders_of(absent):
    return {key: DIR for key in MADE if key not in absent}


# --------------------------------------------------------------------------
# Comparison.

def show(data, limit=160):
    if not isinstance(data, bytes):
        return repr(data)
    text = repr(data)
    if len(text) > limit:
        text = text[:limit] + "... (%d bytes)" % len(data)
    return text


def byte_diff(want, got):
    """A unified diff of two byte strings, line by line with line ends
    shown, or the first differing offset when that says more."""
    if not isinstance(want, bytes) or not isinstance(got, bytes):
        return ["      expected %s, found %s" % (show(want), show(got))]
    a = [repr(l) for l in want.splitlines(keepends=True)]
    b = [repr(l) for l in got.splitlines(keepends=True)]
    lines = list(difflib.unified_diff(a, b, "expected", "actual", n=1,
                                      lineterm=""))
    at = next((i for i, (x, y) in enumerate(zip(want, got)) if x != y),
              min(len(want), len(got)))
    head = "      %d bytes expected, %d found; first difference at byte %d" % (
        len(want), len(got), at)
    if len(lines) > 40:
        lines = lines[:40] + ["..."]
    return [head] + ["      " + l[:200] for l in lines]


def check_stderr(want, err, what="standard error"):
    """Standard error against |want|: one tuple of patterns per line, each
    found in its line, and exactly that many lines, each ended."""
    for patterns in want:
        if not isinstance(patterns, tuple) or any(
                not isinstance(p, str) for p in patterns):
            raise TypeError("stderr wants a tuple of patterns per line, got %r"
                            % (patterns,))
    text = err.decode("latin-1")
    lines = text.splitlines()
    if len(lines) != len(want) or (text and not text.endswith("\n")):
        return ["%s has %d line(s), expected %d: %s"
                % (what, len(lines), len(want), show(err, 300))]
    return ["%s line %d %s does not match /%s/"
            % (what, n, show(line, 300), pattern)
            for n, (line, patterns) in enumerate(zip(lines, want), 1)
            for pattern in patterns if not re.search(pattern, line)]


def check_lines(key, want, data, target):
    """A file of text lines against |want|, in the build's line ends."""
    if not isinstance(data, bytes):
        return ["%s is %s, expected a file" % (key, show(data))]
    *lines, rest = data.split(target.line_end)
    if rest or any(b"\r" in l or b"\n" in l for l in lines):
        return ["%s does not end each line in %r: %s"
                % (key, target.line_end, show(data, 300))]
    return check_stderr(want.lines, data, key)


def check_record(key, want, data):
    """An undo record against |want|: its header, its run, and the
    registry's bytes it keeps, last."""
    def field(name, value):
        return b"%s %d\n%s\n" % (name, len(value), value)
    if not isinstance(data, bytes):
        return ["%s is %s, expected an undo record" % (key, show(data))]
    head = b"modreg undo record\n" + field(b"format", b"1") + \
        field(b"id", want.id.encode()) + field(b"arch", b"x64") + \
        field(b"action", want.action.encode())
    tail = b"\nbefore %d\n%s\n" % (len(want.before), want.before)
    if not data.startswith(head) or not data.endswith(tail):
        return ["%s is not the record expected: %s" % (key, show(data, 300))]
    return []


# The lock files a Windows run leaves in the registry folders.
LASTING_LOCKS = tuple(key + "/modules.xml.lock" for key in MADE)


def check_step(step, result, before, target, absent):
    """Problems with one run, as lines of text; none when it passed."""
    problems = []
    status, out, err, after = result
    if status != step.status:
        problems.append("exit status %s, expected %d" % (status, step.status))
    want_out = target.short_message if step.stdout is SHORT else step.stdout
    if out != want_out:
        problems.append("standard output %s, expected %s"
                        % (show(out), show(want_out)))
    problems.extend(check_stderr(step.stderr, err))
    if step.after is None:
        want = dict(before)
    else:
        want = folders_of(absent)
        want.update(step.after)
    # On Windows the registry's lock file lasts from run to run: an empty
    # one, hidden as a run makes it, is the lock, not a leftover.
    if target.mode != "native":
        for key in LASTING_LOCKS:
            if key not in want and after.get(key) == b"":
                want[key] = b""
    for key, value in want.items():
        if isinstance(value, Built):
            with open(os.path.join(MODULES, value.name), "rb") as f:
                want[key] = f.read()
    for key in sorted(set(want) | set(after)):
        if key not in after:
            problems.append("missing: %s (expected %s)" % (key, show(want[key])))
        elif key not in want:
            problems.append("unexpected: %s = %s" % (key, show(after[key])))
        elif isinstance(want[key], Lines):
            problems.extend(check_lines(key, want[key], after[key], target))
        elif isinstance(want[key], Record):
            problems.extend(check_record(key, want[key], after[key]))
        elif isinstance(want[key], Moded):
            mode = after.modes.get(key, 0)
            if want[key].content != after[key]:
                problems.append("differs: %s" % key)
                problems.extend(byte_diff(want[key].content, after[key]))
            if mode & ~want[key].mode:
                problems.append("mode of %s: %o, more than %o"
                                % (key, mode, want[key].mode))
        elif want[key] != after[key]:
            problems.append("differs: %s" % key)
            problems.extend(byte_diff(want[key], after[key]))
    return problems


def expand(out, target, drive_c):
    """The bytes an Out stands for on |target|."""
    text = b""
    for line in out.lines:
        while HOST in line:
            at = line.index(HOST)
            path = line[line.rindex("C:\\", 0, at):at]
            line = line[:at] + target.host(path, drive_c) + line[at + len(HOST):]
        text += line.encode("utf-8") + target.line_end
    return text


def judged_by_tinyxml(checker, drive_c, before, after):
    """Problems the framework's reader has with each registry the step
    wrote: tinyxml_check's lines."""
    problems = []
    for key, data in sorted(after.items()):
        if (not key.endswith("/modules.xml") or not isinstance(data, bytes)
                or before.get(key) == data):
            continue
        folder, _, name = key.partition("/")
        path = os.path.join(drive_c, DATA[folder], *name.split("/"))
        proc = subprocess.run([checker, path], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        if proc.returncode != 0:
            problems.append("TinyXML: " + proc.stdout.decode(
                "utf-8", "replace").strip().replace("\n", "; "))
    return problems


# --------------------------------------------------------------------------
# Recording (--record): each step's exact output, for comparing builds.

class Recorder:
    """Writes one file a step into |folder|, with what varies from run
    to run (times, the executable's and the work folder's paths) as fixed
    tokens."""

    def __init__(self, folder, exe, work):
        self.folder = os.path.abspath(folder)
        os.makedirs(self.folder, exist_ok=True)
        self.names = {}  # (mode, arch, id of a case) -> its file name
        self.used = set()
        # Each path as the tool may spell it: POSIX, or Wine's drive Z:.
        self.paths = []
        for path, token in ((os.path.abspath(exe), b"<EXE>"),
                            (work, b"<WORK>")):
            for text in (path, "Z:" + path.replace("/", "\\")):
                self.paths.append((text.encode("utf-8"), token))

    def normal(self, data):
        if not isinstance(data, bytes):
            return repr(data).encode("utf-8")
        data = re.sub(rb"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", b"<TIME>",
                      data)
        data = re.sub(rb"(^|\n)boot \d+\n-?\d+\n",
                      rb"\1boot <N>\n<BOOT>\n", data)
        for path, token in self.paths:
            data = data.replace(path, token)
        return data

    def name(self, mode, arch, case):
        key = (mode, arch, id(case))
        if key not in self.names:
            text = "".join(
                c if re.match(r"[A-Za-z0-9.-]$", c) else "_" if c == " "
                else "".join("%%%02X" % b for b in c.encode("utf-8"))
                for c in case.name)
            name, n = "%s-%s-%s" % (mode, arch, text), 1
            while name in self.used:
                n += 1
                name = "%s-%s-%s~%d" % (mode, arch, text, n)
            self.used.add(name)
            self.names[key] = name
        return self.names[key]

    def step(self, mode, arch, case, number, step, result, before):
        status, out, err, after = result
        logs = {key for key, value in (step.after or {}).items()
                if isinstance(value, Lines)}

        def field(name, value):
            value = self.normal(value)
            return b"%s %d\n%s\n" % (name.encode("utf-8"), len(value), value)
        text = field("args", " ".join(step.args).encode("utf-8")) + \
            field("status", str(status).encode()) + \
            field("stdout", out) + field("stderr", err)
        for key in sorted(set(before) | set(after)):
            if key not in after:
                text += field("gone " + key, b"")
            elif key in logs or before.get(key) != after[key]:
                text += field("file " + key, after[key])
        path = os.path.join(self.folder, "%s-%d" % (
            self.name(mode, arch, case), number))
        with open(path, "wb") as f:
            f.write(text)


def file_limit(size):
    """What sets a file size limit of |size| bytes in the child, if any."""
    if size is None:
        return None

    def limit():
        import resource
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return limit


def run_case(case, target, arch):
    try:
        return run_steps(case, target, arch)
    finally:
        if any(step.machine for step in case.steps):
            target.set_machine({})


def run_steps(case, target, arch):
    drive_c = target.drive_c(arch)
    reset(drive_c, case.absent)
    for number, step in enumerate(case.steps, 1):
        if isinstance(step.stdout, Out):
            step = dataclasses.replace(
                step, stdout=expand(step.stdout, target, drive_c))
        lay_out(drive_c, step.put)
        before = snapshot(drive_c)
        env = {k: v for k, v in target.env(arch).items()
               if k not in FRAMEWORK_VARIABLES}
        env.update(step.env)
        if step.machine is not None:
            target.set_machine(step.machine)
        opened = [os.path.join(drive_c, *rel.split("/"))
                  for rel in step.writable]
        for folder in opened:
            os.chmod(folder, 0o777)
        try:
            proc = subprocess.run(target.command(step.args), env=env,
                                  stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE,
                                  preexec_fn=file_limit(step.file_limit),
                                  timeout=RUN_TIMEOUT)
            status = proc.returncode
            out, err = proc.stdout, proc.stderr
        except subprocess.TimeoutExpired as e:
            status, out, err = "timeout", e.stdout or b"", e.stderr or b""
        finally:
            for folder in opened:
                os.chmod(folder, 0o755)
        after = snapshot(drive_c)
        problems = check_step(step, (status, out, err, after),
                              before, target, case.absent)
        if TINYXML_CHECK:
            problems += judged_by_tinyxml(TINYXML_CHECK, drive_c, before, after)
        if RECORDER:
            RECORDER.step(target.mode, arch, case, number, step,
                          (status, out, err, after), before)
        if problems:
            where = " (run %d of %d)" % (number, len(case.steps)) \
                if len(case.steps) > 1 else ""
            return ["args %r%s" % (step.args, where)] + problems
    return []


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", choices=("win64", "win32"))
    parser.add_argument("--work", required=True)
    parser.add_argument("--modules", required=True,
                        help="the folder of the built test modules")
    parser.add_argument("-k", "--filter", default="",
                        help="run only cases whose name holds this text")
    parser.add_argument("-v", "--verbose", action="store_true")
    parser.add_argument("--tinyxml-check",
                        help="tinyxml_check: every registry a step writes "
                             "must load in the framework's reader")
    parser.add_argument("--record",
                        help="a folder: each step's exact output, one file "
                             "a step (see above)")
    options = parser.parse_args()
    global TINYXML_CHECK
    TINYXML_CHECK = options.tinyxml_check

    if not os.path.isfile(options.exe):
        print("no executable at %s" % options.exe)
        print("0 passed, 1 failed")
        return 1
    global MODULES
    MODULES = os.path.abspath(options.modules)
    work = os.path.abspath(options.work)
    os.makedirs(work, exist_ok=True)
    if options.record:
        global RECORDER
        RECORDER = Recorder(options.record, options.exe, work)
    if options.wine:
        target = WineTarget(options.exe, work, options.wine)
    else:
        target = NativeTarget(options.exe, work)

    passed = failed = 0
    began = started = time.monotonic()
    try:
        try:
            target.start()
        except (OSError, RuntimeError, subprocess.SubprocessError) as e:
            print("FAIL set-up of the %s run: %s" % (target.mode, e))
            print("0 passed, 1 failed")
            return 1
        started = time.monotonic()
        for case in table.CASES:
            if target.mode not in case.modes:
                continue
            if options.filter and options.filter not in case.name:
                continue
            for arch in target.arches(case):
                label = "%s/%s-bit prefix: %s" % (target.mode, arch, case.name)
                problems = run_case(case, target, arch)
                if problems:
                    failed += 1
                    note = ("  [known defect: %s]" % case.defect
                            if target.mode in case.defect_modes else "")
                    print("FAIL %s: %s%s" % (label, "; ".join(
                        p for p in problems if not p.startswith("      ")),
                        note))
                    for line in problems:
                        if line.startswith("      "):
                            print(line)
                else:
                    passed += 1
                    if options.verbose:
                        print("ok   " + label)
    finally:
        target.stop()
    end = time.monotonic()
    print("%s: set-up %.1f s, cases %.1f s"
          % (target.mode, started - began, end - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
