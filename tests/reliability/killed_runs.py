#!/usr/bin/env python3
"""Killed runs. The tool rewrites a large registry and is killed (SIGKILL)
at a random moment of its run, over and over. After each kill the
registry holds either its old bytes or the complete new ones, a backup is
whole or absent, nothing but the temporary files and the lock's file
(modules.xml.lock) is left beside them, and the next run succeeds, writes
what it should and leaves nothing but the registry and its backup in the
folder.

The runs alternate between two masks of one product folder: mask 1 leaves
the registry in state A, mask 5 in state B, so every killed run (mask 5,
from A) has a distinct old and new content. Every fourth killed run also
has to make the backup again.

Each kill is counted in the phase where it fell, as the files show it:
before the registry's temporary file exists (the old registry alone),
while it is written (the old registry and modules.xml.tmp), after the
rename (the new registry). The moment after the rename is short (the
folder's flush and the exit), and so, on a fast disk, can be the write:
every tenth kill waits for the registry to be replaced and then strikes,
another tenth for the temporary file to appear. Every phase must get some
kills over both registries, or the runs did not test what they are meant
to.

The random moments are drawn within the time a run takes, the shortest
of three: a run slowed by a stalled machine would otherwise stretch them
past most runs' end, and the script would give up before it has its
kills."""
import argparse
import os
import random
import signal
import subprocess
import time

import common


def timed_run(tool, prefix, mask):
    start = time.monotonic()
    status, _, err = common.run_tool([tool], prefix, mask, timeout=600)
    if status != 0:
        raise SystemExit('run with mask %d failed: %s' % (mask, err))
    return time.monotonic() - start


_seen = {}
PHASES = ('before the temporary file', 'while it is written',
          'after the rename')


def backup_changed(path, expected):
    """True when a backup exists at |path| without the content |expected|.
    A backup the tool has not touched since it was checked keeps its
    inode, size and time, which spares reading it again."""
    try:
        st = os.stat(path)
    except FileNotFoundError:
        return False
    key = (st.st_ino, st.st_size, st.st_mtime_ns, expected)
    if key in _seen:
        return False
    if common.digest(path) != expected:
        return True
    _seen[key] = True
    return False


