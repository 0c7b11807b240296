#!/usr/bin/env python3
"""Reports for bench/run.sh.

  report.py table RUNDIR ...
      One table per run folder (hyperfine.json, order.log, rss-*.txt,
      written by run.sh), then the targets with their measured values.
  report.py same-modules FILE ...
      Checks that the files hold the same Module elements (path and
      configDir, in order) under their Modules element.
"""

import json
import os
import statistics
import sys
import xml.etree.ElementTree as ET

LABELS = {
    "floor": "floor: read, parse, write, fsync",
    "dd": "dd conv=fsync",
    "dd-replace": "dd conv=fsync over a full copy",
    "dd-nosync": "dd without fsync",
    "modreg": "modreg",
    "modreg-nosync": "modreg, fsync preloaded away",
    "modreg-first": "modreg, first run (+ backup)",
    "modreg-undo": "modreg --undo (+ undo record)",
    "modreg-noshell": "modreg, hyperfine -N (no shell)",
    "xmlstarlet": "xmlstarlet ed (+ sync, mv)",
    "etree": "Python ElementTree",
    "noop.exe": "do-nothing exe under Wine",
    "modreg.exe": "modreg.exe under Wine",
}


def modules_of(path):
    root = ET.parse(path).getroot()
    return [(m.get("path"), m.get("configDir")) for m in root.iter("Module")]


def same_modules(paths):
    first = modules_of(paths[0])
    for other in paths[1:]:
        if modules_of(other) != first:
            print("report: %s and %s differ in their Module elements"
                  % (paths[0], other), file=sys.stderr)
            return 1
    print("check: %d results agree (%d Module elements)" % (len(paths), len(first)))
    return 0


def quartiles(values):
    if len(values) < 4:
        return min(values), max(values)
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]


def load(rundir):
    with open(os.path.join(rundir, "hyperfine.json")) as f:
        times = json.load(f)["results"][0]["times"]
    with open(os.path.join(rundir, "order.log")) as f:
        order = f.read().split()
    # order.log holds the timed runs first, then the memory runs.
    if len(order) < len(times):
        raise SystemExit("report: %s: %d runs timed, %d prepared"
                         % (rundir, len(times), len(order)))
    runs = {}
    for name, t in zip(order, times):
        runs.setdefault(name, []).append(t)
    rows = []
    for name, values in runs.items():
        rss, cpu = [], []
        rss_path = os.path.join(rundir, "rss-%s.txt" % name)
        if os.path.exists(rss_path):
            with open(rss_path) as f:
                for line in f:
                    fields = line.split()
                    if not fields:
                        continue
                    rss.append(int(fields[0]) * 1024)
                    if len(fields) >= 3:
                        cpu.append(float(fields[1]) + float(fields[2]))
        rows.append({"name": name, "times": values,
                     "median": statistics.median(values),
                     "iqr": quartiles(values),
                     "rss": max(rss) if rss else None,
                     "cpu": statistics.median(cpu) if cpu else None})
    noshell = os.path.join(rundir, "noshell.json")
    if os.path.exists(noshell):
        with open(noshell) as f:
            values = json.load(f)["results"][0]["times"]
        rows.append({"name": "modreg-noshell", "times": values,
                     "median": statistics.median(values),
                     "iqr": quartiles(values), "rss": None, "cpu": None})
    return rows


def size_of(rundir):
    base = os.path.basename(rundir.rstrip("/"))
    size_name = base[len("run-"):]
    if size_name.startswith("wine-"):
        size_name = size_name[len("wine-"):]
    xml = os.path.join(os.path.dirname(rundir.rstrip("/")), size_name + ".xml")
    return size_name, (os.path.getsize(xml) if os.path.exists(xml) else None)


def load_note(rundir):
    """How busy the machine was before and after the timed runs."""
    states = []
    for when in ("before", "after"):
        path = os.path.join(rundir, "load-%s.txt" % when)
        if not os.path.exists(path):
            return ""
        with open(path) as f:
            lines = f.read().split("\n")
        state = {"load": lines[0].split()[0]}
        for line in lines[1:]:
            if line.strip():
                kind, value = line.split()
                state[kind] = value
        states.append(state)
    note = "machine: 1-min load average %s -> %s" % (states[0]["load"], states[1]["load"])
    for kind in ("cpu", "io"):
        if kind in states[0] and kind in states[1]:
            note += ", %s pressure %s%% -> %s%%" % (
                kind.upper() if kind == "cpu" else "I/O", states[0][kind],
                states[1][kind])
    return note + " (pressure: share of the last 60 s in which a task waited)"


