#!/usr/bin/env python3
"""Concurrent runs. Twenty runs start together on one registry, with the
masks 8, 32 and 1 in turn (the product folders TOLVARToF, HALDEVMR and
HALDEToF). Afterwards every run has succeeded, the registry is well-formed
and holds the framework's and the other vendors' modules in their order,
followed by one entry of each of the three folders and no stale entry;
the backup holds the registry as it was, and nothing else is left in the
folder. Natively and, with --wine, for modreg.exe under Wine.

One log for many runs: twenty listings (--list, which takes no lock) of a
registry of 300 modules start together, each appending its 303 lines to
one log (--log). The log must hold every line of every run, whole.

--unlocked (modreg_faults) and --wine-faults (modreg_faults.exe) name
test builds; run with MODREG_FAULT=skip@lock they skip the folder lock,
and with hold-rename they wait before replacing the registry, so that
every run reads it before any writes, however slowly Wine starts them.
As many rounds of each must then every one find lost or broken
registrations, which shows that the rounds see what the lock prevents.

The lock's bound: with the test builds (--unlocked, and --wine-faults for
Windows), a run holds the lock (MODREG_FAULT=hold-lock:S) while another
waits for it at most MODREG_LOCK_WAIT_MS: past that it gives up with
status 6, leaving the registry's bytes unchanged; a lock released in time,
or by a killed holder, is taken, and the waiting run's entries follow the
holder's. The lock is the folder's, however it is spelled: a holder of
C:\\Program Files\\OpenNI makes a run given --openni c:/PROGRAM FILES/./openni
wait too (natively C:/Program Files/./OpenNI: the native build maps names
as they are spelled). Under Wine, a run of modreg.exe given that spelling, under a
tracing wineserver, shows the lock file made with no sharing, for this
user, SYSTEM and Administrators only, and marked for deletion; and the
mutex older runs of the tool take, which a run takes too: its name (the
folder's own path, in upper case), the rights a run asks for and the
descriptor it is made with.

That mutex, held by another program (hold_open.exe, beside this script):
made as an older run makes it, it holds a run up (--wine-faults: status 6
after a bound of 2 s); made by another user, who could so stop every
run, it does not, and the lock file alone makes a run wait for one that
holds the lock.

A stalled machine can delay a run past a bound of these checks: a lock
case that fails, a control round that goes right and a round in which a
run gave up waiting for the lock are run once more, which the output
says; only a failure that repeats counts. A check of that, natively: the
waiting run of a lock case stopped (SIGSTOP) until the holder is done,
as a stalled machine would, must cost a second run when it happens once,
and fail the case when it happens every time."""
import argparse
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

import common

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                '..', 'e2e'))
from wine import WinePrefix  # noqa: E402

MASKS = (8, 32, 1)
LOG = 'C:\\concurrent.log'
# The control's runs skip the lock and wait this long before the replace.
UNLOCKED = 'skip@lock,hold-rename:2'
FOLDERS = ('HALDEToF', 'TOLVARToF', 'HALDEVMR')


def expected_new():
    return sorted('C:\\Program Files\\%s\\%s' % entry
                  for mask in MASKS for entry in common.ADDED[mask])


def survivors(registry):
    """The paths of |registry| a run of any product leaves in place."""
    root = ElementTree.fromstring(registry)
    return [m.get('path') for m in root
            if not any(f in (m.get('path') or '') for f in FOLDERS)]


def fresh_registry(prefix, registry):
    """Empties the registry folder of |prefix| but for |registry|; returns
    the folder."""
    folder = common.data_dir(prefix)
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    with open(os.path.join(folder, common.REGISTRY), 'wb') as f:
        f.write(registry)
    return folder


def one_round(command, prefix, registry, runs, env):
    folder = fresh_registry(prefix, registry)
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
    # Runs without the lock may remove each other's copies: no backup at
    # all is one more way to go wrong, not a reason to stop.
    backup = os.path.join(folder, common.BACKUP)
    if not os.path.exists(backup):
        problems.append('no backup was made')
    else:
        with open(backup, 'rb') as f:
            if f.read() != registry:
                problems.append('the backup is not the original registry')
    left = common.leftovers(folder, windows=command[0] == 'wine')
    if left:
        problems.append('left behind: %s' % left)
    return problems