def kill_loop(args, results, label, registry, kills, rng):
    prefix = os.path.join(args.work, label)
    subprocess.run(['rm', '-rf', prefix])
    folder = common.make_prefix(prefix)
    path = os.path.join(folder, common.REGISTRY)
    temp = path + '.tmp'
    backup = os.path.join(folder, common.BACKUP)
    with open(path, 'wb') as f:
        f.write(registry)
    original = common.digest_bytes(registry)
    size_mb = len(registry) / 1e6

    # The two states and how long a run takes to go between them, with a
    # backup to make and without.
    with_backup_copy = timed_run(args.tool, prefix, 5)
    state_b = common.digest(path)
    plain = timed_run(args.tool, prefix, 1)
    state_a = common.digest(path)
    if state_a == state_b or state_a == original:
        raise SystemExit('the two masks do not give distinct registries')
    for _ in range(2):
        os.unlink(backup)
        with_backup_copy = min(with_backup_copy,
                               timed_run(args.tool, prefix, 5))
        plain = min(plain, timed_run(args.tool, prefix, 1))
    print('     %s: %.1f MB registry, a run takes %.2f s (%.2f s with the '
          'backup copy)' % (label, size_mb, plain, with_backup_copy),
          flush=True)

    backup_state = state_a  # what the backup must hold while it exists
    phases = dict.fromkeys(PHASES, 0)
    killed = finished = 0
    problems_total = 0
    started = time.monotonic()
    attempts = 0
    while killed < kills:
        attempts += 1
        if attempts > 3 * kills + 10 or problems_total >= 10:
            results.check('%s: gave up after %d runs' % (label, attempts - 1),
                          ['%d runs killed, %d went wrong' % (
                              killed, problems_total)])
            break
        redo_backup = killed % 4 == 3
        if redo_backup:
            os.unlink(backup)
            backup_state = state_a
        window = with_backup_copy if redo_backup else plain
        env = dict(os.environ, WINEPREFIX=prefix)
        old_inode = os.stat(path).st_ino
        proc = subprocess.Popen([args.tool, 'x64', '5'], env=env,
                                stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        if killed % 10 == 9:  # right after the rename
            while os.stat(path).st_ino == old_inode and proc.poll() is None:
                pass
        elif killed % 10 == 4:  # once the temporary file is there
            while not os.path.exists(temp) and proc.poll() is None:
                pass
        else:
            time.sleep(rng.uniform(0, window))
        proc.send_signal(signal.SIGKILL)
        status = proc.wait()

        problems = []
        now = common.digest(path)
        left = common.leftovers(folder)
        if status == 0:
            finished += 1
            if now != state_b:
                problems.append('a finished run left a wrong registry')
        elif status == -signal.SIGKILL:
            killed += 1
            if now == state_a and 'modules.xml.tmp' in left:
                phases[PHASES[1]] += 1
            elif now == state_a:
                phases[PHASES[0]] += 1
            elif now == state_b:
                phases[PHASES[2]] += 1
            else:
                problems.append('the registry is neither old nor new')
        else:
            problems.append('status %d' % status)
        if backup_changed(backup, backup_state):
            problems.append('partial or wrong backup')
        # The lock's file goes at a run's end: a killed run leaves it (and
        # the next run, taking the lock on it, removes it).
        unexpected = [n for n in left if n not in ('modules.xml.tmp',
                                                   'modules.xml.old.tmp',
                                                   'modules.xml.lock')]
        if unexpected:
            problems.append('left behind: %s' % unexpected)

        # The next run takes over.
        status, _, err = common.run_tool([args.tool], prefix, 1, timeout=600)
        if status != 0:
            problems.append('next run: status %d: %s' % (status, err.strip()))
        if common.digest(path) != state_a:
            problems.append('next run wrote a wrong registry')
        if not os.path.exists(backup):
            problems.append('next run made no backup')
        elif backup_changed(backup, backup_state):
            problems.append('next run: wrong backup')
        if common.leftovers(folder):
            problems.append('next run left %s' % common.leftovers(folder))
        if problems:
            problems_total += 1
            results.check('%s: run %d' % (label, killed + finished), problems)
    elapsed = time.monotonic() - started
    results.check('%s: %d runs killed, none lost the registry' % (label, killed),
                  [] if problems_total == 0 else
                  ['%d runs went wrong' % problems_total])
    print('     %s: killed %d runs in %.0f s (%d finished before the kill)' % (
              label, killed, elapsed, finished), flush=True)
    subprocess.run(['rm', '-rf', prefix])
    return phases, '%s: %d on a %.0f MB registry (%s)' % (
        label, killed, size_mb, ', '.join(
            '%d %s' % (n, phase) for phase, n in phases.items()))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--tool', required=True, help='the native modreg')
    parser.add_argument('--work', required=True, help='scratch folder')
    parser.add_argument('--large-kills', type=int, default=100)
    parser.add_argument('--large-modules', type=int, default=700000,
                        help='modules in the large registry (~70 bytes each)')
    parser.add_argument('--small-kills', type=int, default=50)
    parser.add_argument('--small-modules', type=int, default=70000)
    parser.add_argument('--seed', type=int, default=None)
    args = parser.parse_args()
    args.tool = os.path.abspath(args.tool)
    os.makedirs(args.work, exist_ok=True)
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    print('     kill moments from seed %d' % seed, flush=True)
    rng = random.Random(seed)

    results = common.Results('killed runs')
    figures = []
    total = dict.fromkeys(PHASES, 0)
    for label, modules, kills in (('large', args.large_modules, args.large_kills),
                                  ('small', args.small_modules, args.small_kills)):
        if kills <= 0:
            continue
        registry = common.registry_text(filler=modules)
        phases, figure = kill_loop(args, results, label, registry, kills, rng)
        for phase, n in phases.items():
            total[phase] += n
        figures.append(figure)
    results.check('kills in every phase', ['none %s' % phase
                                          for phase, n in total.items() if not n])
    results.figure('runs killed', '%d (%s)' % (sum(total.values()),
                                               '; '.join(figures)))
    results.exit()


if __name__ == '__main__':
    main()
