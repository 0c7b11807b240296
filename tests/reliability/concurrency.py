#!/usr/bin/env python3
"""Concurrent runs. Twenty runs start together on one registry, with the
masks 8, 32 and 1 in turn (the product folders TOLVARToF, HALDEVMR and
HALDEToF). Afterwards every run has succeeded, the registry is well-formed
and holds the framework's and the other vendors' modules in their order,
followed by one entry of each of the three folders and no stale entry;
the backup holds the registry as it was, and nothing else is left in the
folder. Natively and, with --wine, for modreg.exe under Wine.

--unlocked (modreg_faults, run with MODREG_FAULT=skip@lock) and
--wine-unlocked (modreg_unlocked.exe) name builds without the folder
lock: as many rounds of each must then every one find lost or broken
registrations, which shows that the rounds see what the lock prevents."""
import argparse
import os
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

import common

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                '..', 'e2e'))
from wine import WinePrefix  # noqa: E402

MASKS = (8, 32, 1)
FOLDERS = ('HALDEToF', 'TOLVARToF', 'HALDEVMR')


def expected_new():
    return sorted('C:\\Program Files\\%s\\%s' % entry
                  for mask in MASKS for entry in common.ADDED[mask])


def survivors(registry):
    """The paths of |registry| a run of any product leaves in place."""
    root = ElementTree.fromstring(registry)
    return [m.get('path') for m in root
            if not any(f in (m.get('path') or '') for f in FOLDERS)]


def one_round(command, prefix, registry, runs, env):
    folder = common.data_dir(prefix)
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    with open(os.path.join(folder, common.REGISTRY), 'wb') as f:
        f.write(registry)
    full_env = dict(os.environ, **env)
    full_env['WINEPREFIX'] = prefix
    procs = [subprocess.Popen(command + ['x64', str(MASKS[i % 3])],
                              env=full_env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
             for i in range(runs)]
    problems = []
    for proc in procs:
        out, err = proc.communicate(timeout=300)
        if proc.returncode != 0 or out or err:
            problems.append('a run gave status %d %r' % (
                proc.returncode, (out + err).decode('utf-8', 'replace')[:200]))

    with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
        written = f.read()
    try:
        root = ElementTree.fromstring(written)
    except ElementTree.ParseError as e:
        return problems + ['the registry is not well-formed: %s' % e]
    paths = [m.get('path') for m in root]
    kept = survivors(registry)
    if root.tag != 'Modules' or any(m.tag != 'Module' for m in root):
        problems.append('the registry lost its shape')
    if paths[:len(kept)] != kept:
        problems.append('modules of other vendors were lost or moved')
    new = sorted(paths[len(kept):])
    if new != expected_new():
        problems.append('product entries %s, expected one per folder' %
                        [p.split('\\')[2] for p in new])
    with open(os.path.join(folder, common.BACKUP), 'rb') as f:
        if f.read() != registry:
            problems.append('the backup is not the original registry')
    if common.leftovers(folder):
        problems.append('left behind: %s' % common.leftovers(folder))
    return problems


def rounds(results, label, command, prefix, registry, count, runs, env):
    start = time.monotonic()
    for n in range(count):
        results.check('%s: round %d, %d runs' % (label, n + 1, runs),
                      one_round(command, prefix, registry, runs, env))
    print('     %s: %d rounds of %d runs in %.1f s' % (
        label, count, runs, time.monotonic() - start), flush=True)
    return count * runs


def unlocked_rounds(results, label, command, prefix, registry, count, runs,
                    env):
    """The control: without the lock every round must go wrong."""
    caught = sum(1 for _ in range(count)
                 if one_round(command, prefix, registry, runs, env))
    results.check('%s without the lock: lost registrations in %d of %d '
                  'rounds' % (label, caught, count),
                  [] if caught == count else
                  ['%d rounds went right' % (count - caught)])
    return '%s %d of %d' % (label, caught, count)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--tool', required=True, help='the native modreg')
    parser.add_argument('--wine', help='modreg.exe, run under Wine')
    parser.add_argument('--unlocked', help='modreg_faults, run without lock')
    parser.add_argument('--wine-unlocked', help='modreg_unlocked.exe')
    parser.add_argument('--work', required=True, help='scratch folder')
    parser.add_argument('--runs', type=int, default=20)
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--wine-rounds', type=int, default=3)
    parser.add_argument('--modules', type=int, default=30000,
                        help='modules of other vendors in the registry')
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    registry = common.registry_text(stale_per_folder=2, filler=args.modules)
    results = common.Results('concurrent runs')
    total = 0
    controls = []

    prefix = os.path.join(args.work, 'native')
    shutil.rmtree(prefix, ignore_errors=True)
    common.make_prefix(prefix)
    total += rounds(results, 'native', [os.path.abspath(args.tool)], prefix,
                    registry, args.rounds, args.runs, {})

    if args.unlocked:
        controls.append(unlocked_rounds(
                        results, 'native', [os.path.abspath(args.unlocked)],
                        prefix, registry, args.rounds, args.runs,
                        {'MODREG_FAULT': 'skip@lock'}))

    if args.wine:
        wine = WinePrefix(os.path.join(args.work, 'wine-prefix'))
        start = time.monotonic()
        try:
            wine.start()
            print('     wine: prefix ready in %.1f s' % (
                time.monotonic() - start), flush=True)
            common.make_prefix(wine.prefix)
            total += rounds(results, 'wine', ['wine', os.path.abspath(args.wine)],
                            wine.prefix, registry, args.wine_rounds, args.runs,
                            wine.env)
            if args.wine_unlocked:
                controls.append(unlocked_rounds(
                    results, 'wine', ['wine', os.path.abspath(args.wine_unlocked)],
                    wine.prefix, registry, args.wine_rounds, args.runs,
                    wine.env))
        finally:
            wine.stop()
            shutil.rmtree(common.data_dir(wine.prefix), ignore_errors=True)

    results.figure('concurrent runs', '%d, in rounds of %d%s' % (
        total, args.runs, '; rounds that went wrong without the lock: ' +
        ', '.join(controls) if controls else ''))
    results.exit()


if __name__ == '__main__':
    main()