def fmt_ms(seconds):
    ms = seconds * 1e3
    return "%.1f" % ms if ms >= 10 else "%.2f" % ms


def table(rundirs):
    medians = {}
    for rundir in rundirs:
        size_name, size = size_of(rundir)
        rows = load(rundir)
        wine = "wine" in os.path.basename(rundir)
        base_name = "noop.exe" if wine else "floor"
        base = next((r["median"] for r in rows if r["name"] == base_name), None)
        runs = min(len(r["times"]) for r in rows)
        title = "%s registry%s" % (
            size_name, " under Wine" if wine else "")
        if size:
            title += ", %s bytes" % format(size, ",")
        print("%s: %d runs of each, in turn" % (title, runs))
        busy = load_note(rundir)
        if busy:
            print("  " + busy)
        header = "  %-32s %10s %17s %8s %8s %10s %8s" % (
            "command", "median ms", "IQR ms", "x " + base_name.split(".")[0],
            "CPU ms", "peak MB", "x size")
        print(header)
        print("  " + "-" * (len(header) - 2))
        order = list(LABELS)
        rows.sort(key=lambda r: order.index(r["name"]) if r["name"] in order else 99)
        for r in rows:
            lo, hi = r["iqr"]
            ratio = r["median"] / base if base else float("nan")
            rss = r["rss"]
            print("  %-32s %10s %17s %8.2f %8s %10s %8s" % (
                LABELS.get(r["name"], r["name"]), fmt_ms(r["median"]),
                "%s-%s" % (fmt_ms(lo), fmt_ms(hi)), ratio,
                fmt_ms(r["cpu"]) if r["cpu"] is not None else "-",
                "%.1f" % (rss / 1e6) if rss else "-",
                "%.2f" % (rss / size) if rss and size and size > 10**5 else "-"))
            medians[(size_name, wine, r["name"])] = r
        print()
    targets(medians)


def targets(m):
    lines = []

    def check(label, ok, value):
        lines.append("  %-4s %-58s %s" % ("ok" if ok else "MISS", label, value))

    for size, bound in (("10mb", 1.3), ("10mb-cfg", 1.3), ("100mb", 1.2),
                        ("100mb-cfg", 1.2)):
        key = (size, False)
        if (*key, "modreg") not in m:
            continue
        if (*key, "floor") in m:
            r = m[(*key, "modreg")]["median"] / m[(*key, "floor")]["median"]
            check("%s: modreg at most %.1fx the floor" % (size, bound),
                  r <= bound, "%.2fx" % r)
        if (*key, "xmlstarlet") in m:
            r = m[(*key, "xmlstarlet")]["median"] / m[(*key, "modreg")]["median"]
            lines.append("       (xmlstarlet / modreg: %.2f)" % r)
        file_size = size_of_name(size, m)
        if m[(*key, "modreg")]["rss"] and file_size:
            r = m[(*key, "modreg")]["rss"] / file_size
            check("%s: modreg peak memory at most 3x the file" % size, r <= 3,
                  "%.2fx" % r)
    if ("100mb", False, "modreg") in m and ("10mb", False, "modreg") in m:
        r = m[("100mb", False, "modreg")]["median"] / m[("10mb", False, "modreg")]["median"]
        check("linear: modreg 100 MB time / 10 MB time in 8..12", 8 <= r <= 12,
              "%.2f" % r)
    for name, how in (("modreg", "shell start subtracted"),
                      ("modreg-noshell", "no shell")):
        if ("typical", False, name) in m:
            t = m[("typical", False, name)]["median"] * 1e3
            check("typical: modreg at most 2 ms per run (%s)" % how, t <= 2,
                  "%.2f ms" % t)
    if ("typical", True, "modreg.exe") in m and ("typical", True, "noop.exe") in m:
        r = m[("typical", True, "modreg.exe")]["median"] / m[("typical", True, "noop.exe")]["median"]
        check("Wine: modreg.exe within 1.2x the do-nothing exe", r <= 1.2,
              "%.2fx" % r)
    if lines:
        print("Targets:")
        print("\n".join(lines))


_sizes = {}


def size_of_name(name, _m):
    return _sizes.get(name)


def main(argv):
    if len(argv) >= 3 and argv[1] == "same-modules":
        return same_modules(argv[2:])
    if len(argv) >= 3 and argv[1] == "table":
        for rundir in argv[2:]:
            name, size = size_of(rundir)
            if size and "wine" not in rundir:
                _sizes[name] = size
        table(argv[2:])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