def log_round(results, label, command, prefix, env, runs):
    registry = common.registry_text(stale_per_folder=0, filler=297)
    listed = len(ElementTree.fromstring(registry))
    fresh_registry(prefix, registry)
    log = os.path.join(prefix, 'drive_c', LOG[3:])
    if os.path.exists(log):
        os.unlink(log)
    full_env = dict(os.environ, **env)
    full_env['WINEPREFIX'] = prefix
    procs = [subprocess.Popen(command + ['--log', LOG, '--list', 'x64'],
                              env=full_env,
                              stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL) for _ in range(runs)]
    statuses = [proc.wait(timeout=300) for proc in procs]
    with open(log, 'rb') as f:
        lines = f.read().decode('latin-1').splitlines()
    # Each line by its kind; a torn line is of none.
    kinds = collections.Counter(
        'header' if re.match(r'\d{4}-\d\d-\d\dT\S+Z modreg \S+: \S+ --log '
                             r'C:\\concurrent\.log --list x64$', line) else
        'registry' if re.match(r'registry: C:\\Program Files\\OpenNI\\Data\\'
                               r'modules\.xml(?: \(.*/modules\.xml\))?$', line)
        else 'listed' if re.match(r'missing: C:\\Program Files\\[\w\\]+\.dll'
                                  r'(?: configDir: C:\\Program Files\\'
                                  r'[\w\\]+)?$', line)
        else 'folder' if line == 'framework folder: the default'
        else 'status' if line == 'status: 0' else 'torn' for line in lines)
    want = {'header': runs, 'registry': runs, 'folder': runs,
            'listed': runs * listed, 'status': runs, 'torn': 0}
    results.check('%s: %d listings logging at once' % (label, runs),
                  ['statuses %s' % statuses] * any(statuses) +
                  ['%d %s lines, expected %d' % (kinds[k], k, n)
                   for k, n in want.items() if kinds[k] != n])


def gave_up(problems):
    """True when a run gave up waiting for the lock, the one failure of a
    round a stalled machine can cause."""
    return any(p.startswith('a run gave status 6 ') for p in problems)


def rounds(results, label, command, prefix, registry, count, runs, env):
    start = time.monotonic()
    for n in range(count):
        case = '%s: round %d, %d runs' % (label, n + 1, runs)
        results.check(case, common.confirmed(
            case, lambda: one_round(command, prefix, registry, runs, env),
            gave_up))
    print('     %s: %d rounds of %d runs in %.1f s' % (
        label, count, runs, time.monotonic() - start), flush=True)
    return count * runs


def unlocked_rounds(results, label, command, prefix, registry, count, runs,
                    env):
    """The control: without the lock every round must leave a registry
    that lost or broke registrations (failed runs alone do not count: a
    test build that refused its setting would fail every run)."""
    def went_right():
        problems = one_round(command, prefix, registry, runs, env)
        if any(not p.startswith('a run gave status') for p in problems):
            return []
        return ['nothing lost']

    caught = 0
    for n in range(count):
        if not common.confirmed('%s without the lock, round %d' % (
                label, n + 1), went_right):
            caught += 1
    results.check('%s without the lock: lost registrations in %d of %d '
                  'rounds' % (label, caught, count),
                  [] if caught == count else
                  ['%d rounds went right' % (count - caught)])
    return '%s %d of %d' % (label, caught, count)


class LockCase:
    def __init__(self, name, hold, wait_ms, status, kill=False,
                 respelled=False):
        self.name = name
        self.hold = hold          # seconds the first run holds the lock
        self.wait_ms = wait_ms    # the second run's bound
        self.status = status      # the second run's status
        self.kill = kill          # the first run is killed holding it
        # The second run names the framework folder otherwise (--openni
        # RESPELLED); the first takes the default, C:\Program Files\OpenNI.
        self.respelled = respelled


# C:\Program Files\OpenNI, spelled otherwise: under Wine, as on Windows,
# in other case too; the native build maps names to host files as they
# are spelled.
RESPELLED = 'c:/PROGRAM FILES/./openni'
RESPELLED_NATIVE = 'C:/Program Files/./OpenNI'

LOCK_CASES = [
    LockCase('a lock held past the wait: status 6', hold=8, wait_ms=2000,
             status=6),
    LockCase('a lock released within the wait is taken', hold=1,
             wait_ms=30000, status=0),
    LockCase('the lock of a killed run is taken', hold=60, wait_ms=30000,
             status=0, kill=True),
    LockCase('one folder spelled otherwise: the same lock', hold=3,
             wait_ms=30000, status=0, respelled=True),
]
HOLDER_MASK, WAITER_MASK = 8, 32
GAVE_UP = ("modreg: cannot lock C:\\Program Files\\OpenNI\\Data%s: another "
           "run holds the registry's lock; gave up after waiting %d s")


def has_entries(registry, mask):
    return all(('C:\\Program Files\\%s\\%s' % entry).encode() in registry
               for entry in common.ADDED[mask])


def entries_in_turn(registry, first, then):
    """True when the entries of mask |first| come before those of |then|:
    the runs wrote in that order."""
    def at(mask):
        return [registry.find(('C:\\Program Files\\%s\\%s' % e).encode())
                for e in common.ADDED[mask]]
    return max(at(first)) < min(at(then))


def lock_case(case, command, prefix, env, stall=False):
    registry = common.registry_text()
    path = os.path.join(fresh_registry(prefix, registry), common.REGISTRY)
    env = dict(os.environ, **env)
    env['WINEPREFIX'] = prefix
    holder = subprocess.Popen(
        command + ['x64', str(HOLDER_MASK)],
        env=dict(env, MODREG_FAULT='hold-lock:%d' % case.hold),
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
        stderr=subprocess.PIPE)
    problems = []
    waiter = None
    try:
        said = holder.stderr.readline().decode('utf-8', 'replace').strip()
        if said != 'modreg_faults: holding the lock for %d s' % case.hold:
            return ['the first run said %r, not that it holds the lock' % said]
        start = time.monotonic()
        respelled = ['--openni', RESPELLED if command[0] == 'wine' else
                     RESPELLED_NATIVE] if case.respelled else []
        waiter = subprocess.Popen(
            command + respelled + ['x64', str(WAITER_MASK)],
            env=dict(env, MODREG_LOCK_WAIT_MS=str(case.wait_ms)),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE)
        if stall:
            # The waiting run gets no time until the holder is done.
            waiter.send_signal(signal.SIGSTOP)
            holder.wait()
            waiter.send_signal(signal.SIGCONT)
        if case.kill:
            # Killed while the other run waits for it.
            time.sleep(0.5)
            holder.kill()
            holder.wait()
        _, err = waiter.communicate(timeout=120)
        waited = time.monotonic() - start
        with open(path, 'rb') as f:
            now = f.read()
        err = err.decode('utf-8', 'replace').strip()
        if waiter.returncode != case.status:
            problems.append('status %d %r, expected %d' % (
                waiter.returncode, err, case.status))
        if case.status == 6:
            if holder.poll() is not None:
                problems.append('the first run ended before the second')
            # The native build also names the folder's host path.
            host = ('' if command[0] == 'wine' else
                    ' (%s)' % os.path.join(prefix, common.DATA))
            if err != GAVE_UP % (host, case.wait_ms // 1000):
                problems.append('stderr %r' % err)
            if waited < case.wait_ms / 1000:
                problems.append('gave up after %.2f s' % waited)
            if now != registry:
                problems.append('the registry changed')
        elif err or not has_entries(now, WAITER_MASK):
            problems.append('the second run did not register: %r' % err)
        if not case.kill:
            _, err = holder.communicate(timeout=120)
            if holder.returncode != 0 or err:
                problems.append('the first run gave status %d %r' % (
                    holder.returncode, err))
            with open(path, 'rb') as f:
                now = f.read()
            if not has_entries(now, HOLDER_MASK):
                problems.append('the first run\'s entries are missing')
            elif case.status == 0 and has_entries(now, WAITER_MASK) and \
                    not entries_in_turn(now, HOLDER_MASK, WAITER_MASK):
                problems.append('the second run wrote while the first '
                                'held the lock')
    finally:
        for proc in (holder, waiter):
            if proc and proc.poll() is None:
                proc.kill()
                proc.wait()
    return problems


def unwarned(err):
    """|err| without the warning root's run gives of a folder another user
    owns: for root, nobody's folder is one that others may change."""
    return b''.join(line for line in err.splitlines(keepends=True)
                    if not (line.startswith(b'modreg: warning: ') and
                            b'can be changed by users who are not '
                            b'administrators' in line))


def owner_and_root(results, faults, work):
    """Natively, as root: the registry's folder belongs to user nobody.
    nobody's run holding the lock (hold-lock) keeps root's waiting, and
    root's then registers after it; and the other way round."""
    import pwd
    try:
        entry = pwd.getpwnam('nobody')
    except KeyError:
        entry = None
    name = 'native: runs of root and of the folder\'s owner take turns'
    if os.geteuid() != 0 or not entry:
        results.skip(name, 'needs root and user nobody')
        return
    owner = {'user': entry.pw_uid, 'group': entry.pw_gid, 'extra_groups': []}
    prefix = os.path.join(work, 'owned')
    shutil.rmtree(prefix, ignore_errors=True)
    folder = common.make_prefix(prefix)
    for path in (work, faults):  # nobody reaches both
        os.chmod(path, os.stat(path).st_mode | 0o011)

    def one_way(first, then):
        registry = common.registry_text()
        fresh_registry(prefix, registry)
        for root, dirs, files in os.walk(prefix):
            for n in [root] + [os.path.join(root, f) for f in files]:
                os.chown(n, entry.pw_uid, entry.pw_gid)
        env = dict(os.environ, WINEPREFIX=prefix)
        holder = subprocess.Popen(
            [faults, 'x64', str(HOLDER_MASK)],
            env=dict(env, MODREG_FAULT='hold-lock:3'),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, **first)
        problems = []
        try:
            said = holder.stderr.readline().decode().strip()
            if said != 'modreg_faults: holding the lock for 3 s':
                return ['the holder said %r' % said]
            waiter = subprocess.run(
                [faults, 'x64', str(WAITER_MASK)],
                env=dict(env, MODREG_LOCK_WAIT_MS='30000'),
                stdin=subprocess.DEVNULL, capture_output=True, timeout=120,
                **then)
            _, err = holder.communicate(timeout=120)
            err, waiter_err = unwarned(err), unwarned(waiter.stderr)
            if holder.returncode != 0 or err:
                problems.append('the holder: status %d %r' % (
                    holder.returncode, err))
            if waiter.returncode != 0 or waiter_err:
                problems.append('the waiter: status %d %r' % (
                    waiter.returncode, waiter_err))
            with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
                now = f.read()
            if not (has_entries(now, HOLDER_MASK) and
                    has_entries(now, WAITER_MASK)):
                problems.append('a run\'s entries are missing')
            elif not entries_in_turn(now, HOLDER_MASK, WAITER_MASK):
                problems.append('the waiter wrote while the holder held '
                                'the lock')
        finally:
            if holder.poll() is None:
                holder.kill()
                holder.wait()
        return problems

    for label, first, then in (('the owner holds, root waits', owner, {}),
                               ('root holds, the owner waits', {}, owner)):
        case = '%s: %s' % (name, label)
        results.check(case, common.confirmed(
            case, lambda: one_way(first, then)))


def lock_cases(results, label, command, prefix, env):
    for case in LOCK_CASES:
        name = '%s: %s' % (label, case.name)
        results.check(name, common.confirmed(
            name, lambda: lock_case(case, command, prefix, env)))


def stalled_lock_case(results, command, prefix):
    """The second run, checked: the waiting run of a short lock case that
    gives up is stalled once, then every time."""
    case = LockCase('stalled waiter', hold=2, wait_ms=1000, status=6)
    problems = []
    for stalls, fails in ((1, False), (2, True)):
        runs = []

        def attempt():
            runs.append(len(runs) < stalls)
            return lock_case(case, command, prefix, {}, stall=runs[-1])
        found = common.confirmed('a lock case stalled %d of 2 times' % stalls,
                                 attempt)
        if len(runs) != 2 or bool(found) != fails:
            problems.append('stalled %d times: %d runs, %s' % (
                stalls, len(runs), found or 'passed'))
    results.check('native: a lock case stalled once passes on its second '
                  'run, stalled every time it fails', problems)


# The wineserver's trace of a request for the older runs' mutex: the
# request, the rights asked for (to wait for it, release it and read its
# owner), the DACL of a new one, its name.
MUTEX_REQUEST = re.compile(
    r': (open|create)_mutex\( access=([0-9a-f]+),.*?'
    r'(?:dacl=\{(.*)\}\},)?name=L"([^"]*modreg[^"]*)"')
ACE = '{type=ACCESS_ALLOWED,flags=0,mask=120001,sid=%s}'
# SYSTEM, Administrators, the user who made it.
LOCK_DACL = re.compile(','.join(re.escape(ACE % sid) for sid in (
    'S-1-5-18', 'S-1-5-32-544', 'USER')).replace('USER', 'S-1-5-21-[0-9-]+'))
# The lock of C:\Program Files\OpenNI\Data, however spelled.
LOCK_NAME = 'Global\\\\modreg:C:/PROGRAM FILES/OPENNI/DATA'


# The trace of the lock file's creation, its handle, its byte-range lock
# and any marking for deletion.
LOCK_FILE_MADE = re.compile(
    r'^(\w+): create_file\( access=\w+, sharing=(\w+), create=2, .*?'
    r'dacl=\{(.*)\}\},name=L"[^"]*\\\\modules\.xml\.lock"')
# A run that is elevated or holds Administrators (as every run under Wine
# does) makes it for SYSTEM and Administrators only: no user's entry.
OWNER_ONLY = re.compile(','.join(re.escape(
    '{type=ACCESS_ALLOWED,flags=0,mask=1f019f,sid=%s}' % sid) for sid in (
        'S-1-5-18', 'S-1-5-32-544')))


def lock_file_requests(trace):
    """What is wrong with the lock file's requests in |trace|: it must be
    made sharing reading only, locked exclusively through its handle, and
    never marked for deletion (it lasts)."""
    made = None
    for n, line in enumerate(trace):
        found = LOCK_FILE_MADE.search(line)
        if found:
            made = n, found.groups()
            break
    if not made:
        return ['the lock file was not made']
    n, (thread, sharing, dacl) = made
    problems = []
    if sharing != '00000001':
        problems.append('the lock file is made sharing %s' % sharing)
    if not OWNER_ONLY.fullmatch(dacl):
        problems.append('the lock file is made with the DACL %r' % dacl)
    handle = None
    locked = False
    for line in trace[n + 1:]:
        if handle is None:
            found = re.match(r'%s: create_file\(\) = 0 \{ handle=(\w+) \}'
                             % thread, line)
            if found:
                handle = found.group(1)
        elif line.startswith('%s: lock_file( handle=%s,' % (thread, handle)):
            locked = locked or 'shared=0' in line
        elif line.startswith('%s: set_fd_disp_info( handle=%s, unlink=1 )' %
                             (thread, handle)):
            problems.append('the lock file was marked for deletion')
        elif line.startswith('%s: close_handle( handle=%s )' % (thread,
                                                                handle)):
            break
    return problems + ([] if locked else ['the lock file was not locked'])


def traced_lock(wine, exe, work):
    """Runs modreg.exe once under a wineserver that traces its requests;
    returns what is wrong with its requests for the lock."""
    folder = common.data_dir(wine.prefix)
    with open(os.path.join(folder, common.REGISTRY), 'wb') as f:
        f.write(common.registry_text())
    # The lock file lasts from run to run: an earlier run's goes, so that
    # this one makes it.
    lock_file = os.path.join(folder, 'modules.xml.lock')
    if os.path.lexists(lock_file):
        os.unlink(lock_file)
    p, trace = common.traced_wine_run(
        wine, [exe, '--openni', RESPELLED, 'x64', '1'],
        os.path.join(work, 'wineserver-trace.txt'))
    problems = [] if p.returncode == 0 else ['status %d' % p.returncode]
    requests = []
    for line in trace:
        found = MUTEX_REQUEST.search(line)
        if found:
            requests.append(found.groups())
    if not requests:
        problems.append('no request for the lock in the wineserver\'s trace')
    for name in sorted(set(name for _, _, _, name in requests)):
        if name != LOCK_NAME:
            problems.append('the mutex is named %r' % name)
    for kind, access, dacl, name in requests:
        if kind == 'open' and access != '00120001':
            problems.append('opened asking for rights %s' % access)
        if kind == 'create' and not LOCK_DACL.fullmatch(dacl or ''):
            problems.append('made with the DACL %r' % dacl)
    kinds = [kind for kind, _, _, _ in requests]
    if kinds != ['open', 'create']:
        problems.append('requests %s, expected an open, then a create' %
                        kinds)
    return problems + lock_file_requests(trace)


class HeldMutex:
    """The mutex |name| made and owned by hold_open.exe, as |way| says
    (mutex, foreign-mutex), until the block ends."""

    def __init__(self, wine, helper, name, way):
        self.command = ['wine', helper, name, way]
        self.env = wine.env
        self.proc = None

    def __enter__(self):
        self.proc = subprocess.Popen(self.command, env=self.env,
                                     stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        said = self.proc.stdout.readline().strip()
        if said != b'held':
            raise RuntimeError('hold_open said %r %r' % (
                said, self.proc.stderr.read()))
        return self

    def __exit__(self, *exc):
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def run_with_mutex_held(wine, helper, way, faults_exe, wait_ms):
    """A run of |faults_exe| waiting at most |wait_ms| for the lock while
    the older runs' mutex is held as |way| says: (status, stderr,
    registry before, registry after)."""
    registry = common.registry_text()
    path = os.path.join(fresh_registry(wine.prefix, registry),
                        common.REGISTRY)
    with HeldMutex(wine, helper, OLDER_LOCK, way):
        p = subprocess.run(['wine', faults_exe, 'x64', str(WAITER_MASK)],
                           env=dict(wine.env, MODREG_LOCK_WAIT_MS=str(wait_ms)),
                           stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=120)
    with open(path, 'rb') as f:
        return (p.returncode, p.stderr.decode('utf-8', 'replace').strip(),
                registry, f.read())


# The mutex older runs take for C:\Program Files\OpenNI\Data.
OLDER_LOCK = 'Global\\modreg:C:/PROGRAM FILES/OPENNI/DATA'


# The lock file of C:\Program Files\OpenNI\Data, as a Windows program names
# it.
LOCK_PATH = 'C:\\Program Files\\OpenNI\\Data\\modules.xml.lock'


def attributes_reader(results, wine, helper, faults_exe):
    """Another user's handle that reads only the lock file's attributes,
    taken as soon as the file appears (during a run that holds the lock)
    and kept after it: the next run takes the lock and registers, and the
    file is still there."""
    name = ('wine: a handle on the lock file\'s attributes, during a run '
            'and after it, holds no run up')

    def reader_case():
        registry = common.registry_text()
        folder = fresh_registry(wine.prefix, registry)
        lock = os.path.join(folder, common.LOCK)
        if os.path.lexists(lock):
            os.remove(lock)
        reader = subprocess.Popen(['wine', helper, LOCK_PATH, 'attributes'],
                                  env=wine.env, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE)
        problems = []
        try:
            for mask, fault in ((HOLDER_MASK, 'hold-lock:2'),
                                (WAITER_MASK, None)):
                env = dict(wine.env, MODREG_LOCK_WAIT_MS='10000')
                if fault:
                    env['MODREG_FAULT'] = fault
                p = subprocess.run(['wine', faults_exe, 'x64', str(mask)],
                                   env=env, stdin=subprocess.DEVNULL,
                                   capture_output=True, timeout=120)
                err = p.stderr.decode('utf-8', 'replace').strip()
                if fault:
                    err = err.replace('modreg_faults: holding the lock for '
                                      '2 s', '').strip()
                    said = reader.stdout.readline().strip()
                    if said != b'held':
                        problems.append('the reader said %r' % said)
                if p.returncode != 0 or err:
                    problems.append('run of mask %d: status %d %r' % (
                        mask, p.returncode, err))
            with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
                now = f.read()
            if not (has_entries(now, HOLDER_MASK) and
                    has_entries(now, WAITER_MASK)):
                problems.append('the registry lacks a run\'s entries')
            if not os.path.exists(lock):
                problems.append('the lock file is gone')
            if reader.poll() is not None:
                problems.append('the reader let go early')
        finally:
            reader.stdin.close()
            try:
                reader.wait(timeout=60)
            except subprocess.TimeoutExpired:
                reader.kill()
                reader.wait()
        return problems
    results.check(name, common.confirmed(name, reader_case))


def older_runs_lock(results, wine, helper, faults_exe):
    name = 'wine: the older runs\' mutex held: a run waits for it'
    def older():
        status, err, before, after = run_with_mutex_held(
            wine, helper, 'mutex', faults_exe, 2000)
        problems = [] if status == 6 else ['status %d %r' % (status, err)]
        if err != GAVE_UP % ('', 2):
            problems.append('stderr %r' % err)
        if after != before:
            problems.append('the registry changed')
        return problems
    results.check(name, common.confirmed(name, older))

    name = ('wine: a mutex of that name another user made and holds: no '
            'wait')
    def foreign():
        status, err, _, after = run_with_mutex_held(
            wine, helper, 'foreign-mutex', faults_exe, 2000)
        if status != 0 or err or not has_entries(after, WAITER_MASK):
            return ['status %d %r' % (status, err)]
        return []
    results.check(name, common.confirmed(name, foreign))

    # The lock file alone: the other user's mutex is left alone.
    case = LockCase('a lock held past the wait: status 6', hold=8,
                    wait_ms=2000, status=6)
    name = ('wine: that mutex held, a run holding the lock past the wait: '
            'status 6')
    def file_alone():
        with HeldMutex(wine, helper, OLDER_LOCK, 'foreign-mutex'):
            return lock_case(case, ['wine', faults_exe], wine.prefix,
                             wine.env)
    results.check(name, common.confirmed(name, file_alone))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--tool', required=True, help='the native modreg')
    parser.add_argument('--wine', help='modreg.exe, run under Wine')
    parser.add_argument('--unlocked', help='modreg_faults, run without lock')
    parser.add_argument('--wine-faults', help='modreg_faults.exe')
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
    log_round(results, 'native', [os.path.abspath(args.tool)], prefix, {},
              args.runs)

    if args.unlocked:
        controls.append(unlocked_rounds(
                        results, 'native', [os.path.abspath(args.unlocked)],
                        prefix, registry, args.rounds, args.runs,
                        {'MODREG_FAULT': UNLOCKED}))
        lock_cases(results, 'native', [os.path.abspath(args.unlocked)],
                   prefix, {})
        stalled_lock_case(results, [os.path.abspath(args.unlocked)], prefix)
        owner_and_root(results, os.path.abspath(args.unlocked),
                       os.path.abspath(args.work))

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
            log_round(results, 'wine', ['wine', os.path.abspath(args.wine)],
                      wine.prefix, wine.env, args.runs)
            if args.wine_faults:
                faults_exe = ['wine', os.path.abspath(args.wine_faults)]
                controls.append(unlocked_rounds(
                    results, 'wine', faults_exe, wine.prefix, registry,
                    args.wine_rounds, args.runs,
                    dict(wine.env, MODREG_FAULT=UNLOCKED)))
                lock_cases(results, 'wine', faults_exe, wine.prefix, wine.env)
                helper, complaint = common.build_hold_open(args.work)
                if helper:
                    older_runs_lock(results, wine, helper, faults_exe[1])
                    attributes_reader(results, wine, helper, faults_exe[1])
                else:
                    results.check('wine: the older runs\' mutex',
                                  ['cannot build hold_open.exe: %r' %
                                   complaint])
            results.check('wine: the lock file and the older runs\' mutex: '
                          'name, rights and descriptor',
                          traced_lock(wine, os.path.abspath(args.wine),
                                      args.work))
        finally:
            wine.stop()
            shutil.rmtree(common.data_dir(wine.prefix), ignore_errors=True)

    results.figure('concurrent runs', '%d, in rounds of %d%s' % (
        total, args.runs, '; rounds that went wrong without the lock: ' +
        ', '.join(controls) if controls else ''))
    results.exit()


if __name__ == '__main__':
    main()
